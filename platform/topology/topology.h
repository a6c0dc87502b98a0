// platform/topology/topology.h: the graph of a geodatabase topology (ITopology, platform/gdb/gdb.h)
// over an area: its cache, the edges and nodes of the cache, and their parent features.
//
//   ITopologyGraphPtr cache = topology->GetCache();
//   cache->Build(envelope, VARIANT_FALSE);
//   IEnumTopologyEdgePtr edges = cache->GetEdges();
//   for (ITopologyEdgePtr e = edges->Next(); e; e = edges->Next()) { ... }
//
// Build reads every feature of the topology's member classes whose extent meets the envelope and
// nodes all their linework together at the topology's cluster tolerance (snap rounding on the grid
// of the tolerance: vertices and crossings move to the nearest grid point, and linework that passes
// through the grid cell of one is led through that point). Keep the tolerance at or below one
// coordinate unit of the data (1/COMF for S-57), so that no vertex of the data moves.
// - A node lies where other than two noded segments meet, where a path of a line feature ends, or
//   where the parent features of the linework, their sides or their rings change. A ring (or a
//   closed run of linework) without such a point gets one node at its lowest vertex (by x, then y).
// - Edges meet only at nodes, at exactly the same coordinates; no edge crosses or touches another
//   elsewhere.
// - Each edge knows all its parent features, those whose area lies on its left and on its right
//   (as the edge runs from its from-node to its to-node), and for an area parent the ring it lies
//   on (exterior ring or hole, as the area's rings nest). Lines are parents on neither side.
// - Each node knows the point features on it (points and multipoints of member classes whose
//   vertex falls on the node's grid point) and, as its parents, those and every parent of its edges.
// - The graph depends on the data only, not on the order of rows in the tables: nodes come in order
//   of x then y; edges in order of their first node, then of their second vertex; an edge runs away
//   from the lower of its nodes (a closed edge towards the lower neighbour of its node). Parents
//   come by member class (in the topology's order), then object id.
//
// Failures: E_POINTER for a null out pointer; E_INVALIDARG for a null or empty envelope;
// GDB_E_NO_ROW for edges and nodes asked for before a build; the geodatabase's result when a
// member class cannot be read; E_FAIL with GEOS's text when the noding fails. A failed build
// leaves the cache empty.
#pragma once

#include "platform/gdb/gdb.h"

// Which rings of an area parent an edge lies on.
enum esriTopologyParentRing {
    esriTopologyParentRingNone = 0,      // a point or line parent
    esriTopologyParentRingExterior = 1,  // an exterior ring of the area
    esriTopologyParentRingInterior = 2,  // a hole of the area
    esriTopologyParentRingBoth = 3,      // an exterior ring and a hole (rings that share linework)
};

// One parent feature of a topology element. featureClass and className belong to the graph: they
// stay valid while the enumerator that gave them lives; AddRef or copy them to keep them longer.
struct TopologyParent {
    IFeatureClass* featureClass;
    BSTR className;  // the class's name as the geodatabase gives it
    LONG oid;
    esriTopologyParentRing ring;  // edges of area parents; None otherwise
};

struct ITopologyEdge;
struct ITopologyNode;

// Next gives S_FALSE and a zeroed parent after the last.
struct IEnumTopologyParent : IUnknown {
    static constexpr GUID iid = makeGuid("{3D2E8C41-7A5B-4F0E-9C61-2B8F4D7E1A93}");
    using base_interface = IUnknown;
    virtual HRESULT get_Count(LONG* count) = 0;
    virtual HRESULT raw_Next(TopologyParent* parent) = 0;
    virtual HRESULT raw_Reset() = 0;

    LONG GetCount();
    bool Next(TopologyParent* parent);  // false after the last
    HRESULT Reset();
};

struct ITopologyNode : IUnknown {
    static constexpr GUID iid = makeGuid("{8B1F5E27-03C4-4D9A-A7E2-5C6D9F0B3E18}");
    using base_interface = IUnknown;
    virtual HRESULT get_Geometry(IGeometry** point) = 0;  // a new point
    virtual HRESULT get_Index(LONG* index) = 0;            // its place among the cache's nodes
    virtual HRESULT get_Degree(LONG* degree) = 0;          // edge ends at the node (a closed edge counts twice)
    virtual HRESULT get_Parents(IEnumTopologyParent** parents) = 0;

    _com_ptr_t<IGeometry> GetGeometry();
    LONG GetIndex();
    LONG GetDegree();
    _com_ptr_t<IEnumTopologyParent> GetParents();
};

struct ITopologyEdge : IUnknown {
    static constexpr GUID iid = makeGuid("{C47A9D02-6E3B-4B15-8F2C-91D0E6A5B374}");
    using base_interface = IUnknown;
    virtual HRESULT get_Geometry(IGeometry** polyline) = 0;  // a new polyline of one path
    virtual HRESULT get_Index(LONG* index) = 0;               // its place among the cache's edges
    virtual HRESULT get_FromNode(ITopologyNode** node) = 0;
    virtual HRESULT get_ToNode(ITopologyNode** node) = 0;
    virtual HRESULT get_Parents(IEnumTopologyParent** parents) = 0;
    virtual HRESULT get_LeftParents(IEnumTopologyParent** parents) = 0;
    virtual HRESULT get_RightParents(IEnumTopologyParent** parents) = 0;

    _com_ptr_t<IGeometry> GetGeometry();
    LONG GetIndex();
    _com_ptr_t<ITopologyNode> GetFromNode();
    _com_ptr_t<ITopologyNode> GetToNode();
    _com_ptr_t<IEnumTopologyParent> GetParents();
    _com_ptr_t<IEnumTopologyParent> GetLeftParents();
    _com_ptr_t<IEnumTopologyParent> GetRightParents();
};

// Next gives S_FALSE and null after the last.
struct IEnumTopologyEdge : IUnknown {
    static constexpr GUID iid = makeGuid("{5A0C7E93-D4B2-4E61-B8F7-0E3A92C6D158}");
    using base_interface = IUnknown;
    virtual HRESULT get_Count(LONG* count) = 0;
    virtual HRESULT raw_Next(ITopologyEdge** edge) = 0;
    virtual HRESULT raw_Reset() = 0;

    LONG GetCount();
    _com_ptr_t<ITopologyEdge> Next();
    HRESULT Reset();
};

struct IEnumTopologyNode : IUnknown {
    static constexpr GUID iid = makeGuid("{E2B94F16-8C0A-4A73-95DE-7F14B3A0C629}");
    using base_interface = IUnknown;
    virtual HRESULT get_Count(LONG* count) = 0;
    virtual HRESULT raw_Next(ITopologyNode** node) = 0;
    virtual HRESULT raw_Reset() = 0;

    LONG GetCount();
    _com_ptr_t<ITopologyNode> Next();
    HRESULT Reset();
};

// The cache of a topology (ITopology::GetCache gives the same one for a topology object). Building
// again replaces the graph; edge, node and enumerator objects taken before keep the graph they
// came from.
struct ITopologyGraph : IUnknown {
    static constexpr GUID iid = makeGuid("{0F6B3A58-B9E1-4C2D-8A47-D35E1C09F762}");
    using base_interface = IUnknown;
    // keepEdits is accepted and not used (the cache holds no edits).
    virtual HRESULT raw_Build(IEnvelope* extent, VARIANT_BOOL keepEdits) = 0;
    virtual HRESULT get_BuildExtent(IEnvelope** extent) = 0;  // a copy; empty before a build
    virtual HRESULT get_Topology(ITopology** topology) = 0;
    virtual HRESULT get_Edges(IEnumTopologyEdge** edges) = 0;
    virtual HRESULT get_Nodes(IEnumTopologyNode** nodes) = 0;

    HRESULT Build(IEnvelope* extent, VARIANT_BOOL keepEdits = VARIANT_FALSE);
    _com_ptr_t<IEnvelope> GetBuildExtent();
    _com_ptr_t<ITopology> GetTopology();
    _com_ptr_t<IEnumTopologyEdge> GetEdges();
    _com_ptr_t<IEnumTopologyNode> GetNodes();
};

_COM_SMARTPTR_TYPEDEF(IEnumTopologyParent, __uuidof(IEnumTopologyParent));
_COM_SMARTPTR_TYPEDEF(ITopologyNode, __uuidof(ITopologyNode));
_COM_SMARTPTR_TYPEDEF(ITopologyEdge, __uuidof(ITopologyEdge));
_COM_SMARTPTR_TYPEDEF(IEnumTopologyEdge, __uuidof(IEnumTopologyEdge));
_COM_SMARTPTR_TYPEDEF(IEnumTopologyNode, __uuidof(IEnumTopologyNode));
_COM_SMARTPTR_TYPEDEF(ITopologyGraph, __uuidof(ITopologyGraph));

// A new, empty cache of the topology named `topologyName` of `dataset` (what ITopology::get_Cache
// gives out; the topology is looked up by name at each build, so the cache holds no topology
// object). E_POINTER, or E_OUTOFMEMORY.
HRESULT createTopologyGraph(IFeatureDataset* dataset, BSTR topologyName, ITopologyGraph** graph);

// Begins the next Build of `graph` over `extent` now: reads the member features at once and nodes
// them on another thread while the caller goes on; a Build over the same envelope then waits for
// that graph, or gives what the reading or the noding failed with, as a Build would have. Rows
// written to the member classes in between are not seen: the caller changes no member's shape
// and adds or deletes no member row until the Build. A Build over another envelope reads anew.
// S_OK (any failure waits for the Build); E_POINTER, or E_NOINTERFACE for a cache not made here.
HRESULT beginTopologyGraphBuild(ITopologyGraph* graph, IEnvelope* extent);

// ---------------------------------------------------------------------------------------------
// Wrapper bodies
// ---------------------------------------------------------------------------------------------
inline ITopologyGraphPtr ITopology::GetCache() {
    ITopologyGraph* p = nullptr;
    gdb_detail::check(get_Cache(&p));
    return gdb_detail::attach(p);
}

inline LONG IEnumTopologyParent::GetCount() {
    LONG n = 0;
    gdb_detail::check(get_Count(&n));
    return n;
}
inline bool IEnumTopologyParent::Next(TopologyParent* parent) { return gdb_detail::check(raw_Next(parent)) == S_OK; }
inline HRESULT IEnumTopologyParent::Reset() { return gdb_detail::check(raw_Reset()); }

#define TOPOLOGY_GET(Iface, Type, Name, Init) \
    inline Type Iface::Get##Name() {          \
        Type v = Init;                        \
        gdb_detail::check(get_##Name(&v));    \
        return v;                             \
    }
#define TOPOLOGY_GET_PTR(Iface, I, Name)        \
    inline _com_ptr_t<I> Iface::Get##Name() {   \
        I* p = nullptr;                         \
        gdb_detail::check(get_##Name(&p));      \
        return gdb_detail::attach(p);           \
    }
TOPOLOGY_GET_PTR(ITopologyNode, IGeometry, Geometry)
TOPOLOGY_GET(ITopologyNode, LONG, Index, -1)
TOPOLOGY_GET(ITopologyNode, LONG, Degree, 0)
TOPOLOGY_GET_PTR(ITopologyNode, IEnumTopologyParent, Parents)
TOPOLOGY_GET_PTR(ITopologyEdge, IGeometry, Geometry)
TOPOLOGY_GET(ITopologyEdge, LONG, Index, -1)
TOPOLOGY_GET_PTR(ITopologyEdge, ITopologyNode, FromNode)
TOPOLOGY_GET_PTR(ITopologyEdge, ITopologyNode, ToNode)
TOPOLOGY_GET_PTR(ITopologyEdge, IEnumTopologyParent, Parents)
TOPOLOGY_GET_PTR(ITopologyEdge, IEnumTopologyParent, LeftParents)
TOPOLOGY_GET_PTR(ITopologyEdge, IEnumTopologyParent, RightParents)
TOPOLOGY_GET(IEnumTopologyEdge, LONG, Count, 0)
TOPOLOGY_GET(IEnumTopologyNode, LONG, Count, 0)
TOPOLOGY_GET_PTR(ITopologyGraph, IEnvelope, BuildExtent)
TOPOLOGY_GET_PTR(ITopologyGraph, ITopology, Topology)
TOPOLOGY_GET_PTR(ITopologyGraph, IEnumTopologyEdge, Edges)
TOPOLOGY_GET_PTR(ITopologyGraph, IEnumTopologyNode, Nodes)
#undef TOPOLOGY_GET
#undef TOPOLOGY_GET_PTR

inline ITopologyEdgePtr IEnumTopologyEdge::Next() {
    ITopologyEdge* p = nullptr;
    gdb_detail::check(raw_Next(&p));
    return gdb_detail::attach(p);
}
inline HRESULT IEnumTopologyEdge::Reset() { return gdb_detail::check(raw_Reset()); }
inline ITopologyNodePtr IEnumTopologyNode::Next() {
    ITopologyNode* p = nullptr;
    gdb_detail::check(raw_Next(&p));
    return gdb_detail::attach(p);
}
inline HRESULT IEnumTopologyNode::Reset() { return gdb_detail::check(raw_Reset()); }
inline HRESULT ITopologyGraph::Build(IEnvelope* extent, VARIANT_BOOL keepEdits) {
    return gdb_detail::check(raw_Build(extent, keepEdits));
}
