// platform/gdb/class_schema.cpp: reading field lists for either backend.
#include "platform/gdb/class_schema.h"

#include <cctype>
#include <string_view>

#include "platform/com/bstr.h"
#include "platform/com/com_error.h"

namespace gdb {
namespace {

[[noreturn]] void bad(const std::string& text) { throw _com_error(GDB_E_BAD_SCHEMA, fromUtf8(text)); }

bool sameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

ClassSpec readClassSpec(const std::string& name, IFields* fields, bool feature, const std::string& shapeFieldArg) {
    if (!fields) throw _com_error(E_POINTER, fromUtf8("no field list"));
    ClassSpec spec;
    LONG count = 0;
    check(fields->get_FieldCount(&count));
    const std::string shapeField = shapeFieldArg.empty() ? "SHAPE" : shapeFieldArg;
    for (LONG i = 0; i < count; ++i) {
        IFieldPtr f;
        check(fields->get_Field(i, &f));
        if (!f) bad("field list entry " + std::to_string(i) + " is empty");
        FieldSpec fi;
        BSTR n = nullptr;
        check(f->get_Name(&n));
        fi.name = n ? toUtf8(std::wstring_view(n, SysStringLen(n))) : std::string();
        SysFreeString(n);
        check(f->get_Type(&fi.type));
        check(f->get_Length(&fi.length));
        VARIANT_BOOL nullable = VARIANT_TRUE;
        check(f->get_IsNullable(&nullable));
        fi.nullable = nullable != VARIANT_FALSE;
        if (fi.name.empty()) bad("field " + std::to_string(i) + " has no name");
        if (fi.name.find('\0') != std::string::npos) bad("field name with NUL");
        for (const FieldSpec& other : spec.fields)
            if (sameNoCase(other.name, fi.name)) bad("field " + fi.name + " appears twice");
        if (fi.type == esriFieldTypeOID) {
            if (spec.oid >= 0) bad("more than one object id field");
            spec.oid = int(spec.fields.size());
            fi.nullable = false;
        } else if (fi.type == esriFieldTypeGeometry) {
            if (!feature) bad("a table has no geometry field: " + fi.name);
            if (spec.shape >= 0) bad("more than one geometry field");
            if (!sameNoCase(fi.name, shapeField)) bad("geometry field " + fi.name + " is not the shape field " + shapeField);
            IGeometryDefPtr def;
            check(f->get_GeometryDef(&def));
            if (!def) bad("shape field " + fi.name + " has no geometry definition");
            check(def->get_GeometryType(&spec.shapeType));
            VARIANT_BOOL z = VARIANT_FALSE;
            check(def->get_HasZ(&z));
            spec.hasZ = z != VARIANT_FALSE;
            check(def->get_SpatialReference(&spec.sr));
            LONG grids = 0;
            check(def->get_GridCount(&grids));
            if (grids > 0) check(def->get_GridSize(0, &spec.grid));
            spec.shape = int(spec.fields.size());
        } else if (fi.type < esriFieldTypeSmallInteger || fi.type > esriFieldTypeBlob) {
            bad("field " + fi.name + " has an unknown type");
        }
        spec.fields.push_back(std::move(fi));
    }
    if (spec.oid < 0) bad(name + " needs an object id field");
    if (feature && spec.shape < 0) bad("feature class " + name + " needs the shape field " + shapeField);
    if (feature && spec.shapeType != esriGeometryPoint && spec.shapeType != esriGeometryMultipoint &&
        spec.shapeType != esriGeometryPolyline && spec.shapeType != esriGeometryPolygon)
        bad("feature class " + name + ": unsupported geometry type");
    return spec;
}

}  // namespace gdb
