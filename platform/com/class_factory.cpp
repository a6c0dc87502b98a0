// platform/com/class_factory.cpp: class objects of registered in-process servers: the registry
// lookup, the loaded-module table (dlopen once per path, dlclose when the module agrees) and the
// factories of the program's own classes.
#include "platform/com/class_factory.h"

#include <dlfcn.h>

#include <filesystem>
#include <map>
#include <mutex>

#include "platform/com/bstr.h"
#include "platform/com/class_registry.h"
#include "platform/com/com_error.h"
#include "platform/com/registry.h"

namespace {

struct LoadedModule {
    void* handle = nullptr;
    DllGetClassObjectFn getClassObject = nullptr;
    DllCanUnloadNowFn canUnloadNow = nullptr;
};

std::mutex& modulesMutex() {
    static std::mutex m;
    return m;
}
std::map<std::string, LoadedModule>& loadedModules() {
    static std::map<std::string, LoadedModule> table;
    return table;
}

HRESULT fail(HRESULT hr, const std::string& description) {
    setErrorDescription(std::string_view(description));
    return hr;
}

// The module at `path`, loaded on first use.
HRESULT loadModule(const std::string& path, REFCLSID clsid, LoadedModule& out) {
    std::lock_guard lock(modulesMutex());
    auto& table = loadedModules();
    if (auto it = table.find(path); it != table.end()) {
        out = it->second;
        return S_OK;
    }
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        return fail(HRESULT_MOD_NOT_FOUND, "The module " + path + " registered for class " +
                                               guidToString(clsid) + " does not exist");
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        return fail(E_FAIL, "The module " + path + " does not load: " + (why ? why : "unknown reason"));
    }
    LoadedModule m;
    m.handle = handle;
    m.getClassObject = reinterpret_cast<DllGetClassObjectFn>(dlsym(handle, "DllGetClassObject"));
    m.canUnloadNow = reinterpret_cast<DllCanUnloadNowFn>(dlsym(handle, "DllCanUnloadNow"));
    if (!m.getClassObject) {
        dlclose(handle);
        return fail(HRESULT_PROC_NOT_FOUND, "The module " + path + " exports no DllGetClassObject");
    }
    table.emplace(path, m);
    out = m;
    return S_OK;
}

// Class object of a class in the program's own table: creates objects through its factory function.
class OwnClassFactory : public ComObject<IClassFactory> {
public:
    explicit OwnClassFactory(ComFactory create) : create_(create) {}
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return create_(riid, out);
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

private:
    ComFactory create_;
};

}  // namespace

std::string inprocServerPath(REFCLSID clsid) {
    const std::string key = "HKEY_CLASSES_ROOT\\CLSID\\" + guidToString(clsid) + "\\InprocServer32";
    return reg::queryValue(key).value_or(std::string());
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD, void*, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (ComFactory own = findComClass(clsid)) {
        auto* factory = new (std::nothrow) OwnClassFactory(own);
        if (!factory) return E_OUTOFMEMORY;
        factory->AddRef();
        const HRESULT hr = factory->QueryInterface(riid, out);
        factory->Release();
        return hr;
    }
    const std::string path = inprocServerPath(clsid);
    if (path.empty())
        return fail(REGDB_E_CLASSNOTREG, "Class " + guidToString(clsid) + " is not registered");
    LoadedModule module;
    if (HRESULT hr = loadModule(path, clsid, module); FAILED(hr)) return hr;
    return module.getClassObject(clsid, riid, out);
}

void CoFreeUnusedLibraries() {
    std::lock_guard lock(modulesMutex());
    auto& table = loadedModules();
    for (auto it = table.begin(); it != table.end();) {
        if (it->second.canUnloadNow && it->second.canUnloadNow() == S_OK) {
            dlclose(it->second.handle);
            it = table.erase(it);
        } else {
            ++it;
        }
    }
}
