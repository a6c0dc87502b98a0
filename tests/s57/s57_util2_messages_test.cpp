// tests/s57/s57_util2_messages_test.cpp: the string table, displayMessage and showComError as the
// user sees them (through the scripted form), the debug log, the run state's start values.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/ui/ui.h"
#include "s57/s57_util2.h"

namespace fs = std::filesystem;

namespace {

class Messages : public ::testing::Test {
protected:
    void SetUp() override {
        ui::setForm(ui::Form::Scripted);
        ui::scripted::reset();
    }
    void TearDown() override { ui::scripted::reset(); }

    static const ui::Event& only() {
        const auto& ev = ui::scripted::events();
        EXPECT_EQ(ev.size(), 1u);
        static const ui::Event none(ui::Event::Kind::Continue);
        return ev.empty() ? none : ev.back();
    }
};

struct DisplayCase {
    const char* name;
    int textId, captionId;
    const char* detail;
    const char* caption;
    const char* text;
};

const DisplayCase kDisplay[] = {
    {"NullDetail", 112, 101, nullptr, "S-57 to Geodatabase", "Unable to load DIMML files"},
    {"EmptyDetail", 115, 101, "", "S-57 to Geodatabase", "Unable to load cell information"},
    {"DetailFollowsDirectly", 113, 101, " /charts/CELL1.000 - -2", "S-57 to Geodatabase",
     "Unable to load file /charts/CELL1.000 - -2"},
    {"ExportCaption", 106, 104, " -2147467259", "Geodatabase to S-57", "Unable to open Geodatabase -2147467259"},
    {"TextEndingInBlank", 121, 101, "CELL1.000", "S-57 to Geodatabase", "Import report for cell CELL1.000"},
    {"UnknownIdsAreEmpty", 99, 166, " x", "", " x"},
};

class DisplayMessage : public Messages, public ::testing::WithParamInterface<DisplayCase> {};

TEST_P(DisplayMessage, ShowsOneOkBoxWithCaptionAndText) {
    const auto& c = GetParam();
    displayMessage(c.textId, c.captionId, c.detail);
    const ui::Event& e = only();
    EXPECT_EQ(e.kind, ui::Event::Kind::Message);
    EXPECT_EQ(e.caption, c.caption);
    EXPECT_EQ(e.text, c.text);
    EXPECT_EQ(e.type, MB_OK);
}

INSTANTIATE_TEST_SUITE_P(Texts, DisplayMessage, ::testing::ValuesIn(kDisplay),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(Messages, LongDetailIsNotCut) {
    const std::string detail = " " + std::string(5000, 'x');
    displayMessage(113, 101, detail.c_str());
    EXPECT_EQ(only().text, "Unable to load file" + detail);
}

struct ComErrorCase {
    const char* name;
    HRESULT hr;
    const char* text;
};

const ComErrorCase kComErrors[] = {
    {"Fail", E_FAIL, "Error\n\a\tCode = 80004005\n\a\tCode meaning = Unspecified error"},
    {"Pointer", E_POINTER, "Error\n\a\tCode = 80004003\n\a\tCode meaning = Invalid pointer"},
    {"Unknown", hresultOf(0x8004ABCD), "Error\n\a\tCode = 8004abcd\n\a\tCode meaning = Unknown error 0x8004ABCD"},
    {"OutOfMemory", E_OUTOFMEMORY,
     "Error\n\a\tCode = 8007000e\n\a\tCode meaning = Not enough storage is available to complete this operation."},
    {"Positive", S_FALSE, "Error\n\a\tCode = 00000001\n\a\tCode meaning = Incorrect function."},
};

class ShowComError : public Messages, public ::testing::WithParamInterface<ComErrorCase> {};

TEST_P(ShowComError, EightHexDigitsAndTheMeaningUnderCaption101) {
    const auto& c = GetParam();
    const _com_error err(c.hr, L"ignored description");
    EXPECT_EQ(comErrorText(err), c.text);
    showComError(err);
    const ui::Event& e = only();
    EXPECT_EQ(e.caption, "S-57 to Geodatabase");
    EXPECT_EQ(e.text, c.text);
    EXPECT_EQ(e.type, MB_OK);
}

INSTANTIATE_TEST_SUITE_P(Codes, ShowComError, ::testing::ValuesIn(kComErrors),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(StringTable, TextsWordForWord) {
    EXPECT_STREQ(stringText(100), "Tarvo");
    EXPECT_STREQ(stringText(101), "S-57 to Geodatabase");
    EXPECT_STREQ(stringText(104), "Geodatabase to S-57");
    EXPECT_STREQ(stringText(137), "Exporting ");
    EXPECT_STREQ(stringText(138), "Export report for cell");
    EXPECT_STREQ(stringText(150), "Unable export CATD to catalogue file ");
    EXPECT_STREQ(stringText(152), "Unable to find $ARCHOME directory");
    EXPECT_STREQ(stringText(162),
                 "You choose to create new topology primitives. Your existing topology primitives for the "
                 "selected cell will be deleted. Are you sure you want to proceed?");
    EXPECT_STREQ(stringText(165), "Unable to open the feature class");
    EXPECT_EQ(stringText(99), nullptr);
    EXPECT_EQ(stringText(166), nullptr);
    for (int id = 100; id <= 165; ++id) {
        ASSERT_NE(stringText(id), nullptr) << id;
        EXPECT_GT(std::strlen(stringText(id)), 0u) << id;
    }
}

TEST(StringTable, LoadStringCutsAndTerminates) {
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(loadString(101, buf, int(sizeof buf)), 7);
    EXPECT_STREQ(buf, "S-57 to");
    EXPECT_EQ(loadString(100, buf, int(sizeof buf)), 5);
    EXPECT_STREQ(buf, "Tarvo");
    EXPECT_EQ(loadString(7, buf, int(sizeof buf)), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(loadString(101, buf, 0), 0);
    EXPECT_EQ(loadString(101, nullptr, 8), 0);
    char one[1] = {'#'};
    EXPECT_EQ(loadString(101, one, 1), 0);
    EXPECT_EQ(one[0], '\0');
}

TEST(RunState, StartValuesAndPrimTypes) {
    EXPECT_EQ(srelCounter, 0);
    EXPECT_FALSE(stepProgressor);
    initPrimTypes();
    const char* expected[8] = {"VI", "VC", "VE", "FP", "FN", "FL", "FA", "FX"};
    for (int i = 0; i < 8; ++i) EXPECT_STREQ(primTypes[i], expected[i]) << i;
}

TEST(RunState, ModuleInstanceNamesTheConverterLibrary) {
    char path[4096] = {};
    ASSERT_GT(GetModuleFileNameA(moduleInstance, path, sizeof path), 0u);
    EXPECT_EQ(fs::path(path).filename().string(), "libtarvo.so") << path;
}

TEST(DebugLog, AppendsUnderTmpdir) {
    const fs::path dir = fs::temp_directory_path() / ("s57_debug_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    ::setenv("TMPDIR", dir.c_str(), 1);
    EXPECT_EQ(debugLogPath(), (dir / "s57.log").string());
    writeDebugLog("first\n");
    writeDebugLog("second");
    writeDebugLog(nullptr);
    std::ifstream in(dir / "s57.log");
    std::stringstream s;
    s << in.rdbuf();
    EXPECT_EQ(s.str(), "first\nsecond");
    if (old) ::setenv("TMPDIR", saved.c_str(), 1);
    else ::unsetenv("TMPDIR");
    fs::remove_all(dir);
}

}  // namespace

// decimalInt32 reads what strtol reads in base 10, clamped to 32 bits: the coordinates of a cell and
// the codes of the catalogue go through it.
TEST(DecimalInt32, ReadsAsStrtolClampedTo32Bits) {
    auto expected = [](const char* text) {
        const long long v = std::strtoll(text, nullptr, 10);
        return int32_t(v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : v);
    };
    const char* const cases[] = {"",           "0",          "-0",          "+17",        "  \t-42x",
                                 "x42",        "- 5",        "2147483647",  "2147483648", "-2147483648",
                                 "-2147483649", "99999999999999999999999", "-000000000000002147483648",
                                 "0000000000012", "12 34",     "\n7"};
    for (const char* text : cases) EXPECT_EQ(decimalInt32(text), expected(text)) << '"' << text << '"';

    // Random texts of digits, signs and blanks.
    unsigned seed = 12345;
    const char alphabet[] = "0123456789-+ 9";
    for (int n = 0; n < 20000; ++n) {
        char text[24] = {};
        seed = seed * 1103515245u + 12345u;
        const int length = int(seed >> 16) % 22;
        for (int k = 0; k < length; ++k) {
            seed = seed * 1103515245u + 12345u;
            text[k] = alphabet[(seed >> 16) % (sizeof alphabet - 1)];
        }
        ASSERT_EQ(decimalInt32(text), expected(text)) << '"' << text << '"';
    }
}
