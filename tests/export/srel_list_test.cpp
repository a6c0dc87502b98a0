// tests/export/srel_list_test.cpp: the relation list: appends in order, texts that do not fit, the
// two searches of the topology step with their in-place upper-casing, and the failures' log lines.
#include "export/srel_list.h"

#include <gtest/gtest.h>

#include <string>

#include "support/captured_log.h"

using testsupport::CapturedLog;

namespace {

// A list emptied when the test ends.
struct OwnedList {
    SrelList list{0, nullptr};
    ~OwnedList() { emptySrelList(&list); }
    void add(const char* src, const char* dest, const char* topi = "N") {
        ASSERT_EQ(AppendSrelRecord(&list, "", src, dest, "F", "E", topi, "N", "CELL.000"), 0);
    }
};

}  // namespace

TEST(SrelList, AppendsKeepTheirOrderAndEveryText) {
    OwnedList l;
    char name[20];
    for (int i = 0; i < 10; ++i) {
        std::snprintf(name, sizeof name, "VE%010d", i);
        ASSERT_EQ(AppendSrelRecord(&l.list, "0226000000450001", "FE0000000001", name, "R", "I", "B", "S", "US5MA12M.000"),
                  0);
        EXPECT_EQ(l.list.count, i + 1);
    }
    ASSERT_NE(l.list.records, nullptr);
    for (int i = 0; i < 10; ++i) {
        std::snprintf(name, sizeof name, "VE%010d", i);
        EXPECT_STREQ(l.list.records[i].DEST_NAME, name);
    }
    const SrelRecord& r = l.list.records[9];
    EXPECT_STREQ(r.SRC_LNAM, "0226000000450001");
    EXPECT_STREQ(r.SRC_NAME, "FE0000000001");
    EXPECT_STREQ(r.ORNT, "R");
    EXPECT_STREQ(r.USAG, "I");
    EXPECT_STREQ(r.TOPI, "B");
    EXPECT_STREQ(r.MASK, "S");
    EXPECT_STREQ(r.DSNM, "US5MA12M.000");

    emptySrelList(&l.list);
    EXPECT_EQ(l.list.count, 0);
    EXPECT_EQ(l.list.records, nullptr);
}

TEST(SrelList, NullTextsAreEmptyAndFullWidthTextsFit) {
    OwnedList l;
    const std::string lnam(29, 'L'), name(19, 'N'), dsnm(29, 'D');
    ASSERT_EQ(AppendSrelRecord(&l.list, lnam.c_str(), name.c_str(), name.c_str(), nullptr, nullptr, nullptr, nullptr,
                               dsnm.c_str()),
              0);
    EXPECT_EQ(std::string(l.list.records[0].SRC_LNAM), lnam);
    EXPECT_EQ(std::string(l.list.records[0].DSNM), dsnm);
    EXPECT_STREQ(l.list.records[0].ORNT, "");
}

struct Refusal {
    const char* name;
    int field;  // which text is one character too long
};
const Refusal kRefusals[] = {{"SrcLnam", 0}, {"SrcName", 1}, {"DestName", 2}, {"Ornt", 3},
                             {"Usag", 4},    {"Topi", 5},    {"Mask", 6},     {"Dsnm", 7}};
class SrelListRefuses : public ::testing::TestWithParam<Refusal> {};

// A name cut to its width would point at another primitive: the row is refused, the list unchanged.
TEST_P(SrelListRefuses, ATextLongerThanItsField) {
    OwnedList l;
    l.add("FE0000000001", "VE0000000001");
    const int widths[8] = {30, 20, 20, 2, 2, 2, 2, 30};
    std::string texts[8] = {"", "FE0000000002", "VE0000000002", "F", "E", "N", "N", "CELL.000"};
    texts[GetParam().field] = std::string(std::size_t(widths[GetParam().field]), 'X');
    CapturedLog log;
    EXPECT_EQ(AppendSrelRecord(&l.list, texts[0].c_str(), texts[1].c_str(), texts[2].c_str(), texts[3].c_str(),
                               texts[4].c_str(), texts[5].c_str(), texts[6].c_str(), texts[7].c_str()),
              -11);
    EXPECT_EQ(l.list.count, 1);
    EXPECT_STREQ(l.list.records[0].DEST_NAME, "VE0000000001");
    EXPECT_NE(log.text().find("AppendSrelRecord: "), std::string::npos);
}
INSTANTIATE_TEST_SUITE_P(Widths, SrelListRefuses, ::testing::ValuesIn(kRefusals),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(SrelList, NoListIsAnIllegalParameter) {
    CapturedLog log;
    EXPECT_EQ(AppendSrelRecord(nullptr, "", "A", "B", "F", "E", "N", "N", ""), -19);
    EXPECT_EQ(log.text(), "AppendSrelRecord: Illegal parameter\n");
}

TEST(SrelList, EmptyListFindsNothingAndAllowsEveryEdge) {
    SrelList empty{0, nullptr};
    char name[] = "FE1", first[] = "VC1", last[] = "VC2";
    EXPECT_FALSE(findSrelRecord(empty.count, empty.records, name));
    EXPECT_TRUE(checkEdgeNodes(empty.count, empty.records, name, first, last));
}

TEST(SrelList, FindIgnoresCaseAndLeavesBothTextsUpperCase) {
    OwnedList l;
    l.add("fe0000000007", "ve0000000001");
    char wanted[] = "Fe0000000007";
    EXPECT_TRUE(findSrelRecord(l.list.count, l.list.records, wanted));
    EXPECT_STREQ(wanted, "FE0000000007");
    EXPECT_STREQ(l.list.records[0].SRC_NAME, "FE0000000007");
    char other[] = "FE0000000008";
    EXPECT_FALSE(findSrelRecord(l.list.count, l.list.records, other));
}

struct EdgeCase {
    const char* name;
    const char* first;
    const char* last;
    bool allowed;
};
// The line feature FE1 so far holds edge VE1 from VC1 (B) to VC2 (E); another line FE2 holds VE2
// from VC3 to VC4, which must not count for FE1.
const EdgeCase kEdges[] = {
    {"StartsWhereTheFeatureStarts", "VC1", "VC5", false},
    {"EndsWhereTheFeatureEnds", "VC5", "VC2", false},
    {"ContinuesFromTheEnd", "VC2", "VC5", true},
    {"OtherFeaturesNodesDoNotCount", "VC3", "VC4", true},
    {"LowerCaseNodeNames", "vc1", "vc5", false},
};
class CheckEdgeNodes : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(CheckEdgeNodes, DecidesFromTheFeaturesEdgesSoFar) {
    OwnedList l;
    l.add("FE1", "VE1");
    l.add("VE1", "VC1", "B");
    l.add("VE1", "VC2", "E");
    l.add("FE2", "VE2");
    l.add("VE2", "VC3", "B");
    l.add("VE2", "VC4", "E");
    char name[] = "fe1";
    std::string first = GetParam().first, last = GetParam().last;
    EXPECT_EQ(checkEdgeNodes(l.list.count, l.list.records, name, first.data(), last.data()), GetParam().allowed);
}
INSTANTIATE_TEST_SUITE_P(Edges, CheckEdgeNodes, ::testing::ValuesIn(kEdges),
                         [](const auto& i) { return std::string(i.param.name); });
