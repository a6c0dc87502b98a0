// tests/tools/export_test.cpp: `tarvo export` as a user runs it in batch, on a geodatabase made by
// `tarvo import`: the one cell of a geodatabase exported without --cell, paths written with '\',
// a geodatabase of several cells listing what it can export, an OUTPUT that would overwrite the
// geodatabase or that names a folder refused, and the exit status of a run that failed.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "support/run_command.h"
#include "support/test_data.h"

namespace fs = std::filesystem;

namespace {

Ran run(const std::string& args) {
    const fs::path errPath = fs::temp_directory_path() / ("export_err_" + std::to_string(getpid()));
    Ran r = runCommand(std::string(TARVO_BINARY_DIR) + "/bin/tarvo " + args + " </dev/null", errPath);
    fs::remove(errPath);
    return r;
}

class TarvoExport : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_DATA();
        char pattern[] = "/tmp/tarvo_export_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        gdb = (dir / "charts.gpkg").string();
        fs::create_directories(dir / "out");
    }
    void TearDown() override {
        std::error_code ec;
        if (!dir.empty()) fs::remove_all(dir, ec);
    }
    // Imports the S-58 cell into the geodatabase (made by the import).
    void importCell(const std::string& name) {
        const std::string cell = (dir / (name + ".000")).string();
        fs::create_symlink(testdata::path("s58/" + name + "/ENC_ROOT/" + name + ".000"), cell);
        const Ran r = run("import " + quote(cell) + " " + quote(gdb));
        ASSERT_EQ(r.status, 0) << r.err;
    }
    fs::path dir;
    std::string gdb;
};

TEST_F(TarvoExport, TheOneCellIsExportedWithBackslashedPaths) {
    importCell("AA400002");
    const std::string output = dir.string() + "\\out\\AA400002.000";
    const Ran r = run("export " + quote(gdb) + " " + quote(output));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir / "out" / "AA400002.000"));
    EXPECT_TRUE(fs::exists(dir / "out" / "AA400002.log"));
    EXPECT_NE(r.out.find("Exported 1 cell"), std::string::npos) << r.out;
}

TEST_F(TarvoExport, SeveralCellsWithoutChoiceListWhatCanBeExported) {
    importCell("AA400002");
    importCell("AA400003");
    const Ran r = run("export " + quote(gdb) + " " + quote((dir / "out" / "X.000").string()));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--cell AA400002.000"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--cell AA400003.000"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "out" / "X.000"));

    const Ran chosen = run("export " + quote(gdb) + " " + quote((dir / "out" / "AA400003.000").string()) +
                           " --cell AA400003.000");
    EXPECT_EQ(chosen.status, 0) << chosen.err;
    EXPECT_TRUE(fs::exists(dir / "out" / "AA400003.000"));
}

// An OUTPUT that names a folder (without --cell the one cell is picked) is refused before the run:
// no log cut from the folder's name, no file, the folder left alone.
TEST_F(TarvoExport, OutputThatNamesAFolderIsRefused) {
    importCell("AA400002");
    for (const std::string& output : {(dir / "out").string() + "/", dir.string() + "\\out\\"}) {
        const Ran r = run("export " + quote(gdb) + " " + quote(output));
        EXPECT_EQ(r.status, 2) << output;
        EXPECT_NE(r.err.find("names no file"), std::string::npos) << r.err;
        EXPECT_TRUE(fs::is_directory(dir / "out")) << output;
        EXPECT_TRUE(fs::is_empty(dir / "out")) << output;
        EXPECT_FALSE(fs::exists(dir / ".log")) << output;
    }
}

TEST_F(TarvoExport, OutputThatIsTheGeodatabaseIsRefused) {
    importCell("AA400002");
    const std::string before = slurp(gdb);
    const Ran r = run("export " + quote(gdb) + " " + quote(gdb) + " --cell AA400002.000");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("would be overwritten"), std::string::npos) << r.err;
    EXPECT_TRUE(slurp(gdb) == before);
}

TEST_F(TarvoExport, FailedRunExitsWithOne) {
    importCell("AA400002");
    const Ran r = run("export " + quote(gdb) + " " + quote((dir / "out" / "NONE.000").string()) +
                      " --cell NONE.000");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Unable to get cell extent"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "out" / "NONE.000"));
}

// With the converter registered the tool goes through the registry and the automation interface
// (whose method answers S_OK whatever the run did); the outcome is the one of the direct call, also
// for a run that fails, and the files written are the same.
TEST_F(TarvoExport, GoesThroughTheRegisteredConverterWithTheSameOutcome) {
    const std::string comreg = std::string(TARVO_BINARY_DIR) + "/bin/comreg";
    if (!fs::exists(comreg)) GTEST_SKIP() << comreg << " is not built";
    const std::string module = std::string(TARVO_BINARY_DIR) + "/lib/libtarvo.so";
    importCell("AA400002");
    fs::create_directories(dir / "via");
    auto exportTo = [&](const char* folder, const char* name, const char* cell) {
        return run("export " + quote(gdb) + " " + quote((dir / folder / name).string()) + " --cell " + cell);
    };
    setenv("TARVO_REGISTRY", (dir / "none").c_str(), 1);
    const Ran direct = exportTo("out", "AA400002.000", "AA400002.000");
    const Ran directFailed = exportTo("out", "NONE.000", "NONE.000");

    setenv("TARVO_REGISTRY", (dir / "registry").c_str(), 1);
    ASSERT_EQ(std::system((quote(comreg) + " " + quote(module) + " >/dev/null").c_str()), 0);
    const Ran via = exportTo("via", "AA400002.000", "AA400002.000");
    const Ran viaFailed = exportTo("via", "NONE.000", "NONE.000");
    // An output named otherwise than its cell, which the automation call cannot name, is written too.
    const Ran renamed = exportTo("via", "renamed.000", "AA400002.000");

    // A registered module that is no longer there: a clear error, and no run.
    const std::string moved = (dir / "libtarvo_moved.so").string();
    fs::copy_file(module, moved);
    ASSERT_EQ(std::system((quote(comreg) + " " + quote(moved) + " >/dev/null").c_str()), 0);
    fs::remove(moved);
    const Ran gone = exportTo("via", "AA400002.000", "AA400002.000");
    unsetenv("TARVO_REGISTRY");

    EXPECT_EQ(direct.status, 0) << direct.err;
    EXPECT_EQ(via.status, 0) << via.err;
    EXPECT_EQ(via.out, direct.out.substr(0, direct.out.find(" to ")) + " to " + (dir / "via" / "AA400002.000").string() +
                           " (log " + (dir / "via" / "AA400002.log").string() + ")\n");
    EXPECT_TRUE(slurp(dir / "via" / "AA400002.000") == slurp(dir / "out" / "AA400002.000"));
    EXPECT_EQ(renamed.status, 0) << renamed.err;
    EXPECT_TRUE(slurp(dir / "via" / "renamed.000") == slurp(dir / "out" / "AA400002.000"));
    for (const Ran* failed : {&directFailed, &viaFailed}) {
        EXPECT_EQ(failed->status, 1);
        EXPECT_NE(failed->err.find("failed: Unable to get cell extent"), std::string::npos) << failed->err;
    }
    EXPECT_NE(slurp(dir / "via" / "NONE.log").find("Unable to get cell extent"), std::string::npos);
    EXPECT_EQ(gone.status, 1);
    EXPECT_NE(gone.err.find("The module " + moved + " registered for class "), std::string::npos) << gone.err;
}

// An exchange set goes through the automation call too (its CATALOG file's name stands for the cell
// name there): the same files as the direct call, and the same report.
TEST_F(TarvoExport, AnExchangeSetGoesThroughTheRegisteredConverterAsDirectly) {
    const std::string comreg = std::string(TARVO_BINARY_DIR) + "/bin/comreg";
    if (!fs::exists(comreg)) GTEST_SKIP() << comreg << " is not built";
    const fs::path set = dir / "set";
    fs::create_directories(set);
    fs::create_directories(dir / "via");
    for (const auto& e : fs::directory_iterator(testdata::path("s58/AA400002/ENC_ROOT")))
        fs::create_symlink(e.path(), set / e.path().filename());
    setenv("TARVO_REGISTRY", (dir / "none").c_str(), 1);
    ASSERT_EQ(run("import " + quote((set / "CATALOG.031").string()) + " " + quote(gdb)).status, 0);
    std::string catl;
    {
        sqlite3* db = nullptr;
        sqlite3_stmt* st = nullptr;
        if (sqlite3_open_v2(gdb.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
            sqlite3_prepare_v2(db, "SELECT CATL FROM catd LIMIT 1", -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            catl = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        sqlite3_finalize(st);
        sqlite3_close(db);
    }
    ASSERT_FALSE(catl.empty()) << "the import made no catd row";
    auto exportTo = [&](const char* folder) {
        return run("export " + quote(gdb) + " " + quote((dir / folder / "CATALOG.031").string()) +
                   " --exchange-set " + quote(catl));
    };
    const Ran direct = exportTo("out");
    setenv("TARVO_REGISTRY", (dir / "registry").c_str(), 1);
    const std::string module = std::string(TARVO_BINARY_DIR) + "/lib/libtarvo.so";
    ASSERT_EQ(std::system((quote(comreg) + " " + quote(module) + " >/dev/null").c_str()), 0);
    const Ran via = exportTo("via");
    unsetenv("TARVO_REGISTRY");

    ASSERT_EQ(direct.status, 0) << direct.err;
    ASSERT_EQ(via.status, 0) << via.err;
    std::string report = direct.out;
    for (std::size_t p; (p = report.find("/out/")) != std::string::npos;) report.replace(p, 5, "/via/");
    EXPECT_EQ(via.out, report);
    int files = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir / "out")) {
        if (!e.is_regular_file() || e.path().extension() == ".log") continue;
        ++files;
        const fs::path twin = dir / "via" / fs::relative(e.path(), dir / "out");
        EXPECT_TRUE(slurp(e.path()) == slurp(twin)) << twin;
    }
    EXPECT_GT(files, 1);
}

TEST_F(TarvoExport, BadArgumentsExitWithTwo) {
    EXPECT_EQ(run("export").status, 2);
    EXPECT_EQ(run("export " + quote(gdb)).status, 2);
    EXPECT_EQ(run("export a.gpkg b.000 --cell").status, 2);
    EXPECT_EQ(run("export a.gpkg b.000 --cell A --exchange-set B").status, 2);
    EXPECT_EQ(run("export a.gpkg b.000 --bogus").status, 2);
}

}  // namespace
