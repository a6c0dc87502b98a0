// tests/platform/topology/real_cell_test.cpp: the topology cache over real cells imported with
// `tarvo import`: over the cell's extent, every area's rings and every line's paths come back from
// their edges, edges meet only at nodes, and every point feature on a node is the node's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

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
    {"AA400001", "s58/AA400001/ENC_ROOT/AA400001/AA400001.000"},
};

class RealCells : public ::testing::TestWithParam<Cell> {};

TEST_P(RealCells, EdgesGiveBackEveryFeature) {
    SKIP_WITHOUT_DATA();
    const std::string cell = testdata::path(GetParam().file);
    if (!std::filesystem::exists(cell)) GTEST_SKIP() << cell << " is absent";
    TempDir dir;
    const std::filesystem::path gdbPath = dir.path / "cell.gpkg";
    const std::string command = std::string("'") + TARVO_BINARY_DIR + "/bin/tarvo' import '" + cell + "' '" +
                                gdbPath.string() + "' </dev/null >/dev/null 2>&1";
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
