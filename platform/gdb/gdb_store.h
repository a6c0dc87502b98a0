// platform/gdb/gdb_store.h: the storage under the geodatabase objects. The workspace, its classes,
// rows, cursors, datasets, subtypes and topologies are the same objects whatever stores them; a
// storage (the GeoPackage file, the PostgreSQL server) keeps the tables and the side tables, runs
// the edit sessions, and finds the rows a filter selects. Class descriptions, the filters read
// from a query filter and shapes as GeoPackage geometry blobs are shared by all storages.
// A storage throws StoreError (or _com_error) for its failures.
#pragma once

#include <cctype>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/gdb/class_schema.h"
#include "platform/gdb/gdb_value.h"
#include "platform/geometry/spatial_relation.h"

struct sqlite3_stmt;

namespace gdb {

constexpr std::int32_t kWgs84 = 4326;
constexpr std::int32_t kUndefinedGeographic = 0;

using FieldInfo = FieldSpec;

// A name inside double quotes (the same in both storages' SQL).
std::string sqlName(std::string_view v);

// The description of a table or feature class, as its storage reads it from the schema.
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
    std::string rtree;  // a feature class's R-tree table in a GeoPackage, which it may lack; empty for a table
    std::string subtypeField;
    LONG defaultSubtype = 0;
    std::vector<std::pair<LONG, std::string>> subtypes;
    std::string selectList;  // every column, quoted, in order
    std::string insertSql;
    std::unordered_map<std::string, int> byName;  // lower-cased field names, the first of a name
    // The GeoPackage storage's insert statement, once used: kept by its statement cache as long as it is open.
    mutable sqlite3_stmt* insertStmt = nullptr;

    int find(std::string_view n) const {
        std::string key(n);
        for (char& c : key) c = char(std::tolower(static_cast<unsigned char>(c)));
        auto it = byName.find(key);
        return it == byName.end() ? -1 : it->second;
    }
};

// What a query filter selects: a where clause passed through to the storage's SQL, and a spatial
// relation our code decides (GEOS) on the candidates the storage's index lets through.
struct RowFilter {
    std::string where;  // trimmed; empty for all rows
    std::shared_ptr<const SpatialPredicate> predicate;
    bool prefilter = false;  // only candidates whose extent meets `extent` can match
    GeoExtent extent;
    bool none = false;  // an empty filter geometry with an extent prefilter: no row
};

// Reads a query filter (null: every row) for class ci; E_INVALIDARG for a spatial filter on a table
// or on another field than the shape.
RowFilter readFilter(const ClassInfo& ci, IQueryFilter* filter);

// The rows a storage selected, those the filter's predicate accepts.
class RowStream {
public:
    virtual ~RowStream() = default;
    // The next row's selected columns into row (resized to them); false after the last.
    virtual bool next(std::vector<Val>& row) = 0;
};

struct DatasetItem {
    std::string name;  // as stored
    std::int32_t srsId = kUndefinedGeographic;
    double zmin = 0, zmax = 0;
    bool versioned = false;
};

struct TopologyItem {
    std::string dataset;
    double tolerance = 0;
};

class GdbStore {
public:
    virtual ~GdbStore() = default;

    virtual esriWorkspaceType workspaceType() const = 0;
    // The connection is gone (a server storage): a workspace opened anew gets a new one.
    virtual bool lost() const { return false; }

    // Raised whenever a rollback may have undone schema changes: cached class descriptions reload.
    virtual std::uint64_t generation() const = 0;
    // Raised when another connection changed the schema (our own changes do not count).
    virtual std::uint64_t foreignSchemaEpoch() = 0;

    // Edit sessions: a transaction; operations inside it savepoints. Writes outside one are
    // batched and committed at a flush (after a while) or when the storage closes.
    virtual bool editing() const = 0;
    virtual void startEditing() = 0;
    virtual void stopEditing(bool save) = 0;
    virtual void startOperation() = 0;
    virtual void stopOperation(bool keep) = 0;
    virtual void flushBatch() = 0;

    // Before a new name is checked: a storage shared by processes takes its writer lock here, so
    // that a name another process is making meanwhile is seen as taken.
    virtual void beginSchemaChange() {}
    // Tables and feature classes. nameTaken: a class, dataset or storage object of that name.
    virtual bool nameTaken(const std::string& name) = 0;
    // The description of a class, or null when there is none of that name.
    virtual std::shared_ptr<ClassInfo> loadClass(const std::string& name) = 0;
    // Makes a class (its dataset's name as stored, or empty) and gives its description.
    virtual std::shared_ptr<ClassInfo> createClass(const std::string& name, const ClassSpec& spec, bool feature,
                                                   std::int32_t srsId, double zmin, double zmax,
                                                   const std::string& dataset) = 0;
    virtual void addField(const ClassInfo& ci, const FieldInfo& f) = 0;

    // Rows, each call with the column layout the values were made for. update throws GDB_E_NO_ROW
    // for a row that is gone; remove of a row that is gone does nothing.
    virtual std::int64_t insert(const ClassInfo& ci, const std::vector<Val>& vals) = 0;
    virtual void update(const ClassInfo& ci, std::int64_t oid, const std::vector<Val>& vals,
                        const std::vector<bool>& dirty) = 0;
    virtual void remove(const ClassInfo& ci, std::int64_t oid) = 0;
    virtual bool fetch(const ClassInfo& ci, std::int64_t oid, std::vector<Val>& vals) = 0;
    // The rows the filter selects (not filter.none), the given columns (field indices; the shape
    // among them when the filter has a predicate), in orderBy (SQL, may be empty).
    virtual std::unique_ptr<RowStream> select(const ClassInfo& ci, const RowFilter& filter, const std::vector<int>& columns,
                                              const std::string& orderBy) = 0;
    virtual std::int64_t count(const ClassInfo& ci, const RowFilter& filter) = 0;
    // Deletes the rows the filter selects: one statement without a predicate, else the rows found
    // as select finds them, in batches.
    virtual void removeSelected(const ClassInfo& ci, const RowFilter& filter) = 0;

    // Feature datasets.
    virtual std::optional<DatasetItem> dataset(const std::string& name) = 0;
    virtual void createDataset(const std::string& name, std::int32_t srsId, double zmin, double zmax) = 0;
    virtual void setVersioned(const std::string& dataset, bool versioned) = 0;
    virtual std::vector<std::string> datasetClasses(const std::string& dataset) = 0;  // in order of creation

    // Subtypes. setSubtypeField (empty: none) gives the class's subtypes afterwards.
    virtual std::vector<std::pair<LONG, std::string>> setSubtypeField(const ClassInfo& ci, const std::string& field) = 0;
    virtual void setDefaultSubtype(const ClassInfo& ci, LONG code) = 0;
    virtual void addSubtype(const ClassInfo& ci, LONG code, const std::string& name) = 0;
    virtual bool deleteSubtype(const ClassInfo& ci, LONG code) = 0;  // false when there was none

    // Topologies.
    virtual std::optional<TopologyItem> topology(const std::string& name) = 0;
    virtual std::vector<std::string> topologies(const std::string& dataset) = 0;  // in order of creation
    virtual void createTopology(const std::string& name, const std::string& dataset, double tolerance) = 0;
    virtual std::string topologyOf(const std::string& className) = 0;  // empty when in none
    virtual void addTopologyClass(const std::string& topology, const std::string& className) = 0;
    virtual std::vector<std::string> topologyClasses(const std::string& topology) = 0;
};

}  // namespace gdb
