// import/impcat.cpp: module impcat (see impcat.h): the CATALOG reader, the overlap check of an
// exchange set's base cells and the rows of table catd.
// Results are codes and log lines (logFile); nothing is thrown to callers.

#include "import/impcat.h"

#include <strings.h>

#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "s57/dbutil.h"
#include "s57/s57_util2.h"

namespace {

constexpr char kModule[] = "impcat";

// Results of this module besides those it passes on.
constexpr int32_t kBadSubfield = -10;
constexpr int32_t kNoEntries = -16;
constexpr int32_t kNoCatdField = -17;
constexpr int32_t kOverlap = 8;

void logComError(const char* function, const _com_error& e) { logComErrorOf(kModule, function, e); }

template <std::size_t N>
void copyText(char (&dst)[N], std::string_view src) {
    const std::size_t n = src.size() < N - 1 ? src.size() : N - 1;
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

// Appends one zeroed entry to a malloc'ed list; null (list unchanged) without memory.
template <class T>
T* appendEntry(T*& array, int32_t& count) {
    T* grown = static_cast<T*>(std::realloc(array, (std::size_t(count) + 1) * sizeof(T)));
    if (!grown) return nullptr;
    array = grown;
    T* entry = &array[count++];
    std::memset(static_cast<void*>(entry), 0, sizeof(T));
    return entry;
}

// The text of subfield `label` of field `field`, or null when the field has no such subfield.
const char* subfieldText(const Iso8211Record& record, int field, const char* label) {
    const int index = Find8211SubField(&record, label, field, 0);
    if (index < 0) return nullptr;
    const char* value = record.fields[field].subFields[index].value;
    return value ? value : "";
}

// Copies a subfield into a fixed member; a text that does not fit is refused, not cut.
template <std::size_t N>
int32_t readText(const Iso8211Record& record, int field, const char* label, char (&dst)[N], int recordNo) {
    const char* text = subfieldText(record, field, label);
    if (!text) return 0;
    const std::size_t n = std::strlen(text);
    if (n >= N) {
        logLine("loadCatalogRecList: subfield %s of record %d is longer than %d characters\n", label, recordNo,
                int(N - 1));
        return kBadSubfield;
    }
    std::memcpy(dst, text, n + 1);
    return 0;
}

int32_t readNumber(const Iso8211Record& record, int field, const char* label, double& dst, int recordNo) {
    const char* text = subfieldText(record, field, label);
    dst = 0;
    if (!text) return 0;
    const char* p = text;
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (!*p) return 0;
    char* end = nullptr;
    const double value = std::strtod(p, &end);
    while (end && std::isspace(static_cast<unsigned char>(*end))) ++end;
    if (end == p || (end && *end) || !std::isfinite(value)) {
        logLine("loadCatalogRecList: subfield %s of record %d is not a number: %s\n", label, recordNo, text);
        return kBadSubfield;
    }
    dst = value;
    return 0;
}

int32_t readEntry(const Iso8211Record& record, int field, const Iso8211RecIndex& index, CatalogEntry& e,
                  int recordNo) {
    copyText(e.rcnm, std::string_view(index.rcnm, strnlen(index.rcnm, sizeof index.rcnm)));
    copyText(e.rcid, std::string_view(index.rcid, strnlen(index.rcid, sizeof index.rcid)));
    int32_t rc = 0;
    if ((rc = readText(record, field, "FILE", e.file, recordNo)) != 0) return rc;
    if ((rc = readText(record, field, "LFIL", e.lfil, recordNo)) != 0) return rc;
    if ((rc = readText(record, field, "VOLM", e.volm, recordNo)) != 0) return rc;
    if ((rc = readText(record, field, "IMPL", e.impl, recordNo)) != 0) return rc;
    if ((rc = readNumber(record, field, "SLAT", e.slat, recordNo)) != 0) return rc;
    if ((rc = readNumber(record, field, "WLON", e.wlon, recordNo)) != 0) return rc;
    if ((rc = readNumber(record, field, "NLAT", e.nlat, recordNo)) != 0) return rc;
    if ((rc = readNumber(record, field, "ELON", e.elon, recordNo)) != 0) return rc;
    if ((rc = readText(record, field, "CRCS", e.crcs, recordNo)) != 0) return rc;
    return readText(record, field, "COMT", e.comt, recordNo);
}

int32_t readXref(const Iso8211Record& record, int field, const Iso8211RecIndex& index, CatalogXrefEntry& x,
                 int recordNo) {
    copyText(x.rcnm, std::string_view(index.rcnm, strnlen(index.rcnm, sizeof index.rcnm)));
    copyText(x.rcid, std::string_view(index.rcid, strnlen(index.rcid, sizeof index.rcid)));
    int32_t rc = 0;
    if ((rc = readText(record, field, "NAM1", x.nam1, recordNo)) != 0) return rc;
    if ((rc = readText(record, field, "NAM2", x.nam2, recordNo)) != 0) return rc;
    return readText(record, field, "COMT", x.comt, recordNo);
}

bool isBaseCell(const char* file) {
    const char* dot = std::strrchr(file, '.');
    return dot && strcasecmp(dot, ".000") == 0;
}

// The catd columns in the order importCATD fills them.
constexpr int kCatdColumns = 13;
constexpr const char* kColumnNames[kCatdColumns] = {"RCNM", "RCID", "CFIL", "LFIL", "VOLM", "IMPL", "SLAT",
                                                    "WLON", "NLAT", "ELON", "CRCS", "COMT", "CATL"};

std::string columnText(const _variant_t& v) {
    if (v.vt == VT_NULL || v.vt == VT_EMPTY) return {};
    return std::string(static_cast<const char*>(_bstr_t(v)));
}

double columnNumber(const _variant_t& v) {
    if (v.vt == VT_NULL || v.vt == VT_EMPTY) return 0;
    return static_cast<double>(v);
}

// True when catd holds exactly these entries for this directory already, row for row: the same
// exchange set imported again, whose rows are not to be doubled.
bool holdsSameSet(ITable* table, const LONG (&column)[kCatdColumns], int32_t count, const CatalogEntry* entries,
                  const char* catalogueDirectory) {
    IQueryFilterPtr filter(CLSID_QueryFilter);
    filter->PutWhereClause(("CATL=" + sqlText(catalogueDirectory)).c_str());
    if (table->RowCount(filter) != count) return false;
    ICursorPtr cursor = table->Search(filter, VARIANT_FALSE);
    int32_t i = 0;
    for (IRowPtr row = cursor->NextRow(); row; row = cursor->NextRow(), ++i) {
        if (i >= count) return false;
        const CatalogEntry& e = entries[i];
        const char* texts[] = {e.rcnm, e.rcid, e.file, e.lfil, e.volm, e.impl};
        for (int k = 0; k < 6; ++k)
            if (columnText(row->GetValue(column[k])) != texts[k]) return false;
        const double numbers[] = {e.slat, e.wlon, e.nlat, e.elon};
        for (int k = 0; k < 4; ++k)
            if (columnNumber(row->GetValue(column[6 + k])) != numbers[k]) return false;
        if (columnText(row->GetValue(column[10])) != e.crcs || columnText(row->GetValue(column[11])) != e.comt ||
            columnText(row->GetValue(column[12])) != catalogueDirectory)
            return false;
    }
    return i == count;
}

// An entry whose four coordinates are all 0 (absent or empty subfields) has no extent.
bool hasExtent(const CatalogEntry& e) { return e.slat != 0 || e.wlon != 0 || e.nlat != 0 || e.elon != 0; }

}  // namespace

// ---- loadCatalogRecList -------------------------------------------------------------------------

void freeCatalogRecList(CatalogEntryList* entries, CatalogXrefList* xrefs) {
    if (entries) {
        std::free(entries->entries);
        entries->entries = nullptr;
        entries->count = 0;
    }
    if (xrefs) {
        std::free(xrefs->entries);
        xrefs->entries = nullptr;
        xrefs->count = 0;
    }
}

int32_t loadCatalogRecList(Iso8211File* file, const char* path, CatalogEntryList* entries, CatalogXrefList* xrefs) {
    if (!file || !path || !entries || !xrefs) {
        logLine("loadCatalogRecList: Illegal parameter\n");
        return -19;
    }
    *entries = CatalogEntryList{0, nullptr};
    *xrefs = CatalogXrefList{0, nullptr};
    const int opened = Read8211File(file, path);
    if (opened != 0) {
        logLine("loadCatalogRecList: unable to read catalogue file %s (%d)\n", path, opened);
        return opened;
    }
    // A failed load leaves nothing behind: no half list, no open file.
    auto fail = [&](int32_t rc) {
        freeCatalogRecList(entries, xrefs);
        (void)Close8211File(file);
        return rc;
    };
    try {
        for (int i = 1; i <= file->recordCount; ++i) {
            RecordHolder holder;
            const int rc = Read8211Record(file, i, &holder.record);
            if (rc != 0) {
                logLine("loadCatalogRecList: Error reading object record %d\n", i);
                return fail(rc);
            }
            const Iso8211RecIndex& index = file->index[i - 1];
            if (strcasecmp(index.rcnm, "CD") == 0) {
                CatalogEntry* entry = appendEntry(entries->entries, entries->count);
                if (!entry) {
                    logLine("loadCatalogRecList: unable to allocate memory\n");
                    return fail(-1);
                }
                const int field = Find8211Field(&holder.record, "CATD", 0);
                if (field < 0) {
                    logLine("loadCatalogRecList: Error reading object record %d, missing CATX or CATD field\n", i);
                    return fail(kNoCatdField);
                }
                if (const int32_t bad = readEntry(holder.record, field, index, *entry, i); bad != 0)
                    return fail(bad);
            } else if (strcasecmp(index.rcnm, "CR") == 0) {
                const int field = Find8211Field(&holder.record, "CATX", 0);
                if (field < 0) continue;
                CatalogXrefEntry* xref = appendEntry(xrefs->entries, xrefs->count);
                if (!xref) {
                    logLine("loadCatalogRecList: unable to allocate memory\n");
                    return fail(-1);
                }
                if (const int32_t bad = readXref(holder.record, field, index, *xref, i); bad != 0) return fail(bad);
            }
        }
        if (entries->count == 0) {
            logLine("loadCatalogRecList: no record exist in object file\n");
            return fail(kNoEntries);
        }
        return 0;
    } catch (const _com_error& e) {
        logComError("loadCatalogRecList", e);
        return fail(E_FAIL);
    } catch (const std::bad_alloc&) {
        logLine("loadCatalogRecList: unable to allocate memory\n");
        return fail(-1);
    }
}

// ---- checkCATDExtent ----------------------------------------------------------------------------

int32_t checkCATDExtent(int32_t count, const CatalogEntry* entries) {
    try {
        if (count <= 0) return 0;
        if (!entries) {
            logLine("checkCATDExtent: Illegal parameter\n");
            return E_FAIL;
        }
        IEnvelopePtr a(CLSID_Envelope);
        IEnvelopePtr b(CLSID_Envelope);
        IAreaPtr common(a);
        if (!a || !b || !common) _com_issue_error(E_NOINTERFACE);
        // Each unordered pair once: the test is symmetric.
        for (int32_t i = 0; i < count; ++i) {
            const CatalogEntry& p = entries[i];
            if (!isBaseCell(p.file) || !hasExtent(p)) continue;
            for (int32_t j = i + 1; j < count; ++j) {
                const CatalogEntry& q = entries[j];
                if (!isBaseCell(q.file) || !hasExtent(q) || strcasecmp(p.file, q.file) == 0) continue;
                a->PutCoords(p.wlon, p.slat, p.elon, p.nlat);
                b->PutCoords(q.wlon, q.slat, q.elon, q.nlat);
                a->Intersect(b);
                // Tiles of a set share edges and corners; only a common area is an overlap.
                if (a->GetIsEmpty() == VARIANT_FALSE && common->GetArea() > 0) return kOverlap;
            }
        }
        return 0;
    } catch (const _com_error& e) {
        logComError("checkCATDExtent", e);
        return E_FAIL;
    }
}

// ---- importCATD ---------------------------------------------------------------------------------

int32_t importCATD(IFeatureWorkspace* workspace, int32_t count, const CatalogEntry* entries,
                   const char* catalogueDirectory) {
    try {
        if (!workspace || !catalogueDirectory || count < 0 || (count > 0 && !entries)) {
            logLine("importCATD: Illegal parameter\n");
            return E_FAIL;
        }
        if (const int32_t rc = checkCATDExtent(count, entries); rc != 0) return rc;

        ITable* raw = nullptr;
        const HRESULT created = createGDBTable(workspace, "catd", &raw, fieldDefCount(catdFieldDefs), catdFieldDefs);
        ITablePtr table;
        table.Attach(raw);
        if (created != S_OK && created != GDB_E_NAME_EXISTS) return created;
        if (!table) table = workspace->OpenTable("catd");

        ICursorPtr cursor = table->Insert(VARIANT_TRUE);
        IRowBufferPtr buffer = table->CreateRowBuffer();
        IFieldsPtr fields = buffer->GetFields();

        LONG column[kCatdColumns];
        for (int k = 0; k < kCatdColumns; ++k) {
            column[k] = fields->FindField(kColumnNames[k]);
            if (column[k] < 0) {
                logLine("importCATD: table catd has no column %s\n", kColumnNames[k]);
                return E_FAIL;
            }
        }
        // A set already imported from this directory stays as it is: its cells are refused as
        // duplicates, and the run must change nothing.
        if (count > 0 && holdsSameSet(table, column, count, entries, catalogueDirectory))
            return 0;
        for (int32_t i = 0; i < count; ++i) {
            const CatalogEntry& e = entries[i];
            buffer->PutValue(column[0], _variant_t(e.rcnm));
            buffer->PutValue(column[1], _variant_t(e.rcid));
            buffer->PutValue(column[2], _variant_t(e.file));
            buffer->PutValue(column[3], _variant_t(e.lfil));
            buffer->PutValue(column[4], _variant_t(e.volm));
            buffer->PutValue(column[5], _variant_t(e.impl));
            buffer->PutValue(column[6], _variant_t(e.slat));
            buffer->PutValue(column[7], _variant_t(e.wlon));
            buffer->PutValue(column[8], _variant_t(e.nlat));
            buffer->PutValue(column[9], _variant_t(e.elon));
            buffer->PutValue(column[10], _variant_t(e.crcs));
            buffer->PutValue(column[11], _variant_t(e.comt));
            buffer->PutValue(column[12], _variant_t(catalogueDirectory));
            _variant_t oid;
            const HRESULT inserted = cursor->raw_InsertRow(buffer, &oid);
            if (FAILED(inserted)) {
                logLine("importCATD: unable to insert the catd row of %s (0x%08X)\n", e.file, unsigned(inserted));
                return inserted;
            }
        }
        cursor->Flush();
        return 0;
    } catch (const _com_error& e) {
        logComError("importCATD", e);
        return E_FAIL;
    }
}
