// tests/import/features_support.cpp: cell import and GDAL reference runs, SQLite reads, geometry
// coordinates and in-code records for the feature-import tests.

#include "tests/import/features_support.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "import/impf.h"
#include "import/impv.h"
#include "platform/geometry/gpkg_blob.h"
#include "s57/dbutil.h"
#include "s57/dimml.h"
#include "s57/gdb_template.h"
#include "s57/llist.h"
#include "s57/record_list.h"
#include "s57/s57_file.h"
#include "s57/s57_util2.h"

namespace features {

TempDir::TempDir() {
    char pattern[] = "/tmp/impf_test_XXXXXX";
    const char* made = mkdtemp(pattern);
    path_ = made ? made : "/tmp";
}

TempDir::~TempDir() {
    if (path_ != "/tmp") {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
}

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// COMF and SOMF of the cell's DSPM record, found by its record name.
void factors(Iso8211File* file, llist* records, int32_t* comf, int32_t* somf) {
    *comf = 10000000;
    *somf = 10;
    for (auto* rec = static_cast<ObjectRec*>(llist_first(records)); rec;
         rec = static_cast<ObjectRec*>(llist_next(records))) {
        if (std::strncmp(rec->name, "DP", 2) != 0) continue;
        Iso8211Record record{};
        if (Read8211Record(file, rec->recno, &record) == 0) {
            const int f = Find8211Field(&record, "DSPM", 0);
            if (f >= 0) {
                const int c = Find8211SubField(&record, "COMF", f, 0);
                const int s = Find8211SubField(&record, "SOMF", f, 0);
                if (c >= 0) *comf = std::atoi(record.fields[f].subFields[c].value);
                if (s >= 0) *somf = std::atoi(record.fields[f].subFields[s].value);
            }
        }
        (void)Free8211Record(&record);
        break;
    }
}

}  // namespace

ImportRun importCell(const std::string& cell, const TempDir& dir, const ImportOptions& options) {
    ImportRun run;
    run.gpkg = dir.file("cell.gpkg");
    const std::string logPath = dir.file("cell.log");
    initPrimTypes();
    if (options.withTemplate) {
        TemplateSummary summary;
        if (FAILED(createGeodatabase(run.gpkg.c_str(), "S57", nullptr, nullptr, &summary))) {
            ADD_FAILURE() << "template not created";
            return run;
        }
    } else {
        if (FAILED(loadDIMEInfo())) {
            ADD_FAILURE() << "catalogue not loaded";
            return run;
        }
        IWorkspaceFactoryPtr factory(CLSID_AccessWorkspaceFactory);
        std::filesystem::path p(run.gpkg);
        (void)factory->Create(p.parent_path().string().c_str(), p.filename().string().c_str());
    }
    if (options.beforeImport) options.beforeImport(run.gpkg);

    logFile = std::fopen(logPath.c_str(), "w");
    cellCount = options.cellCount;
    cellIndex = options.cellIndex;
    pointFeatureCount = lineFeatureCount = areaFeatureCount = 0;
    Iso8211File file{};
    llist* records = nullptr;
    Cache cache{};
    int hasFX = 0;
    {
        IWorkspacePtr workspace;
        if (FAILED(openWorkspace(run.gpkg.c_str(), &workspace)) || !workspace) {
            ADD_FAILURE() << "workspace not opened";
        } else if (loadObjectRecList(&file, cell.c_str(), &records) != 0 ||
                   cache_initialize(&cache, records, &hasFX) != 0) {
            ADD_FAILURE() << "cell not read: " << cell;
        } else {
            IFeatureWorkspacePtr features(workspace);
            ITablePtr srel;
            (void)createGDBTable(features, "srel", &srel, fieldDefCount(srelFieldDefs), srelFieldDefs);
            ISpatialReferencePtr reference(CLSID_SpatialReferenceWGS84);
            if (options.withTemplate)
                reference = IGeoDatasetPtr(features->OpenFeatureDataset("S57"))->GetSpatialReference();
            int32_t comf = 0, somf = 0;
            factors(&file, records, &comf, &somf);
            const std::string name = std::filesystem::path(cell).filename().string();
            run.vectorResult = importVector(features, &file, records, comf, somf, srel, &cache, reference, name.c_str());
            if (options.start == ImportOptions::Start::Head) (void)llist_first(records);
            if (options.start == ImportOptions::Start::End) {
                while (llist_next(records)) {
                }
            }
            run.featureResult = importFeature(features, &file, records, srel, &cache, hasFX, reference, name.c_str());
        }
    }
    if (records) llist_destroy(records);
    cache_free(&cache);
    if (file.fp) (void)Close8211File(&file);
    if (logFile) std::fclose(logFile);
    logFile = nullptr;
    run.log = readFile(logPath);
    return run;
}

std::string gdalReference(const std::string& cell, const TempDir& dir) {
    const std::string out = dir.file("gdal.gpkg");
    const std::string base = "ogr2ogr -q -f GPKG '" + out + "' '" + cell +
                             "' -oo UPDATES=IGNORE -oo SPLIT_MULTIPOINT=ON -oo ADD_SOUNDG_DEPTH=ON"
                             " -oo RETURN_LINKAGES=ON -oo LNAM_REFS=ON -oo LIST_AS_STRING=ON"
                             " -oo RECODE_BY_DSSI=ON";
    if (std::system((base + " > /dev/null 2>&1").c_str()) == 0 && std::filesystem::exists(out)) return out;
    // Layers GeoPackage cannot name (the cartographic $ classes) are left out, the rest kept.
    std::filesystem::remove(out);
    if (std::system((base + " -skipfailures > /dev/null 2>&1").c_str()) == 0 && std::filesystem::exists(out))
        return out;
    return {};
}

// ---- SQLite ------------------------------------------------------------------------------------

namespace {
struct Close {
    void operator()(sqlite3* db) const noexcept { sqlite3_close(db); }
};
struct Finalize {
    void operator()(sqlite3_stmt* s) const noexcept { sqlite3_finalize(s); }
};
}  // namespace

std::vector<Row> query(const std::string& file, const std::string& sql) {
    std::vector<Row> rows;
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open " << file;
        sqlite3_close(raw);
        return rows;
    }
    std::unique_ptr<sqlite3, Close> db(raw);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db.get());
        return rows;
    }
    std::unique_ptr<sqlite3_stmt, Finalize> stmt(st);
    while (sqlite3_step(st) == SQLITE_ROW) {
        Row row;
        for (int i = 0, n = sqlite3_column_count(st); i < n; ++i) {
            Value v;
            const int type = sqlite3_column_type(st, i);
            if (type == SQLITE_BLOB) {
                const auto* b = static_cast<const unsigned char*>(sqlite3_column_blob(st, i));
                v.blob.assign(b, b + sqlite3_column_bytes(st, i));
                v.text = std::string();
            } else if (type != SQLITE_NULL) {
                v.text = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
            }
            row.push_back(std::move(v));
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<std::string> columns(const std::string& file, const std::string& table) {
    std::vector<std::string> out;
    for (const Row& r : query(file, "SELECT name FROM pragma_table_info('" + table + "')"))
        if (r[0].text) out.push_back(*r[0].text);
    return out;
}

// ---- Geometry ------------------------------------------------------------------------------------

namespace {
Part pointsOf(IUnknown* part) {
    Part out;
    if (IPointPtr p = IPointPtr(part)) {
        out.push_back({p->GetX(), p->GetY(), p->GetZ()});
        return out;
    }
    IPointCollectionPtr points(part);
    if (!points) return out;
    for (LONG i = 0, n = points->GetPointCount(); i < n; ++i) {
        IPointPtr p = points->GetPoint(i);
        out.push_back({p->GetX(), p->GetY(), p->GetZ()});
    }
    return out;
}
}  // namespace

std::vector<Part> parts(IGeometry* geometry) {
    std::vector<Part> out;
    if (!geometry) return out;
    if (geometry->GetGeometryType() == esriGeometryPoint) {
        out.push_back(pointsOf(geometry));
        return out;
    }
    IGeometryCollectionPtr collection(geometry);
    if (!collection) return out;
    for (LONG i = 0, n = collection->GetGeometryCount(); i < n; ++i) {
        IGeometryPtr g = collection->GetGeometry(i);
        out.push_back(pointsOf(g));
    }
    return out;
}

std::vector<Part> blobParts(const std::vector<unsigned char>& blob) {
    if (blob.empty()) return {};
    try {
        IGeometryPtr g = geometryFromGpkgBlob(blob.data(), blob.size());
        return parts(g);
    } catch (const std::exception& e) {
        // A blob our reader refuses (GDAL writes rings of fewer than four points as they are).
        return {Part{{NAN, NAN, NAN}}};
    }
}

// ---- Records and caches ------------------------------------------------------------------------

namespace {
char* copy(const std::string& s) {
    char* p = static_cast<char*>(std::malloc(s.size() + 1));
    std::memcpy(p, s.c_str(), s.size() + 1);
    return p;
}
}  // namespace

void buildRecord(Iso8211Record* record, const std::vector<Field>& fields) {
    record->fieldCount = int32_t(fields.size());
    record->fields = static_cast<Iso8211Field*>(std::calloc(fields.size() + 1, sizeof(Iso8211Field)));
    for (std::size_t i = 0; i < fields.size(); ++i) {
        Iso8211Field& f = record->fields[i];
        std::snprintf(f.tag, sizeof f.tag, "%s", fields[i].tag.c_str());
        f.subfieldCount = int32_t(fields[i].subs.size());
        f.subFields = static_cast<Iso8211SubField*>(std::calloc(fields[i].subs.size() + 1, sizeof(Iso8211SubField)));
        for (std::size_t j = 0; j < fields[i].subs.size(); ++j) {
            Iso8211SubField& s = f.subFields[j];
            std::snprintf(s.label, sizeof s.label, "%s", fields[i].subs[j].label.c_str());
            s.value = copy(fields[i].subs[j].value);
            s.length = int32_t(fields[i].subs[j].value.size());
        }
    }
}

void initCache(Cache* cache, int n) {
    std::memset(cache, 0, sizeof *cache);
    cache->viCapacity = cache->vcCapacity = cache->veCapacity = n;
    cache->vi = static_cast<NodeObject**>(std::calloc(n, sizeof(NodeObject*)));
    cache->vc = static_cast<NodeObject**>(std::calloc(n, sizeof(NodeObject*)));
    cache->ve = static_cast<EdgeObject**>(std::calloc(n, sizeof(EdgeObject*)));
}

void addNode(Cache* cache, const std::string& name, int dim, const std::vector<double>& coords) {
    auto* node = static_cast<NodeObject*>(std::calloc(1, sizeof(NodeObject)));
    std::snprintf(node->name, sizeof node->name, "%s", name.c_str());
    node->dim = int16_t(dim);
    node->num = int32_t(coords.size() / std::size_t(dim));
    node->coords = static_cast<double*>(std::malloc(sizeof(double) * (coords.size() + 1)));
    std::copy(coords.begin(), coords.end(), node->coords);
    if (name[1] == 'I') {
        EXPECT_EQ(cache_add_vi(cache, node), 0);
        cache_sort_vi(cache);
    } else {
        EXPECT_EQ(cache_add_vc(cache, node), 0);
        cache_sort_vc(cache);
    }
}

void addEdge(Cache* cache, const std::string& name, const std::string& begin, const std::string& end,
             const std::vector<double>& xy) {
    auto* edge = static_cast<EdgeObject*>(std::calloc(1, sizeof(EdgeObject)));
    std::snprintf(edge->name, sizeof edge->name, "%s", name.c_str());
    std::snprintf(edge->beginNode, sizeof edge->beginNode, "%s", begin.c_str());
    std::snprintf(edge->endNode, sizeof edge->endNode, "%s", end.c_str());
    edge->num = int32_t(xy.size() / 2);
    edge->coords = static_cast<double*>(std::malloc(sizeof(double) * (xy.size() + 1)));
    std::copy(xy.begin(), xy.end(), edge->coords);
    EXPECT_EQ(cache_add_ve(cache, edge), 0);
    cache_sort_ve(cache);
}

}  // namespace features
