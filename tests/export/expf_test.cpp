// tests/export/expf_test.cpp: the parts of the feature export that decide what a record holds
// without a geodatabase: the order of a feature's edge pointers (FSPT) built from the relation
// list, and the text of a double attribute value.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "export/expf.h"
#include "export/srel_list.h"
#include "s57/s57_file.h"

namespace {

struct Row {
    const char *src, *dest, *ornt, *usag, *topi, *mask;
};

std::vector<SrelRecord> relations(const std::vector<Row>& rows) {
    std::vector<SrelRecord> out;
    for (const Row& r : rows) {
        SrelRecord s{};
        std::strcpy(s.SRC_NAME, r.src);
        std::strcpy(s.DEST_NAME, r.dest);
        std::strcpy(s.ORNT, r.ornt);
        std::strcpy(s.USAG, r.usag);
        std::strcpy(s.TOPI, r.topi);
        std::strcpy(s.MASK, r.mask);
        out.push_back(s);
    }
    return out;
}

// The field's pointers as "NAME/ORNT/USAG/MASK" texts.
std::vector<std::string> pointers(const Iso8211Field& f) {
    std::vector<std::string> out;
    for (int i = 0; i + 3 < f.subfieldCount; i += 4)
        out.push_back(std::string(f.subFields[i].value) + "/" + f.subFields[i + 1].value + "/" +
                      f.subFields[i + 2].value + "/" + f.subFields[i + 3].value);
    return out;
}

void freeField(Iso8211Field& f) {
    for (int i = 0; i < f.subfieldCount; ++i) std::free(f.subFields[i].value);
    std::free(f.subFields);
}

// Node rows of three edges forming the ring n1 -> n2 -> n3 -> n1 (each edge from "B" to "E").
const std::vector<Row> kRingNodes = {
    {"VE01", "VC01", "N", "N", "B", "N"}, {"VE01", "VC02", "N", "N", "E", "N"},
    {"VE02", "VC02", "N", "N", "B", "N"}, {"VE02", "VC03", "N", "N", "E", "N"},
    {"VE03", "VC03", "N", "N", "B", "N"}, {"VE03", "VC01", "N", "N", "E", "N"},
};

struct ChainCase {
    const char* name;
    std::vector<Row> feature;  // the feature's rows, in list order (node rows follow)
    std::vector<std::string> expected;
};

const ChainCase kChains[] = {
    {"RingOutOfOrderIsChained",
     {{"FE1", "VE01", "F", "E", "N", "N"}, {"FE1", "VE03", "F", "E", "N", "N"}, {"FE1", "VE02", "F", "E", "N", "N"}},
     {"VE01/F/E/N", "VE02/F/E/N", "VE03/F/E/N"}},
    {"ExteriorEdgeComesFirst",
     {{"FE1", "VE02", "F", "I", "N", "S"}, {"FE1", "VE03", "F", "E", "N", "N"}, {"FE1", "VE01", "F", "E", "N", "N"}},
     {"VE03/F/E/N", "VE01/F/E/N", "VE02/F/I/S"}},
    {"LineStartsAtItsFreeEnd",
     {{"FE1", "VE02", "F", "N", "N", "N"}, {"FE1", "VE01", "F", "N", "N", "N"}},
     {"VE01/F/N/N", "VE02/F/N/N"}},
    {"ReversedEdgeEndsAtItsBeginNode",
     {{"FE1", "VE02", "R", "E", "N", "N"}, {"FE1", "VE01", "R", "E", "N", "N"}, {"FE1", "VE03", "R", "E", "N", "N"}},
     {"VE02/R/E/N", "VE01/R/E/N", "VE03/R/E/N"}},
    {"ClosedLineStartsAtItsFirstEdge",
     {{"FE1", "VE02", "F", "N", "N", "N"}, {"FE1", "VE03", "F", "N", "N", "N"}, {"FE1", "VE01", "F", "N", "N", "N"}},
     {"VE02/F/N/N", "VE03/F/N/N", "VE01/F/N/N"}},
    {"NameComparedWithoutCase", {{"fe1", "VE01", "F", "E", "N", "N"}}, {"VE01/F/E/N"}},
};

class ChainOrder : public ::testing::TestWithParam<ChainCase> {};

TEST_P(ChainOrder, WritesEdgesAsTheyFollowEachOther) {
    std::vector<Row> rows = GetParam().feature;
    rows.insert(rows.end(), kRingNodes.begin(), kRingNodes.end());
    std::vector<SrelRecord> list = relations(rows);
    char name[] = "Fe1";
    Iso8211Field field{};
    ASSERT_EQ(exportFSPT(name, &field, int32_t(list.size()), list.data()), 0);
    EXPECT_STREQ(field.tag, "FSPT");
    EXPECT_EQ(pointers(field), GetParam().expected);
    freeField(field);
}

INSTANTIATE_TEST_SUITE_P(Fspt, ChainOrder, ::testing::ValuesIn(kChains),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(PointFspt, EveryRowOfTheFeatureWithMaskXWrittenAsN) {
    std::vector<SrelRecord> list = relations({{"FE7", "VI01", "N", "N", "N", "X"},
                                              {"FE8", "VI02", "N", "N", "N", "N"},
                                              {"fe7", "VI03", "N", "N", "N", "S"}});
    char name[] = "FE7";
    Iso8211Field field{};
    ASSERT_EQ(exportFSPTforPoint(name, &field, int32_t(list.size()), list.data()), 0);
    EXPECT_EQ(pointers(field), (std::vector<std::string>{"VI01/N/N/N", "VI03/N/N/S"}));
    freeField(field);
}

TEST(PointFspt, FeatureWithoutRowsGetsNoSubfields) {
    char name[] = "FE9";
    Iso8211Field field{};
    ASSERT_EQ(exportFSPTforPoint(name, &field, 0, nullptr), 0);
    EXPECT_EQ(field.subfieldCount, 0);
}

struct DoubleCase {
    const char* name;
    double value;
    const char* text;
};

const DoubleCase kDoubles[] = {
    {"TrailingZerosCut", 12.5, "12.5"},
    {"WholeNumberKeepsItsPoint", 3.0, "3."},
    {"SeventhDecimalKept", 0.1234567, "0.1234567"},
    {"Negative", -4.25, "-4.25"},
    {"NoValueMarker", 55538.0, ""},
    {"SchemaDefault", -9999.0, ""},
};

class DoubleText : public ::testing::TestWithParam<DoubleCase> {};

TEST_P(DoubleText, ReadsBackAsTheSameNumber) { EXPECT_EQ(doubleValueText(GetParam().value), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(Attributes, DoubleText, ::testing::ValuesIn(kDoubles),
                         [](const auto& i) { return std::string(i.param.name); });

}  // namespace
