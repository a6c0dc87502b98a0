// tests/symbology/error_handling_test.cpp: the call stack an error gathers as it rises, the texts of
// the dialog and of the warning box by display mode, and a command's error reported once.
#include <gtest/gtest.h>

#include "platform/host/err_object.h"
#include "platform/ui/ui.h"
#include "symbology/ErrorHandling.h"
#include "symbology_fixture.h"

using namespace corvane;
using Kind = ui::Event::Kind;

namespace {

class ErrorHandlingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(symtest::registerAddin());
        ui::setForm(ui::Form::Scripted);
        ui::scripted::reset();
    }
    void TearDown() override { ui::scripted::reset(); }
    static std::vector<ui::Event> boxes() {
        std::vector<ui::Event> out;
        for (const auto& e : ui::scripted::events())
            if (e.kind == Kind::Message) out.push_back(e);
        return out;
    }
};

const std::string kFormatted = "\r\nError Number \r\n\t5\r\nDescription\r\n\tboom\r\n\r\n";

// Two procedures of the pattern: the inner one is not the top level and passes its error on.
void inner() {
    LONG erl = 0;
    host::ErrObject err;
    try {
        erl = 20;
        host::raiseError(5, "Corvane", "boom");
    } catch (...) {
        err = host::currentError("Corvane");
    }
    ReportError(false, CallStackEntry("inner", "modTest", erl), err.number, err.source, err.description, 4);
}

}  // namespace

TEST_F(ErrorHandlingTest, FormatsLineNumbers) {
    EXPECT_EQ(FormatErrorLine(0), "");
    EXPECT_EQ(FormatErrorLine(30), "Line : 30");
    EXPECT_EQ(CallStackEntry("IExtension_Name", "clsExtension", 0), "IExtension_Name clsExtension ");
    EXPECT_EQ(CallStackEntry("configure", "clsExtension", 40), "configure clsExtension Line : 40");
}

TEST_F(ErrorHandlingTest, ANestedErrorCarriesBothProceduresWithTheErrorLineAtTheBottom) {
    LONG erl = 0;
    const bool ok = ClassProcedure("outer", "modTest", erl, [&] {
        erl = 10;
        inner();
    });
    EXPECT_FALSE(ok);
    const auto shown = boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, kErrorCaption);
    EXPECT_EQ(shown[0].text, "Record Call Stack Sequence - Bottom line is error line.\r\n\r\n"
                             "\touter modTest Line : 10\r\n"
                             "\tinner modTest Line : 20\r\n" +
                                 kFormatted);
    // The formatted flag is down again: the next error is formatted afresh.
    ui::scripted::reset();
    ReportError(true, "p m ", 7, "Corvane", "x", 4);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_NE(boxes()[0].text.find("Error Number \r\n\t7\r\nDescription\r\n\tx\r\n"), std::string::npos);
}

struct Mode {
    const char* name;
    LONG mode;
};
class DisplayMode : public ErrorHandlingTest, public ::testing::WithParamInterface<Mode> {};

TEST_P(DisplayMode, ShowsTheWarningBoxAndRaisesNothing) {
    EXPECT_NO_THROW(ReportError(true, "ICommand_OnClick clsSymCommand Line : 10", 5, "Corvane", "boom", GetParam().mode));
    const auto shown = boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "Unexpected Program Error");
    EXPECT_EQ(shown[0].type, MB_ICONWARNING | MB_OK);
    EXPECT_EQ(shown[0].text,
              "An error has occured in the application.   Record the call stack sequence\r\n"
              "and the description of the error.\r\n\r\n"
              "Error Call Stack Sequence \r\n\tICommand_OnClick clsSymCommand Line : 10\r\n" +
                  kFormatted);
}

INSTANTIATE_TEST_SUITE_P(Modes, DisplayMode,
                         ::testing::Values(Mode{"Message", 2}, Mode{"Ask", 3}, Mode{"Other", 0}),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(ErrorHandlingTest, PlatformResultsReadAsRunTimeErrorNumbers) {
    auto numberOf = [](HRESULT hr) {
        try {
            _com_issue_error(hr);
        } catch (...) {
            return host::currentError("Corvane").number;
        }
        return LONG(0);
    };
    EXPECT_EQ(numberOf(DISP_E_TYPEMISMATCH), 13);
    EXPECT_EQ(numberOf(E_POINTER), 91);
    EXPECT_EQ(numberOf(E_FAIL), E_FAIL);
}

TEST_F(ErrorHandlingTest, AnErrorOfTheClickIsReportedOnceWithTheCommandsEntry) {
    ICommandPtr cmd;
    cmd.CreateInstance("Corvane.clsSymCommand");
    ASSERT_TRUE(cmd);
    // No application as the hook: OnCreate reports a type mismatch and keeps nothing.
    EXPECT_EQ(cmd->raw_OnCreate(nullptr), S_OK);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_NE(boxes()[0].text.find("\tICommand_OnCreate clsSymCommand Line : 10\r\n"), std::string::npos);
    ui::scripted::reset();
    EXPECT_EQ(cmd->raw_OnClick(), S_OK);
    const auto shown = boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, kErrorCaption);
    EXPECT_NE(shown[0].text.find("\tICommand_OnClick clsSymCommand Line : 10\r\n\r\nError Number \r\n\t91\r\n"),
              std::string::npos)
        << shown[0].text;
}
