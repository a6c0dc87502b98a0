// tests/platform/ui/progress_test.cpp: the progress dialog, step progressor and cancel tracker as
// the drivers use them, read back through the scripted form; the terminal bar's rendering.

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/ui/progress.h"
#include "platform/ui/ui.h"

namespace {

class Progress : public ::testing::Test {
protected:
    void SetUp() override {
        ui::setForm(ui::Form::Scripted);
        ui::scripted::reset();
    }
    void TearDown() override { ui::scripted::reset(); }
};

// The dialog as a driver builds it: tracker and factory by class, progressor from the factory.
struct DialogRun {
    ICancelTrackerPtr tracker;
    IStepProgressorPtr progressor;
    IProgressDialog2Ptr dialog;
};

DialogRun startRun() {
    DialogRun r;
    EXPECT_EQ(r.tracker.CreateInstance(kCLSID_CancelTracker), S_OK);
    IProgressDialogFactoryPtr factory;
    EXPECT_EQ(factory.CreateInstance(kCLSID_ProgressDialogFactory), S_OK);
    if (!r.tracker || !factory) return r;
    IStepProgressorPtr made = factory->Create(r.tracker, 0);
    r.progressor = made;
    r.dialog = r.progressor;  // QueryInterface
    return r;
}

TEST_F(Progress, DriverSequenceIsRecordedInOrder) {
    DialogRun r = startRun();
    ASSERT_TRUE(r.progressor);
    ASSERT_TRUE(r.dialog) << "the progressor is also its dialog";
    r.progressor->PutMinRange(0);
    r.progressor->PutMaxRange(100);
    r.dialog->PutTitle("Importing CATALOG.031...");
    r.dialog->ShowDialog();
    r.progressor->PutMessage("Opening workspace...");
    r.progressor->PutPosition(2);
    r.progressor->Show();
    r.progressor->PutMessage(L"Loading objects...");
    r.dialog->HideDialog();

    EXPECT_EQ(ui::scripted::transcript(),
              "progress range 0..100\n"
              "progress range 0..100\n"
              "progress title Importing CATALOG.031...\n"
              "progress show\n"
              "progress message Opening workspace...\n"
              "progress position 2\n"
              "progress show\n"
              "progress message Loading objects...\n"
              "progress hide\n");
    EXPECT_EQ(std::string(r.dialog->GetTitle()), "Importing CATALOG.031...");
    EXPECT_EQ(std::string(r.progressor->GetMessage()), "Loading objects...");
    EXPECT_EQ(r.progressor->GetPosition(), 2);
}

TEST_F(Progress, StepAddsStepValueAndStopsAtTheTop) {
    DialogRun r = startRun();
    ASSERT_TRUE(r.progressor);
    EXPECT_EQ(r.progressor->GetMinRange(), 0);
    EXPECT_EQ(r.progressor->GetMaxRange(), 100);
    EXPECT_EQ(r.progressor->GetStepValue(), 1);
    r.progressor->PutMaxRange(10);
    r.progressor->PutStepValue(4);
    r.progressor->Step();
    r.progressor->Step();
    EXPECT_EQ(r.progressor->GetPosition(), 8);
    r.progressor->Step();
    EXPECT_EQ(r.progressor->GetPosition(), 10);
    // A step value near the integer limit must not wrap.
    r.progressor->PutMaxRange(0x7fffffff);
    r.progressor->PutStepValue(0x7fffffff);
    r.progressor->Step();
    EXPECT_EQ(r.progressor->GetPosition(), 0x7fffffff);
}

TEST_F(Progress, CancelTrackerFollowsTheScriptedUser) {
    DialogRun r = startRun();
    ASSERT_TRUE(r.tracker);
    ui::scripted::cancelAtContinue(2);
    // The user's click does not count while clicks are off.
    EXPECT_EQ(r.tracker->Continue(), VARIANT_TRUE);
    EXPECT_EQ(r.tracker->Continue(), VARIANT_TRUE);
    r.tracker->PutCancelOnClick(VARIANT_TRUE);
    r.tracker->PutCancelOnKeyPress(VARIANT_TRUE);
    EXPECT_EQ(r.tracker->Continue(), VARIANT_FALSE);
    EXPECT_EQ(r.tracker->Continue(), VARIANT_FALSE) << "a cancel stays until Reset";
    r.tracker->Reset();
    ui::scripted::cancelAtContinue(0);
    EXPECT_EQ(r.tracker->Continue(), VARIANT_TRUE);
    r.tracker->Cancel();
    EXPECT_EQ(r.tracker->Continue(), VARIANT_FALSE);
}

TEST_F(Progress, NullOutPointersAreRefused) {
    DialogRun r = startRun();
    ASSERT_TRUE(r.progressor && r.dialog && r.tracker);
    EXPECT_EQ(r.progressor->get_Position(nullptr), E_POINTER);
    EXPECT_EQ(r.progressor->get_Message(nullptr), E_POINTER);
    EXPECT_EQ(r.dialog->get_CancelEnabled(nullptr), E_POINTER);
    EXPECT_EQ(r.tracker->raw_Continue(nullptr), E_POINTER);
    IProgressDialogFactoryPtr factory(kCLSID_ProgressDialogFactory);
    EXPECT_EQ(factory->raw_Create(nullptr, 0, nullptr), E_POINTER);
    // A null text is the empty text.
    EXPECT_EQ(r.progressor->put_Message(nullptr), S_OK);
    EXPECT_EQ(std::string(r.progressor->GetMessage()), "");
}

TEST_F(Progress, DialogSettingsReadBack) {
    DialogRun r = startRun();
    ASSERT_TRUE(r.dialog);
    r.dialog->PutAnimation(1);
    r.dialog->PutCancelEnabled(VARIANT_TRUE);
    r.dialog->PutDescription("Processing...Please be patient.");
    EXPECT_EQ(r.dialog->GetAnimation(), 1);
    EXPECT_EQ(r.dialog->GetCancelEnabled(), VARIANT_TRUE);
    EXPECT_EQ(std::string(r.dialog->GetDescription()), "Processing...Please be patient.");
}

TEST(ProgressBatch, MessagesBecomeLinesOnStderr) {
    ui::setForm(ui::Form::Batch);
    {
        DialogRun r = startRun();
        ASSERT_TRUE(r.progressor);
        testing::internal::CaptureStderr();
        r.dialog->PutTitle("Importing CELL1.000...");
        r.progressor->Show();
        r.progressor->PutPosition(20);
        r.progressor->PutMessage("Populating spatial primitives...");
        r.progressor->Hide();
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "Importing CELL1.000...\nPopulating spatial primitives...\n");
    }
    ui::setForm(ui::Form::Scripted);
}

// Standard error on a pseudo-terminal of 40 columns for the life of the object; output() reads
// what was drawn.
class StderrOnPty {
public:
    StderrOnPty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        const int slave = ::open(ptsname(master_), O_RDWR | O_NOCTTY);
        if (slave < 0) return;
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);  // bytes as written, no CR added
        tcsetattr(slave, TCSANOW, &t);
        winsize ws{};
        ws.ws_col = 40;
        ws.ws_row = 24;
        ioctl(master_, TIOCSWINSZ, &ws);
        std::fflush(stderr);
        saved_ = ::dup(STDERR_FILENO);
        ::dup2(slave, STDERR_FILENO);
        ::close(slave);
        ok_ = true;
    }
    ~StderrOnPty() {
        if (saved_ >= 0) {
            std::fflush(stderr);
            ::dup2(saved_, STDERR_FILENO);
            ::close(saved_);
        }
        if (master_ >= 0) ::close(master_);
    }
    bool ok() const { return ok_; }
    std::string output() {
        std::fflush(stderr);
        std::string out;
        char buf[4096];
        pollfd p{master_, POLLIN, 0};
        while (poll(&p, 1, 50) > 0) {
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, std::size_t(n));
        }
        return out;
    }

private:
    int master_ = -1;
    int saved_ = -1;
    bool ok_ = false;
};

TEST(ProgressTerminal, BarOpensWithTheFirstUpdateAndIsClearedOnHide) {
    ui::setForm(ui::Form::Terminal);
    {
        StderrOnPty pty;
        ASSERT_TRUE(pty.ok());
        DialogRun r = startRun();
        ASSERT_TRUE(r.progressor);
        r.dialog->PutTitle("Applying S-57 Symbology");
        r.progressor->PutMaxRange(4);
        r.progressor->Step();
        r.progressor->PutMessage("Processing Depths...");
        r.dialog->HideDialog();
        r.progressor->Step();  // hidden by the caller: stays hidden
        // 40 columns, one kept free: 13 cells, and the message is cut at column 39.
        EXPECT_EQ(pty.output(),
                  "Applying S-57 Symbology\n"
                  "\r[.............]   0%\x1b[K"   // opened by the title
                  "\r[.............]   0%\x1b[K"   // range
                  "\r[###..........]  25%\x1b[K"  // step
                  "\r[###..........]  25% Processing Depths.\x1b[K"
                  "\r\x1b[K");  // hidden: the line is cleared, the hidden step draws nothing
    }
    ui::setForm(ui::Form::Scripted);
}

struct BarCase {
    const char* name;
    LONG lo, hi, pos;
    const char* message;
    int width;
    const char* expected;
};

const BarCase kBars[] = {
    {"Empty", 0, 100, 0, "", 60, "[....................]   0%"},
    {"Half", 0, 100, 50, "Loading objects...", 60, "[##########..........]  50% Loading objects..."},
    {"Full", 0, 100, 100, "", 60, "[####################] 100%"},
    {"BelowRangeClamps", 10, 20, 3, "", 60, "[....................]   0%"},
    {"AboveRangeClamps", 0, 10, 99, "", 60, "[####################] 100%"},
    {"EmptyRangeIsFull", 5, 5, 0, "", 60, "[####################] 100%"},
    {"ShiftedRange", -50, 50, 0, "", 60, "[##########..........]  50%"},
    {"NarrowCutsMessage", 0, 100, 30, "Populating features...", 24, "[###.......]  30% Popula"},
    {"NeverSplitsUtf8", 0, 100, 0, "\xc3\xa9\xc3\xa9", 19, "[..........]   0% "},
    {"ZeroWidth", 0, 100, 0, "x", 0, ""},
    {"ExtremeRange", -2147483647 - 1, 2147483647, 2147483647, "", 60, "[####################] 100%"},
};

class Bar : public ::testing::TestWithParam<BarCase> {};

TEST_P(Bar, Renders) {
    const auto& c = GetParam();
    EXPECT_EQ(ui::renderProgressBar(c.lo, c.hi, c.pos, c.message, c.width), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Lines, Bar, ::testing::ValuesIn(kBars),
                         [](const auto& i) { return std::string(i.param.name); });

}  // namespace
