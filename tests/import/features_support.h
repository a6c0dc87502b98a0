// tests/import/features_support.h: what the feature-import tests share: a cell imported into a fresh
// geodatabase (template, vectors, features), GDAL's reading of the same cell into a GeoPackage, a small
// SQLite reader for both files, geometries as plain coordinate lists, and in-code records and caches.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/gdb/gdb.h"

struct Iso8211Record;
struct Cache;

namespace features {

// A folder of its own under the system's temporary folder, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

struct ImportOptions {
    bool withTemplate = true;  // the product model's classes made first, as `tarvo create` does
    // Runs on the geodatabase file after the template, before the import opens it.
    std::function<void(const std::string& gpkg)> beforeImport;
    // Where the record list stands when importFeature starts: after the vectors (as the driver leaves
    // it), at its head, or past its end.
    enum class Start { AfterVectors, Head, End } start = Start::AfterVectors;
    int32_t cellCount = 1, cellIndex = 0;  // the run's share that the progress positions use
};

struct ImportRun {
    std::string gpkg;
    int vectorResult = -1;
    int featureResult = -1;
    std::string log;  // the run's log text
};

// Imports the cell (template, srel, vectors, features) into dir/cell.gpkg with the log dir/cell.log.
ImportRun importCell(const std::string& cell, const TempDir& dir, const ImportOptions& options = {});

// ogr2ogr of the cell into dir/gdal.gpkg (updates off, soundings split with depth, linkages and LNAM
// references, lists as text, text recoded to UTF-8 as the DSSI says); empty when GDAL is not there or fails.
std::string gdalReference(const std::string& cell, const TempDir& dir);

// ---- SQLite ------------------------------------------------------------------------------------

struct Value {
    std::optional<std::string> text;  // null: nullopt
    std::vector<unsigned char> blob;  // blob columns
};
using Row = std::vector<Value>;

// All rows of a query over the file; fails the test (ADD_FAILURE) and gives none on an error.
std::vector<Row> query(const std::string& file, const std::string& sql);
// Column names of a table (empty when there is no such table).
std::vector<std::string> columns(const std::string& file, const std::string& table);

// ---- Geometry as coordinates ---------------------------------------------------------------------

struct Coord {
    double x, y, z;
    bool operator==(const Coord& o) const { return x == o.x && y == o.y; }
};
using Part = std::vector<Coord>;

// The parts of a geometry: a point is one part of one point; a multipoint one part per point.
std::vector<Part> parts(IGeometry* geometry);
// The same of a GeoPackage geometry blob.
std::vector<Part> blobParts(const std::vector<unsigned char>& blob);

// ---- Records and caches built in code ----------------------------------------------------------

struct Sub {
    std::string label, value;
};
struct Field {
    std::string tag;
    std::vector<Sub> subs;
};
// A record as the record layer hands it out (free it with Free8211Record).
void buildRecord(Iso8211Record* record, const std::vector<Field>& fields);

// Cache entries (the cache owns and frees them; cache_free): capacity set by the caller.
void addNode(Cache* cache, const std::string& name, int dim, const std::vector<double>& coords);
void addEdge(Cache* cache, const std::string& name, const std::string& begin, const std::string& end,
             const std::vector<double>& xy);
// An empty cache with room for n of each kind.
void initCache(Cache* cache, int n);

}  // namespace features
