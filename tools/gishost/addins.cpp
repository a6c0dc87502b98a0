// tools/gishost/addins.cpp: the add-ins are shared libraries beside the platform library; loading
// one registers its classes, which are then made by ProgID through the platform's class table.

#include "tools/gishost/addins.h"

#include <dlfcn.h>

#include <filesystem>

namespace gishost {
namespace {

constexpr const char* kAddinModules[] = {"libcorvane.so"};

// Loads the add-in libraries once, from the folder of the platform library.
void loadAddinModules() {
    static const bool loaded = [] {
        char path[4096];
        const DWORD n = GetModuleFileNameA(reinterpret_cast<HMODULE>(&CoCreateInstance), path, sizeof path);
        const std::filesystem::path dir = n ? std::filesystem::path(path).parent_path() : std::filesystem::path();
        for (const char* module : kAddinModules) {
            const std::string full = (dir / module).string();
            if (!dlopen(full.c_str(), RTLD_NOW | RTLD_GLOBAL))
                std::fprintf(stderr, "gishost: cannot load %s: %s\n", full.c_str(), dlerror());
        }
        return true;
    }();
    (void)loaded;
}

}  // namespace

std::vector<std::string> extensionProgIds() { return {"Corvane.clsExtension"}; }

std::vector<std::string> commandProgIds() { return {"Corvane.clsSymCommand"}; }

IUnknownPtr createAddinObject(const std::string& progId) {
    loadAddinModules();
    IUnknownPtr object;
    check(object.CreateInstance(progId.c_str()));
    return object;
}

}  // namespace gishost
