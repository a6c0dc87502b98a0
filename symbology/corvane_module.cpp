// symbology/corvane_module.cpp: the add-in as an in-process server: its object map (the extension
// and the command), their registry scripts, the type library, the host categories they register in
// (extensions and commands, so that a host finds them), and the four exported entry points.

#include "symbology/corvane_module.h"

#include <cstring>

#include "platform/host/host.h"
#include "symbology/clsExtension.h"
#include "symbology/clsSymCommand.h"

namespace corvane {
namespace {

constexpr int kExtensionScript = 101;
constexpr int kCommandScript = 102;

constexpr char kExtensionRegistryScript[] = R"(HKCR
{
    Corvane.clsExtension = s 'Corvane.clsExtension'
    {
        CLSID = s '{A7519AD8-0B4A-4BB9-98C7-937E988EEC7C}'
    }
    NoRemove CLSID
    {
        ForceRemove {A7519AD8-0B4A-4BB9-98C7-937E988EEC7C} = s 'Corvane.clsExtension'
        {
            ProgID = s 'Corvane.clsExtension'
            InprocServer32 = s '%MODULE%'
            {
                val ThreadingModel = s 'Apartment'
            }
            TypeLib = s '{D3FAD027-6578-45C0-B6D7-F44BA391B78A}'
        }
    }
}
)";

constexpr char kCommandRegistryScript[] = R"(HKCR
{
    Corvane.clsSymCommand = s 'Corvane.clsSymCommand'
    {
        CLSID = s '{AAA664C0-25F3-4001-844B-62807216D146}'
    }
    NoRemove CLSID
    {
        ForceRemove {AAA664C0-25F3-4001-844B-62807216D146} = s 'Corvane.clsSymCommand'
        {
            ProgID = s 'Corvane.clsSymCommand'
            InprocServer32 = s '%MODULE%'
            {
                val ThreadingModel = s 'Apartment'
            }
            TypeLib = s '{D3FAD027-6578-45C0-B6D7-F44BA391B78A}'
        }
    }
}
)";

const char* registryScript(int id) {
    switch (id) {
        case kExtensionScript: return kExtensionRegistryScript;
        case kCommandScript: return kCommandRegistryScript;
        default: return nullptr;
    }
}

const CATID kExtensionCategories[] = {CATID_HostExtensions};
const CATID kCommandCategories[] = {CATID_HostCommands};

const ObjectMapEntry kObjectMap[] = {
    {CLSID_clsExtension, &createComInstance<clsExtension>, kExtensionScript, kExtensionCategories},
    {CLSID_clsSymCommand, &createComInstance<clsSymCommand>, kCommandScript, kCommandCategories},
};

const CoclassInfo kCoclasses[] = {
    {"clsExtension", CLSID_clsExtension, "Brackwell extension", nullptr},
    {"clsSymCommand", CLSID_clsSymCommand, "Apply S-57 Symbology", nullptr},
};

const TypeLibInfo kTypeLib = {"Corvane", LIBID_Corvane, 1, 0, "Corvane S-57 symbology", kCoclasses};

// The module is set up when the library loads and lives until it is unloaded.
struct ModuleHolder {
    ModuleHolder() { module.init(kObjectMap, reinterpret_cast<HINSTANCE>(&registryScript), &kTypeLib, &registryScript); }
    ~ModuleHolder() { module.term(); }
    ComModule module;
};

ModuleHolder& holder() {
    static ModuleHolder h;
    return h;
}

}  // namespace

ComModule& corvaneModule() { return holder().module; }

}  // namespace corvane

extern "C" {

__attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    return corvane::corvaneModule().getClassObject(clsid, riid, out);
}

__attribute__((visibility("default"))) HRESULT DllCanUnloadNow() { return corvane::corvaneModule().canUnloadNow(); }

__attribute__((visibility("default"))) HRESULT DllRegisterServer() { return corvane::corvaneModule().registerServer(); }

__attribute__((visibility("default"))) HRESULT DllUnregisterServer() {
    return corvane::corvaneModule().unregisterServer();
}
}
