// export/expf.cpp: module expf (see expf.h), the feature records of an exported base cell. Each
// mapped class and subtype of the feature dataset is read sorted by NAME through the cell's filter
// (the coverage for ordinary classes, all of the cell's M_COVR for the meta classes); a feature
// outside the cell, a repeated name or a feature whose edges cannot be chained is left out (the
// last one logged). The collections follow. What the catalogue says of a class's attributes is
// worked out once a subtype, and frel, atto and the relation list are read once a cell, so a row
// costs its own values only.
// A record that cannot be built or written ends its subtype (logged) and the export goes on with
// the next one; a COM error ends the function that met it (logged "Error: expf::<name>").

#include "export/expf.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "export/aotopology_support.h"
#include "export/srel_list.h"
#include "platform/geometry/spatial_relation.h"
#include "export/cell_extent.h"
#include "export/edge_containment.h"
#include "export/exprecord.h"
#include "export/exptext.h"
#include "s57/dbutil.h"
#include "s57/dimml.h"
#include "s57/field_utils.h"
#include "s57/relation_tables.h"
#include "s57/s57_codec.h"
#include "s57/s57_file.h"
#include "s57/s57_util2.h"

namespace {

constexpr char kModule[] = "expf";

// Integer value that stands for "no value" in the geodatabase's attribute columns.
constexpr LONG kNoValue = 55538;
// Values below this are schema defaults, not data.
constexpr double kDefaultLimit = -9990.0;
// Object class codes of the meta classes (M_ACCY ... M_VDAT).
constexpr int32_t kFirstMetaClass = 300;
constexpr int32_t kLastMetaClass = 312;

void logComError(const char* function, const _com_error& e) { logComErrorOf(kModule, function, e); }

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = char(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

void upperInPlace(char* s) {
    for (; s && *s; ++s) *s = char(std::toupper(static_cast<unsigned char>(*s)));
}

bool isEmptyVariant(const _variant_t& v) { return v.vt == VT_NULL || v.vt == VT_EMPTY; }

bool isInteger(const _variant_t& v) { return v.vt == VT_I2 || v.vt == VT_I4 || v.vt == VT_UI1 || v.vt == VT_I8; }

bool isDouble(const _variant_t& v) { return v.vt == VT_R4 || v.vt == VT_R8; }

std::string variantText(const _variant_t& v) { return columnUtf8(v); }

// A column's value as the text of a FRID subfield: integers "%d" (a negative schema default gives
// the empty text, which packs as no value instead of 0xFF..), doubles "%lf", text as it is.
std::string fridText(const _variant_t& v) {
    if (isEmptyVariant(v)) return {};
    char text[64];
    if (isInteger(v)) {
        const long long n = static_cast<long long>(static_cast<double>(v));
        if (n < 0) return {};
        std::snprintf(text, sizeof text, "%lld", n);
        return text;
    }
    if (isDouble(v)) {
        std::snprintf(text, sizeof text, "%lf", static_cast<double>(v));
        return text;
    }
    return variantText(v);
}


// ---- Building fields and records ----------------------------------------------------------------

// The subfields of a field being built: label and text pairs, handed to a record field at the end.
struct FieldBuilder {
    std::string tag;
    std::vector<std::pair<const char*, std::string>> values;
    void add(const char* label, std::string value) { values.emplace_back(label, std::move(value)); }
    bool empty() const { return values.empty(); }
};

// A log text with `what` in place of its %s, and every other '%' but the counter's %d doubled.
std::string withSubject(const char* format, const std::string& what) {
    std::string out;
    for (const char* p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            for (char c : what) out += c == '%' ? std::string("%%") : std::string(1, c);
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

// The record log lines of one class (feature records) or object class (collection records).
struct RecordTexts {
    std::string allocate, counter, padding, field0001, translate, write;
    RecordLogTexts view() const {
        return {allocate.c_str(), counter.c_str(), padding.c_str(), field0001.c_str(), translate.c_str(), write.c_str()};
    }
};

RecordTexts featureTexts(const std::string& className) {
    const auto counterFree = [&](const char* f) {
        // No counter in these lines: a '%' of the class name must not be read as a conversion.
        std::string t = withSubject(f, className);
        std::string out;
        for (char c : t) out += c == '%' ? std::string("%%") : std::string(1, c);
        return out;
    };
    RecordTexts t;
    t.allocate = counterFree("exportFeatureClass : unable to allocate memory %s\n");
    t.counter = counterFree("exportFeatureClass : unable to covert Iso file record counter to char %s\n");
    t.padding = counterFree("exportFeatureClass : unable to covert 0001 id to string %s\n");
    t.field0001 = withSubject("exportFeatureClass : unable to write Iso File record no %d, field 0001 %s\n", className);
    t.translate = withSubject("exportFeatureClass : unable to translate record no %d to binary %s\n", className);
    t.write = withSubject("exportFeatureClass : unable to write Iso File record no %d %s", className);
    return t;
}

RecordTexts collectionTexts(int32_t objectCode) {
    const std::string code = std::to_string(objectCode);
    RecordTexts t;
    t.allocate = "exportCollectionObject : unable to allocate memory\n";
    t.counter = "exportCollectionObject : unable to covert Iso file record counter to char\n";
    t.padding = "exportCollectionObject : unable to covert 0001 id to string " + code + "\n";
    t.field0001 = "exportCollectionObject : unable to write Iso File record no %d, field 0001 " + code + "\n";
    t.translate = "exportCollectionObject : unable to translate record no %d to binary " + code + "\n";
    t.write = "exportCollectionObject : unable to write Iso File record no %d " + code;
    return t;
}

// Writes 0001 and the fields that have subfields as one binary record. 0 or the failing step's code.
int writeRecord(Iso8211File* file, const std::vector<const FieldBuilder*>& fields, const RecordTexts& texts) {
    FieldSet set(int(fields.size()));
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fillField(set[int(i)], fields[i]->tag.c_str(), fields[i]->values) != 0) {
            logLine("%s", texts.allocate.c_str());
            return -1;
        }
    }
    return writeDataRecord(file, set, texts.view());
}

// ---- What a cell's export reads once --------------------------------------------------------------

struct FrelRow {
    std::string dest, rind, comt;
};

struct CellTables {
    // frel rows by SRC_LNAM, in table order.
    std::unordered_map<std::string, std::vector<FrelRow>> frel;
    bool frelOpened = false;
    HRESULT frelError = S_OK;
    // atto values by LNAM and attribute acronym (upper case), "LNAM\x1fACRONYM", and the LNAMs that
    // have any (most features have none: their absent attributes need no look-up).
    std::unordered_map<std::string, std::string> atto;
    std::unordered_set<std::string> attoLnams;
    // Relation rows by upper-cased SRC_NAME, in list order.
    std::unordered_map<std::string, std::vector<int32_t>> srelBySource;
    // The catalogue by code, for the attribute plans of the subtypes: s57Sets and attributeMaps
    // indexes by object class in table order, and each attribute code's first label.
    std::unordered_map<int32_t, std::vector<int32_t>> setsByObject, mapsByObject;
    std::unordered_map<int32_t, std::string> labelByCode;
    // The coverage (0) and the whole coverage (1) prepared for the containment test, made on first use.
    std::unique_ptr<SpatialPredicate> contains[2];
    bool containsFailed[2] = {false, false};
    // The boxes (xmin, ymin, xmax, ymax) of the segments of each coverage's rings, made with its
    // predicate; edgesBuilt false where they could not be had (no interior shortcut then).
    std::vector<std::array<double, 4>> edges[2];
    bool edgesBuilt[2] = {false, false};
    // Each coverage's test of the shapes along its edges, made with its predicate.
    std::unique_ptr<EdgeContainment> alongEdges[2];
    // The cell tests the topology rebuild of this cell made (by class name and object id), when the
    // export follows it: a feature it found contained or outside needs no test of its own.
    const aotopology::InCellMemo* verdicts = nullptr;
};

CellTables* cell = nullptr;  // the tables of the export that runs

void loadFrel(IFeatureWorkspace* workspace, CellTables& t) {
    ITable* raw = nullptr;
    t.frelError = workspace->raw_OpenTable(_bstr_t("FREL").GetBSTR(), &raw);
    if (FAILED(t.frelError) || !raw) {
        if (SUCCEEDED(t.frelError)) t.frelError = E_FAIL;
        logLine("exportFFPT: error on opening FREL table %d\n", int(t.frelError));
        return;
    }
    ITablePtr frel;
    frel.Attach(raw);
    t.frelOpened = true;
    const LONG src = frel->FindField("SRC_LNAM"), dest = frel->FindField("DEST_LNAM"), rind = frel->FindField("RIND"),
               comt = frel->FindField("COMT");
    if (src < 0) return;
    ICursorPtr cursor = frel->Search(nullptr, VARIANT_TRUE);
    for (IRowPtr row = cursor->NextRow(); row; row = cursor->NextRow()) {
        FrelRow r;
        if (dest >= 0) r.dest = variantText(row->GetValue(dest));
        if (rind >= 0) r.rind = variantText(row->GetValue(rind));
        if (comt >= 0) r.comt = variantText(row->GetValue(comt));
        t.frel[variantText(row->GetValue(src))].push_back(std::move(r));
    }
}

void loadAtto(IFeatureWorkspace* workspace, CellTables& t) {
    ITable* raw = nullptr;
    if (FAILED(workspace->raw_OpenTable(_bstr_t("atto").GetBSTR(), &raw)) || !raw) return;
    ITablePtr atto;
    atto.Attach(raw);
    const LONG lnam = atto->FindField(attoFieldDefs[0].name), attl = atto->FindField(attoFieldDefs[1].name),
               atvl = atto->FindField(attoFieldDefs[2].name);
    if (lnam < 0 || attl < 0 || atvl < 0) return;
    ICursorPtr cursor = atto->Search(nullptr, VARIANT_TRUE);
    for (IRowPtr row = cursor->NextRow(); row; row = cursor->NextRow()) {
        std::string name = variantText(row->GetValue(lnam));
        std::string key = name + '\x1f' + upper(variantText(row->GetValue(attl)));
        t.atto.emplace(std::move(key), variantText(row->GetValue(atvl)));  // the first row of a pair
        t.attoLnams.insert(std::move(name));
    }
}

void indexCatalogue(CellTables& t) {
    for (int32_t i = 0; i < s57SetCount; ++i) t.setsByObject[s57Sets[i].objectCode].push_back(i);
    for (int32_t i = 0; i < attributeMapCount; ++i) t.mapsByObject[attributeMaps[i].objectCode].push_back(i);
    for (int32_t i = 0; i < s57AttributeCount; ++i) t.labelByCode.emplace(s57Attributes[i].index, s57Attributes[i].name);
}

void indexRelations(CellTables& t) {
    for (int32_t i = 0; i < topoSrelList.count; ++i) {
        SrelRecord& r = topoSrelList.records[i];
        upperInPlace(r.SRC_NAME);
        t.srelBySource[r.SRC_NAME].push_back(i);
    }
}

// ---- Attributes -----------------------------------------------------------------------------------

// One attribute of a subtype's field: where its value is and how it is taken.
struct AttributeColumn {
    int32_t code;
    std::string label;  // the acronym (atto's key)
    LONG index;         // the column
    int32_t qc;
};

// The attributes of one object class and primitive, in s57Sets order, with the columns they
// live in; columns missing from the class are logged here, once.
struct AttributePlan {
    std::vector<AttributeColumn> attf, natf;
};

std::string findS57AttrLabel(int32_t code) {
    if (cell) {
        const auto it = cell->labelByCode.find(code);
        return it == cell->labelByCode.end() ? std::string() : it->second;
    }
    for (int32_t i = 0; i < s57AttributeCount; ++i)
        if (s57Attributes[i].index == code) return s57Attributes[i].name;
    return {};
}

std::string gdbAttrLookup(const std::string& label, int32_t objectCode, const char* prim, int32_t* qc) {
    *qc = 0;
    const auto matches = [&](int32_t i) {
        const AttributeMapRec& m = attributeMaps[i];
        if (m.objectCode != objectCode || compareNoCase(m.s57Name, label.c_str()) != 0 ||
            compareNoCase(m.objectType, prim) != 0)
            return false;
        *qc = m.qc;
        return true;
    };
    if (cell) {
        const auto it = cell->mapsByObject.find(objectCode);
        if (it != cell->mapsByObject.end())
            for (const int32_t i : it->second)
                if (matches(i)) return attributeMaps[i].gdbName;
        return label;
    }
    for (int32_t i = 0; i < attributeMapCount; ++i)
        if (matches(i)) return attributeMaps[i].gdbName;
    return label;
}

// National attributes (NINFOM ... NTXTDS) go to NATF; every other one to ATTF, those above 189
// too (CLSDEF, CLSNAM, SYMINS; HORDAT, POSACC, QUAPOS), which are S-57 attributes as much.
bool isNational(int32_t code) { return code >= 300 && code <= 304; }

AttributePlan planAttributes(IFields* fields, int32_t objectCode, const char* prim) {
    AttributePlan plan;
    std::vector<int32_t> all;
    const std::vector<int32_t>* sets = &all;
    if (cell) {
        const auto it = cell->setsByObject.find(objectCode);
        if (it == cell->setsByObject.end()) return plan;
        sets = &it->second;
    } else {
        for (int32_t i = 0; i < s57SetCount; ++i) all.push_back(i);
    }
    for (const int32_t i : *sets) {
        const S57SetRec& s = s57Sets[i];
        if (s.objectCode != objectCode) continue;
        const bool national = isNational(s.attributeCode);
        const std::string label = findS57AttrLabel(s.attributeCode);
        if (label.empty()) continue;
        int32_t qc = 0;
        const std::string column = gdbAttrLookup(label, objectCode, prim, &qc);
        const LONG index = fields->FindField(column.c_str());
        if (index < 0) {
            logLine("object %d column %s not found. Check feature class definition\n", int(objectCode), column.c_str());
            continue;
        }
        (national ? plan.natf : plan.attf).push_back({s.attributeCode, label, index, qc});
    }
    return plan;
}

// The value of an attribute column as ATVL text; *present tells whether the row holds one.
std::string attributeText(const _variant_t& v, bool* present) {
    *present = false;
    if (isEmptyVariant(v)) return {};
    if (isInteger(v)) {
        const long long n = static_cast<long long>(static_cast<double>(v));
        *present = n != kNoValue;
        if (n < kDefaultLimit || n == kNoValue) return {};
        return std::to_string(n);
    }
    if (isDouble(v)) {
        *present = true;
        return doubleValueText(static_cast<double>(v));
    }
    std::string text = variantText(v);
    *present = !text.empty();
    if (text == "-999") text.clear();
    return text;
}

// Writes the ATTL/ATVL pairs of one field; characters its level cannot hold are logged.
void exportTF(IRow* row, FieldBuilder& field, const char* tag, const std::vector<AttributeColumn>& columns,
              const std::string& lnam, const char* featureName) {
    field.tag = tag;
    const int level = tag[0] == 'N' ? 2 : 1;
    const bool inAtto = cell && !lnam.empty() && cell->attoLnams.count(lnam) > 0;
    for (const AttributeColumn& c : columns) {
        if (c.qc == 2) continue;
        const _variant_t value = row->GetValue(c.index);
        bool present = false;
        std::string text = attributeText(value, &present);
        if (!present && inAtto) {
            // A value too long for its column stays in atto only.
            const auto it = cell->atto.find(lnam + '\x1f' + upper(c.label));
            if (it != cell->atto.end()) {
                text = it->second;
                present = true;
            }
        }
        if (!present && c.qc != 1) continue;
        std::string bytes = levelTextLogged(text, level, "exportTF", featureName, c.label.c_str());
        field.add("ATTL", std::to_string(c.code));
        field.add("ATVL", std::move(bytes));
    }
}

// ---- FRID, FOID, FFPT ---------------------------------------------------------------------------------

struct ClassColumns {
    LONG name = -1, lnam = -1;
    LONG frid[7] = {-1, -1, -1, -1, -1, -1, -1};
};

ClassColumns findColumns(IFields* fields) {
    ClassColumns c;
    c.name = fields->FindField("NAME");
    c.lnam = fields->FindField("LNAM");
    for (int i = 0; i < 7; ++i) c.frid[i] = fields->FindField(fridFieldDefs[i].name);
    return c;
}

void exportFRID(IRow* row, const ClassColumns& c, FieldBuilder& field, const char* prim, int32_t objectCode) {
    field.tag = "FRID";
    std::string rcid = "0000000000";
    if (c.name >= 0) {
        const _variant_t name = row->GetValue(c.name);
        if (!isEmptyVariant(name)) {
            const std::string text = variantText(name);
            rcid = text.size() > 2 ? text.substr(2) : std::string();
        }
    }
    for (int i = 0; i < 7; ++i) {
        const char* label = fridFieldDefs[i].name;
        std::string text;
        if (c.frid[i] >= 0) {
            text = fridText(row->GetValue(c.frid[i]));
            if (text.empty() && std::strcmp(label, "RUIN") == 0) text = "I";
            if (text.empty() && std::strcmp(label, "RVER") == 0) text = "1";
        }
        if (compareNoCase(label, "OBJL") == 0) text = std::to_string(objectCode);
        else if (compareNoCase(label, "RCNM") == 0) text = "FE";
        else if (compareNoCase(label, "RCID") == 0) text = rcid;
        else if (compareNoCase(label, "PRIM") == 0) text = prim;
        field.add(label, std::move(text));
    }
}

void exportFOID(IRow* row, const ClassColumns& c, FieldBuilder& field, char* agency) {
    field.tag = "FOID";
    std::string agen = agency && agency[0] ? agency : "XX";
    std::string fidn = "0000000000", fids = "00001";
    bool named = false;  // the row has a long name: its FIDN stands, 0 included
    if (c.lnam >= 0) {
        const std::string lnam = variantText(row->GetValue(c.lnam));
        if (lnam.size() > 16) {
            named = true;
            agen = lnam.substr(0, 2);
            fidn = lnam.substr(2, 10);
            fids = lnam.substr(12, 5);
            if (agency) std::snprintf(agency, 4, "%s", agen.c_str());
        }
    }
    if (!named && c.name >= 0) {
        const _variant_t name = row->GetValue(c.name);
        if (!isEmptyVariant(name)) {
            const std::string text = variantText(name);
            if (text.size() > 2) fidn = text.substr(2, 10);
        }
    }
    field.add(foidFieldDefs[0].name, agen);
    field.add(foidFieldDefs[1].name, fidn);
    field.add(foidFieldDefs[2].name, fids);
}

// FFPT from the cell's frel rows of the feature's LNAM. The import's stand-in comment "MISSING" is
// the empty text; a pointer whose RIND is no relationship indicator is logged and left out.
void exportFFPT(const std::string& lnam, FieldBuilder& field, const char* featureName) {
    field.tag = "FFPT";
    if (lnam.empty() || !cell) return;
    const auto it = cell->frel.find(lnam);
    if (it == cell->frel.end()) return;
    char work[kCodecTextMax + 8];
    for (const FrelRow& r : it->second) {
        int length = 0, bytes = 0;
        if (r.rind.size() >= kCodecTextMax || ascii2bin("RIND", work, r.rind.c_str(), &length, &bytes) != 0) {
            logLine("exportFFPT: feature %s pointer to %s has the relationship indicator \"%s\", pointer left out\n",
                    featureName, r.dest.c_str(), r.rind.c_str());
            continue;
        }
        std::string comt =
            r.comt == "MISSING" ? std::string() : levelTextLogged(r.comt, 1, "exportFFPT", featureName, "COMT");
        field.add("LNAM", r.dest);
        field.add("RIND", r.rind);
        field.add("COMT", std::move(comt));
    }
}

// ---- FSPT -----------------------------------------------------------------------------------------------

const char* mask(const SrelRecord& r) { return (r.MASK[0] == 'X' || r.MASK[0] == 'x') ? "N" : r.MASK; }

void addPointer(FieldBuilder& field, const SrelRecord& r) {
    field.add("NAME", r.DEST_NAME);
    field.add("ORNT", r.ORNT);
    field.add("USAG", r.USAG);
    field.add("MASK", mask(r));
}

// The rows whose SRC_NAME is `name` (upper-cased), from the cell's index or by a walk of the list.
std::vector<int32_t> rowsOf(const std::string& name, int32_t count, SrelRecord* records) {
    if (cell && records == topoSrelList.records) {
        const auto it = cell->srelBySource.find(name);
        return it == cell->srelBySource.end() ? std::vector<int32_t>{} : it->second;
    }
    std::vector<int32_t> out;
    for (int32_t i = 0; i < count; ++i) {
        upperInPlace(records[i].SRC_NAME);
        if (name == records[i].SRC_NAME) out.push_back(i);
    }
    return out;
}

int pointFSPT(char* featureName, FieldBuilder& field, int32_t count, SrelRecord* records) {
    upperInPlace(featureName);
    field.tag = "FSPT";
    for (const int32_t i : rowsOf(featureName, count, records)) addPointer(field, records[i]);
    return 0;
}

int chainFSPT(char* featureName, FieldBuilder& field, int32_t count, SrelRecord* records) {
    upperInPlace(featureName);
    field.tag = "FSPT";
    const std::vector<int32_t> p = rowsOf(featureName, count, records);
    const std::size_t m = p.size();
    if (m == 0) return 0;

    // Each edge's begin and end node, from its node rows (TOPI "B" and "E").
    struct Ends {
        std::string begin, end;
    };
    std::unordered_map<std::string, Ends> ends;
    // Node name -> the feature's edges that have a node row there, in list order.
    std::vector<std::pair<int32_t, std::pair<std::string, std::string>>> nodeRows;  // (row, (edge, node))
    for (const int32_t i : p) {
        upperInPlace(records[i].DEST_NAME);
        const std::string edge = records[i].DEST_NAME;
        if (ends.count(edge)) continue;
        Ends& e = ends[edge];
        for (const int32_t j : rowsOf(edge, count, records)) {
            const SrelRecord& r = records[j];
            upperInPlace(records[j].DEST_NAME);
            if (r.TOPI[0] == 'B') e.begin = r.DEST_NAME;
            else if (r.TOPI[0] == 'E') e.end = r.DEST_NAME;
            nodeRows.push_back({j, {edge, r.DEST_NAME}});
        }
    }
    std::sort(nodeRows.begin(), nodeRows.end());
    auto startNode = [&](const SrelRecord& r) {
        const Ends& e = ends[r.DEST_NAME];
        return r.ORNT[0] == 'R' ? e.end : e.begin;
    };
    auto endNode = [&](const SrelRecord& r) {
        const Ends& e = ends[r.DEST_NAME];
        return r.ORNT[0] == 'R' ? e.begin : e.end;
    };
    // Pointers stored as a chain already (each edge starts where the one before ended, or after a
    // ring closed a new ring starts) are written as stored: the cell's own order comes back.
    // An area's stored order must begin with its exterior boundary.
    bool chained = records[p[0]].USAG[0] != 'I' ||
                   std::all_of(p.begin(), p.end(), [&](int32_t i) { return records[i].USAG[0] == 'I'; });
    std::string ringStart, lastEnd;
    for (std::size_t q = 0; q < m && chained; ++q) {
        const SrelRecord& r = records[p[q]];
        const std::string start = startNode(r), end = endNode(r);
        if (q > 0 && start != lastEnd && lastEnd != ringStart) chained = false;
        if (q == 0 || start != lastEnd) ringStart = start;
        lastEnd = end;
    }
    if (chained) {
        for (std::size_t q = 0; q < m; ++q) addPointer(field, records[p[q]]);
        return 0;
    }

    // The same rows by node, each node's in list order.
    std::unordered_map<std::string, std::vector<const std::string*>> edgesAtNode;
    for (const auto& n : nodeRows) edgesAtNode[n.second.second].push_back(&n.second.first);
    // Whether another edge of the feature has a node row at `node`.
    auto touchedByOther = [&](const std::string& edge, const std::string& node) {
        const auto at = edgesAtNode.find(node);
        if (at == edgesAtNode.end()) return false;
        for (const std::string* other : at->second)
            if (*other != edge) return true;
        return false;
    };

    // Each edge's pointers, by their place in the feature's list.
    std::unordered_map<std::string, std::vector<std::size_t>> pointersOf;
    for (std::size_t q = 0; q < m; ++q) pointersOf[records[p[q]].DEST_NAME].push_back(q);
    std::vector<bool> written(m, false);
    std::unordered_set<std::string> writtenEdges;
    std::size_t k = 0;
    std::string next;
    auto write = [&](std::size_t q) {
        const SrelRecord& r = records[p[q]];
        addPointer(field, r);
        written[q] = true;
        writtenEdges.insert(r.DEST_NAME);
        ++k;
        next.clear();
        const std::string edge = r.DEST_NAME, end = endNode(r);
        if (end.empty()) return;
        // The first other edge with a row at the end node, unless it is written already.
        const auto at = edgesAtNode.find(end);
        if (at == edgesAtNode.end()) return;
        for (const std::string* other : at->second) {
            if (*other == edge) continue;
            if (!writtenEdges.count(*other)) next = *other;
            return;
        }
    };
    while (k < m) {
        const std::size_t before = k;
        for (std::size_t q = 0; q < m && k < m; ++q) {
            if (k > 0 && !next.empty()) {
                // Only the edge named next qualifies: its first unwritten pointer from here on.
                const std::vector<std::size_t>& at = pointersOf[next];
                auto it = std::lower_bound(at.begin(), at.end(), q);
                while (it != at.end() && written[*it]) ++it;
                if (it == at.end()) break;
                q = *it;
            }
            if (written[q]) continue;
            const SrelRecord& r = records[p[q]];
            bool qualifies;
            if (k == 0) {
                if (r.USAG[0] != 'N' || m < 2) qualifies = r.USAG[0] != 'I';
                else qualifies = !touchedByOther(r.DEST_NAME, startNode(r));
            } else if (!next.empty()) {
                qualifies = next == r.DEST_NAME;
            } else {
                qualifies = true;
            }
            if (qualifies) write(q);
        }
        // A closed chain (a ring of USAG "N" edges) has no free end: it starts where the cell
        // started it, at its first pointer, so that its vertices are read from the same start.
        if (k == 0) write(0);
        if (k == before) {
            logLine("exportFSPT: error on exporting feature : %s.\n", featureName);
            return -11;
        }
    }
    return 0;
}

int toField(Iso8211Field* field, const FieldBuilder& b) { return fillField(field, b.tag.c_str(), b.values); }

// ---- Classes ----------------------------------------------------------------------------------------------

// Position cellIndex*100/cellCount + k/cellCount of the run's progressor.
void setProgress(int32_t k) {
    if (!stepProgressor) return;
    const int32_t cells = cellCount > 0 ? cellCount : 1;
    stepProgressor->PutPosition(cellIndex * 100 / cells + k / cells);
    stepProgressor->Show();
}

const char* primOf(esriGeometryType type) {
    switch (type) {
        case esriGeometryPoint: return "P";
        case esriGeometryPolyline:
        case esriGeometryLine: return "L";
        case esriGeometryPolygon: return "A";
        default: return "N";
    }
}

// The class's rows sorted by NAME, by subtype code (a class without subtypes: its named rows, under 0):
// one search a class instead of one a subtype. Throws _com_error; rowsBySubtype logs it instead.
void readRowsBySubtype(IFeatureClass* featureClass, const std::string& subtypeField,
                   std::map<LONG, std::vector<IRowPtr>>& out) {
    IQueryFilterPtr filter(CLSID_QueryFilter);
    if (subtypeField.empty()) filter->PutWhereClause("NAME IS NOT NULL");
    ITableSortPtr sort(CLSID_TableSort);
    sort->PutRefTable(ITablePtr(featureClass));
    sort->PutRefQueryFilter(filter);
    sort->PutFields("NAME");
    sort->Sort(nullptr);
    ICursorPtr cursor = sort->GetRows();
    const LONG index = subtypeField.empty() ? -1 : featureClass->FindField(subtypeField.c_str());
    for (IRowPtr row = cursor->NextRow(); row; row = cursor->NextRow()) {
        LONG code = 0;
        if (index >= 0) {
            const _variant_t v = row->GetValue(index);
            if (isEmptyVariant(v)) continue;
            code = LONG(static_cast<double>(v));
        }
        out[code].push_back(row);
    }
}

std::map<LONG, std::vector<IRowPtr>> rowsBySubtype(IFeatureClass* featureClass, const std::string& subtypeField) {
    std::map<LONG, std::vector<IRowPtr>> out;
    try {
        readRowsBySubtype(featureClass, subtypeField, out);
    } catch (const _com_error& e) {
        logComError("exportFeatureClass", e);
    }
    return out;
}

// The shape the cell tests are made with: an area whose rings GEOS cannot relate as they are (the
// import keeps damaged rings as the cell gives them) is tested as its repaired copy.
IGeometryPtr testShape(IGeometry* shape, esriGeometryType type) {
    if (type != esriGeometryPolygon) return shape;
    ITopologicalOperatorPtr topo(shape);
    VARIANT_BOOL simple = VARIANT_TRUE;
    if (!topo || FAILED(topo->get_IsSimple(&simple)) || simple) return shape;
    IGeometryPtr copy = IClonePtr(shape)->Clone();
    if (FAILED(ITopologicalOperatorPtr(copy)->raw_Simplify())) return shape;
    return copy;
}

// What the filter's search would have said of one shape: it meets the filter's geometry (and its
// relation description, where the filter has one).
bool meetsFilter(IGeometry* shape, ISpatialFilter* filter) {
    try {
        IGeometryPtr geometry = filter->GetGeometry();
        if (!geometry) return true;
        IRelationalOperatorPtr relation(geometry);
        if (relation->Disjoint(shape)) return false;
        const _bstr_t description = filter->GetSpatialRelDescription();
        return description.length() == 0 || relation->Relate(shape, description) == VARIANT_TRUE;
    } catch (const _com_error& e) {
        logComError("exportFeatureClass", e);
        return false;
    }
}

// Whether the feature is the cell's: it meets the cell's filter and lies on or (mostly) within the
// filter's geometry. A feature that the geometry contains is both, which its prepared form answers
// fast; the others take the full tests, made with a repaired copy of a damaged area.
bool inCell(IGeometry* shape, ISpatialFilter* filter, IGeometry* containment, esriGeometryType type, bool meta) {
    if (cell) {
        std::unique_ptr<SpatialPredicate>& contains = cell->contains[meta ? 1 : 0];
        const int k = meta ? 1 : 0;
        if (!contains && !cell->containsFailed[k]) {
            try {
                contains = std::make_unique<SpatialPredicate>(containment, esriSpatialRelContains);
            } catch (const _com_error&) {
                cell->containsFailed[k] = true;  // an empty or broken coverage: full tests
            }
            try {
                cell->edgesBuilt[k] = contains && aotopology::segmentBoxes(containment, cell->edges[k]);
            } catch (const _com_error&) {
                cell->edgesBuilt[k] = false;
            }
        }
        // A shape far from the coverage's edges needs no relating of its own: most features lie
        // inside. The shapes along the edges take GEOS's containment.
        try {
            if (contains && cell->edgesBuilt[k] && type != esriGeometryPoint &&
                aotopology::insideCoverage(shape, cell->edges[k], *contains))
                return true;
        } catch (const _com_error&) {
            // not known: the containment below decides
        }
        // A shape near the edges: the pieces of it that come near them are related, not the whole.
        try {
            if (contains) {
                std::unique_ptr<EdgeContainment>& along = cell->alongEdges[k];
                if (!along) along = std::make_unique<EdgeContainment>(containment);
                if (along->contains(shape)) return true;
            }
        } catch (const _com_error&) {
            // not known: the containment below decides
        }
        try {
            if (contains && contains->matches(shape)) return true;
        } catch (const _com_error&) {
            // GEOS cannot relate the shape as it is: the full tests below repair it first.
        }
    }
    IGeometryPtr test = testShape(shape, type);
    return meetsFilter(test, filter) && checkWithin(test, containment, int(type));
}

int exportFeatureClass(IFeatureClass* featureClass, const std::string& subtypeField, LONG subtypeCode,
                       int32_t objectCode, Iso8211File* file, char* agency, const std::string& acronym,
                       const std::string& subtypeName, const std::vector<IRowPtr>& rows) {
    const std::string alias = static_cast<const char*>(featureClass->GetAliasName());
    try {
        const bool meta = objectCode >= kFirstMetaClass && objectCode <= kLastMetaClass;
        ISpatialFilter* filter = meta ? cellSpatialFilter.GetInterfacePtr() : cellCoverage.GetInterfacePtr();
        if (!filter) return 0;
        char where[256];
        if (!subtypeField.empty())
            std::snprintf(where, sizeof where, "%s = %d", subtypeField.c_str(), int(subtypeCode));
        else
            std::snprintf(where, sizeof where, "NAME IS NOT NULL");
        filter->PutWhereClause(where);

        // The subtype's rows (read with the class's) are each tested against the cell: the test the
        // filter's search would make, then the containment, so that one shape GEOS cannot relate (a
        // damaged area) costs its own feature's test only.
        if (rows.empty()) return 0;

        const esriGeometryType shapeType = featureClass->GetShapeType();
        const char* prim = primOf(shapeType);
        IGeometryPtr containment = filter->GetGeometry();
        IFieldsPtr fields = featureClass->GetFields();
        const ClassColumns columns = findColumns(fields);
        if (columns.name < 0) return -11;
        const LONG shapeIndex = fields->FindField(featureClass->GetShapeFieldName());
        const AttributePlan plan = planAttributes(fields, objectCode, prim);

        const RecordTexts texts = featureTexts(alias);
        const aotopology::InCellMemo* verdicts = cell ? cell->verdicts : nullptr;
        const std::string className =
            verdicts ? std::string(static_cast<const char*>(IDatasetPtr(featureClass)->GetName())) : std::string();
        std::string previous = "xx";
        int32_t written = 0;
        for (const IRowPtr& row : rows) {
            if (shapeIndex >= 0) {
                const _variant_t shape = row->GetValue(shapeIndex);
                IGeometryPtr geometry;
                if (shape.vt == VT_UNKNOWN) geometry = IGeometryPtr(shape.punkVal);
                if (!geometry) continue;
                auto verdict = aotopology::Verdict::Unsure;
                if (verdicts) {
                    const auto it = verdicts->find({className, row->GetOID()});
                    if (it != verdicts->end()) verdict = it->second;
                }
                if (verdict == aotopology::Verdict::Outside) continue;
                if (verdict != aotopology::Verdict::Contained && !inCell(geometry, filter, containment, shapeType, meta))
                    continue;
            }
            std::string name = variantText(row->GetValue(columns.name));
            if (compareNoCase(name.c_str(), previous.c_str()) == 0) continue;
            previous = name;
            const std::string lnam = columns.lnam >= 0 ? variantText(row->GetValue(columns.lnam)) : std::string();

            FieldBuilder frid, foid, attf, natf, fspt, ffpt;
            exportFRID(row, columns, frid, prim, objectCode);
            exportFOID(row, columns, foid, agency);
            exportTF(row, attf, "ATTF", plan.attf, lnam, name.c_str());
            exportTF(row, natf, "NATF", plan.natf, lnam, name.c_str());
            exportFFPT(lnam, ffpt, name.c_str());
            std::vector<char> featureName(name.begin(), name.end());
            featureName.push_back('\0');
            const int rc = shapeType == esriGeometryPoint
                               ? pointFSPT(featureName.data(), fspt, topoSrelList.count, topoSrelList.records)
                               : chainFSPT(featureName.data(), fspt, topoSrelList.count, topoSrelList.records);
            if (rc != 0) continue;
            const int wrc = writeRecord(file, {&frid, &foid, &attf, &natf, &fspt, &ffpt}, texts);
            if (wrc != 0) return wrc;
            ++written;
        }
        if (!subtypeField.empty())
            logLine("converted %5d features in %s class, subtype %s to %s\n", int(written), alias.c_str(),
                    subtypeName.c_str(), acronym.c_str());
        else
            logLine("converted %5d features in %s class to %s\n", int(written), alias.c_str(), acronym.c_str());
        return 0;
    } catch (const _com_error& e) {
        logComError("exportFeatureClass", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logLine("exportFeatureClass : unable to allocate memory %s\n", alias.c_str());
        return -1;
    }
}

int exportCollectionObject(ITable* table, Iso8211File* file, const char* cellName, int32_t objectCode,
                           char* agency, const char* acronym) {
    try {
        IQueryFilterPtr filter(CLSID_QueryFilter);
        filter->PutWhereClause(("dsnm=" + sqlText(cellName)).c_str());
        IFieldsPtr fields = table->GetFields();
        const ClassColumns columns = findColumns(fields);
        if (columns.lnam < 0) return -11;
        const AttributePlan plan = planAttributes(fields, objectCode, "");
        int32_t written = 0;
        const RecordTexts texts = collectionTexts(objectCode);
        ICursorPtr cursor = table->Search(filter, VARIANT_FALSE);
        for (IRowPtr row = cursor->NextRow(); row; row = cursor->NextRow()) {
            const std::string lnam = variantText(row->GetValue(columns.lnam));
            const std::string name = columns.name >= 0 ? variantText(row->GetValue(columns.name)) : lnam;
            FieldBuilder frid, foid, attf, natf, ffpt;
            exportFRID(row, columns, frid, "N", objectCode);
            exportFOID(row, columns, foid, agency);
            exportTF(row, attf, "ATTF", plan.attf, lnam, name.c_str());
            exportTF(row, natf, "NATF", plan.natf, lnam, name.c_str());
            exportFFPT(lnam, ffpt, name.c_str());
            const int rc = writeRecord(file, {&frid, &foid, &attf, &natf, &ffpt}, texts);
            if (rc != 0) return rc;
            ++written;
        }
        if (written > 0) logLine("converted %5d features in %s class to %s\n", int(written), acronym, acronym);
        return 0;
    } catch (const _com_error& e) {
        logComError("exportCollectionObject", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logLine("exportCollectionObject : unable to allocate memory\n");
        return -1;
    }
}

int exportCollection(IFeatureWorkspace* workspace, Iso8211File* file, const char* cellName, char* agency) {
    try {
        for (const char* acronym : {"C_AGGR", "C_ASSO"}) {
            const std::string tableName = [&] {
                std::string s = acronym;
                for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
                return s;
            }();
            ITable* raw = nullptr;
            if (FAILED(workspace->raw_OpenTable(_bstr_t(tableName.c_str()).GetBSTR(), &raw)) || !raw) {
                logLine("exportCollection: no %s table found.", tableName.c_str());
                continue;
            }
            ITablePtr table;
            table.Attach(raw);
            (void)exportCollectionObject(table, file, cellName, findS57ObjectCode(tableName.c_str()), agency,
                                         acronym);
        }
        return 0;
    } catch (const _com_error& e) {
        logComError("exportCollection", e);
        return E_FAIL;
    }
}

// The subtypes of a class as (code, name); a class without subtypes is one subtype named as the class.
std::vector<std::pair<LONG, std::string>> subtypesOf(IFeatureClass* featureClass, std::string* field) {
    std::vector<std::pair<LONG, std::string>> out;
    ISubtypesPtr subtypes(featureClass);
    if (subtypes && subtypes->GetHasSubtype() == VARIANT_TRUE) {
        *field = static_cast<const char*>(subtypes->GetSubtypeFieldName());
        IEnumSubtypePtr all = subtypes->GetSubtypes();
        for (;;) {
            LONG code = 0;
            const _bstr_t name = all->Next(&code);
            if (name.length() == 0) break;
            out.emplace_back(code, static_cast<const char*>(name));
        }
        return out;
    }
    field->clear();
    out.emplace_back(0, static_cast<const char*>(featureClass->GetAliasName()));
    return out;
}

}  // namespace

// ---- Texts ----------------------------------------------------------------------------------------------

std::string doubleValueText(double value) {
    if (value < kDefaultLimit || value == double(kNoValue) || !std::isfinite(value)) return {};
    char text[512];
    for (int decimals = 6; decimals <= 17; ++decimals) {
        std::snprintf(text, sizeof text, "%.*f", decimals, value);
        if (std::strtod(text, nullptr) == value) break;
    }
    std::string out = text;
    if (out.find('.') != std::string::npos)
        while (!out.empty() && out.back() == '0') out.pop_back();
    return out;
}

// ---- FSPT builders --------------------------------------------------------------------------------------

int exportFSPTforPoint(char* featureName, Iso8211Field* field, int32_t count, SrelRecord* records) {
    if (!featureName || !field || (count > 0 && !records)) return -19;
    try {
        FieldBuilder b;
        pointFSPT(featureName, b, count, records);
        if (toField(field, b) != 0) {
            logLine("exportFSPT: out of memory (subfields).\n");
            return -1;
        }
        return 0;
    } catch (const std::bad_alloc&) {
        logLine("exportFSPT: out of memory (subfields).\n");
        return -1;
    }
}

int exportFSPT(char* featureName, Iso8211Field* field, int32_t count, SrelRecord* records) {
    if (!featureName || !field || (count > 0 && !records)) return -19;
    try {
        FieldBuilder b;
        const int rc = chainFSPT(featureName, b, count, records);
        if (rc != 0) return rc;
        if (toField(field, b) != 0) {
            logLine("exportFSPT: out of memory (subfields).\n");
            return -1;
        }
        return 0;
    } catch (const std::bad_alloc&) {
        logLine("exportFSPT: out of memory (srel).\n");
        return -1;
    }
}

// ---- exportFeature --------------------------------------------------------------------------------------

FeatureRowsAhead* featureRowsAhead = nullptr;

namespace {

// Whether the class's rows (alias, its place) were read ahead for the cell; moves them into `rows`.
bool takeRowsAhead(LONG index, const std::string& alias, const char* cellName, std::map<LONG, std::vector<IRowPtr>>& rows) {
    FeatureRowsAhead* ahead = featureRowsAhead;
    if (!ahead || !ahead->complete || ahead->cellName != cellName || index < 0 ||
        std::size_t(index) >= ahead->classes.size() || ahead->classes[std::size_t(index)].first != alias)
        return false;
    rows = std::move(ahead->classes[std::size_t(index)].second);
    return true;
}

// Whether exportFeature reads the class: one of its subtypes (or the class) maps to an object class.
bool exported(IFeatureClass* featureClass, const std::string& alias, std::string* subtypeField) {
    for (const auto& [code, subtypeName] : subtypesOf(featureClass, subtypeField))
        if (!findS57Object(alias.c_str(), subtypeName.c_str()).empty()) return true;
    return false;
}

}  // namespace

void readFeatureRowsAhead(IWorkspace* workspace, const char* dataset, const char* cellName) {
    FeatureRowsAhead* ahead = featureRowsAhead;
    if (!ahead) return;
    *ahead = FeatureRowsAhead();
    if (!workspace || !dataset || !cellName) return;
    try {
        IFeatureWorkspacePtr featureWorkspace(workspace);
        if (!featureWorkspace) return;
        IFeatureClassContainerPtr container(featureWorkspace->OpenFeatureDataset(dataset));
        if (!container) return;
        LONG n = 0;
        if (FAILED(container->get_ClassCount(&n))) return;
        ahead->classes.resize(std::size_t(std::max<LONG>(n, 0)));
        std::size_t held = 0;
        // The rows are every cell's (the cell is told from them later): past a budget the rest are
        // left to the export, so that what is held does not grow with the geodatabase.
        for (LONG i = 0; i < n && held < FeatureRowsAhead::kRowsAtMost; ++i) {
            IFeatureClassPtr featureClass = container->GetClass(i);
            if (!featureClass) continue;
            auto& [alias, rows] = ahead->classes[std::size_t(i)];
            alias = static_cast<const char*>(featureClass->GetAliasName());
            std::string subtypeField;
            if (exported(featureClass, alias, &subtypeField)) readRowsBySubtype(featureClass, subtypeField, rows);
            for (const auto& [code, list] : rows) held += list.size();
        }
        ahead->cellName = cellName;
        ahead->complete = true;
    } catch (const _com_error&) {
        *ahead = FeatureRowsAhead();
    } catch (const std::bad_alloc&) {
        *ahead = FeatureRowsAhead();
    }
}

int32_t exportFeature(IWorkspace* workspace, Iso8211File* file, char* agency, const char* cellName,
                      const char* dataset) {
    struct Reset {
        ~Reset() {
            cell = nullptr;
            aotopology::endRebuildVerdicts();
        }
    } reset;
    try {
        if (!workspace || !file || !cellName || !dataset) {
            logLine("exportFeature: Illegal parameter\n");
            return -19;
        }
        IFeatureWorkspacePtr featureWorkspace(workspace);
        if (!featureWorkspace) _com_issue_error(E_NOINTERFACE);
        CellTables tables;
        loadFrel(featureWorkspace, tables);
        loadAtto(featureWorkspace, tables);
        indexRelations(tables);
        indexCatalogue(tables);
        tables.verdicts = aotopology::rebuildVerdicts(cellName);
        cell = &tables;

        IFeatureDatasetPtr featureDataset = featureWorkspace->OpenFeatureDataset(dataset);
        IFeatureClassContainerPtr container(featureDataset);
        if (!container) _com_issue_error(E_NOINTERFACE);
        LONG n = 0;
        if (FAILED(container->get_ClassCount(&n))) _com_issue_error(E_FAIL);
        for (LONG i = 0; i < n; ++i) {
            if (n > 0) setProgress((i + 1) * 30 / n + 70);
            IFeatureClassPtr featureClass = container->GetClass(i);
            if (!featureClass) continue;
            const std::string alias = static_cast<const char*>(featureClass->GetAliasName());
            std::string subtypeField;
            const auto subtypes = subtypesOf(featureClass, &subtypeField);
            std::map<LONG, std::vector<IRowPtr>> rows;
            bool read = false;
            for (const auto& [code, subtypeName] : subtypes) {
                const std::string acronym = findS57Object(alias.c_str(), subtypeName.c_str());
                if (acronym.empty()) continue;
                if (!read) {
                    if (!takeRowsAhead(i, alias, cellName, rows)) rows = rowsBySubtype(featureClass, subtypeField);
                    read = true;
                }
                const auto it = rows.find(subtypeField.empty() ? 0 : code);
                if (it == rows.end()) continue;
                const int32_t objectCode = findS57ObjectCode(acronym.c_str());
                (void)exportFeatureClass(featureClass, subtypeField, code, objectCode, file, agency, acronym,
                                         subtypeName, it->second);
            }
        }
        (void)exportCollection(featureWorkspace, file, cellName, agency);
        return 0;
    } catch (const _com_error& e) {
        logComError("exportFeature", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError("exportFeature", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}
