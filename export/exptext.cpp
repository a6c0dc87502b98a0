// export/exptext.cpp: UTF-8 to the lexical levels of S-57 text (see exptext.h).

#include "export/exptext.h"

#include <cstdint>

#include "s57/s57_util2.h"

namespace {

// The code point of the UTF-8 sequence at text[i] and its length; a byte that begins no valid
// sequence (also an overlong form or a surrogate) is one character of its own value.
char32_t nextCharacter(std::string_view text, std::size_t i, std::size_t* length) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b = byte(i);
    int n = 0;
    char32_t c = 0;
    char32_t least = 0;
    if (b < 0x80) {
        *length = 1;
        return b;
    } else if ((b & 0xE0) == 0xC0) {
        n = 1, c = b & 0x1F, least = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        n = 2, c = b & 0x0F, least = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        n = 3, c = b & 0x07, least = 0x10000;
    } else {
        *length = 1;
        return b;
    }
    if (i + std::size_t(n) >= text.size()) {
        *length = 1;
        return b;
    }
    for (int k = 1; k <= n; ++k) {
        const unsigned char t = byte(i + std::size_t(k));
        if ((t & 0xC0) != 0x80) {
            *length = 1;
            return b;
        }
        c = (c << 6) | (t & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        *length = 1;
        return b;
    }
    *length = std::size_t(n) + 1;
    return c;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string levelText(std::string_view utf8, int level, int* replaced) {
    std::string out;
    out.reserve(utf8.size());
    int count = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        std::size_t n = 1;
        const char32_t c = nextCharacter(utf8, i, &n);
        i += n;
        if (level == 2) {
            if (c > 0xFFFF) {
                out += '?';
                ++count;
            } else {
                appendUtf8(out, c);
            }
        } else if (c > 0xFF) {
            out += '?';
            ++count;
        } else {
            appendUtf8(out, c);
        }
    }
    if (replaced) *replaced += count;
    return out;
}

std::string levelTextLogged(std::string_view utf8, int level, const char* function, const char* owner,
                            const char* label) {
    int replaced = 0;
    std::string out = levelText(utf8, level, &replaced);
    if (replaced > 0)
        logLine("%s: %s %s value \"%.*s\" has characters lexical level %d cannot hold, written as \"?\"\n",
                function ? function : "", owner ? owner : "", label ? label : "", int(utf8.size()), utf8.data(),
                level);
    return out;
}

std::string columnUtf8(const _variant_t& value) {
    if (value.vt == VT_NULL || value.vt == VT_EMPTY) return {};
    if (value.vt == VT_BSTR) {
        // Most column texts are ASCII: taken as they are, without the detour of a _bstr_t.
        const BSTR wide = value.bstrVal;
        const std::size_t n = wide ? SysStringLen(wide) : 0;
        std::string out;
        out.reserve(n);
        std::size_t i = 0;
        for (; i < n && wide[i] != 0 && static_cast<std::uint32_t>(wide[i]) < 0x80; ++i) out += char(wide[i]);
        if (i == n || wide[i] == 0) return out;
    }
    const _bstr_t text(value);
    const char* s = static_cast<const char*>(text);
    return s ? std::string(s) : std::string();
}
