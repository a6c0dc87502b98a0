// platform/geometry/shape.h (internal): the coordinates behind every geometry object, and the
// pure-coordinate helpers (extents, ring areas, ring nesting) that need no GEOS.
#pragma once

#include "platform/geometry/geometry.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace geom {

struct Coord {
    double x;
    double y;
    double z;
};
using Part = std::vector<Coord>;

// Point: no part (empty) or one part of one coordinate. Multipoint, Path, Ring, Line: no part or
// one part. Polyline: paths. Polygon: rings, closed or not. Envelope: one part {min, max}.
struct Shape {
    esriGeometryType type = esriGeometryNull;
    bool zAware = false;
    std::vector<Part> parts;

    bool empty() const;
    std::size_t pointCount() const;
};

// One polygon of a nested ring set: indices into the ring list.
struct RingGroup {
    std::size_t shell;
    std::vector<std::size_t> holes;
};

// Every object of this library answers this interface (never published).
struct IShapeSource : IUnknown {
    static constexpr GUID iid = {0x5CFF5AD2, 0xD58B, 0x46B5, {0xA3, 0x2F, 0xBB, 0x6A, 0x92, 0xF9, 0x05, 0xD2}};
    using base_interface = IUnknown;
    virtual const Shape& shape() const = 0;
    virtual Shape& mutableShape() = 0;
    // nestRings(shape().parts), kept until the shape changes.
    virtual const std::vector<RingGroup>& ringGroups() = 0;
};

// The shape of a geometry of ours; _com_error(E_INVALIDARG) for null or a foreign object. The
// reference lives as long as the object and until it is changed.
const Shape& shapeOf(IUnknown* geometry);
// The same object as its shape source, for ringGroups(); valid while the caller holds the object.
IShapeSource& shapeSourceOf(IUnknown* geometry);
// A new object of s.type holding s.
IGeometryPtr makeGeometry(Shape s);

GeoExtent shapeExtent(const Shape& s);
// shapeExtent of one ring, without copying it into a shape.
GeoExtent ringExtent(const Part& ring);

inline bool sameXY(const Coord& a, const Coord& b) { return a.x == b.x && a.y == b.y; }
// The area, positive when the ring runs counter-clockwise; the ring is read as closed.
double signedArea(const Part& ring);
// Rings with three points that are not on one line (rings that can enclose an area).
bool isAreal(const Part& ring);

// The edges of a ring sorted into rows of y, so that a point meets only the edges whose y-range
// holds its y: no other edge can hold the point or cross the ray that leaves it along x. Edge i
// runs from vertex i-1 (n-1 for i = 0) to vertex i, the ring read as closed. Rings with a Y that is
// not finite, or too few points to pay for the rows, have none (usable() false).
class RingRows {
 public:
    explicit RingRows(const Part& ring);
    bool usable() const { return !start_.empty(); }
    // The edges whose y-range may hold y (a superset of those that do), or none when y lies outside
    // the ring's y-range or is NaN. Only when usable().
    std::pair<const std::uint32_t*, const std::uint32_t*> edgesAt(double y) const;

 private:
    std::size_t row(double y) const;

    double ylo_ = 0, yhi_ = 0, scale_ = 0;
    std::vector<std::uint32_t> start_;  // rows + 1 offsets into edges_
    std::vector<std::uint32_t> edges_;
};

// Nests the rings by containment (a ring inside an odd number of others is a hole of the smallest
// ring that holds it); shells and holes keep their input order. Rings that are not areal are left
// out.
// `rows`, when given, holds rows made before for these rings (used instead of making them again; a
// size other than the rings' is taken for none) and receives the rows made for the rings read often
// (null for the others).
// `measures`, when given, holds the signed area and extent of rings measured before (a size other
// than the rings' is taken for none) and receives those of every areal ring.
using RingRowsByRing = std::vector<std::unique_ptr<RingRows>>;
struct RingMeasure {
    bool known = false;
    double area = 0;  // signedArea
    GeoExtent extent;  // ringExtent
};
using RingMeasures = std::vector<RingMeasure>;
std::vector<RingGroup> nestRings(const std::vector<Part>& rings, RingRowsByRing* rows = nullptr,
                                 RingMeasures* measures = nullptr);

// True when closed rings of four points or more, grouped as `groups` (every ring in one group),
// are shown to form a valid polygon: no two edges meet but neighbours at their shared vertex, and
// each ring lies inside exactly the rings its group says. False when that cannot be shown in
// doubles, which does not mean the polygon is invalid (platform/geometry/ring_check.cpp).
// `rows`: rows of these rings made before (by nestRings), used and added to; `measures`: their
// measures taken by nestRings, used where known.
bool surelyValid(const std::vector<Part>& rings, const std::vector<RingGroup>& groups, RingRowsByRing* rows = nullptr,
                 const RingMeasures* measures = nullptr);

// The shape of a GeoPackage geometry blob (platform/geometry/gpkg_blob.cpp); throws GpkgBlobError.
Shape shapeFromGpkgBlob(const void* data, std::size_t size);

}  // namespace geom
