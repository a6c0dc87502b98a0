// tests/tools/import_test.cpp: `tarvo import` as a user runs it in batch: a missing geodatabase is
// created first, the closing question takes its safe answer, and the exit status tells a run that
// failed (from what the run reported) from one that went through. What is checked before anything
// is made, a foreign GeoPackage left as it was, two imports at once, help and version, the trace
// lines behind --verbose, values that go to atto, and GDAL's validator on an imported geodatabase.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <optional>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "support/run_command.h"
#include "support/test_data.h"

namespace fs = std::filesystem;

namespace {

std::string tarvoPath() { return std::string(TARVO_BINARY_DIR) + "/bin/tarvo"; }

// `tarvo ARGS` in batch, from the folder `cwd` when one is given.
Ran run(const std::string& args, const std::string& cwd = {}) {
    const fs::path errPath = fs::temp_directory_path() / ("import_err_" + std::to_string(getpid()));
    const std::string command =
        (cwd.empty() ? std::string() : "cd " + quote(cwd) + " && ") + tarvoPath() + " " + args + " </dev/null";
    Ran r = runCommand(command, errPath);
    fs::remove(errPath);
    return r;
}

// One value of a query on the file, as another program reads it.
std::string sqlText(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    std::string out = "<none>";
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW) {
            const unsigned char* t = sqlite3_column_text(st, 0);
            out = t ? reinterpret_cast<const char*>(t) : "<null>";
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return out;
}

// ---- Help and version: on standard output, exit 0, no data needed -------------------------------

struct HelpCase {
    const char* name;
    const char* args;
    const char* shows;
};
const HelpCase kHelpCases[] = {
    {"DashDashHelp", "--help", "tarvo import S57FILE GEODATABASE [--dataset NAME]"},
    {"HelpAlone", "help", "tarvo import S57FILE GEODATABASE [--dataset NAME]"},
    {"HelpImport", "help import", "--verbose, -v"},
    {"ImportDashDashHelp", "import --help", "--dataset NAME"},
    {"ImportDashH", "import a.000 b.gpkg -h", "usage: tarvo import S57FILE GEODATABASE"},
    {"CreateHelp", "create --help", "usage: tarvo create GEODATABASE"},
    {"Version", "--version", "tarvo "},
};
class TarvoHelp : public ::testing::TestWithParam<HelpCase> {};
TEST_P(TarvoHelp, GoesToStandardOutputWithStatusZero) {
    const Ran r = run(GetParam().args);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(GetParam().shows), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
}
INSTANTIATE_TEST_SUITE_P(Tool, TarvoHelp, ::testing::ValuesIn(kHelpCases),
                         [](const auto& i) { return std::string(i.param.name); });

class TarvoImport : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_DATA();
        if (run("--help").out.find("tarvo import") == std::string::npos)
            GTEST_SKIP() << "the tarvo tool offers no import command yet";
        char pattern[] = "/tmp/tarvo_import_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        // The log is written beside the input.
        cell = (dir / "AA400001.000").string();
        fs::create_symlink(testdata::path("s58/AA400001/ENC_ROOT/AA400001.000"), cell);
        gdb = (dir / "charts.gpkg").string();
    }
    void TearDown() override {
        std::error_code ec;
        if (!dir.empty()) fs::remove_all(dir, ec);
    }
    fs::path dir;
    std::string cell, gdb;
};

TEST_F(TarvoImport, CreatesTheGeodatabaseImportsAndAnswersNoInBatch) {
    const Ran r = run("import " + quote(cell) + " " + quote(gdb));
    EXPECT_EQ(r.status, 0) << r.err.substr(r.err.size() > 2000 ? r.err.size() - 2000 : 0);
    EXPECT_NE(r.out.find("Created " + gdb + ", feature dataset S57"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Imported 1 cell of " + cell), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "") << "a batch run says nothing but its result";
    EXPECT_TRUE(fs::exists(dir / "AA400001.log"));
    EXPECT_TRUE(fs::exists(gdb));
}

TEST_F(TarvoImport, ARunThatFailsExitsWithOneAndSaysWhy) {
    ASSERT_EQ(run("import " + quote(cell) + " " + quote(gdb)).status, 0);
    // The driver itself reports success (0) for this run; its log says the cell was refused.
    const Ran again = run("import " + quote(cell) + " " + quote(gdb));
    EXPECT_EQ(again.status, 1);
    const auto failed = again.err.find("tarvo import: " + cell + ": failed: ");
    ASSERT_NE(failed, std::string::npos) << again.err;
    EXPECT_NE(again.err.find("Unable to import meta data.  -2147467259", failed), std::string::npos) << again.err;

    const Ran missing = run("import " + quote((dir / "NOCELL.000").string()) + " " + quote(gdb));
    EXPECT_EQ(missing.status, 1);
    const Ran noDataset = run("import " + quote(cell) + " " + quote(gdb) + " --dataset Elsewhere");
    EXPECT_EQ(noDataset.status, 1);
    EXPECT_NE(noDataset.err.find("Error: s572gdbmain::s572gdb"), std::string::npos) << noDataset.err;
}

TEST_F(TarvoImport, ACellThatFailsPastTheChecksLeavesNoNewGeodatabase) {
    // A cell cut short: its leader passes the checks made before the geodatabase is, its records do not.
    const std::string whole = slurp(testdata::path("s58/AA400001/ENC_ROOT/AA400001.000"));
    const fs::path cut = dir / "CUT00001.000";
    std::ofstream(cut, std::ios::binary) << whole.substr(0, whole.size() / 2);
    const Ran r = run("import " + quote(cut.string()) + " " + quote(gdb));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the geodatabase made for it was removed"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(gdb));

    // An existing geodatabase stays whatever the run did.
    ASSERT_EQ(run("import " + quote(cell) + " " + quote(gdb)).status, 0);
    EXPECT_EQ(run("import " + quote(cut.string()) + " " + quote(gdb)).status, 1);
    EXPECT_TRUE(fs::exists(gdb));
}

TEST_F(TarvoImport, AnExchangeSetImportsThroughItsCatalog) {
    const fs::path set = dir / "set";
    fs::create_directories(set);
    for (const auto& e : fs::directory_iterator(testdata::path("s58/AA400002/ENC_ROOT")))
        fs::create_symlink(e.path(), set / e.path().filename());
    const Ran r = run("import " + quote((set / "CATALOG.031").string()) + " " + quote(gdb) + " --dataset=Charts");
    EXPECT_EQ(r.status, 0) << r.err.substr(r.err.size() > 2000 ? r.err.size() - 2000 : 0);
    EXPECT_NE(r.out.find("feature dataset Charts"), std::string::npos) << r.out;
    EXPECT_TRUE(fs::exists(set / "CATALOG.log"));
}

TEST_F(TarvoImport, OnATerminalShowsTheBarAsksAndShowsTheLog) {
    if (std::system("script --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "script(1) is not installed";
    // script(1) gives the command a terminal; the answer comes once the run waits for it.
    const std::string command = "(sleep 2; echo y) | VISUAL=cat script -qec " +
                                quote(std::string(TARVO_BINARY_DIR) + "/bin/tarvo import " + quote(cell) + " " +
                                      quote(gdb)) +
                                " /dev/null";
    Ran r;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[65536];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
        const int st = pclose(p);
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("]   5% Opening workspace..."), std::string::npos) << "no progress bar";
    EXPECT_NE(r.out.find("Would you like to see the log file?"), std::string::npos);
    EXPECT_NE(r.out.find("Yes or No? [y/n]"), std::string::npos);
    // The viewer (cat) shows the log on the terminal; the catalogue and record traces stay hidden.
    EXPECT_NE(r.out.find("Import report for cell  AA400001.000"), std::string::npos);
    EXPECT_EQ(r.out.find("object list object"), std::string::npos);
    EXPECT_EQ(r.out.find("importFP: "), std::string::npos) << "per-record traces reach the terminal";
}

// With the converter registered the tool goes through the registry and the automation interface;
// the outcome is the one of the direct call, also for a run that fails.
TEST_F(TarvoImport, GoesThroughTheRegisteredConverterWithTheSameOutcome) {
    const std::string comreg = std::string(TARVO_BINARY_DIR) + "/bin/comreg";
    if (!fs::exists(comreg)) GTEST_SKIP() << comreg << " is not built";
    const std::string module = std::string(TARVO_BINARY_DIR) + "/lib/libtarvo.so";
    const std::string direct = (dir / "direct.gpkg").string();
    const Ran first = run("import " + quote(cell) + " " + quote(direct));
    const Ran again = run("import " + quote(cell) + " " + quote(direct));

    setenv("TARVO_REGISTRY", (dir / "registry").c_str(), 1);
    ASSERT_EQ(std::system((quote(comreg) + " " + quote(module) + " >/dev/null").c_str()), 0);
    const Ran viaFirst = run("import " + quote(cell) + " " + quote(gdb));
    const Ran viaAgain = run("import " + quote(cell) + " " + quote(gdb));

    // A registered module that is no longer there: a clear error, and no run.
    const std::string moved = (dir / "libtarvo_moved.so").string();
    fs::copy_file(module, moved);
    ASSERT_EQ(std::system((quote(comreg) + " " + quote(moved) + " >/dev/null").c_str()), 0);
    fs::remove(moved);
    const Ran gone = run("import " + quote(cell) + " " + quote((dir / "other.gpkg").string()));
    unsetenv("TARVO_REGISTRY");

    EXPECT_EQ(viaFirst.status, first.status);
    EXPECT_EQ(viaFirst.status, 0) << viaFirst.err.substr(viaFirst.err.size() > 2000 ? viaFirst.err.size() - 2000 : 0);
    EXPECT_EQ(viaAgain.status, again.status);
    EXPECT_EQ(viaAgain.status, 1);
    EXPECT_NE(viaAgain.err.find("Unable to import meta data."), std::string::npos) << viaAgain.err;
    EXPECT_EQ(fs::file_size(gdb), fs::file_size(direct));
    EXPECT_EQ(gone.status, 1);
    EXPECT_NE(gone.err.find("The module " + moved + " registered for class "), std::string::npos) << gone.err;
}

TEST_F(TarvoImport, BadArgumentsExitWithTwo) {
    const std::string cases[] = {"import", "import " + cell, "import a b c", "import --dataset", "import --x a b"};
    for (const std::string& args : cases) {
        const Ran r = run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("usage: tarvo import S57FILE GEODATABASE [--dataset NAME]"), std::string::npos) << args;
    }
}

// ---- What is checked before anything is made ------------------------------------------------

struct Refusal {
    const char* name;
    // Prepares the folder; gives the arguments after "import".
    std::function<std::string(const fs::path& dir, const std::string& cell)> args;
    const char* says;  // in the failure line
};
const Refusal kRefusals[] = {
    {"MissingInput", [](const fs::path& d, const std::string&) { return quote((d / "NOCELL.000").string()) + " " + quote((d / "new.gpkg").string()); },
     "NOCELL.000: no such file or folder"},
    {"InputIsAFolder", [](const fs::path& d, const std::string&) { return quote(d.string()) + " " + quote((d / "new.gpkg").string()); },
     ": is a folder"},
    {"InputIsNoS57File", [](const fs::path& d, const std::string&) {
         std::ofstream(d / "NOTES.000") << "a text file that someone named like a cell, and long enough to be read\n";
         return quote((d / "NOTES.000").string()) + " " + quote((d / "new.gpkg").string());
     },
     "NOTES.000: not an S-57 file"},
    {"DatasetNameTooLong", [](const fs::path& d, const std::string& c) { return quote(c) + " " + quote((d / "new.gpkg").string()) + " --dataset " + std::string(152, 'D'); },
     "is longer than 151 bytes"},
    {"GeodatabaseIsAFolder", [](const fs::path& d, const std::string& c) {
         fs::create_directory(d / "folder.gpkg");
         return quote(c) + " " + quote((d / "folder.gpkg").string());
     },
     "folder.gpkg: is a folder"},
    {"NotAGeodatabase", [](const fs::path& d, const std::string& c) {
         std::ofstream(d / "text.gpkg") << "these are not the bytes of a geodatabase, but a text of some length\n";
         return quote(c) + " " + quote((d / "text.gpkg").string());
     },
     "text.gpkg: not a geodatabase"},
    {"NoGeodatabasePath", [](const fs::path& d, const std::string& c) { return quote(c) + " " + quote((d / "charts.gdb").string()); },
     "charts.gdb: not a geodatabase path"},
};

class TarvoRefuses : public TarvoImport, public ::testing::WithParamInterface<Refusal> {};

// Refusals that file permissions make: the superuser passes every permission check.
const Refusal kPermissionRefusals[] = {
    {"InputUnreadable", [](const fs::path& d, const std::string& c) {
         fs::copy_file(c, d / "LOCKED.000");
         fs::permissions(d / "LOCKED.000", fs::perms::none);
         return quote((d / "LOCKED.000").string()) + " " + quote((d / "new.gpkg").string());
     },
     "LOCKED.000: permission denied"},
    {"GeodatabaseReadOnly", [](const fs::path& d, const std::string& c) {
         EXPECT_EQ(run("create " + quote((d / "ro.gpkg").string())).status, 0);
         fs::permissions(d / "ro.gpkg", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
         return quote(c) + " " + quote((d / "ro.gpkg").string());
     },
     "ro.gpkg: read-only"},
    {"FolderNotWritable", [](const fs::path& d, const std::string& c) {
         fs::create_directory(d / "closed");
         fs::permissions(d / "closed", fs::perms::owner_read | fs::perms::owner_exec);
         return quote(c) + " " + quote((d / "closed" / "new.gpkg").string());
     },
     "permission denied (folder "},
};

class TarvoRefusesByPermission : public TarvoRefuses {
protected:
    void SetUp() override {
        if (geteuid() == 0) GTEST_SKIP() << "the superuser passes every permission check";
        TarvoRefuses::SetUp();
    }
    void TearDown() override {
        std::error_code ec;
        for (const auto& e : fs::recursive_directory_iterator(dir, ec))
            fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        TarvoRefuses::TearDown();
    }
};

TEST_P(TarvoRefuses, SaysWhyAndMakesNothing) {
    const std::string args = GetParam().args(dir, cell);
    const auto before = std::distance(fs::directory_iterator(dir), fs::directory_iterator());
    const Ran r = run("import " + args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("tarvo import: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(GetParam().says), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("0x8"), std::string::npos) << "a bare code instead of words: " << r.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), before)
        << "a refused run left something behind";
}
INSTANTIATE_TEST_SUITE_P(Tool, TarvoRefuses, ::testing::ValuesIn(kRefusals),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_P(TarvoRefusesByPermission, SaysWhyAndMakesNothing) {
    const std::string args = GetParam().args(dir, cell);
    const Ran r = run("import " + args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(GetParam().says), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "new.gpkg"));
}
INSTANTIATE_TEST_SUITE_P(Tool, TarvoRefusesByPermission, ::testing::ValuesIn(kPermissionRefusals),
                         [](const auto& i) { return std::string(i.param.name); });

// ---- Geodatabases that are there already -----------------------------------------------------

TEST_F(TarvoImport, AForeignGeoPackageIsLeftByteForByteByAFailedRun) {
    if (std::system("ogr2ogr --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "GDAL's ogr2ogr is not installed";
    const std::string foreign = (dir / "foreign.gpkg").string();
    ASSERT_EQ(std::system(("ogr2ogr -f GPKG " + quote(foreign) + " " + quote(cell) + " >/dev/null 2>&1").c_str()), 0);
    const std::string before = slurp(foreign);
    const Ran r = run("import " + quote(cell) + " " + quote(foreign));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(": failed: "), std::string::npos) << r.err;
    EXPECT_TRUE(slurp(foreign) == before) << "the failed run changed another program's GeoPackage";
}

TEST_F(TarvoImport, AFileOfNoBytesIsANewGeodatabase) {
    std::ofstream(gdb).close();
    const Ran r = run("import " + quote(cell) + " " + quote(gdb));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Imported 1 cell of "), std::string::npos) << r.out;
    EXPECT_EQ(sqlText(gdb, "SELECT count(*) FROM dsid"), "1");
}

TEST_F(TarvoImport, TwoImportsAtOnceIntoANewGeodatabaseBothImport) {
    const std::string second = (dir / "AA400002.000").string();
    fs::create_symlink(testdata::path("s58/AA400002/ENC_ROOT/AA400002.000"), second);
    const std::string one = tarvoPath() + " import " + quote(cell) + " " + quote(gdb) + " </dev/null >/dev/null 2>" +
                            quote((dir / "err1").string()) + "; echo $? >" + quote((dir / "status1").string());
    const std::string two = tarvoPath() + " import " + quote(second) + " " + quote(gdb) + " </dev/null >/dev/null 2>" +
                            quote((dir / "err2").string()) + "; echo $? >" + quote((dir / "status2").string());
    ASSERT_EQ(std::system(("(" + one + ") & (" + two + ") & wait").c_str()), 0);
    EXPECT_EQ(slurp(dir / "status1"), "0\n") << slurp(dir / "err1");
    EXPECT_EQ(slurp(dir / "status2"), "0\n") << slurp(dir / "err2");
    EXPECT_EQ(sqlText(gdb, "SELECT count(*) FROM dsid"), "2");
    EXPECT_EQ(sqlText(gdb, "PRAGMA integrity_check"), "ok");
}

TEST_F(TarvoImport, PastTheWaitTheGeodatabaseIsInUseByAnotherProgram) {
    ASSERT_EQ(run("create " + quote(gdb)).status, 0);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(gdb.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    const Ran r = run("import " + quote(cell) + " " + quote(gdb));
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("tarvo import: " + gdb + ": in use by another program", 0), 0u) << r.err;
    EXPECT_EQ(sqlText(gdb, "SELECT count(*) FROM sqlite_master WHERE name = 'dsid'"), "0") << "nothing was imported";
}

// A full disk, as the process's file size limit makes one (writes past it fail as on a full disk).
TEST_F(TarvoImport, AFullDiskLeavesNoNewGeodatabaseAndAnExistingOneAsItWas) {
    const auto limited = [&](long blocks, const std::string& args) {
        const std::string command = "trap '' XFSZ; ulimit -f " + std::to_string(blocks) + "; " + tarvoPath() + " " +
                                    args + " </dev/null >/dev/null 2>" + quote((dir / "err").string()) + "; echo $?";
        Ran r;
        if (FILE* p = popen(("sh -c " + quote(command)).c_str(), "r")) {
            char buf[256];
            std::size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
            pclose(p);
        }
        r.status = std::atoi(r.out.c_str());
        r.err = slurp(dir / "err");
        return r;
    };
    const auto entries = [&] { return std::distance(fs::directory_iterator(dir), fs::directory_iterator()); };
    const auto before = entries();
    const Ran create = limited(100, "import " + quote(cell) + " " + quote(gdb));
    EXPECT_EQ(create.status, 1);
    EXPECT_EQ(create.err, "tarvo import: " + gdb + ": cannot create the geodatabase: disk full\n");
    EXPECT_EQ(entries(), before + 1) << "only the captured error text is new";

    ASSERT_EQ(run("create " + quote(gdb)).status, 0);
    const std::string made = slurp(gdb);
    const Ran import = limited(long(made.size() / 512) + 16, "import " + quote(cell) + " " + quote(gdb));
    EXPECT_EQ(import.status, 1);
    EXPECT_EQ(import.err.rfind("tarvo import: " + gdb + ": disk full; ", 0), 0u) << import.err;
    EXPECT_EQ(sqlText(gdb, "PRAGMA integrity_check"), "ok");
    EXPECT_TRUE(slurp(gdb) == made) << "the failed import left part of itself";
}

// ---- What the command shows -------------------------------------------------------------------

TEST_F(TarvoImport, DoubleDashEndsTheOptions) {
    fs::create_symlink(cell, dir / "-cell.000");
    const Ran r = run("import -- -cell.000 charts.gpkg", dir.string());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Imported 1 cell of -cell.000"), std::string::npos) << r.out;
    EXPECT_EQ(run("import -cell.000 charts.gpkg", dir.string()).status, 2) << "without --, an unknown option";
}

TEST_F(TarvoImport, TraceLinesOnlyWithVerbose) {
    const Ran quiet = run("import " + quote(cell) + " " + quote(gdb));
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");
    std::istringstream lines(quiet.out);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.rfind("Created ", 0) == 0 || line.rfind("Imported ", 0) == 0) << "not a result line: " << line;
    const Ran verbose = run("--verbose import " + quote(cell) + " " + quote((dir / "other.gpkg").string()));
    EXPECT_EQ(verbose.status, 0);
    EXPECT_NE(verbose.err.find("\nimportVI: "), std::string::npos) << verbose.err.substr(0, 2000);
    const std::string log = slurp(dir / "AA400001.log");
    EXPECT_EQ(log.find("importVI: "), std::string::npos) << "the log keeps its own lines";
    EXPECT_NE(log.find("Import report for cell"), std::string::npos);
}

TEST_F(TarvoImport, ValuesLongerThanTheirColumnAreCountedAndLoggedWithTheirFeature) {
    const std::string longValues = (dir / "AA400003.000").string();
    fs::create_symlink(testdata::path("s58/AA400003/ENC_ROOT/AA400003.000"), longValues);
    const Ran r = run("import " + quote(longValues) + " " + quote(gdb));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(", 1 value in table atto"), std::string::npos) << r.out;
    EXPECT_EQ(sqlText(gdb, "SELECT LNAM || ' ' || ATTL || ' ' || length(ATVL) FROM atto"), "AA248685281900064 TS_TSP 123");
    const std::string log = slurp(dir / "AA400003.log");
    EXPECT_NE(log.find("feature AA248685281900064, attribute TS_TSP: the value (123 characters) is longer than its "
                       "column (70): stored whole in table atto, the column left empty"),
              std::string::npos)
        << log.substr(0, 3000);
}

TEST_F(TarvoImport, AnImportedGeodatabaseIsValidWithExtentsAndSubtypeNames) {
    ASSERT_EQ(run("import " + quote(cell) + " " + quote(gdb)).status, 0);
    EXPECT_EQ(sqlText(gdb, "SELECT count(*) FROM gpkg_contents c WHERE data_type = 'features' AND min_x IS NULL AND "
                           "EXISTS (SELECT 1 FROM gpkg_geometry_columns g WHERE g.table_name = c.table_name) AND "
                           "c.table_name IN (SELECT tbl_name FROM sqlite_master WHERE name LIKE 'rtree_%_node')"),
              "0")
        << "a feature table with rows lacks its extent";
    EXPECT_NE(sqlText(gdb, "SELECT count(*) FROM gpkg_contents WHERE min_x IS NOT NULL"), "0");
    EXPECT_EQ(sqlText(gdb, "SELECT description FROM gpkg_data_column_constraints WHERE constraint_name = "
                           "'MetadataAreaFeature_SUBTYPE' AND value = (SELECT CAST(SUBTYPE AS TEXT) FROM "
                           "MetadataAreaFeature LIMIT 1)"),
              sqlText(gdb, "SELECT name FROM gdb_subtypes WHERE class_name = 'MetadataAreaFeature' AND code = (SELECT "
                           "SUBTYPE FROM MetadataAreaFeature LIMIT 1)"));
    const char* script = "/usr/lib/python3/dist-packages/osgeo_utils/samples/validate_gpkg.py";
    if (!fs::exists(script) || std::system("/usr/bin/python3 -c 'import osgeo' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "GDAL's validate_gpkg.py (python3-gdal) is not installed";
    const Ran v = [&] {
        Ran out;
        if (FILE* p = popen(("/usr/bin/python3 " + std::string(script) + " " + quote(gdb) + " 2>&1").c_str(), "r")) {
            char buf[4096];
            std::size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.out.append(buf, n);
            const int st = pclose(p);
            out.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        }
        return out;
    }();
    EXPECT_EQ(v.status, 0) << v.out;
    EXPECT_EQ(v.out, "");
}

}  // namespace
