// tests/export/roundtrip_test.cpp: every real cell that imports cleanly (the NOAA cells one by one,
// the S-58 data sets through their CATALOG.031) imported, exported again, and read by GDAL on both
// sides: LNAM by LNAM the same class, primitive, attribute values and geometry; the exported file's
// DSSI counts its records, each pointer resolves and the DDR is the template's; and importing the
// exported cell and exporting it again gives the same bytes. Each cell is imported and exported once
// per process and shared by the checks. A subset of the cells makes the same trip through databases
// on the PostgreSQL test server, and its export must be the GeoPackage's export byte for byte.
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

#include <gtest/gtest.h>

#include "export/cell_ddr.h"
#include "real_cells.h"
#include "s57/s57_file.h"

namespace fs = std::filesystem;
using namespace e2e;
using namespace exporttest;

namespace {

// One cell on one backend.
struct Case {
    Backend backend;
    const CellCase* cell;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.cell->name << (c.backend == Backend::Server ? " on the server" : "");
}

std::vector<Case> casesOn(Backend backend) {
    std::vector<Case> out;
    for (const CellCase& c : kCells)
        if (backend == Backend::GeoPackage || c.onServer) out.push_back({backend, &c});
    return out;
}

// The differences between the original and the exported cell that are legitimate, each with its
// reason: the cell ("*" any), the check, and a text that the difference line contains. A listed
// difference that no longer occurs fails the check too, so the list stays true.
struct Legitimate {
    const char* cell;
    const char* check;  // "features", "structure"
    const char* text;
    const char* reason;
};
const Legitimate kLegitimate[] = {
    // An attribute the cell gives with an empty value ("value unknown"): the import keeps no trace of
    // it (the column stays NULL, as for an attribute the feature does not have), so the export has
    // nothing to write and GDAL reads the attribute as absent.
    {"*", "features", "'(0:)' vs 'NULL'", "empty list value not kept by the import"},
    {"*", "features", "'' vs 'NULL'", "empty text value not kept by the import"},
    // Features of which more than a tenth lies outside the cell's data coverage (S-58 places them
    // there on purpose): the export writes the features that lie in the cell, and these do not.
    {"AA400003", "features", "071251770AD4005E DEPARE not exported", "outside the coverage"},
    {"AA400016", "features", "0712448FA9B0002B PILBOP not exported", "outside the coverage"},
    {"AA400016", "features", "07126AC812FB0037 DEPCNT not exported", "outside the coverage"},
};

void expectOnlyLegitimate(const std::string& cell, const std::string& check, const std::vector<std::string>& lines) {
    std::vector<const Legitimate*> listed;
    for (const auto& k : kLegitimate)
        if ((std::string(k.cell) == "*" || cell == k.cell) && check == k.check) listed.push_back(&k);
    std::vector<bool> seen(listed.size(), false);
    std::string unexpected;
    long n = 0;
    for (const auto& line : lines) {
        bool ok = false;
        for (std::size_t i = 0; i < listed.size(); ++i)
            if (line.find(listed[i]->text) != std::string::npos) ok = seen[i] = true;
        if (!ok && n++ < 400) unexpected += line + "\n";
    }
    EXPECT_EQ(n, 0) << n << " differences, the first:\n" << unexpected;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        if (std::string(listed[i]->cell) != "*") {
            EXPECT_TRUE(seen[i]) << "legitimate difference no longer seen (remove it): " << listed[i]->text;
        }
    }
}

// ---- One cell through import, export, GDAL and the second round ------------------------------------

// CellRun's fields for the first round; the second imports the exported cell into a new geodatabase
// and exports it again.
struct RoundTrip : CellRun {
    std::unique_ptr<TestGeodatabase> first, second;
    std::string skip;  // why the backend cannot be used
    std::string gdb2, exported2;
    DriverRun import2, export2;
};

const RoundTrip& roundTrip(const Case& k) {
    static std::map<std::pair<Backend, std::string>, std::unique_ptr<RoundTrip>> done;
    const CellCase& c = *k.cell;
    auto& slot = done[{k.backend, c.name}];
    if (slot) return *slot;
    slot = std::make_unique<RoundTrip>();
    RoundTrip& r = *slot;
    r.dir = folder().file(std::string(c.name) + (k.backend == Backend::Server ? "_server" : ""));
    fs::create_directories(r.dir);
    r.first = std::make_unique<TestGeodatabase>(k.backend, r.dir, "first");
    r.skip = r.first->skip;
    if (!r.skip.empty()) return r;
    r.gdb = r.first->path;
    r.cellName = importCell(c, r.dir, r.gdb, &r.import);
    fs::create_directories(r.dir + "/out");
    r.exported = r.dir + "/out/" + r.cellName;
    r.exportRun = runExport(r.exported, r.gdb, r.cellName);
    readWithGdal(c, r);

    // The second round: the exported cell into a new geodatabase and out again.
    if (fs::exists(r.exported)) {
        fs::create_directories(r.dir + "/in2");
        const std::string again = link(r.exported, r.dir + "/in2", r.cellName);
        r.second = std::make_unique<TestGeodatabase>(k.backend, r.dir, "second");
        r.gdb2 = r.second->path;
        r.import2 = runDriver(again, r.gdb2);
        fs::create_directories(r.dir + "/out2");
        r.exported2 = r.dir + "/out2/" + r.cellName;
        r.export2 = runExport(r.exported2, r.gdb2, r.cellName);
    }
    return r;
}

// ---- GDAL's features compared ---------------------------------------------------------------------

std::string show(const Pt& p) {
    std::ostringstream s;
    s.precision(17);
    s << "(" << p.x << " " << p.y;
    if (p.hasZ) s << " " << p.z;
    return s.str() + ")";
}

bool samePoint(const Pt& a, const Pt& b) { return a.x == b.x && a.y == b.y && a.hasZ == b.hasZ && (!a.hasZ || a.z == b.z); }

// A ring as a canonical vertex list: open, starting at its smallest vertex, in the direction whose
// second vertex is smaller (the order of an area's edges may start its rings elsewhere).
std::vector<std::vector<double>> canonicalRing(const Ring& ring) {
    std::vector<std::vector<double>> v;
    for (const auto& p : ring) v.push_back({p.x, p.y, p.hasZ ? p.z : 0.0});
    if (v.size() > 1 && v.front() == v.back()) v.pop_back();
    if (v.empty()) return v;
    auto rotated = [](std::vector<std::vector<double>> w) {
        std::rotate(w.begin(), std::min_element(w.begin(), w.end()), w.end());
        return w;
    };
    auto rev = v;
    std::reverse(rev.begin(), rev.end());
    return std::min(rotated(v), rotated(rev));
}

std::string compareGeometry(const Geometry& a, const Geometry& b) {
    if (a.kind != b.kind) return "kind " + std::to_string(a.kind) + " vs " + std::to_string(b.kind);
    if (a.kind == 3) {
        std::vector<std::vector<std::vector<double>>> x, y;
        for (const auto& r : a.parts) x.push_back(canonicalRing(r));
        for (const auto& r : b.parts) y.push_back(canonicalRing(r));
        std::sort(x.begin(), x.end());
        std::sort(y.begin(), y.end());
        return x == y ? std::string() : "rings differ";
    }
    if (a.parts.size() != b.parts.size())
        return std::to_string(a.parts.size()) + " vs " + std::to_string(b.parts.size()) + " parts";
    for (std::size_t i = 0; i < a.parts.size(); ++i) {
        if (a.parts[i].size() != b.parts[i].size())
            return "part " + std::to_string(i) + " " + std::to_string(a.parts[i].size()) + " vs " +
                   std::to_string(b.parts[i].size()) + " vertices";
        for (std::size_t k = 0; k < a.parts[i].size(); ++k)
            if (!samePoint(a.parts[i][k], b.parts[i][k]))
                return "vertex " + std::to_string(k) + " " + show(a.parts[i][k]) + " vs " + show(b.parts[i][k]);
    }
    return {};
}

// Columns that name the record in its file, not the feature: GDAL's feature id.
const std::set<std::string> kIgnoredColumns = {"FID"};

std::vector<std::string> compareFeatures(const GdalFeatures& original, const GdalFeatures& exported) {
    std::vector<std::string> lines;
    for (const auto& [lnam, o] : original) {
        const auto it = exported.find(lnam);
        if (it == exported.end()) {
            lines.push_back(lnam + " " + o.layer + " not exported");
            continue;
        }
        const GdalFeature& e = it->second;
        if (e.layer != o.layer) lines.push_back(lnam + " " + o.layer + " exported as " + e.layer);
        if (e.rows.size() != o.rows.size()) {
            lines.push_back(lnam + " " + o.layer + " " + std::to_string(o.rows.size()) + " vs " +
                            std::to_string(e.rows.size()) + " rows");
            continue;
        }
        for (std::size_t i = 0; i < o.rows.size(); ++i) {
            const GeoRow &a = o.rows[i], &b = e.rows[i];
            for (const auto& [column, value] : a.values) {
                if (kIgnoredColumns.count(column)) continue;
                const auto other = b.values.find(column);
                const std::optional<std::string> theirs = other == b.values.end() ? std::nullopt : other->second;
                if (value != theirs)
                    lines.push_back(lnam + " " + o.layer + " " + column + " '" + value.value_or("NULL") + "' vs '" +
                                    theirs.value_or("NULL") + "'");
            }
            const std::string g = compareGeometry(decodeGpkg(a.geometry), decodeGpkg(b.geometry));
            if (!g.empty()) lines.push_back(lnam + " " + o.layer + " geometry " + g);
        }
    }
    for (const auto& [lnam, e] : exported)
        if (!original.count(lnam)) lines.push_back(lnam + " " + e.layer + " exported, not in the original");
    return lines;
}

// ---- The file's own structure ---------------------------------------------------------------------

std::string featureLnam(const Record& r) {
    const Field* f = r.field("FOID");
    if (!f) return {};
    const auto agen = f->values("AGEN"), fidn = f->values("FIDN"), fids = f->values("FIDS");
    if (agen.empty() || fidn.empty() || fids.empty()) return {};
    return agen[0] + fidn[0] + fids[0];
}

std::vector<std::string> checkStructure(const std::string& path) {
    std::vector<std::string> lines;
    const std::vector<Record> records = readRecords(path);
    if (records.empty()) return {"file not readable"};

    std::set<std::string> names, lnams;
    std::map<std::string, long> counts;
    for (const Record& r : records) {
        const std::string name = recordName(r);
        names.insert(name);
        if (r.field("FRID")) {
            lnams.insert(featureLnam(r));
            const auto objl = r.field("FRID")->values("OBJL");
            const int code = objl.empty() ? 0 : std::atoi(objl[0].c_str());
            counts[code >= 300 && code < 400 ? "NOMR" : code >= 400 && code < 500 ? "NOLR"
                   : code >= 500                    ? "NOCR"
                                                    : "NOGR"]++;
        } else if (name.size() > 2) {
            const std::string rcnm = name.substr(0, 2);
            if (rcnm == "VI") counts["NOIN"]++;
            if (rcnm == "VC") counts["NOCN"]++;
            if (rcnm == "VE") counts["NOED"]++;
            if (rcnm == "VF") counts["NOFA"]++;
        }
    }
    const Field* dssi = records.front().field("DSSI");
    if (!dssi) lines.push_back("no DSSI in the first record");
    for (const char* label : {"NOMR", "NOCR", "NOGR", "NOLR", "NOIN", "NOCN", "NOED", "NOFA"}) {
        const auto v = dssi ? dssi->values(label) : std::vector<std::string>{};
        const long stated = v.empty() ? -1 : std::atol(v[0].c_str());
        if (stated != counts[label])
            lines.push_back(std::string("DSSI ") + label + " " + std::to_string(stated) + " vs " +
                            std::to_string(counts[label]) + " records");
    }
    for (const Record& r : records) {
        for (const char* tag : {"FSPT", "VRPT"})
            if (const Field* f = r.field(tag))
                for (const auto& target : f->values("NAME"))
                    if (!names.count(target)) lines.push_back(recordName(r) + " " + tag + " " + target + " unresolved");
        if (const Field* f = r.field("FFPT"))
            for (const auto& target : f->values("LNAM"))
                if (!lnams.count(target)) lines.push_back(recordName(r) + " FFPT " + target + " unresolved");
    }
    return lines;
}

// The DDR of the base-cell template as createObjectFile writes it.
std::string templateDdr() {
    static std::string bytes;
    if (bytes.empty()) {
        const std::string path = folder().file("template.000");
        Iso8211File file{};
        if (createObjectFile(path.c_str(), 1, &file, 1) == 0) (void)Close8211File(&file);
        bytes = ddrBytes(path);
    }
    return bytes;
}

// ---- The checks -------------------------------------------------------------------------------------

class RoundTripTest : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        skipWithoutDataOrGdal();
        if (IsSkipped()) return;
        trip = &roundTrip(GetParam());
        if (!trip->skip.empty()) GTEST_SKIP() << trip->skip;
        expectExported(*GetParam().cell, *trip);
    }
    std::string name() const { return GetParam().cell->name; }
    const RoundTrip* trip = nullptr;
};

TEST_P(RoundTripTest, GdalReadsTheSameFeatures) {
    GdalFeatures original, exported;
    ASSERT_NO_FATAL_FAILURE(gdalFeatures(*trip, &original, &exported));
    expectOnlyLegitimate(name(), "features", compareFeatures(original, exported));
}

TEST_P(RoundTripTest, CountsPointersAndDdrHold) {
    expectOnlyLegitimate(name(), "structure", checkStructure(trip->exported));
    const std::string ddr = ddrBytes(trip->exported);
    EXPECT_FALSE(ddr.empty());
    EXPECT_TRUE(ddr == templateDdr()) << "the DDR is not the template's";
}

TEST_P(RoundTripTest, ExportOfTheReimportedCellIsTheSameFile) {
    ASSERT_TRUE(failures(trip->import2).empty()) << failures(trip->import2)[0];
    ASSERT_TRUE(failures(trip->export2).empty()) << failures(trip->export2)[0];
    const std::string first = fileBytes(trip->exported), second = fileBytes(trip->exported2);
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(first.size(), second.size());
    EXPECT_TRUE(first == second) << "the second export differs from the first";
}

INSTANTIATE_TEST_SUITE_P(Cells, RoundTripTest, ::testing::ValuesIn(casesOn(Backend::GeoPackage)),
                         [](const auto& i) { return std::string(i.param.cell->name); });
INSTANTIATE_TEST_SUITE_P(Server, RoundTripTest, ::testing::ValuesIn(casesOn(Backend::Server)),
                         [](const auto& i) { return std::string(i.param.cell->name); });

// The cell exported from the server is the file exported from the GeoPackage, byte for byte.
class AcrossBackends : public RoundTripTest {};

TEST_P(AcrossBackends, ExportIsTheSameFileWhicheverBackend) {
    const RoundTrip& file = roundTrip(Case{Backend::GeoPackage, GetParam().cell});
    ASSERT_TRUE(file.skip.empty() && fs::exists(file.exported));
    const std::string fromFile = fileBytes(file.exported), fromServer = fileBytes(trip->exported);
    ASSERT_FALSE(fromFile.empty());
    EXPECT_EQ(fromServer.size(), fromFile.size());
    EXPECT_TRUE(fromServer == fromFile) << "the cell exported from the server differs from the GeoPackage's";
}

INSTANTIATE_TEST_SUITE_P(Server, AcrossBackends, ::testing::ValuesIn(casesOn(Backend::Server)),
                         [](const auto& i) { return std::string(i.param.cell->name); });

}  // namespace
