// platform/gdb/gdb_objects.cpp: the geodatabase's plain value objects: fields and field lists,
// geometry definitions, class descriptions, query and spatial filters, property sets, the WGS 84
// spatial reference, and the enterprise factory that refuses every call. Nothing here touches a
// database. Methods fail with E_POINTER for a null out pointer and E_INVALIDARG for a bad value.
#include "platform/gdb/gdb.h"

#include <atomic>
#include <cmath>
#include <type_traits>
#include <cwctype>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/com/out_param.h"

namespace {

std::wstring wide(BSTR s) { return s ? std::wstring(s, SysStringLen(s)) : std::wstring(); }

wchar_t foldCase(wchar_t c) {
    if (c < 0x80) return c >= L'A' && c <= L'Z' ? wchar_t(c + (L'a' - L'A')) : c;
    return wchar_t(std::towlower(wint_t(c)));
}

bool sameNoCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && foldCase(a[i]) != foldCase(b[i])) return false;
    return true;
}

struct NoCaseHash {
    std::size_t operator()(std::wstring_view s) const noexcept {
        std::size_t h = 14695981039346656037ull;
        for (wchar_t c : s) h = (h ^ std::size_t(foldCase(c))) * 1099511628211ull;
        return h;
    }
};
struct NoCaseEqual {
    bool operator()(std::wstring_view a, std::wstring_view b) const noexcept { return sameNoCase(a, b); }
};

// Bumped by every rename of a field, so that field lists know their name index is stale.
std::atomic<std::uint64_t> fieldRenames{0};

HRESULT giveBstr(const std::wstring& s, BSTR* out) {
    if (!out) return E_POINTER;
    *out = SysAllocStringLen(s.data(), UINT(s.size()));
    return *out || s.empty() ? S_OK : E_OUTOFMEMORY;
}

HRESULT fail(HRESULT hr, const char* text) {
    setErrorDescription(std::string_view(text));
    return hr;
}

template <class First, class... Rest>
using Object = ComObject<First, Rest...>;

// -------------------------------------------------------------------------------------------
class SpatialReferenceWGS84 final : public Object<ISpatialReference> {
public:
    HRESULT get_Name(BSTR* name) override { return giveBstr(L"GCS_WGS_1984", name); }
    HRESULT get_FactoryCode(LONG* code) override {
        if (!code) return E_POINTER;
        *code = 4326;
        return S_OK;
    }
    HRESULT raw_GetZDomain(double* zmin, double* zmax) override {
        if (!zmin || !zmax) return E_POINTER;
        *zmin = zmin_;
        *zmax = zmax_;
        return S_OK;
    }
    HRESULT raw_SetZDomain(double zmin, double zmax) override {
        if (!std::isfinite(zmin) || !std::isfinite(zmax) || !(zmin < zmax))
            return fail(E_INVALIDARG, "Z domain: the minimum must be below the maximum");
        zmin_ = zmin;
        zmax_ = zmax;
        return S_OK;
    }

private:
    double zmin_ = -100000.0;  // the depth of every ocean, and every height, fits
    double zmax_ = 100000.0;
};

// -------------------------------------------------------------------------------------------
class PropertySet final : public Object<IPropertySet> {
public:
    HRESULT get_Count(LONG* count) override {
        if (!count) return E_POINTER;
        *count = LONG(items_.size());
        return S_OK;
    }
    HRESULT raw_SetProperty(BSTR name, VARIANT value) override {
        return comGuard([&] {
            std::wstring n = wide(name);
            for (auto& [k, v] : items_)
                if (sameNoCase(k, n)) {
                    v = _variant_t(value);
                    return S_OK;
                }
            items_.emplace_back(n, _variant_t(value));
            return S_OK;
        });
    }
    HRESULT raw_GetProperty(BSTR name, VARIANT* value) override {
        if (!value) return E_POINTER;
        return comGuard([&] {
            VariantInit(value);
            std::wstring n = wide(name);
            for (auto& [k, v] : items_)
                if (sameNoCase(k, n)) return VariantCopy(value, &v);
            setErrorDescription(L"no property " + n);
            return GDB_E_NOT_FOUND;
        });
    }

private:
    std::vector<std::pair<std::wstring, _variant_t>> items_;
};

// -------------------------------------------------------------------------------------------
class GeometryDef final : public Object<IGeometryDefEdit> {
public:
    HRESULT get_GeometryType(esriGeometryType* t) override { return giveValue(type_, t); }
    HRESULT get_HasZ(VARIANT_BOOL* z) override { return giveValue(hasZ_ ? VARIANT_TRUE : VARIANT_FALSE, z); }
    HRESULT get_HasM(VARIANT_BOOL* m) override { return giveValue(VARIANT_FALSE, m); }
    HRESULT get_SpatialReference(ISpatialReference** sr) override { return givePtr(sr_.GetInterfacePtr(), sr); }
    HRESULT get_GridCount(LONG* n) override { return giveValue(LONG(grids_.size()), n); }
    HRESULT get_GridSize(LONG i, double* size) override {
        if (!size) return E_POINTER;
        if (i < 0 || std::size_t(i) >= grids_.size()) return fail(E_INVALIDARG, "grid index out of range");
        *size = grids_[std::size_t(i)];
        return S_OK;
    }
    HRESULT put_GeometryType(esriGeometryType t) override {
        switch (t) {
            case esriGeometryPoint:
            case esriGeometryMultipoint:
            case esriGeometryPolyline:
            case esriGeometryPolygon:
                type_ = t;
                return S_OK;
            default:
                return fail(E_INVALIDARG, "feature classes hold points, multipoints, polylines or polygons");
        }
    }
    HRESULT put_HasZ(VARIANT_BOOL z) override {
        hasZ_ = z != VARIANT_FALSE;
        return S_OK;
    }
    HRESULT put_HasM(VARIANT_BOOL m) override {
        return m ? fail(E_INVALIDARG, "M values are not supported") : S_OK;
    }
    HRESULT putref_SpatialReference(ISpatialReference* sr) override {
        sr_ = sr;
        return S_OK;
    }
    HRESULT put_GridCount(LONG n) override {
        if (n < 0 || n > 3) return fail(E_INVALIDARG, "grid count must be 0 to 3");
        grids_.resize(std::size_t(n), 0.0);
        return S_OK;
    }
    HRESULT put_GridSize(LONG i, double size) override {
        if (i < 0 || std::size_t(i) >= grids_.size()) return fail(E_INVALIDARG, "grid index out of range");
        if (!(size >= 0)) return fail(E_INVALIDARG, "grid size must not be negative");
        grids_[std::size_t(i)] = size;
        return S_OK;
    }

private:
    esriGeometryType type_ = esriGeometryPolygon;
    bool hasZ_ = false;
    ISpatialReferencePtr sr_;
    std::vector<double> grids_;
};

// -------------------------------------------------------------------------------------------
// Our own field objects answer this, so that a field list finds names without copying them.
struct IFieldSelf : IUnknown {
    static constexpr GUID iid = makeGuid("{D8CA67C2-C073-4795-B7EC-65137D93BC1E}");
    using base_interface = IUnknown;
    virtual const std::wstring& nameRef() const = 0;
};

class Field final : public Object<IFieldEdit, IFieldSelf> {
public:
    HRESULT get_Name(BSTR* n) override { return giveBstr(name_, n); }
    HRESULT get_AliasName(BSTR* n) override { return giveBstr(alias_.empty() ? name_ : alias_, n); }
    HRESULT get_Type(esriFieldType* t) override { return giveValue(type_, t); }
    HRESULT get_Length(LONG* l) override { return giveValue(length_, l); }
    HRESULT get_IsNullable(VARIANT_BOOL* b) override { return giveValue(nullable_ ? VARIANT_TRUE : VARIANT_FALSE, b); }
    HRESULT get_Editable(VARIANT_BOOL* b) override {
        return giveValue(type_ == esriFieldTypeOID ? VARIANT_FALSE : VARIANT_TRUE, b);
    }
    HRESULT get_GeometryDef(IGeometryDef** g) override { return givePtr(geometryDef_.GetInterfacePtr(), g); }
    HRESULT put_Name(BSTR n) override {
        name_ = wide(n);
        ++fieldRenames;
        return S_OK;
    }
    HRESULT put_AliasName(BSTR n) override {
        alias_ = wide(n);
        return S_OK;
    }
    HRESULT put_Type(esriFieldType t) override {
        if (t < esriFieldTypeSmallInteger || t > esriFieldTypeBlob) return fail(E_INVALIDARG, "unknown field type");
        type_ = t;
        return S_OK;
    }
    HRESULT put_Length(LONG l) override {
        if (l < 0) return fail(E_INVALIDARG, "field length must not be negative");
        length_ = l;
        return S_OK;
    }
    HRESULT put_IsNullable(VARIANT_BOOL b) override {
        nullable_ = b != VARIANT_FALSE;
        return S_OK;
    }
    HRESULT putref_GeometryDef(IGeometryDef* g) override {
        geometryDef_ = g;
        return S_OK;
    }
    const std::wstring& nameRef() const override { return name_; }

private:
    std::wstring name_;
    std::wstring alias_;
    esriFieldType type_ = esriFieldTypeString;  // a field left without a type is text
    LONG length_ = 0;
    bool nullable_ = true;
    IGeometryDefPtr geometryDef_;
};

// -------------------------------------------------------------------------------------------
class Fields final : public Object<IFieldsEdit> {
public:
    HRESULT get_FieldCount(LONG* n) override {
        if (!n) return E_POINTER;
        *n = LONG(fields_.size());
        return S_OK;
    }
    HRESULT get_Field(LONG i, IField** f) override {
        if (!f) return E_POINTER;
        if (i < 0 || std::size_t(i) >= fields_.size()) {
            *f = nullptr;
            return fail(E_INVALIDARG, "field index out of range");
        }
        return givePtr(fields_[std::size_t(i)].GetInterfacePtr(), f);
    }
    HRESULT raw_FindField(BSTR name, LONG* index) override {
        if (!index) return E_POINTER;
        return comGuard([&] {
            *index = -1;
            std::wstring_view n(name ? name : L"", name ? SysStringLen(name) : 0);
            if (indexable()) {
                auto it = byName_.find(n);
                if (it != byName_.end()) *index = it->second;
                return S_OK;
            }
            for (std::size_t i = 0; i < fields_.size(); ++i) {
                if (const IFieldSelf* own = own_[i]) {
                    if (sameNoCase(own->nameRef(), n)) {
                        *index = LONG(i);
                        break;
                    }
                    continue;
                }
                BSTR fn = nullptr;
                if (SUCCEEDED(fields_[i]->get_Name(&fn))) {
                    bool same = sameNoCase(wide(fn), n);
                    SysFreeString(fn);
                    if (same) {
                        *index = LONG(i);
                        break;
                    }
                }
            }
            return S_OK;
        });
    }
    HRESULT raw_AddField(IField* f) override {
        if (!f) return fail(E_POINTER, "AddField: no field");
        return comGuard([&] {
            fields_.emplace_back(f);
            IFieldSelf* own = nullptr;
            if (SUCCEEDED(f->QueryInterface(IFieldSelf::iid, reinterpret_cast<void**>(&own))) && own)
                own->Release();  // the list holds the field already
            own_.push_back(own);
            if (!own) foreign_ = true;
            byName_.clear();
            indexed_ = false;
            return S_OK;
        });
    }

private:
    // Whether the name index can answer: every field is ours (their names are known without a
    // call) and none was renamed since the index was built; builds it when due.
    bool indexable() {
        if (foreign_ || fields_.size() < 8) return false;  // a short list is searched as fast
        const std::uint64_t renames = fieldRenames.load();
        if (indexed_ && renames == renamesSeen_) return true;
        byName_.clear();
        for (std::size_t i = 0; i < fields_.size(); ++i) byName_.emplace(own_[i]->nameRef(), LONG(i));  // the first of a name
        indexed_ = true;
        renamesSeen_ = renames;
        return true;
    }

    std::vector<IFieldPtr> fields_;
    std::vector<const IFieldSelf*> own_;  // the same fields when they are ours, else null
    bool foreign_ = false;
    // Case-insensitive names (views of the fields' own names) to their first index.
    std::unordered_map<std::wstring_view, LONG, NoCaseHash, NoCaseEqual> byName_;
    bool indexed_ = false;
    std::uint64_t renamesSeen_ = 0;
};

// -------------------------------------------------------------------------------------------
IFieldPtr makeField(const wchar_t* name, esriFieldType type, LONG length) {
    IFieldEditPtr f(CLSID_Field);
    f->PutName(name);
    f->PutType(type);
    f->PutLength(length);
    if (type == esriFieldTypeOID) f->PutIsNullable(VARIANT_FALSE);
    return f;
}

// The fields every object class has (OBJECTID); with `shape`, a feature class's SHAPE after them.
HRESULT giveRequiredFields(bool shape, IFields** out) {
    if (!out) return E_POINTER;
    return comGuard([&] {
        IFieldsEditPtr fields(CLSID_Fields);
        fields->AddField(makeField(L"OBJECTID", esriFieldTypeOID, 4));
        if (shape) {
            IFieldEditPtr field = makeField(L"SHAPE", esriFieldTypeGeometry, 0);
            IGeometryDefEditPtr def(CLSID_GeometryDef);
            def->PutGeometryType(esriGeometryPolygon);
            field->PutRefGeometryDef(IGeometryDefPtr(def));
            fields->AddField(IFieldPtr(field));
        }
        *out = IFieldsPtr(fields).Detach();
        return S_OK;
    });
}

class ObjectClassDescription final : public Object<IObjectClassDescription> {
public:
    HRESULT get_RequiredFields(IFields** out) override { return giveRequiredFields(false, out); }
};

class FeatureClassDescription final : public Object<IFeatureClassDescription, IObjectClassDescription> {
public:
    HRESULT get_RequiredFields(IFields** out) override { return giveRequiredFields(true, out); }
    HRESULT get_ShapeFieldName(BSTR* name) override { return giveBstr(L"SHAPE", name); }
};

// -------------------------------------------------------------------------------------------
class SpatialFilter final : public Object<ISpatialFilter> {
public:
    explicit SpatialFilter(bool spatial = true) : spatial_(spatial) {}
    HRESULT QueryInterface(REFIID riid, void** out) override {
        if (!spatial_ && riid == ISpatialFilter::iid) {
            if (out) *out = nullptr;
            return E_NOINTERFACE;
        }
        return ComObject::QueryInterface(riid, out);
    }
    HRESULT get_WhereClause(BSTR* w) override { return giveBstr(where_, w); }
    HRESULT put_WhereClause(BSTR w) override { return keepValue(where_, wide(w)); }
    HRESULT get_SubFields(BSTR* f) override { return giveBstr(subFields_, f); }
    HRESULT put_SubFields(BSTR f) override { return keepValue(subFields_, wide(f)); }
    HRESULT get_Geometry(IGeometry** g) override { return givePtr(geometry_.GetInterfacePtr(), g); }
    HRESULT putref_Geometry(IGeometry* g) override { return keepValue(geometry_, g); }
    HRESULT get_GeometryField(BSTR* n) override { return giveBstr(geometryField_, n); }
    HRESULT put_GeometryField(BSTR n) override { return keepValue(geometryField_, wide(n)); }
    HRESULT get_SpatialRel(esriSpatialRelEnum* r) override { return giveValue(relation_, r); }
    HRESULT put_SpatialRel(esriSpatialRelEnum r) override {
        if (r < esriSpatialRelUndefined || r > esriSpatialRelRelation) return fail(E_INVALIDARG, "unknown spatial relation");
        relation_ = r;
        return S_OK;
    }
    HRESULT get_SpatialRelDescription(BSTR* d) override { return giveBstr(description_, d); }
    HRESULT put_SpatialRelDescription(BSTR d) override { return keepValue(description_, wide(d)); }

private:
    bool spatial_;
    std::wstring where_;
    std::wstring subFields_ = L"*";
    IGeometryPtr geometry_;
    std::wstring geometryField_;
    esriSpatialRelEnum relation_ = esriSpatialRelIntersects;
    std::wstring description_;
};

HRESULT createQueryFilter(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto* f = new (std::nothrow) SpatialFilter(false);
    if (!f) return E_OUTOFMEMORY;
    f->AddRef();
    HRESULT hr = f->QueryInterface(riid, out);
    f->Release();
    return hr;
}

const ComClassRegistrar kRegistrars[] = {
    {CLSID_SpatialReferenceWGS84, "Gdb.SpatialReferenceWGS84.1", &createComInstance<SpatialReferenceWGS84>},
    {CLSID_PropertySet, "Gdb.PropertySet.1", &createComInstance<PropertySet>},
    {CLSID_GeometryDef, "Gdb.GeometryDef.1", &createComInstance<GeometryDef>},
    {CLSID_Field, "Gdb.Field.1", &createComInstance<Field>},
    {CLSID_Fields, "Gdb.Fields.1", &createComInstance<Fields>},
    {CLSID_ObjectClassDescription, "Gdb.ObjectClassDescription.1", &createComInstance<ObjectClassDescription>},
    {CLSID_FeatureClassDescription, "Gdb.FeatureClassDescription.1", &createComInstance<FeatureClassDescription>},
    {CLSID_QueryFilter, "Gdb.QueryFilter.1", &createQueryFilter},
    {CLSID_SpatialFilter, "Gdb.SpatialFilter.1", &createComInstance<SpatialFilter>},
};

}  // namespace
