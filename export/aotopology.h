// export/aotopology.h: module aoTopology, the topology step of one exported cell: with the
// create-topology flag the cell's S-57 spatial primitives are rebuilt from the geodatabase topology;
// without it the cell's stored relation rows (table srel) are read into topoSrelList, which the
// vector and feature export then read.
//
// Results: S_OK, or E_FAIL (0x80004005) on any failure; a COM error is logged as
// "Error: aoTopology::<name>\n<description>\n". Not thread-safe: topoSrelList is program-wide.
#pragma once

#include <cstdint>

#include "platform/com/com.h"
#include "platform/gdb/gdb.h"

// Prepares the cell's primitives and fills topoSrelList (which the driver empties before). The
// tolerance is the rebuilt topology's; without the flag it is 0, with which the vector export
// keeps every vertex that does not repeat its predecessor. The agency is the driver's and not
// read here.
[[nodiscard]] HRESULT validateTopology(IWorkspace* workspace, const char* featureDataset, const char* agency,
                                       const char* cellName, double* tolerance, unsigned char createTopology);

// Appends the cell's rows of table srel to topoSrelList in table order, DSNM the cell name. A null
// value is the empty text; a missing column or table, or a row the list refuses, fails.
[[nodiscard]] HRESULT readSrelTable(IWorkspace* workspace, const char* cellName);
