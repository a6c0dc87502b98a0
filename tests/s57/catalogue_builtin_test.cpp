// tests/s57/catalogue_builtin_test.cpp: the compiled-in catalogue: its shape, its order (with the
// two groups it keeps out of place), and its attribute sets against the published catalogue as
// gdal-data transcribes it (skipped when that transcription is not installed); what the
// transcription has beyond it in the standard code ranges is what s57.xml adds.
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "s57/dimml.h"
#include "tests/s57/dimml_support.h"

namespace {

const char kTranscription[] = "/usr/share/gdal";

TEST(BuiltinCatalogue, ObjectsAndAttributesInTheirCodeRanges) {
    std::vector<int32_t> want;
    for (int c = 1; c <= 160; ++c) want.push_back(c);
    for (int c = 300; c <= 312; ++c) want.push_back(c);
    for (int c = 400; c <= 402; ++c) want.push_back(c);
    for (int c = 500; c <= 504; ++c) want.push_back(c);
    std::vector<int32_t> got;
    for (const auto& o : builtinS57Objects) {
        got.push_back(o.code);
        EXPECT_EQ(std::strlen(o.acronym), 6u) << o.code;
        EXPECT_GE(std::strlen(o.description), 40u) << o.code;  // padded with blanks
    }
    EXPECT_EQ(got, want);
    EXPECT_STREQ(builtinS57Objects[0].acronym, "ADMARE");
    EXPECT_STREQ(builtinS57Objects[128].acronym, "SOUNDG");
    EXPECT_STREQ(builtinS57Objects[159].acronym, "TS_FEB");
    EXPECT_STREQ(builtinS57Objects[169].description, "Sounding datum                          ");
    EXPECT_STREQ(builtinS57Objects[176].acronym, "$AREA ");
    EXPECT_STREQ(builtinS57Objects[177].acronym, "$LINE ");
    EXPECT_STREQ(builtinS57Objects[180].acronym, "$TEXTS");

    want.clear();
    for (int c = 1; c <= 189; ++c) want.push_back(c);
    for (int c = 300; c <= 304; ++c) want.push_back(c);
    for (int c = 400; c <= 402; ++c) want.push_back(c);
    got.clear();
    for (const auto& a : builtinS57Attributes) got.push_back(a.index);
    EXPECT_EQ(got, want);
}

struct Column { const char* acronym; int32_t type; int32_t width; const char* def; };

const Column kColumns[] = {
    {"AGENCY", 1, 2, "XX"},      {"RYRMGV", 1, 4, "XXXX"},   {"$CHARS", 1, 5, "XXXXX"},
    {"SORDAT", 1, 8, "UNKNOWN"}, {"TIMSTA", 1, 17, "UNKNOWN"}, {"COLOUR", 1, 70, "UNKNOWN"},
    {"NTXTDS", 1, 70, "UNKNOWN"}, {"CATCOV", 2, 2, "-1"},    {"QUAPOS", 2, 2, "-1"},
    {"SCAMIN", 2, 4, "-1"},      {"T_TINT", 2, 4, "-1"},     {"VALSOU", 3, 4, "-1.0"},
    {"POSACC", 3, 4, "-1.0"},
};

class BuiltinColumn : public ::testing::TestWithParam<Column> {};

TEST_P(BuiltinColumn, TypeWidthAndDefaultOfItsGroup) {
    const Column& c = GetParam();
    const FieldDef* f = nullptr;
    for (const auto& a : builtinS57Attributes)
        if (!std::strcmp(a.name, c.acronym)) f = &a;
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->type, c.type);
    EXPECT_EQ(f->width, c.width);
    EXPECT_STREQ(f->defaultValue, c.def);
}

INSTANTIATE_TEST_SUITE_P(Groups, BuiltinColumn, ::testing::ValuesIn(kColumns), [](const auto& i) {
    std::string n = i.param.acronym;
    for (auto& ch : n)
        if (ch == '$') ch = 'D';
    return n;
});

TEST(BuiltinCatalogue, SetsStandByClassWithTheTwoMisplacedGroups) {
    std::map<std::string, int> perSet;
    for (const auto& p : builtinS57Sets) ++perSet[p.set];
    EXPECT_EQ(perSet, (std::map<std::string, int>{{"A", 1544}, {"B", 1103}, {"C", 724}}));

    // Where the class code goes down: only into and out of the group of 160, and at the last pair.
    std::vector<int> descents;
    for (int i = 1; i < kBuiltinS57SetCount; ++i)
        if (builtinS57Sets[i].objectCode < builtinS57Sets[i - 1].objectCode) descents.push_back(i);
    ASSERT_EQ(descents.size(), 2u);
    const int after160 = descents[0];
    EXPECT_EQ(builtinS57Sets[after160].objectCode, 136);
    EXPECT_EQ(builtinS57Sets[after160 - 19].objectCode, 160);
    EXPECT_EQ(builtinS57Sets[after160 - 20].objectCode, 135);
    EXPECT_EQ(descents[1], kBuiltinS57SetCount - 1);
    const S57SetRec& last = builtinS57Sets[kBuiltinS57SetCount - 1];
    EXPECT_EQ(last.objectCode, 155);
    EXPECT_EQ(last.attributeCode, 301);
    EXPECT_STREQ(last.set, "A");
    int count160 = 0;
    for (const auto& p : builtinS57Sets) count160 += p.objectCode == 160;
    EXPECT_EQ(count160, 19);

    // Class 1, as published: A first, then B, then C.
    std::vector<std::string> admare;
    for (const auto& p : builtinS57Sets)
        if (p.objectCode == 1) admare.push_back(std::string(p.set) + std::to_string(p.attributeCode));
    EXPECT_EQ(admare, (std::vector<std::string>{"A103", "A111", "A301", "A116", "B102", "B300", "B304",
                                                "B120", "B132", "B133", "B158", "C128", "C129",
                                                "C147", "C148"}));
}

// ---- Against the transcription -------------------------------------------------------------------

std::vector<std::string> csvRow(const std::string& line) {
    std::vector<std::string> out(1);
    bool quoted = false;
    for (char c : line) {
        if (c == '"') quoted = !quoted;
        else if (c == ',' && !quoted) out.emplace_back();
        else if (c != '\r') out.back() += c;
    }
    return out;
}

std::vector<std::vector<std::string>> readCsv(const std::string& path) {
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) rows.push_back(csvRow(line));
    return rows;
}

const std::string objectsCsv = std::string(kTranscription) + "/s57objectclasses.csv";
const std::string attributesCsv = std::string(kTranscription) + "/s57attributes.csv";

bool haveTranscription() {
    return std::filesystem::exists(objectsCsv) && std::filesystem::exists(attributesCsv);
}

// The codes of a table's rows (the comment rows have code 0).
std::set<int32_t> codes(const std::string& path) {
    std::set<int32_t> out;
    for (const auto& r : readCsv(path))
        if (!r.empty() && !r[0].empty() && std::isdigit(static_cast<unsigned char>(r[0][0])) && std::stoi(r[0]) > 0)
            out.insert(std::stoi(r[0]));
    return out;
}

// The inland (17xxx) and military (2xxxx) extensions lie outside the standard ranges.
TEST(BuiltinCatalogue, TranscriptionHasOnlyTheAddedClassesAndAttributesBeyondIt) {
    if (!haveTranscription()) GTEST_SKIP() << "gdal-data's S-57 tables are not installed in " << kTranscription;
    std::set<int32_t> beyond = codes(objectsCsv), want;
    for (const auto& o : builtinS57Objects) beyond.erase(o.code);
    for (auto it = beyond.begin(); it != beyond.end();) it = *it > 504 ? beyond.erase(it) : ++it;
    for (const auto& c : dimmltest::kAddedClasses) want.insert(c.code);
    EXPECT_EQ(beyond, want);

    beyond = codes(attributesCsv);
    want.clear();
    for (const auto& a : builtinS57Attributes) beyond.erase(a.index);
    for (auto it = beyond.begin(); it != beyond.end();) it = *it >= 1000 ? beyond.erase(it) : ++it;
    for (const auto& a : dimmltest::kAddedAttributes) want.insert(a.code);
    EXPECT_EQ(beyond, want);
}

TEST(BuiltinCatalogue, EveryClassHasTheSetsOfThePublishedCatalogue) {
    if (!haveTranscription()) GTEST_SKIP() << "gdal-data's S-57 tables are not installed in " << kTranscription;

    std::map<std::string, int32_t> codeOf;
    for (const auto& r : readCsv(attributesCsv))
        if (r.size() > 2 && !r[0].empty() && std::isdigit(static_cast<unsigned char>(r[0][0])))
            codeOf[r[2]] = std::stoi(r[0]);

    using Sets = std::map<std::string, std::vector<int32_t>>;  // set letter -> codes in order
    std::map<int32_t, Sets> published;
    for (const auto& r : readCsv(objectsCsv)) {
        if (r.size() < 6 || r[0].empty() || !std::isdigit(static_cast<unsigned char>(r[0][0]))) continue;
        const int32_t code = std::stoi(r[0]);
        if (code > 504) continue;  // later extensions
        const char* letters[] = {"A", "B", "C"};
        for (int k = 0; k < 3; ++k) {
            std::stringstream ss(r[3 + k]);
            std::string acr;
            auto& list = published[code][letters[k]];
            while (std::getline(ss, acr, ';')) {
                // "hypcat" is the transcription's own extension, not an S-57 attribute.
                if (acr.empty() || acr == "hypcat") continue;
                ASSERT_TRUE(codeOf.count(acr)) << acr;
                list.push_back(codeOf[acr]);
            }
        }
    }
    // NTXTDS (304) and TXTDSC (158) in set B, which the transcription lost for these classes.
    auto restore = [&](int32_t cls, bool both) {
        auto& b = published[cls]["B"];
        b.insert(b.begin() + 2, 304);
        if (both) b.insert(b.begin() + 5, 158);
    };
    restore(36, true);   // CURENT
    restore(81, true);   // MAGVAR
    restore(111, true);  // RSCSTA
    restore(47, false);  // DRYDOC: only NTXTDS

    std::map<int32_t, Sets> builtin;
    for (const auto& p : builtinS57Sets) builtin[p.objectCode][p.set].push_back(p.attributeCode);
    // The pair kept last belongs after VEGATN's HEIGHT.
    auto& vegatn = builtin[155]["A"];
    vegatn.pop_back();
    vegatn.insert(vegatn.begin() + 4, 301);

    for (const auto& o : builtinS57Objects) {
        SCOPED_TRACE(o.acronym);
        Sets want = published[o.code];
        for (auto it = want.begin(); it != want.end();) it = it->second.empty() ? want.erase(it) : ++it;
        EXPECT_EQ(builtin[o.code], want);
    }
}

}  // namespace
