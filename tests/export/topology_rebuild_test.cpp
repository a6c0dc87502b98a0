// tests/export/topology_rebuild_test.cpp: the export with new spatial primitives over every real
// cell that imports cleanly: GDAL assembles the same features from the rebuilt primitives, the
// primitives are a chain-node topology (pointers resolve, edges meet only at their nodes, areas keep
// their side and rings), a second run gives the same file and leaves no old rows of the cell, other
// cells are untouched, and the runs that must refuse (a sounding class in the topology, a dataset
// without topology) refuse and change nothing.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <geos_c.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "export/gdbs57main.h"
#include "export_support.h"
#include "platform/ui/ui.h"
#include "real_cells.h"
#include "s57/dbutil.h"
#include "s57/s57_util2.h"
#include "support/test_data.h"

namespace fs = std::filesystem;
using namespace e2e;
using namespace exporttest;

namespace {

// The rebuild's tolerance (the template topology's) plus the half unit by which a crossing is
// rounded to the cell's grid, in degrees.
constexpr double kAllowance = 2e-7;

// Features that the export without the rebuild leaves out as well (more than a tenth outside the
// cell's coverage; see the round trip's list).
const std::set<std::string> kOutsideCoverage = {"071251770AD4005E", "0712448FA9B0002B", "07126AC812FB0037"};

// Features whose original geometry is damaged on purpose (S-58 test data): the noding of the rebuild
// splits linework where it crosses itself, so GDAL assembles other parts. Each must still differ.
struct Damaged {
    const char* cell;
    const char* lnam;
    const char* reason;
};
const Damaged kDamaged[] = {
    {"AA400001", "07125A3B8E540001", "SLCONS area whose rings GDAL reads as incomplete (3 open rings)"},
    {"AA400001", "07125A68202E0001", "SBDARE area that is not valid (its hole crosses its exterior)"},
    {"AA400016", "0712A2C61C620041", "AIRARE area whose ring crosses itself"},
};

bool damaged(const std::string& cell, const std::string& line) {
    for (const Damaged& d : kDamaged)
        if (cell == d.cell && line.rfind(d.lnam, 0) == 0) return true;
    return false;
}

DriverRun exportRebuilt(const std::string& output, const std::string& gdb, const std::string& cell) {
    return runExport(output, gdb, cell, {}, "S57", true);
}

void execute(const std::string& gpkg, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(gpkg.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    const std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << message;
}

// Every user table's rows as text, for "nothing changed".
std::string contents(const std::string& gpkg) {
    std::string out;
    for (const auto& table : tables(gpkg)) {
        out += "[" + table + "]\n";
        for (const auto& row : query(gpkg, "SELECT * FROM \"" + table + "\"")) {
            for (const auto& v : row) out += (v ? *v : std::string("NULL")) + "|";
            out += "\n";
        }
    }
    return out;
}

// ---- One cell: import, the rebuild twice ----------------------------------------------------------

// The first rebuild is the cell run's export.
struct Rebuild : CellRun {
    std::string exported2;
    DriverRun second;
    std::map<std::string, long> rowsAfterFirst, rowsAfterSecond;
};

std::map<std::string, long> cellRows(const std::string& gdb, const std::string& cell) {
    std::map<std::string, long> out;
    for (const char* t : {"ve", "vc", "vi2d", "vi3dsp", "srel"}) out[t] = count(gdb, t, "DSNM = '" + cell + "'");
    return out;
}

const Rebuild& rebuild(const CellCase& c) {
    return runOnce<Rebuild>(c, "cell.gpkg", [](Rebuild& r) {
        fs::create_directories(r.dir + "/out2");
        r.exported2 = r.dir + "/out2/" + r.cellName;
        r.exportRun = exportRebuilt(r.exported, r.gdb, r.cellName);
        r.rowsAfterFirst = cellRows(r.gdb, r.cellName);
        r.second = exportRebuilt(r.exported2, r.gdb, r.cellName);
        r.rowsAfterSecond = cellRows(r.gdb, r.cellName);
    });
}

// ---- Geometry with the allowance --------------------------------------------------------------------

struct P {
    double x, y;
    bool operator==(const P& o) const { return x == o.x && y == o.y; }
};

double distanceToSegment(const P& p, const P& a, const P& b) {
    const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / len2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy));
}

// Whether `exported` is `original` with vertices put in on its segments (nodes at crossings) or
// left out within the allowance of the line between their neighbours; both start and end alike.
bool sameLine(const std::vector<P>& original, const std::vector<P>& exported) {
    if (original.empty() || exported.empty()) return original.empty() && exported.empty();
    if (!(original.front() == exported.front()) || !(original.back() == exported.back())) return false;
    std::size_t i = 1, j = 1;
    while (i < original.size() && j < exported.size()) {
        if (original[i] == exported[j]) {
            ++i, ++j;
        } else if (distanceToSegment(exported[j], original[i - 1], original[i]) <= kAllowance) {
            ++j;  // put in
        } else if (distanceToSegment(original[i], exported[j - 1], exported[j]) <= kAllowance) {
            ++i;  // left out
        } else {
            return false;
        }
    }
    return i == original.size() && j == exported.size();
}

std::vector<P> points(const Ring& ring) {
    std::vector<P> out;
    for (const auto& p : ring) out.push_back({p.x, p.y});
    return out;
}

bool sameRing(std::vector<P> a, std::vector<P> b) {
    if (a.size() > 1 && a.front() == a.back()) a.pop_back();
    if (b.size() > 1 && b.front() == b.back()) b.pop_back();
    for (std::size_t k = 0; k < a.size(); ++k) {
        const auto m = std::find(b.begin(), b.end(), a[k]);
        if (m == b.end()) continue;
        std::rotate(a.begin(), a.begin() + long(k), a.end());
        std::rotate(b.begin(), m, b.end());
        a.push_back(a.front());
        b.push_back(b.front());
        if (sameLine(a, b)) return true;
        std::reverse(b.begin(), b.end());
        return sameLine(a, b);
    }
    return false;
}

std::string compareGeometry(const Geometry& a, const Geometry& b) {
    if (a.kind != b.kind) return "kind " + std::to_string(a.kind) + " vs " + std::to_string(b.kind);
    if (a.parts.size() != b.parts.size())
        return std::to_string(a.parts.size()) + " vs " + std::to_string(b.parts.size()) + " parts";
    if (a.kind == 1) {
        for (std::size_t i = 0; i < a.parts.size(); ++i)
            for (std::size_t k = 0; k < a.parts[i].size() && k < b.parts[i].size(); ++k) {
                const Pt &p = a.parts[i][k], &q = b.parts[i][k];
                if (p.x != q.x || p.y != q.y || p.hasZ != q.hasZ || (p.hasZ && p.z != q.z)) return "point moved";
            }
        return {};
    }
    if (a.kind == 2) {
        for (std::size_t i = 0; i < a.parts.size(); ++i) {
            std::vector<P> o = points(a.parts[i]), e = points(b.parts[i]);
            if (sameLine(o, e)) continue;
            // A closed line starts at the node the graph gives its ring, which need not be its own
            // first vertex: the same ring of vertices.
            if (o.size() > 2 && o.front() == o.back() && e.size() > 2 && e.front() == e.back() && sameRing(o, e))
                continue;
            std::reverse(e.begin(), e.end());
            if (!sameLine(o, e)) return "line " + std::to_string(i) + " differs";
        }
        return {};
    }
    std::vector<bool> used(b.parts.size(), false);
    for (const Ring& ring : a.parts) {
        bool found = false;
        for (std::size_t k = 0; k < b.parts.size() && !found; ++k)
            if (!used[k] && sameRing(points(ring), points(b.parts[k]))) used[k] = found = true;
        if (!found) return "a ring of " + std::to_string(ring.size()) + " vertices differs";
    }
    return {};
}

// GDAL's feature id and its pointer lists name records of the file, not the feature.
const std::set<std::string> kIgnoredColumns = {"FID", "NAME_RCNM", "NAME_RCID", "ORNT", "USAG", "MASK"};

// ---- The file's records -------------------------------------------------------------------------------

std::vector<P> coordinates(const Record& r, const char* tag) {
    std::vector<P> out;
    const Field* f = r.field(tag);
    if (!f) return out;
    const auto ys = f->values("YCOO"), xs = f->values("XCOO");
    for (std::size_t i = 0; i < ys.size() && i < xs.size(); ++i) out.push_back({std::atof(xs[i].c_str()), std::atof(ys[i].c_str())});
    return out;
}

struct Pointer {
    std::string name, ornt, usag, topi, mask;
};

std::vector<Pointer> pointers(const Record& r, const char* tag) {
    std::vector<Pointer> out;
    const Field* f = r.field(tag);
    if (!f) return out;
    for (const auto& [label, value] : f->subfields) {
        if (label == "NAME") out.push_back({value, "", "", "", ""});
        else if (out.empty()) continue;
        else if (label == "ORNT") out.back().ornt = value;
        else if (label == "USAG") out.back().usag = value;
        else if (label == "TOPI") out.back().topi = value;
        else if (label == "MASK") out.back().mask = value;
    }
    return out;
}

struct Cell {
    std::vector<Record> records;
    std::map<std::string, const Record*> byName;
    std::map<std::string, std::vector<P>> edges;  // full linework: first node, interior, last node
    std::vector<std::string> problems;
};

Cell readCell(const std::string& path) {
    Cell c;
    c.records = readRecords(path);
    for (const Record& r : c.records) c.byName[recordName(r)] = &r;
    for (const Record& r : c.records) {
        const std::string name = recordName(r);
        if (name.rfind("VE", 0) != 0) continue;  // an edge
        std::string first, last;
        for (const Pointer& p : pointers(r, "VRPT")) {
            const auto it = c.byName.find(p.name);
            if (it == c.byName.end() || p.name.rfind("VC", 0) != 0) {
                c.problems.push_back(name + " VRPT " + p.name + " is no connected node of the file");
                continue;
            }
            (p.topi == "1" || p.topi == "B" ? first : last) = p.name;
        }
        if (first.empty() || last.empty()) {
            c.problems.push_back(name + " lacks its begin or end node");
            continue;
        }
        std::vector<P> line = coordinates(*c.byName[first], "SG2D");
        for (const P& p : coordinates(r, "SG2D")) line.push_back(p);
        for (const P& p : coordinates(*c.byName[last], "SG2D")) line.push_back(p);
        c.edges[name] = line;
    }
    return c;
}

// ---- The checks -------------------------------------------------------------------------------------

using RebuildTest = RealCellTest<Rebuild, rebuild>;

TEST_P(RebuildTest, GdalAssemblesTheSameFeatures) {
    GdalFeatures original, exported;
    ASSERT_NO_FATAL_FAILURE(gdalFeatures(*run, &original, &exported));
    std::vector<std::string> lines;
    for (const auto& [lnam, o] : original) {
        const auto it = exported.find(lnam);
        if (it == exported.end()) {
            if (!kOutsideCoverage.count(lnam)) lines.push_back(lnam + " " + o.layer + " not exported");
            continue;
        }
        const auto& e = it->second;
        if (e.rows.size() != o.rows.size()) {
            lines.push_back(lnam + " " + o.layer + " row count");
            continue;
        }
        for (std::size_t i = 0; i < o.rows.size(); ++i) {
            const GeoRow &a = o.rows[i], &b = e.rows[i];
            for (const auto& [column, value] : a.values) {
                if (kIgnoredColumns.count(column)) continue;
                const auto theirs = valueOf(b, column);
                // An empty value the import does not keep (see the round trip).
                if (value != theirs && !(value && (*value == "" || *value == "(0:)") && !theirs))
                    lines.push_back(lnam + " " + o.layer + " " + column + " '" + value.value_or("NULL") + "' vs '" +
                                    theirs.value_or("NULL") + "'");
            }
            const std::string g = compareGeometry(decodeGpkg(a.geometry), decodeGpkg(b.geometry));
            if (!g.empty()) lines.push_back(lnam + " " + o.layer + " geometry " + g);
        }
    }
    std::vector<std::string> unexpected;
    std::set<std::string> seen;
    for (const auto& line : lines) {
        if (damaged(GetParam().name, line)) seen.insert(line.substr(0, 16));
        else unexpected.push_back(line);
    }
    for (const Damaged& d : kDamaged)
        if (GetParam().name == std::string(d.cell)) {
            EXPECT_TRUE(seen.count(d.lnam)) << "no longer differs: " << d.lnam;
        }
    std::string shown;
    for (std::size_t i = 0; i < unexpected.size() && i < 40; ++i) shown += unexpected[i] + "\n";
    EXPECT_TRUE(unexpected.empty()) << unexpected.size() << " differences, the first:\n" << shown;
}

TEST_P(RebuildTest, PrimitivesAreAChainNodeTopology) {
    const Cell c = readCell(run->exported);
    ASSERT_FALSE(c.records.empty());
    std::vector<std::string> problems = c.problems;

    // DSSI counts what was written; every pointer resolves.
    std::map<std::string, long> counts;
    for (const Record& rec : c.records) {
        const std::string name = recordName(rec);
        if (const Field* frid = rec.field("FRID")) {
            const auto objl = frid->values("OBJL");
            const int code = objl.empty() ? 0 : std::atoi(objl[0].c_str());
            counts[code >= 300 && code <= 312 ? "NOMR" : code >= 400 ? "NOCR" : "NOGR"]++;
            for (const Pointer& p : pointers(rec, "FSPT"))
                if (!c.byName.count(p.name)) problems.push_back(name + " FSPT " + p.name + " unresolved");
        } else if (name.rfind("VI", 0) == 0) {
            counts["NOIN"]++;
        } else if (name.rfind("VC", 0) == 0) {
            counts["NOCN"]++;
        } else if (name.rfind("VE", 0) == 0) {
            counts["NOED"]++;
        }
    }
    const Field* dssi = c.records.front().field("DSSI");
    ASSERT_NE(dssi, nullptr);
    for (const char* label : {"NOMR", "NOGR", "NOIN", "NOCN", "NOED"}) {
        const auto v = dssi->values(label);
        EXPECT_EQ(v.empty() ? -1 : std::atol(v[0].c_str()), counts[label]) << "DSSI " << label;
    }

    // No isolated node where a connected node is: a point there points at the connected node.
    std::set<std::pair<double, double>> connected;
    for (const Record& rec : c.records)
        if (recordName(rec).rfind("VC", 0) == 0)
            for (const P& p : coordinates(rec, "SG2D")) connected.insert({p.x, p.y});
    for (const Record& rec : c.records)
        if (recordName(rec).rfind("VI", 0) == 0)
            for (const P& p : coordinates(rec, "SG2D"))
                if (connected.count({p.x, p.y})) problems.push_back(recordName(rec) + " lies on a connected node");

    // Edges meet only at nodes: noding them again puts in no node and splits no edge.
    GEOSContextHandle_t geos = GEOS_init_r();
    std::vector<GEOSGeometry*> lines;
    std::size_t vertices = 0;
    for (const auto& [name, line] : c.edges) {
        GEOSCoordSequence* seq = GEOSCoordSeq_create_r(geos, unsigned(line.size()), 2);
        for (std::size_t i = 0; i < line.size(); ++i) GEOSCoordSeq_setXY_r(geos, seq, unsigned(i), line[i].x, line[i].y);
        lines.push_back(GEOSGeom_createLineString_r(geos, seq));
        vertices += line.size();
    }
    if (!lines.empty()) {
        GEOSGeometry* all =
            GEOSGeom_createCollection_r(geos, GEOS_MULTILINESTRING, lines.data(), unsigned(lines.size()));
        GEOSGeometry* noded = GEOSNode_r(geos, all);
        ASSERT_NE(noded, nullptr);
        const int parts = GEOSGetNumGeometries_r(geos, noded);
        const int points = GEOSGetNumCoordinates_r(geos, noded);
        EXPECT_EQ(parts, int(lines.size())) << "noding again splits edges";
        EXPECT_EQ(points, int(vertices)) << "noding again puts in vertices";
        if (parts != int(lines.size()) || points != int(vertices)) {
            // Name the edges that meet elsewhere than at a node both end at.
            std::vector<std::string> names;
            for (const auto& e : c.edges) names.push_back(e.first);
            for (std::size_t a = 0; a < lines.size(); ++a)
                for (std::size_t b = a + 1; b < lines.size(); ++b) {
                    const auto &la = c.edges.at(names[a]), &lb = c.edges.at(names[b]);
                    if (GEOSIntersects_r(geos, lines[a], lines[b]) != 1) continue;
                    GEOSGeometry* common = GEOSIntersection_r(geos, lines[a], lines[b]);
                    const int n = GEOSGetNumCoordinates_r(geos, common);
                    bool atNodes = GEOSGeomTypeId_r(geos, common) == GEOS_POINT ||
                                   GEOSGeomTypeId_r(geos, common) == GEOS_MULTIPOINT;
                    for (int k = 0; atNodes && k < GEOSGetNumGeometries_r(geos, common); ++k) {
                        double x, y;
                        const GEOSGeometry* pt = GEOSGetGeometryN_r(geos, common, k);
                        GEOSGeomGetX_r(geos, pt, &x);
                        GEOSGeomGetY_r(geos, pt, &y);
                        const P q{x, y};
                        atNodes = (q == la.front() || q == la.back()) && (q == lb.front() || q == lb.back());
                    }
                    if (!atNodes) problems.push_back(names[a] + " and " + names[b] + " meet elsewhere than at a node (" +
                                                     std::to_string(n) + " points in common)");
                    GEOSGeom_destroy_r(geos, common);
                }
        }
        GEOSGeom_destroy_r(geos, noded);
        GEOSGeom_destroy_r(geos, all);
    }
    GEOS_finish_r(geos);

    std::string shown;
    for (std::size_t i = 0; i < problems.size() && i < 40; ++i) shown += problems[i] + "\n";
    EXPECT_TRUE(problems.empty()) << problems.size() << " problems, the first:\n" << shown;
}

// An area keeps itself on the right of its boundary: the exterior edges (USAG E, or C on the
// coverage limit) as oriented by ORNT run clockwise, the holes' (I) anticlockwise; MASK N goes with C.
TEST_P(RebuildTest, AreasKeepTheirSideAndRings) {
    const Cell c = readCell(run->exported);
    std::vector<std::string> problems;
    long areas = 0, holes = 0;
    for (const Record& rec : c.records) {
        const Field* frid = rec.field("FRID");
        if (!frid || frid->values("PRIM") != std::vector<std::string>{"3"}) continue;
        double exterior = 0, interior = 0;
        bool any = false;
        for (const Pointer& p : pointers(rec, "FSPT")) {
            const auto it = c.edges.find(p.name);
            if (it == c.edges.end()) continue;
            std::vector<P> line = it->second;
            if (p.ornt == "2" || p.ornt == "R") std::reverse(line.begin(), line.end());
            double twice = 0;
            for (std::size_t i = 0; i + 1 < line.size(); ++i) twice += line[i].x * line[i + 1].y - line[i + 1].x * line[i].y;
            const bool hole = p.usag == "2" || p.usag == "I";
            const bool limit = p.usag == "3" || p.usag == "C";
            (hole ? interior : exterior) += twice;
            const bool maskN = p.mask == "255" || p.mask == "N";
            if (limit != maskN) problems.push_back(recordName(rec) + " " + p.name + " USAG " + p.usag + " MASK " + p.mask);
            any = true;
        }
        if (!any) continue;
        ++areas;
        if (!(exterior < 0)) problems.push_back(recordName(rec) + " exterior not clockwise");
        if (interior != 0) {
            ++holes;
            if (!(interior > 0)) problems.push_back(recordName(rec) + " holes not anticlockwise");
        }
    }
    std::string shown;
    for (std::size_t i = 0; i < problems.size() && i < 40; ++i) shown += problems[i] + "\n";
    EXPECT_TRUE(problems.empty()) << problems.size() << " problems of " << areas << " areas (" << holes
                                  << " with holes), the first:\n" << shown;
}

TEST_P(RebuildTest, SecondRunGivesTheSameFileAndNoOldRows) {
    ASSERT_TRUE(failures(run->second).empty()) << failures(run->second)[0];
    const std::string first = fileBytes(run->exported), second = fileBytes(run->exported2);
    ASSERT_FALSE(second.empty());
    EXPECT_TRUE(first == second) << "the second rebuild wrote another file";
    EXPECT_EQ(run->rowsAfterFirst, run->rowsAfterSecond) << "rows of the first rebuild left behind";
    EXPECT_GT(run->rowsAfterSecond.at("ve") + run->rowsAfterSecond.at("vi2d") + run->rowsAfterSecond.at("vi3dsp"), 0);
}

// The steps' messages in their order, each at its position; the edges move the bar from 20 to 40.
TEST_P(RebuildTest, ProgressOfTheSteps) {
    const std::vector<std::pair<int, long>> steps = {{154, 8}, {156, 12}, {155, 15}, {157, 20}, {158, 40}, {159, 45}};
    std::size_t next = 0;
    long position = -1;
    bool inEdges = false;
    std::vector<long> edgePositions;
    for (const auto& e : run->exportRun.events) {
        if (e.kind == ui::Event::Kind::ProgressPosition) {
            position = e.value;
            if (inEdges) edgePositions.push_back(position);
        } else if (e.kind == ui::Event::Kind::ProgressMessage && next < steps.size() &&
                   e.text == stringText(steps[next].first)) {
            EXPECT_EQ(position, steps[next].second) << e.text;
            inEdges = steps[next].first == 157;
            ++next;
        }
    }
    EXPECT_EQ(next, steps.size()) << "messages missing or out of order";
    ASSERT_FALSE(edgePositions.empty());
    EXPECT_TRUE(std::is_sorted(edgePositions.begin(), edgePositions.end()));
    EXPECT_GE(edgePositions.front(), 20);
    EXPECT_EQ(edgePositions.back(), 40);
}

INSTANTIATE_TEST_SUITE_P(Cells, RebuildTest, ::testing::ValuesIn(kCells),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Refusals and other cells ---------------------------------------------------------------------

class RebuildRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testdata::present()) GTEST_SKIP() << "test data folder " << testdata::root() << " is absent";
    }
};

// The rebuild of one cell leaves another cell's primitives and relation rows as they were.
TEST_F(RebuildRunTest, OtherCellsAreUntouched) {
    const std::string dir = folder().file("two");
    const std::string gdb = dir + "/two.gpkg";
    DriverRun a, b;
    const std::string cellA = importCell(kCells[0], dir + "/a", gdb, &a);
    const std::string cellB = importCell(kCells[1], dir + "/b", gdb, &b);
    ASSERT_TRUE(failures(a).empty() && failures(b).empty());
    auto snapshot = [&](const std::string& cell) {
        std::string out;
        for (const char* t : {"ve", "vc", "vi2d", "vi3dsp", "vi3d", "srel"})
            for (const auto& row : query(gdb, std::string("SELECT * FROM ") + t + " WHERE DSNM = '" + cell + "'"))
                for (const auto& v : row) out += (v ? *v : std::string("NULL")) + "|";
        return out;
    };
    const std::string before = snapshot(cellB);
    ASSERT_FALSE(before.empty());
    fs::create_directories(dir + "/out");
    const DriverRun run = exportRebuilt(dir + "/out/" + cellA, gdb, cellA);
    ASSERT_TRUE(failures(run).empty()) << failures(run)[0];
    EXPECT_TRUE(snapshot(cellB) == before);
}

struct RefusalCase {
    const char* name;
    const char* sql;      // makes the geodatabase refuse
    const char* message;  // shown; empty: none but the failure of the step
};

const RefusalCase kRefusals[] = {
    {"SoundingsInTheTopology",
     "INSERT INTO gdb_topology_classes (topology, class_name) SELECT name, 'SoundingFeature' FROM gdb_topologies",
     "Please remove sounding class from topology set"},
    {"NoTopology", "DELETE FROM gdb_topology_classes; DELETE FROM gdb_topologies", ""},
};

class RefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalTest, RefusesAndChangesNothing) {
    if (!testdata::present()) GTEST_SKIP() << "test data folder " << testdata::root() << " is absent";
    const std::string dir = folder().file(std::string("refuse_") + GetParam().name);
    const std::string gdb = dir + "/cell.gpkg";
    DriverRun imported;
    const std::string cell = importCell(kCells[0], dir, gdb, &imported);
    ASSERT_TRUE(failures(imported).empty());
    execute(gdb, GetParam().sql);
    const std::string before = contents(gdb);
    fs::create_directories(dir + "/out");
    const DriverRun run = exportRebuilt(dir + "/out/" + cell, gdb, cell);
    const auto shown = failures(run);
    ASSERT_FALSE(shown.empty());
    if (*GetParam().message) EXPECT_EQ(shown.front(), GetParam().message);
    else EXPECT_EQ(shown.size(), 1u) << shown.front();
    EXPECT_NE(run.log.find(stringText(140)), std::string::npos) << run.log;
    EXPECT_FALSE(fs::exists(dir + "/out/" + cell)) << "a refused cell leaves no file";
    EXPECT_TRUE(contents(gdb) == before) << "the refused run changed the geodatabase";
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusalTest, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// `tarvo export --create-topology` without a terminal: the option is the consent; the cell's
// primitives are the rebuilt ones (the generated names), and the file is the driver's.
TEST_F(RebuildRunTest, CommandLineInBatchRebuildsWithoutAsking) {
    const std::string tarvo = std::string(TARVO_BINARY_DIR) + "/bin/tarvo";
    if (!fs::exists(tarvo)) GTEST_SKIP() << tarvo << " is not built";
    const std::string dir = folder().file("command");
    const std::string gdb = dir + "/cell.gpkg";
    DriverRun imported;
    const std::string cell = importCell(kCells[0], dir, gdb, &imported);
    ASSERT_TRUE(failures(imported).empty());
    const long storedEdges = count(gdb, "ve", "DSNM = '" + cell + "'");
    fs::create_directories(dir + "/out");
    const std::string out = dir + "/out/" + cell;
    const std::string command = tarvo + " export '" + gdb + "' '" + out + "' --create-topology </dev/null >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    ASSERT_TRUE(fs::exists(out));
    const long edges = count(gdb, "ve", "DSNM = '" + cell + "' AND NAME LIKE 'VE00%'");
    EXPECT_GT(edges, 0);
    EXPECT_EQ(edges, count(gdb, "ve", "DSNM = '" + cell + "'")) << "stored edges left beside the rebuilt ones";
    EXPECT_NE(edges, storedEdges);
    const auto noed = scalar(gdb, "SELECT NOED FROM dssi WHERE DSNM = '" + cell + "'");
    ASSERT_TRUE(noed.has_value());
    EXPECT_EQ(std::stol(*noed), edges);
}

}  // namespace

namespace {

long number(const std::optional<std::string>& v) { return v ? std::atol(v->c_str()) : -1; }

// Unnamed features take "FE" numbers after the highest in use; each sounding group becomes one
// isolated-node name over all its soundings (depths kept) with one relation row.
TEST_F(RebuildRunTest, UnnamedFeaturesAndSoundingGroups) {
    const std::string dir = folder().file("names");
    const std::string gdb = dir + "/cell.gpkg";
    DriverRun imported;
    const std::string cell = importCell(kCells[0], dir, gdb, &imported);
    ASSERT_TRUE(failures(imported).empty());
    long highest = 0;
    for (const auto& table : tables(gdb)) {
        const auto cols = columns(gdb, table);
        if (std::find(cols.begin(), cols.end(), "LNAM") == cols.end() || std::find(cols.begin(), cols.end(), "NAME") == cols.end())
            continue;
        highest = std::max(highest, number(scalar(gdb, "SELECT max(CAST(substr(NAME, 3) AS INTEGER)) FROM \"" + table +
                                                           "\" WHERE NAME LIKE 'FE%'")));
    }
    ASSERT_GT(highest, 0);
    const auto ids = query(gdb, "SELECT OBJECTID FROM DangerPointFeature ORDER BY OBJECTID LIMIT 2");
    ASSERT_EQ(ids.size(), 2u);
    {
        // Through the geodatabase, whose triggers keep its spatial index.
        IWorkspacePtr workspace;
        ASSERT_EQ(openWorkspace(gdb.c_str(), &workspace), S_OK);
        IFeatureClassPtr points = IFeatureWorkspacePtr(workspace)->OpenFeatureClass("DangerPointFeature");
        const LONG nameIndex = points->FindField("NAME");
        for (int k = 0; k < 2; ++k) {
            IFeaturePtr feature = points->GetFeature(std::atol(ids[std::size_t(k)][0]->c_str()));
            _variant_t value;
            if (k == 0) value.vt = VT_NULL;
            else value = _variant_t("");
            feature->PutValue(nameIndex, value);
            ASSERT_EQ(feature->Store(), S_OK);
        }
    }

    fs::create_directories(dir + "/out");
    const DriverRun run = exportRebuilt(dir + "/out/" + cell, gdb, cell);
    ASSERT_TRUE(failures(run).empty()) << failures(run)[0];
    char expected[2][32];
    std::snprintf(expected[0], sizeof expected[0], "FE%010ld", highest + 1);
    std::snprintf(expected[1], sizeof expected[1], "FE%010ld", highest + 2);
    for (int k = 0; k < 2; ++k) {
        EXPECT_EQ(scalar(gdb, "SELECT NAME FROM DangerPointFeature WHERE OBJECTID = " + *ids[k][0]).value_or(""),
                  expected[k]);
        EXPECT_EQ(count(gdb, "srel", std::string("SRC_NAME = '") + expected[k] + "'"), 1) << expected[k];
    }

    const auto groups = query(gdb, "SELECT NAME, count(*), total(DEPTH) FROM SoundingFeature GROUP BY NAME");
    ASSERT_FALSE(groups.empty());
    for (const auto& g : groups) {
        const std::string name = *g[0];
        const auto rows = query(gdb, "SELECT DEST_NAME FROM srel WHERE SRC_NAME = '" + name + "'");
        ASSERT_EQ(rows.size(), 1u) << name;
        const std::string node = *rows[0][0];
        EXPECT_EQ(count(gdb, "vi3dsp", "NAME = '" + node + "' AND DSNM = '" + cell + "'"), std::atol(g[1]->c_str()))
            << name;
        EXPECT_EQ(scalar(gdb, "SELECT total(DEPTH) FROM vi3dsp WHERE NAME = '" + node + "'"), g[2]) << name;
    }
}

}  // namespace
