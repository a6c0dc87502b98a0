// iso8211/convert.cpp: byte order and integer conversions, decimal text, counted reads from a
// stream or a string, the empty-value marker and tokenizer, and the ASCII/EBCDIC tables.
// Failures return 0.

#include <cstdlib>

#include "iso8211/internal.h"

using namespace iso8211;

int asc2ebc_switch = 0;
int ebc2asc_switch = 0;

namespace {

void put_bytes(const unsigned char* src, int n, char* out, int reverse) {
    for (int i = 0; i < n; ++i) out[i] = char(src[reverse ? n - 1 - i : i]);
}

template <class T>
int to_bytes(T v, char* out, int reverse) {
    if (!out) return 0;
    unsigned char b[sizeof(T)];
    std::memcpy(b, &v, sizeof(T));
    put_bytes(b, int(sizeof(T)), out, reverse);
    return 1;
}

template <class T>
int from_bytes(const char* in, T* v, int reverse) {
    if (!in || !v) return 0;
    unsigned char b[sizeof(T)];
    for (std::size_t i = 0; i < sizeof(T); ++i)
        b[i] = static_cast<unsigned char>(in[reverse ? sizeof(T) - 1 - i : i]);
    std::memcpy(v, b, sizeof(T));
    return 1;
}

// Code page 037.
const unsigned char kA2E[256] = {
    0x00, 0x01, 0x02, 0x03, 0x37, 0x2d, 0x2e, 0x2f, 0x16, 0x05, 0x25, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f,
    0x10, 0x11, 0x12, 0x13, 0x3c, 0x3d, 0x32, 0x26, 0x18, 0x19, 0x3f, 0x27, 0x1c, 0x1d, 0x1e, 0x1f,
    0x40, 0x5a, 0x7f, 0x7b, 0x5b, 0x6c, 0x50, 0x7d, 0x4d, 0x5d, 0x5c, 0x4e, 0x6b, 0x60, 0x4b, 0x61,
    0xf0, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0x7a, 0x5e, 0x4c, 0x7e, 0x6e, 0x6f,
    0x7c, 0xc1, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xd1, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6,
    0xd7, 0xd8, 0xd9, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xba, 0xe0, 0xbb, 0xb0, 0x6d,
    0x79, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96,
    0x97, 0x98, 0x99, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xc0, 0x4f, 0xd0, 0xa1, 0x07,
    0x20, 0x21, 0x22, 0x23, 0x24, 0x15, 0x06, 0x17, 0x28, 0x29, 0x2a, 0x2b, 0x2c, 0x09, 0x0a, 0x1b,
    0x30, 0x31, 0x1a, 0x33, 0x34, 0x35, 0x36, 0x08, 0x38, 0x39, 0x3a, 0x3b, 0x04, 0x14, 0x3e, 0xff,
    0x41, 0xaa, 0x4a, 0xb1, 0x9f, 0xb2, 0x6a, 0xb5, 0xbd, 0xb4, 0x9a, 0x8a, 0x5f, 0xca, 0xaf, 0xbc,
    0x90, 0x8f, 0xea, 0xfa, 0xbe, 0xa0, 0xb6, 0xb3, 0x9d, 0xda, 0x9b, 0x8b, 0xb7, 0xb8, 0xb9, 0xab,
    0x64, 0x65, 0x62, 0x66, 0x63, 0x67, 0x9e, 0x68, 0x74, 0x71, 0x72, 0x73, 0x78, 0x75, 0x76, 0x77,
    0xac, 0x69, 0xed, 0xee, 0xeb, 0xef, 0xec, 0xbf, 0x80, 0xfd, 0xfe, 0xfb, 0xfc, 0xad, 0xae, 0x59,
    0x44, 0x45, 0x42, 0x46, 0x43, 0x47, 0x9c, 0x48, 0x54, 0x51, 0x52, 0x53, 0x58, 0x55, 0x56, 0x57,
    0x8c, 0x49, 0xcd, 0xce, 0xcb, 0xcf, 0xcc, 0xe1, 0x70, 0xdd, 0xde, 0xdb, 0xdc, 0x8d, 0x8e, 0xdf};

const unsigned char* e2a_table() {
    static unsigned char t[256];
    static bool built = false;
    if (!built) {
        for (int i = 0; i < 256; ++i) t[kA2E[i]] = static_cast<unsigned char>(i);
        built = true;
    }
    return t;
}

}  // namespace

int i2to123b(std::int16_t v, char* out, int reverse) { return to_bytes(v, out, reverse); }
int i4to123b(std::int32_t v, char* out, int reverse) { return to_bytes(v, out, reverse); }
int u4to123b(std::uint32_t v, char* out, int reverse) { return to_bytes(v, out, reverse); }
int i4sto123b(const std::int32_t* v, long count, char* out, int reverse) {
    if (!v || !out || count < 0) return 0;
    for (long i = 0; i < count; ++i) to_bytes(v[i], out + 4 * i, reverse);
    return 1;
}
int b123toi2(const char* in, std::int16_t* v, int reverse) { return from_bytes(in, v, reverse); }
int b123toi4(const char* in, std::int32_t* v, int reverse) { return from_bytes(in, v, reverse); }
int b123tou4(const char* in, std::uint32_t* v, int reverse) { return from_bytes(in, v, reverse); }
int b123tod8(const char* in, double* v, int reverse) { return from_bytes(in, v, reverse); }

int byte123order(int* code) {
    if (!code) return 0;
    const std::uint16_t one = 1;
    unsigned char b[2];
    std::memcpy(b, &one, 2);
    *code = b[0] == 1 ? 0 : 1;
    return 1;
}

int uint123txt(unsigned long v, std::string& out) {
    out = std::to_string(v);
    return 1;
}
int sint123txt(long v, std::string& out) {
    out = std::to_string(v);
    return 1;
}
int int123txt(long v, std::string& out) { return sint123txt(v, out); }

int rev123txt(char* text) {
    if (!text) return 0;
    std::size_t n = std::strlen(text);
    for (std::size_t i = 0; i < n / 2; ++i) std::swap(text[i], text[n - 1 - i]);
    return 1;
}

int div123int(long dividend, long divisor, long* quot, long* rem) {
    if (!quot || !rem || divisor == 0) return 0;
    std::ldiv_t r = std::ldiv(dividend, divisor);
    *quot = r.quot;
    *rem = r.rem;
    return 1;
}

int get123fstr(std::FILE* fp, std::string& out, long count) {
    out.clear();
    if (!fp || count < 0) return 0;
    out.resize(std::size_t(count));
    std::size_t got = std::fread(out.data(), 1, out.size(), fp);
    out.resize(got);
    return got == std::size_t(count) ? 1 : 0;
}

int read123str(std::FILE* fp, std::string& out, long count) {
    out.clear();
    if (!fp || count < 0) return 0;
    long taken = 0;
    while (taken < count) {
        int c = std::fgetc(fp);
        if (c == EOF) break;
        ++taken;
        if (c == FT) break;  // counts as one character, neither copied nor passed
        out += char(c);
    }
    return taken == count ? 1 : 0;
}

int read123int(std::FILE* fp, long* value, long count) {
    std::string s;
    if (!value || count < 1 || count > 18 || !read123str(fp, s, count)) return 0;
    std::int32_t v = 0;
    if (s.size() > 9 || !parse_uint(s.c_str(), int(s.size()), &v)) return 0;
    *value = v;
    return 1;
}

int scan123str(const char** cur, const char* end, std::string& out, long count) {
    out.clear();
    if (!cur || !*cur || count < 0) return 0;
    long taken = 0;
    const char* p = *cur;
    while (taken < count && p < end) {
        char c = *p++;
        ++taken;
        if (c == FT) break;
        out += c;
    }
    *cur = p;
    return taken == count ? 1 : 0;
}

int scan123int(const char** cur, const char* end, long* value, long count) {
    std::string s;
    if (!value || count < 1 || !scan123str(cur, end, s, count)) return 0;
    std::int32_t v = 0;
    if (s.size() > 9 || !parse_uint(s.c_str(), int(s.size()), &v)) return 0;
    *value = v;
    return 1;
}

int mark123empty(std::string& text) {
    // An empty value between delimiters gets the marker, so a tokenizer cannot skip it.
    std::string out;
    out.reserve(text.size() + 8);
    bool after_delim = true;
    for (char c : text) {
        const bool delim = c == FT || c == UT;
        if (delim && after_delim) out += EMPTY_MARK;
        out += c;
        after_delim = delim;
    }
    text.swap(out);
    return 1;
}

char* next123tok(char* text, const char* delims, char** save) {
    if (!delims || !save) return nullptr;
    char* p = text ? text : *save;
    if (!p) return nullptr;
    p += std::strspn(p, delims);
    if (!*p) {
        *save = p;
        return nullptr;
    }
    char* e = p + std::strcspn(p, delims);
    if (*e) {
        *e = '\0';
        *save = e + 1;
    } else {
        *save = e;
    }
    return p;
}

int asc123ebc(char* text) {
    if (!text) return 0;
    for (; *text; ++text) *text = char(kA2E[static_cast<unsigned char>(*text)]);
    return 1;
}

int ebc123asc(char* text) {
    if (!text) return 0;
    const unsigned char* t = e2a_table();
    for (; *text; ++text) *text = char(t[static_cast<unsigned char>(*text)]);
    return 1;
}

int cat123conv(std::string& out, const char* text) {
    if (!text) return 0;
    std::string s = text;
    if (asc2ebc_switch) asc123ebc(s.data());
    else if (ebc2asc_switch) ebc123asc(s.data());
    out += s;
    return 1;
}
