// tests/s57/lookups_test.cpp: the catalogue lookups over the built-in catalogue and the one loaded
// from data/s57.xml and data/product.xml, and the attribute values of a record built in code.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "s57/dimml.h"
#include "s57/lookups.h"
#include "s57/s57_file.h"
#include "s57/s57_util2.h"
#include "s57_file_fixtures.h"

namespace {

const std::string kCatalogueDir = std::string(TARVO_BINARY_DIR) + "/lib";

// The loader traces every record on standard output; keep it out of the test's output.
HRESULT loadQuietly() {
    std::fflush(stdout);
    const int saved = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    const HRESULT hr = loadDIMEInfoFrom(kCatalogueDir.c_str());
    std::fflush(stdout);
    dup2(saved, 1);
    close(null);
    close(saved);
    return hr;
}

struct Pair {
    int32_t object, attribute;
    std::string set;
};

// The pairs as data/s57.xml lists them, read without the loader.
std::vector<Pair> xmlPairs() {
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_file((kCatalogueDir + "/s57.xml").c_str()));
    std::vector<Pair> out;
    for (const auto& x : doc.select_nodes("//S57SET"))
        out.push_back({x.node().attribute("object").as_int(), x.node().attribute("attr").as_int(),
                       x.node().attribute("set").as_string()});
    return out;
}

std::vector<Pair> builtinPairs() {
    std::vector<Pair> out;
    for (const auto& p : builtinS57Sets) out.push_back({p.objectCode, p.attributeCode, p.set});
    return out;
}

// What the catalogue lists for one class in sets A or B/C, in the catalogue's order.
std::vector<int32_t> listed(const std::vector<Pair>& pairs, int32_t object, bool setA) {
    std::vector<int32_t> out;
    for (const auto& p : pairs)
        if (p.object == object && (setA ? p.set == "A" : (p.set == "B" || p.set == "C")))
            out.push_back(p.attribute);
    return out;
}

std::vector<int32_t> lookedUp(int32_t object, const char* selector, int* rc) {
    int32_t room = 0;
    *rc = lookupClassPairCount(object, &room);
    if (*rc != 0) return {};
    std::vector<int32_t> codes(room + 1, -7);
    int32_t count = -1;
    *rc = lookupClassAttributes(object, &count, codes.data(), selector);
    EXPECT_EQ(codes[room], -7) << "written past the pairs of class " << object;
    codes.resize(count < 0 ? 0 : count);
    return codes;
}

// ---- Attribute sets over both catalogues ------------------------------------------------------

struct Source {
    const char* name;
    bool xml;
};
std::ostream& operator<<(std::ostream& os, const Source& s) { return os << s.name; }
const Source kSources[] = {{"Builtin", false}, {"Xml", true}};

class ClassAttributes : public ::testing::TestWithParam<Source> {
protected:
    void SetUp() override {
        if (GetParam().xml) {
            ASSERT_EQ(loadQuietly(), S_OK);
            pairs_ = xmlPairs();
        } else {
            installBuiltinCatalogue();
            pairs_ = builtinPairs();
        }
        ASSERT_EQ(std::size_t(s57SetCount), pairs_.size());
    }
    std::vector<Pair> pairs_;
};

TEST_P(ClassAttributes, EveryClassGetsExactlyItsListedAttributes) {
    std::size_t found = 0;
    for (int32_t i = 0; i < s57ObjectCount; ++i) {
        const int32_t code = s57Objects[i].code;
        SCOPED_TRACE("class " + std::to_string(code));
        int rc = 0;
        const auto a = lookedUp(code, "A", &rc);
        ASSERT_EQ(rc, 0);
        const auto bc = lookedUp(code, "BC", &rc);
        ASSERT_EQ(rc, 0);
        EXPECT_EQ(a, listed(pairs_, code, true));
        EXPECT_EQ(bc, listed(pairs_, code, false));
        found += a.size() + bc.size();
    }
    EXPECT_EQ(found, pairs_.size()) << "every pair belongs to exactly one class lookup";
}

TEST_P(ClassAttributes, AcronymFormsMatchTheCodeForms) {
    for (int32_t i = 0; i < s57ObjectCount; ++i) {
        SCOPED_TRACE(s57Objects[i].acronym);
        int32_t na = 0, nbc = 0, ma = 0, mbc = 0, room = 0;
        ASSERT_EQ(lookupClassPairCount(s57Objects[i].code, &room), 0);
        std::vector<int32_t> a(room + 1), bc(room + 1), a2(room + 1), bc2(room + 1);
        ASSERT_EQ(lookupSetAAttributes(s57Objects[i].code, &na, a.data()), 0);
        ASSERT_EQ(lookupSetBCAttributes(s57Objects[i].code, &nbc, bc.data()), 0);
        ASSERT_EQ(lookupSetAAttributesByAcronym(s57Objects[i].acronym, &ma, a2.data()), 0);
        ASSERT_EQ(lookupSetBCAttributesByAcronym(s57Objects[i].acronym, &mbc, bc2.data()), 0);
        a.resize(na), bc.resize(nbc), a2.resize(ma), bc2.resize(mbc);
        EXPECT_EQ(a, a2);
        EXPECT_EQ(bc, bc2);
    }
}

INSTANTIATE_TEST_SUITE_P(Catalogues, ClassAttributes, ::testing::ValuesIn(kSources),
                         [](const auto& i) { return std::string(i.param.name); });

// The Edition 3.1 classes and attributes, which only the XML catalogue has.
TEST(XmlCatalogue, KnowsTheAdditionsTheBuiltInOneLacks) {
    for (bool xml : {false, true}) {
        SCOPED_TRACE(xml ? "xml" : "builtin");
        if (xml) ASSERT_EQ(loadQuietly(), S_OK);
        else installBuiltinCatalogue();
        const int want = xml ? 0 : -10;
        const char *object = nullptr, *attribute = nullptr;
        int32_t code = 0, room = 0;
        EXPECT_EQ(lookupObjAcronym("163", &object), want);
        EXPECT_EQ(lookupObjCode("ARCSLN", &code), want);
        EXPECT_EQ(lookupAttrAcronym("192", &attribute), want);
        EXPECT_EQ(lookupClassPairCount(162, &room), want);
        if (!xml) continue;
        EXPECT_STREQ(object, "NEWOBJ");
        EXPECT_STREQ(attribute, "SYMINS");
        EXPECT_EQ(code, 161);
        EXPECT_EQ(room, 16);
        int rc = 0;
        const auto a = lookedUp(163, "A", &rc);
        ASSERT_GE(a.size(), 2u);
        EXPECT_EQ(std::vector<int32_t>(a.begin(), a.begin() + 2), (std::vector<int32_t>{190, 191}));
    }
}

// ---- The built-in table and its misplaced pairs ------------------------------------------------

class BuiltinSets : public ::testing::Test {
protected:
    void SetUp() override { installBuiltinCatalogue(); }
};

TEST_F(BuiltinSets, AdministrationAreaInCatalogueOrder) {
    int rc = 0;
    EXPECT_EQ(lookedUp(1, "A", &rc), (std::vector<int32_t>{103, 111, 301, 116}));
    EXPECT_EQ(lookedUp(1, "BC", &rc),
              (std::vector<int32_t>{102, 300, 304, 120, 132, 133, 158, 128, 129, 147, 148}));
    EXPECT_EQ(lookedUp(1, "a", &rc), lookedUp(1, "A", &rc));
    EXPECT_EQ(lookedUp(1, "bC", &rc), lookedUp(1, "BC", &rc));
}

TEST_F(BuiltinSets, PairsOutsideTheClassOrderAreFound) {
    int rc = 0;
    int32_t room = 0;
    ASSERT_EQ(lookupClassPairCount(160, &room), 0);
    EXPECT_EQ(room, 19);
    const auto a155 = lookedUp(155, "A", &rc);
    ASSERT_FALSE(a155.empty());
    EXPECT_EQ(a155.back(), 301) << "the last pair of the table belongs to class 155";
}

TEST_F(BuiltinSets, OtherSelectorsTakeNothing) {
    for (const char* selector : {"B", "C", "AB", "", "ABC"}) {
        int32_t count = -1, codes[64];
        EXPECT_EQ(lookupClassAttributes(1, &count, codes, selector), 0) << selector;
        EXPECT_EQ(count, 0) << selector;
    }
}

// A set table replaced in place (a reload at the same address) is not answered from the old index.
TEST(SetTable, ChangedTableIsReindexed) {
    installBuiltinCatalogue();
    S57SetRec* const saved = s57Sets;
    const int32_t savedCount = s57SetCount;
    S57SetRec table[] = {{2, 7, "A"}, {1, 5, "A"}, {1, 6, "B"}, {2, 8, "C"}, {1, 9, "A"}};
    s57Sets = table;
    s57SetCount = 5;
    int rc = 0;
    EXPECT_EQ(lookedUp(1, "A", &rc), (std::vector<int32_t>{5, 9}));
    EXPECT_EQ(lookedUp(2, "BC", &rc), (std::vector<int32_t>{8}));
    table[0] = {1, 4, "A"};
    EXPECT_EQ(lookedUp(1, "A", &rc), (std::vector<int32_t>{4, 5, 9}));
    EXPECT_EQ(lookedUp(2, "A", &rc), (std::vector<int32_t>{}));
    s57SetCount = 0;
    EXPECT_EQ(lookedUp(1, "A", &rc), (std::vector<int32_t>{})) << "an empty set table";
    EXPECT_EQ(rc, 0);
    s57Sets = saved;
    s57SetCount = savedCount;
}

// ---- Code and acronym translations ----------------------------------------------------------------

TEST_P(ClassAttributes, CodesAndAcronymsTranslateBothWays) {
    for (int32_t i = 0; i < s57ObjectCount; ++i) {
        const S57ObjectRec& o = s57Objects[i];
        SCOPED_TRACE(o.acronym);
        const std::string code = std::to_string(o.code);
        int32_t idx = -1, byText = -1, byAcronym = -1, back = -1;
        const char* acronym = nullptr;
        ASSERT_EQ(lookupObjIndex(o.code, &idx), 0);
        ASSERT_EQ(lookupObjIndexStr(code.c_str(), &byText), 0);
        ASSERT_EQ(lookupObjIndexByAcronym(o.acronym, &byAcronym), 0);
        ASSERT_EQ(lookupObjCode(o.acronym, &back), 0);
        ASSERT_EQ(lookupObjAcronym(code.c_str(), &acronym), 0);
        EXPECT_EQ(idx, i);
        EXPECT_EQ(byText, i);
        EXPECT_EQ(byAcronym, i);
        EXPECT_EQ(back, o.code);
        EXPECT_STREQ(acronym, o.acronym);
    }
    for (int32_t i = 0; i < s57AttributeCount; ++i) {
        const FieldDef& a = s57Attributes[i];
        SCOPED_TRACE(a.name);
        const std::string code = std::to_string(a.index);
        int32_t idx = -1, byText = -1, byAcronym = -1, back = -1;
        const char* acronym = nullptr;
        ASSERT_EQ(lookupAttrIndex(a.index, &idx), 0);
        ASSERT_EQ(lookupAttrIndexStr(code.c_str(), &byText), 0);
        ASSERT_EQ(lookupAttrIndexByAcronym(a.name, &byAcronym), 0);
        ASSERT_EQ(lookupAttrCode(a.name, &back), 0);
        ASSERT_EQ(lookupAttrAcronym(code.c_str(), &acronym), 0);
        EXPECT_EQ(idx, i);
        EXPECT_EQ(byText, i);
        EXPECT_EQ(byAcronym, i);
        EXPECT_EQ(back, a.index);
        EXPECT_STREQ(acronym, a.name);
    }
}

struct Failure {
    const char* name;
    int (*call)();
    int expected;
};

std::ostream& operator<<(std::ostream& os, const Failure& f) { return os << f.name; }

int32_t gIndex;
int32_t gCount;
int32_t gCodes[64];
const char* gText;

const Failure kFailures[] = {
    {"UnknownObjectCode", [] { return lookupObjIndex(999, &gIndex); }, -10},
    {"UnknownAttributeCode", [] { return lookupAttrIndex(0, &gIndex); }, -10},
    {"ObjectCodeTextNotANumber", [] { return lookupObjIndexStr("abc", &gIndex); }, -10},
    {"AttributeCodeTextTooBig", [] { return lookupAttrIndexStr("4294967413", &gIndex); }, -10},
    {"AcronymIsCaseSensitive", [] { return lookupObjIndexByAcronym("depare", &gIndex); }, -10},
    {"UnknownAttributeAcronym", [] { return lookupAttrIndexByAcronym("NOSUCH", &gIndex); }, -10},
    {"UnknownObjectAcronymCode", [] { return lookupObjCode("NOSUCH", &gIndex); }, -10},
    {"UnknownAttributeAcronymCode", [] { return lookupAttrCode("objnam", &gIndex); }, -10},
    {"UnknownObjectCodeAcronym", [] { return lookupObjAcronym("0", &gText); }, -10},
    {"UnknownAttributeCodeAcronym", [] { return lookupAttrAcronym("190", &gText); }, -10},
    {"UnknownClassSets", [] { return lookupClassAttributes(161, &gCount, gCodes, "A"); }, -10},
    {"UnknownAcronymSetA", [] { return lookupSetAAttributesByAcronym("NOSUCH", &gCount, gCodes); }, -10},
    {"UnknownAcronymSetBC", [] { return lookupSetBCAttributesByAcronym("NOSUCH", &gCount, gCodes); }, -10},
    {"UnknownClassPairCount", [] { return lookupClassPairCount(161, &gCount); }, -10},
    {"NullPairCount", [] { return lookupClassPairCount(1, nullptr); }, -19},
    {"NullIndex", [] { return lookupObjIndex(1, nullptr); }, -19},
    {"NullCodeText", [] { return lookupAttrIndexStr(nullptr, &gIndex); }, -19},
    {"NullAcronym", [] { return lookupObjIndexByAcronym(nullptr, &gIndex); }, -19},
    {"NullAcronymOut", [] { return lookupAttrAcronym("1", nullptr); }, -19},
    {"NullCount", [] { return lookupClassAttributes(1, nullptr, gCodes, "A"); }, -19},
    {"NullCodes", [] { return lookupSetAAttributes(1, &gCount, nullptr); }, -19},
    {"NullSelector", [] { return lookupClassAttributes(1, &gCount, gCodes, nullptr); }, -19},
    {"NullAcronymSetA", [] { return lookupSetAAttributesByAcronym(nullptr, &gCount, gCodes); }, -19},
    {"NullCountSetBC", [] { return lookupSetBCAttributesByAcronym("ADMARE", nullptr, gCodes); }, -19},
};

class LookupFailure : public ::testing::TestWithParam<Failure> {
protected:
    void SetUp() override { installBuiltinCatalogue(); }
};

TEST_P(LookupFailure, GivesItsCodeAndLeavesCountAlone) {
    gCount = 12345;
    EXPECT_EQ(GetParam().call(), GetParam().expected);
    EXPECT_EQ(gCount, 12345);
}

INSTANTIATE_TEST_SUITE_P(Lookups, LookupFailure, ::testing::ValuesIn(kFailures),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(Lookups, AbsentCodeClearsTheIndexAbsentAcronymDoesNot) {
    installBuiltinCatalogue();
    int32_t idx = 77;
    EXPECT_EQ(lookupObjIndex(999, &idx), -10);
    EXPECT_EQ(idx, 0);
    idx = 77;
    EXPECT_EQ(lookupObjIndexByAcronym("NOSUCH", &idx), -10);
    EXPECT_EQ(idx, 77);
    ASSERT_EQ(lookupObjIndexByAcronym("$AREA ", &idx), 0) << "acronyms are compared whole";
    EXPECT_EQ(s57Objects[idx].code, 500);
    EXPECT_EQ(lookupObjIndexByAcronym("$AREA", &idx), -10);
}

TEST(Lookups, CodeList) {
    const int32_t list[] = {3, 18, 7};
    EXPECT_EQ(isInCodeList(18, list, 3), 1);
    EXPECT_EQ(isInCodeList(7, list, 2), 0);
    EXPECT_EQ(isInCodeList(3, list, 0), 0);
    EXPECT_EQ(isInCodeList(3, nullptr, 3), 0);
}

// ---- Product mapping ----------------------------------------------------------------------------

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

class Mapping : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(loadQuietly(), S_OK); }
};

TEST_F(Mapping, EveryObjectMapIsFoundWithoutRegardToCase) {
    ASSERT_GT(objectMapCount, 0);
    std::map<std::pair<std::string, std::string>, int32_t> first;
    for (int32_t i = 0; i < objectMapCount; ++i)
        first.emplace(std::make_pair(lower(objectMaps[i].s57Name), lower(objectMaps[i].type)), i);
    for (const auto& [key, i] : first) {
        std::string cls = "stale", subtype = "stale";
        ASSERT_EQ(checkFeatureClassName(cls, subtype, key.first.c_str(), key.second.c_str()), 0)
            << key.first << " " << key.second;
        EXPECT_EQ(cls, objectMaps[i].gdbName);
        EXPECT_EQ(subtype, objectMaps[i].subtype);
    }
    std::string cls, subtype;
    ASSERT_EQ(checkFeatureClassName(cls, subtype, "SOUNDG", "P"), 0);
    EXPECT_EQ(cls, "SoundingFeature");
    EXPECT_EQ(subtype, "SOUNDG");
}

TEST_F(Mapping, EveryAttributeMapIsFound) {
    ASSERT_GT(attributeMapCount, 0);
    for (int32_t i = 0; i < attributeMapCount; ++i) {
        const AttributeMapRec& m = attributeMaps[i];
        bool earlier = false;
        for (int32_t j = 0; j < i && !earlier; ++j)
            earlier = lower(attributeMaps[j].objectName) == lower(m.objectName) &&
                      lower(attributeMaps[j].objectType) == lower(m.objectType) &&
                      lower(attributeMaps[j].s57Name) == lower(m.s57Name);
        if (earlier) continue;
        std::string field = "stale";
        ASSERT_EQ(checkFeatureAttributeName(field, lower(m.objectName).c_str(), m.objectType,
                                            lower(m.s57Name).c_str()),
                  0)
            << m.objectName << " " << m.s57Name;
        EXPECT_EQ(field, m.gdbName);
    }
}

TEST_F(Mapping, MissingMappingsAndNullArguments) {
    std::string cls = "stale", subtype = "stale", field = "stale";
    EXPECT_EQ(checkFeatureClassName(cls, subtype, "SOUNDG", "A"), -13);
    EXPECT_EQ(cls, "");
    EXPECT_EQ(subtype, "");
    EXPECT_EQ(checkFeatureClassName(cls, subtype, "C_AGGR", "P"), -13) << "collections are tables";
    EXPECT_EQ(checkFeatureAttributeName(field, "ADMARE", "A", "DRVAL1"), -13);
    EXPECT_EQ(field, "");
    EXPECT_EQ(checkFeatureAttributeName(field, "ADMARE", "P", "OBJNAM"), -13);
    EXPECT_EQ(checkFeatureClassName(cls, subtype, nullptr, "P"), -19);
    EXPECT_EQ(checkFeatureClassName(cls, subtype, "SOUNDG", nullptr), -19);
    EXPECT_EQ(checkFeatureAttributeName(field, "ADMARE", "A", nullptr), -19);
}

// ---- Attribute values of a record -------------------------------------------------------------------

// A record built in code: each field a tag and (label, value) subfields.
struct Sub {
    const char* label;
    const char* value;
};
struct Fld {
    const char* tag;
    std::vector<Sub> subs;
};

struct Record {
    Iso8211Record rec{};
    explicit Record(const std::vector<Fld>& fields) {
        rec.fieldCount = int32_t(fields.size());
        rec.fields = static_cast<Iso8211Field*>(std::calloc(fields.size(), sizeof(Iso8211Field)));
        for (std::size_t i = 0; i < fields.size(); ++i) {
            Iso8211Field& f = rec.fields[i];
            std::snprintf(f.tag, sizeof f.tag, "%s", fields[i].tag);
            f.subfieldCount = int32_t(fields[i].subs.size());
            f.subFields = static_cast<Iso8211SubField*>(std::calloc(f.subfieldCount, sizeof(Iso8211SubField)));
            for (int32_t j = 0; j < f.subfieldCount; ++j) {
                std::snprintf(f.subFields[j].label, sizeof f.subFields[j].label, "%s", fields[i].subs[j].label);
                f.subFields[j].value = strdup(fields[i].subs[j].value);
                f.subFields[j].length = int32_t(std::strlen(fields[i].subs[j].value));
            }
        }
    }
    ~Record() { (void)Free8211Record(&rec); }
};

using LogCapture = s57test::CapturedLog;

class AttributeValues : public ::testing::Test {
protected:
    void SetUp() override {
        installBuiltinCatalogue();
        for (const char* acronym : {"OBJNAM", "DRVAL1", "INFORM"}) {
            int32_t i = -1;
            ASSERT_EQ(lookupAttrIndexByAcronym(acronym, &i), 0);
            index_.push_back(i);
        }
    }
    std::vector<std::string> values(const Record& r, int* rc) {
        const char* out[3] = {"x", "x", "x"};
        *rc = getATTVValues(&r.rec, s57Attributes, 3, index_.data(), out);
        return {out[0], out[1], out[2]};
    }
    std::vector<int32_t> index_;
};

TEST_F(AttributeValues, CodesAndAcronymsAcrossFields) {
    // OBJNAM 116, DRVAL1 87, INFORM 102
    Record r({{"FRID", {{"OBJL", "042"}}},
              {"ATTV", {{"ATTL", "116"}, {"ATVL", "Harbour"}, {"ATTL", "087"}, {"ATVL", "5.5"}}},
              {"NATF", {{"ATTL", "102"}, {"ATVL", "national"}}},
              {"ATTV", {{"ATTL", "INFORM"}, {"ATVL", "see chart"}, {"ATTL", "OBJNAM"}, {"ATVL", "Pier"}}}});
    int rc = -1;
    EXPECT_EQ(values(r, &rc), (std::vector<std::string>{"Pier", "5.5", "see chart"}));
    EXPECT_EQ(rc, 0);
}

TEST_F(AttributeValues, PairsStopAtTheLastCompletePair) {
    Record r({{"ATTV", {{"ATTL", "116"}, {"ATVL", "Harbour"}, {"ATTL", "087"}}}});
    int rc = -1;
    EXPECT_EQ(values(r, &rc), (std::vector<std::string>{"Harbour", "", ""}));
}

TEST_F(AttributeValues, UnknownCodesLogOncePerWantedAttribute) {
    LogCapture log;
    Record r({{"ATTV", {{"ATTL", "999"}, {"ATVL", "a"}, {"ATTL", "116"}, {"ATVL", "b"}}}});
    int rc = -1;
    EXPECT_EQ(values(r, &rc), (std::vector<std::string>{"b", "", ""}));
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(log.text(), "unable to import attl subfield 999\n"
                          "unable to import attl subfield 999\n"
                          "unable to import attl subfield 999\n");
}

TEST_F(AttributeValues, NoAttributesLeaveSharedEmptyTexts) {
    Record r({{"FRID", {{"OBJL", "042"}}}});
    const char* out[3] = {"x", "x", "x"};
    EXPECT_EQ(getATTVValues(&r.rec, s57Attributes, 3, index_.data(), out), 0);
    EXPECT_STREQ(out[0], "");
    EXPECT_EQ(out[0], out[2]);
    EXPECT_EQ(getATTVValues(nullptr, s57Attributes, 3, index_.data(), out), -19);
    EXPECT_EQ(initAttributeValues(3, nullptr), -19);
}

}  // namespace
