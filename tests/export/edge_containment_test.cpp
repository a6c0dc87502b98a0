// tests/export/edge_containment_test.cpp: the containment test of shapes along a coverage's edges:
// it says "contained" exactly where GEOS's containment of the whole shape does, or leaves the shape
// to that test (never a contained verdict for a shape that is not).
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

// A square with its upper left corner cut along a diagonal (y = x + 5): edges with and without an axis.
IGeometryPtr coverage() {
    return make(esriGeometryPolygon, {{{0, 0}, {10, 0}, {10, 10}, {5, 10}, {0, 5}, {0, 0}}});
}

struct Case {
    const char* name;
    esriGeometryType type;
    std::vector<Path> parts;
    bool contained;  // what the test answers: true only where the coverage contains the shape
};

class EdgeContainmentCases : public ::testing::TestWithParam<Case> {};

TEST_P(EdgeContainmentCases, ContainedOnlyWhereTheWholeShapeIs) {
    const Case& c = GetParam();
    IGeometryPtr area = coverage();
    EdgeContainment test(area);
    ASSERT_TRUE(test.usable());
    IGeometryPtr shape = make(c.type, c.parts);
    EXPECT_EQ(test.contains(shape), c.contained);
    if (c.contained) {
        EXPECT_TRUE(SpatialPredicate(area, esriSpatialRelContains).matches(shape));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, EdgeContainmentCases,
    ::testing::Values(
        Case{"PointInside", esriGeometryPoint, {{{3, 3}}}, true},
        Case{"PointOutside", esriGeometryPoint, {{{12, 3}}}, false},
        Case{"PointOutsideTheCutCorner", esriGeometryPoint, {{{1, 8}}}, false},
        Case{"PointOnAnEdge", esriGeometryPoint, {{{10, 3}}}, false},
        Case{"MultipointOneOutside", esriGeometryMultipoint, {{{3, 3}, {4, 4}, {11, 4}}}, false},
        Case{"LineInside", esriGeometryPolyline, {{{2, 2}, {8, 3}, {7, 7}}}, true},
        Case{"LineEndingOnAnEdge", esriGeometryPolyline, {{{2, 2}, {6, 3}, {10, 3}}}, true},
        Case{"LineLeavingThroughAnEdge", esriGeometryPolyline, {{{2, 2}, {6, 3}, {11, 3}}}, false},
        Case{"LineLeavingThroughTheDiagonal", esriGeometryPolyline, {{{3, 3}, {1, 5.5}, {1, 7}}}, false},
        Case{"LineNearTheDiagonalInside", esriGeometryPolyline, {{{5, 2}, {4, 3}, {1, 5.5}, {2, 6.5}}}, true},
        Case{"LineNearTheDiagonalOnly", esriGeometryPolyline, {{{3, 3}, {1, 5.5}, {2, 6.5}}}, false},
        Case{"LongLineInside", esriGeometryPolyline, {zigzag(40)}, true},
        Case{"LongLineEndingOnAnEdge", esriGeometryPolyline, {zigzag(40, {{10, 6}})}, true},
        Case{"LongLineLeavingAtItsEnd", esriGeometryPolyline, {zigzag(40, {{12, 6}})}, false},
        Case{"LongLineStartingOutside", esriGeometryPolyline, {withVertex(zigzag(40), 0, {-3, 2})}, false},
        Case{"LongLineOutAndBackEarly", esriGeometryPolyline, {withVertex(zigzag(40), 5, {12, 2.5})}, false},
        Case{"LongLineOutAndBackLate", esriGeometryPolyline, {withVertex(zigzag(40), 37, {5, 11})}, false},
        Case{"LongAreaInside", esriGeometryPolygon, {zigzag(40, {{8, 9}, {2, 6}})}, true},
        Case{"LineAlongAnEdgeOnly", esriGeometryPolyline, {{{10, 2}, {10, 8}}}, false},
        Case{"LineOutsideWhole", esriGeometryPolyline, {{{12, 2}, {14, 8}}}, false},
        Case{"SecondPathOutside", esriGeometryPolyline, {{{2, 2}, {3, 3}}, {{12, 2}, {13, 3}}}, false},
        Case{"AreaInside", esriGeometryPolygon, {{{2, 2}, {4, 2}, {4, 4}, {2, 4}, {2, 2}}}, true},
        Case{"AreaSharingEdges", esriGeometryPolygon, {{{6, 0}, {10, 0}, {10, 4}, {6, 4}, {6, 0}}}, true},
        Case{"AreaCrossingAnEdge", esriGeometryPolygon, {{{8, 2}, {12, 2}, {12, 4}, {8, 4}, {8, 2}}}, false},
        Case{"AreaAcrossTheCutCorner", esriGeometryPolygon, {{{1, 4}, {3, 4}, {3, 9}, {1, 9}, {1, 4}}}, false},
        Case{"AreaOfNoSize", esriGeometryPolygon, {{{2, 2}, {4, 2}, {6, 2}, {2, 2}}}, false},
        Case{"AreaAroundTheCoverage", esriGeometryPolygon, {{{-1, -1}, {11, -1}, {11, 11}, {-1, 11}, {-1, -1}}}, false}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(EdgeContainment, CoverageOfMoreThanOneRingNeverDecides) {
    IGeometryPtr holed = make(esriGeometryPolygon, {{{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}},
                                                    {{4, 4}, {6, 4}, {6, 6}, {4, 6}, {4, 4}}});
    EdgeContainment test(holed);
    EXPECT_FALSE(test.usable());
    EXPECT_FALSE(test.contains(make(esriGeometryPoint, {{{1, 1}}})));
}

}  // namespace
