// tests/import/text_test.cpp: text reaches the geodatabase as the characters the cell holds: 8-bit
// attribute text (ISO 8859-1) and national text (UCS-2) of a small binary cell built in code, read
// back through SQLite and compared with GDAL's reading of the same cell.
#include <cstdio>
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

using e2e::Scratch;

constexpr char UT = '\x1f';
constexpr char FT = '\x1e';

const std::string kObjnam = "North D\xc3\xbcmpling Light";  // an umlaut
const std::string kInform = "Tripod, brg 090\xc2\xb0";      // a degree sign
const std::string kNobjnm = "\xd0\x9c\xd0\xb0\xd1\x8f\xd0\xba \xe7\x81\xaf\xe5\x8f\xb0";  // Cyrillic and CJK

std::string num(std::size_t v, int w) {
    std::string s = std::to_string(v);
    return std::string(std::size_t(w) - s.size(), '0') + s;
}

struct Fld {
    std::string tag, body;  // body ends with FT (FT 00 in a UCS-2 field)
};

std::string record(bool ddr, const std::vector<Fld>& fields) {
    std::string dir, area;
    for (const auto& f : fields) {
        dir += f.tag + num(f.body.size(), 3) + num(area.size(), 4);
        area += f.body;
    }
    dir += FT;
    const std::size_t base = 24 + dir.size();
    return num(base + area.size(), 5) + (ddr ? "3LE1 09" : " D     ") + num(base, 5) + (ddr ? " ! " : "   ") +
           "3404" + dir + area;
}

// Little-endian binary numbers of 1, 2 or 4 bytes.
std::string b(std::uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += char((v >> (8 * i)) & 0xff);
    return s;
}

std::string latin1(const std::string& utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) out += char(c);
        else out += char(((c & 0x03) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3f));
    }
    return out;
}

std::string ucs2(const std::u16string& text) {
    std::string out;
    for (char16_t u : text) out += b(u, 2);
    return out;
}

std::string describe(const std::string& controls, const std::string& name, const std::string& labels,
                     const std::string& formats) {
    return controls + name + UT + labels + UT + formats + FT;
}

// A base cell of one landmark, a point on one isolated node, with 8-bit ATTF ("-A ") and UCS-2 NATF
// ("%/A") as the DSSI says (AALL 1, NALL 2).
std::string textCell() {
    std::string out = record(
        true,
        {{"0000", std::string("0000;&   ") + UT +
                      "0001DSIDDSIDDSSI0001DSPM0001VRIDVRIDSG2D0001FRIDFRIDFOIDFRIDATTFFRIDNATFFRIDFSPT" + FT},
         {"0001", describe("0500;&   ", "ISO 8211 Record Identifier", "", "(b12)")},
         {"DSID", describe("1600;&   ", "Data set identification field",
                           "RCNM!RCID!EXPP!INTU!DSNM!EDTN!UPDN!UADT!ISDT!STED!PRSP!PSDN!PRED!PROF!AGEN!COMT",
                           "(b11,b14,2b11,3A,2A(8),R(4),b11,2A,b11,b12,A)")},
         {"DSSI", describe("1600;&   ", "Data set structure information field",
                           "DSTR!AALL!NALL!NOMR!NOCR!NOGR!NOLR!NOIN!NOCN!NOED!NOFA", "(3b11,8b14)")},
         {"DSPM", describe("1600;&   ", "Data set parameter field",
                           "RCNM!RCID!HDAT!VDAT!SDAT!CSCL!DUNI!HUNI!PUNI!COUN!COMF!SOMF!COMT",
                           "(b11,b14,3b11,b14,4b11,2b14,A)")},
         {"VRID", describe("1600;&   ", "Vector record identifier field", "RCNM!RCID!RVER!RUIN",
                           "(b11,b14,b12,b11)")},
         {"SG2D", describe("2500;&   ", "2-D Coordinate field", "*YCOO!XCOO", "(2b24)")},
         {"FRID", describe("1600;&   ", "Feature record identifier field", "RCNM!RCID!PRIM!GRUP!OBJL!RVER!RUIN",
                           "(b11,b14,2b11,2b12,b11)")},
         {"FOID", describe("1600;&   ", "Feature object identifier field", "AGEN!FIDN!FIDS", "(b12,b14,b12)")},
         {"ATTF", describe("2600;&-A ", "Feature record attribute field", "*ATTL!ATVL", "(b12,A)")},
         {"NATF", describe("2600;&%/A", "Feature record national attribute field", "*ATTL!ATVL", "(b12,A)")},
         {"FSPT", describe("2600;&   ", "Feature record to spatial record pointer field", "*NAME!ORNT!USAG!MASK",
                           "(B(40),3b11)")}});
    out += record(false, {{"0001", b(1, 2) + FT},
                          {"DSID", b(10, 1) + b(1, 4) + b(1, 1) + b(5, 1) + "TX000001.000" + UT + "1" + UT + "0" + UT +
                                       "20240101" + "20240101" + "03.1" + b(1, 1) + UT + "2.0" + UT + b(1, 1) +
                                       b(550, 2) + "fixture" + UT + FT},
                          {"DSSI", b(2, 1) + b(1, 1) + b(2, 1) + b(0, 4) + b(0, 4) + b(1, 4) + b(0, 4) + b(1, 4) +
                                       b(0, 4) + b(0, 4) + b(0, 4) + FT}});
    out += record(false, {{"0001", b(2, 2) + FT},
                          {"DSPM", b(20, 1) + b(1, 4) + b(2, 1) + b(17, 1) + b(23, 1) + b(25000, 4) + b(1, 1) +
                                       b(1, 1) + b(1, 1) + b(1, 1) + b(10000000, 4) + b(10, 4) + UT + FT}});
    out += record(false, {{"0001", b(3, 2) + FT},
                          {"VRID", b(110, 1) + b(1, 4) + b(1, 2) + b(1, 1) + FT},
                          {"SG2D", b(std::uint32_t(324000000), 4) + b(std::uint32_t(602500000), 4) + FT}});
    out += record(false, {{"0001", b(4, 2) + FT},
                          {"FRID", b(100, 1) + b(1, 4) + b(1, 1) + b(2, 1) + b(74, 2) + b(1, 2) + b(1, 1) + FT},
                          {"FOID", b(550, 2) + b(1, 4) + b(1, 2) + FT},
                          {"ATTF", b(116, 2) + latin1(kObjnam) + UT + b(102, 2) + latin1(kInform) + UT + FT},
                          {"NATF", b(301, 2) + ucs2(u"\u041c\u0430\u044f\u043a \u706f\u53f0") + UT + '\0' + FT + '\0'},
                          {"FSPT", b(110, 1) + b(1, 4) + b(255, 1) + b(255, 1) + b(255, 1) + FT}});
    return out;
}

// GDAL's values of the landmark's text attributes, by name; empty when ogrinfo cannot be run.
std::map<std::string, std::string> gdalText(const std::string& cell) {
    const std::string command =
        "ogrinfo -ro -q -geom=NO -oo RECODE_BY_DSSI=ON -oo UPDATES=IGNORE '" + cell + "' LNDMRK 2>/dev/null";
    std::map<std::string, std::string> out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return out;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe.get())) {
        std::string t = line;
        while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
        for (const char* name : {"OBJNAM", "INFORM", "NOBJNM"}) {
            const std::string prefix = std::string("  ") + name + " (String) = ";
            if (t.rfind(prefix, 0) == 0) out[name] = t.substr(prefix.size());
        }
    }
    return out;
}

TEST(ImportText, LatinAndNationalTextArriveAsTheirCharacters) {
    Scratch dir;
    const std::string cell = dir.file("TX000001.000");
    std::ofstream(cell, std::ios::binary) << textCell();
    const std::string gdb = dir.file("text.gpkg");
    e2e::copyTemplate(gdb);

    const e2e::DriverRun run = e2e::runDriver(cell, gdb);
    ASSERT_EQ(run.result, 0) << run.log;
    const auto rows = e2e::query(gdb, "SELECT OBJNAM, INFORM, NOBJNM, hex(INFORM) FROM NavigationAidPointFeature "
                                      "WHERE SUBTYPE = 74");
    ASSERT_EQ(rows.size(), 1u) << run.log;
    const std::map<std::string, std::string> ours = {
        {"OBJNAM", rows[0][0].value_or("(null)")},
        {"INFORM", rows[0][1].value_or("(null)")},
        {"NOBJNM", rows[0][2].value_or("(null)")}};
    EXPECT_EQ(ours, (std::map<std::string, std::string>{{"OBJNAM", kObjnam}, {"INFORM", kInform}, {"NOBJNM", kNobjnm}}));
    EXPECT_EQ(rows[0][3], "547269706F642C20627267203039" "30C2B0");  // the stored bytes themselves
    EXPECT_EQ(run.log.find("\xef\xbf\xbd"), std::string::npos);

    const auto gdal = gdalText(cell);
    if (gdal.empty()) GTEST_SKIP() << "ogrinfo gave nothing for the cell (is gdal-bin installed?)";
    EXPECT_EQ(gdal, ours);
}

}  // namespace
