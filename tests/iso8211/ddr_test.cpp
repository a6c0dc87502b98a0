// tests/iso8211/ddr_test.cpp: the data descriptive record: leader checks, descriptions as read and
// as text, format controls stepped item by item, labels and fixed dimensions, and malformed text.
#include <gtest/gtest.h>

#include <functional>

#include "iso8211/iso8211.h"
#include "support.h"

using namespace t8211;

namespace {

// A file open for writing whose current description is "0001", for the parsers to work on.
struct Scratch {
    std::string path = tempPath("scratch.000");
    std::FILE* fp = nullptr;
    Scratch() {
        long level = 3;
        char ice = 'E', ccs[4] = " ! ";
        open123file(path.c_str(), 'w', &level, &ice, ccs, &fp);
        find123file(fp);
        wr123ddsfld(fp, "0001", "0500;&   ", 2);
    }
    ~Scratch() {
        close123file(&fp);
        std::remove(path.c_str());
    }
};

std::string leafText(char t, char x, long w, char d) {
    std::string s(1, t);
    if (t == 'L' || t == 'M') return s + x + char('0' + w);
    if (!w && !d) return s;
    s += '(';
    if (d) s += d;
    if (w) s += std::to_string(w);
    return s + ')';
}

std::vector<std::string> leaves(int n) {
    fm* f = cur_fm();
    f->fmt_root_cur = f->dd_cur->fmt_rt;
    f->fmt_cur = nullptr;
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) {
        char t = 0, x = 0, d = 0;
        long w = 0;
        if (!get123fmt(&t, &x, &w, &d)) break;
        out.push_back(leafText(t, x, w, d));
    }
    return out;
}

struct FmtCase {
    const char* name;
    const char* text;
    std::vector<std::string> walk;  // the first leaves get123fmt returns
};

const FmtCase kFormats[] = {
    {"WidthsThenRepeatedBinary", "(A(4),I(10),2b24)", {"A(4)", "I(10)", "L24", "L24", "A(4)", "I(10)"}},
    {"AttributePairs", "(b12,A)", {"L12", "A", "L12", "A", "L12"}},
    {"RepeatedItem", "(3A)", {"A", "A", "A", "A"}},
    {"RepeatedGroup", "(2(A,I))", {"A", "I", "A", "I", "A"}},
    {"TrailingGroupRepeatsAlone", "(A,(2I,R))", {"A", "I", "I", "R", "I", "I", "R"}},
    {"DelimiterAndBitStrings", "(A(;),B(40),B,b11)", {"A(;)", "B(40)", "B", "L11", "A(;)"}},
    {"MostSignificantFirst", "(B14,I)", {"M14", "I", "M14"}},
};

class FormatWalk : public ::testing::TestWithParam<FmtCase> {};

TEST_P(FormatWalk, LeavesComeInOrderAndTheWalkRestarts) {
    Scratch s;
    ASSERT_EQ(parse123fmt(GetParam().text), 1);
    EXPECT_EQ(leaves(int(GetParam().walk.size())), GetParam().walk);
    // The reader's table of leaves follows the same walk, restart included.
    const ddfield* d = cur_fm()->dd_cur;
    ASSERT_GT(d->seq_len, 0);
    std::vector<std::string> table;
    for (int i = 0, at = -1; i < int(GetParam().walk.size()); ++i) {
        at = at + 1 < d->seq_len ? at + 1 : d->seq_again;
        const fnode* n = d->fmt_seq[at];
        table.push_back(leafText(n->d_type, n->b_type, n->width, n->delim));
    }
    EXPECT_EQ(table, GetParam().walk);
    // Written back as text, it parses to the same walk.
    std::string text;
    ASSERT_EQ(text123fmt(text), 1);
    ASSERT_EQ(parse123fmt(text.c_str()), 1) << text;
    EXPECT_EQ(leaves(int(GetParam().walk.size())), GetParam().walk) << text;
    std::string numbered;
    ASSERT_EQ(text123fmtnum(numbered), 1);
    EXPECT_EQ(numbered, text);
}

INSTANTIATE_TEST_SUITE_P(Formats, FormatWalk, ::testing::ValuesIn(kFormats),
                         [](const auto& i) { return std::string(i.param.name); });

class BadFormat : public ::testing::TestWithParam<const char*> {};

TEST_P(BadFormat, IsRefused) {
    Scratch s;
    EXPECT_EQ(parse123fmt(GetParam()), 0);
    EXPECT_EQ(cur_fm()->dd_cur->fmt_rt, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Formats, BadFormat,
                         ::testing::Values("()", "b1)", "(b1)", "(A", "A)", "(A,)", "((A)", "(0A)",
                                           "(A(3)", "(2)", "", "(A)(I)", "(b1x)", "(,A)", "(A(0))",
                                           "((((((((((((((((((((((((((((((((((A))))))))))))))))))))))))))))))))))"),
                         [](const auto& i) { return "Case" + std::to_string(i.index); });

TEST(Labels, SetsAndEmptyLabelsAreKept) {
    Scratch s;
    ASSERT_EQ(parse123labels("*YCOO!XCOO"), 1);
    const lnode* l = cur_fm()->dd_cur->labels;
    ASSERT_NE(l, nullptr);
    EXPECT_STREQ(l->label, "");
    EXPECT_EQ(l->nxt_lab, nullptr);
    ASSERT_NE(l->nxt_lset, nullptr);
    EXPECT_STREQ(l->nxt_lset->label, "YCOO");
    EXPECT_STREQ(l->nxt_lset->nxt_lab->label, "XCOO");
    std::string t;
    text123labels(t);
    EXPECT_EQ(t, "*YCOO!XCOO");
}

TEST(Dimensions, CountThenLengths) {
    Scratch s;
    EXPECT_EQ(parse123dims("2,3,4"), 1);
    std::string t;
    text123dims(t);
    EXPECT_EQ(t, "2,3,4");
    EXPECT_EQ(parse123dims("1,5"), 0);    // fewer than two dimensions
    EXPECT_EQ(parse123dims("3,1,2"), 0);  // lengths missing
    EXPECT_EQ(parse123dims("2,a,4"), 0);
}

const Fld kDsid{"DSID", desc("1600;&   ", "Data set identification", "RCNM!RCID", "(b11,b14)")};
const Fld kAttf{"ATTF", desc("2600;&   ", "Attributes", "*ATTL!ATVL", "(b12,A)")};

std::string goodDdr() { return ddr({kDsid, kAttf}); }

TEST(DdrRead, DescriptionsAndTextForms) {
    TempFile f(goodDdr());
    Reader rd(f.path);
    ASSERT_TRUE(rd.ddrOk);
    fm* m = cur_fm();
    EXPECT_EQ(m->sf_state_dd, 5);
    EXPECT_EQ(m->dd_cur, m->dd_hd);
    std::string lead, dir;
    ASSERT_EQ(text123ddlead(lead), 1);
    EXPECT_EQ(lead, goodDdr().substr(0, 24));
    ASSERT_EQ(text123ddir(dir), 1);
    EXPECT_EQ(dir, goodDdr().substr(24, std::size_t(m->dl_hd->da_base) - 24));
    ASSERT_EQ(find123ddfld("ATTF"), 1);
    std::string text;
    ASSERT_EQ(text123ddfld(text), 1);
    EXPECT_EQ(text, kAttf.body);
    // Item by item: controls, name, labels, format.
    m->dd_cur = m->dd_hd->next->next;  // 0001 done: stand on its successor's predecessor
    m->sf_state_dd = 5;
    std::vector<std::string> items;
    for (int i = 0; i < 4 && text123ddsfld(text); ++i) items.push_back(text);
    EXPECT_EQ(items, (std::vector<std::string>{"1600;&   ", "Data set identification", "RCNM!RCID",
                                              "(b11,b14)"}));
    EXPECT_EQ(find123ddfld("NONE"), 0);
}

struct LeaderCase {
    const char* name;
    std::function<std::string(std::string)> damage;
    const char* message;
};

const LeaderCase kLeaders[] = {
    {"LeaderIdentifier", [](std::string d) { return d.replace(6, 1, "D"); },
     "read123ddr: leader identifier is not L\n"},
    {"Level4", [](std::string d) { return d.replace(5, 1, "4"); },
     "read123ddr: interchange level is not 1, 2 or 3\n"},
    {"TagSize8", [](std::string d) { return d.replace(23, 1, "8"); },
     "read123ddr: entry map sizes out of range\n"},
    {"ControlLength7", [](std::string d) { return d.replace(10, 2, "07"); },
     "read123ddr: field control length does not suit the interchange level\n"},
    {"Level1WithControls", [](std::string d) { return d.replace(5, 1, "1"); },
     "read123ddr: field control length does not suit the interchange level\n"},
    {"BaseAddressBelow25", [](std::string d) { return d.replace(12, 5, "00010"); },
     "read123ddr: directory size does not fit its entries\n"},
    {"RaggedDirectory", [](std::string d) { return d.replace(12, 5, num(std::stoul(d.substr(12, 5)) + 1, 5)); },
     "read123ddr: directory size does not fit its entries\n"},
    {"EndsInTheDirectory", [](std::string d) { return d.substr(0, 40); },
     "read123ddr: file ends inside the directory\n"},
    {"EndsInTheFields", [](std::string d) { return d.substr(0, d.size() - 5); },
     "read123ddr: file ends inside the field area\n"},
    {"EmptyFormatGroup", [](std::string d) { return d.replace(d.find("(b11,b14)"), 9, "(b11,()) "); },
     "read123ddr: bad format controls of field DSID: (b11,()) \n"},
    {"UnbalancedFormat", [](std::string d) { return d.replace(d.find("(b11,b14)"), 9, "b11,b14))"); },
     "read123ddr: bad format controls of field DSID: b11,b14))\n"},
    {"TooShort", [](std::string d) { return d.substr(0, 21); },
     "read123ddr: file too short for a leader\n"},
};

class DamagedDdr : public ::testing::TestWithParam<LeaderCase> {};

TEST_P(DamagedDdr, IsRefusedWithItsMessage) {
    TempFile f(GetParam().damage(goodDdr()));
    ::testing::internal::CaptureStderr();
    Reader rd(f.path);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), rd.opened ? GetParam().message : "");
    EXPECT_FALSE(rd.ddrOk);
}

INSTANTIATE_TEST_SUITE_P(Leaders, DamagedDdr, ::testing::ValuesIn(kLeaders),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(Open, LevelFourAndUnknownModesFail) {
    TempFile f(goodDdr().replace(5, 1, "4"));
    std::FILE* fp = nullptr;
    long level = 0;
    char ice = 0, ccs[4] = {};
    EXPECT_EQ(open123file(f.path.c_str(), 'r', &level, &ice, ccs, &fp), 0);
    EXPECT_EQ(open123file(f.path.c_str(), 'x', &level, &ice, ccs, &fp), 0);
    EXPECT_EQ(cur_fm(), nullptr);
}

TEST(Open, EveryOperationSelectsItsOwnFile) {
    TempFile a(goodDdr() + record(false, {{"0001", le16(1) + "\x1e"}, {"ATTF", le16(7) + "a\x1f\x1e"}}));
    TempFile b(goodDdr() + record(false, {{"0001", le16(2) + "\x1e"}, {"ATTF", le16(8) + "b\x1f\x1e"}}));
    Reader ra(a.path), rb(b.path);
    ASSERT_TRUE(ra.ddrOk && rb.ddrOk);
    std::string tag, va, vb;
    char lid;
    long len;
    int st;
    std::vector<std::string> fromA, fromB;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(next123sfld(ra.fp, tag, &lid, va, &len, &st), 1);
        ASSERT_EQ(next123sfld(rb.fp, tag, &lid, vb, &len, &st), 1);
        fromA.push_back(va);
        fromB.push_back(vb);
    }
    EXPECT_EQ(fromA, (std::vector<std::string>{"1", "7", "a"}));
    EXPECT_EQ(fromB, (std::vector<std::string>{"2", "8", "b"}));
}

TEST(Open, ClosingTheLastFileFreesTheList) {
    TempFile a(goodDdr());
    {
        Reader r(a.path);
        ASSERT_TRUE(r.ddrOk);
        EXPECT_NE(cur_fm(), nullptr);
    }
    EXPECT_EQ(cur_fm(), nullptr);
    std::FILE* fp = nullptr;
    long level;
    char ice, ccs[4];
    ASSERT_EQ(open123file(a.path.c_str(), 'r', &level, &ice, ccs, &fp), 1);
    EXPECT_EQ(level, 3);
    EXPECT_EQ(ice, 'E');
    EXPECT_EQ(std::string(ccs, 3), " ! ");
    EXPECT_EQ(cur_fm()->fp, nullptr);  // the list head is current until the file is selected
    EXPECT_EQ(close123file(&fp), 1);
    EXPECT_EQ(fp, nullptr);
    EXPECT_EQ(close123file(&fp), 0);
}

}  // namespace
