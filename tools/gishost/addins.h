// tools/gishost/addins.h: where the host gets the add-ins' objects. Every object of an add-in is
// made through createAddinObject, by ProgID, so that the way classes are found is in one place.
#pragma once

#include <string>
#include <vector>

#include "platform/com/com.h"

namespace gishost {

// The classes the host starts as extensions, and the commands it puts into its pool.
std::vector<std::string> extensionProgIds();
std::vector<std::string> commandProgIds();

// The object of that class; throws _com_error (REGDB_E_CLASSNOTREG for an unknown ProgID).
IUnknownPtr createAddinObject(const std::string& progId);

}  // namespace gishost
