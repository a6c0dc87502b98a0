// platform/geometry/geometry_object.cpp: the one COM class behind every geometry kind. An object's
// kind is fixed when it is made; QueryInterface answers only the interfaces of that kind, so a
// method of another kind is never reached. Each method body runs in comGuard: GEOS failures
// become E_FAIL and bad arguments E_INVALIDARG, each with a description.
#include "platform/geometry/geometry.h"
#include "platform/geometry/geos_support.h"
#include "platform/geometry/shape.h"

#include <geos_c.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <utility>

namespace geom {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

[[noreturn]] void invalid(const wchar_t* why) { throw _com_error(E_INVALIDARG, why); }

template <class T>
void need(T* out) {
    if (!out) throw _com_error(E_POINTER, L"null out pointer");
}

VARIANT_BOOL vb(bool b) { return b ? VARIANT_TRUE : VARIANT_FALSE; }

bool sameCoord(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

bool sameShape(const Shape& a, const Shape& b) {
    if (a.type != b.type || a.empty() != b.empty()) return false;
    if (a.empty()) return true;
    if (a.parts.size() != b.parts.size()) return false;
    for (std::size_t i = 0; i < a.parts.size(); ++i) {
        if (a.parts[i].size() != b.parts[i].size()) return false;
        for (std::size_t j = 0; j < a.parts[i].size(); ++j) {
            const Coord& p = a.parts[i][j];
            const Coord& q = b.parts[i][j];
            if (!sameCoord(p.x, q.x) || !sameCoord(p.y, q.y) || (a.zAware && !sameCoord(p.z, q.z))) return false;
        }
    }
    return true;
}

// Index of a before/after argument, or -1 when it is not given.
LONG optionalIndex(const VARIANT* v) {
    if (!v) return -1;
    switch (v->vt) {
    case VT_EMPTY:
    case VT_ERROR:
        return -1;
    case VT_I2:
        return v->iVal;
    case VT_I4:
        return v->lVal;
    case VT_INT:
        return v->intVal;
    case VT_I8:
        if (v->llVal < 0 || v->llVal > 0x7FFFFFFF) invalid(L"before/after index out of range");
        return LONG(v->llVal);
    default:
        invalid(L"before/after must be an index");
    }
}

// Where a new element goes among `count`: before one, after one, or at the end.
std::size_t insertionPoint(const VARIANT* before, const VARIANT* after, std::size_t count) {
    const LONG b = optionalIndex(before);
    const LONG a = optionalIndex(after);
    if (b >= 0 && a >= 0) invalid(L"give before or after, not both");
    if (b >= 0) {
        if (std::size_t(b) >= count) invalid(L"before index out of range");
        return std::size_t(b);
    }
    if (a >= 0) {
        if (std::size_t(a) >= count) invalid(L"after index out of range");
        return std::size_t(a) + 1;
    }
    return count;
}

double partLength(const Part& p, bool closed) {
    double sum = 0;
    for (std::size_t i = 1; i < p.size(); ++i) sum += std::hypot(p[i].x - p[i - 1].x, p[i].y - p[i - 1].y);
    if (closed && p.size() > 1) sum += std::hypot(p.front().x - p.back().x, p.front().y - p.back().y);
    return sum;
}

// Douglas-Peucker on [first, last]: marks the vertices to keep.
void douglasPeucker(const Part& p, std::size_t first, std::size_t last, double tolerance, std::vector<bool>& keep) {
    if (last <= first + 1) return;
    const Coord& a = p[first];
    const Coord& b = p[last];
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double len2 = dx * dx + dy * dy;
    double worst = -1;
    std::size_t at = first;
    for (std::size_t i = first + 1; i < last; ++i) {
        double d;
        if (len2 == 0) {
            d = std::hypot(p[i].x - a.x, p[i].y - a.y);
        } else {
            const double t = std::clamp(((p[i].x - a.x) * dx + (p[i].y - a.y) * dy) / len2, 0.0, 1.0);
            d = std::hypot(p[i].x - (a.x + t * dx), p[i].y - (a.y + t * dy));
        }
        if (d > worst) {
            worst = d;
            at = i;
        }
    }
    if (worst >= tolerance) {
        keep[at] = true;
        douglasPeucker(p, first, at, tolerance, keep);
        douglasPeucker(p, at, last, tolerance, keep);
    }
}

Part generalized(const Part& p, double tolerance) {
    if (p.size() < 3) return p;
    std::vector<bool> keep(p.size(), false);
    keep.front() = keep.back() = true;
    douglasPeucker(p, 0, p.size() - 1, tolerance, keep);
    Part out;
    for (std::size_t i = 0; i < p.size(); ++i)
        if (keep[i]) out.push_back(p[i]);
    return out;
}

// The kind a union or intersection result takes for a geometry of this kind.
esriGeometryType family(esriGeometryType t) {
    switch (t) {
    case esriGeometryPoint:
    case esriGeometryMultipoint:
        return esriGeometryMultipoint;
    case esriGeometryPolygon:
    case esriGeometryEnvelope:
        return esriGeometryPolygon;
    default:
        return esriGeometryPolyline;
    }
}

std::string narrow(const OLECHAR* s) {
    std::string out;
    if (s)
        for (; *s; ++s) out += (*s > 0 && *s < 128) ? char(*s) : '?';
    return out;
}

// ---------------------------------------------------------------------------------------------
// The object
// ---------------------------------------------------------------------------------------------
class GeometryObject final : public IPoint,
                             public IMultipoint,
                             public IPolyline,
                             public IPolygon,
                             public IPath,
                             public IRing,
                             public ILine,
                             public IEnvelope,
                             public IPointCollection,
                             public IGeometryCollection,
                             public IZAware,
                             public IRelationalOperator,
                             public ITopologicalOperator,
                             public IArea,
                             public IProximityOperator,
                             public IClone,
                             public IShapeSource {
 public:
    explicit GeometryObject(Shape s) : shape_(std::move(s)) {}
    GeometryObject(const GeometryObject&) = delete;
    GeometryObject& operator=(const GeometryObject&) = delete;

    // IUnknown -----------------------------------------------------------------------------
    HRESULT QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = find(iid);
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    // IShapeSource -------------------------------------------------------------------------
    const Shape& shape() const override { return shape_; }
    Shape& mutableShape() override {
        changed();
        return shape_;
    }
    const std::vector<RingGroup>& ringGroups() override {
        if (!groups_) groups_ = nestRings(shape_.parts);
        return *groups_;
    }

    // IGeometry ----------------------------------------------------------------------------
    HRESULT get_GeometryType(esriGeometryType* t) override {
        return comGuard([&]() -> HRESULT {
            need(t);
            *t = shape_.type;
            return S_OK;
        });
    }
    HRESULT get_Dimension(esriGeometryDimension* d) override {
        return comGuard([&]() -> HRESULT {
            need(d);
            switch (shape_.type) {
            case esriGeometryPoint:
            case esriGeometryMultipoint:
                *d = esriGeometry0Dimension;
                break;
            case esriGeometryPolygon:
            case esriGeometryEnvelope:
                *d = esriGeometry2Dimension;
                break;
            default:
                *d = esriGeometry1Dimension;
            }
            return S_OK;
        });
    }
    HRESULT get_Envelope(IEnvelope** e) override {
        return comGuard([&]() -> HRESULT {
            need(e);
            *e = nullptr;
            IEnvelopePtr env = makeGeometry(envelopeShape());
            *e = env.Detach();
            return S_OK;
        });
    }
    HRESULT raw_QueryEnvelope(IEnvelope* e) override {
        return comGuard([&]() -> HRESULT {
            Shape& target = mutableOf(e);
            if (target.type != esriGeometryEnvelope) invalid(L"QueryEnvelope needs an envelope");
            target = envelopeShape();
            return S_OK;
        });
    }
    HRESULT get_IsEmpty(VARIANT_BOOL* empty) override {
        return comGuard([&]() -> HRESULT {
            need(empty);
            *empty = vb(shape_.empty());
            return S_OK;
        });
    }
    HRESULT raw_SetEmpty() override {
        changed();
        shape_.parts.clear();
        return S_OK;
    }

    // IPoint -------------------------------------------------------------------------------
    HRESULT get_X(double* v) override { return getCoord(v, &Coord::x); }
    HRESULT put_X(double v) override { return putCoord(v, &Coord::x); }
    HRESULT get_Y(double* v) override { return getCoord(v, &Coord::y); }
    HRESULT put_Y(double v) override { return putCoord(v, &Coord::y); }
    HRESULT get_Z(double* v) override { return getCoord(v, &Coord::z); }
    HRESULT put_Z(double v) override { return putCoord(v, &Coord::z); }
    HRESULT raw_PutCoords(double x, double y) override {
        return comGuard([&]() -> HRESULT {
            Coord& c = point();
            c.x = x;
            c.y = y;
            return S_OK;
        });
    }
    HRESULT raw_QueryCoords(double* x, double* y) override {
        return comGuard([&]() -> HRESULT {
            need(x);
            need(y);
            const Coord c = pointOrNaN();
            *x = c.x;
            *y = c.y;
            return S_OK;
        });
    }

    // ICurve -------------------------------------------------------------------------------
    HRESULT get_Length(double* length) override {
        return comGuard([&]() -> HRESULT {
            need(length);
            const bool closed = shape_.type == esriGeometryRing || shape_.type == esriGeometryPolygon;
            double sum = 0;
            for (const Part& p : shape_.parts) sum += partLength(p, closed && !p.empty() && !sameXY(p.front(), p.back()));
            *length = sum;
            return S_OK;
        });
    }
    HRESULT get_FromPoint(IPoint** p) override { return endPoint(p, true); }
    HRESULT get_ToPoint(IPoint** p) override { return endPoint(p, false); }
    HRESULT get_IsClosed(VARIANT_BOOL* closed) override {
        return comGuard([&]() -> HRESULT {
            need(closed);
            bool all = !shape_.empty();
            for (const Part& p : shape_.parts)
                if (!p.empty() && !(p.size() > 1 && sameXY(p.front(), p.back()))) all = false;
            *closed = vb(all);
            return S_OK;
        });
    }

    // IPolycurve ---------------------------------------------------------------------------
    HRESULT raw_Generalize(double tolerance) override {
        return comGuard([&]() -> HRESULT {
            if (!(tolerance >= 0)) invalid(L"Generalize needs a tolerance of 0 or more");
            changed();
            for (Part& p : shape_.parts) {
                Part g = generalized(p, tolerance);
                if (shape_.type == esriGeometryPolygon && g.size() < 4) continue;
                p = std::move(g);
            }
            return S_OK;
        });
    }

    // IPolygon / IRing ---------------------------------------------------------------------
    HRESULT raw_Close() override {
        return comGuard([&]() -> HRESULT {
            changed();
            for (Part& p : shape_.parts)
                if (p.size() > 1 && !sameXY(p.front(), p.back())) p.push_back(p.front());
            return S_OK;
        });
    }
    HRESULT get_ExteriorRingCount(LONG* count) override {
        return comGuard([&]() -> HRESULT {
            need(count);
            *count = LONG(ringGroups().size());
            return S_OK;
        });
    }
    HRESULT raw_QueryExteriorRings(IRing** rings) override {
        return comGuard([&]() -> HRESULT {
            need(rings);
            // All rings are made before any is handed over: a failure leaves the caller nothing to free.
            std::vector<IRingPtr> made;
            for (const RingGroup& g : ringGroups())
                made.emplace_back(makeGeometry(Shape{esriGeometryRing, shape_.zAware, {shape_.parts[g.shell]}}));
            for (std::size_t i = 0; i < made.size(); ++i) rings[i] = made[i].Detach();
            return S_OK;
        });
    }
    HRESULT get_IsExterior(VARIANT_BOOL* exterior) override {
        return comGuard([&]() -> HRESULT {
            need(exterior);
            *exterior = vb(!shape_.parts.empty() && signedArea(shape_.parts[0]) < 0);
            return S_OK;
        });
    }

    // ILine --------------------------------------------------------------------------------
    HRESULT raw_PutCoords(IPoint* from, IPoint* to) override {
        return comGuard([&]() -> HRESULT {
            const Coord a = pointOf(from);
            const Coord b = pointOf(to);
            changed();
            shape_.parts = {Part{a, b}};
            return S_OK;
        });
    }

    // IEnvelope ----------------------------------------------------------------------------
    HRESULT get_XMin(double* v) override { return getBound(v, 0, &Coord::x); }
    HRESULT put_XMin(double v) override { return putBound(v, 0, &Coord::x); }
    HRESULT get_YMin(double* v) override { return getBound(v, 0, &Coord::y); }
    HRESULT put_YMin(double v) override { return putBound(v, 0, &Coord::y); }
    HRESULT get_XMax(double* v) override { return getBound(v, 1, &Coord::x); }
    HRESULT put_XMax(double v) override { return putBound(v, 1, &Coord::x); }
    HRESULT get_YMax(double* v) override { return getBound(v, 1, &Coord::y); }
    HRESULT put_YMax(double v) override { return putBound(v, 1, &Coord::y); }
    HRESULT get_ZMin(double* v) override { return getBound(v, 0, &Coord::z); }
    HRESULT put_ZMin(double v) override { return putBound(v, 0, &Coord::z); }
    HRESULT get_ZMax(double* v) override { return getBound(v, 1, &Coord::z); }
    HRESULT put_ZMax(double v) override { return putBound(v, 1, &Coord::z); }
    HRESULT get_Width(double* v) override {
        return comGuard([&]() -> HRESULT {
            need(v);
            *v = shape_.empty() ? kNaN : shape_.parts[0][1].x - shape_.parts[0][0].x;
            return S_OK;
        });
    }
    HRESULT get_Height(double* v) override {
        return comGuard([&]() -> HRESULT {
            need(v);
            *v = shape_.empty() ? kNaN : shape_.parts[0][1].y - shape_.parts[0][0].y;
            return S_OK;
        });
    }
    HRESULT raw_PutCoords(double xmin, double ymin, double xmax, double ymax) override {
        return comGuard([&]() -> HRESULT {
            bounds();
            Coord& lo = shape_.parts[0][0];
            Coord& hi = shape_.parts[0][1];
            lo.x = std::min(xmin, xmax);
            hi.x = std::max(xmin, xmax);
            lo.y = std::min(ymin, ymax);
            hi.y = std::max(ymin, ymax);
            return S_OK;
        });
    }
    HRESULT raw_QueryCoords(double* xmin, double* ymin, double* xmax, double* ymax) override {
        return comGuard([&]() -> HRESULT {
            need(xmin);
            need(ymin);
            need(xmax);
            need(ymax);
            const bool e = shape_.parts.empty();
            *xmin = e ? kNaN : shape_.parts[0][0].x;
            *ymin = e ? kNaN : shape_.parts[0][0].y;
            *xmax = e ? kNaN : shape_.parts[0][1].x;
            *ymax = e ? kNaN : shape_.parts[0][1].y;
            return S_OK;
        });
    }
    HRESULT raw_Expand(double dx, double dy, VARIANT_BOOL asRatio) override {
        return comGuard([&]() -> HRESULT {
            if (shape_.empty()) return S_OK;
            Coord& lo = shape_.parts[0][0];
            Coord& hi = shape_.parts[0][1];
            if (asRatio) {
                if (!(dx >= 0 && dy >= 0)) invalid(L"Expand needs ratios of 0 or more");
                changed();
                const double cx = (lo.x + hi.x) / 2, cy = (lo.y + hi.y) / 2;
                const double hw = (hi.x - lo.x) * dx / 2, hh = (hi.y - lo.y) * dy / 2;
                lo.x = cx - hw;
                hi.x = cx + hw;
                lo.y = cy - hh;
                hi.y = cy + hh;
            } else {
                if (hi.x - lo.x + 2 * dx < 0 || hi.y - lo.y + 2 * dy < 0) invalid(L"Expand would turn the envelope inside out");
                changed();
                lo.x -= dx;
                hi.x += dx;
                lo.y -= dy;
                hi.y += dy;
            }
            return S_OK;
        });
    }
    HRESULT raw_Union(IEnvelope* other) override {
        return comGuard([&]() -> HRESULT {
            const Shape& o = envelopeOf(other);
            if (o.empty()) return S_OK;
            changed();
            if (shape_.empty()) {
                shape_.parts = o.parts;
                return S_OK;
            }
            Coord& lo = shape_.parts[0][0];
            Coord& hi = shape_.parts[0][1];
            lo.x = std::min(lo.x, o.parts[0][0].x);
            lo.y = std::min(lo.y, o.parts[0][0].y);
            lo.z = std::fmin(lo.z, o.parts[0][0].z);
            hi.x = std::max(hi.x, o.parts[0][1].x);
            hi.y = std::max(hi.y, o.parts[0][1].y);
            hi.z = std::fmax(hi.z, o.parts[0][1].z);
            return S_OK;
        });
    }
    HRESULT raw_Intersect(IEnvelope* other) override {
        return comGuard([&]() -> HRESULT {
            const Shape& o = envelopeOf(other);
            if (shape_.empty()) return S_OK;
            changed();
            if (o.empty()) {
                shape_.parts.clear();
                return S_OK;
            }
            Coord lo = shape_.parts[0][0];
            Coord hi = shape_.parts[0][1];
            lo.x = std::max(lo.x, o.parts[0][0].x);
            lo.y = std::max(lo.y, o.parts[0][0].y);
            hi.x = std::min(hi.x, o.parts[0][1].x);
            hi.y = std::min(hi.y, o.parts[0][1].y);
            if (lo.x > hi.x || lo.y > hi.y)
                shape_.parts.clear();
            else
                shape_.parts[0] = {lo, hi};
            return S_OK;
        });
    }

    // IPointCollection ---------------------------------------------------------------------
    HRESULT get_PointCount(LONG* count) override {
        return comGuard([&]() -> HRESULT {
            need(count);
            *count = LONG(shape_.pointCount());
            return S_OK;
        });
    }
    HRESULT get_Point(LONG index, IPoint** p) override {
        return comGuard([&]() -> HRESULT {
            need(p);
            *p = nullptr;
            const auto [part, at] = locate(index);
            IPointPtr point = makeGeometry(Shape{esriGeometryPoint, shape_.zAware, {Part{shape_.parts[part][at]}}});
            *p = point.Detach();
            return S_OK;
        });
    }
    HRESULT raw_QueryPoint(LONG index, IPoint* p) override {
        return comGuard([&]() -> HRESULT {
            const auto [part, at] = locate(index);
            Shape& target = mutableOf(p);
            if (target.type != esriGeometryPoint) invalid(L"QueryPoint needs a point");
            // Callers walk a path with one point: it keeps its coordinate's storage.
            if (target.parts.size() == 1 && target.parts[0].size() == 1) target.parts[0][0] = shape_.parts[part][at];
            else target.parts = {Part{shape_.parts[part][at]}};
            return S_OK;
        });
    }
    HRESULT raw_AddPoint(IPoint* p, const VARIANT* before, const VARIANT* after) override {
        return comGuard([&]() -> HRESULT {
            const Coord c = pointOf(p);
            const std::size_t count = shape_.pointCount();
            const std::size_t at = insertionPoint(before, after, count);
            changed();
            if (at == count) {
                if (shape_.parts.empty()) shape_.parts.emplace_back();
                shape_.parts.back().push_back(c);
            } else {
                const auto [part, offset] = locate(LONG(at));
                shape_.parts[part].insert(shape_.parts[part].begin() + std::ptrdiff_t(offset), c);
            }
            return S_OK;
        });
    }
    HRESULT raw_UpdatePoint(LONG index, IPoint* p) override {
        return comGuard([&]() -> HRESULT {
            const Coord c = pointOf(p);
            const auto [part, at] = locate(index);
            changed();
            shape_.parts[part][at] = c;
            return S_OK;
        });
    }
    HRESULT raw_RemovePoints(LONG index, LONG count) override {
        return comGuard([&]() -> HRESULT {
            if (count < 0 || index < 0 || std::size_t(index) + std::size_t(count) > shape_.pointCount())
                invalid(L"RemovePoints range out of bounds");
            changed();
            for (LONG n = 0; n < count; ++n) {
                const auto [part, at] = locate(index);
                shape_.parts[part].erase(shape_.parts[part].begin() + std::ptrdiff_t(at));
            }
            return S_OK;
        });
    }

    HRESULT raw_AddWKSPoints(LONG count, const WKSPoint* points) override {
        return comGuard([&]() -> HRESULT {
            if (count < 0) invalid(L"AddWKSPoints needs a count of 0 or more");
            if (count > 0 && !points) throw _com_error(E_POINTER, L"null points");
            changed();
            if (shape_.parts.empty()) shape_.parts.emplace_back();
            Part& part = shape_.parts.back();
            if (part.capacity() - part.size() < std::size_t(count))
                part.reserve(std::max(part.size() + std::size_t(count), 2 * part.capacity()));
            for (LONG i = 0; i < count; ++i) part.push_back({points[i].X, points[i].Y, kNaN});
            return S_OK;
        });
    }

    // IGeometryCollection ------------------------------------------------------------------
    HRESULT get_GeometryCount(LONG* count) override {
        return comGuard([&]() -> HRESULT {
            need(count);
            *count = LONG(shape_.type == esriGeometryMultipoint ? shape_.pointCount() : shape_.parts.size());
            return S_OK;
        });
    }
    HRESULT get_Geometry(LONG index, IGeometry** g) override {
        return comGuard([&]() -> HRESULT {
            need(g);
            *g = nullptr;
            Shape part{esriGeometryPoint, shape_.zAware, {}};
            if (shape_.type == esriGeometryMultipoint) {
                const auto [p, at] = locate(index);
                part.parts = {Part{shape_.parts[p][at]}};
            } else {
                if (index < 0 || std::size_t(index) >= shape_.parts.size()) invalid(L"part index out of range");
                part.type = shape_.type == esriGeometryPolygon ? esriGeometryRing : esriGeometryPath;
                part.parts = {shape_.parts[std::size_t(index)]};
            }
            *g = makeGeometry(std::move(part)).Detach();
            return S_OK;
        });
    }
    HRESULT raw_AddGeometry(IGeometry* g, const VARIANT* before, const VARIANT* after) override {
        return comGuard([&]() -> HRESULT {
            const Shape& in = shapeOf(g);
            std::vector<Part> add;
            if (shape_.type == esriGeometryMultipoint) {
                if (in.type != esriGeometryPoint && in.type != esriGeometryMultipoint)
                    invalid(L"a multipoint takes points and multipoints");
                if (in.type == esriGeometryPoint && in.empty()) invalid(L"an empty point cannot be added");
                Part points;
                for (const Part& p : in.parts) points.insert(points.end(), p.begin(), p.end());
                const std::size_t count = shape_.pointCount();
                const std::size_t at = insertionPoint(before, after, count);
                changed();
                if (shape_.parts.empty()) shape_.parts.emplace_back();
                Part& all = shape_.parts[0];
                all.insert(all.begin() + std::ptrdiff_t(at), points.begin(), points.end());
                return S_OK;
            }
            const bool polygon = shape_.type == esriGeometryPolygon;
            const bool fits = polygon ? (in.type == esriGeometryRing || in.type == esriGeometryPolygon)
                                      : (in.type == esriGeometryPath || in.type == esriGeometryLine ||
                                         in.type == esriGeometryPolyline);
            if (!fits) invalid(polygon ? L"a polygon takes rings and polygons" : L"a polyline takes paths, lines and polylines");
            const std::size_t at = insertionPoint(before, after, shape_.parts.size());
            changed();
            if (&in == &shape_) {  // itself: copied before the insertion moves its parts
                add = in.parts;
                shape_.parts.insert(shape_.parts.begin() + std::ptrdiff_t(at), add.begin(), add.end());
            } else {
                shape_.parts.insert(shape_.parts.begin() + std::ptrdiff_t(at), in.parts.begin(), in.parts.end());
            }
            return S_OK;
        });
    }
    HRESULT raw_RemoveGeometries(LONG index, LONG count) override {
        return comGuard([&]() -> HRESULT {
            if (shape_.type == esriGeometryMultipoint) return raw_RemovePoints(index, count);
            if (count < 0 || index < 0 || std::size_t(index) + std::size_t(count) > shape_.parts.size())
                invalid(L"RemoveGeometries range out of bounds");
            changed();
            shape_.parts.erase(shape_.parts.begin() + index, shape_.parts.begin() + index + count);
            return S_OK;
        });
    }

    // IZAware ------------------------------------------------------------------------------
    HRESULT get_ZAware(VARIANT_BOOL* aware) override {
        return comGuard([&]() -> HRESULT {
            need(aware);
            *aware = vb(shape_.zAware);
            return S_OK;
        });
    }
    HRESULT put_ZAware(VARIANT_BOOL aware) override {
        shape_.zAware = aware != VARIANT_FALSE;
        return S_OK;
    }

    // IRelationalOperator ------------------------------------------------------------------
    HRESULT raw_Contains(IGeometry* o, VARIANT_BOOL* r) override { return relation(o, r, GEOSContains_r, "Contains", false); }
    HRESULT raw_Within(IGeometry* o, VARIANT_BOOL* r) override { return relation(o, r, GEOSWithin_r, "Within", false); }
    HRESULT raw_Touches(IGeometry* o, VARIANT_BOOL* r) override { return relation(o, r, GEOSTouches_r, "Touches", false); }
    HRESULT raw_Crosses(IGeometry* o, VARIANT_BOOL* r) override { return relation(o, r, GEOSCrosses_r, "Crosses", false); }
    HRESULT raw_Overlaps(IGeometry* o, VARIANT_BOOL* r) override { return relation(o, r, GEOSOverlaps_r, "Overlaps", false); }
    HRESULT raw_Disjoint(IGeometry* o, VARIANT_BOOL* r) override { return relation(o, r, GEOSDisjoint_r, "Disjoint", true); }
    HRESULT raw_Equals(IGeometry* o, VARIANT_BOOL* r) override {
        return comGuard([&]() -> HRESULT {
            need(r);
            const Shape& other = shapeOf(o);
            if (shape_.empty() || other.empty()) {  // GEOS calls two empties unequal
                *r = vb(shape_.empty() && other.empty());
                return S_OK;
            }
            return relation(o, r, GEOSEquals_r, "Equals", false);
        });
    }
    HRESULT raw_Relate(IGeometry* o, BSTR description, VARIANT_BOOL* r) override {
        return comGuard([&]() -> HRESULT {
            need(r);
            std::string pattern = narrow(description);
            if (!validPattern(pattern))
                invalid(L"relation description must be nine characters of T, F, *, 0, 1, 2");
            const Shape& other = shapeOf(o);
            if (patternNeedsContact(pattern) && !shapeExtent(shape_).intersects(shapeExtent(other))) {
                *r = VARIANT_FALSE;
                return S_OK;
            }
            GEOSContextHandle_t ctx = geosContext();
            Geom a = ownGeos();
            Geom b = toGeos(other);
            *r = vb(predicate(GEOSRelatePattern_r(ctx, a.get(), b.get(), pattern.c_str()), "Relate"));
            return S_OK;
        });
    }

    // ITopologicalOperator -----------------------------------------------------------------
    HRESULT raw_Union(IGeometry* o, IGeometry** result) override {
        return comGuard([&]() -> HRESULT {
            need(result);
            *result = nullptr;
            const Shape& other = shapeOf(o);
            const esriGeometryType kind = family(shape_.type);
            if (family(other.type) != kind) invalid(L"Union needs geometries of one dimension");
            GEOSContextHandle_t ctx = geosContext();
            Geom a = ownGeos();
            Geom b = toGeos(other);
            Geom u(GEOSUnion_r(ctx, a.get(), b.get()), {ctx});
            if (!u) throwGeos("Union");
            *result = makeGeometry(fromGeos(u.get(), kind)).Detach();
            return S_OK;
        });
    }
    HRESULT raw_Intersect(IGeometry* o, esriGeometryDimension dimension, IGeometry** result) override {
        return comGuard([&]() -> HRESULT {
            need(result);
            *result = nullptr;
            esriGeometryType kind;
            switch (dimension) {
            case esriGeometry0Dimension:
                kind = esriGeometryMultipoint;
                break;
            case esriGeometry1Dimension:
                kind = esriGeometryPolyline;
                break;
            case esriGeometry2Dimension:
                kind = esriGeometryPolygon;
                break;
            default:
                invalid(L"Intersect needs dimension 0, 1 or 2");
            }
            const Shape& other = shapeOf(o);
            Shape out{kind, false, {}};
            if (shapeExtent(shape_).intersects(shapeExtent(other))) {
                GEOSContextHandle_t ctx = geosContext();
                Geom a = ownGeos();
                Geom b = toGeos(other);
                Geom i(GEOSIntersection_r(ctx, a.get(), b.get()), {ctx});
                if (!i) throwGeos("Intersect");
                out = fromGeos(i.get(), kind);
            }
            *result = makeGeometry(std::move(out)).Detach();
            return S_OK;
        });
    }
    HRESULT raw_Simplify() override {
        return comGuard([&]() -> HRESULT {
            changed();
            if (shape_.type == esriGeometryPolygon)
                groups_ = simplifyPolygon(shape_);
            else
                simplifyShape(shape_);
            return S_OK;
        });
    }
    HRESULT raw_Buffer(double distance, IGeometry** result) override {
        return comGuard([&]() -> HRESULT {
            need(result);
            *result = nullptr;
            GEOSContextHandle_t ctx = geosContext();
            Geom a = ownGeos();
            Geom b(GEOSBuffer_r(ctx, a.get(), distance, 8), {ctx});
            if (!b) throwGeos("Buffer");
            *result = makeGeometry(fromGeos(b.get(), esriGeometryPolygon)).Detach();
            return S_OK;
        });
    }
    HRESULT get_IsSimple(VARIANT_BOOL* simple) override {
        return comGuard([&]() -> HRESULT {
            need(simple);
            Shape copy = shape_;
            simplifyShape(copy);
            *simple = vb(sameShape(copy, shape_));
            return S_OK;
        });
    }

    // IArea --------------------------------------------------------------------------------
    HRESULT get_Area(double* area) override {
        return comGuard([&]() -> HRESULT {
            need(area);
            double a = 0;
            if (shape_.type == esriGeometryEnvelope) {
                if (!shape_.empty()) a = (shape_.parts[0][1].x - shape_.parts[0][0].x) * (shape_.parts[0][1].y - shape_.parts[0][0].y);
            } else if (shape_.type == esriGeometryRing) {
                if (!shape_.parts.empty()) a = -signedArea(shape_.parts[0]);
            } else {
                for (const RingGroup& g : ringGroups()) {
                    a += std::fabs(signedArea(shape_.parts[g.shell]));
                    for (std::size_t h : g.holes) a -= std::fabs(signedArea(shape_.parts[h]));
                }
            }
            *area = a;
            return S_OK;
        });
    }

    // IProximityOperator -------------------------------------------------------------------
    HRESULT raw_ReturnDistance(IGeometry* o, double* distance) override {
        return comGuard([&]() -> HRESULT {
            need(distance);
            const Shape& other = shapeOf(o);
            if (shape_.empty() || other.empty()) invalid(L"distance to an empty geometry");
            GEOSContextHandle_t ctx = geosContext();
            Geom a = ownGeos();
            Geom b = toGeos(other);
            if (!GEOSDistance_r(ctx, a.get(), b.get(), distance)) throwGeos("ReturnDistance");
            return S_OK;
        });
    }

    // IClone -------------------------------------------------------------------------------
    HRESULT raw_Clone(IClone** copy) override {
        return comGuard([&]() -> HRESULT {
            need(copy);
            *copy = nullptr;
            IClonePtr c = makeGeometry(shape_);
            *copy = c.Detach();
            return S_OK;
        });
    }
    HRESULT raw_IsEqual(IClone* other, VARIANT_BOOL* equal) override {
        return comGuard([&]() -> HRESULT {
            need(equal);
            const Shape& o = shapeOf(other);
            *equal = vb(o.zAware == shape_.zAware && sameShape(o, shape_));
            return S_OK;
        });
    }

 private:
    void* find(REFIID iid) {
        const esriGeometryType t = shape_.type;
        const bool curve = t == esriGeometryPolyline || t == esriGeometryPolygon || t == esriGeometryPath ||
                           t == esriGeometryRing || t == esriGeometryLine;
        const bool collection = t == esriGeometryMultipoint || t == esriGeometryPolyline || t == esriGeometryPolygon;
        if (iid == IUnknown::iid || iid == IGeometry::iid) return geometry();
        if (iid == IShapeSource::iid) return static_cast<IShapeSource*>(this);
        if (iid == IClone::iid) return static_cast<IClone*>(this);
        if (iid == IRelationalOperator::iid) return static_cast<IRelationalOperator*>(this);
        if (iid == IProximityOperator::iid) return static_cast<IProximityOperator*>(this);
        if (iid == IZAware::iid) return t == esriGeometryLine ? nullptr : static_cast<IZAware*>(this);
        if (iid == ITopologicalOperator::iid)
            return (collection || t == esriGeometryPoint) ? static_cast<ITopologicalOperator*>(this) : nullptr;
        if (iid == IArea::iid)
            return (t == esriGeometryPolygon || t == esriGeometryRing || t == esriGeometryEnvelope) ? static_cast<IArea*>(this)
                                                                                                   : nullptr;
        if (iid == IPointCollection::iid)
            return (collection || t == esriGeometryPath || t == esriGeometryRing) ? static_cast<IPointCollection*>(this)
                                                                                  : nullptr;
        if (iid == IGeometryCollection::iid) return collection ? static_cast<IGeometryCollection*>(this) : nullptr;
        if (iid == ICurve::iid) return curve ? curveBase() : nullptr;
        if (iid == IPolycurve::iid) {
            if (t == esriGeometryPolyline) return static_cast<IPolycurve*>(static_cast<IPolyline*>(this));
            if (t == esriGeometryPolygon) return static_cast<IPolycurve*>(static_cast<IPolygon*>(this));
            return nullptr;
        }
        if (iid == IPoint::iid) return t == esriGeometryPoint ? static_cast<IPoint*>(this) : nullptr;
        if (iid == IMultipoint::iid) return t == esriGeometryMultipoint ? static_cast<IMultipoint*>(this) : nullptr;
        if (iid == IPolyline::iid) return t == esriGeometryPolyline ? static_cast<IPolyline*>(this) : nullptr;
        if (iid == IPolygon::iid) return t == esriGeometryPolygon ? static_cast<IPolygon*>(this) : nullptr;
        if (iid == IPath::iid) return t == esriGeometryPath ? static_cast<IPath*>(this) : nullptr;
        if (iid == IRing::iid) return t == esriGeometryRing ? static_cast<IRing*>(this) : nullptr;
        if (iid == ILine::iid) return t == esriGeometryLine ? static_cast<ILine*>(this) : nullptr;
        if (iid == IEnvelope::iid) return t == esriGeometryEnvelope ? static_cast<IEnvelope*>(this) : nullptr;
        return nullptr;
    }

    // The one IGeometry (and IUnknown) of the object's kind, so identity holds.
    IGeometry* geometry() {
        switch (shape_.type) {
        case esriGeometryPoint:
            return static_cast<IPoint*>(this);
        case esriGeometryMultipoint:
            return static_cast<IMultipoint*>(this);
        case esriGeometryEnvelope:
            return static_cast<IEnvelope*>(this);
        default:
            return curveBase();
        }
    }
    ICurve* curveBase() {
        switch (shape_.type) {
        case esriGeometryPolyline:
            return static_cast<IPolyline*>(this);
        case esriGeometryPolygon:
            return static_cast<IPolygon*>(this);
        case esriGeometryPath:
            return static_cast<IPath*>(this);
        case esriGeometryRing:
            return static_cast<IRing*>(this);
        default:
            return static_cast<ILine*>(this);
        }
    }

    Shape envelopeShape() const {
        const GeoExtent e = shapeExtent(shape_);
        Shape env{esriGeometryEnvelope, shape_.zAware, {}};
        if (e.empty()) return env;
        double zmin = kNaN, zmax = kNaN;
        if (shape_.zAware)
            for (const Part& p : shape_.parts)
                for (const Coord& c : p) {
                    zmin = std::fmin(zmin, c.z);
                    zmax = std::fmax(zmax, c.z);
                }
        if (shape_.type == esriGeometryEnvelope && !shape_.parts.empty()) {
            zmin = shape_.parts[0][0].z;
            zmax = shape_.parts[0][1].z;
        }
        env.parts = {Part{{e.xmin, e.ymin, zmin}, {e.xmax, e.ymax, zmax}}};
        return env;
    }

    static Shape& mutableOf(IUnknown* g) {
        if (!g) invalid(L"null geometry");
        IShapeSource* src = nullptr;
        if (FAILED(g->QueryInterface(IShapeSource::iid, reinterpret_cast<void**>(&src))) || !src)
            invalid(L"not a geometry of the platform's geometry library");
        Shape& s = src->mutableShape();
        src->Release();
        return s;
    }
    static const Shape& envelopeOf(IEnvelope* e) {
        const Shape& s = shapeOf(e);
        if (s.type != esriGeometryEnvelope) invalid(L"an envelope is needed");
        return s;
    }
    static Coord pointOf(IPoint* p) {
        const Shape& s = shapeOf(p);
        if (s.type != esriGeometryPoint) invalid(L"a point is needed");
        if (s.empty()) invalid(L"an empty point cannot be used here");
        return s.parts[0][0];
    }

    Coord& point() {
        changed();
        if (shape_.parts.empty() || shape_.parts[0].empty()) shape_.parts = {Part{{kNaN, kNaN, kNaN}}};
        return shape_.parts[0][0];
    }
    Coord pointOrNaN() const {
        if (shape_.parts.empty() || shape_.parts[0].empty()) return {kNaN, kNaN, kNaN};
        return shape_.parts[0][0];
    }
    HRESULT getCoord(double* v, double Coord::*m) {
        if (!v) return E_POINTER;
        *v = pointOrNaN().*m;
        return S_OK;
    }
    HRESULT putCoord(double v, double Coord::*m) {
        return comGuard([&]() -> HRESULT {
            point().*m = v;
            return S_OK;
        });
    }

    void bounds() {
        changed();
        if (shape_.parts.empty() || shape_.parts[0].size() != 2)
            shape_.parts = {Part{{kNaN, kNaN, kNaN}, {kNaN, kNaN, kNaN}}};
    }
    HRESULT getBound(double* v, int which, double Coord::*m) {
        if (!v) return E_POINTER;
        *v = (shape_.parts.empty() || shape_.parts[0].size() != 2) ? kNaN : shape_.parts[0][std::size_t(which)].*m;
        return S_OK;
    }
    HRESULT putBound(double v, int which, double Coord::*m) {
        return comGuard([&]() -> HRESULT {
            bounds();
            shape_.parts[0][std::size_t(which)].*m = v;
            return S_OK;
        });
    }

    // (part, offset) of a flat point index; E_INVALIDARG when out of range.
    std::pair<std::size_t, std::size_t> locate(LONG index) const {
        if (index >= 0) {
            std::size_t rest = std::size_t(index);
            for (std::size_t p = 0; p < shape_.parts.size(); ++p) {
                if (rest < shape_.parts[p].size()) return {p, rest};
                rest -= shape_.parts[p].size();
            }
        }
        invalid(L"point index out of range");
    }

    HRESULT endPoint(IPoint** out, bool first) {
        return comGuard([&]() -> HRESULT {
            need(out);
            *out = nullptr;
            Shape s{esriGeometryPoint, shape_.zAware, {}};
            if (!shape_.empty()) {
                if (first) {
                    for (const Part& p : shape_.parts)
                        if (!p.empty()) {
                            s.parts = {Part{p.front()}};
                            break;
                        }
                } else {
                    for (auto it = shape_.parts.rbegin(); it != shape_.parts.rend(); ++it)
                        if (!it->empty()) {
                            s.parts = {Part{it->back()}};
                            break;
                        }
                }
            }
            *out = IPointPtr(makeGeometry(std::move(s))).Detach();
            return S_OK;
        });
    }

    using Relation = char (*)(GEOSContextHandle_t, const GEOSGeometry*, const GEOSGeometry*);
    HRESULT relation(IGeometry* o, VARIANT_BOOL* r, Relation test, const char* what, bool whenApart) {
        return comGuard([&]() -> HRESULT {
            need(r);
            const Shape& other = shapeOf(o);
            if (!shapeExtent(shape_).intersects(shapeExtent(other))) {  // boxes apart: nothing meets
                *r = vb(whenApart);
                return S_OK;
            }
            GEOSContextHandle_t ctx = geosContext();
            Geom a = ownGeos();
            Geom b = toGeos(other);
            *r = vb(predicate(test(ctx, a.get(), b.get()), what));
            return S_OK;
        });
    }

    static void simplifyShape(Shape& s) {
        if (s.type == esriGeometryPolygon) {
            simplifyPolygon(s);
        } else if (s.type == esriGeometryPolyline) {
            std::vector<Part> kept;
            for (Part& p : s.parts) {
                Part clean;
                for (const Coord& c : p)
                    if (clean.empty() || !sameXY(clean.back(), c)) clean.push_back(c);
                if (clean.size() >= 2) kept.push_back(std::move(clean));
            }
            s.parts = std::move(kept);
        }
    }

    Geom ownGeos() { return shape_.type == esriGeometryPolygon ? toGeos(shape_, ringGroups()) : toGeos(shape_); }

    // Every change of the shape goes by here: the ring nesting known for it no longer holds.
    void changed() { groups_.reset(); }

    Shape shape_;
    std::optional<std::vector<RingGroup>> groups_;
    std::atomic<ULONG> refs_{0};
};

template <esriGeometryType Kind>
HRESULT createGeometry(REFIID iid, void** out) {
    return comGuard([&]() -> HRESULT {
        if (!out) return E_POINTER;
        *out = nullptr;
        auto* object = new GeometryObject(Shape{Kind, false, {}});
        object->AddRef();
        const HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    });
}

// Registered when libplatform is loaded.
const bool registered = [] {
    registerComClass(CLSID_Point, "Geometry.Point.1", &createGeometry<esriGeometryPoint>);
    registerComClass(CLSID_Multipoint, "Geometry.Multipoint.1", &createGeometry<esriGeometryMultipoint>);
    registerComClass(CLSID_Polyline, "Geometry.Polyline.1", &createGeometry<esriGeometryPolyline>);
    registerComClass(CLSID_Polygon, "Geometry.Polygon.1", &createGeometry<esriGeometryPolygon>);
    registerComClass(CLSID_Path, "Geometry.Path.1", &createGeometry<esriGeometryPath>);
    registerComClass(CLSID_Ring, "Geometry.Ring.1", &createGeometry<esriGeometryRing>);
    registerComClass(CLSID_Line, "Geometry.Line.1", &createGeometry<esriGeometryLine>);
    registerComClass(CLSID_Envelope, "Geometry.Envelope.1", &createGeometry<esriGeometryEnvelope>);
    return true;
}();

}  // namespace

IGeometryPtr makeGeometry(Shape s) {
    IGeometryPtr g;
    auto* object = new GeometryObject(std::move(s));
    object->AddRef();
    IGeometry* raw = nullptr;
    const HRESULT hr = object->QueryInterface(IGeometry::iid, reinterpret_cast<void**>(&raw));
    object->Release();
    if (FAILED(hr)) throw _com_error(hr);
    g.Attach(raw);
    return g;
}

}  // namespace geom

GeoExtent geometryExtent(IGeometry* geometry) { return geom::shapeExtent(geom::shapeOf(geometry)); }
