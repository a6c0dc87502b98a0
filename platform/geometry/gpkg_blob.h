// platform/geometry/gpkg_blob.h: geometries to and from GeoPackage geometry blobs
// (StandardGeoPackageBinary: "GP", version 0, flags, srs_id, envelope, then ISO WKB).
//
// Written blobs are little-endian throughout. Kinds: a point as Point, a multipoint as MultiPoint,
// a polyline as MultiLineString (one LineString per path), a polygon as MultiPolygon (rings grouped
// by nesting, as stored: no ring is turned). Z-aware geometries use the ISO Z types (1001, 1004,
// 1005, 1006) and carry every point's Z (NaN where it was never set). Points get no envelope in the
// header, the others an XY envelope, or XYZ when Z-aware. Empty geometries set the empty flag and
// carry no envelope; an empty point is Point(NaN, NaN).
//
// The reader takes both byte orders, Point, LineString, Polygon, MultiPoint, MultiLineString and
// MultiPolygon, with or without Z. A LineString becomes a one-path polyline and a Polygon a
// polygon. Everything else (M values, extended GeoPackage binary, geometry collections, bad
// lengths, trailing bytes, unclosed rings, X or Y not finite outside an empty point, an empty flag
// that disagrees with the WKB) is refused with GpkgBlobError naming the rule that failed.
#pragma once

#include "platform/geometry/geometry.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

class GpkgBlobError : public std::runtime_error {
 public:
    using std::runtime_error::runtime_error;
};

// How Z is written: as the geometry's ZAware says, or as the geometry column demands (a column
// with z = 1 takes Z, NaN where a point has none; a column with z = 0 takes none).
enum class GpkgZ { FromGeometry, Always, Never };

// Throws _com_error (E_INVALIDARG) for null or a geometry of another library; a ring or path is
// written as a one-part polygon or polyline, a line as a polyline, an envelope as a polygon.
std::vector<std::uint8_t> geometryToGpkgBlob(IGeometry* geometry, std::int32_t srsId = 4326,
                                             GpkgZ z = GpkgZ::FromGeometry);

// A new geometry (the caller owns the reference). srsId, when given, receives the header's srs_id.
// Throws GpkgBlobError for a malformed or unsupported blob.
IGeometryPtr geometryFromGpkgBlob(const void* data, std::size_t size, std::int32_t* srsId = nullptr);

// The 2-D extent of a blob: from the header's envelope when it has one, else from the WKB.
// An empty geometry gives an empty GeoExtent. Throws GpkgBlobError as above. For R-tree upkeep
// (the ST_MinX/ST_IsEmpty family) without building a geometry.
GeoExtent gpkgBlobExtent(const void* data, std::size_t size);

// The geometry_type_name of gpkg_geometry_columns for a feature class of this geometry type:
// "POINT", "MULTIPOINT", "MULTILINESTRING", "MULTIPOLYGON", "GEOMETRY" for any other.
const char* gpkgGeometryTypeName(esriGeometryType type);
