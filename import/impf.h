// import/impf.h: module impf, the feature import of one S-57 cell: point, line, area and collection
// feature records into the feature classes and tables of the product model, with their attribute
// overflow (atto), feature relation (frel), spatial relation (srel) and coverage (dsnm) rows, and the
// builders of each feature's geometry from the topology cache that the vector import filled.
//
// Results: 0 done; 1 a partial import after which the run goes on (what was left out is logged);
// any other value a failure that ends the cell (the record layer's code, or E_FAIL 0x80004005 after
// a caught COM failure). Every problem writes a line to logFile; nothing is thrown to callers.
#pragma once

#include <cstdint>

#include "platform/com/com.h"
#include "platform/gdb/gdb.h"

struct Iso8211File;
struct Iso8211Record;
struct ObjectRec;
struct Cache;
struct llist;

// ---- Feature import (impf.cpp) ------------------------------------------------------------------

// Creates or reuses attr, atto and frel, then imports the point, line and area features and, when
// hasCollections is nonzero, the collection features of the record list, from its first feature
// record on. 0; 1 when a table cannot be created; an importer's failure result; E_FAIL.
[[nodiscard]] int importFeature(IFeatureWorkspace* workspace, Iso8211File* file, llist* records, ITable* srel,
                                Cache* cache, int hasCollections, ISpatialReference* spatialReference,
                                const char* cellName);

// One primitive each, from the list's current node over every node of that primitive; the list is
// left on the first node of a later primitive (also after a failure). 0, 1 (some records or groups
// could not be written; logged), another code for a failure that ends the cell.
[[nodiscard]] int importFP(IFeatureWorkspace* workspace, Iso8211File* file, llist* records, ITable* srel,
                           ITable* atto, Cache* cache, ITable* frel, ISpatialReference* spatialReference,
                           const char* cellName);
[[nodiscard]] int importFL(IFeatureWorkspace* workspace, Iso8211File* file, llist* records, ITable* srel,
                           ITable* atto, Cache* cache, ITable* frel, ISpatialReference* spatialReference,
                           const char* cellName);
[[nodiscard]] int importFA(IFeatureWorkspace* workspace, Iso8211File* file, llist* records, ITable* srel,
                           ITable* atto, Cache* cache, ITable* frel, ISpatialReference* spatialReference,
                           const char* cellName);
// Collection features (PRIM N) into the existing table named after their class (C_AGGR, C_ASSO ...).
[[nodiscard]] int importFX(IFeatureWorkspace* workspace, Iso8211File* file, llist* records, ITable* srel,
                           ITable* atto, Cache* cache, ITable* frel, const char* cellName);

// One feature row: FRID, names, attributes (values over 70 characters also into atto), shape,
// DEPTH (zFlag, point geometry), subtype. With coverageFlag the row's CATCOV and object id go to
// dsnm. 0, or 1 when the row could not be inserted (logged).
[[nodiscard]] int writeFeatureClass(int32_t recordId, const ObjectRec* node, const Iso8211Record* record,
                                    int32_t setACount, const int32_t* setAIndexes, int32_t setBCCount,
                                    const int32_t* setBCIndexes, IGeometry* geometry, IFeatureClass* featureClass,
                                    ITable* atto, const char* subtypeName, int zFlag, int coverageFlag,
                                    const char* acronym, const char* primitive, const char* cellName);

// One row of a collection table (no shape), with DSNM. 0, or 1 when the row could not be inserted.
[[nodiscard]] int writeFeatureTable(int32_t recordId, const ObjectRec* node, const Iso8211Record* record,
                                    int32_t setACount, const int32_t* setAIndexes, int32_t setBCCount,
                                    const int32_t* setBCIndexes, ITable* table, ITable* atto, const char* acronym,
                                    const char* cellName);

// Appends one dsnm row (cell name, CATCOV, the coverage feature's object id). 0, or the failure.
int addCoverage(IWorkspace* workspace, const char* cellName, int32_t catcov, int32_t metaid);

// ---- Geometry and attribute columns (impf_geometry.cpp) -----------------------------------------

// The node of the record's first FSPT pointer: a point (point non-null), or every point of the node
// as a multipoint (multipoint non-null; soundings: Z-aware, none below depthLimit). The new
// geometry belongs to the caller. 0; 1 after a logged failure; E_FAIL.
[[nodiscard]] int getFPPoint(const ObjectRec* node, const char* recordName, const Iso8211Record* record,
                             IPoint** point, IMultipoint** multipoint, Cache* cache, double depthLimit);

// The edges of the FSPT pointers in order, each as its orientation says, appended to `line`; an edge
// that does not start where the previous one ended starts a new path. 0; 1 (logged); E_FAIL.
[[nodiscard]] int getFLLine(const ObjectRec* node, const char* recordName, const Iso8211Record* record,
                            IPolyline* line, Cache* cache);

// The rings of the FSPT pointers, each closed when its edges come back to its start node or its FSPT
// field ends, added to `polygon`. 0; 1 (logged); E_FAIL.
[[nodiscard]] int getFAArea(const ObjectRec* node, const char* recordName, const Iso8211Record* record,
                            IPolygon* polygon, Cache* cache);

// The FRID values (RCNM RCID PRIM GRUP OBJL RVER RUIN, null when absent), name and set-A columns.
void writeSetA_Table(IFeatureBuffer* buffer, int32_t recordId, const char* lnam, const char* recordName,
                     const char* const* frid, int32_t setACount, const int32_t* setAIndexes,
                     const char* const* setAValues, const char* acronym, const char* primitive);
void writeSetA_FeatureTable(IRowBuffer* buffer, int32_t recordId, const char* lnam, const char* recordName,
                            const char* cellName, const char* const* frid, int32_t setACount,
                            const int32_t* setAIndexes, const char* const* setAValues, const char* acronym);
void writeSetBC_Table(IFeatureBuffer* buffer, int32_t setBCCount, const int32_t* setBCIndexes,
                      const char* const* setBCValues, const char* acronym, const char* primitive);
void writeSetBC_FeatureTable(IRowBuffer* buffer, int32_t setBCCount, const int32_t* setBCIndexes,
                             const char* const* setBCValues, const char* acronym, const char* primitive);

// The value into the field that the product mapping gives the class, attribute and primitive (an
// empty primitive matches any), else into the column named by the attribute acronym.
void setGDBValue(IFeatureBuffer* buffer, const char* acronym, int32_t code, const char* attributeAcronym,
                 const char* value, const char* primitive);
void setGDBValue(IRowBuffer* buffer, const char* acronym, int32_t code, const char* attributeAcronym,
                 const char* value, const char* primitive);

// One atto row: owner long name, attribute label (acronym, at most 6 characters), value.
void writeOverflowTable(ITable* atto, const char* lnam, const char* attl, const char* value);

// Opens table DSNM, or creates table dsnm (dsnm text 30, catcov integer, metaid integer). 0 and the
// table (the caller's reference), or the failure.
[[nodiscard]] HRESULT getDSNMTable(IFeatureWorkspace* workspace, ITable** table);
