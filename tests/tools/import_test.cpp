// tests/tools/import_test.cpp: `tarvo import` as a user runs it in batch: a missing geodatabase is
// created first, the closing question takes its safe answer, and the exit status tells a run that
// failed (read from what the run reported) from one that went through.
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
    const fs::path errPath = fs::temp_directory_path() / ("import_err_" + std::to_string(getpid()));
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

TEST_F(TarvoImport, BadArgumentsExitWithTwo) {
    const std::string cases[] = {"import", "import " + cell, "import a b c", "import --dataset", "import --x a b"};
    for (const std::string& args : cases) {
        const Ran r = run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("usage: tarvo import S57FILE GEODATABASE [--dataset NAME]"), std::string::npos) << args;
    }
}

}  // namespace
