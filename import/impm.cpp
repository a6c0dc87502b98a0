// import/impm.cpp: module impm, the metadata import (dsid, dssi, dspm) of one base cell.
// Every function catches _com_error around its body, logs it with its own name and returns E_FAIL;
// a table that cannot be written is logged and skipped (result 1) so that the cell goes on.
#include "import/impm.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "s57/dbutil.h"
#include "s57/llist.h"
#include "s57/record_list.h"
#include "s57/s57_file.h"
#include "s57/s57_util2.h"

namespace {

constexpr char kModule[] = "impm";

void logComError(const char* function, const _com_error& e) { logComErrorOf(kModule, function, e); }

// The text of the first subfield `label` of field `field`; null when the field has none.
const char* subfieldText(const Iso8211Record* record, int field, const char* label) {
    const int i = Find8211SubField(record, label, field, 0);
    if (i < 0) return nullptr;
    const char* value = record->fields[field].subFields[i].value;
    return value ? value : "";
}

// A multiplication factor of DSPM: its decimal value, or 0 when the text is no number that fits
// 32 bits (the caller refuses factors below 1).
int32_t factorValue(const char* text) {
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || errno == ERANGE || v > INT32_MAX || v < INT32_MIN) return 0;
    return int32_t(v);
}

bool beginsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Opens or creates a metadata table; null when it cannot be had.
ITablePtr metadataTable(IFeatureWorkspace* workspace, const char* name, int n, const FieldDef* defs) {
    ITablePtr table;
    const HRESULT hr = createGDBTable(workspace, name, &table, n, defs);
    if ((hr != S_OK && hr != GDB_E_NAME_EXISTS) || !table) return nullptr;
    return table;
}

// Inserts the filled row; false (logged) when the geodatabase refuses it.
bool insertRow(ITable* table, IRowBuffer* row, const char* function, const char* tableName) {
    ICursorPtr cursor = table->Insert(VARIANT_TRUE);
    _variant_t oid;
    const HRESULT hr = cursor->raw_InsertRow(row, &oid);
    if (FAILED(hr)) {
        logLine("%s: unable to insert the %s row, rc = 0x%08x\n", function, tableName, unsigned(hr));
        return false;
    }
    cursor->Flush();
    return true;
}

// Puts a subfield text into the row's column of that name. A text longer than a text column is
// cut to the column's width (at a character boundary) and logged: the geodatabase would refuse it
// whole (a dsid or dspm table made before its COMT column was widened holds 70 characters).
void putText(IRowBuffer* row, IFields* fields, const char* function, const char* column, const char* value) {
    const LONG index = fields->FindField(column);
    std::string text = value ? value : "";
    if (index >= 0) {
        IFieldPtr field = fields->GetField(index);
        const LONG width = field->GetLength();
        if (field->GetType() == esriFieldTypeString && width > 0) {
            std::size_t characters = 0;
            for (std::size_t i = 0; i < text.size(); ++i) {
                if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
                if (characters++ == std::size_t(width)) {
                    logLine("%s: %s value %s cut to %d characters\n", function, column, text.c_str(), int(width));
                    text.resize(i);
                    break;
                }
            }
        }
    }
    (void)SetRecordValue(row, column, _variant_t(text.c_str()));
}

// What the two DSPM factors become: the subfield's value when it is a positive number, else 1.
void takeFactor(const char* label, const char* text, int32_t* out) {
    if (!text || !*text) return;
    const int32_t v = factorValue(text);
    if (v < 1) {
        // Dividing by it would make every coordinate of the cell infinite or mirrored.
        logLine("importDSPM: %s value %s is not a positive factor, 1 used\n", label, text);
        *out = 1;
        return;
    }
    *out = v;
}

}  // namespace

bool importDSNM(ITable* table, const char* /*tag*/, const char* cellName) {
    try {
        if (!table || !cellName) return false;
        IQueryFilterPtr filter(CLSID_QueryFilter);
        filter->PutWhereClause(("DSNM=" + sqlText(cellName)).c_str());
        if (table->RowCount(filter) <= 0) return false;
        const std::string detail = std::string(" ") + cellName;
        displayMessage(131, kCaptionS57ToGdb, detail.c_str());
        const char* text = stringText(131);
        logLine("%s %s", text ? text : "", detail.c_str());
        return true;
    } catch (const _com_error& e) {
        logComError("importDSNM", e);
        return false;
    } catch (const std::bad_alloc&) {
        logComError("importDSNM", _com_error(E_OUTOFMEMORY));
        return false;
    }
}

int32_t importDSID(IFeatureWorkspace* workspace, const Iso8211Record* record, char* cellName) {
    try {
        if (!workspace || !record || !cellName) return -19;
        const int field = Find8211Field(record, "DSID", 0);
        if (field < 0) {
            logLine("importDSID unable to locate DSID field\n");
            return 1;
        }
        ITablePtr table = metadataTable(workspace, "dsid", fieldDefCount(dsidFieldDefs), dsidFieldDefs);
        if (!table) {
            logLine("importDSID unable to create dsid\n");
            return 1;
        }
        IRowBufferPtr row = table->CreateRowBuffer();
        IFieldsPtr fields = row->GetFields();
        for (const FieldDef& def : dsidFieldDefs) {
            const char* value = subfieldText(record, field, def.name);
            if (std::strcmp(def.name, "DSNM") == 0) {
                if (value && *value) {
                    if (std::strlen(value) >= kCellNameSize)
                        logLine("importDSID: DSNM %s cut to %d characters\n", value, int(kCellNameSize - 1));
                    std::snprintf(cellName, kCellNameSize, "%s", value);
                }
                // The duplicate check reads this column: it holds the name the cell goes by.
                value = cellName;
            }
            putText(row, fields, "importDSID", def.name, value);
        }
        if (importDSNM(table, "DSID", cellName)) return E_FAIL;
        if (!insertRow(table, row, "importDSID", "dsid")) return 1;
        return 0;
    } catch (const _com_error& e) {
        logComError("importDSID", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError("importDSID", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}

int32_t importDSSI(IFeatureWorkspace* workspace, const Iso8211Record* record, const char* cellName) {
    try {
        if (!workspace || !record || !cellName) return -19;
        const int field = Find8211Field(record, "DSSI", 0);
        if (field < 0) {
            logLine("importDSSI unable to locate DSSI field\n");
            return 1;
        }
        ITablePtr table = metadataTable(workspace, "dssi", fieldDefCount(dssiFieldDefs), dssiFieldDefs);
        if (!table) {
            logLine("importDSSI unable to create dssi.dbf\n");
            return 1;
        }
        if (importDSNM(table, "DSSI", cellName)) return E_FAIL;
        IRowBufferPtr row = table->CreateRowBuffer();
        IFieldsPtr fields = row->GetFields();
        for (const FieldDef& def : dssiFieldDefs)
            putText(row, fields, "importDSSI", def.name, subfieldText(record, field, def.name));
        putText(row, fields, "importDSSI", "DSNM", cellName);
        if (!insertRow(table, row, "importDSSI", "dssi")) return 1;
        return 0;
    } catch (const _com_error& e) {
        logComError("importDSSI", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError("importDSSI", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}

int32_t importDSPM(IFeatureWorkspace* workspace, const Iso8211Record* record, int32_t* comf, int32_t* somf,
                   const char* cellName) {
    try {
        if (!workspace || !record || !comf || !somf || !cellName) return -19;
        *comf = 1;
        *somf = 1;
        const int field = Find8211Field(record, "DSPM", 0);
        if (field < 0) {
            logLine("importDSPM unable to locate DSPM field\n");
            return 1;
        }
        takeFactor("COMF", subfieldText(record, field, "COMF"), comf);
        takeFactor("SOMF", subfieldText(record, field, "SOMF"), somf);
        ITablePtr table = metadataTable(workspace, "dspm", fieldDefCount(dspmFieldDefs), dspmFieldDefs);
        if (!table) {
            logLine("importDSPM unable to create dspm\n");
            return 1;
        }
        if (importDSNM(table, "DSPM", cellName)) return E_FAIL;
        IRowBufferPtr row = table->CreateRowBuffer();
        IFieldsPtr fields = row->GetFields();
        // The last definition is the cell name, which is not a DSPM subfield.
        for (int i = 0; i < fieldDefCount(dspmFieldDefs) - 1; ++i)
            putText(row, fields, "importDSPM", dspmFieldDefs[i].name,
                    subfieldText(record, field, dspmFieldDefs[i].name));
        putText(row, fields, "importDSPM", "DSNM", cellName);
        if (!insertRow(table, row, "importDSPM", "dspm")) return 1;
        return 0;
    } catch (const _com_error& e) {
        logComError("importDSPM", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError("importDSPM", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}

int32_t importMeta(IFeatureWorkspace* workspace, Iso8211File* file, llist* records, int32_t* comf, int32_t* somf,
                   char* cellName) {
    try {
        if (!comf || !somf) return -19;
        // A cell without DSPM still has factors that divide.
        *comf = 1;
        *somf = 1;
        if (!workspace || !file || !cellName) return -19;
        if (llist_is_empty(records)) {
            logLine("importMeta: no record found in object file\n");
            return 0;
        }
        // Records the list sorts before the metadata (DH, DA, VF and other kinds) and a missing DP
        // record leave no fixed place: take the first record of each kind wherever it stands.
        int32_t dsRecno = 0;
        int32_t dpRecno = 0;
        for (auto* rec = static_cast<ObjectRec*>(llist_first(records)); rec && !(dsRecno && dpRecno);
             rec = static_cast<ObjectRec*>(llist_next(records))) {
            if (!dsRecno && beginsWith(rec->name, "DS")) dsRecno = rec->recno;
            else if (!dpRecno && beginsWith(rec->name, "DP")) dpRecno = rec->recno;
        }
        llist_first(records);

        if (dsRecno) {
            RecordHolder ds;
            if (int rc = readObjectRecord(file, dsRecno, &ds.record); rc != 0) {
                logLine("importMeta: unable to read record %d\n", int(dsRecno));
                return rc;
            }
            int32_t rc = importDSID(workspace, &ds.record, cellName);
            if (rc != 0 && rc != 1) return rc;
            rc = importDSSI(workspace, &ds.record, cellName);
            if (rc == 1) logLine("importMeta: unable to import DSSI\n");
            else if (rc != 0) return rc;
        }
        if (dpRecno) {
            RecordHolder dp;
            if (int rc = readObjectRecord(file, dpRecno, &dp.record); rc != 0) {
                logLine("importMeta: unable to read record %d\n", int(dpRecno));
                return rc;
            }
            const int32_t rc = importDSPM(workspace, &dp.record, comf, somf, cellName);
            if (rc == 1) logLine("importMeta: unable to import DSPM\n");
            else if (rc != 0) return rc;
        }
        return 0;
    } catch (const _com_error& e) {
        logComError("importMeta", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError("importMeta", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}
