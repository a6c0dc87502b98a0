// tests/platform/gdb/pg_test.cpp: the enterprise geodatabase on the PostgreSQL test server: opening
// through a connection file makes the side tables and opens a remote workspace; a refused or lost
// connection says which server and database, and never the password; a lost edit session leaves
// nothing behind; spatial filters select on the server what they select in a GeoPackage.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "gdb_fixture.h"
#include "support/pg_server.h"
#include "support/test_data.h"

using namespace gdbtest;

namespace {

const std::string kSecret = "wr0ng-Secret-77";

std::string writeSde(const TempDir& dir, const std::string& text) {
    const std::string path = (dir.path / "conn.sde").string();
    std::ofstream(path) << text;
    return path;
}

std::string descriptionOf(const _com_error& e) { return e.Description().length() ? std::string(e.Description()) : ""; }

TEST(Enterprise, OpeningMakesTheSideTablesOnceWithNamesWithoutCase) {
    SKIP_WITHOUT_PG();
    pgtest::TempDatabase db;
    TempDir dir;
    const std::string sde = writeSde(dir, "INSTANCE=" + pgtest::keyword("host") + "\nDATABASE=" + db.name +
                                              "\nUSER=" + pgtest::keyword("user") + "\n");
    // The socket folder stands for the server; the port is the cluster's.
    setenv("PGPORT", pgtest::keyword("port").c_str(), 1);
    for (int i = 0; i < 2; ++i) {
        const _com_error e = openSde(sde);
        EXPECT_EQ(e.Error(), S_OK) << descriptionOf(e);
    }
    unsetenv("PGPORT");
    pgtest::Conn c = pgtest::connect(db.name);
    for (const char* t : {"gdb_items", "gdb_subtypes", "gdb_topologies", "gdb_topology_classes"})
        EXPECT_EQ(pgtest::query(c.get(), std::string("SELECT to_regclass('") + t + "') IS NOT NULL"), "t") << t;
    pgtest::query(c.get(), "INSERT INTO gdb_items (name, kind, versioned) VALUES ('S57', 'dataset', 1)");
    EXPECT_EQ(pgtest::query(c.get(), "SELECT versioned FROM gdb_items WHERE name = 's57'"), "1");
}

TEST(Enterprise, PasswordFromTheEnvironmentWhenTheFileHasNone) {
    SKIP_WITHOUT_PG();
    TempDir dir;
    const std::string sde = writeSde(dir, "SERVER=127.0.0.1\nINSTANCE=" + pgtest::keyword("port") + "\nDATABASE=" +
                                              pgtest::keyword("dbname") + "\nUSER=" + pgtest::keyword("user") + "\n");
    setenv("PGPASSWORD", pgtest::password().c_str(), 1);
    const _com_error e = openSde(sde);
    unsetenv("PGPASSWORD");
    EXPECT_EQ(e.Error(), S_OK) << descriptionOf(e);
}

struct RefusalCase {
    const char* name;
    bool tcp;              // 127.0.0.1 and the cluster's port, else the socket folder
    const char* instance;  // instead of the cluster's port
    const char* database;  // instead of the test database
    const char* version;
    HRESULT expected;
};
const RefusalCase kRefusals[] = {
    {"WrongPassword", true, nullptr, nullptr, nullptr, GDB_E_CONNECTION},
    {"UnknownDatabase", false, nullptr, "no_such_charts", nullptr, GDB_E_CONNECTION},
    {"ServerNotRunning", true, "1", nullptr, nullptr, GDB_E_CONNECTION},
    {"NamedVersion", false, nullptr, nullptr, "EDITOR.Survey2026", GDB_E_NOT_FOUND},
    {"DatabaseWithoutPostgis", false, nullptr, "postgres", nullptr, GDB_E_BAD_PATH},
};
void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }
class EnterpriseRefusal : public ::testing::TestWithParam<RefusalCase> {};
TEST_P(EnterpriseRefusal, NamesServerAndDatabaseButNeverThePassword) {
    SKIP_WITHOUT_PG();
    const RefusalCase& c = GetParam();
    TempDir dir;
    const std::string server = c.tcp ? "127.0.0.1" : pgtest::keyword("host");
    const std::string database = c.database ? c.database : pgtest::keyword("dbname");
    std::string text = "SERVER=" + server + "\nDATABASE=" + database + "\nUSER=" + pgtest::keyword("user") +
                       "\nPASSWORD=" + kSecret + "\n";
    if (c.tcp) text += "INSTANCE=" + std::string(c.instance ? c.instance : pgtest::keyword("port").c_str()) + "\n";
    if (c.version) text += "VERSION=" + std::string(c.version) + "\n";
    if (!c.tcp) setenv("PGPORT", pgtest::keyword("port").c_str(), 1);
    const _com_error e = openSde(writeSde(dir, text));
    unsetenv("PGPORT");
    const std::string why = descriptionOf(e);
    EXPECT_EQ(e.Error(), c.expected) << why;
    EXPECT_NE(why.find("server " + server), std::string::npos) << why;
    EXPECT_NE(why.find("database " + database), std::string::npos) << why;
    EXPECT_EQ(why.find(kSecret), std::string::npos) << why;
}
INSTANTIATE_TEST_SUITE_P(Connections, EnterpriseRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(Enterprise, ConnectionPropertiesCarryTheFileKeys) {
    TempDir dir;
    const std::string sde = writeSde(dir, "SERVER=db.example\nDATABASE=charts\nPASSWORD=" + kSecret + "\n");
    IWorkspaceFactoryPtr f(CLSID_SdeWorkspaceFactory);
    IPropertySetPtr p = f->ReadConnectionPropertiesFromFile(sde.c_str());
    EXPECT_EQ(std::string(_bstr_t(p->GetProperty(L"SERVER"))), "db.example");
    EXPECT_EQ(std::string(_bstr_t(p->GetProperty(L"DATABASE"))), "charts");
    EXPECT_EQ(f->IsWorkspace(sde.c_str()), VARIANT_TRUE);
    EXPECT_EQ(f->IsWorkspace((dir.path / "none.sde").string().c_str()), VARIANT_FALSE);
}

// A workspace of its own database on the test server, through a connection file that carries a
// password (the socket's trust ignores it).
class EnterpriseWorkspace : public GdbTest {
protected:
    void SetUp() override {
        open(Backend::Enterprise);
        if (IsSkipped()) return;
        path_ = (dir_.path / "secret.sde").string();
        std::ofstream(path_) << "INSTANCE=" << pgtest::keyword("host") << "\nDATABASE=" << pgdb_->name
                             << "\nUSER=" << pgtest::keyword("user") << "\nPASSWORD=" << kSecret << "\n";
        reopen();
    }
};

TEST_F(EnterpriseWorkspace, IsRemoteAndOneAConnectionFile) {
    EXPECT_EQ(ws_->GetType(), esriRemoteDatabaseWorkspace);
    EXPECT_EQ(std::string(ws_->GetPathName()), path_);
    EXPECT_TRUE(openGdb(path_) == ws_) << "one connection file, one workspace object";
    IWorkspaceFactoryPtr sde(CLSID_SdeWorkspaceFactory);
    EXPECT_TRUE(sde->OpenFromFile(path_.c_str()) == ws_);
}

TEST_F(EnterpriseWorkspace, VersionedFlagIsTheSideTables) {
    IFeatureDatasetPtr ds = fws_->CreateFeatureDataset("S57", wgs84());
    EXPECT_EQ(IVersionedObjectPtr(ds)->GetIsRegisteredAsVersioned(), VARIANT_FALSE);
    ws_ = nullptr;
    fws_ = nullptr;
    ds = nullptr;
    // Set as another program (or `tarvo create --versioned`) sets it.
    pgtest::Conn c = pgtest::connect(pgdb_->name);
    pgtest::query(c.get(), "UPDATE gdb_items SET versioned = 1 WHERE name = 's57'");
    reopen();
    EXPECT_EQ(IVersionedObjectPtr(fws_->OpenFeatureDataset("S57"))->GetIsRegisteredAsVersioned(), VARIANT_TRUE);
}

TEST_F(EnterpriseWorkspace, LostConnectionRollsTheEditBackAndTheNextWorkspaceWorks) {
    ITablePtr t = fws_->CreateTable("dsid", tableFields({{L"DSNM", esriFieldTypeString, 12}}));
    IWorkspaceEditPtr edit(ws_);
    edit->StartEditing(VARIANT_FALSE);
    ICursorPtr ins = t->Insert(VARIANT_TRUE);
    IRowBufferPtr b = t->CreateRowBuffer();
    for (int i = 0; i < 50; ++i) {
        b->PutValue(1, _variant_t("US5MA12M.000"));
        ins->InsertRow(b);
    }
    EXPECT_EQ(t->RowCount(nullptr), 50) << "the edit session sees its own rows";
    // The server ends the session's backend mid-edit.
    pgtest::Conn other = pgtest::connect(pgdb_->name);
    EXPECT_EQ(pgtest::query(other.get(), "SELECT count(*) FROM (SELECT pg_terminate_backend(pid) AS ended FROM pg_stat_activity "
                                         "WHERE datname = current_database() AND pid <> pg_backend_pid()) s WHERE ended"),
              "1");
    for (int i = 0; i < 50; ++i) {
        b->PutValue(1, _variant_t("US4CN21M.000"));
        ins->InsertRow(b);
    }
    std::string why;
    HRESULT hr = S_OK;
    try {
        edit->StopEditing(VARIANT_TRUE);
    } catch (const _com_error& e) {
        hr = e.Error();
        why = descriptionOf(e);
    }
    EXPECT_EQ(hr, GDB_E_CONNECTION) << why;
    EXPECT_NE(why.find("database " + pgdb_->name), std::string::npos) << why;
    EXPECT_NE(why.find("server " + pgtest::keyword("host")), std::string::npos) << why;
    EXPECT_NE(why.find("rolled back"), std::string::npos) << why;
    EXPECT_EQ(why.find(kSecret), std::string::npos) << why;
    EXPECT_EQ(resultOf([&] { t->RowCount(nullptr); }), GDB_E_CONNECTION) << "the lost workspace refuses, it does not hang";
    EXPECT_EQ(pgtest::query(other.get(), "SELECT count(*) FROM dsid"), "0");

    // A workspace opened afterwards connects anew.
    ins = nullptr;
    b = nullptr;
    t = nullptr;
    edit = nullptr;
    reopen();
    ITablePtr again = fws_->OpenTable("DSID");
    IWorkspaceEditPtr(ws_)->StartEditing(VARIANT_FALSE);
    IRowBufferPtr one = again->CreateRowBuffer();
    one->PutValue(1, _variant_t("US5MA12M.000"));
    again->Insert(VARIANT_TRUE)->InsertRow(one);
    IWorkspaceEditPtr(ws_)->StopEditing(VARIANT_TRUE);
    EXPECT_EQ(pgtest::query(other.get(), "SELECT count(*) FROM dsid"), "1");
}

// The features of a real cell, imported into a GeoPackage and copied into the server through the
// geodatabase objects: every spatial filter selects the same features in both.
TEST_F(EnterpriseWorkspace, SpatialFiltersSelectWhatTheGeoPackageSelects) {
    SKIP_WITHOUT_DATA();
    const std::string cell = testdata::path("enc/US5MA12M/US5MA12M.000");
    if (!std::filesystem::exists(cell)) GTEST_SKIP() << cell << " is absent";
    const std::string tool = std::string(TARVO_BINARY_DIR) + "/bin/tarvo";
    if (!std::filesystem::exists(tool)) GTEST_SKIP() << tool << " is not built";
    // The import's log goes beside its input: the cell is linked into the scratch folder.
    const std::filesystem::path input = dir_.path / "US5MA12M.000";
    std::filesystem::create_symlink(cell, input);
    const std::filesystem::path gpkg = dir_.path / "cell.gpkg";
    const std::string command = "'" + tool + "' import '" + input.string() + "' '" + gpkg.string() + "' </dev/null >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    IFeatureWorkspacePtr personal = openGdb(gpkg.string());
    IFeatureDatasetPtr source = personal->OpenFeatureDataset("S57");
    IFeatureDatasetPtr target = fws_->CreateFeatureDataset("S57", wgs84());

    // Copies, and the copy's object id of every source feature.
    struct Pair {
        IFeatureClassPtr from, to;
        std::map<LONG, LONG> ids;
    };
    std::vector<Pair> pairs;
    IWorkspaceEditPtr(ws_)->StartEditing(VARIANT_FALSE);
    IFeatureClassContainerPtr classes(source);
    for (LONG i = 0; i < classes->GetClassCount(); ++i) {
        IFeatureClassPtr from = classes->GetClass(i);
        if (from->FeatureCount(nullptr) == 0) continue;
        Pair p{from, target->CreateFeatureClass(IDatasetPtr(from)->GetName(), from->GetFields(), nullptr, nullptr, esriFTSimple,
                                                from->GetShapeFieldName(), ""),
               {}};
        IFeatureCursorPtr in = p.to->Insert(VARIANT_TRUE);
        IFeatureBufferPtr b = p.to->CreateFeatureBuffer();
        const LONG oid = from->FindField(from->GetOIDFieldName());
        IFeatureCursorPtr rows = from->Search(nullptr, VARIANT_FALSE);
        for (IFeaturePtr f = rows->NextFeature(); f; f = rows->NextFeature()) {
            for (LONG k = 0; k < from->GetFields()->GetFieldCount(); ++k)
                if (k != oid) b->PutValue(k, f->GetValue(k));
            p.ids[f->GetOID()] = LONG(in->InsertFeature(b));
        }
        pairs.push_back(std::move(p));
    }
    IWorkspaceEditPtr(ws_)->StopEditing(VARIANT_TRUE);
    ASSERT_GE(pairs.size(), 5u);

    // Filters: areas and lines of the cell itself, and an envelope around the middle of it.
    std::vector<IGeometryPtr> shapes;
    for (const Pair& p : pairs) {
        if (p.from->GetShapeType() == esriGeometryPoint || shapes.size() >= 6) continue;
        IFeatureCursorPtr rows = p.from->Search(nullptr, VARIANT_FALSE);
        IFeaturePtr f = rows->NextFeature();
        if (f = rows->NextFeature(); f) shapes.push_back(f->GetShapeCopy());
    }
    ASSERT_FALSE(shapes.empty());
    IEnvelopePtr middle(CLSID_Envelope);
    {
        IEnvelopePtr all = shapes.front()->GetEnvelope();
        for (auto& g : shapes) all->Union(g->GetEnvelope());
        const double w = all->GetWidth(), h = all->GetHeight();
        middle->PutCoords(all->GetXMin() + w / 3, all->GetYMin() + h / 3, all->GetXMax() - w / 3, all->GetYMax() - h / 3);
        shapes.push_back(middle);
    }
    const esriSpatialRelEnum relations[] = {esriSpatialRelIntersects, esriSpatialRelContains, esriSpatialRelWithin,
                                            esriSpatialRelTouches, esriSpatialRelEnvelopeIntersects};
    long selected = 0;
    for (std::size_t g = 0; g < shapes.size(); ++g)
        for (esriSpatialRelEnum rel : relations) {
            ISpatialFilterPtr f(CLSID_SpatialFilter);
            f->PutRefGeometry(shapes[g]);
            f->PutSpatialRel(rel);
            for (const Pair& p : pairs) {
                std::set<LONG> inGpkg, onServer;
                IFeatureCursorPtr a = p.from->Search(f, VARIANT_TRUE);
                for (IFeaturePtr x = a->NextFeature(); x; x = a->NextFeature()) inGpkg.insert(p.ids.at(x->GetOID()));
                IFeatureCursorPtr b = p.to->Search(f, VARIANT_TRUE);
                for (IFeaturePtr x = b->NextFeature(); x; x = b->NextFeature()) onServer.insert(x->GetOID());
                EXPECT_EQ(inGpkg, onServer) << std::string(IDatasetPtr(p.from)->GetName()) << " filter " << g << " relation " << int(rel);
                EXPECT_EQ(p.to->FeatureCount(f), long(onServer.size()));
                selected += long(onServer.size());
            }
        }
    EXPECT_GT(selected, 0);
}

// Subtype changes answer nothing and ride with the next call to the server: however the work ends,
// they are stored exactly when the rest of it is, and never after a discarded edit session.
enum class SubtypesEnd { Released, Saved, Discarded, SetWhileReading };
struct SubtypesCase {
    const char* name;
    SubtypesEnd end;
    const char* stored;  // code:name of each stored subtype, then the default code
};
const SubtypesCase kSubtypesCases[] = {
    {"WorkspaceReleased", SubtypesEnd::Released, "17:BCNLAT 75:LIGHTS default 17"},
    {"EditSessionSaved", SubtypesEnd::Saved, "17:BCNLAT 75:LIGHTS default 17"},
    {"EditSessionDiscarded", SubtypesEnd::Discarded, " default 0"},
    {"SetWhileACursorReads", SubtypesEnd::SetWhileReading, "17:BCNLAT 75:LIGHTS default 17"},
};

class EnterpriseSubtypes : public EnterpriseWorkspace, public ::testing::WithParamInterface<SubtypesCase> {};

TEST_P(EnterpriseSubtypes, AreStoredWithTheRestOfTheWork) {
    const SubtypesCase& c = GetParam();
    IFeatureClassPtr fc = fws_->CreateFeatureClass("PointFeature", featureFields(esriGeometryPoint, false, {{L"SUBTYPE", esriFieldTypeInteger, 4}}),
                                                   nullptr, nullptr, esriFTSimple, "SHAPE");
    IWorkspaceEditPtr edit(ws_);
    IFeatureCursorPtr reading;
    if (c.end == SubtypesEnd::SetWhileReading) {
        for (int i = 0; i < 3; ++i) {
            IFeaturePtr f = fc->CreateFeature();
            IPointPtr pt(CLSID_Point);
            pt->PutCoords(i, i);
            f->PutRefShape(pt);
            f->Store();
        }
        reading = fc->Search(nullptr, VARIANT_TRUE);
        ASSERT_TRUE(reading->NextFeature());
    }
    if (c.end == SubtypesEnd::Saved || c.end == SubtypesEnd::Discarded) edit->StartEditing(VARIANT_FALSE);
    ISubtypesPtr st(fc);
    st->PutSubtypeFieldName("SUBTYPE");
    st->AddSubtype(75, "LIGHTS");
    st->AddSubtype(17, "BCNLAT");
    st->PutDefaultSubtypeCode(17);
    if (reading) {
        int rows = 1;
        while (reading->NextFeature()) ++rows;
        EXPECT_EQ(rows, 3) << "the cursor reads on";
        reading = nullptr;
    }
    if (c.end == SubtypesEnd::Saved || c.end == SubtypesEnd::Discarded) edit->StopEditing(c.end == SubtypesEnd::Saved ? VARIANT_TRUE : VARIANT_FALSE);
    st = nullptr;
    fc = nullptr;
    edit = nullptr;
    ws_ = nullptr;
    fws_ = nullptr;
    pgtest::Conn other = pgtest::connect(pgdb_->name);
    const std::string stored =
        pgtest::query(other.get(), "SELECT coalesce(string_agg(code || ':' || name, ' ' ORDER BY code), '') FROM gdb_subtypes "
                                   "WHERE class_name = 'PointFeature'") +
        " default " + pgtest::query(other.get(), "SELECT default_subtype FROM gdb_items WHERE name = 'PointFeature'");
    EXPECT_EQ(stored, c.stored);
}

INSTANTIATE_TEST_SUITE_P(Ends, EnterpriseSubtypes, ::testing::ValuesIn(kSubtypesCases),
                         [](const ::testing::TestParamInfo<SubtypesCase>& i) { return std::string(i.param.name); });

// A workspace opened after the last one closed goes on with its connection (one server process
// for the template and the cell); one that the server ended meanwhile gives way to a new one.
TEST_F(EnterpriseWorkspace, TheNextWorkspaceGoesOnWithTheConnection) {
    pgtest::Conn other = pgtest::connect(pgdb_->name);
    const std::string backends = "SELECT string_agg(pid::text, ',') FROM pg_stat_activity WHERE datname = current_database() "
                                 "AND pid <> pg_backend_pid()";
    const std::string first = pgtest::query(other.get(), backends);
    ASSERT_EQ(first.find(','), std::string::npos) << first;
    reopen();
    EXPECT_EQ(pgtest::query(other.get(), backends), first);

    fws_ = nullptr;
    ws_ = nullptr;
    EXPECT_EQ(pgtest::query(other.get(), "SELECT count(*) FROM (SELECT pg_terminate_backend(" + first + ") AS ended) s WHERE ended"),
              "1");
    reopen();
    fws_->CreateTable("dsid", tableFields({{L"DSNM", esriFieldTypeString, 12}}));
    const std::string next = pgtest::query(other.get(), backends);
    EXPECT_NE(next, first);
    EXPECT_EQ(next.find(','), std::string::npos) << next;
    fws_ = nullptr;
    ws_ = nullptr;
    EXPECT_EQ(pgtest::query(other.get(), "SELECT to_regclass('dsid') IS NOT NULL"), "t");
}

// Ids come from each class's sequence as it stands when the edit session starts: moved on by
// another program, set back by a discarded session, untouched where a class gets no row, from
// its start where the class is made in the session.
TEST_F(EnterpriseWorkspace, IdsFollowTheSequencesAsEachSessionFindsThem) {
    ITablePtr a = fws_->CreateTable("a", tableFields({{L"DSNM", esriFieldTypeString, 12}}));
    ITablePtr b = fws_->CreateTable("b", tableFields({{L"DSNM", esriFieldTypeString, 12}}));
    fws_->CreateTable("c", tableFields({{L"DSNM", esriFieldTypeString, 12}}));
    IWorkspaceEditPtr edit(ws_);
    auto session = [&](std::vector<std::pair<ITablePtr, int>> rows, bool save) {
        edit->StartEditing(VARIANT_FALSE);
        std::vector<long> ids;
        for (auto& [t, n] : rows) {
            ICursorPtr ins = t->Insert(VARIANT_TRUE);
            IRowBufferPtr buf = t->CreateRowBuffer();
            buf->PutValue(1, _variant_t("x"));
            for (int i = 0; i < n; ++i) ids.push_back(ins->InsertRow(buf).lVal);
        }
        edit->StopEditing(save ? VARIANT_TRUE : VARIANT_FALSE);
        return ids;
    };
    EXPECT_EQ(session({{a, 3}, {b, 2}}, true), (std::vector<long>{1, 2, 3, 1, 2}));
    pgtest::Conn other = pgtest::connect(pgdb_->name);
    pgtest::query(other.get(), "INSERT INTO b (\"DSNM\") VALUES ('other')");
    EXPECT_EQ(session({{a, 1}, {b, 1}}, true), (std::vector<long>{4, 4}));
    EXPECT_EQ(session({{a, 2}}, false), (std::vector<long>{5, 6}));
    EXPECT_EQ(session({{b, 1}, {a, 1}}, true), (std::vector<long>{5, 5}));
    // A class made after the session drew its first id starts at its sequence's start.
    edit->StartEditing(VARIANT_FALSE);
    IRowBufferPtr one = a->CreateRowBuffer();
    a->Insert(VARIANT_TRUE)->InsertRow(one);
    ITablePtr d = fws_->CreateTable("d", tableFields({{L"DSNM", esriFieldTypeString, 12}}));
    ICursorPtr ins = d->Insert(VARIANT_TRUE);
    IRowBufferPtr buf = d->CreateRowBuffer();
    EXPECT_EQ(ins->InsertRow(buf).lVal, 1);
    EXPECT_EQ(ins->InsertRow(buf).lVal, 2);
    ins = nullptr;
    edit->StopEditing(VARIANT_TRUE);
    EXPECT_EQ(pgtest::query(other.get(), "INSERT INTO d (\"DSNM\") VALUES ('other') RETURNING \"OBJECTID\""), "3");
    EXPECT_EQ(pgtest::query(other.get(), "SELECT coalesce(last_value::text, 'none') FROM pg_sequences WHERE sequencename = 'c_OBJECTID_seq'"),
              "none");
    EXPECT_EQ(pgtest::query(other.get(), "SELECT string_agg(last_value::text, ',' ORDER BY sequencename) FROM pg_sequences "
                                         "WHERE sequencename IN ('a_OBJECTID_seq', 'b_OBJECTID_seq')"),
              "6,5");
}

// Rows sent before the edit session is saved (batches that end with the last row, rows so large
// that each goes alone) still move the class's ids past theirs: another program's insert and the
// next edit session's take new ids.
struct SentEarlyCase {
    const char* name;
    int rows;
    std::size_t textSize;
};
const SentEarlyCase kSentEarly[] = {
    {"BatchesEndingWithTheLastRow", 4, 65520},  // two rows (id and text, each with its length) a batch of 128 KiB
    {"EachRowLargerThanABatch", 3, 300000},
};
void PrintTo(const SentEarlyCase& c, std::ostream* os) { *os << c.name; }
class EnterpriseSentEarly : public EnterpriseWorkspace, public ::testing::WithParamInterface<SentEarlyCase> {};
TEST_P(EnterpriseSentEarly, RowsSentBeforeTheSaveKeepTheirIds) {
    ITablePtr t = fws_->CreateTable("dsid", tableFields({{L"DSNM", esriFieldTypeString, 0}}));
    IWorkspaceEditPtr edit(ws_);
    edit->StartEditing(VARIANT_FALSE);
    ICursorPtr ins = t->Insert(VARIANT_TRUE);
    IRowBufferPtr b = t->CreateRowBuffer();
    b->PutValue(1, _variant_t(std::string(GetParam().textSize, 'x').c_str()));
    for (int i = 0; i < GetParam().rows; ++i) ins->InsertRow(b);
    ins = nullptr;
    edit->StopEditing(VARIANT_TRUE);

    pgtest::Conn other = pgtest::connect(pgdb_->name);
    EXPECT_EQ(pgtest::query(other.get(), "INSERT INTO dsid (\"DSNM\") VALUES ('other') RETURNING \"OBJECTID\""),
              std::to_string(GetParam().rows + 1));
    edit->StartEditing(VARIANT_FALSE);
    b->PutValue(1, _variant_t("next"));
    t->Insert(VARIANT_TRUE)->InsertRow(b);
    edit->StopEditing(VARIANT_TRUE);
    EXPECT_EQ(pgtest::query(other.get(), "SELECT count(*) || ' ' || max(\"OBJECTID\") FROM dsid"),
              std::to_string(GetParam().rows + 2) + " " + std::to_string(GetParam().rows + 2));
}
INSTANTIATE_TEST_SUITE_P(Batches, EnterpriseSentEarly, ::testing::ValuesIn(kSentEarly),
                         [](const auto& info) { return std::string(info.param.name); });

// Within one transaction a class or a class's topology found missing is found once this connection
// makes it, whatever the case of its name, and missing again once an aborted operation took it away.
TEST_F(EnterpriseWorkspace, WhatWasMissingIsFoundOnceMade) {
    IFeatureDatasetPtr ds = fws_->CreateFeatureDataset("S57", wgs84());
    IWorkspaceEditPtr edit(ws_);
    edit->StartEditing(VARIANT_FALSE);
    EXPECT_EQ(resultOf([&] { fws_->OpenFeatureClass("LINEFEATURE"); }), GDB_E_NOT_FOUND);
    IFeatureClassPtr line = ds->CreateFeatureClass("LineFeature", featureFields(esriGeometryPolyline, false, {}), nullptr,
                                                   nullptr, esriFTSimple, "SHAPE");
    line = nullptr;
    line = fws_->OpenFeatureClass("linefeature");
    ASSERT_TRUE(line);
    EXPECT_EQ(ITopologyClassPtr(line)->GetIsInTopology(), VARIANT_FALSE);
    ITopologyPtr topo = ITopologyContainerPtr(ds)->CreateTopology("S57_Topology", 1e-7);
    topo->AddClass(line);
    EXPECT_EQ(ITopologyClassPtr(line)->GetIsInTopology(), VARIANT_TRUE);

    edit->StartEditOperation();
    EXPECT_EQ(resultOf([&] { fws_->OpenTable("dsid"); }), GDB_E_NOT_FOUND);
    fws_->CreateTable("DSID", tableFields({{L"DSNM", esriFieldTypeString, 12}}));
    EXPECT_TRUE(fws_->OpenTable("dsid"));
    edit->AbortEditOperation();
    EXPECT_EQ(resultOf([&] { fws_->OpenTable("dsid"); }), GDB_E_NOT_FOUND);
    fws_->CreateTable("DSID", tableFields({{L"DSNM", esriFieldTypeString, 12}}));
    EXPECT_TRUE(fws_->OpenTable("dsid"));
    edit->StopEditing(VARIANT_TRUE);
}

}  // namespace
