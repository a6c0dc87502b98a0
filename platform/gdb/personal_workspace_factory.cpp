// platform/gdb/personal_workspace_factory.cpp: the personal geodatabase's factory: ".gpkg" and
// ".mdb" paths opened or created as GeoPackage files, one workspace a file in the process; and the
// reasons of the storage failures a caller can act on.
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/com/class_registry.h"
#include "platform/gdb/geodatabase_objects.h"
#include "platform/gdb/gpkg_store.h"

namespace gdb {

namespace {

thread_local HRESULT storageFailure = S_OK;

bool personalPath(const std::string& path) {
    std::string ext = lower(std::filesystem::path(WorkspaceImpl::fileName(path)).extension().string());
    return ext == ".gpkg" || ext == ".mdb";
}


}  // namespace

IWorkspacePtr openWorkspace(const std::string& path, bool create) {
    if (path.empty()) raise(GDB_E_BAD_PATH, "no geodatabase path");
    if (path.find('\0') != std::string::npos) raise(GDB_E_BAD_PATH, "NUL in a path");
    if (!personalPath(path)) {
        std::string ext = lower(std::filesystem::path(WorkspaceImpl::fileName(path)).extension().string());
        // The enterprise geodatabase is made on its server: "creating" one opens it.
        if (ext == ".sde") return openSdeWorkspace(path);
        raise(GDB_E_BAD_PATH, path + " is not a personal geodatabase (.gpkg or .mdb)");
    }
    std::filesystem::path file(WorkspaceImpl::fileName(path));
    std::error_code ec;
    bool exists = std::filesystem::exists(file, ec);
    if (create && exists) raise(GDB_E_NAME_EXISTS, "geodatabase " + path + " exists already");
    if (!create && !exists) raise(GDB_E_NOT_FOUND, "geodatabase " + path + " does not exist");
    if (!create && !std::filesystem::is_regular_file(file, ec)) raise(GDB_E_BAD_PATH, path + " is not a file");
    std::string key = std::filesystem::weakly_canonical(std::filesystem::absolute(file, ec), ec).string();
    std::lock_guard<std::mutex> lock(registryMutex());
    auto it = registry().find(key);
    if (it != registry().end()) return IWorkspacePtr(static_cast<IWorkspace*>(it->second));
    auto* ws = new WorkspaceImpl(path, key, openGpkgStore(WorkspaceImpl::fileName(path), create));
    IWorkspacePtr hold(static_cast<IWorkspace*>(ws));
    registry()[key] = ws;
    return hold;
}


namespace {

class AccessWorkspaceFactory final : public Object<IWorkspaceFactory> {
public:
    HRESULT raw_Create(BSTR dir, BSTR name, IPropertySet*, HWND, IWorkspace** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            std::string n = utf8(name);
            if (n.empty()) raise(GDB_E_BAD_PATH, "no geodatabase name");
            std::string ext = lower(std::filesystem::path(n).extension().string());
            if (ext != ".gpkg" && ext != ".mdb") n += ".gpkg";
            std::string d = utf8(dir);
            std::string path = d.empty() ? n : d + ((d.back() == '/' || d.back() == '\\') ? "" : "/") + n;
            *out = openWorkspace(path, true).Detach();
            return S_OK;
        });
    }
    HRESULT raw_Open(IPropertySet* props, HWND, IWorkspace** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            if (!props) raise(E_POINTER, "no connection properties");
            _variant_t v;
            check(props->raw_GetProperty(_bstr_t(L"DATABASE").GetBSTR(), &v));
            if (v.vt != VT_BSTR) raise(E_INVALIDARG, "property DATABASE must be a path");
            *out = openWorkspace(utf8(v.bstrVal), false).Detach();
            return S_OK;
        });
    }
    HRESULT raw_OpenFromFile(BSTR path, HWND, IWorkspace** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            *out = openWorkspace(utf8(path), false).Detach();
            return S_OK;
        });
    }
    HRESULT raw_ReadConnectionPropertiesFromFile(BSTR path, IPropertySet** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            IPropertySetPtr p(CLSID_PropertySet);
            check(p->raw_SetProperty(_bstr_t(L"DATABASE").GetBSTR(), _variant_t(path ? path : L"")));
            *out = p.Detach();
            return S_OK;
        });
    }
    HRESULT raw_IsWorkspace(BSTR path, VARIANT_BOOL* out) override {
        return gdbGuard([&] {
            need(out);
            std::string p = utf8(path);
            std::error_code ec;
            *out = personalPath(p) && std::filesystem::is_regular_file(WorkspaceImpl::fileName(p), ec) ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        });
    }
};

const ComClassRegistrar kRegistrar{CLSID_AccessWorkspaceFactory, "Gdb.AccessWorkspaceFactory.1",
                                   &createComInstance<AccessWorkspaceFactory>};

}  // namespace

void noteStorageFailure(HRESULT hr) { storageFailure = hr; }

}  // namespace gdb

const char* gdbFailureReason(HRESULT hr) {
    switch (hr) {
    case GDB_E_IN_USE: return "in use by another program";
    case GDB_E_READ_ONLY: return "read-only";
    case GDB_E_DISK_FULL: return "disk full";
    case GDB_E_ACCESS_DENIED: return "permission denied";
    case GDB_E_BAD_PATH: return "not a geodatabase";
    case GDB_E_NOT_SUPPORTED: return "enterprise geodatabases are not supported yet";
    case GDB_E_CONNECTION: return "cannot connect to the database server";
    default: return nullptr;
    }
}

HRESULT gdbStorageFailure() { return gdb::storageFailure; }
void clearGdbStorageFailure() { gdb::storageFailure = S_OK; }
