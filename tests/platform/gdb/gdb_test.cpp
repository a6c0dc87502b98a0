// tests/platform/gdb/gdb_test.cpp: the personal geodatabase through its interfaces: paths,
// names, values that do not fit, SQL quoting, edit sessions, cursors, subtypes, sorting, spatial
// filters against GEOS, and GDAL reading back what we wrote.
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <set>
#include <thread>

#include "gdb_fixture.h"

using namespace gdbtest;

namespace {

std::string text(const _variant_t& v) { return v.vt == VT_BSTR ? std::string(_bstr_t(v)) : "<not text>"; }

// Rows a raw connection sees (what another program would find in the file).
long countRows(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    long n = -1;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
        n = long(sqlite3_column_int64(st, 0));
    sqlite3_finalize(st);
    sqlite3_close(db);
    return n;
}

// The same through a connection of its own to the geodatabase of either backend.
long storedRows(bool enterprise, const std::string& path, const pgtest::TempDatabase* db, const std::string& sql) {
    if (!enterprise) return countRows(path, sql);
    pgtest::Conn c = pgtest::connect(db->name);
    return std::stol(pgtest::query(c.get(), sql));
}

std::string runCommand(const std::string& cmd) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> p(popen(cmd.c_str(), "r"), pclose);
    if (!p) return out;
    char buf[4096];
    while (std::size_t n = fread(buf, 1, sizeof buf, p.get())) out.append(buf, n);
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Workspace paths
// ---------------------------------------------------------------------------------------------
struct PathCase {
    const char* name;
    const char* file;      // relative to the temporary directory
    bool make;             // write a GeoPackage there first
    const char* content;   // or these bytes
    HRESULT expected;
};
const PathCase kPaths[] = {
    {"Gpkg", "a.gpkg", true, nullptr, S_OK},
    {"MdbUpperCase", "B.MDB", true, nullptr, S_OK},
    {"BackslashSeparator", "sub\\c.mdb", true, nullptr, S_OK},
    {"Missing", "missing.gpkg", false, nullptr, GDB_E_NOT_FOUND},
    {"SdeNotAConnectionFile", "conn.sde", false, "server=x", GDB_E_BAD_PATH},
    {"GpkgInAFolderNamedSde", "charts.sde/d.gpkg", true, nullptr, S_OK},
    {"OtherExtension", "chart.gdb", false, "x", GDB_E_BAD_PATH},
    {"NotAGeoPackage", "text.gpkg", false, "this is not SQLite", GDB_E_BAD_PATH},
};
void PrintTo(const PathCase& c, std::ostream* os) { *os << c.name; }
class WorkspacePath : public ::testing::TestWithParam<PathCase> {};
TEST_P(WorkspacePath, OpensOnlyPersonalGeodatabases) {
    const PathCase& c = GetParam();
    TempDir dir;
    std::string rel = c.file;
    std::string onDisk = rel;
    std::replace(onDisk.begin(), onDisk.end(), '\\', '/');
    std::filesystem::create_directories((dir.path / onDisk).parent_path());
    if (c.make) {
        IWorkspacePtr made = createGdb((dir.path / onDisk).parent_path(), std::filesystem::path(onDisk).filename().string());
    } else if (c.content) {
        FILE* f = std::fopen((dir.path / onDisk).string().c_str(), "wb");
        std::fputs(c.content, f);
        std::fclose(f);
    }
    const std::string path = dir.path.string() + "/" + rel;
    IWorkspacePtr ws;
    EXPECT_EQ(resultOf([&] { ws = openGdb(path); }), c.expected);
    if (c.expected == S_OK) {
        ASSERT_TRUE(ws);
        EXPECT_EQ(ws->GetType(), esriLocalDatabaseWorkspace);
        EXPECT_EQ(std::string(ws->GetPathName()), path);
        EXPECT_TRUE(openGdb(path) == ws) << "one file, one workspace object";
    }
}
INSTANTIATE_TEST_SUITE_P(Paths, WorkspacePath, ::testing::ValuesIn(kPaths),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(WorkspaceFactory, EnterpriseFactoryNeedsItsConnectionFile) {
    IWorkspaceFactoryPtr f(CLSID_SdeWorkspaceFactory);
    try {
        f->OpenFromFile("server.sde");
        FAIL() << "opened an enterprise geodatabase without its connection file";
    } catch (const _com_error& e) {
        EXPECT_EQ(e.Error(), GDB_E_NOT_FOUND);
        EXPECT_EQ(std::string(e.Description()), "connection file server.sde cannot be read");
    }
}

TEST(WorkspaceFactory, CreateRefusesAnExistingFile) {
    TempDir dir;
    IWorkspacePtr ws = createGdb(dir.path, "x.gpkg");
    EXPECT_EQ(resultOf([&] { createGdb(dir.path, "x.gpkg"); }), GDB_E_NAME_EXISTS);
}

// ---------------------------------------------------------------------------------------------
// Names
// ---------------------------------------------------------------------------------------------
// A long field list finds names through an index: the first of two names equal but for case,
// and a field renamed after the list was searched under its new name only.
TEST(FieldList, FindsNamesWithoutRegardToCaseAfterRenames) {
    IFieldsEditPtr list(CLSID_Fields);
    std::vector<IFieldEditPtr> made;
    for (int i = 0; i < 12; ++i) {
        IFieldEditPtr f(CLSID_Field);
        f->PutName(("COL" + std::to_string(i)).c_str());
        list->AddField(IFieldPtr(f));
        made.push_back(f);
    }
    IFieldEditPtr twin(CLSID_Field);
    twin->PutName("col3");
    list->AddField(IFieldPtr(twin));
    EXPECT_EQ(list->FindField("Col3"), 3);
    EXPECT_EQ(list->FindField("col11"), 11);
    EXPECT_EQ(list->FindField("COL12"), -1);
    EXPECT_EQ(list->FindField(""), -1);
    made[5]->PutName("Renamed");
    EXPECT_EQ(list->FindField("COL5"), -1);
    EXPECT_EQ(list->FindField("RENAMED"), 5);
    made[3]->PutName("other");
    EXPECT_EQ(list->FindField("col3"), 12) << "the twin is the only col3 left";
}

TEST_P(BackendTest, NamesMatchWithoutRegardToCase) {
    IFeatureDatasetPtr ds = fws_->CreateFeatureDataset("S57", wgs84());
    ITablePtr t = fws_->CreateTable("dsnm", tableFields({{L"dsnm", esriFieldTypeString, 30}, {L"catcov", esriFieldTypeInteger, 2}}));
    IFeatureClassPtr fc = ds->CreateFeatureClass("CoastlineAreaFeature", featureFields(esriGeometryPolygon, false, {}),
                                                 nullptr, nullptr, esriFTSimple, "SHAPE");
    EXPECT_TRUE(fws_->OpenTable("DSNM") == t);
    EXPECT_TRUE(fws_->OpenFeatureClass("coastlineareafeature") == fc);
    EXPECT_TRUE(fws_->OpenTable("COASTLINEAREAFEATURE") == fc) << "a feature class opens as a table";
    EXPECT_EQ(std::string(IDatasetPtr(fws_->OpenFeatureDataset("s57"))->GetName()), "S57");
    EXPECT_EQ(t->FindField("DSNM"), 1);
    EXPECT_EQ(t->FindField("CatCov"), 2);
    EXPECT_EQ(t->FindField("metaid"), -1);
    EXPECT_EQ(t->GetFields()->FindField("catcov"), 2);

    // Every kind of name that exists, whatever its case, answers 0x80040353.
    EXPECT_EQ(resultOf([&] { fws_->CreateTable("DSNM", tableFields({})); }), hresultOf(0x80040353));
    EXPECT_EQ(resultOf([&] { fws_->CreateFeatureDataset("s57", wgs84()); }), hresultOf(0x80040353));
    EXPECT_EQ(resultOf([&] {
                  fws_->CreateFeatureClass("COASTLINEareafeature", featureFields(esriGeometryPoint, false, {}), nullptr,
                                           nullptr, esriFTSimple, "SHAPE");
              }),
              hresultOf(0x80040353));
    EXPECT_EQ(resultOf([&] { fws_->OpenTable("nosuch"); }), GDB_E_NOT_FOUND);
    EXPECT_EQ(resultOf([&] { fws_->OpenFeatureClass("dsnm"); }), GDB_E_NOT_FOUND) << "a table is no feature class";

    // Text compares without regard to case.
    IRowBufferPtr b = t->CreateRowBuffer();
    b->PutValue(1, _variant_t("GB5X01NE.000"));
    t->Insert(VARIANT_TRUE)->InsertRow(b);
    IQueryFilterPtr q(CLSID_QueryFilter);
    q->PutWhereClause("DSNM='gb5x01ne.000'");
    EXPECT_EQ(t->RowCount(q), 1);
}

// ---------------------------------------------------------------------------------------------
// Values into columns
// ---------------------------------------------------------------------------------------------
struct ValueCase {
    const char* name;
    esriFieldType type;
    LONG length;
    _variant_t value;
    HRESULT expected;
    _variant_t readBack;  // VT_EMPTY: the value itself
    bool readsNull = false;
};
const ValueCase kValues[] = {
    {"TextFitsExactly", esriFieldTypeString, 6, _variant_t("SOUNDG"), S_OK, {}},
    {"TextTooLong", esriFieldTypeString, 6, _variant_t("SOUNDGX"), DISP_E_OVERFLOW, {}},
    {"TextCountsCharactersNotBytes", esriFieldTypeString, 4, _variant_t(L"\u00e9t\u00e9s"), S_OK, {}},
    {"TextAccentedAfterAscii", esriFieldTypeString, 30, _variant_t(L"Baie Sainte-Th\u00e9r\u00e8se"), S_OK, {}},
    {"NumberIntoText", esriFieldTypeString, 10, _variant_t(42L), S_OK, _variant_t("42")},
    {"IntegerFromText", esriFieldTypeInteger, 4, _variant_t(" 25000 "), S_OK, _variant_t(25000L)},
    {"IntegerFromFractionText", esriFieldTypeInteger, 4, _variant_t("12.5"), DISP_E_OVERFLOW, {}},
    {"IntegerFromWholeDouble", esriFieldTypeInteger, 4, _variant_t(7.0), S_OK, _variant_t(7L)},
    {"IntegerFromFraction", esriFieldTypeInteger, 4, _variant_t(7.25), DISP_E_OVERFLOW, {}},
    {"IntegerFromWords", esriFieldTypeInteger, 4, _variant_t("abc"), DISP_E_TYPEMISMATCH, {}},
    {"IntegerOutOfRange", esriFieldTypeInteger, 4, _variant_t("3000000000"), DISP_E_OVERFLOW, {}},
    {"SmallIntegerOutOfRange", esriFieldTypeSmallInteger, 2, _variant_t(70000L), DISP_E_OVERFLOW, {}},
    {"SmallIntegerReadsAsI2", esriFieldTypeSmallInteger, 2, _variant_t(-5L), S_OK, _variant_t(short(-5))},
    {"BlankTextIntoIntegerIsNull", esriFieldTypeInteger, 4, _variant_t(""), S_OK, {}, true},
    {"DoubleFromText", esriFieldTypeDouble, 8, _variant_t("-12.125"), S_OK, _variant_t(-12.125)},
    {"DoubleFromGarbage", esriFieldTypeDouble, 8, _variant_t("1.5x"), DISP_E_TYPEMISMATCH, {}},
    {"SingleOutOfRange", esriFieldTypeSingle, 4, _variant_t(1e300), DISP_E_OVERFLOW, {}},
    {"NullIntoText", esriFieldTypeString, 10, _variant_t(), S_OK, {}, true},
};
void PrintTo(const ValueCase& c, std::ostream* os) { *os << c.name; }
class ColumnValue : public CaseOnBothBackends<ValueCase> {};
TEST_P(ColumnValue, ConvertsOrFailsVisibly) {
    const ValueCase& c = param();
    ITablePtr t = fws_->CreateTable("t", tableFields({{L"V", c.type, c.length}}));
    IRowPtr row = t->CreateRow();
    const bool isText = c.type == esriFieldTypeString;
    row->PutValue(1, isText ? _variant_t("x") : _variant_t(9L));
    row->Store();
    EXPECT_EQ(resultOf([&] { row->PutValue(1, c.value); }), c.expected);
    row->Store();
    _variant_t got = t->GetRow(row->GetOID())->GetValue(1);
    if (c.expected != S_OK) {
        // The failed put left the row as it was.
        if (isText) {
            EXPECT_EQ(text(got), "x");
        } else {
            EXPECT_EQ(double(got), 9.0);
        }
        return;
    }
    _variant_t want = c.readBack.vt == VT_EMPTY ? c.value : c.readBack;
    if (c.readsNull) {
        EXPECT_EQ(got.vt, VT_NULL);
        return;
    }
    ASSERT_EQ(got.vt, want.vt);
    if (want.vt == VT_BSTR) {
        EXPECT_EQ(text(got), text(want));
    } else if (want.vt == VT_I4) {
        EXPECT_EQ(got.lVal, want.lVal);
    } else if (want.vt == VT_I2) {
        EXPECT_EQ(got.iVal, want.iVal);
    } else if (want.vt == VT_R8) {
        EXPECT_EQ(got.dblVal, want.dblVal);
    }
}
INSTANTIATE_TEST_SUITE_P(Values, ColumnValue, onBothBackends(kValues), [](const auto& i) { return caseAndBackend(i); });

TEST_P(BackendTest, OutOfRangeIndexAndObjectIdAreRefused) {
    ITablePtr t = fws_->CreateTable("t", tableFields({{L"A", esriFieldTypeString, 5}}));
    IRowBufferPtr b = t->CreateRowBuffer();
    EXPECT_EQ(resultOf([&] { b->PutValue(-1, _variant_t("x")); }), E_INVALIDARG);
    EXPECT_EQ(resultOf([&] { b->PutValue(2, _variant_t("x")); }), E_INVALIDARG);
    EXPECT_EQ(resultOf([&] { b->PutValue(0, _variant_t(5L)); }), GDB_E_NOT_EDITABLE);
}

TEST_P(BackendTest, ShapeMustMatchTheClass) {
    IFeatureClassPtr pts = fws_->CreateFeatureClass("p", featureFields(esriGeometryPoint, false, {}), nullptr, nullptr,
                                                    esriFTSimple, "SHAPE");
    IFeatureClassPtr zpts = fws_->CreateFeatureClass("pz", featureFields(esriGeometryPoint, true, {}), nullptr, nullptr,
                                                     esriFTSimple, "SHAPE");
    EXPECT_EQ(resultOf([&] { pts->CreateFeatureBuffer()->PutRefShape(polyline({{0, 0}, {1, 1}})); }), GDB_E_WRONG_GEOMETRY);
    EXPECT_EQ(resultOf([&] { zpts->CreateFeatureBuffer()->PutRefShape(point(1, 2)); }), GDB_E_WRONG_GEOMETRY);
    // A class without Z keeps X and Y of a Z-aware point.
    IFeatureBufferPtr b = pts->CreateFeatureBuffer();
    b->PutRefShape(pointZ(1.5, 2.5, -3));
    LONG oid = pts->Insert(VARIANT_TRUE)->InsertFeature(b);
    IPointPtr back(pts->GetFeature(oid)->GetShape());
    EXPECT_EQ(back->GetX(), 1.5);
    EXPECT_EQ(IZAwarePtr(back)->GetZAware(), VARIANT_FALSE);
}

// ---------------------------------------------------------------------------------------------
// SQL quoting: values are bound, names quoted; where clauses are the caller's SQL.
// ---------------------------------------------------------------------------------------------
struct Nasty {
    const char* name;
    const char* value;
};
const Nasty kNasty[] = {
    {"Apostrophe", "St. Mary's"}, {"OnlyQuotes", "''"},         {"Injection", "x' OR '1'='1"},
    {"DoubleQuotes", "a\"b\"c"},  {"Semicolon", "a'; DROP TABLE t; --"}, {"Empty", ""},
};
std::string quoted(std::string v) {
    std::string out = "'";
    for (char c : v) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}
void PrintTo(const Nasty& c, std::ostream* os) { *os << c.name; }
class SqlQuoting : public CaseOnBothBackends<Nasty> {};
TEST_P(SqlQuoting, ValuesAndNamesRoundTrip) {
    // Table and field names that need quoting themselves.
    ITablePtr t = fws_->CreateTable("odd \"name\"", tableFields({{L"my col", esriFieldTypeString, 40}}));
    ICursorPtr ins = t->Insert(VARIANT_TRUE);
    IRowBufferPtr b = t->CreateRowBuffer();
    b->PutValue(1, _variant_t(param().value));
    ins->InsertRow(b);
    b->PutValue(1, _variant_t("other"));
    ins->InsertRow(b);
    IQueryFilterPtr q(CLSID_QueryFilter);
    q->PutWhereClause(("\"my col\" = " + quoted(param().value)).c_str());
    EXPECT_EQ(t->RowCount(q), 1);
    ICursorPtr c = t->Search(q, VARIANT_FALSE);
    EXPECT_EQ(text(c->NextRow()->GetValue(1)), param().value);
    EXPECT_EQ(t->RowCount(nullptr), 2);
}
INSTANTIATE_TEST_SUITE_P(Quoting, SqlQuoting, onBothBackends(kNasty), [](const auto& i) { return caseAndBackend(i); });

TEST_P(BackendTest, WhereClauseWithASecondStatementFails) {
    ITablePtr t = fws_->CreateTable("t", tableFields({{L"A", esriFieldTypeString, 5}}));
    IQueryFilterPtr q(CLSID_QueryFilter);
    q->PutWhereClause("1=1; DROP TABLE t");
    EXPECT_EQ(resultOf([&] { t->RowCount(q); }), GDB_E_SQL);
    q->PutWhereClause("NOSUCH = 1");
    try {
        t->Search(q, VARIANT_FALSE);
        FAIL();
    } catch (const _com_error& e) {
        EXPECT_EQ(e.Error(), GDB_E_SQL);
        std::string d(e.Description());
        EXPECT_NE(d.find(enterprise() ? "column \"nosuch\" does not exist" : "no such column: NOSUCH"), std::string::npos) << d;
        EXPECT_NE(d.find("WHERE (NOSUCH = 1)"), std::string::npos) << "the SQL is in the description: " << d;
    }
    EXPECT_EQ(t->RowCount(nullptr), 0);
}

// ---------------------------------------------------------------------------------------------
// Edit sessions and batching
// ---------------------------------------------------------------------------------------------
TEST_P(BackendTest, DiscardedEditLeavesNothingSavedEditKeepsAll) {
    IWorkspaceEditPtr edit(ws_);
    ITablePtr before = fws_->CreateTable("before", tableFields({{L"A", esriFieldTypeInteger, 4}}));
    IRowBufferPtr b = before->CreateRowBuffer();
    before->Insert(VARIANT_TRUE)->InsertRow(b);

    edit->StartEditing(VARIANT_FALSE);
    EXPECT_EQ(edit->IsBeingEdited(), VARIANT_TRUE);
    EXPECT_EQ(resultOf([&] { edit->StartEditing(VARIANT_FALSE); }), GDB_E_EDITING);
    for (int i = 0; i < 5; ++i) before->Insert(VARIANT_TRUE)->InsertRow(b);
    IFeatureClassPtr made = fws_->CreateFeatureClass("made", featureFields(esriGeometryPoint, false, {}), nullptr, nullptr,
                                                     esriFTSimple, "SHAPE");
    IFeatureBufferPtr fb = made->CreateFeatureBuffer();
    fb->PutRefShape(point(1, 1));
    made->Insert(VARIANT_TRUE)->InsertFeature(fb);
    edit->StopEditing(VARIANT_FALSE);
    EXPECT_EQ(before->RowCount(nullptr), 1);
    EXPECT_EQ(resultOf([&] { fws_->OpenFeatureClass("made"); }), GDB_E_NOT_FOUND);
    EXPECT_EQ(resultOf([&] { made->FeatureCount(nullptr); }), GDB_E_NOT_FOUND) << "the undone class is gone";

    edit->StartEditing(VARIANT_FALSE);
    for (int i = 0; i < 100; ++i) before->Insert(VARIANT_TRUE)->InsertRow(b);
    edit->StopEditing(VARIANT_TRUE);
    EXPECT_EQ(resultOf([&] { edit->StopEditing(VARIANT_TRUE); }), GDB_E_EDITING);
    before = nullptr;
    made = nullptr;
    b = nullptr;
    fb = nullptr;
    edit = nullptr;
    fws_ = nullptr;
    ws_ = nullptr;
    EXPECT_EQ(storedRows(enterprise(), path_, pgdb_.get(), "SELECT count(*) FROM before"), 101);
    if (!enterprise()) EXPECT_EQ(countRows(path_, "SELECT count(*) FROM gpkg_contents WHERE table_name = 'made'"), 0);
    else EXPECT_EQ(storedRows(true, path_, pgdb_.get(), "SELECT count(*) FROM pg_class WHERE relname = 'made'"), 0);
}

TEST_P(BackendTest, ObjectIdsOfADiscardedEditAreGivenAgain) {
    ITablePtr t = fws_->CreateTable("t", tableFields({{L"A", esriFieldTypeInteger, 4}}));
    IWorkspaceEditPtr edit(ws_);
    IRowBufferPtr b = t->CreateRowBuffer();
    auto insert = [&] {
        return long(t->Insert(VARIANT_TRUE)->InsertRow(b));
    };
    EXPECT_EQ(insert(), 1);
    edit->StartEditing(VARIANT_FALSE);
    for (int i = 0; i < 5; ++i) insert();
    edit->StopEditing(VARIANT_FALSE);
    edit->StartEditing(VARIANT_FALSE);
    EXPECT_EQ(insert(), 2) << "the discarded rows' ids are free again";
    edit->StopEditing(VARIANT_TRUE);
    EXPECT_EQ(insert(), 3);
}

// An aborted operation's ids are given again, as the rows it made are gone: whether its rows went to
// the storage before the abort (a count reads them), and whether the class drew its first id in it.
TEST_P(BackendTest, ObjectIdsOfAnAbortedOperationAreGivenAgain) {
    ITablePtr t = fws_->CreateTable("t", tableFields({{L"A", esriFieldTypeInteger, 4}}));
    ITablePtr u = fws_->CreateTable("u", tableFields({{L"A", esriFieldTypeInteger, 4}}));
    IWorkspaceEditPtr edit(ws_);
    auto insert = [&](const ITablePtr& into) { return long(into->Insert(VARIANT_TRUE)->InsertRow(into->CreateRowBuffer())); };
    edit->StartEditing(VARIANT_TRUE);
    EXPECT_EQ(insert(t), 1);
    edit->StartEditOperation();
    for (int i = 0; i < 3; ++i) insert(t);
    EXPECT_EQ(t->RowCount(nullptr), 4);
    EXPECT_EQ(insert(u), 1);
    edit->AbortEditOperation();
    EXPECT_EQ(insert(t), 2) << "the aborted rows' ids are free again";
    EXPECT_EQ(insert(u), 1);
    edit->StartEditOperation();
    EXPECT_EQ(insert(t), 3);
    edit->StopEditOperation();
    edit->StartEditOperation();
    insert(t);
    edit->AbortEditOperation();
    edit->StopEditing(VARIANT_TRUE);
    EXPECT_EQ(insert(t), 4);
    EXPECT_EQ(insert(u), 2);
}

TEST_P(BackendTest, EditOperationAbortUndoesOnlyItsChanges) {
    IWorkspaceEditPtr edit(ws_);
    ITablePtr t = fws_->CreateTable("t", tableFields({}));
    edit->StartEditing(VARIANT_TRUE);
    t->CreateRow();
    edit->StartEditOperation();
    t->CreateRow();
    t->CreateRow();
    edit->AbortEditOperation();
    edit->StartEditOperation();
    t->CreateRow();
    edit->StopEditOperation();
    edit->StopEditing(VARIANT_TRUE);
    EXPECT_EQ(t->RowCount(nullptr), 2);
}

TEST_P(BackendTest, WritesOutsideAnEditAreCommittedWhenTheWorkspaceGoes) {
    {
        ITablePtr t = fws_->CreateTable("t", tableFields({{L"A", esriFieldTypeInteger, 4}}));
        ICursorPtr c = t->Insert(VARIANT_TRUE);
        IRowBufferPtr b = t->CreateRowBuffer();
        for (int i = 0; i < 1000; ++i) {
            b->PutValue(1, _variant_t(long(i)));
            c->InsertRow(b);
            c->Flush();
        }
    }
    fws_ = nullptr;
    ws_ = nullptr;
    EXPECT_EQ(storedRows(enterprise(), path_, pgdb_.get(), "SELECT count(*) FROM t"), 1000);
    EXPECT_EQ(storedRows(enterprise(), path_, pgdb_.get(), "SELECT sum(\"A\") FROM t"), 999 * 1000 / 2);
}

// ---------------------------------------------------------------------------------------------
// Cursors, subtypes, sorting
// ---------------------------------------------------------------------------------------------
TEST_P(BackendTest, UpdateCursorChangesAndDeletesRows) {
    ITablePtr t = fws_->CreateTable("srel", tableFields({{L"DSNM", esriFieldTypeString, 16}, {L"N", esriFieldTypeInteger, 4}}));
    ICursorPtr ins = t->Insert(VARIANT_TRUE);
    IRowBufferPtr b = t->CreateRowBuffer();
    for (int i = 0; i < 10; ++i) {
        b->PutValue(1, _variant_t(i % 2 ? "A.000" : "B.000"));
        b->PutValue(2, _variant_t(long(i)));
        ins->InsertRow(b);
    }
    IQueryFilterPtr q(CLSID_QueryFilter);
    q->PutWhereClause("DSNM = 'A.000'");
    ICursorPtr up = t->Update(q, VARIANT_FALSE);
    int seen = 0;
    for (IRowPtr r = up->NextRow(); r; r = up->NextRow(), ++seen) {
        if (long(r->GetValue(2)) == 1) {
            up->DeleteRow();
        } else {
            r->PutValue(1, _variant_t("B.000"));  // no longer matches: must not come back
            up->UpdateRow(r);
        }
    }
    EXPECT_EQ(seen, 5);
    EXPECT_EQ(t->RowCount(nullptr), 9);
    EXPECT_EQ(t->RowCount(q), 0);
    q->PutWhereClause("N >= 8");
    t->DeleteSearchedRows(q);
    EXPECT_EQ(t->RowCount(nullptr), 7);
}

// Class p: a grid of 30 x 10 points with N = 30 y + x, inserted through one cursor.
IFeatureClassPtr numberedGrid(IFeatureWorkspace* fws) {
    IFeatureClassPtr fc = fws->CreateFeatureClass("p", featureFields(esriGeometryPoint, false, {{L"N", esriFieldTypeInteger, 4}}),
                                                  nullptr, nullptr, esriFTSimple, "SHAPE");
    IFeatureCursorPtr ins = fc->Insert(VARIANT_TRUE);
    IFeatureBufferPtr b = fc->CreateFeatureBuffer();
    for (int i = 0; i < 300; ++i) {
        b->PutRefShape(point(i % 30, i / 30));
        b->PutValue(2, _variant_t(long(i)));
        ins->InsertFeature(b);
    }
    return fc;
}

TEST_P(BackendTest, DeleteSearchedRowsTakesWhatASearchFinds) {
    // Not yet flushed anywhere.
    IFeatureClassPtr fc = numberedGrid(fws_);
    IQueryFilterPtr q(CLSID_QueryFilter);
    q->PutWhereClause("N >= 250");
    ITablePtr(fc)->DeleteSearchedRows(q);
    EXPECT_EQ(fc->FeatureCount(nullptr), 250);
    q->PutWhereClause("N >= 1000");
    ITablePtr(fc)->DeleteSearchedRows(q);
    EXPECT_EQ(fc->FeatureCount(nullptr), 250) << "nothing matched, nothing went";

    // A spatial relation and a where clause together: x 0..9, y 0..3.
    ISpatialFilterPtr sf(CLSID_SpatialFilter);
    sf->PutRefGeometry(polygon({{-0.5, -0.5}, {9.5, -0.5}, {9.5, 4.5}, {-0.5, 4.5}}));
    sf->PutSpatialRel(esriSpatialRelIntersects);
    sf->PutWhereClause("N < 100");
    EXPECT_EQ(fc->FeatureCount(sf), 40);
    ITablePtr(fc)->DeleteSearchedRows(sf);
    EXPECT_EQ(fc->FeatureCount(nullptr), 210);
    EXPECT_EQ(fc->FeatureCount(sf), 0);
    sf->PutWhereClause("");
    EXPECT_EQ(fc->FeatureCount(sf), 10) << "the row y = 4 is left";
    IFeatureCursorPtr left = fc->Search(sf, VARIANT_FALSE);
    long sum = 0;
    for (IFeaturePtr f = left->NextFeature(); f; f = left->NextFeature()) sum += long(f->GetValue(2));
    EXPECT_EQ(sum, 120 * 10 + 45);
    if (!enterprise()) {
        ws_ = nullptr;
        fws_ = nullptr;
        fc = nullptr;
        sf = nullptr;
        left = nullptr;
        EXPECT_EQ(countRows(path_, "SELECT count(*) FROM rtree_p_SHAPE"), 210) << "the R-tree lost what the table lost";
    }
}

TEST_P(BackendTest, SubtypesAreStoredAndEnumerated) {
    IFeatureClassPtr fc = fws_->CreateFeatureClass("PointFeature", featureFields(esriGeometryPoint, false, {{L"SUBTYPE", esriFieldTypeInteger, 4}, {L"NAME", esriFieldTypeString, 12}}),
                                                   nullptr, nullptr, esriFTSimple, "SHAPE");
    ISubtypesPtr st(fc);
    ASSERT_TRUE(st);
    // Without a subtype field there is one default subtype named after the class.
    LONG code = -1;
    EXPECT_EQ(std::string(st->GetSubtypes()->Next(&code)), "PointFeature");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(resultOf([&] { st->PutSubtypeFieldName("NAME"); }), E_INVALIDARG) << "a text field cannot hold codes";
    st->PutSubtypeFieldName("subtype");
    st->AddSubtype(75, "LIGHTS");
    st->AddSubtype(17, "BCNLAT");
    st->PutDefaultSubtypeCode(17);
    EXPECT_EQ(resultOf([&] { st->AddSubtype(75, "OTHER"); }), GDB_E_NAME_EXISTS);
    // The class object that made them reads them back as stored, without reopening.
    st->AddSubtype(30, "BOYLAT");
    EXPECT_EQ(st->GetDefaultSubtypeCode(), 17);
    std::string listed;
    IEnumSubtypePtr mine = st->GetSubtypes();
    for (std::string n = std::string(mine->Next(&code)); !n.empty(); n = std::string(mine->Next(&code)))
        listed += std::to_string(code) + n + " ";
    EXPECT_EQ(listed, "17BCNLAT 30BOYLAT 75LIGHTS ");
    EXPECT_EQ(resultOf([&] { st->AddSubtype(30, "AGAIN"); }), GDB_E_NAME_EXISTS);
    // Another object of the same class sees the same definition, by code.
    ws_ = nullptr;
    fws_ = nullptr;
    st = nullptr;
    fc = nullptr;
    reopen();
    ISubtypesPtr again(IFeatureWorkspacePtr(ws_)->OpenFeatureClass("pointfeature"));
    EXPECT_EQ(std::string(again->GetSubtypeFieldName()), "SUBTYPE");
    EXPECT_EQ(again->GetSubtypeFieldIndex(), 2);
    EXPECT_EQ(again->GetDefaultSubtypeCode(), 17);
    IEnumSubtypePtr e = again->GetSubtypes();
    EXPECT_EQ(std::string(e->Next(&code)), "BCNLAT");
    EXPECT_EQ(code, 17);
    EXPECT_EQ(std::string(e->Next(&code)), "BOYLAT");
    EXPECT_EQ(std::string(e->Next(&code)), "LIGHTS");
    EXPECT_EQ(std::string(e->Next(&code)), "");
    EXPECT_EQ(std::string(again->GetSubtypeName(75)), "LIGHTS");
}

TEST_P(BackendTest, TableSortOrdersWithoutRegardToCaseAndKeepsTheFilter) {
    ITablePtr t = fws_->CreateTable("t", tableFields({{L"NAME", esriFieldTypeString, 12}, {L"K", esriFieldTypeInteger, 4}}));
    ICursorPtr ins = t->Insert(VARIANT_TRUE);
    IRowBufferPtr b = t->CreateRowBuffer();
    const char* names[] = {"b2", "A1", "c3", "a0", "B1"};
    for (int i = 0; i < 5; ++i) {
        b->PutValue(1, _variant_t(names[i]));
        b->PutValue(2, _variant_t(long(i)));
        ins->InsertRow(b);
    }
    ITableSortPtr sort(CLSID_TableSort);
    sort->PutRefTable(t);
    IQueryFilterPtr q(CLSID_QueryFilter);
    q->PutWhereClause("K <> 2");
    sort->PutRefQueryFilter(q);
    sort->PutFields("NAME");
    sort->Sort(nullptr);
    std::string order;
    ICursorPtr rows = sort->GetRows();
    for (IRowPtr r = rows->NextRow(); r; r = rows->NextRow()) order += text(r->GetValue(1)) + " ";
    EXPECT_EQ(order, "a0 A1 B1 b2 ");
    sort->PutAscending("name", VARIANT_FALSE);
    order.clear();
    rows = sort->GetRows();
    for (IRowPtr r = rows->NextRow(); r; r = rows->NextRow()) order += text(r->GetValue(1)) + " ";
    EXPECT_EQ(order, "b2 B1 A1 a0 ");
    sort->PutFields("NOSUCH");
    EXPECT_EQ(resultOf([&] { sort->GetRows(); }), E_INVALIDARG);
}

TEST_P(BackendTest, FeatureDatasetKeepsSpatialReferenceVersionedFlagAndClasses) {
    ISpatialReferencePtr sr = wgs84();
    IFeatureDatasetPtr ds = fws_->CreateFeatureDataset("S57", sr);
    ds->CreateFeatureClass("SoundingFeature", featureFields(esriGeometryPoint, true, {{L"DEPTH", esriFieldTypeDouble, 20}}),
                           nullptr, nullptr, esriFTSimple, "SHAPE");
    ds->CreateFeatureClass("LineFeature", featureFields(esriGeometryPolyline, false, {}), nullptr, nullptr, esriFTSimple, "SHAPE");
    fws_->CreateFeatureClass("ve", featureFields(esriGeometryPolyline, false, {}), nullptr, nullptr, esriFTSimple, "SHAPE");
    IVersionedObjectPtr(ds)->RegisterAsVersioned(VARIANT_TRUE);
    ws_ = nullptr;
    ds = nullptr;
    reopen();
    ds = fws_->OpenFeatureDataset("S57");
    EXPECT_EQ(IVersionedObjectPtr(ds)->GetIsRegisteredAsVersioned(), VARIANT_TRUE);
    double zmin = 0, zmax = 0;
    IGeoDatasetPtr(ds)->GetSpatialReference()->GetZDomain(&zmin, &zmax);
    EXPECT_EQ(zmin, -12000.0);
    EXPECT_EQ(zmax, 9000.0);
    IFeatureClassContainerPtr fcc(ds);
    ASSERT_EQ(fcc->GetClassCount(), 2);
    EXPECT_EQ(std::string(IDatasetPtr(fcc->GetClass(0))->GetName()), "SoundingFeature");
    EXPECT_EQ(fcc->GetClass(1)->GetShapeType(), esriGeometryPolyline);
    IFeatureClassPtr snd = fws_->OpenFeatureClass("soundingfeature");
    EXPECT_TRUE(snd->GetFeatureDataset() != nullptr);
    EXPECT_EQ(snd->GetFields()->GetField(1)->GetGeometryDef()->GetHasZ(), VARIANT_TRUE);
    IGeoDatasetPtr(snd)->GetSpatialReference()->GetZDomain(&zmin, &zmax);
    EXPECT_EQ(zmin, -12000.0);
    EXPECT_FALSE(fws_->OpenFeatureClass("VE")->GetFeatureDataset());
}

// ---------------------------------------------------------------------------------------------
// Spatial filters: exactly what GEOS decides
// ---------------------------------------------------------------------------------------------
struct SpatialCase {
    const char* name;
    esriSpatialRelEnum relation;
    const char* description;
    const char* expected;  // names of the selected features, sorted, joined by ' '
};
const SpatialCase kSpatial[] = {
    {"Intersects", esriSpatialRelIntersects, "", "boundary crossing inside overlapping touching"},
    {"InteriorsMeet", esriSpatialRelRelation, "T********", "crossing inside overlapping"},
    {"InteriorsMeetBesideIntersects", esriSpatialRelIntersects, "T********", "crossing inside overlapping"},
    {"Touches", esriSpatialRelTouches, "", "boundary touching"},
    {"Contains", esriSpatialRelContains, "", "inside"},
    {"Disjoint", esriSpatialRelRelation, "FF*FF****", "far nearbox"},
    {"EnvelopeIntersects", esriSpatialRelEnvelopeIntersects, "", "boundary crossing inside nearbox overlapping touching"},
};
void PrintTo(const SpatialCase& c, std::ostream* os) { *os << c.name; }
class SpatialFilterCase : public CaseOnBothBackends<SpatialCase> {};
TEST_P(SpatialFilterCase, SelectsWhatGeosDecides) {
    const SpatialCase& c = param();
    IFeatureClassPtr pts = fws_->CreateFeatureClass("pts", featureFields(esriGeometryPoint, false, {{L"NAME", esriFieldTypeString, 12}}),
                                                    nullptr, nullptr, esriFTSimple, "SHAPE");
    IFeatureClassPtr lines = fws_->CreateFeatureClass("lines", featureFields(esriGeometryPolyline, false, {{L"NAME", esriFieldTypeString, 12}}),
                                                      nullptr, nullptr, esriFTSimple, "SHAPE");
    IFeatureClassPtr areas = fws_->CreateFeatureClass("areas", featureFields(esriGeometryPolygon, false, {{L"NAME", esriFieldTypeString, 12}}),
                                                      nullptr, nullptr, esriFTSimple, "SHAPE");
    struct Item {
        IFeatureClassPtr cls;
        const char* name;
        IGeometryPtr g;
    };
    std::vector<Item> items = {
        {pts, "inside", point(5, 5)},
        {pts, "boundary", point(10, 5)},
        {pts, "far", point(50, 50)},
        {lines, "crossing", polyline({{-5, 5}, {15, 5}})},
        {lines, "nearbox", polyline({{9, 12}, {12, 9}})},  // envelope meets, geometry does not
        {areas, "touching", polygon({{10, 0}, {20, 0}, {20, 10}, {10, 10}})},
        {areas, "overlapping", polygon({{5, 5}, {15, 5}, {15, 15}, {5, 15}})},
    };
    for (auto& it : items) {
        IFeatureBufferPtr b = it.cls->CreateFeatureBuffer();
        b->PutRefShape(it.g);
        b->PutValue(2, _variant_t(it.name));
        it.cls->Insert(VARIANT_TRUE)->InsertFeature(b);
    }
    IGeometryPtr square = polygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    ISpatialFilterPtr f(CLSID_SpatialFilter);
    f->PutRefGeometry(square);
    f->PutGeometryField("SHAPE");
    f->PutSpatialRel(c.relation);
    f->PutSpatialRelDescription(c.description);

    std::set<std::string> got;
    long counted = 0;
    for (IFeatureClassPtr cls : {pts, lines, areas}) {
        IFeatureCursorPtr cur = cls->Search(f, VARIANT_TRUE);
        for (IFeaturePtr ft = cur->NextFeature(); ft; ft = cur->NextFeature()) got.insert(text(ft->GetValue(2)));
        counted += cls->FeatureCount(f);
    }
    std::string joined;
    for (auto& n : got) joined += (joined.empty() ? "" : " ") + n;
    EXPECT_EQ(joined, c.expected);
    EXPECT_EQ(counted, long(got.size()));

    // The same decision made by the geometry's own relational operator (GEOS).
    if (c.relation != esriSpatialRelEnvelopeIntersects) {
        IRelationalOperatorPtr op(square);
        for (auto& it : items) {
            bool geos = false;
            switch (c.relation) {
                case esriSpatialRelIntersects: geos = !op->Disjoint(it.g); break;
                case esriSpatialRelTouches: geos = op->Touches(it.g); break;
                case esriSpatialRelContains: geos = op->Contains(it.g); break;
                default: break;
            }
            if (*c.description) geos = op->Relate(it.g, _bstr_t(c.description)) && (c.relation != esriSpatialRelIntersects || geos);
            EXPECT_EQ(geos, got.count(it.name) == 1) << it.name;
        }
    }
}
INSTANTIATE_TEST_SUITE_P(Relations, SpatialFilterCase, onBothBackends(kSpatial), [](const auto& i) { return caseAndBackend(i); });

TEST_F(GdbTest, RTreeFollowsInsertsUpdatesAndDeletes) {
    IFeatureClassPtr fc = fws_->CreateFeatureClass("p", featureFields(esriGeometryPoint, false, {}), nullptr, nullptr,
                                                   esriFTSimple, "SHAPE");
    IFeatureCursorPtr ins = fc->Insert(VARIANT_TRUE);
    IFeatureBufferPtr b = fc->CreateFeatureBuffer();
    for (int i = 0; i < 200; ++i) {
        b->PutRefShape(point(i, i));
        ins->InsertFeature(b);
    }
    IFeaturePtr moved = fc->GetFeature(1);
    moved->PutRefShape(point(1000, 1000));
    moved->Store();
    fc->GetFeature(2)->Delete();
    ISpatialFilterPtr f(CLSID_SpatialFilter);
    IEnvelopePtr box(CLSID_Envelope);
    box->PutCoords(999, 999, 1001, 1001);
    f->PutRefGeometry(box);
    f->PutSpatialRel(esriSpatialRelIntersects);
    EXPECT_EQ(fc->FeatureCount(f), 1);
    box->PutCoords(-1, -1, 1.5, 1.5);
    f->PutRefGeometry(box);
    EXPECT_EQ(fc->FeatureCount(f), 0) << "features 1 and 2 left the box";
    ws_ = nullptr;
    fws_ = nullptr;
    fc = nullptr;
    moved = nullptr;
    ins = nullptr;
    b = nullptr;
    EXPECT_EQ(countRows(path_, "SELECT count(*) FROM rtree_p_SHAPE"), 199);
    sqlite3* db = nullptr;
    sqlite3_open(path_.c_str(), &db);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT rtreecheck('rtree_p_SHAPE')", -1, &st, nullptr);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "ok");
    sqlite3_finalize(st);
    sqlite3_close(db);
}

// Deleting rows keeps the R-tree to the rows that stay, whether its entries go one by one or the
// tree is written anew (many rows at once), and while a search still reads it.
struct DeleteCase {
    const char* name;
    const char* where;
    bool spatial;     // also within x 0..19 (all y)
    bool searching;   // a search of the class is open during the delete
    bool (*goes)(int x, int y, int n);
};

class RTreeAfterDelete : public GdbTest, public ::testing::WithParamInterface<DeleteCase> {};

TEST_P(RTreeAfterDelete, HoldsTheRowsThatStayAndAnswersSearches) {
    const DeleteCase& c = GetParam();
    IFeatureClassPtr fc = numberedGrid(fws_);
    IFeatureCursorPtr reading;
    if (c.searching) {
        reading = fc->Search(nullptr, VARIANT_FALSE);
        ASSERT_TRUE(reading->NextFeature() != nullptr);
    }
    IQueryFilterPtr q;
    if (c.spatial) {
        ISpatialFilterPtr sf(CLSID_SpatialFilter);
        sf->PutRefGeometry(polygon({{-0.5, -0.5}, {19.5, -0.5}, {19.5, 9.5}, {-0.5, 9.5}}));
        sf->PutSpatialRel(esriSpatialRelIntersects);
        q = sf;
    } else {
        q.CreateInstance(CLSID_QueryFilter);
    }
    q->PutWhereClause(c.where);
    ITablePtr(fc)->DeleteSearchedRows(q);
    reading = nullptr;

    long kept = 0, boxSum = 0, keptInBox = 0;
    for (int n = 0; n < 300; ++n) {
        const int x = n % 30, y = n / 30;
        if (c.goes(x, y, n)) continue;
        ++kept;
        boxSum += 2 * x + 2 * y;
        if (x >= 5 && x <= 24 && y >= 2 && y <= 6) ++keptInBox;
    }
    EXPECT_EQ(fc->FeatureCount(nullptr), kept);
    ISpatialFilterPtr box(CLSID_SpatialFilter);
    box->PutRefGeometry(polygon({{4.5, 1.5}, {24.5, 1.5}, {24.5, 6.5}, {4.5, 6.5}}));
    box->PutSpatialRel(esriSpatialRelIntersects);
    EXPECT_EQ(fc->FeatureCount(box), keptInBox) << "a search through the R-tree after the delete";
    ws_ = nullptr;
    fws_ = nullptr;
    fc = nullptr;
    q = nullptr;
    box = nullptr;
    EXPECT_EQ(countRows(path_, "SELECT count(*) FROM rtree_p_SHAPE"), kept);
    EXPECT_EQ(countRows(path_, "SELECT count(*) FROM rtree_p_SHAPE WHERE id NOT IN (SELECT OBJECTID FROM p)"), 0);
    EXPECT_EQ(countRows(path_, "SELECT count(*) FROM p WHERE OBJECTID NOT IN (SELECT id FROM rtree_p_SHAPE)"), 0);
    EXPECT_EQ(countRows(path_, "SELECT coalesce(sum(minx + maxx + miny + maxy), 0) FROM rtree_p_SHAPE"), boxSum);
    EXPECT_EQ(countRows(path_, "SELECT rtreecheck('rtree_p_SHAPE') = 'ok'"), 1);
}

const DeleteCase kDeletes[] = {
    {"FewRows", "N >= 250", false, false, [](int, int, int n) { return n >= 250; }},
    {"ManyButFewerThanStay", "N >= 200", false, false, [](int, int, int n) { return n >= 200; }},
    {"MostRows", "N >= 100", false, false, [](int, int, int n) { return n >= 100; }},
    {"EveryRow", "N >= 0", false, false, [](int, int, int) { return true; }},
    {"MostRowsBySpaceAndWhere", "N >= 30", true, false, [](int x, int, int n) { return n >= 30 && x <= 19; }},
    {"MostRowsWhileASearchReads", "N >= 100", false, true, [](int, int, int n) { return n >= 100; }},
};

INSTANTIATE_TEST_SUITE_P(Deletes, RTreeAfterDelete, ::testing::ValuesIn(kDeletes),
                         [](const auto& i) { return std::string(i.param.name); });

// A second load into classes that have their R-trees: every row is indexed once, our insert trigger
// is quiet only for our own rows, and another program's trigger on the table still fires for them.
TEST_F(GdbTest, ASecondLoadIndexesItsRowsAndLeavesEveryTriggerAtWork) {
    auto load = [&](const char* name, int from) {
        IFeatureClassPtr fc = fws_->OpenFeatureClass(name);
        IFeatureCursorPtr ins = fc->Insert(VARIANT_TRUE);
        IFeatureBufferPtr b = fc->CreateFeatureBuffer();
        for (int i = from; i < from + 100; ++i) {
            b->PutRefShape(point(i, i));
            ins->InsertFeature(b);
        }
    };
    for (const char* name : {"p", "q"}) {
        fws_->CreateFeatureClass(name, featureFields(esriGeometryPoint, false, {}), nullptr, nullptr, esriFTSimple, "SHAPE");
        load(name, 0);
    }
    ws_ = nullptr;
    fws_ = nullptr;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE seen (id INTEGER); CREATE TRIGGER q_seen AFTER INSERT ON q WHEN NOT "
                           "ST_IsEmpty(NEW.SHAPE) BEGIN INSERT INTO seen VALUES (NEW.rowid); END",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    reopen();
    load("p", 100);
    load("q", 100);
    IFeaturePtr moved = fws_->OpenFeatureClass("p")->GetFeature(150);
    moved->PutRefShape(point(1000, 1000));
    moved->Store();
    moved = nullptr;
    ws_ = nullptr;
    fws_ = nullptr;
    EXPECT_EQ(countRows(path_, "SELECT count(*) FROM seen"), 100) << "the other program's trigger saw our rows";
    for (const char* name : {"p", "q"}) {
        const std::string r = std::string("rtree_") + name + "_SHAPE";
        EXPECT_EQ(countRows(path_, "SELECT count(*) FROM " + r), 200) << name;
        EXPECT_EQ(countRows(path_, "SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND name LIKE '" + r + "%'"), 6) << name;
        EXPECT_EQ(countRows(path_, "SELECT count(*) FROM " + r + " WHERE id = (SELECT id FROM " + r + " WHERE minx > 999)"),
                  std::string(name) == "p" ? 1 : 0)
            << name << ": the update trigger moved the entry";
        EXPECT_EQ(countRows(path_, "SELECT rtreecheck('" + r + "') = 'ok'"), 1) << name;
    }
}

// A class gets its R-tree, triggers and extension row with its first rows; one that stays empty
// has none, and an undone load leaves none behind.
TEST_F(GdbTest, RTreeComesWithTheFirstRowsOnly) {
    auto make = [&](const char* name) {
        return fws_->CreateFeatureClass(name, featureFields(esriGeometryPoint, false, {}), nullptr, nullptr, esriFTSimple,
                                        "SHAPE");
    };
    IFeatureClassPtr empty = make("empty"), undone = make("undone"), filled = make("filled"), small = make("small");
    IWorkspaceEditPtr edit(ws_);
    auto load = [&](IFeatureClass* fc, int n) {
        IFeatureCursorPtr ins = fc->Insert(VARIANT_TRUE);
        IFeatureBufferPtr b = fc->CreateFeatureBuffer();
        for (int i = 0; i < n; ++i) {
            b->PutRefShape(point(i, i));
            ins->InsertFeature(b);
        }
    };
    edit->StartEditing(VARIANT_FALSE);
    load(undone, 100);
    edit->StopEditing(VARIANT_FALSE);
    edit->StartEditing(VARIANT_FALSE);
    edit->StartEditOperation();
    load(undone, 100);
    edit->AbortEditOperation();
    load(filled, 300);
    load(small, 3);
    // Spatial searches and updates inside the session see the R-tree the class is about to get.
    ISpatialFilterPtr f(CLSID_SpatialFilter);
    IEnvelopePtr box(CLSID_Envelope);
    box->PutCoords(9.5, 9.5, 20.5, 20.5);
    f->PutRefGeometry(box);
    f->PutSpatialRel(esriSpatialRelIntersects);
    EXPECT_EQ(filled->FeatureCount(f), 11);
    IFeaturePtr moved = filled->GetFeature(1);
    moved->PutRefShape(point(15, 15));
    moved->Store();
    EXPECT_EQ(filled->FeatureCount(f), 12);
    EXPECT_EQ(empty->FeatureCount(f), 0);
    edit->StopEditing(VARIANT_TRUE);
    empty = undone = filled = small = nullptr;
    moved = nullptr;
    edit = nullptr;
    fws_ = nullptr;
    ws_ = nullptr;

    for (const char* name : {"empty", "undone"}) {
        EXPECT_EQ(countRows(path_, std::string("SELECT count(*) FROM sqlite_master WHERE name LIKE 'rtree_") + name + "%'"), 0) << name;
        EXPECT_EQ(countRows(path_, std::string("SELECT count(*) FROM gpkg_extensions WHERE table_name = '") + name + "'"), 0) << name;
    }
    for (auto [name, rows] : {std::pair{"filled", 300}, std::pair{"small", 3}}) {
        const std::string n = name;
        EXPECT_EQ(countRows(path_, "SELECT count(*) FROM rtree_" + n + "_SHAPE"), rows) << n;
        EXPECT_EQ(countRows(path_, "SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND tbl_name = '" + n + "'"), 6) << n;
        EXPECT_EQ(countRows(path_, "SELECT count(*) FROM gpkg_extensions WHERE table_name = '" + n +
                                       "' AND column_name = 'SHAPE' AND extension_name = 'gpkg_rtree_index'"), 1) << n;
    }
    EXPECT_EQ(countRows(path_, "SELECT count(*) FROM rtree_filled_SHAPE WHERE id = 1 AND minx <= 15 AND maxx >= 15"), 1);
    // Another program's deletes go through the triggers now in place.
    sqlite3* db = nullptr;
    sqlite3_open(path_.c_str(), &db);
    EXPECT_EQ(sqlite3_exec(db, "DELETE FROM filled WHERE OBJECTID BETWEEN 2 AND 11", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    EXPECT_EQ(countRows(path_, "SELECT count(*) FROM rtree_filled_SHAPE"), 290);
    if (std::system("ogrinfo --version > /dev/null 2>&1") == 0) {
        std::string all = runCommand("ogrinfo -ro -al -so '" + path_ + "' 2>&1");
        EXPECT_NE(all.find("Layer name: empty"), std::string::npos) << all;
        EXPECT_NE(all.find("Feature Count: 290"), std::string::npos) << all;
        EXPECT_EQ(all.find("ERROR"), std::string::npos) << all;
        EXPECT_EQ(all.find("Warning"), std::string::npos) << all;
    }
    IFeatureWorkspacePtr fws(openGdb(path_));
    EXPECT_EQ(fws->OpenFeatureClass("filled")->FeatureCount(f), 11);
}

// A class without an R-tree (another program dropped it while we had the file open) is still
// searched by extent, and takes one, filled with every row, with its next rows.
TEST_F(GdbTest, SpatialFilterWorksWithoutAnRTree) {
    IFeatureClassPtr fc = savedPoints(50, [](int i) { return point(i, 0); });
    ISpatialFilterPtr f(CLSID_SpatialFilter);
    IEnvelopePtr box(CLSID_Envelope);
    box->PutCoords(9.5, -1, 20.5, 1);
    f->PutRefGeometry(box);
    f->PutSpatialRel(esriSpatialRelIntersects);
    EXPECT_EQ(fc->FeatureCount(f), 11);

    sqlite3* db = nullptr;
    sqlite3_open(path_.c_str(), &db);
    for (const char* sql : {"DROP TRIGGER rtree_p_SHAPE_insert", "DROP TRIGGER rtree_p_SHAPE_update1",
                            "DROP TRIGGER rtree_p_SHAPE_update2", "DROP TRIGGER rtree_p_SHAPE_update3",
                            "DROP TRIGGER rtree_p_SHAPE_update4", "DROP TRIGGER rtree_p_SHAPE_delete",
                            "DROP TABLE rtree_p_SHAPE", "DELETE FROM gpkg_extensions WHERE table_name = 'p'"})
        EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    sqlite3_close(db);

    EXPECT_EQ(fc->FeatureCount(f), 11);
    IFeatureBufferPtr b = fc->CreateFeatureBuffer();
    b->PutRefShape(point(10, 0.5));
    fc->Insert(VARIANT_TRUE)->InsertFeature(b);
    EXPECT_EQ(fc->FeatureCount(f), 12);
    fc = nullptr;
    b = nullptr;
    fws_ = nullptr;
    ws_ = nullptr;
    EXPECT_EQ(countRows(path_, "SELECT count(*) FROM rtree_p_SHAPE"), 51);
    EXPECT_EQ(countRows(path_, "SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND tbl_name = 'p'"), 6);
}

// ---------------------------------------------------------------------------------------------
// GDAL reads what we wrote
// ---------------------------------------------------------------------------------------------
TEST_F(GdbTest, OgrinfoReadsClassesFeaturesAndExactCoordinates) {
    if (std::system("ogrinfo --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "ogrinfo is not installed";
    IFeatureDatasetPtr ds = fws_->CreateFeatureDataset("S57", wgs84());
    IFeatureClassPtr snd = ds->CreateFeatureClass("SoundingFeature",
                                                  featureFields(esriGeometryPoint, true, {{L"NAME", esriFieldTypeString, 12}, {L"DEPTH", esriFieldTypeDouble, 20}}),
                                                  nullptr, nullptr, esriFTSimple, "SHAPE");
    IFeatureClassPtr ln = ds->CreateFeatureClass("LineFeature",
                                                 featureFields(esriGeometryPolyline, false, {{L"OBJL", esriFieldTypeString, 6}, {L"RVER", esriFieldTypeSmallInteger, 2}}),
                                                 nullptr, nullptr, esriFTSimple, "SHAPE");
    IFeatureClassPtr ar = ds->CreateFeatureClass("AreaFeature", featureFields(esriGeometryPolygon, false, {{L"INFORM", esriFieldTypeString, 70}}),
                                                 nullptr, nullptr, esriFTSimple, "SHAPE");
    ITablePtr tb = fws_->CreateTable("dsid", tableFields({{L"DSNM", esriFieldTypeString, 70}, {L"INTU", esriFieldTypeInteger, 2}}));
    IWorkspaceEditPtr(ws_)->StartEditing(VARIANT_FALSE);
    {
        IFeatureBufferPtr b = snd->CreateFeatureBuffer();
        b->PutRefShape(pointZ(-70.123456789012, 42.987654321098, -12.3));
        b->PutValue(2, _variant_t("VI0000000042"));
        b->PutValue(3, _variant_t(-12.3));
        snd->Insert(VARIANT_TRUE)->InsertFeature(b);
        b = ln->CreateFeatureBuffer();
        b->PutRefShape(polyline({{-70.5, 42.25}, {-70.25, 42.5}, {-70.125, 42.0625}}));
        b->PutValue(2, _variant_t("COALNE"));
        b->PutValue(3, _variant_t("1"));
        ln->Insert(VARIANT_TRUE)->InsertFeature(b);
        b = ar->CreateFeatureBuffer();
        b->PutRefShape(polygon({{0, 0}, {0, 1}, {1, 1}, {1, 0}}));
        b->PutValue(2, _variant_t(L"Caf\u00e9 'quoted'"));
        ar->Insert(VARIANT_TRUE)->InsertFeature(b);
        IRowBufferPtr r = tb->CreateRowBuffer();
        r->PutValue(1, _variant_t("US5MA12M.000"));
        r->PutValue(2, _variant_t("4"));
        tb->Insert(VARIANT_TRUE)->InsertRow(r);
    }
    IWorkspaceEditPtr(ws_)->StopEditing(VARIANT_TRUE);
    snd = ln = ar = nullptr;
    tb = nullptr;
    ds = nullptr;
    fws_ = nullptr;
    ws_ = nullptr;

    std::string list = runCommand("ogrinfo -ro '" + path_ + "' 2>&1");
    EXPECT_NE(list.find("SoundingFeature (3D Point)"), std::string::npos) << list;
    EXPECT_NE(list.find("LineFeature (Multi Line String)"), std::string::npos) << list;
    EXPECT_NE(list.find("AreaFeature (Multi Polygon)"), std::string::npos) << list;
    EXPECT_NE(list.find("dsid (None)"), std::string::npos) << list;
    EXPECT_EQ(list.find("gdb_items"), std::string::npos) << "side tables stay hidden: " << list;

    std::string all = runCommand("ogrinfo -ro -al -q '" + path_ + "' 2>&1");
    EXPECT_NE(all.find("POINT Z (-70.123456789012 42.987654321098 -12.3)"), std::string::npos) << all;
    EXPECT_NE(all.find("NAME (String) = VI0000000042"), std::string::npos) << all;
    EXPECT_NE(all.find("DEPTH (Real) = -12.3"), std::string::npos) << all;
    EXPECT_NE(all.find("MULTILINESTRING ((-70.5 42.25,-70.25 42.5,-70.125 42.0625))"), std::string::npos) << all;
    EXPECT_NE(all.find("OBJL (String) = COALNE"), std::string::npos) << all;
    EXPECT_NE(all.find("RVER (Integer(Int16)) = 1"), std::string::npos) << all;
    EXPECT_NE(all.find("INFORM (String) = Caf\xc3\xa9 'quoted'"), std::string::npos) << all;
    EXPECT_NE(all.find("DSNM (String) = US5MA12M.000"), std::string::npos) << all;
    EXPECT_NE(all.find("INTU (Integer) = 4"), std::string::npos) << all;
    EXPECT_EQ(all.find("ERROR"), std::string::npos) << all;
    EXPECT_EQ(all.find("Warning"), std::string::npos) << all;
}

// Large loads build the R-tree packed, small ones insert into it; either way it stays valid and
// spatial searches find exactly the features in the box.
TEST_F(GdbTest, RTreeStaysValidThroughBulkAndSmallLoads) {
    IFeatureClassPtr fc = fws_->CreateFeatureClass("vc", featureFields(esriGeometryPoint, false, {}), nullptr, nullptr,
                                                   esriFTSimple, "SHAPE");
    IWorkspaceEditPtr edit(ws_);
    std::vector<std::pair<double, double>> xy;
    auto load = [&](int n, bool editing) {
        if (editing) edit->StartEditing(VARIANT_FALSE);
        IFeatureCursorPtr ins = fc->Insert(VARIANT_TRUE);
        IFeatureBufferPtr b = fc->CreateFeatureBuffer();
        for (int i = 0; i < n; ++i) {
            const std::size_t k = xy.size();
            xy.emplace_back(-71.0 + double((k * 7919) % 1000) * 1e-3, 42.0 + double((k * 104729) % 1009) * 1e-3);
            b->PutRefShape(point(xy.back().first, xy.back().second));
            ins->InsertFeature(b);
        }
        if (editing) edit->StopEditing(VARIANT_TRUE);
    };
    load(3000, true);   // packed into the empty tree
    load(20, false);    // inserted one by one
    {
        // A discarded load leaves the tree and its trigger as they were.
        edit->StartEditing(VARIANT_FALSE);
        IFeatureCursorPtr ins = fc->Insert(VARIANT_TRUE);
        IFeatureBufferPtr b = fc->CreateFeatureBuffer();
        for (int i = 0; i < 500; ++i) {
            b->PutRefShape(point(-70.7, 42.2));
            ins->InsertFeature(b);
        }
        edit->StopEditing(VARIANT_FALSE);
    }
    load(5000, true);   // rebuilt with what was there
    fc->GetFeature(10)->Delete();
    xy[9] = {1e9, 1e9};
    ISpatialFilterPtr f(CLSID_SpatialFilter);
    IEnvelopePtr box(CLSID_Envelope);
    box->PutCoords(-70.8, 42.1, -70.55, 42.4);
    f->PutRefGeometry(box);
    f->PutSpatialRel(esriSpatialRelIntersects);
    long expected = 0;
    for (auto [x, y] : xy) expected += x >= -70.8 && x <= -70.55 && y >= 42.1 && y <= 42.4;
    EXPECT_EQ(fc->FeatureCount(f), expected);
    EXPECT_GT(expected, 100);
    fc = nullptr;
    f = nullptr;
    edit = nullptr;
    fws_ = nullptr;
    ws_ = nullptr;
    EXPECT_EQ(countRows(path_, "SELECT count(*) FROM rtree_vc_SHAPE"), 8019);
    sqlite3* db = nullptr;
    sqlite3_open(path_.c_str(), &db);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT rtreecheck('rtree_vc_SHAPE')", -1, &st, nullptr);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "ok");
    sqlite3_finalize(st);
    // The insert trigger is back for other programs.
    sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND name = 'rtree_vc_SHAPE_insert'", -1, &st, nullptr);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), 1);
    sqlite3_finalize(st);
    sqlite3_close(db);
}

// A GeoPackage that GDAL wrote (its own object id name, no side tables) opens, reads, filters and
// takes new features, its R-tree kept by its own triggers and our ST_ functions.
TEST_F(GdbTest, GeoPackageWrittenByGdalOpensAndTakesFeatures) {
    if (std::system("ogr2ogr --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "ogr2ogr is not installed";
    {
        IFeatureClassPtr fc = fws_->CreateFeatureClass("src", featureFields(esriGeometryPoint, false, {{L"NAME", esriFieldTypeString, 12}, {L"N", esriFieldTypeInteger, 4}}),
                                                       nullptr, nullptr, esriFTSimple, "SHAPE");
        IFeatureCursorPtr ins = fc->Insert(VARIANT_TRUE);
        IFeatureBufferPtr b = fc->CreateFeatureBuffer();
        for (int i = 0; i < 10; ++i) {
            b->PutRefShape(point(i, -i));
            b->PutValue(2, _variant_t(("P" + std::to_string(i)).c_str()));
            b->PutValue(3, _variant_t(long(i * 100)));
            ins->InsertFeature(b);
        }
    }
    fws_ = nullptr;
    ws_ = nullptr;
    const std::string gdal = (dir_.path / "gdal.gpkg").string();
    ASSERT_EQ(std::system(("ogr2ogr -f GPKG -nln pts '" + gdal + "' '" + path_ + "' src > /dev/null 2>&1").c_str()), 0);
    IFeatureWorkspacePtr fws(openGdb(gdal));
    IFeatureClassPtr pts = fws->OpenFeatureClass("PTS");
    EXPECT_EQ(pts->GetShapeType(), esriGeometryPoint);
    EXPECT_EQ(pts->FeatureCount(nullptr), 10);
    const LONG n = pts->FindField("n");
    ASSERT_GE(n, 0);
    ISpatialFilterPtr f(CLSID_SpatialFilter);
    IEnvelopePtr box(CLSID_Envelope);
    box->PutCoords(2.5, -6.5, 6.5, -2.5);
    f->PutRefGeometry(box);
    f->PutSpatialRel(esriSpatialRelIntersects);
    IFeatureCursorPtr c = pts->Search(f, VARIANT_FALSE);
    long sum = 0;
    for (IFeaturePtr ft = c->NextFeature(); ft; ft = c->NextFeature()) sum += long(ft->GetValue(n));
    EXPECT_EQ(sum, 300 + 400 + 500 + 600);
    IFeatureBufferPtr b = pts->CreateFeatureBuffer();
    b->PutRefShape(point(4, -4.25));
    b->PutValue(n, _variant_t(7L));
    pts->Insert(VARIANT_TRUE)->InsertFeature(b);
    EXPECT_EQ(pts->FeatureCount(f), 5);
    pts = nullptr;
    b = nullptr;
    c = nullptr;
    f = nullptr;
    fws = nullptr;
    std::string list = runCommand("ogrinfo -ro '" + gdal + "' 2>&1");
    EXPECT_EQ(list.find("gdb_items"), std::string::npos) << "our side tables stay hidden: " << list;
    std::string added = runCommand("ogrinfo -ro -q '" + gdal + "' pts -fid 11 2>&1");
    EXPECT_NE(added.find("N (Integer) = 7"), std::string::npos) << added;
    EXPECT_NE(added.find(" -4.25)"), std::string::npos) << added;
    EXPECT_EQ(countRows(gdal, "SELECT count(*) FROM rtree_pts_SHAPE"), 11);
}

// The export walks one class while it writes primitives into another and searches them.
TEST_P(BackendTest, WritesWhileASearchIsOpen) {
    IFeatureClassPtr src = fws_->CreateFeatureClass("src", featureFields(esriGeometryPoint, false, {}), nullptr, nullptr,
                                                    esriFTSimple, "SHAPE");
    IFeatureClassPtr vc = fws_->CreateFeatureClass("vc", featureFields(esriGeometryPoint, false, {}), nullptr, nullptr,
                                                   esriFTSimple, "SHAPE");
    {
        IFeatureCursorPtr ins = src->Insert(VARIANT_TRUE);
        IFeatureBufferPtr b = src->CreateFeatureBuffer();
        for (int i = 0; i < 300; ++i) {
            b->PutRefShape(point(i % 17, i % 13));
            ins->InsertFeature(b);
        }
    }
    IWorkspaceEditPtr edit(ws_);
    edit->StartEditing(VARIANT_FALSE);
    ISpatialFilterPtr all(CLSID_SpatialFilter);
    IEnvelopePtr world(CLSID_Envelope);
    world->PutCoords(-180, -90, 180, 90);
    all->PutRefGeometry(world);
    IFeatureCursorPtr walk = src->Search(all, VARIANT_TRUE);
    int walked = 0, made = 0;
    for (IFeaturePtr f = walk->NextFeature(); f; f = walk->NextFeature(), ++walked) {
        // A node at the feature's point, unless one is there.
        ISpatialFilterPtr at(CLSID_SpatialFilter);
        at->PutRefGeometry(f->GetShape());
        at->PutSpatialRel(esriSpatialRelIntersects);
        IFeatureCursorPtr found = vc->Search(at, VARIANT_FALSE);
        if (found->NextFeature()) continue;
        IFeatureBufferPtr b = vc->CreateFeatureBuffer();
        b->PutRefShape(f->GetShapeCopy());
        vc->Insert(VARIANT_TRUE)->InsertFeature(b);
        ++made;
    }
    edit->StopEditing(VARIANT_TRUE);
    EXPECT_EQ(walked, 300);
    EXPECT_EQ(made, 17 * 13);
    EXPECT_EQ(vc->FeatureCount(nullptr), 17 * 13);
}

TEST_P(BackendTest, TopologyDefinitionIsStored) {
    IFeatureDatasetPtr ds = fws_->CreateFeatureDataset("S57", wgs84());
    IFeatureClassPtr area = ds->CreateFeatureClass("CoastlineAreaFeature", featureFields(esriGeometryPolygon, false, {}),
                                                   nullptr, nullptr, esriFTSimple, "SHAPE");
    IFeatureClassPtr line = ds->CreateFeatureClass("LineFeature", featureFields(esriGeometryPolyline, false, {}), nullptr,
                                                   nullptr, esriFTSimple, "SHAPE");
    IFeatureClassPtr snd = ds->CreateFeatureClass("SoundingFeature", featureFields(esriGeometryPoint, true, {}), nullptr,
                                                  nullptr, esriFTSimple, "SHAPE");
    IFeatureClassPtr outside = fws_->CreateFeatureClass("ve", featureFields(esriGeometryPolyline, false, {}), nullptr,
                                                        nullptr, esriFTSimple, "SHAPE");
    ITopologyContainerPtr tc(ds);
    EXPECT_EQ(resultOf([&] { tc->CreateTopology("S57_Topology", 0.0); }), E_INVALIDARG);
    ITopologyPtr topo = tc->CreateTopology("S57_Topology", 1e-7);
    topo->AddClass(area);
    topo->AddClass(line);
    EXPECT_EQ(resultOf([&] { topo->AddClass(line); }), GDB_E_NAME_EXISTS);
    EXPECT_EQ(resultOf([&] { topo->AddClass(outside); }), E_INVALIDARG) << "not in the dataset";
    EXPECT_EQ(resultOf([&] { tc->CreateTopology("s57_topology", 1.0); }), GDB_E_NAME_EXISTS);
    EXPECT_EQ(ITopologyClassPtr(line)->GetIsInTopology(), VARIANT_TRUE);
    EXPECT_EQ(ITopologyClassPtr(snd)->GetIsInTopology(), VARIANT_FALSE);
    topo = nullptr;
    tc = nullptr;
    area = line = snd = outside = nullptr;
    ds = nullptr;
    reopen();
    tc = IFeatureWorkspacePtr(ws_)->OpenFeatureDataset("S57");
    ASSERT_EQ(tc->GetTopologyCount(), 1);
    topo = tc->GetTopology(0);
    EXPECT_EQ(std::string(topo->GetName()), "S57_Topology");
    EXPECT_EQ(topo->GetClusterTolerance(), 1e-7);
    IEnumFeatureClassPtr members = topo->GetClasses();
    EXPECT_EQ(std::string(IDatasetPtr(members->Next())->GetName()), "CoastlineAreaFeature");
    EXPECT_EQ(std::string(IDatasetPtr(members->Next())->GetName()), "LineFeature");
    EXPECT_FALSE(members->Next());
    EXPECT_EQ(std::string(ITopologyClassPtr(IFeatureWorkspacePtr(ws_)->OpenFeatureClass("linefeature"))->GetTopology()->GetName()),
              "S57_Topology");
}

// Outside an edit session the batch reaches the file at a flush once it is a second old, so a
// long run without an edit session is not lost in one piece; inside one, only StopEditing saves.
TEST_P(BackendTest, FlushCommitsAnAgedBatchButNeverAnEditSession) {
    ITablePtr t = fws_->CreateTable("t", tableFields({{L"A", esriFieldTypeInteger, 4}}));
    ICursorPtr c = t->Insert(VARIANT_TRUE);
    IRowBufferPtr b = t->CreateRowBuffer();
    c->InsertRow(b);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    c->InsertRow(b);
    c->Flush();
    EXPECT_EQ(storedRows(enterprise(), path_, pgdb_.get(), "SELECT count(*) FROM t"), 2);
    IWorkspaceEditPtr edit(ws_);
    edit->StartEditing(VARIANT_FALSE);
    c->InsertRow(b);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    c->InsertRow(b);
    c->Flush();
    EXPECT_EQ(storedRows(enterprise(), path_, pgdb_.get(), "SELECT count(*) FROM t"), 2);
    edit->StopEditing(VARIANT_TRUE);
    EXPECT_EQ(storedRows(enterprise(), path_, pgdb_.get(), "SELECT count(*) FROM t"), 4);
}

// Every class the converter creates by class id or ProgID answers its interfaces.
struct Creatable {
    const char* name;
    CLSID clsid;
    const char* progId;
    GUID iid;
};
void PrintTo(const Creatable& c, std::ostream* os) { *os << c.name; }
const Creatable kCreatable[] = {
    {"AccessWorkspaceFactory", CLSID_AccessWorkspaceFactory, "Gdb.AccessWorkspaceFactory.1", IWorkspaceFactory::iid},
    {"SdeWorkspaceFactory", CLSID_SdeWorkspaceFactory, "Gdb.SdeWorkspaceFactory.1", IWorkspaceFactory::iid},
    {"FeatureClassDescription", CLSID_FeatureClassDescription, "Gdb.FeatureClassDescription.1", IFeatureClassDescription::iid},
    {"ObjectClassDescription", CLSID_ObjectClassDescription, "Gdb.ObjectClassDescription.1", IObjectClassDescription::iid},
    {"Field", CLSID_Field, "Gdb.Field.1", IFieldEdit::iid},
    {"Fields", CLSID_Fields, "Gdb.Fields.1", IFieldsEdit::iid},
    {"GeometryDef", CLSID_GeometryDef, "Gdb.GeometryDef.1", IGeometryDefEdit::iid},
    {"QueryFilter", CLSID_QueryFilter, "Gdb.QueryFilter.1", IQueryFilter::iid},
    {"SpatialFilter", CLSID_SpatialFilter, "Gdb.SpatialFilter.1", ISpatialFilter::iid},
    {"TableSort", CLSID_TableSort, "Gdb.TableSort.1", ITableSort::iid},
    {"PropertySet", CLSID_PropertySet, "Gdb.PropertySet.1", IPropertySet::iid},
    {"SpatialReferenceWGS84", CLSID_SpatialReferenceWGS84, "Gdb.SpatialReferenceWGS84.1", ISpatialReference::iid},
};
class CreatableClass : public ::testing::TestWithParam<Creatable> {};
TEST_P(CreatableClass, ByClassIdAndProgId) {
    const Creatable& c = GetParam();
    IUnknownPtr byId(c.clsid);
    IUnknownPtr byProgId(c.progId);
    ASSERT_TRUE(byId && byProgId);
    void* p = nullptr;
    ASSERT_EQ(byId->QueryInterface(c.iid, &p), S_OK);
    static_cast<IUnknown*>(p)->Release();
    ASSERT_EQ(byProgId->QueryInterface(c.iid, &p), S_OK);
    static_cast<IUnknown*>(p)->Release();
}
INSTANTIATE_TEST_SUITE_P(Classes, CreatableClass, ::testing::ValuesIn(kCreatable),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(QueryFilterClass, IsNoSpatialFilter) {
    IQueryFilterPtr q(CLSID_QueryFilter);
    EXPECT_FALSE(ISpatialFilterPtr(q));
    ISpatialFilterPtr s(CLSID_SpatialFilter);
    EXPECT_TRUE(IQueryFilterPtr(s));
    EXPECT_EQ(s->GetSpatialRel(), esriSpatialRelIntersects);
}

// A class opened again after its object is gone shows the columns added meanwhile, by us or by
// another program, and is gone after the edit that made it is undone.
TEST_F(GdbTest, ClassOpenedAgainShowsTheSchemaOfNow) {
    IWorkspaceEditPtr edit(ws_);
    fws_->CreateTable("t", tableFields({{L"A", esriFieldTypeInteger, 4}}));
    {
        ITablePtr t = fws_->OpenTable("t");
        IFieldEditPtr f(CLSID_Field);
        f->PutName("OURS");
        f->PutType(esriFieldTypeString);
        f->PutLength(8);
        t->AddField(IFieldPtr(f));
    }
    EXPECT_EQ(fws_->OpenTable("T")->FindField("ours"), 2);
    edit->StartEditing(VARIANT_FALSE);  // commits the batch, so that another program can write
    edit->StopEditing(VARIANT_TRUE);
    sqlite3* db = nullptr;
    sqlite3_open(path_.c_str(), &db);
    EXPECT_EQ(sqlite3_exec(db, "ALTER TABLE t ADD COLUMN THEIRS DOUBLE", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    ITablePtr t = fws_->OpenTable("t");
    EXPECT_EQ(t->FindField("theirs"), 3);
    EXPECT_EQ(t->GetFields()->GetField(3)->GetType(), esriFieldTypeDouble);
    t = nullptr;

    edit->StartEditing(VARIANT_FALSE);
    fws_->CreateTable("undone", tableFields({}));
    EXPECT_EQ(fws_->OpenTable("undone")->FindField("OBJECTID"), 0);
    edit->StopEditing(VARIANT_FALSE);
    EXPECT_EQ(resultOf([&] { fws_->OpenTable("undone"); }), GDB_E_NOT_FOUND);
}

TEST_P(BackendTest, AddedFieldsAndGoneRowsAreSeenByEveryObject) {
    ITablePtr t = fws_->CreateTable("atto", tableFields({{L"LNAM", esriFieldTypeString, 17}}));
    IRowPtr row = t->CreateRow();
    row->PutValue(1, _variant_t("0226000000010001"));
    row->Store();
    IFieldEditPtr f(CLSID_Field);
    f->PutName("ATVL");
    f->PutType(esriFieldTypeString);
    f->PutLength(1024);
    t->AddField(IFieldPtr(f));
    EXPECT_EQ(resultOf([&] { t->AddField(IFieldPtr(f)); }), GDB_E_NAME_EXISTS);
    ITablePtr again = fws_->OpenTable("ATTO");
    const LONG atvl = again->FindField("atvl");
    ASSERT_EQ(atvl, 2);
    EXPECT_EQ(again->GetRow(row->GetOID())->GetValue(atvl).vt, VT_NULL);
    IRowPtr fresh = again->CreateRow();
    fresh->PutValue(atvl, _variant_t(std::string(1024, 'x').c_str()));
    fresh->Store();
    EXPECT_EQ(text(t->GetRow(fresh->GetOID())->GetValue(atvl)).size(), 1024u);

    const LONG gone = row->GetOID();
    row->Delete();
    EXPECT_EQ(resultOf([&] { t->GetRow(gone); }), GDB_E_NO_ROW);
    row->PutValue(1, _variant_t("x"));
    EXPECT_EQ(resultOf([&] { row->Store(); }), GDB_E_NO_ROW) << "storing a deleted row must not pass for success";
}

INSTANTIATE_TEST_SUITE_P(Backends, BackendTest, ::testing::Values(Backend::Personal, Backend::Enterprise),
                         [](const auto& i) { return backendName(i.param); });
