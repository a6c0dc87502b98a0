// s57/record_list.h: module s57_util, part one: the sorted record list of a cell (one ObjectRec per
// data record), the cell's topology cache (nodes and edges by record name, features by long name),
// the file checks made before a run and the naming rule of feature classes.
// Every failure is a result code and a line in logFile; nothing is shown to the user here.
// Results: 0 success, -1 out of memory or no room, -2 file not found, -16 empty cell, -17 bad record
// content, -19 a null argument; loadObjectRecList also passes on the record layer's codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "s57/llist.h"

struct Iso8211File;
struct Iso8211Record;

// One data record of a cell, as the record list holds it (by value).
struct ObjectRec {
    char lnam[18];     // features: agency label + FIDN (10 digits) + FIDS (5 digits); else empty
    char name[13];     // RCNM + RCID, e.g. "VE0000000123"
    char objClass[7];  // features: the OBJL text; VI "INODE", VC "CNODE", VE "EDGE", VF "FACE",
                       // other V records "??????"; else empty
    char prim[3];      // features: "FP", "FL", "FA" or "FX"; V records: their RCNM; else empty
    char ruin;         // 'I', 'D' or 'M' from VRID/FRID; 'N' for other records
    int32_t recno;     // 1-based ordinal of the record in the file (for Read8211Record)
};

// A node of the cell: made by the vector importer with malloc (coords too); cache_free frees both.
struct NodeObject {
    char name[14];
    int16_t dim;     // 2 or 3
    int32_t num;     // number of points
    double* coords;  // num points of dim values
};

// An edge of the cell, allocated like NodeObject.
struct EdgeObject {
    char name[16];
    int32_t num;
    char beginNode[13];
    char endNode[13];
    double* coords;  // num points of x, y
};

// A feature record of the cell, copied from its ObjectRec.
struct FeatureEntry {
    char lnam[18];
    char name[13];
    char objClass[13];
    char prim[3];
};

// The topology cache of one cell. Capacities come from the record list; the arrays belong to the
// cache and so do the objects added to it.
struct Cache {
    int32_t viCount, viCapacity;
    NodeObject** vi;
    int32_t vcCount, vcCapacity;
    NodeObject** vc;
    int32_t veCount, veCapacity;
    EdgeObject** ve;
    int32_t fCount, fCapacity;
    FeatureEntry* f;
};

// ---- The record list ---------------------------------------------------------------------------

// Opens the cell with Read8211File into *file (left open for the importers, also after a failure)
// and makes *out a new append-mode list of ObjectRec copies in compClassName order: data-set records,
// isolated nodes, connected nodes, edges, then features by primitive (P, L, A, N) and class. Raises
// pointFeatureCount, lineFeatureCount and areaFeatureCount per feature. On failure *out is null.
// Results 0, -19, -1, -16 (no record), -17 (a bad VRID/FRID/FOID) or the record layer's code.
// A record whose name an earlier record of the file has (record names are unique within a file) is
// left out of the list with a log line naming it, and listed by repeatedObjectRecords.
[[nodiscard]] int loadObjectRecList(Iso8211File* file, const char* path, llist** out);

// The names of the records the last loadObjectRecList left out as repetitions, in file order.
const std::vector<std::string>& repeatedObjectRecords();

// Record `ordinal` of the file, as Read8211Record gives it (the caller frees it): the records the
// open pass of the last loadObjectRecList decoded are not decoded again; each is kept until it is
// read once, the next list is loaded, or releaseObjectRecords. Read8211Record's results.
[[nodiscard]] int readObjectRecord(Iso8211File* file, int ordinal, Iso8211Record* record);
void releaseObjectRecords();

// The list's order: record kind rank, then record number (non-features) or primitive rank, class
// text and record number (features). Two records that tie on all of these (not possible within one
// file: the record number is the ordinal) log "compClassName: %s %s has the same rec no %d, NOT
// ALLOWED\n" and compare equal.
int compClassName(const ObjectRec* a, const ObjectRec* b);
int compClassNamePtr(const void* a, const void* b);  // a, b point at ObjectRec pointers

// The same ranks, ties broken by record name (features: primitive rank, then name within one class,
// else class).
int compRecName(const ObjectRec* a, const ObjectRec* b);
int compRecNamePtr(const void* a, const void* b);

// By the first two letters: DS 10, DP 20, VI 110, VC 120, VE 130, FE 1000, else -1.
int recordKindRank(const char* name);
// FN 1, FP 2, FL 3, FA 4, FX 5, else -1.
int primRank(const char* prim);

// ---- The topology cache ------------------------------------------------------------------------

// Sizes the cache from the list (VI, VC, VE and feature nodes), marks the list's first feature node,
// fills and sorts the feature table by long name; *hasFX := 1 when the list ends with an FX record.
// A kind without records gets no array. 0, -1 (logged; nothing stays allocated) or -19.
[[nodiscard]] int cache_initialize(Cache* cache, llist* records, int* hasFX);

// Appends the object at index count. 0; -1 when the kind is full (logged, nothing written); -19.
[[nodiscard]] int cache_add_vi(Cache* cache, NodeObject* node);
[[nodiscard]] int cache_add_vc(Cache* cache, NodeObject* node);
[[nodiscard]] int cache_add_ve(Cache* cache, EdgeObject* edge);

// Sorts the filled part of the kind's array by name (byte-wise).
void cache_sort_vi(Cache* cache);
void cache_sort_vc(Cache* cache);
void cache_sort_ve(Cache* cache);

// Binary search of a sorted kind by record name (features: by long name); *out := the object or
// null. 0 whether found or not; -19 for a null argument.
int cache_find_vi(Cache* cache, const char* name, NodeObject** out);
int cache_find_vc(Cache* cache, const char* name, NodeObject** out);
int cache_find_ve(Cache* cache, const char* name, EdgeObject** out);
int cache_find_f(Cache* cache, const char* lnam, FeatureEntry** out);

// Frees every node and edge (with its coordinates) and the four arrays; the cache is left empty.
void cache_free(Cache* cache);

// ---- Names and files -----------------------------------------------------------------------------

// out := className + "_N", "_P", "_L", "_A" or "_X" for prim "FN", "FP", "FL", "FA", "FX". 0;
// 1 for any other prim ("addClassPrefix: support prim type %s\n"); -11 when the name does not fit
// in outSize; -19.
[[nodiscard]] int addClassPrefix(const char* className, const char* prim, char* out,
                                 std::size_t outSize);

// access(2) for mode 0 (exists), 2 (writable), 4 (readable) or 6 (both): 0 or -1; other modes -1;
// a null path "FileAccess: Illegal parameter\n" and -19.
int FileAccess(const char* path, int mode);

// 0 when the file exists; "File %s not found." and -2 when not; -19 for a null path.
int checkFileAccess(const char* path);

// Lower-cases text in place; its length (-19 for null).
int toLowerCase(char* text);
