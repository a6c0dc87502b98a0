// tools/comreg/main.cpp: `comreg [-u] MODULE` registers (or unregisters) an in-process server
// module by calling its DllRegisterServer (DllUnregisterServer); `comreg --dump` prints the
// registry. The registry file is the one platform/com/registry.h names. Exit status 0 on success,
// 1 when the module fails or cannot be loaded, 2 for bad arguments.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/com/class_factory.h"
#include "platform/com/com.h"
#include "platform/com/registry.h"

namespace {

void usage() { std::fprintf(stderr, "usage: comreg [-u] MODULE\n       comreg --dump\n"); }

int dump() {
    try {
        const std::string text = reg::formatRegistry(reg::loadRegistry());
        // A dump that did not reach its reader (a full disk, a closed pipe) is no success.
        if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
            std::fprintf(stderr, "comreg: the dump cannot be written\n");
            return 1;
        }
        return 0;
    } catch (const reg::RegistryError& e) {
        std::fprintf(stderr, "comreg: %s\n", e.what());
        return 1;
    }
}

int run(const std::string& given, bool unregister) {
    // The module registers the path it was loaded from: make it absolute so that the registry
    // names the file from anywhere.
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::absolute(given, ec);
    if (ec || !std::filesystem::exists(path, ec)) {
        std::fprintf(stderr, "comreg: %s: no such module\n", given.c_str());
        return 1;
    }
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* why = dlerror();
        std::fprintf(stderr, "comreg: %s: %s\n", given.c_str(), why ? why : "does not load");
        return 1;
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto fn = reinterpret_cast<DllRegisterServerFn>(dlsym(module, entry));
    if (!fn) {
        std::fprintf(stderr, "comreg: %s exports no %s\n", given.c_str(), entry);
        dlclose(module);
        return 1;
    }
    const HRESULT hr = fn();
    int status = 0;
    if (FAILED(hr)) {
        const std::string description = toUtf8(takeErrorDescription());
        std::fprintf(stderr, "comreg: %s failed: 0x%08X %s%s%s\n", entry, static_cast<unsigned>(hr),
                     errorMessageOf(hr).c_str(), description.empty() ? "" : ": ", description.c_str());
        status = 1;
    } else {
        std::printf("%s: %s\n", unregister ? "unregistered" : "registered", path.c_str());
    }
    dlclose(module);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--dump") == 0) return dump();
    if (argc == 2 && argv[1][0] != '-') return run(argv[1], false);
    if (argc == 3 && std::strcmp(argv[1], "-u") == 0) return run(argv[2], true);
    usage();
    return 2;
}
