// tests/platform/ui/ui_test.cpp: message boxes, dialogs and the log viewer in their three forms.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/ui/list_dialog.h"
#include "platform/ui/ui.h"

namespace fs = std::filesystem;

namespace {

class Scripted : public ::testing::Test {
protected:
    void SetUp() override {
        ui::setForm(ui::Form::Scripted);
        ui::scripted::reset();
    }
    void TearDown() override { ui::scripted::reset(); }
};

TEST_F(Scripted, BoxRecordsEveryTextAndTakesPresetAnswers) {
    ui::scripted::pushAnswer(IDYES);
    EXPECT_EQ(MessageBoxW(nullptr, L"Would you like to see the log file?", L"S-57 to Geodatabase", MB_YESNO),
              IDYES);
    // No answer left: the safe one.
    EXPECT_EQ(MessageBoxA(nullptr, "Overwrite?", "Geodatabase to S-57", MB_YESNO | MB_ICONQUESTION), IDNO);
    EXPECT_EQ(MessageBoxW(nullptr, L"Caf\u00e9 d\u00e9tail", L"S-57 to Geodatabase", MB_OK), IDOK);

    const auto& ev = ui::scripted::events();
    ASSERT_EQ(ev.size(), 3u);
    EXPECT_EQ(ev[0].kind, ui::Event::Kind::Message);
    EXPECT_EQ(ev[0].caption, "S-57 to Geodatabase");
    EXPECT_EQ(ev[0].text, "Would you like to see the log file?");
    EXPECT_EQ(ev[0].type, MB_YESNO);
    EXPECT_EQ(ev[2].text, "Caf\xc3\xa9 d\xc3\xa9tail") << "wide text is recorded as UTF-8";
    EXPECT_EQ(ui::scripted::transcript(),
              "message [S-57 to Geodatabase] Would you like to see the log file? (Yes/No) -> Yes\n"
              "message [Geodatabase to S-57] Overwrite? (Yes/No, question) -> No\n"
              "message [S-57 to Geodatabase] Caf\xc3\xa9 d\xc3\xa9tail (OK) -> OK\n");
}

TEST_F(Scripted, AnswerThatTheBoxCannotGiveFallsBackToTheSafeOne) {
    ui::scripted::pushAnswer(IDYES);  // an OK box has no Yes
    EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_OK), IDOK);
    ui::scripted::pushAnswer(IDOK);  // a question has no OK
    EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_YESNO), IDNO);
}

TEST_F(Scripted, NullTextsAreEmpty) {
    EXPECT_EQ(MessageBoxW(nullptr, nullptr, nullptr, MB_OK), IDOK);
    ASSERT_EQ(ui::scripted::events().size(), 1u);
    EXPECT_EQ(ui::scripted::events()[0].text, "");
    EXPECT_EQ(ui::scripted::events()[0].caption, "");
}

TEST_F(Scripted, FileAndListDialogs) {
    const std::vector<ui::FileFilter> filters = {{"S-57 Cell", "*.000"}, {"All files", "*.*"}};
    ui::scripted::pushFile("/charts/CELL1.000");
    ui::scripted::pushFileCancel();
    std::string path = "unchanged";
    EXPECT_TRUE(ui::chooseOpenFile("Open a File", filters, path));
    EXPECT_EQ(path, "/charts/CELL1.000");
    path = "unchanged";
    EXPECT_FALSE(ui::chooseOpenFile("Open a File", filters, path));
    EXPECT_EQ(path, "unchanged");

    ui::scripted::pushChoice(1);
    ui::scripted::pushChoice(7);  // out of range counts as a cancel
    EXPECT_EQ(ui::chooseFromList("Cell Name Selection", {"CELL1", "SET\\CATALOG.031"}), 1);
    EXPECT_EQ(ui::chooseFromList("Cell Name Selection", {"CELL1"}), -1);
    EXPECT_EQ(ui::chooseFromList("Cell Name Selection", {"CELL1"}), -1) << "nothing preset";

    EXPECT_EQ(ui::viewLogFile("/charts/CELL1.log"), 0);
    EXPECT_EQ(ui::scripted::transcript(),
              "open-file [Open a File] S-57 Cell|*.000 All files|*.* -> /charts/CELL1.000\n"
              "open-file [Open a File] S-57 Cell|*.000 All files|*.* -> Cancel\n"
              "list [Cell Name Selection] \"CELL1\" \"SET\\CATALOG.031\" -> 1\n"
              "list [Cell Name Selection] \"CELL1\" -> -1\n"
              "list [Cell Name Selection] \"CELL1\" -> -1\n"
              "view-log /charts/CELL1.log\n");
}

TEST_F(Scripted, ListDialogObjectPicksThroughTheSameForm) {
    IListDialogPtr dlg;
    ASSERT_EQ(dlg.CreateInstance(kCLSID_ListDialog), S_OK);
    EXPECT_EQ(dlg->GetChoice(), -1);
    dlg->AddString("CELL1");
    dlg->AddString(L"SET\\CATALOG.031");
    ui::scripted::pushChoice(1);
    EXPECT_EQ(dlg->DoModal("Cell Name Selection", 0), VARIANT_TRUE);
    EXPECT_EQ(dlg->GetChoice(), 1);
    EXPECT_EQ(dlg->DoModal("Cell Name Selection", 0), VARIANT_FALSE) << "nothing preset: cancelled";
    EXPECT_EQ(dlg->GetChoice(), -1);
    EXPECT_EQ(dlg->raw_DoModal(nullptr, 0, nullptr), E_POINTER);
    ASSERT_EQ(ui::scripted::events().size(), 2u);
    EXPECT_EQ(ui::scripted::events()[0].items, (std::vector<std::string>{"CELL1", "SET\\CATALOG.031"}));
}

// ---- Batch -------------------------------------------------------------------------------------

struct BatchCase {
    const char* name;
    UINT type;
    int answer;
    const char* err;
};

const BatchCase kBatch[] = {
    {"OkBox", MB_OK | MB_ICONERROR, IDOK, "Cap: Some text\n"},
    {"YesNoSaysNo", MB_YESNO, IDNO, "Cap: Some text [No]\n"},
    {"OkCancelSaysCancel", MB_OKCANCEL, IDCANCEL, "Cap: Some text [Cancel]\n"},
    {"YesNoCancelSaysCancel", MB_YESNOCANCEL, IDCANCEL, "Cap: Some text [Cancel]\n"},
    {"UnknownButtonsShowOk", 0x5, IDOK, "Cap: Some text\n"},
};

class Batch : public ::testing::TestWithParam<BatchCase> {
protected:
    void SetUp() override { ui::setForm(ui::Form::Batch); }
    void TearDown() override { ui::setForm(ui::Form::Scripted); }
};

TEST_P(Batch, NeverBlocksAndWritesTheTextToStderr) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "Some text", "Cap", GetParam().type), GetParam().answer);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), GetParam().err);
}

INSTANTIATE_TEST_SUITE_P(Answers, Batch, ::testing::ValuesIn(kBatch),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(BatchDialogs, CancelAndNameTheLog) {
    ui::setForm(ui::Form::Batch);
    std::string path = "keep";
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ui::chooseOpenFile("Open a File", {}, path));
    EXPECT_EQ(ui::chooseFromList("Cell Name Selection", {"A"}), -1);
    EXPECT_EQ(ui::viewLogFile("/x/y.log"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Open a File: no file chosen (batch)\n"
              "Cell Name Selection: nothing chosen (batch)\n"
              "Log file: /x/y.log\n");
    EXPECT_EQ(path, "keep");
    ui::setForm(ui::Form::Scripted);
}

// ---- Terminal ----------------------------------------------------------------------------------

// Feeds `input` as standard input for the life of the object.
class StdinFrom {
public:
    explicit StdinFrom(const std::string& input) {
        file_ = fs::temp_directory_path() / ("ui_stdin_" + std::to_string(::getpid()));
        std::ofstream(file_) << input;
        saved_ = ::dup(STDIN_FILENO);
        const int fd = ::open(file_.c_str(), O_RDONLY);
        ::dup2(fd, STDIN_FILENO);
        ::close(fd);
        std::clearerr(stdin);
    }
    ~StdinFrom() {
        ::dup2(saved_, STDIN_FILENO);
        ::close(saved_);
        std::clearerr(stdin);
        fs::remove(file_);
    }

private:
    fs::path file_;
    int saved_ = -1;
};

std::string readAllOf(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class Terminal : public ::testing::Test {
protected:
    void SetUp() override { ui::setForm(ui::Form::Terminal); }
    void TearDown() override { ui::setForm(ui::Form::Scripted); }
};

TEST_F(Terminal, AsksAgainUntilTheAnswerFits) {
    StdinFrom in("maybe\n  YES \n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "Proceed?", "Geodatabase to S-57", MB_YESNO), IDYES);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\nGeodatabase to S-57\nProceed?\nYes or No? [y/n] Yes or No? [y/n] ");
}

TEST_F(Terminal, EnterAloneGivesTheSafeAnswer) {
    StdinFrom in("\n\n\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "Would you like to see the log file?", "S-57 to Geodatabase", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "Go on?", "C", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(MessageBoxA(nullptr, "Go on?", "C", MB_YESNOCANCEL), IDCANCEL);
    EXPECT_EQ(testing::internal::GetCapturedStderr().find("Yes or No? [y/n] Yes or No?"), std::string::npos);
}

// What the terminal form shows goes where the program says, not necessarily to standard error.
TEST_F(Terminal, WritesToTheOutputItIsGiven) {
    StdinFrom in("y\n");
    const fs::path file = fs::temp_directory_path() / ("ui_output_" + std::to_string(::getpid()));
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ui::setOutput(fd);
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "Proceed?", "C", MB_YESNO), IDYES);
    ui::setOutput(-1);
    ::close(fd);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(readAllOf(file), "\nC\nProceed?\nYes or No? [y/n] ");
    fs::remove(file);
}

TEST_F(Terminal, EndOfInputGivesTheSafeAnswer) {
    StdinFrom in("");
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "Proceed?", "C", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "Done", "C", MB_OK), IDOK);
    testing::internal::GetCapturedStderr();
}

TEST_F(Terminal, FileAndListPrompts) {
    StdinFrom in("/data/CELL1.000\n0\nx\n2\n\n");
    testing::internal::CaptureStderr();
    std::string path;
    EXPECT_TRUE(ui::chooseOpenFile("Open a File", {{"S-57 Cell", "*.000"}}, path));
    EXPECT_EQ(path, "/data/CELL1.000");
    EXPECT_EQ(ui::chooseFromList("Cell Name Selection", {"A", "B"}), 1) << "0 and x are asked again";
    EXPECT_FALSE(ui::chooseOpenFile("Open a File", {}, path)) << "an empty line cancels";
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Files: S-57 Cell (*.000)\n"), std::string::npos) << err;
    EXPECT_NE(err.find("  1) A\n  2) B\n"), std::string::npos) << err;
}

// Sets an environment variable for the life of the object.
class Env {
public:
    Env(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) ::setenv(name, value, 1);
        else ::unsetenv(name);
    }
    ~Env() {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

std::string readAll(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST_F(Terminal, ViewerGetsThePathAsOneUnparsedArgument) {
    const fs::path dir = fs::temp_directory_path() / ("ui_viewer_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path out = dir / "seen";
    const std::string log = (dir / "a b;$(touch pwned) 'q'.log").string();
    const std::string viewer = "printf '%s' >'" + out.string() + "'";
    {
        Env visual("VISUAL", viewer.c_str());
        Env editor("EDITOR", "false");
        EXPECT_EQ(ui::viewLogFile(log), 0);
        EXPECT_EQ(readAll(out), log);
        EXPECT_FALSE(fs::exists(fs::current_path() / "pwned"));
    }
    {
        Env visual("VISUAL", "");
        Env editor("EDITOR", viewer.c_str());
        fs::remove(out);
        EXPECT_EQ(ui::viewLogFile("/x.log"), 0) << "EDITOR serves when VISUAL is empty";
        EXPECT_EQ(readAll(out), "/x.log");
    }
    {
        Env visual("VISUAL", "false");
        EXPECT_EQ(ui::viewLogFile("/x.log"), -1) << "a failing viewer is reported";
    }
    fs::remove_all(dir);
}

}  // namespace
