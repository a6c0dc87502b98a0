// s57/dbutil.cpp: module dbUtil: the schema tables of the geodatabase model and the shared
// geodatabase operations (open by path, open-or-create by name, set by column name, insert, update
// by cell name). Every function catches _com_error, logs it with its own name and returns E_FAIL;
// other failures are the platform's results passed on.
#include "s57/dbutil.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "s57/dimml.h"
#include "s57/s57_util2.h"

// ---- Schema tables ---------------------------------------------------------------------------------

const FieldDef dsnmFieldDefs[3] = {
    {1, "DSNM", "UNKNOWN", 1, 16},
    {2, "CATCOV", "-1", 2, 2},
    {3, "METAID", "-1", 2, 2},
};

// DSID and DSPM comments run longer than 70 characters in producers' cells, and a cell's metadata
// has no overflow table: their columns are as wide as atto's values.
const FieldDef dsidFieldDefs[16] = {
    {1, "RCNM", "DS", 1, 2},        {2, "RCID", "UNKNOWN", 1, 10},  {3, "EXPP", "X", 1, 1},
    {4, "INTU", "-1", 2, 2},        {5, "DSNM", "UNKNOWN", 1, 70},  {6, "EDTN", "UNKNOWN", 1, 70},
    {7, "UPDN", "UNKNOWN", 1, 70},  {8, "UADT", "UNKNOWN", 1, 8},   {9, "ISDT", "UNKNOWN", 1, 8},
    {10, "STED", "XXXX", 1, 4},     {11, "PRSP", "XXX", 1, 3},      {12, "PSDN", "UNKNOWN", 1, 70},
    {13, "PRED", "UNKNOWN", 1, 70}, {14, "PROF", "XX", 1, 2},       {15, "AGEN", "XX", 1, 2},
    {16, "COMT", "UNKNOWN", 1, 1024},
};

const FieldDef dssiFieldDefs[12] = {
    {1, "DSTR", "XX", 1, 2}, {2, "AALL", "X", 1, 1},  {3, "NALL", "X", 1, 1},  {4, "NOMR", "-1", 2, 2},
    {5, "NOCR", "-1", 2, 2}, {6, "NOGR", "-1", 2, 2}, {7, "NOLR", "-1", 2, 2}, {8, "NOIN", "-1", 2, 2},
    {9, "NOCN", "-1", 2, 2}, {10, "NOED", "-1", 2, 2}, {11, "NOFA", "-1", 2, 2},
    {12, "DSNM", "UNKNOWN", 1, 16},
};

const FieldDef dspmFieldDefs[14] = {
    {1, "RCNM", "DP", 1, 2},  {2, "RCID", "UNKNOWN", 1, 10}, {3, "HDAT", "-1", 2, 2},
    {4, "VDAT", "-1", 2, 2},  {5, "SDAT", "-1", 2, 2},       {6, "CSCL", "-1", 2, 4},
    {7, "DUNI", "-1", 2, 2},  {8, "HUNI", "-1", 2, 2},       {9, "PUNI", "-1", 2, 2},
    {10, "COUN", "XX", 1, 2}, {11, "COMF", "-1", 2, 4},      {12, "SOMF", "-1", 2, 4},
    {13, "COMT", "UNKNOWN", 1, 1024}, {14, "DSNM", "UNKNOWN", 1, 16},
};

const FieldDef dsprFieldDefs[9] = {
    {1, "PROJ", "", 1, 3}, {2, "PRP1", "", 3, 4}, {3, "PRP2", "", 3, 4}, {4, "PRP3", "", 3, 4},
    {5, "PRP4", "", 3, 4}, {6, "FEAS", "", 3, 4}, {7, "FNOR", "", 3, 4}, {8, "FPMF", "", 2, 4},
    {9, "COMT", "", 1, 70},
};

const FieldDef dsrcFieldDefs[8] = {
    {1, "RPID", "", 1, 1}, {2, "RYCO", "", 3, 4}, {3, "RXCO", "", 3, 4}, {4, "CURP", "", 1, 2},
    {5, "FPMF", "", 2, 4}, {6, "RXVL", "", 3, 4}, {7, "RYVL", "", 3, 4}, {8, "COMT", "", 1, 70},
};

const FieldDef dshtFieldDefs[8] = {
    {1, "RCNM", "", 1, 2}, {2, "RCID", "", 1, 10}, {3, "PRCO", "", 1, 2},  {4, "ESDT", "", 1, 8},
    {5, "LSDT", "", 1, 8}, {6, "DCRT", "", 1, 70}, {7, "CODT", "", 1, 8}, {8, "COMT", "", 1, 70},
};

const FieldDef dsacFieldDefs[7] = {
    {1, "RCNM", "", 1, 2}, {2, "RCID", "", 1, 10}, {3, "HACC", "", 3, 4}, {4, "VACC", "", 3, 4},
    {5, "SACC", "", 3, 4}, {6, "FPMF", "", 2, 4},  {7, "COMT", "", 1, 70},
};

// CATL holds the CATALOG file's directory: 70 characters cut off ordinary paths, so it is wider.
const FieldDef catdFieldDefs[13] = {
    {1, "RCNM", "CD", 1, 2},        {2, "RCID", "UNKNOWN", 1, 10},  {3, "CFIL", "UNKNOWN", 1, 70},
    {4, "LFIL", "UNKNOWN", 1, 70},  {5, "VOLM", "UNKNOWN", 1, 70},  {6, "IMPL", "XXX", 1, 3},
    {7, "SLAT", "", 3, 4},          {8, "WLON", "", 3, 4},          {9, "NLAT", "", 3, 4},
    {10, "ELON", "", 3, 4},         {11, "CRCS", "UNKNOWN", 1, 70}, {12, "COMT", "UNKNOWN", 1, 70},
    {13, "CATL", "UNKNOWN", 1, 254},
};

const FieldDef catxFieldDefs[6] = {
    {1, "RCNM", "CR", 1, 2},       {2, "RCID", "UNKNOWN", 1, 10}, {3, "NAM1", "UNKNOWN", 1, 12},
    {4, "NAM2", "UNKNOWN", 1, 12}, {5, "COMT", "UNKNOWN", 1, 70}, {6, "CATL", "UNKNOWN", 1, 70},
};

const FieldDef primitiveFieldDefs[4] = {
    {1, "NAME", "UNKNOWN", 1, 12}, {2, "RVER", "-1", 2, 2}, {3, "RUIN", "X", 1, 1},
    {4, "DSNM", "UNKNOWN", 1, 16},
};

const FieldDef vridFieldDefs[4] = {
    {1, "RCNM", "XX", 1, 2}, {2, "RCID", "UNKNOWN", 1, 10}, {3, "RVER", "-1", 2, 2}, {4, "RUIN", "X", 1, 1},
};

const FieldDef fridFieldDefs[7] = {
    {1, "RCNM", "XX", 1, 2},     {2, "RCID", "UNKNOWN", 1, 10}, {3, "PRIM", "X", 1, 1},
    {4, "GRUP", "-1", 2, 2},     {5, "OBJL", "XXXXXX", 1, 6},   {6, "RVER", "-1", 2, 2},
    {7, "RUIN", "X", 1, 1},
};

const FieldDef foidFieldDefs[3] = {
    {1, "AGEN", "XX", 1, 2}, {2, "FIDN", "UNKNOWN", 1, 10}, {3, "FIDS", "XXXXX", 1, 5},
};

const FieldDef objcatFieldDefs[4] = {
    {1, "LNAM", "UNKNOWN", 1, 17}, {2, "NAME", "UNKNOWN", 1, 12}, {3, "CLASS", "XXXXXX", 1, 6},
    {4, "PRIM", "XX", 1, 2},
};

const FieldDef statFieldDefs[6] = {
    {1, "CLASS", "XXXXXX", 1, 6}, {2, "DESCR", "", 1, 50}, {3, "PRIM", "XX", 1, 2},
    {4, "TOTAL", "-1", 2, 2},     {5, "PATH", "", 1, 70},  {6, "DSNM", "UNKNOWN", 1, 16},
};

const FieldDef srelFieldDefs[9] = {
    {0, "ID", "-1", 2, 4},          {1, "SRC_LNAM", "UNKNOWN", 1, 17}, {2, "SRC_NAME", "UNKNOWN", 1, 12},
    {3, "DEST_NAME", "UNKNOWN", 1, 12}, {4, "ORNT", "X", 1, 1},         {5, "USAG", "X", 1, 1},
    {6, "TOPI", "X", 1, 1},         {7, "MASK", "X", 1, 1},            {8, "DSNM", "UNKNOWN", 1, 16},
};

// DEST_CLAS holds an acronym of six letters: its default must fit the column too.
const FieldDef frelFieldDefs[7] = {
    {1, "SRC_LNAM", "UNKNOWN", 1, 17}, {2, "DEST_LNAM", "UNKNOWN", 1, 17}, {3, "DEST_CLAS", "XXXXXX", 1, 6},
    {4, "DEST_TYPE", "XX", 1, 2},      {5, "RIND", "X", 1, 1},             {6, "COMT", "UNKNOWN", 1, 70},
    {7, "DSNM", "UNKNOWN", 1, 16},
};

const FieldDef attrFieldDefs[12] = {
    {102, "INFORM", "UNKNOWN", 1, 70}, {300, "NINFOM", "UNKNOWN", 1, 70}, {304, "NTXTDS", "UNKNOWN", 1, 70},
    {120, "PICREP", "UNKNOWN", 1, 70}, {132, "SCAMAX", "-1", 2, 4},       {133, "SCAMIN", "-1", 2, 4},
    {158, "TXTDSC", "UNKNOWN", 1, 70}, {124, "PUBREF", "UNKNOWN", 1, 70}, {128, "RECDAT", "UNKNOWN", 1, 8},
    {129, "RECIND", "UNKNOWN", 1, 70}, {147, "SORDAT", "UNKNOWN", 1, 8},  {148, "SORIND", "UNKNOWN", 1, 70},
};

// The overflow table keeps values too long for their columns: owner, attribute label, value (as
// long as a subfield can be).
const FieldDef attoFieldDefs[3] = {
    {1, "LNAM", "UNKNOWN", 1, 17},
    {2, "ATTL", "XXXXXX", 1, 6},
    {3, "ATVL", "UNKNOWN", 1, 1024},
};

const FieldDef cellNameFieldDefs[1] = {
    {1, "DSNM", "UNKNOWN", 1, 17},
};

// ---- Helpers ---------------------------------------------------------------------------------------

namespace {

constexpr char kModule[] = "dbUtil";

void logComError(const char* function, const _com_error& e) { logComErrorOf(kModule, function, e); }

std::string lowerCopy(const char* text) {
    std::string s(text);
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A personal geodatabase's path: ".mdb" (or ".gpkg") anywhere, tested before ".sde".
bool isPersonalPath(const char* path) {
    const std::string lower = lowerCopy(path);
    return lower.find(".mdb") != std::string::npos || lower.find(".gpkg") != std::string::npos;
}

bool hasName(const std::vector<std::string>& names, const char* name) {
    for (const std::string& n : names)
        if (strcasecmp(n.c_str(), name) == 0) return true;
    return false;
}

// A reused table keeps its columns: each value meant for a missing one would be lost unseen.
template <class Object>
void logMissingColumns(Object* object, const char* function, const char* what, const char* name, int n,
                       const FieldDef* defs) {
    for (int i = 0; i < n && defs; ++i)
        if (object->FindField(defs[i].name) < 0)
            logLine("%s: %s %s has no column %s\n", function, what, name, defs[i].name);
}

// Column indexes as FindField gives them, remembered per field list: a class hands out one list
// until its schema changes, and rows ask by name for every value. The list is held so that its
// address can never come back as another list's; a list whose count changed is asked again.
class FieldIndexCache {
public:
    // false when FindField fails.
    bool find(IFields* fields, const char* column, LONG* index) {
        if (!simpleName(column)) return SUCCEEDED(fields->raw_FindField(_bstr_t(column).GetBSTR(), index));
        LONG count = 0;
        if (FAILED(fields->get_FieldCount(&count))) return false;
        Entry& e = entryFor(fields, count);
        // Callers mostly pass the same texts (literals, catalogue names): found by address first,
        // with the text compared, since an address may hold another text by now.
        if (e.byAddress.size() > kAddresses) e.byAddress.clear();
        Named& named = e.byAddress[column];
        if (named.index != kUnknown && named.text == column) {
            *index = named.index;
            return true;
        }
        key_.assign(column);
        for (char& c : key_)
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        auto it = e.byName.find(key_);
        if (it == e.byName.end()) {
            LONG found = -1;
            if (FAILED(fields->raw_FindField(_bstr_t(column).GetBSTR(), &found))) return false;
            it = e.byName.emplace(key_, found).first;
        }
        named.text = column;
        named.index = it->second;
        *index = it->second;
        return true;
    }

private:
    static constexpr LONG kUnknown = -2;
    static constexpr std::size_t kAddresses = 4096;  // texts of passing buffers add addresses
    struct Named {
        std::string text;
        LONG index = kUnknown;
    };
    struct Entry {
        IFieldsPtr fields;
        LONG count = 0;
        std::unordered_map<std::string, LONG> byName;  // lower-cased name
        std::unordered_map<const char*, Named> byAddress;
    };
    // One list: the rows of one class come together, and each list held past its class keeps
    // about half a megabyte of the heap from reuse (page faults cost more than lookups).
    static constexpr std::size_t kLists = 1;

    // ASCII names only: the platform folds other characters its own way.
    static bool simpleName(const char* column) {
        for (const char* c = column; *c; ++c)
            if (static_cast<unsigned char>(*c) >= 0x80) return false;
        return true;
    }
    Entry& entryFor(IFields* fields, LONG count) {
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (entries_[i].fields.GetInterfacePtr() != fields) continue;
            if (i != 0) std::swap(entries_[0], entries_[i]);
            if (entries_[0].count != count) {
                entries_[0].byName.clear();
                entries_[0].byAddress.clear();
                entries_[0].count = count;
            }
            return entries_[0];
        }
        if (entries_.size() < kLists) entries_.emplace_back();
        std::rotate(entries_.begin(), entries_.end() - 1, entries_.end());
        Entry& e = entries_[0];
        e.fields = fields;
        e.count = count;
        e.byName.clear();
        e.byAddress.clear();
        return e;
    }

    std::vector<Entry> entries_;
    std::string key_;
};

FieldIndexCache& fieldIndexes() {
    static FieldIndexCache cache;
    return cache;
}

// Attribute values longer than this are kept whole in table atto by the feature import.
constexpr LONG kAttoLength = 70;

// A text too long for its column: the error's log line names the feature (the row's LNAM when it
// has one), the column, and where the value is. False when the column is no text column.
template <class Row>
bool logTooLong(Row* row, IFields* fields, LONG index, const char* column, const VARIANT& value) noexcept {
    try {
        IFieldPtr field;
        LONG width = 0;
        if (FAILED(fields->get_Field(index, &field)) || !field || FAILED(field->get_Length(&width)) || width <= 0)
            return false;
        std::string lnam;
        LONG at = -1;
        if (SUCCEEDED(fields->raw_FindField(_bstr_t("LNAM").GetBSTR(), &at)) && at >= 0) {
            _variant_t v;
            if (SUCCEEDED(row->get_Value(at, &v)) && v.vt == VT_BSTR) lnam = toUtf8(v.bstrVal);
        }
        const std::size_t length = std::wcslen(value.bstrVal ? value.bstrVal : L"");
        const std::string where = width >= kAttoLength && length > std::size_t(kAttoLength)
                                      ? "stored whole in table atto, the column left empty"
                                      : "not stored";
        char text[256];
        std::snprintf(text, sizeof text, "feature %s, attribute %s: the value (%zu characters) is longer than its column (%d): %s",
                      lnam.empty() ? "?" : lnam.c_str(), column, length, int(width), where.c_str());
        logComError("SetRecordValue", _com_error(DISP_E_OVERFLOW, fromUtf8(text)));
        return true;
    } catch (...) {
        return false;
    }
}

// SetRecordValue on a row whose field list the caller already has.
template <class Row>
int setValueIn(Row* row, IFields* fields, const char* column, const VARIANT& value) {
    if (!row || !fields || !column) return 1;
    try {
        LONG index = -1;
        if (!fieldIndexes().find(fields, column, &index)) return 1;
        if (index < 0) {
            logLine("SetRecordValue: column %s not found\n", column);
            return 0;
        }
        const HRESULT hr = row->put_Value(index, value);
        if (hr == DISP_E_OVERFLOW && value.vt == VT_BSTR && logTooLong(row, fields, index, column, value)) return E_FAIL;
        if (FAILED(hr)) _com_issue_error(hr);
        return 0;
    } catch (const _com_error& e) {
        logComError("SetRecordValue", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError("SetRecordValue", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}

template <class Row>
int setValue(Row* row, const char* column, const VARIANT& value) {
    if (!row || !column) return 1;
    IFieldsPtr fields;
    if (FAILED(row->get_Fields(&fields))) return 1;
    return setValueIn(row, fields.GetInterfacePtr(), column, value);
}

}  // namespace

std::string sqlText(std::string_view value) {
    const std::size_t nul = value.find('\0');
    if (nul != std::string_view::npos) value = value.substr(0, nul);
    std::string out = "'";
    for (char c : value) {
        out += c;
        if (c == '\'') out += '\'';
    }
    out += '\'';
    return out;
}

// ---- Values ----------------------------------------------------------------------------------------

_variant_t textVariant(const char* text) {
    const std::string_view s(text ? text : "");
    BSTR b = nullptr;
    if (std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        b = SysAllocStringLen(nullptr, UINT(s.size()));
        if (b)
            for (std::size_t i = 0; i < s.size(); ++i) b[i] = wchar_t(s[i]);
    } else {
        const std::wstring wide = fromUtf8(s);
        b = SysAllocStringLen(wide.data(), UINT(wide.size()));
    }
    if (!b) _com_issue_error(E_OUTOFMEMORY);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = b;
    _variant_t out;
    out.Attach(v);
    return out;
}

// ---- RowAccess ---------------------------------------------------------------------------------------

RowAccess::RowAccess(IUnknown* object) {
    if (!object) return;
    row_ = IRowPtr(object);
    if (row_) return;
    feature_ = IFeaturePtr(object);
    if (feature_) return;
    rowBuffer_ = IRowBufferPtr(object);
    if (rowBuffer_) return;
    featureBuffer_ = IFeatureBufferPtr(object);
}

IFieldsPtr RowAccess::fields() const {
    if (row_) return row_->GetFields();
    if (feature_) return feature_->GetFields();
    if (rowBuffer_) return rowBuffer_->GetFields();
    if (featureBuffer_) return featureBuffer_->GetFields();
    _com_issue_error(E_POINTER);
}

LONG RowAccess::findField(const char* name) const { return fields()->FindField(name ? name : ""); }

_variant_t RowAccess::value(LONG index) const {
    if (row_) return row_->GetValue(index);
    if (feature_) return feature_->GetValue(index);
    if (rowBuffer_) return rowBuffer_->GetValue(index);
    if (featureBuffer_) return featureBuffer_->GetValue(index);
    _com_issue_error(E_POINTER);
}

void RowAccess::put(LONG index, const VARIANT& value) const {
    const _variant_t v(value);
    if (row_) return row_->PutValue(index, v);
    if (feature_) return feature_->PutValue(index, v);
    if (rowBuffer_) return rowBuffer_->PutValue(index, v);
    if (featureBuffer_) return featureBuffer_->PutValue(index, v);
    _com_issue_error(E_POINTER);
}

// ---- Fields ------------------------------------------------------------------------------------------

IFieldPtr makeField(const char* name, esriFieldType type, LONG length) {
    IFieldEditPtr field(CLSID_Field);
    field->PutName(name);
    field->PutType(type);
    field->PutLength(length);
    return IFieldPtr(field);
}

IFieldPtr makeField(const FieldDef& def) {
    IFieldEditPtr field(CLSID_Field);
    field->PutName(def.name);
    field->PutLength(def.width);
    switch (def.type) {
        case 1: field->PutType(esriFieldTypeString); break;
        case 2: field->PutType(esriFieldTypeInteger); break;
        case 3: field->PutType(esriFieldTypeDouble); break;
        default: break;
    }
    return IFieldPtr(field);
}

IFieldsEditPtr featureClassFields(esriGeometryType geometryType, ISpatialReference* spatialReference,
                                  bool hasZ, _bstr_t* shapeFieldName) {
    IFeatureClassDescriptionPtr description(CLSID_FeatureClassDescription);
    IObjectClassDescriptionPtr objectDescription(description);
    if (!objectDescription) _com_issue_error(E_NOINTERFACE);
    IFieldsEditPtr fields(objectDescription->GetRequiredFields());
    if (!fields) _com_issue_error(E_NOINTERFACE);
    const _bstr_t shapeName = description->GetShapeFieldName();
    const LONG shape = fields->FindField(shapeName);
    if (shape < 0) _com_issue_error(E_UNEXPECTED);
    IFieldPtr shapeField = fields->GetField(shape);
    IGeometryDefEditPtr geometryDef(shapeField->GetGeometryDef());
    if (!geometryDef) _com_issue_error(E_NOINTERFACE);
    geometryDef->PutGeometryType(geometryType);
    if (spatialReference) geometryDef->PutRefSpatialReference(spatialReference);
    geometryDef->PutGridCount(1);
    geometryDef->PutGridSize(0, 100.0);
    if (hasZ) geometryDef->PutHasZ(VARIANT_TRUE);
    if (shapeFieldName) *shapeFieldName = shapeName;
    return fields;
}

// ---- Operations --------------------------------------------------------------------------------------

bool isConnectionFilePath(const char* path) {
    return path && !isPersonalPath(path) && lowerCopy(path).find(".sde") != std::string::npos;
}

HRESULT openWorkspace(const char* path, IWorkspace** workspace) {
    if (!workspace) return E_POINTER;
    if (!path) return E_INVALIDARG;
    try {
        // The kind is told by the lower-cased path; the open call gets the path as given.
        IWorkspacePtr opened;
        HRESULT hr;
        if (isPersonalPath(path)) {
            IWorkspaceFactoryPtr factory(CLSID_AccessWorkspaceFactory);
            hr = factory->raw_OpenFromFile(_bstr_t(path).GetBSTR(), nullptr, &opened);
        } else if (isConnectionFilePath(path)) {
            IWorkspaceFactoryPtr factory(CLSID_SdeWorkspaceFactory);
            IPropertySetPtr properties;
            hr = factory->raw_ReadConnectionPropertiesFromFile(_bstr_t(path).GetBSTR(), &properties);
            if (SUCCEEDED(hr)) hr = factory->raw_Open(properties, nullptr, &opened);
        } else {
            // Neither kind: an error, so that no caller goes on without a workspace.
            logLine("openWorkspace: %s is not a geodatabase path (.mdb, .gpkg or .sde)\n", path);
            return GDB_E_BAD_PATH;
        }
        if (SUCCEEDED(hr) && !opened) hr = E_FAIL;
        if (SUCCEEDED(hr)) *workspace = opened.Detach();
        return hr;
    } catch (const _com_error& e) {
        logComError("openWorkspace", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError("openWorkspace", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}

HRESULT createGDBTable(IFeatureWorkspace* workspace, const char* name, ITable** table, int n, const FieldDef* defs) {
    if (!table) return E_POINTER;
    *table = nullptr;
    try {
        if (!workspace || !name) return E_INVALIDARG;
        const _bstr_t tableName(name);
        ITablePtr existing;
        if (SUCCEEDED(workspace->raw_OpenTable(tableName.GetBSTR(), &existing)) && existing) {
            logMissingColumns(existing.GetInterfacePtr(), "createGDBTable", "table", name, n, defs);
            *table = existing.Detach();
            return S_OK;
        }
        IObjectClassDescriptionPtr description(CLSID_ObjectClassDescription);
        IFieldsEditPtr fields(description->GetRequiredFields());
        if (!fields) _com_issue_error(E_NOINTERFACE);
        std::vector<std::string> names;
        for (int i = 0; i < n && defs; ++i) {
            if (hasName(names, defs[i].name)) continue;
            names.emplace_back(defs[i].name);
            fields->AddField(makeField(defs[i]));
        }
        ITablePtr created;
        HRESULT hr = workspace->raw_CreateTable(tableName.GetBSTR(), fields, nullptr, nullptr,
                                                _bstr_t("").GetBSTR(), &created);
        // Made meanwhile by another process importing into the same enterprise geodatabase.
        if (hr == GDB_E_NAME_EXISTS && SUCCEEDED(workspace->raw_OpenTable(tableName.GetBSTR(), &created)) && created)
            hr = S_OK;
        if (SUCCEEDED(hr)) *table = created.Detach();
        return hr;
    } catch (const _com_error& e) {
        logComError("createGDBTable", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError("createGDBTable", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}

HRESULT createFeatureTable(IFeatureWorkspace* workspace, const char* name, ITable** table, int n,
                           const FieldDef* defs) {
    return createGDBTable(workspace, name, table, n, defs);
}

HRESULT createFeatureClass(IFeatureWorkspace* workspace, const char* name, esriGeometryType geometryType, int n,
                           const FieldDef* defs, int m, const int32_t* attrIndexes, const FieldDef* attrTable,
                           int zFlag, IFeatureClass** featureClass, ISpatialReference* spatialReference) {
    if (!featureClass) return E_POINTER;
    *featureClass = nullptr;
    try {
        if (!workspace || !name) return E_INVALIDARG;
        // The columns in order; an attribute index outside the loaded catalogue names nothing.
        std::vector<FieldDef> columns;
        for (int i = 0; i < n && defs; ++i) columns.push_back(defs[i]);
        for (int k = 0; k < m && attrIndexes && attrTable; ++k) {
            const int32_t idx = attrIndexes[k];
            if (idx < 0 || (attrTable == s57Attributes && idx >= s57AttributeCount)) {
                logLine("createFeatureClass: attribute index %d out of range for %s\n", int(idx), name);
                continue;
            }
            columns.push_back(attrTable[idx]);
        }
        if (zFlag > 0) columns.push_back(FieldDef{int32_t(columns.size() + 1), "DEPTH", "", 3, 20});

        const _bstr_t className(name);
        IFeatureClassPtr existing;
        if (SUCCEEDED(workspace->raw_OpenFeatureClass(className.GetBSTR(), &existing)) && existing) {
            logMissingColumns(existing.GetInterfacePtr(), "createFeatureClass", "feature class", name,
                              int(columns.size()), columns.data());
            *featureClass = existing.Detach();
            return S_OK;
        }
        _bstr_t shapeName;
        IFieldsEditPtr fields = featureClassFields(geometryType, spatialReference, zFlag > 0, &shapeName);
        std::vector<std::string> names;
        for (const FieldDef& c : columns) {
            if (hasName(names, c.name)) continue;
            names.emplace_back(c.name);
            fields->AddField(makeField(c));
        }
        IFeatureClassPtr created;
        const HRESULT hr = workspace->raw_CreateFeatureClass(className.GetBSTR(), fields, nullptr, nullptr,
                                                             esriFTSimple, shapeName.GetBSTR(),
                                                             _bstr_t("").GetBSTR(), &created);
        if (SUCCEEDED(hr)) *featureClass = created.Detach();
        return hr;
    } catch (const _com_error& e) {
        logComError("createFeatureClass", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError("createFeatureClass", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}

HRESULT readFeatureClass(IFeatureWorkspace* workspace, const char* name) {
    try {
        if (!workspace || !name) return E_INVALIDARG;
        IFeatureClassPtr featureClass;
        const HRESULT hr = workspace->raw_OpenFeatureClass(_bstr_t(name).GetBSTR(), &featureClass);
        if (FAILED(hr)) return hr;
        IFieldsPtr fields = featureClass->GetFields();
        const LONG count = fields->GetFieldCount();
        for (LONG i = 0; i < count; ++i) (void)fields->GetField(i);
        return S_OK;
    } catch (const _com_error& e) {
        logComError("readFeatureClass", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError("readFeatureClass", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}

int compareNoCase(const char* a, const char* b) { return strcasecmp(a ? a : "", b ? b : ""); }

int SetRecordValue(IRowBuffer* row, const char* column, const VARIANT& value) { return setValue(row, column, value); }
int SetRecordValue(IFeatureBuffer* row, const char* column, const VARIANT& value) {
    return setValue(row, column, value);
}
int SetRecordValue(IRow* row, const char* column, const VARIANT& value) { return setValue(row, column, value); }
int SetRecordValue(IFeature* row, const char* column, const VARIANT& value) { return setValue(row, column, value); }

HRESULT populateDSSI(IFeatureWorkspace* workspace, const char* column, int value, const char* cellName) {
    try {
        if (!workspace || !column || !cellName) return E_INVALIDARG;
        ITablePtr table = workspace->OpenTable("DSSI");
        const LONG index = table->FindField(column);
        if (index < 0) {
            logLine("populateDSSI: table DSSI has no column %s\n", column);
            return E_FAIL;
        }
        IQueryFilterPtr filter(CLSID_QueryFilter);
        filter->PutWhereClause(("DSNM=" + sqlText(cellName)).c_str());
        ICursorPtr cursor = table->Update(filter, VARIANT_FALSE);
        for (IRowPtr row = cursor->NextRow(); row; row = cursor->NextRow()) {
            row->PutValue(index, _variant_t(long(value), VT_I4));
            cursor->UpdateRow(row);
        }
        return S_OK;
    } catch (const _com_error& e) {
        logComError("populateDSSI", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError("populateDSSI", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}

namespace {

HRESULT insertFeature(const char* function, IFeatureClass* featureClass, IGeometry* geometry, int recordNo, int n,
                      const FieldDef* defs, const char* const* values, int m, const FieldDef* attrDefs,
                      const char* const* attrValues, int zFlag, double z) {
    try {
        if (!featureClass || !geometry) return E_INVALIDARG;
        IFeatureBufferPtr buffer = featureClass->CreateFeatureBuffer();
        IFeatureCursorPtr cursor = featureClass->Insert(VARIANT_TRUE);
        if (zFlag) {
            IZAwarePtr aware(geometry);
            if (aware) aware->PutZAware(VARIANT_TRUE);
        }
        buffer->PutRefShape(geometry);
        IFeatureBuffer* row = buffer.GetInterfacePtr();
        IFieldsPtr fields;
        (void)row->get_Fields(&fields);  // without them each value is passed over, as SetRecordValue does
        char name[16];
        std::snprintf(name, sizeof name, "%-10d", recordNo);
        (void)setValueIn(row, fields, "NAME", textVariant(name));
        for (int i = 0; i < n && defs && values; ++i)
            if (values[i] && values[i][0]) (void)setValueIn(row, fields, defs[i].name, textVariant(values[i]));
        for (int i = 0; i < m && attrDefs && attrValues; ++i)
            if (attrValues[i] && attrValues[i][0])
                (void)setValueIn(row, fields, attrDefs[i].name, textVariant(attrValues[i]));
        if (zFlag) (void)setValueIn(row, fields, "DEPTH", _variant_t(z));
        _variant_t oid;
        const HRESULT hr = cursor->raw_InsertFeature(buffer, &oid);
        if (FAILED(hr)) {
            IDatasetPtr dataset(featureClass);
            const _bstr_t className = dataset ? dataset->GetName() : featureClass->GetAliasName();
            logLine("Error %d:Error on inserting feature buffer to %s. Check field definitions.\n", int(hr),
                    static_cast<const char*>(className));
        }
        cursor->Flush();
        return hr;
    } catch (const _com_error& e) {
        logComError(function, e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError(function, _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}

}  // namespace

HRESULT populateFeatureRecord(IFeatureClass* featureClass, IGeometry* geometry, int recordNo, int n,
                              const FieldDef* defs, const char* const* values, int m, const FieldDef* attrDefs,
                              const char* const* attrValues, int zFlag, double z) {
    return insertFeature("populateFeatureRecord", featureClass, geometry, recordNo, n, defs, values, m, attrDefs,
                         attrValues, zFlag, z);
}

HRESULT populatePointFeatureClass(IFeatureClass* featureClass, IPoint* point, int recordNo, int n,
                                  const FieldDef* defs, const char* const* values, double depth) {
    return insertFeature("populatePointFeatureClass", featureClass, point, recordNo, n, defs, values, 0, nullptr,
                         nullptr, 1, depth);
}
