// tests/import/e2e_support.h: what the end-to-end import tests share: scratch folders, cells and
// exchange sets linked into them (the log is written beside the input), a template geodatabase
// made once per process and copied, runs of the driver with the scripted user interface, a small
// SQLite reader, and GeoPackage geometries as plain coordinate lists.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/ui.h"

namespace pgtest {
struct TempDatabase;
}

namespace e2e {

// A folder of its own under the system's temporary folder, removed with the object.
class Scratch {
public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Links `target` as dir/name (folders made as needed); the link's path.
std::string link(const std::string& target, const std::string& dir, const std::string& name);

// Every file of the folder, linked under dir (names kept); the folder's CATALOG.031 link, or its
// only base cell when it has no catalogue.
std::string linkExchangeSet(const std::string& encRoot, const std::string& dir);

// A copy of the geodatabase template (`tarvo create` with dataset "S57"), made once per process.
void copyTemplate(const std::string& to);

// One run of the driver with scripted answers (the closing question answered No unless given).
struct DriverRun {
    int result = 0;
    std::vector<ui::Event> events;
    std::string log;  // the whole log, empty when there is none

    std::vector<std::string> messages() const;  // texts of the message boxes, in order
    std::vector<long> positions() const;         // progress positions, in order
    bool asked(const std::string& text) const;   // a box with this text was shown
};
DriverRun runDriver(const std::string& s57file, const std::string& gdb, const std::string& dataset = "S57",
              std::vector<int> answers = {});

// ---- Backends ---------------------------------------------------------------------------------

// Where a geodatabase is kept: a GeoPackage file, or a database on the PostgreSQL/PostGIS test
// server named by a connection file.
enum class Backend { GeoPackage, Server };

// A geodatabase holding the template (`tarvo create` with dataset "S57") for one test: a copy of
// the GeoPackage template at dir/name.gpkg, or a new database on the test server named by the
// connection file dir/name.sde (dropped with the object). `skip` says why the backend cannot be used
// (no server configured, or a server that holds no tables yet); path is then empty.
class TestGeodatabase {
public:
    TestGeodatabase(Backend backend, const std::string& dir, const std::string& name);
    ~TestGeodatabase();
    TestGeodatabase(const TestGeodatabase&) = delete;
    TestGeodatabase& operator=(const TestGeodatabase&) = delete;
    std::string path;
    std::string skip;

private:
    std::unique_ptr<pgtest::TempDatabase> database_;
};

// ---- SQLite, or the server ------------------------------------------------------------------------
// The readers below take a GeoPackage file or a connection file (".sde"), whose database they read
// as the same tables: names as created (quote mixed-case names in SQL given to query), geometries
// given back as GeoPackage blobs.

using Row = std::vector<std::optional<std::string>>;  // text of each column; nullopt for NULL
struct Blob {
    std::vector<unsigned char> bytes;
};

std::vector<Row> query(const std::string& file, const std::string& sql);
// One value, or nullopt when the query gives no row.
std::optional<std::string> scalar(const std::string& file, const std::string& sql);
// Rows of the table (0 when there is no such table).
long count(const std::string& file, const std::string& table, const std::string& where = {});
std::vector<std::string> tables(const std::string& file);  // user tables, no R-tree or gpkg ones
std::vector<std::string> columns(const std::string& file, const std::string& table);
// Row count of every user table, for before-and-after comparisons.
std::map<std::string, long> rowCounts(const std::string& file);

// Rows with the geometry column as raw bytes: each row is the other columns' texts, and blobs.
struct GeoRow {
    std::map<std::string, std::optional<std::string>> values;  // by upper-case column name
    std::vector<unsigned char> geometry;
};
std::vector<GeoRow> geoRows(const std::string& file, const std::string& table, const std::string& geomColumn);

// ---- Geometry ----------------------------------------------------------------------------------

struct Pt {
    double x, y, z;
    bool hasZ;
};
using Ring = std::vector<Pt>;
// A decoded GeoPackage geometry: every linestring or ring as a point list, in order; points of a
// (multi)point as one-point lists. kind: 1 point, 2 line, 3 polygon (of the WKB's base types).
struct Geometry {
    int kind = 0;
    std::vector<Ring> parts;
};
// Empty kind 0 for a blob that is no GeoPackage geometry.
Geometry decodeGpkg(const std::vector<unsigned char>& blob);

}  // namespace e2e
