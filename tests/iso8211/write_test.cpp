// tests/iso8211/write_test.cpp: writing a DDR item by item and records subfield by subfield, read
// back through the library: fixed widths, field controls, options, long records, tag checks,
// packed bit strings and truncation of the written file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "iso8211/iso8211.h"
#include "support.h"

using namespace t8211;

namespace {

struct Writer {
    std::string path = tempPath("w.000");
    std::FILE* fp = nullptr;
    explicit Writer(long level = 3) {
        char ice = 'E', ccs[4] = " ! ";
        open123file(path.c_str(), 'w', &level, &ice, ccs, &fp);
        find123file(fp);
    }
    ~Writer() {
        if (fp) close123file(&fp);
        std::remove(path.c_str());
    }
    // 0000, 0001 and one more description; 1 when all items were taken.
    int describe(const char* tag, const char* controls, const char* name, const char* labels,
                 const char* format) {
        return wr123ddsfld(fp, "0000", "0000;&   ", 2) && wr123ddsfld(fp, "0000", "", 1) &&
               wr123ddsfld(fp, "0000", "0001CATD", 5) &&
               wr123ddsfld(fp, "0001", "0500;&   ", 6) && wr123ddsfld(fp, "0001", "Id", 1) &&
               wr123ddsfld(fp, "0001", "(b12)", 3) && wr123ddsfld(fp, tag, controls, 6) &&
               wr123ddsfld(fp, tag, name, 1) && wr123ddsfld(fp, tag, labels, 1) &&
               wr123ddsfld(fp, tag, format, 3) && finish123ddr(fp);
    }
    int put(const char* tag, const std::string& v, int option) {
        return put123sfld(fp, tag, 'D', v.data(), long(v.size()), option);
    }
    int close() { return close123file(&fp); }
};

TEST(Write, ShortFixedWidthTextIsPaddedAndLongTextRefused) {
    Writer w;
    ASSERT_EQ(w.describe("CATD", "1600;&   ", "Catalogue", "RCNM!DATE!IMPL!NAME", "(A(2),A(8),A(3),A)"), 1);
    ASSERT_EQ(w.put("0001", le16(1), 2), 1);
    ASSERT_EQ(w.put("CATD", "CD", 6), 1);
    EXPECT_EQ(w.put("CATD", "201801011", 1), 0);  // nine characters for A(8)
    ASSERT_EQ(w.put("CATD", "", 1), 1);
    ASSERT_EQ(w.put("CATD", "", 1), 1);
    ASSERT_EQ(w.put("CATD", "name", 3), 1);
    ASSERT_EQ(w.close(), 1);
    FileRead r = readAll(w.path);
    ASSERT_TRUE(r.toEnd);
    ASSERT_EQ(r.recs.size(), 1u);
    const auto& s = r.recs[0].fields[1].subs;
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(s[1].value, "        ");
    EXPECT_EQ(s[2].value, "   ");
    EXPECT_EQ(s[3].value, "name");
}

TEST(Write, OptionsAboveSixFail) {
    Writer w;
    EXPECT_EQ(wr123ddsfld(w.fp, "0000", "0000;&", 7), 0);
    EXPECT_EQ(wr123ddsfld(w.fp, "0000", "0000;&", 0), 0);
    ASSERT_EQ(w.describe("ATTF", "2600;&   ", "Attributes", "*ATTL!ATVL", "(b12,A)"), 1);
    EXPECT_EQ(w.put("0001", le16(1), 7), 0);
    EXPECT_EQ(w.put("0001", le16(1), 0), 0);
    EXPECT_EQ(w.put("NONE", le16(1), 2), 0);  // not described
}

TEST(Write, ShortFieldControlsArePaddedToTheLeadersLength) {
    Writer w;
    ASSERT_EQ(w.describe("ATTF", "2600", "Attributes", "*ATTL!ATVL", "(b12,A)"), 1);
    ASSERT_EQ(w.put("0001", le16(1), 2), 1);
    ASSERT_EQ(w.put("ATTF", le16(5), 6), 1);
    ASSERT_EQ(w.put("ATTF", "text", 3), 1);
    ASSERT_EQ(w.close(), 1);
    FileRead r = readAll(w.path);
    ASSERT_TRUE(r.toEnd);
    EXPECT_EQ(r.recs.at(0).fields.at(1).subs.at(1).value, "text");
    EXPECT_EQ(r.ddrTexts.at(2).substr(0, 10), "2600     A");
}

TEST(Write, RecordLongerThanFiveDigitsReadsBack) {
    Writer w;
    ASSERT_EQ(w.describe("TEXT", "1600;&   ", "Text", "BODY", "(A)"), 1);
    const std::string big(120000, 'x');
    ASSERT_EQ(w.put("0001", le16(1), 2), 1);
    ASSERT_EQ(w.put("TEXT", big, 6), 1);
    ASSERT_EQ(w.put("0001", le16(2), 2), 1);
    ASSERT_EQ(w.put("TEXT", "small", 6), 1);
    ASSERT_EQ(w.close(), 1);
    const std::string bytes = readFile(w.path);
    const std::size_t first = std::stoul(bytes.substr(0, 5));
    EXPECT_EQ(bytes.substr(first, 5), "00000");
    FileRead r = readAll(w.path);
    ASSERT_TRUE(r.toEnd);
    ASSERT_EQ(r.recs.size(), 2u);
    EXPECT_EQ(r.recs[0].fields[1].subs[0].value, big);
    EXPECT_EQ(r.recs[1].fields[1].subs[0].value, "small");
}

TEST(Write, DdrLongerThanItsLeaderCanSayFails) {
    Writer w;
    const std::string name(100000, 'n');
    EXPECT_EQ(w.describe("TEXT", "1600;&   ", name.c_str(), "BODY", "(A)"), 0);
}

TEST(Write, TagChecksBelowLevelThree) {
    for (long level : {2L, 3L}) {
        Writer w(level);
        ASSERT_EQ(wr123ddsfld(w.fp, "0000", "0000;&", 2) && wr123ddsfld(w.fp, "0000", "title", 5), 1);
        for (int i = 0; i < 2; ++i)
            ASSERT_EQ(wr123ddsfld(w.fp, "0001", "0100;&", 6) && wr123ddsfld(w.fp, "0001", "Id", 3), 1);
        EXPECT_EQ(finish123ddr(w.fp), level == 3 ? 1 : 0) << "level " << level;
    }
    for (long level : {2L, 3L}) {
        Writer w(level);
        ASSERT_EQ(wr123ddsfld(w.fp, "0000", "0000;&", 2) && wr123ddsfld(w.fp, "0000", "title", 5) &&
                      wr123ddsfld(w.fp, "0001", "0100;&", 6) && wr123ddsfld(w.fp, "0001", "Id", 3) &&
                      wr123ddsfld(w.fp, "TEXT", "1000;&", 6) && wr123ddsfld(w.fp, "TEXT", "Text", 3) &&
                      finish123ddr(w.fp),
                  1);
        ASSERT_EQ(w.put("TEXT", "no record id first", 2), 1);
        EXPECT_EQ(w.close(), level == 3 ? 1 : 0) << "level " << level;
    }
}

TEST(Write, FileControlFieldTakesOneValueAtLevelOneAndThreeAtLevelThree) {
    Writer one(1);
    ASSERT_EQ(wr123ddsfld(one.fp, "0000", "A title", 2), 1);
    EXPECT_EQ(cur_fm()->sf_state_dd, 5);
    EXPECT_STREQ(cur_fm()->cr_hd->f_title, "A title");
    Writer three(3);
    ASSERT_EQ(wr123ddsfld(three.fp, "0000", "0000;&", 2), 1);
    EXPECT_EQ(cur_fm()->sf_state_dd, 2);
    ASSERT_EQ(wr123ddsfld(three.fp, "0000", "A title", 1), 1);
    EXPECT_EQ(cur_fm()->sf_state_dd, 3);
    ASSERT_EQ(wr123ddsfld(three.fp, "0000", "00010002", 1), 1);
    EXPECT_EQ(cur_fm()->sf_state_dd, 5);
    ASSERT_NE(cur_fm()->cr_hd->tag_l, nullptr);
    EXPECT_STREQ(cur_fm()->cr_hd->tag_l->tag_2, "0002");
}

TEST(Write, ConsecutiveBitStringsArePackedAndReadBack) {
    Writer w;
    ASSERT_EQ(w.describe("BITS", "1600;&   ", "Bits", "A!B!C", "(B(3),B(5),b11)"), 1);
    ASSERT_EQ(w.put("0001", le16(1), 2), 1);
    ASSERT_EQ(w.put("BITS", "\xe0", 6), 1);  // 111
    ASSERT_EQ(w.put("BITS", "\x08", 1), 1);  // 00001
    ASSERT_EQ(w.put("BITS", "\x07", 3), 1);
    ASSERT_EQ(w.close(), 1);
    const std::string bytes = readFile(w.path);
    EXPECT_EQ(bytes.substr(bytes.size() - 3), "\xe1\x07\x1e");
    FileRead r = readAll(w.path);
    ASSERT_TRUE(r.toEnd);
    const auto& s = r.recs.at(0).fields.at(1).subs;
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0].value, "\xe0");
    EXPECT_EQ(s[1].value, "\x08");
    EXPECT_EQ(s[2].value, "7");
}

TEST(Write, BinaryValueOfTheWrongSizeIsRefused) {
    Writer w;
    ASSERT_EQ(w.describe("ATTF", "2600;&   ", "Attributes", "*ATTL!ATVL", "(b12,A)"), 1);
    EXPECT_EQ(w.put("0001", "\x01", 2), 0);
    EXPECT_EQ(w.put("0001", le16(1), 2), 1);
    EXPECT_EQ(w.put("ATTF", "abc", 6), 0);  // three bytes for b12
    EXPECT_EQ(w.put("ATTF", le16(1), 6), 1);
    EXPECT_EQ(w.put("ATTF", "has a \x1f inside", 3), 0);
}

TEST(Write, BackingUpRewritesTheLastRecordAndTheFileIsTruncatedInPlace) {
    Writer w;
    ASSERT_EQ(w.describe("ATTF", "2600;&   ", "Attributes", "*ATTL!ATVL", "(b12,A)"), 1);
    struct stat before;
    ASSERT_EQ(stat(w.path.c_str(), &before), 0);
    for (unsigned i = 1; i <= 2; ++i) {
        ASSERT_EQ(w.put("0001", le16(i), 2), 1);
        ASSERT_EQ(w.put("ATTF", le16(i), 6), 1);
        ASSERT_EQ(w.put("ATTF", std::string(40, char('a' + i)), 3), 1);
    }
    int st = 0;
    ASSERT_EQ(unread123rec(w.fp, &st), 1);  // drops the pending second record
    ASSERT_EQ(unread123rec(w.fp, &st), 1);  // steps back over the first one written
    ASSERT_EQ(w.put("0001", le16(9), 2), 1);
    ASSERT_EQ(w.put("ATTF", le16(9), 6), 1);
    ASSERT_EQ(w.put("ATTF", "z", 3), 1);
    ASSERT_EQ(w.close(), 1);
    struct stat after;
    ASSERT_EQ(stat(w.path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    FileRead r = readAll(w.path);
    ASSERT_TRUE(r.toEnd);
    ASSERT_EQ(r.recs.size(), 1u);
    EXPECT_EQ(r.recs[0].fields[0].subs[0].value, "9");
    EXPECT_EQ(r.recs[0].fields[1].subs[1].value, "z");
}

TEST(Write, WholeFieldsPutRawReadBack) {
    Writer w;
    ASSERT_EQ(w.describe("ATTF", "2600;&   ", "Attributes", "*ATTL!ATVL", "(b12,A)"), 1);
    const std::string attf = le16(30) + "x\x1f" + le16(31) + "y\x1f";
    ASSERT_EQ(put123fld(w.fp, "0001", 'D', "\x05\x00", 2, 2), 1);
    ASSERT_EQ(put123fld(w.fp, "ATTF", 'D', attf.data(), long(attf.size()), 6), 1);
    ASSERT_EQ(w.close(), 1);
    FileRead r = readAll(w.path);
    ASSERT_TRUE(r.toEnd);
    const auto& s = r.recs.at(0).fields.at(1).subs;
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(s[0].value, "30");
    EXPECT_EQ(s[3].value, "y");
    EXPECT_EQ(r.recs[0].fields[0].subs[0].value, "5");
}

}  // namespace
