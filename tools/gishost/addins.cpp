// tools/gishost/addins.cpp: the add-ins as the registry knows them: classes of the host's categories,
// created by ProgID through the platform's CoCreateInstance.

#include "tools/gishost/addins.h"

#include "platform/com/categories.h"
#include "platform/com/registry.h"
#include "platform/host/host.h"

namespace gishost {
namespace {

std::vector<std::string> classesOf(const CATID& category) {
    std::vector<std::string> out;
    try {
        const reg::Key root = reg::loadRegistry();
        for (const CLSID& clsid : classesImplementing(root, category)) {
            const std::string key = "HKEY_CLASSES_ROOT\\CLSID\\" + guidToString(clsid) + "\\ProgID";
            const reg::Key* progId = root.find(key);
            out.push_back(progId && progId->defaultValue() ? *progId->defaultValue() : guidToString(clsid));
        }
    } catch (const reg::RegistryError& e) {
        std::fprintf(stderr, "gishost: %s\n", e.what());
    }
    return out;
}

}  // namespace

std::vector<std::string> extensionProgIds() { return classesOf(CATID_HostExtensions); }

std::vector<std::string> commandProgIds() { return classesOf(CATID_HostCommands); }

IUnknownPtr createAddinObject(const std::string& progId) {
    IUnknownPtr object;
    if (HRESULT hr = object.CreateInstance(progId.c_str()); FAILED(hr)) {
        std::wstring why = takeErrorDescription();
        if (why.empty()) why = fromUtf8(progId + ": " + errorMessageOf(hr));
        throw _com_error(hr, why);
    }
    return object;
}

}  // namespace gishost
