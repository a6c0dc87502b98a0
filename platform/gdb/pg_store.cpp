// platform/gdb/pg_store.cpp: the enterprise geodatabase's storage on PostgreSQL with PostGIS.
//
// The layout is the GeoPackage backend's: a class is a table with an OBJECTID identity key and,
// for a feature class, a SHAPE geometry column with a GiST index; its fields' own types and
// lengths, which the server's column types do not keep apart (a single and a double are both
// double precision, text is citext of any length), are kept as column comments "tarvo:TYPE[:LENGTH]".
// Datasets, subtypes, topologies and the versioned flag live in the same side tables.
#include "platform/gdb/pg_store.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/gdb/gdb_com_object.h"
#include "platform/gdb/pg_schema.h"
#include "platform/geometry/gpkg_blob.h"

namespace gdb {

namespace {

constexpr char kWriterLock[] = "SELECT pg_advisory_xact_lock(hashtext('tarvo geodatabase writer'))";

Val text(const std::string& s) { return Val{Val::Text, 0, 0, s}; }
Val integer(std::int64_t i) { return Val{Val::Int, i, 0, {}}; }
Val real(double d) { return Val{Val::Real, 0, d, {}}; }

// The length a field has once stored, as the GeoPackage backend reads it back.
LONG storedLength(const FieldInfo& f) {
    switch (f.type) {
        case esriFieldTypeSmallInteger: return 2;
        case esriFieldTypeInteger:
        case esriFieldTypeSingle:
        case esriFieldTypeOID: return 4;
        case esriFieldTypeDouble:
        case esriFieldTypeDate: return 8;
        case esriFieldTypeString: return f.length > 0 ? f.length : 0;
        default: return 0;
    }
}

std::string fieldComment(const FieldInfo& f) {
    std::string c = "tarvo:" + std::to_string(int(f.type));
    if (f.type == esriFieldTypeString && f.length > 0) c += ":" + std::to_string(f.length);
    return c;
}

// A field read back from its column: its comment, else its server type.
FieldInfo fieldOf(std::string name, const std::string& type, const std::string& comment, bool identity) {
    FieldInfo f;
    f.name = std::move(name);
    if (comment.rfind("tarvo:", 0) == 0) {
        const char* p = comment.c_str() + 6;
        char* end = nullptr;
        f.type = esriFieldType(std::strtol(p, &end, 10));
        if (end && *end == ':') f.length = LONG(std::strtol(end + 1, nullptr, 10));
    } else if (identity) {
        f.type = esriFieldTypeOID;
    } else if (type == "smallint" || type == "boolean") {
        f.type = esriFieldTypeSmallInteger;
    } else if (type == "integer" || type == "bigint") {
        f.type = esriFieldTypeInteger;
    } else if (type == "real" || type == "double precision") {
        f.type = esriFieldTypeDouble;
    } else if (type.rfind("geometry", 0) == 0) {
        f.type = esriFieldTypeGeometry;
    } else if (type.rfind("timestamp", 0) == 0 || type == "date") {
        f.type = esriFieldTypeDate;
    } else if (type == "bytea") {
        f.type = esriFieldTypeBlob;
    } else {
        f.type = esriFieldTypeString;
    }
    if (f.type != esriFieldTypeString) f.length = storedLength(f);
    f.nullable = f.type != esriFieldTypeOID;
    return f;
}

}  // namespace

std::string wkbOfGpkgBlob(const std::string& blob) {
    // "GP", version, flags (envelope kind in bits 1-3), srs_id, envelope, then the WKB.
    if (blob.size() < 8 || blob[0] != 'G' || blob[1] != 'P') throw GpkgBlobError("not a GeoPackage geometry blob");
    static const std::size_t envelope[] = {0, 32, 48, 48, 64, 0, 0, 0};
    const std::size_t at = 8 + envelope[(std::uint8_t(blob[3]) >> 1) & 7];
    if (blob.size() < at) throw GpkgBlobError("GeoPackage geometry blob shorter than its header");
    return blob.substr(at);
}

std::string gpkgBlobOfWkb(const std::string& wkb, std::int32_t srsId) {
    // A header without envelope (the reader takes the extent from the WKB), empty as the WKB is:
    // a point of NaN, or a collection of no members.
    bool empty = false;
    if (wkb.size() >= 9 && wkb[0] == 1) {
        std::uint32_t type;
        std::memcpy(&type, wkb.data() + 1, 4);
        if (type % 1000 == 1 && wkb.size() >= 21) {
            double x;
            std::memcpy(&x, wkb.data() + 5, 8);
            empty = x != x;
        } else if (type % 1000 >= 4) {
            std::uint32_t n;
            std::memcpy(&n, wkb.data() + 5, 4);
            empty = n == 0;
        }
    }
    std::string blob = "GP";
    blob += char(0);
    blob += char(0x01 | (empty ? 0x10 : 0));
    blob.append(reinterpret_cast<const char*>(&srsId), 4);  // little-endian, as the flag says
    blob += wkb;
    // Written again as the GeoPackage backend writes it (its envelope, the empty point's form).
    IGeometryPtr g = geometryFromGpkgBlob(blob.data(), blob.size());
    const std::vector<std::uint8_t> out = geometryToGpkgBlob(g, srsId);
    return std::string(reinterpret_cast<const char*>(out.data()), out.size());
}

std::string pgWhereClause(const ClassInfo& ci, const std::string& where) {
    std::string out;
    out.reserve(where.size() + 16);
    auto word = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || (c & 0x80); };
    for (std::size_t i = 0; i < where.size();) {
        const char c = where[i];
        if (c == '\'' || c == '"') {
            // A literal or a quoted name, its doubled quotes included.
            std::size_t j = i + 1;
            while (j < where.size()) {
                if (where[j] == c) {
                    if (j + 1 < where.size() && where[j + 1] == c) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            j = std::min(j + 1, where.size());
            out.append(where, i, j - i);
            i = j;
        } else if (word(c) && !std::isdigit(static_cast<unsigned char>(c))) {
            std::size_t j = i;
            while (j < where.size() && word(where[j])) ++j;
            const std::string w = where.substr(i, j - i);
            const int f = ci.find(w);
            // A name after a dot belongs to something else.
            if (f >= 0 && (i == 0 || where[i - 1] != '.')) out += sqlName(ci.fields[std::size_t(f)].name);
            else out += w;
            i = j;
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            std::size_t j = i;
            while (j < where.size() && (word(where[j]) || where[j] == '.')) ++j;
            out.append(where, i, j - i);
            i = j;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

namespace {

class PgStore;

// The rows of one query, read in chunks; shapes come back as GeoPackage blobs.
class PgRows final : public RowStream {
public:
    PgRows(PgStore& store, PgSession& s, const std::string& sql, const std::vector<Val>& params,
           std::shared_ptr<const SpatialPredicate> predicate, int shapeColumn, std::int32_t srsId);
    ~PgRows() override;
    bool next(std::vector<Val>& row) override;

private:
    PgStore& store_;
    std::unique_ptr<PgRowReader> reader_;
    std::shared_ptr<const SpatialPredicate> predicate_;
    int shapeColumn_;
    std::int32_t srsId_;
};

class PgStore final : public GdbStore {
public:
    explicit PgStore(std::unique_ptr<PgSession> session) : s_(std::move(session)) {}
    ~PgStore() override {
        if (lost_) return;
        try {
            if (editing_) {
                later_.clear();
                giveIdsBack();
                s_->rollback();  // unsaved edits are discarded
            } else if (s_->inTransaction()) {
                sendLater();
                flushInserts();
                s_->commit();
            }
        } catch (const _com_error& e) {
            // Nobody is left to return this to: say it rather than lose the changes silently.
            std::fprintf(stderr, "geodatabase: changes not saved: %s\n", toUtf8(e.Description()).c_str());
            s_->rollback();
        }
        // The next workspace on the same server goes on with the connection.
        if (!lost_) PgSession::keep(std::move(s_));
    }

    PgSession& session() { return *s_; }
    void addReader() { ++readers_; }
    void dropReader() { --readers_; }

    // Every call to the server goes through here: a lost connection ends the transaction (the
    // server rolls it back) and says so. Statements held back go first, unless the call holds one more.
    template <class F>
    auto guarded(F&& f, bool holds = false) -> decltype(f()) {
        if (lost_) s_->fail(GDB_E_CONNECTION, "the connection to the server was lost; open the geodatabase again");
        const bool wasEditing = editing_;
        try {
            if (!holds) sendLater();
            return f();
        } catch (const _com_error& e) {
            if (e.Error() != GDB_E_CONNECTION && PQstatus(s_->raw()) == CONNECTION_OK) throw;
            lost_ = true;
            editing_ = false;
            later_.clear();
            inserts_.clear();
            forgetDrawn();
            s_->rollback();
            ++generation_;
            std::string why = toUtf8(e.Description());
            if (wasEditing) why += " (the connection was lost: the edit session is rolled back)";
            throw _com_error(GDB_E_CONNECTION, fromUtf8(why));
        }
    }

    // A statement with a caller's where clause: its failure inside a transaction is the caller's
    // error, not the end of the transaction (as a failed statement in the GeoPackage backend).
    template <class F>
    auto shielded(const RowFilter& filter, F&& f) -> decltype(f()) {
        if (filter.where.empty() || !s_->inTransaction()) return f();
        s_->savepoint("gdb_where");
        try {
            auto out = f();
            s_->release("gdb_where");
            return out;
        } catch (const _com_error& e) {
            if (e.Error() != GDB_E_CONNECTION && PQstatus(s_->raw()) == CONNECTION_OK) s_->rollbackTo("gdb_where");
            throw;
        }
    }

    esriWorkspaceType workspaceType() const override { return esriRemoteDatabaseWorkspace; }
    bool lost() const override { return lost_; }
    std::uint64_t generation() const override { return generation_; }
    std::uint64_t foreignSchemaEpoch() override { return 0; }

    bool editing() const override { return editing_; }
    void startEditing() override {
        guarded([&] {
            if (editing_) raise(GDB_E_EDITING, "the workspace is being edited already");
            commitBatch();
            s_->begin();
            forgetAbsent();
            s_->execReused(kWriterLock);
            editing_ = true;
            operations_ = 0;
        });
    }
    void stopEditing(bool save) override {
        guarded([&] {
            if (!editing_) raise(GDB_E_EDITING, "the workspace is not being edited");
            if (save) {
                try {
                    flushInserts();
                    inserts_.clear();
                    s_->commit();
                } catch (...) {
                    editing_ = false;
                    inserts_.clear();
                    forgetDrawn();
                    s_->rollback();
                    ++generation_;
                    throw;
                }
            } else {
                inserts_.clear();
                giveIdsBack();
                s_->rollback();
                ++generation_;
            }
            editing_ = false;
            operations_ = 0;
            forgetDrawn();
        });
    }
    void startOperation() override {
        guarded([&] {
            if (!editing_) raise(GDB_E_EDITING, "edit operations need an edit session");
            flushInserts();
            noteNext();
            marks_.push_back(next_);
            s_->savepoint("gdb_op" + std::to_string(++operations_));
        });
    }
    void stopOperation(bool keep) override {
        guarded([&] {
            if (!editing_ || operations_ == 0) raise(GDB_E_EDITING, "no edit operation is open");
            const std::string name = "gdb_op" + std::to_string(operations_--);
            std::map<std::string, std::int64_t> mark;
            if (!marks_.empty()) {
                mark = std::move(marks_.back());
                marks_.pop_back();
            }
            if (keep) {
                flushInserts();
                s_->release(name);
            } else {
                // What waits was inserted after the savepoint (starting it sent the rest).
                inserts_.clear();
                s_->rollbackTo(name);
                ++generation_;
                // The ids drawn since are given again, as the rows are gone (sequences do not roll
                // back): each sequence set back to where the operation found it, or to the first id
                // it gave this transaction when the operation drew it first.
                std::vector<PgSession::Statement> back;
                for (const auto& [sequence, first] : drawn_) {
                    const auto at = mark.find(sequence);
                    const std::int64_t next = at == mark.end() ? first : at->second;
                    back.push_back({"SELECT setval($1::regclass, $2::bigint, false)", {text(sequence), integer(next)}, true});
                    next_[sequence] = next;
                }
                s_->execAll(back);
            }
        });
    }
    void flushBatch() override {
        guarded([&] {
            if (editing_ || !s_->inTransaction() || readers_ > 0) return;
            if (std::chrono::steady_clock::now() - batchStart_ < std::chrono::seconds(1)) return;
            commitBatch();
        });
    }

    void beginSchemaChange() override {
        guarded([&] { beginWrite(); });
    }
    bool nameTaken(const std::string& name) override {
        return guarded([&] {
            return PQntuples(s_->execReused("SELECT 1 FROM gdb_items WHERE name = $1 UNION ALL SELECT 1 FROM pg_class WHERE "
                                      "lower(relname) = lower($1) AND relnamespace = current_schema()::regnamespace",
                                      {text(name)})
                                 .get()) > 0;
        });
    }

    std::shared_ptr<ClassInfo> loadClass(const std::string& name) override {
        return guarded([&]() -> std::shared_ptr<ClassInfo> {
            const bool known = s_->inTransaction();
            if (known && noClass_.count(lower(name))) return nullptr;
            flushInserts();
            auto info = classFrom(s_->execAll(loadStatements(name)), 0);
            if (!info && known) noClass_.insert(lower(name));
            return info;
        });
    }

    std::shared_ptr<ClassInfo> createClass(const std::string& name, const ClassSpec& specIn, bool feature, std::int32_t srsId,
                                           double zmin, double zmax, const std::string& dataset) override {
        return guarded([&] {
            flushInserts();
            beginWrite();
            // Nulls are refused nowhere but in the object id, as in the GeoPackage backend.
            ClassSpec spec = specIn;
            for (auto& f : spec.fields) f.nullable = true;
            // The table, its index, comments and item, and the class read back: one round trip.
            std::vector<PgSession::Statement> all;
            for (const std::string& sql : pgCreateClassSql(name, spec, feature, srsId)) all.push_back({sql, {}});
            // The comments in one block where the server runs them (one statement rather than one a
            // column), else one by one.
            std::string block;
            for (const FieldInfo& f : spec.fields)
                block += "COMMENT ON COLUMN " + pgName(name) + "." + pgName(f.name) + " IS '" + fieldComment(f) + "'; ";
            if (s_->plpgsql() && !spec.fields.empty() && block.find("$tarvo$") == std::string::npos)
                all.push_back({"DO $tarvo$BEGIN " + block + "END$tarvo$", {}});
            else
                for (const FieldInfo& f : spec.fields)
                    all.push_back({"COMMENT ON COLUMN " + pgName(name) + "." + pgName(f.name) + " IS '" + fieldComment(f) + "'", {}});
            std::vector<Val> p{text(name), text(feature ? "FeatureClass" : "Table"), dataset.empty() ? Val{} : text(dataset),
                               Val{}, integer(spec.hasZ ? 1 : 0), Val{}, Val{}, Val{}, Val{}};
            if (feature) {
                p[3] = integer(int(spec.shapeType));
                p[5] = integer(srsId);
                p[6] = real(zmin);
                p[7] = real(zmax);
                p[8] = real(spec.grid);
            }
            all.push_back({"INSERT INTO gdb_items (name, kind, dataset, shape_type, has_z, srs_id, z_min, z_max, grid_size) VALUES "
                           "($1, $2, $3, $4::integer, $5::integer, $6::integer, $7::float8, $8::float8, $9::float8)",
                           std::move(p), true});
            const std::size_t load = all.size();
            for (auto& st : loadStatements(name)) all.push_back(std::move(st));
            // Where the ids were read ahead already, the new class's sequence is known from its start.
            const FieldSpec* oid = nullptr;
            for (const FieldSpec& f : spec.fields)
                if (f.type == esriFieldTypeOID && !oid) oid = &f;
            const bool ahead = aheadRead_ && oid;
            if (ahead)
                all.push_back({"SELECT s, q.seqstart, q.seqmax FROM pg_get_serial_sequence($1, $2) s JOIN pg_sequence q ON "
                               "q.seqrelid = s::regclass AND q.seqincrement = 1 AND q.seqcache = 1",
                               {text(pgName(name)), text(oid->name)}, true});
            noClass_.erase(lower(name));
            const std::vector<PgResult> results = s_->execAll(all);
            auto info = classFrom(results, load);
            if (!info) raise(GDB_E_SQL, "class " + name + " was not made");
            if (const PGresult* r = ahead ? results.back().get() : nullptr;
                r && PQntuples(r) == 1 && info->oid >= 0 && info->fields[std::size_t(info->oid)].name == oid->name &&
                pgValue(r, 0, 1).i <= pgValue(r, 0, 2).i)
                ahead_[lower(info->name) + '\n' + oid->name] = {PQgetvalue(r, 0, 0), pgValue(r, 0, 1).i};
            return info;
        });
    }

    void addField(const ClassInfo& ci, const FieldInfo& fIn) override {
        guarded([&] {
            flushInserts();
            beginWrite();
            FieldInfo f = fIn;
            f.nullable = true;
            ClassSpec one;
            one.fields = {f};
            // The column as a class of that one field would have it.
            std::string create = pgCreateClassSql("x", one, false, 0).front();
            const std::string def = create.substr(create.find('(') + 1, create.size() - create.find('(') - 2);
            s_->exec("ALTER TABLE " + pgName(ci.name) + " ADD COLUMN " + def);
            s_->exec("COMMENT ON COLUMN " + pgName(ci.name) + "." + pgName(f.name) + " IS '" + fieldComment(f) + "'");
            noteNext();
            inserts_.erase(lower(ci.name));
            copyPlans_.erase(lower(ci.name));
        });
    }

    std::int64_t insert(const ClassInfo& ci, const std::vector<Val>& vals) override {
        return guarded([&] {
            beginWrite();
            Pending& p = pending(ci);
            const std::int64_t id = p.next++;
            std::vector<Val> row(vals.size());
            for (std::size_t i = 0; i < vals.size(); ++i) row[i] = valueIn(ci, int(i), vals[i]);
            row[std::size_t(ci.oid)] = integer(id);
            p.batch->add(std::move(row));
            return id;
        });
    }

    void update(const ClassInfo& ci, std::int64_t oid, const std::vector<Val>& vals, const std::vector<bool>& dirty) override {
        guarded([&] {
            std::string sql;
            std::vector<Val> params;
            for (std::size_t i = 0; i < ci.fields.size(); ++i)
                if (dirty[i] && int(i) != ci.oid) {
                    params.push_back(valueIn(ci, int(i), vals[i]));
                    sql += (sql.empty() ? "" : ", ") + sqlName(ci.fields[i].name) + " = " +
                           columnIn(ci, int(i), "$" + std::to_string(params.size()));
                }
            if (params.empty()) return;
            flushInserts();
            beginWrite();
            params.push_back(integer(oid));
            PgResult r = s_->exec("UPDATE " + sqlName(ci.name) + " SET " + sql + " WHERE " + oidName(ci) + " = $" +
                                      std::to_string(params.size()),
                                  params);
            if (std::string(PQcmdTuples(r.get())) == "0")
                raise(GDB_E_NO_ROW, "row " + std::to_string(oid) + " of " + ci.name + " no longer exists");
        });
    }

    void remove(const ClassInfo& ci, std::int64_t oid) override {
        guarded([&] {
            flushInserts();
            beginWrite();
            s_->exec("DELETE FROM " + sqlName(ci.name) + " WHERE " + oidName(ci) + " = $1", {integer(oid)});
        });
    }

    bool fetch(const ClassInfo& ci, std::int64_t oid, std::vector<Val>& vals) override {
        return guarded([&] {
            flushInserts();
            PgResult r = s_->exec("SELECT " + ci.selectList + " FROM " + sqlName(ci.name) + " WHERE " + oidName(ci) + " = $1",
                                  {integer(oid)});
            if (PQntuples(r.get()) == 0) return false;
            vals.resize(ci.fields.size());
            for (std::size_t i = 0; i < ci.fields.size(); ++i) vals[i] = valueOut(ci, int(i), pgValue(r.get(), 0, int(i)));
            return true;
        });
    }

    std::unique_ptr<RowStream> select(const ClassInfo& ci, const RowFilter& filter, const std::vector<int>& columns,
                                      const std::string& orderBy) override {
        return guarded([&]() -> std::unique_ptr<RowStream> {
            std::string list;
            int shapeColumn = -1;
            for (std::size_t k = 0; k < columns.size(); ++k) {
                if (k) list += ", ";
                list += columnOut(ci, columns[k]);
                if (columns[k] == ci.shape && shapeColumn < 0) shapeColumn = int(k);
            }
            if (filter.predicate && shapeColumn < 0) raise(E_FAIL, "a spatial search of " + ci.name + " must read its shape");
            std::vector<Val> params;
            // Rows in object id order unless asked otherwise, as the GeoPackage gives them (the
            // server's own order changes with every update).
            const std::string sql = selection(ci, filter, list, orderBy.empty() ? oidName(ci) : orderBy, params);
            return shielded(filter, [&] {
                return std::make_unique<PgRows>(*this, *s_, sql, params, filter.predicate, shapeColumn, ci.srsId);
            });
        });
    }

    std::int64_t count(const ClassInfo& ci, const RowFilter& filter) override {
        if (filter.predicate) {
            auto rows = select(ci, filter, {ci.shape}, "");
            std::vector<Val> row;
            std::int64_t n = 0;
            while (rows->next(row)) ++n;
            return n;
        }
        return guarded([&] {
            std::vector<Val> params;
            const std::string sql = selection(ci, filter, "count(*)", "", params);
            return shielded(filter, [&] { return pgValue(s_->exec(sql, params).get(), 0, 0).i; });
        });
    }

    void removeSelected(const ClassInfo& ci, const RowFilter& filter) override {
        if (!filter.predicate) {
            guarded([&] {
                flushInserts();
                beginWrite();
                shielded(filter, [&] {
                    return s_->exec("DELETE FROM " + sqlName(ci.name) +
                                    (filter.where.empty() ? "" : " WHERE (" + pgWhereClause(ci, filter.where) + ")"));
                });
            });
            return;
        }
        std::vector<std::int64_t> ids;
        {
            auto rows = select(ci, filter, {ci.oid, ci.shape}, oidName(ci));
            std::vector<Val> row;
            while (rows->next(row)) ids.push_back(row[0].i);
        }
        if (ids.empty()) return;
        guarded([&] {
            beginWrite();
            constexpr std::size_t kBatch = 5000;
            for (std::size_t at = 0; at < ids.size(); at += kBatch) {
                std::string list = "{";
                for (std::size_t k = at; k < std::min(ids.size(), at + kBatch); ++k)
                    list += (k > at ? "," : "") + std::to_string(ids[k]);
                list += "}";
                s_->exec("DELETE FROM " + sqlName(ci.name) + " WHERE " + oidName(ci) + " = ANY($1::bigint[])", {text(list)});
            }
        });
    }

    std::optional<DatasetItem> dataset(const std::string& name) override {
        return guarded([&]() -> std::optional<DatasetItem> {
            PgResult r = s_->execReused("SELECT name, srs_id, z_min, z_max, versioned FROM gdb_items WHERE name = $1 AND kind = 'FeatureDataset'",
                                  {text(name)});
            if (PQntuples(r.get()) == 0) return std::nullopt;
            const PGresult* p = r.get();
            return DatasetItem{PQgetvalue(p, 0, 0), std::int32_t(pgValue(p, 0, 1).i), pgValue(p, 0, 2).d, pgValue(p, 0, 3).d,
                               pgValue(p, 0, 4).i != 0};
        });
    }
    void createDataset(const std::string& name, std::int32_t srsId, double zmin, double zmax) override {
        guarded([&] {
            beginWrite();
            s_->execReused("INSERT INTO gdb_items (name, kind, srs_id, z_min, z_max) VALUES ($1, 'FeatureDataset', $2::integer, "
                     "$3::float8, $4::float8)",
                     {text(name), integer(srsId), real(zmin), real(zmax)});
        });
    }
    void setVersioned(const std::string& dataset, bool versioned) override {
        guarded([&] {
            beginWrite();
            s_->execReused("UPDATE gdb_items SET versioned = $2::integer WHERE name = $1 AND kind = 'FeatureDataset'",
                     {text(dataset), integer(versioned ? 1 : 0)});
        });
    }
    std::vector<std::string> datasetClasses(const std::string& dataset) override {
        return names("SELECT name FROM gdb_items WHERE kind = 'FeatureClass' AND dataset = $1 ORDER BY ord", dataset);
    }

    std::vector<std::pair<LONG, std::string>> setSubtypeField(const ClassInfo& ci, const std::string& stored) override {
        return guarded([&] {
            beginWrite();
            auto r = s_->execAll({subtypeItem(ci),
                                  {"UPDATE gdb_items SET subtype_field = $2 WHERE name = $1",
                                   {text(ci.name), stored.empty() ? Val{} : text(stored)}, true},
                                  stored.empty() ? PgSession::Statement{"DELETE FROM gdb_subtypes WHERE class_name = $1", {text(ci.name)}, true}
                                                 : subtypesStatement(ci.name)});
            std::vector<std::pair<LONG, std::string>> subtypes;
            if (!stored.empty()) subtypes = subtypesFrom(r.back().get());
            return subtypes;
        });
    }
    // Both answer nothing: they wait for the next call's round trip (a template sets hundreds).
    void setDefaultSubtype(const ClassInfo& ci, LONG code) override {
        hold({subtypeItem(ci),
              {"UPDATE gdb_items SET default_subtype = $2::integer WHERE name = $1", {text(ci.name), integer(code)}, true}});
    }
    void addSubtype(const ClassInfo& ci, LONG code, const std::string& n) override {
        hold({{"INSERT INTO gdb_subtypes (class_name, code, name) VALUES ($1, $2::integer, $3)",
               {text(ci.name), integer(code), text(n)}, true}});
    }
    bool deleteSubtype(const ClassInfo& ci, LONG code) override {
        return guarded([&] {
            beginWrite();
            PgResult r = s_->execReused("DELETE FROM gdb_subtypes WHERE class_name = $1 AND code = $2::integer", {text(ci.name), integer(code)});
            return std::string(PQcmdTuples(r.get())) != "0";
        });
    }

    std::optional<TopologyItem> topology(const std::string& name) override {
        return guarded([&]() -> std::optional<TopologyItem> {
            PgResult r = s_->execReused("SELECT dataset, tolerance FROM gdb_topologies WHERE name = $1", {text(name)});
            if (PQntuples(r.get()) == 0) return std::nullopt;
            return TopologyItem{PQgetvalue(r.get(), 0, 0), pgValue(r.get(), 0, 1).d};
        });
    }
    std::vector<std::string> topologies(const std::string& dataset) override {
        return names("SELECT name FROM gdb_topologies WHERE dataset = $1 ORDER BY ord", dataset);
    }
    void createTopology(const std::string& name, const std::string& dataset, double tolerance) override {
        guarded([&] {
            beginWrite();
            s_->execReused("INSERT INTO gdb_topologies (name, dataset, tolerance) VALUES ($1, $2, $3::float8)",
                     {text(name), text(dataset), real(tolerance)});
        });
    }
    std::string topologyOf(const std::string& className) override {
        const bool known = s_->inTransaction();
        if (known && !lost_ && noTopology_.count(lower(className))) return {};
        auto n = names("SELECT topology FROM gdb_topology_classes WHERE class_name = $1 ORDER BY ord LIMIT 1", className);
        if (n.empty() && known) noTopology_.insert(lower(className));
        return n.empty() ? std::string() : n.front();
    }
    void addTopologyClass(const std::string& topology, const std::string& className) override {
        guarded([&] {
            beginWrite();
            noTopology_.erase(lower(className));
            s_->execReused("INSERT INTO gdb_topology_classes (topology, class_name) VALUES ($1, $2)", {text(topology), text(className)});
        });
    }
    std::vector<std::string> topologyClasses(const std::string& topology) override {
        return names("SELECT class_name FROM gdb_topology_classes WHERE topology = $1 ORDER BY ord", topology);
    }

    // A value as the class's column takes it: a shape as WKB, which columnIn() wraps.
    static Val valueIn(const ClassInfo& ci, int i, const Val& v) {
        if (i == ci.shape && v.kind == Val::Blob) return Val{Val::Blob, 0, 0, wkbOfGpkgBlob(v.s)};
        return v;
    }
    static Val valueOut(const ClassInfo& ci, int i, Val v) {
        if (i == ci.shape && v.kind == Val::Blob) v.s = gpkgBlobOfWkb(v.s, ci.srsId);
        return v;
    }

private:
    // The statements that read a class: its item, its columns, its subtypes.
    static std::vector<PgSession::Statement> loadStatements(const std::string& name) {
        return {
            {"SELECT i.name, i.kind, i.dataset, i.alias, i.shape_type, i.has_z, i.srs_id, i.z_min, i.z_max, "
             "i.subtype_field, i.default_subtype FROM gdb_items i JOIN pg_class c ON c.relname = i.name::text "
             "AND c.relnamespace = current_schema()::regnamespace WHERE i.name = $1 AND i.kind IN ('FeatureClass', 'Table')",
             {text(name)}, true},
            // The comments joined, not col_description's query a column.
            {"SELECT a.attname, format_type(a.atttypid, a.atttypmod), coalesce(d.description, ''), "
             "a.attidentity <> '', a.attnotnull, a.attidentity = 'a' OR a.attgenerated <> '' FROM pg_attribute a "
             "LEFT JOIN pg_description d ON d.objoid = a.attrelid AND d.classoid = 'pg_class'::regclass AND d.objsubid = a.attnum "
             "WHERE a.attrelid = (SELECT c.oid FROM gdb_items i JOIN pg_class c ON c.relname = i.name::text "
             "AND c.relnamespace = current_schema()::regnamespace WHERE i.name = $1 AND i.kind IN ('FeatureClass', 'Table')) "
             "AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum",
             {text(name)}, true},
            subtypesStatement(name),
        };
    }

    // The class from the results of loadStatements, from results[at] on; null when there is none.
    std::shared_ptr<ClassInfo> classFrom(const std::vector<PgResult>& results, std::size_t at) {
        const PGresult* r = results[at].get();
        if (PQntuples(r) == 0) return nullptr;
        auto info = std::make_shared<ClassInfo>();
        info->name = PQgetvalue(r, 0, 0);
        info->feature = std::string(PQgetvalue(r, 0, 1)) == "FeatureClass";
        info->dataset = PQgetvalue(r, 0, 2);
        info->alias = PQgetvalue(r, 0, 3);
        if (info->feature) {
            info->shapeType = esriGeometryType(pgValue(r, 0, 4).i);
            info->hasZ = pgValue(r, 0, 5).i != 0;
            info->srsId = std::int32_t(pgValue(r, 0, 6).i);
            info->hasSr = info->srsId == kWgs84;
            if (!PQgetisnull(r, 0, 7)) info->zmin = pgValue(r, 0, 7).d;
            if (!PQgetisnull(r, 0, 8)) info->zmax = pgValue(r, 0, 8).d;
        }
        info->subtypeField = PQgetvalue(r, 0, 9);
        info->defaultSubtype = LONG(pgValue(r, 0, 10).i);
        const PGresult* cols = results[at + 1].get();
        std::vector<std::string> types;
        std::vector<bool> notNull, refused;
        for (int i = 0; i < PQntuples(cols); ++i) {
            FieldInfo f = fieldOf(PQgetvalue(cols, i, 0), PQgetvalue(cols, i, 1), PQgetvalue(cols, i, 2),
                                  std::string(PQgetvalue(cols, i, 3)) == "t");
            if (f.type == esriFieldTypeOID && info->oid < 0) info->oid = int(info->fields.size());
            if (f.type == esriFieldTypeGeometry && info->shape < 0) info->shape = int(info->fields.size());
            info->fields.push_back(std::move(f));
            types.emplace_back(PQgetvalue(cols, i, 1));
            notNull.push_back(std::string(PQgetvalue(cols, i, 4)) == "t");
            refused.push_back(std::string(PQgetvalue(cols, i, 5)) == "t");
        }
        if (info->oid < 0) raise(GDB_E_BAD_SCHEMA, "table " + info->name + " has no object id column");
        if (info->feature && info->shape < 0) raise(GDB_E_BAD_SCHEMA, "feature class " + info->name + " lacks its geometry column");
        if (!info->subtypeField.empty()) {
            info->subtypes = subtypesFrom(results[at + 2].get());
        }
        if (info->alias.empty()) info->alias = info->name;
        for (std::size_t i = 0; i < info->fields.size(); ++i) {
            info->byName.emplace(lower(info->fields[i].name), int(i));
            if (i) info->selectList += ", ";
            info->selectList += columnOut(*info, int(i));
        }
        copyPlans_[lower(info->name)] = copyPlan(*info, types, notNull, refused);
        return info;
    }

    // How each column of the class takes a value by COPY (PgCopyColumn), as its server type says;
    // a column COPY would fill otherwise than the INSERT (one generated always) takes none.
    struct CopyPlan {
        std::vector<std::string> names;
        std::vector<PgCopyColumn> columns;
    };
    static CopyPlan copyPlan(const ClassInfo& ci, const std::vector<std::string>& types, const std::vector<bool>& notNull,
                             const std::vector<bool>& refused) {
        CopyPlan plan;
        for (std::size_t i = 0; i < ci.fields.size(); ++i) {
            PgCopyColumn c;
            c.notNull = notNull[i];
            const std::string& t = types[i];
            if (refused[i]) c.kind = PgCopyColumn::None;
            else if (t == "smallint") c.kind = PgCopyColumn::Int16;
            else if (t == "integer") c.kind = PgCopyColumn::Int32;
            else if (t == "bigint") c.kind = PgCopyColumn::Int64;
            else if (t == "double precision") c.kind = PgCopyColumn::Float;
            else if (t == "citext" || t == "text") c.kind = PgCopyColumn::Text;
            else if (t == "bytea") c.kind = PgCopyColumn::Bytea;
            else if (int(i) == ci.shape && ci.srsId > 0 && ci.shapeType != esriGeometryNull) {
                // Only the exact type the class's shapes are made of.
                std::string type = gpkgGeometryTypeName(ci.shapeType);
                std::uint32_t code = type == "POINT" ? 1 : type == "MULTIPOINT" ? 4 : type == "MULTILINESTRING" ? 5
                                                                                  : type == "MULTIPOLYGON"   ? 6 : 0;
                std::string name = type == "POINT" ? "Point" : type == "MULTIPOINT" ? "MultiPoint"
                                                         : type == "MULTILINESTRING" ? "MultiLineString" : "MultiPolygon";
                if (ci.hasZ) {
                    code += 1000;
                    name += "Z";
                }
                if (code % 1000 && t == "geometry(" + name + "," + std::to_string(ci.srsId) + ")") {
                    c.kind = PgCopyColumn::Shape;
                    c.wkbType = code;
                    c.srid = ci.srsId;
                }
            }
            plan.names.push_back(ci.fields[i].name);
            plan.columns.push_back(c);
        }
        return plan;
    }

    struct Pending {
        const ClassInfo* layout = nullptr;
        std::unique_ptr<PgInsertBatch> batch;
        std::string sequence;
        std::int64_t first = 0, next = 0;  // ids drawn: [first, next)
        std::int64_t moved = 0;            // the sequence moved past the ids before this one
    };

    // Statements whose caller waits for no answer, sent in one round trip before the next call's
    // (their failure is that call's); at once while rows are being read.
    void hold(std::vector<PgSession::Statement> statements) {
        guarded(
            [&] {
                beginWrite();
                if (readers_ > 0) s_->execAll(statements);
                else for (auto& st : statements) later_.push_back(std::move(st));
            },
            true);
    }
    // What was found missing is missing still while the writer lock is held, but for what this
    // connection makes (a rollback only takes away): a class, a class's topology.
    void forgetAbsent() {
        noClass_.clear();
        noTopology_.clear();
        aheadRead_ = false;
        ahead_.clear();
    }
    void sendLater() {
        if (later_.empty()) return;
        std::vector<PgSession::Statement> now;
        now.swap(later_);
        s_->execAll(now);
    }

    // The write transaction outside an edit session, or the session's own.
    void beginWrite() {
        if (s_->inTransaction()) return;
        s_->begin();
        forgetAbsent();
        s_->execReused(kWriterLock);
        batchStart_ = std::chrono::steady_clock::now();
    }
    void commitBatch() {
        if (editing_ || !s_->inTransaction()) return;
        flushInserts();
        inserts_.clear();
        forgetDrawn();
        s_->commit();
    }

    Pending& pending(const ClassInfo& ci) {
        Pending& p = inserts_[lower(ci.name)];
        if (p.layout == &ci && p.batch) return p;
        if (p.batch) flushOne(p);
        p.layout = &ci;
        std::vector<std::string> cols, holes;
        for (std::size_t i = 0; i < ci.fields.size(); ++i) {
            cols.push_back(ci.fields[i].name);
            holes.push_back(int(i) == ci.shape ? columnIn(ci, int(i), "$") : std::string());
        }
        std::vector<PgCopyColumn> copy;
        if (auto plan = copyPlans_.find(lower(ci.name)); plan != copyPlans_.end() && plan->second.names == cols)
            copy = plan->second.columns;
        p.batch = std::make_unique<PgInsertBatch>(*s_, ci.name, cols, holes, 65535 / cols.size(), std::move(copy));
        if (p.sequence.empty()) {
            // Ids are drawn under the writer lock: nobody else draws meanwhile, and the sequence is
            // moved past them when they are sent.
            if (!aheadRead_) readAhead();
            if (auto a = ahead_.find(lower(ci.name) + '\n' + ci.fields[std::size_t(ci.oid)].name); a != ahead_.end()) {
                p.sequence = a->second.sequence;
                p.first = p.next = p.moved = a->second.next;
                ahead_.erase(a);
            } else {
                PgResult r = s_->execReused("SELECT pg_get_serial_sequence($1, $2), nextval(pg_get_serial_sequence($1, $2))",
                                            {text(pgName(ci.name)), text(ci.fields[std::size_t(ci.oid)].name)});
                p.sequence = PQgetvalue(r.get(), 0, 0);
                p.first = p.next = p.moved = pgValue(r.get(), 0, 1).i;
            }
            drawn_.emplace(p.sequence, p.first);
        }
        return p;
    }
    // The next id of every class's sequence, read when the write transaction draws its first: in two
    // round trips, not one for each class drawn later, which would wait for the rows being sent
    // first. Only read, never drawn: a class that gets no row keeps its sequence as it was. A class
    // made since, or a sequence that counts otherwise than one by one, is drawn as it comes.
    void readAhead() {
        aheadRead_ = true;
        ahead_.clear();
        PgResult seqs = s_->execReused(
            "SELECT i.name::text, a.attname::text, pg_get_serial_sequence(format('%I.%I', n.nspname, c.relname), a.attname), "
            "q.seqmax FROM gdb_items i JOIN pg_class c ON c.relname = i.name::text AND c.relnamespace = current_schema()::regnamespace "
            "JOIN pg_namespace n ON n.oid = c.relnamespace JOIN pg_depend d ON d.classid = 'pg_class'::regclass AND "
            "d.refclassid = 'pg_class'::regclass AND d.refobjid = c.oid AND d.deptype = 'i' JOIN pg_attribute a ON "
            "a.attrelid = c.oid AND a.attnum = d.refobjsubid JOIN pg_sequence q ON q.seqrelid = d.objid AND q.seqincrement = 1 "
            "AND q.seqcache = 1 WHERE i.kind IN ('FeatureClass', 'Table') AND has_sequence_privilege(d.objid, 'SELECT')");
        const PGresult* r = seqs.get();
        std::vector<PgSession::Statement> reads;
        for (int i = 0; i < PQntuples(r); ++i)
            reads.push_back({"SELECT last_value, is_called FROM " + std::string(PQgetvalue(r, i, 2)), {}});
        const std::vector<PgResult> states = s_->execAll(reads);
        for (int i = 0; i < PQntuples(r); ++i) {
            const PGresult* state = states[std::size_t(i)].get();
            if (PQntuples(state) != 1) continue;
            const std::int64_t last = pgValue(state, 0, 0).i, max = pgValue(r, i, 3).i;
            const bool called = std::string(PQgetvalue(state, 0, 1)) == "t";
            // At its end the sequence refuses the draw itself.
            if (called ? last >= max : last > max) continue;
            const std::int64_t next = called ? last + 1 : last;
            ahead_[lower(PQgetvalue(r, i, 0)) + '\n' + PQgetvalue(r, i, 1)] = {PQgetvalue(r, i, 2), next};
        }
    }
    // Where each sequence drawn this transaction stands: the next id its class hands out.
    void noteNext() {
        for (const auto& [name, p] : inserts_)
            if (!p.sequence.empty()) next_[p.sequence] = p.next;
    }
    void forgetDrawn() {
        drawn_.clear();
        next_.clear();
        marks_.clear();
    }
    // A discarded edit session's ids are drawn again by the next, as the GeoPackage's
    // AUTOINCREMENT rolls back with it (sequences do not): set back while the lock is still held.
    void giveIdsBack() {
        for (const auto& [sequence, first] : drawn_)
            s_->execReused("SELECT setval($1::regclass, $2::bigint, false)", {text(sequence), integer(first)});
    }
    static PgSession::Statement movedPast(const Pending& p) {
        return {"SELECT setval($1::regclass, $2::bigint)", {text(p.sequence), integer(p.next - 1)}, true};
    }
    void flushOne(Pending& p) {
        p.batch->send();
        if (p.next > p.moved) {
            s_->execReused(movedPast(p).sql, movedPast(p).params);
            p.moved = p.next;
        }
    }
    // Every class's rows, then their sequences moved on together: each past every id drawn, those of
    // rows sent before as well (a class whose rows all went already). The rows are stored by then,
    // or their error thrown.
    void flushInserts() {
        std::vector<PgSession::Statement> sequences;
        for (auto& [name, p] : inserts_) {
            if (p.batch) p.batch->send();
            if (p.next > p.moved) sequences.push_back(movedPast(p));
        }
        s_->settle();
        s_->execAll(sequences);
        for (auto& [name, p] : inserts_) p.moved = p.next;
    }

    // The column as selected: a shape as little-endian ISO WKB.
    static std::string columnOut(const ClassInfo& ci, int i) {
        const std::string n = sqlName(ci.fields[std::size_t(i)].name);
        return i == ci.shape ? "ST_AsBinary(" + n + ", 'NDR')" : n;
    }
    static std::string columnIn(const ClassInfo& ci, int i, const std::string& param) {
        return i == ci.shape ? "ST_GeomFromWKB(" + param + "::bytea, " + std::to_string(ci.srsId) + ")" : param;
    }
    static std::string oidName(const ClassInfo& ci) { return sqlName(ci.fields[std::size_t(ci.oid)].name); }

    std::string selection(const ClassInfo& ci, const RowFilter& filter, const std::string& columns, const std::string& orderBy,
                          std::vector<Val>& params) {
        flushInserts();
        std::string sql = "SELECT " + columns + " FROM " + sqlName(ci.name);
        std::string cond;
        if (filter.prefilter && ci.shape >= 0) {
            // The index's boxes are rounded outward as the GeoPackage's R-tree: candidates only.
            cond = sqlName(ci.fields[std::size_t(ci.shape)].name) + " && ST_MakeEnvelope($1::float8, $2::float8, $3::float8, $4::float8, " +
                   std::to_string(ci.srsId) + ")";
            params = {real(filter.extent.xmin), real(filter.extent.ymin), real(filter.extent.xmax), real(filter.extent.ymax)};
        }
        if (!filter.where.empty()) cond += (cond.empty() ? "(" : " AND (") + pgWhereClause(ci, filter.where) + ")";
        if (!cond.empty()) sql += " WHERE " + cond;
        if (!orderBy.empty()) sql += " ORDER BY " + orderBy;
        return sql;
    }

    static PgSession::Statement subtypesStatement(const std::string& className) {
        return {"SELECT code, name FROM gdb_subtypes WHERE class_name = $1 ORDER BY code", {text(className)}, true};
    }
    static std::vector<std::pair<LONG, std::string>> subtypesFrom(const PGresult* r) {
        std::vector<std::pair<LONG, std::string>> out;
        for (int i = 0; i < PQntuples(r); ++i) out.emplace_back(LONG(pgValue(r, i, 0).i), PQgetvalue(r, i, 1));
        return out;
    }
    static PgSession::Statement subtypeItem(const ClassInfo& ci) {
        return {"INSERT INTO gdb_items (name, kind) VALUES ($1, $2) ON CONFLICT (name) DO NOTHING",
                {text(ci.name), text(ci.feature ? "FeatureClass" : "Table")}, true};
    }
    std::vector<std::string> names(const std::string& sql, const std::string& key) {
        return guarded([&] {
            std::vector<std::string> out;
            PgResult r = s_->execReused(sql, {text(key)});
            for (int i = 0; i < PQntuples(r.get()); ++i) out.push_back(PQgetvalue(r.get(), i, 0));
            return out;
        });
    }

    std::unique_ptr<PgSession> s_;
    bool editing_ = false;
    bool lost_ = false;
    int operations_ = 0;
    int readers_ = 0;
    std::uint64_t generation_ = 0;
    std::chrono::steady_clock::time_point batchStart_;
    std::vector<PgSession::Statement> later_;  // held back by hold()
    std::set<std::string> noClass_, noTopology_;  // lower-cased names found missing this transaction
    std::map<std::string, Pending> inserts_;  // lower-cased class name: rows waiting to be sent
    std::map<std::string, std::int64_t> drawn_;  // sequence: the first id it gave this transaction
    std::map<std::string, std::int64_t> next_;   // sequence: the next id to give, as last noted
    std::vector<std::map<std::string, std::int64_t>> marks_;  // next_ as each open operation found it
    std::map<std::string, CopyPlan> copyPlans_;  // lower-cased class name, as last read
    struct Ahead {
        std::string sequence;
        std::int64_t next = 0;
    };
    bool aheadRead_ = false;                // readAhead() ran in this write transaction
    std::map<std::string, Ahead> ahead_;    // lower-cased class name, '\n', id column: not drawn yet
};

PgRows::PgRows(PgStore& store, PgSession& s, const std::string& sql, const std::vector<Val>& params,
               std::shared_ptr<const SpatialPredicate> predicate, int shapeColumn, std::int32_t srsId)
    : store_(store), predicate_(std::move(predicate)), shapeColumn_(shapeColumn), srsId_(srsId) {
    reader_ = std::make_unique<PgRowReader>(s, sql, params);
    store_.addReader();
}

PgRows::~PgRows() {
    reader_.reset();
    store_.dropReader();
}

bool PgRows::next(std::vector<Val>& row) {
    return store_.guarded([&] {
        while (reader_->next(row)) {
            if (shapeColumn_ >= 0) {
                Val& shape = row[std::size_t(shapeColumn_)];
                if (shape.kind == Val::Blob) shape.s = gpkgBlobOfWkb(shape.s, srsId_);
                if (predicate_ && (shape.kind != Val::Blob || !predicate_->matchesBlob(shape.s.data(), shape.s.size()))) continue;
            }
            return true;
        }
        return false;
    });
}

}  // namespace

std::unique_ptr<GdbStore> makePgStore(std::unique_ptr<PgSession> session) { return std::make_unique<PgStore>(std::move(session)); }

}  // namespace gdb
