// export/cell_extent.h: the extent of the cell being exported (module gdbs57main's getExtent and
// checkOverlappingExtent): the cell's coverage features (class M_COVR, found through the cell's rows
// of table dsnm) give the two spatial filters that decide which features belong to the cell, and a
// cell whose data coverage meets another cell's coverage in the same geodatabase is refused.
//
// Results: 0 extent built and no overlap; 8 the data coverage overlaps another cell's coverage;
// E_FAIL (0x80004005) when the extent cannot be built (no dsnm row, no coverage feature, no mapping
// of M_COVR or CATCOV) or after a COM error, logged as "Error: gdbs57main::<name>\n<description>\n".
// Not thread-safe: the filters are program-wide and rebuilt for each cell.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com/com.h"
#include "platform/gdb/gdb.h"

// Field "SHAPE", relation intersects, geometry: the union of the cell's M_COVR shapes with CATCOV
// below 2 (where the cell has data; empty when it has none). After the overlap test it keeps the
// relation description "T********" and a where clause that excludes the cell's own coverage
// features; a caller that selects with it sets its own where clause first.
extern ISpatialFilterPtr cellCoverage;
// Field "SHAPE", relation intersects, geometry: the union of all of the cell's M_COVR shapes. The
// meta classes are selected with this one, so that a CATCOV 2 coverage is exported too.
extern ISpatialFilterPtr cellSpatialFilter;

// Builds cellCoverage and cellSpatialFilter for the cell named cellName (its DSNM) and tests the
// overlap. 0, 8 or E_FAIL (see above). On E_FAIL both filters are null.
[[nodiscard]] int32_t getExtent(IWorkspace* workspace, const char* cellName);

// 8 when a coverage feature outside objectIdList (decimal object ids joined by ",") and of the
// M_COVR subtype meets the interior of cellCoverage's geometry, 0 when none does, E_FAIL when the
// coverage class or its subtype cannot be found or cellCoverage is not built.
[[nodiscard]] int32_t checkOverlappingExtent(IWorkspace* workspace, const char* objectIdList);

// The object ids of the cell's dsnm rows (column metaid), in table order, joined by ",", however
// many there are; empty when the cell has no row. Raises _com_error when dsnm cannot be read.
std::string cellCoverageIds(IFeatureWorkspace* workspace, const char* cellName);
