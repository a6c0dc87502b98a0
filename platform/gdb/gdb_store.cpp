// platform/gdb/gdb_store.cpp: what the storages share: names quoted for SQL, and the rows a query
// filter selects read from it.
#include "platform/gdb/gdb_store.h"

#include "platform/gdb/gdb_com_object.h"

namespace gdb {

std::string sqlName(std::string_view v) {
    if (v.find('\0') != v.npos) throw StoreError("NUL in a SQL name");
    std::string out = "\"";
    for (char c : v) {
        out += c;
        if (c == '"') out += '"';
    }
    return out += '"';
}

RowFilter readFilter(const ClassInfo& ci, IQueryFilter* filter) {
    RowFilter s;
    if (!filter) return s;
    BSTR w = nullptr;
    check(filter->get_WhereClause(&w));
    s.where = trimBlanks(utf8(w));
    SysFreeString(w);
    ISpatialFilterPtr sf(filter);
    if (!sf) return s;
    IGeometryPtr g;
    check(sf->get_Geometry(&g));
    if (!g) return s;
    if (!ci.feature) raise(E_INVALIDARG, "a spatial filter needs a feature class, not table " + ci.name);
    BSTR gf = nullptr;
    check(sf->get_GeometryField(&gf));
    std::string field = utf8(gf);
    SysFreeString(gf);
    if (!field.empty() && !sameNoCase(field, ci.fields[std::size_t(ci.shape)].name))
        raise(E_INVALIDARG, "spatial filter on " + field + ", but the shape of " + ci.name + " is " +
                                ci.fields[std::size_t(ci.shape)].name);
    esriSpatialRelEnum rel = esriSpatialRelIntersects;
    check(sf->get_SpatialRel(&rel));
    BSTR d = nullptr;
    check(sf->get_SpatialRelDescription(&d));
    std::string desc = utf8(d);
    SysFreeString(d);
    auto predicate = std::make_shared<SpatialPredicate>(g, rel, desc);
    if (predicate->extentPrefilter()) {
        s.extent = predicate->extent();
        if (s.extent.empty()) s.none = true;
        else s.prefilter = true;
    }
    s.predicate = std::move(predicate);
    return s;
}

}  // namespace gdb
