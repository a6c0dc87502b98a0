// iso8211/dump.cpp: bytes as hexadecimal text for traces and dumps.

#include "iso8211/internal.h"

int hex123str(const char* bytes, long count, int group, std::string& out) {
    out.clear();
    if (!bytes || count < 0) return 0;
    if (group <= 0) group = 4;
    char b[4];
    for (long i = 0; i < count; ++i) {
        std::snprintf(b, sizeof b, "%2.2x", static_cast<unsigned char>(bytes[i]));
        out += b;
        if ((i + 1) % group == 0) out += ' ';
    }
    return 1;
}

int hex123plain(const char* bytes, long count, std::string& out) {
    out.clear();
    if (!bytes || count < 0) return 0;
    char b[4];
    for (long i = 0; i < count; ++i) {
        std::snprintf(b, sizeof b, "%2.2x", static_cast<unsigned char>(bytes[i]));
        out += b;
    }
    return 1;
}
