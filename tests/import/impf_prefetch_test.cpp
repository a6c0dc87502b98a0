// tests/import/impf_prefetch_test.cpp: the geometries built ahead of the writing thread: every
// record's build comes back in the order asked for, with the lines it logged kept for the writer
// (none reach the log early), what the builder threw is carried over, records passed over are let
// go, and the writer still reads every record of the handle itself.

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "import/impf_prefetch.h"
#include "s57/llist.h"
#include "s57/record_list.h"
#include "s57/s57_file.h"
#include "s57/s57_util2.h"
#include "tests/support/test_data.h"

namespace {

std::string rcid(const Iso8211Record& record) {
    const int frid = Find8211Field(&record, "FRID", 0);
    if (frid < 0) return {};
    const int s = Find8211SubField(&record, "RCID", frid, 0);
    return s < 0 ? std::string() : std::string(record.fields[frid].subFields[s].value);
}

// A real cell's record list, its area records, and a log file to see what reaches it.
class Prefetch : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testdata::present()) GTEST_SKIP() << "test data not present: " << testdata::root();
        ASSERT_EQ(loadObjectRecList(&file_, testdata::path("enc/US5MA12M/US5MA12M.000").c_str(), &records_), 0);
        log_ = std::tmpfile();
        ASSERT_NE(log_, nullptr);
        logFile = log_;
        for (const llist_node* n = records_->head; n; n = n->next) {
            const auto* rec = static_cast<const ObjectRec*>(n->data);
            if (std::strncmp(rec->name, "FE", 2) == 0 && std::strncmp(rec->prim, "FA", 2) == 0) areas_.push_back(rec);
            if (std::strncmp(rec->name, "FE", 2) == 0 && std::strncmp(rec->prim, "FP", 2) == 0 && !point_) point_ = rec;
        }
        ASSERT_GE(areas_.size(), 20u);
        ASSERT_NE(point_, nullptr);
    }
    void TearDown() override {
        if (records_) llist_destroy(records_);
        releaseObjectRecords();
        if (file_.fp) (void)Close8211File(&file_);
        if (logFile == log_) logFile = nullptr;
        if (log_) std::fclose(log_);
    }
    std::string logText() {
        std::fflush(log_);
        std::rewind(log_);
        std::string out;
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, log_)) > 0;) out.append(buf, n);
        return out;
    }
    // A builder that logs the record it builds and answers its RCID as a number.
    static GeometryPrefetch::Build loggingBuild() {
        return [](const ObjectRec* rec, const Iso8211Record* record, IGeometryPtr&) {
            logLine("built %s\n", rec->name);
            return std::atoi(rcid(*record).c_str());
        };
    }

    FILE* log_ = nullptr;
    Iso8211File file_{};
    llist* records_ = nullptr;
    std::vector<const ObjectRec*> areas_;
    const ObjectRec* point_ = nullptr;
};

struct BudgetCase {
    const char* name;
    std::size_t points;
};

class PrefetchBudget : public Prefetch, public ::testing::WithParamInterface<BudgetCase> {};

TEST_P(PrefetchBudget, GivesEveryRecordInOrderWithItsLinesKeptForTheWriter) {
    GeometryPrefetch prefetch(&file_, areas_, loggingBuild(), 1, GetParam().points);
    std::string replayed;
    for (const ObjectRec* rec : areas_) {
        auto prepared = prefetch.take(rec);
        ASSERT_NE(prepared, nullptr) << rec->name;
        RecordHolder image;
        ASSERT_EQ(readObjectRecord(&file_, rec->recno, &image.record), 0);
        EXPECT_EQ(prepared->result, std::atoi(rcid(image.record).c_str()));
        EXPECT_EQ(prepared->log, "built " + std::string(rec->name) + "\n");
        EXPECT_FALSE(prepared->error);
        // Nothing the worker logged reached the log by itself.
        EXPECT_EQ(logText(), replayed);
        logCaptured(prepared->log);
        replayed += prepared->log;
    }
    EXPECT_EQ(logText(), replayed);
}

INSTANTIATE_TEST_SUITE_P(Budgets, PrefetchBudget,
                         ::testing::Values(BudgetCase{"none", 0}, BudgetCase{"small", 64},
                                           BudgetCase{"whole", std::size_t(1) << 30}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Prefetch, RecordsPassedOverAreLetGoAndNotGivenLater) {
    GeometryPrefetch prefetch(&file_, areas_, loggingBuild(), 1, 1000);
    ASSERT_NE(prefetch.take(areas_[0]), nullptr);
    auto later = prefetch.take(areas_[10]);
    ASSERT_NE(later, nullptr);
    EXPECT_EQ(later->log, "built " + std::string(areas_[10]->name) + "\n");
    EXPECT_EQ(prefetch.take(areas_[5]), nullptr);   // passed over: the writer reads it itself
    EXPECT_EQ(prefetch.take(point_), nullptr);      // not one of them
    ASSERT_NE(prefetch.take(areas_[11]), nullptr);  // the ones after go on
    // The writer still reads a record passed over.
    RecordHolder image;
    EXPECT_EQ(readObjectRecord(&file_, areas_[5]->recno, &image.record), 0);
}

TEST_F(Prefetch, WhatTheBuilderThrewIsCarriedToTheWriter) {
    const ObjectRec* bad = areas_[3];
    GeometryPrefetch prefetch(
        &file_, areas_,
        [bad](const ObjectRec* rec, const Iso8211Record*, IGeometryPtr&) -> int {
            logLine("before %s\n", rec->name);
            if (rec == bad) throw _com_error(E_OUTOFMEMORY);
            return 0;
        },
        1, 1 << 20);
    for (std::size_t i = 0; i < 6; ++i) {
        auto prepared = prefetch.take(areas_[i]);
        ASSERT_NE(prepared, nullptr);
        EXPECT_EQ(prepared->log, "before " + std::string(areas_[i]->name) + "\n");
        EXPECT_EQ(bool(prepared->error), areas_[i] == bad);
        if (prepared->error) {
            EXPECT_THROW(std::rethrow_exception(prepared->error), _com_error);
        }
    }
}

TEST_F(Prefetch, WriterStillReadsOtherRecordsOfTheHandleWhileItWorks) {
    // The writer reads its point records while the areas are taken on the worker.
    std::atomic<int> built{0};
    GeometryPrefetch prefetch(
        &file_, areas_,
        [&](const ObjectRec*, const Iso8211Record*, IGeometryPtr&) {
            ++built;
            return 0;
        },
        1, 1 << 20);
    for (int i = 0; i < 50; ++i) {
        RecordHolder image;
        ASSERT_EQ(readObjectRecord(&file_, point_->recno, &image.record), 0);
        EXPECT_FALSE(rcid(image.record).empty());
    }
    for (const ObjectRec* rec : areas_) {
        ASSERT_NE(prefetch.take(rec), nullptr);
        RecordHolder image;
        ASSERT_EQ(readObjectRecord(&file_, rec->recno, &image.record), 0);
        EXPECT_FALSE(rcid(image.record).empty());
    }
    EXPECT_EQ(built.load(), int(areas_.size()));
}

TEST(LogCapture, KeepsTheLinesOfItsOwnThreadOnly) {
    FILE* log = std::tmpfile();
    ASSERT_NE(log, nullptr);
    FILE* before = logFile;
    logFile = log;
    std::string kept, inner;
    {
        const LogCapture capture(kept);
        logLine("one %d\n", 1);
        {
            const LogCapture nested(inner);
            logLine("nested\n");
        }
        std::thread([] { logLine("other thread\n"); }).join();
        logLine("%s\n", std::string(2000, 'x').c_str());  // longer than the line buffer
    }
    logLine("after\n");
    std::fflush(log);
    std::rewind(log);
    char buf[256] = {};
    const std::size_t n = std::fread(buf, 1, sizeof buf - 1, log);
    EXPECT_EQ(std::string(buf, n), "other thread\nafter\n");
    EXPECT_EQ(kept, "one 1\n" + std::string(2000, 'x') + "\n");
    EXPECT_EQ(inner, "nested\n");
    logFile = before;
    std::fclose(log);
}

}  // namespace
