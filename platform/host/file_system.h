// platform/host/file_system.h: paths as the host's users write them ("\" or "/" between folders)
// turned into paths of this file system, and the file system object's existence test.
#pragma once

#include <string>
#include <string_view>

namespace host {

std::string fileSystemPath(std::string_view path);

}  // namespace host
