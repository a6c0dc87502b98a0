// platform/geometry/geos_support.cpp: the per-thread GEOS context, shape <-> GEOS conversion, the
// polygon rule of Simplify and the check of a relation pattern. Failures throw GeometryError with GEOS's last message.
#include "platform/geometry/geos_support.h"

#include <geos_c.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <string>
#include <utility>

namespace geom {

namespace {

// One GEOS context per thread; its error handler keeps the last message for the exception text.
struct ThreadContext {
    GEOSContextHandle_t handle = nullptr;
    std::string lastError;

    ThreadContext() {
        handle = GEOS_init_r();
        if (!handle) throw std::bad_alloc();
        GEOSContext_setErrorMessageHandler_r(handle, &ThreadContext::onError, this);
        GEOSContext_setNoticeMessageHandler_r(handle, &ThreadContext::onNotice, nullptr);
    }
    ~ThreadContext() { GEOS_finish_r(handle); }
    ThreadContext(const ThreadContext&) = delete;
    ThreadContext& operator=(const ThreadContext&) = delete;

    static void onError(const char* message, void* self) {
        static_cast<ThreadContext*>(self)->lastError = message ? message : "";
    }
    static void onNotice(const char*, void*) {}  // notices (e.g. why a ring is invalid) are not errors
};

ThreadContext& threadContext() {
    thread_local ThreadContext context;
    return context;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

GEOSContextHandle_t geosContext() { return threadContext().handle; }

const std::string& geosLastError() { return threadContext().lastError; }

void throwGeos(const char* what) {
    std::string& last = threadContext().lastError;
    std::string text = std::string(what) + ": " + (last.empty() ? std::string("GEOS failed") : last);
    last.clear();
    throw GeometryError(text);
}

void GeomDestroy::operator()(GEOSGeometry* g) const noexcept { GEOSGeom_destroy_r(ctx, g); }

void PreparedDestroy::operator()(const GEOSPreparedGeometry* g) const noexcept { GEOSPreparedGeom_destroy_r(ctx, g); }

bool predicate(char r, const char* what) {
    if (r == 1) return true;
    if (r == 0) return false;
    throwGeos(what);
}

bool validPattern(std::string& p) {
    if (p.size() != 9) return false;
    for (char& c : p) {
        if (c == 't' || c == 'f') c = char(c - 'a' + 'A');
        if (c != 'T' && c != 'F' && c != '*' && c != '0' && c != '1' && c != '2') return false;
    }
    return true;
}

bool patternNeedsContact(const std::string& p) {
    for (int i : {0, 1, 3, 4})
        if (p[i] != 'F' && p[i] != '*') return true;
    return false;
}

// ---------------------------------------------------------------------------------------------
// Shape to GEOS
// ---------------------------------------------------------------------------------------------
namespace {

Geom own(GEOSContextHandle_t ctx, GEOSGeometry* g, const char* what) {
    if (!g) throwGeos(what);
    return Geom(g, {ctx});
}

GEOSCoordSequence* sequence(GEOSContextHandle_t ctx, const Part& part, bool close) {
    std::vector<double> xy;
    xy.reserve(part.size() * 2 + 4);
    for (const Coord& c : part) {
        xy.push_back(c.x);
        xy.push_back(c.y);
    }
    if (part.size() == 1) {  // a one-point path is read as a line of no length
        xy.push_back(part[0].x);
        xy.push_back(part[0].y);
    }
    if (close && !part.empty() && !sameXY(part.front(), part.back())) {
        xy.push_back(part[0].x);
        xy.push_back(part[0].y);
    }
    GEOSCoordSequence* seq = GEOSCoordSeq_copyFromBuffer_r(ctx, xy.data(), xy.size() / 2, 0, 0);
    if (!seq) throwGeos("coordinate sequence");
    return seq;
}

Geom lineString(GEOSContextHandle_t ctx, const Part& part, bool close) {
    if (part.empty()) return own(ctx, GEOSGeom_createEmptyLineString_r(ctx), "empty line");
    return own(ctx, GEOSGeom_createLineString_r(ctx, sequence(ctx, part, close)), "line string");
}

Geom linearRing(GEOSContextHandle_t ctx, const Part& part) {
    return own(ctx, GEOSGeom_createLinearRing_r(ctx, sequence(ctx, part, true)), "linear ring");
}

Geom collection(GEOSContextHandle_t ctx, int type, std::vector<Geom>& members) {
    std::vector<GEOSGeometry*> raw;
    raw.reserve(members.size());
    for (Geom& m : members) raw.push_back(m.release());  // the collection takes them
    return own(ctx, GEOSGeom_createCollection_r(ctx, type, raw.data(), unsigned(raw.size())), "collection");
}

Geom polygon(GEOSContextHandle_t ctx, const std::vector<Part>& rings, const RingGroup& group) {
    Geom shell = linearRing(ctx, rings[group.shell]);
    std::vector<Geom> holes;
    for (std::size_t h : group.holes) holes.push_back(linearRing(ctx, rings[h]));
    std::vector<GEOSGeometry*> raw;
    for (Geom& h : holes) raw.push_back(h.release());
    return own(ctx, GEOSGeom_createPolygon_r(ctx, shell.release(), raw.data(), unsigned(raw.size())), "polygon");
}

Geom polygons(GEOSContextHandle_t ctx, const std::vector<Part>& rings, const std::vector<RingGroup>& groups) {
    if (groups.empty()) return own(ctx, GEOSGeom_createEmptyPolygon_r(ctx), "empty polygon");
    if (groups.size() == 1) return polygon(ctx, rings, groups[0]);
    std::vector<Geom> members;
    for (const RingGroup& g : groups) members.push_back(polygon(ctx, rings, g));
    return collection(ctx, GEOS_MULTIPOLYGON, members);
}

}  // namespace

Geom toGeos(const Shape& s) {
    GEOSContextHandle_t ctx = geosContext();
    switch (s.type) {
    case esriGeometryPoint:
        if (s.empty()) return own(ctx, GEOSGeom_createEmptyPoint_r(ctx), "empty point");
        return own(ctx, GEOSGeom_createPointFromXY_r(ctx, s.parts[0][0].x, s.parts[0][0].y), "point");
    case esriGeometryMultipoint: {
        std::vector<Geom> members;
        for (const Part& p : s.parts)
            for (const Coord& c : p) members.push_back(own(ctx, GEOSGeom_createPointFromXY_r(ctx, c.x, c.y), "point"));
        return collection(ctx, GEOS_MULTIPOINT, members);
    }
    case esriGeometryPath:
    case esriGeometryLine:
        return lineString(ctx, s.parts.empty() ? Part{} : s.parts[0], false);
    case esriGeometryRing:
        return lineString(ctx, s.parts.empty() ? Part{} : s.parts[0], true);
    case esriGeometryPolyline: {
        std::vector<Geom> members;
        for (const Part& p : s.parts)
            if (!p.empty()) members.push_back(lineString(ctx, p, false));
        return collection(ctx, GEOS_MULTILINESTRING, members);
    }
    case esriGeometryPolygon:
        return polygons(ctx, s.parts, nestRings(s.parts));
    case esriGeometryEnvelope: {
        if (s.empty()) return own(ctx, GEOSGeom_createEmptyPolygon_r(ctx), "empty envelope");
        const Coord& lo = s.parts[0][0];
        const Coord& hi = s.parts[0][1];
        if (lo.x == hi.x && lo.y == hi.y) return own(ctx, GEOSGeom_createPointFromXY_r(ctx, lo.x, lo.y), "point");
        if (lo.x == hi.x || lo.y == hi.y) return lineString(ctx, Part{lo, hi}, false);
        return polygon(ctx, {Part{{lo.x, lo.y, kNaN}, {lo.x, hi.y, kNaN}, {hi.x, hi.y, kNaN}, {hi.x, lo.y, kNaN}}},
                       RingGroup{0, {}});
    }
    default:
        throw GeometryError("geometry type " + std::to_string(int(s.type)) + " has no GEOS form");
    }
}

Geom toGeos(const Shape& s, const std::vector<RingGroup>& groups) {
    if (s.type != esriGeometryPolygon) return toGeos(s);
    return polygons(geosContext(), s.parts, groups);
}

// ---------------------------------------------------------------------------------------------
// GEOS to shape
// ---------------------------------------------------------------------------------------------
namespace {

Part readSequence(GEOSContextHandle_t ctx, const GEOSGeometry* g) {
    const GEOSCoordSequence* seq = GEOSGeom_getCoordSeq_r(ctx, g);
    if (!seq) throwGeos("coordinates");
    unsigned int n = 0;
    if (!GEOSCoordSeq_getSize_r(ctx, seq, &n)) throwGeos("coordinate count");
    std::vector<double> xy(std::size_t(n) * 2);
    if (n > 0 && !GEOSCoordSeq_copyToBuffer_r(ctx, seq, xy.data(), 0, 0)) throwGeos("coordinates");
    Part part(n);
    for (unsigned int i = 0; i < n; ++i) part[i] = {xy[2 * i], xy[2 * i + 1], kNaN};
    return part;
}

// True when the ring was turned. `a`: its signed area.
bool orient(Part& ring, bool exterior, double a) {
    if ((exterior && a > 0) || (!exterior && a < 0)) {
        std::reverse(ring.begin(), ring.end());
        return true;
    }
    return false;
}
bool orient(Part& ring, bool exterior) { return orient(ring, exterior, signedArea(ring)); }

void collect(GEOSContextHandle_t ctx, const GEOSGeometry* g, esriGeometryType kind, Shape& out) {
    if (GEOSisEmpty_r(ctx, g) == 1) return;
    const int type = GEOSGeomTypeId_r(ctx, g);
    switch (type) {
    case GEOS_POINT:
        if (kind == esriGeometryMultipoint) {
            double x = 0, y = 0;
            if (!GEOSGeomGetX_r(ctx, g, &x) || !GEOSGeomGetY_r(ctx, g, &y)) throwGeos("point");
            if (out.parts.empty()) out.parts.emplace_back();
            out.parts[0].push_back({x, y, kNaN});
        }
        return;
    case GEOS_LINESTRING:
    case GEOS_LINEARRING:
        if (kind == esriGeometryPolyline) out.parts.push_back(readSequence(ctx, g));
        return;
    case GEOS_POLYGON: {
        if (kind != esriGeometryPolygon) return;
        const GEOSGeometry* shell = GEOSGetExteriorRing_r(ctx, g);
        if (!shell) throwGeos("exterior ring");
        out.parts.push_back(readSequence(ctx, shell));
        orient(out.parts.back(), true);
        const int holes = GEOSGetNumInteriorRings_r(ctx, g);
        if (holes < 0) throwGeos("interior rings");
        for (int i = 0; i < holes; ++i) {
            const GEOSGeometry* hole = GEOSGetInteriorRingN_r(ctx, g, i);
            if (!hole) throwGeos("interior ring");
            out.parts.push_back(readSequence(ctx, hole));
            orient(out.parts.back(), false);
        }
        return;
    }
    case GEOS_MULTIPOINT:
    case GEOS_MULTILINESTRING:
    case GEOS_MULTIPOLYGON:
    case GEOS_GEOMETRYCOLLECTION: {
        const int n = GEOSGetNumGeometries_r(ctx, g);
        if (n < 0) throwGeos("members");
        for (int i = 0; i < n; ++i) {
            const GEOSGeometry* member = GEOSGetGeometryN_r(ctx, g, i);
            if (!member) throwGeos("member");
            collect(ctx, member, kind, out);
        }
        return;
    }
    default:
        if (type < 0) throwGeos("geometry type");
        return;
    }
}

}  // namespace

Shape fromGeos(const GEOSGeometry* g, esriGeometryType kind) {
    Shape out;
    out.type = kind;
    collect(geosContext(), g, kind, out);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Simplify for polygons
// ---------------------------------------------------------------------------------------------
std::optional<std::vector<RingGroup>> simplifyPolygon(Shape& s) {
    // Each ring is cleaned where it is (a copy of a large area's rings costs more than the work).
    std::vector<Part> rings;
    for (Part& ring : s.parts) {
        ring.erase(std::unique(ring.begin(), ring.end(), [](const Coord& a, const Coord& b) { return sameXY(a, b); }),
                   ring.end());
        if (ring.size() > 1 && sameXY(ring.front(), ring.back())) ring.pop_back();
        if (!isAreal(ring)) continue;  // fewer than three distinct points, or no area
        ring.push_back(ring.front());
        rings.push_back(std::move(ring));
    }
    std::vector<Part> ordered;
    ordered.reserve(rings.size());
    // The rows and measures the first nesting made for a ring serve the second nesting and the
    // validity proof while the ring is not turned.
    RingRowsByRing first, rows;
    RingMeasures firstMeasures, measures;
    rows.reserve(rings.size());
    measures.reserve(rings.size());
    const std::vector<RingGroup> nested = nestRings(rings, &first, &firstMeasures);
    auto take = [&](std::size_t i, bool exterior) {
        ordered.push_back(std::move(rings[i]));
        const bool known = i < firstMeasures.size() && firstMeasures[i].known;
        const bool turned =
            known ? orient(ordered.back(), exterior, firstMeasures[i].area) : orient(ordered.back(), exterior);
        rows.push_back(turned || i >= first.size() ? nullptr : std::move(first[i]));
        measures.push_back(turned || !known ? RingMeasure{} : firstMeasures[i]);
    };
    for (const RingGroup& group : nested) {
        take(group.shell, true);
        for (std::size_t h : group.holes) take(h, false);
    }
    s.parts = std::move(ordered);
    std::vector<RingGroup> groups = nestRings(s.parts, &rows, &measures);
    if (s.parts.empty() || surelyValid(s.parts, groups, &rows, &measures)) return groups;

    GEOSContextHandle_t ctx = geosContext();
    Geom g = toGeos(s, groups);
    if (predicate(GEOSisValid_r(ctx, g.get()), "validity test")) return groups;
    // Crossing or self-touching rings: let GEOS rebuild the area they enclose.
    Geom repaired = own(ctx, GEOSMakeValid_r(ctx, g.get()), "repair of a polygon");
    const bool zAware = s.zAware;
    s = fromGeos(repaired.get(), esriGeometryPolygon);
    s.zAware = zAware;
    return std::nullopt;
}

}  // namespace geom
