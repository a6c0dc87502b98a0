// platform/host/uid.h: the UID object and how two UID values are compared: a ProgID and a "{GUID}"
// text name the same class when the ProgID resolves to that CLSID.
#pragma once

#include <string>

#include "platform/host/host.h"

namespace host {

// The class a UID value names, as the upper-case "{GUID}" text; a value that names no class (an
// unregistered ProgID) gives itself in lower case.
std::string uidKey(const std::string& value);
bool sameUid(const std::string& a, const std::string& b);

IUIDPtr makeUid(const std::string& value);

}  // namespace host
