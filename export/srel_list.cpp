// export/srel_list.cpp: the relation list (see srel_list.h): appends that grow the array (by
// doubling), and the two searches of the topology step. Names compare after an in-place upper-casing,
// as the topology step expects of them.

#include "export/srel_list.h"

#include <bit>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "s57/s57_util2.h"

SrelList topoSrelList = {0, nullptr};

namespace {

void upperInPlace(char* text) {
    for (; *text; ++text) *text = char(std::toupper(static_cast<unsigned char>(*text)));
}

// Upper-cases both texts in place and compares them exactly.
bool sameName(char* a, char* b) {
    upperInPlace(a);
    upperInPlace(b);
    return std::strcmp(a, b) == 0;
}

template <std::size_t N>
bool fits(const char* text) {
    return !text || std::strlen(text) < N;
}

template <std::size_t N>
void copyText(char (&to)[N], const char* text) {
    const std::size_t n = text ? std::strlen(text) : 0;
    std::memcpy(to, text ? text : "", n);
    std::memset(to + n, 0, N - n);
}

}  // namespace

int32_t AppendSrelRecord(SrelList* list, const char* srcLnam, const char* srcName, const char* destName,
                         const char* ornt, const char* usag, const char* topi, const char* mask, const char* dsnm) {
    if (!list) {
        logLine("AppendSrelRecord: Illegal parameter\n");
        return -19;
    }
    using R = SrelRecord;
    if (!fits<sizeof R::SRC_LNAM>(srcLnam) || !fits<sizeof R::SRC_NAME>(srcName) ||
        !fits<sizeof R::DEST_NAME>(destName) || !fits<sizeof R::ORNT>(ornt) || !fits<sizeof R::USAG>(usag) ||
        !fits<sizeof R::TOPI>(topi) || !fits<sizeof R::MASK>(mask) || !fits<sizeof R::DSNM>(dsnm)) {
        logLine("AppendSrelRecord: relation %s -> %s does not fit the record\n", srcName ? srcName : "",
                destName ? destName : "");
        return -11;
    }
    if (list->count < 0 || (list->count > 0 && !list->records)) {
        logLine("AppendSrelRecord: Illegal parameter\n");
        return -19;
    }
    // The list grows by doubling (a rebuild appends thousands of rows): the block holds at least
    // the power of two at or above count, which only this function allocates.
    const std::size_t held = list->count == 0 ? 0 : std::bit_ceil(std::size_t(list->count));
    const std::size_t need = std::size_t(list->count) + 1;
    if (need > held) {
        void* grown = std::realloc(list->records, std::bit_ceil(need) * sizeof(SrelRecord));
        if (!grown) {
            logLine("AppendSrelRecord: Out of memory\n");
            return -1;
        }
        list->records = static_cast<SrelRecord*>(grown);
    }
    SrelRecord& r = list->records[list->count++];
    copyText(r.SRC_LNAM, srcLnam);
    copyText(r.SRC_NAME, srcName);
    copyText(r.DEST_NAME, destName);
    copyText(r.ORNT, ornt);
    copyText(r.USAG, usag);
    copyText(r.TOPI, topi);
    copyText(r.MASK, mask);
    copyText(r.DSNM, dsnm);
    return 0;
}

void emptySrelList(SrelList* list) {
    if (!list) return;
    std::free(list->records);
    list->records = nullptr;
    list->count = 0;
}

bool findSrelRecord(int32_t count, SrelRecord* records, char* name) {
    if (!records || !name) return false;
    for (int32_t i = 0; i < count; ++i)
        if (sameName(records[i].SRC_NAME, name)) return true;
    return false;
}

bool checkEdgeNodes(int32_t count, SrelRecord* records, char* name, char* firstNode, char* lastNode) {
    if (!records || !name || !firstNode || !lastNode) return true;
    for (int32_t i = 0; i < count; ++i) {
        if (!sameName(records[i].SRC_NAME, name)) continue;
        for (int32_t j = 0; j < count; ++j) {
            if (!sameName(records[j].SRC_NAME, records[i].DEST_NAME)) continue;
            if (sameName(records[j].DEST_NAME, firstNode) && std::strcmp(records[j].TOPI, "B") == 0) return false;
            if (sameName(records[j].DEST_NAME, lastNode) && std::strcmp(records[j].TOPI, "E") == 0) return false;
        }
    }
    return true;
}
