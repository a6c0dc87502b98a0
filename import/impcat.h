// import/impcat.h: module impcat, the CATALOG file of an S-57 exchange set on the import side: its
// CATD records read into memory, the overlap check of its base cells, and its rows in table catd.
//
// FILE subfields are kept as the CATALOG has them ('\' between directory levels); see
// exchangeSetFilePath (export/expcat.h) to reach such a file on disk. Every operation catches
// _com_error, logs "Error: impcat::<name>\n<description>\n" to logFile and returns E_FAIL.
#pragma once

#include <cstdint>

#include "platform/com/com.h"
#include "platform/gdb/gdb.h"
#include "s57/s57_file.h"

// One CATD record, in file order. Texts NUL-terminated; numbers 0 when their subfield is empty.
struct CatalogEntry {
    char rcnm[3];    // record name from the record index, "CD"
    char rcid[12];   // record identifier from the record index, zero-padded decimal text
    char file[256];  // FILE: name relative to the set's directory
    char lfil[256];  // long file name
    char volm[64];   // volume
    char impl[4];    // implementation, e.g. "BIN", "ASC", "TXT"
    double slat;     // southern latitude, western longitude, northern latitude, eastern longitude
    double wlon;
    double nlat;
    double elon;
    char crcs[256];  // CRC of the file
    char comt[512];  // comment
};

// One catalogue cross-reference record ("CR" with a CATX field).
struct CatalogXrefEntry {
    char rcnm[3];
    char rcid[12];
    char nam1[32];
    char nam2[32];
    char comt[512];
};

// The lists loadCatalogRecList fills; entries are malloc'ed, owned by the caller
// (freeCatalogRecList).
struct CatalogEntryList {
    int32_t count;
    CatalogEntry* entries;
};
struct CatalogXrefList {
    int32_t count;
    CatalogXrefEntry* entries;
};

// Opens the CATALOG file at `path` into `file` and reads its CD records into `entries` and its CR
// records into `xrefs`. 0 (the file stays open in the handle); -19 a null argument; Read8211File's
// result when the file cannot be opened or indexed; Read8211Record's result; -17 a CD record
// without CATD field; -10 a subfield longer than its member or a coordinate that is not a finite
// number; -16 no CD record at all; -1 out of memory; E_FAIL after a COM error. After a failure the
// lists are empty and the handle is closed. Each failure is logged.
[[nodiscard]] int32_t loadCatalogRecList(Iso8211File* file, const char* path, CatalogEntryList* entries,
                                         CatalogXrefList* xrefs);

// Frees both lists (either may be null) and leaves them empty.
void freeCatalogRecList(CatalogEntryList* entries, CatalogXrefList* xrefs);

// Refuses overlapping base cells, then appends one catd row per entry (every entry, in list
// order), CATL = catalogueDirectory; when catd holds exactly these entries for this directory
// already (the same set imported again), nothing is written. 0; 8 for overlapping base cells (no row written); the
// result of createGDBTable other than 0 and GDB_E_NAME_EXISTS; E_FAIL for a column catd lacks
// (logged); the failed insertion's result; E_FAIL after a COM error, such as a value longer than
// its column (rows inserted before stay).
[[nodiscard]] int32_t importCATD(IFeatureWorkspace* workspace, int32_t count, const CatalogEntry* entries,
                                 const char* catalogueDirectory);

// 8 when two base cells (FILE ending ".000", case ignored; cells of one name are one cell) share
// an area of positive size; extents that only touch do not count, and an entry without an extent
// (all four coordinates 0) overlaps nothing. 0 otherwise; E_FAIL after a COM error or for a null
// array with a positive count.
[[nodiscard]] int32_t checkCATDExtent(int32_t count, const CatalogEntry* entries);
