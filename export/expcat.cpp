// export/expcat.cpp: module expcat (see expcat.h): the CATALOG file of an exported exchange set, the
// copy of its other files, and the cell list of the export run.
// Results are codes, message boxes (caption 104) and log lines; nothing is thrown to callers.

#include "export/expcat.h"

#include <strings.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <new>
#include <string_view>

#include "iso8211/iso8211.h"
#include "s57/dbutil.h"
#include "s57/field_utils.h"
#include "s57/s57_codec.h"
#include "s57/s57_util2.h"

std::vector<CellListEntry> cellList;

const Iso8211FileDesc catalogueFileDesc = {"0000;&   ", "GDB TO S57 (Catalogue File)", "0001CATD"};

const Iso8211FieldDesc catalogueDDRTemplate[2] = {
    {"0001", "0500;&   ", "Record Identifier (Catalogue File)", "", "(I(5))", "(I(5))", "(I(5))", 0},
    {"CATD", "1600;&   ", "Catalogue directory field",
     "RCNM!RCID!FILE!LFIL!VOLM!IMPL!SLAT!WLON!NLAT!ELON!CRCS!COMT", "(A(2),I(10),3A,A(3),4R,2A)",
     "(A(2),I(10),3A,A(3),4R,2A)", "(A(2),I(10),3A,A(3),4R,2A)", 0},
};

namespace {

constexpr char kModule[] = "expcat";

// What getCellList wrote, for updateCatalogueCrcs: the set, where its CATALOG file went, the
// output directory, and the CRCS of the files the run rewrote by their output path.
struct CatalogueRun {
    std::string catalogueDirectory, cataloguePath, outputDirectory;
    std::map<std::string, std::string> crcs;
};
CatalogueRun catalogueRun;
namespace fs = std::filesystem;

// The CATD subfields in record order, the catd columns they come from, and the column's name in
// the "missing column" log line.
constexpr int kCatdSubfields = 12;
constexpr const char* kCatdLabels[kCatdSubfields] = {"RCNM", "RCID", "FILE", "LFIL", "VOLM", "IMPL",
                                                     "SLAT", "WLON", "NLAT", "ELON", "CRCS", "COMT"};
constexpr const char* kCatdColumns[kCatdSubfields] = {"rcnm", "rcid", "cfil", "lfil", "volm", "impl",
                                                      "slat", "wlon", "nlat", "elon", "crcs", "comt"};
constexpr const char* kCatdLogNames[kCatdSubfields] = {"rcnm", "rcid", "file", "lfil", "volm", "impl",
                                                       "slat", "wlon", "nlat", "elon", "crcs", "comt"};

void logComError(const char* function, const _com_error& e) { logComErrorOf(kModule, function, e); }

// Message box of the export direction plus the same text and detail in the log.
void showFailure(int textId, const std::string& detail) {
    displayMessage(textId, kCaptionGdbToS57, detail.c_str());
    const char* text = stringText(textId);
    logLine("%s %s", text ? text : "", detail.c_str());
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }

std::string toSlash(std::string_view path) {
    std::string out(path);
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

// directory + "/" + relative, without doubling a separator the directory ends with.
std::string joinPath(std::string_view directory, std::string_view relative) {
    std::string out = toSlash(directory);
    if (!out.empty() && out.back() != '/') out += '/';
    return out + toSlash(relative);
}

// The levels of a relative name, empty ones dropped.
std::vector<std::string> levels(std::string_view name) {
    std::vector<std::string> out;
    std::string part;
    for (char c : name) {
        if (isSeparator(c)) {
            if (!part.empty()) out.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) out.push_back(part);
    return out;
}

std::string baseName(std::string_view file) {
    const std::size_t sep = file.find_last_of("\\/");
    return std::string(sep == std::string_view::npos ? file : file.substr(sep + 1));
}

bool isBaseCellName(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    return dot != std::string_view::npos && strcasecmp(std::string(name.substr(dot)).c_str(), ".000") == 0;
}

// Owns the subfields of a field being built until they are handed to a record.
struct FieldSubfields {
    Iso8211Field* field;
    ~FieldSubfields() {
        if (!field || !field->subFields) return;
        for (int i = 0; i < field->subfieldCount; ++i) std::free(field->subFields[i].value);
        std::free(field->subFields);
        field->subFields = nullptr;
        field->subfieldCount = 0;
    }
    void release() { field = nullptr; }
};

struct FreeDeleter {
    void operator()(char* p) const noexcept { std::free(p); }
};
using MallocText = std::unique_ptr<char, FreeDeleter>;

struct FileCloser {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The text a catd value is written as; coordinates go by "%lf", and exactly 0 stands for none.
// Six decimals lose the seventh that cell extents carry (S-57 coordinates resolve 1e-7 degrees):
// a coordinate gets as many more decimals as it needs to read back as the same number.
std::string valueText(const _variant_t& value, bool coordinate) {
    if (value.vt == VT_NULL || value.vt == VT_EMPTY) return {};
    if (coordinate && (value.vt == VT_R8 || value.vt == VT_R4 || value.vt == VT_I4 || value.vt == VT_I2)) {
        const double d = static_cast<double>(value);
        if (d == 0) return {};
        char text[64];
        for (int decimals = 6; decimals <= 17; ++decimals) {
            std::snprintf(text, sizeof text, "%.*f", decimals, d);
            if (std::strtod(text, nullptr) == d) break;
        }
        return text;
    }
    const _bstr_t text(value);
    return std::string(static_cast<const char*>(text));
}

// A value the fixed layout of the CATD field can hold without shifting the subfields after it.
// RCID is an I(10): a shorter number is padded with zeros.
bool fitCatdValue(int index, std::string& text) {
    if (text.find_first_of("\x1e\x1f") != std::string::npos) return false;
    switch (index) {
        case 0:  // RCNM, A(2)
            return text.size() == 2;
        case 1:  // RCID, I(10)
            if (text.empty() || text.size() > 10) return false;
            if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
            text.insert(0, 10 - text.size(), '0');
            return true;
        case 5:  // IMPL, A(3)
            return text.size() == 3;
        default:
            return true;
    }
}

// The CATALOG file of the set at `path`. 0, or the failing step's code after message 149, 150 or 151.
int32_t writeCatalogue(IWorkspace* workspace, const char* catalogueDirectory, const std::string& path) {
    Iso8211File catalogue{};
    char detail[64];
    int32_t rc = exportCatalogueFile(path.c_str(), &catalogue);
    if (rc != 0) {
        std::snprintf(detail, sizeof detail, " %d", int(rc));
        showFailure(149, " " + path + detail);
        return rc;
    }
    rc = exportCATD(workspace, catalogueDirectory, &catalogue);
    if (rc != 0) {
        (void)Close8211File(&catalogue);
        std::snprintf(detail, sizeof detail, " %d", int(rc));
        showFailure(150, " " + path + detail);
        return rc;
    }
    rc = Close8211File(&catalogue);
    if (rc != 0) {
        std::snprintf(detail, sizeof detail, " %d", int(rc));
        showFailure(151, " " + path + detail);
    }
    return rc;
}

// getCellList without its clean-up of a failed run.
int32_t buildCellList(IWorkspace* workspace, const char* catalogueDirectory, const char* outputDirectory) {
    try {
        if (!workspace || !catalogueDirectory || !outputDirectory) {
            logLine("getCellList: Illegal parameter\n");
            return 0;
        }
        IFeatureWorkspacePtr featureWorkspace(workspace);
        if (!featureWorkspace) _com_issue_error(E_NOINTERFACE);
        ITablePtr table = featureWorkspace->OpenTable("catd");
        IQueryFilterPtr filter(CLSID_QueryFilter);
        filter->PutWhereClause(("catl=" + sqlText(catalogueDirectory)).c_str());
        const LONG cfil = table->FindField("cfil");
        if (cfil < 0) {
            logLine("getCellList: table catd has no column cfil\n");
            return -1;
        }

        ICursorPtr cursor = table->Search(filter, VARIANT_FALSE);
        for (IRowPtr row = cursor->NextRow(); row; row = cursor->NextRow()) {
            const _variant_t value = row->GetValue(cfil);
            if (value.vt == VT_NULL || value.vt == VT_EMPTY) continue;
            const std::string file = valueText(value, false);
            if (!isExchangeSetRelative(file.c_str())) {
                logLine("getCellList: file %s lies outside the exchange set, not exported\n", file.c_str());
                return 0;
            }
            const std::string outputPath = joinPath(outputDirectory, file);

            std::string lower = file;
            for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
            if (lower.compare(0, 10, "catalog.03") == 0) {
                if (writeCatalogue(workspace, catalogueDirectory, outputPath) != 0) return 0;
                catalogueRun.cataloguePath = outputPath;
                continue;
            }

            const std::size_t sep = file.find_last_of("\\/");
            if (sep != std::string::npos &&
                createSubDirectories(outputDirectory, file.substr(0, sep).c_str()) != 0)
                return 0;

            if (isBaseCellName(baseName(file))) {
                const std::string name = baseName(file);
                CellListEntry entry{};
                if (name.size() >= sizeof entry.name || outputPath.size() >= sizeof entry.path) {
                    logLine("getCellList: cell %s does not fit the cell list (name %zu, path %zu characters)\n",
                            file.c_str(), name.size(), outputPath.size());
                    return 0;
                }
                std::memcpy(entry.name, name.c_str(), name.size() + 1);
                std::memcpy(entry.path, outputPath.c_str(), outputPath.size() + 1);
                cellList.push_back(entry);
                continue;
            }
            copyfile(exchangeSetFilePath(catalogueDirectory, file.c_str()).c_str(), outputPath.c_str());
        }
        return int32_t(cellList.size());
    } catch (const _com_error& e) {
        logComError("getCellList", e);
        return -1;
    } catch (const std::exception& e) {
        logLine("Error: %s::getCellList\n%s\n", kModule, e.what());
        return -1;
    }
}

}  // namespace

// ---- getCellList --------------------------------------------------------------------------------

int32_t getCellList(IWorkspace* workspace, const char* catalogueDirectory, const char* outputDirectory) {
    cellList.clear();
    catalogueRun = CatalogueRun{};
    const int32_t count = buildCellList(workspace, catalogueDirectory, outputDirectory);
    // A run that failed part-way hands out no cells.
    if (count <= 0) {
        cellList.clear();
        catalogueRun = CatalogueRun{};
        return count;
    }
    catalogueRun.catalogueDirectory = catalogueDirectory;
    catalogueRun.outputDirectory = outputDirectory;
    return count;
}

int32_t updateCatalogueCrcs(IWorkspace* workspace, const std::vector<std::string>& written) {
    if (catalogueRun.cataloguePath.empty()) return 0;
    try {
        for (const std::string& path : written) {
            std::string crc = fileCrc(path.c_str());
            if (crc.empty()) {
                logLine("updateCatalogueCrcs: unable to read %s, its CRCS is catd's\n", path.c_str());
                continue;
            }
            catalogueRun.crcs[toSlash(path)] = std::move(crc);
        }
    } catch (const std::bad_alloc&) {
        logLine("updateCatalogueCrcs: unable to allocate memory\n");
        return -1;
    }
    const int32_t rc = writeCatalogue(workspace, catalogueRun.catalogueDirectory.c_str(), catalogueRun.cataloguePath);
    catalogueRun.crcs.clear();
    return rc;
}

std::string fileCrc(const char* path) {
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    if (!path) return {};
    File in(std::fopen(path, "rb"));
    if (!in) return {};
    uint32_t crc = 0xFFFFFFFFu;
    unsigned char buffer[65536];
    for (;;) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, in.get());
        for (std::size_t i = 0; i < n; ++i) crc = table[(crc ^ buffer[i]) & 0xFFu] ^ (crc >> 8);
        if (n < sizeof buffer) break;
    }
    if (std::ferror(in.get())) return {};
    char text[16];
    std::snprintf(text, sizeof text, "%08X", unsigned(crc ^ 0xFFFFFFFFu));
    return text;
}

// ---- The CATALOG file ---------------------------------------------------------------------------

int32_t exportCatalogueFile(const char* path, Iso8211File* file) {
    if (!path || !file) {
        logLine("ExportCatalogueFile : Illegal parameter\n");
        return -19;
    }
    const int rc = Write8211File(file, path, &catalogueFileDesc, catalogueDDRTemplate, 2);
    if (rc != 0) {
        logLine("ExportCatalogueFile : unable create ISO catalogue file %s\n", path);
        (void)Close8211File(file);
    }
    return rc;
}

int32_t exportCATD(IWorkspace* workspace, const char* catalogueDirectory, Iso8211File* file) {
    try {
        if (!workspace || !catalogueDirectory || !file) {
            logLine("exportCATD: Illegal parameter\n");
            return -19;
        }
        IFeatureWorkspacePtr featureWorkspace(workspace);
        ITable* raw = nullptr;
        if (!featureWorkspace || FAILED(featureWorkspace->raw_OpenTable(_bstr_t("catd").GetBSTR(), &raw)) || !raw) {
            logLine("exportCATD: unable to open catd table.\n");
            return -11;
        }
        ITablePtr table;
        table.Attach(raw);
        IQueryFilterPtr filter(CLSID_QueryFilter);
        filter->PutWhereClause(("catl=" + sqlText(catalogueDirectory)).c_str());
        if (table->RowCount(filter) == 0) return 0;
        return exportCATDTable(table, filter, file);
    } catch (const _com_error& e) {
        logComError("exportCATD", e);
        return E_FAIL;
    }
}

int32_t exportCATDTable(ITable* table, IQueryFilter* filter, Iso8211File* file) {
    try {
        if (!table || !file) {
            logLine("exportCATDTable: Illegal parameter\n");
            return -19;
        }
        ICursorPtr cursor = table->Search(filter, VARIANT_FALSE);
        for (IRowPtr row = cursor->NextRow(); row; row = cursor->NextRow()) {
            Iso8211Field catd;
            initializeField(&catd);
            std::memcpy(catd.tag, "CATD", 5);
            catd.subFields = static_cast<Iso8211SubField*>(std::calloc(kCatdSubfields, sizeof(Iso8211SubField)));
            if (!catd.subFields) {
                logLine("exportCATD : unable to allocate memory\n");
                return -1;
            }
            catd.subfieldCount = kCatdSubfields;
            FieldSubfields ownCatd{&catd};

            if (exportCATDRecord(row, &catd) != 0) return E_FAIL;

            RecordHolder holder;
            if (allocateFieldArray(&holder.record, 2) != 0) {
                logLine("exportCATD : unable to allocate memory\n");
                return -1;
            }
            MallocText counter(iota(file->recordNo));
            if (!counter) {
                logLine("exportCATD : unable to covert Iso file record counter to char\n");
                return -1;
            }
            char* padded = nullptr;
            int rc = prependZero(counter.get(), 5, &padded);
            MallocText recordId(padded);
            if (rc != 0) {
                logLine("exportCATD : unable to covert 0001 id to string\n");
                return rc;
            }
            rc = WriteIso8211Field0001(&holder.record.fields[0], 1, recordId.get());
            if (rc != 0) {
                logLine("exportCATD : unable to write Iso File record no %d, field 0001\n", int(file->recordNo));
                return rc;
            }
            shallowCopyField(&holder.record.fields[1], &catd);
            ownCatd.release();

            rc = PrepareToWrite(&holder.record, 0);
            if (rc != 0) {
                logLine("exportCATD : unable to translate record no %d to binary\n", int(file->recordNo));
                return rc;
            }
            rc = Write8211Record(file, &holder.record);
            if (rc != 0) {
                logLine("exportCATD : unable to write Iso File record no %d\n", int(file->recordNo));
                return rc;
            }
        }
        return 0;
    } catch (const _com_error& e) {
        logComError("exportCATDTable", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logLine("exportCATD : unable to allocate memory\n");
        return -1;
    }
}

int32_t exportCATDRecord(IRow* row, Iso8211Field* field) {
    try {
        if (!row || !field || !field->subFields || field->subfieldCount < kCatdSubfields) {
            logLine("exportCATDRecord: Illegal parameter\n");
            return E_FAIL;
        }
        IFieldsPtr fields = row->GetFields();
        for (int i = 0; i < kCatdSubfields; ++i) {
            const LONG index = fields->FindField(kCatdColumns[i]);
            if (index < 0) {
                logLine("exportCATDRecord: error on finding %s field in catd table\n", kCatdLogNames[i]);
                return E_FAIL;
            }
            std::string text = valueText(row->GetValue(index), i >= 6 && i <= 9);
            if (i == 10 && !catalogueRun.crcs.empty()) {
                // A cell the run wrote has its own CRC, not the imported one's.
                const LONG cfil = fields->FindField(kCatdColumns[2]);
                const std::string file = cfil < 0 ? std::string() : valueText(row->GetValue(cfil), false);
                const auto it = catalogueRun.crcs.find(joinPath(catalogueRun.outputDirectory, file));
                if (!file.empty() && it != catalogueRun.crcs.end()) text = it->second;
            }
            if (!fitCatdValue(i, text)) {
                logLine("exportCATDRecord: value \"%s\" of column %s does not fit subfield %s\n", text.c_str(),
                        kCatdColumns[i], kCatdLabels[i]);
                return E_FAIL;
            }
            const int rc = updateSubfield(field, kCatdLabels[i], text.c_str(), i);
            if (rc != 0) {
                logLine("exportCATDRecord: unable to set subfield %s\n", kCatdLabels[i]);
                return rc == -1 ? -1 : E_FAIL;
            }
        }
        return 0;
    } catch (const _com_error& e) {
        logComError("exportCATDRecord", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logLine("exportCATDRecord: unable to allocate memory\n");
        return -1;
    }
}

// ---- Files and directories ----------------------------------------------------------------------

void copyfile(const char* source, const char* destination) {
    try {
        if (!source || !destination) return;
        std::error_code ec;
        // Opening the destination would empty the source when both are one file.
        if (fs::equivalent(source, destination, ec) && !ec) {
            logLine("copyfile: %s is %s itself, not copied\n", destination, source);
            return;
        }
        File in(std::fopen(source, "rb"));
        if (!in) {
            logLine("copyfile: unable to open %s\n", source);
            return;
        }
        File out(std::fopen(destination, "wb"));
        if (!out) {
            logLine("copyfile: unable to create %s\n", destination);
            return;
        }
        char block[512];
        for (;;) {
            const std::size_t n = std::fread(block, 1, sizeof block, in.get());
            if (n == 0) break;
            if (std::fwrite(block, 1, n, out.get()) != n) {
                logLine("copyfile: unable to write %s\n", destination);
                return;
            }
        }
        if (std::ferror(in.get())) logLine("copyfile: unable to read %s\n", source);
        if (std::fclose(out.release()) != 0) logLine("copyfile: unable to write %s\n", destination);
    } catch (const _com_error& e) {
        logComError("copyfile", e);
    } catch (const std::exception& e) {
        logLine("Error: %s::copyfile\n%s\n", kModule, e.what());
    }
}

int32_t createSubDirectories(const char* outputDirectory, const char* relativeDirectory) {
    try {
        if (!outputDirectory || !relativeDirectory) {
            logLine("createSubDirectories: Illegal parameter\n");
            return E_FAIL;
        }
        std::string part;
        for (const std::string& level : levels(relativeDirectory)) {
            part += part.empty() ? level : "/" + level;
            const std::string path = joinPath(outputDirectory, part);
            std::error_code ec;
            if (fs::is_directory(path, ec)) continue;
            if (!fs::exists(path, ec) && fs::create_directory(path, ec) && !ec) continue;
            showFailure(148, " " + path);
            return E_FAIL;
        }
        return 0;
    } catch (const _com_error& e) {
        logComError("createSubDirectories", e);
        return E_FAIL;
    } catch (const std::exception& e) {
        logLine("Error: %s::createSubDirectories\n%s\n", kModule, e.what());
        return E_FAIL;
    }
}

std::string exchangeSetFilePath(const char* directory, const char* file) {
    std::string path = toSlash(directory ? directory : "");
    for (const std::string& level : levels(file ? file : "")) {
        std::string next = joinPath(path, level);
        std::error_code ec;
        if (!fs::exists(next, ec)) {
            // Of several names that differ only in case, the smallest is taken, so the choice
            // does not depend on the order of the directory.
            std::string found;
            for (fs::directory_iterator it(path.empty() ? "." : path, ec), end; !ec && it != end; it.increment(ec)) {
                const std::string name = it->path().filename().string();
                if (strcasecmp(name.c_str(), level.c_str()) == 0 && (found.empty() || name < found)) found = name;
            }
            if (!found.empty()) next = joinPath(path, found);
        }
        path = std::move(next);
    }
    return path;
}

bool isExchangeSetRelative(const char* file) {
    if (!file || !*file || isSeparator(file[0])) return false;
    if (std::isalpha(static_cast<unsigned char>(file[0])) && file[1] == ':') return false;
    for (const std::string& level : levels(file))
        if (level == "." || level == "..") return false;
    return true;
}
