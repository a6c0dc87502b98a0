// platform/gdb/geodatabase_objects.h: the geodatabase objects, the same whatever stores them: the
// workspace with its edit sessions, tables and feature classes, rows and buffers, feature datasets,
// topologies and their enumerations, over a storage (platform/gdb/gdb_store.h).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/gdb/gdb.h"
#include "platform/gdb/gdb_com_object.h"
#include "platform/gdb/gdb_store.h"
#include "platform/gdb/gdb_value.h"
#include "platform/topology/topology.h"

namespace gdb {

class WorkspaceImpl;
class ClassImpl;
class RowImpl;

// Our rows and classes answer this interface, so that a cursor knows a buffer of its own class.
struct IGdbInternal : IUnknown {
    static constexpr GUID iid = makeGuid("{F2D8CD61-84CF-4060-B476-B3D038859753}");
    using base_interface = IUnknown;
    virtual RowImpl* asRow() = 0;
    virtual ClassImpl* asClass() = 0;
};
_COM_SMARTPTR_TYPEDEF(IGdbInternal, __uuidof(IGdbInternal));

// ---------------------------------------------------------------------------------------------
class WorkspaceImpl final : public Object<IWorkspace, IFeatureWorkspace, IWorkspaceEdit, IDataset> {
public:
    WorkspaceImpl(std::string path, std::string key, std::unique_ptr<GdbStore> store)
        : path_(std::move(path)), key_(std::move(key)), db_(std::move(store)) {}
    ~WorkspaceImpl() override;

    static std::string fileName(const std::string& path) {
        std::string p = path;
        std::replace(p.begin(), p.end(), '\\', '/');
        return p;
    }

    GdbStore& db() { return *db_; }
    IFeatureClassPtr featureClass(const std::string& name);
    ITablePtr table(const std::string& name);
    IFeatureDatasetPtr dataset(const std::string& name);
    void forget(ClassImpl* c);
    // Creates a table or feature class from a field list; dataset may be empty.
    IUnknownPtr create(const std::string& name, IFields* fields, bool feature, const std::string& shapeField,
                       const std::string& dataset);
    void checkNewName(const std::string& name);
    // Descriptions outlive their class objects, so that a class opened again is not read again:
    // valid while no rollback and no other connection's schema change came between (our own
    // changes of a class replace its description).
    void remember(const std::shared_ptr<ClassInfo>& info) {
        known_[lower(info->name)] = {info, db_->generation(), db_->foreignSchemaEpoch()};
    }
    std::shared_ptr<ClassInfo> recalled(const std::string& key) {
        auto it = known_.find(key);
        if (it == known_.end()) return nullptr;
        if (it->second.generation == db_->generation() && it->second.schema == db_->foreignSchemaEpoch())
            return it->second.info;
        known_.erase(it);
        return nullptr;
    }

    // IWorkspace
    HRESULT get_Type(esriWorkspaceType* t) override {
        if (!t) return E_POINTER;
        *t = db_->workspaceType();
        return S_OK;
    }
    HRESULT get_PathName(BSTR* p) override { return giveText(path_, p); }
    // IDataset
    HRESULT get_Name(BSTR* n) override {
        return giveText(std::filesystem::path(fileName(path_)).filename().string(), n);
    }
    HRESULT get_Type(esriDatasetType* t) override {
        if (!t) return E_POINTER;
        *t = esriDTAny;
        return S_OK;
    }
    HRESULT get_Workspace(IWorkspace** w) override { return givePtr<IWorkspace>(this, w); }
    // IFeatureWorkspace
    HRESULT raw_OpenTable(BSTR name, ITable** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            *out = table(utf8(name)).Detach();
            return S_OK;
        });
    }
    HRESULT raw_OpenFeatureClass(BSTR name, IFeatureClass** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            *out = featureClass(utf8(name)).Detach();
            return S_OK;
        });
    }
    HRESULT raw_OpenFeatureDataset(BSTR name, IFeatureDataset** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            *out = dataset(utf8(name)).Detach();
            return S_OK;
        });
    }
    HRESULT raw_CreateTable(BSTR name, IFields* fields, const GUID*, const GUID*, BSTR, ITable** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            *out = ITablePtr(create(utf8(name), fields, false, "", "")).Detach();
            return S_OK;
        });
    }
    HRESULT raw_CreateFeatureClass(BSTR name, IFields* fields, const GUID*, const GUID*, esriFeatureType,
                                   BSTR shapeField, BSTR, IFeatureClass** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            *out = IFeatureClassPtr(create(utf8(name), fields, true, utf8(shapeField), "")).Detach();
            return S_OK;
        });
    }
    HRESULT raw_CreateFeatureDataset(BSTR name, ISpatialReference* sr, IFeatureDataset** out) override;
    // IWorkspaceEdit
    HRESULT raw_StartEditing(VARIANT_BOOL) override {
        return gdbGuard([&] {
            db_->startEditing();
            return S_OK;
        });
    }
    HRESULT raw_StopEditing(VARIANT_BOOL save) override {
        return gdbGuard([&] {
            db_->stopEditing(save != VARIANT_FALSE);
            return S_OK;
        });
    }
    HRESULT raw_IsBeingEdited(VARIANT_BOOL* b) override {
        if (!b) return E_POINTER;
        *b = db_->editing() ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT raw_StartEditOperation() override {
        return gdbGuard([&] {
            db_->startOperation();
            return S_OK;
        });
    }
    HRESULT raw_StopEditOperation() override {
        return gdbGuard([&] {
            db_->stopOperation(true);
            return S_OK;
        });
    }
    HRESULT raw_AbortEditOperation() override {
        return gdbGuard([&] {
            db_->stopOperation(false);
            return S_OK;
        });
    }

private:
    std::string path_;
    std::string key_;
    std::unique_ptr<GdbStore> db_;
    std::map<std::string, ClassImpl*> open_;  // lower-cased name: live class objects
    struct Known {
        std::shared_ptr<ClassInfo> info;
        std::uint64_t generation;
        std::uint64_t schema;
    };
    std::map<std::string, Known> known_;  // lower-cased name
};

// ---------------------------------------------------------------------------------------------
class ClassImpl final : public Object<ITable, IFeatureClass, IDataset, IGeoDataset, ISubtypes, ITopologyClass, IGdbInternal> {
public:
    ClassImpl(WorkspaceImpl* ws, std::shared_ptr<ClassInfo> info)
        : ws_(ws), hold_(static_cast<IWorkspace*>(ws)), info_(std::move(info)), generation_(ws->db().generation()) {}
    ~ClassImpl() override { ws_->forget(this); }

    WorkspaceImpl* workspace() { return ws_; }
    GdbStore& db() { return ws_->db(); }
    // The current description; reloaded after a rollback.
    const ClassInfo& info() {
        if (generation_ != db().generation()) reloadOwnInfo();
        return *info_;
    }
    void reloadOwnInfo() {
        auto fresh = db().loadClass(info_->name);
        if (!fresh) raise(GDB_E_NOT_FOUND, "table " + info_->name + " no longer exists");
        setInfo(std::move(fresh));
    }
    // After a change of this class's own description (its subtypes), edited as a reload would
    // find it. Other classes' descriptions do not depend on it.
    template <class Edit>
    void changedOwnInfo(Edit&& edit) {
        if (generation_ != db().generation()) return;  // stale already: the next use reloads it
        auto copy = std::make_shared<ClassInfo>(*info_);
        edit(*copy);
        setInfo(std::move(copy));
    }
    std::shared_ptr<ClassInfo> infoPtr() {
        info();
        return info_;
    }
    IFieldsPtr fields();

    // Storage operations (throw).
    // Each takes the column layout the values were made for (a row made before a schema change
    // keeps its own), so values and columns never disagree.
    std::int64_t insert(const ClassInfo& ci, const std::vector<Val>& vals);
    void update(const ClassInfo& ci, std::int64_t oid, const std::vector<Val>& vals, const std::vector<bool>& dirty);
    void remove(std::int64_t oid);
    bool fetch(const ClassInfo& ci, std::int64_t oid, std::vector<Val>& vals);
    // The shape blob of a geometry put into this class.
    Val shapeValue(IGeometry* g);

    RowImpl* asRow() override { return nullptr; }
    ClassImpl* asClass() override { return this; }

    // ITable / IFeatureClass (shared)
    HRESULT raw_FindField(BSTR name, LONG* index) override {
        return gdbGuard([&] {
            need(index);
            *index = info().find(utf8(name));
            return S_OK;
        });
    }
    HRESULT get_Fields(IFields** out) override {
        return gdbGuard([&] {
            need(out);
            *out = fields().Detach();
            return S_OK;
        });
    }
    HRESULT get_HasOID(VARIANT_BOOL* b) override { return giveValue(VARIANT_TRUE, b); }
    HRESULT get_OIDFieldName(BSTR* n) override {
        return gdbGuard([&] { return giveText(info().fields[std::size_t(info().oid)].name, n); });
    }
    HRESULT get_AliasName(BSTR* n) override {
        return gdbGuard([&] { return giveText(info().alias, n); });
    }
    HRESULT raw_AddField(IField* field) override;
    HRESULT raw_CreateRow(IRow** row) override;
    HRESULT raw_GetRow(LONG oid, IRow** row) override;
    HRESULT raw_CreateRowBuffer(IRowBuffer** buffer) override;
    HRESULT raw_RowCount(IQueryFilter* filter, LONG* count) override;
    HRESULT raw_Search(IQueryFilter* filter, VARIANT_BOOL recycling, ICursor** cursor) override;
    HRESULT raw_Update(IQueryFilter* filter, VARIANT_BOOL recycling, ICursor** cursor) override;
    HRESULT raw_Insert(VARIANT_BOOL buffering, ICursor** cursor) override;
    HRESULT raw_DeleteSearchedRows(IQueryFilter* filter) override;
    // IFeatureClass
    HRESULT get_ShapeType(esriGeometryType* t) override {
        return gdbGuard([&] {
            need(t);
            *t = info().shapeType;
            return S_OK;
        });
    }
    HRESULT get_ShapeFieldName(BSTR* n) override {
        return gdbGuard([&] { return giveText(info().fields[std::size_t(info().shape)].name, n); });
    }
    HRESULT get_FeatureType(esriFeatureType* t) override {
        if (!t) return E_POINTER;
        *t = esriFTSimple;
        return S_OK;
    }
    HRESULT get_FeatureDataset(IFeatureDataset** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            if (!info().dataset.empty()) *out = ws_->dataset(info().dataset).Detach();
            return S_OK;
        });
    }
    HRESULT raw_CreateFeature(IFeature** f) override;
    HRESULT raw_GetFeature(LONG oid, IFeature** f) override;
    HRESULT raw_CreateFeatureBuffer(IFeatureBuffer** b) override;
    HRESULT raw_FeatureCount(IQueryFilter* filter, LONG* count) override { return raw_RowCount(filter, count); }
    HRESULT raw_Search(IQueryFilter* filter, VARIANT_BOOL recycling, IFeatureCursor** cursor) override;
    HRESULT raw_Update(IQueryFilter* filter, VARIANT_BOOL recycling, IFeatureCursor** cursor) override;
    HRESULT raw_Insert(VARIANT_BOOL buffering, IFeatureCursor** cursor) override;
    // IDataset
    HRESULT get_Name(BSTR* n) override {
        return gdbGuard([&] { return giveText(info().name, n); });
    }
    HRESULT get_Type(esriDatasetType* t) override {
        return gdbGuard([&] {
            need(t);
            *t = info().feature ? esriDTFeatureClass : esriDTTable;
            return S_OK;
        });
    }
    HRESULT get_Workspace(IWorkspace** w) override { return givePtr<IWorkspace>(ws_, w); }
    // IGeoDataset
    HRESULT get_SpatialReference(ISpatialReference** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            if (!info().hasSr) return S_OK;
            ISpatialReferencePtr sr(CLSID_SpatialReferenceWGS84);
            sr->SetZDomain(info().zmin, info().zmax);
            *out = sr.Detach();
            return S_OK;
        });
    }
    // ISubtypes
    HRESULT get_HasSubtype(VARIANT_BOOL* b) override {
        return gdbGuard([&] {
            need(b);
            *b = info().subtypeField.empty() ? VARIANT_FALSE : VARIANT_TRUE;
            return S_OK;
        });
    }
    HRESULT get_SubtypeFieldName(BSTR* n) override {
        return gdbGuard([&] { return giveText(info().subtypeField, n); });
    }
    HRESULT put_SubtypeFieldName(BSTR n) override;
    HRESULT get_SubtypeFieldIndex(LONG* i) override {
        return gdbGuard([&] {
            need(i);
            *i = info().subtypeField.empty() ? -1 : info().find(info().subtypeField);
            return S_OK;
        });
    }
    HRESULT get_DefaultSubtypeCode(LONG* c) override {
        return gdbGuard([&] {
            need(c);
            *c = info().defaultSubtype;
            return S_OK;
        });
    }
    HRESULT put_DefaultSubtypeCode(LONG c) override;
    HRESULT raw_AddSubtype(LONG code, BSTR name) override;
    HRESULT raw_DeleteSubtype(LONG code) override;
    HRESULT get_Subtypes(IEnumSubtype** out) override;
    HRESULT get_SubtypeName(LONG code, BSTR* name) override {
        return gdbGuard([&] {
            need(name);
            *name = nullptr;
            const ClassInfo& ci = info();
            if (ci.subtypeField.empty() && code == ci.defaultSubtype) return giveText(ci.alias, name);
            for (auto& [c, n] : ci.subtypes)
                if (c == code) return giveText(n, name);
            raise(GDB_E_NOT_FOUND, "class " + ci.name + " has no subtype " + std::to_string(code));
        });
    }

    // ITopologyClass
    std::string topologyName() { return db().topologyOf(info().name); }
    HRESULT get_IsInTopology(VARIANT_BOOL* b) override {
        return gdbGuard([&] {
            need(b);
            *b = topologyName().empty() ? VARIANT_FALSE : VARIANT_TRUE;
            return S_OK;
        });
    }
    HRESULT get_Topology(ITopology** out) override;

    // A sorted search for the table sort.
    ICursorPtr searchSorted(IQueryFilter* filter, const std::string& orderBy);

protected:
    bool refuse(REFIID riid) override {
        return !info_->feature && (riid == IFeatureClass::iid || riid == IGeoDataset::iid || riid == ITopologyClass::iid);
    }

private:
    void setInfo(std::shared_ptr<ClassInfo> fresh);

    WorkspaceImpl* ws_;
    IWorkspacePtr hold_;
    std::shared_ptr<ClassInfo> info_;
    std::uint64_t generation_;
    IFieldsPtr fields_;
};

// ---------------------------------------------------------------------------------------------
// A row, a feature, a row buffer or a feature buffer of one class.
class RowImpl final : public Object<IRowBuffer, IRow, IFeatureBuffer, IFeature, IGdbInternal> {
public:
    RowImpl(ClassImpl* cls, std::int64_t oid, std::shared_ptr<ClassInfo> info = nullptr)
        : cls_(cls), hold_(static_cast<ITable*>(cls)), info_(info ? std::move(info) : cls->infoPtr()), oid_(oid) {
        vals_.resize(info_->fields.size());
        dirty_.assign(info_->fields.size(), false);
        if (oid_ >= 0) vals_[std::size_t(info_->oid)] = Val{Val::Int, oid_, 0, {}};
    }

    ClassImpl* owner() { return cls_; }
    const ClassInfo& info() const { return *info_; }
    std::vector<Val>& values() { return vals_; }
    std::int64_t oid() const { return oid_; }
    void setStored(std::int64_t oid) {
        oid_ = oid;
        vals_[std::size_t(info_->oid)] = Val{Val::Int, oid, 0, {}};
        std::fill(dirty_.begin(), dirty_.end(), false);
        shapeOut_ = nullptr;
    }
    void refill(std::int64_t oid) { setStored(oid); }
    // The values to write: a shape handed out by get_Shape may have been changed in place.
    void settleShape() {
        if (shapeOut_ && info_->shape >= 0) {
            vals_[std::size_t(info_->shape)] = cls_->shapeValue(shapeOut_);
            dirty_[std::size_t(info_->shape)] = true;
        }
    }
    const std::vector<bool>& dirty() const { return dirty_; }

    RowImpl* asRow() override { return this; }
    ClassImpl* asClass() override { return nullptr; }

    HRESULT get_Value(LONG index, VARIANT* value) override {
        return gdbGuard([&] {
            need(value);
            VariantInit(value);
            const FieldInfo& f = field(index);
            const Val& v = vals_[std::size_t(index)];
            if (v.kind == Val::Null) {
                value->vt = VT_NULL;
                return S_OK;
            }
            if (f.type == esriFieldTypeGeometry) {
                IGeometryPtr g = geometryFromGpkgBlob(v.s.data(), v.s.size());
                value->vt = VT_UNKNOWN;
                value->punkVal = IUnknownPtr(g).Detach();
                return S_OK;
            }
            // The common cases, already of the column's own type, straight into the VARIANT.
            if (v.kind == Val::Text && (f.type == esriFieldTypeString || f.type == esriFieldTypeDate)) {
                value->bstrVal = textBstr(v.s);
                value->vt = VT_BSTR;
                return S_OK;
            }
            if (v.kind == Val::Int && v.i >= INT32_MIN && v.i <= INT32_MAX &&
                (f.type == esriFieldTypeInteger || f.type == esriFieldTypeOID)) {
                value->vt = VT_I4;
                value->lVal = LONG(v.i);
                return S_OK;
            }
            if (v.kind == Val::Real && f.type == esriFieldTypeDouble) {
                value->vt = VT_R8;
                value->dblVal = v.d;
                return S_OK;
            }
            _variant_t out;
            switch (v.kind) {
                case Val::Int:
                    out = v.i >= INT32_MIN && v.i <= INT32_MAX ? _variant_t(long(v.i)) : _variant_t(static_cast<long long>(v.i));
                    break;
                case Val::Real: out = _variant_t(v.d); break;
                case Val::Text: out = _variant_t(fromUtf8(v.s).c_str()); break;
                default: value->vt = VT_NULL; return S_OK;
            }
            // The column's own type; a stored value that does not convert (written by another
            // program) comes back as it is stored.
            VARTYPE want = VT_EMPTY;
            switch (f.type) {
                case esriFieldTypeSmallInteger: want = VT_I2; break;
                case esriFieldTypeInteger:
                case esriFieldTypeOID: want = out.vt == VT_I8 ? VARTYPE(VT_I8) : VARTYPE(VT_I4); break;
                case esriFieldTypeSingle: want = VT_R4; break;
                case esriFieldTypeDouble: want = VT_R8; break;
                case esriFieldTypeString:
                case esriFieldTypeDate: want = VT_BSTR; break;
                default: break;
            }
            if (want != VT_EMPTY && want != out.vt) {
                _variant_t converted;
                if (SUCCEEDED(VariantChangeType(&converted, &out, 0, want))) out = converted;
            }
            *value = out.Detach();
            return S_OK;
        });
    }
    HRESULT put_Value(LONG index, VARIANT value) override {
        return gdbGuard([&] {
            const FieldInfo& f = field(index);
            if (f.type == esriFieldTypeGeometry) {
                if (value.vt == VT_EMPTY || value.vt == VT_NULL) {
                    vals_[std::size_t(index)] = Val{};
                } else if (value.vt == VT_UNKNOWN || value.vt == VT_DISPATCH) {
                    IGeometryPtr g(value.punkVal);
                    if (!g) misfit(DISP_E_TYPEMISMATCH, f, value, "not a geometry");
                    vals_[std::size_t(index)] = cls_->shapeValue(g);
                } else {
                    misfit(DISP_E_TYPEMISMATCH, f, value, "not a geometry");
                }
                shapeOut_ = nullptr;
            } else {
                convertInto(f, value, vals_[std::size_t(index)]);
            }
            dirty_[std::size_t(index)] = true;
            return S_OK;
        });
    }
    HRESULT get_Fields(IFields** out) override { return cls_->get_Fields(out); }
    HRESULT get_HasOID(VARIANT_BOOL* b) override { return giveValue(VARIANT_TRUE, b); }
    HRESULT get_OID(LONG* oid) override { return giveValue(LONG(oid_), oid); }
    HRESULT get_Table(ITable** t) override { return givePtr<ITable>(cls_, t); }
    HRESULT get_Class(IFeatureClass** c) override { return givePtr<IFeatureClass>(cls_, c); }
    HRESULT raw_Store() override {
        return gdbGuard([&] {
            if (oid_ < 0) raise(GDB_E_NO_ROW, "a row buffer is stored through an insert cursor");
            settleShape();
            cls_->update(*info_, oid_, vals_, dirty_);
            std::fill(dirty_.begin(), dirty_.end(), false);
            return S_OK;
        });
    }
    HRESULT raw_Delete() override {
        return gdbGuard([&] {
            if (oid_ < 0) raise(GDB_E_NO_ROW, "a row buffer is not stored");
            cls_->remove(oid_);
            return S_OK;
        });
    }
    HRESULT get_Shape(IGeometry** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            if (info_->shape < 0) raise(E_NOINTERFACE, "a table has no shape");
            if (!shapeOut_) {
                const Val& v = vals_[std::size_t(info_->shape)];
                if (v.kind == Val::Null) return S_OK;
                shapeOut_ = geometryFromGpkgBlob(v.s.data(), v.s.size());
            }
            *out = IGeometryPtr(shapeOut_).Detach();
            return S_OK;
        });
    }
    HRESULT get_ShapeCopy(IGeometry** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            if (info_->shape < 0) raise(E_NOINTERFACE, "a table has no shape");
            settleShape();
            const Val& v = vals_[std::size_t(info_->shape)];
            if (v.kind != Val::Null) *out = geometryFromGpkgBlob(v.s.data(), v.s.size()).Detach();
            return S_OK;
        });
    }
    HRESULT putref_Shape(IGeometry* g) override {
        return gdbGuard([&] {
            if (info_->shape < 0) raise(E_NOINTERFACE, "a table has no shape");
            vals_[std::size_t(info_->shape)] = g ? cls_->shapeValue(g) : Val{};
            dirty_[std::size_t(info_->shape)] = true;
            shapeOut_ = nullptr;
            return S_OK;
        });
    }

protected:
    bool refuse(REFIID riid) override {
        if (!info_->feature && (riid == IFeatureBuffer::iid || riid == IFeature::iid)) return true;
        if (oid_ < 0 && (riid == IRow::iid || riid == IFeature::iid)) return true;
        return false;
    }

private:
    const FieldInfo& field(LONG index) const {
        if (index < 0 || std::size_t(index) >= info_->fields.size())
            raise(E_INVALIDARG, "field index " + std::to_string(index) + " out of range for " + info_->name);
        return info_->fields[std::size_t(index)];
    }

    ClassImpl* cls_;
    ITablePtr hold_;
    std::shared_ptr<ClassInfo> info_;
    std::int64_t oid_;
    std::vector<Val> vals_;
    std::vector<bool> dirty_;
    IGeometryPtr shapeOut_;
};

// ---------------------------------------------------------------------------------------------

// ---------------------------------------------------------------------------------------------
class SubtypeEnum final : public Object<IEnumSubtype> {
public:
    explicit SubtypeEnum(std::vector<std::pair<LONG, std::string>> items) : items_(std::move(items)) {}
    HRESULT raw_Next(LONG* code, BSTR* name) override {
        return gdbGuard([&] {
            need(code);
            need(name);
            *name = nullptr;
            *code = 0;
            if (pos_ >= items_.size()) return S_FALSE;
            *code = items_[pos_].first;
            giveText(items_[pos_].second, name);
            ++pos_;
            return S_OK;
        });
    }
    HRESULT raw_Reset() override {
        pos_ = 0;
        return S_OK;
    }

private:
    std::vector<std::pair<LONG, std::string>> items_;
    std::size_t pos_ = 0;
};

// ---------------------------------------------------------------------------------------------
class DatasetImpl final : public Object<IFeatureDataset, IGeoDataset, IVersionedObject, IFeatureClassContainer, ITopologyContainer> {
public:
    DatasetImpl(WorkspaceImpl* ws, std::string name) : ws_(ws), hold_(static_cast<IWorkspace*>(ws)), name_(std::move(name)) {}

    HRESULT get_Name(BSTR* n) override { return giveText(name_, n); }
    HRESULT get_Type(esriDatasetType* t) override {
        if (!t) return E_POINTER;
        *t = esriDTFeatureDataset;
        return S_OK;
    }
    HRESULT get_Workspace(IWorkspace** w) override { return givePtr<IWorkspace>(ws_, w); }
    HRESULT raw_CreateFeatureClass(BSTR name, IFields* fields, const GUID*, const GUID*, esriFeatureType,
                                   BSTR shapeField, BSTR, IFeatureClass** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            *out = IFeatureClassPtr(ws_->create(utf8(name), fields, true, utf8(shapeField), name_)).Detach();
            return S_OK;
        });
    }
    HRESULT get_SpatialReference(ISpatialReference** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            const auto item = ws_->db().dataset(name_);
            if (!item) raise(GDB_E_NOT_FOUND, "feature dataset " + name_ + " no longer exists");
            bool has = item->srsId == kWgs84;
            double zmin = item->zmin, zmax = item->zmax;
            if (!has) return S_OK;
            ISpatialReferencePtr sr(CLSID_SpatialReferenceWGS84);
            sr->SetZDomain(zmin, zmax);
            *out = sr.Detach();
            return S_OK;
        });
    }
    HRESULT get_IsRegisteredAsVersioned(VARIANT_BOOL* b) override {
        return gdbGuard([&] {
            need(b);
            const auto item = ws_->db().dataset(name_);
            *b = item && item->versioned ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        });
    }
    HRESULT raw_RegisterAsVersioned(VARIANT_BOOL b) override {
        return gdbGuard([&] {
            ws_->db().setVersioned(name_, b != VARIANT_FALSE);
            return S_OK;
        });
    }
    std::vector<std::string> classNames() {
        return ws_->db().datasetClasses(name_);
    }
    HRESULT get_ClassCount(LONG* n) override {
        return gdbGuard([&] {
            need(n);
            *n = LONG(classNames().size());
            return S_OK;
        });
    }
    HRESULT get_Class(LONG i, IFeatureClass** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            auto names = classNames();
            if (i < 0 || std::size_t(i) >= names.size()) raise(E_INVALIDARG, "class index out of range");
            *out = ws_->featureClass(names[std::size_t(i)]).Detach();
            return S_OK;
        });
    }
    HRESULT get_ClassByName(BSTR name, IFeatureClass** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            std::string n = utf8(name);
            for (auto& c : classNames())
                if (sameNoCase(c, n)) {
                    *out = ws_->featureClass(c).Detach();
                    return S_OK;
                }
            raise(GDB_E_NOT_FOUND, "feature dataset " + name_ + " has no class " + n);
        });
    }
    HRESULT get_Classes(IEnumFeatureClass** out) override;
    // ITopologyContainer
    std::vector<std::string> topologyNames() {
        return ws_->db().topologies(name_);
    }
    HRESULT get_TopologyCount(LONG* n) override {
        return gdbGuard([&] {
            need(n);
            *n = LONG(topologyNames().size());
            return S_OK;
        });
    }
    HRESULT get_Topology(LONG i, ITopology** out) override;
    HRESULT get_TopologyByName(BSTR name, ITopology** out) override;
    HRESULT raw_CreateTopology(BSTR name, double tolerance, LONG, BSTR, ITopology** out) override;

private:
    WorkspaceImpl* ws_;
    IWorkspacePtr hold_;
    std::string name_;
};

class TopologyImpl final : public Object<ITopology> {
public:
    TopologyImpl(WorkspaceImpl* ws, std::string name) : ws_(ws), hold_(static_cast<IWorkspace*>(ws)), name_(std::move(name)) {}
    HRESULT get_Name(BSTR* n) override { return giveText(name_, n); }
    HRESULT get_ClusterTolerance(double* t) override {
        return gdbGuard([&] {
            need(t);
            *t = row().tolerance;
            return S_OK;
        });
    }
    HRESULT get_FeatureDataset(IFeatureDataset** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            *out = ws_->dataset(row().dataset).Detach();
            return S_OK;
        });
    }
    HRESULT raw_AddClass(IFeatureClass* fc, double, LONG, LONG, VARIANT_BOOL) override;
    HRESULT get_Classes(IEnumFeatureClass** out) override;
    HRESULT get_Cache(ITopologyGraph** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            if (!cache_) {
                IFeatureDatasetPtr dataset = ws_->dataset(row().dataset);
                const _bstr_t name(fromUtf8(name_).c_str());
                ITopologyGraph* made = nullptr;
                const HRESULT hr = createTopologyGraph(dataset, name.GetBSTR(), &made);
                if (FAILED(hr)) raise(hr, "cannot make the cache of topology " + name_);
                cache_.Attach(made);
            }
            return givePtr(cache_.GetInterfacePtr(), out);
        });
    }

private:
    struct Row {
        std::string dataset;
        double tolerance;
    };
    Row row() {
        const auto item = ws_->db().topology(name_);
        if (!item) raise(GDB_E_NOT_FOUND, "topology " + name_ + " no longer exists");
        return Row{item->dataset, item->tolerance};
    }

    WorkspaceImpl* ws_;
    IWorkspacePtr hold_;
    std::string name_;
    ITopologyGraphPtr cache_;
};
class ClassEnum final : public Object<IEnumFeatureClass> {
public:
    explicit ClassEnum(std::vector<IFeatureClassPtr> items) : items_(std::move(items)) {}
    HRESULT raw_Next(IFeatureClass** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (pos_ >= items_.size()) return S_FALSE;
        return givePtr(items_[pos_++].GetInterfacePtr(), out);
    }
    HRESULT raw_Reset() override {
        pos_ = 0;
        return S_OK;
    }

private:
    std::vector<IFeatureClassPtr> items_;
    std::size_t pos_ = 0;
};


ITopologyPtr topologyObject(WorkspaceImpl* ws, const std::string& name);

enum class CursorKind { Search, Update, Insert };
// A cursor of cls (an insert cursor takes no filter; orderBy: SQL, for the table sort).
HRESULT openCursor(ClassImpl* cls, CursorKind kind, IQueryFilter* filter, VARIANT_BOOL recycling, ICursor** out,
                   const std::string& orderBy = {});
HRESULT openCursor(ClassImpl* cls, CursorKind kind, IQueryFilter* filter, VARIANT_BOOL recycling, IFeatureCursor** out,
                   const std::string& orderBy = {});

// Open workspaces by their key (a file's canonical path), so one geodatabase has one connection
// in the process.
std::mutex& registryMutex();
std::map<std::string, WorkspaceImpl*>& registry();

// The workspace of an enterprise geodatabase's connection file (".sde"): connected, its side tables
// made when missing; one a connection file in the process while its connection lasts.
IWorkspacePtr openSdeWorkspace(const std::string& path);

// Opens (or creates) the workspace of a geodatabase path; the same path opened twice gives the
// same workspace while it lives.
IWorkspacePtr openWorkspace(const std::string& path, bool create);

}  // namespace gdb
