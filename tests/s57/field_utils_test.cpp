// tests/s57/field_utils_test.cpp: the field utilities of the export road: building and preparing
// fields for the record layer, the text helpers, and the product mapping read backwards.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "platform/gdb/gdb.h"
#include "s57/dbutil.h"
#include "s57/dimml.h"
#include "s57/field_utils.h"
#include "s57/s57_file.h"
#include "s57/s57_util2.h"

namespace {

// The run's log in memory, and the catalogue tables pointed at small fixtures.
class FieldUtils : public ::testing::Test {
protected:
    void SetUp() override {
        log_ = std::tmpfile();
        ASSERT_NE(log_, nullptr);
        savedLog_ = logFile;
        logFile = log_;
        saved_ = {objectMaps, objectMapCount, s57Objects, s57ObjectCount, s57Attributes, s57AttributeCount};
        objectMaps = maps_;
        objectMapCount = 3;
        s57Objects = objects_;
        s57ObjectCount = 2;
        s57Attributes = attributes_;
        s57AttributeCount = 2;
    }
    void TearDown() override {
        objectMaps = saved_.maps;
        objectMapCount = saved_.mapCount;
        s57Objects = saved_.objects;
        s57ObjectCount = saved_.objectCount;
        s57Attributes = saved_.attributes;
        s57AttributeCount = saved_.attributeCount;
        logFile = savedLog_;
        std::fclose(log_);
    }
    std::string logText() {
        std::fflush(log_);
        std::rewind(log_);
        std::string out;
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, log_)) > 0) out.append(buf, n);
        return out;
    }

    ObjectMapRec maps_[3] = {
        {42, "DEPARE", "A", "DepthsAreaFeature", "DEPARE"},
        {46, "DRGARE", "A", "DepthsAreaFeature", "DRGARE"},
        {42, "DEPARE", "L", "DepthsLineFeature", "DEPARE"},
    };
    S57ObjectRec objects_[2] = {{42, "DEPARE", "Depth area"}, {46, "DRGARE", "Dredged area"}};
    FieldDef attributes_[2] = {{87, "DRVAL1", "", 3, 10}, {116, "OBJNAM", "", 1, 70}};

private:
    struct {
        ObjectMapRec* maps;
        int32_t mapCount;
        S57ObjectRec* objects;
        int32_t objectCount;
        FieldDef* attributes;
        int32_t attributeCount;
    } saved_{};
    FILE* log_ = nullptr;
    FILE* savedLog_ = nullptr;
};

// A record of one field with n zero-filled subfields, as the exporters build them.
struct BuiltRecord {
    Iso8211Record record{};
    explicit BuiltRecord(const char* tag, int n) {
        EXPECT_EQ(allocateFieldArray(&record, 1), 0);
        initializeField(&record.fields[0]);
        std::snprintf(record.fields[0].tag, sizeof record.fields[0].tag, "%s", tag);
        record.fields[0].subFields =
            static_cast<Iso8211SubField*>(std::calloc(std::size_t(n), sizeof(Iso8211SubField)));
        record.fields[0].subfieldCount = n;
    }
    ~BuiltRecord() { (void)Free8211Record(&record); }
    Iso8211Field& field() { return record.fields[0]; }
};

struct NameCase {
    const char* name;
    const char* input;
    const char* expected;
};
const NameCase kNames[] = {
    {"OwnerAndDatabase", "chartdb.sde.DepthsAreaFeature", "DepthsAreaFeature"},
    {"Plain", "DepthsAreaFeature", "DepthsAreaFeature"},
    {"TrailingDot", "owner.", ""},
};
class FcName : public ::testing::TestWithParam<NameCase> {};
TEST_P(FcName, KeepsThePartAfterTheLastDot) { EXPECT_EQ(getFCName(GetParam().input), GetParam().expected); }
INSTANTIATE_TEST_SUITE_P(Names, FcName, ::testing::ValuesIn(kNames),
                         [](const auto& i) { return std::string(i.param.name); });

struct TrimCase {
    const char* name;
    const char* input;
    const char* kept;
    int last;
};
const TrimCase kTrims[] = {
    {"ThreeBlanks", "   ", "", -1},
    {"Empty", "", "", -1},
    {"MixedTail", "12.5 \t\n\n", "12.5", 3},
    {"InnerBlanksStay", "a b", "a b", 2},
    {"CarriageReturnStays", "a\r", "a\r", 1},
};
class TrimRight : public ::testing::TestWithParam<TrimCase> {};
TEST_P(TrimRight, CutsBlanksTabsAndLineFeeds) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s", GetParam().input);
    EXPECT_EQ(trimRight(buf), GetParam().last);
    EXPECT_STREQ(buf, GetParam().kept);
}
INSTANTIATE_TEST_SUITE_P(Texts, TrimRight, ::testing::ValuesIn(kTrims),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(FieldUtils, FindS57ObjectGoesBackThroughTheMapping) {
    // Class and subtype names equal: the first mapping of the class, whatever its subtype.
    EXPECT_EQ(findS57Object("DepthsAreaFeature", "DepthsAreaFeature"), "DEPARE");
    EXPECT_EQ(findS57Object("owner.db.depthsareafeature", "DRGARE"), "DRGARE");
    EXPECT_EQ(findS57Object("DepthsLineFeature", "DRGARE"), "");
    EXPECT_EQ(findS57Object("NoSuchFeature", "NoSuchFeature"), "");
}

TEST_F(FieldUtils, CodesByAcronymIgnoreCase) {
    EXPECT_EQ(findS57ObjectCode("drgare"), 46);
    EXPECT_EQ(findS57ObjectCode("SOUNDG"), -1);
    EXPECT_EQ(findAttributeCode("objnam"), 116);
    EXPECT_EQ(findAttributeCode("VALSOU"), 0);
    EXPECT_STREQ(fieldTypeName(1), "esriFieldTypeInteger");
    EXPECT_STREQ(fieldTypeName(3), "esriFieldTypeDouble");
    EXPECT_STREQ(fieldTypeName(4), "esriFieldTypeString");
    EXPECT_STREQ(fieldTypeName(0), "esriFieldTypeOTHER");
}

TEST_F(FieldUtils, UpdateSubfieldReplacesAndRefusesAnIndexOutsideTheField) {
    BuiltRecord r("FOID", 2);
    ASSERT_EQ(updateSubfield(&r.field(), "AGEN", "US", 0), 0);
    ASSERT_EQ(updateSubfield(&r.field(), "AGEN", "CA", 0), 0);  // the first copy is freed (ASan)
    EXPECT_STREQ(r.field().subFields[0].label, "AGEN");
    EXPECT_STREQ(r.field().subFields[0].value, "CA");
    EXPECT_EQ(r.field().subFields[0].length, 2);
    EXPECT_EQ(updateSubfield(&r.field(), "FIDN", "1", 2), -19);
    EXPECT_EQ(updateSubfield(&r.field(), "FIDN", "1", -1), -19);

    Iso8211Field copy;
    initializeField(&copy);
    EXPECT_EQ(copy.subfieldCount, 0);
    shallowCopyField(&copy, &r.field());
    EXPECT_STREQ(copy.tag, "FOID");
    EXPECT_EQ(copy.subFields, r.field().subFields);
}

TEST_F(FieldUtils, PrepareToWriteInAsciiModeOnlySetsLengths) {
    BuiltRecord r("VRID", 2);
    ASSERT_EQ(updateSubfield(&r.field(), "RCNM", "VI", 0), 0);
    ASSERT_EQ(updateSubfield(&r.field(), "RCID", "00012", 1), 0);
    r.field().subFields[1].length = 99;
    const char* before = r.field().subFields[1].value;
    ASSERT_EQ(PrepareToWrite(&r.record, 0), 0);
    EXPECT_EQ(r.field().subFields[1].value, before);
    EXPECT_STREQ(r.field().subFields[1].value, "00012");
    EXPECT_EQ(r.field().subFields[1].length, 5);
}

TEST_F(FieldUtils, PrepareToWriteInBinaryModeConvertsEveryValue) {
    BuiltRecord r("VRID", 2);
    ASSERT_EQ(updateSubfield(&r.field(), "RCNM", "VI", 0), 0);
    ASSERT_EQ(updateSubfield(&r.field(), "RCID", "258", 1), 0);
    ASSERT_EQ(PrepareToWrite(&r.record, 1), 0);
    ASSERT_EQ(r.field().subFields[0].length, 1);
    EXPECT_EQ(static_cast<unsigned char>(r.field().subFields[0].value[0]), 110);
    ASSERT_EQ(r.field().subFields[1].length, 4);
    EXPECT_EQ(std::memcmp(r.field().subFields[1].value, "\x02\x01\x00\x00", 4), 0);
    EXPECT_EQ(logText(), "");
}

// A fixed-width text of full width (DSID UADT A(8)) must fit its width in the file: the length
// handed to the writer leaves the terminator out.
TEST_F(FieldUtils, PrepareToWriteInBinaryModeCountsATextWithoutItsTerminator) {
    BuiltRecord r("DSID", 2);
    ASSERT_EQ(updateSubfield(&r.field(), "UADT", "20221013", 0), 0);
    ASSERT_EQ(updateSubfield(&r.field(), "COMT", "", 1), 0);
    ASSERT_EQ(PrepareToWrite(&r.record, 1), 0);
    EXPECT_EQ(r.field().subFields[0].length, 8);
    EXPECT_STREQ(r.field().subFields[0].value, "20221013");
    EXPECT_EQ(r.field().subFields[1].length, 0);
}

TEST_F(FieldUtils, PrepareToWriteReportsTheValueTheCodecRefuses) {
    BuiltRecord r("VRID", 2);
    ASSERT_EQ(updateSubfield(&r.field(), "RCNM", "VI", 0), 0);
    ASSERT_EQ(updateSubfield(&r.field(), "RCNM", "QQ", 1), 0);
    EXPECT_EQ(PrepareToWrite(&r.record, 1), -10);
    EXPECT_EQ(logText(), "PrepareToWrite: unable to translate field VRID subfield RCNM value QQ length 2\n");
    EXPECT_EQ(PrepareToWrite(nullptr, 1), -19);
    EXPECT_NE(logText().find("PrepareToWrite: illegal parameter\n"), std::string::npos);
}

// A built record's values take their binary form in their own bytes: a form shorter than the
// text, as long as it (a text with its NUL), or longer (a one-digit b14, an empty binary) must give
// what PrepareToWrite gives.
TEST_F(FieldUtils, PrepareBuiltRecordGivesPrepareToWritesValues) {
    const std::pair<const char*, const char*> subfields[] = {
        {"RCNM", "VI"}, {"RCID", "7"}, {"RCID", "4294967295"}, {"RVER", ""}, {"COMT", "text"},
        {"COMT", ""},   {"YCOO", "-1"}, {"XCOO", "123456789"}, {"NAME", "VC0000000042"}, {"ORNT", "R"},
    };
    const int n = int(std::size(subfields));
    BuiltRecord a("FSPT", n), b("FSPT", n);
    for (int i = 0; i < n; ++i) {
        ASSERT_EQ(updateSubfield(&a.field(), subfields[i].first, subfields[i].second, i), 0);
        ASSERT_EQ(updateSubfield(&b.field(), subfields[i].first, subfields[i].second, i), 0);
    }
    ASSERT_EQ(PrepareToWrite(&a.record, 1), 0);
    ASSERT_EQ(prepareBuiltRecord(&b.record), 0);
    for (int i = 0; i < n; ++i) {
        const Iso8211SubField &x = a.field().subFields[i], &y = b.field().subFields[i];
        ASSERT_EQ(x.length, y.length) << subfields[i].first << " " << subfields[i].second;
        EXPECT_EQ(std::string(x.value, std::size_t(x.length)), std::string(y.value, std::size_t(y.length)))
            << subfields[i].first << " " << subfields[i].second;
    }
}

TEST_F(FieldUtils, ExportAttributeReadsTheRowsColumnsAndLogsAMissingOne) {
    const auto dir = std::filesystem::temp_directory_path() / ("field_utils_" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    {
        IWorkspaceFactoryPtr factory(CLSID_AccessWorkspaceFactory);
        IFeatureWorkspacePtr ws(factory->Create(dir.string().c_str(), "t.gpkg"));
        ITablePtr table;
        const FieldDef defs[2] = {{1, "DRVAL1", "", 3, 10}, {2, "OBJNAM", "", 1, 70}};
        ASSERT_EQ(createGDBTable(ws, "attrs", &table, 2, defs), S_OK);
        IRowPtr row = table->CreateRow();
        row->PutValue(table->FindField("DRVAL1"), _variant_t(12.5));
        ASSERT_EQ(row->Store(), S_OK);

        Iso8211Field field;
        initializeField(&field);
        std::snprintf(field.tag, sizeof field.tag, "ATTF");
        const char* acronyms[3] = {"DRVAL1", "OBJNAM", "VALSOU"};
        ASSERT_EQ(exportAttribute(&field, row, 3, acronyms), 0);
        ASSERT_EQ(field.subfieldCount, 6);
        EXPECT_STREQ(field.subFields[0].value, "87");
        EXPECT_STREQ(field.subFields[1].value, "12.5");
        EXPECT_STREQ(field.subFields[3].value, "");  // NULL
        EXPECT_STREQ(field.subFields[4].value, "0");  // not in the catalogue
        EXPECT_STREQ(field.subFields[5].value, "");
        EXPECT_STREQ(field.subFields[5].label, "ATVL");
        EXPECT_EQ(logText(), "column VALSOU not found, setting column value to empty\n");
        for (int k = 0; k < field.subfieldCount; ++k) std::free(field.subFields[k].value);
        std::free(field.subFields);
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
