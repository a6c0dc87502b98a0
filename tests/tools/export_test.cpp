// tests/tools/export_test.cpp: `tarvo export` as a user runs it in batch, on a geodatabase made by
// `tarvo import`: the one cell of a geodatabase exported without --cell, paths written with '\',
// a geodatabase of several cells listing what it can export, an OUTPUT that would overwrite the
// geodatabase refused, and the exit status of a run that failed.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "support/test_data.h"

namespace fs = std::filesystem;

namespace {

struct Ran {
    int status = -1;
    std::string out, err;
};

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

Ran run(const std::string& args) {
    const fs::path errPath = fs::temp_directory_path() / ("export_err_" + std::to_string(getpid()));
    const std::string command = std::string(TARVO_BINARY_DIR) + "/bin/tarvo " + args + " </dev/null 2>" +
                                errPath.string();
    Ran r;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[65536];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
        const int st = pclose(p);
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    r.err = slurp(errPath);
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

TEST_F(TarvoExport, BadArgumentsExitWithTwo) {
    EXPECT_EQ(run("export").status, 2);
    EXPECT_EQ(run("export " + quote(gdb)).status, 2);
    EXPECT_EQ(run("export a.gpkg b.000 --cell").status, 2);
    EXPECT_EQ(run("export a.gpkg b.000 --cell A --exchange-set B").status, 2);
    EXPECT_EQ(run("export a.gpkg b.000 --bogus").status, 2);
}

}  // namespace
