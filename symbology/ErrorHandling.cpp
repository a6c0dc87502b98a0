// symbology/ErrorHandling.cpp: formatting and showing the add-in's errors. The description is
// formatted once, where the error first reaches ReportError; the formatted flag says so while the
// error travels outward and is cleared when it is shown. The error dialog is made on first use and
// kept for the life of the module.

#include "symbology/ErrorHandling.h"

#include <cstdio>
#include <memory>

#include "platform/ui/ui.h"

namespace corvane {
namespace {

bool g_formatted = false;

// The modal text dialog that shows a call stack.
class ErrorDialog {
public:
    void setText(std::string text) { text_ = std::move(text); }
    void showModal() const { MessageBoxA(nullptr, text_.c_str(), kErrorCaption, MB_OK | MB_ICONERROR); }

private:
    std::string text_;
};

std::unique_ptr<ErrorDialog> g_errorDialog;

void beep() {
    if (ui::form() == ui::Form::Terminal) {
        std::fputc('\a', stderr);
        std::fflush(stderr);
    }
}

std::string standardErrorText(const std::string& callStack, const std::string& description) {
    return "An error has occured in the application.   Record the call stack sequence\r\n"
           "and the description of the error.\r\n\r\n"
           "Error Call Stack Sequence \r\n\t" +
           callStack + "\r\n" + description;
}

void warningBox(const std::string& callStack, const std::string& description) {
    beep();
    MessageBoxA(nullptr, standardErrorText(callStack, description).c_str(), kErrorCaption,
                MB_ICONWARNING | MB_OK);
}

}  // namespace

std::string FormatErrorLine(LONG line) { return line == 0 ? std::string() : "Line : " + std::to_string(line); }

std::string CallStackEntry(const char* procedure, const char* module, LONG line) {
    return std::string(procedure) + " " + module + " " + FormatErrorLine(line);
}

void ReportError(bool topLevel, const std::string& callStack, LONG number, const std::string& source,
                 const std::string& description, LONG displayMode, const VARIANT*, const VARIANT*,
                 const VARIANT*) {
    const std::string stack = callStack;
    const std::string errSource = source;
    std::string text = description;
    if (!g_formatted)
        text = "\r\nError Number \r\n\t" + std::to_string(number) + "\r\nDescription\r\n\t" + text + "\r\n\r\n";
    if (!topLevel) {
        g_formatted = true;
        host::raiseError(number, errSource, "\t" + stack + "\r\n" + text);
    }
    g_formatted = false;
    switch (displayMode) {
        case 4:
            ShowErrorDialog(stack, text);
            break;
        case 3: {
            bool again = false;
            AskErrorMessage(stack, text, again);
            if (again) host::raiseError(number, errSource, "\t" + stack + "\r\n" + text);
            break;
        }
        default:
            ShowErrorMessage(stack, text);
            break;
    }
}

void ShowErrorMessage(const std::string& callStack, const std::string& description) {
    warningBox(callStack, description);
}

void AskErrorMessage(const std::string& callStack, const std::string& description, bool& again) {
    again = false;
    warningBox(callStack, description);
}

void ShowErrorDialog(const std::string& callStack, const std::string& description) {
    if (!g_errorDialog) g_errorDialog = std::make_unique<ErrorDialog>();
    g_errorDialog->setText("Record Call Stack Sequence - Bottom line is error line.\r\n\r\n\t" + callStack + "\r\n" +
                           description);
    g_errorDialog->showModal();
}

}  // namespace corvane
