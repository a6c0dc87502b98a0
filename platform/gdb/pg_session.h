// platform/gdb/pg_session.h: one libpq connection of the enterprise geodatabase: statements with
// their values bound as parameters (never pasted into the SQL), edit sessions as a transaction
// with savepoints, rows inserted in batches (sent by a thread of the session's own while the caller
// goes on), and values read back as the GeoPackage backend reads them. Errors are _com_error
// naming server and database, never the password.
#pragma once

#include <libpq-fe.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/gdb/gdb_value.h"
#include "platform/gdb/sde_connection.h"

namespace gdb {

struct PgFinish {
    void operator()(PGconn* c) const noexcept { PQfinish(c); }
};
using PgConn = std::unique_ptr<PGconn, PgFinish>;
struct PgClear {
    void operator()(PGresult* r) const noexcept { PQclear(r); }
};
using PgResult = std::unique_ptr<PGresult, PgClear>;

class PgSession {
public:
    // Connects; GDB_E_CONNECTION when the server refuses.
    explicit PgSession(SdeConnection conn);
    // The session of this process kept by keep() when it reaches the same server, database and user
    // (as libpq's environment names them too), else a new one (the constructor); a kept one that
    // does not is closed. A workspace opened after another closed (a template made, then a cell
    // imported) goes on with its connection instead of making another, whose server process would
    // learn the catalogue anew.
    static std::unique_ptr<PgSession> open(const SdeConnection& conn);
    // Keeps a session that is sound and outside any transaction for the next open(), in place of
    // the one kept before; closes it otherwise.
    static void keep(std::unique_ptr<PgSession> session);
    ~PgSession();
    PgSession(const PgSession&) = delete;
    PgSession& operator=(const PgSession&) = delete;

    const SdeConnection& connection() const { return conn_; }
    // Whether this session may run DO blocks (PL/pgSQL there and ours to use).
    bool plpgsql() const { return plpgsql_; }
    // The connection, once the work handed over (defer) is done.
    PGconn* raw() const;

    // One statement, each value a parameter ($1, $2, ...); GDB_E_SQL on an error.
    PgResult exec(const std::string& sql, const std::vector<Val>& params = {});

    // As exec, for a statement the session runs again and again (a fixed text over the side tables
    // or the catalogue): parsed and planned by the server once a connection.
    PgResult execReused(const std::string& sql, const std::vector<Val>& params = {});

    // Statements sent together and answered together (one round trip), their results in order. The
    // first that fails ends it: those after it are not run, and its error is thrown as exec's. Outside
    // a transaction they run in one of their own. A statement marked reused goes as execReused's.
    struct Statement {
        std::string sql;
        std::vector<Val> params;
        bool reused = false;
    };
    std::vector<PgResult> execAll(const std::vector<Statement>& statements);

    // "COPY ... FROM STDIN" with its rows, a chunk at a time: next fills the chunk
    // it is given (empty) and says whether there was one; GDB_E_SQL on an error.
    void copyIn(const std::string& sql, const std::function<bool(std::string& chunk)>& next);

    // Work on the connection whose caller waits for no answer (rows going by COPY): done in order on
    // the session's thread while the caller goes on. Every other call waits for it first; its error
    // is thrown by the next call that uses the connection (or hands over more work), and the work
    // handed over after it is not done.
    void defer(std::function<void()> work);
    // Waits for the work handed over; throws its error.
    void settle();

    // The edit session: a transaction; operations inside it are savepoints.
    bool inTransaction() const { return depth_ > 0; }
    void begin();
    void commit();
    void rollback();  // never throws: the server may be gone
    void savepoint(const std::string& name);
    void release(const std::string& name);
    void rollbackTo(const std::string& name);

    // The message of an error on this connection: server, database, and the server's words.
    [[noreturn]] void fail(long hr, const std::string& why) const;

private:
    SdeConnection conn_;
    std::string key_;  // whom it reaches (open, keep)
    PgConn c_;
    int depth_ = 0;
    bool plpgsql_ = false;
    std::map<std::string, std::string> prepared_;  // statement text: its name on the server
    struct Worker;
    std::unique_ptr<Worker> worker_;  // started by the first defer
    void idle() const noexcept;  // waits for the work handed over, keeping its error for settle
};

// Value i of a result row, converted as SQLite hands values to the GeoPackage backend: integers
// as Int, floating numbers as Real, bytea as Blob, everything else as Text, SQL NULL as Null.
Val pgValue(const PGresult* r, int row, int column);

// The rows of a query read a chunk at a time through a server-side cursor, so that a large table
// does not come to the client at once, while the session stays free for other statements (an
// insert cursor beside a search cursor). Outside an edit session the cursor outlives the
// transaction of its own (WITH HOLD); inside one it ends with it.
class PgRowReader {
public:
    PgRowReader(PgSession& session, const std::string& sql, const std::vector<Val>& params = {}, int chunk = 1000);
    ~PgRowReader();
    PgRowReader(const PgRowReader&) = delete;
    PgRowReader& operator=(const PgRowReader&) = delete;

    // The next row's values into row; false after the last.
    bool next(std::vector<Val>& row);

private:
    PgSession& session_;
    std::string name_;
    int chunk_;
    PgResult rows_;
    int at_ = 0;
    bool done_ = false;
};

// How a column of the table takes a value in COPY's binary form, for the values of which that stores
// what the INSERT stores and fails where it fails: an integer in its type's range, a floating or
// whole number as double precision, valid UTF-8 as text, bytes as bytea, and a shape (ISO WKB, as
// ST_GeomFromWKB(wkb, srid) takes it) of exactly the column's geometry type, which the server's
// checks of ST_GeomFromWKB pass (lines of two points or more, closed rings of four or more).
struct PgCopyColumn {
    enum Kind { None, Int16, Int32, Int64, Float, Text, Bytea, Shape };
    Kind kind = None;
    bool notNull = false;
    std::uint32_t wkbType = 0;  // Shape: the ISO WKB type code, Z included
    std::int32_t srid = 0;      // Shape
};

// Whether the column's kind takes v by COPY as the INSERT would (see PgCopyColumn).
bool pgCopyTakes(const PgCopyColumn& column, const Val& v);

// Rows for one table sent as multi-row INSERT statements, as many rows a statement as its
// parameters allow, so that an edit session does not pay one round trip a row. Given how each
// column takes a value (copy), a batch whose every value the columns take goes by COPY instead:
// the server parses one stream of rows rather than a statement of thousands of parameters.
// Batches go by the session's defer: the server stores one while the caller makes the next.
class PgInsertBatch {
public:
    // columns are the names as in the table; placeholder, when given, wraps the parameter of that
    // column ("ST_GeomFromWKB($, 4326)", "$" standing for it).
    PgInsertBatch(PgSession& session, std::string table, std::vector<std::string> columns,
                  std::vector<std::string> placeholders = {}, std::size_t rowsPerStatement = 1000,
                  std::vector<PgCopyColumn> copy = {});
    ~PgInsertBatch() = default;

    void add(std::vector<Val> row);  // hands the rows over (send) once enough wait
    void send();                     // hands what waits over to the session (defer)
    void flush();                    // sends what waits and waits for the server (send, settle)
    std::size_t pending() const { return rows_.size() / layout_->columns.size(); }

private:
    struct Layout {
        std::string table;
        std::vector<std::string> columns;
        std::vector<std::string> placeholders;
        std::size_t rowsPerStatement;
        std::vector<PgCopyColumn> copy;
    };
    PgSession& session_;
    std::shared_ptr<const Layout> layout_;
    std::vector<Val> rows_;
    std::size_t bytes_ = 0;  // about what the rows waiting take as sent
    static constexpr std::size_t kSendBytes = std::size_t(1) << 17;
    static void store(PgSession& session, const Layout& layout, std::vector<Val>& rows);
    static bool sendCopy(PgSession& session, const Layout& layout, const std::vector<Val>& rows);
};

}  // namespace gdb
