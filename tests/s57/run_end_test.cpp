// tests/s57/run_end_test.cpp: the end of a driver's run (runCellsAndEnd) for each way its cells can
// end: the error kept as the run's and logged as the driver's, the error box, the closing question,
// and COM uninitialised again on every way out, also when something that is no std::exception
// leaves the cells.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "platform/ui/ui.h"
#include "s57/s57_util2.h"

namespace fs = std::filesystem;

namespace {

// Whether COM is uninitialised: the first CoInitialize answers S_OK, any later one S_FALSE.
bool comUninitialised() {
    const HRESULT hr = CoInitialize(nullptr);
    CoUninitialize();
    return hr == S_OK;
}

struct CellsEnd {
    const char* name;
    std::function<void()> cells;
    HRESULT error;       // kept as the run's
    const char* reason;
    const char* logged;  // the log; empty: nothing
    HRESULT shown;       // the code of the error box; S_OK: none
};

const CellsEnd kEnds[] = {
    {"Clean", [] {}, S_OK, "", "", S_OK},
    {"ComError", [] { throw _com_error(E_ACCESSDENIED, L"the table is locked"); }, E_ACCESSDENIED,
     "the table is locked", "Error: mainmodule::run\nthe table is locked\n", E_ACCESSDENIED},
    {"ComErrorWithASuccessCode", [] { throw _com_error(S_FALSE, L"no failure"); }, E_FAIL, "no failure",
     "Error: mainmodule::run\nno failure\n", S_FALSE},
    {"OutOfMemory", [] { throw std::bad_alloc(); }, E_OUTOFMEMORY, "out of memory",
     "Error: mainmodule::run\nout of memory\n", E_OUTOFMEMORY},
    {"OtherException", [] { throw std::runtime_error("broken"); }, E_FAIL, "broken", "Error: mainmodule::run\nbroken\n",
     E_FAIL},
};

// A run's log open in a folder of the test's own; the scripted form answers.
class RunLog : public ::testing::Test {
protected:
    void SetUp() override {
        ui::setForm(ui::Form::Scripted);
        ui::scripted::reset();
        logPath = (fs::temp_directory_path() / ("run_end_" + std::to_string(::getpid()) + ".log")).string();
        logFile = std::fopen(logPath.c_str(), "w");
        ASSERT_NE(logFile, nullptr);
    }
    void TearDown() override {
        closeRunLog();
        fs::remove(logPath);
        ui::scripted::reset();
    }
    std::string log() const {
        std::ifstream in(logPath, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string logPath;
};

class RunEnd : public RunLog, public ::testing::WithParamInterface<CellsEnd> {};

TEST_P(RunEnd, KeepsLogsAndShowsTheErrorThenAsks) {
    const CellsEnd& c = GetParam();
    ASSERT_TRUE(comUninitialised());
    HRESULT error = S_OK;
    std::string reason;
    bool comDuringCells = false;
    const int32_t result = runCellsAndEnd({"mainmodule", "run", kCaptionGdbToS57, false}, logPath, error, reason,
                                          [&](IProgressDialog2Ptr&) {
                                              comDuringCells = !comUninitialised();
                                              c.cells();
                                          });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(comDuringCells);
    EXPECT_TRUE(comUninitialised());
    EXPECT_EQ(logFile, nullptr) << "the log is left open";
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(reason, c.reason);
    EXPECT_EQ(log(), c.logged);
    const auto& events = ui::scripted::events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().text, "Would you like to see the log file?");
    EXPECT_EQ(events.back().caption, "Geodatabase to S-57");
    if (c.shown == S_OK) {
        EXPECT_EQ(events.size(), 1u);
    } else {
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events.front().text, comErrorText(_com_error(c.shown)));
    }
}

INSTANTIATE_TEST_SUITE_P(Ways, RunEnd, ::testing::ValuesIn(kEnds),
                         [](const auto& i) { return std::string(i.param.name); });

// What no handler of the cells takes leaves the run, and COM is uninitialised all the same.
TEST_F(RunLog, WhatNoHandlerTakesLeavesWithComUninitialised) {
    ASSERT_TRUE(comUninitialised());
    HRESULT error = S_OK;
    std::string reason;
    EXPECT_THROW(runCellsAndEnd({"mainmodule", "run", kCaptionS57ToGdb, true}, logPath, error, reason,
                                [](IProgressDialog2Ptr&) { throw 7; }),
                 int);
    EXPECT_TRUE(comUninitialised());
}

}  // namespace
