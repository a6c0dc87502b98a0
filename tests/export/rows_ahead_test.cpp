// tests/export/rows_ahead_test.cpp: the feature rows read ahead for a cell's feature export
// (readFeatureRowsAhead): what it reads of a real cell, and that a failure leaves nothing to take.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "export/aotopology_support.h"
#include "export/cell_extent.h"
#include "export/expf.h"
#include "real_cells.h"
#include "s57/dbutil.h"
#include "support/test_data.h"

using namespace exporttest;

namespace {

class RowsAheadTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testdata::present()) GTEST_SKIP() << "test data folder " << testdata::root() << " is absent";
        const std::string dir = folder().file(::testing::UnitTest::GetInstance()->current_test_info()->name());
        gdb_ = dir + "/cell.gpkg";
        e2e::DriverRun run;
        cell_ = importCell(kCells[0], dir, gdb_, &run);
        ASSERT_TRUE(failures(run).empty()) << failures(run)[0];
        ASSERT_EQ(openWorkspace(gdb_.c_str(), &workspace_), S_OK);
    }
    void TearDown() override {
        featureRowsAhead = nullptr;
        aotopology::soundingsAhead = nullptr;
    }

    std::string gdb_, cell_;
    IWorkspacePtr workspace_;
};

TEST_F(RowsAheadTest, ReadsTheNamedRowsOfEveryClassInNameOrder) {
    FeatureRowsAhead ahead;
    featureRowsAhead = &ahead;
    readFeatureRowsAhead(workspace_, "S57", cell_.c_str());
    ASSERT_TRUE(ahead.complete);
    EXPECT_EQ(ahead.cellName, cell_);

    IFeatureClassContainerPtr container(IFeatureWorkspacePtr(workspace_)->OpenFeatureDataset("S57"));
    ASSERT_EQ(LONG(ahead.classes.size()), container->GetClassCount()) << "one entry a class, in the dataset's order";
    long read = 0, last = 0;
    LONG leftFrom = container->GetClassCount();  // the first class left to the export
    for (LONG i = 0; i < container->GetClassCount(); ++i) {
        IFeatureClassPtr featureClass = container->GetClass(i);
        const auto& [alias, rows] = ahead.classes[std::size_t(i)];
        if (alias.empty()) {
            leftFrom = std::min(leftFrom, i);
            continue;
        }
        EXPECT_LT(i, leftFrom) << "classes are read in order until the budget is spent";
        EXPECT_EQ(alias, std::string(static_cast<const char*>(featureClass->GetAliasName())));
        if (rows.empty()) continue;
        // A class with subtypes: its rows with a subtype, by subtype; without: its named rows.
        const std::string table(static_cast<const char*>(IDatasetPtr(featureClass)->GetName()));
        ISubtypesPtr subtypes(featureClass);
        const bool bySubtype = subtypes && subtypes->GetHasSubtype() == VARIANT_TRUE;
        const std::string field = bySubtype ? std::string(static_cast<const char*>(subtypes->GetSubtypeFieldName())) : "NAME";
        long inClass = 0;
        const LONG nameIndex = featureClass->FindField("NAME");
        for (const auto& [code, list] : rows) {
            inClass += long(list.size());
            if (!bySubtype) {
                EXPECT_EQ(code, 0);
            }
            for (std::size_t k = 1; k < list.size(); ++k)
                EXPECT_LE(std::string(_bstr_t(list[k - 1]->GetValue(nameIndex))),
                          std::string(_bstr_t(list[k]->GetValue(nameIndex))))
                    << table << " subtype " << code;
        }
        EXPECT_EQ(inClass, e2e::count(gdb_, table, field + " IS NOT NULL")) << table;
        read += inClass;
        last = inClass;
    }
    EXPECT_GT(read, 0);
    // What is held: below the budget before the last class read, past it only when classes were left.
    EXPECT_LT(std::size_t(read - last), FeatureRowsAhead::kRowsAtMost);
    if (leftFrom < container->GetClassCount()) {
        EXPECT_GE(std::size_t(read), FeatureRowsAhead::kRowsAtMost);
    }
}

TEST_F(RowsAheadTest, LeavesNothingToTakeWhereItCannotRead) {
    FeatureRowsAhead ahead;
    ahead.complete = true;
    ahead.cellName = "old";
    featureRowsAhead = &ahead;
    readFeatureRowsAhead(workspace_, "NoSuchDataset", cell_.c_str());
    EXPECT_FALSE(ahead.complete) << "a failure leaves it incomplete";
    EXPECT_TRUE(ahead.classes.empty());
    EXPECT_TRUE(ahead.cellName.empty());

    // Without a holder nothing is read, and nothing fails.
    featureRowsAhead = nullptr;
    readFeatureRowsAhead(workspace_, "S57", cell_.c_str());
}

// The soundings read ahead for the rebuild's isolated nodes: every sounding of the cell, by name.
TEST_F(RowsAheadTest, ReadsTheCellsSoundingsByName) {
    ASSERT_EQ(getExtent(workspace_, cell_.c_str()), 0);
    aotopology::SoundingsAhead ahead;
    ahead.className = "old";
    aotopology::soundingsAhead = &ahead;
    aotopology::readSoundingsAhead(workspace_);
    ASSERT_FALSE(ahead.className.empty());
    EXPECT_NE(ahead.className, "old");
    EXPECT_EQ(long(ahead.rows.size()), e2e::count(gdb_, ahead.className));
    EXPECT_GT(ahead.rows.size(), 0u);
    EXPECT_TRUE(std::is_sorted(ahead.rows.begin(), ahead.rows.end(),
                               [](const auto& a, const auto& b) { return a.first < b.first; }));

    // Without a workspace nothing is read, and what was there goes.
    aotopology::readSoundingsAhead(nullptr);
    EXPECT_TRUE(ahead.className.empty());
    EXPECT_TRUE(ahead.rows.empty());
}

}  // namespace
