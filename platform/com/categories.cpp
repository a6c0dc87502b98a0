// platform/com/categories.cpp: component category entries of classes in the registry tree.
#include "platform/com/categories.h"

#include <algorithm>
#include <string>

namespace {

std::string implementedKey(REFCLSID clsid) {
    return "HKEY_CLASSES_ROOT\\CLSID\\" + guidToString(clsid) + "\\Implemented Categories";
}

}  // namespace

void registerClassImplCategories(reg::Key& root, REFCLSID clsid, std::span<const CATID> categories) {
    for (const CATID& c : categories) root.create(implementedKey(clsid) + "\\" + guidToString(c));
}

void unregisterClassImplCategories(reg::Key& root, REFCLSID clsid, std::span<const CATID> categories) {
    const std::string key = implementedKey(clsid);
    for (const CATID& c : categories) root.remove(key + "\\" + guidToString(c));
    if (const reg::Key* k = root.find(key); k && k->empty()) root.remove(key);
}

std::vector<CLSID> classesImplementing(const reg::Key& root, const CATID& category) {
    std::vector<CLSID> out;
    const reg::Key* classes = root.find("HKEY_CLASSES_ROOT\\CLSID");
    if (!classes) return out;
    const std::string cat = guidToString(category);
    for (const auto& [name, key] : classes->subkeys()) {
        const auto clsid = guidFromString(name);
        if (clsid && key.find("Implemented Categories\\" + cat)) out.push_back(*clsid);
    }
    std::sort(out.begin(), out.end());
    return out;
}
