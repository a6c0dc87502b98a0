// platform/geometry/shape.cpp: shape bookkeeping without GEOS: emptiness, extents, ring areas and
// the nesting of polygon rings (shared by GEOS conversion, areas and the GeoPackage writer).
#include "platform/geometry/shape.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>

namespace geom {

namespace {
// Below this a ring is read edge by edge: its rows would cost more than they save.
constexpr std::size_t kMinRowsRing = 64;
}  // namespace

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

IShapeSource& shapeSourceOf(IUnknown* geometry) {
    if (!geometry) throw _com_error(E_INVALIDARG, L"null geometry");
    IShapeSource* src = nullptr;
    if (FAILED(geometry->QueryInterface(IShapeSource::iid, reinterpret_cast<void**>(&src))) || !src)
        throw _com_error(E_INVALIDARG, L"not a geometry of the platform's geometry library");
    src->Release();  // the caller holds its own reference to the object
    return *src;
}

namespace {

// Widens e by the points of p that are not NaN; `first` while e holds none yet.
void extend(GeoExtent& e, bool& first, const Part& p) {
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
}

}  // namespace

GeoExtent shapeExtent(const Shape& s) {
    GeoExtent e;
    if (s.empty()) return e;
    bool first = true;
    for (const Part& p : s.parts) extend(e, first, p);
    return e;
}

GeoExtent ringExtent(const Part& ring) {
    GeoExtent e;
    bool first = true;
    extend(e, first, ring);
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

RingRows::RingRows(const Part& ring) {
    const std::size_t n = ring.size();
    if (n < kMinRowsRing || n > 0xFFFFFFFFu) return;
    ylo_ = ring[0].y;
    yhi_ = ring[0].y;
    for (const Coord& c : ring) {
        if (!std::isfinite(c.y)) return;
        ylo_ = std::min(ylo_, c.y);
        yhi_ = std::max(yhi_, c.y);
    }
    // About four edges a row; fewer rows where long edges would put one edge in too many of them.
    // row() is monotone, so an edge's rows run from the lower row of its ends to the higher.
    std::size_t rows = std::min<std::size_t>(n / 4, 1u << 16);
    std::vector<std::uint32_t> vertexRow(n);
    std::size_t spans = 0;
    for (;;) {
        scale_ = yhi_ > ylo_ ? double(rows) / (yhi_ - ylo_) : 0;
        if (!std::isfinite(scale_)) scale_ = 0;
        start_.assign(rows + 1, 0);
        for (std::size_t i = 0; i < n; ++i) vertexRow[i] = std::uint32_t(row(ring[i].y));
        spans = 0;
        for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
            const std::uint32_t first = std::min(vertexRow[i], vertexRow[j]), last = std::max(vertexRow[i], vertexRow[j]);
            spans += last - first + 1;
            for (std::uint32_t r = first; r <= last; ++r) ++start_[r + 1];
        }
        if (spans <= 4 * n || rows == 1) break;
        rows /= 2;
    }
    for (std::size_t r = 1; r <= rows; ++r) start_[r] += start_[r - 1];
    // Each row's offset runs to the row's end as its edges are placed, then all move up one.
    edges_.resize(spans);
    for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
        const std::uint32_t last = std::max(vertexRow[i], vertexRow[j]);
        for (std::uint32_t r = std::min(vertexRow[i], vertexRow[j]); r <= last; ++r) edges_[start_[r]++] = std::uint32_t(i);
    }
    for (std::size_t r = rows; r > 0; --r) start_[r] = start_[r - 1];
    start_[0] = 0;
}

inline std::size_t RingRows::row(double y) const {
    const std::size_t rows = start_.size() - 1;
    const double r = (y - ylo_) * scale_;
    if (!(r < double(rows))) return rows - 1;
    return r > 0 ? std::size_t(r) : 0;
}

std::pair<const std::uint32_t*, const std::uint32_t*> RingRows::edgesAt(double y) const {
    if (!(y >= ylo_ && y <= yhi_)) return {nullptr, nullptr};
    const std::size_t r = row(y);
    return {edges_.data() + start_[r], edges_.data() + start_[r + 1]};
}

namespace {

// One edge a-b against point p for the crossing count of locate: true when p lies on the edge,
// else `inside` flips when the edge crosses the ray from p towards +x.
inline bool edgeHolds(const Coord& p, const Coord& a, const Coord& b, bool& inside) {
    const double cross = (b.x - a.x) * (p.y - a.y) - (p.x - a.x) * (b.y - a.y);
    if (cross == 0 && std::min(a.x, b.x) <= p.x && p.x <= std::max(a.x, b.x) && std::min(a.y, b.y) <= p.y &&
        p.y <= std::max(a.y, b.y))
        return true;
    if ((a.y > p.y) != (b.y > p.y)) {
        const double xCross = a.x + (p.y - a.y) * (b.x - a.x) / (b.y - a.y);
        if (p.x < xCross) inside = !inside;
    }
    return false;
}

// 1 inside, -1 outside, 0 on the boundary of the (implicitly closed) ring. With rows, only the
// edges that can decide are read; the answer is the same.
int locate(const Coord& p, const Part& ring, const RingRows* rows) {
    bool inside = false;
    const std::size_t n = ring.size();
    if (rows && rows->usable()) {
        const auto [first, last] = rows->edgesAt(p.y);
        for (const std::uint32_t* e = first; e != last; ++e) {
            const std::size_t i = *e;
            if (edgeHolds(p, ring[i == 0 ? n - 1 : i - 1], ring[i], inside)) return 0;
        }
        return inside ? 1 : -1;
    }
    for (std::size_t i = 0, j = n - 1; i < n; j = i++)
        if (edgeHolds(p, ring[j], ring[i], inside)) return 0;
    return inside ? 1 : -1;
}

// Ring a lies inside ring b: the first vertex of a that is not on b's boundary decides.
// The rows of a candidate holder, made when it is asked a second time (a ring asked once is read
// faster edge by edge).
struct Holder {
    int asked = 0;
    std::unique_ptr<RingRows> rows;
};

bool ringInside(const Part& a, const GeoExtent& ea, const Part& b, const GeoExtent& eb, Holder& holder) {
    if (ea.xmin < eb.xmin || ea.xmax > eb.xmax || ea.ymin < eb.ymin || ea.ymax > eb.ymax) return false;
    if (++holder.asked == 2 && !holder.rows) holder.rows = std::make_unique<RingRows>(b);
    for (const Coord& c : a) {
        const int where = locate(c, b, holder.rows.get());
        if (where != 0) return where > 0;
    }
    return false;  // all on b's boundary: the same ring, not a hole of it
}

}  // namespace

std::vector<RingGroup> nestRings(const std::vector<Part>& rings, RingRowsByRing* rowsOut, RingMeasures* measures) {
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
    if (measures && measures->size() != n) measures->assign(n, RingMeasure{});
    for (std::size_t i : areal) {
        if (measures && (*measures)[i].known) {
            size[i] = std::fabs((*measures)[i].area);
            extent[i] = (*measures)[i].extent;
            continue;
        }
        const double area = signedArea(rings[i]);
        size[i] = std::fabs(area);
        extent[i] = ringExtent(rings[i]);
        if (measures) (*measures)[i] = RingMeasure{true, area, extent[i]};
    }
    // Larger rings first: a ring's holder is always met before it.
    std::vector<std::size_t> order = areal;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return size[a] > size[b]; });
    std::vector<int> depth(n, 0);
    std::vector<std::size_t> parent(n, n);
    std::vector<Holder> holders(n);
    if (rowsOut && rowsOut->size() == n)
        for (std::size_t i = 0; i < n; ++i) holders[i].rows = std::move((*rowsOut)[i]);
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::size_t i = order[k];
        for (std::size_t m = k; m-- > 0;) {  // smallest holder first
            const std::size_t j = order[m];
            if (ringInside(rings[i], extent[i], rings[j], extent[j], holders[j])) {
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
    if (rowsOut) {
        rowsOut->resize(n);
        for (std::size_t i = 0; i < n; ++i) (*rowsOut)[i] = std::move(holders[i].rows);
    }
    return groups;
}

}  // namespace geom
