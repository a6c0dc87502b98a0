// tools/tarvo/import.cpp: `tarvo import`: runs the import driver on a base cell or an exchange set,
// creating the geodatabase first when there is none. The driver's result says only whether the run
// got past its opening; how it ended is what the run reported, so the exit status is read from the
// run's log.
#include "tools/tarvo/import.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "import/s572gdbmain.h"
#include "platform/ui/ui.h"
#include "s57/gdb_template.h"
#include "s57/s57_util2.h"

namespace {

void usage(FILE* err) { std::fprintf(err, "usage: tarvo import S57FILE GEODATABASE [--dataset NAME]\n"); }

// The catalogue readers trace every record on standard output; a command's output is its own.
class QuietStdout {
public:
    QuietStdout() {
        std::fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        if (saved_ >= 0 && null >= 0) dup2(null, STDOUT_FILENO);
        if (null >= 0) close(null);
    }
    ~QuietStdout() {
        std::fflush(stdout);
        if (saved_ >= 0) {
            dup2(saved_, STDOUT_FILENO);
            close(saved_);
        }
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

private:
    int saved_ = -1;
};

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
    int rc;
    {
        ViewerOnTerminal viewer;
        QuietStdout quiet;
        rc = s572gdb(s57file, gdb, dataset.c_str());
    }
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
