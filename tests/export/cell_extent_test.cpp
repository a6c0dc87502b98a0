// tests/export/cell_extent_test.cpp: the extent of the cell being exported: the two filters built
// from the cell's coverage features (found through dsnm), the overlap test against other cells'
// coverage, and the failures (no dsnm row, no coverage feature) that the driver turns into
// message 139.
#include "export/cell_extent.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "core_fixture.h"
#include "import/impf.h"
#include "support/captured_log.h"

using coretest::rectangle;
using coretest::TemplateGdb;
using testsupport::CapturedLog;

namespace {

// Object ids of the coverage class's features that the filter selects (its where clause cleared).
std::set<long> selected(TemplateGdb& gdb, ISpatialFilter* filter) {
    IFeatureClassPtr cls = gdb.fws()->OpenFeatureClass("MetadataAreaFeature");
    filter->PutWhereClause("");
    std::set<long> out;
    IFeatureCursorPtr cursor = cls->Search(filter, VARIANT_FALSE);
    for (IFeaturePtr f = cursor->NextFeature(); f; f = cursor->NextFeature()) out.insert(f->GetOID());
    return out;
}

class CellExtent : public ::testing::Test {
protected:
    void TearDown() override {
        cellCoverage = nullptr;
        cellSpatialFilter = nullptr;
    }
    TemplateGdb gdb_;
    CapturedLog log_;
};

}  // namespace

TEST_F(CellExtent, DataCoverageAndWholeCoverageMakeTwoFilters) {
    const long data = gdb_.addCoverage("CELL1.000", 1, rectangle(0, 0, 1, 1));
    const long none = gdb_.addCoverage("CELL1.000", 2, rectangle(1, 0, 2, 1));
    ASSERT_EQ(getExtent(gdb_.ws(), "CELL1.000"), 0) << log_.text();
    ASSERT_TRUE(cellCoverage);
    ASSERT_TRUE(cellSpatialFilter);
    EXPECT_EQ(std::string(cellCoverage->GetGeometryField()), "SHAPE");
    EXPECT_EQ(cellCoverage->GetSpatialRel(), esriSpatialRelIntersects);
    EXPECT_EQ(cellSpatialFilter->GetSpatialRel(), esriSpatialRelIntersects);
    // The overlap test leaves its relation description on the filter.
    EXPECT_EQ(std::string(cellCoverage->GetSpatialRelDescription()), "T********");

    // A probe inside the CATCOV 2 area only: outside the data coverage, inside the whole coverage.
    IRelationalOperatorPtr whole(cellSpatialFilter->GetGeometry());
    IRelationalOperatorPtr dataArea(cellCoverage->GetGeometry());
    IGeometryPtr probe = rectangle(1.4, 0.4, 1.6, 0.6);
    EXPECT_TRUE(whole->Contains(probe));
    EXPECT_FALSE(dataArea->Contains(probe));
    EXPECT_EQ(selected(gdb_, cellSpatialFilter), (std::set<long>{data, none}));
}

// A neighbouring cell's feature that only touches the shared border is not this cell's.
TEST_F(CellExtent, AFeatureThatOnlyTouchesTheDataCoverageIsNotSelected) {
    gdb_.addCoverage("CELL1.000", 1, rectangle(0, 0, 1, 1));
    const long inside = gdb_.addCoverage("OTHER.000", 2, rectangle(0.5, 0.5, 2, 1));
    const long touching = gdb_.addCoverage("OTHER.000", 2, rectangle(1, 0, 2, 0.4));
    ASSERT_EQ(getExtent(gdb_.ws(), "CELL1.000"), 8) << log_.text();
    const std::set<long> ids = selected(gdb_, cellCoverage);
    EXPECT_EQ(ids.count(inside), 1u);
    EXPECT_EQ(ids.count(touching), 0u);
}

TEST_F(CellExtent, OnlyNoDataCoverageGivesAnEmptyDataFilter) {
    const long a = gdb_.addCoverage("CELL1.000", 2, rectangle(0, 0, 1, 1));
    const long b = gdb_.addCoverage("CELL1.000", 2, rectangle(3, 3, 4, 4));
    ASSERT_EQ(getExtent(gdb_.ws(), "CELL1.000"), 0) << log_.text();
    EXPECT_TRUE(cellCoverage->GetGeometry()->GetIsEmpty());
    EXPECT_EQ(selected(gdb_, cellSpatialFilter), (std::set<long>{a, b}));
}

struct Neighbour {
    const char* name;
    double xmin, ymin, xmax, ymax;
    int catcov;
    int32_t result;
};
// This cell's data coverage is the unit square.
const Neighbour kNeighbours[] = {
    {"Alone", 0, 0, 0, 0, 0, 0},
    {"DataOverlap", 0.5, 0.5, 1.5, 1.5, 1, 8},
    {"NoDataOverlap", 0.5, 0.5, 1.5, 1.5, 2, 8},
    {"SharesABorder", 1, 0, 2, 1, 1, 0},
    {"FarAway", 5, 5, 6, 6, 1, 0},
};
class CellExtentOverlap : public CellExtent, public ::testing::WithParamInterface<Neighbour> {};

TEST_P(CellExtentOverlap, AgainstAnotherCell) {
    const Neighbour& n = GetParam();
    gdb_.addCoverage("CELL1.000", 1, rectangle(0, 0, 1, 1));
    if (n.catcov) gdb_.addCoverage("CELL2.000", n.catcov, rectangle(n.xmin, n.ymin, n.xmax, n.ymax));
    EXPECT_EQ(getExtent(gdb_.ws(), "CELL1.000"), n.result) << log_.text();
}
INSTANTIATE_TEST_SUITE_P(Cells, CellExtentOverlap, ::testing::ValuesIn(kNeighbours),
                         [](const auto& i) { return std::string(i.param.name); });

// Long object id lists were once cut at 127 characters, dropping coverage features and cutting
// a number in two; a quote in the cell name broke the where clause.
TEST_F(CellExtent, EveryCoverageFeatureOfAQuotedNameCounts) {
    const std::string cell = "O'CELL.000";
    std::set<long> ids;
    for (int i = 0; i < 60; ++i) ids.insert(gdb_.addCoverage(cell, 1, rectangle(2.0 * i, 0, 2.0 * i + 1, 1)));
    gdb_.addCoverage("OTHER.000", 1, rectangle(-3, -3, -2, -2));
    ASSERT_EQ(getExtent(gdb_.ws(), cell.c_str()), 0) << log_.text();
    EXPECT_GT(cellCoverageIds(gdb_.fws(), cell.c_str()).size(), 127u);
    EXPECT_EQ(selected(gdb_, cellCoverage), ids);
    EXPECT_EQ(selected(gdb_, cellSpatialFilter), ids);
}

TEST_F(CellExtent, ACellWithoutDsnmRowsFails) {
    gdb_.addCoverage("CELL1.000", 1, rectangle(0, 0, 1, 1));
    EXPECT_EQ(getExtent(gdb_.ws(), "CELL9.000"), int32_t(E_FAIL));
    EXPECT_FALSE(cellCoverage);
    EXPECT_FALSE(cellSpatialFilter);
    EXPECT_NE(log_.text().find("getExtent: cell CELL9.000 has no rows in dsnm"), std::string::npos);
}

TEST_F(CellExtent, DsnmRowsWithoutCoverageFeaturesFail) {
    ASSERT_EQ(addCoverage(gdb_.ws(), "CELL1.000", 1, 4242), 0);
    EXPECT_EQ(getExtent(gdb_.ws(), "CELL1.000"), int32_t(E_FAIL));
    EXPECT_FALSE(cellSpatialFilter);
}

TEST_F(CellExtent, OverlapTestNeedsTheCoverage) {
    EXPECT_EQ(checkOverlappingExtent(gdb_.ws(), "1"), int32_t(E_FAIL));
    EXPECT_EQ(log_.text(), "checkOverlappingExtent: Illegal parameter\n");
}
