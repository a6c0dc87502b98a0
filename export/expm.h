// export/expm.h: module expm, the metadata records of an exported base cell: the data set general
// information record (0001, DSID, DSSI) and the data set geographic reference record (0001, DSPM),
// from the cell's rows of tables dsid, dssi and dspm, written with binary subfields right after
// the DDR. The DSPM export sets the coordinate factors that the vector export scales with.
//
// Results: 0; -19 a bad argument or a table that cannot be opened; -1 out of memory; E_FAIL when the
// cell has no row in a table or after a COM error (logged "Error: expm::<name>\n<description>\n");
// the record layer's or codec's code otherwise. Every failure writes a line to logFile.
// Not thread-safe: the factors are program-wide.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/com.h"
#include "platform/gdb/gdb.h"
#include "s57/fielddef.h"
#include "s57/s57_file.h"

// COMF and SOMF of the cell being exported; 1000 and 10 before any cell.
extern int32_t coordFactor;
extern int32_t soundingFactor;

// exportDataSetGeneralInfo, then ExportDataSetGeographicRef, both binary.
[[nodiscard]] int32_t exportMeta(IWorkspace* workspace, Iso8211File* file, const char* cellName);

// Writes 0001, DSID and DSSI. *dstr := 2 (the cell is written chain-node).
[[nodiscard]] int32_t exportDataSetGeneralInfo(IWorkspace* workspace, Iso8211File* file, int32_t* dstr,
                                               int32_t binary, const char* cellName);
// Writes 0001 and DSPM.
[[nodiscard]] int32_t ExportDataSetGeographicRef(IWorkspace* workspace, Iso8211File* file, int32_t binary,
                                                 const char* cellName);

// Each fills one field (tag, subfields) from the cell's row of the named table. Texts are ISO 8859-1.
// A value that stands for "none" (an integer -1, a text equal to its column's placeholder default
// such as "XXX" or "UNKNOWN") is written as the empty value; an enumerated DSID or DSPM subfield
// without a value takes the one value a base cell of this export has (EXPP "N", PRSP "ENC",
// PROF "EN", COUN "LL"), logged.
[[nodiscard]] int32_t exportDSID(IWorkspace* workspace, const char* tableName, Iso8211Field* field,
                                 const char* cellName);
// DSSI: NOIN, NOCN and NOED are the cell's rows in vi2d plus its sounding arrays in vi3dsp, vc and
// ve (the records the vector export writes), where those classes exist.
[[nodiscard]] int32_t exportDSSI(IWorkspace* workspace, const char* tableName, Iso8211Field* field, int32_t* dstr,
                                 const char* cellName);
// Also sets coordFactor and soundingFactor (0 or -1 become 1000 and 10, logged).
[[nodiscard]] int32_t exportDSPM(IWorkspace* workspace, const char* tableName, Iso8211Field* field,
                                 const char* cellName);

// The first row the where clause selects (null: any row), one text per schema row in schema order,
// at most maxCount: a missing column (logged "column %s not found, setting column value to empty")
// or NULL gives "", a text "MISSING" (any case) gives "", an integer "%d", a double "%lf" ("" when
// its integer part is 0). *count := the number of texts. S_OK; E_FAIL when no row matches or after
// a COM error; -1 out of memory; -19 a bad argument.
[[nodiscard]] HRESULT gdbColumnValue2Subfield(ITable* table, const char* whereClause, const FieldDef* defs,
                                              int32_t defCount, int32_t maxCount, int32_t* count,
                                              std::vector<std::string>* texts);
