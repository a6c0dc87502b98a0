// tests/tools/dump_test.cpp: `tarvo dump` as a user runs it: the full dump of a small file built in
// code, the summary of a real cell against counts taken from its directories by a separate walk,
// and the one-line failures and the usage text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include <unistd.h>

#include "support/run_command.h"
#include "support/test_data.h"

namespace {

Ran tarvo(const std::string& args) {
    const std::string errPath = ::testing::TempDir() + "tarvo_err_" + std::to_string(getpid());
    Ran r = runCommand(std::string(TARVO_BINARY_DIR) + "/bin/tarvo " + args, errPath);
    std::remove(errPath.c_str());
    return r;
}

std::string num(std::size_t v, int w) {
    std::string s = std::to_string(v);
    return std::string(std::size_t(w) - s.size(), '0') + s;
}

struct Fld {
    std::string tag, body;
};

std::string record(bool ddr, const std::vector<Fld>& fields) {
    std::string dir, area;
    for (const auto& f : fields) {
        dir += f.tag + num(f.body.size(), 3) + num(area.size(), 4);
        area += f.body;
    }
    dir += '\x1e';
    const std::size_t base = 24 + dir.size();
    return num(base + area.size(), 5) + (ddr ? "3LE1 09" : " D     ") + num(base, 5) +
           (ddr ? " ! " : "   ") + "3404" + dir + area;
}

std::string fixture() {
    const std::string ddr =
        record(true, {{"0000", "0000;&   \x1f" "0001ATTF\x1e"},
                      {"0001", "0500;&   Record Identifier\x1f\x1f(b12)\x1e"},
                      {"ATTF", "2600;&   Attributes\x1f*ATTL!ATVL\x1f(b12,A)\x1e"}});
    const std::string r1 = record(false, {{"0001", std::string("\x01\x00\x1e", 3)},
                                          {"ATTF", std::string("\x74\x00" "Main St.\x1f\x1e\x00" "x\x1f\x1e", 16)}});
    const std::string r2 = record(false, {{"0001", std::string("\x02\x00\x1e", 3)}});
    return ddr + r1 + r2;
}

struct TempFile {
    std::string path;
    explicit TempFile(const std::string& bytes)
        : path(::testing::TempDir() + "tarvo_dump_" + std::to_string(getpid()) + ".000") {
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    }
    ~TempFile() { std::remove(path.c_str()); }
};

TEST(TarvoDump, PrintsTheDdrAndEveryRecord) {
    TempFile f(fixture());
    const Ran r = tarvo("dump " + f.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "leader \"001503LE1 0900058 ! 3404\"\n"
              "field 0000 controls=\"0000;&   \" title=\"\" pairs=0001-ATTF\n"
              "field 0001 controls=\"0500;&   \" name=\"Record Identifier\" labels=\"\" format=(b12)\n"
              "field ATTF controls=\"2600;&   \" name=Attributes labels=*ATTL!ATVL format=(b12,A)\n"
              "record 1 leader \"00066 D     00047   3404\"\n"
              "  0001 1\n"
              "  ATTF ATTL=116 ATVL=\"Main St.\"\n"
              "       ATTL=30 ATVL=x\n"  // stored as 1E 00: data, not the field's end
              "record 2 leader \"00039 D     00036   3404\"\n"
              "  0001 2\n");
}

TEST(TarvoDump, SummaryCountsRecordsPerFieldTag) {
    TempFile f(fixture());
    const Ran r = tarvo("dump --summary " + f.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "records 2\nfield 0001 2\nfield ATTF 1\n");
}

// Tags of each data record, read from the leaders and directories alone.
std::vector<std::vector<std::string>> directoryTags(const std::string& b) {
    std::vector<std::vector<std::string>> recs;
    std::size_t at = std::stoul(b.substr(0, 5));
    while (at + 24 <= b.size()) {
        const std::size_t base = std::stoul(b.substr(at + 12, 5));
        const std::size_t sl = std::size_t(b[at + 20] - '0'), sp = std::size_t(b[at + 21] - '0');
        const std::size_t st = std::size_t(b[at + 23] - '0');
        const std::size_t entry = st + sl + sp;
        std::vector<std::string> tags;
        std::size_t end = 0;
        for (std::size_t e = at + 24; e + entry <= at + base - 1; e += entry) {
            tags.push_back(b.substr(e, st));
            end = std::max(end, std::stoul(b.substr(e + st, sl)) + std::stoul(b.substr(e + st + sl, sp)));
        }
        recs.push_back(tags);
        at += base + end;  // the length in the leader may be 00000
    }
    return recs;
}

TEST(TarvoDump, SummaryOfARealCellMatchesItsDirectories) {
    SKIP_WITHOUT_DATA();
    for (const char* rel : {"enc/US5MA12M/US5MA12M.000", "enc/US4CN21M/US4CN21M.000"}) {
        const std::string path = testdata::path(rel);
        const auto recs = directoryTags(slurp(path));
        std::map<std::string, long> holding;
        for (const auto& tags : recs) {
            std::map<std::string, int> seen;
            for (const auto& t : tags) seen[t] = 1;
            for (const auto& kv : seen) ++holding[kv.first];
        }
        std::string want = "records " + std::to_string(recs.size()) + "\n";
        for (const auto& kv : holding) want += "field " + kv.first + " " + std::to_string(kv.second) + "\n";
        const Ran r = tarvo("dump --summary " + path);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, want) << rel;
    }
}

TEST(TarvoDump, RealCellDumpsEveryRecord) {
    SKIP_WITHOUT_DATA();
    const Ran r = tarvo("dump " + testdata::path("enc/US5MA12M/US5MA12M.000"));
    ASSERT_EQ(r.status, 0) << r.err;
    std::size_t records = 0;
    for (std::size_t at = 0; (at = r.out.find("\nrecord ", at)) != std::string::npos; ++at) ++records;
    EXPECT_EQ(records, 7086u);  // 2 + the DSSI counts
    EXPECT_NE(r.out.find("  DSID RCNM=10 RCID=1 EXPP=1 INTU=5 DSNM=US5MA12M.000 EDTN=32"), std::string::npos);
}

struct Failure {
    const char* name;
    std::string args;
    int status;
    std::string errStart;  // the one message begins so
};

class TarvoDumpFails : public ::testing::TestWithParam<Failure> {};

TEST_P(TarvoDumpFails, WithOneMessageOrTheUsage) {
    const Ran r = tarvo(GetParam().args);
    EXPECT_EQ(r.status, GetParam().status);
    if (GetParam().status == 2) {
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(r.err.rfind(GetParam().errStart, 0), 0u) << r.err;
    if (GetParam().status == 1) {
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}

const Failure kFailures[] = {
    {"Missing", "dump /nonexistent/x.000", 1, "tarvo dump: /nonexistent/x.000: cannot open"},
    {"NoFile", "dump", 2, "usage: tarvo dump"},
    {"TwoFiles", "dump a b", 2, "usage: tarvo dump"},
    {"UnknownOption", "dump --fast x", 2, "tarvo dump: unknown option --fast"},
    {"UnknownCommand", "frobnicate", 2, "tarvo: unknown command frobnicate"},
    {"BrokenCatalogue", "dump " + testdata::path("s58/AA500013/ENC_ROOT/CATALOG.031"), 1,
     "tarvo dump: " + testdata::path("s58/AA500013/ENC_ROOT/CATALOG.031") +
         ": record 3 cannot be read: in ld123rec : fail to get record length"},
    {"NotIso8211", "dump " + testdata::path("SOURCES.md"), 1,
     "tarvo dump: " + testdata::path("SOURCES.md") + ": not an ISO 8211 file"},
};

INSTANTIATE_TEST_SUITE_P(Dump, TarvoDumpFails, ::testing::ValuesIn(kFailures),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(TarvoDump, TruncatedFileNamesTheRecord) {
    const std::string bytes = fixture();
    TempFile f(bytes.substr(0, bytes.size() - 10));
    const Ran r = tarvo("dump --summary " + f.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tarvo dump: " + f.path + ": record 2 cannot be read: ld123rec: fread fail\n");
}

}  // namespace
