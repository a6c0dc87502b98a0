// tests/iso8211/record_test.cpp: loading data records built byte by byte: binary data that looks
// like a terminator, record sizes that disagree with the directory, damaged leaders and
// directories, the walk's status codes, reused leaders, binary conversions and limits.
#include <gtest/gtest.h>

#include <functional>

#include "iso8211/iso8211.h"
#include "support.h"

using namespace t8211;

namespace {

const Fld kAttf{"ATTF", desc("2600;&   ", "Attributes", "*ATTL!ATVL", "(b12,A)")};
const Fld kSg2d{"SG2D", desc("2500;&   ", "Coordinates", "*YCOO!XCOO", "(2b24)")};
const Fld kInts{"INTS", desc("1600;&   ", "Integers", "S!U", "(b22,b12)")};
const Fld kBadw{"BADW", desc("1600;&   ", "Odd width", "X", "(b13)")};
const Fld kArry{"ARRY", desc("2000;&   ", "Array", "", "")};

std::string fileDdr() { return ddr({kAttf, kSg2d, kInts, kBadw, kArry}); }

Fld id(unsigned n) { return {"0001", le16(n) + "\x1e"}; }

std::string dr(const std::vector<Fld>& f) { return record(false, f); }

// A record's leader with its five-digit length replaced.
std::string withLength(std::string rec, const std::string& len) { return rec.replace(0, 5, len); }

TEST(RecordRead, BinaryBytesThatEqualTheTerminatorStayData) {
    // Attribute code 30 is stored as 1E 00; a coordinate can begin with 1E.
    const std::string attf = le16(30) + "ab\x1f" + le16(30) + "cd\x1f\x1e";
    const std::string sg2d = le32(30) + le32(0x1e1e1e1e) + le32(0x1e) + le32(7) + "\x1e";
    TempFile f(fileDdr() + dr({id(1), {"ATTF", attf}, {"SG2D", sg2d}}));
    FileRead r = readAll(f.path);
    ASSERT_TRUE(r.toEnd);
    ASSERT_EQ(r.recs.size(), 1u);
    const auto& fl = r.recs[0].fields;
    ASSERT_EQ(fl.size(), 3u);
    ASSERT_EQ(fl[1].subs.size(), 4u);
    EXPECT_EQ(fl[1].subs[2].value, "30");
    EXPECT_EQ(fl[1].subs[3].value, "cd");
    ASSERT_EQ(fl[2].subs.size(), 4u);
    EXPECT_EQ(fl[2].subs[1].value, std::to_string(0x1e1e1e1e));
    EXPECT_EQ(fl[2].subs[2].value, "30");
    EXPECT_EQ(fl[2].subs[3].value, "7");
    EXPECT_EQ(fl[2].subs[3].label, "!XCOO");
    EXPECT_EQ(fl[2].subs[3].format, "L24");
}

struct SizeCase {
    const char* name;
    std::function<std::string(const std::string&)> length;  // from the correct record
    const char* message;
};

const SizeCase kSizes[] = {
    {"Exact", [](const std::string& r) { return r.substr(0, 5); }, ""},
    {"Zero", [](const std::string&) { return std::string("00000"); }, ""},
    {"LongerThanItsFields", [](const std::string& r) { return num(r.size() + 7, 5); },
     "ld123rec: Invalid record size handled automatically.\n"},
    {"ShorterThanItsFields", [](const std::string& r) { return num(r.size() - 3, 5); },
     "ld123rec: Invalid record size handled automatically.\n"},
    {"BelowItsBaseAddress", [](const std::string&) { return std::string("00030"); },
     "ld123rec: Invalid record size handled automatically.\n"},
};

class RecordSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(RecordSize, LoadsByItsDirectoryAndTheNextRecordFollows) {
    const std::string r1 = dr({id(1), {"ATTF", le16(5) + "first\x1f\x1e"}});
    const std::string r2 = dr({id(2), {"ATTF", le16(6) + "second\x1f\x1e"}});
    TempFile f(fileDdr() + withLength(r1, GetParam().length(r1)) + r2);
    ::testing::internal::CaptureStderr();
    FileRead r = readAll(f.path);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), GetParam().message);
    ASSERT_TRUE(r.toEnd);
    ASSERT_EQ(r.recs.size(), 2u);
    EXPECT_EQ(r.recs[0].fields[1].subs[1].value, "first");
    EXPECT_EQ(r.recs[1].fields[1].subs[1].value, "second");
}

INSTANTIATE_TEST_SUITE_P(Sizes, RecordSize, ::testing::ValuesIn(kSizes),
                         [](const auto& i) { return std::string(i.param.name); });

struct Damage {
    const char* name;
    std::function<std::string(std::string)> cut;  // applied to the one data record
    const char* message;
};

const Damage kDamages[] = {
    {"RecordLengthNotDigits", [](std::string r) { return r.replace(2, 1, "a"); },
     " in ld123rec : fail to get record length\n"},
    {"LeaderIdentifier", [](std::string r) { return r.replace(6, 1, "X"); },
     "ld123rec: invalid leader identifier 'X', expect D or R\n"},
    {"BaseAddressNotDigits", [](std::string r) { return r.replace(13, 1, "?"); },
     "ld123rec: fail to read base address of data\n"},
    {"BaseAddressBelow25", [](std::string r) { return r.replace(12, 5, "00020"); },
     "ld123rec: base address of data 20 is below 25\n"},
    {"RaggedDirectory", [](std::string r) { return r.replace(12, 5, "00049"); },
     "ld123rec: directory of 24 characters is not a whole number of 11-character entries\n"},
    {"FieldLengthSize", [](std::string r) { return r.replace(20, 1, "0"); },
     "ld123rec: invalid field length ,expect between  1 and 9, got 0\n"},
    {"FieldPositionSize", [](std::string r) { return r.replace(21, 1, "x"); },
     "ld123rec: fail to read size of field\n"},
    {"TagSize", [](std::string r) { return r.replace(23, 1, "5"); },
     "ld123rec: invalid size of tag, expect between 1 and 7, got 5\n"},
    {"DirectoryLength", [](std::string r) { return r.replace(28, 1, "z"); },
     "ld123rec: unable to read in field length\n"},
    {"FieldBeyondTheFile", [](std::string r) { return r.replace(38, 4, "0900"); },
     "ld123rec: unable to read field string , da_base = 47, rec_len = 950, fld_len = 903\n"},
    {"ShortLeader", [](std::string r) { return r.substr(0, 10); },
     "ld123rec: file ends inside a record leader (10 of 24 bytes)\n"},
    {"ShortDirectory", [](std::string r) { return r.substr(0, 30); },
     "ld123rec: fread fail\n"},
    {"EndsBeforeTheDirectoryTerminator", [](std::string r) { return r.substr(0, 46); },
     "ld123rec: read past FT\n"},
    {"NoFields", [](std::string) { return std::string("00026 D     00025   3404\x1e\x1e"); },
     "ld123rec: record has no fields\n"},
};

class DamagedRecord : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedRecord, FailsWithItsMessage) {
    const std::string good = dr({id(1), {"ATTF", le16(5) + "x\x1f\x1e"}});
    TempFile f(fileDdr() + GetParam().cut(good));
    Reader rd(f.path);
    ASSERT_TRUE(rd.ddrOk);
    ::testing::internal::CaptureStderr();
    int last = -1;
    std::vector<Step> steps = walk(rd.fp, &last);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), GetParam().message);
    EXPECT_TRUE(steps.empty());
    EXPECT_EQ(last, 0);
}

INSTANTIATE_TEST_SUITE_P(Leaders, DamagedRecord, ::testing::ValuesIn(kDamages),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(RecordRead, StatusesMarkRecordsFieldsAndTheEndOfTheFile) {
    const std::string r1 = dr({id(1), {"ATTF", le16(1) + "a\x1f" + le16(2) + "b\x1f\x1e"}});
    const std::string r2 = dr({id(2), {"ATTF", le16(3) + "c\x1f\x1e"}});
    for (const std::string tail : {"", "\x1a", "^"}) {
        TempFile f(fileDdr() + r1 + r2 + tail);
        Reader rd(f.path);
        ASSERT_TRUE(rd.ddrOk);
        ::testing::internal::CaptureStderr();
        int last = -1;
        std::vector<Step> s = walk(rd.fp, &last);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        std::vector<int> st;
        for (const auto& x : s) st.push_back(x.status);
        EXPECT_EQ(st, (std::vector<int>{2, 6, 1, 1, 3, 2, 6, 4})) << "tail " << int(tail.empty() ? 0 : tail[0]);
        EXPECT_EQ(last, 4);
        EXPECT_EQ(s[3].label, "!ATTL");
        EXPECT_EQ(s[4].label, "!ATVL");
    }
}

TEST(RecordRead, RecordLayerStepsIntoALoadedRecordAsIntoALaterField) {
    TempFile f(fileDdr() + dr({id(1), {"INTS", le16(1) + le16(2) + "\x1e"}, {"ATTF", le16(1) + "a\x1f\x1e"}}));
    Reader rd(f.path);
    ASSERT_EQ(ld123rec(), 1);
    cur_fm()->sf_state_dr = 4;
    int last = -1;
    std::vector<Step> s = walk(rd.fp, &last);
    ASSERT_EQ(s.size(), 5u);
    std::vector<int> st;
    for (const auto& x : s) st.push_back(x.status);
    // 0001's one subfield ends its field (5) instead of opening the record (2).
    EXPECT_EQ(st, (std::vector<int>{5, 6, 5, 6, 4}));
    EXPECT_EQ(s[0].tag, "0001");
}

TEST(RecordRead, ReusedLeaderServesLaterRecordsAndBackingUpOverItClearsIt) {
    std::string r1 = dr({id(1), {"INTS", le16(1) + le16(2) + "\x1e"}});
    r1[6] = 'R';
    // Later records hold only their field area, in the sizes of the first one's directory.
    const std::string r2 = id(2).body + le16(3) + le16(4) + "\x1e";
    const std::string r3 = id(3).body + le16(5) + le16(6) + "\x1e";
    TempFile f(fileDdr() + r1 + r2 + r3);
    FileRead all = readAll(f.path);
    ASSERT_TRUE(all.toEnd);
    ASSERT_EQ(all.recs.size(), 3u);
    EXPECT_EQ(all.recs[2].fields[0].subs[0].value, "3");
    EXPECT_EQ(all.recs[2].fields[1].subs[1].value, "6");

    Reader rd(f.path);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(ld123rec(), 1);
    EXPECT_EQ(cur_fm()->nld, 1);
    int st = 0;
    for (int i = 0; i < 3; ++i) ASSERT_EQ(unread123rec(rd.fp, &st), 1);
    EXPECT_EQ(cur_fm()->nld, 0);
    EXPECT_EQ(cur_fm()->nld_loc, nullptr);
    ASSERT_EQ(ld123rec(), 1);  // the 'R' record again, leader and all
    EXPECT_EQ(cur_fm()->rl_hd->lead_id, 'R');
    ASSERT_EQ(ld123rec(), 1);
    cur_fm()->sf_state_dr = 4;
    std::string tag, value;
    char lid = 0;
    long len = 0;
    ASSERT_EQ(next123sfld(rd.fp, tag, &lid, value, &len, &st), 1);
    EXPECT_EQ(value, "2");
}

TEST(RecordRead, SeekingToARecordStartReadsItAndForgetsTheRecordsBefore) {
    TempFile f(fileDdr() + dr({id(1), {"INTS", le16(1) + le16(2) + "\x1e"}}) +
               dr({id(2), {"INTS", le16(3) + le16(4) + "\x1e"}}) + dr({id(3), {"INTS", le16(5) + le16(6) + "\x1e"}}));
    Reader rd(f.path);
    long start[3] = {};
    for (long& s : start) {
        ASSERT_EQ(ld123rec(), 1);
        ASSERT_EQ(tell123rec(rd.fp, &s), 1);
    }
    EXPECT_LT(start[0], start[1]);
    EXPECT_LT(start[1], start[2]);
    auto firstInt = [&]() {
        cur_fm()->sf_state_dr = 4;
        std::string tag, value;
        char lid = 0;
        long len = 0;
        int st = 0;
        EXPECT_EQ(next123sfld(rd.fp, tag, &lid, value, &len, &st), 1);  // 0001
        EXPECT_EQ(next123sfld(rd.fp, tag, &lid, value, &len, &st), 1);
        return value;
    };
    for (int k : {1, 0, 2, 2}) {
        ASSERT_EQ(seek123rec(rd.fp, start[k]), 1) << k;
        ASSERT_EQ(ld123rec(), 1) << k;
        EXPECT_EQ(firstInt(), std::to_string(2 * k + 1)) << k;
    }
    int st = 0;
    ASSERT_EQ(seek123rec(rd.fp, start[1]), 1);
    ASSERT_EQ(ld123rec(), 1);
    ASSERT_EQ(ld123rec(), 1);
    EXPECT_EQ(unread123rec(rd.fp, &st), 1);
    EXPECT_EQ(unread123rec(rd.fp, &st), 1);
    EXPECT_EQ(unread123rec(rd.fp, &st), 0) << "no record before the one sought is remembered";
    EXPECT_EQ(seek123rec(rd.fp, -1), 0);
}

TEST(RecordRead, SeekingIsRefusedWhereRecordsLeanOnAReusedLeader) {
    std::string r1 = dr({id(1), {"INTS", le16(1) + le16(2) + "\x1e"}});
    r1[6] = 'R';
    TempFile f(fileDdr() + r1 + id(2).body + le16(3) + le16(4) + "\x1e");
    Reader rd(f.path);
    long start = 0;
    ASSERT_EQ(ld123rec(), 1);
    ASSERT_EQ(tell123rec(rd.fp, &start), 1);
    ASSERT_EQ(ld123rec(), 1);
    int st = 0;
    ASSERT_EQ(unread123rec(rd.fp, &st), 1);
    ASSERT_EQ(unread123rec(rd.fp, &st), 1);
    EXPECT_EQ(seek123rec(rd.fp, start), 0) << "even after backing up over the 'R' record";
}

TEST(RecordRead, BackingUpBeforeAnyRecordFails) {
    TempFile f(fileDdr() + dr({id(1), {"ATTF", le16(1) + "a\x1f\x1e"}}));
    Reader rd(f.path);
    int st = 9;
    EXPECT_EQ(unread123rec(rd.fp, &st), 0);
    EXPECT_EQ(st, 0);
}

TEST(RecordRead, BinaryIntegersBySignAndWidth) {
    TempFile f(fileDdr() + dr({id(1), {"INTS", "\xff\xff\xff\xff\x1e"}}));
    FileRead r = readAll(f.path);
    ASSERT_TRUE(r.toEnd);
    EXPECT_EQ(r.recs[0].fields[1].subs[0].value, "-1");
    EXPECT_EQ(r.recs[0].fields[1].subs[1].value, "65535");
    EXPECT_EQ(r.recs[0].fields[1].subs[0].format, "L22");
}

// Formatted fields of every kind of item, each value as the walk hands it out: numbers at the ends
// of their ranges, bit strings, fixed and delimited texts, repetitions, and what ends a field early.
struct FormattedCase {
    const char* name;
    const char* labels;
    const char* format;
    std::string data;  // the field's bytes, its terminator included
    std::vector<std::string> values;
    std::vector<std::string> formats;  // of the first values
};

const std::vector<FormattedCase> kFormatted = {
    {"NumberExtremes", "A!B!C!D!E!F", "(b24,b14,b21,b11,b22,b12)",
     le32(0x80000000) + le32(0xffffffff) + std::string("\x80\x00\x00\x80", 4) + le16(65535) + "\x1e",
     {"-2147483648", "4294967295", "-128", "0", "-32768", "65535"},
     {"L24", "L14", "L21", "L11", "L22", "L12"}},
    {"NumberDigitCounts", "*N", "(b14)",
     le32(9) + le32(10) + le32(99999999) + le32(100000000) + le32(999999999) + le32(1000000000) + "\x1e",
     {"9", "10", "99999999", "100000000", "999999999", "1000000000"}, {"L14"}},
    {"MixedRepeated", "*KIND!CODE!BITS!NOTE", "(b11,A(3),B(16),A)",
     std::string("\x01" "abc" "\x01\x1e" "note\x1f" "\xff" "xyz" "\xff\x00" "\x1f\x1e", 19),
     {"1", "abc", std::string("\x01\x1e", 2), "note", "255", "xyz", std::string("\xff\x00", 2), ""},
     {"L11", "A(3)", "B(16)", "A"}},
    {"StrayBytesAfterTheLastRepetition", "*X!Y", "(b12,A(2))", le16(5) + "ab" + "\x07\x1e", {"5", "ab"},
     {"L12", "A(2)"}},
    {"FixedTextEndedByTheTerminator", "A!B", "(A(3),A(2))", "ab\x1e", {"ab"}, {"A(3)"}},
    {"FixedTextEndedByTheTerminatorAmongNumbers", "*A!B", "(b11,A(3))",
     std::string("\x01" "abc" "\x02" "de\x1e" "\x1e", 9), {"1", "abc", "2", "de"}, {"L11", "A(3)"}},
    {"DelimitedTextEndsTheField", "A!B!C", "(b11,A,b11)", "\x05" "end\x1e", {"5", "end"}, {"L11", "A"}},
    {"VariableBitStringAmongNumbers", "A!B!C", "(b11,B,b11)", std::string("\x02" "216\xab\xcd" "\x03\x1e", 8),
     {"2", "216\xab\xcd", "3"}, {"L11", "B", "L11"}},
    {"TextOnlyEndsAtTheTerminatorAfterARepetition", "*A!B", "(A,A)", "a\x1f" "b\x1f\x1e" "zz", {"a", "b"},
     {"A", "A"}},
};

class Formatted : public ::testing::TestWithParam<FormattedCase> {};

TEST_P(Formatted, ValuesAndFormatsAsTheWalkGivesThem) {
    const FormattedCase& c = GetParam();
    const Fld kind{"FRMT", desc("1600;&   ", "Formatted", c.labels, c.format)};
    TempFile f(ddr({kind}) + record(false, {id(1), {"FRMT", c.data}}));
    ::testing::internal::CaptureStderr();
    FileRead r = readAll(f.path);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    ASSERT_TRUE(r.toEnd);
    ASSERT_EQ(r.recs.size(), 1u);
    ASSERT_EQ(r.recs[0].fields.size(), 2u);
    const auto& subs = r.recs[0].fields[1].subs;
    std::vector<std::string> values, formats;
    for (const Sub& s : subs) values.push_back(s.value);
    for (std::size_t i = 0; i < subs.size() && i < c.formats.size(); ++i) formats.push_back(subs[i].format);
    EXPECT_EQ(values, c.values);
    EXPECT_EQ(formats, c.formats);
}

INSTANTIATE_TEST_SUITE_P(Items, Formatted, ::testing::ValuesIn(kFormatted),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(RecordRead, BitStringBeyondTheLimitIsRefused) {
    // 8 * 128000 bits at most; one byte more among numbers.
    const Fld kind{"BITS", desc("1600;&   ", "Bits", "N!B", "(b11,B(1024008))")};
    const std::string data = "\x01" + std::string(128001, 'x') + "\x1e";
    TempFile f(ddr({kind}) + record(false, {id(1), {"BITS", data}}, 6, 6));
    Reader rd(f.path);
    ::testing::internal::CaptureStderr();
    int last = -1;
    walk(rd.fp, &last);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "get123dval: d_typ = B\nget123dval: error calling g123bstr\nret123fv: error calling get123dval\n"
              "load123fld: fail calling ret123fv\nld123rec: unable to load DR field data\n");
    EXPECT_EQ(last, 0);
}

TEST(RecordRead, BinaryWidthThreeIsRefused) {
    TempFile f(fileDdr() + dr({id(1), {"BADW", "abc\x1e"}}));
    Reader rd(f.path);
    ::testing::internal::CaptureStderr();
    int last = -1;
    walk(rd.fp, &last);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "get123dval: width 3 not supported\nret123fv: error calling get123dval\n"
              "load123fld: fail calling ret123fv\nld123rec: unable to load DR field data\n");
    EXPECT_EQ(last, 0);
}

TEST(RecordRead, DelimitedArrayFieldLimit) {
    // Dimensions in the data (1 dimension of 3 values), then the values: 128000 bytes with the FT.
    auto field = [](std::size_t total) {
        std::string head = "1\x1f" "3\x1f" "a\x1f" "b\x1f";
        return head + std::string(total - head.size() - 1, 'c') + "\x1e";
    };
    for (std::size_t total : {std::size_t(128000), std::size_t(128001)}) {
        TempFile f(fileDdr() + record(false, {id(1), {"ARRY", field(total)}}, 6, 6));
        Reader rd(f.path);
        ::testing::internal::CaptureStderr();
        int last = -1;
        std::vector<Step> s = walk(rd.fp, &last);
        const std::string err = ::testing::internal::GetCapturedStderr();
        if (total == 128000) {
            EXPECT_EQ(err, "");
            ASSERT_EQ(s.size(), 6u);  // 0001, number of dimensions, its length, three values
            EXPECT_EQ(s[1].label, "NUMBER OF DIMENSIONS");
            EXPECT_EQ(s[2].label, "DIMENSION LENGTH");
            EXPECT_EQ(s[5].value.size(), total - 9);
        } else {
            EXPECT_EQ(err, "load123fld: field length exceed limit (max. 128000)\n"
                           "ld123rec: unable to load DR field data\n");
            EXPECT_EQ(last, 0);
        }
    }
}

}  // namespace

namespace {

TEST(RawRecords, DdrAndRecordsComeBackAsStored) {
    const std::string r1 = dr({id(1), {"ATTF", le16(1) + "a\x1f\x1e"}});
    const std::string r2 = dr({id(2), {"ATTF", le16(2) + "bb\x1f\x1e"}});
    TempFile f(fileDdr() + r1 + r2);
    Reader rd(f.path);
    std::string bytes;
    int st = 0;
    ASSERT_EQ(raw123ddr(rd.fp, bytes, &st), 1);
    EXPECT_EQ(bytes, fileDdr());
    EXPECT_EQ(st, 3);
    ASSERT_TRUE(find123file(rd.fp) && read123ddr());
    long len = 0;
    ASSERT_EQ(raw123rec(rd.fp, bytes, &len, &st), 1);
    EXPECT_EQ(bytes, r1);
    ASSERT_EQ(raw123rec(rd.fp, bytes, &len, &st), 1);
    EXPECT_EQ(bytes, r2);
    EXPECT_EQ(len, long(r2.size()));
    EXPECT_EQ(raw123rec(rd.fp, bytes, &len, &st), 0);
    EXPECT_EQ(st, 4);
}

TEST(BackingUp, SubfieldByFieldAndIntoThePreviousRecord) {
    const std::string r1 = dr({id(1), {"ATTF", le16(1) + "a\x1f" + le16(2) + "b\x1f\x1e"}});
    const std::string r2 = dr({id(2), {"ATTF", le16(3) + "c\x1f\x1e"}});
    TempFile f(fileDdr() + r1 + r2);
    Reader rd(f.path);
    std::string tag, v;
    char lid;
    long len;
    int st;
    std::vector<std::string> seen;
    for (int i = 0; i < 7; ++i) {  // through the first subfield of the second record's ATTF
        ASSERT_EQ(next123sfld(rd.fp, tag, &lid, v, &len, &st), 1);
        seen.push_back(v);
    }
    EXPECT_EQ(seen.back(), "3");
    // Back over "3", over the second record's 0001, into the first record's last value.
    ASSERT_EQ(back123sfld(rd.fp, &st), 1);
    EXPECT_EQ(st, 6);
    ASSERT_EQ(next123sfld(rd.fp, tag, &lid, v, &len, &st), 1);
    EXPECT_EQ(v, "3");
    ASSERT_EQ(back123sfld(rd.fp, &st), 1);
    ASSERT_EQ(back123sfld(rd.fp, &st), 1);
    EXPECT_EQ(st, 2);
    ASSERT_EQ(next123sfld(rd.fp, tag, &lid, v, &len, &st), 1);
    EXPECT_EQ(tag, "0001");
    EXPECT_EQ(v, "2");
}

}  // namespace
