// s57/record_list.cpp: module s57_util, part one: the record list and topology cache of a cell,
// the file checks before a run and the feature-class naming rule.
// Failures are logged to logFile and returned as codes; nothing here ends the process.

#include "s57/record_list.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "s57/dimml.h"
#include "s57/s57_file.h"
#include "s57/s57_util2.h"
#include "s57/table_text.h"

namespace {

constexpr int kNoMemory = -1;
constexpr int kNotFound = -2;
constexpr int kTooLong = -11;
constexpr int kNoRecord = -16;
constexpr int kBadRecord = -17;
constexpr int kIllegal = -19;

constexpr int kFirstRecordRoom = 5000;  // the list's first pointer array, grown by kRecordRoomStep
constexpr int kRecordRoomStep = 1000;

// Copies text into a fixed array when it fits whole; false (array untouched) when it does not.
template <std::size_t N>
bool copyText(char (&to)[N], std::string_view text) {
    if (text.size() >= N) return false;
    std::memcpy(to, text.data(), text.size());
    to[text.size()] = '\0';
    return true;
}

constexpr int kFeatureRank = 1000;

// The value text of the first subfield `label` of field `field`, or null.
const char* subfieldValue(const Iso8211Record& record, int field, const char* label) {
    const int s = Find8211SubField(&record, label, field, 0);
    if (s < 0) return nullptr;
    return record.fields[field].subFields[s].value;
}

// The handle the last loadObjectRecList opened: the record layer keeps its decoded records for the
// importers until the list lets them go.
const Iso8211File* listFile = nullptr;

const char* vectorClass(std::string_view rcnm) {
    if (rcnm == "VI") return "INODE";
    if (rcnm == "VC") return "CNODE";
    if (rcnm == "VE") return "EDGE";
    if (rcnm == "VF") return "FACE";
    return "??????";
}

// Fills the VRID/FRID part of one record; 0 or -17 (logged).
int readRecordKind(const Iso8211Record& record, ObjectRec& rec, int r) {
    const bool vector = rec.name[0] == 'V';
    if (vector) {
        copyText(rec.prim, std::string_view(rec.name, 2));
        copyText(rec.objClass, vectorClass(std::string_view(rec.name, 2)));
    }
    const int field = Find8211Field(&record, vector ? "VRID" : "FRID", 0);
    if (field < 0) {
        logLine("loadObjectRecList: Error reading object record %d, missing VRID or FRID field\n", r);
        return kBadRecord;
    }
    const char* ruin = subfieldValue(record, field, "RUIN");
    if (!ruin) {
        logLine("loadObjectRecList: Error reading object record %d, missing RUIN subfield\n", r);
        return kBadRecord;
    }
    if (ruin[0] != 'M' && ruin[0] != 'I' && ruin[0] != 'D') {
        logLine("loadObjectRecList: Error reading object record %d, bad RUIN value %s", r, ruin);
        return kBadRecord;
    }
    rec.ruin = ruin[0];
    if (vector) return 0;

    const char* objl = subfieldValue(record, field, "OBJL");
    if (!objl) {
        logLine("loadObjectRecList: Error reading object record %d, missing OBJL subfield", r);
        return kBadRecord;
    }
    if (!copyText(rec.objClass, objl)) {
        logLine("loadObjectRecList: Error reading object record %d, bad OBJL value %s\n", r, objl);
        return kBadRecord;
    }
    const char* prim = subfieldValue(record, field, "PRIM");
    if (!prim) {
        logLine("loadObjectRecList: Error reading object record %d, missing PRIM subfield", r);
        return kBadRecord;
    }
    const std::string_view p = prim;
    if (p == "P") {
        copyText(rec.prim, "FP");
        ++pointFeatureCount;
    } else if (p == "L") {
        copyText(rec.prim, "FL");
        ++lineFeatureCount;
    } else if (p == "A") {
        copyText(rec.prim, "FA");
        ++areaFeatureCount;
    } else if (p == "N") {
        copyText(rec.prim, "FX");
    } else {
        logLine("loadObjectRecList: Error reading object record %d, unsupported PRIM field %s\n", r,
                prim);
        return kBadRecord;
    }
    return 0;
}

// Builds the long name from FOID: agency label + FIDN + FIDS. Missing or unusable parts are logged
// and leave the name as far as it got. Result 0 or -17 (no FOID).
int readLongName(const Iso8211Record& record, ObjectRec& rec, int r) {
    const int field = Find8211Field(&record, "FOID", 0);
    if (field < 0) {
        logLine("loadObjectRecList: Error reading object record %d, FOID field not found\n", r);
        return kBadRecord;
    }
    std::string lnam;
    // A part that would not fit the 17 characters of a long name is not cut: it ends the name.
    auto append = [&](std::string_view part) {
        if (lnam.size() + part.size() >= sizeof rec.lnam) {
            logLine("loadObjectRecList: Error reading object record %d, long name part %.*s too long\n",
                    r, int(part.size()), part.data());
            return false;
        }
        lnam += part;
        copyText(rec.lnam, lnam);
        return true;
    };

    const char* agen = subfieldValue(record, field, "AGEN");
    if (!agen) {
        logLine("loadObjectRecList: Error reading object record %d, missing AGEN subfield", r);
        return 0;
    }
    // The record layer hands out the label of a known code ("1C" for 7196); only a number is a code.
    const std::string_view agenText(agen);
    if (!agenText.empty() && agenText.find_first_not_of("0123456789") == std::string_view::npos) {
        char label[sizeof(AgencyRec::label)] = {};
        if (lookupAGENlabel(agen, label) != 0) {
            logLine("loadObjectRecList: Error reading object record %d, unable to decode AGEN code %s",
                    r, agen);
            return 0;
        }
        if (!append(fieldText(label))) return 0;
    } else if (!append(agen)) {
        return 0;
    }
    const char* fidn = subfieldValue(record, field, "FIDN");
    if (!fidn) {
        logLine("loadObjectRecList: Error reading object record %d, missing FIDN subfield", r);
        return 0;
    }
    if (!append(fidn)) return 0;
    const char* fids = subfieldValue(record, field, "FIDS");
    if (!fids) {
        logLine("loadObjectRecList: Error reading object record %d, missing FIDS subfield", r);
        return 0;
    }
    append(fids);
    return 0;
}

// One record of the cell into rec; 0 or the code that stops the list.
int scanRecord(Iso8211File* file, ObjectRec& rec, int r) {
    const Iso8211RecIndex& entry = file->index[r - 1];
    std::string name = std::string(fieldText(entry.rcnm)) + std::string(fieldText(entry.rcid));
    copyText(rec.name, name);
    rec.recno = r;
    rec.ruin = ' ';
    logLine("scanning record %s\n", rec.name);

    RecordHolder image;
    static const char* const kTags[] = {"VRID", "FRID", "FOID"};
    if (int rc = Read8211RecordTags(file, r, kTags, 3, &image.record); rc != 0) {
        logLine("loadObjectRecList: Error reading object record %d\n", r);
        return rc;
    }
    int rc = 0;
    if (rec.name[0] != 'V' && rec.name[0] != 'F') {
        rec.ruin = 'N';
    } else {
        rc = readRecordKind(image.record, rec, r);
        if (rc == 0 && rec.name[0] == 'F') rc = readLongName(image.record, rec, r);
    }
    return rc;
}

// Names of the records the last loadObjectRecList left out as repetitions.
std::vector<std::string>& repeated() {
    static std::vector<std::string> names;
    return names;
}

int compareInts(int a, int b) { return a < b ? -1 : (a > b ? 1 : 0); }

int compareTexts(const char* a, const char* b, std::size_t n) {
    const int c = std::strncmp(a, b, n);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}


template <class T>
void sortByName(T** items, int32_t count) {
    if (!items || count <= 1) return;
    std::sort(items, items + count, [](const T* a, const T* b) {
        return std::strncmp(a->name, b->name, sizeof a->name) < 0;
    });
}

template <class T>
T* findByName(T** items, int32_t count, const char* name) {
    if (!items || count <= 0) return nullptr;
    T** end = items + count;
    T** at = std::lower_bound(items, end, name, [](const T* item, const char* key) {
        return std::strncmp(item->name, key, sizeof item->name) < 0;
    });
    if (at == end || std::strncmp((*at)->name, name, sizeof (*at)->name) != 0) return nullptr;
    return *at;
}

template <class T>
int addTo(T** items, int32_t& count, int32_t capacity, T* item, const char* function) {
    if (!item) return kIllegal;
    if (!items || count >= capacity) {
        logLine("%s: no room for %.*s, capacity %d\n", function, int(sizeof item->name),
                item->name, capacity);
        return kNoMemory;
    }
    items[count++] = item;
    return 0;
}

template <class T>
void freeObjects(T**& items, int32_t& count, int32_t& capacity) {
    if (items) {
        for (int32_t i = 0; i < count; ++i) {
            if (!items[i]) continue;
            std::free(items[i]->coords);
            std::free(items[i]);
        }
    }
    std::free(items);
    items = nullptr;
    count = capacity = 0;
}

}  // namespace

// ---- The record list ---------------------------------------------------------------------------

int loadObjectRecList(Iso8211File* file, const char* path, llist** out) {
    if (!file || !path || !out) {
        logLine("loadObjectRecList : Illegal parameter");
        return kIllegal;
    }
    *out = nullptr;
    llist* list = llist_init(LLIST_APPEND, sizeof(ObjectRec), nullptr);
    if (!list) {
        logLine("loadObjectRecList : Error calling llist_init");
        return kNoMemory;
    }
    auto fail = [&](int rc) {
        llist_destroy(list);
        releaseObjectRecords();
        return rc;
    };

    releaseObjectRecords();
    repeated().clear();
    listFile = file;
    if (int rc = Read8211File(file, path); rc != 0) {
        logLine("loadObjectRecList: Error opening the object file: %s\n", path);
        return fail(rc);
    }
    const int count = file->recordCount;

    std::vector<ObjectRec> records;
    try {
        records.reserve(std::min(count, kFirstRecordRoom));
        for (int r = 1; r <= count; ++r) {
            if (records.size() == records.capacity())
                records.reserve(records.capacity() + kRecordRoomStep);
            ObjectRec& rec = records.emplace_back();
            std::memset(&rec, 0, sizeof rec);
            if (int rc = scanRecord(file, rec, r); rc != 0) return fail(rc);
        }
    } catch (const std::bad_alloc&) {
        logLine("loadObjectRecList: unable to allocate memory for object record %d\n",
                int(records.size()) + 1);
        return fail(kNoMemory);
    }
    if (records.empty()) {
        logLine("loadObjectRecList: no record exist in object file\n");
        return fail(kNoRecord);
    }

    // compClassName's keys, taken once per record: the sort then compares numbers. Record numbers
    // are the ordinals, so no two records tie and compClassName would never log one.
    struct SortKey {
        int32_t kind, prim;
        char objClass[sizeof(ObjectRec::objClass)];
        int32_t recno;
        const ObjectRec* rec;
    };
    std::vector<SortKey> order;
    try {
        order.reserve(records.size());
    } catch (const std::bad_alloc&) {
        logLine("loadObjectRecList: unable to allocate memory for object record %d\n", 1);
        return fail(kNoMemory);
    }
    // Record names are unique within a file: a record that repeats an earlier one's name (a record
    // written twice) would be imported twice, so it is left out and named.
    std::unordered_map<std::string_view, int32_t> firstOf;
    for (const ObjectRec& rec : records) {
        const std::string_view name(rec.name, strnlen(rec.name, sizeof rec.name));
        if (!name.empty()) {
            const auto [at, first] = firstOf.try_emplace(name, rec.recno);
            if (!first) {
                logLine("loadObjectRecList: record %d repeats the name %s of record %d: skipped\n", int(rec.recno),
                        rec.name, int(at->second));
                repeated().emplace_back(name);
                const std::string_view prim(rec.prim, strnlen(rec.prim, sizeof rec.prim));
                if (prim == "FP") --pointFeatureCount;
                else if (prim == "FL") --lineFeatureCount;
                else if (prim == "FA") --areaFeatureCount;
                continue;
            }
        }
        SortKey& k = order.emplace_back();
        k.kind = recordKindRank(rec.name);
        const bool feature = k.kind == kFeatureRank;
        k.prim = feature ? primRank(rec.prim) : 0;
        // The class compares as strncmp does: up to its NUL, which copyText leaves followed by zeros.
        std::memset(k.objClass, 0, sizeof k.objClass);
        if (feature) std::memcpy(k.objClass, rec.objClass, strnlen(rec.objClass, sizeof k.objClass));
        k.recno = rec.recno;
        k.rec = &rec;
    }
    std::sort(order.begin(), order.end(), [](const SortKey& a, const SortKey& b) {
        if (a.kind != b.kind) return a.kind < b.kind;
        if (a.prim != b.prim) return a.prim < b.prim;
        if (int c = std::memcmp(a.objClass, b.objClass, sizeof a.objClass); c != 0) return c < 0;
        return a.recno < b.recno;
    });

    for (const SortKey& k : order) {
        if (llist_tail_enter(list, k.rec) != 0) return fail(kNoMemory);
    }
    *out = list;
    return 0;
}

const std::vector<std::string>& repeatedObjectRecords() { return repeated(); }

int readObjectRecord(Iso8211File* file, int ordinal, Iso8211Record* record) {
    return Take8211Record(file, ordinal, record);
}

void releaseObjectRecords() {
    Release8211RecordCache(listFile);
    listFile = nullptr;
}

int recordKindRank(const char* name) {
    if (!name) return -1;
    const std::string_view kind(name, strnlen(name, 2));
    if (kind == "DS") return 10;
    if (kind == "DP") return 20;
    if (kind == "VI") return 110;
    if (kind == "VC") return 120;
    if (kind == "VE") return 130;
    if (kind == "FE") return kFeatureRank;
    return -1;
}

int primRank(const char* prim) {
    if (!prim) return -1;
    const std::string_view p(prim, strnlen(prim, 3));
    if (p == "FN") return 1;
    if (p == "FP") return 2;
    if (p == "FL") return 3;
    if (p == "FA") return 4;
    if (p == "FX") return 5;
    return -1;
}

int compClassName(const ObjectRec* a, const ObjectRec* b) {
    const int ra = recordKindRank(a->name);
    const int rb = recordKindRank(b->name);
    if (ra != rb) return compareInts(ra, rb);
    if (ra == kFeatureRank) {
        if (int c = compareInts(primRank(a->prim), primRank(b->prim)); c != 0) return c;
        if (int c = compareTexts(a->objClass, b->objClass, sizeof a->objClass); c != 0) return c;
    }
    if (int c = compareInts(a->recno, b->recno); c != 0) return c;
    if (a != b) {
        // Never within one file; the list that holds them is refused instead of ending the run.
        logLine("compClassName: %s %s has the same rec no %d, NOT ALLOWED\n", a->name, b->name,
                a->recno);
    }
    return 0;
}

int compClassNamePtr(const void* a, const void* b) {
    return compClassName(*static_cast<const ObjectRec* const*>(a),
                         *static_cast<const ObjectRec* const*>(b));
}

int compRecName(const ObjectRec* a, const ObjectRec* b) {
    const int ra = recordKindRank(a->name);
    const int rb = recordKindRank(b->name);
    if (ra != rb) return compareInts(ra, rb);
    if (ra == kFeatureRank) {
        if (int c = compareInts(primRank(a->prim), primRank(b->prim)); c != 0) return c;
        if (int c = compareTexts(a->objClass, b->objClass, sizeof a->objClass); c != 0) return c;
    }
    return compareTexts(a->name, b->name, sizeof a->name);
}

int compRecNamePtr(const void* a, const void* b) {
    return compRecName(*static_cast<const ObjectRec* const*>(a),
                       *static_cast<const ObjectRec* const*>(b));
}

// ---- The topology cache ------------------------------------------------------------------------

int cache_initialize(Cache* cache, llist* records, int* hasFX) {
    if (!cache || !records || !hasFX) {
        logLine("unable to initialize cache\n");
        return kIllegal;
    }
    std::memset(cache, 0, sizeof *cache);
    *hasFX = 0;

    bool marked = false;
    for (auto* rec = static_cast<ObjectRec*>(llist_first(records)); rec;
         rec = static_cast<ObjectRec*>(llist_next(records))) {
        const std::string_view prim = fieldText(rec->prim);
        if (prim == "VI") ++cache->viCapacity;
        else if (prim == "VC") ++cache->vcCapacity;
        else if (prim == "VE") ++cache->veCapacity;
        else if (prim == "FP" || prim == "FN" || prim == "FL" || prim == "FA" || prim == "FX") {
            ++cache->fCapacity;
            if (!marked) {
                llist_set_mark(records);
                marked = true;
            }
        }
    }
    if (const auto* last = static_cast<ObjectRec*>(llist_last(records)))
        *hasFX = fieldText(last->prim) == "FX" ? 1 : 0;

    auto allocate = [&](auto*& array, int32_t capacity, std::size_t size, const char* kind) {
        if (capacity == 0) return true;
        array = static_cast<std::remove_reference_t<decltype(array)>>(std::calloc(capacity, size));
        if (array) return true;
        logLine("cache_initialize: unable to allocate %d byte for %s objects\n",
                int(std::size_t(capacity) * size), kind);
        return false;
    };
    if (!allocate(cache->vi, cache->viCapacity, sizeof(NodeObject*), "vi") ||
        !allocate(cache->vc, cache->vcCapacity, sizeof(NodeObject*), "vc") ||
        !allocate(cache->ve, cache->veCapacity, sizeof(EdgeObject*), "ve") ||
        !allocate(cache->f, cache->fCapacity, sizeof(FeatureEntry), "f")) {
        cache_free(cache);
        return kNoMemory;
    }

    if (marked) {
        llist_goto_mark(records);
        for (auto* rec = static_cast<ObjectRec*>(llist_current(records));
             rec && cache->fCount < cache->fCapacity;
             rec = static_cast<ObjectRec*>(llist_next(records))) {
            FeatureEntry& e = cache->f[cache->fCount++];
            copyText(e.lnam, fieldText(rec->lnam));
            copyText(e.name, fieldText(rec->name));
            copyText(e.objClass, fieldText(rec->objClass));
            copyText(e.prim, fieldText(rec->prim));
        }
        std::sort(cache->f, cache->f + cache->fCount, [](const FeatureEntry& a, const FeatureEntry& b) {
            return std::strncmp(a.lnam, b.lnam, sizeof a.lnam) < 0;
        });
    }
    return 0;
}

int cache_add_vi(Cache* cache, NodeObject* node) {
    if (!cache) return kIllegal;
    return addTo(cache->vi, cache->viCount, cache->viCapacity, node, "cache_add_vi");
}

int cache_add_vc(Cache* cache, NodeObject* node) {
    if (!cache) return kIllegal;
    return addTo(cache->vc, cache->vcCount, cache->vcCapacity, node, "cache_add_vc");
}

int cache_add_ve(Cache* cache, EdgeObject* edge) {
    if (!cache) return kIllegal;
    return addTo(cache->ve, cache->veCount, cache->veCapacity, edge, "cache_add_ve");
}

void cache_sort_vi(Cache* cache) {
    if (cache) sortByName(cache->vi, cache->viCount);
}

void cache_sort_vc(Cache* cache) {
    if (cache) sortByName(cache->vc, cache->vcCount);
}

void cache_sort_ve(Cache* cache) {
    if (cache) sortByName(cache->ve, cache->veCount);
}

int cache_find_vi(Cache* cache, const char* name, NodeObject** out) {
    if (!cache || !name || !out) return kIllegal;
    *out = findByName(cache->vi, cache->viCount, name);
    return 0;
}

int cache_find_vc(Cache* cache, const char* name, NodeObject** out) {
    if (!cache || !name || !out) return kIllegal;
    *out = findByName(cache->vc, cache->vcCount, name);
    return 0;
}

int cache_find_ve(Cache* cache, const char* name, EdgeObject** out) {
    if (!cache || !name || !out) return kIllegal;
    *out = findByName(cache->ve, cache->veCount, name);
    return 0;
}

int cache_find_f(Cache* cache, const char* lnam, FeatureEntry** out) {
    if (!cache || !lnam || !out) return kIllegal;
    *out = nullptr;
    if (!cache->f || cache->fCount <= 0) return 0;
    FeatureEntry* end = cache->f + cache->fCount;
    FeatureEntry* at = std::lower_bound(cache->f, end, lnam, [](const FeatureEntry& e, const char* key) {
        return std::strncmp(e.lnam, key, sizeof e.lnam) < 0;
    });
    if (at != end && std::strncmp(at->lnam, lnam, sizeof at->lnam) == 0) *out = at;
    return 0;
}

void cache_free(Cache* cache) {
    if (!cache) return;
    freeObjects(cache->vi, cache->viCount, cache->viCapacity);
    freeObjects(cache->vc, cache->vcCount, cache->vcCapacity);
    freeObjects(cache->ve, cache->veCount, cache->veCapacity);
    std::free(cache->f);
    cache->f = nullptr;
    cache->fCount = cache->fCapacity = 0;
}

// ---- Names and files -----------------------------------------------------------------------------

int addClassPrefix(const char* className, const char* prim, char* out, std::size_t outSize) {
    if (!className || !prim || !out) return kIllegal;
    const std::string_view p = prim;
    const char* suffix = p == "FN"   ? "_N"
                         : p == "FP" ? "_P"
                         : p == "FL" ? "_L"
                         : p == "FA" ? "_A"
                         : p == "FX" ? "_X"
                                     : nullptr;
    if (!suffix) {
        logLine("addClassPrefix: support prim type %s\n", prim);
        return 1;
    }
    const int n = std::snprintf(out, outSize, "%s%s", className, suffix);
    if (n < 0 || std::size_t(n) >= outSize) {
        if (outSize > 0) out[0] = '\0';
        return kTooLong;
    }
    return 0;
}

int FileAccess(const char* path, int mode) {
    if (!path) {
        logLine("FileAccess: Illegal parameter\n");
        return kIllegal;
    }
    switch (mode) {
        case 0: return ::access(path, F_OK) == 0 ? 0 : -1;
        case 2: return ::access(path, W_OK) == 0 ? 0 : -1;
        case 4: return ::access(path, R_OK) == 0 ? 0 : -1;
        case 6: return ::access(path, R_OK | W_OK) == 0 ? 0 : -1;
        default: return -1;
    }
}

int checkFileAccess(const char* path) {
    if (!path) {
        logLine("checkFileAccess: Illegal parameter\n");
        return kIllegal;
    }
    if (FileAccess(path, 0) != 0) {
        logLine("File %s not found.", path);
        return kNotFound;
    }
    return 0;
}

int toLowerCase(char* text) {
    if (!text) return kIllegal;
    int n = 0;
    for (; text[n]; ++n) text[n] = char(std::tolower(static_cast<unsigned char>(text[n])));
    return n;
}
