// platform/ui/ui.h: what the converter and the add-ins show the user: message boxes and questions,
// the open-file and list dialogs, the log viewer. One form serves the whole program:
//   scripted  tests preset the answers and read back every text shown (ui::scripted below);
//   terminal  prompts on the terminal (stdin / stderr);
//   batch     never blocks: every question takes its safe answer, texts go to standard error.
// The default is terminal when stdin and stderr are TTYs, else batch. Nothing here throws; text
// arguments are UTF-8 unless they are wide.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/com/com.h"

// ---- Message boxes -----------------------------------------------------------------------------

// Buttons (low four bits of the type).
inline constexpr UINT MB_OK = 0x0;
inline constexpr UINT MB_OKCANCEL = 0x1;
inline constexpr UINT MB_YESNOCANCEL = 0x3;
inline constexpr UINT MB_YESNO = 0x4;
inline constexpr UINT MB_TYPEMASK = 0xF;
// Icons (next four bits).
inline constexpr UINT MB_ICONHAND = 0x10;
inline constexpr UINT MB_ICONERROR = MB_ICONHAND;
inline constexpr UINT MB_ICONSTOP = MB_ICONHAND;
inline constexpr UINT MB_ICONQUESTION = 0x20;
inline constexpr UINT MB_ICONEXCLAMATION = 0x30;
inline constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
inline constexpr UINT MB_ICONASTERISK = 0x40;
inline constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
inline constexpr UINT MB_ICONMASK = 0xF0;

// Answers.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// A modal box; the owner is ignored. Returns the button chosen: in batch form (and when the
// terminal closes, or no scripted answer is left) the safe one: IDOK for MB_OK, IDNO for MB_YESNO,
// IDCANCEL for MB_OKCANCEL and MB_YESNOCANCEL. Any other button code is shown as MB_OK. On a
// terminal an empty line answers the safe one too, and a question that finds input typed before it
// was shown takes the safe answer without reading it: that input is left for whoever reads next.
int MessageBoxW(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);

namespace ui {

enum class Form { Scripted, Terminal, Batch };

// The program-wide form; the first call of form() picks the default.
Form form();
void setForm(Form f);

// The descriptor that the terminal and batch forms write to (boxes, prompts, the progress bar) and
// that the log viewer gets as its output: standard error unless set. A caller that sends standard
// error elsewhere for a while (a program's own diagnostics) keeps the user's terminal here. The
// descriptor stays the caller's; -1 sets standard error back.
void setOutput(int fd);
int output();

// ---- Dialogs -----------------------------------------------------------------------------------

struct FileFilter {
    std::string name;     // "S-57 Cell"
    std::string pattern;  // "*.000"
};

// The open-file dialog. True with the chosen path, false when the user cancels (batch: always).
bool chooseOpenFile(const std::string& title, const std::vector<FileFilter>& filters, std::string& path);

// A list to choose one entry from: its index, or -1 when the user cancels (batch: always).
int chooseFromList(const std::string& title, const std::vector<std::string>& items);

// Shows a text file to the user: $VISUAL, else $EDITOR, else less (which Ctrl-C ends), with the
// path as its one argument, waited for (terminal), on the terminal: standard input as it is, its
// output on output(). Ctrl-C while it runs reaches the viewer, not this program. Batch names the
// file on output() instead; scripted records it. 0 when shown, -1 when the viewer could not be
// started, failed or was interrupted.
int viewLogFile(const std::string& path);

// ---- Terminal rendering ------------------------------------------------------------------------

// One line of a progress bar, `width` columns at most: "[#####.....]  50% message". The position is
// clamped to the range; an empty range shows as full.
std::string renderProgressBar(LONG minRange, LONG maxRange, LONG position, std::string_view message,
                              int width);

// ---- Scripted form -----------------------------------------------------------------------------

// One thing shown or asked. Which fields matter depends on the kind.
struct Event {
    enum class Kind {
        Message,          // caption, text, type, answer
        OpenFile,         // caption (title), items (filters as "name|pattern"), text (path), answer
        List,             // caption (title), items, answer (index or -1)
        ViewLog,          // text (path)
        ProgressTitle,    // text
        ProgressDescription,  // text
        ProgressMessage,  // text
        ProgressRange,    // value (min), answer (max)
        ProgressPosition, // value
        ProgressShow,
        ProgressHide,
        Continue,         // answer (1 go on, 0 cancelled)
        DialogOpen,       // caption
        DialogText,       // caption (the dialog's), value (control id), text
        DialogCheck,      // caption (the dialog's), value (control id), answer (1 checked)
        DialogClick,      // caption (the dialog's), value (control id)
        DialogEnd,        // caption, answer (the dialog's result)
    };
    explicit Event(Kind k, std::string caption_ = {}, std::string text_ = {})
        : kind(k), caption(std::move(caption_)), text(std::move(text_)) {}

    Kind kind;
    std::string caption;
    std::string text;
    UINT type = 0;
    int answer = 0;
    LONG value = 0;
    std::vector<std::string> items;
};

namespace scripted {

// Forgets every preset answer and every recorded event; the cancel script too.
void reset();

// Answers for the next boxes and dialogs, taken first in, first out; when none is left the safe
// answer is given (and recorded).
void pushAnswer(int buttonId);
void pushFile(const std::string& path);  // for the open-file dialog
void pushFileCancel();
void pushChoice(int index);  // for the list dialog; -1 cancels

// From the n-th Continue of any cancel tracker on (1 = the first), the user has cancelled.
// 0 never cancels (the default).
void cancelAtContinue(int n);

const std::vector<Event>& events();

// The recorded events as text, one line each, for comparing in tests.
std::string transcript();

}  // namespace scripted

}  // namespace ui
