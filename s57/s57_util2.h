// s57/s57_util2.h: the run state shared by every import and export module, the converter's string
// table, and the two ways the converter tells the user something (displayMessage, showComError).
// One conversion runs at a time; nothing here is guarded. The message functions never fail towards
// their callers: a COM failure inside them is only logged.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "platform/com/com.h"
#include "platform/ui/progress.h"

// ---- Run state ---------------------------------------------------------------------------------

extern FILE* logFile;                  // the run's log; opened and closed by the drivers
extern IStepProgressorPtr stepProgressor;  // range 0 to 100; one run
extern int32_t cellCount;              // cells in the run (1 for a single cell)
extern int32_t cellIndex;              // 0-based index of the cell being converted
extern char primTypes[8][4];           // "VI" "VC" "VE" "FP" "FN" "FL" "FA" "FX", by initPrimTypes
extern int32_t srelCounter;            // last srel ID handed out: 0 at load, never reset
extern int32_t pointFeatureCount;      // FP, FL and FA records of the cell (loadObjectRecList)
extern int32_t lineFeatureCount;
extern int32_t areaFeatureCount;
extern HMODULE moduleInstance;         // an address inside libtarvo.so, for GetModuleFileNameA

// ---- String table ------------------------------------------------------------------------------

// Captions of the two directions' message boxes.
inline constexpr int kCaptionS57ToGdb = 101;  // "S-57 to Geodatabase"
inline constexpr int kCaptionGdbToS57 = 104;  // "Geodatabase to S-57"

// The text of string `id` (100 to 165), or nullptr for an id the table does not hold.
const char* stringText(int id);

// LoadString's shape: copies the text of `id` into buf (at most size - 1 characters, always
// NUL-terminated when size > 0) and returns the number of characters copied; 0 for an unknown id.
int loadString(int id, char* buf, int size);

// ---- Messages ----------------------------------------------------------------------------------

// Modal OK box without owner: caption = string captionId, text = string textId directly followed
// by detail (null or empty: nothing; callers start details with a blank).
void displayMessage(int textId, int captionId, const char* detail);

// Box without owner, caption 101 in both directions: "Error", the code as eight hex digits and the
// code's meaning, each line after the first led by BEL and a tab.
void showComError(const _com_error& e);

// The text showComError shows (UTF-8), for the log and for tests.
std::string comErrorText(const _com_error& e);

// Appends text to the debug log (opened and closed per call): $TMPDIR/s57.log, /tmp/s57.log
// without TMPDIR. Failures are ignored.
void writeDebugLog(const char* text);

// Where writeDebugLog writes.
std::string debugLogPath();

// One line (or several) to the run's log; nothing while no log is open. Not flushed per line: the
// import writes thousands, and the drivers close the log before it is shown.
[[gnu::format(printf, 1, 2)]] void logLine(const char* format, ...);

// While one lives, the lines logLine would write on its thread are kept in `into` instead: a thread
// that works ahead of the one writing the cell hands its lines over, to be written in their turn.
class LogCapture {
public:
    explicit LogCapture(std::string& into);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

private:
    std::string* outer_;
};

// Lines kept by a LogCapture, to the run's log as they were kept; nothing while no log is open.
void logCaptured(std::string_view lines);

// "Error: MODULE::FUNCTION" and the error's description (its message when it carries none) to the
// run's log.
void logComErrorOf(const char* module, const char* function, const _com_error& e);

// "Error: MODULE::FUNCTION" and `description` (null: an empty line) to the run's log.
void logErrorOf(const char* module, const char* function, const char* description);

// The error's description; its message when it carries none or the description cannot be had.
std::string comErrorDescription(const _com_error& e);

// Closes the run's log, if open; the drivers call it on every way out of a run.
void closeRunLog();

// For the length of a driver's run: its outcome reachable as `current`; when the run ends, kept as the
// module's latest (`last`) and counted (`runs`), for callers that reach the driver through an
// automation method that answers S_OK whatever the run did.
template <class Outcome>
class RunOutcomeScope {
public:
    RunOutcomeScope(Outcome* outcome, Outcome*& current, Outcome& last, unsigned long& runs)
        : outcome_(outcome), current_(current), last_(last), runs_(runs) {
        current_ = outcome;
    }
    ~RunOutcomeScope() {
        current_ = nullptr;
        last_ = *outcome_;
        ++runs_;
    }
    RunOutcomeScope(const RunOutcomeScope&) = delete;
    RunOutcomeScope& operator=(const RunOutcomeScope&) = delete;

private:
    Outcome* outcome_;
    Outcome*& current_;
    Outcome& last_;
    unsigned long& runs_;
};

// COM initialised for as long as the object lives: a conversion run, a catalogue load.
struct ComSession {
    ComSession() { (void)CoInitialize(nullptr); }
    ~ComSession() { CoUninitialize(); }
    ComSession(const ComSession&) = delete;
    ComSession& operator=(const ComSession&) = delete;
};

// How a driver names itself at the end of its run.
struct DriverNames {
    const char* module;    // in the log: "Error: MODULE::FUNCTION"
    const char* function;
    int caption;           // of the closing question
    bool showBeforeLog;    // an error is shown, then logged (the import); else logged, then shown
};

// The rest of a run once it got past its opening checks, the same in both directions: `cells`
// (which makes the run's progress dialog) with COM initialised; an error that ends them is kept as
// the run's (`error`, E_FAIL for a success code, and `reason`), logged as the driver's and shown;
// then the progress dialog is hidden, it and the step progressor released, COM uninitialised and
// the log closed, and the user asked whether to see the log at logPath. COM is uninitialised on
// every way out, also when something else than a std::exception leaves `cells`. Result 0.
int32_t runCellsAndEnd(const DriverNames& driver, const std::string& logPath, HRESULT& error, std::string& reason,
                       const std::function<void(IProgressDialog2Ptr& dialog)>& cells);

// The end of a run that something unforeseen broke off (out of memory in its opening): the log
// closed, the step progressor released, the run failed (E_OUTOFMEMORY unless it already had); -1.
template <class Outcome>
int32_t abandonRun(Outcome& result) {
    closeRunLog();
    stepProgressor = nullptr;
    if (!result.failed()) result.error = E_OUTOFMEMORY;
    return -1;
}

// The decimal number a text begins with, as strtol reads base 10 (leading blanks, a sign, the digits
// up to the first other character; none gives 0), clamped to 32 bits. Without strtol's cost: it reads
// every coordinate of a cell and every code of the catalogue.
int32_t decimalInt32(const char* text);

// Sets the eight primTypes texts; the drivers call it first in every run.
void initPrimTypes();
