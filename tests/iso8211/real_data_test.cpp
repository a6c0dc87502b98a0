// tests/iso8211/real_data_test.cpp: the library over the real charts and exchange sets: every file
// reads to its end, the cells' own record counts, the published record dumps of the S-58 sets,
// write-back through the library.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "iso8211/iso8211.h"
#include "support.h"
#include "support/test_data.h"

using namespace t8211;

namespace {

std::string rel(const std::string& p) {
    return std::filesystem::relative(p, testdata::root()).string();
}

std::vector<std::string> allFiles() { return testdata::files({".000", ".001", ".002", "CATALOG.031"}); }

bool isBroken(const std::string& p) {
    return p.find("AA500013/ENC_ROOT/CATALOG.031") != std::string::npos ||
           p.find("negative/") != std::string::npos;
}

long dssiCount(const FileRead& r) {
    long sum = 0;
    for (const Field& f : r.recs.at(0).fields) {
        if (f.tag != "DSSI") continue;
        for (const Sub& s : f.subs)
            if (s.label == "NOMR" || s.label == "NOCR" || s.label == "NOGR" || s.label == "NOLR" ||
                s.label == "NOIN" || s.label == "NOCN" || s.label == "NOED" || s.label == "NOFA")
                sum += std::stol(s.value);
    }
    return sum;
}

// A field as the S-58 sets' text dumps show it: one line per repetition, numbers in <>, bit-string
// names as <<RCNM><RCID>> or <<AGEN><FIDN><FIDS>>, delimited text followed by "!". first[i] is the
// first byte of repetition i as stored.
struct DumpField {
    std::vector<std::string> lines;
    std::vector<unsigned char> first;
};

std::vector<DumpField> dumpFields(const Rec& r) {
    auto le = [](const std::string& v, std::size_t at, int n) {
        unsigned long long u = 0;
        for (int i = n - 1; i >= 0; --i) u = (u << 8) | static_cast<unsigned char>(v[at + std::size_t(i)]);
        return std::to_string(u);
    };
    std::vector<DumpField> out;
    for (const Field& f : r.fields) {
        DumpField d;
        std::string line = f.tag + ":\t";
        for (std::size_t i = 0; i < f.subs.size(); ++i) {
            const Sub& s = f.subs[i];
            if (i > 0 && s.label == f.subs[0].label) {
                d.lines.push_back(line);
                line = "\t";
            }
            if (line.back() == '\t') {
                const std::string b = toBytes(s);
                d.first.push_back(b.empty() ? 0 : static_cast<unsigned char>(b[0]));
            }
            if (s.format == "B(40)")
                line += "<<" + le(s.value, 0, 1) + "><" + le(s.value, 1, 4) + ">>";
            else if (s.format == "B(64)")
                line += "<<" + le(s.value, 0, 2) + "><" + le(s.value, 2, 4) + "><" + le(s.value, 6, 2) + ">>";
            else if (s.format.size() == 3 && (s.format[0] == 'L' || s.format[0] == 'M'))
                line += "<" + s.value + ">";
            else if (s.format.find('(') != std::string::npos)
                line += s.value;
            else
                line += s.value + "!";
        }
        d.lines.push_back(line);
        out.push_back(d);
    }
    return out;
}

// The records of a published dump (after its DDR), each as its lines without line ends.
std::vector<std::vector<std::string>> publishedRecords(const std::string& txt) {
    std::ifstream in(txt, std::ios::binary);
    std::vector<std::vector<std::string>> recs;
    std::string l;
    bool body = false, open = false;
    while (std::getline(in, l)) {
        while (!l.empty() && l.back() == '\r') l.pop_back();
        if (!body) {
            body = l.empty();
            continue;
        }
        if (l.empty()) {
            open = false;
            continue;
        }
        if (!open) recs.emplace_back();
        open = true;
        recs.back().push_back(l);
    }
    return recs;
}

// A text holding line ends shows as several lines in the dumps.
std::vector<std::string> physical(const std::string& s) {
    std::vector<std::string> out;
    std::size_t at = 0;
    for (;;) {
        std::size_t n = s.find('\n', at);
        std::string l = s.substr(at, n == std::string::npos ? std::string::npos : n - at);
        while (!l.empty() && l.back() == '\r') l.pop_back();
        out.push_back(l);
        if (n == std::string::npos) return out;
        at = n + 1;
    }
}

class EveryFile : public ::testing::TestWithParam<std::string> {};

TEST_P(EveryFile, ReadsToItsEnd) {
    FileRead r = readAll(GetParam());
    ASSERT_TRUE(r.opened && r.ddrOk);
    EXPECT_TRUE(r.toEnd) << "stopped after " << r.recs.size() << " records";
    EXPECT_FALSE(r.recs.empty());
}

TEST_P(EveryFile, WritesBackFieldByFieldAndAgainByteForByte) {
    FileRead a = readAll(GetParam());
    ASSERT_TRUE(a.toEnd);
    const std::string b = tempPath("b.000"), c = tempPath("c.000");
    ASSERT_EQ(writeAll(b, a), 1);
    FileRead rb = readAll(b);
    ASSERT_TRUE(rb.toEnd);
    ASSERT_EQ(rb.recs.size(), a.recs.size());
    for (std::size_t k = 0; k < a.recs.size(); ++k) {
        const Rec& x = a.recs[k];
        const Rec& y = rb.recs[k];
        ASSERT_EQ(x.leadid, y.leadid) << "record " << k;
        ASSERT_EQ(x.fields.size(), y.fields.size()) << "record " << k;
        for (std::size_t j = 0; j < x.fields.size(); ++j) {
            ASSERT_EQ(x.fields[j].tag, y.fields[j].tag) << "record " << k;
            ASSERT_EQ(x.fields[j].subs.size(), y.fields[j].subs.size())
                << "record " << k << " field " << x.fields[j].tag;
            for (std::size_t s = 0; s < x.fields[j].subs.size(); ++s) {
                const Sub& p = x.fields[j].subs[s];
                const Sub& q = y.fields[j].subs[s];
                ASSERT_TRUE(p.label == q.label && p.format == q.format && p.value == q.value)
                    << "record " << k << " field " << x.fields[j].tag << " subfield " << p.label;
            }
        }
    }
    ASSERT_EQ(writeAll(c, rb), 1);
    EXPECT_TRUE(readFile(b) == readFile(c)) << "second write differs";
    std::filesystem::remove(b);
    std::filesystem::remove(c);
}

std::vector<std::string> readable() {
    std::vector<std::string> out;
    for (const auto& p : allFiles())
        if (!isBroken(p)) out.push_back(p);
    return out;
}

std::string caseName(const ::testing::TestParamInfo<std::string>& i) {
    std::string n = rel(i.param);
    for (auto& ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return n;
}

INSTANTIATE_TEST_SUITE_P(RealData, EveryFile, ::testing::ValuesIn(readable()), caseName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(EveryFile);

TEST(RealData, BaseCellsHoldTheRecordsTheirDssiCounts) {
    SKIP_WITHOUT_DATA();
    // These two S-58 sets state wrong DSSI counts on purpose.
    const std::vector<std::string> wrongOnPurpose = {"AA400004.000", "AA400012.000"};
    int checked = 0;
    for (const auto& p : testdata::files({".000"})) {
        if (isBroken(p)) continue;
        FileRead r = readAll(p);
        ASSERT_TRUE(r.toEnd) << rel(p);
        const long stated = 2 + dssiCount(r);
        const bool wrong = std::find(wrongOnPurpose.begin(), wrongOnPurpose.end(),
                                     std::filesystem::path(p).filename().string()) != wrongOnPurpose.end();
        if (wrong) EXPECT_NE(long(r.recs.size()), stated) << rel(p) << " was expected to miscount";
        else EXPECT_EQ(long(r.recs.size()), stated) << rel(p);
        ++checked;
    }
    EXPECT_GT(checked, 20);
}

TEST(RealData, S58RecordsMatchTheirPublishedDumps) {
    SKIP_WITHOUT_DATA();
    int checked = 0, cut = 0;
    for (const auto& txt : testdata::files({"_000.txt", "_001.txt", "_002.txt"})) {
        // AA400013_000.txt dumps 00400013.000: match the cell by the name before the underscore.
        const std::filesystem::path t(txt);
        const std::string stem = t.stem().string();
        const std::string want = stem.substr(0, stem.size() - 4) + "." + stem.substr(stem.size() - 3);
        std::string cell;
        for (const auto& e : std::filesystem::recursive_directory_iterator(t.parent_path()))
            if (e.path().filename() == want) cell = e.path().string();
        if (cell.empty()) continue;
        FileRead r = readAll(cell);
        ASSERT_TRUE(r.toEnd) << rel(cell);
        const auto theirs = publishedRecords(txt);
        ASSERT_EQ(r.recs.size(), theirs.size()) << rel(cell);
        for (std::size_t k = 0; k < theirs.size(); ++k) {
            const auto& p = theirs[k];
            std::size_t at = 0;
            for (const DumpField& m : dumpFields(r.recs[k])) {
                for (std::size_t i = 0; i < m.lines.size(); ++i) {
                    if (i > 0 && (at == p.size() || p[at][0] != '\t')) {
                        // The dumps' own reader ended the field at a repetition opening with 0x1E.
                        ASSERT_EQ(m.first[i], 0x1e) << rel(cell) << " record " << k << ": " << m.lines[0];
                        ++cut;
                        break;
                    }
                    for (const std::string& l : physical(m.lines[i])) {
                        ASSERT_LT(at, p.size()) << rel(cell) << " record " << k;
                        ASSERT_EQ(l, p[at]) << rel(cell) << " record " << k;
                        ++at;
                    }
                }
            }
            ASSERT_EQ(at, p.size()) << rel(cell) << " record " << k;
        }
        ++checked;
    }
    EXPECT_GT(checked, 30);
    EXPECT_GT(cut, 0);
}

TEST(RealData, BrokenCatalogueFailsWithAClearMessage) {
    SKIP_WITHOUT_DATA();
    ::testing::internal::CaptureStderr();
    FileRead r = readAll(testdata::path("s58/AA500013/ENC_ROOT/CATALOG.031"));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(r.ddrOk);
    EXPECT_FALSE(r.toEnd);
    EXPECT_EQ(err, " in ld123rec : fail to get record length\n");
}

TEST(RealData, RecordLongerThanFiveDigitsReadsByItsDirectory) {
    SKIP_WITHOUT_DATA();
    const std::string p = testdata::path("enc/US4CN21M/US4CN21M.000");
    const std::string bytes = readFile(p);
    // Find the record whose leader says 00000 and check that the library takes it whole.
    std::size_t at = std::size_t(std::stol(bytes.substr(0, 5)));
    long index = 0, big = -1;
    while (at + 24 <= bytes.size()) {
        long len = std::stol(bytes.substr(at, 5));
        if (len == 0) {
            big = index;
            break;
        }
        at += std::size_t(len);
        ++index;
    }
    ASSERT_GE(big, 0) << "no record with length 00000";
    std::FILE* fp = nullptr;
    long level;
    char ice, ccs[4];
    ASSERT_EQ(open123file(p.c_str(), 'r', &level, &ice, ccs, &fp), 1);
    ASSERT_TRUE(find123file(fp) && read123ddr());
    ::testing::internal::CaptureStderr();
    for (long i = 0; i <= big; ++i) ASSERT_EQ(ld123rec(), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_GT(cur_fm()->rl_hd->rec_len, 99999);
    EXPECT_EQ(std::ftell(fp), long(at) + cur_fm()->rl_hd->rec_len);
    ASSERT_EQ(ld123rec(), 1);  // and the next record follows
    close123file(&fp);
}

}  // namespace
