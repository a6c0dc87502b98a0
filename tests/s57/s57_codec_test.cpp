// tests/s57/s57_codec_test.cpp: the subfield value codec, by label: decoding and encoding tables,
// refusals (values out of range, short composite texts, long agency labels), the number and text
// helpers, and a round trip over every binary subfield of the real cells.

#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "s57/dimml.h"
#include "s57/s57_codec.h"
#include "s57_file_fixtures.h"
#include "support/test_data.h"

namespace {

std::string bytes(std::initializer_list<int> b) {
    std::string s;
    for (int c : b) s += char(c);
    return s;
}

// A small agency table of our own for the scope of a test.
class Agencies {
public:
    Agencies() : savedTable_(agencies), savedCount_(agencyCount) {
        rows_[0] = AgencyRec{"US", "550"};
        rows_[1] = AgencyRec{"AA", "1810"};
        rows_[2] = AgencyRec{"LONGAGENCYLABEL", "77"};
        agencies = rows_;
        agencyCount = 3;
    }
    ~Agencies() {
        agencies = savedTable_;
        agencyCount = savedCount_;
    }

private:
    AgencyRec rows_[3];
    AgencyRec* savedTable_;
    int32_t savedCount_;
};

// ---- Decoding ---------------------------------------------------------------------------------

struct DecodeCase {
    const char* name;
    const char* label;
    std::string value;
    int rc;
    const char* out;  // expected ASCII form when rc == 0
};

const DecodeCase kDecode[] = {
    {"RecordNameVE", "RCNM", "130", 0, "VE"},
    {"RecordNameCDNotDecoded", "RCNM", "50", -10, nullptr},
    {"OrientationNull", "ORNT", "255", 0, "N"},
    {"OrientationUnknown", "ORNT", "3", -10, nullptr},
    {"EnumCodeMustMatchExactly", "ORNT", "01", -10, nullptr},
    {"ProjectionLast", "PROJ", "14", 0, "OST"},
    {"UpdateInstructionShared", "VPUI", "3", 0, "M"},
    {"FidnPadded", "FIDN", "123", 0, "0000000123"},
    {"ObjlBeyondThreeDigitsKept", "OBJL", "1234", 0, "1234"},
    {"AttlExtensionCodeKept", "ATTL", "17000", 0, "17000"},
    {"RverPadded", "RVER", "1", 0, "001"},
    {"GroupTooLong", "GRUP", "1234", -10, nullptr},
    {"GroupPadded", "GRUP", "7", 0, "007"},
    {"RcidNotANumber", "RCID", "-1", -10, nullptr},
    {"CoordinateCopied", "YCOO", "-123456", 0, "-123456"},
    {"AgencyLabel", "AGEN", "550", 0, "US"},
    {"UnknownAgencyDefaults", "PRCO", "9999", 0, "AA"},
    {"NameEdge123", "NAME", bytes({130, 123, 0, 0, 0}), 0, "VE0000000123"},
    {"NameBadRecordName", "NAM1", bytes({131, 1, 0, 0, 0}), -10, nullptr},
    {"LongName", "LNAM", bytes({0x26, 0x02, 0x7b, 0, 0, 0, 1, 0}), 0, "US000000012300001"},
    {"LongNameMaxFids", "LNAM", bytes({0x26, 0x02, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}), 0,
     "US429496729565535"},
    {"LongNameAgencyLabelTooLong", "LNAM", bytes({77, 0, 1, 0, 0, 0, 1, 0}), -10, nullptr},
    {"AttributeLabelOnlyEncoded", "ATLB", "12", -11, nullptr},
    {"RecordIdOnlyEncoded", "    ", "12", -11, nullptr},
    {"UnknownLabel", "XXXX", "1", -11, nullptr},
    // The label index takes exactly four characters; the enum codes only their plain digits.
    {"LabelWithFifthCharacter", "RCNMX", "130", -11, nullptr},
    {"LabelOfThreeCharacters", "RCN", "130", -11, nullptr},
    {"EmptyLabel", "", "130", -11, nullptr},
    {"LowerCaseLabel", "rcnm", "130", -11, nullptr},
    {"EnumCodeWithSign", "ORNT", "+1", -10, nullptr},
    {"EnumCodeWithBlank", "ORNT", "1 ", -10, nullptr},
    {"EnumCodeEmpty", "ORNT", "", -10, nullptr},
    {"EnumCodeFourDigits", "RCNM", "1300", -10, nullptr},
    {"EnumCodeZeroNotInTable", "ORNT", "0", -10, nullptr},
    {"ObjlFiveDigitsKept", "OBJL", "17001", 0, "17001"},
    {"ObjlSixDigitsRefused", "OBJL", "170010", -10, nullptr},
    {"RcidTenDigits", "RCID", "4294967295", 0, "4294967295"},
    {"RcidElevenDigits", "RCID", "12345678901", -10, nullptr},
    {"RcidEmpty", "RCID", "", -10, nullptr},
    {"NameLargestRecordId", "NAM2", bytes({110, 0xff, 0xff, 0xff, 0xff}), 0, "VI4294967295"},
    {"NameRecordNameZero", "NAME", bytes({0, 1, 0, 0, 0}), -10, nullptr},
};

class Decode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Decode, GivesAsciiFormOrCode) {
    Agencies agencies;
    const DecodeCase& c = GetParam();
    char out[kCodecTextMax + 1] = "untouched";
    const bool composite = std::strcmp(c.label, "NAME") == 0 || std::strcmp(c.label, "NAM1") == 0 ||
                           std::strcmp(c.label, "LNAM") == 0;
    const int rc = composite ? bin2ascii(c.label, c.value.data(), long(c.value.size()), out)
                             : bin2ascii(c.label, c.value.c_str(), out);
    ASSERT_EQ(rc, c.rc);
    if (c.rc == 0) {
        EXPECT_STREQ(out, c.out);
    }
}

INSTANTIATE_TEST_SUITE_P(Codec, Decode, ::testing::ValuesIn(kDecode),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(DecodeComposite, RefusesAValueOfTheWrongByteCount) {
    Agencies agencies;
    char out[kCodecTextMax + 1];
    const std::string name = bytes({130, 123, 0, 0, 0});
    EXPECT_EQ(bin2ascii("NAME", name.data(), 4, out), -10);
    const std::string lnam = bytes({0x26, 0x02, 0x7b, 0, 0, 0, 1, 0});
    EXPECT_EQ(bin2ascii("LNAM", lnam.data(), 5, out), -10);
}

TEST(DecodeInPlace, OutMayBeTheValue) {
    char buf[kCodecTextMax + 1] = "7";
    ASSERT_EQ(bin2ascii("GRUP", buf, buf), 0);
    EXPECT_STREQ(buf, "007");
    std::strcpy(buf, "130");
    ASSERT_EQ(bin2ascii("RCNM", buf, buf), 0);
    EXPECT_STREQ(buf, "VE");
    std::strcpy(buf, "-42");
    ASSERT_EQ(bin2ascii("XCOO", buf, buf), 0);
    EXPECT_STREQ(buf, "-42");
    const char name[] = {char(130), 123, 0, 0, 0};
    std::memcpy(buf, name, sizeof name);
    ASSERT_EQ(bin2ascii("NAME", buf, 5, buf), 0);
    EXPECT_STREQ(buf, "VE0000000123");
}

TEST(DecodePassThrough, RefusesAValueLongerThanTheOutBuffer) {
    const std::string longValue(kCodecTextMax + 1, '1');
    char out[kCodecTextMax + 1];
    EXPECT_EQ(bin2ascii("XCOO", longValue.c_str(), out), -10);
}

// ---- Encoding ---------------------------------------------------------------------------------

struct EncodeCase {
    const char* name;
    const char* label;
    const char* text;
    int rc;
    std::string out;  // bytes when rc == 0
    int bytesToWrite;
};

const EncodeCase kEncode[] = {
    {"ProjectionOST", "PROJ", "OST", 0, bytes({14}), 1},
    {"OrientationUnknown", "ORNT", "X", -10, "", 0},
    {"RecordNameCD", "RCNM", "CD", 0, bytes({50}), 1},
    {"CDOnlyARecordName", "OORA", "CD", -10, "", 0},
    {"TextCopied", "COMT", "abc", 0, std::string("abc", 4), 4},
    {"EmptyText", "ATVL", "", 0, std::string("", 1), 1},
    {"Rcid", "RCID", "0000000123", 0, bytes({123, 0, 0, 0}), 4},
    {"RcidMax", "RCID", "4294967295", 0, bytes({255, 255, 255, 255}), 4},
    {"RcidTooBig", "RCID", "4294967296", -10, "", 0},
    {"SignedMinusOne", "YCOO", "-1", 0, bytes({255, 255, 255, 255}), 4},
    {"SignedMin", "XCOO", "-2147483648", 0, bytes({0, 0, 0, 0x80}), 4},
    {"SignedTooBig", "VE3D", "2147483648", -10, "", 0},
    {"OneByteMax", "HDAT", "255", 0, bytes({255}), 1},
    {"OneByteOverflow", "HDAT", "256", -10, "", 0},
    {"TwoByteOverflow", "FIDS", "65536", -10, "", 0},
    {"UnsignedNegative", "OBJL", "-1", -10, "", 0},
    {"NotANumber", "OBJL", "12a", -10, "", 0},
    {"EmptyNumberIsZero", "NALL", "", 0, bytes({0}), 1},
    {"AttributeLabel", "ATLB", "300", 0, bytes({0x2c, 0x01}), 2},
    {"RecordCounterWraps", "    ", "70000", 0, bytes({0x70, 0x11}), 2},
    {"RecordCounterEmptyLabel", "", "00005", 0, bytes({5, 0}), 2},
    {"Agency", "AGEN", "US", 0, bytes({0x26, 0x02}), 2},
    {"UnknownAgencyDefaults", "AUTH", "ZZ", 0, bytes({0x12, 0x07}), 2},
    {"Name", "NAME", "VE0000000123", 0, bytes({130, 123, 0, 0, 0}), 5},
    {"NameCatalogue", "NAM2", "CD0000000001", 0, bytes({50, 1, 0, 0, 0}), 5},
    {"NameShort", "NAME", "VE123", -10, "", 0},
    {"NameBadDigits", "NAME", "VE00000001x3", -10, "", 0},
    {"NameRcidTooBig", "NAME", "VE9999999999", -10, "", 0},
    {"LongName", "LNAM", "US000000012300001", 0, bytes({0x26, 0x02, 123, 0, 0, 0, 1, 0}), 8},
    {"LongNameShortText", "LNAM", "US", -10, "", 0},
    {"LongNameOneShort", "LNAM", "US00000001230000", -10, "", 0},
    {"LongNameFidsTooBig", "LNAM", "US000000012399999", -10, "", 0},
    {"UnknownLabel", "XXXX", "1", -11, "", 0},
};

class Encode : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(Encode, GivesBytesOrCode) {
    Agencies agencies;
    const EncodeCase& c = GetParam();
    char out[64];
    std::memset(out, 0x5a, sizeof out);
    int length = -1, count = -1;
    ASSERT_EQ(ascii2bin(c.label, out, c.text, &length, &count), c.rc);
    if (c.rc != 0) return;
    EXPECT_EQ(count, c.bytesToWrite);
    ASSERT_LE(std::size_t(count), sizeof out);
    EXPECT_EQ(std::string(out, std::size_t(count)), c.out);
    const bool text = std::strcmp(c.label, "COMT") == 0 || std::strcmp(c.label, "ATVL") == 0;
    EXPECT_EQ(length, text ? count - 1 : count);
}

INSTANTIATE_TEST_SUITE_P(Codec, Encode, ::testing::ValuesIn(kEncode),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(EncodeShortText, LongNameIsNotReadPastItsEnd) {
    // A heap text of exactly its own size: a read past the terminator shows under ASan.
    Agencies agencies;
    for (const char* text : {"", "U", "US0", "US000000012300"}) {
        char* heap = static_cast<char*>(std::malloc(std::strlen(text) + 1));
        std::strcpy(heap, text);
        char out[16];
        int length = 0, count = 0;
        EXPECT_EQ(ascii2bin("LNAM", out, heap, &length, &count), -10) << text;
        EXPECT_EQ(ascii2bin("NAME", out, heap, &length, &count), -10) << text;
        std::free(heap);
    }
}

// ---- Helpers ----------------------------------------------------------------------------------

TEST(PackInteger, PacksInPlaceAndRefusesOutOfRange) {
    char buf[16] = "258";
    int length = 0;
    ASSERT_EQ(packInteger(1, 2, buf, &length), 0);
    EXPECT_EQ(length, 2);
    EXPECT_EQ(std::string(buf, 2), bytes({2, 1}));

    std::strcpy(buf, "-2");
    ASSERT_EQ(packInteger(0, 3, buf, &length), 0);  // any width but 1 or 2 is 4, any flag but 1 signed
    EXPECT_EQ(length, 4);
    EXPECT_EQ(std::string(buf, 4), bytes({0xfe, 0xff, 0xff, 0xff}));

    for (auto [signedness, width, text] : {std::tuple{1, 1, "256"}, {1, 2, "70000"}, {2, 1, "128"},
                                           {2, 1, "-129"}, {2, 2, "-32769"}, {1, 4, "-1"},
                                           {1, 4, "99999999999"}, {1, 4, "1 2"}}) {
        std::snprintf(buf, sizeof buf, "%s", text);
        length = 7;
        EXPECT_EQ(packInteger(signedness, width, buf, &length), -10) << text;
        EXPECT_STREQ(buf, text) << "a refused value leaves the buffer";
        EXPECT_EQ(length, 7);
    }
    EXPECT_EQ(packInteger(1, 1, nullptr, &length), -19);
}

TEST(PrependZero, PadsCopiesAndRefuses) {
    char* out = nullptr;
    ASSERT_EQ(prependZero("7", 3, &out), 0);
    EXPECT_STREQ(out, "007");
    std::free(out);
    ASSERT_EQ(prependZero("123", 3, &out), 0);
    EXPECT_STREQ(out, "123");
    std::free(out);
    out = nullptr;
    EXPECT_EQ(prependZero("12345", 3, &out), -11);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(prependZero(nullptr, 3, &out), -19);
    EXPECT_EQ(prependZero("1", 0, &out), -19);
    EXPECT_EQ(prependZero("1", 3, nullptr), -19);
}

TEST(Iota, DecimalDigitsOfSignedAndUnsigned) {
    struct {
        char* text;
        const char* want;
    } cases[] = {{iota(int32_t(0)), "0"},
                 {iota(int32_t(-5)), "-5"},
                 {iota(int32_t(INT32_MIN)), "-2147483648"},
                 {iota(int32_t(1234)), "1234"},
                 {iota(uint32_t(UINT32_MAX)), "4294967295"}};
    for (auto& c : cases) {
        ASSERT_NE(c.text, nullptr);
        EXPECT_STREQ(c.text, c.want);
        std::free(c.text);
    }
}

// UCS-2 text of the lexical level 2 fields and its UTF-8 form.
struct Ucs2Case {
    const char* name;
    std::string ucs2;   // little-endian bytes in the file
    std::string utf8;   // what the layer hands out
    std::string back;   // what writing the UTF-8 gives (the file bytes unless the text stops early)
};
const Ucs2Case kUcs2[] = {
    {"Ascii", bytes({'O', 0, 'k', 0}), "Ok", bytes({'O', 0, 'k', 0})},
    {"LatinAccent", bytes({0xe9, 0x00}), "\xc3\xa9", bytes({0xe9, 0x00})},
    {"TerminatorBytesInACodeUnit", bytes({0x1f, 0x1e, 0x00, 0x1f}), "\xe1\xb8\x9f\xe1\xbc\x80",
     bytes({0x1f, 0x1e, 0x00, 0x1f})},
    {"SurrogatePairIsOneCharacter", bytes({0x3d, 0xd8, 0x00, 0xde}), "\xf0\x9f\x98\x80",
     bytes({0x3d, 0xd8, 0x00, 0xde})},
    {"LoneSurrogateKept", bytes({0x00, 0xd8, 'a', 0}), "\xed\xa0\x80" "a", bytes({0x00, 0xd8, 'a', 0})},
    {"StopsAtNul", bytes({'a', 0, 0, 0, 'b', 0}), "a", bytes({'a', 0})},
    {"OddLastByteIsACodePoint", bytes({'a', 0, 0xe9}), "a\xc3\xa9", bytes({'a', 0, 0xe9, 0})},
    {"Empty", "", "", ""},
};

class Ucs2Text : public ::testing::TestWithParam<Ucs2Case> {};

TEST_P(Ucs2Text, ToUtf8AndBack) {
    const Ucs2Case& c = GetParam();
    const std::string utf8 = ucs2ToUtf8(c.ucs2.data(), long(c.ucs2.size()));
    EXPECT_EQ(utf8, c.utf8);
    EXPECT_EQ(utf8ToUcs2(utf8.data(), long(utf8.size())), c.back);
}

INSTANTIATE_TEST_SUITE_P(Codec, Ucs2Text, ::testing::ValuesIn(kUcs2),
                         [](const auto& i) { return std::string(i.param.name); });

// Bytes that begin no UTF-8 sequence (Latin-1 text, an overlong or cut sequence) keep their
// characters instead of failing the record.
TEST(Ucs2Text, InvalidUtf8IsTakenAsLatin1) {
    const std::string latin1 = "\xe9t\xe9";
    EXPECT_EQ(utf8ToUcs2(latin1.data(), 3), bytes({0xe9, 0, 't', 0, 0xe9, 0}));
    EXPECT_EQ(utf8ToUcs2("\xc0\xaf", 2), bytes({0xc0, 0, 0xaf, 0}));
    EXPECT_EQ(utf8ToUcs2("a\xe1\xb8", 3), bytes({'a', 0, 0xe1, 0, 0xb8, 0}));
}

TEST(ByteOrder, LittleEndianWhateverTheHost) {
    unsigned char b[4];
    toLittleEndian32(0x01020304u, b);
    EXPECT_EQ(b[0], 4);
    EXPECT_EQ(b[3], 1);
    EXPECT_EQ(fromLittleEndian32(b), 0x01020304u);
    toLittleEndian16(0xbeef, b);
    EXPECT_EQ(b[0], 0xef);
    EXPECT_EQ(fromLittleEndian16(b), 0xbeef);
}

// ---- Round trip over the real cells -------------------------------------------------------------

// Every binary subfield of every real cell and update, by label, as the library hands it out.
const std::map<std::string, std::vector<s57test::RawSubfield>>& realBinarySubfields() {
    static const auto all = [] {
        std::map<std::string, std::vector<s57test::RawSubfield>> m;
        std::set<std::string> seen;  // keep the walk's memory bounded: distinct values only
        std::vector<std::string> cells = s57test::baseCells();
        for (const auto& update : testdata::files({".001", ".002"})) cells.push_back(update);
        for (const auto& cell : cells) {
            s57test::walkRaw(cell, [&](const s57test::RawSubfield& sf) {
                std::string b;
                // The 0001 record counter has no label and is never decoded.
                if (sf.label.empty() || !s57test::fileBytes(sf, b)) return;
                if (!seen.insert(sf.label + '\0' + sf.format + '\0' + b).second) return;
                m[sf.label].push_back(sf);
            });
        }
        return m;
    }();
    return all;
}

// The binary labels of S-57 base cells.
const char* const kBinaryLabels[] = {
    "RCNM", "RCID", "EXPP", "INTU", "PRSP", "PROF", "AGEN", "DSTR", "AALL", "NALL", "NOMR",
    "NOCR", "NOGR", "NOLR", "NOIN", "NOCN", "NOED", "NOFA", "HDAT", "VDAT", "SDAT", "CSCL",
    "DUNI", "HUNI", "PUNI", "COUN", "COMF", "SOMF", "RVER", "RUIN", "ATTL", "NAME", "ORNT",
    "USAG", "TOPI", "MASK", "YCOO", "XCOO", "VE3D", "PRIM", "GRUP", "OBJL", "FIDN", "FIDS",
    "LNAM", "RIND", "FFUI", "FFIX", "NFPT", "FSUI", "FSIX", "NSPT", "VPUI", "VPIX", "NVPT",
    "CCUI", "CCIX", "CCNC", "PRCO", "AUTH",
};

class RealRoundTrip : public ::testing::TestWithParam<const char*> {
protected:
    static void SetUpTestSuite() {
        // The agency table of the catalogue, so that AGEN values map to their real labels.
        (void)loadDIMEInfoFrom(TARVO_BINARY_DIR "/lib");
    }
};

// Values of the real cells that the codec refuses, as "tag=value": the S-58 cells break the
// format on purpose.
const std::multimap<std::string, std::string> kRefusedReal = {
    {"RCNM", "DSID=266"}, {"EXPP", "DSID=5"}, {"PROF", "DSID=4"}, {"RUIN", "VRID=100"},
    {"NAME", "FSPT=ff4de99a45"}, {"NAME", "VRPT=ff42e99a45"},
};

std::string hex(const std::string& b) {
    std::string s;
    char buf[3];
    for (unsigned char c : b) {
        std::snprintf(buf, sizeof buf, "%02x", c);
        s += buf;
    }
    return s;
}

TEST_P(RealRoundTrip, DecodeThenEncodeGivesTheFileBytes) {
    SKIP_WITHOUT_DATA();
    const std::string label = GetParam();
    const auto& all = realBinarySubfields();
    const auto it = all.find(label);
    if (it == all.end()) GTEST_SKIP() << label << " occurs in no real cell";
    const bool agency = label == "AGEN" || label == "PRCO" || label == "AUTH" || label == "LNAM";
    std::set<std::string> refused, expected;
    for (auto [k, v] = kRefusedReal.equal_range(label); k != v; ++k) expected.insert(k->second);
    for (const auto& sf : it->second) {
        std::string want;
        ASSERT_TRUE(s57test::fileBytes(sf, want));
        char ascii[kCodecTextMax + 1];
        if (bin2ascii(label.c_str(), sf.value.data(), sf.length, ascii) != 0) {
            refused.insert(sf.tag + "=" + (sf.format[0] == 'B' ? hex(sf.value) : sf.value));
            continue;
        }
        char bin[kCodecTextMax + 1];
        int length = 0, count = 0;
        ASSERT_EQ(ascii2bin(label.c_str(), bin, ascii, &length, &count), 0) << ascii;
        const std::string got(bin, std::size_t(count));
        if (agency && got != want && std::string(ascii, 2) == "AA") {
            // An agency code the catalogue lacks reads as the default label and writes as its code.
            EXPECT_EQ(got.substr(0, 2), bytes({0x12, 0x07}));
            EXPECT_EQ(got.substr(2), want.substr(2));
            continue;
        }
        EXPECT_EQ(got, want) << sf.tag << "/" << label << " format " << sf.format << " ascii " << ascii;
    }
    EXPECT_EQ(refused, expected);
}

INSTANTIATE_TEST_SUITE_P(Codec, RealRoundTrip, ::testing::ValuesIn(kBinaryLabels),
                         [](const auto& i) { return std::string(i.param); });

TEST(RealRoundTripCoverage, EveryBinaryLabelOfTheCellsIsInTheTable) {
    SKIP_WITHOUT_DATA();
    std::set<std::string> known(std::begin(kBinaryLabels), std::end(kBinaryLabels));
    const auto& all = realBinarySubfields();
    ASSERT_FALSE(all.empty());
    for (const auto& [label, values] : all) {
        EXPECT_TRUE(known.count(label)) << label;
    }
}

}  // namespace
