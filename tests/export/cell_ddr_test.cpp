// tests/export/cell_ddr_test.cpp: the DDR of an exported cell, byte for byte against the field
// descriptions written out here in full, for both templates and both modes; the arguments that
// are refused; a DDR that cannot be written leaves no open stream and no file.
#include "export/cell_ddr.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core_fixture.h"
#include "support/captured_log.h"

using testsupport::CapturedLog;
namespace fs = std::filesystem;

namespace {

std::string num(std::size_t v, int w) {
    std::string s = std::to_string(v);
    return std::string(std::size_t(w) - std::min(s.size(), std::size_t(w)), '0') + s;
}

struct Fld {
    std::string tag, body;
};

// A DDR: field lengths take 3 digits unless one needs more, positions at least 4.
std::string ddr(const std::vector<Fld>& fields) {
    std::size_t longest = 0, total = 0;
    for (const auto& f : fields) {
        longest = std::max(longest, f.body.size());
        total += f.body.size();
    }
    const int lenDigits = std::max<int>(3, int(std::to_string(longest).size()));
    const int posDigits = std::max<int>(4, int(std::to_string(total).size()));
    std::string dir, area;
    for (const auto& f : fields) {
        dir += f.tag + num(f.body.size(), lenDigits) + num(area.size(), posDigits);
        area += f.body;
    }
    dir += '\x1e';
    const std::size_t base = 24 + dir.size();
    // Interchange level 3, no inline code extension, no extended character set named.
    return num(base + area.size(), 5) + "3L 1 09" + num(base, 5) + "   " + std::to_string(lenDigits) +
           std::to_string(posDigits) + "04" + dir + area;
}

struct Desc {
    const char *tag, *controls, *name, *labels, *ascii, *binary;
};

// The descriptions as the format fixes them.
const Desc kBase[] = {
    {"0001", "0500;&   ", "Record Identifier (Object File)", "", "(I(5))", "(b12)"},
    {"DSID", "1600;&   ", "Data Set Identification",
     "RCNM!RCID!EXPP!INTU!DSNM!EDTN!UPDN!UADT!ISDT!STED!PRSP!PSDN!PRED!PROF!AGEN!COMT",
     "(A(2),I(10),A(1),I(1),3A,2A(8),R(4),A(3),2A,2A(2),A)", "(b11,b14,2b11,3A,2A(8),R(4),b11,2A,b11,b12,A)"},
    {"DSSI", "1600;&   ", "Data Set Structure Information", "DSTR!AALL!NALL!NOMR!NOCR!NOGR!NOLR!NOIN!NOCN!NOED!NOFA",
     "(A(2),2I(1),8I)", "(3b11,8b14)"},
    {"DSPM", "1600;&   ", "Data Set Parameter", "RCNM!RCID!HDAT!VDAT!SDAT!CSCL!DUNI!HUNI!PUNI!COUN!COMF!SOMF!COMT",
     "(A(2),I(10),I(3),2I(2),I,3I(2),A(2),2I,A)", "(b11,b14,3b11,b14,4b11,2b14,A)"},
    {"FRID", "1600;&   ", "Feature record identifier field", "RCNM!RCID!PRIM!GRUP!OBJL!RVER!RUIN",
     "(A(2),I(10),A(1),I(3),I(5),I(3),A(1))", "(b11,b14,2b11,2b12,b11)"},
    {"FOID", "1600;&   ", "Feature object identifier field", "AGEN!FIDN!FIDS", "(A(2),I(10),I(5))", "(b12,b14,b12)"},
    {"ATTF", "2600;&-A ", "Feature record attribute field", "*ATTL!ATVL", "(I(5),A)", "(b12,A)"},
    {"NATF", "2600;&%/C", "Feature record national attribute field", "*ATTL!ATVL", "(I(5),A)", "(b12,A)"},
    {"FFPT", "2000;&   ", "Feature record to feature object pointer field", "*LNAM!RIND!COMT", "(A(17),2A)",
     "(B(64),b11,A)"},
    {"FSPT", "2600;&   ", "Feature record to spatial record pointer field", "*NAME!ORNT!USAG!MASK", "(A(12),3A(1))",
     "(B(40),3b11)"},
    {"VRID", "1600;&   ", "Vector record identifier feild", "RCNM!RCID!RVER!RUIN", "(A(2),I(10),I(3),A(1))",
     "(b11,b14,b12,b11)"},
    {"ATTV", "2600;&   ", "Vector record attribute field", "*ATTL!ATVL", "(I(5),A)", "(b12,A)"},
    {"VRPT", "2000;&   ", "Vector record pointer field", "*NAME!ORNT!USAG!TOPI!MASK", "(A(12),4A(1))",
     "(B(40),4b11)"},
    {"SG2D", "2200;&   ", "2-D Coordinate field", "*YCOO!XCOO", "(2R)", "(2b24)"},
    {"SG3D", "2200;&   ", "3-D Coordinate field", "*YCOO!XCOO!VE3D", "(3R)", "(3b24)"},
};

const Desc kExtra[] = {
    {"DSPR", "1600;&   ", "Data Set Projection", "PROJ!PRP1!PRP2!PRP3!PRP4!FEAS!FNOR!FPMF!COMT", "(A(3),6R,I,A)",
     "(b11,6b24,b14,A)"},
    {"DSRC", "2600;&   ", "Data Set Registration Control", "*RPID!RYCO!RXCO!CURP!FPMF!RXVL!RYVL!COMT",
     "(A(1),2R,A(2),I,2R,A)", "(b11,2b24,b11,b14,2b24,A)"},
    {"DSHT", "1600;&   ", "Data Set History", "RCNM!RCID!PRCO!ESDT!LSDT!DCRT!CODT!COMT",
     "(A(2),I(10),A(2),2A(8),A,A(8),A)", "(b11,b14,b12,2A(8),A,A(8),A)"},
    {"DSAC", "1600;&   ", "Data Set Accuracy", "RCNM!RCID!HACC!VACC!SACC!FPMF!COMT", "(A(2),I(10),3R,I,A)",
     "(b11,5b14,A)"},
    {"FFPC", "1600;&   ", "Feature record to feature object pointer control field", "FFUI!FFIX!NFPT", "(A(1),2I)",
     "(b11,2b12)"},
    {"FSPC", "1600;&   ", "Feature record to spatial record pointer control field", "FSUI!FSIX!NSPT", "(A(1),2I)",
     "(b11,2b12)"},
    {"VRPC", "1600;&   ", "Vector record pointer control field", "VPUI!VPIX!NVPT", "(A(1),2I)", "(b11,2b12)"},
    {"SGCC", "1600;&   ", "Coordinate control field", "CCUI!CCIX!CCNC", "(A(1),2I)", "(b11,2b12)"},
    {"ARCC", "1600;&   ", "Arc/Curve definition field", "ATYP!SURF!ORDR!RESO!FPMF", "(2A(1),I(1),R,I)",
     "(3b11,2b14)"},
    {"AR2D", "2600;&   ", "Arc coordinate field", "STPT!CTPT!ENPT*YCOO!XCOO", "(2R)", "(2b24)"},
    {"EL2D", "2600;&   ", "Ellipse coordinate field", "STPT!CTPT!ENPT!CDPM!CDPR*YCOO!XCOO", "(2R)", "(2b24)"},
    {"CT2D", "2600;&   ", "Curve coordinate field", "*YCOO!XCOO", "(2R)", "(2b24)"},
};

const Desc& find(const char* tag) {
    for (const Desc& d : kBase)
        if (std::string(d.tag) == tag) return d;
    for (const Desc& d : kExtra)
        if (std::string(d.tag) == tag) return d;
    throw std::runtime_error(tag);
}

std::string expectedDdr(bool base, bool binary) {
    const char* baseOrder[] = {"0001", "DSID", "DSSI", "DSPM", "FRID", "FOID", "ATTF", "NATF",
                               "FFPT", "FSPT", "VRID", "ATTV", "VRPT", "SG2D", "SG3D"};
    const char* arcOrder[] = {"0001", "DSID", "DSSI", "DSPM", "DSPR", "DSRC", "DSHT", "DSAC", "FRID",
                              "FOID", "ATTF", "NATF", "FFPC", "FFPT", "FSPC", "FSPT", "VRID", "ATTV",
                              "VRPC", "VRPT", "SGCC", "SG2D", "SG3D", "ARCC", "AR2D", "EL2D", "CT2D"};
    std::vector<Fld> fields;
    if (base)
        fields.push_back({"0000", "0000;&   GDB TO S57 (base cell file)\x1f"
                                  "0001DSIDDSIDDSSI0001DSPM0001FRIDFRIDFOIDFRIDATTFFRIDNATFFRIDFFPTFRIDFSPT0001VRIDVRIDATTV"
                                  "VRIDVRPTVRIDSG2DVRIDSG3D\x1e"});
    else
        fields.push_back({"0000", "0000;&   ARC TO S57 (base cell file)\x1f"
                                  "0001DSIDDSIDDSSI0001DSPMDSPMDSPRDSPMDSRC0001DSHT0001DSAC0001FRIDFRIDFOIDFRIDATTF"
                                  "FRIDNATFFRIDFFPCFRIDFFPTFRIDFSPCFRIDFSPT0001VRIDVRIDATTVVRIDVRPCVRIDVRPTVRIDSGCC"
                                  "VRIDSG2DVRIDSG3DVRIDARCCARCCAR2DARCCEL2DARCCCT2D\x1e"});
    auto add = [&](const char* tag) {
        const Desc& d = find(tag);
        fields.push_back({d.tag, std::string(d.controls) + d.name + "\x1f" + d.labels + "\x1f" +
                                     (binary ? d.binary : d.ascii) + "\x1e"});
    };
    if (base)
        for (const char* t : baseOrder) add(t);
    else
        for (const char* t : arcOrder) add(t);
    return ddr(fields);
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Mode {
    const char* name;
    int32_t selector;
    int32_t binary;
};
const Mode kModes[] = {{"BaseBinary", 1, 1}, {"BaseAscii", 1, 0}, {"ExtendedBinary", 0, 1},
                       {"ExtendedAscii", 0, 0}, {"AnyOtherSelectorIsExtended", 7, 1}};
class CreateObjectFile : public ::testing::TestWithParam<Mode> {};

}  // namespace

TEST_P(CreateObjectFile, WritesTheTemplateByteForByte) {
    coretest::Scratch dir;
    const std::string path = (dir.path() / "CELL.000").string();
    CapturedLog log;
    Iso8211File file{};
    ASSERT_EQ(createObjectFile(path.c_str(), GetParam().binary, &file, GetParam().selector), 0) << log.text();
    EXPECT_EQ(file.recordNo, 1);
    ASSERT_EQ(Close8211File(&file), 0);
    EXPECT_EQ(readFile(path), expectedDdr(GetParam().selector == 1, GetParam().binary == 1));
    EXPECT_EQ(log.text(), "");

    // The templates themselves stay as they were.
    EXPECT_EQ(cellDDRTemplate[1].binary, 0);
    EXPECT_STREQ(cellDDRTemplate[1].format, "(A(2),I(10),A(1),I(1),3A,2A(8),R(4),A(3),2A,2A(2),A)");
}
INSTANTIATE_TEST_SUITE_P(Templates, CreateObjectFile, ::testing::ValuesIn(kModes),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(CreateObjectFileFails, BadArgumentsTouchNothing) {
    coretest::Scratch dir;
    const std::string path = (dir.path() / "CELL.000").string();
    CapturedLog log;
    Iso8211File file{};
    EXPECT_EQ(createObjectFile(path.c_str(), 2, &file, 1), -19);
    EXPECT_EQ(createObjectFile(nullptr, 1, &file, 1), -19);
    EXPECT_EQ(createObjectFile(path.c_str(), 1, nullptr, 1), -19);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(log.text(), "CreateObjectFile : Illegal Parameter\n"
                          "CreateObjectFile : Illegal Parameter\n"
                          "CreateObjectFile : Illegal Parameter\n");
}

TEST(CreateObjectFileFails, APathThatCannotBeCreatedLeavesNoOpenStream) {
    coretest::Scratch dir;
    const std::string path = (dir.path() / "missing" / "CELL.000").string();
    CapturedLog log;
    Iso8211File file{};
    EXPECT_EQ(createObjectFile(path.c_str(), 1, &file, 1), 1);
    EXPECT_EQ(file.fp, nullptr);
    EXPECT_NE(log.text().find("CreateObjectFile : unable create ISO object file " + path + "\n"), std::string::npos);
}
