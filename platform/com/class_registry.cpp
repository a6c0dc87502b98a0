// platform/com/class_registry.cpp: the table of creatable classes, and module paths through dladdr.
#include "platform/com/class_registry.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/com/class_factory.h"
#include "platform/com/com_ptr.h"
#include "platform/com/guid.h"
#include "platform/com/registry.h"

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

// HKCR\<progId>\CLSID, following CurVer once when the key has no CLSID of its own.
bool registryProgId(const std::string& progId, CLSID* clsid) {
    if (progId.empty() || progId.find('\\') != std::string::npos) return false;
    const std::string base = "HKEY_CLASSES_ROOT\\" + progId;
    auto text = reg::queryValue(base + "\\CLSID");
    if (!text) {
        auto curVer = reg::queryValue(base + "\\CurVer");
        if (!curVer || curVer->find('\\') != std::string::npos) return false;
        text = reg::queryValue("HKEY_CLASSES_ROOT\\" + *curVer + "\\CLSID");
    }
    if (!text) return false;
    auto g = guidFromString(*text);
    if (!g) return false;
    *clsid = *g;
    return true;
}

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

ComFactory findComClass(REFCLSID clsid) {
    std::lock_guard lock(registryMutex());
    auto it = classes().find(clsid);
    return it == classes().end() ? nullptr : it->second.factory;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (ComFactory factory = findComClass(clsid)) return factory(riid, out);
    _com_ptr_t<IClassFactory> factory;
    HRESULT hr = CoGetClassObject(clsid, context, nullptr, IClassFactory::iid,
                                  reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(nullptr, riid, out);
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
    {
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
    }
    return registryProgId(progId, clsid) ? S_OK : CO_E_CLASSSTRING;
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
