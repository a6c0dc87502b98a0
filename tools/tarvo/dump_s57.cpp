// tools/tarvo/dump_s57.cpp: `tarvo dump --s57` (see dump_s57.h). The catalogue is loaded from
// beside libtarvo.so for the acronyms, the built-in one standing in when that fails. logFile points
// at `err` while the dump runs.

#include "tools/tarvo/dump_s57.h"

#include <cstring>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "s57/dimml.h"
#include "s57/lookups.h"
#include "s57/s57_file.h"
#include "s57/s57_util2.h"
#include "tools/tarvo/quiet_stdout.h"

namespace {

// A value as one token: printable ASCII as is, other bytes as \xNN; quoted when empty or when it
// holds blanks or quotes.
std::string token(const char* v, int length) {
    std::string s;
    bool quote = length == 0;
    for (int i = 0; i < length && v[i]; ++i) {
        const unsigned char c = static_cast<unsigned char>(v[i]);
        if (c == ' ' || c == '"') quote = true;
        if (c == '"' || c == '\\') {
            s += '\\';
            s += char(c);
        } else if (c < 0x20 || c >= 0x7f) {
            char buf[5];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            s += buf;
        } else {
            s += char(c);
        }
    }
    return quote ? '"' + s + '"' : s;
}

bool isAttributeField(const char* tag) {
    const std::string t(tag);
    return t == "ATTF" || t == "NATF" || t == "ATTV";
}

// Restores logFile however the dump ends.
struct LogTo {
    FILE* saved;
    explicit LogTo(FILE* f) : saved(logFile) { logFile = f; }
    ~LogTo() { logFile = saved; }
};

// The catalogue readers trace every record they load on stdout, which would mix into the dump.
HRESULT loadCatalogueQuietly() {
    QuietStdout quiet;
    return loadDIMEInfo();
}

}  // namespace

int dumpS57(const char* path, std::FILE* out, std::FILE* err) {
    if (!path || !out || !err) return 1;
    LogTo log(err);
    if (loadCatalogueQuietly() != 0) {
        std::fprintf(err, "dump: catalogue beside libtarvo not loaded, using the built-in one\n");
        installBuiltinCatalogue();
    }

    Iso8211File file{};
    const int rc = Read8211File(&file, path);
    if (rc != 0) {
        std::fprintf(err, "dump: %s: cannot open (result %d)\n", path, rc);
        return 1;
    }
    std::fprintf(out, "%s: %d data records\n", path, int(file.recordCount));
    int failed = 0;
    for (int i = 0; i < file.recordCount; ++i) {
        const Iso8211RecIndex& entry = file.index[i];
        Iso8211Record record{};
        const int r = ReadNext8211Record(&file, &record);
        std::fprintf(out, "\nrecord %d %s %s\n", i + 1, entry.rcnm, entry.rcid);
        if (r != 0) {
            std::fprintf(out, "  unreadable (result %d)\n", r);
            ++failed;
            continue;
        }
        for (int f = 0; f < record.fieldCount; ++f) {
            const Iso8211Field& field = record.fields[f];
            std::string line = "  " + std::string(field.tag);
            const bool attributes = isAttributeField(field.tag);
            for (int j = 0; j < field.subfieldCount; ++j) {
                const Iso8211SubField& sf = field.subFields[j];
                std::string label(sf.label);
                while (!label.empty() && label.back() == ' ') label.pop_back();
                // Each repetition of a repeating field on a line of its own.
                if (j > 0 && std::strcmp(sf.label, field.subFields[0].label) == 0)
                    line += "\n" + std::string(2 + std::strlen(field.tag), ' ');
                line += ' ';
                if (!label.empty()) line += label + '=';
                const char* acronym = nullptr;
                if (attributes && label == "ATTL" && lookupAttrAcronym(sf.value, &acronym) == 0 && acronym)
                    line += acronym;
                else
                    line += token(sf.value, sf.length);
            }
            std::fprintf(out, "%s\n", line.c_str());
        }
        (void)Free8211Record(&record);
    }
    if (Close8211File(&file) != 0) ++failed;
    if (failed) std::fprintf(err, "dump: %s: %d records could not be read\n", path, failed);
    return failed ? 1 : 0;
}
