// platform/gdb/workspace.cpp: the workspace: its tables, feature classes and datasets by name,
// and the making of new ones, over its storage.
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/gdb/geodatabase_objects.h"

namespace gdb {

// Open workspaces by canonical path, so one file has one connection in the process.
std::mutex& registryMutex() {
    static std::mutex m;
    return m;
}
std::map<std::string, WorkspaceImpl*>& registry() {
    static std::map<std::string, WorkspaceImpl*> r;
    return r;
}

WorkspaceImpl::~WorkspaceImpl() {
    std::lock_guard<std::mutex> lock(registryMutex());
    auto it = registry().find(key_);
    if (it != registry().end() && it->second == this) registry().erase(it);
}

ITablePtr WorkspaceImpl::table(const std::string& name) {
    const std::string key = lower(name);
    auto it = open_.find(key);
    if (it != open_.end()) {
        it->second->info();  // still there?
        return ITablePtr(static_cast<ITable*>(it->second));
    }
    auto info = recalled(key);
    if (!info) {
        info = db_->loadClass(name);
        if (!info) raise(GDB_E_NOT_FOUND, "no table or feature class named " + name);
        remember(info);
    }
    auto* c = new ClassImpl(this, info);
    ITablePtr t(static_cast<ITable*>(c));
    open_[lower(info->name)] = c;
    return t;
}

IFeatureClassPtr WorkspaceImpl::featureClass(const std::string& name) {
    ITablePtr t;
    try {
        t = table(name);
    } catch (const _com_error& e) {
        if (e.Error() == GDB_E_NOT_FOUND) raise(GDB_E_NOT_FOUND, "no feature class named " + name);
        throw;
    }
    IFeatureClassPtr fc(t);
    if (!fc) raise(GDB_E_NOT_FOUND, name + " is a table, not a feature class");
    return fc;
}

IFeatureDatasetPtr WorkspaceImpl::dataset(const std::string& name) {
    const auto item = db_->dataset(name);
    if (!item) raise(GDB_E_NOT_FOUND, "no feature dataset named " + name);
    const std::string stored = item->name;
    return IFeatureDatasetPtr(static_cast<IFeatureDataset*>(new DatasetImpl(this, stored)));
}

void WorkspaceImpl::forget(ClassImpl* c) {
    for (auto it = open_.begin(); it != open_.end(); ++it)
        if (it->second == c) {
            open_.erase(it);
            return;
        }
}

void WorkspaceImpl::checkNewName(const std::string& name) {
    if (name.empty()) raise(E_INVALIDARG, "a name must not be empty");
    if (name.size() > 160) raise(E_INVALIDARG, "name " + name + " is longer than 160 characters");
    for (const char* reserved : {"gpkg_", "rtree_", "gdb_", "sqlite_"})
        if (lower(name).rfind(reserved, 0) == 0) raise(E_INVALIDARG, "names beginning with " + std::string(reserved) + " are reserved");
    db_->beginSchemaChange();
    if (db_->nameTaken(name)) raise(GDB_E_NAME_EXISTS, "a table, feature class or dataset named " + name + " exists");
}

HRESULT WorkspaceImpl::raw_CreateFeatureDataset(BSTR name, ISpatialReference* sr, IFeatureDataset** out) {
    return gdbGuard([&] {
        need(out);
        *out = nullptr;
        std::string n = utf8(name);
        checkNewName(n);
        double zmin = -100000.0, zmax = 100000.0;
        if (sr) {
            LONG code = 0;
            check(sr->get_FactoryCode(&code));
            if (code != kWgs84) raise(E_INVALIDARG, "only WGS 84 (EPSG:4326) is stored");
            check(sr->raw_GetZDomain(&zmin, &zmax));
        }
        db_->createDataset(n, sr ? kWgs84 : kUndefinedGeographic, zmin, zmax);
        *out = dataset(n).Detach();
        return S_OK;
    });
}

IUnknownPtr WorkspaceImpl::create(const std::string& name, IFields* fields, bool feature, const std::string& shapeFieldArg,
                                  const std::string& dataset) {
    if (!fields) raise(E_POINTER, "no field list");
    checkNewName(name);
    const ClassSpec spec = readClassSpec(name, fields, feature, shapeFieldArg);
    const ISpatialReferencePtr sr = spec.sr;
    // Inside a dataset the class takes the dataset's spatial reference.
    std::int32_t srsId = kUndefinedGeographic;
    double zmin = -100000.0, zmax = 100000.0;
    std::string datasetName;
    if (!dataset.empty()) {
        const auto item = db_->dataset(dataset);
        if (!item) raise(GDB_E_NOT_FOUND, "no feature dataset named " + dataset);
        datasetName = item->name;
        srsId = item->srsId;
        zmin = item->zmin;
        zmax = item->zmax;
    } else if (sr) {
        LONG code = 0;
        check(sr->get_FactoryCode(&code));
        if (code != kWgs84) raise(E_INVALIDARG, "only WGS 84 (EPSG:4326) is stored");
        check(sr->raw_GetZDomain(&zmin, &zmax));
        srsId = kWgs84;
    }
    remember(db_->createClass(name, spec, feature, srsId, zmin, zmax, datasetName));
    ITablePtr t = table(name);
    return IUnknownPtr(t);
}

}  // namespace gdb
