// platform/com/class_registry.cpp: the table of creatable classes, and module paths through dladdr.
#include "platform/com/class_registry.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/com/guid.h"

namespace {

struct ClassEntry {
    std::string progId;
    ComFactory factory = nullptr;
};

// Function-local so that registrars of other translation units may run before this one's statics.
std::mutex& registryMutex() {
    static std::mutex m;
    return m;
}
std::map<CLSID, ClassEntry>& classes() {
    static std::map<CLSID, ClassEntry> table;
    return table;
}

int comInitCount = 0;

bool sameProgId(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    return std::equal(a.begin(), a.end(), b, [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace

void registerComClass(REFCLSID clsid, const char* progId, ComFactory factory) {
    std::lock_guard lock(registryMutex());
    classes()[clsid] = ClassEntry{progId ? progId : "", factory};
}

void unregisterComClass(REFCLSID clsid) {
    std::lock_guard lock(registryMutex());
    classes().erase(clsid);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    ComFactory factory = nullptr;
    {
        std::lock_guard lock(registryMutex());
        auto it = classes().find(clsid);
        if (it != classes().end()) factory = it->second.factory;
    }
    if (!factory) return REGDB_E_CLASSNOTREG;
    return factory(riid, out);
}

HRESULT CLSIDFromProgID(const char* progId, CLSID* clsid) {
    if (!clsid || !progId) return E_INVALIDARG;
    *clsid = GUID_NULL;
    if (progId[0] == '{') {
        if (auto g = guidFromString(progId)) {
            *clsid = *g;
            return S_OK;
        }
        return CO_E_CLASSSTRING;
    }
    std::lock_guard lock(registryMutex());
    // A version-independent ProgID names the class whose ProgID is it plus ".N".
    for (const auto& [id, entry] : classes()) {
        if (sameProgId(entry.progId, progId)) {
            *clsid = id;
            return S_OK;
        }
    }
    const std::size_t n = std::strlen(progId);
    for (const auto& [id, entry] : classes()) {
        const auto& p = entry.progId;
        if (p.size() > n + 1 && p[n] == '.' && sameProgId(p.substr(0, n), progId) &&
            p.find_first_not_of("0123456789", n + 1) == std::string::npos) {
            *clsid = id;
            return S_OK;
        }
    }
    return CO_E_CLASSSTRING;
}

HRESULT CoInitialize(void*) { return comInitCount++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
    if (comInitCount > 0) --comInitCount;
}

DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size) {
    if (!buffer || size == 0) return 0;
    std::string path;
    if (!module) {
        char exe[4096];
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n <= 0) return 0;
        path.assign(exe, std::size_t(n));
    } else {
        Dl_info info{};
        if (!dladdr(module, &info) || !info.dli_fname) return 0;
        path = info.dli_fname;
    }
    const std::size_t len = std::min<std::size_t>(path.size(), size - 1);
    std::memcpy(buffer, path.data(), len);
    buffer[len] = '\0';
    return DWORD(len);
}
