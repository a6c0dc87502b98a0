// platform/topology/graph_build.h (internal): the graph of edges and nodes of a set of features,
// in plain C++ under the COM objects of platform/topology/topology_cache.cpp.
//
// All linework (line paths, area rings) is noded together by snap rounding on the grid of the
// tolerance: the hot pixels are every vertex and every crossing (found by GEOS), rounded, and each
// input segment is led through the hot pixels it meets, so that every feature knows the noded
// segments it runs along and in which direction. Edges run between nodes: a vertex where other
// than two segments meet, where a line path ends, or where the parents of the linework or their
// sides change; a cycle without such a vertex gets one node at its lowest vertex (by x, then y).
//
// The result depends on the features only, not on their order beyond their indices: nodes come
// sorted by x then y; edges in the order of their first node, then of their second vertex; an edge
// runs away from the lower of its two nodes (a cycle towards the lower neighbour of its node).
// Throws geom::GeometryError (GEOS failed, a coordinate that is not finite or too large for the
// grid) and std::bad_alloc.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/geometry/shape.h"

namespace topo {

enum class FeatureKind : std::uint8_t { Point, Line, Area };

// One feature of the graph: its kind and its shape (points and multipoints for Point, paths for
// Line, rings in any order and orientation for Area). The shape must outlive buildGraph.
struct GraphFeature {
    FeatureKind kind;
    const geom::Shape* shape;
};

// Which rings of an area parent an edge lies on.
enum RingBits : std::uint8_t { kRingNone = 0, kRingExterior = 1, kRingInterior = 2 };

// A parent feature of an edge: its index among the features; the side of the edge (as directed)
// on which its area lies (+1 right, -1 left, 0 for lines and for linework the area runs along both
// ways); the rings it lies on (RingBits, areas only).
struct ParentUse {
    std::int32_t feature;
    std::int8_t side;
    std::uint8_t ring;
    bool operator==(const ParentUse&) const = default;
};

struct GraphNode {
    double x;
    double y;
    std::int32_t degree;                // edge ends at the node (a loop counts twice)
    std::vector<std::int32_t> points;   // point features on the node, ascending
    std::vector<std::int32_t> parents;  // the point features and the parents of its edges, ascending
};

struct GraphEdge {
    std::int32_t from;
    std::int32_t to;
    std::vector<WKSPoint> points;       // from the from-node to the to-node, at least two
    std::vector<ParentUse> parents;     // ascending by feature
};

struct Graph {
    std::vector<GraphNode> nodes;
    std::vector<GraphEdge> edges;
};

// The grid step used for a tolerance: its reciprocal, snapped to the nearest integer when it lies
// that close (1e-7 gives exactly 1e7), as GEOS scales a grid size.
double gridScale(double tolerance);

// How GEOS finds the crossings of the linework: floating-point noding, which is fast (and falls
// back to the other when GEOS gives up on it), or GEOS's snap-rounding noding at the tolerance.
// Both give the same graph.
enum class CrossingFinder { Floating, SnapRounding };

// The graph of `features` noded at `tolerance` (above 0; GeometryError otherwise).
Graph buildGraph(const std::vector<GraphFeature>& features, double tolerance,
                 CrossingFinder finder = CrossingFinder::Floating);

}  // namespace topo
