// s57/s57_util2.cpp: the run state, the string table, the user messages and the debug log of the
// converter. The message functions swallow every error: a COM failure is written to the run's log
// (standard error when no log is open) and the caller goes on.

#include "s57/s57_util2.h"

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "platform/ui/ui.h"

namespace {

constexpr char kModule[] = "s57_util2";

// Any object of this library: its address names the module to GetModuleFileNameA.
const char moduleAnchor = 0;

struct StringEntry {
    int id;
    const char* text;
};

// The converter's string table; ids run without gaps from 100 to 165.
constexpr StringEntry kStrings[] = {
    {100, "Tarvo"},
    {101, "S-57 to Geodatabase"},
    {102, "Convert S-57 Cell to Geodatabase"},
    {103, "Data Converter"},
    {104, "Geodatabase to S-57"},
    {105, "Convert Geodatabase to S-57 Cell"},
    {106, "Unable to open Geodatabase"},
    {107, "Unable to open dsid table"},
    {108, "No cell information found in dsid table."},
    {109, "Open a File"},
    // The open-file filter: name and pattern pairs separated by '|', the list ended by "||".
    {110, "S-57 Cell|*.000|All files|*.*||"},
    {111, "Unable to create log file"},
    {112, "Unable to load DIMML files"},
    {113, "Unable to load file"},
    {114, "Unable to load catalog file"},
    {115, "Unable to load cell information"},
    {116, "Importing"},
    {117, "Opening workspace..."},
    {118, "Unable to update versioned Geodatabase"},
    {119, "Unable to load catalog table. Check table definition"},
    {120, "Unable to create Geodatabase table"},
    {121, "Import report for cell "},
    {122, "Loading objects..."},
    {123, "Unable to populate object category data."},
    {124, "Populating metadata..."},
    {125, "Unable to import meta data."},
    {126, "Populating spatial primitives..."},
    {127, "Unable to import vector data"},
    {128, "Populating features..."},
    {129, "Unable to import feature data"},
    {130, "Would you like to see the log file?"},
    {131, "Cell information already existed in dsnm table "},
    {132, "Populate point primitives..."},
    {133, "Populate line primitives..."},
    {134, "Importing point features..."},
    {135, "Importing line features..."},
    {136, "Importing area features..."},
    {137, "Exporting "},
    {138, "Export report for cell"},
    {139, "Unable to get cell extent, check dsnm and M_COVR."},
    {140, "Unable to create topology primitives"},
    {141, "Unable to create object file"},
    {142, "Exporting metadata..."},
    {143, "Exporting spatial primitives..."},
    {144, "Unable to export vector data record."},
    {145, "Unable to export meta data record"},
    {146, "Unable to export feature data record"},
    {147, "Exporting features..."},
    {148, "Unable to create directory"},
    {149, "Unable to export catalog file"},
    {150, "Unable export CATD to catalogue file "},
    {151, "Unable to close catalogue file"},
    {152, "Unable to find $ARCHOME directory"},
    {153, "Unable to open XML file"},
    {154, "Counting elements..."},
    {155, "Creating topology cache..."},
    {156, "Clean up data..."},
    {157, "Constructing topology elements..."},
    {158, "Constructing point elements..."},
    {159, "Updating relationship table..."},
    {160, "Unable to get topology information"},
    {161, "Please remove sounding class from topology set"},
    {162, "You choose to create new topology primitives. Your existing topology primitives for the "
          "selected cell will be deleted. Are you sure you want to proceed?"},
    {163, "Overlapping cell extent"},
    {164, "File exists. Do you want to overwrite it?"},
    {165, "Unable to open the feature class"},
};

constexpr int kFirstString = 100;
constexpr int kStringCount = int(sizeof kStrings / sizeof kStrings[0]);
static_assert(kStringCount == 66, "ids 100 to 165");

constexpr bool idsRunWithoutGaps() {
    for (int i = 0; i < kStringCount; ++i)
        if (kStrings[i].id != kFirstString + i) return false;
    return true;
}
static_assert(idsRunWithoutGaps(), "the table is indexed by id - 100");

// Where a failure of the message functions themselves goes.
void logComError(const char* function, const char* description) noexcept {
    FILE* out = logFile ? logFile : stderr;
    std::fprintf(out, "Error: %s::%s\n%s\n", kModule, function, description ? description : "");
}

void logComError(const char* function, const _com_error& e) noexcept {
    try {
        const _bstr_t description = e.Description();
        logComError(function, static_cast<const char*>(description));
    } catch (...) {
        logComError(function, "");
    }
}

}  // namespace

// ---- Run state ---------------------------------------------------------------------------------

FILE* logFile = nullptr;
IStepProgressorPtr stepProgressor;
int32_t cellCount = 0;
int32_t cellIndex = 0;
char primTypes[8][4] = {};
int32_t srelCounter = 0;
int32_t pointFeatureCount = 0;
int32_t lineFeatureCount = 0;
int32_t areaFeatureCount = 0;
// Until the COM server module takes it over at load, any address inside this library will do.
HMODULE moduleInstance = const_cast<char*>(&moduleAnchor);

namespace {
thread_local std::string* capturedLines = nullptr;
}  // namespace

LogCapture::LogCapture(std::string& into) : outer_(capturedLines) { capturedLines = &into; }

LogCapture::~LogCapture() { capturedLines = outer_; }

void logCaptured(std::string_view lines) {
    if (logFile && !lines.empty()) std::fwrite(lines.data(), 1, lines.size(), logFile);
}

void logLine(const char* format, ...) {
    if (std::string* into = capturedLines) {
        va_list args;
        va_start(args, format);
        char buf[512];
        va_list again;
        va_copy(again, args);
        const int n = std::vsnprintf(buf, sizeof buf, format, args);
        if (n > 0 && std::size_t(n) < sizeof buf) {
            into->append(buf, std::size_t(n));
        } else if (n > 0) {
            const std::size_t at = into->size();
            into->resize(at + std::size_t(n) + 1);
            std::vsnprintf(into->data() + at, std::size_t(n) + 1, format, again);
            into->resize(at + std::size_t(n));
        }
        va_end(again);
        va_end(args);
        return;
    }
    if (!logFile) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(logFile, format, args);
    va_end(args);
}

void logErrorOf(const char* module, const char* function, const char* description) {
    logLine("Error: %s::%s\n%s\n", module, function, description ? description : "");
}

std::string comErrorDescription(const _com_error& e) {
    try {
        const _bstr_t d = e.Description();
        const char* s = static_cast<const char*>(d);
        if (s && *s) return s;
    } catch (...) {
    }
    return e.ErrorMessage();
}

void logComErrorOf(const char* module, const char* function, const _com_error& e) {
    logErrorOf(module, function, comErrorDescription(e).c_str());
}

void closeRunLog() {
    if (logFile) {
        std::fclose(logFile);
        logFile = nullptr;
    }
}

int32_t runCellsAndEnd(const DriverNames& driver, const std::string& logPath, HRESULT& error, std::string& reason,
                       const std::function<void(IProgressDialog2Ptr& dialog)>& cells) {
    std::optional<ComSession> com(std::in_place);
    IProgressDialog2Ptr dialog;  // released before COM goes, on every way out
    const auto stop = [&](const _com_error& shown, HRESULT code, std::string description) {
        error = code;
        reason = std::move(description);
        if (driver.showBeforeLog) showComError(shown);
        logErrorOf(driver.module, driver.function, reason.c_str());
        if (!driver.showBeforeLog) showComError(shown);
    };
    try {
        cells(dialog);
    } catch (const _com_error& e) {
        stop(e, FAILED(e.Error()) ? e.Error() : E_FAIL, comErrorDescription(e));
    } catch (const std::bad_alloc&) {
        stop(_com_error(E_OUTOFMEMORY), E_OUTOFMEMORY, "out of memory");
    } catch (const std::exception& e) {
        stop(_com_error(E_FAIL), E_FAIL, e.what());
    }

    if (dialog) (void)dialog->raw_HideDialog();
    dialog = nullptr;
    stepProgressor = nullptr;
    com.reset();
    closeRunLog();
    const auto text = [](int id) { return _bstr_t(stringText(id) ? stringText(id) : ""); };
    const int answer = MessageBoxW(nullptr, text(130), text(driver.caption), MB_YESNO);
    if (answer == IDYES) (void)ui::viewLogFile(logPath);
    return 0;
}

int32_t decimalInt32(const char* text) {
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    // Coordinates come by the hundred thousand: nine digits cannot reach the clamp, so they go
    // without its test.
    int64_t v = 0;
    for (int i = 0; i < 9; ++i, ++p) {
        const unsigned d = unsigned(static_cast<unsigned char>(*p)) - unsigned('0');
        if (d > 9) return int32_t(negative ? -v : v);
        v = v * 10 + int64_t(d);
    }
    for (; *p >= '0' && *p <= '9'; ++p)
        if (v <= int64_t(INT32_MAX) + 1) v = v * 10 + (*p - '0');  // past the clamp it stays there
    if (negative) return v > -int64_t(INT32_MIN) ? INT32_MIN : int32_t(-v);
    return v > INT32_MAX ? INT32_MAX : int32_t(v);
}

void initPrimTypes() {
    static constexpr const char* kTypes[8] = {"VI", "VC", "VE", "FP", "FN", "FL", "FA", "FX"};
    for (int i = 0; i < 8; ++i) std::snprintf(primTypes[i], sizeof primTypes[i], "%s", kTypes[i]);
}

// ---- String table ------------------------------------------------------------------------------

const char* stringText(int id) {
    if (id < kFirstString || id >= kFirstString + kStringCount) return nullptr;
    return kStrings[id - kFirstString].text;
}

int loadString(int id, char* buf, int size) {
    if (!buf || size <= 0) return 0;
    const char* text = stringText(id);
    if (!text) {
        buf[0] = '\0';
        return 0;
    }
    const std::size_t n = std::min(std::strlen(text), std::size_t(size - 1));
    std::memcpy(buf, text, n);
    buf[n] = '\0';
    return int(n);
}

// ---- Messages ----------------------------------------------------------------------------------

void displayMessage(int textId, int captionId, const char* detail) {
    try {
        const char* caption = stringText(captionId);
        const char* text = stringText(textId);
        std::string message = text ? text : "";
        if (detail) message += detail;
        _bstr_t wideText(message.c_str());
        _bstr_t wideCaption(caption ? caption : "");
        MessageBoxW(nullptr, wideText, wideCaption, MB_OK);
    } catch (const _com_error& e) {
        logComError("displayMessage", e);
    } catch (const std::exception& e) {
        logComError("displayMessage", e.what());
    } catch (...) {
        logComError("displayMessage", "unexpected exception");
    }
}

std::string comErrorText(const _com_error& e) {
    // The code is printed as the 32-bit value it is; widening a negative HRESULT first would
    // print sixteen digits.
    char code[16];
    std::snprintf(code, sizeof code, "%08x", static_cast<unsigned>(static_cast<uint32_t>(e.Error())));
    std::string text = "Error\n";
    text += "\a\tCode = ";
    text += code;
    text += "\n";
    text += "\a\tCode meaning = ";
    text += e.ErrorMessage();
    return text;
}

void showComError(const _com_error& e) {
    try {
        _bstr_t text(comErrorText(e).c_str());
        _bstr_t caption(stringText(kCaptionS57ToGdb));
        MessageBoxW(nullptr, text, caption, MB_OK);
    } catch (const _com_error& inner) {
        logComError("showComError", inner);
    } catch (const std::exception& inner) {
        logComError("showComError", inner.what());
    } catch (...) {
        logComError("showComError", "unexpected exception");
    }
}

std::string debugLogPath() {
    const char* dir = std::getenv("TMPDIR");
    std::string path = (dir && *dir) ? dir : "/tmp";
    if (path.back() != '/') path += '/';
    return path + "s57.log";
}

void writeDebugLog(const char* text) {
    if (!text) return;
    try {
        if (FILE* f = std::fopen(debugLogPath().c_str(), "a")) {
            std::fputs(text, f);
            std::fclose(f);
        }
    } catch (...) {
        // A debug trace never stops a run.
    }
}
