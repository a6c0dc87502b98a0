// platform/topology/topology_cache.cpp: the cache of a geodatabase topology (ITopologyGraph) with
// its edges, nodes and parent enumerators. A build reads the member features whose extent meets
// the envelope, class by class in the topology's order and by object id within a class, and hands
// them to the graph builder (platform/topology/graph_build.cpp); the objects given out share the
// built graph read-only. Every method runs in comGuard: failures come back as HRESULTs with a
// description, a failed build leaves the cache empty.
#include "platform/topology/topology.h"

#include <algorithm>
#include <array>
#include <exception>
#include <future>
#include <memory>
#include <system_error>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/geometry/shape.h"
#include "platform/topology/graph_build.h"

namespace {

struct ParentInfo {
    IFeatureClassPtr featureClass;
    _bstr_t className;
    LONG oid;
};

// A built graph; parents[i] is feature i of the graph.
struct GraphData {
    std::vector<ParentInfo> parents;
    topo::Graph graph;
};
using Data = std::shared_ptr<const GraphData>;

HRESULT fail(HRESULT hr, const char* text) {
    setErrorDescription(std::string_view(text));
    return hr;
}

template <class I>
HRESULT give(_com_ptr_t<I> p, I** out) {
    *out = p.Detach();
    return S_OK;
}

// One parent as an enumerator gives it: the feature's index and the ring it lies on.
struct ParentItem {
    std::int32_t feature;
    std::uint8_t ring;
};

class ParentEnum final : public ComObject<IEnumTopologyParent> {
public:
    ParentEnum(Data data, std::vector<ParentItem> items) : data_(std::move(data)), items_(std::move(items)) {}
    HRESULT get_Count(LONG* count) override {
        if (!count) return E_POINTER;
        *count = LONG(items_.size());
        return S_OK;
    }
    HRESULT raw_Next(TopologyParent* parent) override {
        if (!parent) return E_POINTER;
        *parent = TopologyParent{nullptr, nullptr, 0, esriTopologyParentRingNone};
        if (pos_ >= items_.size()) return S_FALSE;
        const ParentItem& item = items_[pos_++];
        const ParentInfo& info = data_->parents[std::size_t(item.feature)];
        parent->featureClass = info.featureClass.GetInterfacePtr();
        parent->className = info.className.GetBSTR();
        parent->oid = info.oid;
        parent->ring = esriTopologyParentRing(item.ring);
        return S_OK;
    }
    HRESULT raw_Reset() override {
        pos_ = 0;
        return S_OK;
    }

private:
    Data data_;
    std::vector<ParentItem> items_;
    std::size_t pos_ = 0;
};

HRESULT giveParents(const Data& data, std::vector<ParentItem> items, IEnumTopologyParent** out) {
    return give(IEnumTopologyParentPtr(static_cast<IEnumTopologyParent*>(new ParentEnum(data, std::move(items)))), out);
}

class Node final : public ComObject<ITopologyNode> {
public:
    Node(Data data, std::int32_t index) : data_(std::move(data)), index_(index) {}
    HRESULT get_Geometry(IGeometry** out) override {
        return comGuard([&] {
            if (!out) return E_POINTER;
            *out = nullptr;
            IPointPtr point(CLSID_Point);
            point->PutCoords(node().x, node().y);
            return give(IGeometryPtr(point), out);
        });
    }
    HRESULT get_Index(LONG* index) override {
        if (!index) return E_POINTER;
        *index = index_;
        return S_OK;
    }
    HRESULT get_Degree(LONG* degree) override {
        if (!degree) return E_POINTER;
        *degree = node().degree;
        return S_OK;
    }
    HRESULT get_Parents(IEnumTopologyParent** out) override {
        return comGuard([&] {
            if (!out) return E_POINTER;
            *out = nullptr;
            std::vector<ParentItem> items;
            for (std::int32_t f : node().parents) items.push_back({f, topo::kRingNone});
            return giveParents(data_, std::move(items), out);
        });
    }

private:
    const topo::GraphNode& node() const { return data_->graph.nodes[std::size_t(index_)]; }
    Data data_;
    std::int32_t index_;
};

ITopologyNodePtr nodeObject(const Data& data, std::int32_t index) {
    return ITopologyNodePtr(static_cast<ITopologyNode*>(new Node(data, index)));
}

class Edge final : public ComObject<ITopologyEdge> {
public:
    Edge(Data data, std::int32_t index) : data_(std::move(data)), index_(index) {}
    HRESULT get_Geometry(IGeometry** out) override {
        return comGuard([&] {
            if (!out) return E_POINTER;
            *out = nullptr;
            IPolylinePtr line(CLSID_Polyline);
            IPointCollectionPtr points(line);
            points->AddWKSPoints(LONG(edge().points.size()), edge().points.data());
            return give(IGeometryPtr(line), out);
        });
    }
    HRESULT get_Index(LONG* index) override {
        if (!index) return E_POINTER;
        *index = index_;
        return S_OK;
    }
    HRESULT get_FromNode(ITopologyNode** out) override { return end(edge().from, out); }
    HRESULT get_ToNode(ITopologyNode** out) override { return end(edge().to, out); }
    HRESULT get_Parents(IEnumTopologyParent** out) override { return parents(0, out); }
    HRESULT get_LeftParents(IEnumTopologyParent** out) override { return parents(-1, out); }
    HRESULT get_RightParents(IEnumTopologyParent** out) override { return parents(1, out); }

private:
    const topo::GraphEdge& edge() const { return data_->graph.edges[std::size_t(index_)]; }
    HRESULT end(std::int32_t node, ITopologyNode** out) {
        return comGuard([&] {
            if (!out) return E_POINTER;
            *out = nullptr;
            return give(nodeObject(data_, node), out);
        });
    }
    // side 0: all parents; -1 or +1: those whose area lies on that side.
    HRESULT parents(int side, IEnumTopologyParent** out) {
        return comGuard([&] {
            if (!out) return E_POINTER;
            *out = nullptr;
            std::vector<ParentItem> items;
            for (const topo::ParentUse& p : edge().parents)
                if (side == 0 || p.side == side) items.push_back({p.feature, p.ring});
            return giveParents(data_, std::move(items), out);
        });
    }
    Data data_;
    std::int32_t index_;
};

ITopologyEdgePtr edgeObject(const Data& data, std::int32_t index) {
    return ITopologyEdgePtr(static_cast<ITopologyEdge*>(new Edge(data, index)));
}

std::size_t edgeCount(const topo::Graph& graph) { return graph.edges.size(); }
std::size_t nodeCount(const topo::Graph& graph) { return graph.nodes.size(); }

// The enumerator of the graph's edges or nodes: count(graph) of them, make(data, index) gives each.
template <class EnumI, class ItemI, auto count, auto make>
class GraphEnum final : public ComObject<EnumI> {
public:
    explicit GraphEnum(Data data) : data_(std::move(data)) {}
    HRESULT get_Count(LONG* out) override {
        if (!out) return E_POINTER;
        *out = LONG(count(data_->graph));
        return S_OK;
    }
    HRESULT raw_Next(ItemI** out) override {
        return comGuard([&] {
            if (!out) return E_POINTER;
            *out = nullptr;
            if (pos_ >= count(data_->graph)) return S_FALSE;
            return give(make(data_, std::int32_t(pos_++)), out);
        });
    }
    HRESULT raw_Reset() override {
        pos_ = 0;
        return S_OK;
    }

private:
    Data data_;
    std::size_t pos_ = 0;
};
using EdgeEnum = GraphEnum<IEnumTopologyEdge, ITopologyEdge, edgeCount, edgeObject>;
using NodeEnum = GraphEnum<IEnumTopologyNode, ITopologyNode, nodeCount, nodeObject>;

// How a member class takes part in the graph; false for a class whose shapes it does not use.
bool kindOf(esriGeometryType type, topo::FeatureKind* kind) {
    switch (type) {
    case esriGeometryPoint:
    case esriGeometryMultipoint: *kind = topo::FeatureKind::Point; return true;
    case esriGeometryPolyline: *kind = topo::FeatureKind::Line; return true;
    case esriGeometryPolygon: *kind = topo::FeatureKind::Area; return true;
    default: return false;
    }
}

class TopologyGraph final : public ComObject<ITopologyGraph> {
public:
    TopologyGraph(IFeatureDataset* dataset, BSTR name) : dataset_(dataset), name_(name, true) {}

    HRESULT raw_Build(IEnvelope* extent, VARIANT_BOOL) override {
        return comGuard([&] {
            data_.reset();
            extent_ = nullptr;
            const std::unique_ptr<Ahead> ahead = std::move(ahead_);
            if (!extent) return fail(E_INVALIDARG, "the topology cache needs an envelope to build over");
            if (extent->GetIsEmpty()) return fail(E_INVALIDARG, "the topology cache cannot be built over an empty envelope");
            double xmin = 0, ymin = 0, xmax = 0, ymax = 0;
            extent->QueryCoords(&xmin, &ymin, &xmax, &ymax);
            std::shared_ptr<GraphData> data;
            if (ahead && ahead->box == std::array{xmin, ymin, xmax, ymax}) {
                if (ahead->failed) std::rethrow_exception(ahead->failed);
                ahead->reading.data->graph = ahead->graph.get();
                data = std::move(ahead->reading.data);
            } else {
                Reading reading = read(extent);
                reading.data->graph = topo::buildGraph(reading.features, reading.tolerance);
                data = std::move(reading.data);
            }
            IEnvelopePtr copy(CLSID_Envelope);
            copy->PutCoords(xmin, ymin, xmax, ymax);
            data_ = std::move(data);
            extent_ = copy;
            return S_OK;
        });
    }

    // Reads the features of a build over `extent` now and nodes them on another thread (see
    // beginTopologyGraphBuild). Whatever the reading throws is kept for the build.
    void beginBuild(IEnvelope* extent) {
        ahead_.reset();
        if (!extent || extent->GetIsEmpty()) return;
        auto ahead = std::make_unique<Ahead>();
        extent->QueryCoords(&ahead->box[0], &ahead->box[1], &ahead->box[2], &ahead->box[3]);
        try {
            ahead->reading = read(extent);
            const Reading* reading = &ahead->reading;
            auto work = [reading] { return topo::buildGraph(reading->features, reading->tolerance); };
            try {
                ahead->graph = std::async(std::launch::async, work);
            } catch (const std::system_error&) {
                ahead->graph = std::async(std::launch::deferred, work);  // no thread to be had: at the build
            }
        } catch (...) {
            ahead->failed = std::current_exception();
        }
        ahead_ = std::move(ahead);
    }

    HRESULT get_BuildExtent(IEnvelope** out) override {
        return comGuard([&] {
            if (!out) return E_POINTER;
            *out = nullptr;
            IEnvelopePtr copy(CLSID_Envelope);
            if (extent_) {
                double xmin = 0, ymin = 0, xmax = 0, ymax = 0;
                extent_->QueryCoords(&xmin, &ymin, &xmax, &ymax);
                copy->PutCoords(xmin, ymin, xmax, ymax);
            }
            return give(copy, out);
        });
    }
    HRESULT get_Topology(ITopology** out) override {
        return comGuard([&] {
            if (!out) return E_POINTER;
            *out = nullptr;
            return give(openTopology(), out);
        });
    }
    HRESULT get_Edges(IEnumTopologyEdge** out) override {
        return comGuard([&] {
            if (!out) return E_POINTER;
            *out = nullptr;
            if (!data_) return fail(GDB_E_NO_ROW, "the topology cache is not built");
            return give(IEnumTopologyEdgePtr(static_cast<IEnumTopologyEdge*>(new EdgeEnum(data_))), out);
        });
    }
    HRESULT get_Nodes(IEnumTopologyNode** out) override {
        return comGuard([&] {
            if (!out) return E_POINTER;
            *out = nullptr;
            if (!data_) return fail(GDB_E_NO_ROW, "the topology cache is not built");
            return give(IEnumTopologyNodePtr(static_cast<IEnumTopologyNode*>(new NodeEnum(data_))), out);
        });
    }

private:
    // The member features of a build over an envelope, as the graph builder takes them.
    struct Reading {
        std::shared_ptr<GraphData> data = std::make_shared<GraphData>();
        std::vector<IGeometryPtr> shapes;  // hold the shapes the features point at
        std::vector<topo::GraphFeature> features;
        double tolerance = 0;
    };
    // A build begun ahead: its envelope, what was read, the graph being built from it (declared
    // last, so that it is waited for before what it reads goes), or what the reading threw.
    struct Ahead {
        std::array<double, 4> box{};
        std::exception_ptr failed;
        Reading reading;
        std::future<topo::Graph> graph;
    };

    // Every member feature whose extent meets the envelope: class by class in the topology's
    // order, by object id within a class.
    Reading read(IEnvelope* extent) {
        const ITopologyPtr topology = openTopology();
        Reading reading;
        reading.tolerance = topology->GetClusterTolerance();
        IEnumFeatureClassPtr classes = topology->GetClasses();
        for (IFeatureClassPtr featureClass = classes->Next(); featureClass; featureClass = classes->Next()) {
            topo::FeatureKind kind;
            if (!kindOf(featureClass->GetShapeType(), &kind)) continue;
            const _bstr_t className = IDatasetPtr(featureClass)->GetName();
            ISpatialFilterPtr filter(CLSID_SpatialFilter);
            filter->PutRefGeometry(extent);
            filter->PutGeometryField(featureClass->GetShapeFieldName());
            filter->PutSpatialRel(esriSpatialRelEnvelopeIntersects);
            std::vector<std::pair<LONG, IGeometryPtr>> rows;
            IFeatureCursorPtr cursor = featureClass->Search(filter, VARIANT_FALSE);
            for (IFeaturePtr feature = cursor->NextFeature(); feature; feature = cursor->NextFeature()) {
                IGeometryPtr shape = feature->GetShape();
                if (shape && !shape->GetIsEmpty()) rows.push_back({feature->GetOID(), shape});
            }
            std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
            for (auto& [oid, shape] : rows) {
                reading.data->parents.push_back({featureClass, className, oid});
                reading.features.push_back({kind, &geom::shapeOf(shape)});
                reading.shapes.push_back(std::move(shape));
            }
        }
        return reading;
    }

    ITopologyPtr openTopology() {
        ITopologyContainerPtr container(dataset_);
        if (!container) _com_issue_error(E_NOINTERFACE);
        return container->GetTopologyByName(name_);
    }

    IFeatureDatasetPtr dataset_;
    _bstr_t name_;
    Data data_;
    IEnvelopePtr extent_;
    std::unique_ptr<Ahead> ahead_;
};

}  // namespace

HRESULT beginTopologyGraphBuild(ITopologyGraph* graph, IEnvelope* extent) {
    if (!graph) return E_POINTER;
    auto* cache = dynamic_cast<TopologyGraph*>(graph);
    if (!cache) return E_NOINTERFACE;
    return comGuard([&] {
        cache->beginBuild(extent);
        return S_OK;
    });
}

HRESULT createTopologyGraph(IFeatureDataset* dataset, BSTR topologyName, ITopologyGraph** graph) {
    if (!graph) return E_POINTER;
    *graph = nullptr;
    if (!dataset) return E_POINTER;
    return comGuard([&] {
        return give(ITopologyGraphPtr(static_cast<ITopologyGraph*>(new TopologyGraph(dataset, topologyName))), graph);
    });
}
