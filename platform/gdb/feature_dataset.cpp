// platform/gdb/feature_dataset.cpp: feature datasets with their classes and topologies, and the
// topology definitions (tolerance, member classes) kept beside them.
#include <cmath>
#include <string>
#include <vector>

#include "platform/gdb/geodatabase_objects.h"
#include "platform/topology/topology.h"

namespace gdb {

HRESULT DatasetImpl::get_Classes(IEnumFeatureClass** out) {
    return gdbGuard([&] {
        need(out);
        *out = nullptr;
        std::vector<IFeatureClassPtr> items;
        for (auto& n : classNames()) items.push_back(ws_->featureClass(n));
        IEnumFeatureClassPtr e(static_cast<IEnumFeatureClass*>(new ClassEnum(std::move(items))));
        *out = e.Detach();
        return S_OK;
    });
}

ITopologyPtr topologyObject(WorkspaceImpl* ws, const std::string& name) {
    return ITopologyPtr(static_cast<ITopology*>(new TopologyImpl(ws, name)));
}

HRESULT DatasetImpl::get_Topology(LONG i, ITopology** out) {
    return gdbGuard([&] {
        need(out);
        *out = nullptr;
        auto names = topologyNames();
        if (i < 0 || std::size_t(i) >= names.size()) raise(E_INVALIDARG, "topology index out of range");
        *out = topologyObject(ws_, names[std::size_t(i)]).Detach();
        return S_OK;
    });
}

HRESULT DatasetImpl::get_TopologyByName(BSTR name, ITopology** out) {
    return gdbGuard([&] {
        need(out);
        *out = nullptr;
        std::string n = utf8(name);
        for (auto& t : topologyNames())
            if (sameNoCase(t, n)) {
                *out = topologyObject(ws_, t).Detach();
                return S_OK;
            }
        raise(GDB_E_NOT_FOUND, "feature dataset " + name_ + " has no topology " + n);
    });
}

HRESULT DatasetImpl::raw_CreateTopology(BSTR name, double tolerance, LONG, BSTR, ITopology** out) {
    return gdbGuard([&] {
        need(out);
        *out = nullptr;
        std::string n = utf8(name);
        ws_->checkNewName(n);
        if (!(tolerance > 0) || !std::isfinite(tolerance)) raise(E_INVALIDARG, "a topology needs a tolerance above 0");
        if (ws_->db().topology(n)) raise(GDB_E_NAME_EXISTS, "a topology named " + n + " exists");
        ws_->db().createTopology(n, name_, tolerance);
        *out = topologyObject(ws_, n).Detach();
        return S_OK;
    });
}

HRESULT TopologyImpl::raw_AddClass(IFeatureClass* fc, double, LONG, LONG, VARIANT_BOOL) {
    return gdbGuard([&] {
        IGdbInternalPtr in(fc);
        ClassImpl* cls = in ? in->asClass() : nullptr;
        if (!cls || cls->workspace() != ws_) raise(E_INVALIDARG, "AddClass needs a feature class of this geodatabase");
        const ClassInfo& ci = cls->info();
        const Row r = row();
        if (!sameNoCase(ci.dataset, r.dataset))
            raise(E_INVALIDARG, "class " + ci.name + " is not in feature dataset " + r.dataset);
        std::string other = cls->topologyName();
        if (sameNoCase(other, name_)) raise(GDB_E_NAME_EXISTS, "class " + ci.name + " is in topology " + name_ + " already");
        if (!other.empty()) raise(E_INVALIDARG, "class " + ci.name + " is in topology " + other);
        ws_->db().addTopologyClass(name_, ci.name);
        return S_OK;
    });
}

HRESULT TopologyImpl::get_Classes(IEnumFeatureClass** out) {
    return gdbGuard([&] {
        need(out);
        *out = nullptr;
        const std::vector<std::string> names = ws_->db().topologyClasses(name_);
        std::vector<IFeatureClassPtr> items;
        for (auto& n : names) items.push_back(ws_->featureClass(n));
        *out = IEnumFeatureClassPtr(static_cast<IEnumFeatureClass*>(new ClassEnum(std::move(items)))).Detach();
        return S_OK;
    });
}

}  // namespace gdb
