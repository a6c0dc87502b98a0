// platform/gdb/gdb_value.h: a column's value as the backends store it, whatever the storage (the
// GeoPackage backend binds and reads these through SQLite, the enterprise one through libpq), and
// the conversion of what a caller puts into a column, shared by both.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/gdb/class_schema.h"

namespace gdb {

struct Val {
    enum Kind { Null, Int, Real, Text, Blob } kind = Null;
    std::int64_t i = 0;
    double d = 0;
    std::string s;  // text (UTF-8) or blob bytes

    friend bool operator==(const Val&, const Val&) = default;
};

// Text of a BSTR as UTF-8 (null is empty).
std::string utf8(BSTR s);
// A new BSTR of stored UTF-8 text, up to its first NUL (as the C string it has always been read
// as); throws _com_error E_OUTOFMEMORY.
BSTR textBstr(std::string_view s);
// Text without its leading and trailing white space.
std::string trimBlanks(std::string_view s);
// The shortest text that reads back as d.
std::string formatDouble(double d);

// The value to store for a VARIANT put into column f (not the shape column): text within the
// field's length, integers within their width and without fraction, numbers from text, blank
// text as NULL in a number column; throws _com_error (DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW,
// GDB_E_NOT_EDITABLE for the object id) naming the value and the column.
Val convertIn(const FieldSpec& f, const VARIANT& v);
// The same into `out`, whose text storage is kept for the new value where it is large enough
// (a row buffer's values are set again for every row); on a throw `out` is as it was.
void convertInto(const FieldSpec& f, const VARIANT& v, Val& out);
[[noreturn]] void misfit(HRESULT hr, const FieldSpec& f, const VARIANT& v, const char* why);

}  // namespace gdb
