// tools/tarvo/import.cpp: `tarvo import`: runs the import driver on a base cell or an exchange set,
// creating the geodatabase first when there is none. When the converter is registered, the run goes
// through the registered module's automation interface (as any automation caller's would), else
// straight to the driver linked into the tool; a registered module that cannot be created is an
// error, not a reason to quietly run another copy. The driver's result says only whether the run
// got past its opening; how it ended is what the run reported, so the exit status is read from the
// run's log.
#include "tools/tarvo/import.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "import/s572gdbmain.h"
#include "platform/com/typelib.h"
#include "platform/ui/ui.h"
#include "s57/gdb_template.h"
#include "s57/s57_util2.h"
#include "tools/tarvo/quiet_stdout.h"

namespace {

void usage(FILE* err) { std::fprintf(err, "usage: tarvo import S57FILE GEODATABASE [--dataset NAME]\n"); }

// The log viewer runs inside the driver, while standard output is quiet: on a terminal it is told
// to take the terminal itself (through the command the viewer is started with), for the run only.
class ViewerOnTerminal {
public:
    ViewerOnTerminal() {
        if (ui::form() != ui::Form::Terminal) return;
        const char* visual = std::getenv("VISUAL");
        if (visual) saved_ = visual;
        hadVisual_ = visual != nullptr;
        const char* editor = visual && *visual ? visual : std::getenv("EDITOR");
        const std::string viewer = editor && *editor ? editor : "less";
        set_ = setenv("VISUAL", ("exec </dev/tty >/dev/tty; " + viewer).c_str(), 1) == 0;
    }
    ~ViewerOnTerminal() {
        if (!set_) return;
        if (hadVisual_)
            setenv("VISUAL", saved_.c_str(), 1);
        else
            unsetenv("VISUAL");
    }
    ViewerOnTerminal(const ViewerOnTerminal&) = delete;
    ViewerOnTerminal& operator=(const ViewerOnTerminal&) = delete;

private:
    std::string saved_;
    bool hadVisual_ = false;
    bool set_ = false;
};

// The importers trace every record on standard error ("importVE: ..."), where the terminal's
// progress bar and prompts also go. On a terminal, standard error becomes a pseudo-terminal of the
// same size (so the bar is still drawn) whose output is passed on without the trace lines.
class TraceFilter {
public:
    TraceFilter() {
        if (ui::form() != ui::Form::Terminal || !isatty(STDERR_FILENO)) return;
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0) return;
        const char* name = grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : nullptr;
        const int slave = name ? open(name, O_RDWR | O_NOCTTY) : -1;
        if (slave < 0) {
            close(master);
            return;
        }
        termios raw{};
        if (tcgetattr(slave, &raw) == 0) {
            cfmakeraw(&raw);
            tcsetattr(slave, TCSANOW, &raw);
        }
        winsize size{};
        if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0) ioctl(slave, TIOCSWINSZ, &size);
        std::fflush(stderr);
        terminal_ = dup(STDERR_FILENO);
        if (terminal_ < 0 || dup2(slave, STDERR_FILENO) < 0) {
            if (terminal_ >= 0) close(terminal_);
            terminal_ = -1;
            close(slave);
            close(master);
            return;
        }
        close(slave);
        master_ = master;
        thread_ = std::thread([this] { pass(); });
    }
    ~TraceFilter() {
        if (master_ < 0) return;
        std::fflush(stderr);
        dup2(terminal_, STDERR_FILENO);  // the last slave descriptor goes: the reader sees the end
        thread_.join();
        close(master_);
        close(terminal_);
    }
    TraceFilter(const TraceFilter&) = delete;
    TraceFilter& operator=(const TraceFilter&) = delete;

private:
    // A trace line begins "importVI: ", "importFP: " ... and ends with its line feed.
    static std::size_t traceStart(const std::string& s, std::size_t from) {
        for (std::size_t i = s.find("import", from); i != std::string::npos; i = s.find("import", i + 1))
            if (i + 10 <= s.size() && (s[i + 6] == 'V' || s[i + 6] == 'F') && std::isupper(static_cast<unsigned char>(s[i + 7])) &&
                s[i + 8] == ':' && s[i + 9] == ' ')
                return i;
        return std::string::npos;
    }
    // Whether the text from i on (shorter than a trace prefix) may grow into one.
    static bool mayStartTrace(const std::string& s, std::size_t i) {
        for (std::size_t k = 0; i + k < s.size(); ++k) {
            const char c = s[i + k];
            const bool ok = k < 6   ? c == "import"[k]
                            : k == 6 ? (c == 'V' || c == 'F')
                            : k == 7 ? std::isupper(static_cast<unsigned char>(c)) != 0
                            : k == 8 ? c == ':'
                                     : c == ' ';
            if (!ok) return false;
        }
        return true;
    }
    void put(const std::string& s) const {
        for (std::size_t done = 0; done < s.size();) {
            const ssize_t n = write(terminal_, s.data() + done, s.size() - done);
            if (n <= 0) return;
            done += std::size_t(n);
        }
    }
    void pass() {
        std::string pending;
        char buf[4096];
        for (;;) {
            const ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0) break;
            pending.append(buf, std::size_t(n));
            std::string out;
            std::size_t at = 0;
            for (;;) {
                const std::size_t t = traceStart(pending, at);
                if (t == std::string::npos) break;
                const std::size_t end = pending.find('\n', t);
                out.append(pending, at, t - at);
                if (end == std::string::npos) {
                    at = t;  // the rest of the trace line is still to come
                    break;
                }
                at = end + 1;
            }
            if (traceStart(pending, at) == at && at < pending.size()) {
                put(out);
                pending.erase(0, at);
                continue;
            }
            // Keep a tail that may be the beginning of a trace line.
            std::size_t keep = pending.size();
            for (std::size_t i = pending.size() > 9 ? std::max(at, pending.size() - 9) : at; i < pending.size(); ++i)
                if (mayStartTrace(pending, i)) {
                    keep = i;
                    break;
                }
            out.append(pending, at, keep - at);
            put(out);
            pending.erase(0, keep);
        }
        put(pending);
    }

    int master_ = -1;
    int terminal_ = -1;
    std::thread thread_;
};

// The messages with which the driver ends a run that failed, as they stand in its log.
constexpr int kFailureTexts[] = {106, 111, 112, 113, 115, 118, 119, 120, 125, 127, 129, 163, 165};
constexpr char kRunError[] = "Error: s572gdbmain::s572gdb";

// The first line of the log that tells of a failed run; empty when the run went through.
std::string failureInLog(const std::string& logPath, bool* readable) {
    std::ifstream in(logPath, std::ios::binary);
    *readable = bool(in);
    if (!in) return {};
    std::string line;
    while (std::getline(in, line)) {
        if (line.find(kRunError) != std::string::npos) {
            std::string next;
            if (std::getline(in, next)) line += ": " + next;
            return line;
        }
        for (int id : kFailureTexts) {
            const char* text = stringText(id);
            if (text && line.find(text) != std::string::npos) return line;
        }
    }
    return {};
}

// Runs the import through the registered converter. False when none is registered; else true, with
// *ok telling whether the call reached it (failures are written to err).
bool importThroughRegistry(const char* s57file, const char* gdb, const char* dataset, FILE* err, bool* ok) {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID("Tarvo.s572gdbCmd", &clsid))) return false;
    IDispatchPtr converter;
    HRESULT hr = converter.CreateInstance(clsid);
    if (SUCCEEDED(hr))
        hr = invokeByName(converter, L"s572gdb", {_variant_t(s57file), _variant_t(gdb), _variant_t(dataset)});
    *ok = SUCCEEDED(hr);
    if (!*ok) {
        const std::string description = toUtf8(takeErrorDescription());
        std::fprintf(err, "tarvo import: the registered converter Tarvo.s572gdbCmd failed: 0x%08X %s%s%s\n",
                     unsigned(hr), errorMessageOf(hr).c_str(), description.empty() ? "" : ": ",
                     description.c_str());
    }
    return true;
}

int countCells(const std::string& logPath) {
    std::ifstream in(logPath, std::ios::binary);
    const char* header = stringText(121);
    int n = 0;
    std::string line;
    while (in && header && std::getline(in, line))
        if (line.rfind(header, 0) == 0) ++n;
    return n;
}

}  // namespace

int runImport(int argc, char** argv, FILE* out, FILE* err) {
    const char* s57file = nullptr;
    const char* gdb = nullptr;
    std::string dataset = kDefaultDatasetName;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--dataset") == 0) {
            if (i + 1 >= argc || !argv[i + 1][0]) {
                usage(err);
                return 2;
            }
            dataset = argv[++i];
        } else if (std::strncmp(a, "--dataset=", 10) == 0 && a[10]) {
            dataset = a + 10;
        } else if (a[0] == '-' && a[1]) {
            std::fprintf(err, "tarvo import: unknown option %s\n", a);
            usage(err);
            return 2;
        } else if (!s57file) {
            s57file = a;
        } else if (!gdb) {
            gdb = a;
        } else {
            usage(err);
            return 2;
        }
    }
    if (!s57file || !gdb) {
        usage(err);
        return 2;
    }

    std::error_code ec;
    if (!std::filesystem::exists(gdb, ec)) {
        TemplateSummary summary;
        HRESULT hr;
        {
            QuietStdout quiet;
            hr = createGeodatabase(gdb, dataset.c_str(), nullptr, err, &summary);
        }
        if (FAILED(hr)) {
            std::fprintf(err, "tarvo import: %s: cannot create the geodatabase (0x%08X)\n", gdb, unsigned(hr));
            return 1;
        }
        std::fprintf(out, "Created %s, feature dataset %s\n", gdb, dataset.c_str());
    }

    const std::string logPath = importLogPath(s57file);
    int rc = 0;
    bool reached = true;
    {
        ViewerOnTerminal viewer;
        TraceFilter filter;
        QuietStdout quiet;
        if (!importThroughRegistry(s57file, gdb, dataset.c_str(), err, &reached))
            rc = s572gdb(s57file, gdb, dataset.c_str());
    }
    if (!reached) return 1;
    if (rc != 0) {
        std::fprintf(err, "tarvo import: %s: failed (%d)\n", s57file, rc);
        return 1;
    }
    bool readable = false;
    const std::string failure = failureInLog(logPath, &readable);
    if (!readable) {
        std::fprintf(err, "tarvo import: %s: the log %s cannot be read\n", s57file, logPath.c_str());
        return 1;
    }
    if (!failure.empty()) {
        std::fprintf(err, "tarvo import: %s: failed: %s (log %s)\n", s57file, failure.c_str(), logPath.c_str());
        return 1;
    }
    const int cells = countCells(logPath);
    std::fprintf(out, "Imported %d cell%s of %s into %s, feature dataset %s (log %s)\n", cells,
                 cells == 1 ? "" : "s", s57file, gdb, dataset.c_str(), logPath.c_str());
    return 0;
}
