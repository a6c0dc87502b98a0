// export/aotopology_support.h: what the two halves of module aoTopology share: the test of whether
// a feature lies in the cell (the meta area for meta classes, the data area for the others), the
// object codes of features by class and subtype, and the generated names. Raises _com_error as the
// platform does; the module's functions catch it.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "export/edge_containment.h"
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

// The boxes of the segments of an area's rings, each ring closed; false when a coordinate is not a
// number or the area gives no rings.
inline bool segmentBoxes(IGeometry* area, std::vector<std::array<double, 4>>& out) {
    out.clear();
    IGeometryCollectionPtr rings(area);
    if (!rings) return false;
    const LONG n = rings->GetGeometryCount();
    IPointPtr q(CLSID_Point);
    for (LONG r = 0; r < n; ++r) {
        IPointCollectionPtr ring(rings->GetGeometry(r));
        if (!ring) return false;
        const LONG m = ring->GetPointCount();
        std::vector<WKSPoint> p(std::size_t(m > 0 ? m : 0));
        for (LONG i = 0; i < m; ++i) {
            ring->QueryPoint(i, q);
            p[std::size_t(i)] = {q->GetX(), q->GetY()};
            if (std::isnan(p[std::size_t(i)].X) || std::isnan(p[std::size_t(i)].Y)) return false;
        }
        for (std::size_t i = 0; i < p.size(); ++i) {
            const WKSPoint& a = p[i];
            const WKSPoint& b = p[(i + 1) % p.size()];
            out.push_back({std::min(a.X, b.X), std::min(a.Y, b.Y), std::max(a.X, b.X), std::max(a.Y, b.Y)});
        }
    }
    return true;
}

// Whether a line or area lies wholly in the interior of the coverage, decided without relating the
// whole shape: when its envelope meets the box of no segment of the coverage's rings (comparisons
// of coordinates, exact), the envelope lies wholly inside the coverage or wholly outside it, and a
// vertex of the shape says which. Inside, the coverage contains the shape. False: not known.
inline bool insideCoverage(IGeometry* shape, const std::vector<std::array<double, 4>>& edges,
                    const SpatialPredicate& contains) {
    if (shape->GetIsEmpty()) return false;
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    if (FAILED(shape->GetEnvelope()->raw_QueryCoords(&x0, &y0, &x1, &y1))) return false;
    if (!(x0 <= x1 && y0 <= y1)) return false;  // also a coordinate that is not a number
    for (const auto& b : edges)
        if (b[0] <= x1 && x0 <= b[2] && b[1] <= y1 && y0 <= b[3]) return false;
    IPointCollectionPtr points(shape);
    if (!points || points->GetPointCount() < 1) return false;
    IPointPtr vertex = points->GetPoint(0);
    return contains.matches(vertex);
}

// How a feature's cell test decided: the prepared containment holds; it does not but the full test
// says within; neither holds, the prepared test having answered; not in the cell, the prepared test
// having failed or not been made (Unsure: the export's own tests may still differ).
enum class Verdict : unsigned char { Contained, Within, Outside, Unsure };

// Whether features lie in the cell, each area prepared once for the common case of a feature well
// inside it; the others take checkWithin (with a repaired copy of a damaged area).
class CellTest {
public:
    CellTest(IGeometry* metaArea, IGeometry* dataArea) : area_{dataArea, metaArea} {}

    bool contains(IGeometry* shape, esriGeometryType type, bool meta) {
        return verdict(shape, type, meta) <= Verdict::Within;
    }

    // The test and how it decided (what the feature export may take over without testing again).
    Verdict verdict(IGeometry* shape, esriGeometryType type, bool meta) {
        IGeometry* area = area_[meta ? 1 : 0];
        if (!shape || !area) return Verdict::Unsure;
        std::unique_ptr<SpatialPredicate>& prepared = prepared_[meta ? 1 : 0];
        const int k = meta ? 1 : 0;
        if (!prepared && !failed_[k]) {
            try {
                prepared = std::make_unique<SpatialPredicate>(area, esriSpatialRelContains);
            } catch (const _com_error&) {
                failed_[k] = true;
            }
            try {
                edgesBuilt_[k] = prepared && segmentBoxes(area, edges_[k]);
            } catch (const _com_error&) {
                edgesBuilt_[k] = false;
            }
        }
        // A shape far from the area's edges needs no relating of its own (the export's shortcut).
        try {
            if (prepared && edgesBuilt_[k] && type != esriGeometryPoint && insideCoverage(shape, edges_[k], *prepared))
                return Verdict::Contained;
        } catch (const _com_error&) {
            // not known: the containment below decides
        }
        // A shape near them: the pieces of it that come near them are related, not the whole.
        try {
            if (prepared) {
                if (!along_[k]) along_[k] = std::make_unique<EdgeContainment>(area);
                if (along_[k]->contains(shape)) return Verdict::Contained;
            }
        } catch (const _com_error&) {
            // not known: the containment below decides
        }
        bool related = false;
        try {
            if (prepared) {
                if (prepared->matches(shape)) return Verdict::Contained;
                related = true;
            }
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
        if (checkWithin(test, area, int(type))) return Verdict::Within;
        return related ? Verdict::Outside : Verdict::Unsure;
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
    std::vector<std::array<double, 4>> edges_[2];
    bool edgesBuilt_[2] = {false, false};
    std::unique_ptr<EdgeContainment> along_[2];  // made with the prepared area
    std::map<IFeatureClass*, LONG> subtypeField_;
    std::map<std::pair<IFeatureClass*, LONG>, int32_t> codes_;
};

// Whether each feature (class name, object id) lies in the cell, decided once for the whole rebuild:
// the naming of features, the edges' parents and the export of the cell's features test the same
// features against the same areas. Set by the rebuild for its run and the export of its cell's
// features after it; null otherwise (each call then tests for itself).
using InCellMemo = std::map<std::pair<std::string, LONG>, Verdict>;
extern InCellMemo* inCellMemo;

// What the naming of the features read of each feature (its name once named, LNAM, object code, a
// line's shape), for the edges' parents: each feature is read once in a rebuild. Set by the
// rebuild for its run; null otherwise (each call then reads the feature itself).
struct FeatureFacts {
    std::string name, lnam;
    int32_t code = -1;
    IGeometryPtr line;  // lines only
};
using FeatureFactsMemo = std::map<std::pair<std::string, LONG>, FeatureFacts>;
extern FeatureFactsMemo* featureFacts;

// The cell's soundings as populateSoundings reads them (with their names, stably sorted by name),
// read while the rebuild waits for its graph (readSoundingsAhead) and taken by populateSoundings
// of that class. Set by the rebuild for its run; null otherwise (populateSoundings then reads).
struct SoundingsAhead {
    std::string className;  // empty: nothing read ahead
    std::vector<std::pair<std::string, IFeaturePtr>> rows;
};
extern SoundingsAhead* soundingsAhead;
// Fills soundingsAhead (when set) for the workspace's sounding class; logs nothing, and leaves it
// empty on any failure.
void readSoundingsAhead(IWorkspace* workspace);

// The rebuild's verdicts for the export of the cell's features (null when the export did not follow
// the cell's rebuild), and their end once its features are written.
const InCellMemo* rebuildVerdicts(const char* cellName);
void endRebuildVerdicts();

// The cell test of the feature, through the rebuild's memo when there is one.
inline bool inCellOnce(CellTest& cell, const std::string& className, LONG oid, IGeometry* shape,
                       esriGeometryType type, bool meta) {
    if (!inCellMemo) return cell.contains(shape, type, meta);
    const auto key = std::make_pair(className, oid);
    if (auto it = inCellMemo->find(key); it != inCellMemo->end()) return it->second <= Verdict::Within;
    const Verdict verdict = cell.verdict(shape, type, meta);
    inCellMemo->emplace(key, verdict);
    return verdict <= Verdict::Within;
}

}  // namespace aotopology
