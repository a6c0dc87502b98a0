// platform/gdb/sqlite_gdb.cpp: the personal geodatabase over SQLite in GeoPackage layout: the
// workspace factory, workspaces with their edit sessions, feature datasets, tables and feature
// classes, rows, cursors, subtypes and table sorts.
//
// Failures inside are thrown (_com_error, SqlError carrying the SQL and sqlite3_errmsg,
// GpkgBlobError) and every COM method turns them into an HRESULT with a description (gdbGuard).
// Storage: GeoPackage feature and attribute tables registered in gpkg_contents and
// gpkg_geometry_columns, one gpkg_rtree_index R-tree per feature class that has rows (the standard
// triggers keep it for other programs; our own inserts keep it themselves, see "R-tree upkeep"), and side tables
// "gdb_*" (registered in gpkg_extensions as "x_gdb_catalog", made only once something of ours needs them) for what
// GeoPackage has no place for: datasets, the Z domain, the versioned flag, subtypes, topologies.
#include "platform/gdb/gdb.h"
#include "platform/gdb/gdb_value.h"
#include "platform/gdb/class_schema.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "platform/geometry/gpkg_blob.h"
#include "platform/geometry/spatial_relation.h"
#include "platform/topology/topology.h"

namespace {

// =============================================================================================
// SQLite helpers
// =============================================================================================

class SqlError : public std::runtime_error {
public:
    SqlError(sqlite3* db, int rc, std::string_view sql)
        : std::runtime_error("SQLite error " + std::to_string(rc) + " (" +
                             (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)) + ") in: " + std::string(sql)),
          rc_(rc), errno_(db ? sqlite3_system_errno(db) : 0) {}
    explicit SqlError(const std::string& text) : std::runtime_error(text) {}
    int rc() const { return rc_; }
    int systemErrno() const { return errno_; }

private:
    int rc_ = SQLITE_ERROR;
    int errno_ = 0;  // what the operating system said, for an I/O failure
};

// The result code of an SQLite failure that a user can act on; GDB_E_SQL for the rest.
HRESULT resultOfSqlite(int rc, int systemErrno) {
    if ((rc & 0xff) == SQLITE_IOERR) {
        if (systemErrno == EROFS) return GDB_E_READ_ONLY;
        if (systemErrno == EACCES || systemErrno == EPERM) return GDB_E_ACCESS_DENIED;
        // A write refused for want of room: no space (SQLite says SQLITE_FULL only for a short
        // write), a quota, the process's file size limit. (The errno SQLite keeps may be a later
        // one: a failed write counts as no room unless it was an I/O error.)
        if (rc == SQLITE_IOERR_WRITE && systemErrno != EIO) return GDB_E_DISK_FULL;
    }
    switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return GDB_E_IN_USE;
    case SQLITE_READONLY: return (rc == SQLITE_READONLY_DIRECTORY) ? GDB_E_ACCESS_DENIED : GDB_E_READ_ONLY;
    case SQLITE_FULL: return GDB_E_DISK_FULL;
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_CANTOPEN: return GDB_E_ACCESS_DENIED;
    case SQLITE_NOTADB: return GDB_E_BAD_PATH;
    default: return GDB_E_SQL;
    }
}

struct Finalize {
    void operator()(sqlite3_stmt* s) const noexcept { sqlite3_finalize(s); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, Finalize>;

[[noreturn]] void raise(HRESULT hr, const std::string& text) { throw _com_error(hr, fromUtf8(text)); }

Stmt prepare(sqlite3* db, std::string_view sql) {
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.data(), int(sql.size()), &raw, &tail);
    if (rc != SQLITE_OK) throw SqlError(db, rc, sql);
    Stmt st(raw);
    // One statement only: text after it (a second statement smuggled into a where clause) is refused.
    if (tail)
        for (const char* p = tail; p < sql.data() + sql.size(); ++p)
            if (!std::isspace(static_cast<unsigned char>(*p)))
                throw SqlError("SQL text after the statement: " + std::string(sql));
    return st;
}

// Runs a statement to SQLITE_ROW or SQLITE_DONE; true for a row.
bool step(sqlite3_stmt* st) {
    int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    sqlite3* db = sqlite3_db_handle(st);
    const char* sql = sqlite3_sql(st);
    SqlError e(db, rc, sql ? sql : "");
    sqlite3_reset(st);
    throw e;
}

// A name inside double quotes.
std::string sqlName(std::string_view v) {
    if (v.find('\0') != v.npos) throw SqlError("NUL in a SQL name");
    std::string out = "\"";
    for (char c : v) {
        out += c;
        if (c == '"') out += '"';
    }
    return out += '"';
}

std::string columnText(sqlite3_stmt* st, int i) {
    const unsigned char* t = sqlite3_column_text(st, i);
    return t ? std::string(reinterpret_cast<const char*>(t), std::size_t(sqlite3_column_bytes(st, i))) : std::string();
}

void bindText(sqlite3_stmt* st, int i, std::string_view v) {
    int rc = sqlite3_bind_text(st, i, v.data(), int(v.size()), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) throw SqlError(sqlite3_db_handle(st), rc, sqlite3_sql(st));
}

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
bool sameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

using gdb::utf8;

HRESULT giveText(const std::string& s, BSTR* out) {
    if (!out) return E_POINTER;
    std::wstring w = fromUtf8(s);
    *out = SysAllocStringLen(w.data(), UINT(w.size()));
    return *out || w.empty() ? S_OK : E_OUTOFMEMORY;
}
template <class I>
HRESULT givePtr(I* p, I** out) {
    if (!out) return E_POINTER;
    *out = p;
    if (p) p->AddRef();
    return S_OK;
}
void need(const void* p) {
    if (!p) raise(E_POINTER, "null out pointer");
}

thread_local HRESULT storageFailure = S_OK;

// Every COM method body: SQL failures get their own code, the rest goes through comGuard.
template <class F>
HRESULT gdbGuard(F&& body) noexcept {
    const HRESULT hr = comGuard([&]() -> HRESULT {
        try {
            return body();
        } catch (const SqlError& e) {
            throw _com_error(resultOfSqlite(e.rc(), e.systemErrno()), fromUtf8(e.what()));
        } catch (const GpkgBlobError& e) {
            throw _com_error(E_FAIL, fromUtf8(std::string("bad geometry blob: ") + e.what()));
        }
    });
    if (hr == GDB_E_IN_USE || hr == GDB_E_READ_ONLY || hr == GDB_E_DISK_FULL || hr == GDB_E_ACCESS_DENIED)
        storageFailure = hr;
    return hr;
}

// IUnknown for an object of several interfaces (each answers for itself and its bases).
template <class I, class Self>
bool findIn(Self* self, REFIID riid, void** out) {
    if constexpr (std::is_same_v<I, IUnknown> || std::is_void_v<I>) {
        return false;
    } else {
        if (riid == I::iid) {
            *out = static_cast<I*>(self);
            return true;
        }
        return findIn<typename I::base_interface>(self, riid, out);
    }
}
template <class First, class... Rest>
class Object : public First, public Rest... {
public:
    Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    virtual ~Object() = default;
    HRESULT QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (riid == IUnknown::iid)
            *out = static_cast<IUnknown*>(static_cast<First*>(this));
        else if (!refuse(riid) && !(findIn<First>(this, riid, out) || (findIn<Rest>(this, riid, out) || ...)))
            return E_NOINTERFACE;
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

protected:
    // An object that implements an interface only in some of its forms refuses it here.
    virtual bool refuse(REFIID) { return false; }

private:
    std::atomic<ULONG> refs_{0};
};

// =============================================================================================
// The database: one SQLite connection per geodatabase file
// =============================================================================================

// SQLite's memory statistics take a global mutex on every allocation, and nothing here reads
// them. Set when the library is loaded: SQLite refuses it once it is in use.
struct SqliteSetup {
    SqliteSetup() { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); }
} const kSqliteSetup;

constexpr std::int32_t kWgs84 = 4326;
constexpr std::int32_t kUndefinedGeographic = 0;
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

struct RtreeEntry {
    std::int64_t id;
    float box[4];  // minx, maxx, miny, maxy
};

// The R-tree stores 32-bit floats rounded outward, so a box never shrinks.
float roundDown(double d) {
    float f = static_cast<float>(d);
    if (static_cast<double>(f) > d) f = std::nextafter(f, -std::numeric_limits<float>::infinity());
    return f;
}
float roundUp(double d) {
    float f = static_cast<float>(d);
    if (static_cast<double>(f) < d) f = std::nextafter(f, std::numeric_limits<float>::infinity());
    return f;
}

void putBigEndian(std::string& out, std::size_t at, std::uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i, v >>= 8) out[at + std::size_t(i)] = char(v & 0xFF);
}

// Writes a packed tree into the shadow tables of an R-tree (node 1 the root, its first two bytes
// the depth; every cell a 64-bit id or child node and four 32-bit floats, big-endian), in the node
// size the table was created with.
void writePackedRtree(sqlite3* db, const std::string& rtree, std::vector<RtreeEntry> entries) {
    Stmt sizeSt = prepare(db, "SELECT length(data) FROM " + sqlName(rtree + "_node") + " WHERE nodeno = 1");
    if (!step(sizeSt.get())) throw SqlError("R-tree " + rtree + " has no root node");
    const std::size_t nodeSize = std::size_t(sqlite3_column_int(sizeSt.get(), 0));
    constexpr std::size_t kCell = 24;
    if (nodeSize < 4 + 2 * kCell) throw SqlError("R-tree " + rtree + ": unexpected node size");
    const std::size_t fanout = (nodeSize - 4) / kCell;

    struct Node {
        std::vector<RtreeEntry> cells;
        RtreeEntry box{};
    };
    auto boxOf = [](const std::vector<RtreeEntry>& cells) {
        RtreeEntry b{0, {cells[0].box[0], cells[0].box[1], cells[0].box[2], cells[0].box[3]}};
        for (const auto& c : cells) {
            b.box[0] = std::min(b.box[0], c.box[0]);
            b.box[1] = std::max(b.box[1], c.box[1]);
            b.box[2] = std::min(b.box[2], c.box[2]);
            b.box[3] = std::max(b.box[3], c.box[3]);
        }
        return b;
    };
    // One level of sort-tile-recursive packing.
    auto pack = [&](std::vector<RtreeEntry>& items) {
        std::vector<Node> nodes;
        const std::size_t leaves = (items.size() + fanout - 1) / fanout;
        const std::size_t slices = std::size_t(std::ceil(std::sqrt(double(leaves))));
        const std::size_t perSlice = slices * fanout;
        std::sort(items.begin(), items.end(), [](const RtreeEntry& a, const RtreeEntry& b) {
            return a.box[0] + a.box[1] < b.box[0] + b.box[1];
        });
        for (std::size_t s = 0; s < items.size(); s += perSlice) {
            auto first = items.begin() + std::ptrdiff_t(s);
            auto last = items.begin() + std::ptrdiff_t(std::min(items.size(), s + perSlice));
            std::sort(first, last, [](const RtreeEntry& a, const RtreeEntry& b) {
                return a.box[2] + a.box[3] < b.box[2] + b.box[3];
            });
            for (auto it = first; it < last; it += std::ptrdiff_t(std::min<std::size_t>(fanout, std::size_t(last - it)))) {
                Node n;
                n.cells.assign(it, it + std::ptrdiff_t(std::min<std::size_t>(fanout, std::size_t(last - it))));
                n.box = boxOf(n.cells);
                nodes.push_back(std::move(n));
            }
        }
        return nodes;
    };
    // Levels from the leaves up; the last level is the root.
    std::vector<std::vector<Node>> levels;
    if (entries.size() <= fanout) {
        levels.push_back({Node{entries, {}}});
    } else {
        levels.push_back(pack(entries));
        while (levels.back().size() > fanout) {
            std::vector<RtreeEntry> boxes;
            for (std::size_t i = 0; i < levels.back().size(); ++i) {
                RtreeEntry b = levels.back()[i].box;
                b.id = std::int64_t(i);  // index into the level below, numbered later
                boxes.push_back(b);
            }
            std::vector<Node> up = pack(boxes);
            // pack() reorders the lower level's boxes: keep the lower nodes in the new order.
            std::vector<Node> reordered;
            for (Node& n : up)
                for (RtreeEntry& c : n.cells) {
                    std::size_t from = std::size_t(c.id);
                    c.id = std::int64_t(reordered.size());
                    reordered.push_back(std::move(levels.back()[from]));
                }
            levels.back() = std::move(reordered);
            levels.push_back(std::move(up));
        }
        std::vector<RtreeEntry> rootCells;
        for (std::size_t i = 0; i < levels.back().size(); ++i) {
            RtreeEntry b = levels.back()[i].box;
            b.id = std::int64_t(i);
            rootCells.push_back(b);
        }
        levels.push_back({Node{rootCells, {}}});
    }
    // Node numbers: the root 1, then level by level downwards.
    std::vector<std::vector<std::int64_t>> numbers(levels.size());
    std::int64_t next = 1;
    for (std::size_t l = levels.size(); l-- > 0;)
        for (std::size_t i = 0; i < levels[l].size(); ++i) numbers[l].push_back(next++);

    for (const char* suffix : {"_node", "_rowid", "_parent"})
        step(prepare(db, "DELETE FROM " + sqlName(rtree + suffix)).get());
    Stmt putNode = prepare(db, "INSERT INTO " + sqlName(rtree + "_node") + " (nodeno, data) VALUES (?1, ?2)");
    Stmt putRowid = prepare(db, "INSERT INTO " + sqlName(rtree + "_rowid") + " (rowid, nodeno) VALUES (?1, ?2)");
    Stmt putParent = prepare(db, "INSERT INTO " + sqlName(rtree + "_parent") + " (nodeno, parentnode) VALUES (?1, ?2)");
    const std::size_t depth = levels.size() - 1;
    std::string blob(nodeSize, '\0');
    for (std::size_t l = levels.size(); l-- > 0;) {
        for (std::size_t i = 0; i < levels[l].size(); ++i) {
            const Node& n = levels[l][i];
            const std::int64_t self = numbers[l][i];
            std::fill(blob.begin(), blob.end(), '\0');
            putBigEndian(blob, 0, l == depth ? depth : 0, 2);
            putBigEndian(blob, 2, n.cells.size(), 2);
            for (std::size_t k = 0; k < n.cells.size(); ++k) {
                const RtreeEntry& c = n.cells[k];
                const std::int64_t ref = l == 0 ? c.id : numbers[l - 1][std::size_t(c.id)];
                putBigEndian(blob, 4 + k * kCell, std::uint64_t(ref), 8);
                for (int j = 0; j < 4; ++j) {
                    std::uint32_t bits;
                    std::memcpy(&bits, &c.box[j], 4);
                    putBigEndian(blob, 4 + k * kCell + 8 + std::size_t(j) * 4, bits, 4);
                }
                if (l == 0) {
                    sqlite3_reset(putRowid.get());
                    sqlite3_bind_int64(putRowid.get(), 1, ref);
                    sqlite3_bind_int64(putRowid.get(), 2, self);
                    step(putRowid.get());
                } else {
                    sqlite3_reset(putParent.get());
                    sqlite3_bind_int64(putParent.get(), 1, ref);
                    sqlite3_bind_int64(putParent.get(), 2, self);
                    step(putParent.get());
                }
            }
            sqlite3_reset(putNode.get());
            sqlite3_bind_int64(putNode.get(), 1, self);
            sqlite3_bind_blob(putNode.get(), 2, blob.data(), int(blob.size()), SQLITE_STATIC);
            step(putNode.get());
        }
    }
}

// The GeoPackage R-tree of a feature class and the triggers that keep it (the insert trigger
// first).
struct RtreeSql {
    std::string create;
    std::string extension;  // the gpkg_extensions row
    std::vector<std::string> triggers;
};
RtreeSql rtreeSql(const std::string& table, const std::string& column, const std::string& oid) {
    const std::string t = sqlName(table), c = sqlName(column), i = sqlName(oid);
    const std::string base = "rtree_" + table + "_" + column;
    const std::string r = sqlName(base);
    const std::string values = "(NEW." + i + ", ST_MinX(NEW." + c + "), ST_MaxX(NEW." + c + "), ST_MinY(NEW." + c +
                               "), ST_MaxY(NEW." + c + "))";
    RtreeSql out;
    out.create = "CREATE VIRTUAL TABLE " + r + " USING rtree(id, minx, maxx, miny, maxy)";
    out.triggers = {
        "CREATE TRIGGER " + sqlName(base + "_insert") + " AFTER INSERT ON " + t + " WHEN (new." + c +
            " NOT NULL AND NOT ST_IsEmpty(NEW." + c + ")) BEGIN INSERT OR REPLACE INTO " + r + " VALUES " + values + "; END",
        "CREATE TRIGGER " + sqlName(base + "_update1") + " AFTER UPDATE OF " + c + " ON " + t + " WHEN OLD." + i +
            " = NEW." + i + " AND (NEW." + c + " NOTNULL AND NOT ST_IsEmpty(NEW." + c + ")) BEGIN INSERT OR REPLACE INTO " +
            r + " VALUES " + values + "; END",
        "CREATE TRIGGER " + sqlName(base + "_update2") + " AFTER UPDATE OF " + c + " ON " + t + " WHEN OLD." + i +
            " = NEW." + i + " AND (NEW." + c + " ISNULL OR ST_IsEmpty(NEW." + c + ")) BEGIN DELETE FROM " + r +
            " WHERE id = OLD." + i + "; END",
        "CREATE TRIGGER " + sqlName(base + "_update3") + " AFTER UPDATE ON " + t + " WHEN OLD." + i + " != NEW." + i +
            " AND (NEW." + c + " NOTNULL AND NOT ST_IsEmpty(NEW." + c + ")) BEGIN DELETE FROM " + r + " WHERE id = OLD." +
            i + "; INSERT OR REPLACE INTO " + r + " VALUES " + values + "; END",
        "CREATE TRIGGER " + sqlName(base + "_update4") + " AFTER UPDATE ON " + t + " WHEN OLD." + i + " != NEW." + i +
            " AND (NEW." + c + " ISNULL OR ST_IsEmpty(NEW." + c + ")) BEGIN DELETE FROM " + r + " WHERE id IN (OLD." + i +
            ", NEW." + i + "); END",
        "CREATE TRIGGER " + sqlName(base + "_delete") + " AFTER DELETE ON " + t + " WHEN old." + c +
            " NOT NULL BEGIN DELETE FROM " + r + " WHERE id = OLD." + i + "; END",
    };
    return out;
}

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
    std::vector<RtreeEntry> entries;
    // A class that has no R-tree yet gets it, with its triggers, when the entries are written.
    std::optional<RtreeSql> create;
    std::string table, column, oid;
    bool fromTable = false;  // the class had rows already (another program wrote them): all are indexed
    GeoExtent extent;        // exact union of the entries, for the table's gpkg_contents extent
};

void widen(GeoExtent& into, const GeoExtent& e) {
    if (e.empty()) return;
    if (into.empty()) {
        into = e;
        return;
    }
    into.xmin = std::min(into.xmin, e.xmin);
    into.ymin = std::min(into.ymin, e.ymin);
    into.xmax = std::max(into.xmax, e.xmax);
    into.ymax = std::max(into.ymax, e.ymax);
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
        sqlite3_create_function(db_, "ST_IsEmpty", 1, fl, nullptr, &stIsEmpty, nullptr, nullptr);
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
            flushRtrees();
            aboutToCommit();
            exec("COMMIT");
        }
    }
    // The batch is committed at a flush once it has been open for a second.
    void flushBatch() {
        if (editing_ || sqlite3_get_autocommit(db_)) return;
        if (std::chrono::steady_clock::now() - batchStart_ < std::chrono::seconds(1)) return;
        flushRtrees();
        aboutToCommit();
        int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        if (rc == SQLITE_BUSY) return;  // a reader holds the file; the batch stays open
        if (rc != SQLITE_OK) throw SqlError(db_, rc, "COMMIT");
    }

    // A row inserted into a feature class whose R-tree this transaction keeps by itself.
    // Called before the insert, so that the trigger does not fire for it.
    void beginDeferral(const RtreeOwner& owner) {
        if (pending_.count(owner.rtree)) return;
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
            sqlite3_stmt* st = cached("SELECT sql FROM sqlite_master WHERE type = 'trigger' AND name = ?1 AND tbl_name = ?2 COLLATE NOCASE");
            bindText(st, 1, p.triggerName);
            bindText(st, 2, owner.table);
            if (step(st)) p.triggerSql = columnText(st, 0);
            sqlite3_reset(st);
            if (!p.triggerSql.empty()) exec("DROP TRIGGER " + sqlName(p.triggerName));
        }
        pending_.emplace(owner.rtree, std::move(p));
    }
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
        auto it = pending_.find(rtree);
        if (it == pending_.end()) throw SqlError("R-tree " + rtree + " is not deferred");
        if (e.empty()) return;
        widen(it->second.extent, e);
        it->second.entries.push_back({id, {roundDown(e.xmin), roundUp(e.xmax), roundDown(e.ymin), roundUp(e.ymax)}});
    }
    // Brings one R-tree up to date and gives its trigger back.
    void flushRtree(std::string rtree) {  // a copy: the entry naming it goes away
        auto it = pending_.find(rtree);
        if (it == pending_.end()) return;
        PendingRtree p = std::move(it->second);
        pending_.erase(it);
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
            Stmt count = prepare(db_, "SELECT count(*) FROM " + sqlName(rtree + "_rowid"));
            step(count.get());
            const std::size_t existing = std::size_t(sqlite3_column_int64(count.get(), 0));
            // A search still reading the tree keeps some of its nodes in memory: write around it.
            const bool reading = readers_.count(rtree) && readers_[rtree] > 0;
            if (!reading && p.entries.size() >= 64 && p.entries.size() >= existing) {
                std::vector<RtreeEntry> all;
                all.reserve(existing + p.entries.size());
                Stmt old = prepare(db_, "SELECT id, minx, maxx, miny, maxy FROM " + sqlName(rtree));
                while (step(old.get()))
                    all.push_back({sqlite3_column_int64(old.get(), 0),
                                   {float(sqlite3_column_double(old.get(), 1)), float(sqlite3_column_double(old.get(), 2)),
                                    float(sqlite3_column_double(old.get(), 3)), float(sqlite3_column_double(old.get(), 4))}});
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
    }
    void flushRtrees() {
        while (!pending_.empty()) flushRtree(pending_.begin()->first);
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
        if (save) flushRtrees();
        else pending_.clear();
        if (save) {
            aboutToCommit();
            exec("RELEASE gdb_edit");
            try {
                exec("COMMIT");
            } catch (...) {
                // Not saved (a full disk): nothing of the session stays, and the session is over.
                sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
                editing_ = false;
                operations_ = 0;
                rolledBack();
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
        flushRtrees();
        exec("SAVEPOINT gdb_op" + std::to_string(++operations_));
    }
    void stopOperation(bool keep) {
        if (!editing_ || operations_ == 0) raise(GDB_E_EDITING, "no edit operation is open");
        if (keep) flushRtrees();
        else pending_.clear();
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
            if (!editing_) flushRtrees();
        } catch (const std::exception& e) {
            // Rolled back rather than committed with a stale R-tree; nobody is left to tell but
            // the terminal.
            std::fprintf(stderr, "geodatabase %s: changes not saved: %s\n", sqlite3_db_filename(db_, "main"), e.what());
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        }
        pending_.clear();
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
    std::map<std::string, bool> rtrees_;  // R-tree tables known to be there or not
    std::uint64_t transaction_ = 0, checkedTransaction_ = ~std::uint64_t(0), foreignEpoch_ = 0;
    std::int64_t cookieSeen_ = -1;
    std::map<std::string, int> readers_;
    bool editing_ = false;
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

using FieldInfo = gdb::FieldSpec;

struct ClassInfo {
    std::string name;     // as stored
    bool feature = false;
    std::string dataset;  // empty outside a feature dataset
    std::string alias;
    std::vector<FieldInfo> fields;
    int oid = -1;
    int shape = -1;
    esriGeometryType shapeType = esriGeometryNull;
    bool hasZ = false;
    std::int32_t srsId = kUndefinedGeographic;
    bool hasSr = false;
    double zmin = -100000.0;
    double zmax = 100000.0;
    std::string rtree;  // a feature class's R-tree table, which it may lack; empty for a table
    std::string subtypeField;
    LONG defaultSubtype = 0;
    std::vector<std::pair<LONG, std::string>> subtypes;
    std::string selectList;
    std::string insertSql;
    std::unordered_map<std::string, int> byName;  // lower-cased field names, the first of a name
    // The insert statement, once used: kept by the database's statement cache as long as it is open.
    mutable sqlite3_stmt* insertStmt = nullptr;

    int find(std::string_view n) const {
        std::string key(n);
        for (char& c : key) c = char(std::tolower(static_cast<unsigned char>(c)));
        auto it = byName.find(key);
        return it == byName.end() ? -1 : it->second;
    }
};

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

bool sqlExists(Database& db, const std::string& name) {
    sqlite3_stmt* st = db.cached("SELECT 1 FROM sqlite_master WHERE name = ?1 COLLATE NOCASE");
    bindText(st, 1, name);
    bool found = step(st);
    sqlite3_reset(st);
    return found;
}

std::vector<std::pair<LONG, std::string>> subtypesOf(Database& db, const std::string& className) {
    std::vector<std::pair<LONG, std::string>> out;
    sqlite3_stmt* st = db.cached("SELECT code, name FROM gdb_subtypes WHERE class_name = ?1 ORDER BY code");
    bindText(st, 1, className);
    while (step(st)) out.emplace_back(LONG(sqlite3_column_int(st, 0)), columnText(st, 1));
    return out;
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
    sqlite3_stmt* column = db.cached(
        "INSERT OR REPLACE INTO gpkg_data_columns (table_name, column_name, name, title, description, constraint_name) "
        "VALUES (?1, ?2, ?2, ?2, 'subtype', ?3)");
    bindText(column, 1, className);
    bindText(column, 2, field);
    bindText(column, 3, constraint);
    step(column);
    sqlite3_stmt* add = db.cached(
        "INSERT OR REPLACE INTO gpkg_data_column_constraints (constraint_name, constraint_type, value, description) "
        "VALUES (?1, 'enum', ?2, ?3)");
    for (const auto& [code, name] : subtypes) {
        sqlite3_reset(add);
        bindText(add, 1, constraint);
        bindText(add, 2, std::to_string(code));
        bindText(add, 3, name);
        step(add);
    }
}

// One subtype more in its class's enumeration.
void addSubtypeValue(Database& db, const std::string& className, const std::string& field, LONG code, const std::string& name) {
    db.ensureDataColumns();
    const std::string constraint = className + "_" + field;
    sqlite3_stmt* column = db.cached(
        "INSERT OR IGNORE INTO gpkg_data_columns (table_name, column_name, name, title, description, constraint_name) "
        "VALUES (?1, ?2, ?2, ?2, 'subtype', ?3)");
    bindText(column, 1, className);
    bindText(column, 2, field);
    bindText(column, 3, constraint);
    step(column);
    sqlite3_stmt* add = db.cached(
        "INSERT OR REPLACE INTO gpkg_data_column_constraints (constraint_name, constraint_type, value, description) "
        "VALUES (?1, 'enum', ?2, ?3)");
    bindText(add, 1, constraint);
    bindText(add, 2, std::to_string(code));
    bindText(add, 3, name);
    step(add);
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
    std::string cols, vals;
    for (std::size_t i = 0; i < info.fields.size(); ++i) {
        info.byName.emplace(lower(info.fields[i].name), int(i));
        if (i) info.selectList += ", ";
        info.selectList += sqlName(info.fields[i].name);
        if (int(i) == info.oid) continue;
        if (!cols.empty()) {
            cols += ", ";
            vals += ", ";
        }
        cols += sqlName(info.fields[i].name);
        vals += "?" + std::to_string(i + 1);
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
// Values
// =============================================================================================

using gdb::Val;

using gdb::convertIn;
using gdb::misfit;
using gdb::trimBlanks;

Val readColumn(sqlite3_stmt* st, int i) {
    Val v;
    switch (sqlite3_column_type(st, i)) {
        case SQLITE_INTEGER: v.kind = Val::Int; v.i = sqlite3_column_int64(st, i); break;
        case SQLITE_FLOAT: v.kind = Val::Real; v.d = sqlite3_column_double(st, i); break;
        case SQLITE_TEXT: v.kind = Val::Text; v.s = columnText(st, i); break;
        case SQLITE_BLOB: {
            v.kind = Val::Blob;
            const void* p = sqlite3_column_blob(st, i);
            v.s.assign(static_cast<const char*>(p), std::size_t(sqlite3_column_bytes(st, i)));
            break;
        }
        default: break;
    }
    return v;
}

void bindVal(sqlite3_stmt* st, int i, const Val& v) {
    int rc = SQLITE_OK;
    switch (v.kind) {
        case Val::Null: rc = sqlite3_bind_null(st, i); break;
        case Val::Int: rc = sqlite3_bind_int64(st, i, v.i); break;
        case Val::Real: rc = sqlite3_bind_double(st, i, v.d); break;
        case Val::Text: rc = sqlite3_bind_text(st, i, v.s.data(), int(v.s.size()), SQLITE_STATIC); break;
        case Val::Blob: rc = sqlite3_bind_blob(st, i, v.s.data(), int(v.s.size()), SQLITE_STATIC); break;
    }
    if (rc != SQLITE_OK) throw SqlError(sqlite3_db_handle(st), rc, sqlite3_sql(st));
}

// =============================================================================================
// Objects
// =============================================================================================

class WorkspaceImpl;
class ClassImpl;
class RowImpl;

// Our rows and classes answer this interface, so that a cursor knows a buffer of its own class.
struct IGdbInternal : IUnknown {
    static constexpr GUID iid = makeGuid("{F2D8CD61-84CF-4060-B476-B3D038859753}");
    using base_interface = IUnknown;
    virtual RowImpl* asRow() = 0;
    virtual ClassImpl* asClass() = 0;
};
_COM_SMARTPTR_TYPEDEF(IGdbInternal, __uuidof(IGdbInternal));

// ---------------------------------------------------------------------------------------------
class WorkspaceImpl final : public Object<IWorkspace, IFeatureWorkspace, IWorkspaceEdit, IDataset> {
public:
    WorkspaceImpl(std::string path, std::string key, bool create) : path_(std::move(path)), key_(std::move(key)) {
        db_ = std::make_unique<Database>(fileName(path_), create);
    }
    ~WorkspaceImpl() override;

    static std::string fileName(const std::string& path) {
        std::string p = path;
        std::replace(p.begin(), p.end(), '\\', '/');
        return p;
    }

    Database& db() { return *db_; }
    IFeatureClassPtr featureClass(const std::string& name);
    ITablePtr table(const std::string& name);
    IFeatureDatasetPtr dataset(const std::string& name);
    void forget(ClassImpl* c);
    // Creates a table or feature class from a field list; dataset may be empty.
    IUnknownPtr create(const std::string& name, IFields* fields, bool feature, const std::string& shapeField,
                       const std::string& dataset);
    void checkNewName(const std::string& name);
    // Descriptions outlive their class objects, so that a class opened again is not read again:
    // valid while no rollback and no other connection's schema change came between (our own
    // changes of a class replace its description).
    void remember(const std::shared_ptr<ClassInfo>& info) {
        known_[lower(info->name)] = {info, db_->generation(), db_->foreignSchemaEpoch()};
    }
    std::shared_ptr<ClassInfo> recalled(const std::string& key) {
        auto it = known_.find(key);
        if (it == known_.end()) return nullptr;
        if (it->second.generation == db_->generation() && it->second.schema == db_->foreignSchemaEpoch())
            return it->second.info;
        known_.erase(it);
        return nullptr;
    }

    // IWorkspace
    HRESULT get_Type(esriWorkspaceType* t) override {
        if (!t) return E_POINTER;
        *t = esriLocalDatabaseWorkspace;
        return S_OK;
    }
    HRESULT get_PathName(BSTR* p) override { return giveText(path_, p); }
    // IDataset
    HRESULT get_Name(BSTR* n) override {
        return giveText(std::filesystem::path(fileName(path_)).filename().string(), n);
    }
    HRESULT get_Type(esriDatasetType* t) override {
        if (!t) return E_POINTER;
        *t = esriDTAny;
        return S_OK;
    }
    HRESULT get_Workspace(IWorkspace** w) override { return givePtr<IWorkspace>(this, w); }
    // IFeatureWorkspace
    HRESULT raw_OpenTable(BSTR name, ITable** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            *out = table(utf8(name)).Detach();
            return S_OK;
        });
    }
    HRESULT raw_OpenFeatureClass(BSTR name, IFeatureClass** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            *out = featureClass(utf8(name)).Detach();
            return S_OK;
        });
    }
    HRESULT raw_OpenFeatureDataset(BSTR name, IFeatureDataset** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            *out = dataset(utf8(name)).Detach();
            return S_OK;
        });
    }
    HRESULT raw_CreateTable(BSTR name, IFields* fields, const GUID*, const GUID*, BSTR, ITable** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            *out = ITablePtr(create(utf8(name), fields, false, "", "")).Detach();
            return S_OK;
        });
    }
    HRESULT raw_CreateFeatureClass(BSTR name, IFields* fields, const GUID*, const GUID*, esriFeatureType,
                                   BSTR shapeField, BSTR, IFeatureClass** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            *out = IFeatureClassPtr(create(utf8(name), fields, true, utf8(shapeField), "")).Detach();
            return S_OK;
        });
    }
    HRESULT raw_CreateFeatureDataset(BSTR name, ISpatialReference* sr, IFeatureDataset** out) override;
    // IWorkspaceEdit
    HRESULT raw_StartEditing(VARIANT_BOOL) override {
        return gdbGuard([&] {
            db_->startEditing();
            return S_OK;
        });
    }
    HRESULT raw_StopEditing(VARIANT_BOOL save) override {
        return gdbGuard([&] {
            db_->stopEditing(save != VARIANT_FALSE);
            return S_OK;
        });
    }
    HRESULT raw_IsBeingEdited(VARIANT_BOOL* b) override {
        if (!b) return E_POINTER;
        *b = db_->editing() ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT raw_StartEditOperation() override {
        return gdbGuard([&] {
            db_->startOperation();
            return S_OK;
        });
    }
    HRESULT raw_StopEditOperation() override {
        return gdbGuard([&] {
            db_->stopOperation(true);
            return S_OK;
        });
    }
    HRESULT raw_AbortEditOperation() override {
        return gdbGuard([&] {
            db_->stopOperation(false);
            return S_OK;
        });
    }

private:
    std::string path_;
    std::string key_;
    std::unique_ptr<Database> db_;
    std::map<std::string, ClassImpl*> open_;  // lower-cased name: live class objects
    struct Known {
        std::shared_ptr<ClassInfo> info;
        std::uint64_t generation;
        std::uint64_t schema;
    };
    std::map<std::string, Known> known_;  // lower-cased name
};

// Open workspaces by canonical path, so one file has one connection in the process.
std::mutex& registryMutex() {
    static std::mutex m;
    return m;
}
std::map<std::string, WorkspaceImpl*>& registry() {
    static std::map<std::string, WorkspaceImpl*> r;
    return r;
}

WorkspaceImpl::~WorkspaceImpl() {
    std::lock_guard<std::mutex> lock(registryMutex());
    auto it = registry().find(key_);
    if (it != registry().end() && it->second == this) registry().erase(it);
}

// ---------------------------------------------------------------------------------------------
class ClassImpl final : public Object<ITable, IFeatureClass, IDataset, IGeoDataset, ISubtypes, ITopologyClass, IGdbInternal> {
public:
    ClassImpl(WorkspaceImpl* ws, std::shared_ptr<ClassInfo> info)
        : ws_(ws), hold_(static_cast<IWorkspace*>(ws)), info_(std::move(info)), generation_(ws->db().generation()) {}
    ~ClassImpl() override { ws_->forget(this); }

    WorkspaceImpl* workspace() { return ws_; }
    Database& db() { return ws_->db(); }
    // The current description; reloaded after a rollback.
    const ClassInfo& info() {
        if (generation_ != db().generation()) reloadOwnInfo();
        return *info_;
    }
    void reloadOwnInfo() {
        auto fresh = loadClass(db(), info_->name);
        if (!fresh) raise(GDB_E_NOT_FOUND, "table " + info_->name + " no longer exists");
        setInfo(std::move(fresh));
    }
    // After a change of this class's own description (its subtypes), edited as a reload would
    // find it. Other classes' descriptions do not depend on it.
    template <class Edit>
    void changedOwnInfo(Edit&& edit) {
        if (generation_ != db().generation()) return;  // stale already: the next use reloads it
        auto copy = std::make_shared<ClassInfo>(*info_);
        edit(*copy);
        setInfo(std::move(copy));
    }
    std::shared_ptr<ClassInfo> infoPtr() {
        info();
        return info_;
    }
    IFieldsPtr fields();

    // Storage operations (throw).
    // Each takes the column layout the values were made for (a row made before a schema change
    // keeps its own), so values and columns never disagree.
    std::int64_t insert(const ClassInfo& ci, const std::vector<Val>& vals);
    void update(const ClassInfo& ci, std::int64_t oid, const std::vector<Val>& vals, const std::vector<bool>& dirty);
    void remove(std::int64_t oid);
    bool fetch(const ClassInfo& ci, std::int64_t oid, std::vector<Val>& vals);
    // The shape blob of a geometry put into this class.
    Val shapeValue(IGeometry* g);

    RowImpl* asRow() override { return nullptr; }
    ClassImpl* asClass() override { return this; }

    // ITable / IFeatureClass (shared)
    HRESULT raw_FindField(BSTR name, LONG* index) override {
        return gdbGuard([&] {
            need(index);
            *index = info().find(utf8(name));
            return S_OK;
        });
    }
    HRESULT get_Fields(IFields** out) override {
        return gdbGuard([&] {
            need(out);
            *out = fields().Detach();
            return S_OK;
        });
    }
    HRESULT get_HasOID(VARIANT_BOOL* b) override {
        if (!b) return E_POINTER;
        *b = VARIANT_TRUE;
        return S_OK;
    }
    HRESULT get_OIDFieldName(BSTR* n) override {
        return gdbGuard([&] { return giveText(info().fields[std::size_t(info().oid)].name, n); });
    }
    HRESULT get_AliasName(BSTR* n) override {
        return gdbGuard([&] { return giveText(info().alias, n); });
    }
    HRESULT raw_AddField(IField* field) override;
    HRESULT raw_CreateRow(IRow** row) override;
    HRESULT raw_GetRow(LONG oid, IRow** row) override;
    HRESULT raw_CreateRowBuffer(IRowBuffer** buffer) override;
    HRESULT raw_RowCount(IQueryFilter* filter, LONG* count) override;
    HRESULT raw_Search(IQueryFilter* filter, VARIANT_BOOL recycling, ICursor** cursor) override;
    HRESULT raw_Update(IQueryFilter* filter, VARIANT_BOOL recycling, ICursor** cursor) override;
    HRESULT raw_Insert(VARIANT_BOOL buffering, ICursor** cursor) override;
    HRESULT raw_DeleteSearchedRows(IQueryFilter* filter) override;
    // IFeatureClass
    HRESULT get_ShapeType(esriGeometryType* t) override {
        return gdbGuard([&] {
            need(t);
            *t = info().shapeType;
            return S_OK;
        });
    }
    HRESULT get_ShapeFieldName(BSTR* n) override {
        return gdbGuard([&] { return giveText(info().fields[std::size_t(info().shape)].name, n); });
    }
    HRESULT get_FeatureType(esriFeatureType* t) override {
        if (!t) return E_POINTER;
        *t = esriFTSimple;
        return S_OK;
    }
    HRESULT get_FeatureDataset(IFeatureDataset** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            if (!info().dataset.empty()) *out = ws_->dataset(info().dataset).Detach();
            return S_OK;
        });
    }
    HRESULT raw_CreateFeature(IFeature** f) override;
    HRESULT raw_GetFeature(LONG oid, IFeature** f) override;
    HRESULT raw_CreateFeatureBuffer(IFeatureBuffer** b) override;
    HRESULT raw_FeatureCount(IQueryFilter* filter, LONG* count) override { return raw_RowCount(filter, count); }
    HRESULT raw_Search(IQueryFilter* filter, VARIANT_BOOL recycling, IFeatureCursor** cursor) override;
    HRESULT raw_Update(IQueryFilter* filter, VARIANT_BOOL recycling, IFeatureCursor** cursor) override;
    HRESULT raw_Insert(VARIANT_BOOL buffering, IFeatureCursor** cursor) override;
    // IDataset
    HRESULT get_Name(BSTR* n) override {
        return gdbGuard([&] { return giveText(info().name, n); });
    }
    HRESULT get_Type(esriDatasetType* t) override {
        return gdbGuard([&] {
            need(t);
            *t = info().feature ? esriDTFeatureClass : esriDTTable;
            return S_OK;
        });
    }
    HRESULT get_Workspace(IWorkspace** w) override { return givePtr<IWorkspace>(ws_, w); }
    // IGeoDataset
    HRESULT get_SpatialReference(ISpatialReference** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            if (!info().hasSr) return S_OK;
            ISpatialReferencePtr sr(CLSID_SpatialReferenceWGS84);
            sr->SetZDomain(info().zmin, info().zmax);
            *out = sr.Detach();
            return S_OK;
        });
    }
    // ISubtypes
    HRESULT get_HasSubtype(VARIANT_BOOL* b) override {
        return gdbGuard([&] {
            need(b);
            *b = info().subtypeField.empty() ? VARIANT_FALSE : VARIANT_TRUE;
            return S_OK;
        });
    }
    HRESULT get_SubtypeFieldName(BSTR* n) override {
        return gdbGuard([&] { return giveText(info().subtypeField, n); });
    }
    HRESULT put_SubtypeFieldName(BSTR n) override;
    HRESULT get_SubtypeFieldIndex(LONG* i) override {
        return gdbGuard([&] {
            need(i);
            *i = info().subtypeField.empty() ? -1 : info().find(info().subtypeField);
            return S_OK;
        });
    }
    HRESULT get_DefaultSubtypeCode(LONG* c) override {
        return gdbGuard([&] {
            need(c);
            *c = info().defaultSubtype;
            return S_OK;
        });
    }
    HRESULT put_DefaultSubtypeCode(LONG c) override;
    HRESULT raw_AddSubtype(LONG code, BSTR name) override;
    HRESULT raw_DeleteSubtype(LONG code) override;
    HRESULT get_Subtypes(IEnumSubtype** out) override;
    HRESULT get_SubtypeName(LONG code, BSTR* name) override {
        return gdbGuard([&] {
            need(name);
            *name = nullptr;
            const ClassInfo& ci = info();
            if (ci.subtypeField.empty() && code == ci.defaultSubtype) return giveText(ci.alias, name);
            for (auto& [c, n] : ci.subtypes)
                if (c == code) return giveText(n, name);
            raise(GDB_E_NOT_FOUND, "class " + ci.name + " has no subtype " + std::to_string(code));
        });
    }

    // ITopologyClass
    std::string topologyName() {
        sqlite3_stmt* st = db().cached("SELECT topology FROM gdb_topology_classes WHERE class_name = ?1");
        bindText(st, 1, info().name);
        std::string t = step(st) ? columnText(st, 0) : std::string();
        sqlite3_reset(st);
        return t;
    }
    HRESULT get_IsInTopology(VARIANT_BOOL* b) override {
        return gdbGuard([&] {
            need(b);
            *b = topologyName().empty() ? VARIANT_FALSE : VARIANT_TRUE;
            return S_OK;
        });
    }
    HRESULT get_Topology(ITopology** out) override;

    // A sorted search for the table sort.
    ICursorPtr searchSorted(IQueryFilter* filter, const std::string& orderBy);

protected:
    bool refuse(REFIID riid) override {
        return !info_->feature && (riid == IFeatureClass::iid || riid == IGeoDataset::iid || riid == ITopologyClass::iid);
    }

private:
    void subtypeItem();  // makes sure gdb_items has a row for this class
    void setInfo(std::shared_ptr<ClassInfo> fresh);

    WorkspaceImpl* ws_;
    IWorkspacePtr hold_;
    std::shared_ptr<ClassInfo> info_;
    std::uint64_t generation_;
    IFieldsPtr fields_;
};

// ---------------------------------------------------------------------------------------------
// A row, a feature, a row buffer or a feature buffer of one class.
class RowImpl final : public Object<IRowBuffer, IRow, IFeatureBuffer, IFeature, IGdbInternal> {
public:
    RowImpl(ClassImpl* cls, std::int64_t oid, std::shared_ptr<ClassInfo> info = nullptr)
        : cls_(cls), hold_(static_cast<ITable*>(cls)), info_(info ? std::move(info) : cls->infoPtr()), oid_(oid) {
        vals_.resize(info_->fields.size());
        dirty_.assign(info_->fields.size(), false);
        if (oid_ >= 0) vals_[std::size_t(info_->oid)] = Val{Val::Int, oid_, 0, {}};
    }

    ClassImpl* owner() { return cls_; }
    const ClassInfo& info() const { return *info_; }
    std::vector<Val>& values() { return vals_; }
    std::int64_t oid() const { return oid_; }
    void setStored(std::int64_t oid) {
        oid_ = oid;
        vals_[std::size_t(info_->oid)] = Val{Val::Int, oid, 0, {}};
        std::fill(dirty_.begin(), dirty_.end(), false);
        shapeOut_ = nullptr;
    }
    void refill(std::int64_t oid) { setStored(oid); }
    // The values to write: a shape handed out by get_Shape may have been changed in place.
    void settleShape() {
        if (shapeOut_ && info_->shape >= 0) {
            vals_[std::size_t(info_->shape)] = cls_->shapeValue(shapeOut_);
            dirty_[std::size_t(info_->shape)] = true;
        }
    }
    const std::vector<bool>& dirty() const { return dirty_; }

    RowImpl* asRow() override { return this; }
    ClassImpl* asClass() override { return nullptr; }

    HRESULT get_Value(LONG index, VARIANT* value) override {
        return gdbGuard([&] {
            need(value);
            VariantInit(value);
            const FieldInfo& f = field(index);
            const Val& v = vals_[std::size_t(index)];
            if (v.kind == Val::Null) {
                value->vt = VT_NULL;
                return S_OK;
            }
            if (f.type == esriFieldTypeGeometry) {
                IGeometryPtr g = geometryFromGpkgBlob(v.s.data(), v.s.size());
                value->vt = VT_UNKNOWN;
                value->punkVal = IUnknownPtr(g).Detach();
                return S_OK;
            }
            _variant_t out;
            switch (v.kind) {
                case Val::Int:
                    out = v.i >= INT32_MIN && v.i <= INT32_MAX ? _variant_t(long(v.i)) : _variant_t(static_cast<long long>(v.i));
                    break;
                case Val::Real: out = _variant_t(v.d); break;
                case Val::Text: out = _variant_t(fromUtf8(v.s).c_str()); break;
                default: value->vt = VT_NULL; return S_OK;
            }
            // The column's own type; a stored value that does not convert (written by another
            // program) comes back as it is stored.
            VARTYPE want = VT_EMPTY;
            switch (f.type) {
                case esriFieldTypeSmallInteger: want = VT_I2; break;
                case esriFieldTypeInteger:
                case esriFieldTypeOID: want = out.vt == VT_I8 ? VARTYPE(VT_I8) : VARTYPE(VT_I4); break;
                case esriFieldTypeSingle: want = VT_R4; break;
                case esriFieldTypeDouble: want = VT_R8; break;
                case esriFieldTypeString:
                case esriFieldTypeDate: want = VT_BSTR; break;
                default: break;
            }
            if (want != VT_EMPTY && want != out.vt) {
                _variant_t converted;
                if (SUCCEEDED(VariantChangeType(&converted, &out, 0, want))) out = converted;
            }
            *value = out.Detach();
            return S_OK;
        });
    }
    HRESULT put_Value(LONG index, VARIANT value) override {
        return gdbGuard([&] {
            const FieldInfo& f = field(index);
            if (f.type == esriFieldTypeGeometry) {
                if (value.vt == VT_EMPTY || value.vt == VT_NULL) {
                    vals_[std::size_t(index)] = Val{};
                } else if (value.vt == VT_UNKNOWN || value.vt == VT_DISPATCH) {
                    IGeometryPtr g(value.punkVal);
                    if (!g) misfit(DISP_E_TYPEMISMATCH, f, value, "not a geometry");
                    vals_[std::size_t(index)] = cls_->shapeValue(g);
                } else {
                    misfit(DISP_E_TYPEMISMATCH, f, value, "not a geometry");
                }
                shapeOut_ = nullptr;
            } else {
                vals_[std::size_t(index)] = convertIn(f, value);
            }
            dirty_[std::size_t(index)] = true;
            return S_OK;
        });
    }
    HRESULT get_Fields(IFields** out) override {
        return gdbGuard([&] {
            need(out);
            *out = cls_->fields().Detach();
            return S_OK;
        });
    }
    HRESULT get_HasOID(VARIANT_BOOL* b) override {
        if (!b) return E_POINTER;
        *b = VARIANT_TRUE;
        return S_OK;
    }
    HRESULT get_OID(LONG* oid) override {
        if (!oid) return E_POINTER;
        *oid = LONG(oid_);
        return S_OK;
    }
    HRESULT get_Table(ITable** t) override { return givePtr<ITable>(cls_, t); }
    HRESULT get_Class(IFeatureClass** c) override { return givePtr<IFeatureClass>(cls_, c); }
    HRESULT raw_Store() override {
        return gdbGuard([&] {
            if (oid_ < 0) raise(GDB_E_NO_ROW, "a row buffer is stored through an insert cursor");
            settleShape();
            cls_->update(*info_, oid_, vals_, dirty_);
            std::fill(dirty_.begin(), dirty_.end(), false);
            return S_OK;
        });
    }
    HRESULT raw_Delete() override {
        return gdbGuard([&] {
            if (oid_ < 0) raise(GDB_E_NO_ROW, "a row buffer is not stored");
            cls_->remove(oid_);
            return S_OK;
        });
    }
    HRESULT get_Shape(IGeometry** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            if (info_->shape < 0) raise(E_NOINTERFACE, "a table has no shape");
            if (!shapeOut_) {
                const Val& v = vals_[std::size_t(info_->shape)];
                if (v.kind == Val::Null) return S_OK;
                shapeOut_ = geometryFromGpkgBlob(v.s.data(), v.s.size());
            }
            *out = IGeometryPtr(shapeOut_).Detach();
            return S_OK;
        });
    }
    HRESULT get_ShapeCopy(IGeometry** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            if (info_->shape < 0) raise(E_NOINTERFACE, "a table has no shape");
            settleShape();
            const Val& v = vals_[std::size_t(info_->shape)];
            if (v.kind != Val::Null) *out = geometryFromGpkgBlob(v.s.data(), v.s.size()).Detach();
            return S_OK;
        });
    }
    HRESULT putref_Shape(IGeometry* g) override {
        return gdbGuard([&] {
            if (info_->shape < 0) raise(E_NOINTERFACE, "a table has no shape");
            vals_[std::size_t(info_->shape)] = g ? cls_->shapeValue(g) : Val{};
            dirty_[std::size_t(info_->shape)] = true;
            shapeOut_ = nullptr;
            return S_OK;
        });
    }

protected:
    bool refuse(REFIID riid) override {
        if (!info_->feature && (riid == IFeatureBuffer::iid || riid == IFeature::iid)) return true;
        if (oid_ < 0 && (riid == IRow::iid || riid == IFeature::iid)) return true;
        return false;
    }

private:
    const FieldInfo& field(LONG index) const {
        if (index < 0 || std::size_t(index) >= info_->fields.size())
            raise(E_INVALIDARG, "field index " + std::to_string(index) + " out of range for " + info_->name);
        return info_->fields[std::size_t(index)];
    }

    ClassImpl* cls_;
    ITablePtr hold_;
    std::shared_ptr<ClassInfo> info_;
    std::int64_t oid_;
    std::vector<Val> vals_;
    std::vector<bool> dirty_;
    IGeometryPtr shapeOut_;
};

// ---------------------------------------------------------------------------------------------
// The rows a filter selects.
struct Selection {
    std::string sql;                  // SELECT <fields> FROM ... WHERE ...
    bool spatial = false;
    bool none = false;                // an empty filter geometry with an extent prefilter
    GeoExtent extent;
    std::unique_ptr<SpatialPredicate> predicate;

    bool accepts(sqlite3_stmt* st, int shapeColumn) const {
        if (!predicate) return true;
        if (sqlite3_column_type(st, shapeColumn) != SQLITE_BLOB) return false;
        return predicate->matchesBlob(sqlite3_column_blob(st, shapeColumn), std::size_t(sqlite3_column_bytes(st, shapeColumn)));
    }
    void bind(sqlite3_stmt* st) const {
        if (!spatial) return;
        sqlite3_bind_double(st, 1, extent.xmax);
        sqlite3_bind_double(st, 2, extent.xmin);
        sqlite3_bind_double(st, 3, extent.ymax);
        sqlite3_bind_double(st, 4, extent.ymin);
    }
};

Selection select(Database& db, const ClassInfo& ci, IQueryFilter* filter, const std::string& columns, const std::string& orderBy) {
    Selection s;
    std::string where;
    if (filter) {
        BSTR w = nullptr;
        check(filter->get_WhereClause(&w));
        where = trimBlanks(utf8(w));
        SysFreeString(w);
        ISpatialFilterPtr sf(filter);
        if (sf) {
            IGeometryPtr g;
            check(sf->get_Geometry(&g));
            if (g) {
                if (!ci.feature) raise(E_INVALIDARG, "a spatial filter needs a feature class, not table " + ci.name);
                BSTR gf = nullptr;
                check(sf->get_GeometryField(&gf));
                std::string field = utf8(gf);
                SysFreeString(gf);
                if (!field.empty() && !sameNoCase(field, ci.fields[std::size_t(ci.shape)].name))
                    raise(E_INVALIDARG, "spatial filter on " + field + ", but the shape of " + ci.name + " is " +
                                            ci.fields[std::size_t(ci.shape)].name);
                esriSpatialRelEnum rel = esriSpatialRelIntersects;
                check(sf->get_SpatialRel(&rel));
                BSTR d = nullptr;
                check(sf->get_SpatialRelDescription(&d));
                std::string desc = utf8(d);
                SysFreeString(d);
                s.predicate = std::make_unique<SpatialPredicate>(g, rel, desc);
                if (s.predicate->extentPrefilter()) {
                    s.extent = s.predicate->extent();
                    if (s.extent.empty()) {
                        s.none = true;
                    } else if (!ci.rtree.empty()) {
                        db.flushRtree(ci.rtree);
                        s.spatial = db.rtreeExists(ci.rtree);
                    }
                }
            }
        }
    }
    s.sql = "SELECT " + columns + " FROM " + sqlName(ci.name);
    std::string cond;
    if (s.spatial)
        cond = sqlName(ci.fields[std::size_t(ci.oid)].name) + " IN (SELECT id FROM " + sqlName(ci.rtree) +
               " WHERE minx <= ?1 AND maxx >= ?2 AND miny <= ?3 AND maxy >= ?4)";
    if (!where.empty()) cond += (cond.empty() ? "(" : " AND (") + where + ")";
    if (!cond.empty()) s.sql += " WHERE " + cond;
    if (!orderBy.empty()) s.sql += " ORDER BY " + orderBy;
    return s;
}

// ---------------------------------------------------------------------------------------------
class CursorImpl final : public Object<ICursor, IFeatureCursor> {
public:
    enum Kind { Search, Update, Insert };

    CursorImpl(ClassImpl* cls, Kind kind, bool recycling)
        : cls_(cls), hold_(static_cast<ITable*>(cls)), info_(cls->infoPtr()), kind_(kind), recycling_(recycling) {}

    void open(IQueryFilter* filter, const std::string& orderBy) {
        if (kind_ == Insert) return;
        if (kind_ == Search) {
            sel_ = select(cls_->db(), *info_, filter, info_->selectList, orderBy);
            if (sel_.none) return;
            stmt_ = prepare(cls_->db().raw(), sel_.sql);
            sel_.bind(stmt_.get());
            if (sel_.spatial) {
                reading_ = info_->rtree;
                cls_->db().addReader(reading_);
            }
        } else {
            // The rows are chosen first, so that updates never bring a row back.
            std::string oidName = sqlName(info_->fields[std::size_t(info_->oid)].name);
            std::string cols = oidName + (info_->shape >= 0 ? ", " + sqlName(info_->fields[std::size_t(info_->shape)].name) : "");
            Selection s = select(cls_->db(), *info_, filter, cols, orderBy.empty() ? oidName : orderBy);
            if (s.none) return;
            Stmt st = prepare(cls_->db().raw(), s.sql);
            s.bind(st.get());
            while (step(st.get()))
                if (s.accepts(st.get(), 1)) ids_.push_back(sqlite3_column_int64(st.get(), 0));
        }
    }

    ~CursorImpl() override { finish(); }
    void finish() {
        stmt_.reset();
        if (!reading_.empty()) cls_->db().dropReader(reading_);
        reading_.clear();
    }

    HRESULT QueryInterface(REFIID riid, void** out) override {
        if (!info_->feature && riid == IFeatureCursor::iid) {
            if (out) *out = nullptr;
            return E_NOINTERFACE;
        }
        return Object::QueryInterface(riid, out);
    }

    HRESULT get_Fields(IFields** out) override {
        return gdbGuard([&] {
            need(out);
            *out = cls_->fields().Detach();
            return S_OK;
        });
    }
    HRESULT raw_FindField(BSTR name, LONG* index) override {
        return gdbGuard([&] {
            need(index);
            *index = info_->find(utf8(name));
            return S_OK;
        });
    }
    HRESULT raw_NextRow(IRow** row) override {
        return gdbGuard([&] {
            need(row);
            *row = nullptr;
            RowImpl* r = next();
            if (!r) return S_FALSE;
            *row = IRowPtr(static_cast<IRow*>(r)).Detach();
            return S_OK;
        });
    }
    HRESULT raw_NextFeature(IFeature** f) override {
        return gdbGuard([&] {
            need(f);
            *f = nullptr;
            RowImpl* r = next();
            if (!r) return S_FALSE;
            *f = IFeaturePtr(static_cast<IFeature*>(r)).Detach();
            return S_OK;
        });
    }
    HRESULT raw_UpdateRow(IRow* row) override { return updateRow(row); }
    HRESULT raw_UpdateFeature(IFeature* f) override { return updateRow(f); }
    HRESULT raw_DeleteRow() override { return deleteRow(); }
    HRESULT raw_DeleteFeature() override { return deleteRow(); }
    HRESULT raw_InsertRow(IRowBuffer* buffer, VARIANT* oid) override { return insertRow(buffer, oid); }
    HRESULT raw_InsertFeature(IFeatureBuffer* buffer, VARIANT* oid) override { return insertRow(buffer, oid); }
    HRESULT raw_Flush() override {
        return gdbGuard([&] {
            if (kind_ == Insert) cls_->db().flushBatch();
            return S_OK;
        });
    }

private:
    RowImpl* rowObject() {
        if (recycling_ && row_) return static_cast<RowImpl*>(row_.GetInterfacePtr());
        auto* r = new RowImpl(cls_, 0, info_);
        row_ = IRowPtr(static_cast<IRow*>(r));
        return r;
    }
    RowImpl* next() {
        if (kind_ == Insert) raise(E_FAIL, "an insert cursor gives no rows");
        current_ = -1;
        if (kind_ == Search) {
            if (!stmt_) return nullptr;
            while (step(stmt_.get())) {
                if (!sel_.accepts(stmt_.get(), info_->shape)) continue;
                RowImpl* r = rowObject();
                auto& vals = r->values();
                for (std::size_t i = 0; i < info_->fields.size(); ++i) vals[i] = readColumn(stmt_.get(), int(i));
                r->refill(vals[std::size_t(info_->oid)].i);
                current_ = r->oid();
                return r;
            }
            finish();
            return nullptr;
        }
        while (pos_ < ids_.size()) {
            std::int64_t id = ids_[pos_++];
            RowImpl* r = rowObject();
            if (!cls_->fetch(*info_, id, r->values())) continue;  // deleted meanwhile
            r->refill(id);
            current_ = id;
            return r;
        }
        return nullptr;
    }
    HRESULT updateRow(IUnknown* row) {
        return gdbGuard([&] {
            if (kind_ != Update) raise(E_FAIL, "rows are updated through an update cursor");
            IGdbInternalPtr in(row);
            RowImpl* r = in ? in->asRow() : nullptr;
            if (!r || r->owner() != cls_ || r->oid() < 0) raise(E_INVALIDARG, "UpdateRow needs a row of this cursor's class");
            r->settleShape();
            cls_->update(r->info(), r->oid(), r->values(), r->dirty());
            r->refill(r->oid());
            return S_OK;
        });
    }
    HRESULT deleteRow() {
        return gdbGuard([&] {
            if (kind_ != Update) raise(E_FAIL, "rows are deleted through an update cursor");
            if (current_ < 0) raise(GDB_E_NO_ROW, "the cursor has no current row");
            cls_->remove(current_);
            current_ = -1;
            return S_OK;
        });
    }
    HRESULT insertRow(IUnknown* buffer, VARIANT* oid) {
        return gdbGuard([&] {
            if (kind_ != Insert) raise(E_FAIL, "rows are inserted through an insert cursor");
            IGdbInternalPtr in(buffer);
            RowImpl* r = in ? in->asRow() : nullptr;
            if (!r || r->owner() != cls_) raise(E_INVALIDARG, "InsertRow needs a buffer of this cursor's class");
            r->settleShape();
            std::int64_t id = cls_->insert(r->info(), r->values());
            if (oid) {
                VariantInit(oid);
                oid->vt = VT_I4;
                oid->lVal = LONG(id);
            }
            return S_OK;
        });
    }

    ClassImpl* cls_;
    ITablePtr hold_;
    std::shared_ptr<ClassInfo> info_;
    Kind kind_;
    bool recycling_;
    Selection sel_;
    Stmt stmt_;
    std::string reading_;  // the R-tree this search reads, while it does
    std::vector<std::int64_t> ids_;
    std::size_t pos_ = 0;
    std::int64_t current_ = -1;
    IRowPtr row_;
};

// ---------------------------------------------------------------------------------------------
class SubtypeEnum final : public Object<IEnumSubtype> {
public:
    explicit SubtypeEnum(std::vector<std::pair<LONG, std::string>> items) : items_(std::move(items)) {}
    HRESULT raw_Next(LONG* code, BSTR* name) override {
        return gdbGuard([&] {
            need(code);
            need(name);
            *name = nullptr;
            *code = 0;
            if (pos_ >= items_.size()) return S_FALSE;
            *code = items_[pos_].first;
            giveText(items_[pos_].second, name);
            ++pos_;
            return S_OK;
        });
    }
    HRESULT raw_Reset() override {
        pos_ = 0;
        return S_OK;
    }

private:
    std::vector<std::pair<LONG, std::string>> items_;
    std::size_t pos_ = 0;
};

// ---------------------------------------------------------------------------------------------
class DatasetImpl final : public Object<IFeatureDataset, IGeoDataset, IVersionedObject, IFeatureClassContainer, ITopologyContainer> {
public:
    DatasetImpl(WorkspaceImpl* ws, std::string name) : ws_(ws), hold_(static_cast<IWorkspace*>(ws)), name_(std::move(name)) {}

    HRESULT get_Name(BSTR* n) override { return giveText(name_, n); }
    HRESULT get_Type(esriDatasetType* t) override {
        if (!t) return E_POINTER;
        *t = esriDTFeatureDataset;
        return S_OK;
    }
    HRESULT get_Workspace(IWorkspace** w) override { return givePtr<IWorkspace>(ws_, w); }
    HRESULT raw_CreateFeatureClass(BSTR name, IFields* fields, const GUID*, const GUID*, esriFeatureType,
                                   BSTR shapeField, BSTR, IFeatureClass** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            *out = IFeatureClassPtr(ws_->create(utf8(name), fields, true, utf8(shapeField), name_)).Detach();
            return S_OK;
        });
    }
    HRESULT get_SpatialReference(ISpatialReference** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            sqlite3_stmt* st = ws_->db().cached("SELECT srs_id, z_min, z_max FROM gdb_items WHERE name = ?1 AND kind = 'FeatureDataset'");
            bindText(st, 1, name_);
            if (!step(st)) raise(GDB_E_NOT_FOUND, "feature dataset " + name_ + " no longer exists");
            bool has = sqlite3_column_int(st, 0) == kWgs84;
            double zmin = sqlite3_column_double(st, 1), zmax = sqlite3_column_double(st, 2);
            sqlite3_reset(st);
            if (!has) return S_OK;
            ISpatialReferencePtr sr(CLSID_SpatialReferenceWGS84);
            sr->SetZDomain(zmin, zmax);
            *out = sr.Detach();
            return S_OK;
        });
    }
    HRESULT get_IsRegisteredAsVersioned(VARIANT_BOOL* b) override {
        return gdbGuard([&] {
            need(b);
            sqlite3_stmt* st = ws_->db().cached("SELECT versioned FROM gdb_items WHERE name = ?1 AND kind = 'FeatureDataset'");
            bindText(st, 1, name_);
            *b = step(st) && sqlite3_column_int(st, 0) ? VARIANT_TRUE : VARIANT_FALSE;
            sqlite3_reset(st);
            return S_OK;
        });
    }
    HRESULT raw_RegisterAsVersioned(VARIANT_BOOL b) override {
        return gdbGuard([&] {
            ws_->db().beginWrite();
            ws_->db().makeSideTables();
            sqlite3_stmt* st = ws_->db().cached("UPDATE gdb_items SET versioned = ?2 WHERE name = ?1 AND kind = 'FeatureDataset'");
            bindText(st, 1, name_);
            sqlite3_bind_int(st, 2, b ? 1 : 0);
            step(st);
            return S_OK;
        });
    }
    std::vector<std::string> classNames() {
        std::vector<std::string> names;
        sqlite3_stmt* st = ws_->db().cached("SELECT name FROM gdb_items WHERE kind = 'FeatureClass' AND dataset = ?1 ORDER BY rowid");
        bindText(st, 1, name_);
        while (step(st)) names.push_back(columnText(st, 0));
        return names;
    }
    HRESULT get_ClassCount(LONG* n) override {
        return gdbGuard([&] {
            need(n);
            *n = LONG(classNames().size());
            return S_OK;
        });
    }
    HRESULT get_Class(LONG i, IFeatureClass** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            auto names = classNames();
            if (i < 0 || std::size_t(i) >= names.size()) raise(E_INVALIDARG, "class index out of range");
            *out = ws_->featureClass(names[std::size_t(i)]).Detach();
            return S_OK;
        });
    }
    HRESULT get_ClassByName(BSTR name, IFeatureClass** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            std::string n = utf8(name);
            for (auto& c : classNames())
                if (sameNoCase(c, n)) {
                    *out = ws_->featureClass(c).Detach();
                    return S_OK;
                }
            raise(GDB_E_NOT_FOUND, "feature dataset " + name_ + " has no class " + n);
        });
    }
    HRESULT get_Classes(IEnumFeatureClass** out) override;
    // ITopologyContainer
    std::vector<std::string> topologyNames() {
        std::vector<std::string> names;
        sqlite3_stmt* st = ws_->db().cached("SELECT name FROM gdb_topologies WHERE dataset = ?1 ORDER BY rowid");
        bindText(st, 1, name_);
        while (step(st)) names.push_back(columnText(st, 0));
        return names;
    }
    HRESULT get_TopologyCount(LONG* n) override {
        return gdbGuard([&] {
            need(n);
            *n = LONG(topologyNames().size());
            return S_OK;
        });
    }
    HRESULT get_Topology(LONG i, ITopology** out) override;
    HRESULT get_TopologyByName(BSTR name, ITopology** out) override;
    HRESULT raw_CreateTopology(BSTR name, double tolerance, LONG, BSTR, ITopology** out) override;

private:
    WorkspaceImpl* ws_;
    IWorkspacePtr hold_;
    std::string name_;
};

class TopologyImpl final : public Object<ITopology> {
public:
    TopologyImpl(WorkspaceImpl* ws, std::string name) : ws_(ws), hold_(static_cast<IWorkspace*>(ws)), name_(std::move(name)) {}
    HRESULT get_Name(BSTR* n) override { return giveText(name_, n); }
    HRESULT get_ClusterTolerance(double* t) override {
        return gdbGuard([&] {
            need(t);
            *t = row().tolerance;
            return S_OK;
        });
    }
    HRESULT get_FeatureDataset(IFeatureDataset** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            *out = ws_->dataset(row().dataset).Detach();
            return S_OK;
        });
    }
    HRESULT raw_AddClass(IFeatureClass* fc, double, LONG, LONG, VARIANT_BOOL) override;
    HRESULT get_Classes(IEnumFeatureClass** out) override;
    HRESULT get_Cache(ITopologyGraph** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            if (!cache_) {
                IFeatureDatasetPtr dataset = ws_->dataset(row().dataset);
                const _bstr_t name(fromUtf8(name_).c_str());
                ITopologyGraph* made = nullptr;
                const HRESULT hr = createTopologyGraph(dataset, name.GetBSTR(), &made);
                if (FAILED(hr)) raise(hr, "cannot make the cache of topology " + name_);
                cache_.Attach(made);
            }
            return givePtr(cache_.GetInterfacePtr(), out);
        });
    }

private:
    struct Row {
        std::string dataset;
        double tolerance;
    };
    Row row() {
        sqlite3_stmt* st = ws_->db().cached("SELECT dataset, tolerance FROM gdb_topologies WHERE name = ?1");
        bindText(st, 1, name_);
        if (!step(st)) raise(GDB_E_NOT_FOUND, "topology " + name_ + " no longer exists");
        Row r{columnText(st, 0), sqlite3_column_double(st, 1)};
        sqlite3_reset(st);
        return r;
    }

    WorkspaceImpl* ws_;
    IWorkspacePtr hold_;
    std::string name_;
    ITopologyGraphPtr cache_;
};

class ClassEnum final : public Object<IEnumFeatureClass> {
public:
    explicit ClassEnum(std::vector<IFeatureClassPtr> items) : items_(std::move(items)) {}
    HRESULT raw_Next(IFeatureClass** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (pos_ >= items_.size()) return S_FALSE;
        return givePtr(items_[pos_++].GetInterfacePtr(), out);
    }
    HRESULT raw_Reset() override {
        pos_ = 0;
        return S_OK;
    }

private:
    std::vector<IFeatureClassPtr> items_;
    std::size_t pos_ = 0;
};

HRESULT DatasetImpl::get_Classes(IEnumFeatureClass** out) {
    return gdbGuard([&] {
        need(out);
        *out = nullptr;
        std::vector<IFeatureClassPtr> items;
        for (auto& n : classNames()) items.push_back(ws_->featureClass(n));
        IEnumFeatureClassPtr e(static_cast<IEnumFeatureClass*>(new ClassEnum(std::move(items))));
        *out = e.Detach();
        return S_OK;
    });
}

// =============================================================================================
// Workspace bodies
// =============================================================================================

ITablePtr WorkspaceImpl::table(const std::string& name) {
    const std::string key = lower(name);
    auto it = open_.find(key);
    if (it != open_.end()) {
        it->second->info();  // still there?
        return ITablePtr(static_cast<ITable*>(it->second));
    }
    auto info = recalled(key);
    if (!info) {
        info = loadClass(*db_, name);
        if (!info) raise(GDB_E_NOT_FOUND, "no table or feature class named " + name);
        remember(info);
    }
    auto* c = new ClassImpl(this, info);
    ITablePtr t(static_cast<ITable*>(c));
    open_[lower(info->name)] = c;
    return t;
}

IFeatureClassPtr WorkspaceImpl::featureClass(const std::string& name) {
    ITablePtr t;
    try {
        t = table(name);
    } catch (const _com_error& e) {
        if (e.Error() == GDB_E_NOT_FOUND) raise(GDB_E_NOT_FOUND, "no feature class named " + name);
        throw;
    }
    IFeatureClassPtr fc(t);
    if (!fc) raise(GDB_E_NOT_FOUND, name + " is a table, not a feature class");
    return fc;
}

IFeatureDatasetPtr WorkspaceImpl::dataset(const std::string& name) {
    sqlite3_stmt* st = db_->cached("SELECT name FROM gdb_items WHERE name = ?1 AND kind = 'FeatureDataset'");
    bindText(st, 1, name);
    if (!step(st)) raise(GDB_E_NOT_FOUND, "no feature dataset named " + name);
    std::string stored = columnText(st, 0);
    sqlite3_reset(st);
    return IFeatureDatasetPtr(static_cast<IFeatureDataset*>(new DatasetImpl(this, stored)));
}

void WorkspaceImpl::forget(ClassImpl* c) {
    for (auto it = open_.begin(); it != open_.end(); ++it)
        if (it->second == c) {
            open_.erase(it);
            return;
        }
}

void WorkspaceImpl::checkNewName(const std::string& name) {
    if (name.empty()) raise(E_INVALIDARG, "a name must not be empty");
    if (name.size() > 160) raise(E_INVALIDARG, "name " + name + " is longer than 160 characters");
    for (const char* reserved : {"gpkg_", "rtree_", "gdb_", "sqlite_"})
        if (lower(name).rfind(reserved, 0) == 0) raise(E_INVALIDARG, "names beginning with " + std::string(reserved) + " are reserved");
    sqlite3_stmt* st = db_->cached("SELECT 1 FROM gdb_items WHERE name = ?1 UNION ALL SELECT 1 FROM gpkg_contents WHERE table_name = ?1 COLLATE NOCASE");
    bindText(st, 1, name);
    bool taken = step(st);
    sqlite3_reset(st);
    if (taken || sqlExists(*db_, name)) raise(GDB_E_NAME_EXISTS, "a table, feature class or dataset named " + name + " exists");
}

HRESULT WorkspaceImpl::raw_CreateFeatureDataset(BSTR name, ISpatialReference* sr, IFeatureDataset** out) {
    return gdbGuard([&] {
        need(out);
        *out = nullptr;
        std::string n = utf8(name);
        checkNewName(n);
        double zmin = -100000.0, zmax = 100000.0;
        if (sr) {
            LONG code = 0;
            check(sr->get_FactoryCode(&code));
            if (code != kWgs84) raise(E_INVALIDARG, "only WGS 84 (EPSG:4326) is stored");
            check(sr->raw_GetZDomain(&zmin, &zmax));
        }
        db_->beginWrite();
        db_->makeSideTables();
        sqlite3_stmt* st = db_->cached("INSERT INTO gdb_items (name, kind, srs_id, z_min, z_max) VALUES (?1, 'FeatureDataset', ?2, ?3, ?4)");
        bindText(st, 1, n);
        sqlite3_bind_int(st, 2, sr ? kWgs84 : kUndefinedGeographic);
        sqlite3_bind_double(st, 3, zmin);
        sqlite3_bind_double(st, 4, zmax);
        step(st);
        *out = dataset(n).Detach();
        return S_OK;
    });
}

IUnknownPtr WorkspaceImpl::create(const std::string& name, IFields* fields, bool feature, const std::string& shapeFieldArg,
                                  const std::string& dataset) {
    if (!fields) raise(E_POINTER, "no field list");
    checkNewName(name);
    gdb::ClassSpec spec = gdb::readClassSpec(name, fields, feature, shapeFieldArg);
    std::vector<FieldInfo>& list = spec.fields;
    const int shape = spec.shape;
    const esriGeometryType shapeType = spec.shapeType;
    const bool hasZ = spec.hasZ;
    const ISpatialReferencePtr sr = spec.sr;
    const double grid = spec.grid;
    // Inside a dataset the class takes the dataset's spatial reference.
    std::int32_t srsId = kUndefinedGeographic;
    double zmin = -100000.0, zmax = 100000.0;
    std::string datasetName;
    if (!dataset.empty()) {
        sqlite3_stmt* st = db_->cached("SELECT name, srs_id, z_min, z_max FROM gdb_items WHERE name = ?1 AND kind = 'FeatureDataset'");
        bindText(st, 1, dataset);
        if (!step(st)) raise(GDB_E_NOT_FOUND, "no feature dataset named " + dataset);
        datasetName = columnText(st, 0);
        srsId = sqlite3_column_int(st, 1);
        zmin = sqlite3_column_double(st, 2);
        zmax = sqlite3_column_double(st, 3);
        sqlite3_reset(st);
    } else if (sr) {
        LONG code = 0;
        check(sr->get_FactoryCode(&code));
        if (code != kWgs84) raise(E_INVALIDARG, "only WGS 84 (EPSG:4326) is stored");
        check(sr->raw_GetZDomain(&zmin, &zmax));
        srsId = kWgs84;
    }
    // Build the table.
    db_->beginWrite();
    std::string sql = "CREATE TABLE " + sqlName(name) + " (";
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (i) sql += ", ";
        sql += sqlName(list[i].name) + " " + declaredType(list[i], shapeType);
    }
    sql += ")";
    db_->exec(sql);
    {
        sqlite3_stmt* st = db_->cached(
            "INSERT INTO gpkg_contents (table_name, data_type, identifier, description, srs_id) VALUES (?1, ?2, ?1, '', ?3)");
        bindText(st, 1, name);
        bindText(st, 2, feature ? "features" : "attributes");
        if (feature) sqlite3_bind_int(st, 3, srsId);
        step(st);
    }
    if (feature) {
        const std::string& col = list[std::size_t(shape)].name;
        sqlite3_stmt* st = db_->cached(
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
        db_->makeSideTables();
        sqlite3_stmt* st = db_->cached(
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
    remember(createdInfo(name, feature, list, shape, shapeType, hasZ, srsId, zmin, zmax, datasetName));
    ITablePtr t = table(name);
    return IUnknownPtr(t);
}

void ClassImpl::setInfo(std::shared_ptr<ClassInfo> fresh) {
    info_ = std::move(fresh);
    fields_ = nullptr;
    generation_ = db().generation();
    ws_->remember(info_);
}

// =============================================================================================
// Class bodies
// =============================================================================================

IFieldsPtr ClassImpl::fields() {
    const ClassInfo& ci = info();
    if (fields_) return fields_;
    IFieldsEditPtr list(CLSID_Fields);
    for (const FieldInfo& f : ci.fields) {
        IFieldEditPtr fe(CLSID_Field);
        fe->PutName(fromUtf8(f.name).c_str());
        fe->PutType(f.type);
        fe->PutLength(f.length);
        fe->PutIsNullable(f.nullable ? VARIANT_TRUE : VARIANT_FALSE);
        if (f.type == esriFieldTypeGeometry) {
            IGeometryDefEditPtr def(CLSID_GeometryDef);
            def->PutGeometryType(ci.shapeType);
            def->PutHasZ(ci.hasZ ? VARIANT_TRUE : VARIANT_FALSE);
            if (ci.hasSr) {
                ISpatialReferencePtr sr(CLSID_SpatialReferenceWGS84);
                sr->SetZDomain(ci.zmin, ci.zmax);
                def->PutRefSpatialReference(sr);
            }
            fe->PutRefGeometryDef(IGeometryDefPtr(def));
        }
        list->AddField(IFieldPtr(fe));
    }
    fields_ = list;
    return fields_;
}

Val ClassImpl::shapeValue(IGeometry* g) {
    const ClassInfo& ci = info();
    if (!g) return Val{};
    esriGeometryType t = esriGeometryNull;
    check(g->get_GeometryType(&t));
    bool fits = t == ci.shapeType;
    if (ci.shapeType == esriGeometryPolyline) fits = fits || t == esriGeometryPath || t == esriGeometryLine;
    if (ci.shapeType == esriGeometryPolygon) fits = fits || t == esriGeometryRing || t == esriGeometryEnvelope;
    if (!fits)
        raise(GDB_E_WRONG_GEOMETRY, "feature class " + ci.name + " holds geometries of type " + std::to_string(ci.shapeType) +
                                        ", not " + std::to_string(t));
    IZAwarePtr za(g);
    VARIANT_BOOL aware = VARIANT_FALSE;
    if (za) check(za->get_ZAware(&aware));
    IGeometryPtr toWrite(g);
    if (ci.hasZ && !aware) raise(GDB_E_WRONG_GEOMETRY, "feature class " + ci.name + " has Z: the geometry must be Z-aware");
    if (!ci.hasZ && aware) {
        // The class stores X and Y only; write a copy without Z.
        IClonePtr c(g);
        if (!c) raise(GDB_E_WRONG_GEOMETRY, "geometry cannot be copied");
        IClonePtr copy;
        check(c->raw_Clone(&copy));
        IZAwarePtr cz(copy);
        check(cz->put_ZAware(VARIANT_FALSE));
        toWrite = copy;
    }
    std::vector<std::uint8_t> blob = geometryToGpkgBlob(toWrite, ci.srsId);
    Val v;
    v.kind = Val::Blob;
    v.s.assign(reinterpret_cast<const char*>(blob.data()), blob.size());
    return v;
}

std::int64_t ClassImpl::insert(const ClassInfo& ci, const std::vector<Val>& vals) {
    db().beginWrite();
    if (!ci.rtree.empty())
        db().beginDeferral({ci.rtree, ci.name, ci.fields[std::size_t(ci.shape)].name, ci.fields[std::size_t(ci.oid)].name});
    // Every parameter is bound anew for each row: no need to clear them in between.
    if (!ci.insertStmt) ci.insertStmt = db().cached(ci.insertSql);
    sqlite3_stmt* st = ci.insertStmt;
    sqlite3_reset(st);
    for (std::size_t i = 0; i < ci.fields.size(); ++i)
        if (int(i) != ci.oid) bindVal(st, int(i + 1), vals[i]);
    step(st);
    sqlite3_reset(st);
    const std::int64_t id = sqlite3_last_insert_rowid(db().raw());
    if (!ci.rtree.empty()) {
        const Val& shape = vals[std::size_t(ci.shape)];
        GeoExtent e;
        if (shape.kind == Val::Blob) e = gpkgBlobExtent(shape.s.data(), shape.s.size());
        db().deferRtree(ci.rtree, id, e);
    }
    return id;
}

void ClassImpl::update(const ClassInfo& ci, std::int64_t oid, const std::vector<Val>& vals, const std::vector<bool>& dirty) {
    std::string sql;
    std::vector<std::size_t> cols;
    for (std::size_t i = 0; i < ci.fields.size(); ++i)
        if (dirty[i] && int(i) != ci.oid) {
            sql += (cols.empty() ? "" : ", ") + sqlName(ci.fields[i].name) + " = ?" + std::to_string(cols.size() + 1);
            cols.push_back(i);
        }
    if (cols.empty()) return;
    db().beginWrite();
    if (!ci.rtree.empty()) db().flushRtree(ci.rtree);
    sqlite3_stmt* st = db().cached("UPDATE " + sqlName(ci.name) + " SET " + sql + " WHERE " +
                                   sqlName(ci.fields[std::size_t(ci.oid)].name) + " = ?" + std::to_string(cols.size() + 1));
    for (std::size_t k = 0; k < cols.size(); ++k) bindVal(st, int(k + 1), vals[cols[k]]);
    sqlite3_bind_int64(st, int(cols.size() + 1), oid);
    step(st);
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    if (sqlite3_changes(db().raw()) == 0) raise(GDB_E_NO_ROW, "row " + std::to_string(oid) + " of " + ci.name + " no longer exists");
}

void ClassImpl::remove(std::int64_t oid) {
    const ClassInfo& ci = info();
    db().beginWrite();
    if (!ci.rtree.empty()) db().flushRtree(ci.rtree);
    sqlite3_stmt* st = db().cached("DELETE FROM " + sqlName(ci.name) + " WHERE " + sqlName(ci.fields[std::size_t(ci.oid)].name) + " = ?1");
    sqlite3_bind_int64(st, 1, oid);
    step(st);
    sqlite3_reset(st);
}

bool ClassImpl::fetch(const ClassInfo& ci, std::int64_t oid, std::vector<Val>& vals) {
    sqlite3_stmt* st = db().cached("SELECT " + ci.selectList + " FROM " + sqlName(ci.name) + " WHERE " +
                                   sqlName(ci.fields[std::size_t(ci.oid)].name) + " = ?1");
    sqlite3_bind_int64(st, 1, oid);
    if (!step(st)) return false;
    vals.resize(ci.fields.size());
    for (std::size_t i = 0; i < ci.fields.size(); ++i) vals[i] = readColumn(st, int(i));
    sqlite3_reset(st);
    return true;
}

HRESULT ClassImpl::raw_AddField(IField* field) {
    return gdbGuard([&] {
        if (!field) raise(E_POINTER, "no field");
        const ClassInfo& ci = info();
        FieldInfo f;
        BSTR n = nullptr;
        check(field->get_Name(&n));
        f.name = utf8(n);
        SysFreeString(n);
        check(field->get_Type(&f.type));
        check(field->get_Length(&f.length));
        if (f.name.empty()) raise(GDB_E_BAD_SCHEMA, "a field needs a name");
        if (ci.find(f.name) >= 0) raise(GDB_E_NAME_EXISTS, ci.name + " has a field named " + f.name);
        if (f.type == esriFieldTypeOID || f.type == esriFieldTypeGeometry)
            raise(GDB_E_BAD_SCHEMA, "a class has one object id and one shape field");
        db().beginWrite();
        db().exec("ALTER TABLE " + sqlName(ci.name) + " ADD COLUMN " + sqlName(f.name) + " " + declaredType(f, ci.shapeType));
        reloadOwnInfo();
        return S_OK;
    });
}

HRESULT ClassImpl::raw_CreateRow(IRow** row) {
    return gdbGuard([&] {
        need(row);
        *row = nullptr;
        const ClassInfo& ci = info();
        std::vector<Val> vals(ci.fields.size());
        std::int64_t id = insert(ci, vals);
        auto* r = new RowImpl(this, id, infoPtr());
        *row = IRowPtr(static_cast<IRow*>(r)).Detach();
        return S_OK;
    });
}

HRESULT ClassImpl::raw_GetRow(LONG oid, IRow** row) {
    return gdbGuard([&] {
        need(row);
        *row = nullptr;
        auto* r = new RowImpl(this, oid);
        IRowPtr hold(static_cast<IRow*>(r));
        if (!fetch(r->info(), oid, r->values())) raise(GDB_E_NO_ROW, info().name + " has no row " + std::to_string(oid));
        r->refill(oid);
        *row = hold.Detach();
        return S_OK;
    });
}

HRESULT ClassImpl::raw_CreateFeature(IFeature** f) {
    return gdbGuard([&] {
        need(f);
        *f = nullptr;
        IRowPtr r;
        check(raw_CreateRow(&r));
        *f = IFeaturePtr(r).Detach();
        return S_OK;
    });
}

HRESULT ClassImpl::raw_GetFeature(LONG oid, IFeature** f) {
    return gdbGuard([&] {
        need(f);
        *f = nullptr;
        IRowPtr r;
        check(raw_GetRow(oid, &r));
        *f = IFeaturePtr(r).Detach();
        return S_OK;
    });
}

HRESULT ClassImpl::raw_CreateRowBuffer(IRowBuffer** b) {
    return gdbGuard([&] {
        need(b);
        *b = IRowBufferPtr(static_cast<IRowBuffer*>(new RowImpl(this, -1))).Detach();
        return S_OK;
    });
}

HRESULT ClassImpl::raw_CreateFeatureBuffer(IFeatureBuffer** b) {
    return gdbGuard([&] {
        need(b);
        *b = IFeatureBufferPtr(static_cast<IFeatureBuffer*>(new RowImpl(this, -1))).Detach();
        return S_OK;
    });
}

HRESULT ClassImpl::raw_RowCount(IQueryFilter* filter, LONG* count) {
    return gdbGuard([&] {
        need(count);
        *count = 0;
        const ClassInfo& ci = info();
        if (!filter) {
            Stmt st = prepare(db().raw(), "SELECT count(*) FROM " + sqlName(ci.name));
            step(st.get());
            *count = LONG(sqlite3_column_int64(st.get(), 0));
            return S_OK;
        }
        // A spatial filter counts the candidates GEOS accepts; a plain one lets SQLite count.
        bool spatial = false;
        if (ISpatialFilterPtr sf = filter) {
            IGeometryPtr g;
            check(sf->get_Geometry(&g));
            spatial = g != nullptr;
        }
        if (!spatial) {
            Selection c = select(db(), ci, filter, "count(*)", "");
            Stmt st = prepare(db().raw(), c.sql);
            step(st.get());
            *count = LONG(sqlite3_column_int64(st.get(), 0));
            return S_OK;
        }
        if (!ci.feature) raise(E_INVALIDARG, "a spatial filter needs a feature class, not table " + ci.name);
        Selection c = select(db(), ci, filter, sqlName(ci.fields[std::size_t(ci.shape)].name), "");
        if (c.none) return S_OK;
        Stmt st = prepare(db().raw(), c.sql);
        c.bind(st.get());
        LONG n = 0;
        while (step(st.get()))
            if (c.accepts(st.get(), 0)) ++n;
        *count = n;
        return S_OK;
    });
}

template <class CursorI>
HRESULT openCursor(ClassImpl* cls, CursorImpl::Kind kind, IQueryFilter* filter, VARIANT_BOOL recycling, CursorI** out,
                   const std::string& orderBy = {}) {
    return gdbGuard([&] {
        need(out);
        *out = nullptr;
        auto* c = new CursorImpl(cls, kind, recycling != VARIANT_FALSE);
        _com_ptr_t<CursorI> hold(static_cast<CursorI*>(c));
        c->open(filter, orderBy);
        *out = hold.Detach();
        return S_OK;
    });
}

HRESULT ClassImpl::raw_Search(IQueryFilter* f, VARIANT_BOOL r, ICursor** c) { return openCursor(this, CursorImpl::Search, f, r, c); }
HRESULT ClassImpl::raw_Update(IQueryFilter* f, VARIANT_BOOL r, ICursor** c) { return openCursor(this, CursorImpl::Update, f, r, c); }
HRESULT ClassImpl::raw_Insert(VARIANT_BOOL, ICursor** c) { return openCursor(this, CursorImpl::Insert, nullptr, VARIANT_FALSE, c); }
HRESULT ClassImpl::raw_Search(IQueryFilter* f, VARIANT_BOOL r, IFeatureCursor** c) {
    return openCursor(this, CursorImpl::Search, f, r, c);
}
HRESULT ClassImpl::raw_Update(IQueryFilter* f, VARIANT_BOOL r, IFeatureCursor** c) {
    return openCursor(this, CursorImpl::Update, f, r, c);
}
HRESULT ClassImpl::raw_Insert(VARIANT_BOOL, IFeatureCursor** c) {
    return openCursor(this, CursorImpl::Insert, nullptr, VARIANT_FALSE, c);
}

ICursorPtr ClassImpl::searchSorted(IQueryFilter* filter, const std::string& orderBy) {
    ICursorPtr c;
    check(openCursor(this, CursorImpl::Search, filter, VARIANT_FALSE, &c, orderBy));
    return c;
}

HRESULT ClassImpl::raw_DeleteSearchedRows(IQueryFilter* filter) {
    return gdbGuard([&] {
        ICursorPtr c;
        check(openCursor(this, CursorImpl::Update, filter, VARIANT_TRUE, &c));
        IRowPtr row;
        while (SUCCEEDED(check(c->raw_NextRow(&row))) && row) check(c->raw_DeleteRow());
        return S_OK;
    });
}

void ClassImpl::subtypeItem() {
    const ClassInfo& ci = info();
    db().makeSideTables();
    sqlite3_stmt* st = db().cached("INSERT OR IGNORE INTO gdb_items (name, kind) VALUES (?1, ?2)");
    bindText(st, 1, ci.name);
    bindText(st, 2, ci.feature ? "FeatureClass" : "Table");
    step(st);
}

HRESULT ClassImpl::put_SubtypeFieldName(BSTR name) {
    return gdbGuard([&] {
        const ClassInfo& ci = info();
        std::string n = utf8(name);
        std::string stored;
        if (!n.empty()) {
            int i = ci.find(n);
            if (i < 0) raise(E_INVALIDARG, ci.name + " has no field " + n);
            esriFieldType t = ci.fields[std::size_t(i)].type;
            if (t != esriFieldTypeSmallInteger && t != esriFieldTypeInteger)
                raise(E_INVALIDARG, "subtype field " + n + " must be an integer field");
            stored = ci.fields[std::size_t(i)].name;
        }
        db().beginWrite();
        subtypeItem();
        db().makeSideTables();
        sqlite3_stmt* st = db().cached("UPDATE gdb_items SET subtype_field = ?2 WHERE name = ?1");
        bindText(st, 1, ci.name);
        if (!stored.empty()) bindText(st, 2, stored);
        step(st);
        if (stored.empty()) {
            db().makeSideTables();
            sqlite3_stmt* del = db().cached("DELETE FROM gdb_subtypes WHERE class_name = ?1");
            bindText(del, 1, ci.name);
            step(del);
        }
        std::vector<std::pair<LONG, std::string>> subtypes;
        if (!stored.empty()) subtypes = subtypesOf(db(), ci.name);
        describeSubtypes(db(), ci.name, stored);
        changedOwnInfo([&](ClassInfo& c) {
            c.subtypeField = stored;
            c.subtypes = std::move(subtypes);
        });
        return S_OK;
    });
}

HRESULT ClassImpl::put_DefaultSubtypeCode(LONG code) {
    return gdbGuard([&] {
        const ClassInfo& ci = info();
        db().beginWrite();
        subtypeItem();
        db().makeSideTables();
        sqlite3_stmt* st = db().cached("UPDATE gdb_items SET default_subtype = ?2 WHERE name = ?1");
        bindText(st, 1, ci.name);
        sqlite3_bind_int(st, 2, code);
        step(st);
        changedOwnInfo([&](ClassInfo& c) { c.defaultSubtype = code; });
        return S_OK;
    });
}

HRESULT ClassImpl::raw_AddSubtype(LONG code, BSTR name) {
    return gdbGuard([&] {
        const ClassInfo& ci = info();
        if (ci.subtypeField.empty()) raise(E_FAIL, ci.name + " has no subtype field");
        for (auto& [c, n] : ci.subtypes)
            if (c == code) raise(GDB_E_NAME_EXISTS, ci.name + " has a subtype " + std::to_string(code) + " already");
        std::string n = utf8(name);
        if (n.empty()) raise(E_INVALIDARG, "a subtype needs a name");
        db().beginWrite();
        db().makeSideTables();
        sqlite3_stmt* st = db().cached("INSERT INTO gdb_subtypes (class_name, code, name) VALUES (?1, ?2, ?3)");
        bindText(st, 1, ci.name);
        sqlite3_bind_int(st, 2, code);
        bindText(st, 3, n);
        step(st);
        addSubtypeValue(db(), ci.name, ci.subtypeField, code, n);
        changedOwnInfo([&](ClassInfo& c) {
            auto at = std::find_if(c.subtypes.begin(), c.subtypes.end(), [&](const auto& e) { return e.first > code; });
            c.subtypes.emplace(at, code, n);
        });
        return S_OK;
    });
}

HRESULT ClassImpl::raw_DeleteSubtype(LONG code) {
    return gdbGuard([&] {
        const ClassInfo& ci = info();
        db().beginWrite();
        db().makeSideTables();
        sqlite3_stmt* st = db().cached("DELETE FROM gdb_subtypes WHERE class_name = ?1 AND code = ?2");
        bindText(st, 1, ci.name);
        sqlite3_bind_int(st, 2, code);
        step(st);
        if (sqlite3_changes(db().raw()) == 0) raise(GDB_E_NOT_FOUND, ci.name + " has no subtype " + std::to_string(code));
        describeSubtypes(db(), ci.name, ci.subtypeField);
        changedOwnInfo([&](ClassInfo& c) {
            c.subtypes.erase(std::remove_if(c.subtypes.begin(), c.subtypes.end(), [&](const auto& e) { return e.first == code; }),
                             c.subtypes.end());
        });
        return S_OK;
    });
}

// A class without a subtype field has one subtype: its default code, named after the class.
HRESULT ClassImpl::get_Subtypes(IEnumSubtype** out) {
    return gdbGuard([&] {
        need(out);
        *out = nullptr;
        const ClassInfo& ci = info();
        auto items = ci.subtypes;
        if (ci.subtypeField.empty()) items = {{ci.defaultSubtype, ci.alias}};
        *out = IEnumSubtypePtr(static_cast<IEnumSubtype*>(new SubtypeEnum(std::move(items)))).Detach();
        return S_OK;
    });
}

// =============================================================================================
// Topology definitions
// =============================================================================================

ITopologyPtr topologyObject(WorkspaceImpl* ws, const std::string& name) {
    return ITopologyPtr(static_cast<ITopology*>(new TopologyImpl(ws, name)));
}

HRESULT DatasetImpl::get_Topology(LONG i, ITopology** out) {
    return gdbGuard([&] {
        need(out);
        *out = nullptr;
        auto names = topologyNames();
        if (i < 0 || std::size_t(i) >= names.size()) raise(E_INVALIDARG, "topology index out of range");
        *out = topologyObject(ws_, names[std::size_t(i)]).Detach();
        return S_OK;
    });
}

HRESULT DatasetImpl::get_TopologyByName(BSTR name, ITopology** out) {
    return gdbGuard([&] {
        need(out);
        *out = nullptr;
        std::string n = utf8(name);
        for (auto& t : topologyNames())
            if (sameNoCase(t, n)) {
                *out = topologyObject(ws_, t).Detach();
                return S_OK;
            }
        raise(GDB_E_NOT_FOUND, "feature dataset " + name_ + " has no topology " + n);
    });
}

HRESULT DatasetImpl::raw_CreateTopology(BSTR name, double tolerance, LONG, BSTR, ITopology** out) {
    return gdbGuard([&] {
        need(out);
        *out = nullptr;
        std::string n = utf8(name);
        ws_->checkNewName(n);
        if (!(tolerance > 0) || !std::isfinite(tolerance)) raise(E_INVALIDARG, "a topology needs a tolerance above 0");
        sqlite3_stmt* st = ws_->db().cached("SELECT 1 FROM gdb_topologies WHERE name = ?1");
        bindText(st, 1, n);
        bool taken = step(st);
        sqlite3_reset(st);
        if (taken) raise(GDB_E_NAME_EXISTS, "a topology named " + n + " exists");
        ws_->db().beginWrite();
        ws_->db().makeSideTables();
        st = ws_->db().cached("INSERT INTO gdb_topologies (name, dataset, tolerance) VALUES (?1, ?2, ?3)");
        bindText(st, 1, n);
        bindText(st, 2, name_);
        sqlite3_bind_double(st, 3, tolerance);
        step(st);
        *out = topologyObject(ws_, n).Detach();
        return S_OK;
    });
}

HRESULT TopologyImpl::raw_AddClass(IFeatureClass* fc, double, LONG, LONG, VARIANT_BOOL) {
    return gdbGuard([&] {
        IGdbInternalPtr in(fc);
        ClassImpl* cls = in ? in->asClass() : nullptr;
        if (!cls || cls->workspace() != ws_) raise(E_INVALIDARG, "AddClass needs a feature class of this geodatabase");
        const ClassInfo& ci = cls->info();
        const Row r = row();
        if (!sameNoCase(ci.dataset, r.dataset))
            raise(E_INVALIDARG, "class " + ci.name + " is not in feature dataset " + r.dataset);
        std::string other = cls->topologyName();
        if (sameNoCase(other, name_)) raise(GDB_E_NAME_EXISTS, "class " + ci.name + " is in topology " + name_ + " already");
        if (!other.empty()) raise(E_INVALIDARG, "class " + ci.name + " is in topology " + other);
        ws_->db().beginWrite();
        ws_->db().makeSideTables();
        sqlite3_stmt* st = ws_->db().cached("INSERT INTO gdb_topology_classes (topology, class_name) VALUES (?1, ?2)");
        bindText(st, 1, name_);
        bindText(st, 2, ci.name);
        step(st);
        return S_OK;
    });
}

HRESULT TopologyImpl::get_Classes(IEnumFeatureClass** out) {
    return gdbGuard([&] {
        need(out);
        *out = nullptr;
        std::vector<std::string> names;
        sqlite3_stmt* st = ws_->db().cached("SELECT class_name FROM gdb_topology_classes WHERE topology = ?1 ORDER BY rowid");
        bindText(st, 1, name_);
        while (step(st)) names.push_back(columnText(st, 0));
        std::vector<IFeatureClassPtr> items;
        for (auto& n : names) items.push_back(ws_->featureClass(n));
        *out = IEnumFeatureClassPtr(static_cast<IEnumFeatureClass*>(new ClassEnum(std::move(items)))).Detach();
        return S_OK;
    });
}

HRESULT ClassImpl::get_Topology(ITopology** out) {
    return gdbGuard([&] {
        need(out);
        *out = nullptr;
        std::string t = topologyName();
        if (!t.empty()) *out = topologyObject(ws_, t).Detach();
        return S_OK;
    });
}

// =============================================================================================
// The table sort
// =============================================================================================

class TableSort final : public Object<ITableSort> {
public:
    HRESULT get_Table(ITable** t) override { return givePtr(table_.GetInterfacePtr(), t); }
    HRESULT putref_Table(ITable* t) override {
        table_ = t;
        return S_OK;
    }
    HRESULT get_QueryFilter(IQueryFilter** f) override { return givePtr(filter_.GetInterfacePtr(), f); }
    HRESULT putref_QueryFilter(IQueryFilter* f) override {
        filter_ = f;
        return S_OK;
    }
    HRESULT get_Fields(BSTR* f) override { return giveText(fields_, f); }
    HRESULT put_Fields(BSTR f) override {
        fields_ = utf8(f);
        return S_OK;
    }
    HRESULT get_Ascending(BSTR field, VARIANT_BOOL* a) override {
        if (!a) return E_POINTER;
        *a = VARIANT_TRUE;
        std::string n = utf8(field);
        for (auto& [k, v] : ascending_)
            if (sameNoCase(k, n)) *a = v ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT put_Ascending(BSTR field, VARIANT_BOOL a) override {
        return gdbGuard([&] {
            std::string n = utf8(field);
            for (auto& [k, v] : ascending_)
                if (sameNoCase(k, n)) {
                    v = a != VARIANT_FALSE;
                    return S_OK;
                }
            ascending_.emplace_back(n, a != VARIANT_FALSE);
            return S_OK;
        });
    }
    HRESULT raw_Sort(IUnknown*) override {
        return gdbGuard([&] {
            orderBy();
            return S_OK;
        });
    }
    HRESULT get_Rows(ICursor** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            std::string order = orderBy();
            IGdbInternalPtr in(table_);
            *out = in->asClass()->searchSorted(filter_, order).Detach();
            return S_OK;
        });
    }

private:
    std::string orderBy() {
        if (!table_) raise(E_FAIL, "the table sort has no table");
        IGdbInternalPtr in(table_);
        ClassImpl* cls = in ? in->asClass() : nullptr;
        if (!cls) raise(E_INVALIDARG, "the table sort needs a table of a geodatabase");
        const ClassInfo& ci = cls->info();
        std::string out;
        std::size_t start = 0;
        while (start <= fields_.size()) {
            std::size_t comma = fields_.find(',', start);
            std::string name = trimBlanks(fields_.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
            start = comma == std::string::npos ? fields_.size() + 1 : comma + 1;
            if (name.empty()) continue;
            int i = ci.find(name);
            if (i < 0) raise(E_INVALIDARG, ci.name + " has no field " + name + " to sort by");
            bool asc = true;
            for (auto& [k, v] : ascending_)
                if (sameNoCase(k, name)) asc = v;
            if (!out.empty()) out += ", ";
            out += sqlName(ci.fields[std::size_t(i)].name) + (asc ? " ASC" : " DESC");
        }
        if (out.empty()) raise(E_INVALIDARG, "the table sort has no fields");
        // Equal keys keep table order.
        return out + ", " + sqlName(ci.fields[std::size_t(ci.oid)].name);
    }

    ITablePtr table_;
    IQueryFilterPtr filter_;
    std::string fields_;
    std::vector<std::pair<std::string, bool>> ascending_;
};

// =============================================================================================
// The personal workspace factory
// =============================================================================================

bool personalPath(const std::string& path) {
    std::string ext = lower(std::filesystem::path(WorkspaceImpl::fileName(path)).extension().string());
    return ext == ".gpkg" || ext == ".mdb";
}

IWorkspacePtr openWorkspace(const std::string& path, bool create) {
    if (path.empty()) raise(GDB_E_BAD_PATH, "no geodatabase path");
    if (path.find('\0') != std::string::npos) raise(GDB_E_BAD_PATH, "NUL in a path");
    if (!personalPath(path)) {
        std::string ext = lower(std::filesystem::path(WorkspaceImpl::fileName(path)).extension().string());
        if (ext == ".sde") raise(GDB_E_NOT_SUPPORTED, "enterprise geodatabase not supported yet: " + path);
        raise(GDB_E_BAD_PATH, path + " is not a personal geodatabase (.gpkg or .mdb)");
    }
    std::filesystem::path file(WorkspaceImpl::fileName(path));
    std::error_code ec;
    bool exists = std::filesystem::exists(file, ec);
    if (create && exists) raise(GDB_E_NAME_EXISTS, "geodatabase " + path + " exists already");
    if (!create && !exists) raise(GDB_E_NOT_FOUND, "geodatabase " + path + " does not exist");
    if (!create && !std::filesystem::is_regular_file(file, ec)) raise(GDB_E_BAD_PATH, path + " is not a file");
    std::string key = std::filesystem::weakly_canonical(std::filesystem::absolute(file, ec), ec).string();
    std::lock_guard<std::mutex> lock(registryMutex());
    auto it = registry().find(key);
    if (it != registry().end()) return IWorkspacePtr(static_cast<IWorkspace*>(it->second));
    auto* ws = new WorkspaceImpl(path, key, create);
    IWorkspacePtr hold(static_cast<IWorkspace*>(ws));
    registry()[key] = ws;
    return hold;
}

class AccessWorkspaceFactory final : public Object<IWorkspaceFactory> {
public:
    HRESULT raw_Create(BSTR dir, BSTR name, IPropertySet*, HWND, IWorkspace** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            std::string n = utf8(name);
            if (n.empty()) raise(GDB_E_BAD_PATH, "no geodatabase name");
            std::string ext = lower(std::filesystem::path(n).extension().string());
            if (ext != ".gpkg" && ext != ".mdb") n += ".gpkg";
            std::string d = utf8(dir);
            std::string path = d.empty() ? n : d + ((d.back() == '/' || d.back() == '\\') ? "" : "/") + n;
            *out = openWorkspace(path, true).Detach();
            return S_OK;
        });
    }
    HRESULT raw_Open(IPropertySet* props, HWND, IWorkspace** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            if (!props) raise(E_POINTER, "no connection properties");
            _variant_t v;
            check(props->raw_GetProperty(_bstr_t(L"DATABASE").GetBSTR(), &v));
            if (v.vt != VT_BSTR) raise(E_INVALIDARG, "property DATABASE must be a path");
            *out = openWorkspace(utf8(v.bstrVal), false).Detach();
            return S_OK;
        });
    }
    HRESULT raw_OpenFromFile(BSTR path, HWND, IWorkspace** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            *out = openWorkspace(utf8(path), false).Detach();
            return S_OK;
        });
    }
    HRESULT raw_ReadConnectionPropertiesFromFile(BSTR path, IPropertySet** out) override {
        return gdbGuard([&] {
            need(out);
            *out = nullptr;
            IPropertySetPtr p(CLSID_PropertySet);
            check(p->raw_SetProperty(_bstr_t(L"DATABASE").GetBSTR(), _variant_t(path ? path : L"")));
            *out = p.Detach();
            return S_OK;
        });
    }
    HRESULT raw_IsWorkspace(BSTR path, VARIANT_BOOL* out) override {
        return gdbGuard([&] {
            need(out);
            std::string p = utf8(path);
            std::error_code ec;
            *out = personalPath(p) && std::filesystem::is_regular_file(WorkspaceImpl::fileName(p), ec) ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        });
    }
};

const ComClassRegistrar kRegistrars[] = {
    {CLSID_AccessWorkspaceFactory, "Gdb.AccessWorkspaceFactory.1", &createComInstance<AccessWorkspaceFactory>},
    {CLSID_TableSort, "Gdb.TableSort.1", &createComInstance<TableSort>},
};

}  // namespace

const char* gdbFailureReason(HRESULT hr) {
    switch (hr) {
    case GDB_E_IN_USE: return "in use by another program";
    case GDB_E_READ_ONLY: return "read-only";
    case GDB_E_DISK_FULL: return "disk full";
    case GDB_E_ACCESS_DENIED: return "permission denied";
    case GDB_E_BAD_PATH: return "not a geodatabase";
    case GDB_E_NOT_SUPPORTED: return "enterprise geodatabases are not supported yet";
    case GDB_E_CONNECTION: return "cannot connect to the database server";
    default: return nullptr;
    }
}

HRESULT gdbStorageFailure() { return storageFailure; }
void clearGdbStorageFailure() { storageFailure = S_OK; }
