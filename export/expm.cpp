// export/expm.cpp: module expm (see expm.h). The three metadata tables are read row by row into
// texts in schema order, adjusted (placeholders, chain-node, factors), turned into the DSID, DSSI
// and DSPM fields and written as two binary records. The first failure ends the metadata; the
// driver then shows message 145.

#include "export/expm.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "export/exprecord.h"
#include "export/exptext.h"
#include "s57/dbutil.h"
#include "s57/s57_util2.h"

int32_t coordFactor = 1000;
int32_t soundingFactor = 10;

namespace {

constexpr char kModule[] = "expm";

constexpr int32_t kDsidCount = 16;
constexpr int32_t kDssiCount = 12;
constexpr int32_t kDssiWritten = 11;
constexpr int32_t kDspmCount = 13;

bool equalsNoCase(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// A schema default that only stands for "no value": "-1", "UNKNOWN" or letters X only.
bool isPlaceholder(const char* text) {
    if (std::strcmp(text, "-1") == 0 || std::strcmp(text, "UNKNOWN") == 0) return true;
    if (!*text) return false;
    for (const char* c = text; *c; ++c)
        if (*c != 'X') return false;
    return true;
}

// The empty value for every text that repeats its column's placeholder default: the cell held
// nothing there, and the placeholder cannot be encoded (-1 packs as 0xFFFFFFFF, "XXX" is no code).
void clearPlaceholders(const FieldDef* defs, std::vector<std::string>& texts) {
    for (std::size_t i = 0; i < texts.size(); ++i)
        if (isPlaceholder(defs[i].defaultValue) && texts[i] == defs[i].defaultValue) texts[i].clear();
}

// Enumerated subfields have no empty binary value: one without a value takes the value every base
// cell of this export has.
void fillEnumerated(std::vector<std::string>& texts, const FieldDef* defs, const char* label, const char* value,
                    const char* function, const char* cellName) {
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (std::strcmp(defs[i].name, label) != 0 || !texts[i].empty()) continue;
        logLine("%s: %s of cell %s holds no value, written as %s\n", function, label, cellName, value);
        texts[i] = value;
    }
}

// Text subfields in ISO 8859-1 (the metadata fields are of lexical level 0 or 1).
void toLevelText(std::vector<std::string>& texts, const FieldDef* defs, const char* function, const char* cellName) {
    for (std::size_t i = 0; i < texts.size(); ++i)
        if (defs[i].type == 1) texts[i] = levelTextLogged(texts[i], 1, function, cellName, defs[i].name);
}

// The number of rows of the cell in a primitive class (distinct NAMEs for sounding arrays); -1
// when the class is not there.
long cellRows(IWorkspace* workspace, const char* className, const char* cellName, bool distinctNames) {
    IFeatureWorkspacePtr featureWorkspace(workspace);
    ITable* raw = nullptr;
    if (!featureWorkspace || FAILED(featureWorkspace->raw_OpenTable(_bstr_t(className).GetBSTR(), &raw)) || !raw)
        return -1;
    ITablePtr table;
    table.Attach(raw);
    IQueryFilterPtr filter(CLSID_QueryFilter);
    filter->PutWhereClause(("DSNM=" + sqlText(cellName)).c_str());
    if (!distinctNames) return table->RowCount(filter);
    const LONG name = table->FindField("NAME");
    if (name < 0) return -1;
    std::vector<std::string> names;
    ICursorPtr cursor = table->Search(filter, VARIANT_FALSE);
    for (IRowPtr row = cursor->NextRow(); row; row = cursor->NextRow()) {
        const _variant_t v = row->GetValue(name);
        std::string text = v.vt == VT_BSTR ? std::string(static_cast<const char*>(_bstr_t(v))) : std::string();
        for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
        names.push_back(std::move(text));
    }
    std::sort(names.begin(), names.end());
    return long(std::unique(names.begin(), names.end()) - names.begin());
}

// NOIN, NOCN and NOED count the records the vector export writes for the cell: the stored counts
// are the imported cell's, which differ when primitives were left out or built anew.
void countVectorRecords(IWorkspace* workspace, const char* cellName, std::vector<std::string>& texts) {
    const long isolated = cellRows(workspace, "vi2d", cellName, false);
    const long arrays = cellRows(workspace, "vi3dsp", cellName, true);
    const long connected = cellRows(workspace, "vc", cellName, false);
    const long edges = cellRows(workspace, "ve", cellName, false);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const char* label = dssiFieldDefs[i].name;
        long count = -1;
        if (std::strcmp(label, "NOIN") == 0 && isolated >= 0 && arrays >= 0) count = isolated + arrays;
        else if (std::strcmp(label, "NOCN") == 0) count = connected;
        else if (std::strcmp(label, "NOED") == 0) count = edges;
        if (count >= 0) texts[i] = std::to_string(count);
    }
}

// Opens the table; null when it is not there.
ITablePtr openTable(IWorkspace* workspace, const char* name) {
    IFeatureWorkspacePtr featureWorkspace(workspace);
    if (!featureWorkspace) return nullptr;
    ITable* raw = nullptr;
    if (FAILED(featureWorkspace->raw_OpenTable(_bstr_t(name).GetBSTR(), &raw)) || !raw) return nullptr;
    ITablePtr table;
    table.Attach(raw);
    return table;
}

// Reads the cell's row of the table into texts; the failure's code (logged).
int32_t readCellRow(IWorkspace* workspace, const char* tableName, const FieldDef* defs, int32_t count,
                    const char* cellName, std::vector<std::string>& texts) {
    ITablePtr table = openTable(workspace, tableName);
    if (!table) return -19;
    const std::string where = "DSNM=" + sqlText(cellName);
    int32_t got = 0;
    const HRESULT hr = gdbColumnValue2Subfield(table, where.c_str(), defs, count, count, &got, &texts);
    if (hr != S_OK) {
        logLine("Unable to retrieve data from %s\n", tableName);
        return int32_t(hr);
    }
    return 0;
}

// Builds the field from the texts (labels from the schema). The record layer's code.
int32_t buildField(const char* tag, Iso8211Field* field, const FieldDef* defs, int32_t n,
                   std::vector<std::string>& texts) {
    texts.resize(std::size_t(n));
    std::vector<char*> values;
    for (std::string& t : texts) values.push_back(t.data());
    return WriteIso8211FieldGeneric(tag, field, defs, n, values.data());
}

// The texts of a row as read: a count other than the schema's is logged; placeholders cleared.
void checkTexts(const char* function, const FieldDef* defs, int32_t expected, std::vector<std::string>& texts) {
    if (int32_t(texts.size()) != expected)
        logLine("%s : no of subfield retrieved are %d, expected %d\n", function, int(texts.size()), int(expected));
    clearPlaceholders(defs, texts);
}

// buildField, a failure logged with the function's name.
int32_t populate(const char* function, const char* tag, Iso8211Field* field, const FieldDef* defs, int32_t n,
                 std::vector<std::string>& texts) {
    const int32_t rc = buildField(tag, field, defs, n, texts);
    if (rc != 0) logLine("%s : unable to populate field %s\n", function, tag);
    return rc;
}

// A comment the import left as a placeholder.
bool placeholderComment(const std::string& text) {
    return equalsNoCase(text, "MISSING") || equalsNoCase(text, "IGNORED");
}

const RecordLogTexts kGeneralInfoTexts = {
    "ExportDateSetGeneralInfo : unable to allocate memory\n",
    "exportDataSetGeneralInfo : unable to covert Iso file record counter to char\n",
    "ExportDateSetGeneralInfo : unable to covert 0001 id to string\n",
    "ExportDateSetGeneralInfo : unable to write Iso File record no %d, field 0001\n",
    "exportDataSetGeneralInfo : unable to translate record no %d to binary\n",
    "exportDataSetGeneralInfo : unable to write Iso File record no %d",
};

const RecordLogTexts kGeographicRefTexts = {
    "ExportDateSetGeographicRef : unable to allocate memory\n",
    "exportDataSetGeographicRef : unable to covert Iso file record counter to char\n",
    "ExportDateSetGeographicRef : unable to covert 0001 id to string\n",
    "ExportDateSetGeographicRef : unable to write Iso File record no %d, field 0001\n",
    "ExportDataSetGeographicRef : unable to translate record no %d to binary\n",
    "exportDataSetGeographicRef : unable to write Iso File record no %d",
};

template <class F>
int32_t guarded(const char* function, F&& body) {
    return guardedStep(kModule, function, std::forward<F>(body));
}

}  // namespace

// ---- Records ----------------------------------------------------------------------------------

int32_t exportMeta(IWorkspace* workspace, Iso8211File* file, const char* cellName) {
    return guarded("exportMeta", [&]() -> int32_t {
        int32_t dstr = 0;
        const int32_t rc = exportDataSetGeneralInfo(workspace, file, &dstr, 1, cellName);
        if (rc != 0) return rc;
        return ExportDataSetGeographicRef(workspace, file, 1, cellName);
    });
}

int32_t exportDataSetGeneralInfo(IWorkspace* workspace, Iso8211File* file, int32_t* dstr, int32_t binary,
                                 const char* cellName) {
    return guarded("exportDataSetGeneralInfo", [&]() -> int32_t {
        if (!workspace || !file || !dstr || !logFile || !cellName || binary != 1) {
            logLine("ExportDateSetGeneralInfo : Illegal Parameter\n");
            return -19;
        }
        *dstr = 2;
        FieldSet fields(2);
        int32_t rc = exportDSID(workspace, "dsid", fields[0], cellName);
        if (rc != 0) {
            logLine("ExportDateSetGeneralInfo : unable to get data for field DSID\n");
            return rc;
        }
        rc = exportDSSI(workspace, "dssi", fields[1], dstr, cellName);
        if (rc != 0) {
            logLine("ExportDataSetGeneralInfo : unable to get data for field DSSI\n");
            return rc;
        }
        return writeDataRecord(file, fields, kGeneralInfoTexts);
    });
}

int32_t ExportDataSetGeographicRef(IWorkspace* workspace, Iso8211File* file, int32_t binary, const char* cellName) {
    return guarded("ExportDataSetGeographicRef", [&]() -> int32_t {
        if (!workspace || !file || !logFile || !cellName || binary != 1) {
            logLine("ExportDateSetGeographicRef : Illegal Parameter\n");
            return -19;
        }
        FieldSet fields(1);
        const int32_t rc = exportDSPM(workspace, "dspm", fields[0], cellName);
        if (rc != 0) {
            logLine("ExportDateSetGeographicRef : unable to get data for field DSPM");
            return rc;
        }
        return writeDataRecord(file, fields, kGeographicRefTexts);
    });
}

// ---- Fields -------------------------------------------------------------------------------------

int32_t exportDSID(IWorkspace* workspace, const char* tableName, Iso8211Field* field, const char* cellName) {
    return guarded("exportDSID", [&]() -> int32_t {
        if (!workspace || !tableName || !field || !cellName) return -19;
        std::vector<std::string> texts;
        int32_t rc = readCellRow(workspace, tableName, dsidFieldDefs, kDsidCount, cellName, texts);
        if (rc != 0) return rc;
        for (std::size_t i = 0; i < texts.size(); ++i) {
            const char* label = dsidFieldDefs[i].name;
            if ((std::strcmp(label, "COMT") == 0 || std::strcmp(label, "PSDN") == 0 ||
                 std::strcmp(label, "PRED") == 0) &&
                placeholderComment(texts[i]))
                texts[i].clear();
        }
        checkTexts("exportDSID", dsidFieldDefs, kDsidCount, texts);
        fillEnumerated(texts, dsidFieldDefs, "EXPP", "N", "exportDSID", cellName);
        fillEnumerated(texts, dsidFieldDefs, "PRSP", "ENC", "exportDSID", cellName);
        fillEnumerated(texts, dsidFieldDefs, "PROF", "EN", "exportDSID", cellName);
        toLevelText(texts, dsidFieldDefs, "exportDSID", cellName);
        return populate("exportDSID", "DSID", field, dsidFieldDefs, kDsidCount, texts);
    });
}

int32_t exportDSSI(IWorkspace* workspace, const char* tableName, Iso8211Field* field, int32_t* dstr,
                   const char* cellName) {
    return guarded("exportDSSI", [&]() -> int32_t {
        if (!workspace || !tableName || !field || !dstr || !cellName) return -19;
        std::vector<std::string> texts;
        int32_t rc = readCellRow(workspace, tableName, dssiFieldDefs, kDssiCount, cellName, texts);
        if (rc != 0) return rc;
        if (!texts.empty() && !equalsNoCase(texts[0], "CN")) {
            logLine("Topology level from DSSI::DSTR is not chain node, override to 2\n");
            texts[0] = "CN";
        }
        *dstr = 2;
        countVectorRecords(workspace, cellName, texts);
        checkTexts("exportDSSI", dssiFieldDefs, kDssiCount, texts);
        return populate("exportDSSI", "DSSI", field, dssiFieldDefs, kDssiWritten, texts);
    });
}

int32_t exportDSPM(IWorkspace* workspace, const char* tableName, Iso8211Field* field, const char* cellName) {
    return guarded("exportDSPM", [&]() -> int32_t {
        if (!workspace || !tableName || !field || !cellName) return -19;
        std::vector<std::string> texts;
        int32_t rc = readCellRow(workspace, tableName, dspmFieldDefs, kDspmCount, cellName, texts);
        if (rc != 0) return rc;
        for (std::size_t i = 0; i < texts.size(); ++i) {
            const char* label = dspmFieldDefs[i].name;
            if (std::strcmp(label, "COMF") == 0 || std::strcmp(label, "SOMF") == 0) {
                const bool comf = label[0] == 'C';
                const int32_t value = decimalInt32(texts[i].c_str());
                if (value == 0 || value == -1) {
                    if (comf)
                        logLine("Overriding invalid COMF value from %d to 1000\n", int(value));
                    else
                        logLine("Overriding invalid SOMF value from %d to 10\n", int(value));
                    texts[i] = comf ? "1000" : "10";
                }
                (comf ? coordFactor : soundingFactor) = decimalInt32(texts[i].c_str());
            } else if (std::strcmp(label, "COMT") == 0) {
                if (placeholderComment(texts[i])) texts[i].clear();
            }
        }
        checkTexts("exportDSPM", dspmFieldDefs, kDspmCount, texts);
        fillEnumerated(texts, dspmFieldDefs, "COUN", "LL", "exportDSPM", cellName);
        toLevelText(texts, dspmFieldDefs, "exportDSPM", cellName);
        return populate("exportDSPM", "DSPM", field, dspmFieldDefs, kDspmCount, texts);
    });
}

// ---- Reading a row ----------------------------------------------------------------------------

HRESULT gdbColumnValue2Subfield(ITable* table, const char* whereClause, const FieldDef* defs, int32_t defCount,
                                int32_t maxCount, int32_t* count, std::vector<std::string>* texts) {
    try {
        if (!table || !defs || !count || !texts) return -19;
        texts->clear();
        IQueryFilterPtr filter(CLSID_QueryFilter);
        if (whereClause) filter->PutWhereClause(whereClause);
        if (table->RowCount(filter) <= 0) return E_FAIL;
        ICursorPtr cursor = table->Search(filter, VARIANT_FALSE);
        IRowPtr row = cursor->NextRow();
        if (!row) return E_FAIL;
        IFieldsPtr fields = row->GetFields();
        for (int32_t i = 0; i < defCount && int32_t(texts->size()) < maxCount; ++i) {
            const LONG index = fields->FindField(defs[i].name);
            if (index < 0) {
                logLine("column %s not found, setting column value to empty", defs[i].name);
                texts->emplace_back();
                continue;
            }
            const _variant_t value = row->GetValue(index);
            std::string text;
            if (value.vt == VT_NULL || value.vt == VT_EMPTY) {
                // nothing
            } else if (value.vt == VT_BSTR) {
                text = static_cast<const char*>(_bstr_t(value));
                if (equalsNoCase(text, "MISSING")) text.clear();
            } else if (value.vt == VT_R8 || value.vt == VT_R4) {
                const double d = static_cast<double>(value);
                if (static_cast<long long>(d) != 0) {
                    char buf[64];
                    std::snprintf(buf, sizeof buf, "%lf", d);
                    text = buf;
                }
            } else {
                char buf[32];
                std::snprintf(buf, sizeof buf, "%d", int(static_cast<long>(value)));
                text = buf;
            }
            texts->push_back(std::move(text));
        }
        *count = int32_t(texts->size());
        return S_OK;
    } catch (const _com_error& e) {
        logComErrorOf(kModule, "gdbColumnValue2Subfield", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}
