// tests/export/edge_containment_test.cpp: the containment test of shapes along a coverage's edges,
// which the feature export and the topology rebuild share: it says "contained" only where GEOS's
// containment of the whole shape does, or leaves the shape to that test, and it claims the common
// cases of shapes along the edges.
#include "export/edge_containment.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/geometry/shape.h"

namespace {

using Path = std::vector<std::pair<double, double>>;

IGeometryPtr make(esriGeometryType type, const std::vector<Path>& parts) {
    geom::Shape s;
    s.type = type;
    for (const Path& p : parts) {
        geom::Part part;
        for (const auto& [x, y] : p) part.push_back({x, y, 0});
        s.parts.push_back(part);
    }
    return geom::makeGeometry(std::move(s));
}

Path box(double x0, double y0, double x1, double y1) { return {{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}, {x0, y0}}; }

// A zigzag of n vertices between x 2 and 8, then the given end points.
Path zigzag(int n, Path end = {}) {
    Path p;
    for (int i = 0; i < n; ++i) p.emplace_back(2 + (i % 7), 2 + 0.1 * i);
    p.insert(p.end(), end.begin(), end.end());
    return p;
}

Path withVertex(Path p, std::size_t i, std::pair<double, double> v) {
    p[i] = v;
    return p;
}

// Cut: a square with its upper left corner cut along a diagonal (y = x + 5), edges with and without
// an axis. U: x 0..30, y 0..30, less a notch x 10..20 above y 10 (an exterior reaching in).
enum class Cover { Cut, U };

const Path kCut = {{0, 0}, {10, 0}, {10, 10}, {5, 10}, {0, 5}, {0, 0}};
const Path kU = {{0, 0}, {30, 0}, {30, 30}, {20, 30}, {20, 10}, {10, 10}, {10, 30}, {0, 30}, {0, 0}};

struct Case {
    const char* name;
    Cover cover;
    esriGeometryType type;
    std::vector<Path> parts;
    bool contained;  // what the test answers: true only where the coverage contains the shape
};

class EdgeContainmentCases : public ::testing::TestWithParam<Case> {};

TEST_P(EdgeContainmentCases, ContainedOnlyWhereTheWholeShapeIs) {
    const Case& c = GetParam();
    IGeometryPtr area = make(esriGeometryPolygon, {c.cover == Cover::Cut ? kCut : kU});
    EdgeContainment test(area);
    ASSERT_TRUE(test.usable());
    IGeometryPtr shape = make(c.type, c.parts);
    EXPECT_EQ(test.contains(shape), c.contained);
    if (c.contained) {
        EXPECT_TRUE(SpatialPredicate(area, esriSpatialRelContains).matches(shape));
    }
}

constexpr auto kPoint = esriGeometryPoint;
constexpr auto kLine = esriGeometryPolyline;
constexpr auto kArea = esriGeometryPolygon;

INSTANTIATE_TEST_SUITE_P(
    Shapes, EdgeContainmentCases,
    ::testing::Values(
        Case{"PointInside", Cover::Cut, kPoint, {{{3, 3}}}, true},
        Case{"PointOutside", Cover::Cut, kPoint, {{{12, 3}}}, false},
        Case{"PointOutsideTheCutCorner", Cover::Cut, kPoint, {{{1, 8}}}, false},
        Case{"PointOnAnEdge", Cover::Cut, kPoint, {{{10, 3}}}, false},
        Case{"PointInsideTheU", Cover::U, kPoint, {{{5, 5}}}, true},
        Case{"PointInTheNotch", Cover::U, kPoint, {{{15, 20}}}, false},
        Case{"MultipointOneOutside", Cover::Cut, esriGeometryMultipoint, {{{3, 3}, {4, 4}, {11, 4}}}, false},
        Case{"LineInside", Cover::Cut, kLine, {{{2, 2}, {8, 3}, {7, 7}}}, true},
        Case{"LineEndingOnAnEdge", Cover::Cut, kLine, {{{2, 2}, {6, 3}, {10, 3}}}, true},
        Case{"LineFromTheEdgeInwards", Cover::U, kLine, {{{0, 5}, {5, 5}, {5, 8}}}, true},
        Case{"LineLeavingThroughAnEdge", Cover::Cut, kLine, {{{2, 2}, {6, 3}, {11, 3}}}, false},
        Case{"LineLeavingThroughTheDiagonal", Cover::Cut, kLine, {{{3, 3}, {1, 5.5}, {1, 7}}}, false},
        Case{"LineNearTheDiagonalInside", Cover::Cut, kLine, {{{5, 2}, {4, 3}, {1, 5.5}, {2, 6.5}}}, true},
        Case{"LineNearTheDiagonalOnly", Cover::Cut, kLine, {{{3, 3}, {1, 5.5}, {2, 6.5}}}, false},
        // Both ends on the notch's sides, the middle outside.
        Case{"ChordAcrossTheNotch", Cover::U, kLine, {{{5, 20}, {10, 20}, {20, 20}, {25, 20}}}, false},
        Case{"LongLineInside", Cover::Cut, kLine, {zigzag(40)}, true},
        Case{"LongLineEndingOnAnEdge", Cover::Cut, kLine, {zigzag(40, {{10, 6}})}, true},
        Case{"LongLineLeavingAtItsEnd", Cover::Cut, kLine, {zigzag(40, {{12, 6}})}, false},
        Case{"LongLineStartingOutside", Cover::Cut, kLine, {withVertex(zigzag(40), 0, {-3, 2})}, false},
        Case{"LongLineOutAndBackEarly", Cover::Cut, kLine, {withVertex(zigzag(40), 5, {12, 2.5})}, false},
        Case{"LongLineOutAndBackLate", Cover::Cut, kLine, {withVertex(zigzag(40), 37, {5, 11})}, false},
        // On the edge only: covered, but no point of it lies in the coverage's interior.
        Case{"LineAlongAnEdgeOnly", Cover::Cut, kLine, {{{10, 2}, {10, 8}}}, false},
        Case{"LineAlongTheUsBase", Cover::U, kLine, {{{0, 0}, {15, 0}, {30, 0}}}, false},
        Case{"LineOutsideWhole", Cover::Cut, kLine, {{{12, 2}, {14, 8}}}, false},
        Case{"SecondPathOutside", Cover::Cut, kLine, {{{2, 2}, {3, 3}}, {{12, 2}, {13, 3}}}, false},
        Case{"LongAreaInside", Cover::Cut, kArea, {zigzag(40, {{8, 9}, {2, 6}})}, true},
        Case{"AreaInside", Cover::Cut, kArea, {{{2, 2}, {4, 2}, {4, 4}, {2, 4}, {2, 2}}}, true},
        Case{"AreaFarFromTheUsEdges", Cover::U, kArea, {box(2, 2, 8, 8)}, true},
        Case{"AreaSharingEdges", Cover::Cut, kArea, {{{6, 0}, {10, 0}, {10, 4}, {6, 4}, {6, 0}}}, true},
        Case{"AreaSharingTwoOfTheUsEdges", Cover::U, kArea, {box(0, 0, 5, 5)}, true},
        Case{"AreaFillingTheU", Cover::U, kArea, {kU}, true},
        Case{"AreaCrossingAnEdge", Cover::Cut, kArea, {{{8, 2}, {12, 2}, {12, 4}, {8, 4}, {8, 2}}}, false},
        Case{"AreaAcrossTheCutCorner", Cover::Cut, kArea, {{{1, 4}, {3, 4}, {3, 9}, {1, 9}, {1, 4}}}, false},
        // Every vertex inside, one side across the notch.
        Case{"AreaAcrossTheNotch", Cover::U, kArea, {box(5, 5, 25, 20)}, false},
        Case{"AreaWithAVertexOutsideTheU", Cover::U, kArea, {{{5, 5}, {35, 5}, {35, 8}, {5, 8}, {5, 5}}}, false},
        Case{"AreaInTheNotch", Cover::U, kArea, {box(12, 12, 18, 18)}, false},
        Case{"AreaOfNoSize", Cover::Cut, kArea, {{{2, 2}, {4, 2}, {6, 2}, {2, 2}}}, false},
        Case{"AreaAroundTheCoverage", Cover::Cut, kArea, {box(-1, -1, 11, 11)}, false}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// Only a coverage of one valid ring is taken; any other never decides, whatever the shape.
TEST(EdgeContainment, TakesOnlyOneValidRing) {
    const struct {
        const char* name;
        std::vector<Path> rings;
        bool taken;
    } areas[] = {
        {"Cut", {kCut}, true},
        {"U", {kU}, true},
        {"Donut", {box(0, 0, 10, 10), box(4, 4, 6, 6)}, false},
        {"TwoSquares", {box(0, 0, 5, 5), box(10, 0, 15, 5)}, false},
        {"BowTie", {{{0, 0}, {10, 10}, {10, 0}, {0, 10}, {0, 0}}}, false},
    };
    for (const auto& a : areas) {
        SCOPED_TRACE(a.name);
        EdgeContainment test(make(esriGeometryPolygon, a.rings));
        EXPECT_EQ(test.usable(), a.taken);
        if (!a.taken) {
            EXPECT_FALSE(test.contains(make(esriGeometryPoint, {{{1, 1}}})));
            EXPECT_FALSE(test.contains(make(esriGeometryPolygon, {box(1, 1, 2, 2)})));
        }
    }
}

}  // namespace
