// platform/com/class_factory.h: class objects and the in-process servers behind them.
// A class not registered in the program's own table (platform/com/class_registry.h) is looked up in
// the registry (HKCR\CLSID\{clsid}\InprocServer32), its module loaded with dlopen and asked through
// its exported DllGetClassObject. Failures are results, with the thread's error description set:
//   REGDB_E_CLASSNOTREG        the CLSID (or its InprocServer32 path) is not in the registry
//   HRESULT_MOD_NOT_FOUND      the registered module file does not exist (any more)
//   E_FAIL                     the module exists but does not load (the loader's text)
//   HRESULT_PROC_NOT_FOUND     the module does not export DllGetClassObject
//   CLASS_E_CLASSNOTAVAILABLE  the module does not serve that CLSID (from the module)
#pragma once

#include <string>

#include "platform/com/basetypes.h"
#include "platform/com/guid.h"
#include "platform/com/unknown.h"

struct IClassFactory : IUnknown {
    static constexpr GUID iid = makeGuid("{00000001-0000-0000-C000-000000000046}");
    using base_interface = IUnknown;

    virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** out) = 0;
    // TRUE keeps the server loaded without any object alive; FALSE undoes one such lock.
    virtual HRESULT LockServer(BOOL lock) = 0;

protected:
    ~IClassFactory() = default;
};

// The entry points an in-process server exports (extern "C").
using DllGetClassObjectFn = HRESULT (*)(REFCLSID clsid, REFIID riid, void** out);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();
using DllUnregisterServerFn = HRESULT (*)();

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* reserved, REFIID riid, void** out);

// Unloads every server module loaded by CoGetClassObject whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();

// The module file registered for a class (InprocServer32), or "" when there is none.
std::string inprocServerPath(REFCLSID clsid);
