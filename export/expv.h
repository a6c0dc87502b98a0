// export/expv.h: module expv, the vector records of an exported base cell: isolated nodes (vi2d),
// sounding arrays (vi3dsp), connected nodes (vc) and edges (ve) of the cell (column DSNM), each a
// record 0001, VRID, ATTV (the primitive's HORDAT, POSACC, QUAPOS where it has them) and SG2D or
// SG3D, edges with their VRPT node pointers from topoSrelList. Coordinates are scaled by the
// cell's coordFactor and soundingFactor (set by the metadata export).
//
// Results: 0; -11 a class (or its NAME column) that is not there; -1 out of memory; E_FAIL after a
// COM error (logged "Error: expv::<name>\n<description>\n"); the record layer's or codec's code of
// a record that could not be written (logged). Not thread-safe (program-wide run state).
#pragma once

#include <cstdint>

#include "platform/com/com.h"
#include "platform/gdb/gdb.h"
#include "platform/geometry/geometry.h"
#include "s57/fielddef.h"
#include "s57/s57_file.h"

// Isolated nodes, progress 55, sounding arrays, progress 60, connected nodes, progress 65, edges.
// The first class that fails ends the export ("Unable to export 2D isolated nodes\n", "Unable to
// export 3D isolated nodes\n", "Unable to export connected nodes\n", "Unable to export edges\n").
// tolerance: vertices of an edge nearer than it to the line between their neighbours are left out;
// 0 keeps every vertex that does not repeat its predecessor after scaling.
[[nodiscard]] int32_t exportVector(IWorkspace* workspace, Iso8211File* file, double tolerance, const char* cellName);

[[nodiscard]] int32_t exportVI(IWorkspace* workspace, Iso8211File* file, const char* className, const char* cellName);
[[nodiscard]] int32_t exportVC(IWorkspace* workspace, Iso8211File* file, const char* className, const char* cellName);
// One node record per feature of the class in the cell, record name "VI" or "VC"; a class named
// "vi3d" gives one SG3D triple per point of its multipoint shapes. Logs "converted %5d Connected
// nodes\n" (class vc) or "converted %5d Isolated nodes\n".
[[nodiscard]] int32_t exportSpatialPoint(IWorkspace* workspace, Iso8211File* file, const char* className,
                                         const char* recordName, const char* cellName);

// One sounding-array record per distinct NAME of the cell's vi3dsp rows, in NAME order. Logs
// "converted %5d Sounding array\n".
[[nodiscard]] int32_t exportVI3DSP(IWorkspace* workspace, Iso8211File* file, const char* cellName);
// The array `arrayName` of the cell: its k soundings (rows of that NAME and DSNM, at most k) as
// one record with k SG3D triples.
[[nodiscard]] int32_t updateVI3DSP(IFeatureClass* soundings, int32_t k, const char* arrayName, Iso8211File* file,
                                   const char* cellName);

// One edge record per feature of the class in the cell. Logs "converted %5d Edges\n".
[[nodiscard]] int32_t exportVE(IWorkspace* workspace, Iso8211File* file, const char* className, double tolerance,
                               const char* cellName);

// VRID from the feature: RCNM the record name, RCID the NAME column without its two letters
// ("0000000000" without a NAME column), the other subfields from the columns of their labels.
[[nodiscard]] int32_t exportVRID(IFeature* feature, const FieldDef* defs, int32_t n, Iso8211Field* field,
                                 const char* recordName);
// VRPT: one pointer per row of topoSrelList whose SRC_NAME is the edge's (case ignored), in list
// order; TOPI or MASK "X" is written "N".
[[nodiscard]] int32_t exportVRPT(const char* edgeName, Iso8211Field* field);
// ATTV: one pair per vector attribute (HORDAT, POSACC, QUAPOS) that the feature has a value for.
[[nodiscard]] int32_t exportVectorAttributes(IFeature* feature, Iso8211Field* field);

// The coordinate fields' values are their stored forms (b24, see fillCoordinateField), not texts.
// One point feature: YCOO, XCOO (and VE3D from column DEPTH for tag "SG3D").
[[nodiscard]] int32_t exportCoordinate(IFeature* feature, Iso8211Field* field, const char* tag);
// Every point of the collection as YCOO, XCOO, VE3D (from Z); an empty one gives no subfields.
[[nodiscard]] int32_t exportCoordinates(IPointCollection* points, Iso8211Field* field, const char* tag);
// The kept interior vertices of an edge as YCOO, XCOO pairs (see exportVector).
[[nodiscard]] int32_t exportPolylineCoordinates(IPointCollection* points, Iso8211Field* field, const char* tag,
                                                double tolerance);

// Nearest integer, halves away from zero.
int32_t roundToInt(double value);
