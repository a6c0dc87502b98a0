// tests/iso8211/support.h: ISO 8211 files built byte by byte, and whole files read back through the
// library as plain records, for the library's tests.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace t8211 {

// Zero-padded decimal of exactly w digits (throws when it does not fit).
std::string num(std::size_t v, int w);

struct Fld {
    std::string tag, body;  // body ends with '\x1e'
};
// One record: a DDR (level 3, field controls of 9) or a DR; sizes 3/4/0/4 for the entry map.
std::string record(bool ddr, const std::vector<Fld>& fields, int lenDigits = 3, int posDigits = 4);
// A DDR description body: controls, name, labels, format, ended by the field terminator.
std::string desc(const std::string& controls, const std::string& name, const std::string& labels,
                 const std::string& format);
// The DDR of a small file with 0001 (b12), and the given further descriptions.
std::string ddr(const std::vector<Fld>& more);

std::string tempPath(const std::string& stem);
void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);

struct Sub {
    std::string label, format, value;
};
struct Field {
    std::string tag;
    std::vector<Sub> subs;
};
struct Rec {
    char leadid = ' ';
    std::vector<Field> fields;
};
struct FileRead {
    bool opened = false, ddrOk = false, toEnd = false;  // toEnd: stopped at a clean end of file
    std::vector<Rec> recs;
    std::vector<std::string> ddrTexts;  // each description as text123ddfld gives it
    std::vector<std::string> ddrTags;
    long level = 0;
    char ice = ' ';
    std::string ccs;
};
// Reads a whole file through ld123rec / next123sfld / desc123sfld (the record layer's walk).
FileRead readAll(const std::string& path);

// Writes recs to dst with the DDR given as description texts; 1 on success.
int writeAll(const std::string& dst, const FileRead& src);

// A file opened for reading with its DDR read; closed on destruction.
struct Reader {
    std::FILE* fp = nullptr;
    bool opened = false, ddrOk = false;
    explicit Reader(const std::string& path);
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
};

// A file written from fixture bytes, removed on destruction.
struct TempFile {
    std::string path;
    explicit TempFile(const std::string& bytes, const std::string& stem = "f.000");
    ~TempFile();
};

// Value as put123sfld wants it: binary items as their bytes.
std::string toBytes(const Sub& s);

std::string le16(unsigned v);
std::string le32(unsigned long v);

// Every subfield of a file opened for reading, as next123sfld gives it, with its status.
struct Step {
    std::string tag, label, value;
    int status;
};
std::vector<Step> walk(std::FILE* fp, int* lastStatus);

}  // namespace t8211
