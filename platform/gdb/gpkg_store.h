// platform/gdb/gpkg_store.h: the personal geodatabase's storage: one SQLite file in GeoPackage
// layout.
#pragma once

#include <memory>
#include <string>

#include "platform/gdb/gdb_store.h"

namespace gdb {

// Opens the GeoPackage file (create: makes it; a file of no bytes is made anew). Throws
// _com_error GDB_E_BAD_PATH, GDB_E_ACCESS_DENIED, GDB_E_READ_ONLY, GDB_E_IN_USE.
std::unique_ptr<GdbStore> openGpkgStore(const std::string& file, bool create);

}  // namespace gdb
