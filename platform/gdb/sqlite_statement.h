// platform/gdb/sqlite_statement.h: SQLite statements for the GeoPackage storage: preparing one
// statement (never two), stepping it, binding and reading values, and the error that carries the
// SQL, SQLite's words and the result code a user can act on.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>

#include "platform/gdb/gdb_com_object.h"
#include "platform/gdb/gdb_value.h"

namespace gdb {

// The result code of an SQLite failure that a user can act on; GDB_E_SQL for the rest.
HRESULT resultOfSqlite(int rc, int systemErrno);

class SqlError : public StoreError {
public:
    SqlError(sqlite3* db, int rc, std::string_view sql);
    explicit SqlError(const std::string& text) : StoreError(text) {}
    int rc() const { return rc_; }
    int systemErrno() const { return errno_; }

private:
    SqlError(const std::string& text, int rc, int systemErrno)
        : StoreError(text, resultOfSqlite(rc, systemErrno)), rc_(rc), errno_(systemErrno) {}
    int rc_ = SQLITE_ERROR;
    int errno_ = 0;  // what the operating system said, for an I/O failure
};

struct Finalize {
    void operator()(sqlite3_stmt* s) const noexcept { sqlite3_finalize(s); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, Finalize>;

Stmt prepare(sqlite3* db, std::string_view sql);
// Runs a statement to SQLITE_ROW or SQLITE_DONE; true for a row.
bool step(sqlite3_stmt* st);

std::string columnText(sqlite3_stmt* st, int i);
void bindText(sqlite3_stmt* st, int i, std::string_view v);
Val readColumn(sqlite3_stmt* st, int i);
void bindVal(sqlite3_stmt* st, int i, const Val& v);

}  // namespace gdb
