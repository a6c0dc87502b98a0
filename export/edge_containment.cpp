// export/edge_containment.cpp: EdgeContainment (see edge_containment.h).
#include "export/edge_containment.h"

#include <algorithm>
#include <cmath>

#include "platform/geometry/shape.h"

namespace {

constexpr int kGrid = 64;
constexpr std::size_t kStretch = 16;  // segments tested as one box first

bool finite(const geom::Coord& c) { return std::isfinite(c.x) && std::isfinite(c.y); }

}  // namespace

EdgeContainment::EdgeContainment(IGeometry* coverage) {
    try {
        if (!coverage) return;
        const geom::Shape& s = geom::shapeOf(coverage);
        if (s.type != esriGeometryPolygon || s.parts.size() != 1) return;
        const geom::Part& ring = s.parts[0];
        if (ring.size() < 3) return;
        for (const geom::Coord& c : ring)
            if (!finite(c)) return;
        extent_ = {ring[0].x, ring[0].y, ring[0].x, ring[0].y};
        for (std::size_t i = 0; i < ring.size(); ++i) {
            const geom::Coord& a = ring[i];
            const geom::Coord& b = ring[(i + 1) % ring.size()];
            edges_.push_back({a.x, a.y, b.x, b.y});
            boxes_.push_back({std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)});
            extent_.xmin = std::min(extent_.xmin, a.x);
            extent_.ymin = std::min(extent_.ymin, a.y);
            extent_.xmax = std::max(extent_.xmax, a.x);
            extent_.ymax = std::max(extent_.ymax, a.y);
        }
        if (!(extent_.xmax > extent_.xmin && extent_.ymax > extent_.ymin)) return;
        grid_ = kGrid;
        scaleX_ = grid_ / (extent_.xmax - extent_.xmin);
        scaleY_ = grid_ / (extent_.ymax - extent_.ymin);
        if (!std::isfinite(scaleX_) || !std::isfinite(scaleY_)) return;
        // The runs near the edges: no point of them outside the coverage (their interiors and
        // boundaries miss its exterior). The shortcut's reasoning (the ray's parity, an exterior in
        // one piece) holds for a valid ring only; GEOS decides the shapes of any other whole.
        covers_ = std::make_unique<SpatialPredicate>(coverage, esriSpatialRelRelation, "******FF*");
        if (!covers_->isOneValidPolygonWithoutHoles()) return;
        cells_.assign(std::size_t(grid_ * grid_), {});
        for (std::size_t k = 0; k < boxes_.size(); ++k) {
            const Box& b = boxes_[k];
            for (int y = cellY(b.ymin); y <= cellY(b.ymax); ++y)
                for (int x = cellX(b.xmin); x <= cellX(b.xmax); ++x)
                    cells_[std::size_t(y * grid_ + x)].push_back(std::uint32_t(k));
        }
        usable_ = true;
    } catch (const _com_error&) {
        usable_ = false;
    }
}

EdgeContainment::~EdgeContainment() = default;

// The same rounding for every coordinate keeps the cells monotone in the coordinate: two boxes
// that meet share a cell.
int EdgeContainment::cellX(double x) const {
    const double c = (x - extent_.xmin) * scaleX_;
    return c < 1 ? 0 : c >= grid_ ? grid_ - 1 : int(c);
}
int EdgeContainment::cellY(double y) const {
    const double c = (y - extent_.ymin) * scaleY_;
    return c < 1 ? 0 : c >= grid_ ? grid_ - 1 : int(c);
}

EdgeContainment::Near EdgeContainment::nearEdge(const Box& b) const {
    if (b.xmin > extent_.xmax || b.xmax < extent_.xmin || b.ymin > extent_.ymax || b.ymax < extent_.ymin)
        return Near::Far;
    Near near = Near::Far;
    const int x0 = cellX(b.xmin), x1 = cellX(b.xmax);
    for (int y = cellY(b.ymin), y1 = cellY(b.ymax); y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            for (std::uint32_t k : cells_[std::size_t(y * grid_ + x)]) {
                const Box& e = boxes_[k];
                if (!(e.xmin <= b.xmax && b.xmin <= e.xmax && e.ymin <= b.ymax && b.ymin <= e.ymax)) continue;
                // Along an edge that runs with an axis, within its ends: on the coverage's boundary.
                if ((e.xmin == e.xmax && b.xmin == e.xmin && b.xmax == e.xmin && e.ymin <= b.ymin && b.ymax <= e.ymax) ||
                    (e.ymin == e.ymax && b.ymin == e.ymin && b.ymax == e.ymin && e.xmin <= b.xmin && b.xmax <= e.xmax))
                    return Near::OnEdge;
                near = Near::Near;
            }
    return near;
}

// A ray along +x from a point outside every edge's box: an edge whose y-range holds the point's y
// lies wholly to its left or wholly to its right, so that each crossing is decided by comparisons.
bool EdgeContainment::inside(const geom::Coord& p) const {
    bool in = false;
    for (std::size_t k = 0; k < edges_.size(); ++k) {
        const auto& e = edges_[k];
        if ((e[1] > p.y) != (e[3] > p.y) && p.x < boxes_[k].xmin) in = !in;
    }
    return in;
}

bool EdgeContainment::runsCovered(std::vector<std::vector<geom::Coord>>& runs) const {
    if (runs.empty()) return true;
    geom::Shape lines;
    lines.type = esriGeometryPolyline;
    lines.parts = std::move(runs);
    runs.clear();
    return covers_->matches(geom::makeGeometry(std::move(lines)));
}

bool EdgeContainment::contains(IGeometry* shape) const {
    if (!usable_ || !shape) return false;
    const geom::Shape& s = geom::shapeOf(shape);
    if (s.empty()) return false;
    for (const geom::Part& part : s.parts)
        for (const geom::Coord& c : part)
            if (!finite(c)) return false;
    auto pointBox = [](const geom::Coord& c) { return Box{c.x, c.y, c.x, c.y}; };
    switch (s.type) {
        case esriGeometryPoint:
        case esriGeometryMultipoint:
            // Every point inside, none on an edge: the interiors meet at any of them.
            for (const geom::Part& part : s.parts)
                for (const geom::Coord& c : part)
                    if (nearEdge(pointBox(c)) != Near::Far || !inside(c)) return false;
            return true;
        case esriGeometryPolyline:
        case esriGeometryPolygon:
            break;
        default:
            return false;
    }
    const bool rings = s.type == esriGeometryPolygon;
    // An area needs an interior of its own to meet the coverage's; a line, a segment inside.
    if (rings && geom::signedArea(s.parts[0]) == 0) return false;
    bool interiorsMeet = false;
    // The runs of segments near the edges, related together once the far segments are known inside.
    std::vector<std::vector<geom::Coord>> runs;
    for (const geom::Part& part : s.parts) {
        const std::size_t n = part.size();
        const std::size_t segments = rings ? n : (n > 0 ? n - 1 : 0);
        bool farBefore = false;  // the segment before was far from the edges (and inside)
        bool inRun = false;
        for (std::size_t i = 0; i < segments; ++i) {
            // A stretch of segments whose box meets no edge is far as a whole (most of a shape).
            if (i % kStretch == 0 && segments - i >= kStretch) {
                Box box{part[i].x, part[i].y, part[i].x, part[i].y};
                for (std::size_t j = i + 1; j <= i + kStretch; ++j) {
                    const geom::Coord& c = part[j % n];
                    box = {std::min(box.xmin, c.x), std::min(box.ymin, c.y), std::max(box.xmax, c.x), std::max(box.ymax, c.y)};
                }
                if ((box.xmin < box.xmax || box.ymin < box.ymax) && nearEdge(box) == Near::Far) {
                    inRun = false;
                    if (!farBefore && !inside(part[i])) return false;
                    farBefore = true;
                    interiorsMeet = true;
                    i += kStretch - 1;
                    continue;
                }
            }
            const geom::Coord& p = part[i];
            const geom::Coord& q = part[(i + 1) % n];
            if (geom::sameXY(p, q)) continue;
            const Box b{std::min(p.x, q.x), std::min(p.y, q.y), std::max(p.x, q.x), std::max(p.y, q.y)};
            const Near near = nearEdge(b);
            if (near == Near::Near) {
                if (!inRun) runs.push_back({p});
                runs.back().push_back(q);
                inRun = true;
                farBefore = false;
                continue;
            }
            inRun = false;
            if (near == Near::OnEdge) {  // covered, and no interior of its own
                farBefore = false;
                continue;
            }
            // A far segment meets no edge: it lies inside or outside whole, as its neighbour far
            // from the edges through their common vertex does.
            if (!farBefore && !inside(p)) return false;
            farBefore = true;
            interiorsMeet = true;
        }
    }
    if (!runsCovered(runs)) return false;
    // Every ring within a coverage of one ring: so is what they enclose, an interior of its own.
    return rings || interiorsMeet;
}
