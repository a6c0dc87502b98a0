// tests/export/exptext_test.cpp: UTF-8 from the geodatabase to the bytes of each lexical level:
// ISO 8859-1 for levels 0 and 1, UCS-2-safe UTF-8 for level 2, "?" for what a level cannot hold.
#include "export/exptext.h"

#include <gtest/gtest.h>

#include <string>

#include "support/captured_log.h"

using testsupport::CapturedLog;

namespace {

struct Case {
    const char* name;
    std::string utf8;
    int level;
    std::string bytes;
    int replaced;
};
const Case kCases[] = {
    {"AsciiStays", "Buoy 12", 1, "Buoy 12", 0},
    {"DegreeSignIsOneLatin1Byte", "045\xC2\xB0", 1, "045\xB0", 0},
    {"UmlautIsOneLatin1Byte", "L\xC3\xBC" "beck", 0, "L\xFC" "beck", 0},
    {"EuroSignIsNotLatin1", "5 \xE2\x82\xAC", 1, "5 ?", 1},
    {"CyrillicIsNotLatin1", "\xD0\x9C\xD0\xB8", 1, "??", 2},
    {"CyrillicStaysForUcs2", "\xD0\x9C\xD0\xB8", 2, "\xD0\x9C\xD0\xB8", 0},
    {"DegreeSignStaysForUcs2", "\xC2\xB0", 2, "\xC2\xB0", 0},
    {"BeyondTheBmpIsNotUcs2", "a\xF0\x9F\x8C\x8A" "b", 2, "a?b", 1},
    {"StrayByteIsItsLatin1Character", "caf\xE9", 1, "caf\xE9", 0},
    {"TruncatedSequenceIsItsBytes", "x\xC3", 1, "x\xC3", 0},
    {"Empty", "", 1, "", 0},
};
class LevelText : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(LevelText, GivesTheLevelsBytes) {
    int replaced = 0;
    EXPECT_EQ(levelText(GetParam().utf8, GetParam().level, &replaced), GetParam().bytes);
    EXPECT_EQ(replaced, GetParam().replaced);
}
INSTANTIATE_TEST_SUITE_P(Texts, LevelText, ::testing::ValuesIn(kCases),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(LevelTextLogged, NamesTheOwnerOfAReplacedCharacter) {
    CapturedLog log;
    EXPECT_EQ(levelTextLogged("5 \xE2\x82\xAC", 1, "exportAttributes", "US0000012345", "INFORM"), "5 ?");
    EXPECT_EQ(levelTextLogged("5 EUR", 1, "exportAttributes", "US0000012345", "INFORM"), "5 EUR");
    EXPECT_EQ(log.text(), "exportAttributes: US0000012345 INFORM value \"5 \xE2\x82\xAC\" has characters lexical level 1 "
                          "cannot hold, written as \"?\"\n");
}
