// tests/platform/geometry/ring_check_test.cpp: the quick validity proof Simplify uses before it asks
// GEOS, and the rows of edges behind ring nesting. The proof may refuse a valid polygon (GEOS then
// decides) but must never pass one GEOS calls invalid.
#include "platform/geometry/geos_support.h"
#include "platform/geometry/shape.h"

#include <geos_c.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

using geom::Coord;
using geom::Part;
using geom::RingGroup;

Part ring(std::initializer_list<std::pair<double, double>> xy) {
    Part p;
    for (const auto& [x, y] : xy) p.push_back({x, y, std::nan("")});
    if (!p.empty() && !geom::sameXY(p.front(), p.back())) p.push_back(p.front());
    return p;
}

bool geosValid(const std::vector<Part>& rings, const std::vector<RingGroup>& groups) {
    geom::Shape s{esriGeometryPolygon, false, rings};
    geom::Geom g = geom::toGeos(s, groups);
    return GEOSisValid_r(geom::geosContext(), g.get()) == 1;
}

struct ProofCase {
    const char* name;
    std::vector<Part> rings;
    bool sure;                       // the proof passes
    std::vector<RingGroup> groups{};  // empty: as nestRings groups them
};

const Part kShell = ring({{0, 0}, {0, 10}, {10, 10}, {10, 0}});
const Part kHole = ring({{2, 2}, {8, 2}, {8, 8}, {2, 8}});
const Part kIsland = ring({{4, 4}, {4, 6}, {6, 6}, {6, 4}});

const ProofCase kProofCases[] = {
    {"SquareWithHole", {kShell, kHole}, true},
    {"IslandInAHole", {kShell, kHole, kIsland}, true},
    {"StraightRunOfVertices", {ring({{0, 0}, {0, 5}, {0, 10}, {5, 10}, {10, 10}, {10, 0}})}, true},
    {"TwoShellsApart", {kShell, ring({{20, 0}, {20, 1}, {21, 1}})}, true},
    {"HoleTouchesShellAtAVertex", {kShell, ring({{0, 5}, {5, 6}, {5, 4}})}, false},
    {"HoleOnShellEdge", {kShell, ring({{0, 2}, {0, 8}, {5, 5}})}, false},
    {"ShellsShareAVertex", {kShell, ring({{10, 10}, {10, 20}, {20, 20}})}, false},
    {"RingTouchesItself", {ring({{0, 0}, {0, 10}, {5, 5}, {10, 10}, {10, 0}, {5, 5}})}, false},
    {"SpikeFoldsBack", {ring({{0, 0}, {0, 10}, {10, 10}, {10, 0}, {5, 0}, {7, 0}})}, false},
    {"BowTie", {ring({{0, 0}, {10, 10}, {10, 0}, {0, 10}})}, false},
    {"HoleCrossesShell", {kShell, ring({{5, 5}, {15, 5}, {15, 8}, {5, 8}})}, false},
    // Nesting that does not hold: the rings are fine, the grouping is not.
    {"HoleGroupedAsShell", {kShell, kHole}, false, {{0, {}}, {1, {}}}},
    {"ShellGroupedAsHole", {kShell, ring({{20, 0}, {20, 1}, {21, 1}})}, false, {{0, {1}}}},
    {"RingLeftOut", {kShell, kHole}, false, {{0, {}}}},
    {"NotClosed", {Part{{0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}}}, false},
    {"NotFinite", {ring({{0, 0}, {0, INFINITY}, {1, 1}})}, false},
    // On or within rounding of the shell's edge: too close to call in doubles.
    {"HoleVertexOnADiagonalEdge",
     {ring({{0.1, 0.1}, {0.1, 0.9}, {0.9, 0.9}, {0.7, 0.7}}), ring({{0.3, 0.3}, {0.3, 0.5}, {0.4, 0.5}})},
     false},
    {"HoleVertexAGrainFromTheShell", {kShell, ring({{std::nextafter(0.0, 1.0), 5}, {5, 6}, {5, 4}})}, false},
};

class Proof : public ::testing::TestWithParam<ProofCase> {};

TEST_P(Proof, PassesOnlyWhatGeosCallsValid) {
    const ProofCase& c = GetParam();
    const std::vector<RingGroup> groups = c.groups.empty() ? geom::nestRings(c.rings) : c.groups;
    const bool sure = geom::surelyValid(c.rings, groups);
    EXPECT_EQ(sure, c.sure);
    if (sure) {
        EXPECT_TRUE(geosValid(c.rings, groups));
    }
}

INSTANTIATE_TEST_SUITE_P(Rings, Proof, ::testing::ValuesIn(kProofCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Rings on a coarse grid touch, cross and run along each other often; fine coordinates are mostly
// clean. Whatever the proof passes GEOS must pass, and clean rings must mostly pass.
TEST(Proof, NeverPassesWhatGeosRefuses) {
    std::mt19937 random(20261210);
    int passed = 0, geosPassed = 0;
    for (int round = 0; round < 3000; ++round) {
        const bool coarse = round % 2 == 0;
        std::uniform_int_distribution<int> count(1, 4);
        std::vector<Part> rings;
        const int n = count(random);
        for (int k = 0; k < n; ++k) {
            // A star around a centre: simple unless the grid snaps vertices onto each other.
            std::uniform_real_distribution<double> centre(0, 20), radius(1, 8), jitter(0.5, 1.0);
            const double cx = centre(random), cy = centre(random), r = radius(random);
            const int points = 3 + int(random() % (coarse ? 6 : 40));
            Part p;
            for (int i = 0; i < points; ++i) {
                const double a = 2 * M_PI * i / points;
                double x = cx + r * jitter(random) * std::cos(a), y = cy + r * jitter(random) * std::sin(a);
                if (coarse) {
                    x = std::round(x);
                    y = std::round(y);
                }
                if (!p.empty() && geom::sameXY(p.back(), {x, y, 0})) continue;
                p.push_back({x, y, std::nan("")});
            }
            if (p.size() > 1 && geom::sameXY(p.front(), p.back())) p.pop_back();
            if (!geom::isAreal(p)) continue;
            p.push_back(p.front());
            rings.push_back(std::move(p));
        }
        if (rings.empty()) continue;
        const std::vector<RingGroup> groups = geom::nestRings(rings);
        const bool valid = geosValid(rings, groups);
        const bool sure = geom::surelyValid(rings, groups);
        if (sure) {
            ASSERT_TRUE(valid) << "round " << round;
        }
        passed += sure;
        geosPassed += valid;
    }
    EXPECT_GT(geosPassed, 500);
    EXPECT_GT(passed, geosPassed * 3 / 4);
}

// Every edge whose y-range holds y is among the edges of y's row; outside the ring's y-range
// there are none.
TEST(RingRows, HoldEveryEdgeThatCanDecide) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> grid(0, 200);
    Part p;
    for (int i = 0; i < 500; ++i) p.push_back({double(grid(random)), double(grid(random) / 4), 0});
    p.push_back({1e6, 50, 0});  // a long edge out and back
    const geom::RingRows rows(p);
    ASSERT_TRUE(rows.usable());
    const std::size_t n = p.size();
    for (double y = -1; y <= 52; y += 0.25) {
        const auto [first, last] = rows.edgesAt(y);
        std::vector<bool> listed(n, false);
        for (const std::uint32_t* e = first; e != last; ++e) listed[*e] = true;
        for (std::size_t i = 0; i < n; ++i) {
            const double a = p[i == 0 ? n - 1 : i - 1].y, b = p[i].y;
            if (std::min(a, b) <= y && y <= std::max(a, b)) {
                ASSERT_TRUE(listed[i]) << "edge " << i << " at y " << y;
            }
        }
    }
    EXPECT_EQ(rows.edgesAt(std::nan("")).first, rows.edgesAt(std::nan("")).second);
    EXPECT_FALSE(geom::RingRows(Part(10, Coord{0, 0, 0})).usable());  // too few points to pay
    Part withNaN = p;
    withNaN[3].y = std::nan("");
    EXPECT_FALSE(geom::RingRows(withNaN).usable());
}

// A shell large enough to be read through its rows, asked by many rings: holes, an island in a
// hole, a ring that starts on the shell's boundary and one outside.
TEST(NestRings, LargeShellNestsAsEdgeByEdge) {
    Part shell;
    for (int i = 0; i < 400; ++i) {
        const double a = 2 * M_PI * i / 400;
        shell.push_back({50 + 40 * std::cos(a), 50 + 40 * std::sin(a), 0});
    }
    shell.push_back(shell.front());
    std::vector<Part> rings{shell};
    for (int k = 0; k < 6; ++k) {
        const double x = 25 + 8 * k;
        rings.push_back(ring({{x, 45}, {x + 4, 45}, {x + 4, 55}, {x, 55}}));
    }
    rings.push_back(ring({{26, 48}, {28, 48}, {28, 52}, {26, 52}}));  // inside the first hole
    rings.push_back(ring({{90, 50}, {85, 52}, {85, 48}}));            // starts on the shell, inside
    rings.push_back(ring({{95, 95}, {99, 95}, {99, 99}}));            // outside everything
    const std::vector<RingGroup> groups = geom::nestRings(rings);
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0].shell, 0u);
    EXPECT_EQ(groups[0].holes, (std::vector<std::size_t>{1, 2, 3, 4, 5, 6, 8}));
    EXPECT_EQ(groups[1].shell, 7u);
    EXPECT_EQ(groups[2].shell, 9u);
    EXPECT_TRUE(groups[1].holes.empty() && groups[2].holes.empty());
}

}  // namespace
