// tests/s57/dbutil_test.cpp: the geodatabase utilities: opening by path, open-or-create from the
// column definitions, setting values by column name, the dssi update by cell name, feature inserts,
// and the schema tables themselves.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/gdb/gdb.h"
#include "platform/geometry/geometry.h"
#include "s57/dbutil.h"
#include "s57/s57_util2.h"

namespace fs = std::filesystem;

namespace {

class DbUtil : public ::testing::Test {
protected:
    void SetUp() override {
        static int serial = 0;
        dir_ = fs::temp_directory_path() / ("dbutil_" + std::to_string(getpid()) + "_" + std::to_string(++serial));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        log_ = std::tmpfile();
        ASSERT_NE(log_, nullptr);
        savedLog_ = logFile;
        logFile = log_;
        IWorkspaceFactoryPtr factory(CLSID_AccessWorkspaceFactory);
        ws_ = factory->Create(dir_.string().c_str(), "base.mdb");
        fws_ = ws_;
        ASSERT_TRUE(fws_);
    }
    void TearDown() override {
        fws_ = nullptr;
        ws_ = nullptr;
        logFile = savedLog_;
        std::fclose(log_);
        fs::remove_all(dir_);
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
    void clearLog() {
        std::fflush(log_);
        if (ftruncate(fileno(log_), 0) != 0) FAIL();
        std::rewind(log_);
    }
    // A geodatabase file at dir_/rel, parent folders made as needed.
    std::string makeGdb(const std::string& rel) {
        const fs::path p = dir_ / rel;
        fs::create_directories(p.parent_path());
        IWorkspaceFactoryPtr factory(CLSID_AccessWorkspaceFactory);
        IWorkspacePtr ws = factory->Create(p.parent_path().string().c_str(), p.filename().string().c_str());
        return p.string();
    }
    static std::vector<std::string> columnsOf(ITable* table) {
        std::vector<std::string> out;
        IFieldsPtr f = table->GetFields();
        for (LONG i = 0; i < f->GetFieldCount(); ++i)
            out.emplace_back(static_cast<const char*>(f->GetField(i)->GetName()));
        return out;
    }

    fs::path dir_;
    IWorkspacePtr ws_;
    IFeatureWorkspacePtr fws_;

private:
    FILE* log_ = nullptr;
    FILE* savedLog_ = nullptr;
};

// ---- The schema tables ------------------------------------------------------------------------------

struct Schema {
    const char* name;
    const FieldDef* defs;
    int count;
};
const Schema kSchemas[] = {
    {"dsnm", dsnmFieldDefs, fieldDefCount(dsnmFieldDefs)},
    {"dsid", dsidFieldDefs, fieldDefCount(dsidFieldDefs)},
    {"dssi", dssiFieldDefs, fieldDefCount(dssiFieldDefs)},
    {"dspm", dspmFieldDefs, fieldDefCount(dspmFieldDefs)},
    {"dspr", dsprFieldDefs, fieldDefCount(dsprFieldDefs)},
    {"dsrc", dsrcFieldDefs, fieldDefCount(dsrcFieldDefs)},
    {"dsht", dshtFieldDefs, fieldDefCount(dshtFieldDefs)},
    {"dsac", dsacFieldDefs, fieldDefCount(dsacFieldDefs)},
    {"catd", catdFieldDefs, fieldDefCount(catdFieldDefs)},
    {"catx", catxFieldDefs, fieldDefCount(catxFieldDefs)},
    {"primitive", primitiveFieldDefs, fieldDefCount(primitiveFieldDefs)},
    {"vrid", vridFieldDefs, fieldDefCount(vridFieldDefs)},
    {"frid", fridFieldDefs, fieldDefCount(fridFieldDefs)},
    {"foid", foidFieldDefs, fieldDefCount(foidFieldDefs)},
    {"objcat", objcatFieldDefs, fieldDefCount(objcatFieldDefs)},
    {"stat", statFieldDefs, fieldDefCount(statFieldDefs)},
    {"srel", srelFieldDefs, fieldDefCount(srelFieldDefs)},
    {"frel", frelFieldDefs, fieldDefCount(frelFieldDefs)},
    {"attr", attrFieldDefs, fieldDefCount(attrFieldDefs)},
    {"atto", attoFieldDefs, fieldDefCount(attoFieldDefs)},
};
class SchemaTable : public ::testing::TestWithParam<Schema> {};
// Every table can be created as it is defined, and every default fits its own column: a default
// that does not fit would be refused the moment it is written.
TEST_P(SchemaTable, CreatesAndTakesItsDefaults) {
    const Schema& s = GetParam();
    const fs::path dir = fs::temp_directory_path() / ("dbutil_schema_" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path file = dir / (std::string(s.name) + ".gpkg");
    fs::remove(file);
    {
        IWorkspaceFactoryPtr factory(CLSID_AccessWorkspaceFactory);
        IFeatureWorkspacePtr ws(factory->Create(dir.string().c_str(), file.filename().string().c_str()));
        ITablePtr table;
        ASSERT_EQ(createGDBTable(ws, s.name, &table, s.count, s.defs), S_OK);
        ASSERT_EQ(table->GetFields()->GetFieldCount(), s.count + 1);  // and the object id
        IRowBufferPtr buffer = table->CreateRowBuffer();
        for (int i = 0; i < s.count; ++i) {
            EXPECT_LE(int(std::strlen(s.defs[i].defaultValue)), s.defs[i].width) << s.defs[i].name;
            if (s.defs[i].defaultValue[0]) {
                EXPECT_NO_THROW(buffer->PutValue(table->FindField(s.defs[i].name), _variant_t(s.defs[i].defaultValue)))
                    << s.defs[i].name;
            }
        }
    }
    fs::remove_all(dir);
}
INSTANTIATE_TEST_SUITE_P(Model, SchemaTable, ::testing::ValuesIn(kSchemas),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(SchemaTables, OverflowTableHoldsOwnerLabelAndValue) {
    ASSERT_EQ(fieldDefCount(attoFieldDefs), 3);
    EXPECT_STREQ(attoFieldDefs[0].name, "LNAM");
    EXPECT_STREQ(attoFieldDefs[1].name, "ATTL");
    EXPECT_EQ(attoFieldDefs[1].width, 6);
    EXPECT_STREQ(attoFieldDefs[2].name, "ATVL");
    EXPECT_GT(attoFieldDefs[2].width, 70);
    EXPECT_EQ(srelFieldDefs[0].index, 0);
    EXPECT_EQ(attrFieldDefs[4].index, 132);
}

// ---- openWorkspace -----------------------------------------------------------------------------------

struct PathCase {
    const char* name;
    const char* made;    // geodatabase file made first (relative), or ""
    const char* opened;  // path handed to openWorkspace (relative)
    HRESULT expected;
};
const PathCase kPaths[] = {
    {"LowerMdb", "a/chart.mdb", "a/chart.mdb", S_OK},
    {"UpperMdb", "a/CHART.MDB", "a/CHART.MDB", S_OK},
    {"Gpkg", "a/chart.gpkg", "a/chart.gpkg", S_OK},
    {"MdbInSdeFolder", "conn.sde/chart.mdb", "conn.sde/chart.mdb", S_OK},
    {"GpkgInSdeFolder", "conn.sde/chart.gpkg", "conn.sde/chart.gpkg", S_OK},
    {"MissingMdb", "", "a/none.mdb", GDB_E_NOT_FOUND},
    {"FileGdb", "", "a/chart.gdb", GDB_E_BAD_PATH},
    {"UnknownKind", "", "a/chart.txt", GDB_E_BAD_PATH},
    {"EnterpriseConnectionWithoutDatabase", "", "a/server.sde", GDB_E_BAD_PATH},
};
class OpenWorkspace : public DbUtil, public ::testing::WithParamInterface<PathCase> {};
TEST_P(OpenWorkspace, ByTheKindOfPath) {
    const PathCase& c = GetParam();
    if (c.made[0]) makeGdb(c.made);
    if (std::strstr(c.opened, "server.sde")) {
        fs::create_directories(dir_ / "a");
        std::ofstream(dir_ / c.opened) << "SERVER=x\n";
    }
    // A failure leaves the out pointer as it was: no caller goes on with a workspace it did not get.
    IWorkspace* sentinel = ws_.GetInterfacePtr();
    IWorkspace* raw = sentinel;
    const HRESULT hr = openWorkspace((dir_ / c.opened).string().c_str(), &raw);
    EXPECT_EQ(hr, c.expected);
    if (SUCCEEDED(c.expected)) {
        ASSERT_NE(raw, nullptr);
        IWorkspacePtr opened(raw, false);
        EXPECT_FALSE(opened == ws_);
    } else {
        EXPECT_EQ(raw, sentinel);
    }
}
INSTANTIATE_TEST_SUITE_P(Paths, OpenWorkspace, ::testing::ValuesIn(kPaths),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(DbUtil, UnknownPathIsLoggedAndNullOutIsRefused) {
    IWorkspacePtr ws;
    EXPECT_EQ(openWorkspace("/data/chart.gdb", &ws), GDB_E_BAD_PATH);
    EXPECT_FALSE(ws);
    EXPECT_EQ(logText(), "openWorkspace: /data/chart.gdb is not a geodatabase path (.mdb, .gpkg or .sde)\n");
    EXPECT_EQ(openWorkspace("/data/chart.mdb", nullptr), E_POINTER);
}

// ---- Tables and feature classes --------------------------------------------------------------------

TEST_F(DbUtil, CreateGDBTableUsesTheFirstNDefinitions) {
    ITablePtr frel;
    ASSERT_EQ(createGDBTable(fws_, "frel", &frel, 6, frelFieldDefs), S_OK);
    EXPECT_EQ(columnsOf(frel), (std::vector<std::string>{"OBJECTID", "SRC_LNAM", "DEST_LNAM", "DEST_CLAS",
                                                         "DEST_TYPE", "RIND", "COMT"}));
    EXPECT_EQ(frel->GetFields()->GetField(frel->FindField("COMT"))->GetLength(), 70);
    EXPECT_EQ(createGDBTable(fws_, "frel", nullptr, 6, frelFieldDefs), E_POINTER);
    EXPECT_EQ(logText(), "");
}

TEST_F(DbUtil, ReusedTableKeepsItsColumnsAndNamesTheMissingOnes) {
    ITablePtr first;
    ASSERT_EQ(createGDBTable(fws_, "stat", &first, 5, statFieldDefs), S_OK);
    ITablePtr again;
    ASSERT_EQ(createGDBTable(fws_, "STAT", &again, 6, statFieldDefs), S_OK);
    EXPECT_EQ(columnsOf(again).size(), 6u);  // no DSNM added
    EXPECT_EQ(again->FindField("DSNM"), -1);
    EXPECT_EQ(logText(), "createGDBTable: table STAT has no column DSNM\n");
}

TEST_F(DbUtil, CreateFeatureClassWithZAndAttributeColumns) {
    const FieldDef attributes[3] = {{400, "HORDAT", "-1", 2, 2}, {401, "POSACC", "-1.0", 3, 10},
                                    {402, "QUAPOS", "-1", 2, 2}};
    const int32_t indexes[3] = {2, 0, 2};  // a repeated column is added once
    IFeatureClassPtr fc;
    ASSERT_EQ(createFeatureClass(fws_, "vi3dsp", esriGeometryPoint, 4, primitiveFieldDefs, 3, indexes, attributes, 1,
                                 &fc, ISpatialReferencePtr(CLSID_SpatialReferenceWGS84)),
              S_OK);
    EXPECT_EQ(columnsOf(ITablePtr(fc)), (std::vector<std::string>{"OBJECTID", "SHAPE", "NAME", "RVER", "RUIN", "DSNM",
                                                                  "QUAPOS", "HORDAT", "DEPTH"}));
    EXPECT_EQ(fc->GetShapeType(), esriGeometryPoint);
    IFieldPtr shape = fc->GetFields()->GetField(fc->FindField(fc->GetShapeFieldName()));
    EXPECT_EQ(shape->GetGeometryDef()->GetHasZ(), VARIANT_TRUE);
    EXPECT_EQ(fc->GetFields()->GetField(fc->FindField("DEPTH"))->GetType(), esriFieldTypeDouble);

    IFeatureClassPtr reused;
    ASSERT_EQ(createFeatureClass(fws_, "VI3DSP", esriGeometryPoint, 4, primitiveFieldDefs, 0, nullptr, nullptr, 1,
                                 &reused, nullptr),
              S_OK);
    EXPECT_TRUE(reused == fc);
    EXPECT_EQ(logText(), "");
    EXPECT_EQ(
        createFeatureClass(fws_, "ve", esriGeometryPolyline, 0, nullptr, 0, nullptr, nullptr, 0, nullptr, nullptr),
        E_POINTER);
}

// ---- Values --------------------------------------------------------------------------------------

TEST_F(DbUtil, SetRecordValueStoresConvertsAndReportsWhatItCannotStore) {
    ITablePtr table;
    ASSERT_EQ(createGDBTable(fws_, "dssi", &table, 12, dssiFieldDefs), S_OK);
    IRowBufferPtr buffer = table->CreateRowBuffer();
    EXPECT_EQ(SetRecordValue(buffer.GetInterfacePtr(), "nocn", _variant_t("17")), 0);
    EXPECT_EQ(static_cast<long>(buffer->GetValue(table->FindField("NOCN"))), 17);
    EXPECT_EQ(logText(), "");

    // A column the row lacks stores nothing, but it is no longer lost without a word.
    EXPECT_EQ(SetRecordValue(buffer.GetInterfacePtr(), "VALSOU", _variant_t("3.5")), 0);
    EXPECT_EQ(logText(), "SetRecordValue: column VALSOU not found\n");
    clearLog();

    // A value longer than its column is refused and logged, the row unchanged.
    EXPECT_EQ(SetRecordValue(buffer.GetInterfacePtr(), "DSTR", _variant_t("CNX")), E_FAIL);
    EXPECT_TRUE(buffer->GetValue(table->FindField("DSTR")).isNullOrEmpty());
    EXPECT_EQ(logText().rfind("Error: dbUtil::SetRecordValue\n", 0), 0u) << logText();
}

// A value longer than its column: the log names the feature by its LNAM, the attribute, and where
// the value went (whole into atto when it is longer than 70 characters, as the feature import does).
TEST_F(DbUtil, AValueTooLongForItsColumnIsLoggedWithItsFeature) {
    const FieldDef defs[3] = {{1, "LNAM", "UNKNOWN", 1, 17}, {2, "INFORM", "UNKNOWN", 1, 70}, {3, "PEREND", "", 1, 8}};
    ITablePtr table;
    ASSERT_EQ(createGDBTable(fws_, "features", &table, 3, defs), S_OK);
    IRowBufferPtr buffer = table->CreateRowBuffer();
    ASSERT_EQ(SetRecordValue(buffer.GetInterfacePtr(), "LNAM", _variant_t("US0000012345ABCD")), 0);
    EXPECT_EQ(SetRecordValue(buffer.GetInterfacePtr(), "INFORM", _variant_t(std::string(84, 'x').c_str())), E_FAIL);
    EXPECT_TRUE(buffer->GetValue(table->FindField("INFORM")).isNullOrEmpty());
    EXPECT_EQ(logText(), "Error: dbUtil::SetRecordValue\n"
                         "feature US0000012345ABCD, attribute INFORM: the value (84 characters) is longer than its "
                         "column (70): stored whole in table atto, the column left empty\n");
    clearLog();
    EXPECT_EQ(SetRecordValue(buffer.GetInterfacePtr(), "PEREND", _variant_t("202612311")), E_FAIL);
    EXPECT_EQ(logText(), "Error: dbUtil::SetRecordValue\n"
                         "feature US0000012345ABCD, attribute PEREND: the value (9 characters) is longer than its "
                         "column (8): not stored\n");
}

// Column indexes are remembered per field list: a schema change, another text at the same address
// and another spelling of a name must still reach the right column.
TEST_F(DbUtil, SetRecordValueFollowsSchemaChangesAndTheTextItIsGiven) {
    ITablePtr table;
    ASSERT_EQ(createGDBTable(fws_, "dssi", &table, 12, dssiFieldDefs), S_OK);
    char column[8] = "NOCN";
    IRowBufferPtr first = table->CreateRowBuffer();
    EXPECT_EQ(SetRecordValue(first.GetInterfacePtr(), column, _variant_t("1")), 0);
    std::snprintf(column, sizeof column, "%s", "nogr");
    EXPECT_EQ(SetRecordValue(first.GetInterfacePtr(), column, _variant_t("2")), 0);
    EXPECT_EQ(static_cast<long>(first->GetValue(table->FindField("NOCN"))), 1);
    EXPECT_EQ(static_cast<long>(first->GetValue(table->FindField("NOGR"))), 2);

    // Unknown before the change; found after it, through the class's new field list.
    EXPECT_EQ(SetRecordValue(first.GetInterfacePtr(), "EXTRA", _variant_t("3")), 0);
    EXPECT_EQ(logText(), "SetRecordValue: column EXTRA not found\n");
    clearLog();
    table->AddField(makeField(FieldDef{13, "EXTRA", "", 2, 4}));
    IRowBufferPtr second = table->CreateRowBuffer();
    EXPECT_EQ(SetRecordValue(second.GetInterfacePtr(), "Extra", _variant_t("3")), 0);
    EXPECT_EQ(SetRecordValue(second.GetInterfacePtr(), "NoGr", _variant_t("4")), 0);
    EXPECT_EQ(static_cast<long>(second->GetValue(table->FindField("EXTRA"))), 3);
    EXPECT_EQ(static_cast<long>(second->GetValue(table->FindField("NOGR"))), 4);
    EXPECT_EQ(logText(), "");
}

TEST_F(DbUtil, PopulateDssiUpdatesOnlyTheCellEvenWithAQuoteInItsName) {
    ITablePtr table;
    ASSERT_EQ(createGDBTable(fws_, "dssi", &table, 12, dssiFieldDefs), S_OK);
    for (const char* cell : {"O'BRIEN.000", "OTHER.000", "O"}) {
        IRowPtr row = table->CreateRow();
        row->PutValue(table->FindField("DSNM"), _variant_t(cell));
        ASSERT_EQ(row->Store(), S_OK);
    }
    ASSERT_EQ(populateDSSI(fws_, "NOGR", 42, "O'BRIEN.000"), S_OK);
    ASSERT_EQ(populateDSSI(fws_, "NOMR", 7, "x' OR '1'='1"), S_OK);  // matches nothing
    ICursorPtr cursor = table->Search(nullptr, VARIANT_FALSE);
    int updated = 0;
    for (IRowPtr row = cursor->NextRow(); row; row = cursor->NextRow()) {
        const _bstr_t dsnm = row->GetValue(table->FindField("DSNM"));
        const std::string cell = static_cast<const char*>(dsnm);
        const _variant_t nogr = row->GetValue(table->FindField("NOGR"));
        EXPECT_TRUE(row->GetValue(table->FindField("NOMR")).isNullOrEmpty()) << cell;
        if (cell == "O'BRIEN.000") {
            EXPECT_EQ(static_cast<long>(nogr), 42);
            ++updated;
        } else {
            EXPECT_TRUE(nogr.isNullOrEmpty()) << cell;
        }
    }
    EXPECT_EQ(updated, 1);
    EXPECT_EQ(populateDSSI(fws_, "NOXX", 1, "OTHER.000"), E_FAIL);
    EXPECT_EQ(logText(), "populateDSSI: table DSSI has no column NOXX\n");
    EXPECT_EQ(sqlText("O'BRIEN"), "'O''BRIEN'");
}

TEST_F(DbUtil, PopulateFeatureRecordInsertsNameValuesAndDepth) {
    IFeatureClassPtr fc;
    const FieldDef attributes[1] = {{402, "QUAPOS", "-1", 2, 2}};
    const int32_t index[1] = {0};
    ASSERT_EQ(createFeatureClass(fws_, "vi3dsp", esriGeometryPoint, 4, primitiveFieldDefs, 1, index, attributes, 1, &fc,
                                 nullptr),
              S_OK);
    IPointPtr p(CLSID_Point);
    p->PutCoords(-70.5, 42.25);
    p->PutZ(-12.5);
    const char* values[4] = {"", "1", "I", "US5MA12M.000"};  // an empty NAME leaves the record number
    const char* attrValues[1] = {"4"};
    ASSERT_EQ(populateFeatureRecord(fc, p, 7, 4, primitiveFieldDefs, values, 1, attributes, attrValues, 1, -12.5),
              S_OK);
    ASSERT_EQ(populatePointFeatureClass(fc, p, 8, 4, primitiveFieldDefs, values, -3.0), S_OK);
    EXPECT_EQ(fc->FeatureCount(nullptr), 2);
    IFeaturePtr f = fc->GetFeature(1);
    EXPECT_STREQ(static_cast<const char*>(static_cast<_bstr_t>(f->GetValue(fc->FindField("NAME")))), "7         ");
    EXPECT_EQ(static_cast<long>(f->GetValue(fc->FindField("QUAPOS"))), 4);
    EXPECT_EQ(static_cast<double>(f->GetValue(fc->FindField("DEPTH"))), -12.5);
    EXPECT_EQ(static_cast<double>(fc->GetFeature(2)->GetValue(fc->FindField("DEPTH"))), -3.0);
    EXPECT_EQ(IPointPtr(f->GetShape())->GetZ(), -12.5);
    EXPECT_EQ(logText(), "");
}

struct TextCase {
    const char* name;
    const char* text;
};
const TextCase kTexts[] = {{"Ascii", "US5MA12M.000"}, {"Empty", ""},          {"Null", nullptr},
                           {"Accents", "\xc3\x86r\xc3\xb8 \xc3\xa9t\xc3\xa9"},
                           {"BrokenUtf8", "a\xc3(b\xff"}, {"Astral", "\xf0\x9f\x8c\x8a wave"}};
class TextVariant : public ::testing::TestWithParam<TextCase> {};
TEST_P(TextVariant, EqualsTheVariantOfTheSameText) {
    const _variant_t fast = textVariant(GetParam().text);
    const _variant_t plain(GetParam().text);
    ASSERT_EQ(fast.vt, VT_BSTR);
    ASSERT_EQ(plain.vt, VT_BSTR);
    ASSERT_EQ(SysStringLen(fast.bstrVal), SysStringLen(plain.bstrVal));
    EXPECT_EQ(std::wmemcmp(fast.bstrVal, plain.bstrVal, SysStringLen(plain.bstrVal)), 0);
    EXPECT_EQ(fast.bstrVal[SysStringLen(fast.bstrVal)], L'\0');
}
INSTANTIATE_TEST_SUITE_P(Texts, TextVariant, ::testing::ValuesIn(kTexts),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(CompareNoCase, IgnoresCase) {
    EXPECT_EQ(compareNoCase("M_COVR", "m_covr"), 0);
    EXPECT_LT(compareNoCase("a", "B"), 0);
}

}  // namespace
