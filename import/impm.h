// import/impm.h: module impm, the metadata import of one base cell: the DSID and DSSI fields of the
// data set general information record and the DSPM field of the geographic reference record, one
// row each in the tables dsid, dssi and dspm, the cell's coordinate and sounding multiplication
// factors for the vector import, and the refusal of a cell whose name dsid already holds.
// Results are codes and lines in logFile; a caught _com_error is logged
// ("Error: impm::<function>\n<description>\n") and gives E_FAIL. Nothing is thrown to callers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/com/com.h"
#include "platform/gdb/gdb.h"

struct Iso8211File;
struct Iso8211Record;
struct llist;

// The cell name buffers that importMeta and importDSID fill hold this many bytes (23 characters
// and the terminator).
inline constexpr std::size_t kCellNameSize = 24;

// Imports the metadata records of the cell, found in the record list by kind: the first record
// named DS (DSID into dsid, DSSI into dssi) and the first named DP (DSPM into dspm). comf and somf
// are 1 until a DSPM gives them. cellName (kCellNameSize bytes) becomes the DSID's DSNM.
// 0 (also when a table was not written); -19 for a null argument; the result of Read8211Record;
// E_FAIL when the cell is already in dsid (message 131 shown; nothing written) or after a COM error.
[[nodiscard]] int32_t importMeta(IFeatureWorkspace* workspace, Iso8211File* file, llist* records,
                                 int32_t* comf, int32_t* somf, char* cellName);

// One table each, created from its schema when missing. 0 success; 1 when the field is missing,
// the table cannot be created or the row cannot be inserted (logged; the import goes on); E_FAIL
// when the cell is already in the table (nothing inserted) or after a COM error; -19 for a null
// argument.
// importDSID replaces cellName with the DSNM subfield (cut to 23 characters, logged); a DSID
// without DSNM keeps the name it was given and writes that name into the DSNM column.
[[nodiscard]] int32_t importDSID(IFeatureWorkspace* workspace, const Iso8211Record* record, char* cellName);
[[nodiscard]] int32_t importDSSI(IFeatureWorkspace* workspace, const Iso8211Record* record, const char* cellName);
// comf, somf := 1, then the DSPM's COMF and SOMF; a factor below 1 (or not a number) would make
// every coordinate infinite: it is logged and 1 is used. The dspm row keeps the texts of the file.
[[nodiscard]] int32_t importDSPM(IFeatureWorkspace* workspace, const Iso8211Record* record, int32_t* comf,
                                 int32_t* somf, const char* cellName);

// True when the table holds a row whose DSNM equals cellName (the geodatabase compares without
// regard to case); then message 131 is shown with the name and written to the log. False otherwise
// and after a COM error (logged). The tag is not used.
bool importDSNM(ITable* table, const char* tag, const char* cellName);
