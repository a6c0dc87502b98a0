// platform/com/guid.cpp: GUID text in and out.
#include "platform/com/guid.h"

#include <cstdio>

std::optional<GUID> guidFromString(std::string_view t) {
    if (t.size() == 38) {
        if (t.front() != '{' || t.back() != '}') return std::nullopt;
        t = t.substr(1, 36);
    }
    if (t.size() != 36 || t[8] != '-' || t[13] != '-' || t[18] != '-' || t[23] != '-') return std::nullopt;
    auto hex = [&](std::size_t at, int n, std::uint64_t& v) {
        v = 0;
        for (int i = 0; i < n; ++i) {
            int d = com_detail::hexDigit(t[at + std::size_t(i)]);
            if (d < 0) return false;
            v = v * 16 + std::uint64_t(d);
        }
        return true;
    };
    GUID g{};
    std::uint64_t v = 0;
    if (!hex(0, 8, v)) return std::nullopt;
    g.Data1 = std::uint32_t(v);
    if (!hex(9, 4, v)) return std::nullopt;
    g.Data2 = std::uint16_t(v);
    if (!hex(14, 4, v)) return std::nullopt;
    g.Data3 = std::uint16_t(v);
    for (int i = 0; i < 8; ++i) {
        const std::size_t at = i < 2 ? 19 + std::size_t(2 * i) : 24 + std::size_t(2 * (i - 2));
        if (!hex(at, 2, v)) return std::nullopt;
        g.Data4[i] = std::uint8_t(v);
    }
    return g;
}

std::string guidToString(const GUID& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", unsigned(g.Data1),
                  unsigned(g.Data2), unsigned(g.Data3), g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                  g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}
