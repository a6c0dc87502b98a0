// tests/s57/dimml_load_test.cpp: loading the catalogue and the product mapping from XML, the
// failures that send the drivers to the built-in catalogue, and the reading rules.
#include <climits>
#include <cstring>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "s57/dimml.h"
#include "tests/s57/dimml_support.h"

namespace {

using dimmltest::CatalogueFixture;
using dimmltest::isAddedAttribute;
using dimmltest::isAddedClass;
using dimmltest::kAddedAttributes;
using dimmltest::kAddedClasses;
using dimmltest::kSmallCatalogue;
using dimmltest::kSmallProduct;

// ---- The shipped files, found beside libtarvo.so ---------------------------------------------------

class ShippedCatalogue : public CatalogueFixture {};

TEST_F(ShippedCatalogue, LoadsBesideTheModuleAsTheBuiltInCatalogueWithTheAdditions) {
    ASSERT_EQ(loadDIMEInfo(), S_OK) << logText();
    EXPECT_EQ(boxes(), "");
    EXPECT_EQ(s57ObjectCount, kBuiltinS57ObjectCount + int32_t(std::size(kAddedClasses)));
    EXPECT_EQ(s57AttributeCount, kBuiltinS57AttributeCount + int32_t(std::size(kAddedAttributes)));
    int addedPairs = 0;
    for (const auto& c : kAddedClasses) addedPairs += c.pairs;
    EXPECT_EQ(s57SetCount, kBuiltinS57SetCount + addedPairs);
    EXPECT_GT(agencyCount, 200);
    EXPECT_GT(objectMapCount, s57ObjectCount);  // many classes have several primitives
    EXPECT_GT(attributeMapCount, s57SetCount);

    // Objects: the built-in ones in their order, the additions where their codes put them.
    std::vector<std::pair<int32_t, std::string>> xmlObjects, builtinObjects;
    std::map<int32_t, std::string> addedObjects;
    for (int32_t i = 0; i < s57ObjectCount; ++i) {
        if (i > 0) {
            EXPECT_LT(s57Objects[i - 1].code, s57Objects[i].code) << i;
        }
        if (isAddedClass(s57Objects[i].code)) addedObjects[s57Objects[i].code] = s57Objects[i].acronym;
        else xmlObjects.emplace_back(s57Objects[i].code, s57Objects[i].acronym);
    }
    for (const auto& o : builtinS57Objects) builtinObjects.emplace_back(o.code, o.acronym);
    EXPECT_EQ(xmlObjects, builtinObjects);
    EXPECT_EQ(addedObjects, (std::map<int32_t, std::string>{{161, "ARCSLN"}, {162, "ASLXIS"}, {163, "NEWOBJ"}}));

    // Attributes from XML take the built-in width and default; the additions, free text, those of
    // their type.
    std::vector<const FieldDef*> xmlAttributes;
    std::map<int32_t, std::string> addedAttributes;
    for (int32_t i = 0; i < s57AttributeCount; ++i) {
        const FieldDef& a = s57Attributes[i];
        if (i > 0) {
            EXPECT_LT(s57Attributes[i - 1].index, a.index) << i;
        }
        if (!isAddedAttribute(a.index)) {
            xmlAttributes.push_back(&a);
            continue;
        }
        addedAttributes[a.index] = a.name;
        EXPECT_EQ(std::tie(a.type, a.width), std::make_tuple(1, 70)) << a.name;
        EXPECT_STREQ(a.defaultValue, "UNKNOWN") << a.name;
    }
    EXPECT_EQ(addedAttributes, (std::map<int32_t, std::string>{{190, "CLSDEF"}, {191, "CLSNAM"}, {192, "SYMINS"}}));
    ASSERT_EQ(xmlAttributes.size(), std::size(builtinS57Attributes));
    for (std::size_t i = 0; i < xmlAttributes.size(); ++i) {
        const FieldDef& a = *xmlAttributes[i];
        const FieldDef& b = builtinS57Attributes[i];
        EXPECT_EQ(std::tie(a.index, a.type, a.width), std::tie(b.index, b.type, b.width)) << b.name;
        EXPECT_STREQ(a.name, b.name);
        EXPECT_STREQ(a.defaultValue, b.defaultValue) << b.name;
    }

    // The same pairs, each class's in the same order, and the pairs of the added classes; the XML
    // lists them strictly by class.
    std::map<int32_t, std::vector<std::pair<int32_t, std::string>>> xml, builtin;
    for (int32_t i = 0; i < s57SetCount; ++i) {
        if (i > 0) {
            EXPECT_LE(s57Sets[i - 1].objectCode, s57Sets[i].objectCode) << i;
        }
        xml[s57Sets[i].objectCode].emplace_back(s57Sets[i].attributeCode, s57Sets[i].set);
    }
    for (const auto& c : kAddedClasses) {
        EXPECT_EQ(int(xml[c.code].size()), c.pairs) << c.acronym;
        xml.erase(c.code);
    }
    for (const auto& p : builtinS57Sets)
        if (!(p.objectCode == 155 && p.attributeCode == 301))
            builtin[p.objectCode].emplace_back(p.attributeCode, p.set);
    auto& vegatn = builtin[155];  // the pair the built-in table keeps last belongs after HEIGHT
    vegatn.insert(vegatn.begin() + 4, {301, "A"});
    EXPECT_EQ(xml, builtin);

    char label[125];
    ASSERT_EQ(lookupAGENlabel("1810", label), 0);
    EXPECT_STREQ(label, "AA");
}

// The new object: its name and definition in set A, its symbol instruction in set B.
TEST_F(ShippedCatalogue, NewObjectCarriesItsClassNameDefinitionAndSymbol) {
    ASSERT_EQ(loadDIMEInfo(), S_OK) << logText();
    std::vector<std::string> pairs;
    for (int32_t i = 0; i < s57SetCount; ++i)
        if (s57Sets[i].objectCode == 163 && isAddedAttribute(s57Sets[i].attributeCode))
            pairs.push_back(std::string(s57Sets[i].set) + std::to_string(s57Sets[i].attributeCode));
    EXPECT_EQ(pairs, (std::vector<std::string>{"A190", "A191", "B192"}));
}

TEST_F(ShippedCatalogue, ProductMapsEveryPrimitiveOfEveryClassToAThemedClass) {
    ASSERT_EQ(loadDIMEInfo(), S_OK) << logText();
    std::map<std::string, std::set<std::string>> typesOf;  // acronym -> primitives mapped
    for (int32_t i = 0; i < objectMapCount; ++i) {
        const ObjectMapRec& m = objectMaps[i];
        EXPECT_TRUE(std::string("PLA").find(m.type) != std::string::npos && std::strlen(m.type) == 1)
            << m.s57Name;
        EXPECT_STREQ(m.subtype, m.s57Name);
        EXPECT_NE(std::string(m.gdbName).find("Feature"), std::string::npos);
        typesOf[m.s57Name].insert(m.type);
    }
    EXPECT_EQ(typesOf["SOUNDG"], std::set<std::string>{"P"});
    EXPECT_EQ(typesOf["LNDARE"], (std::set<std::string>{"A", "L", "P"}));
    EXPECT_EQ(typesOf.count("C_AGGR"), 0u);  // collections are tables, not mapped classes
    EXPECT_EQ(typesOf.count("$TEXTS"), 0u);  // no primitive in the catalogue

    auto find = [](const char* acr, const char* type) -> const ObjectMapRec* {
        for (int32_t i = 0; i < objectMapCount; ++i)
            if (!std::strcmp(objectMaps[i].s57Name, acr) && !std::strcmp(objectMaps[i].type, type))
                return &objectMaps[i];
        return nullptr;
    };
    ASSERT_TRUE(find("SOUNDG", "P"));
    EXPECT_STREQ(find("SOUNDG", "P")->gdbName, "SoundingFeature");
    ASSERT_TRUE(find("LNDARE", "A"));
    EXPECT_STREQ(find("LNDARE", "A")->gdbName, "CoastlineAreaFeature");
    EXPECT_EQ(find("M_COVR", "A")->code, 302);
    // The Edition 3.1 classes: the archipelagic sea lanes with the routeing, the new object in
    // classes of its own.
    struct Added { const char *acronym, *type, *gdbName; };
    const Added added[] = {
        {"ARCSLN", "A", "RouteingAreaFeature"},   {"ASLXIS", "L", "RouteingLineFeature"},
        {"NEWOBJ", "P", "NewObjectPointFeature"}, {"NEWOBJ", "L", "NewObjectLineFeature"},
        {"NEWOBJ", "A", "NewObjectAreaFeature"},
    };
    for (const auto& a : added) {
        const ObjectMapRec* m = find(a.acronym, a.type);
        ASSERT_TRUE(m) << a.acronym << " " << a.type;
        EXPECT_STREQ(m->gdbName, a.gdbName);
    }
    bool symbolMapped = false;
    for (int32_t i = 0; i < attributeMapCount; ++i)
        symbolMapped = symbolMapped || (!std::strcmp(attributeMaps[i].objectName, "NEWOBJ") &&
                                        !std::strcmp(attributeMaps[i].gdbName, "SYMINS"));
    EXPECT_TRUE(symbolMapped);
    EXPECT_EQ(typesOf["ARCSLN"], std::set<std::string>{"A"});
    EXPECT_EQ(typesOf["ASLXIS"], std::set<std::string>{"L"});
    EXPECT_EQ(typesOf["NEWOBJ"], (std::set<std::string>{"A", "L", "P"}));

    // Each attribute map carries its class and primitive, and names the field after the acronym.
    int32_t soundgAttributes = 0;
    for (int32_t i = 0; i < attributeMapCount; ++i) {
        const AttributeMapRec& a = attributeMaps[i];
        EXPECT_STREQ(a.gdbName, a.s57Name);
        if (!std::strcmp(a.objectName, "SOUNDG")) {
            ++soundgAttributes;
            EXPECT_EQ(a.objectCode, 129);
            EXPECT_STREQ(a.objectType, "P");
        }
    }
    int32_t soundgPairs = 0;
    for (int32_t i = 0; i < s57SetCount; ++i) soundgPairs += s57Sets[i].objectCode == 129;
    EXPECT_EQ(soundgAttributes, soundgPairs);
}

// ---- Failures ----------------------------------------------------------------------------------------

struct FailureCase {
    const char* name;
    const char* product;    // null: no file
    const char* catalogue;  // null: no file
    const char* failing;    // the file named in the message
    const char* detailTail; // what follows the path in the message
    bool mappingLoaded;
};

const FailureCase kFailures[] = {
    {"MissingProduct", nullptr, kSmallCatalogue, "product.xml", " -1", false},
    {"MissingCatalogue", kSmallProduct, nullptr, "s57.xml", " -1", true},
    {"MalformedProduct", "<PRODUCT><OBJECTMAP></PRODUCT>", kSmallCatalogue, "product.xml", ": ",
     false},
    {"MalformedCatalogue", kSmallProduct, "<S57CATALOGUE><S57OBJECT code='1'", "s57.xml", ": ",
     true},
    {"EmptyCatalogueFile", kSmallProduct, "", "s57.xml", ": ", true},
    {"CatalogueWithoutClasses", kSmallProduct,
     "<S57CATALOGUE><AGENCY name='AA' code='1810'/></S57CATALOGUE>", "s57.xml",
     ": no S57OBJECT element", true},
};

class LoadFailure : public CatalogueFixture, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(LoadFailure, FailsWithMessage153AndTheBuiltInCatalogueCanBeInstalled) {
    const FailureCase& c = GetParam();
    if (c.product) write("product.xml", c.product);
    if (c.catalogue) write("s57.xml", c.catalogue);
    // A previous run's tables must not survive a failed load.
    write("old/product.xml", kSmallProduct);
    write("old/s57.xml", kSmallCatalogue);

    EXPECT_EQ(loadDIMEInfoFrom((dir() + "/old").c_str()), S_OK);
    ui::scripted::reset();
    EXPECT_EQ(loadDIMEInfoFrom(dir().c_str()), E_FAIL);

    const std::string path = dir() + "/" + c.failing;
    const std::string box = boxes();
    EXPECT_EQ(box.rfind("Geodatabase to S-57|Unable to open XML file " + path + c.detailTail, 0), 0u)
        << box;
    const std::string log = logText();
    // The log has the text, a blank, then the detail, which starts with a blank of its own.
    EXPECT_EQ(log.rfind("Unable to open XML file  " + path + c.detailTail, 0), 0u) << log;
    EXPECT_EQ(log.find('\n'), std::string::npos);  // the driver ends the line

    EXPECT_EQ(objectMapCount > 0, c.mappingLoaded);
    EXPECT_EQ(s57ObjectCount, 0);
    EXPECT_EQ(s57Objects, nullptr);

    installBuiltinCatalogue();
    EXPECT_EQ(s57ObjectCount, kBuiltinS57ObjectCount);
    EXPECT_EQ(s57AttributeCount, kBuiltinS57AttributeCount);
    EXPECT_EQ(s57SetCount, kBuiltinS57SetCount);
    ASSERT_NE(s57Sets, nullptr);
    EXPECT_NE(static_cast<const S57SetRec*>(s57Sets), builtinS57Sets);  // a copy, not the table
    EXPECT_EQ(std::memcmp(s57Sets, builtinS57Sets, sizeof builtinS57Sets), 0);
    EXPECT_EQ(std::memcmp(s57Objects, builtinS57Objects, sizeof builtinS57Objects), 0);
    EXPECT_EQ(std::memcmp(s57Attributes, builtinS57Attributes, sizeof builtinS57Attributes), 0);
    EXPECT_EQ(objectMapCount > 0, c.mappingLoaded);  // the mapping stays as the loader left it
}

INSTANTIATE_TEST_SUITE_P(Catalogue, LoadFailure, ::testing::ValuesIn(kFailures),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(CatalogueFixture, ModuleWithoutCatalogueFilesBesideItFails) {
    // The test program's own directory holds no catalogue files.
    const HMODULE saved = moduleInstance;
    moduleInstance = nullptr;
    const std::string exeDir = moduleDirectory(nullptr);
    const HRESULT hr = loadDIMEInfo();
    moduleInstance = saved;
    ASSERT_FALSE(exeDir.empty());
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_EQ(boxes(), "Geodatabase to S-57|Unable to open XML file " + exeDir + "product.xml -1\n");
}

TEST(ModulePath, DirectoryKeepsItsSeparatorAndWritesSlashes) {
    EXPECT_EQ(parentDirectory("/usr/lib/libtarvo.so"), "/usr/lib/");
    EXPECT_EQ(parentDirectory("C:\\Program Files\\Tarvo\\bin\\tarvo.dll"), "C:/Program Files/Tarvo/bin/");
    EXPECT_EQ(parentDirectory("a/b\\c"), "a/b/");
    EXPECT_EQ(parentDirectory("libtarvo.so"), "");
    const std::string lib = moduleDirectory(moduleInstance);
    ASSERT_FALSE(lib.empty());
    EXPECT_EQ(lib.back(), '/');
}

// ---- Reading rules -----------------------------------------------------------------------------------

TEST_F(CatalogueFixture, ReadsAttributesByNameIgnoringCaseAndElementsByExactTag) {
    write("product.xml", kSmallProduct);
    write("s57.xml",
          "<ROOT><AGENCY NAME='AA' Code='1810' extra='x'/><agency name='lower' code='1'/>"
          "<deep><deeper><AGENCY name='FR' code='250'/></deeper></deep>"
          "<S57OBJECT Code='129' ACRONYM='SOUNDG'/>"
          "<S57OBJECT code='12x' acronym='TOOLONGACRONYM' "
          "desc='A description much longer than the fifty-two characters its field holds'/>"
          "<S57OBJECT acronym='NOCODE'/>"
          "<S57ATTRIBUTE code='2' acronym='BCNSHP' type='e'/>"
          "<S57ATTRIBUTE code='5' acronym='BURDEP' type='F'/>"
          "<S57ATTRIBUTE code='116' acronym='OBJNAM' type='EI'/>"
          "<S57ATTRIBUTE code='133' acronym='SCAMIN' type='I'/>"
          "<S57ATTRIBUTE code='999' acronym='NEWINT' type='I'/>"
          "<S57ATTRIBUTE code='998' acronym='NEWTXT'/>"
          "</ROOT>");
    ASSERT_EQ(loadDIMEInfoFrom(dir().c_str()), S_OK) << logText();

    ASSERT_EQ(agencyCount, 2);  // <agency> is not an AGENCY
    EXPECT_STREQ(agencies[0].label, "AA");
    EXPECT_STREQ(agencies[0].code, "1810");
    EXPECT_STREQ(agencies[1].label, "FR");

    ASSERT_EQ(s57ObjectCount, 3);
    EXPECT_EQ(s57Objects[0].code, 129);
    EXPECT_STREQ(s57Objects[0].description, "");  // absent: zero-filled
    EXPECT_EQ(s57Objects[1].code, 12);             // leading digits
    EXPECT_STREQ(s57Objects[1].acronym, "TOOLON");  // cut to the field
    EXPECT_EQ(std::strlen(s57Objects[1].description), 52u);
    EXPECT_EQ(s57Objects[2].code, 0);

    struct Want { int32_t code, type, width; const char* def; };
    const Want want[] = {
        {2, 2, 2, "-1"},          // "e" is E
        {5, 3, 4, "-1.0"},
        {116, 1, 70, "UNKNOWN"},  // "EI" is no type letter: text
        {133, 2, 4, "-1"},        // width from the built-in entry
        {999, 2, 4, "-1"},        // no built-in entry: by type
        {998, 1, 70, "UNKNOWN"},
    };
    ASSERT_EQ(s57AttributeCount, 6);
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(want[i].code);
        EXPECT_EQ(s57Attributes[i].index, want[i].code);
        EXPECT_EQ(s57Attributes[i].type, want[i].type);
        EXPECT_EQ(s57Attributes[i].width, want[i].width);
        EXPECT_STREQ(s57Attributes[i].defaultValue, want[i].def);
    }
    EXPECT_EQ(s57SetCount, 0);  // no S57SET: every class has no attributes
    EXPECT_EQ(s57Sets, nullptr);
}

TEST_F(CatalogueFixture, MapsCarryTheirEnclosingClassAndPrimitive) {
    write("s57.xml", kSmallCatalogue);
    write("product.xml",
          "<PRODUCT>"
          "<OBJECTMAP><S57OBJECT name='LNDARE' code='71' type='A'/>"
          "<GDBOBJECT Name='CoastlineAreaFeature' SubType='LNDARE'/>"
          "<ATTRIBUTEMAP><S57ATTRIBUTE name='OBJNAM' code='116' set='A' qc='1'/>"
          "<gdbattribute name='OBJNAM'/></ATTRIBUTEMAP>"
          "<ATTRIBUTEMAP><S57ATTRIBUTE name='INFORM' code='102' set='B'/>"
          "<GDBATTRIBUTE name='A_FIELD_NAME_FAR_LONGER_THAN_SIXTY_SIX_CHARACTERS_"
          "WHICH_IS_ALL_THE_FIELD_HOLDS'/></ATTRIBUTEMAP></OBJECTMAP>"
          "<OBJECTMAP><S57OBJECT name='LNDARE' code='71' type='L'/>"
          "<GDBOBJECT name='CoastlineLineFeature' subtype='LNDARE'/>"
          "<ATTRIBUTEMAP><S57ATTRIBUTE name='OBJNAM' code='116' set='A' qc='2'/></ATTRIBUTEMAP>"
          "</OBJECTMAP>"
          "<COLLECTION name='C_AGGR' code='400'><FIELD name='OBJNAM' code='116' set='A'/>"
          "</COLLECTION></PRODUCT>");
    ASSERT_EQ(loadDIMEInfoFrom(dir().c_str()), S_OK) << logText();

    ASSERT_EQ(objectMapCount, 2);  // the collection is no object map
    EXPECT_STREQ(objectMaps[0].gdbName, "CoastlineAreaFeature");
    EXPECT_STREQ(objectMaps[0].subtype, "LNDARE");
    EXPECT_STREQ(objectMaps[0].type, "A");
    EXPECT_STREQ(objectMaps[1].type, "L");
    EXPECT_EQ(objectMaps[1].code, 71);

    ASSERT_EQ(attributeMapCount, 3);
    const AttributeMapRec& a0 = attributeMaps[0];
    EXPECT_EQ(std::tie(a0.objectCode, a0.code, a0.qc), std::make_tuple(71, 116, 1));
    EXPECT_STREQ(a0.objectName, "LNDARE");
    EXPECT_STREQ(a0.objectType, "A");
    EXPECT_STREQ(a0.set, "A");
    EXPECT_STREQ(a0.gdbName, "OBJNAM");  // child tags ignore case
    EXPECT_EQ(std::strlen(attributeMaps[1].gdbName), 66u);
    EXPECT_STREQ(attributeMaps[2].objectType, "L");
    EXPECT_EQ(attributeMaps[2].qc, 2);
    EXPECT_STREQ(attributeMaps[2].gdbName, "");
}

// Numbers read as the standard library's decimal conversion reads them, clamped to 32 bits.
struct NumberCase {
    const char* name;
    const char* text;
    int32_t value;
};
const NumberCase kNumbers[] = {
    {"Plain", "129", 129},
    {"LeadingBlanks", " \t\n 42", 42},
    {"Plus", "+7", 7},
    {"Minus", "-3", -3},
    {"TrailingText", "12x", 12},
    {"NoDigits", "x1", 0},
    {"SignOnly", "-", 0},
    {"TwoSigns", "--5", 0},
    {"Empty", "", 0},
    {"LeadingZeros", "000123", 123},
    {"Largest", "2147483647", INT32_MAX},
    {"AboveLargest", "2147483648", INT32_MAX},
    {"Smallest", "-2147483648", INT32_MIN},
    {"BelowSmallest", "-2147483649", INT32_MIN},
    {"Huge", "99999999999999999999999999", INT32_MAX},
    {"HugeNegative", "-99999999999999999999999999", INT32_MIN},
};

class NumberReading : public CatalogueFixture, public ::testing::WithParamInterface<NumberCase> {};

TEST_P(NumberReading, CodesOfEveryTable) {
    const NumberCase& c = GetParam();
    const std::string v = c.text;
    write("product.xml", "<P><OBJECTMAP><S57OBJECT name='X' code='" + v + "' type='P'/><ATTRIBUTEMAP>"
                         "<S57ATTRIBUTE name='Y' code='" + v + "' qc='" + v + "'/></ATTRIBUTEMAP></OBJECTMAP></P>");
    write("s57.xml", "<C><S57OBJECT code='" + v + "' acronym='X'/><S57ATTRIBUTE code='" + v + "'/>"
                     "<S57SET object='" + v + "' attr='" + v + "'/></C>");
    ASSERT_EQ(loadDIMEInfoFrom(dir().c_str()), S_OK) << logText();
    EXPECT_EQ(objectMaps[0].code, c.value);
    EXPECT_EQ(attributeMaps[0].objectCode, c.value);
    EXPECT_EQ(attributeMaps[0].code, c.value);
    EXPECT_EQ(attributeMaps[0].qc, c.value);
    EXPECT_EQ(s57Objects[0].code, c.value);
    EXPECT_EQ(s57Attributes[0].index, c.value);
    EXPECT_EQ(s57Sets[0].objectCode, c.value);
    EXPECT_EQ(s57Sets[0].attributeCode, c.value);
}

INSTANTIATE_TEST_SUITE_P(Catalogue, NumberReading, ::testing::ValuesIn(kNumbers),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(CatalogueFixture, TextIsCutAtACharacterBoundary) {
    write("product.xml", kSmallProduct);
    // 123 ASCII characters, then a two-byte character that would straddle the 124-byte limit.
    write("s57.xml", "<R><AGENCY name='" + std::string(123, 'x') + "\xC3\xA9' code='1'/>"
                     "<S57OBJECT code='1' acronym='ADMARE'/></R>");
    ASSERT_EQ(loadDIMEInfoFrom(dir().c_str()), S_OK);
    ASSERT_EQ(agencyCount, 1);
    EXPECT_EQ(std::string(agencies[0].label), std::string(123, 'x'));
}

}  // namespace
