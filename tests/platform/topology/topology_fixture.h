// tests/platform/topology/topology_fixture.h: a geodatabase with a topology built in code, views
// of a built graph that compare as plain values, and the checks every graph must pass (edges meet
// only at nodes, each feature's linework comes back from its edges).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/topology/topology.h"

namespace topotest {

using XY = std::pair<double, double>;
using Ring = std::vector<XY>;

struct TempDir {
    std::filesystem::path path;
    TempDir();
    ~TempDir();
};

// Dataset "S57" with the polygon class "Area", the polyline class "Line", the point class "Point"
// (each with a text column NAME) in topology "S57_Topology" at `tolerance`.
class TopologyGdb {
public:
    explicit TopologyGdb(const std::filesystem::path& file, double tolerance = 1e-7);
    LONG addArea(const std::string& name, const std::vector<Ring>& rings);
    LONG addLine(const std::string& name, const Ring& path);
    LONG addPoint(const std::string& name, double x, double y);
    // The cache built over the envelope (the whole world when not given).
    ITopologyGraphPtr build(double xmin = -180, double ymin = -90, double xmax = 180, double ymax = 90);

    IWorkspacePtr workspace;
    IFeatureDatasetPtr dataset;
    ITopologyPtr topology;
    IFeatureClassPtr area, line, point;

private:
    LONG insert(IFeatureClass* cls, IGeometry* shape, const std::string& name);
};

// A parent as text: "NAME" of the feature, then ":E" or ":I" for the ring of an area parent.
struct EdgeView {
    int from = -1;
    int to = -1;
    std::vector<XY> points;
    std::vector<std::string> parents, left, right;  // sorted
    bool operator==(const EdgeView&) const = default;
};
struct NodeView {
    XY at;
    long degree = 0;
    std::vector<std::string> parents;  // names, sorted
    bool operator==(const NodeView&) const = default;
};
struct GraphView {
    std::vector<NodeView> nodes;
    std::vector<EdgeView> edges;
    bool operator==(const GraphView&) const = default;
};
// Parents are named by their NAME column.
GraphView viewOf(ITopologyGraph* graph);
std::string describe(const GraphView& view);

// A feature's key in the checks: class name and object id.
using FeatureKey = std::pair<std::string, LONG>;

// Fails the test where an edge meets another edge other than at their nodes: a node that is not
// an end of its edges, an edge vertex that lies on another edge, or a crossing GEOS finds when it
// nodes the edges again.
void expectNodedExactly(ITopologyGraph* graph);
// Fails the test where an area's rings (as directed segments, the area on their right) or a
// line's paths (as segments either way) differ from what its edges give: every segment must come
// back whole or split only at vertices within addedVertexOffset of it, and nothing else may come
// back. `features`: the shapes read from the classes, by key.
void expectFeaturesReassembled(ITopologyGraph* graph, const std::map<FeatureKey, IGeometryPtr>& features,
                               double addedVertexOffset);

}  // namespace topotest
