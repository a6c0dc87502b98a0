// s57/s57_codec.cpp: the subfield value codec (see s57_codec.h).
// Tables first, then the decoder, the encoder and the number helpers. Binary integers are always
// little-endian in S-57 files, whatever the host.

#include "s57/s57_codec.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/com/bstr.h"
#include "s57/dimml.h"
#include "s57/s57_util2.h"

namespace {

// ---- Tables ---------------------------------------------------------------------------------------

struct EnumRow {
    int code;
    const char* text;
};
struct EnumTable {
    const char* labels[5];  // the labels sharing these rows; unused slots null
    const EnumRow* rows;
    int count;
};

constexpr EnumRow kRcnm[] = {{10, "DS"},  {20, "DP"},  {30, "DH"},  {40, "DA"},  {60, "CR"},
                             {70, "ID"},  {80, "IO"},  {90, "IS"},  {100, "FE"}, {110, "VI"},
                             {120, "VC"}, {130, "VE"}, {140, "VF"}};
constexpr EnumRow kExpp[] = {{1, "N"}, {2, "R"}};
constexpr EnumRow kPrsp[] = {{1, "ENC"}, {2, "ODD"}};
constexpr EnumRow kProf[] = {{1, "EN"}, {2, "ER"}, {3, "DD"}};
constexpr EnumRow kDstr[] = {{1, "CS"}, {2, "CN"}, {3, "PG"}, {4, "FT"}, {255, "NO"}};
constexpr EnumRow kCoun[] = {{1, "LL"}, {2, "EN"}, {3, "UC"}};
constexpr EnumRow kProj[] = {{1, "ALA"},  {2, "AZA"},  {3, "AZD"},  {4, "GNO"},  {5, "HOM"},
                             {6, "LCC"},  {7, "LEA"},  {8, "MER"},  {9, "OME"},  {10, "ORT"},
                             {11, "PST"}, {12, "POL"}, {13, "TME"}, {14, "OST"}};
constexpr EnumRow kCurp[] = {{1, "LL"}, {2, "EN"}};
constexpr EnumRow kOora[] = {{1, "A"}, {2, "O"}};
constexpr EnumRow kOaty[] = {{1, "M"}, {2, "$"}, {3, "G"}, {4, "C"}, {5, "F"}, {6, "N"}, {7, "S"}};
constexpr EnumRow kRftp[] = {{1, "I1"}, {2, "M4"}};
constexpr EnumRow kAtdo[] = {{1, "E"}, {2, "L"}, {3, "F"}, {4, "I"}, {5, "A"}, {6, "S"}};
constexpr EnumRow kRava[] = {{1, "M"}, {2, "N"}, {3, "V"}};
constexpr EnumRow kAset[] = {{1, "A"}, {2, "B"}, {3, "C"}};
constexpr EnumRow kPrim[] = {{1, "P"}, {2, "L"}, {3, "A"}, {255, "N"}};
constexpr EnumRow kRuin[] = {{1, "I"}, {2, "D"}, {3, "M"}};
constexpr EnumRow kRind[] = {{1, "M"}, {2, "S"}, {3, "P"}};
constexpr EnumRow kOrnt[] = {{1, "F"}, {2, "R"}, {255, "N"}};
constexpr EnumRow kUsag[] = {{1, "E"}, {2, "I"}, {3, "C"}, {255, "N"}};
constexpr EnumRow kMask[] = {{1, "M"}, {2, "S"}, {255, "N"}};
constexpr EnumRow kTopi[] = {{1, "B"}, {2, "E"}, {3, "S"}, {4, "D"}, {5, "F"}, {255, "N"}};
constexpr EnumRow kAtyp[] = {{1, "C"}, {2, "E"}, {3, "U"}, {4, "B"}, {5, "N"}};
constexpr EnumRow kSurf[] = {{1, "E"}, {2, "P"}};

#define ROWS(t) t, int(sizeof(t) / sizeof(t[0]))
constexpr EnumTable kEnums[] = {
    {{"RCNM"}, ROWS(kRcnm)},
    {{"EXPP"}, ROWS(kExpp)},
    {{"PRSP"}, ROWS(kPrsp)},
    {{"PROF"}, ROWS(kProf)},
    {{"DSTR"}, ROWS(kDstr)},
    {{"COUN"}, ROWS(kCoun)},
    {{"PROJ"}, ROWS(kProj)},
    {{"CURP"}, ROWS(kCurp)},
    {{"OORA"}, ROWS(kOora)},
    {{"OATY"}, ROWS(kOaty)},
    {{"RFTP"}, ROWS(kRftp)},
    {{"ATDO"}, ROWS(kAtdo)},
    {{"RAVA"}, ROWS(kRava)},
    {{"ASET"}, ROWS(kAset)},
    {{"PRIM"}, ROWS(kPrim)},
    {{"RUIN", "FFUI", "FSUI", "VPUI", "CCUI"}, ROWS(kRuin)},
    {{"RIND"}, ROWS(kRind)},
    {{"ORNT"}, ROWS(kOrnt)},
    {{"USAG"}, ROWS(kUsag)},
    {{"MASK"}, ROWS(kMask)},
    {{"TOPI"}, ROWS(kTopi)},
    {{"ATYP"}, ROWS(kAtyp)},
    {{"SURF"}, ROWS(kSurf)},
};
#undef ROWS

// The catalogue directory's record name: written, never read back by the decoder.
constexpr int kCatalogueDirectoryCode = 50;

// Labels the decoder zero-pads to a width. Object class and attribute codes beyond 999 exist (the
// inland and national extensions use 17000 and up): those keep all their digits, so that a chart
// using them is not refused whole.
struct PaddedLabel {
    const char* label;
    int width;
    int maxDigits;
};
constexpr PaddedLabel kPadded[] = {
    {"RCID", 10, 10}, {"FIDN", 10, 10}, {"FIDS", 5, 5}, {"OACO", 5, 5}, {"OBLB", 5, 5},
    {"HDAT", 3, 3},   {"VDAT", 2, 2},   {"SDAT", 2, 2}, {"DUNI", 2, 2}, {"HUNI", 2, 2},
    {"PUNI", 2, 2},   {"GRUP", 3, 3},   {"OBJL", 3, 5}, {"RVER", 3, 5}, {"ATTL", 3, 5},
};

// Labels the decoder copies unchanged.
constexpr const char* kPassThrough[] = {
    "YCOO", "XCOO", "VE3D", "RYCO", "RXCO", "RXVL", "RYVL", "PRP1", "PRP2", "PRP3", "PRP4",
    "FEAS", "FNOR", "FFIX", "NFPT", "FSIX", "NSPT", "VPIX", "NVPT", "CCIX", "CCNC", "AALL",
    "NALL", "NOMR", "NOCR", "NOGR", "NOLR", "NOIN", "NOCN", "NOED", "NOFA", "COMF", "SOMF",
    "CSCL", "HACC", "VACC", "SACC", "FPMF", "INTU", "RPID",
};

// Binary width and signedness of every numeric label the encoder packs.
constexpr int kUnsigned = 1;
constexpr int kSigned = 2;
struct PackedLabel {
    const char* label;
    int signedness;
    int width;
};
constexpr PackedLabel kPacked[] = {
    {"RCID", kUnsigned, 4}, {"FIDN", kUnsigned, 4}, {"FIDS", kUnsigned, 2}, {"OACO", kUnsigned, 2},
    {"OBLB", kUnsigned, 2}, {"HDAT", kUnsigned, 1}, {"VDAT", kUnsigned, 1}, {"SDAT", kUnsigned, 1},
    {"DUNI", kUnsigned, 1}, {"HUNI", kUnsigned, 1}, {"PUNI", kUnsigned, 1}, {"GRUP", kUnsigned, 1},
    {"OBJL", kUnsigned, 2}, {"RVER", kUnsigned, 2}, {"ATTL", kUnsigned, 2}, {"YCOO", kSigned, 4},
    {"XCOO", kSigned, 4},   {"VE3D", kSigned, 4},   {"RYCO", kSigned, 4},   {"RXCO", kSigned, 4},
    {"RXVL", kSigned, 4},   {"RYVL", kSigned, 4},   {"PRP1", kSigned, 4},   {"PRP2", kSigned, 4},
    {"PRP3", kSigned, 4},   {"PRP4", kSigned, 4},   {"FEAS", kSigned, 4},   {"FNOR", kSigned, 4},
    {"FFIX", kUnsigned, 2}, {"NFPT", kUnsigned, 2}, {"FSIX", kUnsigned, 2}, {"NSPT", kUnsigned, 2},
    {"VPIX", kUnsigned, 2}, {"NVPT", kUnsigned, 2}, {"CCIX", kUnsigned, 2}, {"CCNC", kUnsigned, 2},
    {"AALL", kUnsigned, 1}, {"NALL", kUnsigned, 1}, {"NOMR", kUnsigned, 4}, {"NOCR", kUnsigned, 4},
    {"NOGR", kUnsigned, 4}, {"NOLR", kUnsigned, 4}, {"NOIN", kUnsigned, 4}, {"NOCN", kUnsigned, 4},
    {"NOED", kUnsigned, 4}, {"NOFA", kUnsigned, 4}, {"COMF", kUnsigned, 4}, {"SOMF", kUnsigned, 4},
    {"CSCL", kUnsigned, 4}, {"HACC", kUnsigned, 4}, {"VACC", kUnsigned, 4}, {"SACC", kUnsigned, 4},
    {"FPMF", kUnsigned, 4}, {"INTU", kUnsigned, 1}, {"RPID", kUnsigned, 1}, {"ATLB", kUnsigned, 2},
};

// Texts the encoder copies with their terminator.
constexpr const char* kTexts[] = {
    "ATVL", "DSNM", "EDTN", "UPDN", "UADT", "ISDT", "STED", "PSDN", "PRED", "COMT",
    "ESDT", "LSDT", "DCRT", "CODT", "OAAC", "OALL", "DEFN", "RFVL", "ADMU", "DVAL",
    "DVSD", "FILE", "LFIL", "VOLM", "SLAT", "WLON", "NLAT", "ELON", "IMPL", "CRCS",
};

// A four-character label as one word, the key of the label index.
constexpr uint32_t packLabel(const char* l) {
    return uint32_t(static_cast<unsigned char>(l[0])) | uint32_t(static_cast<unsigned char>(l[1])) << 8 |
           uint32_t(static_cast<unsigned char>(l[2])) << 16 | uint32_t(static_cast<unsigned char>(l[3])) << 24;
}

}  // namespace

// Everything the codec knows of one label. The tables above stay the source; the index is built
// from them at compile time, so that a subfield costs one hashed probe instead of scans of them.
// Callers hold it as the opaque CodecLabel.
struct CodecLabel {
    uint32_t key = 0;  // 0: empty slot
    const EnumTable* enums = nullptr;
    const PaddedLabel* padded = nullptr;
    const PackedLabel* packed = nullptr;
    bool passThrough = false;
    bool text = false;
    bool agency = false;
    bool name = false;
    bool longName = false;
};

namespace {

using LabelInfo = CodecLabel;

constexpr std::size_t kIndexSize = 512;  // a power of two, well above the label count
constexpr std::size_t slotOf(uint32_t key) { return (key * 2654435761u) >> 23; }
static_assert(kIndexSize == std::size_t(1) << (32 - 23));

struct LabelIndex {
    LabelInfo slots[kIndexSize] = {};

    constexpr LabelInfo& at(const char* label) {
        const uint32_t key = packLabel(label);
        std::size_t i = slotOf(key);
        while (slots[i].key != 0 && slots[i].key != key) i = (i + 1) & (kIndexSize - 1);
        slots[i].key = key;
        return slots[i];
    }
    constexpr const LabelInfo* find(uint32_t key) const {
        for (std::size_t i = slotOf(key);; i = (i + 1) & (kIndexSize - 1)) {
            if (slots[i].key == key) return &slots[i];
            if (slots[i].key == 0) return nullptr;
        }
    }
};

constexpr LabelIndex buildIndex() {
    LabelIndex x;
    for (const auto& t : kEnums)
        for (const char* l : t.labels)
            if (l && !x.at(l).enums) x.at(l).enums = &t;
    for (const auto& p : kPadded)
        if (!x.at(p.label).padded) x.at(p.label).padded = &p;
    for (const auto& p : kPacked)
        if (!x.at(p.label).packed) x.at(p.label).packed = &p;
    for (const char* l : kPassThrough) x.at(l).passThrough = true;
    for (const char* l : kTexts) x.at(l).text = true;
    for (const char* l : {"AGEN", "PRCO", "AUTH"}) x.at(l).agency = true;
    for (const char* l : {"NAME", "NAM1", "NAM2"}) x.at(l).name = true;
    x.at("LNAM").longName = true;
    return x;
}
constexpr LabelIndex kIndex = buildIndex();

// The index entry of a label of exactly four characters; null for any other label.
const LabelInfo* findLabel(const char* label) {
    if (!label[0] || !label[1] || !label[2] || !label[3] || label[4]) return nullptr;
    return kIndex.find(packLabel(label));
}

// The record-identifier field "0001" has no label of its own.
bool isRecordIdLabel(const char* l) { return l[0] == '\0' || std::strcmp(l, "    ") == 0; }

const EnumTable& rcnmTable() { return kEnums[0]; }

bool allDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Letters of a code in the table, or null.
const char* enumText(const EnumTable& t, int code) {
    for (int i = 0; i < t.count; ++i)
        if (t.rows[i].code == code) return t.rows[i].text;
    return nullptr;
}

// Letters of the code written as `digits`, or null. Only the plain decimal form of a code matches
// ("01" is not 1), as the library writes numbers.
const char* enumText(const EnumTable& t, const char* digits) {
    int code = 0, n = 0;
    for (; digits[n] >= '0' && digits[n] <= '9'; ++n) {
        if (n == 3) return nullptr;  // every code is below 1000
        code = code * 10 + (digits[n] - '0');
    }
    if (n == 0 || digits[n] != '\0' || (n > 1 && digits[0] == '0')) return nullptr;
    return enumText(t, code);
}

// Code of `text` in the table (the encoder's direction), or -1.
int enumCode(const EnumTable& t, std::string_view text, bool recordName) {
    for (int i = 0; i < t.count; ++i)
        if (text == t.rows[i].text) return t.rows[i].code;
    if (recordName && text == "CD") return kCatalogueDirectoryCode;
    return -1;
}

// Writes `digits` (n of them) zero-padded to `width` at out, terminated; out may overlap digits.
// Returns the characters written.
std::size_t putPadded(const char* digits, std::size_t n, std::size_t width, char* out) {
    const std::size_t zeros = n < width ? width - n : 0;
    std::memmove(out + zeros, digits, n);
    std::memset(out, '0', zeros);
    out[zeros + n] = '\0';
    return zeros + n;
}

// Zero-padded digits of a decoded number into out: false (out untouched) when it is not a plain
// unsigned number or has more than maxDigits digits.
bool padDigits(const char* digits, int width, int maxDigits, char* out) {
    if (maxDigits < width) maxDigits = width;
    std::size_t n = 0;
    while (digits[n] >= '0' && digits[n] <= '9') {
        if (n == std::size_t(maxDigits)) return false;
        ++n;
    }
    if (n == 0 || digits[n] != '\0') return false;
    putPadded(digits, n, std::size_t(width), out);
    return true;
}

// Decimal digits of v at out (no terminator); their count.
std::size_t putDigits(uint32_t v, char* out) {
    char buf[10];
    std::size_t n = 0;
    do {
        buf[n++] = char('0' + v % 10);
        v /= 10;
    } while (v);
    for (std::size_t i = 0; i < n; ++i) out[i] = buf[n - 1 - i];
    return n;
}

// v zero-padded to width digits at out (width at least v's digit count), no terminator.
void putNumber(uint32_t v, std::size_t width, char* out) {
    char digits[10];
    const std::size_t n = putDigits(v, digits);
    putPadded(digits, n, width, out);
}

// Decimal text with optional blanks around it and an optional sign; an empty or blank text is 0.
bool parseDecimal(const char* s, long long* value) {
    while (*s == ' ') ++s;
    bool negative = false;
    if (*s == '+' || *s == '-') negative = *s++ == '-';
    long long v = 0;
    int digits = 0;
    for (; *s >= '0' && *s <= '9'; ++s, ++digits) {
        if (v > (0x7fffffffffffffffLL - 9) / 10) return false;
        v = v * 10 + (*s - '0');
    }
    while (*s == ' ') ++s;
    if (*s != '\0') return false;
    if (digits == 0 && negative) return false;
    *value = negative ? -v : v;
    return true;
}

void putLittleEndian(unsigned long long v, int width, unsigned char* out) {
    for (int i = 0; i < width; ++i) out[i] = static_cast<unsigned char>(v >> (8 * i));
}

// Packs a parsed value, refusing one outside the range of the width.
bool packValue(long long v, int signedness, int width, unsigned char* out) {
    const int bits = 8 * width;
    if (signedness == kUnsigned) {
        if (v < 0 || (bits < 64 && v > (1LL << bits) - 1)) return false;
    } else {
        const long long lo = -(1LL << (bits - 1)), hi = (1LL << (bits - 1)) - 1;
        if (v < lo || v > hi) return false;
    }
    putLittleEndian(static_cast<unsigned long long>(v), width, out);
    return true;
}

int normaliseWidth(int width) { return width == 1 || width == 2 ? width : 4; }

// The agency's two-letter label of a numeric code, as LNAM needs it.
int agencyLabel(const std::string& code, std::string& label) {
    char buf[125] = {};  // lookupAGENlabel's contract: room for its longest label
    const int rc = lookupAGENlabel(code.c_str(), buf);
    if (rc != 0) return rc;
    buf[sizeof buf - 1] = '\0';
    label = buf;
    return 0;
}

int agencyCode(const char* label, long long* code) {
    char buf[10] = {};  // lookupAGENcode's contract
    const int rc = lookupAGENcode(label, buf);
    if (rc != 0) return rc;
    buf[sizeof buf - 1] = '\0';
    return parseDecimal(buf, code) ? 0 : -10;
}

// NAME, NAM1, NAM2: record name code and record identifier; out receives 12 characters.
int decodeName(const unsigned char* b, char* out, bool quiet) {
    const int code = b[0];
    const char* rcnm = enumText(rcnmTable(), code);
    if (!rcnm) {
        if (!quiet) std::fprintf(stderr, "bin2ascii: unable to decode RCNM value %d\n", code);
        return -10;
    }
    const uint32_t rcid = fromLittleEndian32(b + 1);
    out[0] = rcnm[0];
    out[1] = rcnm[1];
    putNumber(rcid, 10, out + 2);
    out[12] = '\0';
    return 0;
}

// LNAM: agency, FIDN, FIDS; out receives 17 characters.
int decodeLongName(const unsigned char* b, char* out) {
    char digits[11] = {};
    digits[putDigits(fromLittleEndian16(b), digits)] = '\0';
    std::string agency;
    if (agencyLabel(digits, agency) != 0 || agency.size() != 2) return -10;
    const uint32_t fidn = fromLittleEndian32(b + 2);
    const uint32_t fids = fromLittleEndian16(b + 6);
    out[0] = agency[0];
    out[1] = agency[1];
    putNumber(fidn, 10, out + 2);
    putNumber(fids, 5, out + 12);
    out[17] = '\0';
    return 0;
}

// length < 0: unknown (a NUL-terminated text, or raw bytes the caller vouches for). out may be
// value itself: every branch reads what it needs before it writes. quiet: no diagnostic.
int decodeWith(const LabelInfo* info, const char* value, long length, char* out, bool quiet) {
    if (!info) return -11;
    if (info->enums) {
        const char* letters = enumText(*info->enums, value);
        if (!letters) return -10;
        std::memmove(out, letters, std::strlen(letters) + 1);
        return 0;
    }
    if (info->padded) {
        return padDigits(value, info->padded->width, info->padded->maxDigits, out) ? 0 : -10;
    }
    if (info->passThrough) {
        const std::size_t n = std::strlen(value);
        if (n > std::size_t(kCodecTextMax)) return -10;
        std::memmove(out, value, n + 1);
        return 0;
    }
    if (info->agency) {
        std::string agency;
        const int rc = agencyLabel(value, agency);
        if (rc != 0) return rc;
        if (agency.size() > std::size_t(kCodecTextMax)) return -10;
        std::memcpy(out, agency.c_str(), agency.size() + 1);
        return 0;
    }
    if (info->name) {
        if (length >= 0 && length != 5) return -10;
        unsigned char b[5];
        std::memcpy(b, value, 5);
        return decodeName(b, out, quiet);
    }
    if (info->longName) {
        if (length >= 0 && length != 8) return -10;
        unsigned char b[8];
        std::memcpy(b, value, 8);
        return decodeLongName(b, out);
    }
    return -11;
}

// 10 digits of a record identifier or FIDN, 5 of a FIDS, as the encoder takes them.
bool parseFixedDigits(std::string_view s, long long* v) {
    if (!allDigits(s)) return false;
    long long r = 0;
    for (char c : s) r = r * 10 + (c - '0');
    *v = r;
    return true;
}

void setSizes(int n, int* length, int* bytes) {
    if (length) *length = n;
    if (bytes) *bytes = n;
}

}  // namespace

// ---- Decoding -------------------------------------------------------------------------------------

int bin2ascii(const char* label, const char* value, char* out) {
    if (!label || !value || !out) return -19;
    return decodeWith(findLabel(label), value, -1, out, false);
}

int bin2ascii(const char* label, const char* value, long length, char* out) {
    if (!label || !value || !out || length < 0) return -19;
    return decodeWith(findLabel(label), value, length, out, false);
}

const CodecLabel* codecLabel(const char* label) { return label ? findLabel(label) : nullptr; }

bool codecKeepsValue(const CodecLabel* rules) {
    return rules && !rules->enums && !rules->padded && rules->passThrough;
}

int bin2asciiAs(const CodecLabel* rules, const char* value, long length, char* out, bool quiet) {
    if (!value || !out || length < 0) return -19;
    return decodeWith(rules, value, length, out, quiet);
}

// ---- Encoding -------------------------------------------------------------------------------------

int ascii2bin(const char* label, char* out, const char* text, int* length, int* bytes) {
    if (!label || !out || !text || !length || !bytes) return -19;
    const LabelInfo* info = findLabel(label);
    unsigned char b[8] = {};

    if (info && info->text) {
        const std::size_t n = std::strlen(text);
        std::memmove(out, text, n + 1);
        *length = int(n);
        *bytes = int(n) + 1;
        return 0;
    }
    if (const EnumTable* t = info ? info->enums : nullptr) {
        const int code = enumCode(*t, text, t == &rcnmTable());
        if (code < 0) return -10;
        b[0] = static_cast<unsigned char>(code);
        std::memcpy(out, b, 1);
        setSizes(1, length, bytes);
        return 0;
    }
    if (const PackedLabel* p = info ? info->packed : nullptr) {
        long long v = 0;
        if (!parseDecimal(text, &v) || !packValue(v, p->signedness, p->width, b)) return -10;
        std::memcpy(out, b, std::size_t(p->width));
        setSizes(p->width, length, bytes);
        return 0;
    }
    if (isRecordIdLabel(label)) {
        // The record counter of field 0001 wraps at 16 bits: big cells have more records.
        long long v = 0;
        if (!parseDecimal(text, &v) || v < 0) return -10;
        putLittleEndian(static_cast<unsigned long long>(v) & 0xffffu, 2, b);
        std::memcpy(out, b, 2);
        setSizes(2, length, bytes);
        return 0;
    }
    if (info && info->agency) {
        long long code = 0;
        const int rc = agencyCode(text, &code);
        if (rc != 0) return rc;
        if (!packValue(code, kUnsigned, 2, b)) return -10;
        std::memcpy(out, b, 2);
        setSizes(2, length, bytes);
        return 0;
    }
    if (info && info->name) {
        if (std::strlen(text) != 12) return -10;
        const int code = enumCode(rcnmTable(), std::string_view(text, 2), true);
        long long rcid = 0;
        if (code < 0 || !parseFixedDigits(std::string_view(text + 2, 10), &rcid)) return -10;
        b[0] = static_cast<unsigned char>(code);
        if (!packValue(rcid, kUnsigned, 4, b + 1)) return -10;
        std::memcpy(out, b, 5);
        setSizes(5, length, bytes);
        return 0;
    }
    if (info && info->longName) {
        if (std::strlen(text) != 17) return -10;
        const std::string agency(text, 2);
        long long code = 0, fidn = 0, fids = 0;
        const int rc = agencyCode(agency.c_str(), &code);
        if (rc != 0) return rc;
        if (!parseFixedDigits(std::string_view(text + 2, 10), &fidn) ||
            !parseFixedDigits(std::string_view(text + 12, 5), &fids))
            return -10;
        if (!packValue(code, kUnsigned, 2, b) || !packValue(fidn, kUnsigned, 4, b + 2) ||
            !packValue(fids, kUnsigned, 2, b + 6))
            return -10;
        std::memcpy(out, b, 8);
        setSizes(8, length, bytes);
        return 0;
    }
    return -11;
}

int packInteger(int signedness, int width, char* buffer, int* length) {
    if (!buffer || !length) return -19;
    width = normaliseWidth(width);
    long long v = 0;
    unsigned char b[4] = {};
    if (!parseDecimal(buffer, &v) || !packValue(v, signedness == kUnsigned ? kUnsigned : kSigned, width, b))
        return -10;
    std::memcpy(buffer, b, std::size_t(width));
    *length = width;
    return 0;
}

// ---- Text helpers ---------------------------------------------------------------------------------

void reverseString(char* text) {
    if (!text) return;
    for (std::size_t i = 0, j = std::strlen(text); i + 1 < j; ++i, --j) {
        const char c = text[i];
        text[i] = text[j - 1];
        text[j - 1] = c;
    }
}

namespace {
char* digitsToHeap(unsigned long long magnitude, bool negative) {
    char buf[24];
    int n = 0;
    do {
        buf[n++] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (negative) buf[n++] = '-';
    buf[n] = '\0';
    reverseString(buf);
    char* copy = static_cast<char*>(std::malloc(std::size_t(n) + 1));
    if (!copy) {
        if (logFile) std::fprintf(logFile, "iota: unable to allocate memory\n");
        return nullptr;
    }
    std::memcpy(copy, buf, std::size_t(n) + 1);
    return copy;
}
}  // namespace

char* iota(uint32_t value) { return digitsToHeap(value, false); }

char* iota(int32_t value) {
    const long long v = value;
    return digitsToHeap(static_cast<unsigned long long>(v < 0 ? -v : v), v < 0);
}

int prependZero(const char* text, int width, char** out) {
    if (!text || !out || width < 1) {
        std::fprintf(stderr, "prependZero : Illegal Parameter");
        return -19;
    }
    const std::size_t n = std::strlen(text);
    if (n > std::size_t(width)) return -11;
    char* copy = static_cast<char*>(std::malloc(std::size_t(width) + 1));
    if (!copy) {
        if (logFile) std::fprintf(logFile, "prependZero : unable to allocate memory");
        return -1;
    }
    std::memset(copy, '0', std::size_t(width) - n);
    std::memcpy(copy + (std::size_t(width) - n), text, n + 1);
    *out = copy;
    return 0;
}

// ---- Byte order -----------------------------------------------------------------------------------

uint16_t fromLittleEndian16(const void* bytes) {
    const auto* b = static_cast<const unsigned char*>(bytes);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint32_t fromLittleEndian32(const void* bytes) {
    const auto* b = static_cast<const unsigned char*>(bytes);
    return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}

void toLittleEndian16(uint16_t value, void* bytes) {
    putLittleEndian(value, 2, static_cast<unsigned char*>(bytes));
}

void toLittleEndian32(uint32_t value, void* bytes) {
    putLittleEndian(value, 4, static_cast<unsigned char*>(bytes));
}

// ---- UCS-2 text -----------------------------------------------------------------------------------

std::string ucs2ToUtf8(const char* bytes, long length) {
    if (!bytes || length <= 0) return {};
    long end = 0;
    while (end < length && (bytes[end] != 0 || (end + 1 < length && bytes[end + 1] != 0))) end += 2;
    return lexicalToUtf8(std::string_view(bytes, std::size_t(end < length ? end : length)), 2);
}

std::string utf8ToUcs2(const char* text, long length) {
    if (!text || length <= 0) return {};
    return utf8ToLexical(std::string_view(text, std::size_t(length)), 2);
}
