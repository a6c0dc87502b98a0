// tests/export/soundings_ahead_test.cpp: what the topology rebuild reads ahead while its graph is built
// aside: the cell's soundings, by name.
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

class SoundingsAheadTest : public ::testing::Test {
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
        aotopology::soundingsAhead = nullptr;
    }

    std::string gdb_, cell_;
    IWorkspacePtr workspace_;
};

// The soundings read ahead for the rebuild's isolated nodes: every sounding of the cell, by name.
TEST_F(SoundingsAheadTest, ReadsTheCellsSoundingsByName) {
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
