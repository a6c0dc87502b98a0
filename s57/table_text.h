// s57/table_text.h: the fixed-size texts of the catalogue's tables and of the record list's entries,
// read without running past their arrays, and names compared as the catalogue compares them
// (without regard to ASCII case).
#pragma once

#include <cctype>
#include <cstddef>
#include <cstring>
#include <string_view>

// A fixed-size text of a table entry, never read past its array.
template <std::size_t N>
std::string_view fieldText(const char (&text)[N]) {
    return std::string_view(text, strnlen(text, N));
}

inline bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}
