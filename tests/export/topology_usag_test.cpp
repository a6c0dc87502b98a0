// tests/export/topology_usag_test.cpp: the relation rows of an area whose hole touches its exterior
// at one vertex: the hole's edges are USAG I and the exterior's E (by the ring the edge lies on, not
// by its distance to the exterior), each oriented with the area on its right; the coverage's own
// edges lie on the coverage limit (USAG C, MASK N).
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core_fixture.h"
#include "export/aotopology.h"
#include "export/cell_extent.h"
#include "export/srel_list.h"
#include "s57/dbutil.h"
#include "support/captured_log.h"

namespace {

using coretest::TemplateGdb;
using testsupport::CapturedLog;

IGeometryPtr ring(std::initializer_list<WKSPoint> points) {
    IPointCollectionPtr r(CLSID_Ring);
    const std::vector<WKSPoint> v(points);
    r->AddWKSPoints(LONG(v.size()), v.data());
    return IGeometryPtr(r);
}

std::vector<WKSPoint> vertices(IGeometry* shape) {
    std::vector<WKSPoint> out;
    IPointCollectionPtr points(shape);
    IPointPtr p(CLSID_Point);
    for (LONG i = 0; i < points->GetPointCount(); ++i) {
        points->QueryPoint(i, p);
        out.push_back({p->GetX(), p->GetY()});
    }
    return out;
}

TEST(AreaRings, AHoleTouchingTheExteriorIsInteriorAndTheCoverageLimitIsC) {
    TemplateGdb gdb;
    CapturedLog log;
    const char* cell = "CELL.000";
    gdb.addCoverage(cell, 1, coretest::rectangle(0, 0, 10, 10));
    // What an import leaves: the cell's counts and the (empty) sounding multipoints.
    ITablePtr dssi;
    ASSERT_EQ(createGDBTable(gdb.fws(), "dssi", &dssi, fieldDefCount(dssiFieldDefs), dssiFieldDefs), S_OK);
    IFeatureClassPtr vi3d;
    ASSERT_EQ(createFeatureClass(gdb.fws(), "vi3d", esriGeometryMultipoint, fieldDefCount(primitiveFieldDefs),
                                 primitiveFieldDefs, 0, nullptr, nullptr, 0, &vi3d, nullptr),
              S_OK);

    IFeatureClassPtr areas = gdb.fws()->OpenFeatureClass("SeabedAreaFeature");
    IFeatureBufferPtr buffer = areas->CreateFeatureBuffer();
    IGeometryCollectionPtr polygon(CLSID_Polygon);
    polygon->AddGeometry(ring({{2, 2}, {2, 5}, {2, 8}, {8, 8}, {8, 2}, {2, 2}}));
    polygon->AddGeometry(ring({{2, 5}, {4, 4}, {4, 6}, {2, 5}}));
    buffer->PutRefShape(IGeometryPtr(polygon));
    buffer->PutValue(areas->FindField(ISubtypesPtr(areas)->GetSubtypeFieldName()), _variant_t(121L));
    buffer->PutValue(areas->FindField("NAME"), _variant_t("FE0000000007"));
    buffer->PutValue(areas->FindField("LNAM"), _variant_t("US0000000700001"));
    IFeatureCursorPtr insert = areas->Insert(VARIANT_TRUE);
    insert->InsertFeature(buffer);
    insert->Flush();

    ASSERT_EQ(getExtent(gdb.ws(), cell), 0) << log.text();
    emptySrelList(&topoSrelList);
    double tolerance = -1;
    ASSERT_EQ(validateTopology(gdb.ws(), "S57", "US", cell, &tolerance, 1), S_OK) << log.text();

    std::map<std::string, IGeometryPtr> edges;
    IFeatureClassPtr ve = gdb.fws()->OpenFeatureClass("VE");
    IFeatureCursorPtr cursor = ve->Search(nullptr, VARIANT_FALSE);
    for (IFeaturePtr f = cursor->NextFeature(); f; f = cursor->NextFeature())
        edges[static_cast<const char*>(_bstr_t(f->GetValue(ve->FindField("NAME"))))] = f->GetShapeCopy();

    int exterior = 0, hole = 0, limit = 0;
    double exteriorTwice = 0, holeTwice = 0;
    for (int32_t i = 0; i < topoSrelList.count; ++i) {
        const SrelRecord& r = topoSrelList.records[i];
        if (r.TOPI[0] != 'N') continue;
        ASSERT_TRUE(edges.count(r.DEST_NAME)) << r.DEST_NAME;
        std::vector<WKSPoint> line = vertices(edges[r.DEST_NAME]);
        if (r.ORNT[0] == 'R') std::reverse(line.begin(), line.end());
        double twice = 0;
        for (std::size_t k = 0; k + 1 < line.size(); ++k) twice += line[k].X * line[k + 1].Y - line[k + 1].X * line[k].Y;
        if (std::string(r.SRC_NAME) == "FE0000000007") {
            bool onHole = false;
            for (const WKSPoint& p : line) onHole = onHole || p.X == 4;
            EXPECT_STREQ(r.USAG, onHole ? "I" : "E") << r.DEST_NAME;
            EXPECT_STREQ(r.MASK, "S");
            EXPECT_STREQ(r.SRC_LNAM, "US0000000700001");
            (onHole ? hole : exterior)++;
            (onHole ? holeTwice : exteriorTwice) += twice;
        } else {
            EXPECT_STREQ(r.USAG, "C") << r.SRC_NAME << " " << r.DEST_NAME;
            EXPECT_STREQ(r.MASK, "N");
            ++limit;
        }
    }
    EXPECT_GT(exterior, 0);
    EXPECT_GT(hole, 0);
    EXPECT_GT(limit, 0);
    EXPECT_LT(exteriorTwice, 0) << "the exterior runs clockwise with the area on its right";
    EXPECT_GT(holeTwice, 0) << "the hole runs anticlockwise with the area on its right";
    // The vector export writes the rebuilt edges with every vertex.
    EXPECT_EQ(tolerance, 0);
    emptySrelList(&topoSrelList);
}

}  // namespace
