// platform/gdb/gdb_value.h: a column's value as the backends store it, whatever the storage: the
// GeoPackage backend binds and reads these through SQLite, the enterprise one through libpq.
#pragma once

#include <cstdint>
#include <string>

namespace gdb {

struct Val {
    enum Kind { Null, Int, Real, Text, Blob } kind = Null;
    std::int64_t i = 0;
    double d = 0;
    std::string s;  // text (UTF-8) or blob bytes

    friend bool operator==(const Val&, const Val&) = default;
};

}  // namespace gdb
