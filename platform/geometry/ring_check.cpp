// platform/geometry/ring_check.cpp: a quick proof that nested rings form a valid polygon, so that
// Simplify needs GEOS only for the rings it cannot clear. Every sign is taken with an error bound;
// a sign too close to call, or a case it does not know, leaves the answer to GEOS.
#include "platform/geometry/shape.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace geom {

namespace {

// Twice the bound of the rounding in the products and differences below (about 4.4e-16 relative).
constexpr double kSafe = 1e-15;
// Below this, products may have lost bits to underflow.
constexpr double kTiny = 1e-280;

// +1 when c lies left of the line a->b, -1 right, 0 when doubles cannot tell.
int turn(const Coord& a, const Coord& b, const Coord& c) {
    const double left = (a.x - c.x) * (b.y - c.y);
    const double right = (a.y - c.y) * (b.x - c.x);
    const double det = left - right;
    const double size = std::fabs(left) + std::fabs(right);
    if (size < kTiny) return 0;  // products near underflow lose the bound
    const double bound = kSafe * size;
    if (det > bound) return 1;
    if (-det > bound) return -1;
    return 0;
}

// The directions from v to a and from v to b surely make an angle above 90 degrees.
bool surelyObtuse(const Coord& v, const Coord& a, const Coord& b) {
    const double px = (a.x - v.x) * (b.x - v.x);
    const double py = (a.y - v.y) * (b.y - v.y);
    const double size = std::fabs(px) + std::fabs(py);
    return size >= kTiny && px + py < -kSafe * size;
}

struct Segment {
    double xmin, xmax, ymin, ymax;
    std::uint32_t ring;
    std::uint32_t at;      // from vertex at to at + 1
    std::uint32_t lo, hi;  // the rows of ymin and ymax
};

struct Scratch {
    std::vector<Segment> segments;
    std::vector<std::uint32_t> start, members, active;
};

// Scratch kept by the thread: a polygon's edges are many, and fresh pages cost more than the work
// done in them. Reached once a call (a thread-local's address is otherwise fetched at every use).
[[gnu::noinline]] Scratch& threadScratch() {
    thread_local Scratch scratch;
    return scratch;
}

// The scratch of a polygon of very many edges is let go after it: kept, it would stay as large as
// the largest polygon for the rest of the run (an import's peak memory comes at its commit), and
// the work on so many edges outweighs its fresh pages.
constexpr std::size_t kScratchKept = 256 * 1024;  // bytes
class ScratchUse {
public:
    ScratchUse() : scratch_(threadScratch()) {}
    ~ScratchUse() {
        const std::size_t bytes = scratch_.segments.capacity() * sizeof(Segment) +
                                  (scratch_.start.capacity() + scratch_.members.capacity() + scratch_.active.capacity()) *
                                      sizeof(std::uint32_t);
        if (bytes > kScratchKept) scratch_ = Scratch{};
    }
    ScratchUse(const ScratchUse&) = delete;
    ScratchUse& operator=(const ScratchUse&) = delete;
    Scratch& operator*() const { return scratch_; }

private:
    Scratch& scratch_;
};

class Checker {
 public:
    Checker(const std::vector<Part>& rings, RingRowsByRing& rows) : rings_(rings), rows_(rows) {
        rows_.resize(rings.size());
    }

    // No two edges share a point, but for the vertex between neighbours on one ring. Edges go
    // into rows of y by their y-range, and each row is swept along x in the order of xmin:
    // edges whose ranges overlap share a row and are compared in the first row they share. Where
    // too many edges overlap (long parallel edges), GEOS's index does better.
    bool edgesApart() {
        std::size_t total = 0;
        for (const Part& r : rings_) total += r.size() - 1;
        if (total > 0xFFFFFFFFu / 8) return false;
        const ScratchUse use;
        Scratch& scratch = *use;
        std::vector<Segment>& segments = scratch.segments;
        segments.resize(total);
        double ylo = rings_[0][0].y, yhi = ylo;
        Segment* to = segments.data();
        for (std::size_t k = 0; k < rings_.size(); ++k) {
            const Part& r = rings_[k];
            for (std::size_t i = 0; i + 1 < r.size(); ++i, ++to) {
                const Coord& a = r[i];
                const Coord& b = r[i + 1];
                *to = {std::min(a.x, b.x), std::max(a.x, b.x), std::min(a.y, b.y), std::max(a.y, b.y),
                       std::uint32_t(k), std::uint32_t(i), 0, 0};
                ylo = std::min(ylo, a.y);
                yhi = std::max(yhi, a.y);
            }
        }
        std::size_t rows = std::clamp<std::size_t>(total / 16, 1, 1u << 14);
        std::size_t spans = 0;
        std::vector<std::uint32_t>& start = scratch.start;
        for (;;) {
            double scale = yhi > ylo ? double(rows) / (yhi - ylo) : 0;
            if (!std::isfinite(scale)) scale = 0;
            auto row = [&](double y) -> std::uint32_t {
                const double r = (y - ylo) * scale;  // monotone in y
                if (!(r < double(rows))) return std::uint32_t(rows - 1);
                return r > 0 ? std::uint32_t(r) : 0;
            };
            start.assign(rows + 1, 0);
            spans = 0;
            for (Segment& g : segments) {
                g.lo = row(g.ymin);
                g.hi = row(g.ymax);
                spans += g.hi - g.lo + 1;
                for (std::uint32_t r = g.lo; r <= g.hi; ++r) ++start[r + 1];
            }
            if (spans <= 4 * total || rows == 1) break;
            rows /= 2;
        }
        for (std::size_t r = 1; r <= rows; ++r) start[r] += start[r - 1];
        // Each row's offset runs to the row's end as its edges are placed, then all move up one.
        std::vector<std::uint32_t>& members = scratch.members;
        members.resize(spans);
        for (std::uint32_t s = 0; s < segments.size(); ++s)
            for (std::uint32_t r = segments[s].lo; r <= segments[s].hi; ++r) members[start[r]++] = s;
        for (std::size_t r = rows; r > 0; --r) start[r] = start[r - 1];
        start[0] = 0;
        const std::size_t budget = 64 * total + 4096;
        std::size_t work = 0;
        std::vector<std::uint32_t>& active = scratch.active;
        for (std::uint32_t r = 0; r < rows; ++r) {
            const std::uint32_t first = start[r], last = start[r + 1];
            std::sort(members.begin() + first, members.begin() + last,
                      [&](std::uint32_t a, std::uint32_t b) { return segments[a].xmin < segments[b].xmin; });
            active.clear();
            for (std::uint32_t m = first; m < last; ++m) {
                const Segment& a = segments[members[m]];
                std::size_t kept = 0;
                for (const std::uint32_t t : active) {
                    const Segment& b = segments[t];
                    if (b.xmax < a.xmin) continue;  // behind the sweep for good
                    active[kept++] = t;
                    if (b.ymax < a.ymin || b.ymin > a.ymax || std::max(a.lo, b.lo) != r) continue;
                    if (!apart(a, b)) return false;
                }
                work += active.size();
                if (work > budget) return false;
                active.resize(kept);
                active.push_back(members[m]);
            }
        }
        return true;
    }

    // 1 when p lies inside ring k, -1 outside, 0 when it cannot tell (on or too near an edge).
    int inside(const Coord& p, std::size_t k) {
        const Part& r = rings_[k];
        bool in = false;
        auto cross = [&](const Coord& a, const Coord& b) -> bool {
            if ((a.y > p.y) == (b.y > p.y)) return true;
            const int t = turn(a, b, p);
            if (t == 0) return false;
            if ((b.y > a.y) == (t > 0)) in = !in;  // the edge meets the ray right of p
            return true;
        };
        std::unique_ptr<RingRows>& rows = rows_[k];
        if (rows && rows->usable()) {
            const auto [first, last] = rows->edgesAt(p.y);
            const std::size_t n = r.size();
            for (const std::uint32_t* e = first; e != last; ++e) {
                const std::size_t i = *e;
                if (!cross(r[i == 0 ? n - 1 : i - 1], r[i])) return 0;
            }
        } else {
            for (std::size_t i = 0; i + 1 < r.size(); ++i)
                if (!cross(r[i], r[i + 1])) return 0;
        }
        return in ? 1 : -1;
    }

    void prepare(std::size_t k) {
        if (!rows_[k]) rows_[k] = std::make_unique<RingRows>(rings_[k]);
    }

 private:
    bool apart(const Segment& s, const Segment& t) const {
        const Part& rs = rings_[s.ring];
        const Part& rt = rings_[t.ring];
        const Coord& p = rs[s.at];
        const Coord& q = rs[s.at + 1];
        const Coord& r = rt[t.at];
        const Coord& u = rt[t.at + 1];
        if (s.ring == t.ring) {
            const std::uint32_t last = std::uint32_t(rs.size() - 2);
            // Neighbours meet at their shared vertex and nowhere else unless they fold back.
            if (t.at == s.at + 1 || (s.at == last && t.at == 0)) return turn(p, q, u) != 0 || surelyObtuse(q, p, u);
            if (s.at == t.at + 1 || (t.at == last && s.at == 0)) return turn(r, u, q) != 0 || surelyObtuse(u, r, q);
        }
        const int a = turn(p, q, r);
        if (a != 0 && a == turn(p, q, u)) return true;
        const int b = turn(r, u, p);
        return b != 0 && b == turn(r, u, q);
    }

    const std::vector<Part>& rings_;
    RingRowsByRing& rows_;
};

}  // namespace

bool surelyValid(const std::vector<Part>& rings, const std::vector<RingGroup>& groups, RingRowsByRing* rows,
                 const RingMeasures* measures) {
    const std::size_t n = rings.size();
    for (const Part& r : rings) {
        if (r.size() < 4 || !sameXY(r.front(), r.back())) return false;
        for (const Coord& c : r)
            if (!std::isfinite(c.x) || !std::isfinite(c.y)) return false;
    }
    // What the grouping says of each ring: the shell it is a hole of, or n for a shell.
    std::vector<std::size_t> shellOf(n, n + 1);
    for (const RingGroup& g : groups) {
        if (g.shell >= n || shellOf[g.shell] != n + 1) return false;
        shellOf[g.shell] = n;
        for (const std::size_t h : g.holes) {
            if (h >= n || shellOf[h] != n + 1) return false;
            shellOf[h] = g.shell;
        }
    }
    for (std::size_t i = 0; i < n; ++i)
        if (shellOf[i] == n + 1) return false;  // a ring the grouping left out

    RingRowsByRing own;
    Checker check(rings, rows ? *rows : own);
    if (!check.edgesApart()) return false;

    // With no edges meeting, a ring lies wholly inside or outside each other ring, and one vertex
    // tells which. The rings holding a ring then form a chain; its depth and innermost holder must
    // be what the grouping says.
    if (n == 1) return shellOf[0] == n;  // no other ring to hold it or lie in it
    std::vector<GeoExtent> extent(n);
    const bool measured = measures && measures->size() == n;
    for (std::size_t i = 0; i < n; ++i)  // finite, as checked above
        extent[i] = measured && (*measures)[i].known ? (*measures)[i].extent : ringExtent(rings[i]);
    std::vector<std::size_t> asked(n, 0);
    std::vector<std::vector<std::size_t>> holders(n);
    for (std::size_t i = 0; i < n; ++i) {
        const GeoExtent& a = extent[i];
        for (std::size_t j = 0; j < n; ++j) {
            const GeoExtent& b = extent[j];
            if (j == i || a.xmin < b.xmin || a.xmax > b.xmax || a.ymin < b.ymin || a.ymax > b.ymax) continue;
            if (++asked[j] == 2) check.prepare(j);
            const int where = check.inside(rings[i][0], j);
            if (where == 0) return false;
            if (where > 0) holders[i].push_back(j);
        }
    }
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t depth = holders[i].size();
        std::vector<bool> seen(depth, false);
        std::size_t inner = n;
        for (const std::size_t j : holders[i]) {
            const std::size_t d = holders[j].size();
            if (d >= depth || seen[d]) return false;  // not a chain: something was misread
            seen[d] = true;
            if (d + 1 == depth) inner = j;
        }
        if (depth % 2 == 0 ? shellOf[i] != n : shellOf[i] != inner) return false;
    }
    return true;
}

}  // namespace geom
