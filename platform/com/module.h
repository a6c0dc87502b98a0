// platform/com/module.h: the module object of an in-process server: its object map, its lock count
// (objects alive, class objects handed out and server locks), and what its four exported entry points
// do. A server keeps one ComModule from load to unload and exports:
//   extern "C" HRESULT DllGetClassObject(REFCLSID c, REFIID i, void** o) { return module.getClassObject(c, i, o); }
// and likewise DllCanUnloadNow, DllRegisterServer, DllUnregisterServer.
// Registration and unregistration change the registry in one atomic edit: all or nothing.
#pragma once

#include <atomic>
#include <span>
#include <string>

#include "platform/com/categories.h"
#include "platform/com/class_registry.h"
#include "platform/com/typelib.h"

struct ObjectMapEntry {
    CLSID clsid;
    ComFactory create;                     // createComInstance<T>
    int registryScript;                    // resource id of the class's registry script
    std::span<const CATID> implemented;    // component categories the class implements
};

class ComModule {
public:
    // The text of a registry script resource, or null.
    using ScriptLookup = const char* (*)(int id);

    // `instance` is any address inside the module: it names the module file.
    void init(std::span<const ObjectMapEntry> map, HINSTANCE instance, const TypeLibInfo* typeLib,
              ScriptLookup scripts);
    void term();

    LONG lock() { return ++locks_; }
    LONG unlock() { return --locks_; }
    LONG lockCount() const { return locks_; }
    HINSTANCE moduleInstance() const { return instance_; }
    // The module file's path ("" when it cannot be found).
    std::string modulePath() const;

    HRESULT getClassObject(REFCLSID clsid, REFIID riid, void** out);
    HRESULT canUnloadNow() const { return locks_ == 0 ? S_OK : S_FALSE; }
    // Runs every class's registry script with %MODULE% = the module path, records the categories
    // and registers the type library. SELFREG_E_CLASS (with the description) when that fails.
    HRESULT registerServer();
    HRESULT unregisterServer();

private:
    HRESULT update(bool registering);

    std::span<const ObjectMapEntry> map_;
    HINSTANCE instance_ = nullptr;
    const TypeLibInfo* typeLib_ = nullptr;
    ScriptLookup scripts_ = nullptr;
    std::atomic<LONG> locks_{0};
};

// Holds a lock on a module while it lives: a member of every object the module serves.
class ModuleLock {
public:
    explicit ModuleLock(ComModule& m) : m_(m) { m_.lock(); }
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;
    ~ModuleLock() { m_.unlock(); }

private:
    ComModule& m_;
};
