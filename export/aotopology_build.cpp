// export/aotopology_build.cpp: module aoTopology, the primitives of the rebuild (see aotopology.h):
// the cell's edges and connected nodes from the topology's graph with the relation rows of their
// parent features, and the isolated nodes of the point features and soundings left over.
//
// The parent features of the edges are read once each (an area meets many edges); the connected
// nodes are named by the graph's node, which is the point the spatial search would find.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "export/aotopology.h"
#include "export/aotopology_support.h"
#include "export/cell_extent.h"
#include "export/srel_list.h"
#include "platform/geometry/shape.h"
#include "platform/topology/topology.h"
#include "s57/dbutil.h"
#include "s57/lookups.h"
#include "s57/s57_util2.h"

using namespace aotopology;

namespace {

constexpr int32_t kCoverageCode = 302;  // M_COVR

std::string valueText(const _variant_t& value) {
    if (value.vt == VT_NULL || value.vt == VT_EMPTY) return {};
    return static_cast<const char*>(_bstr_t(value));
}

std::string upper(std::string s) {
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// One parent feature, read once. Its shape is read only when it is asked for: a line's for its
// direction along its edges, another's when the rebuild has not decided yet whether it lies in the
// cell.
struct ParentInfo {
    bool decided = false;  // inCell is known
    bool inCell = false;
    int32_t code = -1;
    esriGeometryType type = esriGeometryNull;
    std::string className;  // narrowed once: every edge the parent meets records it
    std::string name, lnam;
    IFeaturePtr feature;  // until inCell is decided
    IGeometryPtr shape;   // lines only
};

// The state of one build: the cell test, the parents read so far, the names of the sources of the
// relation rows (the rows findSrelRecord would find), the open primitive classes.
struct Build {
    Build(IGeometry* metaArea, IGeometry* dataArea) : cell(metaArea, dataArea) {}
    CellTest cell;
    std::map<std::pair<IFeatureClass*, LONG>, ParentInfo> parents;  // the graph holds the classes
    std::unordered_set<std::string> sources;  // upper case; asked only whether a name is among them
    std::unordered_map<LONG, std::string> nodeNames;
    std::string cellName;
    IFeatureClassPtr vc;
    IFeatureCursorPtr vcInsert;
    IFeatureBufferPtr vcBuffer;
    bool vcPrimed = false;
};
Build* build = nullptr;

// The source names of topoSrelList, for a call made outside a build.
bool hasSource(const std::string& name) {
    if (build) return build->sources.count(upper(name)) > 0;
    std::string copy = name;
    return findSrelRecord(topoSrelList.count, topoSrelList.records, copy.data());
}

void append(const std::string& lnam, const std::string& name, const std::string& dest, const char* ornt,
            const char* usag, const char* topi, const char* mask) {
    // A row the list cannot take is logged there; the build goes on without it.
    if (AppendSrelRecord(&topoSrelList, lnam.c_str(), name.c_str(), dest.c_str(), ornt, usag, topi, mask, "") == 0 &&
        build)
        build->sources.insert(upper(name));
}

ParentInfo& parentInfo(const TopologyParent& p) {
    static ParentInfo scratch;
    ParentInfo* info = &scratch;
    if (build) {
        auto [it, added] = build->parents.try_emplace({p.featureClass, p.oid});
        if (!added) return it->second;
        info = &it->second;
    } else {
        scratch = ParentInfo();
    }
    info->className = static_cast<const char*>(_bstr_t(p.className));
    // Read by the naming already, unless its shape is still wanted for the cell test.
    if (build && featureFacts && inCellMemo) {
        const auto key = std::make_pair(info->className, p.oid);
        const auto known = featureFacts->find(key);
        if (known != featureFacts->end() && inCellMemo->count(key)) {
            info->type = p.featureClass->GetShapeType();
            info->name = known->second.name;
            info->lnam = known->second.lnam;
            info->code = known->second.code;
            if (info->type == esriGeometryPolyline) info->shape = known->second.line;
            if (info->type != esriGeometryPolyline || info->shape) return *info;
        }
    }
    IFeaturePtr feature = p.featureClass->GetFeature(p.oid);
    info->type = p.featureClass->GetShapeType();
    info->feature = feature;
    if (info->type == esriGeometryPolyline) info->shape = feature->GetShape();
    const LONG nameIndex = p.featureClass->FindField("NAME"), lnamIndex = p.featureClass->FindField("LNAM");
    if (nameIndex >= 0) info->name = valueText(feature->GetValue(nameIndex));
    if (lnamIndex >= 0) info->lnam = valueText(feature->GetValue(lnamIndex));
    info->code = build ? build->cell.codeOf(feature, p.featureClass) : checkS57Object(feature, p.featureClass);
    return *info;
}

std::vector<TopologyParent> parentsOf(IEnumTopologyParent* e) {
    std::vector<TopologyParent> out;
    TopologyParent p{};
    while (e->Next(&p)) out.push_back(p);
    return out;
}

// The edge's shape with the vertices that repeat their neighbour (nearer than half the tolerance, so
// on the same point of the tolerance's grid) left out: distinct vertices of the data all stay. The
// two end vertices are the nodes the neighbouring edges share: they stay exactly as they are.
IGeometryPtr edgeShape(IGeometry* shape, double tolerance) {
    IPointCollectionPtr points(shape);
    if (!points || tolerance <= 0) return shape;
    // Read from the shape itself: a point object per vertex costs more than the rest of the edge.
    const geom::Shape& whole = geom::shapeOf(shape);
    if (whole.pointCount() <= 2) return shape;
    // The distance is never below the larger difference: most vertices are told apart without it.
    const double half = tolerance / 2;
    auto nearBy = [&](double ax, double ay, double bx, double by) {
        const double dx = std::fabs(ax - bx), dy = std::fabs(ay - by);
        return dx < half && dy < half && std::hypot(dx, dy) < half;
    };
    // The common case, a path whose vertices all stay, read in place.
    if (whole.parts.size() == 1) {
        const geom::Part& p = whole.parts[0];
        bool stays = true;
        for (std::size_t i = 1; stays && i + 1 < p.size(); ++i)
            stays = !nearBy(p[i].x, p[i].y, p[i - 1].x, p[i - 1].y) && !nearBy(p[i].x, p[i].y, p.back().x, p.back().y);
        if (stays) return shape;
    }
    std::vector<WKSPoint> v;
    v.reserve(whole.pointCount());
    for (const geom::Part& part : whole.parts)
        for (const geom::Coord& c : part) v.push_back({c.x, c.y});
    auto near = [&](const WKSPoint& a, const WKSPoint& b) { return nearBy(a.X, a.Y, b.X, b.Y); };
    std::vector<WKSPoint> kept{v.front()};
    for (std::size_t i = 1; i + 1 < v.size(); ++i)
        if (!near(v[i], kept.back()) && !near(v[i], v.back())) kept.push_back(v[i]);
    kept.push_back(v.back());
    if (kept.size() == v.size()) return shape;
    IPolylinePtr line(CLSID_Polyline);
    IPointCollectionPtr(line)->AddWKSPoints(LONG(kept.size()), kept.data());
    return line;
}

// The direction of a line feature along the edge: "F" when the edge's first segment runs the way
// of the feature's segment it lies on, "R" against it; empty when it lies on none.
const char* lineDirection(IGeometry* feature, IGeometry* edge, double tolerance) {
    if (!IPointCollectionPtr(edge) || !IGeometryCollectionPtr(feature)) return "";
    // The coordinates as the shapes hold them: a point object per vertex costs more than the test.
    const geom::Shape& e = geom::shapeOf(edge);
    std::vector<const geom::Coord*> first;
    for (const geom::Part& part : e.parts)
        for (std::size_t i = 0; i < part.size() && first.size() < 2; ++i) first.push_back(&part[i]);
    if (first.size() < 2) return "";
    const double x0 = first[0]->x, y0 = first[0]->y, x1 = first[1]->x, y1 = first[1]->y;
    const double mx = (x0 + x1) / 2, my = (y0 + y1) / 2, dx = x1 - x0, dy = y1 - y0;
    const double slack = std::max(tolerance, 1e-12);
    for (const geom::Part& path : geom::shapeOf(feature).parts) {
        double ax = 0, ay = 0;
        for (std::size_t i = 0; i < path.size(); ++i) {
            const double bx = path[i].x, by = path[i].y;
            if (i > 0) {
                const double sx = bx - ax, sy = by - ay, len2 = sx * sx + sy * sy;
                if (len2 > 0) {
                    const double t = ((mx - ax) * sx + (my - ay) * sy) / len2;
                    const double cx = ax + t * sx, cy = ay + t * sy;
                    const double cross = std::fabs(sx * dy - sy * dx) / std::sqrt(len2);
                    if (t >= 0 && t <= 1 && std::hypot(mx - cx, my - cy) <= slack &&
                        cross <= slack + std::hypot(dx, dy) * 1e-9)
                        return sx * dx + sy * dy > 0 ? "F" : "R";
                }
            }
            ax = bx;
            ay = by;
        }
    }
    return "";
}

// The primitive's name and the columns every primitive of the cell shares. A buffer keeps its values
// from row to row: with `primed` set (by the first call) only the name is set again.
void setPrimitive(IFeatureBuffer* buffer, const std::string& name, const char* cellName, bool* primed = nullptr) {
    (void)SetRecordValue(buffer, "NAME", _variant_t(name.c_str()));
    if (primed && *primed) return;
    (void)SetRecordValue(buffer, "RUIN", _variant_t("I"));
    (void)SetRecordValue(buffer, "RVER", _variant_t(LONG(1)));
    (void)SetRecordValue(buffer, "DSNM", _variant_t(cellName));
    if (primed) *primed = true;
}

// Inserts the connected node at the topology node and links the point features on it.
std::string makeNode(ITopologyNode* node, int32_t* counter, IFeatureCursor* insert, IFeatureBuffer* buffer,
                     const char* cellName, bool* primed) {
    const std::string name = generatedName("VC", *counter);
    ++*counter;
    buffer->PutRefShape(node->GetGeometry());
    setPrimitive(buffer, name, cellName, primed);
    insert->InsertFeature(buffer);
    if (getPointFeatures(node, name.c_str()) != S_OK) return {};
    return name;
}

std::string nodeName(ITopologyNode* node, int32_t* counter) {
    const LONG index = node->GetIndex();
    const auto it = build->nodeNames.find(index);
    if (it != build->nodeNames.end()) return it->second;
    std::string name;
    try {
        name = makeNode(node, counter, build->vcInsert, build->vcBuffer, build->cellName.c_str(), &build->vcPrimed);
    } catch (const _com_error& e) {
        logComErrorOf(kModule, "getNode", e);
        return {};
    }
    if (!name.empty()) build->nodeNames.emplace(index, name);
    return name;
}

IFeatureClassPtr openClass(IFeatureWorkspace* workspace, const char* name) {
    IFeatureClass* raw = nullptr;
    if (FAILED(workspace->raw_OpenFeatureClass(_bstr_t(name).GetBSTR(), &raw)) || !raw) return nullptr;
    IFeatureClassPtr out;
    out.Attach(raw);
    return out;
}

struct BuildScope {
    explicit BuildScope(Build* b) { build = b; }
    ~BuildScope() { build = nullptr; }
    BuildScope(const BuildScope&) = delete;
    BuildScope& operator=(const BuildScope&) = delete;
};

}  // namespace

HRESULT checkCoverageExtent(ITopologyEdge* edge, IGeometry* metaArea, IGeometry* dataArea, bool* onCoverageLimit,
                            std::vector<TopoRecord>* records) {
    try {
        if (!edge || !onCoverageLimit || !records) return E_FAIL;
        *onCoverageLimit = false;
        records->clear();
        CellTest local(metaArea, dataArea);
        CellTest& cell = build ? build->cell : local;
        int coverages = 0;
        IEnumTopologyParentPtr parents = edge->GetParents();
        TopologyParent p{};
        while (parents->Next(&p)) {
            ParentInfo& info = parentInfo(p);
            if (info.code < 0) return E_FAIL;
            if (!info.decided) {
                // The shape is not read for a feature the rebuild has decided already.
                IGeometryPtr shape = info.shape;
                if (!shape && !(inCellMemo && inCellMemo->count({info.className, p.oid}))) shape = info.feature->GetShape();
                info.inCell = inCellOnce(cell, info.className, p.oid, shape, info.type, isMetaCode(info.code));
                info.decided = true;
                info.feature = nullptr;
            }
            if (!info.inCell) continue;
            if (info.code == kCoverageCode) ++coverages;
            try {
                records->push_back({info.className, int32_t(p.oid)});
            } catch (const std::bad_alloc&) {
                logLine("TopoRecord: Out of memory\n");
                return -1;
            }
        }
        *onCoverageLimit = coverages == 1;
        return records->empty() ? E_FAIL : S_OK;
    } catch (const _com_error& e) {
        logComErrorOf(kModule, "checkCoverageExtent", e);
        return E_FAIL;
    }
}

HRESULT getTopoEdge(IWorkspace* workspace, IGeometry* metaArea, IGeometry* dataArea, ITopologyGraph* cache,
                    double tolerance, const char* cellName) {
    try {
        IFeatureWorkspacePtr featureWorkspace(workspace);
        if (!featureWorkspace || !cache || !cellName) return E_FAIL;
        Build state(metaArea, dataArea);
        BuildScope scope(&state);
        state.cellName = cellName;
        IFeatureClassPtr ve = openClass(featureWorkspace, "VE");
        state.vc = openClass(featureWorkspace, "VC");
        if (!ve || !state.vc) return E_FAIL;
        state.vcInsert = state.vc->Insert(VARIANT_TRUE);
        state.vcBuffer = state.vc->CreateFeatureBuffer();
        IFeatureCursorPtr veInsert = ve->Insert(VARIANT_TRUE);
        IFeatureBufferPtr veBuffer = ve->CreateFeatureBuffer();
        bool vePrimed = false;

        int32_t e = 1, n = 1;
        IEnumTopologyEdgePtr edges = cache->GetEdges();
        const LONG count = edges->GetCount();
        LONG i = 0;
        std::vector<TopoRecord> records;
        for (ITopologyEdgePtr edge = edges->Next(); edge; edge = edges->Next()) {
            ++i;
            if (stepProgressor && count > 0)
                stepProgressor->PutPosition(LONG(cellIndex * 100 / cellCount + (i * 20 / count + 20) / cellCount));
            bool onLimit = false;
            if (checkCoverageExtent(edge, metaArea, dataArea, &onLimit, &records) != S_OK) continue;

            IGeometryPtr shape = edge->GetGeometry();
            const esriGeometryType shapeType = shape->GetGeometryType();
            if (shapeType == esriGeometryPolyline || shapeType == esriGeometryPolygon) shape = edgeShape(shape, tolerance);

            // The graph gives each linework once (its edges share no segment): every edge is written.
            const std::string name = generatedName("VE", e);
            ++e;
            veBuffer->PutRefShape(shape);
            setPrimitive(veBuffer, name, cellName, &vePrimed);
            veInsert->InsertFeature(veBuffer);
            const std::string first = nodeName(edge->GetFromNode(), &n);
            const std::string last = first.empty() ? std::string() : nodeName(edge->GetToNode(), &n);
            if (first.empty() || last.empty()) {
                logLine("getTopoEdge: a connected node of edge %s cannot be named: cell %s not exported\n",
                        name.c_str(), cellName);
                return E_FAIL;
            }
            append("", name, first, "N", "N", "B", "N");
            append("", name, last, "N", "N", "E", "N");

            IEnumTopologyParentPtr all = edge->GetParents();
            const std::vector<TopologyParent> parents = parentsOf(all);
            IEnumTopologyParentPtr leftEnum = edge->GetLeftParents(), rightEnum = edge->GetRightParents();
            const std::vector<TopologyParent> left = parentsOf(leftEnum), right = parentsOf(rightEnum);
            for (const TopologyParent& p : parents) {
                // The records are the parents that lie in the cell, decided above.
                const ParentInfo& info = parentInfo(p);
                if (!info.inCell) continue;
                auto among = [&](const std::vector<TopologyParent>& side) {
                    return std::any_of(side.begin(), side.end(),
                                       [&](const TopologyParent& q) { return q.oid == p.oid && q.featureClass == p.featureClass; });
                };
                const char* ornt = nullptr;
                if (among(left)) ornt = "R";
                else if (among(right)) ornt = "F";
                else if (info.type == esriGeometryPolyline && info.shape)
                    ornt = lineDirection(info.shape, shape, tolerance);
                if (!ornt || !*ornt) {
                    std::string source = info.name, from = first, to = last;
                    ornt = checkEdgeNodes(topoSrelList.count, topoSrelList.records, source.data(), from.data(), to.data())
                               ? "F"
                               : "R";
                }
                const char* usag = "N";
                const char* mask = "S";
                if (info.type == esriGeometryPolygon) {
                    if (onLimit) {
                        usag = "C";
                        mask = "N";
                    } else {
                        usag = p.ring == esriTopologyParentRingInterior ? "I" : "E";
                    }
                }
                append(info.lnam, info.name, name, ornt, usag, "N", mask);
            }
        }
        if (populateDSSI(featureWorkspace, "NOED", e - 1, cellName) != S_OK) return E_FAIL;
        if (populateDSSI(featureWorkspace, "NOCN", n - 1, cellName) != S_OK) return E_FAIL;
        return S_OK;
    } catch (const _com_error& e) {
        logComErrorOf(kModule, "getTopoEdge", e);
        return E_FAIL;
    }
}

std::string getNode(ITopologyNode* node, int32_t* nodeCounter, IFeatureClass* vc, const char* cellName) {
    try {
        if (!node || !nodeCounter || !vc || !cellName) return {};
        IGeometryPtr point = node->GetGeometry();
        ISpatialFilterPtr filter = cellFilter(point, vc, ("DSNM=" + sqlText(cellName)).c_str());
        IFeatureCursorPtr cursor = vc->Search(filter, VARIANT_FALSE);
        if (IFeaturePtr found = cursor->NextFeature()) {
            const LONG index = vc->FindField("NAME");
            return index >= 0 ? valueText(found->GetValue(index)) : std::string();
        }
        IFeatureCursorPtr insert = vc->Insert(VARIANT_TRUE);
        IFeatureBufferPtr buffer = vc->CreateFeatureBuffer();
        return makeNode(node, nodeCounter, insert, buffer, cellName, nullptr);
    } catch (const _com_error& e) {
        logComErrorOf(kModule, "getNode", e);
        return {};
    }
}

HRESULT getPointFeatures(ITopologyNode* node, const char* nodeName) {
    try {
        if (!node || !nodeName) return E_FAIL;
        IEnumTopologyParentPtr parents = node->GetParents();
        TopologyParent p{};
        while (parents->Next(&p)) {
            if (p.featureClass->GetShapeType() != esriGeometryPoint) continue;
            IFeaturePtr feature = p.featureClass->GetFeature(p.oid);
            const LONG nameIndex = p.featureClass->FindField("NAME"), lnamIndex = p.featureClass->FindField("LNAM");
            const std::string name = nameIndex >= 0 ? valueText(feature->GetValue(nameIndex)) : std::string();
            const std::string lnam = lnamIndex >= 0 ? valueText(feature->GetValue(lnamIndex)) : std::string();
            if (hasSource(name)) continue;
            append(lnam, name, nodeName, "N", "N", "N", "N");
        }
        return S_OK;
    } catch (const _com_error& e) {
        logComErrorOf(kModule, "getPointFeatures", e);
        return E_FAIL;
    }
}

namespace {

// The sources of the rows so far, for the point primitives' tests.
void indexSources(Build& state) {
    for (int32_t k = 0; k < topoSrelList.count; ++k) state.sources.insert(upper(topoSrelList.records[k].SRC_NAME));
}

IFeatureWorkspacePtr workspaceOf(IFeatureClass* featureClass) {
    IDatasetPtr dataset(featureClass);
    if (!dataset) return nullptr;
    return IFeatureWorkspacePtr(dataset->GetWorkspace());
}

// The point classes' isolated nodes made in this build, by coordinates: a second feature at the
// same point shares the node.
std::map<std::pair<double, double>, std::string>* isolatedNodes = nullptr;

}  // namespace

HRESULT getPointPrimitives(IWorkspace* workspace, IFeatureDataset* dataset, const char* cellName) {
    try {
        IFeatureWorkspacePtr featureWorkspace(workspace);
        IFeatureClassContainerPtr container(dataset);
        if (!featureWorkspace || !container || !cellName || !cellSpatialFilter || !cellCoverage) return E_FAIL;
        Build state(cellSpatialFilter->GetGeometry(), cellCoverage->GetGeometry());
        BuildScope scope(&state);
        state.cellName = cellName;
        indexSources(state);
        std::map<std::pair<double, double>, std::string> nodes;
        isolatedNodes = &nodes;
        struct Reset {
            ~Reset() { isolatedNodes = nullptr; }
        } reset;

        int32_t v = 1;
        std::string soundingClass, subtype;
        if (checkFeatureClassName(soundingClass, subtype, "SOUNDG", "P") == 0 && !soundingClass.empty()) {
            IFeatureClassPtr soundings = openClass(featureWorkspace, soundingClass.c_str());
            if (!soundings || populateSoundings(soundings, cellName, &v) != S_OK) return E_FAIL;
        }
        const LONG classes = container->GetClassCount();
        for (LONG c = 0; c < classes; ++c) {
            IFeatureClassPtr featureClass = container->GetClass(c);
            if (!featureClass || featureClass->GetShapeType() != esriGeometryPoint) continue;
            const std::string name = static_cast<const char*>(featureClass->GetAliasName());
            const std::string dataName = static_cast<const char*>(IDatasetPtr(featureClass)->GetName());
            if (name == soundingClass || dataName == soundingClass) continue;
            if (populatePointPrimitives(featureClass, cellName, &v) != S_OK) return E_FAIL;
        }
        return populateDSSI(featureWorkspace, "NOIN", v - 1, cellName) == S_OK ? S_OK : E_FAIL;
    } catch (const _com_error& e) {
        logComErrorOf(kModule, "getPointPrimitives", e);
        return E_FAIL;
    }
}

HRESULT populatePointPrimitives(IFeatureClass* pointClass, const char* cellName, int32_t* counter) {
    try {
        if (!pointClass || !cellName || !counter || !cellCoverage) return E_FAIL;
        IGeometryPtr area = cellCoverage->GetGeometry();
        ISpatialFilterPtr filter = cellFilter(area, pointClass, nullptr);
        // The node class is opened at the class's first feature in the cell: most classes have none.
        IFeatureClassPtr vi2d;
        IFeatureCursorPtr insert;
        IFeatureBufferPtr buffer;
        bool primed = false;
        const LONG nameIndex = pointClass->FindField("NAME"), lnamIndex = pointClass->FindField("LNAM");
        std::map<std::pair<double, double>, std::string> local;
        auto& nodes = isolatedNodes ? *isolatedNodes : local;
        IFeatureCursorPtr cursor = pointClass->Search(filter, VARIANT_FALSE);
        for (IFeaturePtr feature = cursor->NextFeature(); feature; feature = cursor->NextFeature()) {
            if (!vi2d) {
                IFeatureWorkspacePtr featureWorkspace = workspaceOf(pointClass);
                vi2d = featureWorkspace ? openClass(featureWorkspace, "VI2D") : nullptr;
                if (!vi2d) return E_FAIL;
                insert = vi2d->Insert(VARIANT_TRUE);
                buffer = vi2d->CreateFeatureBuffer();
            }
            const std::string name = nameIndex >= 0 ? valueText(feature->GetValue(nameIndex)) : std::string();
            if (hasSource(name)) continue;
            const std::string lnam = lnamIndex >= 0 ? valueText(feature->GetValue(lnamIndex)) : std::string();
            IPointPtr point(feature->GetShape());
            if (!point) continue;
            double x, y;
            point->QueryCoords(&x, &y);
            auto [it, added] = nodes.try_emplace({x, y});
            if (added) {
                it->second = generatedName("VI", *counter);
                ++*counter;
                buffer->PutRefShape(point);
                setPrimitive(buffer, it->second, cellName, &primed);
                insert->InsertFeature(buffer);
            }
            append(lnam, name, it->second, "N", "N", "N", "N");
        }
        return S_OK;
    } catch (const _com_error& e) {
        logComErrorOf(kModule, "populatePointPrimitives", e);
        return E_FAIL;
    }
}

namespace {

// The class's soundings in the cell's coverage with their names, stably sorted by name. Throws
// _com_error.
std::vector<std::pair<std::string, IFeaturePtr>> readSoundings(IFeatureClass* soundingClass, LONG nameIndex) {
    ISpatialFilterPtr filter = cellFilter(cellCoverage->GetGeometry(), soundingClass, nullptr);
    IFeatureCursorPtr cursor = soundingClass->Search(filter, VARIANT_FALSE);
    std::vector<std::pair<std::string, IFeaturePtr>> rows;
    for (IFeaturePtr f = cursor->NextFeature(); f; f = cursor->NextFeature())
        rows.emplace_back(valueText(f->GetValue(nameIndex)), f);
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return rows;
}

}  // namespace

SoundingsAhead* aotopology::soundingsAhead = nullptr;

void aotopology::readSoundingsAhead(IWorkspace* workspace) {
    SoundingsAhead* ahead = soundingsAhead;
    if (!ahead) return;
    *ahead = SoundingsAhead();
    try {
        IFeatureWorkspacePtr featureWorkspace(workspace);
        std::string className, subtype;
        if (!featureWorkspace || !cellCoverage || checkFeatureClassName(className, subtype, "SOUNDG", "P") != 0 ||
            className.empty())
            return;
        IFeatureClassPtr soundings = openClass(featureWorkspace, className.c_str());
        if (!soundings) return;
        const LONG nameIndex = soundings->FindField("NAME");
        if (nameIndex < 0) return;
        ahead->rows = readSoundings(soundings, nameIndex);
        ahead->className = static_cast<const char*>(IDatasetPtr(soundings)->GetName());
    } catch (const _com_error&) {
        *ahead = SoundingsAhead();
    } catch (const std::bad_alloc&) {
        *ahead = SoundingsAhead();
    }
}

HRESULT populateSoundings(IFeatureClass* soundingClass, const char* cellName, int32_t* counter) {
    try {
        if (!soundingClass || !cellName || !counter || !cellCoverage) return E_FAIL;
        const LONG nameIndex = soundingClass->FindField("NAME");
        if (nameIndex < 0) return E_FAIL;
        const LONG lnamIndex = soundingClass->FindField("LNAM"), depthIndex = soundingClass->FindField("DEPTH");
        std::vector<std::pair<std::string, IFeaturePtr>> rows;
        if (soundingsAhead && !soundingsAhead->className.empty() &&
            soundingsAhead->className == static_cast<const char*>(IDatasetPtr(soundingClass)->GetName())) {
            rows = std::move(soundingsAhead->rows);
            *soundingsAhead = SoundingsAhead();
        } else {
            rows = readSoundings(soundingClass, nameIndex);
        }
        if (rows.empty()) return S_OK;

        IFeatureWorkspacePtr featureWorkspace = workspaceOf(soundingClass);
        IFeatureClassPtr vi3dsp = featureWorkspace ? openClass(featureWorkspace, "VI3DSP") : nullptr;
        if (!vi3dsp) return E_FAIL;
        IFeatureCursorPtr insert = vi3dsp->Insert(VARIANT_TRUE);
        IFeatureBufferPtr buffer = vi3dsp->CreateFeatureBuffer();
        const LONG depthColumn = vi3dsp->FindField("DEPTH");
        bool primed = false;
        // Each run of one name is a sounding group: one node name and one relation row.
        for (std::size_t k = 0; k < rows.size();) {
            std::size_t end = k;
            while (end < rows.size() && rows[end].first == rows[k].first) ++end;
            const std::string node = generatedName("VI", *counter);
            ++*counter;
            for (std::size_t s = k; s < end; ++s) {
                IFeature* sounding = rows[s].second;
                buffer->PutRefShape(sounding->GetShape());
                if (s == k) setPrimitive(buffer, node, cellName, &primed);
                if (depthColumn >= 0 && depthIndex >= 0) buffer->PutValue(depthColumn, sounding->GetValue(depthIndex));
                insert->InsertFeature(buffer);
            }
            const std::string lnam = lnamIndex >= 0 ? valueText(rows[k].second->GetValue(lnamIndex)) : std::string();
            append(lnam, rows[k].first, node, "N", "N", "N", "N");
            k = end;
        }
        return S_OK;
    } catch (const _com_error& e) {
        logComErrorOf(kModule, "populateSoundings", e);
        return E_FAIL;
    }
}
