// tests/platform/topology/build_ahead_test.cpp: a build of the topology cache begun ahead
// (beginTopologyGraphBuild): the graph read at the start and noded aside is the one a Build over
// the same envelope gives; another envelope, a failure and a cache given up stay as without it.
#include <gtest/gtest.h>

#include <string>

#include "platform/com/com_error.h"
#include "topology_fixture.h"

namespace {

using namespace topotest;

const Ring kLeftSquare = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
const Ring kRightSquare = {{1, 0}, {1, 1}, {2, 1}, {2, 0}};
const Ring kCrossing = {{-0.5, 0.5}, {2.5, 0.5}};

IEnvelopePtr box(double xmin, double ymin, double xmax, double ymax) {
    IEnvelopePtr e(CLSID_Envelope);
    e->PutCoords(xmin, ymin, xmax, ymax);
    return e;
}

TEST(TopologyBuildAhead, GivesTheGraphOfAPlainBuild) {
    TempDir dir;
    TopologyGdb gdb(dir.path / "t.gpkg");
    gdb.addArea("A", {kLeftSquare});
    gdb.addArea("B", {kRightSquare});
    gdb.addLine("L", kCrossing);
    gdb.addPoint("P", 1, 1);
    const std::string plain = describe(viewOf(gdb.build(-10, -10, 10, 10)));

    ITopologyGraphPtr graph = gdb.topology->GetCache();
    ASSERT_EQ(beginTopologyGraphBuild(graph, box(-10, -10, 10, 10)), S_OK);
    // Written after the start: a build over the same envelope takes the graph begun, ...
    gdb.addArea("C", {{{5, 5}, {5, 6}, {6, 6}, {6, 5}}});
    ASSERT_EQ(graph->raw_Build(box(-10, -10, 10, 10), VARIANT_FALSE), S_OK);
    EXPECT_EQ(describe(viewOf(graph)), plain);
    double xmin = 0, ymin = 0, xmax = 0, ymax = 0;
    graph->GetBuildExtent()->QueryCoords(&xmin, &ymin, &xmax, &ymax);
    EXPECT_EQ(xmax, 10);
    // ... and only once: the next build reads anew.
    graph = gdb.build(-10, -10, 10, 10);
    EXPECT_NE(describe(viewOf(graph)), plain);

    // A build over another envelope reads anew.
    ASSERT_EQ(beginTopologyGraphBuild(graph, box(-10, -10, 10, 10)), S_OK);
    graph = gdb.build(-1, -1, 0.25, 0.25);
    EXPECT_EQ(describe(viewOf(graph)),
              "node 0 (0 0) degree 2 [A]\n"
              "edge 0 0->0 (0 0, 0 1, 1 1, 1 0, 0 0) all [A:E] left [] right [A:E]\n");

    // Begun and given up: nothing is left running or held when the cache goes.
    ASSERT_EQ(beginTopologyGraphBuild(graph, box(-10, -10, 10, 10)), S_OK);
}

TEST(TopologyBuildAhead, FailsAtTheBuildAsAPlainBuild) {
    TempDir dir;
    // A grid too fine for the coordinates: the noding fails.
    TopologyGdb fine(dir.path / "fine.gpkg", 1e-15);
    fine.addArea("A", {{{170, 80}, {171, 80}, {171, 81}, {170, 81}}});
    ITopologyGraphPtr graph = fine.topology->GetCache();
    const HRESULT plain = graph->raw_Build(box(-180, -90, 180, 90), VARIANT_FALSE);
    const std::wstring plainText = takeErrorDescription();
    ASSERT_EQ(plain, E_FAIL);

    ASSERT_EQ(beginTopologyGraphBuild(graph, box(-180, -90, 180, 90)), S_OK) << "a failure waits for the build";
    EXPECT_EQ(graph->raw_Build(box(-180, -90, 180, 90), VARIANT_FALSE), plain);
    EXPECT_EQ(takeErrorDescription(), plainText);
    IEnumTopologyEdge* edges = nullptr;
    EXPECT_EQ(graph->get_Edges(&edges), GDB_E_NO_ROW) << "the cache stays empty";

    // An empty envelope begins nothing; the build refuses it as ever.
    ASSERT_EQ(beginTopologyGraphBuild(graph, IEnvelopePtr(CLSID_Envelope)), S_OK);
    EXPECT_EQ(graph->raw_Build(IEnvelopePtr(CLSID_Envelope), VARIANT_FALSE), E_INVALIDARG);
    EXPECT_EQ(beginTopologyGraphBuild(nullptr, box(0, 0, 1, 1)), E_POINTER);
}

}  // namespace
