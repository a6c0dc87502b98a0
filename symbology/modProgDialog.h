// symbology/modProgDialog.h: the cancellable progress dialog of a symbology run. ShowProgress
// makes the dialog on its first call, steps it and reads the cancel tracker into the continue
// flag; CloseProgress hides and lets go of it, so the next run gets a new one. ShowProgress handles
// its own errors: it shows the error number in a box and goes on after error 13 (type mismatch),
// ends there after any other.
#pragma once

#include <string>

#include "platform/com/com.h"

namespace corvane {

inline constexpr char kProgressDescription[] = "Processing...Please be patient.";

void ShowProgress(const std::string& message, const std::string& caption, LONG minimum, LONG maximum,
                  LONG position, LONG hWnd);
void CloseProgress();

// False once the user has cancelled, until CloseProgress.
bool ProgressContinue();

}  // namespace corvane
