// export/edge_containment.h: whether a cell's coverage (one valid ring) contains a shape that comes near
// its edges, without relating the whole shape. A segment of the shape whose box meets the box of no
// coverage edge lies wholly inside or wholly outside, and a ray from its vertex says which by
// comparisons of coordinates alone; only the runs of segments near the edges are related (GEOS,
// all runs at once). Answers "contained" only when sure; anything else is left to the full test.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/geometry/geometry.h"
#include "platform/geometry/spatial_relation.h"

namespace geom {
struct Coord;
}

class EdgeContainment {
public:
    // A coverage that is not one valid ring of finite coordinates gives a test that never decides.
    explicit EdgeContainment(IGeometry* coverage);
    ~EdgeContainment();
    EdgeContainment(const EdgeContainment&) = delete;
    EdgeContainment& operator=(const EdgeContainment&) = delete;

    bool usable() const { return usable_; }
    // True: the coverage contains the shape (points, multipoints, polylines and polygons). False:
    // not known. Throws _com_error where GEOS fails on a run.
    bool contains(IGeometry* shape) const;

private:
    struct Box {
        double xmin, ymin, xmax, ymax;
    };
    int cellX(double x) const;
    int cellY(double y) const;
    // Far: the box meets no edge's box. OnEdge: a segment of that box lies on an edge that runs
    // with an axis (so on the coverage's boundary). Near: neither.
    enum class Near { Far, Near, OnEdge };
    Near nearEdge(const Box& b) const;
    bool inside(const geom::Coord& p) const;  // a point near no edge
    bool runsCovered(std::vector<std::vector<geom::Coord>>& runs) const;  // empties runs

    bool usable_ = false;
    std::vector<std::array<double, 4>> edges_;  // ax, ay, bx, by
    std::vector<Box> boxes_;
    Box extent_{};
    int grid_ = 0;
    double scaleX_ = 0, scaleY_ = 0;
    std::vector<std::vector<std::uint32_t>> cells_;  // edges whose box meets the cell, row by row
    std::unique_ptr<SpatialPredicate> covers_;
};
