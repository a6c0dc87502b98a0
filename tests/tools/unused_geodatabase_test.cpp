// tests/tools/unused_geodatabase_test.cpp: what a failed `tarvo import` may take back of the
// geodatabase it made. Two imports into a new geodatabase at once: one makes the file, the other
// saves its cell there, and the first then fails; the file with the other's cell must stay.
#include "tools/tarvo/unused_geodatabase.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "support/run_command.h"
#include "support/test_data.h"

namespace fs = std::filesystem;

namespace {

std::string tarvoPath() { return std::string(TARVO_BINARY_DIR) + "/bin/tarvo"; }

int tarvo(const std::string& args) {
    const fs::path errPath = fs::temp_directory_path() / ("unused_err_" + std::to_string(getpid()));
    const Ran r = runCommand(tarvoPath() + " " + args + " </dev/null", errPath);
    fs::remove(errPath);
    return r.status;
}

struct Dir {
    fs::path path;
    std::string gdb, cell;
};

struct UnusedCase {
    const char* name;
    // What happened to the made file before the failed run looks at it; `made` is its stat then.
    std::function<void(const Dir&)> meanwhile;
    bool removed;
};

const UnusedCase kCases[] = {
    {"NothingSaved", [](const Dir&) {}, true},
    {"AnotherImportSavedACell",
     [](const Dir& d) { ASSERT_EQ(tarvo("import " + quote(d.cell) + " " + quote(d.gdb)), 0); }, false},
    {"AnotherFileAtThePath",
     [](const Dir& d) {
         // Renamed, not removed: a removed file's inode could be the new one's.
         fs::rename(d.gdb, d.gdb + ".old");
         ASSERT_EQ(tarvo("create " + quote(d.gdb)), 0);
     },
     false},
    {"JournalBeside", [](const Dir& d) { std::ofstream(d.gdb + "-journal") << "x"; }, false},
};

void PrintTo(const UnusedCase& c, std::ostream* os) { *os << c.name; }

class UnusedGeodatabase : public ::testing::TestWithParam<UnusedCase> {};

TEST_P(UnusedGeodatabase, GoesOnlyWhenNothingWasSavedInIt) {
    SKIP_WITHOUT_DATA();
    char pattern[] = "/tmp/tarvo_unused_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    Dir d{pattern, std::string(pattern) + "/charts.gpkg", std::string(pattern) + "/AA400001.000"};
    fs::create_symlink(testdata::path("s58/AA400001/ENC_ROOT/AA400001.000"), d.cell);
    ASSERT_EQ(tarvo("create " + quote(d.gdb)), 0);
    struct stat made {};
    ASSERT_EQ(::stat(d.gdb.c_str(), &made), 0);
    GetParam().meanwhile(d);
    const std::string before = fs::exists(d.gdb) ? std::to_string(fs::file_size(d.gdb)) : "none";

    EXPECT_EQ(removeUnusedGeodatabase(d.gdb.c_str(), made), GetParam().removed);
    EXPECT_EQ(fs::exists(d.gdb), !GetParam().removed);
    if (!GetParam().removed) {
        EXPECT_EQ(std::to_string(fs::file_size(d.gdb)), before);
    }
    std::error_code ec;
    fs::remove_all(d.path, ec);
}

INSTANTIATE_TEST_SUITE_P(Tool, UnusedGeodatabase, ::testing::ValuesIn(kCases),
                         [](const auto& i) { return std::string(i.param.name); });

// Another program holding the file open keeps it, whatever it holds.
TEST(UnusedGeodatabaseOpen, StaysWhileAnotherHasItOpen) {
    char pattern[] = "/tmp/tarvo_unused_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string gdb = std::string(pattern) + "/charts.gpkg";
    ASSERT_EQ(tarvo("create " + quote(gdb)), 0);
    struct stat made {};
    ASSERT_EQ(::stat(gdb.c_str(), &made), 0);
    const int held = ::open(gdb.c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    EXPECT_FALSE(removeUnusedGeodatabase(gdb.c_str(), made));
    ::close(held);
    EXPECT_TRUE(fs::exists(gdb));
    EXPECT_TRUE(removeUnusedGeodatabase(gdb.c_str(), made)) << "once let go, the unused file goes";
    std::error_code ec;
    fs::remove_all(pattern, ec);
}

}  // namespace
