// platform/gdb/gpkg_store.cpp: the personal geodatabase's storage over SQLite in GeoPackage
// layout: the connection with its batch transaction and edit sessions, class descriptions read
// from the schema, rows, the rows a filter selects, and the side tables.
//
// Storage: GeoPackage feature and attribute tables registered in gpkg_contents and
// gpkg_geometry_columns, one gpkg_rtree_index R-tree per feature class that has rows (the standard
// triggers keep it for other programs; our own inserts keep it themselves, see "R-tree upkeep"), and side tables
// "gdb_*" (registered in gpkg_extensions as "x_gdb_catalog", made only once something of ours needs them) for what
// GeoPackage has no place for: datasets, the Z domain, the versioned flag, subtypes, topologies.
#include "platform/gdb/gpkg_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gdb/gdb_com_object.h"
#include "platform/gdb/gpkg_rtree.h"
#include "platform/gdb/sqlite_statement.h"
#include "platform/geometry/gpkg_blob.h"
#include "platform/geometry/spatial_relation.h"

namespace gdb {

namespace {

// =============================================================================================
// The database: one SQLite connection per geodatabase file
// =============================================================================================

// SQLite's memory statistics take a global mutex on every allocation, and nothing here reads
// them. Set when the library is loaded: SQLite refuses it once it is in use.
struct SqliteSetup {
    SqliteSetup() { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); }
} const kSqliteSetup;

constexpr char kWgs84Wkt[] =
    "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563,AUTHORITY[\"EPSG\",\"7030\"]],"
    "AUTHORITY[\"EPSG\",\"6326\"]],PRIMEM[\"Greenwich\",0,AUTHORITY[\"EPSG\",\"8901\"]],UNIT[\"degree\","
    "0.0174532925199433,AUTHORITY[\"EPSG\",\"9122\"]],AXIS[\"Latitude\",NORTH],AXIS[\"Longitude\",EAST],"
    "AUTHORITY[\"EPSG\",\"4326\"]]";

// The GeoPackage's own tables, then ours.
constexpr const char* kCreateSchema[] = {
    "CREATE TABLE IF NOT EXISTS gpkg_spatial_ref_sys (srs_name TEXT NOT NULL, srs_id INTEGER PRIMARY KEY, "
    "organization TEXT NOT NULL, organization_coordsys_id INTEGER NOT NULL, definition TEXT NOT NULL, "
    "description TEXT)",
    "CREATE TABLE IF NOT EXISTS gpkg_contents (table_name TEXT NOT NULL PRIMARY KEY, data_type TEXT NOT NULL, "
    "identifier TEXT UNIQUE, description TEXT DEFAULT '', last_change DATETIME NOT NULL DEFAULT "
    "(strftime('%Y-%m-%dT%H:%M:%fZ','now')), min_x DOUBLE, min_y DOUBLE, max_x DOUBLE, max_y DOUBLE, "
    "srs_id INTEGER, CONSTRAINT fk_gc_r_srs_id FOREIGN KEY (srs_id) REFERENCES gpkg_spatial_ref_sys(srs_id))",
    "CREATE TABLE IF NOT EXISTS gpkg_geometry_columns (table_name TEXT NOT NULL, column_name TEXT NOT NULL, "
    "geometry_type_name TEXT NOT NULL, srs_id INTEGER NOT NULL, z TINYINT NOT NULL, m TINYINT NOT NULL, "
    "CONSTRAINT pk_geom_cols PRIMARY KEY (table_name, column_name), CONSTRAINT uk_gc_table_name UNIQUE "
    "(table_name), CONSTRAINT fk_gc_tn FOREIGN KEY (table_name) REFERENCES gpkg_contents(table_name), "
    "CONSTRAINT fk_gc_srs FOREIGN KEY (srs_id) REFERENCES gpkg_spatial_ref_sys (srs_id))",
    "CREATE TABLE IF NOT EXISTS gpkg_extensions (table_name TEXT, column_name TEXT, extension_name TEXT NOT NULL, "
    "definition TEXT NOT NULL, scope TEXT NOT NULL, CONSTRAINT ge_tce UNIQUE (table_name, column_name, "
    "extension_name))",
    "CREATE TABLE IF NOT EXISTS gdb_items (name TEXT NOT NULL PRIMARY KEY COLLATE NOCASE, kind TEXT NOT NULL, "
    "dataset TEXT COLLATE NOCASE, alias TEXT, shape_type INTEGER, has_z INTEGER NOT NULL DEFAULT 0, "
    "srs_id INTEGER, z_min DOUBLE, z_max DOUBLE, grid_size DOUBLE, versioned INTEGER NOT NULL DEFAULT 0, "
    "subtype_field TEXT, default_subtype INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE IF NOT EXISTS gdb_subtypes (class_name TEXT NOT NULL COLLATE NOCASE, code INTEGER NOT NULL, "
    "name TEXT NOT NULL, PRIMARY KEY (class_name, code))",
    "CREATE TABLE IF NOT EXISTS gdb_topologies (name TEXT NOT NULL PRIMARY KEY COLLATE NOCASE, "
    "dataset TEXT NOT NULL COLLATE NOCASE, tolerance DOUBLE NOT NULL)",
    "CREATE TABLE IF NOT EXISTS gdb_topology_classes (topology TEXT NOT NULL COLLATE NOCASE, "
    "class_name TEXT NOT NULL COLLATE NOCASE, PRIMARY KEY (topology, class_name))",
    // Registered as an extension only (a table in gpkg_contents must be of a GeoPackage data type;
    // earlier versions listed them as "x_gdb_catalog"), write-only: readers of the features need
    // nothing of them.
    "DELETE FROM gpkg_contents WHERE data_type = 'x_gdb_catalog'",
    // (A NULL column_name makes no two rows equal for the UNIQUE constraint: NOT EXISTS guards.)
    "INSERT INTO gpkg_extensions (table_name, column_name, extension_name, definition, scope) "
    "SELECT name, NULL, 'x_gdb_catalog', CASE name WHEN 'gdb_items' THEN 'feature datasets and their classes, "
    "spatial reference and Z domain, versioned flag, subtype field' WHEN 'gdb_subtypes' THEN 'subtype codes and "
    "names' WHEN 'gdb_topologies' THEN 'topologies with their tolerance' ELSE 'member classes of the topologies' "
    "END, 'write-only' FROM sqlite_master WHERE type = 'table' AND name IN ('gdb_items', 'gdb_subtypes', "
    "'gdb_topologies', 'gdb_topology_classes') AND NOT EXISTS (SELECT 1 FROM gpkg_extensions e WHERE "
    "e.table_name = sqlite_master.name AND e.extension_name = 'x_gdb_catalog')",
    "DELETE FROM gpkg_extensions WHERE extension_name = 'x_gdb_catalog' AND table_name IS NULL",
};

// The side tables as empty temporary copies, read while a foreign GeoPackage has none of its
// own: the real ones are made by the first write transaction, so that a run that writes nothing
// leaves the file as it was.
constexpr const char* kSideTableNames[] = {"gdb_items", "gdb_subtypes", "gdb_topologies", "gdb_topology_classes"};

// The GeoPackage schema extension, through which subtype fields are described as enumerations.
constexpr const char* kCreateDataColumns[] = {
    "CREATE TABLE IF NOT EXISTS gpkg_data_columns (table_name TEXT NOT NULL, column_name TEXT NOT NULL, name TEXT, "
    "title TEXT, description TEXT, mime_type TEXT, constraint_name TEXT, CONSTRAINT pk_gdc PRIMARY KEY "
    "(table_name, column_name), CONSTRAINT gdc_tn UNIQUE (table_name, name))",
    "CREATE TABLE IF NOT EXISTS gpkg_data_column_constraints (constraint_name TEXT NOT NULL, constraint_type TEXT "
    "NOT NULL, value TEXT, min NUMERIC, min_is_inclusive BOOLEAN, max NUMERIC, max_is_inclusive BOOLEAN, "
    "description TEXT, CONSTRAINT gdcc_ntv UNIQUE (constraint_name, constraint_type, value))",
    "INSERT INTO gpkg_extensions (table_name, column_name, extension_name, definition, scope) SELECT t, NULL, "
    "'gpkg_schema', 'http://www.geopackage.org/spec/#extension_schema', 'read-write' FROM (SELECT "
    "'gpkg_data_columns' AS t UNION ALL SELECT 'gpkg_data_column_constraints') WHERE NOT EXISTS (SELECT 1 FROM "
    "gpkg_extensions e WHERE e.table_name = t AND e.extension_name = 'gpkg_schema')",
};

// The GeoPackage R-tree functions the standard triggers call, read from the blob header.
GeoExtent blobExtentOf(sqlite3_context* ctx, sqlite3_value* v, bool* ok) {
    *ok = false;
    if (sqlite3_value_type(v) != SQLITE_BLOB) return {};
    try {
        GeoExtent e = gpkgBlobExtent(sqlite3_value_blob(v), std::size_t(sqlite3_value_bytes(v)));
        *ok = true;
        return e;
    } catch (const std::exception& e) {
        sqlite3_result_error(ctx, e.what(), -1);
        return {};
    }
}
template <int K>
void stBound(sqlite3_context* ctx, int, sqlite3_value** argv) {
    bool ok;
    GeoExtent e = blobExtentOf(ctx, argv[0], &ok);
    if (!ok) {
        if (sqlite3_value_type(argv[0]) != SQLITE_BLOB) sqlite3_result_null(ctx);
        return;
    }
    if (e.empty()) return sqlite3_result_null(ctx);
    sqlite3_result_double(ctx, K == 0 ? e.xmin : K == 1 ? e.xmax : K == 2 ? e.ymin : e.ymax);
}
void stIsEmpty(sqlite3_context* ctx, int, sqlite3_value** argv) {
    // While a row whose R-tree entry is deferred goes in, its insert trigger stays quiet.
    if (*static_cast<const bool*>(sqlite3_user_data(ctx))) return sqlite3_result_int(ctx, 1);
    bool ok;
    GeoExtent e = blobExtentOf(ctx, argv[0], &ok);
    if (!ok) {
        if (sqlite3_value_type(argv[0]) != SQLITE_BLOB) sqlite3_result_null(ctx);
        return;
    }
    sqlite3_result_int(ctx, e.empty() ? 1 : 0);
}


// =============================================================================================
// R-tree upkeep
// =============================================================================================
// Inserts inside one transaction do not go through the GeoPackage insert trigger, which costs an
// R-tree insertion per row: the trigger is dropped for the transaction, the extents are kept, and
// before anything reads or changes the R-tree (a spatial search, an update, a delete, a commit, a
// savepoint) they are written, into an empty or smaller tree by building it anew, packed (sort-tile-
// recursive), else one by one. Then the trigger is created again, with the SQL it had.
// A feature class gets its R-tree, its triggers and its gpkg_extensions row at that point, when
// it first has rows: most classes of a template stay empty, and a schema change makes SQLite
// prepare every statement again. Searches do without an R-tree where a class has none.

// What an R-tree's deferral needs to know of its class.
struct RtreeOwner {
    const std::string& rtree;
    const std::string& table;
    const std::string& column;
    const std::string& oid;
};

struct PendingRtree {
    std::string triggerName;
    std::string triggerSql;  // empty when the table had no insert trigger
    bool quietTrigger = false;  // the trigger (ours, unchanged) stays, kept quiet while our rows go in
    std::vector<RtreeEntry> entries;
    // A class that has no R-tree yet gets it, with its triggers, when the entries are written.
    std::optional<RtreeSql> create;
    std::string table, column, oid;
    bool fromTable = false;  // the class had rows already (another program wrote them): all are indexed
    GeoExtent extent;        // exact union of the entries, for the table's gpkg_contents extent
};

// =============================================================================================
// Rows in batches
// =============================================================================================
// An INSERT costs SQLite a fixed price besides its row: for an AUTOINCREMENT table its counter is
// looked up in sqlite_sequence and written back every time, more than the row itself costs. Rows of
// a table that cannot refuse one (no constraint but the object id's, no unique index, no trigger
// but our own R-tree's) are held back and go in together, many a statement, with the ids SQLite
// gives them one by one (one past the larger of the counter and the largest id): the same rows, ids
// and counter. They are written before anything else reads or changes the file (any other call of
// the storage, a schema change, a savepoint, a commit). A table's first row goes in alone: it makes
// the table's counter, and the counters stay in the order the tables first had rows.

// Rows of one table held back.
struct RowBatch {
    std::string table;
    std::string rtree;        // the class's R-tree, whose insert trigger stays quiet for them
    std::string columns;      // every column, the object id's included, quoted, in order
    std::size_t width = 0;    // values a row
    // Row after row, the first `used` values, each with its kind and the field writeRows binds for
    // it (the others are left as they were); the rest keep their storage for the next rows (a
    // shape's blob is copied into storage of about its size instead of a fresh one).
    std::vector<Val> values;
    std::size_t used = 0;
    std::int64_t firstId = 0; // the first held row's id; the others follow
    std::size_t oid = 0;      // the object id's column
    sqlite3_stmt* single = nullptr;  // the class's own insert of one row (the id left to SQLite)
    std::size_t rows() const { return width ? used / width : 0; }
};

// A table's insert of kBatchRows rows, for the column list it was made for (a size between that
// and one row costs more to prepare and keep than it saves).
struct BatchStatements {
    std::string columns;
    Stmt many;
};

constexpr std::size_t kBatchRows = 16;

std::string upperAscii(std::string s) {
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

class Database {
public:
    Database(const std::string& file, bool create) {
        // A file of no bytes is a geodatabase that was never written: it is made anew.
        std::error_code sizeError;
        if (!create && std::filesystem::is_regular_file(file, sizeError) && std::filesystem::file_size(file, sizeError) == 0 &&
            !sizeError)
            create = true;
        int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
        sqlite3* raw = nullptr;
        int rc = sqlite3_open_v2(file.c_str(), &raw, flags, nullptr);
        if (rc != SQLITE_OK) {
            std::string msg = raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
            const int sysErrno = raw ? sqlite3_system_errno(raw) : 0;
            sqlite3_close_v2(raw);
            std::error_code ec;
            if (std::filesystem::is_directory(file, ec)) raise(GDB_E_BAD_PATH, file + " is a folder");
            if (sysErrno == EACCES || sysErrno == EPERM)
                raise(GDB_E_ACCESS_DENIED, "cannot open geodatabase " + file + ": permission denied");
            if (sysErrno == EROFS) raise(GDB_E_READ_ONLY, "cannot open geodatabase " + file + ": read-only");
            raise(GDB_E_BAD_PATH, "cannot open geodatabase " + file + ": " + msg);
        }
        db_ = raw;
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_busy_timeout(db_, 5000);
        // A large import stays in memory until its commit instead of spilling pages mid-way.
        sqlite3_exec(db_, "PRAGMA cache_size = -262144", nullptr, nullptr, nullptr);
        // Statement journals (every insert that fires the R-tree trigger has one) stay in memory.
        sqlite3_exec(db_, "PRAGMA temp_store = MEMORY", nullptr, nullptr, nullptr);
        const int fl = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
        sqlite3_create_function(db_, "ST_MinX", 1, fl, nullptr, &stBound<0>, nullptr, nullptr);
        sqlite3_create_function(db_, "ST_MaxX", 1, fl, nullptr, &stBound<1>, nullptr, nullptr);
        sqlite3_create_function(db_, "ST_MinY", 1, fl, nullptr, &stBound<2>, nullptr, nullptr);
        sqlite3_create_function(db_, "ST_MaxY", 1, fl, nullptr, &stBound<3>, nullptr, nullptr);
        sqlite3_create_function(db_, "ST_IsEmpty", 1, fl, &quietRtree_, &stIsEmpty, nullptr, nullptr);
        try {
            if (create) {
                initialise();
            } else {
                checkGeoPackage(file);
                ensureSideTables();
            }
        } catch (...) {
            // Nothing of a failed start is kept.
            if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            close();
            throw;
        }
    }
    ~Database() { close(); }
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    sqlite3* raw() const { return db_; }

    void exec(std::string_view sql) {
        // A schema change or a transaction's end: the rows held back go first, and what was known
        // of the tables is asked again afterwards.
        if (!rowBatches_.empty()) flushRows();
        batchable_.clear();
        Stmt st = prepare(db_, sql);
        while (step(st.get())) {
        }
    }
    // A statement kept for reuse; reset and unbound. Only for statements that finish before the
    // caller returns (cursors prepare their own).
    sqlite3_stmt* cached(const std::string& sql) {
        auto it = cache_.find(sql);
        if (it == cache_.end()) it = cache_.emplace(sql, prepare(db_, sql)).first;
        sqlite3_stmt* st = it->second.get();
        sqlite3_reset(st);
        sqlite3_clear_bindings(st);
        return st;
    }

    // Writes: inside an edit session they join its savepoint; outside, the batch transaction.
    // A write transaction takes the write lock when it begins, waiting for another program's
    // (a deferred one that upgrades later fails at once instead of waiting).
    void beginWrite() {
        if (sqlite3_get_autocommit(db_)) {
            exec("BEGIN IMMEDIATE");
            batchStart_ = std::chrono::steady_clock::now();
            transactionBegun();
            registerSideTables();
        }
    }
    void commitBatch() {
        if (!editing_ && !sqlite3_get_autocommit(db_)) {
            flushRows();
            flushRtrees();
            batchLost();
            aboutToCommit();
            exec("COMMIT");
        }
    }
    // The batch transaction lost held rows or R-tree entries: it is rolled back whole and the loss thrown.
    void batchLost() {
        if (lostWrite_.empty()) return;
        const std::string lost = lostWrite_;
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        rolledBack();
        throw SqlError("changes could not be written, nothing of them is saved: " + lost);
    }
    // The batch is committed at a flush once it has been open for a second.
    void flushBatch() {
        if (editing_ || sqlite3_get_autocommit(db_)) return;
        if (std::chrono::steady_clock::now() - batchStart_ < std::chrono::seconds(1)) return;
        flushRows();
        flushRtrees();
        batchLost();
        aboutToCommit();
        int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        if (rc == SQLITE_BUSY) return;  // a reader holds the file; the batch stays open
        if (rc != SQLITE_OK) throw SqlError(db_, rc, "COMMIT");
    }

    // A row inserted into a feature class whose R-tree this transaction keeps by itself.
    // Called before the insert, so that the trigger does not fire for it.
    void beginDeferral(const RtreeOwner& owner) {
        if (pendingFor(owner.rtree)) return;
        PendingRtree p;
        p.table = owner.table;
        p.column = owner.column;
        p.oid = owner.oid;
        if (!rtreeExists(owner.rtree)) {
            p.create = rtreeSql(owner.table, owner.column, owner.oid);
            Stmt any = prepare(db_, "SELECT 1 FROM " + sqlName(owner.table) + " LIMIT 1");
            p.fromTable = step(any.get());
        } else {
            p.triggerName = owner.rtree + "_insert";
            // Dropping the trigger and making it again are two schema changes, each making SQLite
            // prepare every statement again: where the trigger is ours and nothing else of the table
            // calls ST_IsEmpty, it stays and is kept quiet instead.
            const RtreeSql own = rtreeSql(owner.table, owner.column, owner.oid);
            bool otherUse = false;
            sqlite3_stmt* st = cached("SELECT type, name, sql FROM sqlite_master WHERE tbl_name = ?1 COLLATE NOCASE");
            bindText(st, 1, owner.table);
            while (step(st)) {
                const std::string type = columnText(st, 0), name = columnText(st, 1), sql = columnText(st, 2);
                if (type == "trigger" && name == p.triggerName) {
                    if (p.triggerSql.empty()) p.triggerSql = sql;
                    continue;
                }
                if (std::find(own.triggers.begin() + 1, own.triggers.end(), sql) != own.triggers.end()) continue;
                if (lower(sql).find("st_isempty") != std::string::npos) otherUse = true;
            }
            sqlite3_reset(st);
            if (!otherUse && p.triggerSql == own.triggers[0]) {
                p.quietTrigger = true;
                p.triggerSql.clear();
            } else if (!p.triggerSql.empty()) {
                exec("DROP TRIGGER " + sqlName(p.triggerName));
            }
        }
        pending_.emplace(owner.rtree, std::move(p));
    }
    bool quietTrigger(const std::string& rtree) {
        const PendingRtree* p = pendingFor(rtree);
        return p && p->quietTrigger;
    }
    // Keeps the quiet R-tree triggers quiet for one insert.
    class QuietRtree {
    public:
        QuietRtree(Database& db, bool on) : db_(db) { db_.quietRtree_ = on; }
        ~QuietRtree() { db_.quietRtree_ = false; }
        QuietRtree(const QuietRtree&) = delete;
        QuietRtree& operator=(const QuietRtree&) = delete;

    private:
        Database& db_;
    };
    // Whether the R-tree table is there (written by us or by another program).
    bool rtreeExists(const std::string& rtree) {
        foreignSchemaEpoch();  // another program may have made or dropped one
        auto it = rtrees_.find(rtree);
        if (it != rtrees_.end()) return it->second;
        sqlite3_stmt* st = cached("SELECT 1 FROM sqlite_master WHERE name = ?1 COLLATE NOCASE");
        bindText(st, 1, rtree);
        const bool found = step(st);
        sqlite3_reset(st);
        rtrees_.emplace(rtree, found);
        return found;
    }
    void deferRtree(const std::string& rtree, std::int64_t id, const GeoExtent& e) {
        PendingRtree* p = pendingFor(rtree);
        if (!p) throw SqlError("R-tree " + rtree + " is not deferred");
        if (e.empty()) return;
        widen(p->extent, e);
        p->entries.push_back({id, {roundDown(e.xmin), roundUp(e.xmax), roundDown(e.ymin), roundUp(e.ymax)}});
    }
    // Brings one R-tree up to date and gives its trigger back.
    void flushRtree(std::string rtree) {  // a copy: the entry naming it goes away
        flushRows();  // the rows first: a new R-tree may be built from the table
        auto it = pending_.find(rtree);
        if (it == pending_.end()) return;
        PendingRtree p = std::move(it->second);
        lastPending_ = nullptr;
        pending_.erase(it);
        try {
            if (p.create) {
                exec(p.create->create);
                rtrees_[rtree] = true;
                if (p.fromTable) {
                    p.entries.clear();
                    Stmt all = prepare(db_, "SELECT " + sqlName(p.oid) + ", " + sqlName(p.column) + " FROM " + sqlName(p.table));
                    while (step(all.get())) {
                        if (sqlite3_column_type(all.get(), 1) != SQLITE_BLOB) continue;
                        const GeoExtent e = gpkgBlobExtent(sqlite3_column_blob(all.get(), 1), std::size_t(sqlite3_column_bytes(all.get(), 1)));
                        widen(p.extent, e);
                        if (!e.empty())
                            p.entries.push_back({sqlite3_column_int64(all.get(), 0),
                                                 {roundDown(e.xmin), roundUp(e.xmax), roundDown(e.ymin), roundUp(e.ymax)}});
                    }
                }
            }
            if (!p.extent.empty()) {
                // The table's extent grows with its rows (readers take it instead of the R-tree's
                // rounded boxes).
                sqlite3_stmt* ext = cached(
                    "UPDATE gpkg_contents SET min_x = min(coalesce(min_x, ?2), ?2), min_y = min(coalesce(min_y, ?3), ?3), "
                    "max_x = max(coalesce(max_x, ?4), ?4), max_y = max(coalesce(max_y, ?5), ?5) WHERE table_name = ?1");
                bindText(ext, 1, p.table);
                sqlite3_bind_double(ext, 2, p.extent.xmin);
                sqlite3_bind_double(ext, 3, p.extent.ymin);
                sqlite3_bind_double(ext, 4, p.extent.xmax);
                sqlite3_bind_double(ext, 5, p.extent.ymax);
                step(ext);
            }
            if (!p.entries.empty()) {
                // A tree made just now holds nothing yet: nothing to count or read back.
                std::size_t existing = 0;
                if (!p.create) {
                    Stmt count = prepare(db_, "SELECT count(*) FROM " + sqlName(rtree + "_rowid"));
                    step(count.get());
                    existing = std::size_t(sqlite3_column_int64(count.get(), 0));
                }
                // A search still reading the tree keeps some of its nodes in memory: write around it.
                const bool reading = readers_.count(rtree) && readers_[rtree] > 0;
                if (!reading && p.entries.size() >= 64 && p.entries.size() >= existing) {
                    std::vector<RtreeEntry> all;
                    all.reserve(existing + p.entries.size());
                    if (existing) {
                        Stmt old = prepare(db_, "SELECT id, minx, maxx, miny, maxy FROM " + sqlName(rtree));
                        while (step(old.get()))
                            all.push_back({sqlite3_column_int64(old.get(), 0),
                                           {float(sqlite3_column_double(old.get(), 1)), float(sqlite3_column_double(old.get(), 2)),
                                            float(sqlite3_column_double(old.get(), 3)), float(sqlite3_column_double(old.get(), 4))}});
                    }
                    all.insert(all.end(), p.entries.begin(), p.entries.end());
                    // One entry per id, the latest winning (as INSERT OR REPLACE would).
                    std::stable_sort(all.begin(), all.end(), [](const RtreeEntry& a, const RtreeEntry& b) { return a.id < b.id; });
                    std::vector<RtreeEntry> unique;
                    unique.reserve(all.size());
                    for (const RtreeEntry& e : all) {
                        if (!unique.empty() && unique.back().id == e.id) unique.back() = e;
                        else unique.push_back(e);
                    }
                    writePackedRtree(db_, rtree, std::move(unique));
                } else {
                    Stmt ins = prepare(db_, "INSERT OR REPLACE INTO " + sqlName(rtree) + " VALUES (?1, ?2, ?3, ?4, ?5)");
                    for (const RtreeEntry& e : p.entries) {
                        sqlite3_reset(ins.get());
                        sqlite3_bind_int64(ins.get(), 1, e.id);
                        for (int j = 0; j < 4; ++j) sqlite3_bind_double(ins.get(), 2 + j, double(e.box[j]));
                        step(ins.get());
                    }
                }
            }
            if (!p.triggerSql.empty()) exec(p.triggerSql);
            if (p.create) {
                for (const std::string& sql : p.create->triggers) exec(sql);
                sqlite3_stmt* ext = cached(
                    "INSERT OR IGNORE INTO gpkg_extensions (table_name, column_name, extension_name, definition, scope) VALUES "
                    "(?1, ?2, 'gpkg_rtree_index', 'http://www.geopackage.org/spec120/#extension_rtree', 'write-only')");
                bindText(ext, 1, p.table);
                bindText(ext, 2, p.column);
                step(ext);
            }
        } catch (const std::exception& e) {
            // The entries are no longer pending: a tree left half written must not be saved.
            if (lostWrite_.empty()) lostWrite_ = e.what();
            throw;
        }
    }
    void flushRtrees() {
        while (!pending_.empty()) flushRtree(pending_.begin()->first);
    }
    // The R-tree's deferred entries, or null when it has none.
    PendingRtree* pendingFor(const std::string& rtree) {
        if (lastPending_ && lastPending_->first == rtree) return &lastPending_->second;
        auto it = pending_.find(rtree);
        if (it == pending_.end()) return nullptr;
        lastPending_ = &*it;
        return &it->second;
    }
    void clearPending() {
        lastPending_ = nullptr;
        pending_.clear();
    }
    // What is held back (rows, R-tree entries) at the end of a session or operation: written when
    // it is kept, dropped when it is undone.
    void settleHeld(bool keep) {
        if (keep) {
            flushRows();
            flushRtrees();
        } else {
            clearPending();
            rowBatches_.clear();
        }
    }

    // Holds the row back (see "Rows in batches") and gives its id; 0 when it must go in now, after
    // every held row (flushRows).
    std::int64_t holdRow(const ClassInfo& ci, const std::vector<Val>& vals) {
        RowBatch* batch = nullptr;
        for (RowBatch& b : rowBatches_)
            if (b.table == ci.name) batch = &b;
        if (batch && batch->width != ci.fields.size()) return 0;
        if (!batch) {
            if (ci.oid < 0 || ci.fields.empty() || !batchable(ci)) return 0;
            const std::int64_t next = nextRowId(ci.name);
            if (next <= 0) return 0;
            RowBatch b;
            b.table = ci.name;
            b.rtree = ci.rtree;
            for (std::size_t i = 0; i < ci.fields.size(); ++i) b.columns += (i ? ", " : "") + sqlName(ci.fields[i].name);
            b.width = ci.fields.size();
            b.firstId = next;
            b.oid = std::size_t(ci.oid);
            if (!ci.insertStmt) ci.insertStmt = cached(ci.insertSql);
            b.single = ci.insertStmt;
            rowBatches_.push_back(std::move(b));
            batch = &rowBatches_.back();
        }
        const std::int64_t id = batch->firstId + std::int64_t(batch->rows());
        if (batch->values.size() < batch->used + vals.size()) batch->values.resize(batch->used + vals.size());
        // Only what writeRows binds is copied: the kind, and the one field a value of that kind
        // has (most columns of a row are NULL; the object id's value is never bound).
        Val* to = batch->values.data() + batch->used;
        for (std::size_t i = 0; i < vals.size(); ++i) {
            const Val& v = vals[i];
            to[i].kind = v.kind;
            switch (v.kind) {
                case Val::Null: break;
                case Val::Int: to[i].i = v.i; break;
                case Val::Real: to[i].d = v.d; break;
                case Val::Text:
                case Val::Blob: to[i].s.assign(v.s); break;
            }
        }
        batch->used += vals.size();
        if (batch->rows() >= kBatchRows) writeRows(*batch);
        return id;
    }
    // Writes every held row.
    void flushRows() {
        if (rowBatches_.empty()) return;
        std::vector<RowBatch> batches = std::move(rowBatches_);
        rowBatches_.clear();
        for (RowBatch& b : batches)
            if (b.used) writeRows(b);
    }
    // Open searches that read an R-tree.
    void addReader(const std::string& rtree) { ++readers_[rtree]; }
    void dropReader(const std::string& rtree) {
        auto it = readers_.find(rtree);
        if (it != readers_.end() && --it->second <= 0) readers_.erase(it);
    }

    bool editing() const { return editing_; }
    void startEditing() {
        if (editing_) raise(GDB_E_EDITING, "the workspace is being edited already");
        commitBatch();
        exec("BEGIN IMMEDIATE");  // the batch is committed: this transaction is the session's
        try {
            exec("SAVEPOINT gdb_edit");
            transactionBegun();
            registerSideTables();
        } catch (...) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            sideTablesPending_ = sideTablesMissing();
            throw;
        }
        editing_ = true;
        operations_ = 0;
    }
    void stopEditing(bool save) {
        if (!editing_) raise(GDB_E_EDITING, "the workspace is not being edited");
        // Every deferred entry is newer than the savepoint (starting it flushed them): undone
        // with it, trigger drop included.
        settleHeld(save);
        if (save) {
            // Not saved (lost writes, a full disk): nothing of the session stays, and the session is over.
            const auto endUnsaved = [this] {
                sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
                editing_ = false;
                operations_ = 0;
                rolledBack();
            };
            try {
                checkLostWrites();
            } catch (...) {
                endUnsaved();
                throw;
            }
            aboutToCommit();
            exec("RELEASE gdb_edit");
            try {
                exec("COMMIT");
            } catch (...) {
                endUnsaved();
                throw;
            }
        } else {
            exec("ROLLBACK TO gdb_edit");
            exec("RELEASE gdb_edit");
            exec("ROLLBACK");
            rolledBack();
        }
        editing_ = false;
        operations_ = 0;
    }
    void startOperation() {
        if (!editing_) raise(GDB_E_EDITING, "edit operations need an edit session");
        flushRows();
        flushRtrees();
        exec("SAVEPOINT gdb_op" + std::to_string(++operations_));
    }
    void stopOperation(bool keep) {
        if (!editing_ || operations_ == 0) raise(GDB_E_EDITING, "no edit operation is open");
        settleHeld(keep);
        std::string name = "gdb_op" + std::to_string(operations_--);
        if (!keep) {
            exec("ROLLBACK TO " + name);
            rolledBack();
        }
        exec("RELEASE " + name);
    }
    // Before a write to the side tables: they and their registration are made in the write
    // transaction, once per file (a foreign GeoPackage gets them only when something of ours
    // needs them).
    void makeSideTables() {
        beginWrite();
        if (!sideTablesPending_) return;
        for (const char* name : kSideTableNames) exec("DROP TABLE IF EXISTS temp." + sqlName(name));
        for (const char* sql : kCreateSchema) exec(sql);
        sideTablesPending_ = false;
    }
    // A geodatabase of an earlier version listed its side tables in gpkg_contents: the first write
    // transaction of a connection registers them as this one does.
    void registerSideTables() {
        if (registrationChecked_ || sideTablesPending_) return;
        registrationChecked_ = true;
        sqlite3_stmt* raw = nullptr;  // no gpkg_contents yet (a new file): nothing to bring up to date
        if (sqlite3_prepare_v2(db_, "SELECT 1 FROM gpkg_contents WHERE data_type = 'x_gdb_catalog' LIMIT 1", -1, &raw,
                               nullptr) != SQLITE_OK)
            return;
        Stmt st(raw);
        if (!step(st.get())) return;
        st.reset();
        for (const char* sql : kCreateSchema) exec(sql);
    }
    // The schema extension's tables, made in the current write transaction when missing.
    void ensureDataColumns() {
        if (dataColumns_) return;
        for (const char* sql : kCreateDataColumns) exec(sql);
        dataColumns_ = true;
    }
    // Raised whenever a rollback may have undone schema changes: cached class descriptions reload.
    std::uint64_t generation() const { return generation_; }
    // Raised when another connection changed the schema: checked once in each of our
    // transactions (inside one nobody else can) and at every call outside one. Our own schema
    // changes do not count; a description they touch is replaced by its class.
    std::uint64_t foreignSchemaEpoch() {
        const bool inTransaction = !sqlite3_get_autocommit(db_);
        if (inTransaction && checkedTransaction_ == transaction_) return foreignEpoch_;
        const std::int64_t v = schemaVersion();
        if (v != cookieSeen_) {
            if (cookieSeen_ >= 0) {
                ++foreignEpoch_;
                rtrees_.clear();
            }
            cookieSeen_ = v;
        }
        if (inTransaction) checkedTransaction_ = transaction_;
        return foreignEpoch_;
    }

private:
    // Whether rows of the class's table may be held back; asked again after any schema change.
    bool batchable(const ClassInfo& ci) {
        auto known = batchable_.find(ci.name);
        if (known != batchable_.end()) return known->second;
        std::vector<std::string> own;  // the R-tree triggers ours would be
        if (ci.shape >= 0) own = rtreeSql(ci.name, ci.fields[std::size_t(ci.shape)].name, ci.fields[std::size_t(ci.oid)].name).triggers;
        bool table = false, ok = true;
        sqlite3_stmt* st = cached("SELECT type, sql FROM sqlite_master WHERE tbl_name = ?1 COLLATE NOCASE");
        bindText(st, 1, ci.name);
        while (step(st)) {
            const std::string type = columnText(st, 0), sql = columnText(st, 1), upper = upperAscii(sql);
            if (type == "table") {
                table = true;
                // Anything that may refuse a row rules out (NOT NULL is asked column by column below).
                if (upper.find("AUTOINCREMENT") == std::string::npos) ok = false;
                for (const char* word : {"CHECK", "UNIQUE", "REFERENCES", "GENERATED", "CONFLICT", "STRICT", "WITHOUT"})
                    if (upper.find(word) != std::string::npos) ok = false;
            } else if (type == "index") {
                if (sqlite3_column_type(st, 1) == SQLITE_NULL || upper.find("UNIQUE") != std::string::npos) ok = false;
            } else if (type == "trigger") {
                if (std::find(own.begin(), own.end(), sql) == own.end()) ok = false;
            }
        }
        sqlite3_reset(st);
        if (ok && table) {
            // Only the object id may be NOT NULL: a NULL elsewhere would be refused at the flush.
            sqlite3_stmt* cols = cached("SELECT name FROM pragma_table_info(?1) WHERE \"notnull\"");
            bindText(cols, 1, ci.name);
            const std::string oidName = upperAscii(ci.fields[std::size_t(ci.oid)].name);
            while (step(cols))
                if (upperAscii(columnText(cols, 0)) != oidName) ok = false;
            sqlite3_reset(cols);
        }
        if (ok && table) {
            sqlite3_stmt* temp = cached("SELECT 1 FROM sqlite_temp_master WHERE tbl_name = ?1 COLLATE NOCASE LIMIT 1");
            bindText(temp, 1, ci.name);
            if (step(temp)) ok = false;  // a temporary trigger of another program
            sqlite3_reset(temp);
        }
        batchable_[ci.name] = ok && table;
        return ok && table;
    }
    // The id SQLite gives the table's next row: one past the larger of its counter and its largest
    // id; 0 when the table has no counter row yet (or not one alone) or is near the end of ids.
    std::int64_t nextRowId(const std::string& table) {
        sqlite3_stmt* st = cached("SELECT seq FROM sqlite_sequence WHERE name = ?1");
        bindText(st, 1, table);
        if (!step(st) || sqlite3_column_type(st, 0) != SQLITE_INTEGER) {
            sqlite3_reset(st);
            return 0;
        }
        const std::int64_t seq = sqlite3_column_int64(st, 0);
        const bool alone = !step(st);
        sqlite3_reset(st);
        if (!alone) return 0;
        sqlite3_stmt* last = cached("SELECT max(rowid) FROM " + sqlName(table));
        step(last);
        const std::int64_t largest = sqlite3_column_type(last, 0) == SQLITE_INTEGER ? sqlite3_column_int64(last, 0) : 0;
        sqlite3_reset(last);
        const std::int64_t top = std::max(seq, largest);
        if (top < 0 || top >= std::numeric_limits<std::int64_t>::max() - std::int64_t(1) - std::int64_t(kBatchRows) * 1024) return 0;
        return top + 1;
    }
    // The statement inserting kBatchRows rows of the batch's columns.
    sqlite3_stmt* batchStatement(const RowBatch& b) {
        BatchStatements& s = batchStatements_[b.table];
        if (s.columns != b.columns) {
            s = BatchStatements{};
            s.columns = b.columns;
        }
        if (!s.many) {
            std::string row = "(";
            for (std::size_t i = 0; i < b.width; ++i) row += i ? ", ?" : "?";
            row += ")";
            std::string sql = "INSERT INTO " + sqlName(b.table) + " (" + b.columns + ") VALUES ";
            for (std::size_t r = 0; r < kBatchRows; ++r) sql += (r ? ", " : "") + row;
            s.many = prepare(db_, sql);
        }
        return s.many.get();
    }
    // The largest number of rows a statement may take of the batch: all its values are parameters.
    std::size_t rowsAStatement(const RowBatch& b, std::size_t wanted) const {
        const std::size_t room = std::size_t(sqlite3_limit(db_, SQLITE_LIMIT_VARIABLE_NUMBER, -1));
        return wanted >= kBatchRows && kBatchRows * b.width <= room ? kBatchRows : 1;
    }
    // Writes the batch's rows and leaves it empty, its next id past them. A failure drops every
    // held row (the statement that failed wrote none of its own) and is thrown.
    void writeRows(RowBatch& b) {
        try {
            const QuietRtree quiet(*this, !b.rtree.empty() && quietTrigger(b.rtree));
            const std::size_t n = b.rows();
            std::size_t at = 0;
            while (at < n) {
                const std::size_t k = rowsAStatement(b, n - at);
                sqlite3_stmt* st = k == 1 ? b.single : batchStatement(b);
                sqlite3_reset(st);
                // All parameters NULL in one call, then only the values bound: most columns of a
                // row are empty, and each bind costs far more than its share of the clearing. The
                // object id stays NULL, so SQLite gives it (the id foreseen, checked below) by
                // appending instead of searching the table for an id given.
                sqlite3_clear_bindings(st);
                const Val* v = b.values.data() + at * b.width;
                for (std::size_t r = 0; r < k; ++r, v += b.width)
                    for (std::size_t i = 0; i < b.width; ++i)
                        if (i != b.oid && v[i].kind != Val::Null) bindVal(st, int(r * b.width + i + 1), v[i]);
                step(st);
                sqlite3_reset(st);
                if (sqlite3_last_insert_rowid(db_) != b.firstId + std::int64_t(at + k) - 1)
                    throw SqlError("rows of " + b.table + " did not get the ids foreseen");
                at += k;
            }
            b.firstId += std::int64_t(n);
            b.used = 0;
        } catch (const std::exception& e) {
            rowBatches_.clear();
            // Their inserts were answered already: what they wrote must not be saved without them.
            if (lostWrite_.empty()) lostWrite_ = e.what();
            throw;
        }
    }
    // Refuses to save a transaction that lost held rows or R-tree entries.
    void checkLostWrites() const {
        if (!lostWrite_.empty()) throw SqlError("changes could not be written, nothing of them is saved: " + lostWrite_);
    }

    // The schema cookie: changes with every schema change of any connection.
    std::int64_t schemaVersion() {
        sqlite3_stmt* st = cached("PRAGMA schema_version");
        step(st);
        const std::int64_t v = sqlite3_column_int64(st, 0);
        sqlite3_reset(st);
        return v;
    }
    void transactionBegun() {
        ++transaction_;
        foreignSchemaEpoch();  // before any change of ours in it
    }
    // The schema as our transaction leaves it is ours.
    void aboutToCommit() {
        if (checkedTransaction_ == transaction_) cookieSeen_ = schemaVersion();
    }
    // A rollback may have undone schema changes, R-trees and side tables made on the way included.
    void rolledBack() {
        rowBatches_.clear();
        if (sqlite3_get_autocommit(db_)) lostWrite_.clear();  // only once the whole transaction is gone
        batchable_.clear();
        ++generation_;
        rtrees_.clear();
        sideTablesPending_ = sideTablesMissing();
        dataColumns_ = false;
        registrationChecked_ = false;
    }
    // The new file's header and tables open the batch transaction, so that they reach the disk in
    // one commit with what the caller writes next (each commit costs several fsyncs).
    void initialise() {
        beginWrite();
        exec("PRAGMA application_id = 1196444487");  // "GPKG"
        exec("PRAGMA user_version = 10200");
        for (const char* sql : kCreateSchema) exec(sql);
        sqlite3_stmt* st = cached(
            "INSERT INTO gpkg_spatial_ref_sys (srs_name, srs_id, organization, organization_coordsys_id, definition, "
            "description) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
        struct Srs {
            const char* name;
            int id;
            const char* org;
            int orgId;
            const char* def;
            const char* desc;
        };
        const Srs srs[] = {
            {"Undefined cartesian SRS", -1, "NONE", -1, "undefined", "undefined cartesian coordinate reference system"},
            {"Undefined geographic SRS", 0, "NONE", 0, "undefined", "undefined geographic coordinate reference system"},
            {"WGS 84 geodetic", kWgs84, "EPSG", kWgs84, kWgs84Wkt, "longitude/latitude coordinates in decimal degrees on the WGS 84 spheroid"},
        };
        for (const Srs& s : srs) {
            sqlite3_reset(st);
            bindText(st, 1, s.name);
            sqlite3_bind_int(st, 2, s.id);
            bindText(st, 3, s.org);
            sqlite3_bind_int(st, 4, s.orgId);
            bindText(st, 5, s.def);
            bindText(st, 6, s.desc);
            step(st);
        }
    }
    void checkGeoPackage(const std::string& file) {
        Stmt st;
        try {
            st = prepare(db_, "PRAGMA application_id");
            step(st.get());
        } catch (const SqlError& e) {
            // A file held by another program past the wait, or unreadable, is no proof of anything.
            const HRESULT why = resultOfSqlite(e.rc(), e.systemErrno());
            if (why != GDB_E_SQL && why != GDB_E_BAD_PATH) raise(why, file + ": " + e.what());
            raise(GDB_E_BAD_PATH, file + " is not a geodatabase: " + e.what());
        }
        const std::uint32_t id = std::uint32_t(sqlite3_column_int64(st.get(), 0));
        if (id != 0x47504B47u && id != 0x47503130u && id != 0x47503131u)
            raise(GDB_E_BAD_PATH, file + " is not a geodatabase (no GeoPackage application id)");
    }
    bool sideTablesMissing() {
        Stmt st = prepare(db_, "SELECT count(*) FROM main.sqlite_master WHERE type = 'table' AND name IN "
                               "('gdb_items', 'gdb_subtypes', 'gdb_topologies', 'gdb_topology_classes')");
        step(st.get());
        return sqlite3_column_int(st.get(), 0) != 4;
    }
    // A GeoPackage of another program is read through empty temporary side tables; nothing is
    // written to it before the first write transaction (makeSideTables).
    void ensureSideTables() {
        if (!sideTablesMissing()) return;
        for (const char* sql : kCreateSchema) {
            const std::string_view text(sql);
            constexpr std::string_view create = "CREATE TABLE IF NOT EXISTS gdb_";
            if (text.substr(0, create.size()) == create)
                exec("CREATE TEMP TABLE IF NOT EXISTS " + std::string(text.substr(create.size() - 4)));
        }
        sideTablesPending_ = true;
    }

    void close() {
        if (!db_) return;
        try {
            if (!editing_) {
                flushRows();
                flushRtrees();
                checkLostWrites();
            }
        } catch (const std::exception& e) {
            // Rolled back rather than committed with a stale R-tree; nobody is left to tell but
            // the terminal.
            std::fprintf(stderr, "geodatabase %s: changes not saved: %s\n", sqlite3_db_filename(db_, "main"), e.what());
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        }
        clearPending();
        rowBatches_.clear();
        batchStatements_.clear();
        cache_.clear();
        if (editing_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);  // unsaved edits are discarded
        else if (!sqlite3_get_autocommit(db_) && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
            // Nobody is left to return this to: say it rather than lose the changes silently.
            std::fprintf(stderr, "geodatabase %s: changes not saved: %s\n", sqlite3_db_filename(db_, "main"),
                         sqlite3_errmsg(db_));
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        }
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }

    sqlite3* db_ = nullptr;
    std::map<std::string, Stmt> cache_;
    std::map<std::string, PendingRtree> pending_;
    // The entry the last lookup found: a run of inserts goes into one class after another.
    std::pair<const std::string, PendingRtree>* lastPending_ = nullptr;
    std::vector<RowBatch> rowBatches_;                     // in the order their first rows came
    std::map<std::string, bool> batchable_;                // by table, while the schema stays
    std::map<std::string, BatchStatements> batchStatements_;  // by table
    bool quietRtree_ = false;  // read by ST_IsEmpty
    std::map<std::string, bool> rtrees_;  // R-tree tables known to be there or not
    std::uint64_t transaction_ = 0, checkedTransaction_ = ~std::uint64_t(0), foreignEpoch_ = 0;
    std::int64_t cookieSeen_ = -1;
    std::map<std::string, int> readers_;
    bool editing_ = false;
    std::string lostWrite_;  // why held rows or R-tree entries of the open transaction could not be written
    bool sideTablesPending_ = false;  // a foreign GeoPackage's side tables are still temporary
    bool dataColumns_ = false;        // the schema extension's tables are there
    bool registrationChecked_ = false;  // the side tables' registration was brought up to date
    int operations_ = 0;
    std::uint64_t generation_ = 0;
    std::chrono::steady_clock::time_point batchStart_;
};


// =============================================================================================
// Class descriptions read from the schema
// =============================================================================================

// The GeoPackage column type of a field, and back.
std::string declaredType(const FieldInfo& f, esriGeometryType shapeType) {
    switch (f.type) {
        case esriFieldTypeSmallInteger: return "SMALLINT";
        case esriFieldTypeInteger: return "MEDIUMINT";
        case esriFieldTypeSingle: return "FLOAT";
        case esriFieldTypeDouble: return "DOUBLE";
        case esriFieldTypeString:
            return f.length > 0 ? "TEXT(" + std::to_string(f.length) + ") COLLATE NOCASE" : "TEXT COLLATE NOCASE";
        case esriFieldTypeDate: return "DATETIME";
        case esriFieldTypeOID: return "INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL";
        case esriFieldTypeGeometry: return gpkgGeometryTypeName(shapeType);
        case esriFieldTypeBlob: return "BLOB";
    }
    raise(GDB_E_BAD_SCHEMA, "field " + f.name + " has an unknown type");
}

FieldInfo fieldFromDeclared(std::string name, std::string type, bool pk) {
    FieldInfo f;
    f.name = std::move(name);
    std::string t = lower(type);
    if (pk && (t == "integer" || t.empty())) {
        f.type = esriFieldTypeOID;
        f.length = 4;
        f.nullable = false;
    } else if (t == "boolean" || t == "tinyint" || t == "smallint") {
        f.type = esriFieldTypeSmallInteger;
        f.length = 2;
    } else if (t == "mediumint" || t == "int" || t == "integer") {
        f.type = esriFieldTypeInteger;
        f.length = 4;
    } else if (t == "float") {
        f.type = esriFieldTypeSingle;
        f.length = 4;
    } else if (t == "double" || t == "real") {
        f.type = esriFieldTypeDouble;
        f.length = 8;
    } else if (t.rfind("text", 0) == 0) {
        f.type = esriFieldTypeString;
        auto open = t.find('(');
        if (open != t.npos) f.length = LONG(std::strtol(t.c_str() + open + 1, nullptr, 10));
    } else if (t == "date" || t == "datetime") {
        f.type = esriFieldTypeDate;
        f.length = 8;
    } else {
        f.type = esriFieldTypeBlob;
    }
    return f;
}

esriGeometryType shapeTypeOf(std::string gpkgName) {
    std::string t = lower(std::move(gpkgName));
    if (t == "point") return esriGeometryPoint;
    if (t == "multipoint") return esriGeometryMultipoint;
    if (t == "linestring" || t == "multilinestring" || t == "curve" || t == "multicurve") return esriGeometryPolyline;
    if (t == "polygon" || t == "multipolygon" || t == "surface" || t == "multisurface") return esriGeometryPolygon;
    return esriGeometryNull;
}

std::vector<std::pair<LONG, std::string>> subtypesOf(Database& db, const std::string& className) {
    std::vector<std::pair<LONG, std::string>> out;
    sqlite3_stmt* st = db.cached("SELECT code, name FROM gdb_subtypes WHERE class_name = ?1 ORDER BY code");
    bindText(st, 1, className);
    while (step(st)) out.emplace_back(LONG(sqlite3_column_int(st, 0)), columnText(st, 1));
    return out;
}

// The subtype field's data column, naming its enumeration: written anew (replace) or only where
// the class has none.
void subtypeColumn(Database& db, const std::string& className, const std::string& field, const std::string& constraint,
                   bool replace) {
    sqlite3_stmt* column = db.cached(std::string(replace ? "INSERT OR REPLACE" : "INSERT OR IGNORE") +
                                     " INTO gpkg_data_columns (table_name, column_name, name, title, description, constraint_name) "
                                     "VALUES (?1, ?2, ?2, ?2, 'subtype', ?3)");
    bindText(column, 1, className);
    bindText(column, 2, field);
    bindText(column, 3, constraint);
    step(column);
}

// One subtype's code and name in the enumeration.
void subtypeValue(Database& db, const std::string& constraint, LONG code, const std::string& name) {
    sqlite3_stmt* add = db.cached(
        "INSERT OR REPLACE INTO gpkg_data_column_constraints (constraint_name, constraint_type, value, description) "
        "VALUES (?1, 'enum', ?2, ?3)");
    bindText(add, 1, constraint);
    bindText(add, 2, std::to_string(code));
    bindText(add, 3, name);
    step(add);
}

// A class's subtype field as other programs see it: a GeoPackage data column whose enumeration
// (constraint "<class>_<field>") gives each subtype code its name. Rewritten from gdb_subtypes
// inside the caller's write transaction; a class without subtypes has none.
void describeSubtypes(Database& db, const std::string& className, const std::string& field) {
    db.ensureDataColumns();
    sqlite3_stmt* old = db.cached("SELECT constraint_name FROM gpkg_data_columns WHERE table_name = ?1 AND constraint_name IS NOT NULL");
    bindText(old, 1, className);
    std::vector<std::string> names;
    while (step(old)) names.push_back(columnText(old, 0));
    for (const std::string& n : names) {
        sqlite3_stmt* del = db.cached("DELETE FROM gpkg_data_column_constraints WHERE constraint_name = ?1 AND constraint_type = 'enum'");
        bindText(del, 1, n);
        step(del);
    }
    sqlite3_stmt* drop = db.cached("DELETE FROM gpkg_data_columns WHERE table_name = ?1 AND constraint_name IS NOT NULL");
    bindText(drop, 1, className);
    step(drop);
    if (field.empty()) return;
    const auto subtypes = subtypesOf(db, className);
    if (subtypes.empty()) return;
    const std::string constraint = className + "_" + field;
    subtypeColumn(db, className, field, constraint, true);
    for (const auto& [code, name] : subtypes) subtypeValue(db, constraint, code, name);
}

// One subtype more in its class's enumeration.
void addSubtypeValue(Database& db, const std::string& className, const std::string& field, LONG code, const std::string& name) {
    db.ensureDataColumns();
    const std::string constraint = className + "_" + field;
    subtypeColumn(db, className, field, constraint, false);
    subtypeValue(db, constraint, code, name);
}

// One column of a description, as PRAGMA table_info gives it.
void addColumn(ClassInfo& info, const std::string& shapeColumn, std::string name, const std::string& type, bool notNull,
               bool pk) {
    FieldInfo f = fieldFromDeclared(std::move(name), type, pk);
    f.nullable = f.type != esriFieldTypeOID && !notNull;
    if (info.feature && sameNoCase(f.name, shapeColumn)) {
        f.type = esriFieldTypeGeometry;
        f.length = 0;
        info.shape = int(info.fields.size());
    }
    if (f.type == esriFieldTypeOID) info.oid = int(info.fields.size());
    info.fields.push_back(std::move(f));
}

void checkColumns(ClassInfo& info) {
    if (info.oid < 0) raise(GDB_E_BAD_SCHEMA, "table " + info.name + " has no integer primary key");
    if (info.feature) {
        if (info.shape < 0) raise(GDB_E_BAD_SCHEMA, "feature class " + info.name + " lacks its geometry column");
        info.rtree = "rtree_" + info.name + "_" + info.fields[std::size_t(info.shape)].name;
    }
}

void finishInfo(ClassInfo& info) {
    if (info.alias.empty()) info.alias = info.name;
    // Built in place (every class is described at least once a run, a template's twice).
    std::string cols, vals;
    std::size_t names = 0;
    for (const FieldInfo& f : info.fields) names += f.name.size() + 4;
    info.selectList.reserve(names);
    cols.reserve(names);
    vals.reserve(info.fields.size() * 6);
    info.byName.reserve(info.fields.size());
    char number[24];
    for (std::size_t i = 0; i < info.fields.size(); ++i) {
        const std::string& name = info.fields[i].name;
        info.byName.emplace(lower(name), int(i));
        if (i) info.selectList += ", ";
        const std::size_t quoted = info.selectList.size();
        info.selectList += sqlName(name);
        if (int(i) == info.oid) continue;
        if (!cols.empty()) {
            cols += ", ";
            vals += ", ";
        }
        cols.append(info.selectList, quoted, std::string::npos);
        vals += '?';
        vals.append(number, std::to_chars(number, number + sizeof number, i + 1).ptr);
    }
    info.insertSql = cols.empty() ? "INSERT INTO " + sqlName(info.name) + " DEFAULT VALUES"
                                  : "INSERT INTO " + sqlName(info.name) + " (" + cols + ") VALUES (" + vals + ")";
}

// The description of a table or feature class, or nothing when gpkg_contents has no such name.
std::shared_ptr<ClassInfo> loadClass(Database& db, const std::string& name) {
    auto info = std::make_shared<ClassInfo>();
    {
        sqlite3_stmt* st = db.cached("SELECT table_name, data_type, srs_id FROM gpkg_contents WHERE table_name = ?1 COLLATE NOCASE");
        bindText(st, 1, name);
        if (!step(st)) return nullptr;
        info->name = columnText(st, 0);
        std::string kind = lower(columnText(st, 1));
        sqlite3_reset(st);
        if (kind != "features" && kind != "attributes") return nullptr;
        info->feature = kind == "features";
    }
    std::string shapeColumn;
    if (info->feature) {
        sqlite3_stmt* st = db.cached(
            "SELECT column_name, geometry_type_name, srs_id, z FROM gpkg_geometry_columns WHERE table_name = ?1 COLLATE NOCASE");
        bindText(st, 1, info->name);
        if (!step(st)) {
            sqlite3_reset(st);
            return nullptr;
        }
        shapeColumn = columnText(st, 0);
        info->shapeType = shapeTypeOf(columnText(st, 1));
        info->srsId = sqlite3_column_int(st, 2);
        info->hasSr = info->srsId == kWgs84;
        info->hasZ = sqlite3_column_int(st, 3) == 1;
        sqlite3_reset(st);
    }
    {
        Stmt st = prepare(db.raw(), "PRAGMA table_info(" + sqlName(info->name) + ")");
        while (step(st.get()))
            addColumn(*info, shapeColumn, columnText(st.get(), 1), columnText(st.get(), 2), sqlite3_column_int(st.get(), 3) != 0,
                      sqlite3_column_int(st.get(), 5) == 1);
    }
    checkColumns(*info);
    {
        sqlite3_stmt* st = db.cached(
            "SELECT dataset, alias, z_min, z_max, subtype_field, default_subtype, srs_id FROM gdb_items WHERE name = ?1 AND kind <> 'FeatureDataset'");
        bindText(st, 1, info->name);
        if (step(st)) {
            info->dataset = columnText(st, 0);
            info->alias = columnText(st, 1);
            if (sqlite3_column_type(st, 2) != SQLITE_NULL) info->zmin = sqlite3_column_double(st, 2);
            if (sqlite3_column_type(st, 3) != SQLITE_NULL) info->zmax = sqlite3_column_double(st, 3);
            info->subtypeField = columnText(st, 4);
            info->defaultSubtype = LONG(sqlite3_column_int(st, 5));
        }
        sqlite3_reset(st);
    }
    if (!info->subtypeField.empty()) info->subtypes = subtypesOf(db, info->name);
    finishInfo(*info);
    return info;
}

// The description loadClass reads back for a class that create() has just made: the column
// types as PRAGMA table_info gives them (the type without its constraints and collation).
std::shared_ptr<ClassInfo> createdInfo(const std::string& name, bool feature, const std::vector<FieldInfo>& list, int shape,
                                       esriGeometryType shapeType, bool hasZ, std::int32_t srsId, double zmin, double zmax,
                                       const std::string& dataset) {
    auto info = std::make_shared<ClassInfo>();
    info->name = name;
    info->feature = feature;
    std::string shapeColumn;
    if (feature) {
        shapeColumn = list[std::size_t(shape)].name;
        info->shapeType = shapeTypeOf(gpkgGeometryTypeName(shapeType));
        info->srsId = srsId;
        info->hasSr = srsId == kWgs84;
        info->hasZ = hasZ;
    }
    for (const FieldInfo& f : list) {
        const bool oid = f.type == esriFieldTypeOID;
        std::string type = oid ? "INTEGER"
                         : f.type == esriFieldTypeString ? (f.length > 0 ? "TEXT(" + std::to_string(f.length) + ")" : "TEXT")
                                                         : declaredType(f, shapeType);
        addColumn(*info, shapeColumn, f.name, type, oid, oid);
    }
    checkColumns(*info);
    info->dataset = dataset;
    if (feature) {
        info->zmin = zmin;
        info->zmax = zmax;
    }
    finishInfo(*info);
    return info;
}

// =============================================================================================
// The storage
// =============================================================================================

// A column into a row's value in place: a recycled row keeps its strings' storage from row to row.
void readColumnInto(sqlite3_stmt* st, int i, Val& v) {
    v.i = 0;
    v.d = 0;
    switch (sqlite3_column_type(st, i)) {
        case SQLITE_INTEGER: v.kind = Val::Int; v.i = sqlite3_column_int64(st, i); v.s.clear(); break;
        case SQLITE_FLOAT: v.kind = Val::Real; v.d = sqlite3_column_double(st, i); v.s.clear(); break;
        case SQLITE_TEXT: {
            v.kind = Val::Text;
            const unsigned char* t = sqlite3_column_text(st, i);
            if (t) v.s.assign(reinterpret_cast<const char*>(t), std::size_t(sqlite3_column_bytes(st, i)));
            else v.s.clear();
            break;
        }
        case SQLITE_BLOB: {
            v.kind = Val::Blob;
            const void* p = sqlite3_column_blob(st, i);
            const int n = sqlite3_column_bytes(st, i);
            if (n > 0) v.s.assign(static_cast<const char*>(p), std::size_t(n));
            else v.s.clear();
            break;
        }
        default: v.kind = Val::Null; v.s.clear(); break;
    }
}

// The rows of one SELECT, those the predicate accepts.
class GpkgRows final : public RowStream {
public:
    GpkgRows(Database& db, Stmt st, std::shared_ptr<const SpatialPredicate> predicate, int shapeColumn, std::string reading)
        : db_(db), st_(std::move(st)), predicate_(std::move(predicate)), shapeColumn_(shapeColumn), reading_(std::move(reading)) {
        if (!reading_.empty()) db_.addReader(reading_);
    }
    ~GpkgRows() override {
        st_.reset();
        if (!reading_.empty()) db_.dropReader(reading_);
    }
    bool next(std::vector<Val>& row) override {
        sqlite3_stmt* st = st_.get();
        while (step(st)) {
            if (predicate_) {
                if (sqlite3_column_type(st, shapeColumn_) != SQLITE_BLOB) continue;
                if (!predicate_->matchesBlob(sqlite3_column_blob(st, shapeColumn_), std::size_t(sqlite3_column_bytes(st, shapeColumn_))))
                    continue;
            }
            const int n = sqlite3_column_count(st);
            row.resize(std::size_t(n));
            for (int i = 0; i < n; ++i) readColumnInto(st, i, row[std::size_t(i)]);
            return true;
        }
        return false;
    }

private:
    Database& db_;
    Stmt st_;
    std::shared_ptr<const SpatialPredicate> predicate_;
    int shapeColumn_;
    std::string reading_;  // the R-tree this search reads, while it does
};

// Rows read one by one by their object ids, in the order a search of the ids gives them. The
// search stays open while the rows are read, which keeps one read transaction for all of them.
class GpkgRowsById final : public RowStream {
public:
    GpkgRowsById(Stmt ids, Stmt byId) : ids_(std::move(ids)), byId_(std::move(byId)) {}
    bool next(std::vector<Val>& row) override {
        sqlite3_stmt* st = byId_.get();
        while (ids_ && step(ids_.get())) {
            sqlite3_bind_int64(st, 1, sqlite3_column_int64(ids_.get(), 0));
            if (!step(st)) {  // deleted meanwhile
                sqlite3_reset(st);
                continue;
            }
            const int n = sqlite3_column_count(st);
            row.resize(std::size_t(n));
            for (int i = 0; i < n; ++i) readColumnInto(st, i, row[std::size_t(i)]);
            sqlite3_reset(st);
            return true;
        }
        ids_.reset();
        return false;
    }

private:
    Stmt ids_;
    Stmt byId_;
};

class GpkgStore final : public GdbStore {
public:
    GpkgStore(const std::string& file, bool create) : db_(file, create) {}

    esriWorkspaceType workspaceType() const override { return esriLocalDatabaseWorkspace; }
    std::uint64_t generation() const override { return db_.generation(); }
    std::uint64_t foreignSchemaEpoch() override { return db_.foreignSchemaEpoch(); }

    bool editing() const override { return db_.editing(); }
    void startEditing() override { db_.startEditing(); }
    void stopEditing(bool save) override { db_.stopEditing(save); }
    void startOperation() override { db_.startOperation(); }
    void stopOperation(bool keep) override { db_.stopOperation(keep); }
    void flushBatch() override { db_.flushBatch(); }

    // The name is asked under the write lock, as the CREATE that follows runs: another program
    // importing into the same file may make the table between a look and a lock.
    void beginSchemaChange() override {
        db_.flushRows();
        db_.beginWrite();
    }
    bool nameTaken(const std::string& name) override {
        db_.flushRows();
        // One statement, not two: a template asks before each new table, and every schema change
        // makes SQLite prepare a statement again at its next use.
        sqlite3_stmt* st = db_.cached(
            "SELECT 1 FROM gdb_items WHERE name = ?1 UNION ALL SELECT 1 FROM gpkg_contents WHERE table_name = ?1 COLLATE NOCASE "
            "UNION ALL SELECT 1 FROM sqlite_master WHERE name = ?1 COLLATE NOCASE");
        bindText(st, 1, name);
        const bool taken = step(st);
        sqlite3_reset(st);
        return taken;
    }
    std::shared_ptr<ClassInfo> loadClass(const std::string& name) override { return gdb::loadClass(db_, name); }

    std::shared_ptr<ClassInfo> createClass(const std::string& name, const ClassSpec& spec, bool feature, std::int32_t srsId,
                                           double zmin, double zmax, const std::string& datasetName) override {
        db_.flushRows();
        const std::vector<FieldInfo>& list = spec.fields;
        const int shape = spec.shape;
        const esriGeometryType shapeType = spec.shapeType;
        const bool hasZ = spec.hasZ;
        const double grid = spec.grid;
        db_.beginWrite();
        std::string sql = "CREATE TABLE " + sqlName(name) + " (";
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (i) sql += ", ";
            sql += sqlName(list[i].name) + " " + declaredType(list[i], shapeType);
        }
        sql += ")";
        db_.exec(sql);
        {
            sqlite3_stmt* st = db_.cached(
                "INSERT INTO gpkg_contents (table_name, data_type, identifier, description, srs_id) VALUES (?1, ?2, ?1, '', ?3)");
            bindText(st, 1, name);
            bindText(st, 2, feature ? "features" : "attributes");
            if (feature) sqlite3_bind_int(st, 3, srsId);
            step(st);
        }
        if (feature) {
            const std::string& col = list[std::size_t(shape)].name;
            sqlite3_stmt* st = db_.cached(
                "INSERT INTO gpkg_geometry_columns (table_name, column_name, geometry_type_name, srs_id, z, m) VALUES (?1, ?2, ?3, ?4, ?5, 0)");
            bindText(st, 1, name);
            bindText(st, 2, col);
            bindText(st, 3, gpkgGeometryTypeName(shapeType));
            sqlite3_bind_int(st, 4, srsId);
            sqlite3_bind_int(st, 5, hasZ ? 1 : 0);
            step(st);
            // The R-tree comes with the class's first rows (see "R-tree upkeep"): the many classes
            // that stay empty carry none.
        }
        {
            db_.makeSideTables();
            sqlite3_stmt* st = db_.cached(
                "INSERT INTO gdb_items (name, kind, dataset, shape_type, has_z, srs_id, z_min, z_max, grid_size) VALUES "
                "(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
            bindText(st, 1, name);
            bindText(st, 2, feature ? "FeatureClass" : "Table");
            if (!datasetName.empty()) bindText(st, 3, datasetName);
            sqlite3_bind_int(st, 5, hasZ ? 1 : 0);
            if (feature) {
                sqlite3_bind_int(st, 4, int(shapeType));
                sqlite3_bind_int(st, 6, srsId);
                sqlite3_bind_double(st, 7, zmin);
                sqlite3_bind_double(st, 8, zmax);
                sqlite3_bind_double(st, 9, grid);
            }
            step(st);
        }
        return createdInfo(name, feature, list, shape, shapeType, hasZ, srsId, zmin, zmax, datasetName);
    }

    void addField(const ClassInfo& ci, const FieldInfo& f) override {
        db_.flushRows();
        db_.beginWrite();
        db_.exec("ALTER TABLE " + sqlName(ci.name) + " ADD COLUMN " + sqlName(f.name) + " " + declaredType(f, ci.shapeType));
    }

    std::int64_t insert(const ClassInfo& ci, const std::vector<Val>& vals) override {
        db_.beginWrite();
        if (!ci.rtree.empty())
            db_.beginDeferral({ci.rtree, ci.name, ci.fields[std::size_t(ci.shape)].name, ci.fields[std::size_t(ci.oid)].name});
        if (const std::int64_t held = db_.holdRow(ci, vals)) {
            deferRtreeEntry(ci, held, vals);
            return held;
        }
        db_.flushRows();
        if (!ci.insertStmt) ci.insertStmt = db_.cached(ci.insertSql);
        sqlite3_stmt* st = ci.insertStmt;
        sqlite3_reset(st);
        sqlite3_clear_bindings(st);  // then only the values are bound (see writeRows)
        for (std::size_t i = 0; i < ci.fields.size(); ++i)
            if (int(i) != ci.oid && vals[i].kind != Val::Null) bindVal(st, int(i + 1), vals[i]);
        {
            const Database::QuietRtree quiet(db_, !ci.rtree.empty() && db_.quietTrigger(ci.rtree));
            step(st);
        }
        sqlite3_reset(st);
        const std::int64_t id = sqlite3_last_insert_rowid(db_.raw());
        deferRtreeEntry(ci, id, vals);
        return id;
    }
    void deferRtreeEntry(const ClassInfo& ci, std::int64_t id, const std::vector<Val>& vals) {
        if (ci.rtree.empty()) return;
        const Val& shape = vals[std::size_t(ci.shape)];
        GeoExtent e;
        if (shape.kind == Val::Blob) e = gpkgBlobExtent(shape.s.data(), shape.s.size());
        db_.deferRtree(ci.rtree, id, e);
    }

    void update(const ClassInfo& ci, std::int64_t oid, const std::vector<Val>& vals, const std::vector<bool>& dirty) override {
        db_.flushRows();
        std::string sql;
        std::vector<std::size_t> cols;
        for (std::size_t i = 0; i < ci.fields.size(); ++i)
            if (dirty[i] && int(i) != ci.oid) {
                sql += (cols.empty() ? "" : ", ") + sqlName(ci.fields[i].name) + " = ?" + std::to_string(cols.size() + 1);
                cols.push_back(i);
            }
        if (cols.empty()) return;
        db_.beginWrite();
        if (!ci.rtree.empty()) db_.flushRtree(ci.rtree);
        sqlite3_stmt* st = db_.cached("UPDATE " + sqlName(ci.name) + " SET " + sql + " WHERE " +
                                      sqlName(ci.fields[std::size_t(ci.oid)].name) + " = ?" + std::to_string(cols.size() + 1));
        for (std::size_t k = 0; k < cols.size(); ++k) bindVal(st, int(k + 1), vals[cols[k]]);
        sqlite3_bind_int64(st, int(cols.size() + 1), oid);
        step(st);
        sqlite3_reset(st);
        sqlite3_clear_bindings(st);
        if (sqlite3_changes(db_.raw()) == 0) raise(GDB_E_NO_ROW, "row " + std::to_string(oid) + " of " + ci.name + " no longer exists");
    }

    void remove(const ClassInfo& ci, std::int64_t oid) override {
        db_.flushRows();
        db_.beginWrite();
        if (!ci.rtree.empty()) db_.flushRtree(ci.rtree);
        sqlite3_stmt* st = db_.cached("DELETE FROM " + sqlName(ci.name) + " WHERE " + sqlName(ci.fields[std::size_t(ci.oid)].name) + " = ?1");
        sqlite3_bind_int64(st, 1, oid);
        step(st);
        sqlite3_reset(st);
    }

    bool fetch(const ClassInfo& ci, std::int64_t oid, std::vector<Val>& vals) override {
        db_.flushRows();
        sqlite3_stmt* st = db_.cached("SELECT " + ci.selectList + " FROM " + sqlName(ci.name) + " WHERE " +
                                      sqlName(ci.fields[std::size_t(ci.oid)].name) + " = ?1");
        sqlite3_bind_int64(st, 1, oid);
        if (!step(st)) return false;
        vals.resize(ci.fields.size());
        for (std::size_t i = 0; i < ci.fields.size(); ++i) readColumnInto(st, int(i), vals[i]);
        sqlite3_reset(st);
        return true;
    }

    std::unique_ptr<RowStream> select(const ClassInfo& ci, const RowFilter& filter, const std::vector<int>& columns,
                                      const std::string& orderBy) override {
        db_.flushRows();
        std::string list;
        int shapeColumn = -1;
        for (std::size_t k = 0; k < columns.size(); ++k) {
            if (k) list += ", ";
            list += sqlName(ci.fields[std::size_t(columns[k])].name);
            if (columns[k] == ci.shape && shapeColumn < 0) shapeColumn = int(k);
        }
        if (filter.predicate && shapeColumn < 0) raise(E_FAIL, "a spatial search of " + ci.name + " must read its shape");
        bool spatial = false;
        const std::string oidName = sqlName(ci.fields[std::size_t(ci.oid)].name);
        if (!orderBy.empty() && orderBy != oidName && !filter.predicate && !filter.prefilter) {
            // Sorting whole rows would carry every column (shapes too) through SQLite's sorter: the
            // sort takes the object ids only, and each row is read by its id when its turn comes.
            Stmt ids = prepareSelection(ci, filter, oidName, orderBy, spatial);
            return std::make_unique<GpkgRowsById>(
                std::move(ids), prepare(db_.raw(), "SELECT " + list + " FROM " + sqlName(ci.name) + " WHERE " + oidName + " = ?1"));
        }
        Stmt st = prepareSelection(ci, filter, list, orderBy, spatial);
        return std::make_unique<GpkgRows>(db_, std::move(st), filter.predicate, shapeColumn, spatial ? ci.rtree : std::string());
    }

    std::int64_t count(const ClassInfo& ci, const RowFilter& filter) override {
        db_.flushRows();
        bool spatial = false;
        if (!filter.predicate) {
            Stmt st = prepareSelection(ci, filter, "count(*)", "", spatial);
            step(st.get());
            return sqlite3_column_int64(st.get(), 0);
        }
        // A spatial filter counts the candidates GEOS accepts.
        auto rows = select(ci, filter, {ci.shape}, "");
        std::vector<Val> row;
        std::int64_t n = 0;
        while (rows->next(row)) ++n;
        return n;
    }

    void removeSelected(const ClassInfo& ci, const RowFilter& filter) override {
        db_.flushRows();
        const std::string table = sqlName(ci.name), oid = sqlName(ci.fields[std::size_t(ci.oid)].name);
        if (!filter.predicate) {
            // Nothing is written (no write lock taken) when nothing matches.
            bool spatial = false;
            Stmt any = prepareSelection(ci, filter, "1", "", spatial);
            if (!step(any.get())) return;
            any.reset();
            db_.beginWrite();
            // The R-tree's delete trigger keeps it: it must hold every row first.
            if (!ci.rtree.empty()) db_.flushRtree(ci.rtree);
            const std::string where = filter.where.empty() ? "" : " WHERE (" + filter.where + ")";
            withRtree(ci, [&] {
                if (!ci.rtree.empty()) {
                    std::vector<std::int64_t> ids;
                    Stmt gone = prepare(db_.raw(), "SELECT " + oid + " FROM " + table + where);
                    while (step(gone.get())) ids.push_back(sqlite3_column_int64(gone.get(), 0));
                    gone.reset();
                    rtreeWithout(ci, std::move(ids));
                }
                db_.exec("DELETE FROM " + table + where);
            });
            return;
        }
        std::vector<std::int64_t> ids;
        {
            std::vector<int> cols{ci.oid, ci.shape};
            auto rows = select(ci, filter, cols, oid);
            std::vector<Val> row;
            while (rows->next(row)) ids.push_back(row[0].i);
        }
        if (ids.empty()) return;
        db_.beginWrite();
        if (!ci.rtree.empty()) db_.flushRtree(ci.rtree);
        withRtree(ci, [&] {
            if (!ci.rtree.empty()) rtreeWithout(ci, ids);
            constexpr std::size_t kBatch = 500;
            for (std::size_t at = 0; at < ids.size(); at += kBatch) {
                const std::size_t n = std::min(kBatch, ids.size() - at);
                std::string sql = "DELETE FROM " + table + " WHERE " + oid + " IN (";
                for (std::size_t k = 0; k < n; ++k) sql += k ? ", ?" : "?";
                sql += ")";
                sqlite3_stmt* st = db_.cached(sql);
                for (std::size_t k = 0; k < n; ++k) sqlite3_bind_int64(st, int(k + 1), ids[at + k]);
                step(st);
                sqlite3_reset(st);
            }
        });
    }

    // The R-tree written anew and the rows deleted stand or fall together: a delete refused after
    // the tree lost the rows' entries would leave rows the tree no longer finds.
    template <class Delete>
    void withRtree(const ClassInfo& ci, Delete&& del) {
        if (ci.rtree.empty()) return del();
        const int rc = sqlite3_exec(db_.raw(), "SAVEPOINT gdb_delete", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) throw SqlError(db_.raw(), rc, "SAVEPOINT gdb_delete");
        try {
            del();
        } catch (...) {
            sqlite3_exec(db_.raw(), "ROLLBACK TO gdb_delete; RELEASE gdb_delete", nullptr, nullptr, nullptr);
            throw;
        }
        sqlite3_exec(db_.raw(), "RELEASE gdb_delete", nullptr, nullptr, nullptr);
    }

    // Many rows going at once: their class's R-tree is written anew, packed, with the entries of
    // the rows that stay (the delete trigger then finds none of theirs), instead of losing them one
    // by one with a rebalancing each. Not while a statement is running (a search may hold nodes).
    void rtreeWithout(const ClassInfo& ci, std::vector<std::int64_t> gone) {
        if (gone.size() < 64 || !db_.rtreeExists(ci.rtree)) return;
        for (sqlite3_stmt* s = sqlite3_next_stmt(db_.raw(), nullptr); s; s = sqlite3_next_stmt(db_.raw(), s))
            if (sqlite3_stmt_busy(s)) return;
        std::sort(gone.begin(), gone.end());
        std::vector<RtreeEntry> stay;
        Stmt old = prepare(db_.raw(), "SELECT id, minx, maxx, miny, maxy FROM " + sqlName(ci.rtree));
        while (step(old.get())) {
            const std::int64_t id = sqlite3_column_int64(old.get(), 0);
            if (std::binary_search(gone.begin(), gone.end(), id)) continue;
            stay.push_back({id, {float(sqlite3_column_double(old.get(), 1)), float(sqlite3_column_double(old.get(), 2)),
                                 float(sqlite3_column_double(old.get(), 3)), float(sqlite3_column_double(old.get(), 4))}});
        }
        old.reset();
        if (stay.size() > gone.size()) return;
        writePackedRtree(db_.raw(), ci.rtree, std::move(stay));
    }

    std::optional<DatasetItem> dataset(const std::string& name) override {
        db_.flushRows();
        sqlite3_stmt* st = db_.cached("SELECT name, srs_id, z_min, z_max, versioned FROM gdb_items WHERE name = ?1 AND kind = 'FeatureDataset'");
        bindText(st, 1, name);
        if (!step(st)) return std::nullopt;
        DatasetItem d{columnText(st, 0), sqlite3_column_int(st, 1), sqlite3_column_double(st, 2), sqlite3_column_double(st, 3),
                      sqlite3_column_int(st, 4) != 0};
        sqlite3_reset(st);
        return d;
    }
    void createDataset(const std::string& name, std::int32_t srsId, double zmin, double zmax) override {
        db_.flushRows();
        db_.beginWrite();
        db_.makeSideTables();
        sqlite3_stmt* st = db_.cached("INSERT INTO gdb_items (name, kind, srs_id, z_min, z_max) VALUES (?1, 'FeatureDataset', ?2, ?3, ?4)");
        bindText(st, 1, name);
        sqlite3_bind_int(st, 2, srsId);
        sqlite3_bind_double(st, 3, zmin);
        sqlite3_bind_double(st, 4, zmax);
        step(st);
    }
    void setVersioned(const std::string& dataset, bool versioned) override {
        db_.flushRows();
        db_.beginWrite();
        db_.makeSideTables();
        sqlite3_stmt* st = db_.cached("UPDATE gdb_items SET versioned = ?2 WHERE name = ?1 AND kind = 'FeatureDataset'");
        bindText(st, 1, dataset);
        sqlite3_bind_int(st, 2, versioned ? 1 : 0);
        step(st);
    }
    std::vector<std::string> datasetClasses(const std::string& dataset) override {
        db_.flushRows();
        std::vector<std::string> names;
        sqlite3_stmt* st = db_.cached("SELECT name FROM gdb_items WHERE kind = 'FeatureClass' AND dataset = ?1 ORDER BY rowid");
        bindText(st, 1, dataset);
        while (step(st)) names.push_back(columnText(st, 0));
        return names;
    }

    std::vector<std::pair<LONG, std::string>> setSubtypeField(const ClassInfo& ci, const std::string& stored) override {
        db_.flushRows();
        db_.beginWrite();
        subtypeItem(ci);
        db_.makeSideTables();
        sqlite3_stmt* st = db_.cached("UPDATE gdb_items SET subtype_field = ?2 WHERE name = ?1");
        bindText(st, 1, ci.name);
        if (!stored.empty()) bindText(st, 2, stored);
        step(st);
        if (stored.empty()) {
            db_.makeSideTables();
            sqlite3_stmt* del = db_.cached("DELETE FROM gdb_subtypes WHERE class_name = ?1");
            bindText(del, 1, ci.name);
            step(del);
        }
        std::vector<std::pair<LONG, std::string>> subtypes;
        if (!stored.empty()) subtypes = subtypesOf(db_, ci.name);
        describeSubtypes(db_, ci.name, stored);
        return subtypes;
    }
    void setDefaultSubtype(const ClassInfo& ci, LONG code) override {
        db_.flushRows();
        db_.beginWrite();
        subtypeItem(ci);
        db_.makeSideTables();
        sqlite3_stmt* st = db_.cached("UPDATE gdb_items SET default_subtype = ?2 WHERE name = ?1");
        bindText(st, 1, ci.name);
        sqlite3_bind_int(st, 2, code);
        step(st);
    }
    void addSubtype(const ClassInfo& ci, LONG code, const std::string& n) override {
        db_.flushRows();
        db_.beginWrite();
        db_.makeSideTables();
        sqlite3_stmt* st = db_.cached("INSERT INTO gdb_subtypes (class_name, code, name) VALUES (?1, ?2, ?3)");
        bindText(st, 1, ci.name);
        sqlite3_bind_int(st, 2, code);
        bindText(st, 3, n);
        step(st);
        addSubtypeValue(db_, ci.name, ci.subtypeField, code, n);
    }
    bool deleteSubtype(const ClassInfo& ci, LONG code) override {
        db_.flushRows();
        db_.beginWrite();
        db_.makeSideTables();
        sqlite3_stmt* st = db_.cached("DELETE FROM gdb_subtypes WHERE class_name = ?1 AND code = ?2");
        bindText(st, 1, ci.name);
        sqlite3_bind_int(st, 2, code);
        step(st);
        if (sqlite3_changes(db_.raw()) == 0) return false;
        describeSubtypes(db_, ci.name, ci.subtypeField);
        return true;
    }

    std::optional<TopologyItem> topology(const std::string& name) override {
        db_.flushRows();
        sqlite3_stmt* st = db_.cached("SELECT dataset, tolerance FROM gdb_topologies WHERE name = ?1");
        bindText(st, 1, name);
        if (!step(st)) return std::nullopt;
        TopologyItem t{columnText(st, 0), sqlite3_column_double(st, 1)};
        sqlite3_reset(st);
        return t;
    }
    std::vector<std::string> topologies(const std::string& dataset) override {
        db_.flushRows();
        std::vector<std::string> names;
        sqlite3_stmt* st = db_.cached("SELECT name FROM gdb_topologies WHERE dataset = ?1 ORDER BY rowid");
        bindText(st, 1, dataset);
        while (step(st)) names.push_back(columnText(st, 0));
        return names;
    }
    void createTopology(const std::string& name, const std::string& dataset, double tolerance) override {
        db_.flushRows();
        db_.beginWrite();
        db_.makeSideTables();
        sqlite3_stmt* st = db_.cached("INSERT INTO gdb_topologies (name, dataset, tolerance) VALUES (?1, ?2, ?3)");
        bindText(st, 1, name);
        bindText(st, 2, dataset);
        sqlite3_bind_double(st, 3, tolerance);
        step(st);
    }
    std::string topologyOf(const std::string& className) override {
        db_.flushRows();
        sqlite3_stmt* st = db_.cached("SELECT topology FROM gdb_topology_classes WHERE class_name = ?1");
        bindText(st, 1, className);
        std::string t = step(st) ? columnText(st, 0) : std::string();
        sqlite3_reset(st);
        return t;
    }
    void addTopologyClass(const std::string& topology, const std::string& className) override {
        db_.flushRows();
        db_.beginWrite();
        db_.makeSideTables();
        sqlite3_stmt* st = db_.cached("INSERT INTO gdb_topology_classes (topology, class_name) VALUES (?1, ?2)");
        bindText(st, 1, topology);
        bindText(st, 2, className);
        step(st);
    }
    std::vector<std::string> topologyClasses(const std::string& topology) override {
        db_.flushRows();
        std::vector<std::string> names;
        sqlite3_stmt* st = db_.cached("SELECT class_name FROM gdb_topology_classes WHERE topology = ?1 ORDER BY rowid");
        bindText(st, 1, topology);
        while (step(st)) names.push_back(columnText(st, 0));
        return names;
    }

private:
    // SELECT <columns> FROM the class WHERE the filter holds, the R-tree prefiltering where the class
    // has one (spatial: it does, and the statement is bound to the filter's extent).
    Stmt prepareSelection(const ClassInfo& ci, const RowFilter& filter, const std::string& columns, const std::string& orderBy,
                          bool& spatial) {
        spatial = false;
        if (filter.prefilter && !ci.rtree.empty()) {
            db_.flushRtree(ci.rtree);
            spatial = db_.rtreeExists(ci.rtree);
        }
        std::string sql = "SELECT " + columns + " FROM " + sqlName(ci.name);
        std::string cond;
        if (spatial)
            cond = sqlName(ci.fields[std::size_t(ci.oid)].name) + " IN (SELECT id FROM " + sqlName(ci.rtree) +
                   " WHERE minx <= ?1 AND maxx >= ?2 AND miny <= ?3 AND maxy >= ?4)";
        if (!filter.where.empty()) cond += (cond.empty() ? "(" : " AND (") + filter.where + ")";
        if (!cond.empty()) sql += " WHERE " + cond;
        if (!orderBy.empty()) sql += " ORDER BY " + orderBy;
        Stmt st = prepare(db_.raw(), sql);
        if (spatial) {
            sqlite3_bind_double(st.get(), 1, filter.extent.xmax);
            sqlite3_bind_double(st.get(), 2, filter.extent.xmin);
            sqlite3_bind_double(st.get(), 3, filter.extent.ymax);
            sqlite3_bind_double(st.get(), 4, filter.extent.ymin);
        }
        return st;
    }
    // Makes sure gdb_items has a row for the class.
    void subtypeItem(const ClassInfo& ci) {
        db_.makeSideTables();
        sqlite3_stmt* st = db_.cached("INSERT OR IGNORE INTO gdb_items (name, kind) VALUES (?1, ?2)");
        bindText(st, 1, ci.name);
        bindText(st, 2, ci.feature ? "FeatureClass" : "Table");
        step(st);
    }

    Database db_;
};

}  // namespace

std::unique_ptr<GdbStore> openGpkgStore(const std::string& file, bool create) { return std::make_unique<GpkgStore>(file, create); }

}  // namespace gdb
