// platform/geometry/geos_support.h (internal): the GEOS context of the thread, owned GEOS handles,
// the conversions between shapes and GEOS geometries, and the check of a relation pattern. Only the
// .cpp files include geos_c.h; the handle types are declared here as geos_c.h declares them.
//
// Everything here throws GeometryError (a std::runtime_error) carrying GEOS's last message; COM
// methods turn it into E_FAIL with that text (comGuard).
#pragma once

#include "platform/geometry/shape.h"

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

typedef struct GEOSContextHandle_HS* GEOSContextHandle_t;
typedef struct GEOSGeom_t GEOSGeometry;
typedef struct GEOSPrepGeom_t GEOSPreparedGeometry;

namespace geom {

class GeometryError : public std::runtime_error {
 public:
    using std::runtime_error::runtime_error;
};

// The calling thread's context, made on first use and finished when the thread ends.
GEOSContextHandle_t geosContext();
// The last error GEOS reported on this thread ("" when none).
const std::string& geosLastError();
// Throws GeometryError "<what>: <GEOS's last message>".
[[noreturn]] void throwGeos(const char* what);

struct GeomDestroy {
    GEOSContextHandle_t ctx;
    void operator()(GEOSGeometry* g) const noexcept;
};
using Geom = std::unique_ptr<GEOSGeometry, GeomDestroy>;
struct PreparedDestroy {
    GEOSContextHandle_t ctx;
    void operator()(const GEOSPreparedGeometry* g) const noexcept;
};
using Prepared = std::unique_ptr<const GEOSPreparedGeometry, PreparedDestroy>;

// Shape to GEOS in 2-D: paths and rings as line strings, polylines as multi line strings, polygons
// as (multi) polygons nested by nestRings, envelopes as boxes.
Geom toGeos(const Shape& s);
// A polygon's rings as nested by `groups` (nestRings of its parts, made before).
Geom toGeos(const Shape& s, const std::vector<RingGroup>& groups);
// GEOS to a shape of the wanted kind (esriGeometryMultipoint, esriGeometryPolyline or
// esriGeometryPolygon): the parts of the result of that dimension; polygon rings oriented
// (exterior clockwise, holes counter-clockwise).
Shape fromGeos(const GEOSGeometry* g, esriGeometryType kind);

// A GEOS predicate result: 1 true, 0 false, anything else throws.
bool predicate(char r, const char* what);

// The polygon rule of Simplify: close, nest, orient, repair. Gives nestRings(s.parts) of the result
// when it is known on the way (the rings needed no repair), else nothing.
std::optional<std::vector<RingGroup>> simplifyPolygon(Shape& s);

// A DE-9IM relation pattern: nine of T F * 0 1 2 (t and f are upper-cased in place); false when p
// is not one.
bool validPattern(std::string& p);
// A valid pattern that can only hold where the geometries meet (a required II, IB, BI or BB entry).
bool patternNeedsContact(const std::string& p);

}  // namespace geom
