// platform/gdb/gdb_wrappers.h: the throwing wrapper bodies of the interfaces of gdb.h (included by
// gdb.h only). Each calls its raw method and raises _com_error on a failed result.
#pragma once

namespace gdb_detail {
using ::check;  // com_error.h's, for the wrapper bodies below
template <class I>
_com_ptr_t<I> attach(I* raw) {
    _com_ptr_t<I> p;
    p.Attach(raw);
    return p;
}
inline _bstr_t attachBstr(BSTR s) { return _bstr_t(s, false); }
}  // namespace gdb_detail

#define GDB_GET(Iface, Type, Name, Init)            \
    inline Type Iface::Get##Name() {                \
        Type v = Init;                              \
        gdb_detail::check(get_##Name(&v));          \
        return v;                                   \
    }
#define GDB_GET_BSTR(Iface, Name)                   \
    inline _bstr_t Iface::Get##Name() {             \
        BSTR v = nullptr;                           \
        gdb_detail::check(get_##Name(&v));          \
        return gdb_detail::attachBstr(v);           \
    }
#define GDB_GET_PTR(Iface, I, Name)                 \
    inline _com_ptr_t<I> Iface::Get##Name() {       \
        I* v = nullptr;                             \
        gdb_detail::check(get_##Name(&v));          \
        return gdb_detail::attach(v);               \
    }
#define GDB_PUT(Iface, Type, Name) \
    inline void Iface::Put##Name(Type v) { gdb_detail::check(put_##Name(v)); }
#define GDB_PUT_BSTR(Iface, Name) \
    inline void Iface::Put##Name(const _bstr_t& v) { gdb_detail::check(put_##Name(v.GetBSTR())); }
#define GDB_PUTREF(Iface, I, Name) \
    inline void Iface::PutRef##Name(I* v) { gdb_detail::check(putref_##Name(v)); }
#define GDB_CALL0(Iface, Name) \
    inline HRESULT Iface::Name() { return gdb_detail::check(raw_##Name()); }
#define GDB_ROWLIKE(Iface)                                                                   \
    inline _variant_t Iface::GetValue(LONG i) {                                              \
        _variant_t v;                                                                        \
        gdb_detail::check(get_Value(i, &v));                                                 \
        return v;                                                                            \
    }                                                                                        \
    inline void Iface::PutValue(LONG i, const _variant_t& v) { gdb_detail::check(put_Value(i, v)); } \
    GDB_GET_PTR(Iface, IFields, Fields)
#define GDB_CLASSLIKE(Iface)                                                                 \
    inline LONG Iface::FindField(const _bstr_t& name) {                                      \
        LONG i = -1;                                                                         \
        gdb_detail::check(raw_FindField(name.GetBSTR(), &i));                                \
        return i;                                                                            \
    }                                                                                        \
    GDB_GET_PTR(Iface, IFields, Fields)                                                      \
    GDB_GET(Iface, VARIANT_BOOL, HasOID, VARIANT_FALSE)                                      \
    GDB_GET_BSTR(Iface, OIDFieldName)                                                        \
    GDB_GET_BSTR(Iface, AliasName)                                                           \
    inline HRESULT Iface::AddField(IField* f) { return gdb_detail::check(raw_AddField(f)); }

GDB_GET_BSTR(ISpatialReference, Name)
GDB_GET(ISpatialReference, LONG, FactoryCode, 0)
inline HRESULT ISpatialReference::GetZDomain(double* a, double* b) { return gdb_detail::check(raw_GetZDomain(a, b)); }
inline HRESULT ISpatialReference::SetZDomain(double a, double b) { return gdb_detail::check(raw_SetZDomain(a, b)); }

GDB_GET(IPropertySet, LONG, Count, 0)
inline HRESULT IPropertySet::SetProperty(const _bstr_t& n, const _variant_t& v) {
    return gdb_detail::check(raw_SetProperty(n.GetBSTR(), v));
}
inline _variant_t IPropertySet::GetProperty(const _bstr_t& n) {
    _variant_t v;
    gdb_detail::check(raw_GetProperty(n.GetBSTR(), &v));
    return v;
}

inline IWorkspacePtr IWorkspaceFactory::Create(const _bstr_t& dir, const _bstr_t& name, IPropertySet* p, HWND w) {
    IWorkspace* ws = nullptr;
    gdb_detail::check(raw_Create(dir.GetBSTR(), name.GetBSTR(), p, w, &ws));
    return gdb_detail::attach(ws);
}
inline IWorkspacePtr IWorkspaceFactory::Open(IPropertySet* p, HWND w) {
    IWorkspace* ws = nullptr;
    gdb_detail::check(raw_Open(p, w, &ws));
    return gdb_detail::attach(ws);
}
inline IWorkspacePtr IWorkspaceFactory::OpenFromFile(const _bstr_t& path, HWND w) {
    IWorkspace* ws = nullptr;
    gdb_detail::check(raw_OpenFromFile(path.GetBSTR(), w, &ws));
    return gdb_detail::attach(ws);
}
inline IPropertySetPtr IWorkspaceFactory::ReadConnectionPropertiesFromFile(const _bstr_t& path) {
    IPropertySet* p = nullptr;
    gdb_detail::check(raw_ReadConnectionPropertiesFromFile(path.GetBSTR(), &p));
    return gdb_detail::attach(p);
}
inline VARIANT_BOOL IWorkspaceFactory::IsWorkspace(const _bstr_t& path) {
    VARIANT_BOOL b = VARIANT_FALSE;
    gdb_detail::check(raw_IsWorkspace(path.GetBSTR(), &b));
    return b;
}

GDB_GET(IWorkspace, esriWorkspaceType, Type, esriLocalDatabaseWorkspace)
GDB_GET_BSTR(IWorkspace, PathName)

#define GDB_OPEN(Name, I)                                                   \
    inline _com_ptr_t<I> IFeatureWorkspace::Open##Name(const _bstr_t& n) {  \
        I* p = nullptr;                                                     \
        gdb_detail::check(raw_Open##Name(n.GetBSTR(), &p));                 \
        return gdb_detail::attach(p);                                       \
    }
GDB_OPEN(Table, ITable)
GDB_OPEN(FeatureClass, IFeatureClass)
GDB_OPEN(FeatureDataset, IFeatureDataset)
#undef GDB_OPEN
inline ITablePtr IFeatureWorkspace::CreateTable(const _bstr_t& n, IFields* f, const GUID* c, const GUID* e,
                                                const _bstr_t& k) {
    ITable* p = nullptr;
    gdb_detail::check(raw_CreateTable(n.GetBSTR(), f, c, e, k.GetBSTR(), &p));
    return gdb_detail::attach(p);
}
inline IFeatureClassPtr IFeatureWorkspace::CreateFeatureClass(const _bstr_t& n, IFields* f, const GUID* c,
                                                              const GUID* e, esriFeatureType t,
                                                              const _bstr_t& s, const _bstr_t& k) {
    IFeatureClass* p = nullptr;
    gdb_detail::check(raw_CreateFeatureClass(n.GetBSTR(), f, c, e, t, s.GetBSTR(), k.GetBSTR(), &p));
    return gdb_detail::attach(p);
}
inline IFeatureDatasetPtr IFeatureWorkspace::CreateFeatureDataset(const _bstr_t& n, ISpatialReference* sr) {
    IFeatureDataset* p = nullptr;
    gdb_detail::check(raw_CreateFeatureDataset(n.GetBSTR(), sr, &p));
    return gdb_detail::attach(p);
}

inline HRESULT IWorkspaceEdit::StartEditing(VARIANT_BOOL u) { return gdb_detail::check(raw_StartEditing(u)); }
inline HRESULT IWorkspaceEdit::StopEditing(VARIANT_BOOL s) { return gdb_detail::check(raw_StopEditing(s)); }
inline VARIANT_BOOL IWorkspaceEdit::IsBeingEdited() {
    VARIANT_BOOL b = VARIANT_FALSE;
    gdb_detail::check(raw_IsBeingEdited(&b));
    return b;
}
GDB_CALL0(IWorkspaceEdit, StartEditOperation)
GDB_CALL0(IWorkspaceEdit, StopEditOperation)
GDB_CALL0(IWorkspaceEdit, AbortEditOperation)

GDB_GET_BSTR(IDataset, Name)
GDB_GET(IDataset, esriDatasetType, Type, esriDTAny)
GDB_GET_PTR(IDataset, IWorkspace, Workspace)
GDB_GET_PTR(IGeoDataset, ISpatialReference, SpatialReference)
GDB_GET(IVersionedObject, VARIANT_BOOL, IsRegisteredAsVersioned, VARIANT_FALSE)
inline HRESULT IVersionedObject::RegisterAsVersioned(VARIANT_BOOL v) {
    return gdb_detail::check(raw_RegisterAsVersioned(v));
}
inline IFeatureClassPtr IFeatureDataset::CreateFeatureClass(const _bstr_t& n, IFields* f, const GUID* c,
                                                            const GUID* e, esriFeatureType t,
                                                            const _bstr_t& s, const _bstr_t& k) {
    IFeatureClass* p = nullptr;
    gdb_detail::check(raw_CreateFeatureClass(n.GetBSTR(), f, c, e, t, s.GetBSTR(), k.GetBSTR(), &p));
    return gdb_detail::attach(p);
}
GDB_GET(IFeatureClassContainer, LONG, ClassCount, 0)
inline IFeatureClassPtr IFeatureClassContainer::GetClass(LONG i) {
    IFeatureClass* p = nullptr;
    gdb_detail::check(get_Class(i, &p));
    return gdb_detail::attach(p);
}
inline IFeatureClassPtr IFeatureClassContainer::GetClassByName(const _bstr_t& n) {
    IFeatureClass* p = nullptr;
    gdb_detail::check(get_ClassByName(n.GetBSTR(), &p));
    return gdb_detail::attach(p);
}
GDB_GET_PTR(IFeatureClassContainer, IEnumFeatureClass, Classes)
inline IFeatureClassPtr IEnumFeatureClass::Next() {
    IFeatureClass* p = nullptr;
    gdb_detail::check(raw_Next(&p));
    return gdb_detail::attach(p);
}
GDB_CALL0(IEnumFeatureClass, Reset)

GDB_GET_BSTR(ITopology, Name)
GDB_GET(ITopology, double, ClusterTolerance, 0)
GDB_GET_PTR(ITopology, IFeatureDataset, FeatureDataset)
inline HRESULT ITopology::AddClass(IFeatureClass* c, double w, LONG xy, LONG z, VARIANT_BOOL e) {
    return gdb_detail::check(raw_AddClass(c, w, xy, z, e));
}
GDB_GET_PTR(ITopology, IEnumFeatureClass, Classes)
GDB_GET(ITopologyContainer, LONG, TopologyCount, 0)
inline ITopologyPtr ITopologyContainer::GetTopology(LONG i) {
    ITopology* p = nullptr;
    gdb_detail::check(get_Topology(i, &p));
    return gdb_detail::attach(p);
}
inline ITopologyPtr ITopologyContainer::GetTopologyByName(const _bstr_t& n) {
    ITopology* p = nullptr;
    gdb_detail::check(get_TopologyByName(n.GetBSTR(), &p));
    return gdb_detail::attach(p);
}
inline ITopologyPtr ITopologyContainer::CreateTopology(const _bstr_t& n, double t, LONG m, const _bstr_t& k) {
    ITopology* p = nullptr;
    gdb_detail::check(raw_CreateTopology(n.GetBSTR(), t, m, k.GetBSTR(), &p));
    return gdb_detail::attach(p);
}
GDB_GET(ITopologyClass, VARIANT_BOOL, IsInTopology, VARIANT_FALSE)
GDB_GET_PTR(ITopologyClass, ITopology, Topology)

GDB_GET(IGeometryDef, esriGeometryType, GeometryType, esriGeometryNull)
GDB_GET(IGeometryDef, VARIANT_BOOL, HasZ, VARIANT_FALSE)
GDB_GET(IGeometryDef, VARIANT_BOOL, HasM, VARIANT_FALSE)
GDB_GET_PTR(IGeometryDef, ISpatialReference, SpatialReference)
GDB_GET(IGeometryDef, LONG, GridCount, 0)
inline double IGeometryDef::GetGridSize(LONG i) {
    double d = 0;
    gdb_detail::check(get_GridSize(i, &d));
    return d;
}
GDB_PUT(IGeometryDefEdit, esriGeometryType, GeometryType)
GDB_PUT(IGeometryDefEdit, VARIANT_BOOL, HasZ)
GDB_PUT(IGeometryDefEdit, VARIANT_BOOL, HasM)
GDB_PUTREF(IGeometryDefEdit, ISpatialReference, SpatialReference)
GDB_PUT(IGeometryDefEdit, LONG, GridCount)
inline void IGeometryDefEdit::PutGridSize(LONG i, double d) { gdb_detail::check(put_GridSize(i, d)); }

GDB_GET_BSTR(IField, Name)
GDB_GET_BSTR(IField, AliasName)
GDB_GET(IField, esriFieldType, Type, esriFieldTypeString)
GDB_GET(IField, LONG, Length, 0)
GDB_GET(IField, VARIANT_BOOL, IsNullable, VARIANT_TRUE)
GDB_GET(IField, VARIANT_BOOL, Editable, VARIANT_TRUE)
GDB_GET_PTR(IField, IGeometryDef, GeometryDef)
GDB_PUT_BSTR(IFieldEdit, Name)
GDB_PUT_BSTR(IFieldEdit, AliasName)
GDB_PUT(IFieldEdit, esriFieldType, Type)
GDB_PUT(IFieldEdit, LONG, Length)
GDB_PUT(IFieldEdit, VARIANT_BOOL, IsNullable)
GDB_PUTREF(IFieldEdit, IGeometryDef, GeometryDef)

GDB_GET(IFields, LONG, FieldCount, 0)
inline IFieldPtr IFields::GetField(LONG i) {
    IField* p = nullptr;
    gdb_detail::check(get_Field(i, &p));
    return gdb_detail::attach(p);
}
inline LONG IFields::FindField(const _bstr_t& n) {
    LONG i = -1;
    gdb_detail::check(raw_FindField(n.GetBSTR(), &i));
    return i;
}
inline HRESULT IFieldsEdit::AddField(IField* f) { return gdb_detail::check(raw_AddField(f)); }
GDB_GET_PTR(IObjectClassDescription, IFields, RequiredFields)
GDB_GET_BSTR(IFeatureClassDescription, ShapeFieldName)

GDB_GET_BSTR(IQueryFilter, WhereClause)
GDB_PUT_BSTR(IQueryFilter, WhereClause)
GDB_GET_BSTR(IQueryFilter, SubFields)
GDB_PUT_BSTR(IQueryFilter, SubFields)
GDB_GET_PTR(ISpatialFilter, IGeometry, Geometry)
GDB_PUTREF(ISpatialFilter, IGeometry, Geometry)
GDB_GET_BSTR(ISpatialFilter, GeometryField)
GDB_PUT_BSTR(ISpatialFilter, GeometryField)
GDB_GET(ISpatialFilter, esriSpatialRelEnum, SpatialRel, esriSpatialRelUndefined)
GDB_PUT(ISpatialFilter, esriSpatialRelEnum, SpatialRel)
GDB_GET_BSTR(ISpatialFilter, SpatialRelDescription)
GDB_PUT_BSTR(ISpatialFilter, SpatialRelDescription)

GDB_ROWLIKE(IRowBuffer)
GDB_ROWLIKE(IRow)
GDB_GET(IRow, VARIANT_BOOL, HasOID, VARIANT_FALSE)
GDB_GET(IRow, LONG, OID, -1)
GDB_GET_PTR(IRow, ITable, Table)
GDB_CALL0(IRow, Store)
GDB_CALL0(IRow, Delete)
GDB_ROWLIKE(IFeatureBuffer)
GDB_GET_PTR(IFeatureBuffer, IGeometry, Shape)
GDB_PUTREF(IFeatureBuffer, IGeometry, Shape)
GDB_ROWLIKE(IFeature)
GDB_GET(IFeature, VARIANT_BOOL, HasOID, VARIANT_FALSE)
GDB_GET(IFeature, LONG, OID, -1)
GDB_GET_PTR(IFeature, ITable, Table)
GDB_CALL0(IFeature, Store)
GDB_CALL0(IFeature, Delete)
GDB_GET_PTR(IFeature, IGeometry, Shape)
GDB_PUTREF(IFeature, IGeometry, Shape)
GDB_GET_PTR(IFeature, IGeometry, ShapeCopy)
GDB_GET_PTR(IFeature, IFeatureClass, Class)

#define GDB_CURSORLIKE(Iface, RowI, Row, BufI)                                          \
    GDB_GET_PTR(Iface, IFields, Fields)                                                 \
    inline LONG Iface::FindField(const _bstr_t& n) {                                    \
        LONG i = -1;                                                                    \
        gdb_detail::check(raw_FindField(n.GetBSTR(), &i));                              \
        return i;                                                                       \
    }                                                                                   \
    inline _com_ptr_t<RowI> Iface::Next##Row() {                                        \
        RowI* p = nullptr;                                                              \
        gdb_detail::check(raw_Next##Row(&p));                                           \
        return gdb_detail::attach(p);                                                   \
    }                                                                                   \
    inline HRESULT Iface::Update##Row(RowI* r) { return gdb_detail::check(raw_Update##Row(r)); } \
    GDB_CALL0(Iface, Delete##Row)                                                       \
    inline _variant_t Iface::Insert##Row(BufI* b) {                                     \
        _variant_t oid;                                                                 \
        gdb_detail::check(raw_Insert##Row(b, &oid));                                    \
        return oid;                                                                     \
    }                                                                                   \
    GDB_CALL0(Iface, Flush)
GDB_CURSORLIKE(ICursor, IRow, Row, IRowBuffer)
GDB_CURSORLIKE(IFeatureCursor, IFeature, Feature, IFeatureBuffer)
#undef GDB_CURSORLIKE

GDB_CLASSLIKE(ITable)
inline IRowPtr ITable::CreateRow() {
    IRow* p = nullptr;
    gdb_detail::check(raw_CreateRow(&p));
    return gdb_detail::attach(p);
}
inline IRowPtr ITable::GetRow(LONG oid) {
    IRow* p = nullptr;
    gdb_detail::check(raw_GetRow(oid, &p));
    return gdb_detail::attach(p);
}
inline IRowBufferPtr ITable::CreateRowBuffer() {
    IRowBuffer* p = nullptr;
    gdb_detail::check(raw_CreateRowBuffer(&p));
    return gdb_detail::attach(p);
}
inline LONG ITable::RowCount(IQueryFilter* f) {
    LONG n = 0;
    gdb_detail::check(raw_RowCount(f, &n));
    return n;
}
inline ICursorPtr ITable::Search(IQueryFilter* f, VARIANT_BOOL r) {
    ICursor* p = nullptr;
    gdb_detail::check(raw_Search(f, r, &p));
    return gdb_detail::attach(p);
}
inline ICursorPtr ITable::Update(IQueryFilter* f, VARIANT_BOOL r) {
    ICursor* p = nullptr;
    gdb_detail::check(raw_Update(f, r, &p));
    return gdb_detail::attach(p);
}
inline ICursorPtr ITable::Insert(VARIANT_BOOL b) {
    ICursor* p = nullptr;
    gdb_detail::check(raw_Insert(b, &p));
    return gdb_detail::attach(p);
}
inline HRESULT ITable::DeleteSearchedRows(IQueryFilter* f) { return gdb_detail::check(raw_DeleteSearchedRows(f)); }

GDB_CLASSLIKE(IFeatureClass)
GDB_GET(IFeatureClass, esriGeometryType, ShapeType, esriGeometryNull)
GDB_GET_BSTR(IFeatureClass, ShapeFieldName)
GDB_GET(IFeatureClass, esriFeatureType, FeatureType, esriFTSimple)
GDB_GET_PTR(IFeatureClass, IFeatureDataset, FeatureDataset)
inline IFeaturePtr IFeatureClass::CreateFeature() {
    IFeature* p = nullptr;
    gdb_detail::check(raw_CreateFeature(&p));
    return gdb_detail::attach(p);
}
inline IFeaturePtr IFeatureClass::GetFeature(LONG oid) {
    IFeature* p = nullptr;
    gdb_detail::check(raw_GetFeature(oid, &p));
    return gdb_detail::attach(p);
}
inline IFeatureBufferPtr IFeatureClass::CreateFeatureBuffer() {
    IFeatureBuffer* p = nullptr;
    gdb_detail::check(raw_CreateFeatureBuffer(&p));
    return gdb_detail::attach(p);
}
inline LONG IFeatureClass::FeatureCount(IQueryFilter* f) {
    LONG n = 0;
    gdb_detail::check(raw_FeatureCount(f, &n));
    return n;
}
inline IFeatureCursorPtr IFeatureClass::Search(IQueryFilter* f, VARIANT_BOOL r) {
    IFeatureCursor* p = nullptr;
    gdb_detail::check(raw_Search(f, r, &p));
    return gdb_detail::attach(p);
}
inline IFeatureCursorPtr IFeatureClass::Update(IQueryFilter* f, VARIANT_BOOL r) {
    IFeatureCursor* p = nullptr;
    gdb_detail::check(raw_Update(f, r, &p));
    return gdb_detail::attach(p);
}
inline IFeatureCursorPtr IFeatureClass::Insert(VARIANT_BOOL b) {
    IFeatureCursor* p = nullptr;
    gdb_detail::check(raw_Insert(b, &p));
    return gdb_detail::attach(p);
}

GDB_GET(ISubtypes, VARIANT_BOOL, HasSubtype, VARIANT_FALSE)
GDB_GET_BSTR(ISubtypes, SubtypeFieldName)
GDB_PUT_BSTR(ISubtypes, SubtypeFieldName)
GDB_GET(ISubtypes, LONG, SubtypeFieldIndex, -1)
GDB_GET(ISubtypes, LONG, DefaultSubtypeCode, 0)
GDB_PUT(ISubtypes, LONG, DefaultSubtypeCode)
inline HRESULT ISubtypes::AddSubtype(LONG c, const _bstr_t& n) { return gdb_detail::check(raw_AddSubtype(c, n.GetBSTR())); }
inline HRESULT ISubtypes::DeleteSubtype(LONG c) { return gdb_detail::check(raw_DeleteSubtype(c)); }
GDB_GET_PTR(ISubtypes, IEnumSubtype, Subtypes)
inline _bstr_t ISubtypes::GetSubtypeName(LONG c) {
    BSTR s = nullptr;
    gdb_detail::check(get_SubtypeName(c, &s));
    return gdb_detail::attachBstr(s);
}
inline _bstr_t IEnumSubtype::Next(LONG* code) {
    BSTR s = nullptr;
    LONG c = 0;
    gdb_detail::check(raw_Next(&c, &s));
    if (code) *code = c;
    return gdb_detail::attachBstr(s);
}
GDB_CALL0(IEnumSubtype, Reset)

GDB_GET_PTR(ITableSort, ITable, Table)
GDB_PUTREF(ITableSort, ITable, Table)
GDB_GET_PTR(ITableSort, IQueryFilter, QueryFilter)
GDB_PUTREF(ITableSort, IQueryFilter, QueryFilter)
GDB_GET_BSTR(ITableSort, Fields)
GDB_PUT_BSTR(ITableSort, Fields)
inline VARIANT_BOOL ITableSort::GetAscending(const _bstr_t& f) {
    VARIANT_BOOL b = VARIANT_TRUE;
    gdb_detail::check(get_Ascending(f.GetBSTR(), &b));
    return b;
}
inline void ITableSort::PutAscending(const _bstr_t& f, VARIANT_BOOL b) { gdb_detail::check(put_Ascending(f.GetBSTR(), b)); }
inline HRESULT ITableSort::Sort(IUnknown* t) { return gdb_detail::check(raw_Sort(t)); }
GDB_GET_PTR(ITableSort, ICursor, Rows)

#undef GDB_GET
#undef GDB_GET_BSTR
#undef GDB_GET_PTR
#undef GDB_PUT
#undef GDB_PUT_BSTR
#undef GDB_PUTREF
#undef GDB_CALL0
#undef GDB_ROWLIKE
#undef GDB_CLASSLIKE
