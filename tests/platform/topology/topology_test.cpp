// tests/platform/topology/topology_test.cpp: the topology cache over small data built in code:
// the graph each case must give (nodes, edges, directions, left/right/all parents and rings),
// that it does not depend on row order, and the cache's failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "topology_fixture.h"

using namespace topotest;

namespace {

std::map<FeatureKey, IGeometryPtr> featuresOf(TopologyGdb& gdb) {
    std::map<FeatureKey, IGeometryPtr> out;
    for (IFeatureClass* cls : {gdb.area.GetInterfacePtr(), gdb.line.GetInterfacePtr(), gdb.point.GetInterfacePtr()}) {
        const std::string name(IDatasetPtr(cls)->GetName());
        IFeatureCursorPtr cursor = cls->Search(nullptr, VARIANT_FALSE);
        for (IFeaturePtr f = cursor->NextFeature(); f; f = cursor->NextFeature()) out[{name, f->GetOID()}] = f->GetShape();
    }
    return out;
}

const Ring kLeftSquare{{0, 0}, {1, 0}, {1, 1}, {0, 1}};
const Ring kRightSquare{{1, 0}, {2, 0}, {2, 1}, {1, 1}};

struct GraphCase {
    const char* name;
    std::function<void(TopologyGdb&)> fill;
    std::string expected;  // describe() of the graph
};
void PrintTo(const GraphCase& c, std::ostream* os) { *os << c.name; }

const GraphCase kGraphCases[] = {
    {"TwoSquaresShareAnEdge",
     [](TopologyGdb& g) {
         g.addArea("A", {kLeftSquare});
         g.addArea("B", {kRightSquare});
     },
     "node 0 (1 0) degree 3 [A B]\n"
     "node 1 (1 1) degree 3 [A B]\n"
     "edge 0 0->1 (1 0, 0 0, 0 1, 1 1) all [A:E] left [] right [A:E]\n"
     "edge 1 0->1 (1 0, 1 1) all [A:E B:E] left [A:E] right [B:E]\n"
     "edge 2 0->1 (1 0, 2 0, 2 1, 1 1) all [B:E] left [B:E] right []\n"},
    {"HoleTouchesExteriorAtOneVertex",
     [](TopologyGdb& g) { g.addArea("A", {{{0, 0}, {4, 0}, {4, 4}, {0, 4}}, {{2, 0}, {3, 2}, {1, 2}}}); },
     "node 0 (2 0) degree 4 [A]\n"
     "edge 0 0->0 (2 0, 0 0, 0 4, 4 4, 4 0, 2 0) all [A:E] left [] right [A:E]\n"
     "edge 1 0->0 (2 0, 1 2, 3 2, 2 0) all [A:I] left [A:I] right []\n"},
    {"LineCrossesPolygon",
     [](TopologyGdb& g) {
         g.addArea("A", {{{0, 0}, {2, 0}, {2, 2}, {0, 2}}});
         g.addLine("L", {{1, -1}, {1, 3}});
     },
     "node 0 (1 -1) degree 1 [L]\n"
     "node 1 (1 0) degree 4 [A L]\n"
     "node 2 (1 2) degree 4 [A L]\n"
     "node 3 (1 3) degree 1 [L]\n"
     "edge 0 0->1 (1 -1, 1 0) all [L] left [] right []\n"
     "edge 1 1->2 (1 0, 0 0, 0 2, 1 2) all [A:E] left [] right [A:E]\n"
     "edge 2 1->2 (1 0, 1 2) all [L] left [] right []\n"
     "edge 3 1->2 (1 0, 2 0, 2 2, 1 2) all [A:E] left [A:E] right []\n"
     "edge 4 2->3 (1 2, 1 3) all [L] left [] right []\n"},
    {"RingsWithoutNodes",
     [](TopologyGdb& g) {
         g.addArea("A", {{{0, 0}, {1, 0}, {1, 1}, {0, 1}}});
         g.addLine("C", {{6, 6}, {5, 6}, {5, 5}, {6, 5}, {6, 6}});
     },
     "node 0 (0 0) degree 2 [A]\n"
     "node 1 (6 6) degree 2 [C]\n"
     "edge 0 0->0 (0 0, 0 1, 1 1, 1 0, 0 0) all [A:E] left [] right [A:E]\n"
     "edge 1 1->1 (6 6, 5 6, 5 5, 6 5, 6 6) all [C] left [] right []\n"},
    {"PointsOnNodes",
     [](TopologyGdb& g) {
         g.addArea("A", {kLeftSquare});
         g.addArea("B", {kRightSquare});
         g.addPoint("P", 1, 0);
         g.addPoint("Q", 0.5, 0);  // on an edge, not a node
         g.addPoint("R", 1, 0);
     },
     "node 0 (1 0) degree 3 [A B P R]\n"
     "node 1 (1 1) degree 3 [A B]\n"
     "edge 0 0->1 (1 0, 0 0, 0 1, 1 1) all [A:E] left [] right [A:E]\n"
     "edge 1 0->1 (1 0, 1 1) all [A:E B:E] left [A:E] right [B:E]\n"
     "edge 2 0->1 (1 0, 2 0, 2 1, 1 1) all [B:E] left [B:E] right []\n"},
    {"LineEndsWithinTheToleranceOfAnEdge",
     [](TopologyGdb& g) {
         g.addArea("A", {kLeftSquare});
         g.addLine("L", {{0.5, -1}, {0.5, 0.00000004}});
     },
     "node 0 (0.5 -1) degree 1 [L]\n"
     "node 1 (0.5 0) degree 3 [A L]\n"
     "edge 0 0->1 (0.5 -1, 0.5 0) all [L] left [] right []\n"
     "edge 1 1->1 (0.5 0, 0 0, 0 1, 1 1, 1 0, 0.5 0) all [A:E] left [] right [A:E]\n"},
    {"HoleSharesASegmentWithTheExterior",  // a slit: the area lies on neither side of it
     [](TopologyGdb& g) { g.addArea("A", {{{0, 0}, {4, 0}, {4, 4}, {0, 4}}, {{1, 0}, {2, 0}, {2, 1}, {1, 1}}}); },
     "node 0 (1 0) degree 3 [A]\n"
     "node 1 (2 0) degree 3 [A]\n"
     "edge 0 0->1 (1 0, 0 0, 0 4, 4 4, 4 0, 2 0) all [A:E] left [] right [A:E]\n"
     "edge 1 0->1 (1 0, 1 1, 2 1, 2 0) all [A:I] left [A:I] right []\n"
     "edge 2 0->1 (1 0, 2 0) all [A:EI] left [] right []\n"},
    // A straight segment run by an area and a line, and a line one grid cell off it near its end:
    // the segment is one edge with both parents; the kinked run another edge between the same nodes.
    {"StraightSegmentBesideAKinkedRun",
     [](TopologyGdb& g) {
         g.addArea("A", {{{0, 0}, {1, 0}, {1, 1}, {0, 1}}});
         g.addLine("L", {{1, 0}, {0, 0}});
         g.addLine("M", {{0, 0}, {0.0000001, -0.0000001}, {1, 0}});
     },
     "node 0 (0 0) degree 3 [A L M]\n"
     "node 1 (1 0) degree 3 [A L M]\n"
     "edge 0 0->1 (0 0, 0 1, 1 1, 1 0) all [A:E] left [] right [A:E]\n"
     "edge 1 0->1 (0 0, 1e-07 -1e-07, 1 0) all [M] left [] right []\n"
     "edge 2 0->1 (0 0, 1 0) all [A:E L] left [A:E] right []\n"},
    {"ParentsChangeAlongALine",
     [](TopologyGdb& g) {
         g.addLine("L", {{0, 0}, {1, 0}, {2, 0}, {3, 0}});
         g.addLine("M", {{1, 0}, {2, 0}});
     },
     "node 0 (0 0) degree 1 [L]\n"
     "node 1 (1 0) degree 2 [L M]\n"
     "node 2 (2 0) degree 2 [L M]\n"
     "node 3 (3 0) degree 1 [L]\n"
     "edge 0 0->1 (0 0, 1 0) all [L] left [] right []\n"
     "edge 1 1->2 (1 0, 2 0) all [L M] left [] right []\n"
     "edge 2 2->3 (2 0, 3 0) all [L] left [] right []\n"},
};

// Linework that meets no other but at shared ends takes no part in finding crossings: two lines, L
// and M, that cross, end inside one another's segment or overlap in part, beside an area A they do
// not touch, whose node and edge are described after theirs.
struct LinesCase {
    const char* name;
    Ring l, m;
    const char* nodes;  // describe() of the lines' nodes and edges
    const char* edges;
};

const LinesCase kLinesBesideAnArea[] = {
    {"LinesCrossBesideOtherLinework", {{0, 0}, {2, 2}}, {{0, 2}, {2, 0}},
     "node 0 (0 0) degree 1 [L]\n"
     "node 1 (0 2) degree 1 [M]\n"
     "node 2 (1 1) degree 4 [L M]\n"
     "node 3 (2 0) degree 1 [M]\n"
     "node 4 (2 2) degree 1 [L]\n",
     "edge 0 0->2 (0 0, 1 1) all [L] left [] right []\n"
     "edge 1 1->2 (0 2, 1 1) all [M] left [] right []\n"
     "edge 2 2->3 (1 1, 2 0) all [M] left [] right []\n"
     "edge 3 2->4 (1 1, 2 2) all [L] left [] right []\n"},
    {"LineEndsInsideAnotherSegment", {{0, 0}, {2, 0}}, {{1, 0}, {1, 1}},
     "node 0 (0 0) degree 1 [L]\n"
     "node 1 (1 0) degree 3 [L M]\n"
     "node 2 (1 1) degree 1 [M]\n"
     "node 3 (2 0) degree 1 [L]\n",
     "edge 0 0->1 (0 0, 1 0) all [L] left [] right []\n"
     "edge 1 1->2 (1 0, 1 1) all [M] left [] right []\n"
     "edge 2 1->3 (1 0, 2 0) all [L] left [] right []\n"},
    {"LinesOverlapAlongPartOfASegment", {{0, 0}, {3, 0}}, {{1, 0}, {4, 0}},
     "node 0 (0 0) degree 1 [L]\n"
     "node 1 (1 0) degree 2 [L M]\n"
     "node 2 (3 0) degree 2 [L M]\n"
     "node 3 (4 0) degree 1 [M]\n",
     "edge 0 0->1 (0 0, 1 0) all [L] left [] right []\n"
     "edge 1 1->2 (1 0, 3 0) all [L M] left [] right []\n"
     "edge 2 2->3 (3 0, 4 0) all [M] left [] right []\n"},
};

// The graph cases of kLinesBesideAnArea: the area's node and edge numbered after the lines'.
std::vector<GraphCase> linesBesideAnArea() {
    const auto count = [](std::string_view lines) {
        return std::to_string(std::count(lines.begin(), lines.end(), '\n'));
    };
    std::vector<GraphCase> out;
    for (const LinesCase& c : kLinesBesideAnArea) {
        const std::string node = count(c.nodes);
        out.push_back({c.name,
                       [c](TopologyGdb& g) {
                           g.addArea("A", {{{10, 10}, {11, 10}, {11, 11}, {10, 11}}});
                           g.addLine("L", c.l);
                           g.addLine("M", c.m);
                       },
                       std::string(c.nodes) + "node " + node + " (10 10) degree 2 [A]\n" + c.edges + "edge " +
                           count(c.edges) + " " + node + "->" + node +
                           " (10 10, 10 11, 11 11, 11 10, 10 10) all [A:E] left [] right [A:E]\n"});
    }
    return out;
}

class Graphs : public ::testing::TestWithParam<GraphCase> {};

TEST_P(Graphs, GiveTheExpectedEdgesAndNodes) {
    TempDir dir;
    TopologyGdb gdb(dir.path / "t.gpkg");
    GetParam().fill(gdb);
    ITopologyGraphPtr graph = gdb.build();
    EXPECT_EQ(describe(viewOf(graph)), GetParam().expected);
    expectNodedExactly(graph);
    expectFeaturesReassembled(graph, featuresOf(gdb), 1e-7);
}

INSTANTIATE_TEST_SUITE_P(Topology, Graphs, ::testing::ValuesIn(kGraphCases),
                         [](const auto& i) { return std::string(i.param.name); });
INSTANTIATE_TEST_SUITE_P(LinesBesideAnArea, Graphs, ::testing::ValuesIn(linesBesideAnArea()),
                         [](const auto& i) { return std::string(i.param.name); });

}  // namespace

namespace {

// Features of every kind, inserted one by one in the order given.
void fillInOrder(TopologyGdb& g, const std::vector<int>& order) {
    const std::function<void()> adds[] = {
        [&] { g.addArea("A", {kLeftSquare}); },
        [&] { g.addArea("B", {kRightSquare}); },
        [&] { g.addArea("H", {{{3, 0}, {7, 0}, {7, 4}, {3, 4}}, {{5, 0}, {6, 2}, {4, 2}}}); },
        [&] { g.addLine("L", {{1.5, -1}, {1.5, 2}, {5, 3}}); },
        [&] { g.addLine("C", {{9, 9}, {8, 9}, {8, 8}, {9, 8}, {9, 9}}); },
        [&] { g.addLine("M", {{1, 1}, {1, 0}}); },
        [&] { g.addPoint("P", 1, 0); },
        [&] { g.addPoint("Q", 5, 0); },
    };
    for (int i : order) adds[i]();
}

TEST(TopologyCache, RowOrderDoesNotChangeTheGraph) {
    const std::vector<std::vector<int>> orders = {
        {0, 1, 2, 3, 4, 5, 6, 7}, {7, 6, 5, 4, 3, 2, 1, 0}, {3, 1, 6, 0, 5, 2, 7, 4}, {5, 2, 4, 7, 0, 3, 6, 1}};
    TempDir dir;
    GraphView first;
    for (std::size_t k = 0; k < orders.size(); ++k) {
        TopologyGdb gdb(dir.path / ("t" + std::to_string(k) + ".gpkg"));
        fillInOrder(gdb, orders[k]);
        ITopologyGraphPtr graph = gdb.build();
        const GraphView view = viewOf(graph);
        if (k == 0) {
            first = view;
            EXPECT_GT(view.edges.size(), 8u);
            expectNodedExactly(graph);
            expectFeaturesReassembled(graph, featuresOf(gdb), 1e-7);
        } else {
            EXPECT_EQ(describe(view), describe(first)) << "order " << k;
        }
    }
}

TEST(TopologyCache, TakesTheFeaturesWhoseExtentMeetsTheEnvelope) {
    TempDir dir;
    TopologyGdb gdb(dir.path / "t.gpkg");
    gdb.addArea("A", {kLeftSquare});
    gdb.addArea("B", {kRightSquare});
    gdb.addLine("Far", {{50, 50}, {51, 51}});
    // The envelope meets A only near its corner; A comes whole, B and Far not at all.
    ITopologyGraphPtr graph = gdb.build(-1, -1, 0.25, 0.25);
    EXPECT_EQ(describe(viewOf(graph)),
              "node 0 (0 0) degree 2 [A]\n"
              "edge 0 0->0 (0 0, 0 1, 1 1, 1 0, 0 0) all [A:E] left [] right [A:E]\n");
    double xmin = 0, ymin = 0, xmax = 0, ymax = 0;
    graph->GetBuildExtent()->QueryCoords(&xmin, &ymin, &xmax, &ymax);
    EXPECT_EQ(xmax, 0.25);
    EXPECT_EQ(std::string(graph->GetTopology()->GetName()), "S57_Topology");
    EXPECT_EQ(gdb.topology->GetCache().GetInterfacePtr(), graph.GetInterfacePtr()) << "one cache per topology object";
}

TEST(TopologyCache, FailsCleanly) {
    TempDir dir;
    TopologyGdb gdb(dir.path / "t.gpkg");
    gdb.addArea("A", {kLeftSquare});
    ITopologyGraphPtr graph = gdb.topology->GetCache();
    IEnumTopologyEdge* edges = nullptr;
    EXPECT_EQ(graph->get_Edges(&edges), GDB_E_NO_ROW) << "not built";
    EXPECT_EQ(graph->get_Edges(nullptr), E_POINTER);
    EXPECT_EQ(graph->raw_Build(nullptr, VARIANT_FALSE), E_INVALIDARG);
    IEnvelopePtr empty(CLSID_Envelope);
    EXPECT_EQ(graph->raw_Build(empty, VARIANT_FALSE), E_INVALIDARG);

    // A rebuilt cache gives new graphs; what was taken from the old one stays as it was.
    graph = gdb.build();
    IEnumTopologyEdgePtr before = graph->GetEdges();
    gdb.addArea("B", {kRightSquare});
    graph = gdb.build();
    EXPECT_EQ(before->GetCount(), 1);
    EXPECT_EQ(graph->GetEdges()->GetCount(), 3);
    ITopologyEdgePtr edge = before->Next();
    IEnumTopologyParentPtr parents = edge->GetParents();
    TopologyParent p{};
    ASSERT_TRUE(parents->Next(&p));
    EXPECT_EQ(std::string(_bstr_t(p.className, true)), "Area");
    EXPECT_EQ(p.oid, 1);
    EXPECT_EQ(p.ring, esriTopologyParentRingExterior);
    EXPECT_FALSE(parents->Next(&p));
    EXPECT_EQ(p.featureClass, nullptr);

    // A grid too fine for the coordinates fails the build and leaves the cache empty.
    TopologyGdb fine(dir.path / "fine.gpkg", 1e-15);
    fine.addArea("A", {{{170, 80}, {171, 80}, {171, 81}, {170, 81}}});
    ITopologyGraphPtr fineGraph = fine.topology->GetCache();
    IEnvelopePtr world(CLSID_Envelope);
    world->PutCoords(-180, -90, 180, 90);
    EXPECT_EQ(fineGraph->raw_Build(world, VARIANT_FALSE), E_FAIL);
    EXPECT_EQ(fineGraph->get_Edges(&edges), GDB_E_NO_ROW);
}

}  // namespace
