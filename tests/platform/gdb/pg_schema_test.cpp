// tests/platform/gdb/pg_schema_test.cpp: classes made on the PostgreSQL test server from the field
// lists the GeoPackage backend takes: GDAL reads them with the geometry type, Z, SRID and key of the
// GeoPackage's; the key is an identity, text compares without regard to case, the shape has a GiST
// index.
#include <cstdio>
#include <memory>

#include "gdb_fixture.h"
#include "platform/gdb/class_schema.h"
#include "platform/gdb/pg_schema.h"
#include "support/pg_server.h"

using namespace gdbtest;

namespace {

// A database of the test server with the side tables, as a workspace opened on it has them.
struct SchemaDatabase {
    pgtest::TempDatabase db;
    pgtest::Conn conn = pgtest::connect(db.name);
    SchemaDatabase() {
        pgtest::query(conn.get(), "BEGIN");
        for (const std::string& sql : gdb::pgSideTableSql()) pgtest::query(conn.get(), sql);
        pgtest::query(conn.get(), "COMMIT");
    }
};

std::string runCommand(const std::string& cmd) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> p(popen(cmd.c_str(), "r"), pclose);
    if (!p) return out;
    char buf[4096];
    while (std::size_t n = fread(buf, 1, sizeof buf, p.get())) out.append(buf, n);
    return out;
}

// What ogrinfo says of a layer's geometry and key, and the names of its columns, one line each.
std::string layerSummary(const std::string& source, const std::string& layer) {
    const std::string text = runCommand("ogrinfo -ro -so '" + source + "' '" + layer + "' 2>&1");
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string l = text.substr(start, end - start);
        // A column is "NAME: Type (width.precision)".
        const std::size_t colon = l.find(": ");
        const bool column = colon != std::string::npos && colon > 0 && l.find(" (", colon) != std::string::npos &&
                            l.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_") == colon;
        if (l.rfind("Geometry: ", 0) == 0 || l.rfind("FID Column", 0) == 0 || l.rfind("Geometry Column", 0) == 0)
            out += l + "\n";
        else if (column)
            out += "field " + l.substr(0, colon) + "\n";
        start = end + 1;
    }
    return out.empty() ? text : out;
}

struct ClassCase {
    const char* name;
    bool feature;
    esriGeometryType type;
    bool hasZ;
    const char* geometry;  // ogrinfo's geometry line
};
const ClassCase kClasses[] = {
    {"SoundingPoints", true, esriGeometryMultipoint, true, "Geometry: 3D Multi Point"},
    {"Buoys", true, esriGeometryPoint, false, "Geometry: Point"},
    {"DepthContours", true, esriGeometryPolyline, false, "Geometry: Multi Line String"},
    {"DepthAreas", true, esriGeometryPolygon, false, "Geometry: Multi Polygon"},
};
void PrintTo(const ClassCase& c, std::ostream* os) { *os << c.name; }

class PgSchema : public ::testing::TestWithParam<ClassCase> {};
TEST_P(PgSchema, GdalReadsTheClassAsInTheGeoPackage) {
    SKIP_WITHOUT_PG();
    const ClassCase& c = GetParam();
    const std::vector<Column> columns = {{L"OBJNAM", esriFieldTypeString, 70}, {L"SCAMIN", esriFieldTypeInteger, 4},
                                         {L"VALSOU", esriFieldTypeDouble, 8}};
    IFieldsPtr fields = featureFields(c.type, c.hasZ, columns);

    TempDir dir;
    {
        // Released before GDAL reads it: the workspace writes the file then.
        IFeatureWorkspacePtr gpkg(createGdb(dir.path, "ref.gpkg"));
        gpkg->CreateFeatureClass(fromUtf8(c.name).c_str(), fields, nullptr, nullptr, esriFTSimple, L"SHAPE", L"");
    }

    SchemaDatabase schema;
    pgtest::TempDatabase& db = schema.db;
    PGconn* conn = schema.conn.get();
    const gdb::ClassSpec spec = gdb::readClassSpec(c.name, fields, true, "SHAPE");
    for (const std::string& sql : gdb::pgCreateClassSql(c.name, spec, true, 4326)) pgtest::query(conn, sql);

    const std::string pg = "PG:" + std::string(pgtest::conninfo()) + " dbname=" + db.name;
    const std::string fromPg = layerSummary(pg, c.name);
    EXPECT_NE(fromPg.find(std::string(c.geometry) + "\n"), std::string::npos) << fromPg;
    EXPECT_EQ(fromPg, layerSummary((dir.path / "ref.gpkg").string(), c.name));

    const std::string table = gdb::pgName(c.name);
    EXPECT_EQ(pgtest::query(conn, "SELECT srid FROM geometry_columns WHERE f_table_name = '" + std::string(c.name) + "'"), "4326");
    EXPECT_EQ(pgtest::query(conn, "SELECT count(*) FROM pg_indexes WHERE tablename = '" + std::string(c.name) +
                                            "' AND indexdef LIKE '%USING gist (\"SHAPE\")%'"),
              "1");
    pgtest::query(conn, "INSERT INTO " + table + " (\"OBJNAM\") VALUES ('Harbour Light'), ('harbour light')");
    EXPECT_EQ(pgtest::query(conn, "SELECT string_agg(\"OBJECTID\"::text, ',' ORDER BY \"OBJECTID\") FROM " + table +
                                            " WHERE \"OBJNAM\" = 'HARBOUR LIGHT'"),
              "1,2");
}
INSTANTIATE_TEST_SUITE_P(Classes, PgSchema, ::testing::ValuesIn(kClasses),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(PgSchema, TableHasTheKeyAndNoGeometry) {
    SKIP_WITHOUT_PG();
    IFieldsPtr fields = tableFields({{L"DSNM", esriFieldTypeString, 12}, {L"RCID", esriFieldTypeSmallInteger, 2}});
    const gdb::ClassSpec spec = gdb::readClassSpec("DSSI", fields, false, "");
    const std::vector<std::string> sql = gdb::pgCreateClassSql("DSSI", spec, false, 4326);
    ASSERT_EQ(sql.size(), 1u) << "no index without a shape";
    SchemaDatabase schema;
    PGconn* conn = schema.conn.get();
    pgtest::query(conn, sql[0]);
    EXPECT_EQ(pgtest::query(conn, "SELECT string_agg(column_name || ' ' || data_type, ', ' ORDER BY ordinal_position) "
                                        "FROM information_schema.columns WHERE table_name = 'DSSI'"),
              "OBJECTID integer, DSNM USER-DEFINED, RCID smallint");
}

TEST(ClassSpec, RefusesAFieldListWithoutItsKeyOrWithAFieldTwice) {
    EXPECT_EQ(resultOf([] { gdb::readClassSpec("T", tableFields({{L"A", esriFieldTypeString, 4}, {L"a", esriFieldTypeInteger, 4}}), false, ""); }),
              GDB_E_BAD_SCHEMA);
    IFieldsEditPtr noKey(CLSID_Fields);
    EXPECT_EQ(resultOf([&] { gdb::readClassSpec("T", IFieldsPtr(noKey), false, ""); }), GDB_E_BAD_SCHEMA);
}

}  // namespace
