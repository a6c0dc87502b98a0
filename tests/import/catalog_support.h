// tests/import/catalog_support.h: what the CATALOG import and export tests share (header only, so
// tests/export can include it too): CATALOG files built byte by byte, an independent walk of a
// CATALOG through the ISO 8211 library alone, a log captured in memory, temporary directories and
// geodatabases, and the rows of a table as text.
#pragma once

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include "iso8211/iso8211.h"
#include "platform/gdb/gdb.h"
#include "s57/s57_util2.h"
#include "support/captured_log.h"

namespace cattest {

// ---- Files and directories ----------------------------------------------------------------------

struct TempDir {
    std::filesystem::path path;
    TempDir() {
        static std::atomic<int> counter{0};
        path = std::filesystem::temp_directory_path() /
               ("tarvo_catalog_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string str() const { return path.string(); }
};

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

using testsupport::CapturedLog;

// ---- ISO 8211 built in code ---------------------------------------------------------------------

inline std::string num(std::size_t v, int w) {
    std::string s = std::to_string(v);
    if (s.size() > std::size_t(w)) throw std::length_error(s);
    return std::string(std::size_t(w) - s.size(), '0') + s;
}

struct Fld {
    std::string tag, body;  // body ends with '\x1e'
};

// A record with 4-digit field lengths and 5-digit positions.
inline std::string record(bool ddr, const std::vector<Fld>& fields) {
    std::string dir, area;
    for (const auto& f : fields) {
        dir += f.tag + num(f.body.size(), 4) + num(area.size(), 5);
        area += f.body;
    }
    dir += '\x1e';
    const std::size_t base = 24 + dir.size();
    return num(base + area.size(), 5) + (ddr ? "3LE1 09" : " D     ") + num(base, 5) + (ddr ? " ! " : "   ") +
           "4504" + dir + area;
}

inline constexpr char kCatdLabels[] = "RCNM!RCID!FILE!LFIL!VOLM!IMPL!SLAT!WLON!NLAT!ELON!CRCS!COMT";
inline constexpr char kCatdFormat[] = "(A(2),I(10),3A,A(3),4R,2A)";

// The DDR of a CATALOG: 0001, CATD with the given labels and format, CATX.
inline std::string catalogueDdr(const std::string& catdLabels = kCatdLabels,
                                const std::string& catdFormat = kCatdFormat) {
    return record(true, {{"0000", "0000;&   \x1f" "0001CATD0001CATX\x1e"},
                         {"0001", "0100;&   ISO/IEC 8211 Record Identifier\x1f\x1f(I(5))\x1e"},
                         {"CATD", "1600;&   Catalogue Directory Field\x1f" + catdLabels + "\x1f" + catdFormat + "\x1e"},
                         {"CATX", "1600;&   Catalogue Cross Reference\x1fRCNM!RCID!NAM1!NAM2!COMT\x1f(A(2),I(10),3A)\x1e"}});
}

struct Catd {
    std::string rcnm = "CD";
    std::string rcid = "0000000001";
    std::string file, lfil, volm = "V01X01", impl = "BIN";
    std::string slat, wlon, nlat, elon, crcs, comt;
    bool withSlat = true;  // false: the field has no SLAT (for a DDR without it)
};

inline std::string catdBody(const Catd& c) {
    const char ut = '\x1f';
    std::string b = c.rcnm + c.rcid + c.file + ut + c.lfil + ut + c.volm + ut + c.impl;
    if (c.withSlat) b += c.slat + ut;
    b += c.wlon + ut + c.nlat + ut + c.elon + ut + c.crcs + ut + c.comt + ut + '\x1e';
    return b;
}

inline std::string catxBody(const std::string& rcnm, const std::string& rcid, const std::string& nam1,
                            const std::string& nam2, const std::string& comt) {
    return rcnm + rcid + nam1 + '\x1f' + nam2 + '\x1f' + comt + '\x1f' + '\x1e';
}

inline std::string id0001(int n) { return num(std::size_t(n), 5) + "\x1e"; }

// A whole CATALOG of CD records.
inline std::string catalogueOf(const std::vector<Catd>& entries) {
    std::string bytes = catalogueDdr();
    int n = 0;
    for (const Catd& c : entries) {
        ++n;
        bytes += record(false, {{"0001", id0001(n)}, {"CATD", catdBody(c)}});
    }
    return bytes;
}

// ---- The ISO 8211 library alone -------------------------------------------------------------------

struct RawSubfield {
    std::string tag, label, format, value;
};
using RawRecord = std::vector<RawSubfield>;

// Every data record of a file as the library's subfield walk gives it; false when the file cannot
// be read to its end.
inline bool walkRecords(const std::string& path, std::vector<RawRecord>& out) {
    out.clear();
    long level = 0;
    char ice = ' ';
    char ccs[4] = "   ";
    std::FILE* fp = nullptr;
    if (!open123file(path.c_str(), 'r', &level, &ice, ccs, &fp) || !fp) return false;
    if (!find123file(fp) || !read123ddr()) {
        close123file(&fp);
        return false;
    }
    bool ok = false;
    for (;;) {
        RawSubfield sf;
        char lead = ' ';
        long length = 0;
        int status = 0;
        if (!next123sfld(fp, sf.tag, &lead, sf.value, &length, &status)) {
            ok = status == S_EOF;
            break;
        }
        if (status == S_RECSTART || out.empty()) out.emplace_back();
        std::string labels, tag;
        if (!desc123sfld(fp, tag, labels, sf.format)) break;
        const auto bang = labels.rfind('!');
        sf.label = bang == std::string::npos ? labels : labels.substr(bang + 1);
        out.back().push_back(sf);
        if (status == S_EOF) {
            ok = true;
            break;
        }
    }
    close123file(&fp);
    return ok;
}

// The subfields of the first `tag` field of a raw record, by label.
inline std::map<std::string, std::string> fieldValues(const RawRecord& r, const std::string& tag) {
    std::map<std::string, std::string> out;
    for (const RawSubfield& s : r)
        if (s.tag == tag && !out.count(s.label)) out[s.label] = s.value;
    return out;
}

// ---- Geodatabases ---------------------------------------------------------------------------------

inline IWorkspacePtr createGdb(const TempDir& dir, const std::string& name = "test.gpkg") {
    IWorkspaceFactoryPtr f(CLSID_AccessWorkspaceFactory);
    return f->Create(dir.str().c_str(), name.c_str());
}

// Every row of a table, column name (upper case) -> value as text ("" for NULL), in table order.
inline std::vector<std::map<std::string, std::string>> tableRows(IFeatureWorkspace* ws, const char* name) {
    std::vector<std::map<std::string, std::string>> out;
    ITablePtr table = ws->OpenTable(name);
    IFieldsPtr fields = table->GetFields();
    ICursorPtr cursor = table->Search(nullptr, VARIANT_FALSE);
    for (IRowPtr row = cursor->NextRow(); row; row = cursor->NextRow()) {
        std::map<std::string, std::string> values;
        for (LONG i = 0; i < fields->GetFieldCount(); ++i) {
            std::string column = static_cast<const char*>(fields->GetField(i)->GetName());
            for (char& c : column) c = char(std::toupper(static_cast<unsigned char>(c)));
            const _variant_t v = row->GetValue(i);
            values[column] = v.vt == VT_NULL || v.vt == VT_EMPTY ? std::string()
                                                                 : std::string(static_cast<const char*>(_bstr_t(v)));
        }
        out.push_back(std::move(values));
    }
    return out;
}

}  // namespace cattest
