// tests/tools/create_test.cpp: the geodatabase template of the product model, made by `tarvo create`
// and by the template function: GDAL lists every feature class with its geometry type; a second run
// changes nothing and loses nothing; an existing geodatabase is completed, never emptied.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "platform/gdb/gdb.h"
#include "s57/dbutil.h"
#include "s57/dimml.h"
#include "s57/gdb_template.h"
#include "s57/s57_util2.h"
#include "support/run_command.h"

namespace fs = std::filesystem;

namespace {

Ran run(const std::string& command) {
    const fs::path errPath = fs::temp_directory_path() / ("create_err_" + std::to_string(getpid()));
    Ran r = runCommand(command, errPath);
    fs::remove(errPath);
    return r;
}

std::string tarvo() { return std::string(TARVO_BINARY_DIR) + "/bin/tarvo"; }

// The feature classes of the loaded product mapping and their GDAL geometry type names (lines and
// areas are stored as multi-part geometries: a feature may have several parts).
std::map<std::string, std::string> expectedClasses() {
    std::map<std::string, std::string> out;
    if (objectMapCount == 0 && FAILED(loadDIMEInfo())) return out;
    for (int32_t i = 0; i < objectMapCount; ++i) {
        const ObjectMapRec& m = objectMaps[i];
        const std::string type = m.type;
        out[m.gdbName] = type == "P" ? "Point" : type == "L" ? "Multi Line String" : "Multi Polygon";
    }
    out["SoundingFeature"] = "3D Point";
    return out;
}

// Layer name -> geometry type as `ogrinfo` lists them ("1: Name (Type)").
std::map<std::string, std::string> ogrLayers(const std::string& path, std::string* raw) {
    const Ran r = run("ogrinfo -ro -q " + path);
    if (raw) *raw = r.out + r.err;
    std::map<std::string, std::string> out;
    std::istringstream in(r.out);
    for (std::string l; std::getline(in, l);) {
        const std::size_t colon = l.find(": "), open = l.find(" (", colon == l.npos ? 0 : colon);
        if (colon == l.npos || open == l.npos || l.back() != ')') continue;
        if (l.find_first_not_of("0123456789") != colon) continue;
        out[l.substr(colon + 2, open - colon - 2)] = l.substr(open + 2, l.size() - open - 3);
    }
    return out;
}

// Schema and content of every table of the file, in a stable order.
std::string dump(const std::string& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return "cannot open";
    }
    std::string out;
    std::vector<std::string> tables;
    auto each = [&](const std::string& sql, auto&& row) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
            out += "bad sql " + sql + "\n";
            return;
        }
        while (sqlite3_step(st) == SQLITE_ROW) row(st);
        sqlite3_finalize(st);
    };
    auto col = [](sqlite3_stmt* st, int i) {
        const unsigned char* t = sqlite3_column_text(st, i);
        return t ? std::string(reinterpret_cast<const char*>(t)) : std::string("<null>");
    };
    each("SELECT type, name, sql FROM sqlite_master ORDER BY type, name", [&](sqlite3_stmt* st) {
        out += col(st, 0) + " " + col(st, 1) + " " + col(st, 2) + "\n";
        if (col(st, 0) == "table") tables.push_back(col(st, 1));
    });
    for (const std::string& t : tables) {
        each("SELECT * FROM \"" + t + "\" ORDER BY 1", [&](sqlite3_stmt* st) {
            out += t + ":";
            for (int i = 0; i < sqlite3_column_count(st); ++i) out += " " + col(st, i);
            out += "\n";
        });
    }
    sqlite3_close(db);
    return out;
}

class Template : public ::testing::Test {
protected:
    void SetUp() override {
        static int serial = 0;
        dir_ = fs::temp_directory_path() / ("create_" + std::to_string(getpid()) + "_" + std::to_string(++serial));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        report_ = std::tmpfile();
        ASSERT_NE(report_, nullptr);
    }
    void TearDown() override {
        std::fclose(report_);
        fs::remove_all(dir_);
    }
    std::string reported() {
        std::fflush(report_);
        std::rewind(report_);
        std::string out;
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, report_)) > 0) out.append(buf, n);
        return out;
    }
    HRESULT create(const std::string& path, TemplateSummary* summary, const char* dataset = "S57") {
        return createGeodatabase(path.c_str(), dataset, nullptr, report_, summary);
    }

    fs::path dir_;
    FILE* report_ = nullptr;
};

TEST_F(Template, GdalListsEveryFeatureClassWithItsGeometryType) {
    const std::string path = (dir_ / "chart.mdb").string();
    TemplateSummary s;
    ASSERT_EQ(create(path, &s), S_OK) << reported();
    const std::map<std::string, std::string> expected = expectedClasses();
    ASSERT_GT(expected.size(), 30u);
    EXPECT_TRUE(s.geodatabaseCreated);
    EXPECT_TRUE(s.datasetCreated);
    EXPECT_EQ(s.classesCreated, int(expected.size()));
    EXPECT_EQ(s.tablesCreated, 3);  // the collections
    EXPECT_EQ(reported(), "");

    std::string raw;
    std::map<std::string, std::string> layers = ogrLayers(path, &raw);
    for (const auto& [name, type] : expected) {
        ASSERT_TRUE(layers.count(name)) << name << " missing in\n" << raw;
        EXPECT_EQ(layers[name], type) << name;
    }
    for (const char* collection : {"C_AGGR", "C_ASSO", "C_STAC"}) EXPECT_EQ(layers[collection], "None") << raw;
}

TEST_F(Template, ClassesCarryTheImportColumnsSubtypesAndZ) {
    const std::string path = (dir_ / "chart.gpkg").string();
    TemplateSummary s;
    ASSERT_EQ(create(path, &s, "Charts"), S_OK) << reported();
    IWorkspacePtr ws;
    ASSERT_EQ(openWorkspace(path.c_str(), &ws), S_OK);
    IFeatureWorkspacePtr fws(ws);
    IFeatureDatasetPtr dataset = fws->OpenFeatureDataset("Charts");
    EXPECT_EQ(IFeatureClassContainerPtr(dataset)->GetClassCount(), s.classesCreated);

    IFeatureClassPtr soundings = fws->OpenFeatureClass("SoundingFeature");
    IFieldPtr shape = soundings->GetFields()->GetField(soundings->FindField(soundings->GetShapeFieldName()));
    EXPECT_EQ(shape->GetGeometryDef()->GetHasZ(), VARIANT_TRUE);
    EXPECT_GE(soundings->FindField("DEPTH"), 0);

    // Every mapped class: FRID, name and subtype columns, its mapped fields, one subtype per class.
    for (int32_t i = 0; i < objectMapCount; ++i) {
        const ObjectMapRec& m = objectMaps[i];
        IFeatureClassPtr fc = fws->OpenFeatureClass(m.gdbName);
        for (const char* column : {"ID", "LNAM", "NAME", "RCNM", "RCID", "PRIM", "GRUP", "OBJL", "RVER", "RUIN"})
            EXPECT_GE(fc->FindField(column), 0) << m.gdbName << " " << column;
        ISubtypesPtr subtypes(fc);
        EXPECT_EQ(static_cast<const char*>(subtypes->GetSubtypeFieldName()), std::string(kSubtypeFieldName));
        EXPECT_EQ(static_cast<const char*>(subtypes->GetSubtypeName(m.code)), std::string(m.subtype)) << m.gdbName;
    }
    for (int32_t i = 0; i < attributeMapCount; ++i) {
        const AttributeMapRec& a = attributeMaps[i];
        for (int32_t k = 0; k < objectMapCount; ++k) {
            const ObjectMapRec& m = objectMaps[k];
            if (m.code != a.objectCode || std::string(m.type) != a.objectType) continue;
            EXPECT_GE(fws->OpenFeatureClass(m.gdbName)->FindField(a.gdbName), 0) << m.gdbName << " " << a.gdbName;
        }
    }
    // One topology over every class but the soundings.
    ITopologyContainerPtr topologies(dataset);
    ASSERT_EQ(topologies->GetTopologyCount(), 1);
    ITopologyPtr topology = topologies->GetTopology(0);
    EXPECT_EQ(static_cast<const char*>(topology->GetName()), std::string("Charts_Topology"));
    EXPECT_EQ(topology->GetClusterTolerance(), kTopologyTolerance);
    EXPECT_EQ(s.topologyClassesAdded, s.classesCreated - 1);
    EXPECT_EQ(ITopologyClassPtr(soundings)->GetIsInTopology(), VARIANT_FALSE);
    EXPECT_EQ(ITopologyClassPtr(fws->OpenFeatureClass("DepthAreaFeature"))->GetIsInTopology(), VARIANT_TRUE);

    ITablePtr aggregates = fws->OpenTable("c_aggr");
    for (const char* column : {"LNAM", "NAME", "DSNM", "PRIM", "OBJNAM", "SORIND"})
        EXPECT_GE(aggregates->FindField(column), 0) << column;
}

TEST_F(Template, SecondRunChangesNothingAndLosesNothing) {
    const std::string path = (dir_ / "chart.mdb").string();
    TemplateSummary first;
    ASSERT_EQ(create(path, &first), S_OK) << reported();
    {
        IWorkspacePtr ws;
        ASSERT_EQ(openWorkspace(path.c_str(), &ws), S_OK);
        IFeatureClassPtr fc = IFeatureWorkspacePtr(ws)->OpenFeatureClass("DepthAreaFeature");
        IFeaturePtr f = fc->CreateFeature();
        IPolygonPtr ring(CLSID_Polygon);
        for (auto [x, y] : {std::pair{0.0, 0.0}, {0.0, 1.0}, {1.0, 1.0}, {0.0, 0.0}}) {
            IPointPtr p(CLSID_Point);
            p->PutCoords(x, y);
            IPointCollectionPtr(ring)->AddPoint(p);
        }
        f->PutRefShape(ring);
        f->PutValue(fc->FindField("LNAM"), _variant_t("US000000000100001"));
        ASSERT_EQ(f->Store(), S_OK);
    }
    const std::string before = dump(path);
    TemplateSummary second;
    ASSERT_EQ(create(path, &second), S_OK) << reported();
    EXPECT_FALSE(second.geodatabaseCreated);
    EXPECT_FALSE(second.datasetCreated);
    EXPECT_EQ(second.classesCreated, 0);
    EXPECT_EQ(second.classesReused, first.classesCreated);
    EXPECT_EQ(second.tablesReused, 3);
    EXPECT_EQ(second.columnsAdded + second.subtypesAdded + second.topologyClassesAdded, 0);
    EXPECT_FALSE(second.topologyCreated);
    EXPECT_EQ(dump(path), before);
    EXPECT_NE(before.find("US000000000100001"), std::string::npos);
}

TEST_F(Template, CompletesAnOlderGeodatabaseWithoutTouchingItsRows) {
    const std::string path = (dir_ / "old.mdb").string();
    {
        IWorkspaceFactoryPtr factory(CLSID_AccessWorkspaceFactory);
        IFeatureWorkspacePtr ws(factory->Create(dir_.string().c_str(), "old.mdb"));
        // What an import into a workspace without the template leaves: a class of the FRID columns.
        IFeatureClassPtr fc;
        ASSERT_EQ(createFeatureClass(ws, "DepthAreaFeature", esriGeometryPolygon, 7, fridFieldDefs, 0, nullptr,
                                     nullptr, 0, &fc, nullptr),
                  S_OK);
        IFeaturePtr f = fc->CreateFeature();
        f->PutValue(fc->FindField("RCID"), _variant_t("0000000042"));
        ASSERT_EQ(f->Store(), S_OK);
        // A plain table where the template wants a feature class.
        ITablePtr t;
        ASSERT_EQ(createGDBTable(ws, "SoundingFeature", &t, 1, cellNameFieldDefs), S_OK);
    }
    TemplateSummary s;
    EXPECT_EQ(create(path, &s), GDB_E_NAME_EXISTS);
    EXPECT_EQ(reported(), "SoundingFeature exists as a table without geometry: left as it is\n");
    EXPECT_GT(s.columnsAdded, 0);
    EXPECT_GT(s.subtypesAdded, 0);
    EXPECT_EQ(s.classesReused, 1);

    IWorkspacePtr ws;
    ASSERT_EQ(openWorkspace(path.c_str(), &ws), S_OK);
    IFeatureWorkspacePtr fws(ws);
    IFeatureClassPtr fc = fws->OpenFeatureClass("DepthAreaFeature");
    EXPECT_GE(fc->FindField("DRVAL1"), 0);
    EXPECT_EQ(static_cast<const char*>(ISubtypesPtr(fc)->GetSubtypeName(42)), std::string("DEPARE"));
    ASSERT_EQ(fc->FeatureCount(nullptr), 1);
    EXPECT_EQ(static_cast<const char*>(static_cast<_bstr_t>(fc->GetFeature(1)->GetValue(fc->FindField("RCID")))),
              std::string("0000000042"));
    EXPECT_EQ(ITablePtr(fws->OpenTable("SoundingFeature"))->GetFields()->GetFieldCount(), 2);
    EXPECT_TRUE(fws->OpenFeatureClass("CoastlineAreaFeature"));
}

TEST_F(Template, ReadsTheZMarksAndCollectionsOfTheProductFileItIsGiven) {
    // The catalogue loaded from a copy of the shipped files; the template then given a product.xml
    // that marks no class with Z and names its first collection otherwise: first another file, then
    // the loaded file itself, changed after the load.
    const std::string shipped = moduleDirectory(moduleInstance);
    ASSERT_FALSE(shipped.empty());
    const fs::path catalogue = dir_ / "catalogue";
    fs::create_directories(catalogue);
    fs::copy_file(shipped + "s57.xml", catalogue / "s57.xml");
    fs::copy_file(shipped + "product.xml", catalogue / "product.xml");
    ASSERT_EQ(loadDIMEInfoFrom(catalogue.string().c_str()), S_OK);
    std::string product = slurp(catalogue / "product.xml");
    ASSERT_NE(product.find(" z=\"1\""), std::string::npos);
    for (std::size_t at; (at = product.find(" z=\"1\"")) != std::string::npos;) product.erase(at, 6);
    ASSERT_NE(product.find("\"C_AGGR\""), std::string::npos);
    product.replace(product.find("\"C_AGGR\""), 8, "\"C_AGGX\"");

    const fs::path other = dir_ / "other.xml";
    std::ofstream(other, std::ios::binary) << product;
    for (const fs::path& given : {other, catalogue / "product.xml"}) {
        SCOPED_TRACE(given.string());
        if (given != other) std::ofstream(given, std::ios::binary) << product;
        const std::string name = given.stem().string() + ".gpkg";
        IWorkspaceFactoryPtr factory(CLSID_AccessWorkspaceFactory);
        IWorkspacePtr ws = factory->Create(dir_.string().c_str(), name.c_str());
        TemplateSummary s;
        ASSERT_EQ(createGeodatabaseTemplate(ws, "S57", given.string().c_str(), report_, &s), S_OK) << reported();
        IFeatureWorkspacePtr fws(ws);
        IFeatureClassPtr soundings = fws->OpenFeatureClass("SoundingFeature");
        EXPECT_LT(soundings->FindField("DEPTH"), 0);
        EXPECT_EQ(s.topologyClassesAdded, s.classesCreated);  // no Z class stays out
        ITablePtr table;
        EXPECT_EQ(fws->raw_OpenTable(_bstr_t("C_AGGX").GetBSTR(), &table), S_OK);
        EXPECT_TRUE(FAILED(fws->raw_OpenTable(_bstr_t("C_AGGR").GetBSTR(), &table)));
    }
}

TEST_F(Template, RefusesAPathThatIsNoPersonalGeodatabase) {
    TemplateSummary s;
    EXPECT_EQ(create((dir_ / "chart.gdb").string(), &s), GDB_E_BAD_PATH);
    EXPECT_FALSE(fs::exists(dir_ / "chart.gdb"));
    EXPECT_FALSE(s.geodatabaseCreated);
}

// ---- The command ----------------------------------------------------------------------------------

TEST_F(Template, TarvoCreateTwice) {
    if (!fs::exists(tarvo())) GTEST_SKIP() << tarvo() << " is not built";
    const std::string path = (dir_ / "cmd.mdb").string();
    const Ran first = run(tarvo() + " create " + path);
    if (first.err.find("unknown command") != std::string::npos) GTEST_SKIP() << "tarvo has no create command";
    ASSERT_EQ(first.status, 0) << first.err;
    const int classes = int(expectedClasses().size());
    EXPECT_EQ(first.out, "Created " + path + ", feature dataset S57 (created)\nfeature classes: " +
                             std::to_string(classes) + " created, 0 reused; tables: 3 created, 0 reused\n" +
                             "topology: created, " + std::to_string(classes - 1) + " classes added\n");
    const std::string before = dump(path);
    const Ran second = run(tarvo() + " create " + path + " --dataset S57");
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.out, "Opened " + path + ", feature dataset S57\nfeature classes: 0 created, " +
                              std::to_string(classes) + " reused; tables: 0 created, 3 reused\n" +
                              "topology: reused, 0 classes added\n");
    EXPECT_EQ(dump(path), before);
    EXPECT_EQ(ogrLayers(path, nullptr).size(), std::size_t(classes + 3));

    const Ran noPath = run(tarvo() + " create");
    EXPECT_EQ(noPath.status, 2);
    EXPECT_EQ(noPath.err, "usage: tarvo create GEODATABASE [--dataset NAME] [--versioned]\n");
    const Ran bad = run(tarvo() + " create " + (dir_ / "x.gdb").string());
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("is not a geodatabase path (.mdb, .gpkg or .sde)"), std::string::npos) << bad.err;
}

// The versioned flag, as a test makes a versioned dataset: set on the dataset, nothing else changed;
// a personal geodatabase is not tested for versioning, so a cell still imports into it.
TEST_F(Template, TarvoCreateVersionedRegistersTheDataset) {
    if (!fs::exists(tarvo())) GTEST_SKIP() << tarvo() << " is not built";
    const std::string plain = (dir_ / "plain.gpkg").string();
    const std::string path = (dir_ / "versioned.gpkg").string();
    ASSERT_EQ(run(tarvo() + " create " + plain).status, 0);
    const Ran made = run(tarvo() + " create " + path + " --versioned");
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_NE(made.out.find("\nfeature dataset S57 registered as versioned\n"), std::string::npos) << made.out;
    auto flag = [](const std::string& gdb) {
        IWorkspacePtr ws;
        EXPECT_EQ(openWorkspace(gdb.c_str(), &ws), S_OK);
        IVersionedObjectPtr v(IFeatureWorkspacePtr(ws)->OpenFeatureDataset(L"S57"));
        return v->GetIsRegisteredAsVersioned() != VARIANT_FALSE;
    };
    EXPECT_TRUE(flag(path));
    EXPECT_FALSE(flag(plain));

    const std::string cell = std::string(TARVO_TEST_DATA) + "/enc/US5MA12M/US5MA12M.000";
    if (!fs::exists(cell)) GTEST_SKIP() << "test data " << cell << " is absent";
    fs::copy_file(cell, dir_ / "US5MA12M.000");
    const Ran imported = run(tarvo() + " import " + (dir_ / "US5MA12M.000").string() + " " + path);
    EXPECT_EQ(imported.status, 0) << imported.out << imported.err;
    EXPECT_EQ(imported.out.find("118"), std::string::npos) << imported.out;
}

// A new geodatabase is made without looking for each name of the template first: where product.xml
// names a table like a class (case aside), like a table of the storage or like the dataset, the
// result and the report are those of the same template built where every name is looked for.
TEST_F(Template, NewGeodatabaseMeetsNamesTakenAsAnExistingOneDoes) {
    const std::string shipped = moduleDirectory(moduleInstance);
    ASSERT_FALSE(shipped.empty());
    const fs::path catalogue = dir_ / "catalogue";
    fs::create_directories(catalogue);
    fs::copy_file(shipped + "s57.xml", catalogue / "s57.xml");
    std::string product = slurp(shipped + "product.xml");
    for (const auto& [from, to] : {std::pair<std::string, std::string>{"\"C_AGGR\"", "\"soundingfeature\""},
                                   {"\"C_ASSO\"", "\"gpkg_contents\""},
                                   {"\"C_STAC\"", "\"S57\""}}) {
        ASSERT_NE(product.find(from), std::string::npos) << from;
        product.replace(product.find(from), from.size(), to);
    }
    std::ofstream(catalogue / "product.xml", std::ios::binary) << product;

    TemplateSummary made;
    const HRESULT madeResult = createGeodatabase((dir_ / "new.gpkg").string().c_str(), "S57",
                                                 catalogue.string().c_str(), report_, &made);
    const std::string madeReport = reported();
    EXPECT_NE(madeReport.find("gpkg_contents"), std::string::npos) << madeReport;
    EXPECT_NE(madeReport.find("table S57"), std::string::npos) << madeReport;
    EXPECT_EQ(made.tablesReused, 1);  // soundingfeature: the sounding class, completed

    std::fclose(report_);
    report_ = std::tmpfile();
    ASSERT_NE(report_, nullptr);
    IWorkspaceFactoryPtr factory(CLSID_AccessWorkspaceFactory);
    IWorkspacePtr ws = factory->Create(dir_.string().c_str(), "probed.gpkg");
    TemplateSummary probed;
    EXPECT_EQ(createGeodatabaseTemplate(ws, "S57", (catalogue / "product.xml").string().c_str(), report_, &probed),
              madeResult);
    EXPECT_EQ(reported(), madeReport);
    EXPECT_TRUE(made.geodatabaseCreated);
    for (const auto& [what, a, b] :
         {std::tuple{"classes created", made.classesCreated, probed.classesCreated},
          std::tuple{"classes reused", made.classesReused, probed.classesReused},
          std::tuple{"tables created", made.tablesCreated, probed.tablesCreated},
          std::tuple{"tables reused", made.tablesReused, probed.tablesReused},
          std::tuple{"columns added", made.columnsAdded, probed.columnsAdded},
          std::tuple{"topology classes", made.topologyClassesAdded, probed.topologyClassesAdded}})
        EXPECT_EQ(a, b) << what;
}

}  // namespace
