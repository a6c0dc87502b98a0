// platform/geometry/shape.cpp: shape bookkeeping without GEOS: emptiness, extents, ring areas and
// the nesting of polygon rings (shared by GEOS conversion, areas and the GeoPackage writer).
#include "platform/geometry/shape.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace geom {

bool Shape::empty() const {
    if (type == esriGeometryPoint || type == esriGeometryEnvelope) {
        if (parts.empty() || parts[0].empty()) return true;
        for (const Coord& c : parts[0])
            if (std::isnan(c.x) || std::isnan(c.y)) return true;
        return false;
    }
    return pointCount() == 0;
}

std::size_t Shape::pointCount() const {
    std::size_t n = 0;
    for (const Part& p : parts) n += p.size();
    return n;
}

const Shape& shapeOf(IUnknown* geometry) {
    if (!geometry) throw _com_error(E_INVALIDARG, L"null geometry");
    IShapeSource* src = nullptr;
    if (FAILED(geometry->QueryInterface(IShapeSource::iid, reinterpret_cast<void**>(&src))) || !src)
        throw _com_error(E_INVALIDARG, L"not a geometry of the platform's geometry library");
    const Shape& s = src->shape();
    src->Release();  // the caller holds its own reference to the object
    return s;
}

GeoExtent shapeExtent(const Shape& s) {
    GeoExtent e;
    if (s.empty()) return e;
    bool first = true;
    for (const Part& p : s.parts)
        for (const Coord& c : p) {
            if (std::isnan(c.x) || std::isnan(c.y)) continue;
            if (first) {
                e.xmin = e.xmax = c.x;
                e.ymin = e.ymax = c.y;
                first = false;
            } else {
                e.xmin = std::min(e.xmin, c.x);
                e.xmax = std::max(e.xmax, c.x);
                e.ymin = std::min(e.ymin, c.y);
                e.ymax = std::max(e.ymax, c.y);
            }
        }
    return e;
}

double signedArea(const Part& ring) {
    const std::size_t n = ring.size();
    if (n < 3) return 0;
    // Shoelace about the first point, which keeps the sum small for coordinates far from 0.
    const double x0 = ring[0].x, y0 = ring[0].y;
    double sum = 0;
    for (std::size_t i = 1; i + 1 < n; ++i)
        sum += (ring[i].x - x0) * (ring[i + 1].y - y0) - (ring[i + 1].x - x0) * (ring[i].y - y0);
    return sum / 2;
}

bool isAreal(const Part& ring) {
    // Three points off one line; the signed area alone would miss a figure-eight, whose lobes cancel.
    const std::size_t n = ring.size();
    std::size_t second = 1;
    while (second < n && sameXY(ring[second], ring[0])) ++second;
    for (std::size_t i = second + 1; i < n; ++i) {
        const double cross = (ring[second].x - ring[0].x) * (ring[i].y - ring[0].y) -
                             (ring[i].x - ring[0].x) * (ring[second].y - ring[0].y);
        if (cross != 0) return true;
    }
    return false;
}

namespace {

// 1 inside, -1 outside, 0 on the boundary of the (implicitly closed) ring.
int locate(const Coord& p, const Part& ring) {
    bool inside = false;
    const std::size_t n = ring.size();
    for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
        const Coord& a = ring[j];
        const Coord& b = ring[i];
        const double cross = (b.x - a.x) * (p.y - a.y) - (p.x - a.x) * (b.y - a.y);
        if (cross == 0 && std::min(a.x, b.x) <= p.x && p.x <= std::max(a.x, b.x) &&
            std::min(a.y, b.y) <= p.y && p.y <= std::max(a.y, b.y))
            return 0;
        if ((a.y > p.y) != (b.y > p.y)) {
            const double xCross = a.x + (p.y - a.y) * (b.x - a.x) / (b.y - a.y);
            if (p.x < xCross) inside = !inside;
        }
    }
    return inside ? 1 : -1;
}

// shapeExtent of the ring alone, without copying it into a shape.
GeoExtent ringExtent(const Part& ring) {
    GeoExtent e;
    bool first = true;
    for (const Coord& c : ring) {
        if (std::isnan(c.x) || std::isnan(c.y)) continue;
        if (first) {
            e.xmin = e.xmax = c.x;
            e.ymin = e.ymax = c.y;
            first = false;
        } else {
            e.xmin = std::min(e.xmin, c.x);
            e.xmax = std::max(e.xmax, c.x);
            e.ymin = std::min(e.ymin, c.y);
            e.ymax = std::max(e.ymax, c.y);
        }
    }
    return e;
}

// Ring a lies inside ring b: the first vertex of a that is not on b's boundary decides.
bool ringInside(const Part& a, const GeoExtent& ea, const Part& b, const GeoExtent& eb) {
    if (ea.xmin < eb.xmin || ea.xmax > eb.xmax || ea.ymin < eb.ymin || ea.ymax > eb.ymax) return false;
    for (const Coord& c : a) {
        const int where = locate(c, b);
        if (where != 0) return where > 0;
    }
    return false;  // all on b's boundary: the same ring, not a hole of it
}

}  // namespace

std::vector<RingGroup> nestRings(const std::vector<Part>& rings) {
    const std::size_t n = rings.size();
    std::vector<std::size_t> areal;
    for (std::size_t i = 0; i < n; ++i)
        if (isAreal(rings[i])) areal.push_back(i);
    std::vector<RingGroup> groups;
    if (areal.size() == 1) {
        groups.push_back({areal[0], {}});
        return groups;
    }
    std::vector<double> size(n, 0);
    std::vector<GeoExtent> extent(n);
    for (std::size_t i : areal) {
        size[i] = std::fabs(signedArea(rings[i]));
        extent[i] = ringExtent(rings[i]);
    }
    // Larger rings first: a ring's holder is always met before it.
    std::vector<std::size_t> order = areal;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return size[a] > size[b]; });
    std::vector<int> depth(n, 0);
    std::vector<std::size_t> parent(n, n);
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::size_t i = order[k];
        for (std::size_t m = k; m-- > 0;) {  // smallest holder first
            const std::size_t j = order[m];
            if (ringInside(rings[i], extent[i], rings[j], extent[j])) {
                parent[i] = j;
                depth[i] = depth[j] + 1;
                break;
            }
        }
    }
    std::vector<std::size_t> groupOf(n, n);
    for (std::size_t i : areal)
        if (depth[i] % 2 == 0) {
            groupOf[i] = groups.size();
            groups.push_back({i, {}});
        }
    for (std::size_t i : areal)
        if (depth[i] % 2 == 1) groups[groupOf[parent[i]]].holes.push_back(i);
    return groups;
}

}  // namespace geom
