// tests/import/driver_test.cpp: the import driver as its callers see it: what it shows (messages,
// progress, the closing question), what it logs, what it leaves in the geodatabase, for single
// cells, exchange sets built in code, and bad input. Small S-58 cells keep the runs short.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"
#include "import/s572gdbmain.h"
#include "platform/gdb/gdb.h"
#include "support/test_data.h"

namespace fs = std::filesystem;
using e2e::count;
using e2e::rowCounts;
using e2e::DriverRun;
using e2e::runDriver;
using e2e::Scratch;

namespace {

const std::string kCell1 = "s58/AA400001/ENC_ROOT/AA400001.000";
const std::string kCell2 = "s58/AA400002/ENC_ROOT/AA400002.000";
constexpr char kQuestion[] = "Would you like to see the log file?";
constexpr char kDashes[] = "--------------------------------------";

// ---- An exchange-set catalogue built in code (ASCII ISO 8211, as CATALOG files are written) ----

std::string num(std::size_t v, int w) {
    std::string s = std::to_string(v);
    return std::string(std::size_t(w) - s.size(), '0') + s;
}
struct Fld {
    std::string tag, body;  // body ends with '\x1e'
};
std::string record(bool ddr, const std::vector<Fld>& fields) {
    std::string dir, area;
    for (const auto& f : fields) {
        dir += f.tag + num(f.body.size(), 3) + num(area.size(), 4);
        area += f.body;
    }
    dir += '\x1e';
    const std::size_t base = 24 + dir.size();
    return num(base + area.size(), 5) + (ddr ? "3LE1 09" : " D     ") + num(base, 5) + (ddr ? " ! " : "   ") +
           "3404" + dir + area;
}

struct Entry {
    std::string file;
    double slat = 0, wlon = 0, nlat = 0, elon = 0;
};

void writeCatalog(const std::string& path, const std::vector<Entry>& entries) {
    const std::string UT = "\x1f", FT = "\x1e";
    std::string out = record(true, {{"0000", "0000;&   " + UT + "0001CATD" + FT},
                                    {"0001", "0100;&   ISO/IEC 8211 Record Identifier" + UT + UT + "(I(5))" + FT},
                                    {"CATD", "1600;&   Catalogue Directory Field" + UT +
                                                 "RCNM!RCID!FILE!LFIL!VOLM!IMPL!SLAT!WLON!NLAT!ELON!CRCS!COMT" + UT +
                                                 "(A(2),I(10),3A,A(3),4R,2A)" + FT}});
    const auto coord = [](double v) {
        if (v == 0) return std::string();
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.7f", v);
        return std::string(buf);
    };
    std::size_t id = 1;
    for (const auto& e : entries) {
        const std::string impl = e.file.size() > 4 && e.file.substr(e.file.size() - 4) == ".TXT" ? "TXT" : "BIN";
        out += record(false, {{"0001", num(id, 5) + FT},
                              {"CATD", "CD" + num(id, 10) + e.file + UT + UT + "V01X01" + UT + impl + coord(e.slat) +
                                           UT + coord(e.wlon) + UT + coord(e.nlat) + UT + coord(e.elon) + UT + UT +
                                           UT + FT}});
        ++id;
    }
    std::ofstream(path, std::ios::binary) << out;
}

std::string dsnms(const std::string& gdb) {
    std::string out;
    for (const auto& r : e2e::query(gdb, "SELECT DSNM FROM dsid ORDER BY OBJECTID")) out += (r[0] ? *r[0] : "") + " ";
    return out;
}

// The geodatabase holds what it held: the same rows in every table. Tables a run makes before its
// first cell (objcat, stat, srel) may appear, empty; the geodatabase's list of its items then grows.
void expectUnchanged(const std::map<std::string, long>& before, const std::map<std::string, long>& after) {
    for (const auto& [table, rows] : after) {
        if (table == "gdb_items") continue;
        const auto it = before.find(table);
        if (it == before.end())
            EXPECT_EQ(rows, 0) << "new table " << table;
        else
            EXPECT_EQ(rows, it->second) << table;
    }
    for (const auto& [table, rows] : before) EXPECT_TRUE(after.count(table)) << table << " is gone";
}

class Driver : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testdata::present()) GTEST_SKIP() << "test data folder " << testdata::root() << " is absent";
        gdb = dir.file("charts.gpkg");
        e2e::copyTemplate(gdb);
    }
    Scratch dir;
    std::string gdb;
};

// ---- Single cells --------------------------------------------------------------------------

TEST_F(Driver, SingleCellShowsItsStepsLogsItsReportAndAsksAboutTheLog) {
    const std::string cell = e2e::link(testdata::path(kCell1), dir.path(), "AA400001.000");
    const DriverRun run = runDriver(cell, gdb);
    ASSERT_EQ(run.result, 0);

    std::vector<std::string> titles, steps;
    for (const auto& e : run.events) {
        if (e.kind == ui::Event::Kind::ProgressTitle) titles.push_back(e.text);
        if (e.kind == ui::Event::Kind::ProgressMessage) steps.push_back(e.text);
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"Importing AA400001.000...", "Importing AA400001.000..."}));
    const std::vector<std::string> driverSteps = {"Opening workspace...", "Loading objects...", "Populating metadata...",
                                                  "Populating spatial primitives...", "Populating features..."};
    std::size_t k = 0;
    for (const auto& s : steps)
        if (k < driverSteps.size() && s == driverSteps[k]) ++k;
    EXPECT_EQ(k, driverSteps.size()) << "driver steps out of order";

    const auto pos = run.positions();
    ASSERT_FALSE(pos.empty());
    EXPECT_EQ(pos.front(), 5);
    const std::vector<long> expected = {5, 20, 35};
    k = 0;
    for (long p : pos)
        if (k < expected.size() && p == expected[k]) ++k;
    EXPECT_EQ(k, expected.size());

    // Nothing went wrong, so the closing question is the only box; No opens no viewer.
    ASSERT_EQ(run.messages(), (std::vector<std::string>{kQuestion}));
    for (const auto& e : run.events) {
        if (e.kind == ui::Event::Kind::Message) {
            EXPECT_EQ(e.caption, "S-57 to Geodatabase");
            EXPECT_EQ(e.type & MB_TYPEMASK, MB_YESNO);
        }
        EXPECT_NE(e.kind, ui::Event::Kind::ViewLog);
    }
    EXPECT_EQ(run.events.back().kind, ui::Event::Kind::Message);

    EXPECT_EQ(run.log.rfind(std::string(kDashes) + "\nImport report for cell  AA400001.000\n" + kDashes + "\n", 0), 0u)
        << run.log.substr(0, 200);
    EXPECT_TRUE(fs::exists(dir.file("AA400001.log")));
    EXPECT_EQ(dsnms(gdb), "AA400001.000 ");
    EXPECT_EQ(count(gdb, "dssi"), 1);
}

TEST_F(Driver, YesOpensTheLogInTheViewer) {
    const std::string cell = e2e::link(testdata::path(kCell1), dir.path(), "AA400001.000");
    const DriverRun run = runDriver(cell, gdb, "S57", {IDYES});
    ASSERT_EQ(run.result, 0);
    ASSERT_FALSE(run.events.empty());
    EXPECT_EQ(run.events.back().kind, ui::Event::Kind::ViewLog);
    EXPECT_EQ(run.events.back().text, dir.file("AA400001.log"));
}

TEST_F(Driver, ACellAlreadyThereIsRefusedAndChangesNothing) {
    const std::string cell = e2e::link(testdata::path(kCell1), dir.path(), "AA400001.000");
    ASSERT_EQ(runDriver(cell, gdb).result, 0);
    const auto before = rowCounts(gdb);
    const DriverRun again = runDriver(cell, gdb);
    EXPECT_EQ(again.result, 0);
    EXPECT_EQ(again.messages(),
              (std::vector<std::string>{"Cell information already existed in dsnm table  AA400001.000",
                                        "Unable to import meta data. -2147467259", kQuestion}));
    EXPECT_NE(again.log.find("Unable to import meta data.  -2147467259"), std::string::npos) << again.log;
    EXPECT_EQ(rowCounts(gdb), before);
}

// ---- Exchange sets -------------------------------------------------------------------------

TEST_F(Driver, ExchangeSetImportsItsBaseCellsInCatalogOrder) {
    // Cells that only touch; the second lies in a subfolder named with '\', in other case on disk.
    e2e::link(testdata::path(kCell2), dir.path(), "set/sub/aa400002.000");
    e2e::link(testdata::path(kCell1), dir.path(), "set/AA400001.000");
    writeCatalog(dir.file("set/CATALOG.031"), {{"CATALOG.031"},
                                                {"SUB\\AA400002.000", 32.0, 60.5, 32.5, 61.0},
                                                {"SUB\\AA400002.001", 32.0, 60.5, 32.5, 61.0},
                                                {"README.TXT"},
                                                {"AA400001.000", 32.0, 60.0, 32.5, 60.5}});
    const DriverRun run = runDriver(dir.file("set/CATALOG.031"), gdb);
    ASSERT_EQ(run.result, 0);
    EXPECT_EQ(run.messages(), (std::vector<std::string>{kQuestion})) << run.log.substr(run.log.size() - 300);
    EXPECT_EQ(dsnms(gdb), "AA400002.000 AA400001.000 ");
    EXPECT_EQ(count(gdb, "catd"), 5);
    EXPECT_EQ(count(gdb, "catd", "CFIL='SUB\\AA400002.000' AND CATL='" + dir.file("set") + "'"), 1);

    EXPECT_NE(run.log.find("Import report for cell  aa400002.000\n"), std::string::npos);
    EXPECT_LT(run.log.find("aa400002.000"), run.log.find("AA400001.000"));

    // Each of the two cells owns half the range.
    const std::vector<long> expected = {2, 10, 17, 60, 67};
    std::size_t k = 0;
    for (long p : run.positions())
        if (k < expected.size() && p == expected[k]) ++k;
    EXPECT_EQ(k, expected.size());
    EXPECT_EQ(run.positions().front(), 2);
}

TEST_F(Driver, OverlappingCellsAreRefusedBeforeAnyCell) {
    e2e::link(testdata::path(kCell1), dir.path(), "set/AA400001.000");
    e2e::link(testdata::path(kCell2), dir.path(), "set/AA400002.000");
    writeCatalog(dir.file("set/Catalog.031"),  // the name is recognised in any case
                 {{"AA400001.000", 32.0, 60.0, 32.5, 60.6}, {"AA400002.000", 32.0, 60.5, 32.5, 61.0}});
    const auto before = rowCounts(gdb);
    const DriverRun real = runDriver(dir.file("set/Catalog.031"), gdb);
    EXPECT_EQ(real.result, 0);
    EXPECT_EQ(real.messages(), (std::vector<std::string>{"Overlapping cell extent Catalog.031...", kQuestion}));
    EXPECT_EQ(real.log, "Overlapping cell extent");
    auto after = rowCounts(gdb);
    EXPECT_EQ(after, before);
}

TEST_F(Driver, CatalogWithoutBaseCellEndsWithMessage115) {
    writeCatalog(dir.file("CATALOG.031"), {{"CATALOG.031"}, {"AA400001.001"}, {"README.TXT"}});
    const DriverRun run = runDriver(dir.file("CATALOG.031"), gdb);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.messages(), (std::vector<std::string>{"Unable to load cell information"}));
    EXPECT_TRUE(run.positions().empty());
    EXPECT_EQ(run.log, "Unable to load cell information");
}

// ---- Bad input ----------------------------------------------------------------------------

struct BadInput {
    const char* name;
    // Makes the input in the folder; returns its path.
    std::string (*make)(const Scratch& dir);
    int result;
    int code;    // the code in the message's detail: "Unable to load file <path> - <code>"
    bool asked;  // the closing question follows
    const char* why = "";  // what follows the code
};

std::string truncatedCell(const Scratch& dir) {
    std::ifstream in(testdata::path(kCell1), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string path = dir.file("AA400001.000");
    std::ofstream(path, std::ios::binary) << bytes.substr(0, bytes.size() * 3 / 5);
    return path;
}

const BadInput kBadInputs[] = {
    {"MissingFile", [](const Scratch& d) { return d.file("NOCELL.000"); }, -2, -2, false},
    {"S101DataSet",
     [](const Scratch& d) { return e2e::link(testdata::path("negative/101AA00DS0003.000"), d.path(), "101AA00DS0003.000"); },
     0, -8, true},
    {"TruncatedCell", truncatedCell, 0, -8, true},
    {"Garbage",
     [](const Scratch& d) {
         std::ofstream(d.file("JUNK0000.000"), std::ios::binary) << std::string(3000, '\x7f');
         return d.file("JUNK0000.000");
     },
     0, -7, true},
    {"EmptyCatalog",
     [](const Scratch& d) {
         std::ofstream(d.file("CATALOG.031"), std::ios::binary) << "";
         return d.file("CATALOG.031");
     },
     -7, -7, false},
    {"CellNameTooLong",
     [](const Scratch& d) { return e2e::link(testdata::path(kCell1), d.path(), "AA400001_WITH_A_LONG_NAME.000"); }, 0,
     -11, true, ": the cell name is longer than the geodatabase's cell name column allows (23 bytes)"},
};

void PrintTo(const BadInput& c, std::ostream* os) { *os << c.name; }

class DriverBadInput : public Driver, public ::testing::WithParamInterface<BadInput> {};

TEST_P(DriverBadInput, EndsWithItsMessageAndLeavesTheGeodatabaseAsItWas) {
    const BadInput& c = GetParam();
    const std::string input = c.make(dir);
    const auto before = rowCounts(gdb);
    const DriverRun run = runDriver(input, gdb);
    EXPECT_EQ(run.result, c.result);
    const auto shown = run.messages();
    ASSERT_FALSE(shown.empty());
    const std::string expected = "Unable to load file " + input + " - " + std::to_string(c.code) + c.why;
    EXPECT_EQ(shown.front(), expected);
    EXPECT_NE(run.log.find("Unable to load file  " + input + " - " + std::to_string(c.code) + c.why),
              std::string::npos)
        << run.log;
    EXPECT_EQ(run.asked(kQuestion), c.asked);
    expectUnchanged(before, rowCounts(gdb));
}

INSTANTIATE_TEST_SUITE_P(Inputs, DriverBadInput, ::testing::ValuesIn(kBadInputs),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(Driver, AGeodatabaseWithoutTheProductClassesIsRefusedAndNamesEachMissingClass) {
    // Drop two classes of the product model from the template.
    for (const char* table : {"SoundingFeature", "DepthAreaFeature"}) {
        const std::string sql = std::string("DROP TABLE ") + table + "; DELETE FROM gpkg_contents WHERE table_name='" +
                                table + "'; DELETE FROM gpkg_geometry_columns WHERE table_name='" + table + "';";
        ASSERT_EQ(std::system(("sqlite3 " + gdb + " \"" + sql + "\" 2>/dev/null").c_str()), 0);
    }
    const auto before = rowCounts(gdb);
    const std::string cell = e2e::link(testdata::path(kCell1), dir.path(), "AA400001.000");
    const DriverRun run = runDriver(cell, gdb);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.messages(), (std::vector<std::string>{"Unable to open the feature class", kQuestion}));
    EXPECT_NE(run.log.find("Unable to open the feature class SoundingFeature\n"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("Unable to open the feature class DepthAreaFeature\n"), std::string::npos);
    // Each class once, although several object classes map to it.
    const auto first = run.log.find("DepthAreaFeature");
    EXPECT_EQ(run.log.find("DepthAreaFeature", first + 1), std::string::npos);
    EXPECT_EQ(rowCounts(gdb), before);  // no table made either
}

TEST_F(Driver, ACellThatStopsPartWayLeavesNothingAndCanBeImportedAgain) {
    ASSERT_EQ(runDriver(e2e::link(testdata::path(kCell2), dir.path(), "prev/AA400002.000"), gdb).result, 0);
    // A view where the feature import makes frel: the cell stops after its metadata and vectors.
    const auto sql = [&](const std::string& s) {
        return std::system(("sqlite3 " + gdb + " \"" + s + "\" 2>/dev/null").c_str());
    };
    ASSERT_EQ(sql("DROP TABLE frel; DELETE FROM gpkg_contents WHERE table_name='frel'; "
                  "DELETE FROM gdb_items WHERE name='frel'; "
                  "CREATE VIEW frel AS SELECT 1 AS x;"),
              0);
    const auto before = rowCounts(gdb);
    const std::string cell = e2e::link(testdata::path(kCell1), dir.path(), "AA400001.000");
    const DriverRun failed = runDriver(cell, gdb);
    EXPECT_EQ(failed.result, 0);
    EXPECT_EQ(failed.messages(), (std::vector<std::string>{"Unable to import feature data 1", kQuestion}));
    EXPECT_EQ(rowCounts(gdb), before);  // no dsid, dssi, vc, ve ... row of the cell

    ASSERT_EQ(sql("DROP VIEW frel;"), 0);
    const DriverRun retry = runDriver(cell, gdb);
    EXPECT_EQ(retry.messages(), (std::vector<std::string>{kQuestion})) << retry.log;
    EXPECT_EQ(dsnms(gdb), "AA400002.000 AA400001.000 ");
}

TEST_F(Driver, AMissingFeatureDatasetIsAComErrorShownAndLogged) {
    const std::string cell = e2e::link(testdata::path(kCell1), dir.path(), "AA400001.000");
    const auto before = rowCounts(gdb);
    const DriverRun run = runDriver(cell, gdb, "NoSuchDataset");
    EXPECT_EQ(run.result, 0);
    const auto shown = run.messages();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].rfind("Error\n\a\tCode = ", 0), 0u) << shown[0];
    EXPECT_EQ(shown[1], kQuestion);
    EXPECT_NE(run.log.find("Error: s572gdbmain::s572gdb\n"), std::string::npos);
    EXPECT_EQ(rowCounts(gdb), before);
}

TEST_F(Driver, AGeodatabasePathOfAnotherKindIsMessage106) {
    const std::string cell = e2e::link(testdata::path(kCell1), dir.path(), "AA400001.000");
    const DriverRun run = runDriver(cell, dir.file("charts.txt"));
    EXPECT_EQ(run.result, 0);
    ASSERT_EQ(run.messages().size(), 2u);
    EXPECT_EQ(run.messages()[0].rfind("Unable to open Geodatabase -", 0), 0u) << run.messages()[0];
}

// What a caller learns of the run besides the result: the driver says 0 for all of these.
TEST_F(Driver, TheOutcomeSaysHowTheRunEnded) {
    const auto runWithOutcome = [&](const std::string& input, const char* dataset) {
        ui::setForm(ui::Form::Scripted);
        ui::scripted::reset();
        ImportOutcome outcome;
        outcome.cellsImported = 99;  // filled anew by every run
        EXPECT_EQ(s572gdb(input.c_str(), gdb.c_str(), dataset, &outcome), 0);
        ui::scripted::reset();
        return outcome;
    };
    const std::string cell = e2e::link(testdata::path(kCell1), dir.path(), "AA400001.000");
    ImportOutcome o = runWithOutcome(cell, "S57");
    EXPECT_FALSE(o.failed());
    EXPECT_EQ(o.cellsImported, 1);
    EXPECT_EQ(o.overflowValues, 0);

    o = runWithOutcome(cell, "S57");
    EXPECT_TRUE(o.failed());
    EXPECT_EQ(o.message, 125);
    EXPECT_EQ(o.reason, "Unable to import meta data.  -2147467259");
    EXPECT_EQ(o.cellsImported, 0);

    o = runWithOutcome(cell, "NoSuchDataset");
    EXPECT_TRUE(o.failed());
    EXPECT_EQ(o.message, 0);
    EXPECT_EQ(o.error, GDB_E_NOT_FOUND);
    EXPECT_NE(o.reason.find("NoSuchDataset"), std::string::npos) << o.reason;

    const std::string longValues = e2e::link(testdata::path("s58/AA400003/ENC_ROOT/AA400003.000"), dir.path(), "AA400003.000");
    o = runWithOutcome(longValues, "S57");
    EXPECT_FALSE(o.failed());
    EXPECT_EQ(o.overflowValues, 1);
}

TEST(DriverArguments, NullArgumentsAreRefused) {
    EXPECT_EQ(s572gdb(nullptr, "x.gpkg", "S57"), -19);
    EXPECT_EQ(s572gdb("x.000", nullptr, "S57"), -19);
    EXPECT_EQ(s572gdb("x.000", "x.gpkg", nullptr), -19);
}

TEST(DriverArguments, LogPathReplacesTheLastFourCharacters) {
    EXPECT_EQ(importLogPath("/charts/GB5X01NE.000"), "/charts/GB5X01NE.log");
    EXPECT_EQ(importLogPath("CATALOG.031"), "CATALOG.log");
    EXPECT_EQ(importLogPath("ab"), ".log");
    EXPECT_EQ(importLogPath("/charts/NOTES.log"), "/charts/NOTES.log.log") << "never the input itself";
}

// ---- Paths -----------------------------------------------------------------------------------

TEST_F(Driver, LongPathsAndABareFileNameImport) {
    // A directory far longer than the old fixed buffers (127 and 191 characters).
    std::string deep = "d";
    while (deep.size() < 260) deep += "/abcdefghijklmnopqrstuvwxyz";
    const std::string cell = e2e::link(testdata::path(kCell1), dir.path(), deep + "/AA400001.000");
    const DriverRun run = runDriver(cell, gdb);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.messages(), (std::vector<std::string>{kQuestion}));
    EXPECT_EQ(dsnms(gdb), "AA400001.000 ");

    // No separator at all: the working directory's cell.
    e2e::link(testdata::path(kCell2), dir.path(), "AA400002.000");
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    const DriverRun bare = runDriver("AA400002.000", "charts.gpkg");
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(bare.result, 0);
    EXPECT_EQ(bare.messages(), (std::vector<std::string>{kQuestion}));
    EXPECT_TRUE(fs::exists(dir.file("AA400002.log")));
    EXPECT_EQ(dsnms(gdb), "AA400001.000 AA400002.000 ");
}

}  // namespace
