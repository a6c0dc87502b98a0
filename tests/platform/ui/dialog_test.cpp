// Tests of modal dialogs over templates in the three forms, and of the answers file of scripted runs.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "platform/ui/dialog.h"
#include "platform/ui/ui.h"

namespace fs = std::filesystem;

namespace {

constexpr ui::ControlTemplate kControls[] = {
    {IDOK, ui::ControlKind::Button, "OK", ui::kDefault},
    {IDCANCEL, ui::ControlKind::Button, "Cancel", 0},
    {-1, ui::ControlKind::Label, "Name:", 0},
    {10, ui::ControlKind::Edit, "", 0},
    {11, ui::ControlKind::Edit, "", ui::kReadOnly},
    {12, ui::ControlKind::CheckBox, "Loud", 0},
    {13, ui::ControlKind::PictureButton, "", ui::kDisabled},
    {14, ui::ControlKind::Button, "Throw", 0},
};
constexpr ui::DialogTemplate kTemplate = {900, "Demo", 200, 80, kControls};

class Demo : public ui::Dialog {
public:
    Demo() : ui::Dialog(kTemplate) {}
    bool initialised = false;
    int disabledClicks = 0;

protected:
    void onInitDialog() override {
        initialised = true;
        limitText(10, 5);
        setItemText(11, "fixed");
    }
    void onCommand(int id) override {
        if (id == 13) ++disabledClicks;
        if (id == 14) throw std::runtime_error("handler failed");
        ui::Dialog::onCommand(id);
    }
};

class DialogForms : public ::testing::Test {
protected:
    void SetUp() override {
        ui::setForm(ui::Form::Scripted);
        ui::scripted::reset();
        dir_ = fs::temp_directory_path() / ("dialog_test_" + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        ui::setForm(ui::Form::Scripted);
        ui::scripted::reset();
        fs::remove_all(dir_);
    }
    std::string write(const std::string& name, const std::string& text) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path) << text;
        return path;
    }
    fs::path dir_;
};

TEST_F(DialogForms, ScriptedRunRecordsEveryTextAndHonoursTheControlsFlags) {
    Demo d;
    ui::scripted::pushDialogText(10, "Annabel");   // cut to the edit's limit
    ui::scripted::pushDialogText(11, "changed");   // read-only: ignored
    ui::scripted::pushDialogCheck(12, true);
    ui::scripted::pushDialogClick(13);             // disabled: ignored
    ui::scripted::pushDialogClick(12);             // a click toggles the box
    ui::scripted::pushDialogClick(IDOK);
    ui::scripted::pushDialogClick(IDCANCEL);       // left for the next dialog
    EXPECT_EQ(d.doModal(), IDOK);
    EXPECT_TRUE(d.initialised);
    EXPECT_EQ(d.itemText(10), "Annab");
    EXPECT_EQ(d.itemText(11), "fixed");
    EXPECT_FALSE(d.isButtonChecked(12));
    EXPECT_EQ(d.disabledClicks, 0);
    EXPECT_EQ(ui::scripted::transcript(),
              "dialog [Demo]\n"
              "dialog [Demo] 11 = fixed\n"
              "dialog [Demo] 10 = Annab\n"
              "dialog [Demo] 12 checked\n"
              "dialog [Demo] click 13\n"
              "dialog [Demo] click 12\n"
              "dialog [Demo] 12 cleared\n"
              "dialog [Demo] click 1\n"
              "dialog [Demo] -> 1\n");
    Demo next;
    EXPECT_EQ(next.doModal(), IDCANCEL);
}

TEST_F(DialogForms, HandlerThatThrowsCancelsAndBatchShowsNothing) {
    Demo d;
    ui::scripted::pushDialogClick(14);
    ui::scripted::pushDialogClick(IDOK);
    EXPECT_EQ(d.doModal(), IDCANCEL);

    ui::setForm(ui::Form::Batch);
    Demo b;
    EXPECT_EQ(b.doModal(), -1);
    EXPECT_FALSE(b.initialised);
}

TEST_F(DialogForms, TerminalFormTakesFieldsAndButtonsByNumber) {
    const std::string input = write("input", "10=Bob\n11=ignored\n99\nnonsense\n12\n1\n");
    const std::string shown = (dir_ / "shown").string();
    std::fflush(stderr);
    const int savedErr = dup(2);
    ASSERT_TRUE(std::freopen(input.c_str(), "r", stdin));
    ASSERT_TRUE(std::freopen(shown.c_str(), "w", stderr));
    ui::setForm(ui::Form::Terminal);
    Demo d;
    const int result = d.doModal();
    Demo cancelled;  // end of input cancels
    const int atEnd = cancelled.doModal();
    std::fflush(stderr);
    dup2(savedErr, 2);
    close(savedErr);
    ASSERT_TRUE(std::freopen("/dev/null", "r", stdin));
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(d.itemText(10), "Bob");
    EXPECT_EQ(d.itemText(11), "fixed");
    EXPECT_TRUE(d.isButtonChecked(12));
    EXPECT_EQ(atEnd, IDCANCEL);
    std::ifstream in(shown);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("  [10] Bob\n  [11] fixed  (read-only)\n  [12] [x] Loud\n  1)OK 2)Cancel 14)Throw\n"),
              std::string::npos)
        << text.str();
}

TEST_F(DialogForms, AnswersFileDrivesDialogsBoxesAndFileChoices) {
    const std::string answers = write("answers", "# a scripted run\n"
                                                 "text 10 Al  B\n"
                                                 "check 12 1\n"
                                                 "click 1\n"
                                                 "\n"
                                                 "answer yes\n"
                                                 "file /charts/a b.000\n"
                                                 "file-cancel\n"
                                                 "choice 1\n");
    std::string error;
    ASSERT_TRUE(ui::scripted::loadAnswers(answers, &error)) << error;
    Demo d;
    EXPECT_EQ(d.doModal(), IDOK);
    EXPECT_EQ(d.itemText(10), "Al  B");
    EXPECT_TRUE(d.isButtonChecked(12));
    EXPECT_EQ(MessageBoxA(nullptr, "Sure?", "Demo", MB_YESNO), IDYES);
    std::string path;
    EXPECT_TRUE(ui::chooseOpenFile("Open", {}, path));
    EXPECT_EQ(path, "/charts/a b.000");
    EXPECT_FALSE(ui::chooseOpenFile("Open", {}, path));
    EXPECT_EQ(ui::chooseFromList("Pick", {"a", "b"}), 1);
}

struct BadAnswer {
    const char* name;
    const char* line;
};
const BadAnswer kBadAnswers[] = {
    {"UnknownWord", "press 1"},   {"TextWithoutId", "text Bob"}, {"CheckNotBinary", "check 12 yes"},
    {"ClickText", "click OK"},    {"EmptyFile", "file"},        {"AnswerUnknown", "answer maybe"},
    {"ChoiceText", "choice one"}, {"CancelWithText", "file-cancel now"},
    // ids beyond an int would wrap onto another control
    {"ClickIdBeyondInt", "click 4294967297"}, {"TextIdBeyondInt", "text -4294967295 Bob"},
};
class AnswersFile : public DialogForms, public ::testing::WithParamInterface<BadAnswer> {};
TEST_P(AnswersFile, RefusesALineItDoesNotUnderstandAndPushesNothing) {
    const std::string answers = write("answers", std::string("click 1\n") + GetParam().line + "\n");
    std::string error;
    EXPECT_FALSE(ui::scripted::loadAnswers(answers, &error));
    EXPECT_EQ(error, answers + " line 2: not understood: " + GetParam().line);
    Demo d;
    EXPECT_EQ(d.doModal(), IDCANCEL);  // the valid first line was not pushed either
}
INSTANTIATE_TEST_SUITE_P(Dialogs, AnswersFile, ::testing::ValuesIn(kBadAnswers),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(DialogForms, MissingAnswersFileIsAnError) {
    std::string error;
    EXPECT_FALSE(ui::scripted::loadAnswers((dir_ / "none").string(), &error));
    EXPECT_EQ(error, (dir_ / "none").string() + ": cannot be read");
}

}  // namespace
