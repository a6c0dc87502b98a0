// s57/lookups.cpp: the plain catalogue lookups (no logging but getATTVValues' one line).
// The set table is read through an index sorted by class that is built once per loaded table: the
// table keeps the order it was loaded in, which need not be by class (the built-in one is not), and
// every pair of a class is still found.

#include "s57/lookups.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "s57/dimml.h"
#include "s57/s57_file.h"
#include "s57/s57_util2.h"
#include "s57/table_text.h"

namespace {

constexpr int kNotFound = -10;
constexpr int kIllegal = -19;

// The value of a decimal text as the C library reads it (leading digits, 0 when none), held to the
// int32 range so that a long text cannot alias a real code.
int32_t decimalValue(const char* text) {
    const long v = std::strtol(text, nullptr, 10);
    return static_cast<int32_t>(std::clamp<long>(v, INT32_MIN, INT32_MAX));
}

// Positions of s57Sets ordered by class, table order kept within a class. It keeps a copy of the
// table it was built from and is rebuilt when the table differs (a reload may reuse the address);
// the check is one memcmp of the table, far cheaper than the sort.
struct SetIndex {
    std::vector<S57SetRec> source;
    std::vector<int32_t> order;
    const S57SetRec* table = nullptr;
    bool built = false;
};

SetIndex& setIndex() {
    static SetIndex index;
    return index;
}

int32_t setCount() { return s57Sets ? std::max<int32_t>(s57SetCount, 0) : 0; }

const SetIndex& currentSetIndex() {
    SetIndex& idx = setIndex();
    const int32_t n = setCount();
    const bool same = idx.built && idx.table == s57Sets && idx.source.size() == std::size_t(n) &&
                      (n == 0 || std::memcmp(idx.source.data(), s57Sets, n * sizeof(S57SetRec)) == 0);
    if (same) return idx;
    idx.table = s57Sets;
    idx.source.assign(s57Sets, s57Sets + n);
    idx.order.resize(n);
    for (int32_t i = 0; i < n; ++i) idx.order[i] = i;
    std::stable_sort(idx.order.begin(), idx.order.end(), [&](int32_t a, int32_t b) {
        return idx.source[a].objectCode < idx.source[b].objectCode;
    });
    idx.built = true;
    return idx;
}

// The pairs of one class as positions into s57Sets, in table order.
struct PairRange {
    const int32_t* begin;
    const int32_t* end;
};

PairRange pairsOf(int32_t objectCode) {
    const SetIndex& idx = currentSetIndex();
    const int32_t* first = idx.order.data();
    const int32_t* last = first + idx.order.size();
    const int32_t* lo = std::partition_point(
        first, last, [&](int32_t pos) { return idx.source[pos].objectCode < objectCode; });
    const int32_t* hi = std::partition_point(
        lo, last, [&](int32_t pos) { return idx.source[pos].objectCode == objectCode; });
    return {lo, hi};
}

bool selects(std::string_view selector, std::string_view set) {
    if (equalsNoCase(selector, "A")) return equalsNoCase(set, "A");
    if (equalsNoCase(selector, "BC")) return equalsNoCase(set, "B") || equalsNoCase(set, "C");
    return false;
}

int32_t objectCount() { return s57Objects ? std::max<int32_t>(s57ObjectCount, 0) : 0; }
int32_t attributeCount() { return s57Attributes ? std::max<int32_t>(s57AttributeCount, 0) : 0; }

// The shared empty text of attributes without a value.
const char kEmpty[] = "";

}  // namespace

// ---- Object classes and attributes -----------------------------------------------------------

int lookupAttrIndex(int32_t code, int32_t* index) {
    if (!index) return kIllegal;
    const int32_t n = attributeCount();
    for (int32_t i = 0; i < n; ++i) {
        if (s57Attributes[i].index == code) {
            *index = i;
            return 0;
        }
    }
    *index = 0;
    return kNotFound;
}

int lookupAttrIndexStr(const char* code, int32_t* index) {
    if (!code || !index) return kIllegal;
    return lookupAttrIndex(decimalValue(code), index);
}

int lookupObjIndex(int32_t code, int32_t* index) {
    if (!index) return kIllegal;
    const int32_t n = objectCount();
    for (int32_t i = 0; i < n; ++i) {
        if (s57Objects[i].code == code) {
            *index = i;
            return 0;
        }
    }
    *index = 0;
    return kNotFound;
}

int lookupObjIndexStr(const char* code, int32_t* index) {
    if (!code || !index) return kIllegal;
    return lookupObjIndex(decimalValue(code), index);
}

int lookupObjIndexByAcronym(const char* acronym, int32_t* index) {
    if (!acronym || !index) return kIllegal;
    const int32_t n = objectCount();
    for (int32_t i = 0; i < n; ++i) {
        if (fieldText(s57Objects[i].acronym) == acronym) {
            *index = i;
            return 0;
        }
    }
    return kNotFound;
}

int lookupAttrIndexByAcronym(const char* acronym, int32_t* index) {
    if (!acronym || !index) return kIllegal;
    const int32_t n = attributeCount();
    for (int32_t i = 0; i < n; ++i) {
        if (fieldText(s57Attributes[i].name) == acronym) {
            *index = i;
            return 0;
        }
    }
    return kNotFound;
}

int lookupObjCode(const char* acronym, int32_t* code) {
    if (!acronym || !code) return kIllegal;
    int32_t i = 0;
    if (int rc = lookupObjIndexByAcronym(acronym, &i); rc != 0) return rc;
    *code = s57Objects[i].code;
    return 0;
}

int lookupAttrCode(const char* acronym, int32_t* code) {
    if (!acronym || !code) return kIllegal;
    int32_t i = 0;
    if (int rc = lookupAttrIndexByAcronym(acronym, &i); rc != 0) return rc;
    *code = s57Attributes[i].index;
    return 0;
}

int lookupObjAcronym(const char* code, const char** acronym) {
    if (!code || !acronym) return kIllegal;
    int32_t i = 0;
    if (int rc = lookupObjIndexStr(code, &i); rc != 0) return rc;
    *acronym = s57Objects[i].acronym;
    return 0;
}

int lookupAttrAcronym(const char* code, const char** acronym) {
    if (!code || !acronym) return kIllegal;
    int32_t i = 0;
    if (int rc = lookupAttrIndexStr(code, &i); rc != 0) return rc;
    *acronym = s57Attributes[i].name;
    return 0;
}

int isInCodeList(int32_t value, const int32_t* list, int32_t n) {
    if (!list) return 0;
    for (int32_t i = 0; i < n; ++i)
        if (list[i] == value) return 1;
    return 0;
}

// ---- Attribute sets ----------------------------------------------------------------------------

int lookupClassPairCount(int32_t objectCode, int32_t* count) {
    if (!count) return kIllegal;
    int32_t i = 0;
    if (lookupObjIndex(objectCode, &i) != 0) return kNotFound;
    const PairRange r = pairsOf(objectCode);
    *count = static_cast<int32_t>(r.end - r.begin);
    return 0;
}

int lookupClassAttributes(int32_t objectCode, int32_t* count, int32_t* codes, const char* selector) {
    if (!count || !codes || !selector) return kIllegal;
    int32_t i = 0;
    if (lookupObjIndex(objectCode, &i) != 0) return kNotFound;
    const PairRange r = pairsOf(objectCode);
    const SetIndex& idx = setIndex();
    int32_t n = 0;
    for (const int32_t* p = r.begin; p != r.end; ++p) {
        const S57SetRec& pair = idx.source[*p];
        if (selects(selector, fieldText(pair.set))) codes[n++] = pair.attributeCode;
    }
    *count = n;
    return 0;
}

int lookupSetAAttributes(int32_t objectCode, int32_t* count, int32_t* codes) {
    return lookupClassAttributes(objectCode, count, codes, "A");
}

int lookupSetBCAttributes(int32_t objectCode, int32_t* count, int32_t* codes) {
    return lookupClassAttributes(objectCode, count, codes, "BC");
}

int lookupSetAAttributesByAcronym(const char* acronym, int32_t* count, int32_t* codes) {
    if (!acronym || !count || !codes) return kIllegal;
    int32_t code = 0;
    if (lookupObjCode(acronym, &code) != 0) return kNotFound;
    return lookupSetAAttributes(code, count, codes);
}

int lookupSetBCAttributesByAcronym(const char* acronym, int32_t* count, int32_t* codes) {
    if (!acronym || !count || !codes) return kIllegal;
    int32_t code = 0;
    if (lookupObjCode(acronym, &code) != 0) return kNotFound;
    return lookupSetBCAttributes(code, count, codes);
}

// ---- Attribute values of a record ----------------------------------------------------------------

int initAttributeValues(int32_t n, const char** values) {
    if (!values) return kIllegal;
    for (int32_t k = 0; k < n; ++k) values[k] = kEmpty;
    return 0;
}

int getATTVValues(const Iso8211Record* record, const FieldDef* table, int32_t n,
                  const int32_t* index, const char** values) {
    if (!values) return kIllegal;
    initAttributeValues(n, values);
    if (!record || !table || !index) return kIllegal;
    // An index past the table would read outside it; only s57Attributes has a known size here.
    auto usable = [&](int32_t k) {
        return index[k] >= 0 && (table != s57Attributes || index[k] < attributeCount());
    };
    for (int f = Find8211Field(record, "ATTV", 0); f >= 0; f = Find8211Field(record, "ATTV", f + 1)) {
        int l = Find8211SubField(record, "ATTL", f, 0);
        int v = Find8211SubField(record, "ATVL", f, 0);
        while (l >= 0 && v >= 0) {
            const char* label = record->fields[f].subFields[l].value;
            const char* value = record->fields[f].subFields[v].value;
            if (label && value) {
                const bool acronym = label[0] >= 'A' && label[0] <= 'Z';
                for (int32_t k = 0; k < n; ++k) {
                    if (acronym) {
                        if (usable(k) && fieldText(table[index[k]].name) == label) values[k] = value;
                        continue;
                    }
                    int32_t at = 0;
                    if (lookupAttrIndexStr(label, &at) != 0) {
                        if (logFile) std::fprintf(logFile, "unable to import attl subfield %s\n", label);
                        continue;
                    }
                    if (at == index[k]) values[k] = value;
                }
            }
            l = Find8211SubField(record, "ATTL", f, l + 1);
            v = Find8211SubField(record, "ATVL", f, v + 1);
        }
    }
    return 0;
}
