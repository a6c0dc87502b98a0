// export/expcat.h: module expcat, the exchange set of an export run: the CATALOG file as the
// converter writes it (an ISO 8211 file with ASCII subfields, one CATD record per row of table catd),
// the copy of the set's other files into the output directory, and the list of the set's base
// cells that the export driver then writes one by one.
//
// FILE names of a set keep '\' between directory levels (in catd and in the CATALOG file); they
// become '/' only where the file system is reached, and source files are found on disk without
// regard to the case of their names. Every operation catches _com_error, logs
// "Error: expcat::<name>\n<description>\n" to logFile and returns E_FAIL unless said otherwise.
// Not thread-safe: cellList and the run state are program-wide.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/com.h"
#include "platform/gdb/gdb.h"
#include "s57/s57_file.h"

// One cell of an export run (also one line of the export dialog's list). Texts NUL-terminated.
struct CellListEntry {
    char name[64];        // file name without directories, e.g. "CELL1.000"
    char directory[128];  // empty in cellList
    char path[256];       // output path of the cell file
};

// The base cells of the current export run, in catd order; refilled by every getCellList.
extern std::vector<CellListEntry> cellList;

// The DDR of a CATALOG file: the file control field and the descriptions of 0001 and CATD.
extern const Iso8211FileDesc catalogueFileDesc;
extern const Iso8211FieldDesc catalogueDDRTemplate[2];

// Rebuilds the exchange set whose catd rows have CATL = catalogueDirectory in outputDirectory:
// writes its CATALOG file, copies its other files (creating their sub-directories) and puts its
// base cells into cellList. The number of base cells; 0 when the CATALOG file could not be written
// or closed, a directory could not be created, or a file name does not fit the cell list or
// leaves the output directory (each shown or logged); -1 after a COM error.
[[nodiscard]] int32_t getCellList(IWorkspace* workspace, const char* catalogueDirectory, const char* outputDirectory);

// Creates `path` and writes the CATALOG DDR into `file`. 0 or Write8211File's result (logged
// "ExportCatalogueFile : unable create ISO catalogue file %s\n"); the handle is closed again
// after a failure.
[[nodiscard]] int32_t exportCatalogueFile(const char* path, Iso8211File* file);

// Writes one CATD record per catd row of the set into the open file. 0 (also for a set without
// rows), -11 when catd cannot be opened, or exportCATDTable's result.
[[nodiscard]] int32_t exportCATD(IWorkspace* workspace, const char* catalogueDirectory, Iso8211File* file);

// One data record (fields 0001 and CATD) per row the filter selects, in table order. 0; -1 out of
// memory; E_FAIL when a row cannot be turned into a CATD field; the record layer's result.
[[nodiscard]] int32_t exportCATDTable(ITable* table, IQueryFilter* filter, Iso8211File* file);

// Fills the 12 subfields of `field` (which holds 12 zero-filled subfields) from the row's columns
// rcnm ... comt. 0; E_FAIL for a missing column or a value that cannot be written (wrong width,
// delimiter characters; logged); -1 out of memory.
[[nodiscard]] int32_t exportCATDRecord(IRow* row, Iso8211Field* field);

// The CRC-32 of a file's bytes as a CATALOG's CRCS gives it (the ISO 3309 polynomial, reflected,
// eight upper-case hexadecimal digits); empty when the file cannot be read.
std::string fileCrc(const char* path);

// Writes the CATALOG file of the last successful getCellList again, with the CRCS of each of its
// base cells whose output path is in `written` computed from the file written; every other file
// keeps catd's CRCS (a copied file is the set's own). 0 (also when the last run wrote no
// CATALOG file); the writer's code after a failure (message 149, 150 or 151 as getCellList).
[[nodiscard]] int32_t updateCatalogueCrcs(IWorkspace* workspace, const std::vector<std::string>& written);

// Copies a file byte for byte. A source that cannot be opened, a destination that cannot be
// created, a short write and a copy of a file onto itself are logged and end the copy.
void copyfile(const char* source, const char* destination);

// Creates outputDirectory/part for every leading part of relativeDirectory ('\' or '/' between
// levels) and for the whole of it, where missing. 0; E_FAIL after message 148.
[[nodiscard]] int32_t createSubDirectories(const char* outputDirectory, const char* relativeDirectory);

// The path on disk of the exchange-set file `file` (a FILE subfield, '\' or '/' between levels)
// under `directory`: each level is looked up without regard to case; a level that is not found is
// taken as written. Separators of the result are '/'.
std::string exchangeSetFilePath(const char* directory, const char* file);

// True when `file` stays inside the exchange set: not empty, not absolute (no leading separator,
// no drive letter) and no "." or ".." level.
bool isExchangeSetRelative(const char* file);
