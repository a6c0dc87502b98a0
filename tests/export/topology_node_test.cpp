// tests/export/topology_node_test.cpp: a connected node that cannot be named (a point feature on it
// gone after the topology's cache was built) ends the edges' step with a log line naming the edge,
// and no relation row names an empty node.
#include <gtest/gtest.h>

#include <string>

#include "core_fixture.h"
#include "export/aotopology.h"
#include "export/cell_extent.h"
#include "export/srel_list.h"
#include "platform/topology/topology.h"
#include "support/captured_log.h"
#include "support/test_data.h"

namespace {

using coretest::TemplateGdb;
using testsupport::CapturedLog;

TEST(ConnectedNode, WithoutANameTheCellFailsNamingTheEdge) {
    if (!testdata::present()) GTEST_SKIP() << "test data folder " << testdata::root() << " is absent";
    const char* cell = "US5MA12M.000";
    TemplateGdb gdb(testdata::path("enc/US5MA12M/US5MA12M.000"));
    ASSERT_EQ(gdb.importResult(), 0);
    CapturedLog log;
    ASSERT_EQ(getExtent(gdb.ws(), cell), 0) << log.text();
    IGeometryPtr meta = cellSpatialFilter->GetGeometry(), data = cellCoverage->GetGeometry();

    IFeatureDatasetPtr dataset = gdb.fws()->OpenFeatureDataset("S57");
    ITopologyPtr topology = ITopologyContainerPtr(dataset)->GetTopology(0);
    ITopologyGraphPtr cache = topology->GetCache();
    IEnvelopePtr envelope = meta->GetEnvelope();
    envelope->Expand(envelope->GetWidth() / 100, envelope->GetHeight() / 100, VARIANT_FALSE);
    ASSERT_EQ(cache->Build(envelope, VARIANT_FALSE), S_OK);

    // A point feature on an edge's node, deleted after the build.
    bool deleted = false;
    IEnumTopologyEdgePtr edges = cache->GetEdges();
    for (ITopologyEdgePtr edge = edges->Next(); edge && !deleted; edge = edges->Next()) {
        for (ITopologyNodePtr node : {edge->GetFromNode(), edge->GetToNode()}) {
            IEnumTopologyParentPtr parents = node->GetParents();
            TopologyParent p{};
            while (!deleted && parents->Next(&p)) {
                if (p.featureClass->GetShapeType() != esriGeometryPoint) continue;
                ASSERT_EQ(p.featureClass->GetFeature(p.oid)->Delete(), S_OK);
                deleted = true;
            }
        }
    }
    ASSERT_TRUE(deleted) << "no point feature on a node";

    emptySrelList(&topoSrelList);
    ASSERT_EQ(cleanUpData(gdb.ws(), cell), S_OK) << log.text();
    EXPECT_EQ(getTopoEdge(gdb.ws(), meta, data, cache, topology->GetClusterTolerance(), cell), E_FAIL);

    // The edge that failed is the last one written.
    IQueryFilterPtr filter(CLSID_QueryFilter);
    filter->PutWhereClause("DSNM = 'US5MA12M.000'");
    IFeatureClassPtr ve = gdb.fws()->OpenFeatureClass("VE");
    std::string last;
    IFeatureCursorPtr cursor = ve->Search(filter, VARIANT_FALSE);
    for (IFeaturePtr f = cursor->NextFeature(); f; f = cursor->NextFeature())
        last = static_cast<const char*>(_bstr_t(f->GetValue(ve->FindField("NAME"))));
    ASSERT_FALSE(last.empty());
    const std::string text = log.text();
    EXPECT_NE(text.find("Error: aoTopology::getPointFeatures\n"), std::string::npos) << text;
    EXPECT_NE(text.find("getTopoEdge: a connected node of edge " + last + " cannot be named: cell US5MA12M.000 not "
                        "exported\n"),
              std::string::npos)
        << text;
    for (int32_t i = 0; i < topoSrelList.count; ++i) {
        EXPECT_STRNE(topoSrelList.records[i].DEST_NAME, "") << "row " << i;
        EXPECT_STRNE(topoSrelList.records[i].SRC_NAME, last.c_str()) << "the failed edge has rows";
    }
    emptySrelList(&topoSrelList);
}

}  // namespace
