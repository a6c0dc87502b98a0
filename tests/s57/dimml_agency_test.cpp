// tests/s57/dimml_agency_test.cpp: agency code <-> label translation over a loaded agency table.
#include <string>

#include <gtest/gtest.h>

#include "s57/dimml.h"
#include "tests/s57/dimml_support.h"

namespace {

class Agencies : public dimmltest::CatalogueFixture {
protected:
    void SetUp() override {
        CatalogueFixture::SetUp();
        write("product.xml", dimmltest::kSmallProduct);
        write("s57.xml",
              "<R><AGENCY name='AA' code='1810'/><AGENCY name='FR' code='250'/>"
              "<AGENCY name='fr' code='251'/><AGENCY name='GB' code='540'/>"
              "<AGENCY name='XY' code='0x10'/><S57OBJECT code='1' acronym='ADMARE'/></R>");
        ASSERT_EQ(loadDIMEInfoFrom(dir().c_str()), S_OK);
    }
};

struct Lookup { const char* name; const char* in; const char* out; };

const Lookup kLabels[] = {
    {"Known", "540", "GB"},       {"FirstOfTwo", "250", "FR"},   {"Unknown", "9999", "AA"},
    {"Empty", "", "AA"},          {"NotANumber", "0X10", "XY"},  {"Partial", "54", "AA"},
};
const Lookup kCodes[] = {
    {"Known", "GB", "540"},       {"CaseIgnoredFirstWins", "fR", "250"},
    {"Unknown", "ZZ", "1810"},    {"Empty", "", "1810"},  {"Prefix", "G", "1810"},
};

class AgencyLabel : public Agencies, public ::testing::WithParamInterface<Lookup> {};
class AgencyCode : public Agencies, public ::testing::WithParamInterface<Lookup> {};

TEST_P(AgencyLabel, FromCode) {
    char label[125] = "garbage";
    EXPECT_EQ(lookupAGENlabel(GetParam().in, label), 0);
    EXPECT_STREQ(label, GetParam().out);
}

TEST_P(AgencyCode, FromLabel) {
    char code[10] = "garbage";
    EXPECT_EQ(lookupAGENcode(GetParam().in, code), 0);
    EXPECT_STREQ(code, GetParam().out);
}

auto caseName = [](const auto& i) { return std::string(i.param.name); };
INSTANTIATE_TEST_SUITE_P(Agen, AgencyLabel, ::testing::ValuesIn(kLabels), caseName);
INSTANTIATE_TEST_SUITE_P(Agen, AgencyCode, ::testing::ValuesIn(kCodes), caseName);

TEST_F(Agencies, DefaultsWithoutATableAndNullArguments) {
    char label[125];
    char code[10];
    EXPECT_EQ(lookupAGENlabel(nullptr, label), 0);
    EXPECT_STREQ(label, "AA");
    EXPECT_EQ(lookupAGENlabel("250", nullptr), -19);
    EXPECT_EQ(lookupAGENcode("FR", nullptr), -19);

    releaseDIMEInfo();
    EXPECT_EQ(lookupAGENlabel("250", label), 0);
    EXPECT_STREQ(label, "AA");
    EXPECT_EQ(lookupAGENcode("FR", code), 0);
    EXPECT_STREQ(code, "1810");
}

}  // namespace
