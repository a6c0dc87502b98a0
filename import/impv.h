// import/impv.h: module impv, the vector import of one base cell: isolated nodes into vi2d (2-D),
// vi3dsp (one point with DEPTH per sounding) and vi3d (one multipoint per 3-D node), connected
// nodes into vc, edges into ve with one srel row per VRPT pointer, and every node and edge with its
// coordinates into the cell's topology cache for the feature import.
// The three importers share the record list's cursor: each starts at it, consumes the records of
// its own kind and leaves the cursor on the first record of another kind, also when it stops
// early. Results are codes and lines in logFile (one trace line per record on standard error); a
// caught _com_error is logged ("Error: impv::<function>\n<description>\n") and gives E_FAIL.
#pragma once

#include <cstdint>

#include "platform/com/com.h"
#include "platform/gdb/gdb.h"

struct Iso8211File;
struct llist;
struct Cache;

// Puts the cursor on the first vector or feature record of the list (records sorted before the
// vectors, whatever their kind, are passed over), then runs importVI, importVC and importVE, with
// progress positions 25 and 30 of the cell's share. COMF divides XCOO and YCOO, SOMF divides
// VE3D; a factor below 1 is logged and 1 is used. Afterwards the cursor stands on the first record
// after the vectors. 0; -19 for a null argument; the fatal result of an importer; E_FAIL after a
// COM error.
[[nodiscard]] int32_t importVector(IFeatureWorkspace* workspace, Iso8211File* file, llist* records, int32_t comf,
                                   int32_t somf, ITable* srel, Cache* cache, ISpatialReference* spatialReference,
                                   const char* cellName);

// Each: 0 done (also without records of its kind); 1 partial: a feature class could not be created
// (the caller goes on); -11 attribute code 400, 401 or 402 not in the catalogue; -1 out of memory
// or no room in the cache; -19 a null argument; the result of Read8211Record or writeSrelTable
// (fatal); E_FAIL after a COM error. A record whose insert fails is logged and not counted as
// converted; nodes and edges reach the cache only when their rows were written.
[[nodiscard]] int32_t importVI(IFeatureWorkspace* workspace, Iso8211File* file, llist* records, int32_t comf,
                               int32_t somf, Cache* cache, ISpatialReference* spatialReference,
                               const char* cellName);
[[nodiscard]] int32_t importVC(IFeatureWorkspace* workspace, Iso8211File* file, llist* records, int32_t comf,
                               Cache* cache, ISpatialReference* spatialReference, const char* cellName);
[[nodiscard]] int32_t importVE(IFeatureWorkspace* workspace, Iso8211File* file, llist* records, int32_t comf,
                               Cache* cache, ITable* srel, ISpatialReference* spatialReference,
                               const char* cellName);
