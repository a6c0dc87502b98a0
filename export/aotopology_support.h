// export/aotopology_support.h: what the two halves of module aoTopology share: the test of whether
// a feature lies in the cell (the meta area for meta classes, the data area for the others), the
// object codes of features by class and subtype, and the generated names. Raises _com_error as the
// platform does; the module's functions catch it.
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "platform/geometry/geometry.h"
#include "platform/geometry/spatial_relation.h"
#include "platform/gdb/gdb.h"
#include "s57/relation_tables.h"

int32_t checkS57Object(IFeature* feature, IFeatureClass* featureClass);

namespace aotopology {

inline constexpr char kModule[] = "aoTopology";

inline bool isMetaCode(int32_t code) { return code >= 300 && code <= 312; }

// "VE%010d" and the like.
inline std::string generatedName(const char* prefix, int32_t number) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%010d", prefix, int(number));
    return text;
}

// A query of the class's features that meet the area (intersects only: no relation description
// and no where clause of another query), with its own where clause.
inline ISpatialFilterPtr cellFilter(IGeometry* area, IFeatureClass* featureClass, const char* where) {
    ISpatialFilterPtr filter(CLSID_SpatialFilter);
    filter->PutRefGeometry(area);
    filter->PutGeometryField(featureClass->GetShapeFieldName());
    filter->PutSpatialRel(esriSpatialRelIntersects);
    if (where) filter->PutWhereClause(where);
    return filter;
}

// Whether features lie in the cell, each area prepared once for the common case of a feature well
// inside it; the others take checkWithin (with a repaired copy of a damaged area).
class CellTest {
public:
    CellTest(IGeometry* metaArea, IGeometry* dataArea) : area_{dataArea, metaArea} {}

    bool contains(IGeometry* shape, esriGeometryType type, bool meta) {
        IGeometry* area = area_[meta ? 1 : 0];
        if (!shape || !area) return false;
        std::unique_ptr<SpatialPredicate>& prepared = prepared_[meta ? 1 : 0];
        if (!prepared && !failed_[meta ? 1 : 0]) {
            try {
                prepared = std::make_unique<SpatialPredicate>(area, esriSpatialRelContains);
            } catch (const _com_error&) {
                failed_[meta ? 1 : 0] = true;
            }
        }
        try {
            if (prepared && prepared->matches(shape)) return true;
        } catch (const _com_error&) {
            // GEOS cannot relate the shape as it is: the repaired copy below.
        }
        IGeometryPtr test = shape;
        if (type == esriGeometryPolygon) {
            ITopologicalOperatorPtr topo(shape);
            VARIANT_BOOL simple = VARIANT_TRUE;
            if (topo && SUCCEEDED(topo->get_IsSimple(&simple)) && !simple) {
                IGeometryPtr copy = IClonePtr(shape)->Clone();
                if (SUCCEEDED(ITopologicalOperatorPtr(copy)->raw_Simplify())) test = copy;
            }
        }
        return checkWithin(test, area, int(type));
    }

    // The feature's object code (checkS57Object), once per class and subtype.
    int32_t codeOf(IFeature* feature, IFeatureClass* featureClass) {
        auto [it, added] = subtypeField_.try_emplace(featureClass, -1);
        if (added) {
            ISubtypesPtr subtypes(featureClass);
            if (subtypes && subtypes->GetHasSubtype() == VARIANT_TRUE) it->second = subtypes->GetSubtypeFieldIndex();
        }
        LONG subtype = 0;
        if (it->second >= 0) {
            const _variant_t v = feature->GetValue(it->second);
            subtype = v.vt == VT_NULL || v.vt == VT_EMPTY ? 0 : LONG(static_cast<double>(v));
        }
        auto [code, fresh] = codes_.try_emplace({featureClass, subtype}, -1);
        if (fresh) code->second = checkS57Object(feature, featureClass);
        return code->second;
    }

private:
    IGeometry* area_[2];
    std::unique_ptr<SpatialPredicate> prepared_[2];
    bool failed_[2] = {false, false};
    std::map<IFeatureClass*, LONG> subtypeField_;
    std::map<std::pair<IFeatureClass*, LONG>, int32_t> codes_;
};

// Whether each feature (class name, object id) lies in the cell, decided once for the whole rebuild:
// the naming of features and the edges' parents test the same features against the same areas.
// Set by the rebuild for its run; null otherwise (each call then tests for itself).
using InCellMemo = std::map<std::pair<std::string, LONG>, bool>;
extern InCellMemo* inCellMemo;

// The cell test of the feature, through the rebuild's memo when there is one.
inline bool inCellOnce(CellTest& cell, const std::string& className, LONG oid, IGeometry* shape,
                       esriGeometryType type, bool meta) {
    if (!inCellMemo) return cell.contains(shape, type, meta);
    const auto key = std::make_pair(className, oid);
    if (auto it = inCellMemo->find(key); it != inCellMemo->end()) return it->second;
    const bool inside = cell.contains(shape, type, meta);
    inCellMemo->emplace(key, inside);
    return inside;
}

}  // namespace aotopology
