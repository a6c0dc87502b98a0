// platform/com/guid.h: class and interface identifiers. Parsing fails with a false result, never throws.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/com/basetypes.h"

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];

    friend constexpr bool operator==(const GUID& a, const GUID& b) {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i]) return false;
        return true;
    }
    friend constexpr std::strong_ordering operator<=>(const GUID& a, const GUID& b) {
        if (auto c = a.Data1 <=> b.Data1; c != 0) return c;
        if (auto c = a.Data2 <=> b.Data2; c != 0) return c;
        if (auto c = a.Data3 <=> b.Data3; c != 0) return c;
        for (int i = 0; i < 8; ++i)
            if (auto c = a.Data4[i] <=> b.Data4[i]; c != 0) return c;
        return std::strong_ordering::equal;
    }
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// "{E9AC688E-46B0-4769-B0C8-F365F88402BF}" (braces optional) to a GUID; nullopt on any other text.
std::optional<GUID> guidFromString(std::string_view text);

// Upper-case registry form with braces.
std::string guidToString(const GUID& g);

namespace com_detail {
constexpr int hexDigit(char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}
constexpr std::uint64_t hexValue(const char* s, int n) {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) {
        int d = hexDigit(s[i]);
        if (d < 0) throw "bad hex digit in GUID literal";  // compile-time error in constant evaluation
        v = v * 16 + std::uint64_t(d);
    }
    return v;
}
}  // namespace com_detail

// Compile-time GUID from its registry text, e.g. makeGuid("{2933BF90-7B36-11D2-B20E-00C04F983E60}").
template <std::size_t N>
consteval GUID makeGuid(const char (&t)[N]) {
    static_assert(N == 39 || N == 37, "GUID text must be 36 characters, with or without braces");
    const char* s = N == 39 ? t + 1 : t;
    GUID g{};
    g.Data1 = std::uint32_t(com_detail::hexValue(s, 8));
    g.Data2 = std::uint16_t(com_detail::hexValue(s + 9, 4));
    g.Data3 = std::uint16_t(com_detail::hexValue(s + 14, 4));
    g.Data4[0] = std::uint8_t(com_detail::hexValue(s + 19, 2));
    g.Data4[1] = std::uint8_t(com_detail::hexValue(s + 21, 2));
    for (int i = 0; i < 6; ++i) g.Data4[2 + i] = std::uint8_t(com_detail::hexValue(s + 24 + 2 * i, 2));
    return g;
}

// Every interface names its identifier as a static member `iid`.
#define __uuidof(I) (I::iid)
