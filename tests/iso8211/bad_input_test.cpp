// tests/iso8211/bad_input_test.cpp: damaged copies of real cells (truncated at many offsets, leader
// bytes overwritten), empty files and random bytes. Each must end in a failure with a message, or,
// cut exactly between records, in a clean end of file: never a crash, a hang or a read outside a
// buffer (the sanitizer build runs these too).
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "iso8211/iso8211.h"
#include "support.h"
#include "support/test_data.h"

using namespace t8211;

namespace {

struct Outcome {
    bool opened = false, ddrOk = false, toEnd = false;
    std::size_t records = 0;
    std::string err;
};

Outcome readBytes(const std::string& bytes) {
    TempFile f(bytes);
    ::testing::internal::CaptureStderr();
    FileRead r = readAll(f.path);
    Outcome o{r.opened, r.ddrOk, r.toEnd, r.recs.size(), ::testing::internal::GetCapturedStderr()};
    return o;
}

// Offsets at which records begin (after the DDR), and the file's end.
std::vector<std::size_t> boundaries(const std::string& path) {
    std::vector<std::size_t> out;
    Reader rd(path);
    if (!rd.ddrOk) return out;
    for (;;) {
        out.push_back(std::size_t(std::ftell(rd.fp)));
        if (!ld123rec()) break;
    }
    return out;
}

void sweep(const std::string& rel, std::size_t step) {
    const std::string path = testdata::path(rel);
    const std::string bytes = readFile(path);
    const std::vector<std::size_t> starts = boundaries(path);
    ASSERT_GT(starts.size(), 2u);
    const std::set<std::size_t> whole(starts.begin(), starts.end());
    std::set<std::size_t> cuts;
    for (std::size_t c = 0; c < bytes.size(); c += step) cuts.insert(c);
    // Around the DDR's end and the first records' leaders, directories and ends.
    for (std::size_t i = 0; i < std::min<std::size_t>(starts.size(), 12); ++i)
        for (std::size_t d : {0, 1, 5, 12, 20, 23, 24, 25, 40})
            for (long s : {-1L, 0L}) cuts.insert(std::size_t(long(starts[i] + d) + s));
    for (std::size_t c : {1, 5, 19, 20, 23, 24}) cuts.insert(c);
    cuts.erase(bytes.size());
    int clean = 0;
    for (std::size_t c : cuts) {
        if (c >= bytes.size()) continue;
        const Outcome o = readBytes(bytes.substr(0, c));
        if (whole.count(c)) {
            // Cut between records: a shorter file that reads to its end.
            EXPECT_TRUE(o.toEnd && o.err.empty()) << rel << " cut at " << c << ": " << o.err;
            ++clean;
        } else if (!o.opened) {
            EXPECT_LT(c, 20u) << rel << " cut at " << c;
        } else {
            EXPECT_FALSE(o.toEnd) << rel << " cut at " << c;
            EXPECT_FALSE(o.err.empty()) << rel << " cut at " << c << " failed without a word";
        }
    }
    EXPECT_GE(clean, 3);
}

TEST(BadInput, TruncatedSmallCell) {
    SKIP_WITHOUT_DATA();
    sweep("s58/AA400004/ENC_ROOT/AA400004.000", 61);
}

TEST(BadInput, TruncatedNoaaCell) {
    SKIP_WITHOUT_DATA();
    sweep("enc/US5MA12M/US5MA12M.000", 30011);
}

TEST(BadInput, TruncatedCatalogue) {
    SKIP_WITHOUT_DATA();
    sweep("s58/AA400001/ENC_ROOT/CATALOG.031", 1);
}

TEST(BadInput, EmptyFileDoesNotOpen) {
    const Outcome o = readBytes("");
    EXPECT_FALSE(o.opened);
}

TEST(BadInput, RandomBytesFailCleanly) {
    std::mt19937 rng(8211);
    const std::string ddrBytes = ddr({{"ATTF", desc("2600;&   ", "Attributes", "*ATTL!ATVL", "(b12,A)")},
                                      {"SG2D", desc("2500;&   ", "Coordinates", "*YCOO!XCOO", "(2b24)")}});
    for (int i = 0; i < 200; ++i) {
        std::string junk(std::size_t(rng() % 3000), '\0');
        for (auto& ch : junk) ch = char(rng());
        // Half of them behind a good DDR, with a digit first so that they are not an end-of-file mark.
        const bool behindDdr = i % 2 == 1;
        if (behindDdr && !junk.empty()) junk[0] = char('0' + rng() % 10);
        const Outcome o = readBytes(behindDdr ? ddrBytes + junk : junk);
        if (!behindDdr) {
            EXPECT_FALSE(o.ddrOk) << "case " << i;
        } else if (!junk.empty()) {
            EXPECT_FALSE(o.toEnd) << "case " << i;
            EXPECT_FALSE(o.err.empty()) << "case " << i;
        }
    }
}

TEST(BadInput, DamagedLeaderBytes) {
    SKIP_WITHOUT_DATA();
    const std::string bytes = readFile(testdata::path("s58/AA400004/ENC_ROOT/AA400004.000"));
    const std::size_t dr = std::stoul(bytes.substr(0, 5));
    // Positions that no check reads: indicators, reserved and character-set bytes.
    const std::set<std::size_t> freeDdr = {7, 8, 9, 17, 18, 19, 22};
    const std::set<std::size_t> freeDr = {5, 7, 8, 9, 10, 11, 17, 18, 19, 22};
    for (std::size_t at = 0; at < 24; ++at) {
        std::string d = bytes;
        d[at] = 'X';
        const Outcome o = readBytes(d);
        if (freeDdr.count(at)) {
            EXPECT_TRUE(o.toEnd) << "DDR byte " << at;
        } else {
            EXPECT_FALSE(o.ddrOk && o.toEnd) << "DDR byte " << at;
            EXPECT_TRUE(!o.opened || !o.err.empty()) << "DDR byte " << at;
        }
        std::string r = bytes;
        r[dr + at] = 'X';
        const Outcome q = readBytes(r);
        if (freeDr.count(at)) {
            EXPECT_TRUE(q.toEnd) << "DR byte " << at << ": " << q.err;
        } else {
            EXPECT_FALSE(q.toEnd) << "DR byte " << at;
            EXPECT_EQ(q.records, 0u) << "DR byte " << at;
            EXPECT_FALSE(q.err.empty()) << "DR byte " << at;
        }
    }
}

}  // namespace
