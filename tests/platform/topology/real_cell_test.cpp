// tests/platform/topology/real_cell_test.cpp: the topology cache over real cells imported with
// `tarvo import`: over the cell's extent, every area's rings and every line's paths come back from
// their edges, edges meet only at nodes, and every point feature on a node is the node's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "platform/geometry/shape.h"
#include "platform/topology/graph_build.h"
#include "support/test_data.h"
#include "topology_fixture.h"

using namespace topotest;

namespace {

struct Cell {
    const char* name;
    const char* file;  // under the data folder
};

const Cell kCells[] = {
    {"US4CN21M", "enc/US4CN21M/US4CN21M.000"},
    {"US5MA12M", "enc/US5MA12M/US5MA12M.000"},
    {"US1AK90M", "enc/US1AK90M/US1AK90M.000"},
    {"AA400001", "s58/AA400001/ENC_ROOT/AA400001.000"},
    {"AA400004", "s58/AA400004/ENC_ROOT/AA400004.000"},
};

class RealCells : public ::testing::TestWithParam<Cell> {};

TEST_P(RealCells, EdgesGiveBackEveryFeature) {
    SKIP_WITHOUT_DATA();
    const std::string cell = testdata::path(GetParam().file);
    if (!std::filesystem::exists(cell)) GTEST_SKIP() << cell << " is absent";
    const std::string tool = std::string(TARVO_BINARY_DIR) + "/bin/tarvo";
    if (!std::filesystem::exists(tool)) GTEST_SKIP() << tool << " is not built";
    TempDir dir;
    // The import's log goes beside its input: the cell is linked into the scratch folder.
    const std::filesystem::path input = dir.path / std::filesystem::path(cell).filename();
    std::filesystem::create_symlink(cell, input);
    const std::filesystem::path gdbPath = dir.path / "cell.gpkg";
    const std::string command = "'" + tool + "' import '" + input.string() + "' '" + gdbPath.string() +
                                "' </dev/null >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    IWorkspaceFactoryPtr factory(CLSID_AccessWorkspaceFactory);
    IFeatureWorkspacePtr workspace = factory->OpenFromFile(gdbPath.string().c_str());
    ITopologyContainerPtr dataset = workspace->OpenFeatureDataset("S57");
    ASSERT_GT(dataset->GetTopologyCount(), 0);
    ITopologyPtr topology = dataset->GetTopology(0);

    // The features of the member classes and their extent.
    std::map<FeatureKey, IGeometryPtr> features;
    std::set<FeatureKey> points;
    IEnvelopePtr extent(CLSID_Envelope);
    IEnumFeatureClassPtr classes = topology->GetClasses();
    for (IFeatureClassPtr cls = classes->Next(); cls; cls = classes->Next()) {
        const std::string name(IDatasetPtr(cls)->GetName());
        IFeatureCursorPtr cursor = cls->Search(nullptr, VARIANT_FALSE);
        for (IFeaturePtr f = cursor->NextFeature(); f; f = cursor->NextFeature()) {
            IGeometryPtr shape = f->GetShape();
            if (!shape || shape->GetIsEmpty()) continue;
            features[{name, f->GetOID()}] = shape;
            if (cls->GetShapeType() == esriGeometryPoint) points.insert({name, f->GetOID()});
            if (extent->GetIsEmpty())
                extent = shape->GetEnvelope();
            else
                extent->Union(shape->GetEnvelope());
        }
    }
    ASSERT_FALSE(features.empty());
    extent->Expand(extent->GetWidth() / 100, extent->GetHeight() / 100, VARIANT_FALSE);
    ITopologyGraphPtr graph = topology->GetCache();
    graph->Build(extent, VARIANT_FALSE);

    expectNodedExactly(graph);
    expectFeaturesReassembled(graph, features, topology->GetClusterTolerance());

    // A point feature is on a node when the node lies at its point.
    std::size_t onNodes = 0;
    IEnumTopologyNodePtr nodes = graph->GetNodes();
    for (ITopologyNodePtr n = nodes->Next(); n; n = nodes->Next()) {
        IPointPtr at(n->GetGeometry());
        IEnumTopologyParentPtr parents = n->GetParents();
        TopologyParent p{};
        while (parents->Next(&p)) {
            const FeatureKey key{std::string(_bstr_t(p.className, true)), p.oid};
            if (!points.count(key)) continue;
            IPointPtr feature(features[key]);
            EXPECT_EQ(feature->GetX(), at->GetX());
            EXPECT_EQ(feature->GetY(), at->GetY());
            ++onNodes;
        }
    }
    // GEOS's floating noding and its snap-rounding noding find the same hot pixels here.
    std::vector<topo::GraphFeature> shapes;
    for (const auto& [key, shape] : features) {
        const esriGeometryType type = shape->GetGeometryType();
        shapes.push_back({type == esriGeometryPolygon    ? topo::FeatureKind::Area
                          : type == esriGeometryPolyline ? topo::FeatureKind::Line
                                                         : topo::FeatureKind::Point,
                          &geom::shapeOf(shape)});
    }
    const double tolerance = topology->GetClusterTolerance();
    const topo::Graph fast = topo::buildGraph(shapes, tolerance, topo::CrossingFinder::Floating);
    const topo::Graph snapped = topo::buildGraph(shapes, tolerance, topo::CrossingFinder::SnapRounding);
    ASSERT_EQ(fast.edges.size(), snapped.edges.size());
    ASSERT_EQ(fast.nodes.size(), snapped.nodes.size());
    for (std::size_t i = 0; i < fast.edges.size(); ++i) {
        const topo::GraphEdge& a = fast.edges[i];
        const topo::GraphEdge& b = snapped.edges[i];
        EXPECT_TRUE(a.from == b.from && a.to == b.to && a.parents == b.parents && a.points.size() == b.points.size() &&
                    std::equal(a.points.begin(), a.points.end(), b.points.begin(),
                               [](const WKSPoint& p, const WKSPoint& q) { return p.X == q.X && p.Y == q.Y; }))
            << "edge " << i;
    }

    // No linework twice: no two edges join the same nodes along the same vertices.
    std::set<std::vector<double>> linework;
    for (const topo::GraphEdge& e : fast.edges) {
        std::vector<WKSPoint> points = e.points;
        if (e.to < e.from || (e.to == e.from && (points.back().X < points.front().X ||
                                                 (points.back().X == points.front().X && points.back().Y < points.front().Y))))
            std::reverse(points.begin(), points.end());
        std::vector<double> key{double(std::min(e.from, e.to)), double(std::max(e.from, e.to))};
        for (const WKSPoint& p : points) key.insert(key.end(), {p.X, p.Y});
        EXPECT_TRUE(linework.insert(key).second) << "edge " << e.from << "-" << e.to << " twice";
    }

    // The cell's own primitives, beside the rebuilt ones.
    const LONG ve = workspace->OpenFeatureClass("ve")->FeatureCount(nullptr);
    const LONG vc = workspace->OpenFeatureClass("vc")->FeatureCount(nullptr);
    RecordProperty("edges", int(graph->GetEdges()->GetCount()));
    RecordProperty("nodes", int(graph->GetNodes()->GetCount()));
    std::printf("%s: %ld edges and %ld nodes rebuilt (the cell has %ld edges, %ld connected nodes); "
                "%zu of %zu point features on nodes\n",
                GetParam().name, long(graph->GetEdges()->GetCount()), long(graph->GetNodes()->GetCount()), long(ve),
                long(vc), onNodes, points.size());
}

INSTANTIATE_TEST_SUITE_P(Topology, RealCells, ::testing::ValuesIn(kCells),
                         [](const auto& i) { return std::string(i.param.name); });

}  // namespace
