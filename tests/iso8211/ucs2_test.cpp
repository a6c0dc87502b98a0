// tests/iso8211/ucs2_test.cpp: fields whose controls carry the UCS-2 escape "%/A": their delimited
// values end at two-byte terminators aligned to the value's start, so code units holding 0x1E or
// 0x1F bytes stay inside the value; read and written back byte for byte.
#include <gtest/gtest.h>

#include "iso8211/iso8211.h"
#include "support.h"

using namespace t8211;

namespace {

// UCS-2 little-endian bytes of code units.
std::string u(std::initializer_list<unsigned> units) {
    std::string s;
    for (unsigned c : units) s += le16(c);
    return s;
}
const std::string kUt = {'\x1f', '\0'};
const std::string kFt = {'\x1e', '\0'};

std::string wideDdr() {
    return ddr({{"NATF", desc("2600;&%/A", "National attributes", "*ATTL!ATVL", "(b12,A)")},
                {"NTXT", desc("1600;&%/A", "Texts", "FLAG!TXT1!TXT2", "(b11,A,A)")},
                {"ATTF", desc("2600;&-A ", "Attributes", "*ATTL!ATVL", "(b12,A)")}});
}

// Code units whose bytes a single-byte split would take for terminators: U+1E1F (1F 1E), U+1F41
// before U+0100 (41 1F 00 01: an unaligned UT 00), U+1E41 before U+2000 (41 1E 00 20).
const std::string kTricky = u({0x1e1f, 0x1f41, 0x0100, 0x1e41, 0x2000});
const std::string kOdd = u({'A'}) + "\x1f";  // three bytes, ending in 0x1F

std::string wideFile() {
    const std::string natf1 = le16(300) + u({'Z', 0xe9}) + kUt + le16(301) + kTricky + kUt + le16(302) +
                              kUt + kFt;  // an empty value last
    const std::string natf2 = le16(300) + kOdd + kUt + kFt;  // odd length, last in its field
    const std::string ntxt = std::string("\x1e") + u({0x1e1f}) + kUt + u({'x', 'y'}) + kUt + kFt;
    const std::string attf = le16(116) + "a\x1f" + kFt.substr(0, 1);
    return wideDdr() + record(false, {{"0001", le16(1) + "\x1e"}, {"NATF", natf1}, {"NTXT", ntxt}}, 2, 2) +
           record(false, {{"0001", le16(2) + "\x1e"}, {"NATF", natf2}, {"ATTF", attf}}, 1, 2);  // the directory as the library sizes it
}

std::string hex123plainText(const std::string& b) {
    std::string out;
    hex123plain(b.data(), long(b.size()), out);
    return out;
}

// Where the data records of two files part (the DDRs are written in the library's own layout), for
// the failure message.
std::string firstDiff(std::string a, std::string b) {
    a.erase(0, std::size_t(std::stol(a.substr(0, 5))));
    b.erase(0, std::size_t(std::stol(b.substr(0, 5))));
    std::size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    if (i == a.size() && i == b.size()) return "equal";
    auto at = [&](const std::string& s) { return i < s.size() ? hex123plainText(s.substr(i, 16)) : "<end>"; };
    return "at byte " + std::to_string(i) + " of " + std::to_string(a.size()) + "/" + std::to_string(b.size()) +
           ": " + at(a) + " vs " + at(b);
}

std::vector<std::string> values(const Field& f) {
    std::vector<std::string> out;
    for (const Sub& s : f.subs) out.push_back(s.value);
    return out;
}

TEST(Ucs2, ValuesEndAtAlignedTwoByteTerminators) {
    TempFile file(wideFile());
    FileRead r = readAll(file.path);
    ASSERT_TRUE(r.toEnd);
    ASSERT_EQ(r.recs.size(), 2u);
    ASSERT_EQ(r.recs[0].fields.size(), 3u);
    EXPECT_EQ(values(r.recs[0].fields[1]),
              (std::vector<std::string>{"300", u({'Z', 0xe9}), "301", kTricky, "302", ""}));
    EXPECT_EQ(r.recs[0].fields[1].subs[3].format, "A");
    EXPECT_EQ(values(r.recs[0].fields[2]), (std::vector<std::string>{"30", u({0x1e1f}), u({'x', 'y'})}));
    ASSERT_EQ(r.recs[1].fields.size(), 3u);
    EXPECT_EQ(values(r.recs[1].fields[1]), (std::vector<std::string>{"300", kOdd}));
    // Without the escape the field keeps single-byte terminators.
    EXPECT_EQ(values(r.recs[1].fields[2]), (std::vector<std::string>{"116", "a"}));
}

TEST(Ucs2, WritesBackByteForByte) {
    const std::string bytes = wideFile();
    TempFile file(bytes);
    FileRead r = readAll(file.path);
    ASSERT_TRUE(r.toEnd);
    const std::string copy = tempPath("ucs2_copy.000");
    ASSERT_EQ(writeAll(copy, r), 1);
    EXPECT_EQ(firstDiff(readFile(copy), bytes), "equal");  // data records byte for byte
    std::remove(copy.c_str());

    // Whole fields put as their bytes come out the same too.
    Reader in(file.path);
    ASSERT_TRUE(in.ddrOk);
    const std::string again = tempPath("ucs2_fields.000");
    std::FILE* fp = nullptr;
    long level = 3;
    char ice = 'E', ccs[4] = " ! ";
    ASSERT_EQ(open123file(again.c_str(), 'w', &level, &ice, ccs, &fp), 1);
    ASSERT_TRUE(find123file(fp) && start123ddr(fp));
    for (std::size_t i = 0; i < r.ddrTexts.size(); ++i)
        ASSERT_EQ(wr123ddfld(fp, r.ddrTags[i].c_str(), r.ddrTexts[i].c_str(), i == 0 ? 2 : 6), 1);
    ASSERT_EQ(finish123ddr(fp), 1);
    std::string tag, raw;
    char lid = ' ';
    long len = 0;
    int st = 0, records = 0;
    while (find123file(in.fp) && ld123rec()) {
        ++records;
        bool first = true;
        do {
            ASSERT_EQ(raw123sfld(in.fp, tag, &lid, raw, &len, &st), 1);
            ASSERT_EQ(put123fld(fp, tag.c_str(), 'D', raw.data(), len, first ? 2 : 6), 1) << tag;
            first = false;
        } while (st != S_RECEND && st != S_EOF);
    }
    EXPECT_EQ(records, 2);
    ASSERT_EQ(close123file(&fp), 1);
    EXPECT_EQ(firstDiff(readFile(again), bytes), "equal");
    std::remove(again.c_str());
}

TEST(Ucs2, ValueHoldingAnAlignedTerminatorIsRefused) {
    const std::string path = tempPath("ucs2_refuse.000");
    std::FILE* fp = nullptr;
    long level = 3;
    char ice = 'E', ccs[4] = " ! ";
    ASSERT_EQ(open123file(path.c_str(), 'w', &level, &ice, ccs, &fp), 1);
    ASSERT_TRUE(find123file(fp) && start123ddr(fp));
    ASSERT_EQ(wr123ddsfld(fp, "0000", "0000;&   ", 2) && wr123ddsfld(fp, "0000", "", 1) &&
                  wr123ddsfld(fp, "0000", "0001NATF", 5) && wr123ddsfld(fp, "0001", "0500;&   ", 6) &&
                  wr123ddsfld(fp, "0001", "Id", 1) && wr123ddsfld(fp, "0001", "(b12)", 3) &&
                  wr123ddsfld(fp, "NATF", "2600;&%/A", 6) && wr123ddsfld(fp, "NATF", "National", 1) &&
                  wr123ddsfld(fp, "NATF", "*ATTL!ATVL", 1) && wr123ddsfld(fp, "NATF", "(b12,A)", 3) &&
                  finish123ddr(fp),
              1);
    auto put = [&](const std::string& v, int option) {
        return put123sfld(fp, "NATF", 'D', v.data(), long(v.size()), option);
    };
    ASSERT_EQ(put123sfld(fp, "0001", 'D', le16(1).data(), 2, 2), 1);
    ASSERT_EQ(put(le16(300), 6), 1);
    EXPECT_EQ(put(u({'a', 0x1f}), 1), 0);     // U+001F: the unit terminator itself
    EXPECT_EQ(put(u({0x1e, 'a'}), 1), 0);     // U+001E: the field terminator
    ASSERT_EQ(put(u({0x1f00, 0x1e1f}), 1), 1);  // their bytes inside code units
    ASSERT_EQ(put(le16(301), 1), 1);
    ASSERT_EQ(put(kOdd, 3), 1);
    ASSERT_EQ(close123file(&fp), 1);
    FileRead r = readAll(path);
    ASSERT_TRUE(r.toEnd);
    ASSERT_EQ(r.recs.size(), 1u);
    EXPECT_EQ(values(r.recs[0].fields[1]), (std::vector<std::string>{"300", u({0x1f00, 0x1e1f}), "301", kOdd}));
    std::remove(path.c_str());
}

}  // namespace
