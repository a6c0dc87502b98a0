// import/s572gdbmain.cpp: module s572gdbmain, the import driver: the run's log, the order of the
// import steps, the progress dialog, the messages of every failure and the closing question.
// Every stop shows its message and writes it to the log; COM errors of the run are caught once,
// shown and logged; both are noted in the run's outcome for a caller that reports it. A cell that stops part-way leaves nothing of itself behind: its import runs
// in one edit session that is saved only when the whole cell got through.

#include "import/s572gdbmain.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "export/expcat.h"
#include "import/impcat.h"
#include "import/impf.h"
#include "import/impm.h"
#include "import/impv.h"
#include "platform/gdb/gdb.h"
#include "platform/ui/progress.h"
#include "platform/ui/ui.h"
#include "s57/dbutil.h"
#include "s57/dimml.h"
#include "s57/llist.h"
#include "s57/record_list.h"
#include "s57/s57_file.h"
#include "s57/s57_util2.h"

namespace {

constexpr char kModule[] = "s572gdbmain";

const char* text(int id) {
    const char* t = stringText(id);
    return t ? t : "";
}

std::string format(const char* fmt, const char* s) {
    char buf[32];
    const int n = std::snprintf(buf, sizeof buf, fmt, s);
    if (n < 0) return {};
    if (std::size_t(n) < sizeof buf) return buf;
    std::string out(std::size_t(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), fmt, s);
    out.resize(std::size_t(n));
    return out;
}

std::string detailCode(long code) {
    char buf[24];
    std::snprintf(buf, sizeof buf, " %ld", code);
    return buf;
}

std::string detailPathCode(const std::string& path, long code) {
    char num[24];
    std::snprintf(num, sizeof num, " - %ld", code);
    return " " + path + num;
}

// How a cell ended whose repeated records were left out: the names (the first few), once each.
std::string repeatedRecordsNote(const std::string& cell, const std::vector<std::string>& names) {
    std::string list;
    constexpr std::size_t kNamed = 5;
    for (std::size_t i = 0; i < names.size() && i < kNamed; ++i) list += (i ? ", " : "") + names[i];
    if (names.size() > kNamed) list += " and " + std::to_string(names.size() - kNamed) + " more";
    return cell + ": " + std::to_string(names.size()) + (names.size() == 1 ? " record" : " records") +
           " repeating an earlier record's name skipped (" + list + ")";
}

bool isSeparator(char c) { return c == '/' || c == '\\'; }

std::size_t lastSeparator(std::string_view path) {
    for (std::size_t i = path.size(); i-- > 0;)
        if (isSeparator(path[i])) return i;
    return std::string_view::npos;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (std::tolower(x) != std::tolower(y)) return false;
    }
    return true;
}

// A base cell's file name: from its last '.', ".000" (case ignored).
bool isBaseCellName(const char* name) {
    const char* dot = std::strrchr(name, '.');
    return dot && equalsNoCase(dot, ".000");
}

void logText(const char* s) {
    if (logFile) std::fputs(s, logFile);
}

// The outcome of the run in progress; null outside a run.
ImportOutcome* outcomeOfRun = nullptr;

// The run stops with message `id`; `error` is the geodatabase's result behind it, if any.
void noteStop(int id, const std::string& detail, HRESULT error = S_OK) {
    if (!outcomeOfRun || outcomeOfRun->message != 0) return;
    // The importers log a geodatabase failure and return their own code: its cause is asked for.
    if (!FAILED(error)) error = gdbStorageFailure();
    outcomeOfRun->message = id;
    if (FAILED(error)) outcomeOfRun->error = error;
    outcomeOfRun->reason = detail.empty() ? std::string(text(id)) : std::string(text(id)) + " " + detail;
}

// Message `id` with `detail` to the user and into the log ("%s %s" without a line end; the text
// alone when there is no detail).
void stopWith(int id, const std::string& detail, HRESULT error = S_OK) {
    noteStop(id, detail, error);
    displayMessage(id, kCaptionS57ToGdb, detail.c_str());
    if (!logFile) return;
    if (detail.empty())
        std::fputs(text(id), logFile);
    else
        std::fprintf(logFile, "%s %s", text(id), detail.c_str());
}

void logError(const char* function, const char* description) { logErrorOf(kModule, function, description); }

// The CATALOG entries of a run and the cross references read with them; freed at the end.
struct CatalogLists {
    CatalogEntryList entries{};
    CatalogXrefList xrefs{};
    ~CatalogLists() { freeCatalogRecList(&entries, &xrefs); }
};

// One cell's records, topology cache and file, released in that order.
struct CellData {
    Iso8211File file{};
    llist* records = nullptr;
    Cache cache{};
    bool cacheReady = false;
    void release() {
        if (records) {
            llist_destroy(records);
            records = nullptr;
        }
        releaseObjectRecords();  // decoded records no importer asked for
        if (cacheReady) {
            cache_free(&cache);
            cacheReady = false;
        }
        if (file.fp) (void)Close8211File(&file);
        file = Iso8211File{};
    }
    ~CellData() { release(); }
};

// An edit session that is discarded unless it was saved: a stop or a COM error part-way through a
// cell must not leave half a cell behind.
class EditSession {
public:
    explicit EditSession(IWorkspace* workspace) : edit_(workspace) {}
    ~EditSession() { discard(); }
    EditSession(const EditSession&) = delete;
    EditSession& operator=(const EditSession&) = delete;

    void start() {
        edit_->StartEditing(VARIANT_FALSE);
        open_ = true;
    }
    void save() {
        if (!open_) return;
        open_ = false;
        edit_->StopEditing(VARIANT_TRUE);
    }
    void discard() noexcept {
        if (!open_) return;
        open_ = false;
        if (edit_) (void)edit_->raw_StopEditing(VARIANT_FALSE);
    }

private:
    IWorkspaceEditPtr edit_;
    bool open_ = false;
};

// Progress position of step k of the current cell.
LONG position(int k) { return LONG(cellIndex * 100 / cellCount + k / cellCount); }

void step(int k) {
    stepProgressor->PutPosition(position(k));
    stepProgressor->Show();
}

void stepMessage(int id) { stepProgressor->PutMessage(_bstr_t(text(id))); }

bool createdOrReused(HRESULT hr) { return hr == S_OK || hr == GDB_E_NAME_EXISTS; }

// Rows of a table of the workspace; 0 when it is not there or cannot be counted.
long rowCount(IFeatureWorkspace* workspace, const char* name) noexcept {
    try {
        ITablePtr table;
        if (FAILED(workspace->raw_OpenTable(_bstr_t(name).GetBSTR(), &table)) || !table) return 0;
        LONG n = 0;
        return SUCCEEDED(table->raw_RowCount(nullptr, &n)) ? long(n) : 0;
    } catch (...) {
        return 0;
    }
}

// Steps 8 to 27 of a run, inside the run's COM error handler. Returns when the run is over,
// however it ended; the dialog is left to the caller to hide.
void importCells(const std::string& s57file, const char* gdbConn, const char* fctdataset,
                 const std::string& directory, const std::string& fileName, bool catalogMode,
                 const CatalogLists& catalog, IProgressDialog2Ptr& dialog) {
    ICancelTrackerPtr tracker(kCLSID_CancelTracker);
    IProgressDialogFactoryPtr factory(kCLSID_ProgressDialogFactory);
    stepProgressor = factory->Create(tracker, 0);
    dialog = stepProgressor;
    stepProgressor->PutMinRange(0);
    stepProgressor->PutMaxRange(100);

    const std::string titleTail = format(" %s...", fileName.c_str());
    dialog->PutTitle(_bstr_t((std::string(text(116)) + titleTail).c_str()));
    dialog->ShowDialog();
    stepMessage(117);

    IWorkspacePtr workspace;
    const HRESULT opened = openWorkspace(gdbConn, &workspace);
    if (FAILED(opened) || !workspace) {
        stopWith(106, detailCode(FAILED(opened) ? opened : E_FAIL), FAILED(opened) ? opened : E_FAIL);
        return;
    }
    IFeatureWorkspacePtr featureWorkspace(workspace);
    if (checkExistingFeatureClass(featureWorkspace) != 0) {
        stopWith(165, {});
        return;
    }
    IFeatureDatasetPtr dataset = featureWorkspace->OpenFeatureDataset(_bstr_t(fctdataset));
    if (workspace->GetType() == esriRemoteDatabaseWorkspace) {
        IVersionedObjectPtr versioned(dataset);
        if (versioned && versioned->GetIsRegisteredAsVersioned()) {
            stopWith(118, {});
            return;
        }
    }

    if (catalogMode && catalog.entries.count > 0) {
        const int rc = importCATD(featureWorkspace, catalog.entries.count, catalog.entries.entries,
                                  directory.c_str());
        if (rc == 8) {
            noteStop(163, titleTail);
            displayMessage(163, kCaptionS57ToGdb, titleTail.c_str());
            logText(text(163));
            return;
        }
        if (rc != 0) {
            stopWith(119, detailCode(rc));
            return;
        }
    }

    step(5);

    ITablePtr objcat, stat, srel;
    HRESULT hr = createGDBTable(featureWorkspace, "objcat", &objcat, 4, objcatFieldDefs);
    if (!createdOrReused(hr)) {
        stopWith(120, " objcat" + detailCode(hr), hr);
        return;
    }
    hr = createGDBTable(featureWorkspace, "stat", &stat, 5, statFieldDefs);
    if (!createdOrReused(hr)) {
        stopWith(120, " stat" + detailCode(hr), hr);
        return;
    }
    hr = createGDBTable(featureWorkspace, "srel", &srel, fieldDefCount(srelFieldDefs), srelFieldDefs);
    if (!createdOrReused(hr)) {
        stopWith(120, " srel" + detailCode(hr), hr);
        return;
    }

    const long overflowBefore = rowCount(featureWorkspace, "atto");
    struct OverflowCount {
        IFeatureWorkspace* workspace;
        long before;
        ~OverflowCount() {
            if (outcomeOfRun) outcomeOfRun->overflowValues = std::max(0L, rowCount(workspace, "atto") - before);
        }
    } overflow{featureWorkspace, overflowBefore};

    const std::string dashes(38, '-');
    int32_t next = 0;  // the catalogue entry to look at for the next cell
    while (cellIndex < cellCount) {
        std::string cellPath;
        if (catalogMode) {
            while (next < catalog.entries.count && !isBaseCellName(catalog.entries.entries[next].file)) ++next;
            if (next >= catalog.entries.count) break;  // cellCount counted these entries
            // FILE may hold '\' subfolders; each level is found on disk without regard to case.
            cellPath = exchangeSetFilePath(directory.c_str(), catalog.entries.entries[next].file);
            ++next;
        } else {
            cellPath = s57file;
        }
        const std::size_t sep = lastSeparator(cellPath);
        const std::string cellFileName = sep == std::string::npos ? cellPath : cellPath.substr(sep + 1);

        if (logFile) {
            std::fprintf(logFile, "%s\n", dashes.c_str());
            std::fprintf(logFile, "%s %s\n", text(121), cellFileName.c_str());
            std::fprintf(logFile, "%s\n", dashes.c_str());
        }
        dialog->PutTitle(_bstr_t((std::string(text(116)) + format(" %s...", cellFileName.c_str())).c_str()));
        stepMessage(122);

        // The importers take the cell name as a fixed buffer; a longer name is refused whole.
        char cellName[kCellNameSize] = {};
        if (cellFileName.size() >= sizeof cellName) {
            stopWith(113, detailPathCode(cellPath, -11) + ": the cell name is longer than the geodatabase's cell "
                                                          "name column allows (" +
                              std::to_string(sizeof cellName - 1) + " bytes)");
            return;
        }
        std::memcpy(cellName, cellFileName.c_str(), cellFileName.size() + 1);

        CellData cell;
        int rc = loadObjectRecList(&cell.file, cellPath.c_str(), &cell.records);
        if (rc != 0) {
            stopWith(113, detailPathCode(cellPath, rc));
            return;
        }
        int hasFX = 0;
        rc = cache_initialize(&cell.cache, cell.records, &hasFX);
        if (rc != 0) {
            stopWith(113, detailPathCode(cellPath, rc));
            return;
        }
        cell.cacheReady = true;

        EditSession edit(workspace);
        edit.start();

        stepMessage(124);
        int32_t comf = 1, somf = 1;
        rc = importMeta(featureWorkspace, &cell.file, cell.records, &comf, &somf, cellName);
        if (rc != 0) {
            edit.discard();
            stopWith(125, detailCode(rc));
            return;
        }

        step(20);
        stepMessage(126);
        ISpatialReferencePtr spatialReference = IGeoDatasetPtr(dataset)->GetSpatialReference();
        rc = importVector(featureWorkspace, &cell.file, cell.records, comf, somf, srel, &cell.cache,
                          spatialReference, cellName);
        if (rc != 0) {
            edit.discard();
            stopWith(127, detailCode(rc));
            return;
        }

        step(35);
        stepMessage(128);
        rc = importFeature(featureWorkspace, &cell.file, cell.records, srel, &cell.cache, hasFX,
                           spatialReference, cellName);
        if (rc != 0) {
            edit.discard();
            stopWith(129, detailCode(rc));
            return;
        }
        // The cell's records and topology cache go before the commit, whose pages are the run's
        // peak of memory.
        cell.release();
        edit.save();
        if (const auto& repeated = repeatedObjectRecords(); !repeated.empty()) {
            const std::string note = repeatedRecordsNote(cellFileName, repeated);
            displayMessage(121, kCaptionS57ToGdb, note.c_str());
            if (logFile) std::fprintf(logFile, "%s\n", note.c_str());  // no second report header
        }
        ++cellIndex;
        if (outcomeOfRun) ++outcomeOfRun->cellsImported;
    }
}

}  // namespace

std::string importLogPath(std::string_view s57file) {
    const std::size_t keep = s57file.size() > 4 ? s57file.size() - 4 : 0;
    std::string path = std::string(s57file.substr(0, keep)) + ".log";
    // An input named *.log would be opened for writing as its own log and lost: its log goes after it.
    std::error_code ec;
    if (path == s57file || std::filesystem::equivalent(path, std::string(s57file), ec))
        path = std::string(s57file) + ".log";
    return path;
}

HRESULT checkExistingFeatureClass(IFeatureWorkspace* featureWorkspace) {
    try {
        if (!featureWorkspace) return E_FAIL;
        HRESULT result = S_OK;
        std::vector<std::string> tried;
        for (int32_t i = 0; i < objectMapCount; ++i) {
            const char* name = objectMaps[i].gdbName;
            bool seen = false;
            for (const auto& t : tried)
                if (equalsNoCase(t, name)) seen = true;
            if (seen) continue;  // one class serves many object classes: try and log it once
            tried.emplace_back(name);
            IFeatureClassPtr featureClass;
            const HRESULT hr = featureWorkspace->raw_OpenFeatureClass(_bstr_t(name).GetBSTR(), &featureClass);
            if (FAILED(hr) || !featureClass) {
                if (logFile) std::fprintf(logFile, "%s %s\n", text(165), name);
                result = E_FAIL;
            }
        }
        return result;
    } catch (const _com_error& e) {
        logError("checkExistingFeatureClass", comErrorDescription(e).c_str());
        return E_FAIL;
    } catch (const std::exception& e) {
        logError("checkExistingFeatureClass", e.what());
        return E_FAIL;
    }
}

namespace {
ImportOutcome lastOutcome;       // how the latest run ended, for callers that reach the driver only
unsigned long runsEnded = 0;     // through an interface that answers S_OK whatever happened
}  // namespace

const ImportOutcome& lastImportOutcome() { return lastOutcome; }
unsigned long importRunCount() { return runsEnded; }

int s572gdb(const char* s57file, const char* gdbConn, const char* fctdataset) {
    return s572gdb(s57file, gdbConn, fctdataset, nullptr);
}

int s572gdb(const char* s57file, const char* gdbConn, const char* fctdataset, ImportOutcome* outcome) {
    ImportOutcome own;
    ImportOutcome& result = outcome ? *outcome : own;
    result = ImportOutcome{};
    RunOutcomeScope<ImportOutcome> running(&result, outcomeOfRun, lastOutcome, runsEnded);
    clearGdbStorageFailure();
    if (!s57file || !gdbConn || !fctdataset) {
        result.error = E_POINTER;
        return -19;
    }
    try {
        initPrimTypes();

        // Opening: the log, the catalogue, the input.
        const std::string input = s57file;
        const std::string logPath = importLogPath(input);
        logFile = std::fopen(logPath.c_str(), "w");
        if (!logFile) {
            noteStop(111, format(" %s", logPath.c_str()).substr(1));
            displayMessage(111, kCaptionS57ToGdb, format(" %s", logPath.c_str()).c_str());
            return -2;
        }

        s57ObjectCount = kBuiltinS57ObjectCount;
        s57AttributeCount = kBuiltinS57AttributeCount;
        s57SetCount = kBuiltinS57SetCount;
        const HRESULT loaded = loadDIMEInfo();
        if (loaded != 0) {
            noteStop(112, {});
            displayMessage(112, kCaptionS57ToGdb, "");
            logText(text(112));
            closeRunLog();
            installBuiltinCatalogue();
            return loaded;
        }

        int rc = checkFileAccess(s57file);
        if (rc != 0) {
            stopWith(113, detailPathCode(input, rc));
            closeRunLog();
            return rc;
        }

        const std::size_t sep = lastSeparator(input);
        const std::string directory = sep == std::string::npos ? std::string() : input.substr(0, sep);
        const std::string fileName = sep == std::string::npos ? input : input.substr(sep + 1);
        std::string lowered = fileName;
        (void)toLowerCase(lowered.data());
        cellCount = 1;

        CatalogLists catalog;
        bool catalogMode = false;
        if (lowered.compare(0, 10, "catalog.03") == 0) {
            Iso8211File catalogFile{};
            rc = loadCatalogRecList(&catalogFile, s57file, &catalog.entries, &catalog.xrefs);
            if (catalogFile.fp) (void)Close8211File(&catalogFile);
            if (rc != 0) {
                stopWith(113, detailPathCode(input, rc));
                closeRunLog();
                return rc;
            }
            cellCount = 0;
            for (int32_t i = 0; i < catalog.entries.count; ++i)
                if (isBaseCellName(catalog.entries.entries[i].file)) ++cellCount;
            catalogMode = true;
        }
        if (cellCount <= 0) {
            noteStop(115, {});
            displayMessage(115, kCaptionS57ToGdb, "");
            logText(text(115));
            closeRunLog();
            return 0;
        }

        // Set-up and cells.
        cellIndex = 0;
        return runCellsAndEnd({kModule, "s572gdb", kCaptionS57ToGdb, true}, logPath, result.error, result.reason,
                              [&](IProgressDialog2Ptr& dialog) {
                                  importCells(input, gdbConn, fctdataset, directory, fileName, catalogMode, catalog,
                                              dialog);
                              });
    } catch (...) {
        // Out of memory in the opening's strings, or what no handler of the cells takes.
        return abandonRun(result);
    }
}
