// commands/tarvo_module.cpp: the converter as an in-process server: its module object, set up when
// the library loads and taken down when it unloads, and its four exported entry points. Nothing
// else is created at load: catalogue, log and geodatabase belong to each conversion run.
#include "commands/tarvo_module.h"

#include "commands/gdb2s57cmd.h"
#include "commands/resources.h"
#include "commands/s572gdbcmd.h"
#include "commands/tarvo_lib.h"
#include "platform/host/host.h"
#include "s57/s57_util2.h"

ComModule tarvoModule;

namespace {

// Both classes are commands of the converter and both are registered in the host's command
// category: a host lists its commands by category, and a command left out of it is never offered.
constexpr CATID kCommandCategories[] = {CATID_HostCommands};

const ObjectMapEntry kObjectMap[] = {
    {CLSID_s572gdbCmd, &createComInstance<s572gdbCmd>, IDR_S572GDBCMD, kCommandCategories},
    {CLSID_gdb2s57Cmd, &createComInstance<gdb2s57Cmd>, IDR_GDB2S57CMD, kCommandCategories},
};

// Any object of this library: its address names the module file.
const char moduleAnchor = 0;

// What the entry point did on process attach and detach: static objects of this file are made in
// order, after the object map.
struct ModuleLifetime {
    ModuleLifetime() {
        tarvoModule.init(kObjectMap, const_cast<char*>(&moduleAnchor), &kTarvoLib, &registryScript);
        moduleInstance = tarvoModule.moduleInstance();
    }
    ~ModuleLifetime() { tarvoModule.term(); }
    ModuleLifetime(const ModuleLifetime&) = delete;
    ModuleLifetime& operator=(const ModuleLifetime&) = delete;
};
const ModuleLifetime lifetime;

}  // namespace

extern "C" {

HRESULT DllCanUnloadNow() { return tarvoModule.canUnloadNow(); }

HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    return tarvoModule.getClassObject(clsid, riid, out);
}

HRESULT DllRegisterServer() { return tarvoModule.registerServer(); }

HRESULT DllUnregisterServer() { return tarvoModule.unregisterServer(); }

}  // extern "C"
