// platform/gdb/table_class.cpp: a table or feature class: its fields, rows, cursors, row counts,
// subtypes and topology membership, over the workspace's storage.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/gdb/geodatabase_objects.h"
#include "platform/geometry/gpkg_blob.h"

namespace gdb {

void ClassImpl::setInfo(std::shared_ptr<ClassInfo> fresh) {
    info_ = std::move(fresh);
    fields_ = nullptr;
    generation_ = db().generation();
    ws_->remember(info_);
}


IFieldsPtr ClassImpl::fields() {
    const ClassInfo& ci = info();
    if (fields_) return fields_;
    IFieldsEditPtr list(CLSID_Fields);
    for (const FieldInfo& f : ci.fields) {
        IFieldEditPtr fe(CLSID_Field);
        fe->PutName(fromUtf8(f.name).c_str());
        fe->PutType(f.type);
        fe->PutLength(f.length);
        fe->PutIsNullable(f.nullable ? VARIANT_TRUE : VARIANT_FALSE);
        if (f.type == esriFieldTypeGeometry) {
            IGeometryDefEditPtr def(CLSID_GeometryDef);
            def->PutGeometryType(ci.shapeType);
            def->PutHasZ(ci.hasZ ? VARIANT_TRUE : VARIANT_FALSE);
            if (ci.hasSr) {
                ISpatialReferencePtr sr(CLSID_SpatialReferenceWGS84);
                sr->SetZDomain(ci.zmin, ci.zmax);
                def->PutRefSpatialReference(sr);
            }
            fe->PutRefGeometryDef(IGeometryDefPtr(def));
        }
        list->AddField(IFieldPtr(fe));
    }
    fields_ = list;
    return fields_;
}

Val ClassImpl::shapeValue(IGeometry* g) {
    const ClassInfo& ci = info();
    if (!g) return Val{};
    esriGeometryType t = esriGeometryNull;
    check(g->get_GeometryType(&t));
    bool fits = t == ci.shapeType;
    if (ci.shapeType == esriGeometryPolyline) fits = fits || t == esriGeometryPath || t == esriGeometryLine;
    if (ci.shapeType == esriGeometryPolygon) fits = fits || t == esriGeometryRing || t == esriGeometryEnvelope;
    if (!fits)
        raise(GDB_E_WRONG_GEOMETRY, "feature class " + ci.name + " holds geometries of type " + std::to_string(ci.shapeType) +
                                        ", not " + std::to_string(t));
    IZAwarePtr za(g);
    VARIANT_BOOL aware = VARIANT_FALSE;
    if (za) check(za->get_ZAware(&aware));
    IGeometryPtr toWrite(g);
    if (ci.hasZ && !aware) raise(GDB_E_WRONG_GEOMETRY, "feature class " + ci.name + " has Z: the geometry must be Z-aware");
    if (!ci.hasZ && aware) {
        // The class stores X and Y only; write a copy without Z.
        IClonePtr c(g);
        if (!c) raise(GDB_E_WRONG_GEOMETRY, "geometry cannot be copied");
        IClonePtr copy;
        check(c->raw_Clone(&copy));
        IZAwarePtr cz(copy);
        check(cz->put_ZAware(VARIANT_FALSE));
        toWrite = copy;
    }
    std::vector<std::uint8_t> blob = geometryToGpkgBlob(toWrite, ci.srsId);
    Val v;
    v.kind = Val::Blob;
    v.s.assign(reinterpret_cast<const char*>(blob.data()), blob.size());
    return v;
}

std::int64_t ClassImpl::insert(const ClassInfo& ci, const std::vector<Val>& vals) { return db().insert(ci, vals); }

void ClassImpl::update(const ClassInfo& ci, std::int64_t oid, const std::vector<Val>& vals, const std::vector<bool>& dirty) {
    db().update(ci, oid, vals, dirty);
}

void ClassImpl::remove(std::int64_t oid) { db().remove(info(), oid); }

bool ClassImpl::fetch(const ClassInfo& ci, std::int64_t oid, std::vector<Val>& vals) { return db().fetch(ci, oid, vals); }

HRESULT ClassImpl::raw_AddField(IField* field) {
    return gdbGuard([&] {
        if (!field) raise(E_POINTER, "no field");
        const ClassInfo& ci = info();
        FieldInfo f;
        BSTR n = nullptr;
        check(field->get_Name(&n));
        f.name = utf8(n);
        SysFreeString(n);
        check(field->get_Type(&f.type));
        check(field->get_Length(&f.length));
        if (f.name.empty()) raise(GDB_E_BAD_SCHEMA, "a field needs a name");
        if (ci.find(f.name) >= 0) raise(GDB_E_NAME_EXISTS, ci.name + " has a field named " + f.name);
        if (f.type == esriFieldTypeOID || f.type == esriFieldTypeGeometry)
            raise(GDB_E_BAD_SCHEMA, "a class has one object id and one shape field");
        db().addField(ci, f);
        reloadOwnInfo();
        return S_OK;
    });
}

HRESULT ClassImpl::raw_CreateRow(IRow** row) {
    return gdbGuard([&] {
        need(row);
        *row = nullptr;
        const ClassInfo& ci = info();
        std::vector<Val> vals(ci.fields.size());
        std::int64_t id = insert(ci, vals);
        auto* r = new RowImpl(this, id, infoPtr());
        *row = IRowPtr(static_cast<IRow*>(r)).Detach();
        return S_OK;
    });
}

HRESULT ClassImpl::raw_GetRow(LONG oid, IRow** row) {
    return gdbGuard([&] {
        need(row);
        *row = nullptr;
        auto* r = new RowImpl(this, oid);
        IRowPtr hold(static_cast<IRow*>(r));
        if (!fetch(r->info(), oid, r->values())) raise(GDB_E_NO_ROW, info().name + " has no row " + std::to_string(oid));
        r->refill(oid);
        *row = hold.Detach();
        return S_OK;
    });
}

HRESULT ClassImpl::raw_CreateFeature(IFeature** f) {
    return gdbGuard([&] {
        need(f);
        *f = nullptr;
        IRowPtr r;
        check(raw_CreateRow(&r));
        *f = IFeaturePtr(r).Detach();
        return S_OK;
    });
}

HRESULT ClassImpl::raw_GetFeature(LONG oid, IFeature** f) {
    return gdbGuard([&] {
        need(f);
        *f = nullptr;
        IRowPtr r;
        check(raw_GetRow(oid, &r));
        *f = IFeaturePtr(r).Detach();
        return S_OK;
    });
}

HRESULT ClassImpl::raw_CreateRowBuffer(IRowBuffer** b) {
    return gdbGuard([&] {
        need(b);
        *b = IRowBufferPtr(static_cast<IRowBuffer*>(new RowImpl(this, -1))).Detach();
        return S_OK;
    });
}

HRESULT ClassImpl::raw_CreateFeatureBuffer(IFeatureBuffer** b) {
    return gdbGuard([&] {
        need(b);
        *b = IFeatureBufferPtr(static_cast<IFeatureBuffer*>(new RowImpl(this, -1))).Detach();
        return S_OK;
    });
}

HRESULT ClassImpl::raw_RowCount(IQueryFilter* filter, LONG* count) {
    return gdbGuard([&] {
        need(count);
        *count = 0;
        const ClassInfo& ci = info();
        const RowFilter sel = readFilter(ci, filter);
        if (sel.none) return S_OK;
        *count = LONG(db().count(ci, sel));
        return S_OK;
    });
}

HRESULT ClassImpl::raw_Search(IQueryFilter* f, VARIANT_BOOL r, ICursor** c) { return openCursor(this, CursorKind::Search, f, r, c); }
HRESULT ClassImpl::raw_Update(IQueryFilter* f, VARIANT_BOOL r, ICursor** c) { return openCursor(this, CursorKind::Update, f, r, c); }
HRESULT ClassImpl::raw_Insert(VARIANT_BOOL, ICursor** c) { return openCursor(this, CursorKind::Insert, nullptr, VARIANT_FALSE, c); }
HRESULT ClassImpl::raw_Search(IQueryFilter* f, VARIANT_BOOL r, IFeatureCursor** c) {
    return openCursor(this, CursorKind::Search, f, r, c);
}
HRESULT ClassImpl::raw_Update(IQueryFilter* f, VARIANT_BOOL r, IFeatureCursor** c) {
    return openCursor(this, CursorKind::Update, f, r, c);
}
HRESULT ClassImpl::raw_Insert(VARIANT_BOOL, IFeatureCursor** c) {
    return openCursor(this, CursorKind::Insert, nullptr, VARIANT_FALSE, c);
}

ICursorPtr ClassImpl::searchSorted(IQueryFilter* filter, const std::string& orderBy) {
    ICursorPtr c;
    check(openCursor(this, CursorKind::Search, filter, VARIANT_FALSE, &c, orderBy));
    return c;
}

HRESULT ClassImpl::raw_DeleteSearchedRows(IQueryFilter* filter) {
    return gdbGuard([&] {
        const ClassInfo& ci = info();
        const RowFilter sel = readFilter(ci, filter);
        if (!sel.none) db().removeSelected(ci, sel);
        return S_OK;
    });
}

HRESULT ClassImpl::put_SubtypeFieldName(BSTR name) {
    return gdbGuard([&] {
        const ClassInfo& ci = info();
        std::string n = utf8(name);
        std::string stored;
        if (!n.empty()) {
            int i = ci.find(n);
            if (i < 0) raise(E_INVALIDARG, ci.name + " has no field " + n);
            esriFieldType t = ci.fields[std::size_t(i)].type;
            if (t != esriFieldTypeSmallInteger && t != esriFieldTypeInteger)
                raise(E_INVALIDARG, "subtype field " + n + " must be an integer field");
            stored = ci.fields[std::size_t(i)].name;
        }
        std::vector<std::pair<LONG, std::string>> subtypes = db().setSubtypeField(ci, stored);
        changedOwnInfo([&](ClassInfo& c) {
            c.subtypeField = stored;
            c.subtypes = std::move(subtypes);
        });
        return S_OK;
    });
}

HRESULT ClassImpl::put_DefaultSubtypeCode(LONG code) {
    return gdbGuard([&] {
        const ClassInfo& ci = info();
        db().setDefaultSubtype(ci, code);
        changedOwnInfo([&](ClassInfo& c) { c.defaultSubtype = code; });
        return S_OK;
    });
}

HRESULT ClassImpl::raw_AddSubtype(LONG code, BSTR name) {
    return gdbGuard([&] {
        const ClassInfo& ci = info();
        if (ci.subtypeField.empty()) raise(E_FAIL, ci.name + " has no subtype field");
        for (auto& [c, n] : ci.subtypes)
            if (c == code) raise(GDB_E_NAME_EXISTS, ci.name + " has a subtype " + std::to_string(code) + " already");
        std::string n = utf8(name);
        if (n.empty()) raise(E_INVALIDARG, "a subtype needs a name");
        db().addSubtype(ci, code, n);
        changedOwnInfo([&](ClassInfo& c) {
            auto at = std::find_if(c.subtypes.begin(), c.subtypes.end(), [&](const auto& e) { return e.first > code; });
            c.subtypes.emplace(at, code, n);
        });
        return S_OK;
    });
}

HRESULT ClassImpl::raw_DeleteSubtype(LONG code) {
    return gdbGuard([&] {
        const ClassInfo& ci = info();
        if (!db().deleteSubtype(ci, code)) raise(GDB_E_NOT_FOUND, ci.name + " has no subtype " + std::to_string(code));
        changedOwnInfo([&](ClassInfo& c) {
            c.subtypes.erase(std::remove_if(c.subtypes.begin(), c.subtypes.end(), [&](const auto& e) { return e.first == code; }),
                             c.subtypes.end());
        });
        return S_OK;
    });
}

// A class without a subtype field has one subtype: its default code, named after the class.
HRESULT ClassImpl::get_Subtypes(IEnumSubtype** out) {
    return gdbGuard([&] {
        need(out);
        *out = nullptr;
        const ClassInfo& ci = info();
        auto items = ci.subtypes;
        if (ci.subtypeField.empty()) items = {{ci.defaultSubtype, ci.alias}};
        *out = IEnumSubtypePtr(static_cast<IEnumSubtype*>(new SubtypeEnum(std::move(items)))).Detach();
        return S_OK;
    });
}


HRESULT ClassImpl::get_Topology(ITopology** out) {
    return gdbGuard([&] {
        need(out);
        *out = nullptr;
        std::string t = topologyName();
        if (!t.empty()) *out = topologyObject(ws_, t).Detach();
        return S_OK;
    });
}

}  // namespace gdb
