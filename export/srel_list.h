// export/srel_list.h: the relation list of the cell being exported: the rows of table srel (which
// feature or edge points to which edge or node, with ORNT, USAG, TOPI and MASK) held in memory.
// The topology step fills topoSrelList, either while it builds the primitives or from table srel;
// the vector export writes the VRPT pointers of edges from it and the feature export the FSPT
// pointers of features, in the order of the appends.
//
// Results: 0 appended; -1 out of memory; -11 a text longer than its field; -19 no list. Each
// failure is logged to logFile and leaves the list as it was. Not thread-safe: topoSrelList is
// program-wide, one run at a time.
#pragma once

#include <cstdint>

// One srel row as NUL-terminated 8-bit texts (the sizes include the terminator).
struct SrelRecord {
    char SRC_LNAM[30];   // LNAM of the source feature; empty for an edge
    char SRC_NAME[20];   // NAME of the source feature or edge
    char DEST_NAME[20];  // NAME of the destination edge or node
    char ORNT[2];        // "F", "R", "N"
    char USAG[2];        // "E", "I", "C", "N"
    char TOPI[2];        // "B", "E", "N"
    char MASK[2];        // "S", "N"
    char DSNM[30];       // cell name; empty in rows made by the topology build
};

// count records in one array taken with malloc/realloc by AppendSrelRecord alone (room for the
// power of two at or above count) and owned by the list (null while count is 0).
struct SrelList {
    int32_t count;
    SrelRecord* records;
};

// The relation list of the cell being exported; emptied by the export driver before each cell's
// topology step.
extern SrelList topoSrelList;

// Appends one record (the array doubles when full). A null text is the empty text.
// 0; -19 without a list ("AppendSrelRecord: Illegal parameter\n"); -1 when the array cannot grow
// ("AppendSrelRecord: Out of memory\n"); -11 when a text does not fit its field (logged, nothing
// appended rather than a cut name that would point elsewhere).
[[nodiscard]] int32_t AppendSrelRecord(SrelList* list, const char* srcLnam, const char* srcName, const char* destName,
                                       const char* ornt, const char* usag, const char* topi, const char* mask,
                                       const char* dsnm);

// Releases the array: count 0, no array. A null list is ignored.
void emptySrelList(SrelList* list);

// Whether a record's SRC_NAME equals name. Both texts are upper-cased in place before they are
// compared (the records' SRC_NAME and the caller's name stay upper case). False for a null name or
// array.
bool findSrelRecord(int32_t count, SrelRecord* records, char* name);

// Whether a new edge between firstNode and lastNode may join the line feature `name` in its stored
// direction: false when one of the feature's edges so far has a "B" row naming firstNode or an
// "E" row naming lastNode. Names are upper-cased in place as in findSrelRecord; TOPI is compared
// exactly. True for an empty list; quadratic in the number of records.
bool checkEdgeNodes(int32_t count, SrelRecord* records, char* name, char* firstNode, char* lastNode);
