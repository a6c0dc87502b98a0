// platform/com/module.cpp: class objects of a server module and its self-registration.
#include "platform/com/module.h"

#include <filesystem>

#include "platform/com/class_factory.h"
#include "platform/com/com_error.h"
#include "platform/com/registry_script.h"

namespace {

// The class object of one map entry; it keeps the module loaded while it is held.
class ModuleClassFactory : public ComObject<IClassFactory> {
public:
    ModuleClassFactory(ComModule& module, ComFactory create) : module_(module), lock_(module), create_(create) {}

    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return create_(riid, out);
    }
    HRESULT LockServer(BOOL lock) override {
        if (lock) {
            module_.lock();
        } else {
            module_.unlock();
        }
        return S_OK;
    }

private:
    ComModule& module_;
    ModuleLock lock_;
    ComFactory create_;
};

}  // namespace

void ComModule::init(std::span<const ObjectMapEntry> map, HINSTANCE instance, const TypeLibInfo* typeLib,
                     ScriptLookup scripts) {
    map_ = map;
    instance_ = instance;
    typeLib_ = typeLib;
    scripts_ = scripts;
}

void ComModule::term() {
    map_ = {};
    typeLib_ = nullptr;
    scripts_ = nullptr;
}

std::string ComModule::modulePath() const {
    char path[4096];
    const DWORD n = GetModuleFileNameA(instance_, path, sizeof path);
    if (n == 0) return std::string();
    // The registry must name the file from any folder, whatever path the module was loaded by.
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(std::string(path, n), ec);
    return ec ? std::string(path, n) : full.lexically_normal().string();
}

HRESULT ComModule::getClassObject(REFCLSID clsid, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    for (const ObjectMapEntry& e : map_) {
        if (e.clsid != clsid) continue;
        auto* factory = new (std::nothrow) ModuleClassFactory(*this, e.create);
        if (!factory) return E_OUTOFMEMORY;
        factory->AddRef();
        const HRESULT hr = factory->QueryInterface(riid, out);
        factory->Release();
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ComModule::update(bool registering) {
    const std::string path = modulePath();
    return comGuard([&]() -> HRESULT {
        if (path.empty()) throw _com_error(SELFREG_E_CLASS, L"The module's own path is unknown");
        try {
            reg::editRegistry([&](reg::Key& root) {
                const reg::ScriptVariables vars{{"MODULE", path}};
                for (const ObjectMapEntry& e : map_) {
                    const char* script = scripts_ ? scripts_(e.registryScript) : nullptr;
                    if (!script)
                        throw reg::RegistryError("registry script " + std::to_string(e.registryScript) +
                                                 " is missing");
                    if (registering) {
                        reg::runRegistryScript(root, script, vars, true);
                        registerClassImplCategories(root, e.clsid, e.implemented);
                    } else {
                        unregisterClassImplCategories(root, e.clsid, e.implemented);
                        reg::runRegistryScript(root, script, vars, false);
                    }
                }
                if (typeLib_) {
                    if (registering) {
                        registerTypeLib(root, *typeLib_, path);
                    } else {
                        unregisterTypeLib(root, *typeLib_);
                    }
                }
            });
        } catch (const reg::RegistryError& e) {
            throw _com_error(SELFREG_E_CLASS, fromUtf8(e.what()));
        }
        return S_OK;
    });
}

HRESULT ComModule::registerServer() { return update(true); }

HRESULT ComModule::unregisterServer() { return update(false); }
