// tests/platform/gdb/storage_test.cpp: the geodatabase file as other programs meet it: a writer
// waits for another program's write and says so past the wait; a GeoPackage of another program is
// changed only by what is saved; a file of no bytes is a new geodatabase; feature tables carry
// their extent; subtype fields are GeoPackage enumerations; GDAL's validator finds nothing.
#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "gdb_fixture.h"

using namespace gdbtest;
namespace fs = std::filesystem;

namespace {

std::string bytesOf(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string runCommand(const std::string& cmd) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> p(popen(cmd.c_str(), "r"), pclose);
    if (!p) return out;
    char buf[4096];
    while (std::size_t n = fread(buf, 1, sizeof buf, p.get())) out.append(buf, n);
    return out;
}

// Another program's connection to the file.
class Other {
public:
    explicit Other(const std::string& file) { sqlite3_open(file.c_str(), &db_); }
    ~Other() { sqlite3_close(db_); }
    Other(const Other&) = delete;
    Other& operator=(const Other&) = delete;
    int exec(const std::string& sql) { return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr); }
    std::string text(const std::string& sql) {
        sqlite3_stmt* st = nullptr;
        std::string out = "<none>";
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW) {
            const unsigned char* t = sqlite3_column_text(st, 0);
            out = t ? reinterpret_cast<const char*>(t) : "<null>";
        }
        sqlite3_finalize(st);
        return out;
    }

private:
    sqlite3* db_ = nullptr;
};

// A GeoPackage as another program writes it: one point table, none of our side tables.
void writeForeignGeoPackage(const std::string& file) {
    Other o(file);
    for (const char* sql : {
             "PRAGMA application_id = 1196444487",
             "PRAGMA user_version = 10200",
             "CREATE TABLE gpkg_spatial_ref_sys (srs_name TEXT NOT NULL, srs_id INTEGER PRIMARY KEY, organization TEXT "
             "NOT NULL, organization_coordsys_id INTEGER NOT NULL, definition TEXT NOT NULL, description TEXT)",
             "INSERT INTO gpkg_spatial_ref_sys VALUES ('WGS 84', 4326, 'EPSG', 4326, 'GEOGCS[\"WGS 84\"]', NULL)",
             "CREATE TABLE gpkg_contents (table_name TEXT NOT NULL PRIMARY KEY, data_type TEXT NOT NULL, identifier "
             "TEXT UNIQUE, description TEXT DEFAULT '', last_change DATETIME NOT NULL DEFAULT "
             "(strftime('%Y-%m-%dT%H:%M:%fZ','now')), min_x DOUBLE, min_y DOUBLE, max_x DOUBLE, max_y DOUBLE, "
             "srs_id INTEGER)",
             "CREATE TABLE gpkg_geometry_columns (table_name TEXT NOT NULL, column_name TEXT NOT NULL, "
             "geometry_type_name TEXT NOT NULL, srs_id INTEGER NOT NULL, z TINYINT NOT NULL, m TINYINT NOT NULL, "
             "CONSTRAINT pk_geom_cols PRIMARY KEY (table_name, column_name))",
             "CREATE TABLE gpkg_extensions (table_name TEXT, column_name TEXT, extension_name TEXT NOT NULL, "
             "definition TEXT NOT NULL, scope TEXT NOT NULL)",
             "CREATE TABLE pts (fid INTEGER PRIMARY KEY AUTOINCREMENT, geom POINT, n INTEGER)",
             "INSERT INTO gpkg_contents (table_name, data_type, identifier, srs_id) VALUES ('pts', 'features', 'pts', 4326)",
             "INSERT INTO gpkg_geometry_columns VALUES ('pts', 'geom', 'POINT', 4326, 0, 0)",
             "INSERT INTO pts (geom, n) VALUES (NULL, 7)",
         })
        ASSERT_EQ(o.exec(sql), SQLITE_OK) << sql;
}

// Holds another program's write lock from construction until release() (or destruction).
class WriteLock {
public:
    explicit WriteLock(const std::string& file) : other_(file) { locked_ = other_.exec("BEGIN IMMEDIATE") == SQLITE_OK; }
    ~WriteLock() { release(); }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;
    bool locked() const { return locked_; }
    void release() {
        if (locked_) other_.exec("COMMIT");
        locked_ = false;
    }

private:
    Other other_;
    bool locked_ = false;
};

// What the validator of Debian's python3-gdal says about a file; nullopt when it is not installed.
std::optional<std::string> validatorFindings(const std::string& file) {
    for (const char* script : {"/usr/lib/python3/dist-packages/osgeo_utils/samples/validate_gpkg.py",
                               "/usr/share/doc/python3-gdal/examples/validate_gpkg.py"}) {
        if (!fs::exists(script)) continue;
        const char* python = fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
        if (std::system((std::string(python) + " -c 'import osgeo' >/dev/null 2>&1").c_str()) != 0) return std::nullopt;
        return runCommand(std::string(python) + " " + script + " '" + file + "' 2>&1; echo \"exit $?\"");
    }
    return std::nullopt;
}

class GdbStorage : public GdbTest {};

// ---- Two programs, one file ----------------------------------------------------------------------

TEST_F(GdbStorage, AWriterWaitsForAnotherProgramsWriteAndThenWrites) {
    ITablePtr table = fws_->CreateTable("t", tableFields({{L"A", esriFieldTypeInteger, 4}}));
    ws_ = nullptr;
    fws_ = nullptr;
    table = nullptr;
    IFeatureWorkspacePtr fws(openGdb(path_));
    table = fws->OpenTable("t");
    auto lock = std::make_unique<WriteLock>(path_);
    ASSERT_TRUE(lock->locked());
    // Released while our write waits: ours must wait for it, not fail at once.
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        lock->release();
    });
    IWorkspaceEditPtr edit(fws);
    const HRESULT started = resultOf([&] { edit->StartEditing(VARIANT_FALSE); });
    releaser.join();
    ASSERT_EQ(started, S_OK);
    table->Insert(VARIANT_TRUE)->InsertRow(table->CreateRowBuffer());
    edit->StopEditing(VARIANT_TRUE);
    EXPECT_EQ(table->RowCount(nullptr), 1);
    // The batch outside an edit session waits just as well.
    lock = std::make_unique<WriteLock>(path_);
    std::thread again([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        lock->release();
    });
    const HRESULT created = resultOf([&] { fws->CreateTable("u", tableFields({{L"B", esriFieldTypeInteger, 4}})); });
    again.join();
    EXPECT_EQ(created, S_OK);
}

TEST_F(GdbStorage, PastTheWaitAWriteSaysTheFileIsInUse) {
    ITablePtr table = fws_->CreateTable("t", tableFields({{L"A", esriFieldTypeInteger, 4}}));
    ws_ = nullptr;
    fws_ = nullptr;
    table = nullptr;
    IFeatureWorkspacePtr fws(openGdb(path_));
    WriteLock lock(path_);
    ASSERT_TRUE(lock.locked());
    clearGdbStorageFailure();
    IWorkspaceEditPtr edit(fws);
    const HRESULT hr = resultOf([&] { edit->StartEditing(VARIANT_FALSE); });
    EXPECT_EQ(hr, GDB_E_IN_USE);
    EXPECT_STREQ(gdbFailureReason(hr), "in use by another program");
    EXPECT_EQ(gdbStorageFailure(), GDB_E_IN_USE) << "the cause is kept for callers that swallow it";
    EXPECT_EQ(edit->IsBeingEdited(), VARIANT_FALSE);
    lock.release();
    edit->StartEditing(VARIANT_FALSE);
    edit->StopEditing(VARIANT_TRUE);
}

// ---- Files that are not ours yet -----------------------------------------------------------------

TEST_F(GdbStorage, AForeignGeoPackageChangesOnlyWithWhatIsSaved) {
    const std::string foreign = (dir_.path / "foreign.gpkg").string();
    writeForeignGeoPackage(foreign);
    const std::string before = bytesOf(foreign);
    {
        IWorkspacePtr ws = openGdb(foreign);
        IFeatureWorkspacePtr fws(ws);
        EXPECT_EQ(fws->OpenFeatureClass("pts")->FeatureCount(nullptr), 1);
        EXPECT_EQ(resultOf([&] { fws->OpenFeatureDataset("S57"); }), GDB_E_NOT_FOUND);
        EXPECT_EQ(resultOf([&] { fws->OpenTable("objcat"); }), GDB_E_NOT_FOUND);
        // A session that makes a dataset and a class and is then discarded.
        IWorkspaceEditPtr edit(ws);
        edit->StartEditing(VARIANT_FALSE);
        IFeatureDatasetPtr ds = fws->CreateFeatureDataset("S57", wgs84());
        ITablePtr made = fws->CreateTable("objcat", tableFields({{L"A", esriFieldTypeInteger, 4}}));
        made = nullptr;
        ds = nullptr;
        edit->StopEditing(VARIANT_FALSE);
        EXPECT_EQ(resultOf([&] { fws->OpenFeatureDataset("S57"); }), GDB_E_NOT_FOUND);
    }
    EXPECT_TRUE(bytesOf(foreign) == before) << "the file changed although nothing was saved";
    Other o(foreign);
    EXPECT_EQ(o.text("SELECT count(*) FROM sqlite_master WHERE name LIKE 'gdb%'"), "0");

    // What is saved comes with the side tables it needs, registered as an extension only.
    {
        IFeatureWorkspacePtr fws(openGdb(foreign));
        fws->CreateFeatureDataset("S57", wgs84());
    }
    EXPECT_EQ(o.text("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name LIKE 'gdb%'"), "4");
    EXPECT_EQ(o.text("SELECT count(*) FROM gpkg_contents WHERE table_name LIKE 'gdb%'"), "0");
    EXPECT_EQ(o.text("SELECT count(*) FROM gpkg_extensions WHERE extension_name = 'x_gdb_catalog'"), "4");
}

// A geodatabase written by an earlier version listed its side tables in gpkg_contents under a
// data type no GeoPackage reader knows; the first write brings it up to date.
TEST_F(GdbStorage, SideTablesListedByAnEarlierVersionAreRegisteredAnew) {
    fws_->CreateFeatureDataset("S57", wgs84());
    ws_ = nullptr;
    fws_ = nullptr;
    {
        Other o(path_);
        ASSERT_EQ(o.exec("DELETE FROM gpkg_extensions WHERE extension_name = 'x_gdb_catalog'"), SQLITE_OK);
        ASSERT_EQ(o.exec("INSERT INTO gpkg_contents (table_name, data_type, identifier) SELECT name, 'x_gdb_catalog', "
                         "name FROM sqlite_master WHERE type = 'table' AND name LIKE 'gdb%'"),
                  SQLITE_OK);
    }
    IFeatureWorkspacePtr(openGdb(path_))->CreateTable("t", tableFields({{L"A", esriFieldTypeInteger, 4}}));
    Other o(path_);
    EXPECT_EQ(o.text("SELECT count(*) FROM gpkg_contents WHERE data_type = 'x_gdb_catalog'"), "0");
    EXPECT_EQ(o.text("SELECT count(*) FROM gpkg_extensions WHERE extension_name = 'x_gdb_catalog' AND scope = "
                     "'write-only'"),
              "4");
}

TEST_F(GdbStorage, AFileOfNoBytesIsANewGeodatabase) {
    const fs::path empty = dir_.path / "empty.gpkg";
    std::ofstream(empty).close();
    ASSERT_EQ(fs::file_size(empty), 0u);
    {
        IFeatureWorkspacePtr fws(openGdb(empty.string()));
        ASSERT_TRUE(fws);
        fws->CreateFeatureDataset("S57", wgs84());
    }
    Other o(empty.string());
    EXPECT_EQ(o.text("PRAGMA application_id"), "1196444487");
    EXPECT_EQ(o.text("SELECT name FROM gdb_items WHERE kind = 'FeatureDataset'"), "S57");
}

// ---- The file as other programs read it ---------------------------------------------------------

// A class with subtypes and rows, and a table.
void fillSample(IFeatureWorkspace* fws, IWorkspace* ws) {
    IFeatureDatasetPtr ds = fws->CreateFeatureDataset("S57", wgs84());
    IFeatureClassPtr fc = fws->CreateFeatureClass(
        "PointFeature", featureFields(esriGeometryPoint, false, {{L"SUBTYPE", esriFieldTypeInteger, 4}}), nullptr,
        nullptr, esriFTSimple, "SHAPE");
    ISubtypesPtr st(fc);
    st->PutSubtypeFieldName("SUBTYPE");
    st->AddSubtype(17, "BCNLAT");
    st->AddSubtype(75, "LIGHTS");
    st->AddSubtype(30, "BOYLAT");
    st->DeleteSubtype(30);
    ITablePtr table = fws->CreateTable("objcat", tableFields({{L"A", esriFieldTypeInteger, 4}}));
    IWorkspaceEditPtr edit(ws);
    edit->StartEditing(VARIANT_FALSE);
    IFeatureBufferPtr b = fc->CreateFeatureBuffer();
    for (auto [x, y] : {std::pair{-70.123456789, 41.5}, std::pair{-69.25, 42.987654321}}) {
        b->PutRefShape(point(x, y));
        fc->Insert(VARIANT_TRUE)->InsertFeature(b);
    }
    table->Insert(VARIANT_TRUE)->InsertRow(table->CreateRowBuffer());
    edit->StopEditing(VARIANT_TRUE);
}

TEST_F(GdbStorage, FeatureTablesCarryTheirExactExtent) {
    fillSample(fws_, ws_);
    ws_ = nullptr;
    fws_ = nullptr;
    Other o(path_);
    EXPECT_EQ(o.text("SELECT printf('%.9f %.9f %.9f %.9f', min_x, min_y, max_x, max_y) FROM gpkg_contents "
                     "WHERE table_name = 'PointFeature'"),
              "-70.123456789 41.500000000 -69.250000000 42.987654321");
}

TEST_F(GdbStorage, SubtypeFieldsAreGeoPackageEnumerations) {
    fillSample(fws_, ws_);
    ws_ = nullptr;
    fws_ = nullptr;
    Other o(path_);
    EXPECT_EQ(o.text("SELECT constraint_name FROM gpkg_data_columns WHERE table_name = 'PointFeature' AND "
                     "column_name = 'SUBTYPE'"),
              "PointFeature_SUBTYPE");
    EXPECT_EQ(o.text("SELECT group_concat(value || '=' || description, ' ') FROM (SELECT value, description FROM "
                     "gpkg_data_column_constraints WHERE constraint_name = 'PointFeature_SUBTYPE' AND constraint_type = "
                     "'enum' ORDER BY CAST(value AS INTEGER))"),
              "17=BCNLAT 75=LIGHTS");
    if (std::system("ogrinfo --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "GDAL's ogrinfo is not installed";
    const std::string domain = runCommand("ogrinfo -ro '" + path_ + "' -fielddomain PointFeature_SUBTYPE 2>&1");
    EXPECT_NE(domain.find("17: BCNLAT"), std::string::npos) << domain;
    EXPECT_NE(domain.find("75: LIGHTS"), std::string::npos) << domain;
}

TEST_F(GdbStorage, TheGeoPackageValidatorFindsNothing) {
    fillSample(fws_, ws_);
    ws_ = nullptr;
    fws_ = nullptr;
    const auto findings = validatorFindings(path_);
    if (!findings) GTEST_SKIP() << "GDAL's validate_gpkg.py (python3-gdal) is not installed";
    EXPECT_EQ(*findings, "exit 0\n");
}

}  // namespace
