// tests/platform/geometry/polygon_test.cpp: polygons built ring by ring as the feature importer
// builds them, and what Simplify makes of them: rings closed, oriented (exterior clockwise) and
// nested, each exterior ring followed by its holes.
#include "platform/geometry/geometry.h"
#include "platform/geometry/gpkg_blob.h"

#include "geometry_builders.h"

#include <gtest/gtest.h>

#include <functional>

using namespace builders;

namespace {

struct SimplifyCase {
    const char* name;
    std::vector<Coords> rings;
    const char* expected;  // coords() after Simplify; "" to skip the exact text
    double area;
    LONG exteriors;
};

const Coords kShell = {{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}};  // clockwise
const Coords kHoleCw = {{2, 2}, {2, 8}, {8, 8}, {8, 2}, {2, 2}};
const Coords kIslandCcw = {{4, 4}, {6, 4}, {6, 6}, {4, 6}, {4, 4}};
const Coords kShellB = {{20, 0}, {20, 10}, {30, 10}, {30, 0}, {20, 0}};
const Coords kHoleB = {{22, 2}, {28, 2}, {28, 8}, {22, 8}, {22, 2}};  // counter-clockwise

const SimplifyCase kCases[] = {
    {"UnclosedCounterClockwiseIsClosedAndTurned", {{{0, 0}, {10, 0}, {10, 10}, {0, 10}}}, "0 0|0 10|10 10|10 0|0 0", 100, 1},
    {"ClockwiseShellStays", {kShell}, "0 0|0 10|10 10|10 0|0 0", 100, 1},
    {"HoleIsTurnedCounterClockwise", {kShell, kHoleCw}, "0 0|0 10|10 10|10 0|0 0;2 2|8 2|8 8|2 8|2 2", 64, 1},
    {"HoleBeforeItsShell", {kHoleCw, kShell}, "0 0|0 10|10 10|10 0|0 0;2 2|8 2|8 8|2 8|2 2", 64, 1},
    {"IslandInAHoleIsAnExterior",
     {kIslandCcw, kHoleCw, kShell},
     "4 4|4 6|6 6|6 4|4 4;0 0|0 10|10 10|10 0|0 0;2 2|8 2|8 8|2 8|2 2",
     68,
     2},
    {"HolesFollowTheirShells",
     {kShell, kShellB, kHoleB, kHoleCw},
     "0 0|0 10|10 10|10 0|0 0;2 2|8 2|8 8|2 8|2 2;20 0|20 10|30 10|30 0|20 0;22 2|28 2|28 8|22 8|22 2",
     128,
     2},
    {"RepeatedPointsGo", {{{0, 0}, {0, 0}, {0, 10}, {10, 10}, {10, 10}, {10, 0}}}, "0 0|0 10|10 10|10 0|0 0", 100, 1},
    {"RingsWithoutAreaGo", {kShell, {{20, 20}, {21, 21}, {20, 20}}, {{30, 30}, {31, 31}, {32, 32}}}, "0 0|0 10|10 10|10 0|0 0", 100, 1},
    // Self-crossing ring: GEOS rebuilds it as the two triangles it encloses.
    {"BowTieBecomesTwoTriangles", {{{0, 0}, {10, 10}, {10, 0}, {0, 10}, {0, 0}}}, "", 50, 2},
    // A hole that crosses its shell's boundary: read by the even-odd rule, as nesting reads rings
    // (the shell less the overlap, and the hole's part outside the shell).
    {"HoleCrossingTheShell", {kShell, {{5, 5}, {15, 5}, {15, 8}, {5, 8}, {5, 5}}}, "", 100, 2},
};

class Simplify : public ::testing::TestWithParam<SimplifyCase> {};

TEST_P(Simplify, ClosesOrientsAndNests) {
    const SimplifyCase& c = GetParam();
    IGeometryPtr poly = polygon(c.rings);
    // Area and exterior rings go by nesting, not by the order or turn of the rings.
    if (c.expected[0]) {
        EXPECT_DOUBLE_EQ(IAreaPtr(poly)->GetArea(), c.area);
        EXPECT_EQ(IPolygonPtr(poly)->GetExteriorRingCount(), c.exteriors);
    }
    ITopologicalOperatorPtr topo(poly);
    topo->Simplify();
    if (c.expected[0]) {
        EXPECT_EQ(coords(poly), c.expected);
    }
    EXPECT_DOUBLE_EQ(IAreaPtr(poly)->GetArea(), c.area);
    EXPECT_EQ(IPolygonPtr(poly)->GetExteriorRingCount(), c.exteriors);
    EXPECT_EQ(topo->GetIsSimple(), VARIANT_TRUE);
    EXPECT_EQ(ICurvePtr(poly)->GetIsClosed(), VARIANT_TRUE);

    // Every ring's turn tells whether it is an exterior; exteriors count as in the polygon.
    IGeometryCollectionPtr rings(poly);
    LONG exteriors = 0;
    for (LONG i = 0; i < rings->GetGeometryCount(); ++i) exteriors += IRingPtr(rings->GetGeometry(i))->GetIsExterior() ? 1 : 0;
    EXPECT_EQ(exteriors, c.exteriors);

    // A second pass changes nothing.
    const std::string once = coords(poly);
    topo->Simplify();
    EXPECT_EQ(coords(poly), once);
}

INSTANTIATE_TEST_SUITE_P(Rings, Simplify, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The feature importer walks edges, adds each point to a ring, adds the ring to the polygon and
// starts the next one with the same ring object.
TEST(Polygon, RingsAreCopiedWhenAdded) {
    IGeometryCollectionPtr poly(CLSID_Polygon);
    IPointCollectionPtr ring(CLSID_Ring);
    addPoints(ring, {{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    poly->AddGeometry(IGeometryPtr(ring));
    IGeometryPtr(ring)->SetEmpty();
    addPoints(ring, {{3, 3}, {3, 6}, {6, 6}, {6, 3}});
    poly->AddGeometry(IGeometryPtr(ring));
    EXPECT_EQ(poly->GetGeometryCount(), 2);
    IPolygonPtr(poly)->Close();
    EXPECT_EQ(coords(IGeometryPtr(poly)), "0 0|10 0|10 10|0 10|0 0;3 3|3 6|6 6|6 3|3 3");
    ITopologicalOperatorPtr(poly)->Simplify();
    EXPECT_EQ(coords(IGeometryPtr(poly)), "0 0|0 10|10 10|10 0|0 0;3 3|6 3|6 6|3 6|3 3");
    EXPECT_DOUBLE_EQ(IAreaPtr(poly)->GetArea(), 91);
    EXPECT_DOUBLE_EQ(ICurvePtr(poly)->GetLength(), 52);
}

TEST(Polygon, ExteriorRingsCanBeQueried) {
    IGeometryPtr poly = polygon({kShellB, kHoleB, kShell});
    IPolygonPtr p(poly);
    ASSERT_EQ(p->GetExteriorRingCount(), 2);
    IRing* rings[2] = {nullptr, nullptr};
    p->QueryExteriorRings(rings);
    IRingPtr first, second;
    first.Attach(rings[0]);
    second.Attach(rings[1]);
    EXPECT_EQ(coords(IGeometryPtr(first)), "20 0|20 10|30 10|30 0|20 0");
    EXPECT_EQ(coords(IGeometryPtr(second)), "0 0|0 10|10 10|10 0|0 0");
}

// Simplify keeps the nesting it found for the blob writer and the area; any change of the rings
// afterwards must be read afresh: each case changes a simplified shell with a hole and must then
// answer as the same rings built anew.
struct ChangeCase {
    const char* name;
    std::function<void(IGeometry*)> change;
};

const ChangeCase kChanges[] = {
    {"RemoveTheHole", [](IGeometry* g) { IGeometryCollectionPtr(g)->RemoveGeometries(1, 1); }},
    {"AddAShellAround",
     [](IGeometry* g) {
         IPointCollectionPtr r(CLSID_Ring);
         addPoints(r, {{-5, -5}, {-5, 15}, {15, 15}, {15, -5}, {-5, -5}});
         IGeometryCollectionPtr(g)->AddGeometry(IGeometryPtr(r));
     }},
    {"MoveAHoleVertexOut", [](IGeometry* g) { IPointCollectionPtr(g)->UpdatePoint(5, point(20, 2)); }},
    {"AddPointsToTheHole", [](IGeometry* g) { IPointCollectionPtr(g)->AddPoint(point(30, 30)); }},
    {"AddWKSPointsToTheHole",
     [](IGeometry* g) {
         const WKSPoint far[] = {{30, 30}, {31, 30}};
         IPointCollectionPtr(g)->AddWKSPoints(2, far);
     }},
    {"RemoveShellPoints", [](IGeometry* g) { IPointCollectionPtr(g)->RemovePoints(1, 2); }},
    {"EmptyAndRebuild",
     [](IGeometry* g) {
         g->SetEmpty();
         IPointCollectionPtr r(CLSID_Ring);
         addPoints(r, {{2, 2}, {2, 8}, {8, 8}, {8, 2}, {2, 2}});
         IGeometryCollectionPtr(g)->AddGeometry(IGeometryPtr(r));
     }},
    {"Generalize", [](IGeometry* g) { IPolycurvePtr(g)->Generalize(100); }},
};

class ChangeAfterSimplify : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(ChangeAfterSimplify, IsNestedAfresh) {
    IGeometryPtr poly = polygon({kShell, kHoleCw});
    ITopologicalOperatorPtr(poly)->Simplify();
    GetParam().change(poly);
    // The same rings in a new polygon, which has never been simplified.
    IGeometryPtr fresh(IClonePtr(poly)->Clone());
    ASSERT_EQ(coords(fresh), coords(poly));
    IGeometryPtr rebuilt(CLSID_Polygon);
    IGeometryCollectionPtr parts(poly);
    for (LONG i = 0; i < parts->GetGeometryCount(); ++i) IGeometryCollectionPtr(rebuilt)->AddGeometry(parts->GetGeometry(i));
    EXPECT_EQ(geometryToGpkgBlob(poly), geometryToGpkgBlob(rebuilt));
    EXPECT_EQ(IPolygonPtr(poly)->GetExteriorRingCount(), IPolygonPtr(rebuilt)->GetExteriorRingCount());
    EXPECT_DOUBLE_EQ(IAreaPtr(poly)->GetArea(), IAreaPtr(rebuilt)->GetArea());
}

INSTANTIATE_TEST_SUITE_P(Rings, ChangeAfterSimplify, ::testing::ValuesIn(kChanges),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Polygon, SimplifyOfNothingIsEmpty) {
    IGeometryPtr poly = polygon({{{1, 1}, {2, 2}}});
    ITopologicalOperatorPtr(poly)->Simplify();
    EXPECT_EQ(poly->GetIsEmpty(), VARIANT_TRUE);
    EXPECT_EQ(IGeometryCollectionPtr(poly)->GetGeometryCount(), 0);
}

TEST(Polyline, SimplifyDropsRepeatsAndPointParts) {
    IGeometryPtr line = polyline({{{0, 0}, {0, 0}, {1, 1}, {1, 1}, {2, 0}}, {{5, 5}, {5, 5}}});
    ITopologicalOperatorPtr topo(line);
    EXPECT_EQ(topo->GetIsSimple(), VARIANT_FALSE);
    topo->Simplify();
    EXPECT_EQ(coords(line), "0 0|1 1|2 0");
    EXPECT_EQ(topo->GetIsSimple(), VARIANT_TRUE);
}

// An edge's vertices within the tolerance of the line through their neighbours go; the ends stay.
TEST(Polyline, GeneralizeKeepsTheEnds) {
    IGeometryPtr line = polyline({{{0, 0}, {1, 0.001}, {2, 0}, {3, 1}, {4, 0}}});
    IPolycurvePtr(line)->Generalize(0.01);
    EXPECT_EQ(coords(line), "0 0|2 0|3 1|4 0");
    IPolycurvePtr(line)->Generalize(5);
    EXPECT_EQ(coords(line), "0 0|4 0");
    IPolycurve* raw = IPolycurvePtr(line);
    EXPECT_EQ(raw->raw_Generalize(-1), E_INVALIDARG);
}

}  // namespace
