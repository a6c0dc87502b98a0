// platform/topology/graph_build.cpp: the topology graph of a set of features: snap-rounding noding
// of their linework on the tolerance grid (GEOS finds the crossings; the vertices and the rounded
// crossings are the hot pixels; each segment is led through the hot pixels it meets, decided
// exactly in integers), then nodes and edges walked over the noded segments. Coordinates are held
// as integer grid cells while the graph is built, so that equal means equal. Linework shared by
// several features is noded once. Throws geom::GeometryError and std::bad_alloc (graph_build.h).
#include "platform/topology/graph_build.h"

#include <geos_c.h>

#include <algorithm>
#include <cmath>
#include <compare>
#include <cstdint>
#include <future>
#include <system_error>
#include <utility>

#include "platform/geometry/geos_support.h"

namespace topo {
namespace {

using geom::Coord;
using geom::GeometryError;
using geom::Part;

// A grid cell (a hot pixel when it holds a vertex or a crossing): its centre is the vertex.
struct Cell {
    std::int64_t x;
    std::int64_t y;
    auto operator<=>(const Cell&) const = default;
    // Spelled out: the sorts of cells and segments spend their time here.
    friend bool operator<(const Cell& a, const Cell& b) { return a.x != b.x ? a.x < b.x : a.y < b.y; }
};

struct CellHash {
    std::size_t operator()(const Cell& c) const noexcept {
        std::uint64_t h = std::uint64_t(c.x) * 0x9E3779B97F4A7C15ull;
        h ^= std::uint64_t(c.y) + 0x632BE59BD9B4E019ull + (h << 6) + (h >> 2);
        return std::size_t(h ^ (h >> 31));
    }
};

// Numbers keys in the order they are first met (open addressing; nothing is ever removed): the
// vertices and segments of the noding, met a few hundred thousand times in a cell.
template <class Key, class Hash>
class Numbering {
public:
    std::int32_t number(const Key& key) {
        if (2 * (keys.size() + 1) > slots_.size()) grow();
        std::size_t i = Hash()(key) & (slots_.size() - 1);
        for (; slots_[i] >= 0; i = (i + 1) & (slots_.size() - 1))
            if (keys[std::size_t(slots_[i])] == key) return slots_[i];
        slots_[i] = std::int32_t(keys.size());
        keys.push_back(key);
        return slots_[i];
    }
    // Room for n keys without growing.
    void reserve(std::size_t n) {
        std::size_t slots = 64;
        while (slots < 2 * (n + 1)) slots *= 2;
        if (slots > slots_.size()) {
            keys.reserve(n);
            grow(slots);
        }
    }
    // -1 when the key has no number.
    std::int32_t find(const Key& key) const {
        if (slots_.empty()) return -1;
        for (std::size_t i = Hash()(key) & (slots_.size() - 1); slots_[i] >= 0; i = (i + 1) & (slots_.size() - 1))
            if (keys[std::size_t(slots_[i])] == key) return slots_[i];
        return -1;
    }

    std::vector<Key> keys;  // by number

private:
    void grow() { grow(std::max<std::size_t>(64, 2 * slots_.size())); }
    void grow(std::size_t slots) {
        slots_.assign(slots, -1);
        for (std::size_t k = 0; k < keys.size(); ++k) {
            std::size_t i = Hash()(keys[k]) & (slots_.size() - 1);
            while (slots_[i] >= 0) i = (i + 1) & (slots_.size() - 1);
            slots_[i] = std::int32_t(k);
        }
    }
    std::vector<std::int32_t> slots_;
};

struct KeyHash {
    std::size_t operator()(std::uint64_t k) const noexcept {
        k *= 0x9E3779B97F4A7C15ull;
        return std::size_t(k ^ (k >> 29));
    }
};

// The features are rounded in runs of at least about this many vertices, side by side, and in
// this many runs at most.
constexpr std::size_t kVerticesByRun = 40000;
constexpr std::size_t kMostRuns = 4;

// Runs f on another thread, or where no thread is to be had, when its result is asked for.
template <class F>
auto aside(F f) {
    try {
        return std::async(std::launch::async, f);
    } catch (const std::system_error&) {
        return std::async(std::launch::deferred, f);
    }
}

// Grid values stay where doubles hold every integer and doubled products fit 128 bits.
constexpr double kGridLimit = 4503599627370496.0;  // 2^52

// GEOS's rounding (half away towards +infinity), so that a vertex lands in the cell its noding uses.
// The distance to the whole number below (or above) is exact, so halves are told exactly.
double roundHalfUp(double v) {
    if (v >= 0) {
        const double below = std::floor(v);
        return v - below < 0.5 ? below : below + 1.0;
    }
    const double above = std::ceil(v);
    return above - v <= 0.5 ? above : above - 1.0;
}

class Grid {
public:
    explicit Grid(double tolerance) : scale_(gridScale(tolerance)) {}
    Cell at(double x, double y) const { return {cell(x), cell(y)}; }
    double coord(std::int64_t v) const { return double(v) / scale_; }

private:
    std::int64_t cell(double v) const {
        const double s = roundHalfUp(v * scale_);
        if (!std::isfinite(s) || std::fabs(s) > kGridLimit)
            throw GeometryError("topology: a coordinate lies outside the tolerance grid");
        return std::int64_t(s);
    }
    double scale_;
};

using Wide = __int128;

int orientation(std::int64_t px, std::int64_t py, std::int64_t qx, std::int64_t qy, std::int64_t rx, std::int64_t ry) {
    const Wide d = Wide(qx - px) * Wide(ry - py) - Wide(qy - py) * Wide(rx - px);
    return d > 0 ? 1 : d < 0 ? -1 : 0;
}

// Whether segment a-b meets the hot pixel of h: the square of side one cell about h, its left and
// bottom sides included, its right and top sides not (the convention of GEOS's snap rounding).
// Worked in doubled coordinates, where the sides are integers.
bool meetsPixel(Cell a, Cell b, Cell h) {
    std::int64_t px = 2 * a.x, py = 2 * a.y, qx = 2 * b.x, qy = 2 * b.y;
    if (px > qx) {
        std::swap(px, qx);
        std::swap(py, qy);
    }
    const std::int64_t minx = 2 * h.x - 1, maxx = 2 * h.x + 1, miny = 2 * h.y - 1, maxy = 2 * h.y + 1;
    if (px >= maxx || qx < minx) return false;
    if (std::min(py, qy) >= maxy || std::max(py, qy) < miny) return false;
    if (px == qx || py == qy) return true;
    const int ul = orientation(px, py, qx, qy, minx, maxy);
    if (ul == 0) return !(py < qy);
    const int ur = orientation(px, py, qx, qy, maxx, maxy);
    if (ur == 0) return !(py > qy);
    if (ul != ur) return true;
    const int ll = orientation(px, py, qx, qy, minx, miny);
    if (ll == 0 || ll != ul) return true;
    const int lr = orientation(px, py, qx, qy, maxx, miny);
    if (lr == 0) return !(py < qy);
    return ll != lr || lr != ur;
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

// A hot pixel and its number (its place in the list of hot pixels).
struct Hot {
    Cell cell;
    std::int32_t number;
};

// The hot pixels in a grid of square buckets, for the pixels a segment may meet: buckets about the
// size of a typical segment (so that a segment looks at few buckets and few pixels), held as one
// array of bucket starts over the pixels sorted by bucket, column by column (so that a segment's
// buckets lie close together in memory).
class PixelIndex {
public:
    // `typical`: the usual extent of a segment, in cells.
    PixelIndex(const std::vector<Cell>& pixels, std::int64_t typical) {
        if (pixels.empty()) return;
        Cell lo = pixels[0], hi = pixels[0];
        for (const Cell& c : pixels) {
            lo = {std::min(lo.x, c.x), std::min(lo.y, c.y)};
            hi = {std::max(hi.x, c.x), std::max(hi.y, c.y)};
        }
        origin_ = lo;
        // Never larger than buckets holding a few pixels each were the pixels spread evenly, and
        // never more buckets than a few for each pixel.
        const double area = (double(hi.x - lo.x) + 1) * (double(hi.y - lo.y) + 1);
        const std::int64_t even = std::max<std::int64_t>(1, std::int64_t(std::sqrt(area / double(pixels.size())) * 2));
        size_ = std::clamp<std::int64_t>(typical, 1, even);
        const double most = 4.0 * double(pixels.size()) + 1024;
        for (;;) {
            columns_ = (hi.x - lo.x) / size_ + 1;
            rows_ = (hi.y - lo.y) / size_ + 1;
            if (double(columns_) * double(rows_) <= most) break;
            size_ *= 2;
        }
        start_.assign(std::size_t(columns_ * rows_) + 1, 0);
        for (const Cell& c : pixels) ++start_[bucket(c) + 1];
        for (std::size_t b = 0; b + 1 < start_.size(); ++b) start_[b + 1] += start_[b];
        cells_.resize(pixels.size());
        std::vector<std::uint32_t> fill(start_.begin(), start_.end() - 1);
        for (std::size_t n = 0; n < pixels.size(); ++n) cells_[fill[bucket(pixels[n])]++] = {pixels[n], std::int32_t(n)};
    }

    std::size_t size() const { return cells_.size(); }

    // Appends the hot pixels that segment a-b meets, in no particular order.
    void meets(Cell a, Cell b, std::vector<Hot>& out) const {
        if (cells_.empty()) return;
        Cell p = a, q = b;
        if (p.x > q.x) std::swap(p, q);
        const std::int64_t miny = std::min(p.y, q.y), maxy = std::max(p.y, q.y);
        const std::int64_t bx0 = std::max<std::int64_t>(0, floorDiv(p.x - origin_.x, size_));
        const std::int64_t bx1 = std::min(columns_ - 1, floorDiv(q.x - origin_.x, size_));
        for (std::int64_t bx = bx0; bx <= bx1; ++bx) {
            std::int64_t ylo = miny, yhi = maxy;
            if (p.x != q.x && bx0 != bx1) {
                // The segment's y over the column's x-range, widened by half a cell each way.
                const double x0 = std::max(double(p.x), double(origin_.x + bx * size_) - 0.5);
                const double x1 = std::min(double(q.x), double(origin_.x + bx * size_ + size_ - 1) + 0.5);
                const double slope = double(q.y - p.y) / double(q.x - p.x);
                const double y0 = double(p.y) + (x0 - double(p.x)) * slope;
                const double y1 = double(p.y) + (x1 - double(p.x)) * slope;
                ylo = std::max(miny, std::int64_t(std::floor(std::min(y0, y1))) - 1);
                yhi = std::min(maxy, std::int64_t(std::ceil(std::max(y0, y1))) + 1);
            }
            const std::int64_t by0 = std::max<std::int64_t>(0, floorDiv(ylo - origin_.y, size_));
            const std::int64_t by1 = std::min(rows_ - 1, floorDiv(yhi - origin_.y, size_));
            if (by0 > by1) continue;
            // The column's buckets by0..by1 are adjacent: their pixels are one run.
            const std::size_t first = std::size_t(bx * rows_ + by0), last = std::size_t(bx * rows_ + by1) + 1;
            for (std::uint32_t i = start_[first]; i < start_[last]; ++i)
                if (meetsPixel(a, b, cells_[i].cell)) out.push_back(cells_[i]);
        }
    }

private:
    std::size_t bucket(Cell c) const {
        return std::size_t(((c.x - origin_.x) / size_) * rows_ + (c.y - origin_.y) / size_);
    }

    Cell origin_{0, 0};
    std::int64_t size_ = 1, columns_ = 0, rows_ = 0;
    std::vector<std::uint32_t> start_;  // bucket k's pixels: [start_[k], start_[k + 1])
    std::vector<Hot> cells_;            // by bucket
};

using Segment = std::pair<Cell, Cell>;  // low end, high end

struct SegmentLess {
    bool operator()(const Segment& a, const Segment& b) const {
        return a.first != b.first ? a.first < b.first : a.second < b.second;
    }
};

struct SegmentHash {
    std::size_t operator()(const Segment& s) const noexcept {
        return CellHash()(s.first) * 31 + CellHash()(s.second);
    }
};

// The distinct segments of the paths with their numbers (in the order they are first met), sorted;
// and for each segment of the paths (in path order) the number of its distinct segment.
void distinctSegments(const std::vector<std::vector<Cell>>& paths,
                      std::vector<std::pair<Segment, std::uint32_t>>& sorted, std::vector<std::uint32_t>& numberOf) {
    Numbering<Segment, SegmentHash> seen;
    numberOf.clear();
    std::size_t all = 0;
    for (const auto& path : paths) all += path.size() > 1 ? path.size() - 1 : 0;
    seen.reserve(all);
    numberOf.reserve(all);
    for (const auto& path : paths)
        for (std::size_t i = 0; i + 1 < path.size(); ++i)
            numberOf.push_back(std::uint32_t(seen.number(std::minmax(path[i], path[i + 1]))));
    // Sorted with their numbers beside them (the keys are distinct: no two compare equal).
    sorted.resize(seen.keys.size());
    for (std::size_t k = 0; k < sorted.size(); ++k) sorted[k] = {seen.keys[k], std::uint32_t(k)};
    seen = {};
    std::sort(sorted.begin(), sorted.end(),
              [](const auto& a, const auto& b) { return SegmentLess()(a.first, b.first); });
}

// The median extent of the segments (the larger of their width and height), in cells.
std::int64_t typicalExtent(const std::vector<Segment>& distinct) {
    if (distinct.empty()) return 1;
    std::vector<std::int64_t> extents;
    extents.reserve(distinct.size());
    for (const auto& [lo, hi] : distinct) extents.push_back(std::max(hi.x - lo.x, std::max(hi.y, lo.y) - std::min(hi.y, lo.y)));
    auto middle = extents.begin() + std::ptrdiff_t(extents.size() / 2);
    std::nth_element(extents.begin(), middle, extents.end());
    return *middle;
}

// The distinct segments chained into lines: each run between cells where other than two segments
// meet becomes one line (a closed run starts at the low end of its first segment), so that
// linework shared by several features goes to GEOS once and in few pieces. placeOf: where each
// distinct segment lies, its chain (high half) and the place of its first vertex in the chain;
// cells: numbers the segments' ends (a new numbering).
std::vector<std::vector<Cell>> distinctChains(const std::vector<Segment>& distinct, std::vector<std::uint64_t>& placeOf,
                                              Numbering<Cell, CellHash>& cells,
                                              std::vector<std::pair<std::int32_t, std::int32_t>>& ends) {
    ends.assign(distinct.size(), {});
    for (std::size_t k = 0; k < distinct.size(); ++k) ends[k] = {cells.number(distinct[k].first), cells.number(distinct[k].second)};
    const std::size_t n = cells.keys.size();
    std::vector<std::uint32_t> start(n + 1, 0);
    for (const auto& [u, v] : ends) {
        ++start[std::size_t(u) + 1];
        ++start[std::size_t(v) + 1];
    }
    for (std::size_t c = 0; c < n; ++c) start[c + 1] += start[c];
    std::vector<std::uint32_t> adj(start[n]);
    {
        std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
        for (std::size_t k = 0; k < ends.size(); ++k) {
            adj[fill[std::size_t(ends[k].first)]++] = std::uint32_t(k);
            adj[fill[std::size_t(ends[k].second)]++] = std::uint32_t(k);
        }
    }
    auto degree = [&](std::int32_t c) { return start[std::size_t(c) + 1] - start[std::size_t(c)]; };
    std::vector<char> used(distinct.size(), 0);
    std::vector<std::vector<Cell>> chains;
    placeOf.assign(distinct.size(), 0);
    auto follow = [&](std::size_t k, std::int32_t from) {
        std::vector<Cell> chain{cells.keys[std::size_t(from)]};
        std::int32_t at = from;
        for (;;) {
            used[k] = 1;
            placeOf[k] = (std::uint64_t(chains.size()) << 32) | std::uint64_t(chain.size() - 1);
            at = ends[k].first == at ? ends[k].second : ends[k].first;
            chain.push_back(cells.keys[std::size_t(at)]);
            if (degree(at) != 2) break;
            const std::uint32_t* a = &adj[start[std::size_t(at)]];
            const std::size_t next = a[0] == k ? a[1] : a[0];
            if (used[next]) break;
            k = next;
        }
        chains.push_back(std::move(chain));
    };
    for (std::size_t k = 0; k < distinct.size(); ++k) {
        if (used[k]) continue;
        if (degree(ends[k].first) != 2)
            follow(k, ends[k].first);
        else if (degree(ends[k].second) != 2)
            follow(k, ends[k].second);
    }
    for (std::size_t k = 0; k < distinct.size(); ++k)
        if (!used[k]) follow(k, ends[k].first);
    return chains;
}

// A distinct segment with its box.
struct Boxed {
    Cell a, b;  // low end, high end
    std::int64_t y0, y1;
};

// Whether GEOS's noding could find anything on segments s and t but the end they share: they come
// within `margin` cells of each other, or, sharing an end, fold back onto each other (a sharp
// angle whose far ends lie within `margin` of the other's line). The margin covers the rounding of
// the cells to coordinates, so that what GEOS decides in floating point is never missed here.
bool mayInteract(const Boxed& s, const Boxed& t, std::int64_t margin) {
    if (s.b.x + margin < t.a.x || t.b.x + margin < s.a.x || s.y1 + margin < t.y0 || t.y1 + margin < s.y0) return false;
    const double m = double(margin);
    // A shared end: e, and the far ends p (of s) and q (of t).
    const Cell* e = nullptr;
    Cell p{}, q{};
    if (s.a == t.a) e = &s.a, p = s.b, q = t.b;
    else if (s.a == t.b) e = &s.a, p = s.b, q = t.a;
    else if (s.b == t.a) e = &s.b, p = s.a, q = t.b;
    else if (s.b == t.b) e = &s.b, p = s.a, q = t.a;
    if (e) {
        const double ux = double(p.x - e->x), uy = double(p.y - e->y), vx = double(q.x - e->x), vy = double(q.y - e->y);
        if (ux * vx + uy * vy <= 0) return false;  // apart by about a right angle or more
        const double cross = ux * vy - uy * vx;
        return cross * cross <= m * m * std::max(ux * ux + uy * uy, vx * vx + vy * vy);
    }
    // Crossing or touching, decided exactly (collinear ones apart along their line too: no harm).
    const int o1 = orientation(s.a.x, s.a.y, s.b.x, s.b.y, t.a.x, t.a.y);
    const int o2 = orientation(s.a.x, s.a.y, s.b.x, s.b.y, t.b.x, t.b.y);
    const int o3 = orientation(t.a.x, t.a.y, t.b.x, t.b.y, s.a.x, s.a.y);
    const int o4 = orientation(t.a.x, t.a.y, t.b.x, t.b.y, s.b.x, s.b.y);
    if (o1 * o2 <= 0 && o3 * o4 <= 0) return true;
    auto distance = [](Cell c, const Boxed& u) {
        const double sx = double(u.b.x - u.a.x), sy = double(u.b.y - u.a.y);
        const double cx = double(c.x - u.a.x), cy = double(c.y - u.a.y);
        const double k = std::clamp((cx * sx + cy * sy) / (sx * sx + sy * sy), 0.0, 1.0);
        const double dx = cx - k * sx, dy = cy - k * sy;
        return dx * dx + dy * dy;
    };
    const double m2 = m * m;
    return distance(s.a, t) <= m2 || distance(s.b, t) <= m2 || distance(t.a, s) <= m2 || distance(t.b, s) <= m2;
}

// The distinct segments on which GEOS's noding may find a crossing or an overlap (mayInteract with
// another segment). The others meet the rest of the linework only at their ends, where GEOS adds
// nothing: it need not see them. The segments go into square buckets along their length (widened
// by the margin), and the segments of each bucket are tested in pairs.
std::vector<char> crossingSegments(const std::vector<Segment>& distinct, std::int64_t typical) {
    std::vector<char> marked(distinct.size(), 0);
    if (distinct.empty()) return marked;
    std::vector<Boxed> boxed(distinct.size());
    Cell lo = distinct[0].first, hi = distinct[0].first;
    std::int64_t largest = 0;
    for (std::size_t k = 0; k < distinct.size(); ++k) {
        const auto& [a, b] = distinct[k];
        boxed[k] = {a, b, std::min(a.y, b.y), std::max(a.y, b.y)};
        lo = {std::min(lo.x, a.x), std::min(lo.y, boxed[k].y0)};
        hi = {std::max(hi.x, b.x), std::max(hi.y, boxed[k].y1)};
    }
    largest = std::max({-lo.x, hi.x, -lo.y, hi.y, std::int64_t(0)});
    // A few cells, and the rounding of the largest coordinate (cells of up to 2^52) many times over.
    const std::int64_t margin = 4 + std::int64_t(std::ceil(double(largest) * 0x1p-44));
    lo = {lo.x - margin, lo.y - margin};
    hi = {hi.x + margin, hi.y + margin};
    std::int64_t size = std::max<std::int64_t>(typical / 2, 4 * margin);
    const double most = 8.0 * double(distinct.size()) + 1024;
    std::int64_t columns = 0, rows = 0;
    for (;;) {
        columns = (hi.x - lo.x) / size + 1;
        rows = (hi.y - lo.y) / size + 1;
        if (double(columns) * double(rows) <= most) break;
        size *= 2;
    }
    // The buckets each segment lies in, column by column; larger buckets when long segments would
    // fill too many.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;  // bucket, segment
    const std::size_t mostEntries = 16 * distinct.size() + (std::size_t(1) << 20);
    for (bool full = true; full;) {
        full = false;
        entries.clear();
        entries.reserve(distinct.size() * 3);
        for (std::size_t k = 0; k < distinct.size() && !full; ++k) {
            const Boxed& g = boxed[k];  // g.a.x <= g.b.x
            const std::int64_t y0 = g.y0 - margin, y1 = g.y1 + margin;
            const std::int64_t bx0 = (g.a.x - margin - lo.x) / size, bx1 = (g.b.x + margin - lo.x) / size;
            for (std::int64_t bx = bx0; bx <= bx1; ++bx) {
                std::int64_t ylo = y0, yhi = y1;
                if (bx0 != bx1 && g.a.x != g.b.x) {
                    // The segment's y over the column's x-range, widened by the margin and a cell.
                    const double x0 = std::max(double(g.a.x), double(lo.x + bx * size - margin));
                    const double x1 = std::min(double(g.b.x), double(lo.x + bx * size + size + margin));
                    const double slope = double(g.b.y - g.a.y) / double(g.b.x - g.a.x);
                    const double ya = double(g.a.y) + (x0 - double(g.a.x)) * slope;
                    const double yb = double(g.a.y) + (x1 - double(g.a.x)) * slope;
                    ylo = std::max(y0, std::int64_t(std::floor(std::min(ya, yb))) - margin - 1);
                    yhi = std::min(y1, std::int64_t(std::ceil(std::max(ya, yb))) + margin + 1);
                }
                if (ylo > yhi) continue;
                const std::int64_t by0 = (ylo - lo.y) / size, by1 = (yhi - lo.y) / size;
                for (std::int64_t by = by0; by <= by1; ++by)
                    entries.push_back({std::uint32_t(bx * rows + by), std::uint32_t(k)});
            }
            full = entries.size() > mostEntries;
        }
        if (full) {
            size *= 4;
            columns = (hi.x - lo.x) / size + 1;
            rows = (hi.y - lo.y) / size + 1;
        }
    }
    std::vector<std::uint32_t> start(std::size_t(columns * rows) + 1, 0);
    for (const auto& [bucket, k] : entries) ++start[bucket + 1];
    for (std::size_t b = 0; b + 1 < start.size(); ++b) start[b + 1] += start[b];
    std::vector<std::uint32_t> members(entries.size());
    {
        std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
        for (const auto& [bucket, k] : entries) members[fill[bucket]++] = k;
    }
    entries.clear();
    entries.shrink_to_fit();
    // A bucket's segments come in the order of the distinct segments, so by their low end's x: the
    // later ones lie ever further right.
    for (std::size_t b = 0; b + 1 < start.size(); ++b)
        for (std::uint32_t i = start[b]; i < start[b + 1]; ++i) {
            const std::uint32_t s = members[i];
            for (std::uint32_t j = i + 1; j < start[b + 1]; ++j) {
                const std::uint32_t t = members[j];
                if (boxed[t].a.x > boxed[s].b.x + margin) break;
                if (mayInteract(boxed[s], boxed[t], margin)) marked[s] = marked[t] = 1;
            }
        }
    return marked;
}

// The hot pixels of the linework, each once (in no particular order): every vertex, and every
// crossing GEOS finds, rounded. Numbered, not sorted: GEOS gives back every vertex again.
// `crossing` is set to crossingSegments(distinct, typical), found aside while the chains are made;
// `ends`, the numbers of each distinct segment's ends among the hot pixels.
void hotPixels(const std::vector<Segment>& distinct, std::int64_t typical, std::vector<char>& crossing,
               double tolerance, const Grid& grid, CrossingFinder finder, Numbering<Cell, CellHash>& pixels,
               std::vector<std::pair<std::int32_t, std::int32_t>>& ends) {
    // Every vertex (the chains' numbering), then the crossings.
    pixels = {};
    std::vector<std::uint64_t> placeOf;
    std::future<std::vector<char>> crossingLater = aside([&distinct, typical] { return crossingSegments(distinct, typical); });
    const std::vector<std::vector<Cell>> chains = distinctChains(distinct, placeOf, pixels, ends);
    crossing = crossingLater.get();
    GEOSContextHandle_t ctx = geom::geosContext();
    std::vector<geom::Geom> lines;
    std::vector<double> buffer;
    // GEOS sees the segments it may find something on, in the order and direction of their chains
    // (a run of them along a chain as one line), so that it relates each pair as it would in the
    // whole linework.
    std::vector<std::uint64_t> places;
    for (std::size_t k = 0; k < distinct.size(); ++k)
        if (crossing[k]) places.push_back(placeOf[k]);
    std::sort(places.begin(), places.end());
    for (std::size_t i = 0; i < places.size();) {
        std::size_t j = i + 1;
        while (j < places.size() && places[j] == places[j - 1] + 1 && (places[j] >> 32) == (places[i] >> 32)) ++j;
        const std::vector<Cell>& chain = chains[std::size_t(places[i] >> 32)];
        const std::size_t first = std::size_t(places[i] & 0xFFFFFFFFu), count = j - i + 1;
        i = j;
        buffer.clear();
        for (std::size_t v = first; v < first + count; ++v) {
            buffer.push_back(grid.coord(chain[v].x));
            buffer.push_back(grid.coord(chain[v].y));
        }
        GEOSCoordSequence* seq = GEOSCoordSeq_copyFromBuffer_r(ctx, buffer.data(), unsigned(count), 0, 0);
        if (!seq) geom::throwGeos("topology: coordinate sequence");
        GEOSGeometry* line = GEOSGeom_createLineString_r(ctx, seq);
        if (!line) geom::throwGeos("topology: line string");
        lines.emplace_back(line, geom::GeomDestroy{ctx});
    }
    if (lines.empty()) return;
    std::vector<GEOSGeometry*> raw;
    raw.reserve(lines.size());
    for (auto& l : lines) raw.push_back(l.get());
    GEOSGeometry* collection = GEOSGeom_createCollection_r(ctx, GEOS_MULTILINESTRING, raw.data(), unsigned(raw.size()));
    if (!collection) geom::throwGeos("topology: line collection");
    for (auto& l : lines) (void)l.release();  // the collection owns them now
    geom::Geom all(collection, geom::GeomDestroy{ctx});
    // Floating noding finds the crossings fast; where it gives up (linework it cannot settle),
    // GEOS's snap-rounding noding at the tolerance finds them.
    geom::Geom noded(finder == CrossingFinder::Floating ? GEOSNode_r(ctx, all.get()) : nullptr, geom::GeomDestroy{ctx});
    if (!noded) noded.reset(GEOSUnaryUnionPrec_r(ctx, all.get(), tolerance));
    if (!noded) geom::throwGeos("topology: noding");

    std::vector<const GEOSGeometry*> stack{noded.get()};
    while (!stack.empty()) {
        const GEOSGeometry* g = stack.back();
        stack.pop_back();
        const int type = GEOSGeomTypeId_r(ctx, g);
        if (type == GEOS_LINESTRING || type == GEOS_LINEARRING) {
            const GEOSCoordSequence* seq = GEOSGeom_getCoordSeq_r(ctx, g);
            unsigned int n = 0;
            if (!seq || !GEOSCoordSeq_getSize_r(ctx, seq, &n)) geom::throwGeos("topology: noded line");
            buffer.resize(2 * std::size_t(n));
            if (n && !GEOSCoordSeq_copyToBuffer_r(ctx, seq, buffer.data(), 0, 0)) geom::throwGeos("topology: noded line");
            for (unsigned int i = 0; i < n; ++i) pixels.number(grid.at(buffer[2 * i], buffer[2 * i + 1]));
        } else if (type == GEOS_MULTILINESTRING || type == GEOS_GEOMETRYCOLLECTION) {
            const int n = GEOSGetNumGeometries_r(ctx, g);
            for (int i = 0; i < n; ++i) stack.push_back(GEOSGetGeometryN_r(ctx, g, i));
        }
    }
}

// One noded segment that a distinct segment runs along: its index and +1 when it runs from its
// low to its high end as the distinct segment does, -1 otherwise.
struct Piece {
    std::int32_t segment;
    std::int8_t sense;
};

// The noding of the linework: every distinct segment led through the hot pixels it meets, in
// order from its low to its high end, gives the noded segments it runs along. Vertices and noded
// segments are numbered as they are first met.
class Noding {
public:
    // crossing: the segments that may meet a hot pixel but their ends (crossingSegments): a segment
    // that meets no other within the margin passes through no other vertex's pixel, nor through a
    // crossing's (which lies on two segments that cross).
    // pixels: the hot pixels, numbered as `index` and `ends` (hotPixels) have them; they tell the
    // vertices by cell.
    Noding(const std::vector<Segment>& distinct, const std::vector<char>& crossing, const PixelIndex& index,
           const std::vector<std::pair<std::int32_t, std::int32_t>>& ends, Numbering<Cell, CellHash>&& pixels)
        : pixels_(std::move(pixels)) {
        start_.reserve(distinct.size() + 1);
        start_.push_back(0);
        Numbering<std::uint64_t, KeyHash> segmentOf;
        segmentOf.reserve(distinct.size());
        vertexOfPixel_.assign(pixels_.keys.size(), -1);
        vertices.reserve(pixels_.keys.size());
        std::vector<Hot> hits;
        for (std::size_t k = 0; k < distinct.size(); ++k) {
            const auto& [lo, hi] = distinct[k];
            hits.clear();
            if (crossing[k]) index.meets(lo, hi, hits);
            const Wide dx = hi.x - lo.x, dy = hi.y - lo.y;
            std::sort(hits.begin(), hits.end(), [&](const Hot& hu, const Hot& hv) {
                const Cell &u = hu.cell, &v = hv.cell;
                const Wide tu = (u.x - lo.x) * dx + (u.y - lo.y) * dy, tv = (v.x - lo.x) * dx + (v.y - lo.y) * dy;
                return tu != tv ? tu < tv : u < v;
            });
            Hot at{lo, ends[k].first};
            auto piece = [&](Hot to) {
                const bool rising = at.cell < to.cell;
                const std::int32_t u = vertexAt(rising ? at : to), v = vertexAt(rising ? to : at);
                const std::uint64_t key = (std::uint64_t(std::uint32_t(u)) << 32) | std::uint32_t(v);
                const std::int32_t segment = segmentOf.number(key);
                if (std::size_t(segment) == segments.size()) segments.push_back({u, v});
                pieces_.push_back({segment, std::int8_t(rising ? 1 : -1)});
                at = to;
            };
            for (const Hot& h : hits)
                if (h.cell != lo && h.cell != hi && h.cell != at.cell) piece(h);
            piece({hi, ends[k].second});
            start_.push_back(std::uint32_t(pieces_.size()));
        }
    }

    // Calls use(segment, sense) for each noded segment the rounded path a-b (distinct segment k)
    // runs along, in order from a to b; sense +1 when it runs the segment from its low to its high
    // end.
    template <class F>
    void along(Cell a, Cell b, std::size_t k, F&& use) const {
        if (a < b)
            for (std::uint32_t i = start_[k]; i < start_[k + 1]; ++i) use(pieces_[i].segment, pieces_[i].sense);
        else
            for (std::uint32_t i = start_[k + 1]; i-- > start_[k];) use(pieces_[i].segment, -pieces_[i].sense);
    }

    // The vertex at c, numbered next when it has none yet.
    std::int32_t vertex(Cell c) {
        std::int32_t p = pixels_.find(c);
        if (p < 0) {
            p = pixels_.number(c);
            vertexOfPixel_.push_back(-1);
        }
        return vertexAt({c, p});
    }
    // The vertex at c; -1 when there is none.
    std::int32_t find(Cell c) const {
        const std::int32_t p = pixels_.find(c);
        return p < 0 ? -1 : vertexOfPixel_[std::size_t(p)];
    }

    std::vector<Cell> vertices;  // by number, in the order they are first met
    std::vector<std::pair<std::int32_t, std::int32_t>> segments;  // low end, high end (by cell)

private:
    std::int32_t vertexAt(Hot h) {
        std::int32_t& v = vertexOfPixel_[std::size_t(h.number)];
        if (v < 0) {
            v = std::int32_t(vertices.size());
            vertices.push_back(h.cell);
        }
        return v;
    }

    Numbering<Cell, CellHash> pixels_;
    std::vector<std::int32_t> vertexOfPixel_;  // by pixel number; -1 where no segment meets the pixel
    std::vector<std::uint32_t> start_;  // pieces of distinct segment k: [start_[k], start_[k + 1])
    std::vector<Piece> pieces_;
};

// The rounded vertices of a part, repeats dropped; closed (last = first) when asked and possible.
void roundPart(const Part& part, const Grid& grid, bool close, std::vector<Cell>& out) {
    out.clear();
    for (const Coord& c : part) {
        const Cell cell = grid.at(c.x, c.y);
        if (out.empty() || out.back() != cell) out.push_back(cell);
    }
    if (close && out.size() > 1 && out.front() != out.back()) out.push_back(out.front());
}

// One path of the input: whose it is, and how it runs.
struct PathInfo {
    std::int32_t feature;
    bool area;
    std::uint8_t ring;  // RingBits
    std::int8_t hand;   // +1 when the area lies right of the path as it runs, -1 left
};

// One run of a path along a noded segment.
struct Use {
    std::int32_t segment;
    std::int32_t feature;
    std::int8_t sense;  // +1 along the segment (low to high end), -1 against; times the path's hand
    std::uint8_t ring;
    bool area;
};

struct Neighbour {
    std::int32_t vertex;
    std::int32_t segment;
};

// The rounded paths and points of features [first, last), and the distinct segments of the paths
// (distinctSegments).
struct Rounded {
    std::vector<std::vector<Cell>> paths;
    std::vector<PathInfo> infos;
    std::vector<std::pair<Cell, std::int32_t>> points;
    std::vector<std::pair<Segment, std::uint32_t>> sorted;
    std::vector<std::uint32_t> numberOf;
};

Rounded roundFeatures(const std::vector<GraphFeature>& features, std::size_t first, std::size_t last, const Grid& grid) {
    Rounded out;
    std::vector<Cell> rounded;
    for (std::size_t f = first; f < last; ++f) {
        const GraphFeature& feature = features[f];
        if (!feature.shape) continue;
        const auto& parts = feature.shape->parts;
        const std::int32_t id = std::int32_t(f);
        switch (feature.kind) {
        case FeatureKind::Point:
            for (const Part& part : parts)
                for (const Coord& c : part) out.points.push_back({grid.at(c.x, c.y), id});
            break;
        case FeatureKind::Line:
            for (const Part& part : parts) {
                roundPart(part, grid, false, rounded);
                if (rounded.size() < 2) continue;
                out.paths.push_back(rounded);
                out.infos.push_back({id, false, kRingNone, 0});
            }
            break;
        case FeatureKind::Area: {
            // Rings that enclose nothing count as exterior; their runs cancel out along themselves.
            std::vector<std::uint8_t> kind(parts.size(), kRingExterior);
            for (const geom::RingGroup& g : geom::nestRings(parts))
                for (std::size_t h : g.holes) kind[h] = kRingInterior;
            for (std::size_t r = 0; r < parts.size(); ++r) {
                roundPart(parts[r], grid, true, rounded);
                if (rounded.size() < 3) continue;
                const bool counterClockwise = geom::signedArea(parts[r]) > 0;
                // The area lies right of a clockwise exterior ring and of a counter-clockwise hole.
                const std::int8_t hand = (kind[r] == kRingExterior) != counterClockwise ? 1 : -1;
                out.paths.push_back(rounded);
                out.infos.push_back({id, true, kind[r], hand});
            }
            break;
        }
        }
    }

    distinctSegments(out.paths, out.sorted, out.numberOf);
    return out;
}

// The features rounded in runs of about equal numbers of vertices, the runs side by side on
// threads (one run for a small set), put together in feature order: the paths, their infos and
// the points; the distinct segments of all paths, sorted, and for each segment of the paths (in
// path order) the index of its distinct segment. The same whatever the runs.
void roundAll(const std::vector<GraphFeature>& features, const Grid& grid, std::vector<std::vector<Cell>>& paths,
              std::vector<PathInfo>& infos, std::vector<std::pair<Cell, std::int32_t>>& points,
              std::vector<Segment>& distinct, std::vector<std::uint32_t>& indexOf) {
    std::vector<std::size_t> weight(features.size() + 1, 0);
    for (std::size_t f = 0; f < features.size(); ++f) {
        std::size_t n = 0;
        if (features[f].shape)
            for (const Part& part : features[f].shape->parts) n += part.size();
        weight[f + 1] = weight[f] + n;
    }
    const std::size_t total = weight.back();
    const std::size_t runs = std::clamp<std::size_t>(total / kVerticesByRun, 1, kMostRuns);
    std::vector<std::size_t> bounds{0};
    for (std::size_t r = 1; r < runs; ++r)
        bounds.push_back(std::max(bounds.back(), std::size_t(std::lower_bound(weight.begin(), weight.end(), total * r / runs) -
                                                            weight.begin())));
    bounds.push_back(features.size());

    std::vector<std::future<Rounded>> later;
    for (std::size_t r = 1; r < runs; ++r)
        later.push_back(aside([&features, &bounds, &grid, r] { return roundFeatures(features, bounds[r], bounds[r + 1], grid); }));
    std::vector<Rounded> parts;
    parts.reserve(runs);
    parts.push_back(roundFeatures(features, bounds[0], bounds[1], grid));
    for (auto& f : later) parts.push_back(f.get());

    // The runs' sorted segments merged: a segment's index is its place among all (equal segments
    // of several runs are one).
    std::vector<std::vector<std::uint32_t>> indexOfNumber(parts.size());
    std::vector<std::size_t> at(parts.size(), 0);
    std::size_t most = 0;
    for (std::size_t r = 0; r < parts.size(); ++r) {
        indexOfNumber[r].resize(parts[r].sorted.size());
        most += parts[r].sorted.size();
    }
    distinct.clear();
    distinct.reserve(most);
    for (;;) {
        const Segment* least = nullptr;
        for (std::size_t r = 0; r < parts.size(); ++r)
            if (at[r] < parts[r].sorted.size() && (!least || SegmentLess()(parts[r].sorted[at[r]].first, *least)))
                least = &parts[r].sorted[at[r]].first;
        if (!least) break;
        const Segment segment = *least;
        for (std::size_t r = 0; r < parts.size(); ++r)
            if (at[r] < parts[r].sorted.size() && parts[r].sorted[at[r]].first == segment)
                indexOfNumber[r][parts[r].sorted[at[r]++].second] = std::uint32_t(distinct.size());
        distinct.push_back(segment);
    }

    paths.clear();
    infos.clear();
    points.clear();
    indexOf.clear();
    for (std::size_t r = 0; r < parts.size(); ++r) {
        Rounded& part = parts[r];
        for (auto& path : part.paths) paths.push_back(std::move(path));
        infos.insert(infos.end(), part.infos.begin(), part.infos.end());
        points.insert(points.end(), part.points.begin(), part.points.end());
        for (std::uint32_t n : part.numberOf) indexOf.push_back(indexOfNumber[r][n]);
        part = {};
    }
}


}  // namespace

double gridScale(double tolerance) {
    const double scale = 1.0 / tolerance;
    const double whole = std::round(scale);
    return whole >= 1 && std::fabs(scale - whole) <= 1e-9 * whole ? whole : scale;
}

Graph buildGraph(const std::vector<GraphFeature>& features, double tolerance, CrossingFinder finder) {
    if (!(tolerance > 0) || !std::isfinite(tolerance)) throw GeometryError("topology: the tolerance must be above 0");
    const Grid grid(tolerance);

    // The rounded paths and points; the hot pixels and the noded paths.
    std::vector<std::vector<Cell>> paths;
    std::vector<PathInfo> infos;
    std::vector<std::pair<Cell, std::int32_t>> points;
    std::vector<Segment> distinct;
    std::vector<std::uint32_t> distinctOf;
    roundAll(features, grid, paths, infos, points, distinct, distinctOf);
    const std::int64_t typical = typicalExtent(distinct);
    std::vector<char> crossing;
    Numbering<Cell, CellHash> pixels;
    std::vector<std::pair<std::int32_t, std::int32_t>> ends;
    hotPixels(distinct, typical, crossing, tolerance, grid, finder, pixels, ends);
    // The index is made before the noding takes the pixels over (arguments first).
    Noding noding(distinct, crossing, PixelIndex(pixels.keys, typical), ends, std::move(pixels));
    distinct.clear();
    distinct.shrink_to_fit();

    std::vector<Use> uses;
    std::vector<std::int32_t> lineEnds;
    std::size_t ordinal = 0;  // of the path segment
    for (std::size_t k = 0; k < paths.size(); ++k) {
        const std::vector<Cell>& path = paths[k];
        const PathInfo& info = infos[k];
        if (!info.area) {
            lineEnds.push_back(noding.vertex(path.front()));
            lineEnds.push_back(noding.vertex(path.back()));
        }
        const int hand = info.area ? info.hand : 1;
        for (std::size_t i = 0; i + 1 < path.size(); ++i)
            noding.along(path[i], path[i + 1], distinctOf[ordinal++], [&](std::int32_t segment, int sense) {
                uses.push_back({segment, info.feature, std::int8_t(sense * hand), info.ring, info.area});
            });
    }
    const std::vector<Cell>& vertices = noding.vertices;
    const auto& segments = noding.segments;
    // The vertices in order (x, then y), sorted aside while the segments' parents are gathered:
    // sorted with their cells beside them (the cells are distinct), not looked up in each comparison.
    // Neighbours of each vertex, by the neighbour's cell, gathered aside as well.
    std::future<std::pair<std::vector<std::int32_t>, std::vector<Neighbour>>> adjacencyLater = aside([&vertices, &segments] {
        const std::size_t nv = vertices.size();
        std::vector<std::int32_t> adjStart(nv + 1, 0);
        for (const auto& [lo, hi] : segments) {
            ++adjStart[std::size_t(lo) + 1];
            ++adjStart[std::size_t(hi) + 1];
        }
        for (std::size_t v = 0; v < nv; ++v) adjStart[v + 1] += adjStart[v];
        std::vector<Neighbour> adj(static_cast<std::size_t>(adjStart[nv]));
        {
            std::vector<std::int32_t> fill(adjStart.begin(), adjStart.end() - 1);
            for (std::size_t s = 0; s < segments.size(); ++s) {
                const auto [lo, hi] = segments[s];
                adj[std::size_t(fill[std::size_t(lo)]++)] = {hi, std::int32_t(s)};
                adj[std::size_t(fill[std::size_t(hi)]++)] = {lo, std::int32_t(s)};
            }
        }
        for (std::size_t v = 0; v < nv; ++v)
            std::sort(adj.begin() + adjStart[v], adj.begin() + adjStart[v + 1], [&](const Neighbour& a, const Neighbour& b) {
                return vertices[std::size_t(a.vertex)] < vertices[std::size_t(b.vertex)];
            });
        return std::make_pair(std::move(adjStart), std::move(adj));
    });
    std::future<std::vector<std::int32_t>> orderLater = aside([&vertices] {
        const std::size_t n = vertices.size();
        std::vector<std::pair<Cell, std::int32_t>> byCell(n);
        for (std::size_t v = 0; v < n; ++v) byCell[v] = {vertices[v], std::int32_t(v)};
        std::sort(byCell.begin(), byCell.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<std::int32_t> order(n);
        for (std::size_t r = 0; r < n; ++r) order[r] = byCell[r].second;
        return order;
    });

    // Each segment's parents, sides seen along the segment (low to high end): the runs by segment
    // (counted into place), then by feature.
    std::vector<std::int32_t> useStart(segments.size() + 1, 0);
    for (const Use& u : uses) ++useStart[std::size_t(u.segment) + 1];
    for (std::size_t s = 0; s < segments.size(); ++s) useStart[s + 1] += useStart[s];
    std::vector<Use> bySegment(uses.size());
    {
        std::vector<std::int32_t> fill(useStart.begin(), useStart.end() - 1);
        for (const Use& u : uses) bySegment[std::size_t(fill[std::size_t(u.segment)]++)] = u;
    }
    uses.clear();
    uses.shrink_to_fit();
    std::vector<std::int32_t> signatureStart(segments.size() + 1, 0);
    std::vector<ParentUse> signatures;
    for (std::size_t s = 0; s < segments.size(); ++s) {
        const auto first = bySegment.begin() + useStart[s], last = bySegment.begin() + useStart[s + 1];
        std::sort(first, last, [](const Use& a, const Use& b) { return a.feature < b.feature; });
        for (auto i = first; i != last;) {
            auto j = i;
            int net = 0;
            std::uint8_t ring = kRingNone;
            for (; j != last && j->feature == i->feature; ++j) {
                net += j->sense;
                ring = std::uint8_t(ring | j->ring);
            }
            const std::int8_t side = i->area ? std::int8_t(net > 0 ? 1 : net < 0 ? -1 : 0) : std::int8_t(0);
            signatures.push_back({i->feature, side, ring});
            i = j;
        }
        signatureStart[s + 1] = std::int32_t(signatures.size());
    }
    bySegment.clear();
    bySegment.shrink_to_fit();

    const auto [adjStart, adj] = adjacencyLater.get();
    const std::size_t nv = vertices.size();

    // +1 when going from vertex `from` to `to` runs a segment from its low to its high end.
    auto sense = [&](std::int32_t from, std::int32_t to) {
        return vertices[std::size_t(from)] < vertices[std::size_t(to)] ? 1 : -1;
    };

    // Nodes: other than two segments, a line's end, or a change of parents or sides.
    std::vector<char> isNode(nv, 0);
    for (std::int32_t v : lineEnds) isNode[std::size_t(v)] = 1;
    for (std::size_t v = 0; v < nv; ++v) {
        if (isNode[v]) continue;
        if (adjStart[v + 1] - adjStart[v] != 2) {
            isNode[v] = 1;
            continue;
        }
        const Neighbour& in = adj[std::size_t(adjStart[v])];
        const Neighbour& out = adj[std::size_t(adjStart[v]) + 1];
        const int senseIn = sense(in.vertex, std::int32_t(v)), senseOut = sense(std::int32_t(v), out.vertex);
        const auto a0 = signatures.begin() + signatureStart[std::size_t(in.segment)];
        const auto a1 = signatures.begin() + signatureStart[std::size_t(in.segment) + 1];
        const auto b0 = signatures.begin() + signatureStart[std::size_t(out.segment)];
        const auto b1 = signatures.begin() + signatureStart[std::size_t(out.segment) + 1];
        bool same = (a1 - a0) == (b1 - b0);
        for (auto a = a0, b = b0; same && a != a1; ++a, ++b)
            same = a->feature == b->feature && a->ring == b->ring && a->side * senseIn == b->side * senseOut;
        if (!same) isNode[v] = 1;
    }

    const std::vector<std::int32_t> order = orderLater.get();

    // Walks from node `start` along `first` to the next node; calls step(vertex) for each vertex
    // after the start; gives the end vertex.
    std::vector<char> visited(segments.size(), 0);
    auto walk = [&](std::int32_t start, const Neighbour& first, auto&& step) {
        std::int32_t at = first.vertex, segment = first.segment;
        visited[std::size_t(segment)] = 1;
        step(at);
        while (!isNode[std::size_t(at)]) {
            const Neighbour* a = &adj[std::size_t(adjStart[std::size_t(at)])];
            const Neighbour& next = a[0].segment == segment ? a[1] : a[0];
            at = next.vertex;
            segment = next.segment;
            visited[std::size_t(segment)] = 1;
            step(at);
        }
        (void)start;
        return at;
    };
    auto noStep = [](std::int32_t) {};

    // Cycles that no node reaches get one at their lowest vertex.
    for (std::int32_t v : order)
        if (isNode[std::size_t(v)])
            for (std::int32_t i = adjStart[std::size_t(v)]; i < adjStart[std::size_t(v) + 1]; ++i)
                if (!visited[std::size_t(adj[std::size_t(i)].segment)]) walk(v, adj[std::size_t(i)], noStep);
    for (std::int32_t v : order) {
        if (isNode[std::size_t(v)]) continue;
        const std::int32_t i = adjStart[std::size_t(v)];
        if (visited[std::size_t(adj[std::size_t(i)].segment)]) continue;
        isNode[std::size_t(v)] = 1;
        walk(v, adj[std::size_t(i)], noStep);
    }
    std::fill(visited.begin(), visited.end(), 0);

    Graph graph;
    std::vector<std::int32_t> nodeOf(nv, -1);
    for (std::int32_t v : order)
        if (isNode[std::size_t(v)]) {
            nodeOf[std::size_t(v)] = std::int32_t(graph.nodes.size());
            const Cell c = vertices[std::size_t(v)];
            graph.nodes.push_back({grid.coord(c.x), grid.coord(c.y), 0, {}, {}});
        }
    for (std::int32_t v : order) {
        if (!isNode[std::size_t(v)]) continue;
        for (std::int32_t i = adjStart[std::size_t(v)]; i < adjStart[std::size_t(v) + 1]; ++i) {
            const Neighbour& first = adj[std::size_t(i)];
            if (visited[std::size_t(first.segment)]) continue;
            GraphEdge edge;
            edge.from = nodeOf[std::size_t(v)];
            const Cell c0 = vertices[std::size_t(v)];
            edge.points.push_back({grid.coord(c0.x), grid.coord(c0.y)});
            const std::int32_t end = walk(v, first, [&](std::int32_t at) {
                const Cell c = vertices[std::size_t(at)];
                edge.points.push_back({grid.coord(c.x), grid.coord(c.y)});
            });
            edge.to = nodeOf[std::size_t(end)];
            const int along = sense(v, first.vertex);
            for (std::int32_t k = signatureStart[std::size_t(first.segment)]; k < signatureStart[std::size_t(first.segment) + 1]; ++k) {
                ParentUse p = signatures[std::size_t(k)];
                p.side = std::int8_t(p.side * along);
                edge.parents.push_back(p);
            }
            graph.edges.push_back(std::move(edge));
        }
    }

    // Point features on nodes; every node's parents.
    for (const auto& [cell, feature] : points) {
        const std::int32_t v = noding.find(cell);
        if (v < 0 || nodeOf[std::size_t(v)] < 0) continue;
        graph.nodes[std::size_t(nodeOf[std::size_t(v)])].points.push_back(feature);
    }
    for (const GraphEdge& e : graph.edges) {
        for (std::int32_t n : {e.from, e.to}) {
            GraphNode& node = graph.nodes[std::size_t(n)];
            ++node.degree;
            for (const ParentUse& p : e.parents) node.parents.push_back(p.feature);
        }
    }
    for (GraphNode& node : graph.nodes) {
        std::sort(node.points.begin(), node.points.end());
        node.points.erase(std::unique(node.points.begin(), node.points.end()), node.points.end());
        node.parents.insert(node.parents.end(), node.points.begin(), node.points.end());
        std::sort(node.parents.begin(), node.parents.end());
        node.parents.erase(std::unique(node.parents.begin(), node.parents.end()), node.parents.end());
    }
    return graph;
}

}  // namespace topo
