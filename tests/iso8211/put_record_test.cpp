// tests/iso8211/put_record_test.cpp: a data record put whole (put123rec) is the record put subfield
// by subfield (put123sfld, flush123rec) byte for byte, for each kind of format item; a value the
// subfield path refuses makes put123rec write nothing and leave the record to that path.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "iso8211/iso8211.h"
#include "support.h"

using namespace t8211;

namespace {

struct PutCase {
    const char* name;
    const char* controls;
    const char* labels;
    const char* format;
    std::vector<std::string> values;  // of field DATA; 0001 comes first
    bool refused;
};

std::string w16(std::initializer_list<unsigned> units) {
    std::string s;
    for (unsigned c : units) s += le16(c);
    return s;
}

const PutCase kCases[] = {
    {"FixedTextsPaddedAndDelimited", "1600;&   ", "RCNM!DATE!IMPL!NAME", "(A(2),A(8),A(3),A)",
     {"CD", "2018", "", "name"}, false},
    {"PackedBitStrings", "1600;&   ", "A!B!C", "(B(3),B(5),b11)", {"\xe0", "\x08", "\x07"}, false},
    {"RepeatedPairs", "2600;&   ", "*ATTL!ATVL", "(b12,A)",
     {le16(116), "a", le16(117), "", le16(300), "long value"}, false},
    {"WholeByteBitStringsRepeated", "2600;&   ", "*NAME!ORNT!USAG!MASK", "(B(40),b11,b11,b11)",
     {std::string("\x82\x01\x00\x00\x00", 5), "\x01", "\x02", "\xff", std::string("\x82\x02\x00\x00\x00", 5), "\x02",
      "\x01", "\xff"},
     false},
    {"Ucs2Values", "2600;&%/A", "*ATTL!ATVL", "(b12,A)", {le16(300), w16({'Z', 0xe9, 0x1e1f}), le16(301), ""}, false},
    {"IntegersAndReals", "1600;&   ", "A!B!C", "(I(5),R(4),I)", {"12", "1.5", "-7"}, false},
    {"FixedTextTooLong", "1600;&   ", "RCNM!DATE", "(A(2),A(8))", {"CD", "201801011"}, true},
    {"UnitTerminatorInDelimitedText", "2600;&   ", "*ATTL!ATVL", "(b12,A)", {le16(1), "a\x1f"}, true},
    {"BinaryOfTheWrongSize", "2600;&   ", "*ATTL!ATVL", "(b12,A)", {"abc", "x"}, true},
};

void PrintTo(const PutCase& c, std::ostream* os) { *os << c.name; }

class PutRecord : public ::testing::TestWithParam<PutCase> {};

// A file with the case's DDR; records written by `put`; its bytes.
template <class Put>
std::string written(const PutCase& c, const char* stem, Put put) {
    const std::string path = tempPath(stem);
    long level = 3;
    char ice = 'E', ccs[4] = " ! ";
    std::FILE* fp = nullptr;
    EXPECT_EQ(open123file(path.c_str(), 'w', &level, &ice, ccs, &fp), 1);
    EXPECT_TRUE(wr123ddsfld(fp, "0000", "0000;&   ", 2) && wr123ddsfld(fp, "0000", "", 1) &&
                wr123ddsfld(fp, "0000", "0001DATA", 5) && wr123ddsfld(fp, "0001", "0500;&   ", 6) &&
                wr123ddsfld(fp, "0001", "Id", 1) && wr123ddsfld(fp, "0001", "(b12)", 3) &&
                wr123ddsfld(fp, "DATA", c.controls, 6) && wr123ddsfld(fp, "DATA", "Data", 1) &&
                wr123ddsfld(fp, "DATA", c.labels, 1) && wr123ddsfld(fp, "DATA", c.format, 3) && finish123ddr(fp));
    put(fp);
    EXPECT_EQ(close123file(&fp), 1);
    std::string bytes = readFile(path);
    std::remove(path.c_str());
    return bytes;
}

// Puts record `id` value by value; 1 when every value was taken and the record written.
int bySubfield(std::FILE* fp, const PutCase& c, unsigned id) {
    const std::string rid = le16(id);
    if (!put123sfld(fp, "0001", 'D', rid.data(), 2, 2)) return 0;
    for (std::size_t i = 0; i < c.values.size(); ++i) {
        const int option = i == 0 ? 6 : (i + 1 == c.values.size() ? 3 : 1);
        if (!put123sfld(fp, "DATA", 'D', c.values[i].data(), long(c.values[i].size()), option)) return 0;
    }
    return flush123rec(fp);
}

int whole(std::FILE* fp, const PutCase& c, unsigned id) {
    const std::string rid = le16(id);
    std::vector<put123value> data;
    for (const auto& v : c.values) data.push_back({v.data(), long(v.size())});
    const put123value first = {rid.data(), 2};
    const put123field fields[] = {{"0001", &first, 1}, {"DATA", data.data(), long(data.size())}};
    return put123rec(fp, fields, 2);
}

TEST_P(PutRecord, WholeRecordIsTheRecordPutValueByValue) {
    const PutCase& c = GetParam();
    if (c.refused) {
        // The subfield path refuses the record too; put123rec leaves the file as it was.
        (void)written(c, "sub.000", [&](std::FILE* fp) { EXPECT_EQ(bySubfield(fp, c, 1), 0); });
        const std::string ddrOnly = written(c, "ddr.000", [](std::FILE*) {});
        EXPECT_EQ(written(c, "whole.000", [&](std::FILE* fp) { EXPECT_EQ(whole(fp, c, 1), 0); }), ddrOnly);
        return;
    }
    // Records one after another, each one sized by its own directory.
    const std::string expected = written(c, "sub.000", [&](std::FILE* fp) {
        EXPECT_EQ(bySubfield(fp, c, 1), 1);
        EXPECT_EQ(bySubfield(fp, c, 2), 1);
    });
    const std::string actual = written(c, "whole.000", [&](std::FILE* fp) {
        EXPECT_EQ(whole(fp, c, 1), 1);
        EXPECT_EQ(whole(fp, c, 2), 1);
    });
    EXPECT_EQ(actual, expected);
}

INSTANTIATE_TEST_SUITE_P(Formats, PutRecord, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<PutCase>& i) { return std::string(i.param.name); });

}  // namespace
