// export/aotopology.h: module aoTopology, the topology step of one exported cell: with the
// create-topology flag the cell's S-57 spatial primitives are rebuilt from the geodatabase topology;
// without it the cell's stored relation rows (table srel) are read into topoSrelList, which the
// vector and feature export then read.
//
// Results: S_OK, or E_FAIL (0x80004005) on any failure; a COM error is logged as
// "Error: aoTopology::<name>\n<description>\n". Not thread-safe: topoSrelList is program-wide.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/com.h"
#include "platform/gdb/gdb.h"

struct ITopologyGraph;
struct ITopologyEdge;
struct ITopologyNode;

// Prepares the cell's primitives and fills topoSrelList (which the driver empties before). The
// tolerance is the rebuilt topology's; without the flag it is 0, with which the vector export
// keeps every vertex that does not repeat its predecessor. The agency is the driver's and not
// read here.
[[nodiscard]] HRESULT validateTopology(IWorkspace* workspace, const char* featureDataset, const char* agency,
                                       const char* cellName, double* tolerance, unsigned char createTopology);

// Appends the cell's rows of table srel to topoSrelList in table order, DSNM the cell name. A null
// value is the empty text; a missing column or table, or a row the list refuses, fails.
[[nodiscard]] HRESULT readSrelTable(IWorkspace* workspace, const char* cellName);

// ---- The rebuild (the create-topology flag) ------------------------------------------------------

// One parent feature of an edge that lies in the cell.
struct TopoRecord {
    std::string className;
    int32_t oid;
};

// S_OK when the geodatabase class of SOUNDG points takes part in no topology; E_FAIL when it does
// or when there is no such class.
[[nodiscard]] HRESULT CheckSoundingInTopology(IWorkspace* workspace);

// Names the cell's unnamed features "FE%010d" after the highest number in use and stores the
// cell's feature counts (NOGR, NOMR) in dssi.
[[nodiscard]] HRESULT updateFENum(IWorkspace* workspace, const char* cellName, IFeatureDataset* dataset);

// Creates the primitive classes and srel where missing, then deletes the cell's rows of ve, vc,
// vi3dsp, vi2d, vi3d and srel.
[[nodiscard]] HRESULT cleanUpData(IWorkspace* workspace, const char* cellName);
[[nodiscard]] HRESULT cleanUpFeatures(IFeatureClass* featureClass, const char* cellName);
[[nodiscard]] HRESULT cleanUpRows(ITable* table, const char* cellName);
// S_OK, E_FAIL, or -11 when a vector attribute code has no attribute-table index.
[[nodiscard]] HRESULT createPrimitiveTable(IWorkspace* workspace);

// The object code of the feature's S-57 class (by its class and subtype); -1 when none is found.
int32_t checkS57Object(IFeature* feature, IFeatureClass* featureClass);

// Edges and connected nodes of the cell from the topology's built cache; NOED and NOCN to dssi.
[[nodiscard]] HRESULT getTopoEdge(IWorkspace* workspace, IGeometry* metaArea, IGeometry* dataArea,
                                  ITopologyGraph* cache, double tolerance, const char* cellName);
// The edge's parent features that lie in the cell (metaArea for meta classes, dataArea for the
// others). S_OK when there is one, E_FAIL when none or after an error, -1 when the list cannot
// grow. onCoverageLimit: exactly one M_COVR parent lies in the cell.
[[nodiscard]] HRESULT checkCoverageExtent(ITopologyEdge* edge, IGeometry* metaArea, IGeometry* dataArea,
                                          bool* onCoverageLimit, std::vector<TopoRecord>* records);
// The name of the cell's connected node at the topology node, made (with its point features'
// rows) when there is none yet. Empty when the node cannot be named.
std::string getNode(ITopologyNode* node, int32_t* nodeCounter, IFeatureClass* vc, const char* cellName);
// Links each point feature on the node that has no relation row yet to the node.
[[nodiscard]] HRESULT getPointFeatures(ITopologyNode* node, const char* nodeName);

// Isolated nodes of the cell's point features and soundings not on a connected node; NOIN to dssi.
[[nodiscard]] HRESULT getPointPrimitives(IWorkspace* workspace, IFeatureDataset* dataset, const char* cellName);
[[nodiscard]] HRESULT populatePointPrimitives(IFeatureClass* pointClass, const char* cellName, int32_t* counter);
[[nodiscard]] HRESULT populateSoundings(IFeatureClass* soundingClass, const char* cellName, int32_t* counter);

// Writes topoSrelList into table srel, DSNM the cell name.
[[nodiscard]] HRESULT updateSrelTable(IWorkspace* workspace, const char* cellName);
