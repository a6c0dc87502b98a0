// tests/tools/gishost_convert_test.cpp: the converter's two commands clicked in `gishost` with a
// scripted form (--answers), the converter registered in a registry of the test's own: a real cell
// imported through the import command's dialog and exported through the export command's dialog
// give the geodatabase and the cell file that `tarvo import` and `tarvo export` give of the same
// inputs.
#include <sqlite3.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "support/run_command.h"
#include "support/test_data.h"

namespace fs = std::filesystem;

namespace {

Ran run(const std::string& command, const fs::path& dir) {
    return runCommand(command + " </dev/null", dir / "stderr.txt");
}

// The rows of every table of a geodatabase but the GeoPackage's own bookkeeping (its time stamps
// differ from run to run), as text by table.
std::map<std::string, std::string> tableRows(const std::string& gdb) {
    std::map<std::string, std::string> out;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(gdb.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return out;
    }
    std::vector<std::string> tables;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db,
                           "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'gpkg%' "
                           "AND name NOT LIKE 'rtree%' AND name NOT LIKE 'sqlite%' ORDER BY name",
                           -1, &st, nullptr) == SQLITE_OK)
        while (sqlite3_step(st) == SQLITE_ROW) tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    for (const std::string& t : tables) {
        std::string& rows = out[t];
        if (sqlite3_prepare_v2(db, ("SELECT * FROM \"" + t + "\" ORDER BY rowid").c_str(), -1, &st, nullptr) != SQLITE_OK)
            continue;
        while (sqlite3_step(st) == SQLITE_ROW) {
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                const void* blob = sqlite3_column_blob(st, c);
                rows.append(blob ? static_cast<const char*>(blob) : "", std::size_t(sqlite3_column_bytes(st, c)));
                rows += '|';
            }
            rows += '\n';
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return out;
}

// The lines of a transcript that show a message box whose text begins with `text`.
std::vector<std::string> messageLines(const std::string& transcript, const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(transcript);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("message ", 0) == 0 && line.find("] " + text) != std::string::npos) out.push_back(line);
    return out;
}

// The host printed a refresh of the view after the click (the run's traces may come between).
bool refreshedAfter(const std::string& out, const std::string& progId) {
    const std::size_t click = out.find("click " + progId + "\n");
    return click != std::string::npos && out.find("\nview refreshed\n", click) != std::string::npos;
}

bool endsWith(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

class GishostConvert : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_DATA();
        if (!fs::exists(bin_ + "comreg") || !fs::exists(bin_ + "gishost"))
            GTEST_SKIP() << "comreg or gishost is not built";
        char pattern[] = "/tmp/gishost_convert_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        for (const char* sub : {"host", "host/out", "ref", "ref/out"}) fs::create_directories(dir_ / sub);
        registry_ = "TARVO_REGISTRY=" + quote((dir_ / "registry").string()) + " ";
        // The reference runs see a registry without the converter: they call the driver directly.
        unregistered_ = "TARVO_REGISTRY=" + quote((dir_ / "empty_registry").string()) + " ";
        const Ran reg = run(registry_ + bin_ + "comreg " + quote(std::string(TARVO_BINARY_DIR) + "/lib/libtarvo.so"), dir_);
        ASSERT_EQ(reg.status, 0) << reg.out << reg.err;
    }
    void TearDown() override {
        std::error_code ec;
        if (!dir_.empty()) fs::remove_all(dir_, ec);
    }
    std::string cellIn(const char* sub) {
        const std::string cell = (dir_ / sub / "US5MA12M.000").string();
        fs::create_symlink(testdata::path("enc/US5MA12M/US5MA12M.000"), cell);
        return cell;
    }
    std::string answers(const char* name, const std::string& text) {
        const fs::path path = dir_ / name;
        std::ofstream(path) << text;
        return path.string();
    }

    const std::string bin_ = std::string(TARVO_BINARY_DIR) + "/bin/";
    fs::path dir_;
    std::string registry_, unregistered_;
};

TEST_F(GishostConvert, ImportAndExportThroughTheDialogsEqualTheToolsRuns) {
    const std::string gdb = (dir_ / "host" / "charts.gpkg").string();
    const std::string map = (dir_ / "host" / "map.xml").string();
    const std::string cell = cellIn("host");
    Ran r = run(unregistered_ + bin_ + "tarvo create " + quote(gdb), dir_);
    ASSERT_EQ(r.status, 0) << r.err;
    r = run(bin_ + "gishost --new-map " + quote(gdb) + " " + quote(map), dir_);
    ASSERT_EQ(r.status, 0) << r.err;

    // Import: the browse button's file dialog answers the cell; the log is not shown.
    const std::string importAnswers = answers("import.txt", "click 209\nfile " + cell + "\nclick 1\nanswer no\n");
    const Ran imported = run(registry_ + bin_ + "gishost --map " + quote(map) + " --click Tarvo.s572gdbCmd --answers " +
                                 quote(importAnswers),
                             dir_);
    ASSERT_EQ(imported.status, 0) << imported.out << imported.err;
    EXPECT_TRUE(refreshedAfter(imported.out, "Tarvo.s572gdbCmd")) << imported.out;
    EXPECT_NE(imported.out.find("dialog [S-57 to Geodatabase] 201 = " + gdb), std::string::npos) << imported.out;
    EXPECT_NE(imported.out.find("file "), std::string::npos) << imported.out;
    EXPECT_EQ(messageLines(imported.out, "Would you like to see the log file?").size(), 1u) << imported.out;

    const std::string refGdb = (dir_ / "ref" / "charts.gpkg").string();
    r = run(unregistered_ + bin_ + "tarvo import " + quote(cellIn("ref")) + " " + quote(refGdb), dir_);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto hostRows = tableRows(gdb), refRows = tableRows(refGdb);
    ASSERT_TRUE(hostRows.count("dsid")) << "the import through the dialog made no dsid";
    EXPECT_EQ(hostRows.size(), refRows.size());
    for (const auto& [table, rows] : refRows) EXPECT_TRUE(hostRows.count(table) && hostRows.at(table) == rows) << table;

    // Export: the cell picked in the list, the box cleared, the output (already there) answered;
    // the overwrite question answered No (the dialog stays) and then Yes; the log is not shown.
    const std::string output = (dir_ / "host" / "out" / "US5MA12M.000").string();
    std::ofstream(output) << "old";
    const std::string exportAnswers = answers("export.txt",
                                              "click 206\nchoice 0\ncheck 207 0\ntext 208 " + output +
                                                  "\nclick 1\nanswer no\nclick 1\nanswer yes\nanswer no\n");
    const Ran exported = run(registry_ + bin_ + "gishost --map " + quote(map) + " --click Tarvo.gdb2s57Cmd --answers " +
                                 quote(exportAnswers),
                             dir_);
    ASSERT_EQ(exported.status, 0) << exported.out << exported.err;
    EXPECT_TRUE(refreshedAfter(exported.out, "Tarvo.gdb2s57Cmd")) << exported.out;
    EXPECT_NE(exported.out.find("list [Cell Name Selection] \"US5MA12M.000\" -> 0\n"), std::string::npos)
        << exported.out;
    const auto overwrite = messageLines(exported.out, "File exists.");
    ASSERT_EQ(overwrite.size(), 2u) << exported.out;
    EXPECT_TRUE(endsWith(overwrite[0], "-> No")) << overwrite[0];
    EXPECT_TRUE(endsWith(overwrite[1], "-> Yes")) << overwrite[1];
    EXPECT_TRUE(messageLines(exported.out, "You choose to create new").empty()) << exported.out;

    const std::string refOutput = (dir_ / "ref" / "out" / "US5MA12M.000").string();
    r = run(unregistered_ + bin_ + "tarvo export " + quote(refGdb) + " " + quote(refOutput) + " --cell US5MA12M.000",
            dir_);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string written = slurp(output);
    EXPECT_GT(written.size(), 1000u);
    EXPECT_TRUE(written == slurp(refOutput)) << "the exported cells differ";
}

// Cancel in either dialog starts nothing: no geodatabase table, no output file, and no message.
TEST_F(GishostConvert, CancelStartsNothing) {
    const std::string gdb = (dir_ / "host" / "charts.gpkg").string();
    const std::string map = (dir_ / "host" / "map.xml").string();
    ASSERT_EQ(run(unregistered_ + bin_ + "tarvo create " + quote(gdb), dir_).status, 0);
    ASSERT_EQ(run(bin_ + "gishost --new-map " + quote(gdb) + " " + quote(map), dir_).status, 0);
    const std::string cancel = answers("cancel.txt", "click 209\nfile " + cellIn("host") + "\nclick 2\n");
    const Ran r = run(registry_ + bin_ + "gishost --map " + quote(map) + " --click Tarvo.s572gdbCmd --answers " +
                          quote(cancel),
                      dir_);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("dialog [S-57 to Geodatabase] -> 2\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("message "), std::string::npos) << r.out;
    EXPECT_FALSE(tableRows(gdb).count("dsid"));
    EXPECT_FALSE(fs::exists(dir_ / "host" / "US5MA12M.log"));
}

TEST_F(GishostConvert, AnAnswersFileNotUnderstoodIsABadArgument) {
    const std::string bad = answers("bad.txt", "click 1\npress 2\n");
    const Ran r = run(registry_ + bin_ + "gishost --map " + quote((dir_ / "none.xml").string()) +
                          " --click Tarvo.s572gdbCmd --answers " + quote(bad),
                      dir_);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("line 2: not understood: press 2"), std::string::npos) << r.err;
}

}  // namespace
