// platform/gdb/gdb_com_object.h: what every geodatabase object is built from, whatever stores it:
// the reference-counted object of several interfaces, the guard that turns a method's failures
// into an HRESULT with a description, and the small helpers that hand values out.
//
// Failures inside are thrown (_com_error, a StoreError of the storage carrying its SQL and the
// database's words, GpkgBlobError) and every COM method turns them into an HRESULT (gdbGuard).
#pragma once

#include <cctype>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/com/out_param.h"
#include "platform/gdb/gdb.h"
#include "platform/geometry/gpkg_blob.h"

namespace gdb {

// A failure of the storage, with the result code a caller can act on (GDB_E_SQL for the rest).
class StoreError : public std::runtime_error {
public:
    explicit StoreError(const std::string& text, HRESULT hr = GDB_E_SQL) : std::runtime_error(text), hr_(hr) {}
    HRESULT result() const { return hr_; }

private:
    HRESULT hr_;
};

[[noreturn]] inline void raise(HRESULT hr, const std::string& text) { throw _com_error(hr, fromUtf8(text)); }

inline std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
inline bool sameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

inline HRESULT giveText(const std::string& s, BSTR* out) {
    if (!out) return E_POINTER;
    std::wstring w = fromUtf8(s);
    *out = SysAllocStringLen(w.data(), UINT(w.size()));
    return *out || w.empty() ? S_OK : E_OUTOFMEMORY;
}
inline void need(const void* p) {
    if (!p) raise(E_POINTER, "null out pointer");
}

// Kept for gdbStorageFailure(): the last failure of the storage itself on this thread.
void noteStorageFailure(HRESULT hr);

// Every COM method body: storage failures get their own code, the rest goes through comGuard.
template <class F>
HRESULT gdbGuard(F&& body) noexcept {
    const HRESULT hr = comGuard([&]() -> HRESULT {
        try {
            return body();
        } catch (const StoreError& e) {
            throw _com_error(e.result(), fromUtf8(e.what()));
        } catch (const GpkgBlobError& e) {
            throw _com_error(E_FAIL, fromUtf8(std::string("bad geometry blob: ") + e.what()));
        }
    });
    if (hr == GDB_E_IN_USE || hr == GDB_E_READ_ONLY || hr == GDB_E_DISK_FULL || hr == GDB_E_ACCESS_DENIED ||
        hr == GDB_E_CONNECTION)
        noteStorageFailure(hr);
    return hr;
}

// IUnknown for an object of several interfaces (an object that implements an interface only in some
// of its forms refuses it in `refuse`). A class of its own, so that a method that overrides
// QueryInterface can still name `Object::QueryInterface`.
template <class First, class... Rest>
class Object : public ComObject<First, Rest...> {};

}  // namespace gdb
