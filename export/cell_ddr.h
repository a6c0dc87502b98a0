// export/cell_ddr.h: the data descriptive record of every base cell the export writes: two
// compiled-in templates (the base cell template of 15 fields and the extended one of 27) and
// createObjectFile, which creates the cell file and writes the DDR of one of them, binary or ASCII.
// The record exporters' fields follow these descriptions.
//
// Results of createObjectFile: 0 created, the file open for the data records; -19 a bad argument
// (nothing touched); 1 the DDR could not be prepared or written (logged, the stream closed and the
// partial file removed); E_FAIL after a COM error. Messages go to logFile only.
#pragma once

#include <cstdint>

#include "s57/s57_file.h"

// "0000;&   " with the titles "GDB TO S57 (base cell file)" and "ARC TO S57 (base cell file)".
extern const Iso8211FileDesc cellFileDesc;
extern const Iso8211FileDesc arcCellFileDesc;

// 0001 DSID DSSI DSPM FRID FOID ATTF NATF FFPT FSPT VRID ATTV VRPT SG2D SG3D.
inline constexpr int kCellDDRFieldCount = 15;
extern const Iso8211FieldDesc cellDDRTemplate[kCellDDRFieldCount];
// The base fields and DSPR DSRC DSHT DSAC FFPC FSPC VRPC SGCC ARCC AR2D EL2D CT2D, in file order.
inline constexpr int kArcCellDDRFieldCount = 27;
extern const Iso8211FieldDesc arcCellDDRTemplate[kArcCellDDRFieldCount];

// Creates `path` and writes the DDR of cellDDRTemplate (templateSelector 1) or arcCellDDRTemplate
// (any other value) with binary (1) or ASCII (0) format controls. Results above; the log lines
// are "CreateObjectFile : Illegal Parameter\n", "CreateObjectFile : unable update DDR for ISO
// object file %s\n" and "CreateObjectFile : unable create ISO object file %s\n".
[[nodiscard]] int32_t createObjectFile(const char* path, int32_t binary, Iso8211File* file, int32_t templateSelector);
