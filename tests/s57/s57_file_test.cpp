// tests/s57/s57_file_test.cpp: the ISO 8211 record and file layer. The real cells are checked
// against a walk with the ISO 8211 library alone (records, fields, subfields, decoded values) and
// against their own DSSI counts; a cell is written back through its own DDR and read back equal;
// bad input (truncated cells, an S-101 file, damaged records, a missing file) fails with its code
// and a log line. Small cells built byte by byte pin the edge cases.

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/com/bstr.h"
#include "s57/dimml.h"
#include "s57/field_utils.h"
#include "s57/s57_codec.h"
#include "s57/s57_file.h"
#include "s57/s57_util2.h"
#include "s57_file_fixtures.h"
#include "support/test_data.h"

using s57test::CapturedLog;
using s57test::RawSubfield;

namespace {

// A handle that is closed (and its record freed) whatever the test does.
struct OpenFile {
    Iso8211File f{};
    ~OpenFile() { (void)Close8211File(&f); }
};
struct Record {
    Iso8211Record r{};
    ~Record() { (void)Free8211Record(&r); }
};

std::string stemOf(const std::string& path) { return std::filesystem::path(path).stem().string(); }

std::string readBytes(const std::string& path) {
    std::string s;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[65536];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
        std::fclose(f);
    }
    return s;
}

// The raw walk of a file, grouped by record.
std::vector<std::vector<RawSubfield>> rawRecords(const std::string& path) {
    std::vector<std::vector<RawSubfield>> out;
    s57test::walkRaw(path, [&](const RawSubfield& sf) {
        if (sf.record > int(out.size())) out.resize(std::size_t(sf.record));
        out[std::size_t(sf.record) - 1].push_back(sf);
    });
    return out;
}

bool binaryFormat(const std::string& f) { return !f.empty() && (f[0] == 'L' || f[0] == 'M' || f[0] == 'B'); }

// The tags whose field controls carry the UCS-2 escape "%/A".
std::set<std::string> ucs2Tags(const std::string& path) {
    Iso8211FileDesc file;
    std::vector<Iso8211FieldDesc> fields;
    std::set<std::string> tags;
    if (s57test::ddrDescription(path, file, fields))
        for (const auto& d : fields)
            if (const std::string c = d.controls; c.size() == 9 && c.compare(6, 3, "%/A") == 0) tags.insert(d.tag);
    return tags;
}

// What the layer should make of one raw subfield; false when the codec refuses it.
bool expectedValue(const RawSubfield& sf, std::string& value, const std::set<std::string>& ucs2 = {}) {
    value.assign(sf.value.data(), std::size_t(sf.length));
    if (sf.label.size() != 4 || !binaryFormat(sf.format)) {
        // Text comes as UTF-8 (UCS-2 checked against GDAL below); the layer keeps a value up to
        // its first NUL.
        if (ucs2.count(sf.tag)) value = ucs2ToUtf8(value.data(), long(value.size()));
        else value = lexicalToUtf8(value, 1);
        value = value.c_str();
        return true;
    }
    char out[kCodecTextMax + 1];
    if (bin2ascii(sf.label.c_str(), sf.value.data(), sf.length, out) != 0) return false;
    value = out;
    return true;
}

// ---- Real cells ---------------------------------------------------------------------------------

// Cells whose DSSI counts are wrong on purpose, and the one whose first record is garbled (its DSID
// is described as b12 for RCNM but holds b11 data, so RCNM reads as 266).
const std::set<std::string> kWrongDssi = {"AA400004", "AA400012"};
const std::map<std::string, int> kOpenFails = {{"AA500003", -10}};
// Records the layer refuses in cells that open: S-58 cells broken on purpose (a data-set record
// of bad values, a vector record with an unknown update instruction). Every other record reads.
const std::map<std::string, int> kRefusedRecords = {{"00400013", 1}, {"AA400015", 1}};
// Cells whose vector records are of another kind than the DSSI counts them (nodes marked isolated
// or connected against their use, an edge pointer to a node): only the totals agree.
const std::set<std::string> kMisclassifiedVectors = {"AA400009", "AA500001", "AA500018"};

class RealCell : public ::testing::TestWithParam<std::string> {};

TEST_P(RealCell, IndexHoldsEveryRecord) {
    const std::string path = GetParam();
    const std::string cell = stemOf(path);
    const int walked = s57test::walkRaw(path, {});
    ASSERT_GT(walked, 0) << "the library alone cannot walk " << path;

    CapturedLog log;
    OpenFile of;
    const int rc = Read8211File(&of.f, path.c_str());
    if (auto it = kOpenFails.find(cell); it != kOpenFails.end()) {
        EXPECT_EQ(rc, it->second);
        EXPECT_EQ(of.f.mode, ' ');
        EXPECT_EQ(of.f.fp, nullptr);
        EXPECT_NE(log.text().find("Read8211File: unable to decode binary value for\n"
                                  "  subField label: RCNM , format: L12, value: 266\n"),
                  std::string::npos)
            << log.text();
        return;
    }
    ASSERT_EQ(rc, 0) << log.text();
    EXPECT_EQ(log.text(), "");
    EXPECT_EQ(of.f.mode, 'r');
    EXPECT_EQ(of.f.recordNo, 1);
    ASSERT_EQ(of.f.recordCount, walked);

    std::map<std::string, int> byName;
    for (int i = 0; i < of.f.recordCount; ++i) {
        const Iso8211RecIndex& e = of.f.index[i];
        ASSERT_EQ(std::strlen(e.rcnm), 2u) << i;
        ASSERT_EQ(std::strlen(e.rcid), 10u) << i;
        EXPECT_EQ(e.ordinal, static_cast<unsigned char>((i + 1) & 0xff));
        ++byName[e.rcnm];
    }
    EXPECT_EQ(std::string(of.f.index[0].rcnm), "DS");

    if (kWrongDssi.count(cell)) return;
    // The counts as the library alone reads them: the DS record itself may not decode.
    std::map<std::string, long> dssi;
    s57test::walkRaw(path, [&](const RawSubfield& sf) {
        if (sf.record == 1 && sf.tag == "DSSI") dssi[sf.label] = std::atol(sf.value.c_str());
    });
    ASSERT_FALSE(dssi.empty());
    EXPECT_EQ(byName["FE"], dssi["NOMR"] + dssi["NOCR"] + dssi["NOGR"] + dssi["NOLR"]);
    EXPECT_EQ(byName["VI"] + byName["VC"] + byName["VE"] + byName["VF"],
              dssi["NOIN"] + dssi["NOCN"] + dssi["NOED"] + dssi["NOFA"]);
    if (kMisclassifiedVectors.count(cell)) return;
    EXPECT_EQ(byName["VI"], dssi["NOIN"]);
    EXPECT_EQ(byName["VC"], dssi["NOCN"]);
    EXPECT_EQ(byName["VE"], dssi["NOED"]);
    EXPECT_EQ(byName["VF"], dssi["NOFA"]);
}

// Each record as the layer reads it equals the library's walk decoded by the codec; a record with
// a value the codec refuses fails with -10 and is freed, and the next record still reads.
TEST_P(RealCell, RecordsEqualTheLibraryWalkDecoded) {
    const std::string path = GetParam();
    if (kOpenFails.count(stemOf(path))) GTEST_SKIP() << "does not open";
    const auto raw = rawRecords(path);
    const auto ucs2 = ucs2Tags(path);
    CapturedLog log;
    OpenFile of;
    ASSERT_EQ(Read8211File(&of.f, path.c_str()), 0);
    ASSERT_EQ(std::size_t(of.f.recordCount), raw.size());
    int refused = 0;
    for (int i = 0; i < of.f.recordCount; ++i) {
        const auto& want = raw[std::size_t(i)];
        bool decodable = true;
        for (const auto& sf : want) {
            std::string v;
            decodable = decodable && expectedValue(sf, v, ucs2);
        }
        Record rec;
        const int rc = ReadNext8211Record(&of.f, &rec.r);
        ASSERT_EQ(of.f.recordNo, i + 2);
        if (!decodable) {
            EXPECT_EQ(rc, -10) << "record " << i + 1;
            EXPECT_EQ(rec.r.fieldCount, 0);
            EXPECT_EQ(rec.r.fields, nullptr);
            ++refused;
            continue;
        }
        ASSERT_EQ(rc, 0) << "record " << i + 1 << "\n" << log.text();
        std::size_t k = 0;
        for (int fi = 0; fi < rec.r.fieldCount; ++fi) {
            const Iso8211Field& f = rec.r.fields[fi];
            for (int j = 0; j < f.subfieldCount; ++j, ++k) {
                ASSERT_LT(k, want.size()) << "record " << i + 1;
                const RawSubfield& sf = want[k];
                std::string v;
                ASSERT_TRUE(expectedValue(sf, v, ucs2));
                ASSERT_EQ(f.tag, sf.tag) << "record " << i + 1;
                EXPECT_EQ(f.subFields[j].label, sf.label.substr(0, 4));
                EXPECT_EQ(f.subFields[j].format, sf.format);
                EXPECT_EQ(f.subFields[j].value, v) << sf.tag << "/" << sf.label;
                EXPECT_EQ(f.subFields[j].length, int32_t(v.size()));
            }
        }
        EXPECT_EQ(k, want.size()) << "record " << i + 1;
        // The index describes the record it points at.
        const int first = rec.r.fieldCount > 1 ? 1 : 0;
        const int rcnm = Find8211SubField(&rec.r, "RCNM", first, 0);
        const int rcid = Find8211SubField(&rec.r, "RCID", first, 0);
        ASSERT_GE(rcnm, 0);
        ASSERT_GE(rcid, 0);
        EXPECT_STREQ(rec.r.fields[first].subFields[rcnm].value, of.f.index[i].rcnm);
        EXPECT_STREQ(rec.r.fields[first].subFields[rcid].value, of.f.index[i].rcid);
    }
    Record past;
    EXPECT_EQ(ReadNext8211Record(&of.f, &past.r), -12);
    const auto it = kRefusedRecords.find(stemOf(path));
    EXPECT_EQ(refused, it == kRefusedRecords.end() ? 0 : it->second);
}

INSTANTIATE_TEST_SUITE_P(S57, RealCell, ::testing::ValuesIn(s57test::baseCells()),
                         [](const auto& i) { return stemOf(i.param); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(RealCell);

// A record image as text: tags, labels, formats, lengths and value bytes.
std::string imageOf(const Iso8211Record& r) {
    std::string out;
    for (int i = 0; i < r.fieldCount; ++i) {
        const Iso8211Field& f = r.fields[i];
        out += std::string(f.tag) + "{";
        for (int j = 0; j < f.subfieldCount; ++j) {
            const Iso8211SubField& sf = f.subFields[j];
            out += std::string(sf.label) + "/" + sf.format + "/" + std::to_string(sf.length) + "=" +
                   std::string(sf.value, std::size_t(sf.length) + 1) + ";";
        }
        out += "}";
    }
    return out;
}

// Every record reached by Read8211Record from anywhere (backwards from the end, then in strides
// that jump both ways) equals the record read in file order, result and log included.
TEST_P(RealCell, RecordsReachedInAnyOrderEqualFileOrder) {
    const std::string path = GetParam();
    if (kOpenFails.count(stemOf(path))) GTEST_SKIP() << "does not open";
    OpenFile of;
    ASSERT_EQ(Read8211File(&of.f, path.c_str()), 0);
    ASSERT_NE(of.f.recordStart, nullptr) << "records stand alone: each is reached directly";
    struct Read {
        int rc;
        std::string image, log;
        int recordNo;  // where the handle stands after it
    };
    auto readAt = [&](int ordinal, bool next) {
        CapturedLog log;
        Record rec;
        const int rc = next ? ReadNext8211Record(&of.f, &rec.r) : Read8211Record(&of.f, ordinal, &rec.r);
        return Read{rc, imageOf(rec.r), log.text(), of.f.recordNo};
    };
    const int n = of.f.recordCount;
    std::vector<Read> inOrder;
    for (int i = 1; i <= n; ++i) inOrder.push_back(readAt(i, true));
    std::vector<int> order;
    for (int i = n; i >= 1; --i) order.push_back(i);
    for (int start = 1; start <= 7; ++start)
        for (int i = start; i <= n; i += 97) order.push_back(i);
    for (int ordinal : order) {
        const Read r = readAt(ordinal, false);
        const Read& want = inOrder[std::size_t(ordinal - 1)];
        ASSERT_EQ(r.rc, want.rc) << ordinal;
        ASSERT_EQ(r.image, want.image) << ordinal;
        ASSERT_EQ(r.log, want.log) << ordinal;
        ASSERT_EQ(r.recordNo, want.recordNo) << ordinal;
    }
}

// Records of a cell in the order of its index after random moves equal those read in file order.
TEST(Read8211Record, PositionsBackwardAndForward) {
    SKIP_WITHOUT_DATA();
    const std::string path = testdata::path("enc/US5MA12M/US5MA12M.000");
    OpenFile of;
    ASSERT_EQ(Read8211File(&of.f, path.c_str()), 0);
    auto rcidOf = [](const Iso8211Record& r) {
        const int j = Find8211SubField(&r, "RCID", 1, 0);
        return j < 0 ? std::string() : std::string(r.fields[1].subFields[j].value);
    };
    for (int ordinal : {5, 3, 3, 1, 300, 2, of.f.recordCount, 7}) {
        Record rec;
        ASSERT_EQ(Read8211Record(&of.f, ordinal, &rec.r), 0) << ordinal;
        EXPECT_EQ(rcidOf(rec.r), of.f.index[ordinal - 1].rcid) << ordinal;
        EXPECT_EQ(of.f.recordNo, ordinal + 1);
    }
    CapturedLog log;
    Record rec;
    EXPECT_EQ(Read8211Record(&of.f, 0, &rec.r), -19);
    EXPECT_EQ(Read8211Record(&of.f, of.f.recordCount + 1, &rec.r), -19);
    EXPECT_EQ(log.text(), "Read8211Record: Illegal parameter\nRead8211Record: Illegal parameter\n");
}

// ---- Writing back ---------------------------------------------------------------------------------

// What the exporters do before writing: binary subfields get their bytes back.
void prepareBinary(Iso8211Record& r) {
    for (int i = 0; i < r.fieldCount; ++i) {
        for (int j = 0; j < r.fields[i].subfieldCount; ++j) {
            Iso8211SubField& sf = r.fields[i].subFields[j];
            sf.length = int32_t(std::strlen(sf.value));
            if (!binaryFormat(sf.format)) continue;
            char buf[kCodecTextMax + 1];
            int length = 0, bytes = 0;
            ASSERT_EQ(ascii2bin(sf.label, buf, sf.value, &length, &bytes), 0) << sf.label << " " << sf.value;
            char* copy = static_cast<char*>(std::malloc(std::size_t(bytes) + 1));
            std::memcpy(copy, buf, std::size_t(bytes));
            copy[bytes] = '\0';
            sf.value = copy;  // the text stays in the record's block; Free8211Record frees the copy
            sf.length = bytes;
        }
    }
}

class WriteBack : public ::testing::TestWithParam<std::string> {
protected:
    // The agencies of the catalogue: AGEN values go through their labels and back.
    static void SetUpTestSuite() { (void)loadDIMEInfoFrom(TARVO_BINARY_DIR "/lib"); }
};

TEST_P(WriteBack, CellWrittenThroughItsOwnDdrReadsBackEqual) {
    SKIP_WITHOUT_DATA();
    const std::string in = testdata::path(GetParam());
    Iso8211FileDesc fileDesc;
    std::vector<Iso8211FieldDesc> descs;
    ASSERT_TRUE(s57test::ddrDescription(in, fileDesc, descs));
    ASSERT_EQ(updateDDR(descs.data(), int(descs.size()), 1), 0);

    const std::string out = s57test::writeTemp("copy.000", "");
    CapturedLog log;
    {
        OpenFile src, dst;
        ASSERT_EQ(Read8211File(&src.f, in.c_str()), 0);
        ASSERT_EQ(Write8211File(&dst.f, out.c_str(), &fileDesc, descs.data(), int(descs.size())), 0)
            << log.text();
        EXPECT_EQ(dst.f.recordNo, 1);
        EXPECT_EQ(dst.f.recordCount, 1);
        for (int i = 0; i < src.f.recordCount; ++i) {
            Record rec;
            ASSERT_EQ(ReadNext8211Record(&src.f, &rec.r), 0) << i + 1;
            prepareBinary(rec.r);
            ASSERT_EQ(Write8211Record(&dst.f, &rec.r), 0) << i + 1 << "\n" << log.text();
            EXPECT_EQ(dst.f.recordCount, i + 2);
            EXPECT_EQ(dst.f.recordNo, dst.f.recordCount);
        }
        ASSERT_EQ(Close8211File(&dst.f), 0);
    }
    EXPECT_EQ(log.text(), "");
    const auto a = rawRecords(in), b = rawRecords(out);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(a[i].size(), b[i].size()) << "record " << i + 1;
        for (std::size_t k = 0; k < a[i].size(); ++k) {
            EXPECT_EQ(a[i][k].tag, b[i][k].tag);
            EXPECT_EQ(a[i][k].label, b[i][k].label);
            EXPECT_EQ(a[i][k].format, b[i][k].format);
            EXPECT_EQ(a[i][k].value, b[i][k].value) << "record " << i + 1 << " " << a[i][k].tag << "/" << a[i][k].label;
        }
    }
    // Our own reader takes the copy as it took the original.
    OpenFile back;
    ASSERT_EQ(Read8211File(&back.f, out.c_str()), 0);
    EXPECT_EQ(std::size_t(back.f.recordCount), a.size());
}

INSTANTIATE_TEST_SUITE_P(S57, WriteBack,
                         ::testing::Values("enc/US5MA12M/US5MA12M.000", "enc/US1AK90M/US1AK90M.000",
                                           "s58/AA400004/ENC_ROOT/AA400004.000",
                                           "s58/AA500006/ENC_ROOT/AA500006.000",
                                           "s58/AA400001/ENC_ROOT/CATALOG.031"),
                         [](const auto& i) {
                             const std::filesystem::path p(i.param);
                             const std::string set = p.begin()->string() == "enc"
                                                         ? p.stem().string()
                                                         : p.parent_path().parent_path().filename().string();
                             return set + "_" + p.extension().string().substr(1);
                         });

// The exchange-set catalogues are ASCII files: their index and records come through unchanged.
class RealCatalogue : public ::testing::TestWithParam<std::string> {};

TEST_P(RealCatalogue, OpensAndReadsEveryEntry) {
    const std::string path = GetParam();
    const auto raw = rawRecords(path);
    CapturedLog log;
    OpenFile of;
    const int rc = Read8211File(&of.f, path.c_str());
    if (path.find("/AA500013/") != std::string::npos) {
        // Its catalogue is malformed on purpose: the damaged record fails the open instead of
        // ending the index early with the records before it.
        EXPECT_EQ(rc, -8);
        EXPECT_EQ(log.text(), "Read8211File: Error reading data record 3\n");
        return;
    }
    ASSERT_EQ(rc, 0) << log.text();
    ASSERT_EQ(std::size_t(of.f.recordCount), raw.size());
    for (int i = 0; i < of.f.recordCount; ++i) {
        EXPECT_STREQ(of.f.index[i].rcnm, "CD");
        Record rec;
        ASSERT_EQ(ReadNext8211Record(&of.f, &rec.r), 0) << i + 1;
        const int catd = Find8211Field(&rec.r, "CATD", 0);
        ASSERT_GE(catd, 0);
        const int file = Find8211SubField(&rec.r, "FILE", catd, 0);
        ASSERT_GE(file, 0);
        EXPECT_GT(std::strlen(rec.r.fields[catd].subFields[file].value), 0u);
    }
    EXPECT_EQ(log.text(), "");
}

INSTANTIATE_TEST_SUITE_P(S57, RealCatalogue, ::testing::ValuesIn(testdata::files({"CATALOG.031"})),
                         [](const auto& i) {
                             return std::filesystem::path(i.param).parent_path().parent_path().filename().string();
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(RealCatalogue);

// ---- Bad input ------------------------------------------------------------------------------------

TEST(BadInput, MissingFile) {
    CapturedLog log;
    OpenFile of;
    EXPECT_EQ(Read8211File(&of.f, "/nonexistent/dir/cell.000"), -2);
    EXPECT_EQ(log.text(), "Read8211File: Error opening ISO 8211 File\n");
    EXPECT_EQ(of.f.mode, ' ');
    EXPECT_EQ(of.f.fp, nullptr);
    EXPECT_EQ(of.f.index, nullptr);
}

TEST(BadInput, NullArguments) {
    CapturedLog log;
    Iso8211File f{};
    Iso8211Record r{};
    EXPECT_EQ(Read8211File(nullptr, "x"), -19);
    EXPECT_EQ(Read8211File(&f, nullptr), -19);
    EXPECT_EQ(ReadNext8211Record(&f, &r), -19);
    EXPECT_EQ(Close8211File(nullptr), -19);
    EXPECT_EQ(Free8211Record(nullptr), -19);
    EXPECT_EQ(log.text(),
              "Read8211File: Illegal parameter\nRead8211File: Illegal parameter\n"
              "ReadNext8211Record: Illegal parameter\nClose8211File: Illegal parameter\n"
              "Free8211Record: Illegal parameter\n");
}

TEST(BadInput, S101DataSetIsRefused) {
    SKIP_WITHOUT_DATA();
    CapturedLog log;
    OpenFile of;
    // Its DDR reads; its first record has binary forms S-57 does not use (8-byte integers).
    EXPECT_EQ(Read8211File(&of.f, testdata::path("negative/101AA00DS0003.000").c_str()), -8);
    EXPECT_EQ(of.f.mode, ' ');
    EXPECT_EQ(of.f.fp, nullptr);
    EXPECT_EQ(log.text(), "Read8211File: Error reading data record 1\n");
}

// A real cell cut anywhere inside its DDR fails as a bad DDR; cut inside a record, it fails as a
// bad record instead of opening with the records before the cut; cut between records, it opens
// with the records before the cut.
TEST(BadInput, TruncatedCell) {
    SKIP_WITHOUT_DATA();
    const std::string path = testdata::path("s58/AA500012/ENC_ROOT/AA500012.000");
    const std::string bytes = readBytes(path);
    ASSERT_FALSE(bytes.empty());
    const std::size_t ddrLength = std::size_t(std::atoi(bytes.substr(0, 5).c_str()));
    const std::size_t firstLength = std::size_t(std::atoi(bytes.substr(ddrLength, 5).c_str()));
    const std::size_t secondStart = ddrLength + firstLength;

    struct Cut {
        std::size_t at;
        int rc;
        const char* log;
    };
    const Cut cuts[] = {
        {10, -7, "Read8211File: Bad Data Description Record\n"},
        {30, -7, "Read8211File: Bad Data Description Record\n"},
        {ddrLength - 1, -7, "Read8211File: Bad Data Description Record\n"},
        {ddrLength + 10, -8, "Read8211File: Error reading data record 1\n"},
        {secondStart - 1, -8, "Read8211File: Error reading data record 1\n"},
        {secondStart + 30, -8, "Read8211File: Error reading data record 2\n"},
        {bytes.size() - 1, -8, nullptr},
    };
    for (const Cut& c : cuts) {
        const std::string cutPath = s57test::writeTemp("cut" + std::to_string(c.at) + ".000", bytes.substr(0, c.at));
        CapturedLog log;
        OpenFile of;
        EXPECT_EQ(Read8211File(&of.f, cutPath.c_str()), c.rc) << "cut at " << c.at;
        EXPECT_EQ(of.f.mode, ' ');
        if (c.log) {
            EXPECT_EQ(log.text(), c.log) << "cut at " << c.at;
        } else {
            EXPECT_NE(log.text().find("Read8211File: Error reading data record "), std::string::npos);
        }
    }
    const std::string clean = s57test::writeTemp("clean.000", bytes.substr(0, secondStart));
    OpenFile of;
    ASSERT_EQ(Read8211File(&of.f, clean.c_str()), 0);
    EXPECT_EQ(of.f.recordCount, 1);
}

// ---- Small cells built in code --------------------------------------------------------------------

// A file that exists but is no ISO 8211 file is refused as a bad DDR, not as a missing file.
TEST(BadInput, FileThatIsNoIso8211FileIsABadDdr) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty.000", ""},
        {"short.000", "00"},
        {"garbage.000", std::string(3000, '\x7f')},
        {"badlevel.000", "00241" + std::string(30, ' ')},
    };
    for (const Case& c : cases) {
        CapturedLog log;
        OpenFile of;
        EXPECT_EQ(Read8211File(&of.f, s57test::writeTemp(c.name, c.bytes).c_str()), -7) << c.name;
        EXPECT_EQ(log.text(), "Read8211File: Bad Data Description Record\n") << c.name;
        EXPECT_EQ(of.f.mode, ' ');
        EXPECT_EQ(of.f.fp, nullptr);
    }
    CapturedLog log;
    OpenFile of;
    const std::string folder = std::filesystem::path(s57test::writeTemp("x", "")).parent_path().string();
    EXPECT_EQ(Read8211File(&of.f, folder.c_str()), -2) << "a folder is no file";
    EXPECT_EQ(log.text(), "Read8211File: Error opening ISO 8211 File\n");
}

// Records after an 'R' leader hold only their field area: they cannot be reached directly, and
// Read8211Record walks to them record by record.
TEST(SmallCell, RecordsUnderAReusedLeaderAreReachedOneByOne) {
    auto areaOf = [](const std::string& rec) { return rec.substr(std::size_t(std::atoi(rec.substr(12, 5).c_str()))); };
    std::string first = s57test::smallRecord(130, 11, "ab");
    first[6] = 'R';
    std::string bytes = s57test::smallDdr() + first;
    for (unsigned rcid : {12u, 13u, 14u}) bytes += areaOf(s57test::smallRecord(130, rcid, "cd"));
    OpenFile of;
    ASSERT_EQ(Read8211File(&of.f, s57test::writeTemp("reused.000", bytes).c_str()), 0);
    ASSERT_EQ(of.f.recordCount, 4);
    EXPECT_EQ(of.f.recordStart, nullptr);
    for (int ordinal : {4, 1, 3, 2, 4, 2}) {
        Record rec;
        ASSERT_EQ(Read8211Record(&of.f, ordinal, &rec.r), 0) << ordinal;
        const int j = Find8211SubField(&rec.r, "RCID", 1, 0);
        ASSERT_GE(j, 0);
        EXPECT_EQ(std::string(rec.r.fields[1].subFields[j].value), "00000000" + std::to_string(10 + ordinal));
        EXPECT_EQ(std::string(rec.r.fields[2].subFields[1].value), ordinal == 1 ? "ab" : "cd");
    }
}

TEST(SmallCell, NoDataRecords) {
    OpenFile of;
    ASSERT_EQ(Read8211File(&of.f, s57test::writeTemp("empty.000", s57test::smallDdr()).c_str()), 0);
    EXPECT_EQ(of.f.recordCount, 0);
    EXPECT_EQ(of.f.index, nullptr);
    CapturedLog log;
    Record rec;
    EXPECT_EQ(ReadNext8211Record(&of.f, &rec.r), -12);
    EXPECT_EQ(log.text(), "ReadNext8211Record: attempt to read past end of file\n");
}

TEST(SmallCell, OrdinalByteIsTheLowEightBits) {
    std::string bytes = s57test::smallDdr();
    for (unsigned i = 1; i <= 257; ++i) bytes += s57test::smallRecord(130, i);
    OpenFile of;
    ASSERT_EQ(Read8211File(&of.f, s57test::writeTemp("many.000", bytes).c_str()), 0);
    ASSERT_EQ(of.f.recordCount, 257);
    EXPECT_EQ(of.f.index[254].ordinal, 255);
    EXPECT_EQ(of.f.index[255].ordinal, 0);
    EXPECT_EQ(of.f.index[256].ordinal, 1);
    EXPECT_STREQ(of.f.index[255].rcnm, "VE");
    EXPECT_STREQ(of.f.index[255].rcid, "0000000256");
}

struct BadRecordCase {
    const char* name;
    std::string record;
    int rc;
    const char* log;
};

std::string recordWithoutRcid() {
    return s57test::record(false, {{"0001", std::string("\x01\x00\x1e", 3)}, {"ATTF", std::string("\x4b\x00x\x1f\x1e", 5)}});
}

class SmallCellBadRecord : public ::testing::TestWithParam<BadRecordCase> {};

TEST_P(SmallCellBadRecord, FailsTheOpen) {
    const auto& c = GetParam();
    const std::string bytes = s57test::smallDdr() + s57test::smallRecord(10, 1) + c.record + s57test::smallRecord(130, 2);
    CapturedLog log;
    OpenFile of;
    EXPECT_EQ(Read8211File(&of.f, s57test::writeTemp("bad.000", bytes).c_str()), c.rc);
    EXPECT_EQ(of.f.mode, ' ');
    EXPECT_EQ(of.f.fp, nullptr);
    EXPECT_NE(log.text().find(c.log), std::string::npos) << log.text();
}

const BadRecordCase kBadRecords[] = {
    {"RecordNameNotInTable", s57test::smallRecord(131, 5), -10,
     "Read8211File: unable to decode binary value for\n  subField label: RCNM , format: L11, value: 131\n"},
    {"MissingRcid", recordWithoutRcid(), -8, "Read8211File: Record is missing RCNM or RCID\n"},
    {"GarbageBetweenRecords", std::string(40, '#'), -8, "Read8211File: Error reading data record 2\n"},
};

INSTANTIATE_TEST_SUITE_P(S57, SmallCellBadRecord, ::testing::ValuesIn(kBadRecords),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(SmallCell, SubfieldOf1024BytesIsReadAnd1025Refused) {
    std::string bytes = s57test::smallDdr() + s57test::smallRecord(100, 1, std::string(1024, 'a')) +
                        s57test::smallRecord(100, 2, std::string(1025, 'b'));
    OpenFile of;
    ASSERT_EQ(Read8211File(&of.f, s57test::writeTemp("long.000", bytes).c_str()), 0);
    Record ok;
    ASSERT_EQ(ReadNext8211Record(&of.f, &ok.r), 0);
    const int attf = Find8211Field(&ok.r, "ATTF", 0);
    ASSERT_GE(attf, 0);
    EXPECT_EQ(ok.r.fields[attf].subFields[1].length, 1024);
    CapturedLog log;
    Record bad;
    EXPECT_EQ(ReadNext8211Record(&of.f, &bad.r), -10);
    EXPECT_EQ(log.text(), "Read8211FieldSubFields: Error reading in subfield\n");
    EXPECT_EQ(bad.r.fields, nullptr);
}

// The index pass reads every subfield up to RCNM and RCID: a 0001 text of 1025 bytes before them
// fails the open, one of 1024 does not.
TEST(SmallCell, IndexPassRefusesASubfieldOver1024Bytes) {
    const std::string ddr = s57test::record(
        true, {{"0000", "0000;&   TEXT ID\x1f" "0001DSID\x1e"},
               {"0001", "0100;&   ISO 8211 Record Identifier\x1e"},
               {"DSID", "1600;&   Data set identification field\x1fRCNM!RCID\x1f(A(2),I(10))\x1e"}});
    auto rec = [](std::size_t idLength) {
        return s57test::record(false, {{"0001", std::string(idLength, '7') + "\x1e"}, {"DSID", "DS0000000001\x1e"}});
    };
    {
        OpenFile of;
        ASSERT_EQ(Read8211File(&of.f, s57test::writeTemp("id1024.000", ddr + rec(1024)).c_str()), 0);
        EXPECT_EQ(of.f.recordCount, 1);
        EXPECT_STREQ(of.f.index[0].rcid, "0000000001");
    }
    CapturedLog log;
    OpenFile of;
    EXPECT_EQ(Read8211File(&of.f, s57test::writeTemp("id1025.000", ddr + rec(1025)).c_str()), -10);
    EXPECT_EQ(log.text(), "Read8211File: Subfield length exceeds 1024 bytes\n");
}

// A cell of lexical level 2: NATF ("%/A") holds UCS-2 text, ATTF ("-A ") 8-bit text.
std::string ucs2Ddr() {
    return s57test::record(
        true, {
                  {"0000", "0000;&   UCS-2 CELL\x1f" "0001DSID0001NATF0001ATTF\x1e"},
                  {"0001", "0500;&   ISO 8211 Record Identifier\x1f\x1f(b12)\x1e"},
                  {"DSID", "1600;&   Data set identification field\x1fRCNM!RCID\x1f(b11,b14)\x1e"},
                  {"NATF", "2600;&%/A Feature record national attribute field\x1f*ATTL!ATVL\x1f(b12,A)\x1e"},
                  {"ATTF", "2600;&-A Feature record attribute field\x1f*ATTL!ATVL\x1f(b12,A)\x1e"},
              });
}

std::string ucs2Record(const std::string& natf) {
    const std::string dsid = {char(100), 1, 0, 0, 0};
    return s57test::record(false, {{"0001", std::string{1, 0} + "\x1e"},
                                   {"DSID", dsid + "\x1e"},
                                   {"NATF", natf + std::string{'\x1e', 0}},
                                   {"ATTF", std::string{116, 0} + "caf\xe9\x1f\x1e"}});
}

// "Zé" and U+1E1F (whose bytes are the terminators), then U+1F600 as a surrogate pair.
const std::string kNatf = std::string{44, 1} + std::string("Z\0\xe9\0\x1f\x1e", 6) + std::string{'\x1f', 0} +
                          std::string{45, 1} + std::string("\x3d\xd8\x00\xde", 4) + std::string{'\x1f', 0};

TEST(Ucs2Cell, NationalTextReadsAsUtf8AndWritesBackAsUcs2) {
    const std::string in = s57test::writeTemp("ucs2.000", ucs2Ddr() + ucs2Record(kNatf));
    CapturedLog log;
    OpenFile of;
    ASSERT_EQ(Read8211File(&of.f, in.c_str()), 0) << log.text();
    Record rec;
    ASSERT_EQ(ReadNext8211Record(&of.f, &rec.r), 0) << log.text();
    const int natf = Find8211Field(&rec.r, "NATF", 0);
    ASSERT_GE(natf, 0);
    const Iso8211Field& f = rec.r.fields[natf];
    ASSERT_EQ(f.subfieldCount, 4);
    EXPECT_STREQ(f.subFields[0].value, "300");
    EXPECT_STREQ(f.subFields[1].value, "Z\xc3\xa9\xe1\xb8\x9f");
    EXPECT_EQ(f.subFields[1].length, 6);
    EXPECT_STREQ(f.subFields[2].value, "301");
    EXPECT_STREQ(f.subFields[3].value, "\xf0\x9f\x98\x80");
    EXPECT_EQ(f.subFields[3].length, 4);
    const int attf = Find8211Field(&rec.r, "ATTF", 0);
    ASSERT_GE(attf, 0);
    EXPECT_STREQ(rec.r.fields[attf].subFields[1].value, "caf\xc3\xa9");  // ISO 8859-1 comes as UTF-8

    // Written through the cell's own DDR: the same bytes; a Latin-1 text written into NATF keeps
    // its characters.
    Iso8211FileDesc fileDesc;
    std::vector<Iso8211FieldDesc> descs;
    ASSERT_TRUE(s57test::ddrDescription(in, fileDesc, descs));
    ASSERT_EQ(updateDDR(descs.data(), int(descs.size()), 1), 0);
    const std::string out = s57test::writeTemp("ucs2_copy.000", "");
    {
        OpenFile dst;
        ASSERT_EQ(Write8211File(&dst.f, out.c_str(), &fileDesc, descs.data(), int(descs.size())), 0);
        prepareBinary(rec.r);
        ASSERT_EQ(Write8211Record(&dst.f, &rec.r), 0) << log.text();
        Iso8211SubField& text = rec.r.fields[natf].subFields[3];
        text.value = strdup("\xe9t\xe9");
        text.length = 3;
        ASSERT_EQ(Write8211Record(&dst.f, &rec.r), 0) << log.text();
        ASSERT_EQ(Close8211File(&dst.f), 0);
    }
    const auto a = rawRecords(in), b = rawRecords(out);
    ASSERT_EQ(b.size(), 2u);
    ASSERT_EQ(a[0].size(), b[0].size());
    for (std::size_t k = 0; k < a[0].size(); ++k)
        EXPECT_EQ(a[0][k].value, b[0][k].value) << a[0][k].tag << "/" << a[0][k].label;
    OpenFile back;
    ASSERT_EQ(Read8211File(&back.f, out.c_str()), 0);
    Record second;
    ASSERT_EQ(Read8211Record(&back.f, 2, &second.r), 0);
    EXPECT_STREQ(second.r.fields[natf].subFields[3].value, "\xc3\xa9t\xc3\xa9");
    EXPECT_EQ(log.text(), "");
}

// 8-bit text written from UTF-8: ISO 8859-1 bytes in the file; a character that ISO 8859-1 cannot
// hold is written as '?' and named in the log, and binary items of the field are left alone.
TEST(Ucs2Cell, EightBitTextWritesAsLatin1AndNamesWhatItCannotHold) {
    const std::string in = s57test::writeTemp("latin1.000", ucs2Ddr() + ucs2Record(kNatf));
    CapturedLog log;
    OpenFile of;
    ASSERT_EQ(Read8211File(&of.f, in.c_str()), 0) << log.text();
    Record rec;
    ASSERT_EQ(ReadNext8211Record(&of.f, &rec.r), 0) << log.text();
    const int attf = Find8211Field(&rec.r, "ATTF", 0);
    ASSERT_GE(attf, 0);
    Iso8211SubField& code = rec.r.fields[attf].subFields[0];
    std::unique_ptr<char, decltype(&std::free)> codeText(strdup("176"), &std::free);
    code.value = codeText.get();  // b12: its first byte is 0xB0, the degree sign of ISO 8859-1
    code.length = 3;
    Iso8211SubField& text = rec.r.fields[attf].subFields[1];
    text.value = strdup("090\xc2\xb0 D\xc3\xbcmpling \xe2\x82\xac\xe7\x81\xaf");
    text.length = int32_t(std::strlen(text.value));

    Iso8211FileDesc fileDesc;
    std::vector<Iso8211FieldDesc> descs;
    ASSERT_TRUE(s57test::ddrDescription(in, fileDesc, descs));
    ASSERT_EQ(updateDDR(descs.data(), int(descs.size()), 1), 0);
    const std::string out = s57test::writeTemp("latin1_copy.000", "");
    {
        OpenFile dst;
        ASSERT_EQ(Write8211File(&dst.f, out.c_str(), &fileDesc, descs.data(), int(descs.size())), 0);
        prepareBinary(rec.r);  // puts a copy in place of the code's text
        ASSERT_EQ(Write8211Record(&dst.f, &rec.r), 0) << log.text();
        ASSERT_EQ(Close8211File(&dst.f), 0);
    }
    EXPECT_EQ(log.text(), "Write8211Record: field ATTF, subfield ATVL: characters that 8-bit text cannot hold "
                          "written as '?': U+20AC U+706F\n");
    const auto records = rawRecords(out);
    ASSERT_EQ(records.size(), 1u);
    std::string written;
    for (const auto& sf : records[0]) {
        if (sf.tag == "ATTF" && sf.label == "ATVL") written = sf.value;
        else if (sf.tag == "ATTF") { EXPECT_EQ(sf.value, "176"); }
    }
    EXPECT_EQ(written, "090\xb0 D\xfcmpling ??");
}

// The national attributes of a real level 2 chart equal GDAL's reading of them (recoded to UTF-8).
TEST(Ucs2Cell, RealChartNationalTextEqualsGdal) {
    SKIP_WITHOUT_DATA();
    const std::string path = testdata::path("enc/US1AK90M/US1AK90M.000");
    const std::string command = "ogrinfo -ro -q -al -geom=NO -oo RECODE_BY_DSSI=ON -oo UPDATES=IGNORE '" + path +
                                "' 2>/dev/null";
    std::map<std::string, std::string> gdal;  // RCID -> NINFOM
    {
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
        ASSERT_TRUE(pipe);
        char line[8192];
        std::string rcid;
        while (std::fgets(line, sizeof line, pipe.get())) {
            std::string t = line;
            while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
            if (t.rfind("  RCID (Integer) = ", 0) == 0) rcid = t.substr(19);
            if (t.rfind("  NINFOM (String) = ", 0) == 0) gdal[rcid] = t.substr(20);
        }
    }
    ASSERT_FALSE(gdal.empty()) << "ogrinfo gave no national attributes";

    std::map<std::string, std::string> ours;
    OpenFile of;
    ASSERT_EQ(Read8211File(&of.f, path.c_str()), 0);
    for (int i = 1; i <= of.f.recordCount; ++i) {
        Record rec;
        ASSERT_EQ(Read8211Record(&of.f, i, &rec.r), 0) << "record " << i;
        const int frid = Find8211Field(&rec.r, "FRID", 0), natf = Find8211Field(&rec.r, "NATF", 0);
        if (frid < 0 || natf < 0) continue;
        const Iso8211Field& f = rec.r.fields[natf];
        for (int j = 0; j + 1 < f.subfieldCount; j += 2)
            if (std::strcmp(f.subFields[j].value, "300") == 0)
                ours[std::to_string(std::atol(rec.r.fields[frid].subFields[1].value))] = f.subFields[j + 1].value;
    }
    EXPECT_EQ(ours.size(), 65u);
    EXPECT_EQ(ours, gdal);
}

// ---- Building and finding ---------------------------------------------------------------------------

TEST(Build, GenericFieldsFindAndFree) {
    Record rec;
    ASSERT_EQ(allocateFieldArray(&rec.r, 2), 0);
    ASSERT_EQ(WriteIso8211Field0001(&rec.r.fields[0], 1, "00007"), 0);
    EXPECT_STREQ(rec.r.fields[0].tag, "0001");
    EXPECT_STREQ(rec.r.fields[0].subFields[0].label, "    ");
    FieldDef defs[2] = {{1, "RCNM", "", 1, 2}, {2, "RCID", "", 2, 10}};
    char v0[] = "FE", v1[] = "0000000001";
    char* values[] = {v0, v1};
    ASSERT_EQ(WriteIso8211FieldGeneric("FRID", &rec.r.fields[1], defs, 2, values), 0);
    EXPECT_EQ(Find8211Field(&rec.r, "FRID", 0), 1);
    EXPECT_EQ(Find8211Field(&rec.r, "FRID", 2), -13);
    EXPECT_EQ(Find8211Field(&rec.r, "0001", 1), -13);
    EXPECT_EQ(Find8211SubField(&rec.r, "RCID", 1, 0), 1);
    EXPECT_EQ(Find8211SubField(&rec.r, "RCID", 1, 2), -13);
    CapturedLog log;
    EXPECT_EQ(Find8211SubField(&rec.r, "RCID", 2, 0), -19);
    EXPECT_EQ(Find8211Field(&rec.r, "FRID", -1), -19);
    EXPECT_EQ(WriteIso8211Field0001(&rec.r.fields[0], 2, "1"), -19);
    EXPECT_EQ(Free8211Field(&rec.r, "FOID"), -13);
    EXPECT_EQ(Free8211Field(&rec.r, "FRID"), 0);
    EXPECT_EQ(rec.r.fields[1].subfieldCount, 0);
    EXPECT_EQ(rec.r.fields[1].subFields, nullptr);
    EXPECT_EQ(log.text(),
              "Find8211SubField: Illegal parameter\nFind8211Field: Illegal parameter\n"
              "WriteIso8211Field0001: Illegal parameter\n");
}

// A read record is one block: parts a caller puts in its place (a value, a whole field built by a
// builder) are freed with it, Free8211Field leaves the block to Free8211Record, and nothing is
// freed twice or lost (ASan and LeakSanitizer watch this test).
TEST(ReadRecord, PartsPutIntoItAreFreedWithTheBlock) {
    SKIP_WITHOUT_DATA();
    OpenFile of;
    ASSERT_EQ(Read8211File(&of.f, testdata::path("enc/US5MA12M/US5MA12M.000").c_str()), 0);
    Record rec;
    ASSERT_EQ(Read8211Record(&of.f, of.f.recordCount, &rec.r), 0);  // a feature: 0001 FRID FOID ...
    const int frid = Find8211Field(&rec.r, "FRID", 0);
    const int foid = Find8211Field(&rec.r, "FOID", 0);
    ASSERT_GE(frid, 0);
    ASSERT_GE(foid, 0);
    const std::string before = imageOf(rec.r);

    rec.r.fields[frid].subFields[1].value = strdup("replaced");
    FieldDef defs[1] = {{1, "ATTL", "", 1, 5}};
    char v0[] = "00116";
    char* values[] = {v0};
    ASSERT_EQ(WriteIso8211FieldGeneric("ATTF", &rec.r.fields[0], defs, 1, values), 0);
    EXPECT_EQ(Free8211Field(&rec.r, "FOID"), 0);
    EXPECT_EQ(rec.r.fields[foid].subfieldCount, 0);
    EXPECT_EQ(rec.r.fields[foid].subFields, nullptr);
    EXPECT_STREQ(rec.r.fields[frid].subFields[1].value, "replaced");
    EXPECT_EQ(Find8211Field(&rec.r, "ATTF", 0), 0);
    EXPECT_EQ(Free8211Record(&rec.r), 0);
    EXPECT_EQ(rec.r.fields, nullptr);
    EXPECT_EQ(rec.r.fieldCount, 0);

    // The record read again is the one the file holds, not the one changed above.
    ASSERT_EQ(Read8211Record(&of.f, of.f.recordCount, &rec.r), 0);
    EXPECT_EQ(imageOf(rec.r), before);
}

// The field utilities replace values of records read from a file as of records built: what they put
// in is freed with the record, and no part of the record's block is freed on its own (ASan says so).
TEST(ReadRecord, FieldUtilitiesReplaceItsValues) {
    SKIP_WITHOUT_DATA();
    OpenFile of;
    ASSERT_EQ(Read8211File(&of.f, testdata::path("enc/US5MA12M/US5MA12M.000").c_str()), 0);
    Record rec;
    ASSERT_EQ(Read8211Record(&of.f, of.f.recordCount, &rec.r), 0);
    const int frid = Find8211Field(&rec.r, "FRID", 0);
    ASSERT_GE(frid, 0);
    Iso8211Field& f = rec.r.fields[frid];
    ASSERT_GE(f.subfieldCount, 2);
    const std::string label = f.subFields[1].label;
    const std::string first = rec.r.fields[0].subFields[0].value;
    Free8211Value(rec.r.fields[0].subFields[0].value);  // part of the block: left to the record
    EXPECT_EQ(rec.r.fields[0].subFields[0].value, first);
    Free8211Value(std::malloc(16));
    Free8211Value(nullptr);
    ASSERT_EQ(updateSubfield(&f, label.c_str(), "7", 1), 0);
    EXPECT_STREQ(f.subFields[1].value, "7");
    ASSERT_EQ(updateSubfield(&f, label.c_str(), "8", 1), 0);  // a value of our own replaced again
    EXPECT_STREQ(f.subFields[1].value, "8");
    EXPECT_EQ(PrepareToWrite(&rec.r, 1), 0);
    EXPECT_EQ(Free8211Record(&rec.r), 0);
}

// Records handed out from what the open pass kept do not move the file: once they are let go, the
// reads that go to the file again find the records the handle points at, forward and backward.
TEST(Read8211Record, ReleasedKeptRecordsLeaveThePositionRight) {
    SKIP_WITHOUT_DATA();
    const std::string path = testdata::path("enc/US5MA12M/US5MA12M.000");
    OpenFile of;
    ASSERT_EQ(Read8211File(&of.f, path.c_str()), 0);
    std::vector<std::string> inOrder;
    for (int i = 1; i <= of.f.recordCount; ++i) {
        Record rec;
        ASSERT_EQ(ReadNext8211Record(&of.f, &rec.r), 0) << i;
        inOrder.push_back(imageOf(rec.r));
    }
    // Each sequence starts on a freshly opened handle: its first read comes from the kept records,
    // the ones after the release (0 marks it) from the file. -1 reads the next record.
    const int n = of.f.recordCount;
    const std::vector<std::vector<int>> sequences = {
        {5, 0, 6, -1, 3}, {n / 2, 0, -1, -1, 1}, {n, 0, n, 2}};
    for (const auto& seq : sequences) {
        ASSERT_EQ(Close8211File(&of.f), 0);
        ASSERT_EQ(Read8211File(&of.f, path.c_str()), 0);
        for (int step : seq) {
            if (step == 0) {
                Release8211RecordCache(&of.f);
                continue;
            }
            const int expected = step > 0 ? step : of.f.recordNo;
            Record rec;
            ASSERT_EQ(step > 0 ? Read8211Record(&of.f, step, &rec.r) : ReadNext8211Record(&of.f, &rec.r), 0)
                << expected;
            EXPECT_EQ(imageOf(rec.r), inOrder[std::size_t(expected - 1)]) << "record " << expected;
            EXPECT_EQ(of.f.recordNo, expected + 1);
        }
    }
}

struct BuilderCase {
    const char* name;
    int (*build)(Iso8211Field*);
    int rc;
    const char* log;
};

const char* const kNames[] = {"VE0000000001", "VC0000000002"};
const char* const kShortNames[] = {"VE0000000001", "VC00002"};
const char* const kFaceNames[] = {"FE0000000001"};
const char* const kOne[] = {"F", "R"};

const BuilderCase kBuilders[] = {
    {"FsptTwoPointers",
     [](Iso8211Field* f) { return WriteIso8211FieldFSPT(f, 2, kNames, kOne, kOne, kOne); }, 0, ""},
    {"FsptShortName",
     [](Iso8211Field* f) { return WriteIso8211FieldFSPT(f, 2, kShortNames, kOne, kOne, kOne); }, -19,
     "WriteIso8211FieldFSPT: bad subfield NAME's length = 7\n"},
    {"FsptNullColumn",
     [](Iso8211Field* f) { return WriteIso8211FieldFSPT(f, 2, kNames, nullptr, kOne, kOne); }, -19,
     "WriteIso8211FieldFSPT: Illegal parameter.\n"},
    {"VrptNotAVector",
     [](Iso8211Field* f) { return WriteIso8211FieldVRPT(f, 1, kFaceNames, kOne, kOne, kOne, kOne); }, -19,
     "WriteIso8211FieldVRPT: subfield NAME FE0000000001 should start with VC or VE or VI or VF\n"},
    {"DummyFfpt", [](Iso8211Field* f) { return WriteIso8211FieldDummyFFPT(f, "M", ""); }, 0, ""},
    {"CatdImplLength",
     [](Iso8211Field* f) {
         const char* v[] = {"CD", "0000000001", "A.000", "", "V01X01", "BINX", "", "", "", "", "", ""};
         return WriteIso8211FieldCATD(f, v);
     },
     -19, "WriteIso8211FieldCATD: bad subfield IMPL's length = 4\n"},
};

class Builder : public ::testing::TestWithParam<BuilderCase> {};

TEST_P(Builder, ChecksTextsLabelByLabel) {
    const auto& c = GetParam();
    CapturedLog log;
    Iso8211Record rec{};
    ASSERT_EQ(allocateFieldArray(&rec, 1), 0);
    EXPECT_EQ(c.build(&rec.fields[0]), c.rc);
    EXPECT_EQ(log.text(), c.log);
    if (c.rc == 0) {
        EXPECT_GT(rec.fields[0].subfieldCount, 0);
        for (int j = 0; j < rec.fields[0].subfieldCount; ++j)
            EXPECT_EQ(rec.fields[0].subFields[j].length, int32_t(std::strlen(rec.fields[0].subFields[j].value)));
    }
    EXPECT_EQ(Free8211Record(&rec), 0);
}

INSTANTIATE_TEST_SUITE_P(S57, Builder, ::testing::ValuesIn(kBuilders),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(UpdateDDR, BinaryChangesOnly0001Controls) {
    Iso8211FieldDesc d[2]{};
    std::strcpy(d[0].tag, "0001");
    std::strcpy(d[0].controls, "0100;&   ");
    std::strcpy(d[0].asciiFormat, "(I(5))");
    std::strcpy(d[0].binaryFormat, "(b12)");
    std::strcpy(d[1].tag, "FRID");
    std::strcpy(d[1].controls, "1600;&   ");
    std::strcpy(d[1].asciiFormat, "(A(2),I(10))");
    std::strcpy(d[1].binaryFormat, "(b11,b14)");
    ASSERT_EQ(updateDDR(d, 2, 0), 0);
    EXPECT_STREQ(d[0].controls, "0100;&   ");
    EXPECT_STREQ(d[1].format, "(A(2),I(10))");
    EXPECT_EQ(d[1].binary, 0);
    ASSERT_EQ(updateDDR(d, 2, 1), 0);
    EXPECT_STREQ(d[0].controls, "0500;&   ");
    EXPECT_STREQ(d[0].format, "(b12)");
    EXPECT_STREQ(d[1].controls, "1600;&   ");
    EXPECT_STREQ(d[1].format, "(b11,b14)");
    EXPECT_EQ(d[1].binary, 1);
    CapturedLog log;
    EXPECT_EQ(updateDDR(d, 2, 2), -19);
    EXPECT_EQ(updateDDR(d, 0, 1), -19);
    EXPECT_EQ(log.text(), "updateDDR: illegal parameter\nupdateDDR: illegal parameter\n");
}

// Records of one-subfield fields and of one three-subfield field are written so that the library
// reads back the same fields and subfields.
TEST(WriteRecord, FieldShapesReadBackAsWritten) {
    Iso8211FileDesc fileDesc{"0000;&   ", "SHAPES", "0001DSID0001FRNM"};
    Iso8211FieldDesc d[3]{};
    const char* rows[3][4] = {{"0001", "0500;&   ", "ISO 8211 Record Identifier", ""},
                              {"DSID", "1600;&   ", "Data set identification field", "RCNM!RCID!COMT"},
                              {"FRNM", "1600;&   ", "A field of one subfield", "RCNM"}};
    const char* formats[3] = {"(I(5))", "(A(2),I(10),A)", "(A(2))"};
    for (int i = 0; i < 3; ++i) {
        std::strcpy(d[i].tag, rows[i][0]);
        std::strcpy(d[i].controls, rows[i][1]);
        std::strcpy(d[i].name, rows[i][2]);
        std::strcpy(d[i].labels, rows[i][3]);
        std::strcpy(d[i].asciiFormat, formats[i]);
        std::strcpy(d[i].binaryFormat, formats[i]);
    }
    ASSERT_EQ(updateDDR(d, 3, 0), 0);
    const std::string path = s57test::writeTemp("shapes.000", "");
    {
        OpenFile out;
        ASSERT_EQ(Write8211File(&out.f, path.c_str(), &fileDesc, d, 3), 0);
        FieldDef dsid[3] = {{1, "RCNM", "", 1, 2}, {2, "RCID", "", 2, 10}, {3, "COMT", "", 1, 0}};
        char rcnm[] = "DS", rcid[] = "0000000001", comt[] = "three";
        char* dsValues[] = {rcnm, rcid, comt};
        Record one;  // 0001 alone, then DSID of three: options 2, then 6, 1, 3
        ASSERT_EQ(allocateFieldArray(&one.r, 2), 0);
        ASSERT_EQ(WriteIso8211Field0001(&one.r.fields[0], 1, "00001"), 0);
        ASSERT_EQ(WriteIso8211FieldGeneric("DSID", &one.r.fields[1], dsid, 3, dsValues), 0);
        ASSERT_EQ(Write8211Record(&out.f, &one.r), 0);
        Record two;  // three fields of one subfield each: 2, 6, 6
        ASSERT_EQ(allocateFieldArray(&two.r, 3), 0);
        ASSERT_EQ(WriteIso8211Field0001(&two.r.fields[0], 1, "00002"), 0);
        char fe[] = "FE", vi[] = "VI";
        char* feValues[] = {fe};
        char* viValues[] = {vi};
        ASSERT_EQ(WriteIso8211FieldGeneric("FRNM", &two.r.fields[1], dsid, 1, feValues), 0);
        ASSERT_EQ(WriteIso8211FieldGeneric("FRNM", &two.r.fields[2], dsid, 1, viValues), 0);
        ASSERT_EQ(Write8211Record(&out.f, &two.r), 0);
        EXPECT_EQ(out.f.recordCount, 3);
        EXPECT_EQ(out.f.recordNo, 3);
    }
    const auto raw = rawRecords(path);
    ASSERT_EQ(raw.size(), 2u);
    auto shape = [](const std::vector<RawSubfield>& r) {
        std::string s;
        for (const auto& sf : r) s += sf.tag + ":" + sf.label + "=" + sf.value + " ";
        return s;
    };
    EXPECT_EQ(shape(raw[0]), "0001:=00001 DSID:RCNM=DS DSID:RCID=0000000001 DSID:COMT=three ");
    EXPECT_EQ(shape(raw[1]), "0001:=00002 FRNM:RCNM=FE FRNM:RCNM=VI ");
}

TEST(WriteRecord, RefusesAnEmptyRecordOrAClosedFile) {
    CapturedLog log;
    Iso8211File closed{};
    Record rec;
    EXPECT_EQ(Write8211Record(&closed, &rec.r), -19);
    EXPECT_EQ(log.text(), "Write8211Record: Illegal parameter\n");
}

TEST(Close, AClosedHandleIsOnlyReset) {
    Iso8211File f{};
    f.mode = 'x';
    f.recordCount = 9;
    EXPECT_EQ(Close8211File(&f), 0);
    EXPECT_EQ(f.mode, ' ');
    EXPECT_EQ(f.recordCount, 0);
    EXPECT_STREQ(f.charSet, "   ");
    EXPECT_STREQ(f.inlineCodeExt, " ");
}

}  // namespace
