// tests/platform/geometry/relation_test.cpp: relations between geometries, as the relational
// operator and the spatial filter predicate (objects and blobs) answer them, over one table of
// cases around a 10 x 10 square.
#include "platform/geometry/geometry.h"
#include "platform/geometry/gpkg_blob.h"
#include "platform/geometry/spatial_relation.h"

#include "geometry_builders.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

using namespace builders;

namespace {

IGeometryPtr square() { return box(0, 0, 10, 10); }

struct RelationCase {
    const char* name;
    std::function<IGeometryPtr()> candidate;
    // query (the square) relates to the candidate:
    bool intersects, contains, within, touches, crosses, overlaps, interiorsMeet;
};

const RelationCase kCases[] = {
    {"PointInside", [] { return IGeometryPtr(point(5, 5)); }, true, true, false, false, false, false, true},
    {"PointOnBoundary", [] { return IGeometryPtr(point(10, 5)); }, true, false, false, true, false, false, false},
    {"PointOnCorner", [] { return IGeometryPtr(point(0, 0)); }, true, false, false, true, false, false, false},
    {"PointOutside", [] { return IGeometryPtr(point(20, 5)); }, false, false, false, false, false, false, false},
    {"LineInside", [] { return polyline({{{1, 1}, {9, 9}}}); }, true, true, false, false, false, false, true},
    {"LineCrossing", [] { return polyline({{{5, 5}, {15, 5}}}); }, true, false, false, false, true, false, true},
    {"LineAlongEdge", [] { return polyline({{{10, 0}, {10, 10}}}); }, true, false, false, true, false, false, false},
    {"LineOutsideInBox", [] { return polyline({{{11, -1}, {20, 5}}}); }, false, false, false, false, false, false, false},
    {"MultipointHalfIn", [] { return multipoint({{5, 5}, {20, 20}}); }, true, false, false, false, true, false, true},
    {"PolygonInside", [] { return box(2, 2, 8, 8); }, true, true, false, false, false, false, true},
    {"PolygonAround", [] { return box(-5, -5, 15, 15); }, true, false, true, false, false, false, true},
    {"PolygonEqual", [] { return box(0, 0, 10, 10); }, true, true, true, false, false, false, true},
    {"PolygonOverlapping", [] { return box(5, 5, 15, 15); }, true, false, false, false, false, true, true},
    {"PolygonSharingEdge", [] { return box(10, 0, 20, 10); }, true, false, false, true, false, false, false},
    {"PolygonSharingCorner", [] { return box(10, 10, 20, 20); }, true, false, false, true, false, false, false},
    {"PolygonDisjoint", [] { return box(20, 20, 30, 30); }, false, false, false, false, false, false, false},
    // The square sits in the candidate's hole; both rings run the same way, nesting makes the hole.
    {"SquareInHole",
     [] {
         return polygon({{{-5, -5}, {15, -5}, {15, 15}, {-5, 15}, {-5, -5}}, {{-1, -1}, {11, -1}, {11, 11}, {-1, 11}, {-1, -1}}});
     },
     false, false, false, false, false, false, false},
    // The hole's edge runs along the square's edges: they touch.
    {"SquareFillsHole",
     [] {
         return polygon({{{-5, -5}, {15, -5}, {15, 15}, {-5, 15}, {-5, -5}}, {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}}});
     },
     true, false, false, true, false, false, false},
};

class Relation : public ::testing::TestWithParam<RelationCase> {};

TEST_P(Relation, OperatorAnswersAsGeos) {
    const RelationCase& c = GetParam();
    IGeometryPtr q = square();
    IGeometryPtr g = c.candidate();
    IRelationalOperatorPtr rel(q);
    ASSERT_TRUE(rel);
    EXPECT_EQ(rel->Disjoint(g) == VARIANT_TRUE, !c.intersects);
    EXPECT_EQ(rel->Contains(g) == VARIANT_TRUE, c.contains);
    EXPECT_EQ(rel->Within(g) == VARIANT_TRUE, c.within);
    EXPECT_EQ(rel->Touches(g) == VARIANT_TRUE, c.touches);
    EXPECT_EQ(rel->Crosses(g) == VARIANT_TRUE, c.crosses);
    EXPECT_EQ(rel->Overlaps(g) == VARIANT_TRUE, c.overlaps);
    EXPECT_EQ(rel->Relate(g, L"T********") == VARIANT_TRUE, c.interiorsMeet);
    // The other way round.
    IRelationalOperatorPtr back(g);
    EXPECT_EQ(back->Within(q) == VARIANT_TRUE, c.contains);
    EXPECT_EQ(back->Contains(q) == VARIANT_TRUE, c.within);
    EXPECT_EQ(back->Touches(q) == VARIANT_TRUE, c.touches);
}

TEST_P(Relation, SpatialPredicateSelectsTheSame) {
    const RelationCase& c = GetParam();
    IGeometryPtr q = square();
    IGeometryPtr g = c.candidate();
    const std::vector<std::uint8_t> blob = geometryToGpkgBlob(g);
    struct Expect {
        esriSpatialRelEnum rel;
        const char* description;
        bool result;
    };
    const Expect expects[] = {
        {esriSpatialRelIntersects, "", c.intersects},
        {esriSpatialRelUndefined, "", c.intersects},
        {esriSpatialRelContains, "", c.contains},
        {esriSpatialRelWithin, "", c.within},
        {esriSpatialRelTouches, "", c.touches},
        {esriSpatialRelCrosses, "", c.crosses},
        {esriSpatialRelOverlaps, "", c.overlaps},
        {esriSpatialRelRelation, "T********", c.interiorsMeet},
        {esriSpatialRelIntersects, "T********", c.interiorsMeet},  // both must hold
        {esriSpatialRelUndefined, "t********", c.interiorsMeet},
    };
    for (const Expect& e : expects) {
        SCOPED_TRACE(testing::Message() << "relation " << e.rel << " \"" << e.description << "\"");
        SpatialPredicate p(q, e.rel, e.description);
        EXPECT_TRUE(p.extentPrefilter());
        EXPECT_EQ(p.matches(g), e.result);
        EXPECT_EQ(p.matchesBlob(blob.data(), blob.size()), e.result);
        // A match always passes the R-tree's extent test.
        if (e.result) {
            EXPECT_TRUE(p.extent().intersects(gpkgBlobExtent(blob.data(), blob.size())));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AroundASquare, Relation, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SpatialPredicate, EnvelopeRelationGoesByBoxesOnly) {
    // The line's box meets the square's box, the line does not meet the square.
    IGeometryPtr line = polyline({{{11, -1}, {20, 5}}});
    IGeometryPtr far = point(30, 30);
    for (esriSpatialRelEnum rel : {esriSpatialRelEnvelopeIntersects, esriSpatialRelIndexIntersects}) {
        SpatialPredicate p(square(), rel);
        EXPECT_FALSE(p.matches(line));  // boxes (0..10) and (11..20) are apart in x
        SpatialPredicate wide(box(0, 0, 12, 10), rel);
        EXPECT_TRUE(wide.matches(line));
        EXPECT_FALSE(wide.matches(far));
    }
}

TEST(SpatialPredicate, DisjointPatternCannotUseTheIndex) {
    SpatialPredicate p(square(), esriSpatialRelRelation, "FF*FF****");
    EXPECT_FALSE(p.extentPrefilter());
    EXPECT_TRUE(p.matches(point(50, 50)));
    EXPECT_FALSE(p.matches(point(5, 5)));
}

TEST(SpatialPredicate, EmptyQueryMatchesNothingThatNeedsContact) {
    IGeometryPtr empty(CLSID_Polygon);
    SpatialPredicate p(empty, esriSpatialRelIntersects);
    EXPECT_TRUE(p.extent().empty());
    EXPECT_FALSE(p.matches(point(0, 0)));
    EXPECT_FALSE(p.matches(square()));
}

TEST(SpatialPredicate, RefusesBadArguments) {
    auto code = [](auto&& make) {
        try {
            make();
        } catch (const _com_error& e) {
            EXPECT_NE(std::wstring(static_cast<const wchar_t*>(e.Description())), L"");
            return e.Error();
        }
        return S_OK;
    };
    EXPECT_EQ(code([] { SpatialPredicate(square(), esriSpatialRelRelation); }), E_INVALIDARG);
    EXPECT_EQ(code([] { SpatialPredicate(square(), esriSpatialRelRelation, "T*******"); }), E_INVALIDARG);
    EXPECT_EQ(code([] { SpatialPredicate(square(), esriSpatialRelIntersects, "X********"); }), E_INVALIDARG);
    EXPECT_EQ(code([] { SpatialPredicate(square(), esriSpatialRelEnum(42)); }), E_INVALIDARG);
    EXPECT_EQ(code([] { SpatialPredicate(nullptr, esriSpatialRelIntersects); }), E_INVALIDARG);
}

TEST(RelationalOperator, BadPatternIsAnArgumentError) {
    IRelationalOperatorPtr rel(square());
    VARIANT_BOOL r = VARIANT_TRUE;
    EXPECT_EQ(rel->raw_Relate(IGeometryPtr(point(1, 1)), const_cast<BSTR>(L"T*"), &r), E_INVALIDARG);
    EXPECT_EQ(rel->raw_Contains(nullptr, &r), E_INVALIDARG);
    EXPECT_EQ(rel->raw_Contains(IGeometryPtr(point(1, 1)), nullptr), E_POINTER);
}

TEST(RelationalOperator, EmptyGeometriesAreEqualOnlyToEmpty) {
    IGeometryPtr a(CLSID_Polygon), b(CLSID_Polygon);
    IRelationalOperatorPtr rel(a);
    EXPECT_EQ(rel->Equals(b), VARIANT_TRUE);
    EXPECT_EQ(rel->Equals(square()), VARIANT_FALSE);
    EXPECT_EQ(rel->Disjoint(square()), VARIANT_TRUE);
}

// Each thread has its own GEOS context: threads testing at once get the answers one thread gets.
TEST(SpatialPredicate, ThreadsTestAtOnce) {
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &wrong] {
            SpatialPredicate p(square(), esriSpatialRelRelation, "T********");
            IRelationalOperatorPtr rel(square());
            for (int i = 0; i < 200; ++i)
                for (const RelationCase& c : kCases) {
                    IGeometryPtr g = c.candidate();
                    if (p.matches(g) != c.interiorsMeet) ++wrong[std::size_t(t)];
                    if ((rel->Touches(g) == VARIANT_TRUE) != c.touches) ++wrong[std::size_t(t)];
                }
        });
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

// Containment by overlay, as the converter measures how far a feature lies within a reference area.
TEST(TopologicalOperator, IntersectionKeepsTheAskedDimension) {
    ITopologicalOperatorPtr topo(square());
    IAreaPtr area(topo->Intersect(box(5, 0, 15, 10), esriGeometry2Dimension));
    ASSERT_TRUE(area);
    EXPECT_DOUBLE_EQ(area->GetArea(), 50);

    ICurvePtr inside(topo->Intersect(polyline({{{-5, 5}, {15, 5}}}), esriGeometry1Dimension));
    ASSERT_TRUE(inside);
    EXPECT_DOUBLE_EQ(inside->GetLength(), 10);

    // Touching squares share no area: an empty polygon, never a failure.
    IGeometryPtr none = topo->Intersect(box(10, 0, 20, 10), esriGeometry2Dimension);
    EXPECT_EQ(none->GetGeometryType(), esriGeometryPolygon);
    EXPECT_EQ(none->GetIsEmpty(), VARIANT_TRUE);
    EXPECT_DOUBLE_EQ(IAreaPtr(none)->GetArea(), 0);

    IGeometryPtr corner = topo->Intersect(box(10, 10, 20, 20), esriGeometry0Dimension);
    EXPECT_EQ(corner->GetGeometryType(), esriGeometryMultipoint);
    EXPECT_EQ(coords(corner), "10 10");
}

TEST(TopologicalOperator, UnionOfCoveragesIsOneArea) {
    IGeometryPtr u(CLSID_Polygon);  // start empty, as the extent builder does
    for (IGeometryPtr part : {box(0, 0, 10, 10), box(10, 0, 20, 10), box(30, 0, 40, 10)}) {
        IGeometryPtr next = ITopologicalOperatorPtr(u)->Union(part);
        u.swap(next);
    }
    EXPECT_EQ(u->GetGeometryType(), esriGeometryPolygon);
    EXPECT_DOUBLE_EQ(IAreaPtr(u)->GetArea(), 300);
    EXPECT_EQ(IPolygonPtr(u)->GetExteriorRingCount(), 2);
    // A union across dimensions would lose one of them: refused.
    IGeometry* out = nullptr;
    EXPECT_EQ(ITopologicalOperatorPtr(u)->raw_Union(IGeometryPtr(point(1, 1)), &out), E_INVALIDARG);
    EXPECT_EQ(out, nullptr);
}

TEST(TopologicalOperator, BufferOfAPointIsADisc) {
    IGeometryPtr disc = ITopologicalOperatorPtr(point(3, 4))->Buffer(2);
    EXPECT_EQ(disc->GetGeometryType(), esriGeometryPolygon);
    EXPECT_NEAR(IAreaPtr(disc)->GetArea(), 3.14159265 * 4, 0.1);
    EXPECT_EQ(IRelationalOperatorPtr(disc)->Contains(IGeometryPtr(point(4.9, 4))), VARIANT_TRUE);
}

TEST(ProximityOperator, DistanceToARingIsToItsLine) {
    IGeometryCollectionPtr poly(square());
    IGeometryPtr ring = poly->GetGeometry(0);
    EXPECT_EQ(ring->GetGeometryType(), esriGeometryRing);
    IProximityOperatorPtr near(point(5, 4));
    EXPECT_DOUBLE_EQ(near->ReturnDistance(ring), 4);          // to the ring's line
    EXPECT_DOUBLE_EQ(near->ReturnDistance(square()), 0);      // inside the area
    ILinePtr line(CLSID_Line);
    line->PutCoords(point(0, 0), point(10, 0));
    EXPECT_DOUBLE_EQ(IProximityOperatorPtr(point(5, 3))->ReturnDistance(line), 3);
}

}  // namespace
