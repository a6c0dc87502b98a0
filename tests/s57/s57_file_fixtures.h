// tests/s57/s57_file_fixtures.h: what the record-layer and codec tests share: a raw walk of a file
// through the ISO 8211 library alone (an independent count of records and the binary values as the
// library hands them out), ISO 8211 records built byte by byte, and a log captured in memory.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>
#include "support/captured_log.h"

namespace s57test {

// One subfield as the library hands it out, before any decoding.
struct RawSubfield {
    std::string tag;
    std::string label;   // after the last "!"
    std::string format;  // as desc123sfld gives it ("L12", "B(40)", "A(8)", ...)
    std::string value;   // decimal text of a binary number; raw bytes of a bit string
    long length = 0;
    int record = 0;      // 1-based data record ordinal
};

// Walks every subfield of every data record; -1 when the file cannot be opened or read to its end,
// else the number of data records. `each` may be empty.
int walkRaw(const std::string& path, const std::function<void(const RawSubfield&)>& each);

// The bytes a binary subfield holds in the file, rebuilt from what the library handed out
// ("L12" + "550" -> 26 02); false for a format that is not binary.
bool fileBytes(const RawSubfield& sf, std::string& bytes);

// The real base cells (every .000 under the data folder except the negative ones).
std::vector<std::string> baseCells();

// ---- ISO 8211 built in code ---------------------------------------------------------------------

std::string num(std::size_t v, int w);
struct Fld {
    std::string tag, body;  // body ends with '\x1e'
};
std::string record(bool ddr, const std::vector<Fld>& fields);

// A small binary cell: DDR (0000, 0001, DSID-like "DSID" with RCNM b11 and RCID b14, and "ATTF"
// with ATTL b12 / ATVL A) and one data record per (rcnm code, rcid) pair.
std::string smallDdr();
std::string smallRecord(int rcnm, unsigned rcid, const std::string& atvl = "x");

// Writes bytes to a fresh file under the test's temporary directory; returns its path.
std::string writeTemp(const std::string& name, const std::string& bytes);

using testsupport::CapturedLog;

}  // namespace s57test

struct Iso8211FileDesc;
struct Iso8211FieldDesc;

namespace s57test {

// The DDR of an existing file as the descriptions Write8211File takes (format = both formats as
// the file has them, binary 1). False when the file cannot be read.
bool ddrDescription(const std::string& path, Iso8211FileDesc& file, std::vector<Iso8211FieldDesc>& fields);

}  // namespace s57test
