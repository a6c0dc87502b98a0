// tests/import/robustness_test.cpp: the import on damaged input. Faults once found by fuzzing (a
// DDR whose control-field tag is damaged, a record written twice), then a seeded mutation run over
// small real cells and an exchange-set catalogue: every case ends in success or in a failure told
// in a message, the geodatabase stays sound, and a failed cell leaves it as it was.
#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"
#include "support/test_data.h"

namespace fs = std::filesystem;
using e2e::DriverRun;
using e2e::runDriver;
using e2e::Scratch;

namespace {

constexpr char kQuestion[] = "Would you like to see the log file?";
constexpr char kReport[] = "Import report for cell ";

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Where each ISO 8211 record of the bytes begins, by the record lengths of the leaders; stops at the
// first leader that does not give one.
std::vector<std::size_t> recordStarts(const std::string& bytes) {
    std::vector<std::size_t> out;
    std::size_t at = 0;
    while (at + 24 <= bytes.size()) {
        std::size_t length = 0;
        for (std::size_t i = 0; i < 5; ++i) {
            const char c = bytes[at + i];
            if (c < '0' || c > '9') return out;
            length = length * 10 + std::size_t(c - '0');
        }
        if (length < 24 || at + length > bytes.size()) return out;
        out.push_back(at);
        at += length;
    }
    return out;
}

// The byte range of record k (0: the DDR) and the record with that RCNM/RCID name.
struct Span {
    std::size_t begin = 0, end = 0;
};
Span recordSpan(const std::string& bytes, std::size_t k) {
    const auto starts = recordStarts(bytes);
    if (k >= starts.size()) return {};
    return {starts[k], k + 1 < starts.size() ? starts[k + 1] : starts[k] + std::stoul(bytes.substr(starts[k], 5))};
}

// The data of a record's field with the tag, found through the directory.
std::string fieldData(const std::string& rec, const std::string& tag) {
    const std::size_t base = std::stoul(rec.substr(12, 5));
    const std::size_t lw = std::size_t(rec[20] - '0'), pw = std::size_t(rec[21] - '0'), entry = 4 + lw + pw;
    for (std::size_t at = 24; at + entry < base; at += entry)
        if (rec.compare(at, 4, tag) == 0)
            return rec.substr(base + std::stoul(rec.substr(at + 4 + lw, pw)), std::stoul(rec.substr(at + 4, lw)));
    return {};
}

// Every user table's rows as text, in a stable order: what "as it was" compares.
std::string contents(const std::string& gdb) {
    std::string out;
    for (const auto& t : e2e::query(gdb, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")) {
        const std::string table = t[0].value_or("");
        out += "[" + table + "]\n";
        for (const auto& row : e2e::query(gdb, "SELECT * FROM \"" + table + "\" ORDER BY rowid")) {
            for (const auto& v : row) out += (v ? *v : std::string("\x01null")) + '\x1f';
            out += '\n';
        }
    }
    return out;
}

// A message that is not the closing question nor the report of a cell that went through.
bool failureShown(const DriverRun& run) {
    for (const auto& m : run.messages())
        if (m != kQuestion && m.rfind(kReport, 0) != 0) return true;
    return false;
}

// ---- Faults found by fuzzing ------------------------------------------------------------------

// A geodatabase that already holds a cell, so that a run adds no table of its own before its cell;
// made once per process and copied.
void primedGeodatabase(const std::string& gdb) {
    static Scratch folder;  // lives until the process ends, so the copy source stays
    static std::string made;
    if (made.empty()) {
        const std::string path = folder.file("primed.gpkg");
        e2e::copyTemplate(path);
        const DriverRun run = runDriver(
            e2e::link(testdata::path("s58/AA500009/ENC_ROOT/AA500009.000"), folder.path(), "AA500009.000"), path);
        ASSERT_EQ(run.result, 0);
        ASSERT_FALSE(failureShown(run));
        made = path;
    }
    fs::copy_file(made, gdb, fs::copy_options::overwrite_existing);
}

class Damaged : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_DATA();
        gdb = dir.file("charts.gpkg");
        primedGeodatabase(gdb);
    }
    Scratch dir;
    std::string gdb;
};

// A DDR directory tag damaged into "000P" or "0G3D" is no control field (whose title, read twice,
// leaked): the cell fails to load with a message and nothing stays allocated (LeakSanitizer).
TEST_F(Damaged, ControlFieldTagDamagedInTheDdrFailsCleanly) {
    struct Case {
        std::string cell, from, to;
    };
    for (const Case& c : {Case{"s58/AA400006/ENC_ROOT/AA400006.000", "0001", "000P"},
                          Case{"enc/US1AK90M/US1AK90M.000", "SG3D", "0G3D"}}) {
        SCOPED_TRACE(c.cell);
        std::string bytes = readBytes(testdata::path(c.cell));
        const Span ddr = recordSpan(bytes, 0);
        const std::size_t at = bytes.find(c.from, 24);
        ASSERT_LT(at, ddr.end);
        bytes.replace(at, 4, c.to);
        const std::string cell = dir.file(fs::path(c.cell).filename().string());
        writeBytes(cell, bytes);
        const std::string before = contents(gdb);
        const DriverRun run = runDriver(cell, gdb);
        EXPECT_EQ(run.result, 0);
        ASSERT_FALSE(run.messages().empty());
        EXPECT_EQ(run.messages()[0].rfind("Unable to load file", 0), 0u) << run.messages()[0];
        EXPECT_TRUE(contents(gdb) == before) << "the failed run changed the geodatabase";
    }
}

// S-57 record names are unique within a file: a feature record written twice is imported once, the
// log names the repetition and the cell's report says it was skipped.
TEST_F(Damaged, RecordWrittenTwiceIsImportedOnceAndNamed) {
    const std::string original = readBytes(testdata::path("s58/AA400002/ENC_ROOT/AA400002.000"));
    // The record of FE0000000157: its FRID begins with RCNM 100 and RCID 157 (b11, b14).
    const auto starts = recordStarts(original);
    ASSERT_GT(starts.size(), 2u);
    std::string twice;
    for (std::size_t k = 1; k < starts.size() && twice.empty(); ++k) {
        const Span s = recordSpan(original, k);
        const std::string rec = original.substr(s.begin, s.end - s.begin);
        if (fieldData(rec, "FRID").rfind(std::string("\x64\x9d\x00\x00\x00", 5), 0) == 0)
            twice = original.substr(0, s.end) + rec + original.substr(s.end);
    }
    ASSERT_FALSE(twice.empty()) << "no record FE0000000157";
    const std::string cell = dir.file("AA400002.000");
    writeBytes(cell, twice);
    const DriverRun run = runDriver(cell, gdb);
    ASSERT_EQ(run.result, 0);
    EXPECT_NE(run.log.find(" repeats the name FE0000000157 of record "), std::string::npos);
    const std::string note = "AA400002.000: 1 record repeating an earlier record's name skipped (FE0000000157)";
    EXPECT_NE(run.log.find("\n" + note + "\n"), std::string::npos) << run.log.substr(run.log.size() - 400);
    EXPECT_EQ(run.log.find(kReport), run.log.rfind(kReport));  // one report, one header
    const auto messages = run.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], kReport + note);
    EXPECT_EQ(messages[1], kQuestion);

    // The same rows as the cell as it is.
    Scratch other;
    const std::string clean = other.file("charts.gpkg");
    primedGeodatabase(clean);
    ASSERT_EQ(runDriver(e2e::link(testdata::path("s58/AA400002/ENC_ROOT/AA400002.000"), other.path(), "AA400002.000"),
                        clean)
                  .result,
              0);
    EXPECT_EQ(e2e::rowCounts(gdb), e2e::rowCounts(clean));
}

// ---- Seeded mutations ---------------------------------------------------------------------------

// One damage of the bytes, told in `what`.
std::string mutate(const std::string& in, std::mt19937& rng, std::string& what) {
    std::string b = in;
    const auto pick = [&](std::size_t n) { return n ? std::size_t(rng() % n) : 0; };
    const auto starts = recordStarts(b);
    const std::size_t records = starts.size();
    switch (rng() % 8) {
        case 0: {
            const std::size_t at = pick(b.size());
            const char v = char(rng() & 0xff);
            what = "byte " + std::to_string(at) + " := " + std::to_string(static_cast<unsigned char>(v));
            b[at] = v;
            return b;
        }
        case 1: {
            const std::size_t at = pick(b.size());
            const int bit = int(rng() % 8);
            what = "bit " + std::to_string(bit) + " of byte " + std::to_string(at) + " flipped";
            b[at] = char(b[at] ^ (1 << bit));
            return b;
        }
        case 2:
        case 3: {
            if (records < 2) break;
            const std::size_t k = pick(records);
            const Span s = recordSpan(b, k);
            const std::string rec = b.substr(s.begin, s.end - s.begin);
            if (rng() % 2) {
                what = "record " + std::to_string(k) + " dropped";
                return b.erase(s.begin, rec.size());
            }
            what = "record " + std::to_string(k) + " doubled";
            return b.insert(s.end, rec);
        }
        case 4:
        case 5: {
            const std::size_t at = pick(b.size());
            const std::size_t n = std::min(b.size() - at, 1 + pick(64));
            if (rng() % 2) {
                what = std::to_string(n) + " bytes at " + std::to_string(at) + " dropped";
                return b.erase(at, n);
            }
            what = std::to_string(n) + " bytes at " + std::to_string(at) + " doubled";
            return b.insert(at + n, b.substr(at, n));
        }
        case 6: {
            if (records == 0) break;
            static const int kDigits[] = {0, 1, 2, 3, 4, 12, 13, 14, 15, 16, 20, 21, 23};
            const std::size_t k = pick(records);
            const std::size_t at = starts[k] + std::size_t(kDigits[pick(std::size(kDigits))]);
            const char v = rng() % 4 ? char('0' + rng() % 10) : ' ';
            what = "leader byte " + std::to_string(at - starts[k]) + " of record " + std::to_string(k) + " := '" +
                   std::string(1, v) + "'";
            b[at] = v;
            return b;
        }
        case 7: {
            if (records == 0) break;
            const std::size_t k = pick(records);
            const std::string leader = b.substr(starts[k], 24);
            const int lengthWidth = leader[20] - '0', positionWidth = leader[21] - '0', tagWidth = leader[23] - '0';
            const int entry = lengthWidth + positionWidth + tagWidth;
            const std::size_t base = std::size_t(std::stoul(leader.substr(12, 5)));
            if (entry <= tagWidth || base <= 25) break;
            const std::size_t entries = (base - 25) / std::size_t(entry);
            if (entries == 0) break;
            const std::size_t at = starts[k] + 24 + pick(entries) * std::size_t(entry) + std::size_t(tagWidth) +
                                   pick(std::size_t(lengthWidth + positionWidth));
            if (at >= b.size()) break;
            const char v = char('0' + rng() % 10);
            what = "directory digit at " + std::to_string(at) + " of record " + std::to_string(k) + " := " + v;
            b[at] = v;
            return b;
        }
    }
    const std::size_t at = pick(b.size());
    what = "byte " + std::to_string(at) + " inverted";
    b[at] = char(~b[at]);
    return b;
}

struct MutationInput {
    const char* name;
    const char* encRoot;  // the exchange set's folder under the data
    const char* file;     // the file to damage in it: a base cell or the CATALOG.031
};

const MutationInput kInputs[] = {
    {"AA500011", "s58/AA500011/ENC_ROOT", "AA500011.000"},
    {"AA500012", "s58/AA500012/ENC_ROOT", "AA500012.000"},
    {"AA500015", "s58/AA500015/ENC_ROOT", "AA500015.000"},
    {"AA500016", "s58/AA500016/ENC_ROOT", "AA500016.000"},
    {"Catalog", "s58/AA500011/ENC_ROOT", "CATALOG.031"},
};

void PrintTo(const MutationInput& c, std::ostream* os) { *os << c.name; }

// Cases per input, and the time an input may take at most (a bound, not a measure: a slow build
// runs fewer cases).
constexpr int kCases = 30;
constexpr auto kBudget = std::chrono::seconds(3);

class ImportMutation : public ::testing::TestWithParam<MutationInput> {};

TEST_P(ImportMutation, EndsInSuccessOrACleanFailure) {
    SKIP_WITHOUT_DATA();
    const MutationInput& input = GetParam();
    Scratch dir;
    const std::string base = dir.file("base.gpkg");
    primedGeodatabase(base);
    const std::string before = contents(base);
    const std::string original = readBytes(testdata::path(std::string(input.encRoot) + "/" + input.file));
    ASSERT_FALSE(original.empty());

    std::seed_seq seed(input.name, input.name + std::strlen(input.name));
    std::mt19937 rng(seed);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCases && std::chrono::steady_clock::now() - start < kBudget; ++i) {
        std::string what;
        const std::string bytes = mutate(original, rng, what);
        SCOPED_TRACE("case " + std::to_string(i) + ": " + what);
        const std::string set = dir.file("case" + std::to_string(i));
        const std::string input_path = set + "/" + input.file;
        for (const auto& e : fs::directory_iterator(testdata::path(input.encRoot)))
            if (e.path().filename() != input.file) e2e::link(e.path().string(), set, e.path().filename().string());
        writeBytes(input_path, bytes);
        const std::string gdb = set + "/charts.gpkg";
        fs::copy_file(base, gdb);

        const DriverRun run = runDriver(input_path, gdb);
        EXPECT_EQ(e2e::scalar(gdb, "PRAGMA integrity_check"), "ok");
        const bool failed = failureShown(run);
        if (run.result != 0) {
            EXPECT_TRUE(failed) << "the run failed without a message: " << run.result;
        }
        if (failed) {
            EXPECT_TRUE(contents(gdb) == before) << "a failed run changed the geodatabase";
        } else {
            EXPECT_NE(run.log.find(kReport), std::string::npos) << run.log;
        }
        fs::remove_all(set);
    }
}

INSTANTIATE_TEST_SUITE_P(Import, ImportMutation, ::testing::ValuesIn(kInputs),
                         [](const auto& i) { return std::string(i.param.name); });

}  // namespace
