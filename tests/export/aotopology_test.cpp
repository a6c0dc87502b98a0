// tests/export/aotopology_test.cpp: the topology step without the create-topology flag reads the
// cell's relation rows (and no other cell's) into topoSrelList; with the flag it fails clearly
// while the rebuild is not there.
#include "export/aotopology.h"

#include <gtest/gtest.h>

#include <string>

#include "core_fixture.h"
#include "export/srel_list.h"
#include "s57/dbutil.h"
#include "support/captured_log.h"

using coretest::TemplateGdb;
using testsupport::CapturedLog;

namespace {

class ReadSrel : public ::testing::Test {
protected:
    void SetUp() override { emptySrelList(&topoSrelList); }
    void TearDown() override { emptySrelList(&topoSrelList); }
    void addSrelTable() {
        ASSERT_TRUE(SUCCEEDED(createGDBTable(gdb_.fws(), "srel", &srel_, fieldDefCount(srelFieldDefs), srelFieldDefs)));
    }
    void add(const char* cell, const char* src, const char* dest, const char* topi, const char* lnam = nullptr) {
        std::map<std::string, _variant_t> v = {{"SRC_NAME", _variant_t(src)}, {"DEST_NAME", _variant_t(dest)},
                                               {"ORNT", _variant_t("N")},     {"USAG", _variant_t("N")},
                                               {"TOPI", _variant_t(topi)},    {"MASK", _variant_t("N")},
                                               {"DSNM", _variant_t(cell)}};
        if (lnam) v["SRC_LNAM"] = _variant_t(lnam);
        coretest::insertRow(srel_, v);
    }
    TemplateGdb gdb_;
    ITablePtr srel_;
    CapturedLog log_;
};

}  // namespace

TEST_F(ReadSrel, TheCellsRowsInTableOrder) {
    addSrelTable();
    add("O'CELL.000", "VE0000000001", "VC0000000001", "B");
    add("OTHER.000", "VE0000000001", "VC0000000099", "B");
    add("O'CELL.000", "VE0000000001", "VC0000000002", "E");
    add("O'CELL.000", "FE0000000004", "VE0000000001", "N", "US0000012345");
    double tolerance = -1;
    ASSERT_EQ(validateTopology(gdb_.ws(), "S57", "US", "O'CELL.000", &tolerance, 0), S_OK) << log_.text();
    EXPECT_EQ(tolerance, 0) << "stored primitives keep every vertex";
    ASSERT_EQ(topoSrelList.count, 3);
    EXPECT_STREQ(topoSrelList.records[0].DEST_NAME, "VC0000000001");
    EXPECT_STREQ(topoSrelList.records[1].DEST_NAME, "VC0000000002");
    EXPECT_STREQ(topoSrelList.records[1].TOPI, "E");
    EXPECT_STREQ(topoSrelList.records[2].SRC_LNAM, "US0000012345");
    EXPECT_STREQ(topoSrelList.records[0].SRC_LNAM, "") << "a null LNAM is the empty text";
    EXPECT_STREQ(topoSrelList.records[2].DSNM, "O'CELL.000");
}

TEST_F(ReadSrel, NoSrelTableFails) {
    double tolerance = 0;
    EXPECT_EQ(validateTopology(gdb_.ws(), "S57", "US", "CELL.000", &tolerance, 0), E_FAIL);
    EXPECT_EQ(topoSrelList.count, 0);
}

TEST_F(ReadSrel, CreatingPrimitivesWithoutTheCellsExtentFailsWithALogLine) {
    addSrelTable();
    add("CELL.000", "VE0000000001", "VC0000000001", "B");
    double tolerance = 0;
    EXPECT_EQ(validateTopology(gdb_.ws(), "S57", "US", "CELL.000", &tolerance, 1), E_FAIL);
    EXPECT_EQ(topoSrelList.count, 0);
    EXPECT_EQ(log_.text(), "validateTopology: the extent of cell CELL.000 is not built\n");
}
