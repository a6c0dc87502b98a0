// symbology/ErrorHandling.h: the one way the add-in's class procedures report a run-time error.
// A class procedure catches the error and calls ReportError with its call-stack entry; below the
// top level ReportError raises the error again with the entry added, so the call stack grows as
// the error rises; at the top it shows the error (mode 4: the error dialog).
#pragma once

#include <string>

#include "platform/com/com.h"
#include "platform/host/err_object.h"

namespace corvane {

inline constexpr char kErrorCaption[] = "Unexpected Program Error";

std::string FormatErrorLine(LONG line);

// "ICommand_OnClick clsSymCommand Line : 30": the procedure, its module, and FormatErrorLine.
std::string CallStackEntry(const char* procedure, const char* module, LONG line);

// Below the top level this raises (host::VbError) with the call stack added; at the top level it
// shows the error by display mode (4 dialog, 3 ask, 2 or any other the warning box). It has no
// handler of its own: a failure while showing reaches the caller.
void ReportError(bool topLevel, const std::string& callStack, LONG number, const std::string& source,
                 const std::string& description, LONG displayMode, const VARIANT* opt1 = nullptr,
                 const VARIANT* opt2 = nullptr, const VARIANT* opt3 = nullptr);

void ShowErrorMessage(const std::string& callStack, const std::string& description);
// Shows the warning box; `again` comes back False (the error is not raised again).
void AskErrorMessage(const std::string& callStack, const std::string& description, bool& again);
void ShowErrorDialog(const std::string& callStack, const std::string& description);

// The class-procedure pattern: runs `body`; an error it raises is reported (top level, mode 4)
// with the procedure's call-stack entry at line `erl` (the last numbered line reached), and the
// procedure returns false. Only a failure of the report itself leaves this function.
template <class F>
bool ClassProcedure(const char* procedure, const char* module, const LONG& erl, F&& body) {
    host::ErrObject err;
    try {
        body();
        return true;
    } catch (...) {
        err = host::currentError("Corvane");
    }
    ReportError(true, CallStackEntry(procedure, module, erl), err.number, err.source, err.description, 4);
    return false;
}

}  // namespace corvane
