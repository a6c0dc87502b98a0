// tools/tarvo/import.cpp: `tarvo import`: checks what can be checked before anything is made (the
// input opens, the names fit, the geodatabase is one and can be written; an enterprise geodatabase's
// connection file by connecting), creates the geodatabase (or on a server the feature dataset)
// when there is none, runs the import driver and ends with one line: what was imported, or why the
// run failed. The exit status is what the run returned and reported (never read back from its log).
// When the converter is registered, the run goes through the registered module's automation
// interface (as any automation caller's would), else straight to the driver linked into the tool; a
// registered module that cannot be created is an error, not a reason to quietly run another copy.
// The driver's own output (trace lines on standard error, catalogue traces on standard output,
// batch messages) is not the command's: it is shown with --verbose only; on a terminal the
// progress bar, the questions and the log viewer keep the terminal.
#include "tools/tarvo/import.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "import/s572gdbmain.h"
#include "platform/gdb/gdb.h"
#include "platform/ui/ui.h"
#include "s57/dbutil.h"
#include "s57/gdb_template.h"
#include "tools/tarvo/converter_run.h"
#include "tools/tarvo/enterprise.h"
#include "tools/tarvo/option_value.h"
#include "tools/tarvo/quiet_stdout.h"
#include "tools/tarvo/unused_geodatabase.h"

namespace {

void usage(FILE* err) {
    std::fprintf(err, "usage: tarvo import S57FILE GEODATABASE [--dataset NAME] [--verbose]\n");
}

// A failure of the file system in words.
const char* reasonOfErrno(int e) {
    switch (e) {
    case ENOENT: return "no such file or folder";
    case EACCES:
    case EPERM: return "permission denied";
    case EROFS: return "read-only";
    case EISDIR: return "is a folder";
    case ENOSPC: return "disk full";
    case ENOTDIR: return "a part of the path is not a folder";
    default: return std::strerror(e);
    }
}

// Why the input cannot be imported; empty when it opens for reading and begins as an ISO/IEC 8211
// file does (a data descriptive record's leader: its length and base address in digits, leader
// identifier "L").
std::string inputProblem(const char* path) {
    struct stat st {};
    if (::stat(path, &st) != 0) return reasonOfErrno(errno);
    if (S_ISDIR(st.st_mode)) return "is a folder";
    const int fd = ::open(path, O_RDONLY);
    if (fd < 0) return reasonOfErrno(errno);
    char leader[24] = {};
    const ssize_t n = ::read(fd, leader, sizeof leader);
    ::close(fd);
    bool digits = n == ssize_t(sizeof leader);
    for (int i : {0, 1, 2, 3, 4, 12, 13, 14, 15, 16}) digits = digits && leader[i] >= '0' && leader[i] <= '9';
    if (!digits || leader[6] != 'L') return "not an S-57 file (no ISO/IEC 8211 leader)";
    return {};
}

// Why the folder of `path` takes no new file (the log, a new geodatabase); empty when it does.
std::string folderProblem(const std::string& path) {
    std::string dir = std::filesystem::path(path).parent_path().string();
    if (dir.empty()) dir = ".";
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) return std::string(reasonOfErrno(errno)) + " (folder " + dir + ")";
    if (!S_ISDIR(st.st_mode)) return dir + " is not a folder";
    if (::access(dir.c_str(), W_OK) != 0) return std::string(reasonOfErrno(errno)) + " (folder " + dir + ")";
    return {};
}

// Why an existing file is no geodatabase this command can import into; empty when it is one.
std::string geodatabaseProblem(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return reasonOfErrno(errno);
    if (S_ISDIR(st.st_mode)) return "is a folder";
    if (!S_ISREG(st.st_mode)) return "not a geodatabase";
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return reasonOfErrno(errno);
    unsigned char header[72] = {};
    const ssize_t n = ::read(fd, header, sizeof header);
    ::close(fd);
    // A GeoPackage is an SQLite file with the GeoPackage application id (big-endian, offset 68).
    if (n != ssize_t(sizeof header) || std::memcmp(header, "SQLite format 3", 16) != 0) return "not a geodatabase";
    const std::uint32_t id = std::uint32_t(header[68]) << 24 | std::uint32_t(header[69]) << 16 |
                             std::uint32_t(header[70]) << 8 | header[71];
    if (id != 0x47504B47u && id != 0x47503130u && id != 0x47503131u) return "not a geodatabase";
    if (::access(path.c_str(), W_OK) != 0) return errno == EACCES || errno == EROFS ? "read-only" : reasonOfErrno(errno);
    return folderProblem(path);  // the journal goes beside it
}

// The driver's output for the run: trace lines and catalogue traces dropped unless --verbose;
// the user interface keeps the terminal (and in batch says nothing: the result line does).
class RunOutput {
public:
    explicit RunOutput(bool verbose) {
        if (verbose) return;
        std::fflush(stderr);
        terminal_ = ::dup(STDERR_FILENO);
        null_ = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (terminal_ < 0 || null_ < 0) return;
        ::fcntl(terminal_, F_SETFD, FD_CLOEXEC);
        ui::setOutput(ui::form() == ui::Form::Terminal ? terminal_ : null_);
        quiet_ = ::dup2(null_, STDERR_FILENO) >= 0;
    }
    ~RunOutput() {
        std::fflush(stderr);
        if (quiet_) ::dup2(terminal_, STDERR_FILENO);
        ui::setOutput(-1);
        if (terminal_ >= 0) ::close(terminal_);
        if (null_ >= 0) ::close(null_);
    }
    RunOutput(const RunOutput&) = delete;
    RunOutput& operator=(const RunOutput&) = delete;

private:
    int terminal_ = -1;
    int null_ = -1;
    bool quiet_ = false;
};

// The words for a failure of the geodatabase, or null.
const char* reasonOf(HRESULT hr) { return FAILED(hr) ? gdbFailureReason(hr) : nullptr; }

}  // namespace

int runImport(int argc, char** argv, FILE* out, FILE* err) {
    const char* s57file = nullptr;
    const char* gdb = nullptr;
    std::string dataset = kDefaultDatasetName;
    bool verbose = verboseOutput();
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (options && std::strcmp(a, "--") == 0) {
            options = false;
        } else if (const int taken = options ? optionValue(argc, argv, i, "--dataset", dataset) : 0) {
            if (taken < 0) {
                usage(err);
                return 2;
            }
        } else if (options && (std::strcmp(a, "--verbose") == 0 || std::strcmp(a, "-v") == 0)) {
            verbose = true;
        } else if (options && a[0] == '-' && a[1]) {
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

    // Everything that can be checked before anything is made.
    if (const char* problem = datasetNameProblem(dataset.c_str())) {
        std::fprintf(err, "tarvo import: the dataset name %s %s\n", dataset.c_str(), problem);
        return 1;
    }
    if (const std::string problem = inputProblem(s57file); !problem.empty()) {
        std::fprintf(err, "tarvo import: %s: %s\n", s57file, problem.c_str());
        return 1;
    }
    const std::string logPath = importLogPath(s57file);
    if (const std::string problem = folderProblem(logPath); !problem.empty()) {
        std::fprintf(err, "tarvo import: %s: the log %s cannot be written: %s\n", s57file, logPath.c_str(),
                     problem.c_str());
        return 1;
    }
    // An enterprise geodatabase is checked by connecting; it is there to import into when it holds
    // the feature dataset, else its template is made first.
    const bool enterprise = isConnectionFilePath(gdb);
    bool create;
    if (enterprise) {
        bool hasDataset = false;
        if (const std::string problem = enterpriseProblem(gdb, dataset, &hasDataset); !problem.empty()) {
            std::fprintf(err, "tarvo import: %s: %s\n", gdb, problem.c_str());
            return 1;
        }
        create = !hasDataset;
    } else {
        const std::string ext = std::filesystem::path(gdb).extension().string();
        if (strcasecmp(ext.c_str(), ".gpkg") != 0 && strcasecmp(ext.c_str(), ".mdb") != 0) {
            std::fprintf(err, "tarvo import: %s: not a geodatabase path (.gpkg, .mdb or .sde)\n", gdb);
            return 1;
        }
        create = isNewGeodatabase(gdb);
        if (const std::string problem = create ? folderProblem(gdb) : geodatabaseProblem(gdb); !problem.empty()) {
            std::fprintf(err, "tarvo import: %s: %s\n", gdb, problem.c_str());
            return 1;
        }
    }
    const std::string label = geodatabaseLabel(gdb);

    bool made = false;  // this run made the geodatabase
    struct stat madeFile {};
    if (create) {
        TemplateSummary summary;
        HRESULT hr;
        {
            QuietStdout quiet;
            hr = createGeodatabase(gdb, dataset.c_str(), nullptr, verbose ? err : nullptr, &summary);
            // Another import may be making the same template on the server at this moment: a second
            // pass reuses what it made.
            if (FAILED(hr) && enterprise)
                hr = createGeodatabase(gdb, dataset.c_str(), nullptr, verbose ? err : nullptr, &summary);
        }
        if (FAILED(hr)) {
            const char* why = reasonOf(hr);
            if (why)
                std::fprintf(err, "tarvo import: %s: cannot create the geodatabase: %s\n", label.c_str(), why);
            else
                std::fprintf(err, "tarvo import: %s: cannot create the geodatabase (0x%08X)\n", label.c_str(),
                             unsigned(hr));
            return 1;
        }
        if (summary.geodatabaseCreated) {
            std::fprintf(out, "Created %s, feature dataset %s\n", gdb, dataset.c_str());
            made = ::stat(gdb, &madeFile) == 0;
        } else if (enterprise && summary.datasetCreated) {
            std::fprintf(out, "Created feature dataset %s in %s\n", dataset.c_str(), label.c_str());
        }
    }

    ConverterRun<ImportOutcome> run;
    {
        RunOutput output(verbose);
        QuietStdout quiet;
        run = runConverter<ImportOutcome>(
            [&](std::string* failure) {
                return invokeRegistered("Tarvo.s572gdbCmd", L"s572gdb",
                                        {_variant_t(s57file), _variant_t(gdb), _variant_t(dataset.c_str())}, failure);
            },
            [&](ImportOutcome* outcome) { return s572gdb(s57file, gdb, dataset.c_str(), outcome); }, importRunCount,
            lastImportOutcome);
    }
    if (reportUnseenOutcome("import", s57file, run.registryFailure, run.outcomeSeen, logPath, err)) return 1;
    const ImportOutcome& outcome = run.outcome;
    const int rc = run.rc;
    if (rc != 0 || outcome.failed()) {
        std::string reason = outcome.reason;
        if (outcome.message == 0 && FAILED(outcome.error)) reason = "Error: s572gdbmain::s572gdb: " + reason;
        if (reason.empty()) reason = "the run ended with " + std::to_string(rc);
        if (made && outcome.cellsImported == 0 && removeUnusedGeodatabase(gdb, madeFile))
            reason += "; the geodatabase made for it was removed";
        if (const char* why = reasonOf(outcome.error))
            std::fprintf(err, "tarvo import: %s: %s; %s: failed: %s (log %s)\n", label.c_str(), why, s57file,
                         reason.c_str(), logPath.c_str());
        else
            std::fprintf(err, "tarvo import: %s%s%s: failed: %s (log %s)\n", s57file, enterprise ? " into " : "",
                         enterprise ? label.c_str() : "", reason.c_str(), logPath.c_str());
        return 1;
    }
    const int cells = outcome.cellsImported;
    std::fprintf(out, "Imported %d cell%s of %s into %s, feature dataset %s, %ld value%s in table atto (log %s)\n",
                 cells, cells == 1 ? "" : "s", s57file, label.c_str(), dataset.c_str(), outcome.overflowValues,
                 outcome.overflowValues == 1 ? "" : "s", logPath.c_str());
    return 0;
}
