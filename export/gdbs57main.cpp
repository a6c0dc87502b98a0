// export/gdbs57main.cpp: module gdbs57main, the export driver: the run's log, the order of the
// export steps per cell, the progress dialog, the messages of every failure and the closing
// question. Every stop shows its message and writes it to the log; COM errors of the run are caught
// once, shown and logged. A cell whose export stops part-way leaves no file behind: what was
// written of it is removed, so that no half cell stands beside the log that reports the failure.

#include "export/gdbs57main.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string_view>
#include <new>
#include <string>
#include <vector>

#include "export/aotopology.h"
#include "export/cell_ddr.h"
#include "export/cell_extent.h"
#include "export/expcat.h"
#include "export/expf.h"
#include "export/expm.h"
#include "export/expv.h"
#include "export/srel_list.h"
#include "platform/gdb/gdb.h"
#include "platform/ui/progress.h"
#include "platform/ui/ui.h"
#include "s57/dbutil.h"
#include "s57/dimml.h"
#include "s57/s57_file.h"
#include "s57/s57_util2.h"

namespace {

constexpr char kModule[] = "gdbs57main";

const char* text(int id) {
    const char* t = stringText(id);
    return t ? t : "";
}

std::string format(const char* fmt, const std::string& s) {
    const int n = std::snprintf(nullptr, 0, fmt, s.c_str());
    if (n < 0) return {};
    std::string out(std::size_t(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), fmt, s.c_str());
    out.resize(std::size_t(n));
    return out;
}

std::string detailCode(long code) {
    char buf[24];
    std::snprintf(buf, sizeof buf, " %ld", code);
    return buf;
}

bool isSeparator(char c) { return c == '/' || c == '\\'; }

std::size_t lastSeparator(std::string_view path) {
    for (std::size_t i = path.size(); i-- > 0;)
        if (isSeparator(path[i])) return i;
    return std::string_view::npos;
}

// The outcome of the run in progress; null outside a run.
ExportOutcome* outcomeOfRun = nullptr;

// The run stops with message `id` (0: a stop that has no message of its own, given as E_FAIL).
void noteStop(int id, const std::string& reason) {
    if (!outcomeOfRun || outcomeOfRun->failed()) return;
    outcomeOfRun->message = id;
    if (id == 0) outcomeOfRun->error = E_FAIL;
    outcomeOfRun->reason = reason;
}

// Message `id` with `detail` to the user and into the log ("%s %s" without a line end).
void stopWith(int id, const std::string& detail) {
    noteStop(id, text(id) + detail);
    displayMessage(id, kCaptionGdbToS57, detail.c_str());
    if (logFile) std::fprintf(logFile, "%s %s", text(id), detail.c_str());
}

void logError(const char* function, const char* description) { logErrorOf(kModule, function, description); }

// The cell file being written: closed on every way out; removed unless the cell got through.
class CellFile {
public:
    explicit CellFile(std::string path) : path_(std::move(path)) {}
    ~CellFile() {
        if (file.fp) (void)Close8211File(&file);
        // A folder at the path is none of the run's writing (the file could not be made there).
        std::error_code ec;
        if (!done_ && !std::filesystem::is_directory(path_, ec)) std::filesystem::remove(path_, ec);
    }
    CellFile(const CellFile&) = delete;
    CellFile& operator=(const CellFile&) = delete;
    // Closes the finished file; false when the close fails (the file is then removed).
    int finish() {
        const int rc = Close8211File(&file);
        done_ = rc == 0;
        return rc;
    }

    Iso8211File file{};

private:
    std::string path_;
    bool done_ = false;
};

// The DSSI record counts of a written cell made those of its records: the stored counts are the
// imported cell's, and the export writes only what lies in the cell (a cell whose DSSI miscounted
// is counted right). Reads the file back, then overwrites the eight b14 counts of its DSSI field in
// place. 0; -1 when the file cannot be read or holds no binary DSSI where the DDR puts it.
// NOMR ... NOFA from the bytes of a cell written with the binary DDR: a data record's first VRID or
// FRID field starts with its binary RCNM, and a FRID has its OBJL (b12) at byte 7. False when the
// file is not laid out so (the counts are then left to the record reader).
bool countRecordBytes(const std::string& bytes, uint32_t counts[8]) {
    auto number = [&](std::size_t at, int n, long* v) {
        *v = 0;
        if (at + std::size_t(n) > bytes.size()) return false;
        for (int i = 0; i < n; ++i) {
            const char c = bytes[at + std::size_t(i)];
            if (c < '0' || c > '9') return false;
            *v = *v * 10 + (c - '0');
        }
        return true;
    };
    long ddr = 0;
    if (!number(0, 5, &ddr) || ddr <= 24) return false;
    std::size_t at = std::size_t(ddr);
    while (at < bytes.size()) {
        // A record longer than the leader's five digits has length 0 there: its directory tells.
        long length = 0, base = 0;
        if (!number(at, 5, &length) || !number(at + 12, 5, &base) || base <= 24 || at + 24 > bytes.size()) return false;
        const int sizeLength = bytes[at + 20] - '0', sizePosition = bytes[at + 21] - '0';
        if (sizeLength < 1 || sizeLength > 9 || sizePosition < 1 || sizePosition > 9 || bytes[at + 23] != '4')
            return false;
        const std::size_t entry = 4 + std::size_t(sizeLength + sizePosition);
        const std::size_t directoryEnd = at + std::size_t(base);
        if (directoryEnd > bytes.size()) return false;
        long end = 0;
        const unsigned char* named = nullptr;  // the first VRID or FRID field
        bool frid = false;
        for (std::size_t e = at + 24; e + entry <= directoryEnd && bytes[e] != '\x1e'; e += entry) {
            long fieldLength = 0, position = 0;
            if (!number(e + 4, sizeLength, &fieldLength) ||
                !number(e + 4 + std::size_t(sizeLength), sizePosition, &position))
                return false;
            end = std::max(end, position + fieldLength);
            const bool isVrid = bytes.compare(e, 4, "VRID") == 0, isFrid = bytes.compare(e, 4, "FRID") == 0;
            if (named || (!isVrid && !isFrid)) continue;
            if (fieldLength < (isFrid ? 10 : 2) || at + std::size_t(base + position + fieldLength) > bytes.size())
                return false;
            named = reinterpret_cast<const unsigned char*>(bytes.data()) + at + base + position;
            frid = isFrid;
        }
        if (length == 0) length = base + end;
        if (length < base + end || at + std::size_t(length) > bytes.size()) return false;
        if (named && !frid) {
            if (named[0] == 110) ++counts[4];
            else if (named[0] == 120) ++counts[5];
            else if (named[0] == 130) ++counts[6];
            else if (named[0] == 140) ++counts[7];
        } else if (named && named[0] == 100) {
            const long code = long(named[7]) | long(named[8]) << 8;
            ++counts[code >= 300 && code < 400 ? 0 : code >= 500 ? 1 : code >= 400 ? 3 : 2];
        }
        at += std::size_t(length);
    }
    return at == bytes.size();
}

int updateDataSetCounts(const std::string& path) {
    // NOMR, NOCR, NOGR, NOLR, NOIN, NOCN, NOED, NOFA
    uint32_t counts[8] = {};
    bool counted = false;
    {
        std::ifstream in(path, std::ios::binary | std::ios::ate);
        const std::streamoff size = in ? std::streamoff(in.tellg()) : -1;
        std::string bytes(size > 0 ? std::size_t(size) : 0, '\0');
        if (size > 0 && in.seekg(0) && in.read(bytes.data(), size)) counted = countRecordBytes(bytes, counts);
        if (!counted) std::fill(std::begin(counts), std::end(counts), 0u);
    }
    if (!counted) {
        Iso8211File file{};
        if (Read8211File(&file, path.c_str()) != 0) return -1;
        const char* const tags[] = {"FRID"};
        for (int i = 1; i <= file.recordCount; ++i) {
            const std::string_view rcnm(file.index[i - 1].rcnm, 2);
            if (rcnm == "VI") ++counts[4];
            else if (rcnm == "VC") ++counts[5];
            else if (rcnm == "VE") ++counts[6];
            else if (rcnm == "VF") ++counts[7];
            if (rcnm != "FE") continue;
            RecordHolder holder;
            if (Read8211RecordTags(&file, i, tags, 1, &holder.record) != 0) continue;
            const int f = Find8211Field(&holder.record, "FRID", 0);
            const int s = f < 0 ? -1 : Find8211SubField(&holder.record, "OBJL", f, 0);
            const char* objl = s < 0 ? nullptr : holder.record.fields[f].subFields[s].value;
            const long code = objl ? std::strtol(objl, nullptr, 10) : 0;
            ++counts[code >= 300 && code < 400 ? 0 : code >= 500 ? 1 : code >= 400 ? 3 : 2];
        }
        (void)Close8211File(&file);
    }
    std::FILE* fp = std::fopen(path.c_str(), "r+b");
    if (!fp) return -1;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> own(fp, std::fclose);
    auto number = [](const char* p, int n) {
        long v = 0;
        for (int i = 0; i < n; ++i) {
            if (p[i] < '0' || p[i] > '9') return -1L;
            v = v * 10 + (p[i] - '0');
        }
        return v;
    };
    char leader[24];
    if (std::fread(leader, 1, 24, fp) != 24) return -1;
    const long ddrLength = number(leader, 5);
    if (ddrLength <= 24 || std::fseek(fp, ddrLength, SEEK_SET) != 0 || std::fread(leader, 1, 24, fp) != 24) return -1;
    const long recordLength = number(leader, 5), base = number(leader + 12, 5);
    const int sizeLength = leader[20] - '0', sizePosition = leader[21] - '0', sizeTag = leader[23] - '0';
    const int entry = sizeTag + sizeLength + sizePosition;
    if (recordLength <= 24 || base <= 24 || base > recordLength || sizeLength < 1 || sizePosition < 1 || sizeTag != 4)
        return -1;
    std::string directory(std::size_t(base - 24), '\0');
    if (std::fread(directory.data(), 1, directory.size(), fp) != directory.size()) return -1;
    for (std::size_t at = 0; at + std::size_t(entry) <= directory.size() && directory[at] != '\x1e'; at += entry) {
        if (directory.compare(at, 4, "DSSI") != 0) continue;
        const long length = number(directory.data() + at + 4, sizeLength);
        const long position = number(directory.data() + at + 4 + sizeLength, sizePosition);
        if (length < 3 + 8 * 4 || position < 0 || base + position + length > recordLength) return -1;
        unsigned char bytes[32];
        for (int k = 0; k < 8; ++k)
            for (int b = 0; b < 4; ++b) bytes[4 * k + b] = static_cast<unsigned char>(counts[k] >> (8 * b));
        if (std::fseek(fp, ddrLength + base + position + 3, SEEK_SET) != 0 || std::fwrite(bytes, 1, 32, fp) != 32)
            return -1;
        return std::fflush(fp) == 0 ? 0 : -1;
    }
    return -1;
}

// Progress position of step k of the current cell.
void step(int k) {
    stepProgressor->PutPosition(LONG(cellIndex * 100 / cellCount + k / cellCount));
    stepProgressor->Show();
}

void stepMessage(int id) { stepProgressor->PutMessage(_bstr_t(text(id))); }

// Steps 4 to 8 of a run, inside the run's COM error handler. Returns when the run is over, however
// it ended; the dialog is left to the caller to hide.
void exportCells(const std::string& s57file, const char* gdbConn, const char* fctdataset, const char* cellArg,
                 const char* catalogPath, bool catalogMode, const std::string& outputDirectory, bool createTopology,
                 IProgressDialog2Ptr& dialog) {
    ICancelTrackerPtr tracker(kCLSID_CancelTracker);
    IProgressDialogFactoryPtr factory(kCLSID_ProgressDialogFactory);
    stepProgressor = factory->Create(tracker, 0);
    dialog = stepProgressor;
    stepProgressor->PutMinRange(0);
    stepProgressor->PutMaxRange(100);
    dialog->PutDescription(_bstr_t((std::string(text(137)) + format(" %s...", s57file)).c_str()));
    dialog->ShowDialog();
    stepMessage(117);

    IWorkspacePtr workspace;
    const HRESULT opened = openWorkspace(gdbConn, &workspace);
    if (FAILED(opened) || !workspace) {
        stopWith(106, detailCode(FAILED(opened) ? opened : E_FAIL));
        return;
    }

    // Features without a long name of their own take the run's agency; without one their FOID
    // cannot be written, so the run stops before any file is made.
    char agency[4] = {};
    std::snprintf(agency, sizeof agency, "%s", getAgen(workspace).c_str());
    if (!agency[0]) {
        stopWith(108, " The producing agency (AGEN of table dsid) is missing: no cell can be exported.");
        return;
    }

    cellCount = 1;
    if (catalogMode) {
        cellCount = getCellList(workspace, catalogPath, outputDirectory.c_str());
        // The list tells its own failure; an exchange set that yields no cell is no export either.
        if (cellCount <= 0) {
            noteStop(0, format("the exchange set %s gave no cell to export", catalogPath) + detailCode(cellCount));
            return;
        }
    }

    // The CATALOG file was written before the cells: the CRCS of those written (also of a run that
    // stops at a later cell) are made those of the files once the run is over.
    struct CatalogueCrcs {
        IWorkspace* workspace;
        bool catalogMode;
        std::vector<std::string> written;
        ~CatalogueCrcs() {
            if (!catalogMode || written.empty()) return;
            try {
                (void)updateCatalogueCrcs(workspace, written);
            } catch (...) {
                logLine("gdb2s57: unable to write the CRCs of the cells into the CATALOG file\n");
            }
        }
    } catalogueCrcs{workspace, catalogMode, {}};

    const std::string dashes(38, '-');
    for (cellIndex = 0; cellIndex < cellCount; ++cellIndex) {
        std::string cellName = cellArg, outputPath = s57file;
        if (catalogMode) {
            const CellListEntry& entry = cellList[std::size_t(cellIndex)];
            cellName = entry.name;
            outputPath = entry.path;
        }
        if (logFile) {
            std::fprintf(logFile, "%s\n", dashes.c_str());
            std::fprintf(logFile, "%s %s\n", text(138), cellName.c_str());
            std::fprintf(logFile, "%s\n", dashes.c_str());
        }
        dialog->PutDescription(_bstr_t((std::string(text(137)) + format(" %s...", cellName)).c_str()));

        int32_t rc = getExtent(workspace, cellName.c_str());
        if (rc == 8) {
            noteStop(163, text(163) + format(" %s...", cellName));
            displayMessage(163, kCaptionGdbToS57, format(" %s...", cellName).c_str());
            if (logFile) std::fprintf(logFile, "%s %s", text(139), text(163));
            return;
        }
        if (rc != 0) {
            stopWith(139, detailCode(rc));
            return;
        }
        step(5);

        emptySrelList(&topoSrelList);
        // Filled by a rebuild while it waits for its graph, taken by the feature export.
        FeatureRowsAhead rowsAhead;
        featureRowsAhead = &rowsAhead;
        struct EndRowsAhead {
            ~EndRowsAhead() { featureRowsAhead = nullptr; }
        } endRowsAhead;
        // Without a rebuild the stored primitives are written as they are: no vertex is dropped
        // but one that repeats its predecessor after scaling.
        double tolerance = 0;
        rc = validateTopology(workspace, fctdataset, agency, cellName.c_str(), &tolerance, createTopology ? 1 : 0);
        if (rc != 0) {
            stopWith(140, detailCode(rc));
            return;
        }

        CellFile cell(outputPath);
        rc = createObjectFile(outputPath.c_str(), 1, &cell.file, 1);
        if (rc != 0) {
            stopWith(141, " " + outputPath + detailCode(rc));
            return;
        }

        step(50);
        stepMessage(142);
        rc = exportMeta(workspace, &cell.file, cellName.c_str());
        if (rc != 0) {
            stopWith(145, detailCode(rc));
            return;
        }

        step(55);
        stepMessage(143);
        rc = exportVector(workspace, &cell.file, tolerance, cellName.c_str());
        if (rc != 0) {
            stopWith(144, detailCode(rc));
            return;
        }

        step(70);
        stepMessage(147);
        rc = exportFeature(workspace, &cell.file, agency, cellName.c_str(), fctdataset);
        if (rc != 0) {
            stopWith(146, detailCode(rc));
            return;
        }
        rc = cell.finish();
        if (rc != 0) {
            stopWith(141, " " + outputPath + detailCode(rc));
            return;
        }
        if (updateDataSetCounts(outputPath) != 0)
            logLine("gdb2s57: unable to count the records of %s into its DSSI field\n", outputPath.c_str());
        if (outcomeOfRun) ++outcomeOfRun->cellsExported;
        catalogueCrcs.written.push_back(outputPath);
    }
}

}  // namespace

std::string exportLogPath(std::string_view s57file) {
    const std::size_t keep = s57file.size() > 4 ? s57file.size() - 4 : 0;
    std::string path = std::string(s57file.substr(0, keep)) + ".log";
    // An output named *.log would be its own log: the log goes after it.
    if (path == s57file) path = std::string(s57file) + ".log";
    return path;
}

std::string exportOutputDirectory(std::string_view s57file) {
    const std::size_t sep = lastSeparator(s57file);
    if (sep == std::string_view::npos) return ".";
    if (sep == 0) return std::string(1, '/');
    return std::string(s57file.substr(0, sep));
}

std::string getAgen(IWorkspace* workspace) {
    try {
        IFeatureWorkspacePtr featureWorkspace(workspace);
        if (!featureWorkspace) return {};
        ITable* raw = nullptr;
        if (FAILED(featureWorkspace->raw_OpenTable(_bstr_t("dsid").GetBSTR(), &raw)) || !raw) return {};
        ITablePtr dsid;
        dsid.Attach(raw);
        const LONG agen = dsid->FindField("AGEN");
        if (agen < 0) return {};
        ICursorPtr cursor = dsid->Search(nullptr, VARIANT_FALSE);
        IRowPtr row = cursor->NextRow();
        if (!row) return {};
        const _variant_t value = row->GetValue(agen);
        if (value.vt == VT_NULL || value.vt == VT_EMPTY) return {};
        std::string text = static_cast<const char*>(_bstr_t(value));
        if (text.size() > 3) text.resize(3);
        return text;
    } catch (const _com_error& e) {
        logError("getAgen", comErrorDescription(e).c_str());
        return {};
    }
}

namespace {
ExportOutcome lastOutcome;    // how the latest run ended, for callers that reach the driver only
unsigned long runsEnded = 0;  // through an interface that answers S_OK whatever happened
}  // namespace

const ExportOutcome& lastExportOutcome() { return lastOutcome; }
unsigned long exportRunCount() { return runsEnded; }

int32_t gdb2s57(const char* s57file, const char* gdbConn, const char* fctdataset, const char* cellName,
                const char* catalogPath, bool createTopology) {
    return gdb2s57(s57file, gdbConn, fctdataset, cellName, catalogPath, createTopology, nullptr);
}

int32_t gdb2s57(const char* s57file, const char* gdbConn, const char* fctdataset, const char* cellName,
                const char* catalogPath, bool createTopology, ExportOutcome* outcome) {
    ExportOutcome own;
    ExportOutcome& result = outcome ? *outcome : own;
    result = ExportOutcome{};
    RunOutcomeScope<ExportOutcome> running(&result, outcomeOfRun, lastOutcome, runsEnded);
    if (!s57file || !gdbConn || !fctdataset || !cellName || !catalogPath) {
        result.error = E_POINTER;
        result.reason = "a null argument";
        return -19;
    }
    // A path that ends in a separator names a folder: no cell file, and no log name (the log's would
    // be cut from the folder's). Nothing is made; an automation call without a cell name comes here.
    if (!s57file[0] || isSeparator(s57file[std::strlen(s57file) - 1])) {
        result.error = E_INVALIDARG;
        result.reason = "the output path \"" + std::string(s57file) + "\" names no file";
        if (!catalogPath[0] && !cellName[0]) result.reason += ": no cell name was given";
        return -19;
    }
    try {
        initPrimTypes();

        // Either separator parts folders; the file system is reached with '/'.
        std::string output = s57file;
        for (char& c : output)
            if (c == '\\') c = '/';
        const std::string logPath = exportLogPath(output);
        logFile = std::fopen(logPath.c_str(), "w");
        if (!logFile) {
            noteStop(111, text(111) + format(" %s", logPath));
            displayMessage(111, kCaptionGdbToS57, format(" %s", logPath).c_str());
            return -2;
        }

        s57ObjectCount = kBuiltinS57ObjectCount;
        s57AttributeCount = kBuiltinS57AttributeCount;
        s57SetCount = kBuiltinS57SetCount;
        const HRESULT loaded = loadDIMEInfo();
        if (loaded != 0) {
            noteStop(112, text(112));
            displayMessage(112, kCaptionGdbToS57, "");
            if (logFile) std::fputs(text(112), logFile);
            closeRunLog();
            installBuiltinCatalogue();
            return loaded;
        }

        const bool catalogMode = catalogPath[0] != '\0';
        const std::string outputDirectory = catalogMode ? exportOutputDirectory(output) : std::string();

        cellIndex = 0;
        cellCount = 1;
        return runCellsAndEnd({kModule, "gdb2s57", kCaptionGdbToS57, false}, logPath, result.error, result.reason,
                              [&](IProgressDialog2Ptr& dialog) {
                                  exportCells(output, gdbConn, fctdataset, cellName, catalogPath, catalogMode,
                                              outputDirectory, createTopology, dialog);
                              });
    } catch (...) {
        return abandonRun(result);
    }
}
