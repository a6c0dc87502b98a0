// tests/platform/topology/topology_fixture.cpp: the shared fixture of the topology tests.
#include "topology_fixture.h"

#include <geos_c.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <set>
#include <sstream>

namespace topotest {

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    path = std::filesystem::temp_directory_path() /
           ("topology_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
}
TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

namespace {

IFieldsPtr featureFields(esriGeometryType type) {
    IObjectClassDescriptionPtr d(CLSID_FeatureClassDescription);
    IFeatureClassDescriptionPtr fd(d);
    IFieldsEditPtr fields(d->GetRequiredFields());
    IFieldPtr shape = fields->GetField(fields->FindField(fd->GetShapeFieldName()));
    IGeometryDefEditPtr def(shape->GetGeometryDef());
    def->PutGeometryType(type);
    def->PutHasZ(VARIANT_FALSE);
    def->PutRefSpatialReference(ISpatialReferencePtr(CLSID_SpatialReferenceWGS84));
    IFieldEditPtr name(CLSID_Field);
    name->PutName(L"NAME");
    name->PutType(esriFieldTypeString);
    name->PutLength(40);
    fields->AddField(IFieldPtr(name));
    return IFieldsPtr(fields);
}

IPointPtr pointAt(double x, double y) {
    IPointPtr p(CLSID_Point);
    p->PutCoords(x, y);
    return p;
}

std::string textOf(const _variant_t& v) { return v.vt == VT_BSTR ? std::string(_bstr_t(v)) : std::string(); }

std::string nameOf(const TopologyParent& p) {
    IFeaturePtr f = p.featureClass->GetFeature(p.oid);
    std::string name = textOf(f->GetValue(f->GetFields()->FindField(L"NAME")));
    if (p.ring == esriTopologyParentRingExterior) name += ":E";
    if (p.ring == esriTopologyParentRingInterior) name += ":I";
    if (p.ring == esriTopologyParentRingBoth) name += ":EI";
    return name;
}

std::vector<std::string> namesOf(IEnumTopologyParent* parents) {
    std::vector<std::string> out;
    TopologyParent p{};
    while (parents->Next(&p)) out.push_back(nameOf(p));
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<XY> pointsOf(IGeometry* g) {
    IPointCollectionPtr pc(g);
    std::vector<XY> out;
    for (LONG i = 0; i < pc->GetPointCount(); ++i) {
        IPointPtr p = pc->GetPoint(i);
        out.push_back({p->GetX(), p->GetY()});
    }
    return out;
}

XY nodeAt(ITopologyNode* n) {
    IPointPtr p(n->GetGeometry());
    return {p->GetX(), p->GetY()};
}

// The parts of a shape as coordinate lists.
std::vector<std::vector<XY>> partsOf(IGeometry* g) {
    std::vector<std::vector<XY>> out;
    IGeometryCollectionPtr gc(g);
    for (LONG i = 0; i < gc->GetGeometryCount(); ++i) out.push_back(pointsOf(gc->GetGeometry(i)));
    return out;
}

double signedArea(const std::vector<XY>& ring) {
    double a = 0;
    for (std::size_t i = 0; i < ring.size(); ++i) {
        const XY& p = ring[i];
        const XY& q = ring[(i + 1) % ring.size()];
        a += p.first * q.second - q.first * p.second;
    }
    return a / 2;
}

bool inside(const XY& p, const std::vector<XY>& ring) {
    bool in = false;
    for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
        const XY& a = ring[i];
        const XY& b = ring[j];
        if ((a.second > p.second) != (b.second > p.second) &&
            p.first < (b.first - a.first) * (p.second - a.second) / (b.second - a.second) + a.first)
            in = !in;
    }
    return in;
}

using Segment = std::pair<XY, XY>;

}  // namespace

TopologyGdb::TopologyGdb(const std::filesystem::path& file, double tolerance) {
    IWorkspaceFactoryPtr factory(CLSID_AccessWorkspaceFactory);
    workspace = factory->Create(file.parent_path().string().c_str(), file.filename().string().c_str());
    IFeatureWorkspacePtr fws(workspace);
    dataset = fws->CreateFeatureDataset("S57", ISpatialReferencePtr(CLSID_SpatialReferenceWGS84));
    area = dataset->CreateFeatureClass("Area", featureFields(esriGeometryPolygon), nullptr, nullptr, esriFTSimple, "SHAPE");
    line = dataset->CreateFeatureClass("Line", featureFields(esriGeometryPolyline), nullptr, nullptr, esriFTSimple, "SHAPE");
    point = dataset->CreateFeatureClass("Point", featureFields(esriGeometryPoint), nullptr, nullptr, esriFTSimple, "SHAPE");
    topology = ITopologyContainerPtr(dataset)->CreateTopology("S57_Topology", tolerance);
    topology->AddClass(area);
    topology->AddClass(line);
    topology->AddClass(point);
}

LONG TopologyGdb::insert(IFeatureClass* cls, IGeometry* shape, const std::string& name) {
    IFeatureBufferPtr buffer = cls->CreateFeatureBuffer();
    buffer->PutRefShape(shape);
    buffer->PutValue(buffer->GetFields()->FindField(L"NAME"), _variant_t(name.c_str()));
    IFeatureCursorPtr cursor = cls->Insert(VARIANT_TRUE);
    const _variant_t oid = cursor->InsertFeature(buffer);
    cursor->Flush();
    return LONG(oid);
}

LONG TopologyGdb::addArea(const std::string& name, const std::vector<Ring>& rings) {
    IPolygonPtr polygon(CLSID_Polygon);
    IGeometryCollectionPtr parts(polygon);
    for (const Ring& r : rings) {
        IRingPtr ring(CLSID_Ring);
        IPointCollectionPtr pc(ring);
        for (auto [x, y] : r) pc->AddPoint(pointAt(x, y));
        ring->Close();
        parts->AddGeometry(ring);
    }
    return insert(area, polygon, name);
}

LONG TopologyGdb::addLine(const std::string& name, const Ring& path) {
    IPolylinePtr l(CLSID_Polyline);
    IPointCollectionPtr pc(l);
    for (auto [x, y] : path) pc->AddPoint(pointAt(x, y));
    return insert(line, l, name);
}

LONG TopologyGdb::addPoint(const std::string& name, double x, double y) { return insert(point, pointAt(x, y), name); }

ITopologyGraphPtr TopologyGdb::build(double xmin, double ymin, double xmax, double ymax) {
    IEnvelopePtr env(CLSID_Envelope);
    env->PutCoords(xmin, ymin, xmax, ymax);
    ITopologyGraphPtr graph = topology->GetCache();
    graph->Build(env, VARIANT_FALSE);
    return graph;
}

GraphView viewOf(ITopologyGraph* graph) {
    GraphView view;
    IEnumTopologyNodePtr nodes = graph->GetNodes();
    for (ITopologyNodePtr n = nodes->Next(); n; n = nodes->Next())
        view.nodes.push_back({nodeAt(n), long(n->GetDegree()), namesOf(n->GetParents())});
    IEnumTopologyEdgePtr edges = graph->GetEdges();
    for (ITopologyEdgePtr e = edges->Next(); e; e = edges->Next()) {
        EdgeView v;
        v.from = int(e->GetFromNode()->GetIndex());
        v.to = int(e->GetToNode()->GetIndex());
        v.points = pointsOf(e->GetGeometry());
        v.parents = namesOf(e->GetParents());
        v.left = namesOf(e->GetLeftParents());
        v.right = namesOf(e->GetRightParents());
        view.edges.push_back(std::move(v));
    }
    return view;
}

std::string describe(const GraphView& view) {
    std::ostringstream s;
    auto list = [&](const std::vector<std::string>& l) {
        s << "[";
        for (std::size_t i = 0; i < l.size(); ++i) s << (i ? " " : "") << l[i];
        s << "]";
    };
    for (std::size_t i = 0; i < view.nodes.size(); ++i) {
        const NodeView& n = view.nodes[i];
        s << "node " << i << " (" << n.at.first << " " << n.at.second << ") degree " << n.degree << " ";
        list(n.parents);
        s << "\n";
    }
    for (std::size_t i = 0; i < view.edges.size(); ++i) {
        const EdgeView& e = view.edges[i];
        s << "edge " << i << " " << e.from << "->" << e.to << " (";
        for (std::size_t k = 0; k < e.points.size(); ++k) s << (k ? ", " : "") << e.points[k].first << " " << e.points[k].second;
        s << ") all ";
        list(e.parents);
        s << " left ";
        list(e.left);
        s << " right ";
        list(e.right);
        s << "\n";
    }
    return s.str();
}

void expectNodedExactly(ITopologyGraph* graph) {
    std::vector<XY> nodes;
    IEnumTopologyNodePtr nodeEnum = graph->GetNodes();
    for (ITopologyNodePtr n = nodeEnum->Next(); n; n = nodeEnum->Next()) nodes.push_back(nodeAt(n));
    const std::set<XY> nodeSet(nodes.begin(), nodes.end());
    EXPECT_EQ(nodeSet.size(), nodes.size()) << "two nodes at one place";

    std::map<XY, int> interior;  // vertex -> edges that hold it inside
    std::vector<std::vector<XY>> lines;
    IEnumTopologyEdgePtr edges = graph->GetEdges();
    for (ITopologyEdgePtr e = edges->Next(); e; e = edges->Next()) {
        const std::vector<XY> pts = pointsOf(e->GetGeometry());
        ASSERT_GE(pts.size(), 2u);
        EXPECT_EQ(pts.front(), nodes[std::size_t(e->GetFromNode()->GetIndex())]) << "edge " << e->GetIndex();
        EXPECT_EQ(pts.back(), nodes[std::size_t(e->GetToNode()->GetIndex())]) << "edge " << e->GetIndex();
        for (std::size_t i = 1; i + 1 < pts.size(); ++i) {
            ++interior[pts[i]];
            EXPECT_FALSE(nodeSet.count(pts[i])) << "edge " << e->GetIndex() << " passes node " << pts[i].first << " "
                                                << pts[i].second;
        }
        lines.push_back(pts);
    }
    for (const auto& [at, count] : interior)
        EXPECT_EQ(count, 1) << "vertex " << at.first << " " << at.second << " inside " << count << " edges";

    // GEOS nodes the edges again: nothing may be split.
    GEOSContextHandle_t ctx = GEOS_init_r();
    std::vector<GEOSGeometry*> geoms;
    std::size_t segments = 0;
    for (const auto& pts : lines) {
        GEOSCoordSequence* seq = GEOSCoordSeq_create_r(ctx, unsigned(pts.size()), 2);
        for (std::size_t i = 0; i < pts.size(); ++i) GEOSCoordSeq_setXY_r(ctx, seq, unsigned(i), pts[i].first, pts[i].second);
        geoms.push_back(GEOSGeom_createLineString_r(ctx, seq));
        segments += pts.size() - 1;
    }
    GEOSGeometry* all = GEOSGeom_createCollection_r(ctx, GEOS_MULTILINESTRING, geoms.data(), unsigned(geoms.size()));
    GEOSGeometry* noded = GEOSNode_r(ctx, all);
    ASSERT_TRUE(noded);
    std::size_t nodedSegments = 0;
    for (int i = 0; i < GEOSGetNumGeometries_r(ctx, noded); ++i)
        nodedSegments += std::size_t(GEOSGeomGetNumPoints_r(ctx, GEOSGetGeometryN_r(ctx, noded, i))) - 1;
    EXPECT_EQ(nodedSegments, segments) << "noding the edges again splits segments";
    GEOSGeom_destroy_r(ctx, noded);
    GEOSGeom_destroy_r(ctx, all);
    GEOS_finish_r(ctx);
}

void expectFeaturesReassembled(ITopologyGraph* graph, const std::map<FeatureKey, IGeometryPtr>& features,
                               double addedVertexOffset) {
    // What the edges give each feature: area segments directed with the area on the right (from
    // the left and right parents), line segments either way.
    std::map<FeatureKey, std::multiset<Segment>> fromEdges;
    IEnumTopologyEdgePtr edges = graph->GetEdges();
    for (ITopologyEdgePtr e = edges->Next(); e; e = edges->Next()) {
        const std::vector<XY> pts = pointsOf(e->GetGeometry());
        auto add = [&](IEnumTopologyParent* parents, int direction) {
            TopologyParent p{};
            while (parents->Next(&p)) {
                auto& set = fromEdges[{std::string(_bstr_t(p.className, true)), p.oid}];
                for (std::size_t i = 0; i + 1 < pts.size(); ++i)
                    set.insert(direction < 0 ? Segment{pts[i + 1], pts[i]} : Segment{pts[i], pts[i + 1]});
            }
        };
        add(e->GetRightParents(), 1);
        add(e->GetLeftParents(), -1);
        // An area on neither side runs along the edge both ways (a slit between its rings).
        std::set<FeatureKey> sided;
        for (IEnumTopologyParentPtr side : {e->GetLeftParents(), e->GetRightParents()}) {
            TopologyParent p{};
            while (side->Next(&p)) sided.insert({std::string(_bstr_t(p.className, true)), p.oid});
        }
        IEnumTopologyParentPtr all = e->GetParents();
        TopologyParent p{};
        while (all->Next(&p)) {
            FeatureKey key{std::string(_bstr_t(p.className, true)), p.oid};
            if (p.featureClass->GetShapeType() == esriGeometryPolygon && !sided.count(key)) {
                auto& set = fromEdges[key];
                for (std::size_t i = 0; i + 1 < pts.size(); ++i) {
                    set.insert({pts[i], pts[i + 1]});
                    set.insert({pts[i + 1], pts[i]});
                }
            }
        }
        all->Reset();
        while (all->Next(&p))
            if (p.featureClass->GetShapeType() == esriGeometryPolyline) {
                auto& set = fromEdges[{std::string(_bstr_t(p.className, true)), p.oid}];
                for (std::size_t i = 0; i + 1 < pts.size(); ++i) set.insert(std::minmax(pts[i], pts[i + 1]));
            }
    }

    // Vertices land on the grid of the tolerance.
    const double scale = std::round(1 / addedVertexOffset);
    auto snap = [&](std::vector<XY> pts) {
        for (XY& p : pts) p = {std::round(p.first * scale) / scale, std::round(p.second * scale) / scale};
        return pts;
    };
    for (const auto& [key, shape] : features) {
        std::multiset<Segment> expected;
        const esriGeometryType type = shape->GetGeometryType();
        if (type == esriGeometryPolygon) {
            const auto rings = partsOf(shape);
            for (std::size_t r = 0; r < rings.size(); ++r) {
                std::vector<XY> ring = snap(rings[r]);
                if (ring.size() > 1 && ring.front() == ring.back()) ring.pop_back();
                int depth = 0;
                for (std::size_t o = 0; o < rings.size(); ++o)
                    if (o != r && inside(ring[0], rings[o])) ++depth;
                const bool hole = depth % 2 == 1;
                // Clockwise exteriors and counter-clockwise holes have the area on their right.
                const bool reverse = (signedArea(ring) > 0) != hole;
                if (reverse) std::reverse(ring.begin(), ring.end());
                for (std::size_t i = 0; i < ring.size(); ++i) {
                    const XY& a = ring[i];
                    const XY& b = ring[(i + 1) % ring.size()];
                    if (a != b) expected.insert({a, b});
                }
            }
        } else if (type == esriGeometryPolyline) {
            for (const auto& part : partsOf(shape))
                for (std::size_t i = 0; i + 1 < part.size(); ++i)
                    if (const auto path = snap(part); path[i] != path[i + 1]) expected.insert(std::minmax(path[i], path[i + 1]));
        } else {
            continue;
        }
        const auto it = fromEdges.find(key);
        const std::vector<Segment> given = it == fromEdges.end() ? std::vector<Segment>()
                                                                : std::vector<Segment>(it->second.begin(), it->second.end());
        const bool directed = type == esriGeometryPolygon;
        std::multimap<XY, std::size_t> from;  // segment ends (starts only for directed) to segments
        for (std::size_t i = 0; i < given.size(); ++i) {
            from.insert({given[i].first, i});
            if (!directed) from.insert({given[i].second, i});
        }
        std::vector<char> used(given.size(), 0);
        // Each expected segment must come back whole, or split at vertices within addedVertexOffset
        // of it (where the noding met other linework).
        std::size_t missing = 0;
        std::ostringstream first;
        for (const Segment& s : expected) {
            XY at = s.first;
            const XY& to = s.second;
            const double dx = to.first - s.first.first, dy = to.second - s.first.second;
            const double length = std::hypot(dx, dy);
            while (at != to) {
                std::size_t best = given.size();
                XY bestNext{};
                double bestLeft = std::hypot(to.first - at.first, to.second - at.second);
                for (auto [c, e] = from.equal_range(at); c != e; ++c) {
                    if (used[c->second]) continue;
                    const Segment& g = given[c->second];
                    const XY& next = g.first == at ? g.second : g.first;
                    const double off = std::fabs((next.first - s.first.first) * dy - (next.second - s.first.second) * dx) / length;
                    const double left = std::hypot(to.first - next.first, to.second - next.second);
                    if ((next == to || off <= addedVertexOffset) && left < bestLeft) {
                        best = c->second;
                        bestNext = next;
                        bestLeft = left;
                    }
                }
                if (best == given.size()) {
                    if (missing++ == 0)
                        first << " first missing (" << s.first.first << " " << s.first.second << ")-(" << to.first << " "
                              << to.second << ")";
                    break;
                }
                used[best] = 1;
                at = bestNext;
            }
        }
        std::vector<Segment> got;
        for (std::size_t i = 0; i < given.size(); ++i)
            if (!used[i]) got.push_back(given[i]);
        if (missing || !got.empty()) {
            if (!got.empty())
                first << " first extra (" << got.front().first.first << " " << got.front().first.second << ")-("
                      << got.front().second.first << " " << got.front().second.second << ")";
            ADD_FAILURE() << key.first << " " << key.second << ": " << expected.size() << " segments, " << missing
                          << " not given by its edges, " << got.size() << " edge segments left over;" << first.str();
        }
    }
}

}  // namespace topotest
