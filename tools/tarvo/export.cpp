// tools/tarvo/export.cpp: `tarvo export`: picks the cell or exchange set to export, refuses an
// output that would overwrite what the run reads, and runs the export driver. The exit status is
// what the run returned and reported (never read back from its log). When the converter is
// registered, the run goes through the registered module's automation interface, else straight to
// the driver linked into the tool; a registered module that cannot be created is an error.
#include "tools/tarvo/export.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "export/gdbs57main.h"
#include "platform/gdb/gdb.h"
#include "platform/ui/ui.h"
#include "s57/dbutil.h"
#include "s57/gdb_template.h"
#include "s57/s57_util2.h"
#include "tools/tarvo/converter_run.h"
#include "tools/tarvo/enterprise.h"
#include "tools/tarvo/option_value.h"
#include "tools/tarvo/quiet_stdout.h"

namespace fs = std::filesystem;

namespace {

void usage(FILE* err) {
    std::fprintf(err, "usage: tarvo export GEODATABASE OUTPUT [--cell NAME] [--exchange-set CATL] [--dataset NAME]\n"
                      "                    [--create-topology]\n");
}

// The log viewer runs inside the driver, while standard output is quiet: on a terminal it is told
// to take the terminal itself, for the run only.
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

// Paths with either separator, as the file system takes them.
std::string onDisk(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

bool sameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    if (fs::equivalent(onDisk(a), onDisk(b), ec) && !ec) return true;
    const fs::path x = fs::weakly_canonical(onDisk(a), ec);
    if (ec) return false;
    const fs::path y = fs::weakly_canonical(onDisk(b), ec);
    return !ec && x == y;
}

// What the geodatabase can export: its cells (dsid DSNM) and exchange sets (distinct catd CATL),
// in table order. False when it cannot be opened.
struct Exportable {
    std::vector<std::string> cells, sets;
};

std::string valueText(const _variant_t& v) {
    if (v.vt == VT_NULL || v.vt == VT_EMPTY) return {};
    return static_cast<const char*>(_bstr_t(v));
}

std::vector<std::string> columnValues(IFeatureWorkspace* workspace, const char* table, const char* column) {
    std::vector<std::string> out;
    ITable* raw = nullptr;
    if (FAILED(workspace->raw_OpenTable(_bstr_t(table).GetBSTR(), &raw)) || !raw) return out;
    ITablePtr t;
    t.Attach(raw);
    const LONG index = t->FindField(column);
    if (index < 0) return out;
    ICursorPtr cursor = t->Search(nullptr, VARIANT_FALSE);
    for (IRowPtr row = cursor->NextRow(); row; row = cursor->NextRow()) {
        const std::string v = valueText(row->GetValue(index));
        if (v.empty()) continue;
        bool seen = false;
        for (const std::string& s : out) seen = seen || s == v;
        if (!seen) out.push_back(v);
    }
    return out;
}

bool readExportable(const std::string& gdb, Exportable* what) {
    try {
        IWorkspacePtr workspace;
        if (FAILED(openWorkspace(gdb.c_str(), &workspace)) || !workspace) return false;
        IFeatureWorkspacePtr featureWorkspace(workspace);
        if (!featureWorkspace) return false;
        what->cells = columnValues(featureWorkspace, "dsid", "DSNM");
        what->sets = columnValues(featureWorkspace, "catd", "CATL");
        return true;
    } catch (const _com_error&) {
        return false;
    }
}

// Runs the export through the registered converter. False when none is registered, or when the
// automation call cannot name the output: it writes the cell to s57path + its DSNM, so an output
// named otherwise goes straight to the driver. Else true, with *failure holding why the call did
// not reach the converter (empty when it did).
bool exportThroughRegistry(const std::string& output, const char* gdb, const std::string& dataset,
                           const std::string& cell, const std::string& set, bool createTopology,
                           std::string* failure) {
    const std::string folder = exportOutputDirectory(output);
    const std::size_t sep = output.find_last_of('/');
    const std::string name = sep == std::string::npos ? output : output.substr(sep + 1);
    // In catalogue mode the cell name is only the output's name (the log is named after it).
    if (name.empty() || (set.empty() && name != cell)) return false;
    return invokeRegistered("Tarvo.gdb2s57Cmd", L"gdb2s57",
                            {_variant_t(gdb), _variant_t(dataset.c_str()), _variant_t(folder.c_str()),
                             _variant_t(name.c_str()), _variant_t(set.c_str()), _variant_t(createTopology)},
                            failure);
}

}  // namespace

int runExport(int argc, char** argv, FILE* out, FILE* err) {
    const char* gdb = nullptr;
    const char* output = nullptr;
    std::string cell, set, dataset = kDefaultDatasetName;
    bool hasCell = false, hasSet = false, createTopology = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--create-topology") == 0) {
            createTopology = true;
            continue;
        }
        int taken = optionValue(argc, argv, i, "--cell", cell);
        if (taken > 0) hasCell = true;
        if (taken == 0) {
            taken = optionValue(argc, argv, i, "--exchange-set", set);
            if (taken > 0) hasSet = true;
        }
        if (taken == 0) taken = optionValue(argc, argv, i, "--dataset", dataset);
        if (taken < 0) {
            usage(err);
            return 2;
        }
        if (taken > 0) continue;
        if (a[0] == '-' && a[1]) {
            std::fprintf(err, "tarvo export: unknown option %s\n", a);
            usage(err);
            return 2;
        }
        if (!gdb) gdb = a;
        else if (!output) output = a;
        else {
            usage(err);
            return 2;
        }
    }
    if (!gdb || !output || (hasCell && hasSet)) {
        if (hasCell && hasSet) std::fprintf(err, "tarvo export: --cell and --exchange-set exclude each other\n");
        usage(err);
        return 2;
    }

    // Either separator parts folders.
    const std::string gdbPath = onDisk(gdb), outputPath = onDisk(output);
    gdb = gdbPath.c_str();
    output = outputPath.c_str();
    // A folder is no OUTPUT: the log's name would be cut from the folder's.
    if (outputPath.empty() || outputPath.back() == '/') {
        std::fprintf(err, "tarvo export: OUTPUT \"%s\" names no file: give the file to write (the cell's .000 file; "
                          "with --exchange-set, the CATALOG.031)\n", output);
        return 2;
    }
    const std::string logPath = exportLogPath(output);
    for (const std::string& written : {std::string(output), logPath}) {
        if (sameFile(written, gdb)) {
            std::fprintf(err, "tarvo export: %s is the geodatabase %s: it would be overwritten\n", written.c_str(), gdb);
            return 2;
        }
    }

    // A connection file is checked by connecting, so that a server that refuses is named at once.
    if (isConnectionFilePath(gdb)) {
        if (const std::string problem = enterpriseProblem(gdb, dataset, nullptr); !problem.empty()) {
            std::fprintf(err, "tarvo export: %s: %s\n", gdb, problem.c_str());
            return 1;
        }
    }
    const std::string label = geodatabaseLabel(gdb);

    std::error_code ec;
    const bool gdbExists = fs::exists(onDisk(gdb), ec);
    if (!hasCell && !hasSet && gdbExists) {
        Exportable what;
        bool opened;
        {
            QuietStdout quiet;
            opened = readExportable(gdb, &what);
        }
        if (opened) {
            if (what.cells.size() == 1) {
                cell = what.cells.front();
            } else if (what.cells.empty() && what.sets.empty()) {
                std::fprintf(err, "tarvo export: %s holds no cell to export (table dsid has no DSNM)\n",
                             label.c_str());
                return 1;
            } else {
                std::fprintf(err, "tarvo export: %s holds several things to export; choose one:\n", label.c_str());
                for (const std::string& c : what.cells) std::fprintf(err, "  --cell %s\n", c.c_str());
                for (const std::string& s : what.sets) std::fprintf(err, "  --exchange-set %s\n", s.c_str());
                return 1;
            }
        }
    }

    // The files of the set are read from the folder its CATL names: the set is not written there.
    if (hasSet) {
        const std::string folder = exportOutputDirectory(output);
        if (sameFile(folder, set)) {
            std::fprintf(err, "tarvo export: %s is the folder of the exchange set %s: it would be overwritten\n",
                         folder.c_str(), set.c_str());
            return 2;
        }
    }

    // The cell's stored primitives are deleted by the rebuild: asked first where someone can answer;
    // in batch the option is the consent.
    if (createTopology && ui::form() != ui::Form::Batch) {
        const int answer = MessageBoxA(nullptr, stringText(162), stringText(kCaptionGdbToS57), MB_YESNO);
        if (answer != IDYES) {
            std::fprintf(err, "tarvo export: not confirmed; nothing exported\n");
            return 1;
        }
    }

    ConverterRun<ExportOutcome> run;
    {
        ViewerOnTerminal viewer;
        QuietStdout quiet;
        run = runConverter<ExportOutcome>(
            [&](std::string* failure) {
                return exportThroughRegistry(output, gdb, dataset, cell, hasSet ? set : std::string(), createTopology,
                                             failure);
            },
            [&](ExportOutcome* outcome) {
                return gdb2s57(output, gdb, dataset.c_str(), cell.c_str(), hasSet ? set.c_str() : "", createTopology,
                               outcome);
            },
            exportRunCount, lastExportOutcome);
    }
    if (reportUnseenOutcome("export", gdb, run.registryFailure, run.outcomeSeen, logPath, err)) return 1;
    const ExportOutcome& outcome = run.outcome;
    const int rc = run.rc;
    if (rc != 0 || outcome.failed()) {
        std::string reason = outcome.reason;
        if (reason.empty()) reason = "the run ended with " + std::to_string(rc);
        std::fprintf(err, "tarvo export: %s: failed: %s (log %s)\n", label.c_str(), reason.c_str(), logPath.c_str());
        return 1;
    }
    const int cells = outcome.cellsExported;
    std::fprintf(out, "Exported %d cell%s of %s to %s (log %s)\n", cells, cells == 1 ? "" : "s", label.c_str(), output,
                 logPath.c_str());
    return 0;
}
