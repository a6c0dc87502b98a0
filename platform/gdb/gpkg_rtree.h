// platform/gdb/gpkg_rtree.h: the GeoPackage R-tree of a feature class: its table and the standard
// triggers that keep it, and a tree written packed (sort-tile-recursive) straight into the
// R-tree's shadow tables, for the GeoPackage storage's own upkeep of it.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/geometry/gpkg_blob.h"

namespace gdb {

struct RtreeEntry {
    std::int64_t id;
    float box[4];  // minx, maxx, miny, maxy
};

// The R-tree stores 32-bit floats rounded outward, so a box never shrinks.
float roundDown(double d);
float roundUp(double d);

// Writes a packed tree into the shadow tables of an R-tree (node 1 the root, its first two bytes
// the depth; every cell a 64-bit id or child node and four 32-bit floats, big-endian), in the node
// size the table was created with.
void writePackedRtree(sqlite3* db, const std::string& rtree, std::vector<RtreeEntry> entries);

// The GeoPackage R-tree of a feature class and the triggers that keep it (the insert trigger
// first).
struct RtreeSql {
    std::string create;
    std::string extension;  // the gpkg_extensions row
    std::vector<std::string> triggers;
};
RtreeSql rtreeSql(const std::string& table, const std::string& column, const std::string& oid);

// into grows to hold e.
void widen(GeoExtent& into, const GeoExtent& e);

}  // namespace gdb
