// tools/gishost/addins.h: where the host gets the add-ins' objects: the classes registered in the
// host's categories (platform/com/categories.h), made through the registry (the module of each
// class is loaded on first use).
#pragma once

#include <string>
#include <vector>

#include "platform/com/com.h"

namespace gishost {

// The registered extensions and commands, by ProgID (the "{CLSID}" text for a class without one),
// in CLSID order. Empty when the registry cannot be read.
std::vector<std::string> extensionProgIds();
std::vector<std::string> commandProgIds();

// The object of that class; throws _com_error (REGDB_E_CLASSNOTREG, CO_E_CLASSSTRING for an
// unknown ProgID, or the loader's result with its description).
IUnknownPtr createAddinObject(const std::string& progId);

}  // namespace gishost
