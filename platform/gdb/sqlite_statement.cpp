// platform/gdb/sqlite_statement.cpp: SQLite statements for the GeoPackage storage.
#include "platform/gdb/sqlite_statement.h"

#include <cctype>
#include <cerrno>

namespace gdb {

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

SqlError::SqlError(sqlite3* db, int rc, std::string_view sql)
    : SqlError("SQLite error " + std::to_string(rc) + " (" + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)) +
                   ") in: " + std::string(sql),
               rc, db ? sqlite3_system_errno(db) : 0) {}

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

std::string columnText(sqlite3_stmt* st, int i) {
    const unsigned char* t = sqlite3_column_text(st, i);
    return t ? std::string(reinterpret_cast<const char*>(t), std::size_t(sqlite3_column_bytes(st, i))) : std::string();
}

void bindText(sqlite3_stmt* st, int i, std::string_view v) {
    int rc = sqlite3_bind_text(st, i, v.data(), int(v.size()), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) throw SqlError(sqlite3_db_handle(st), rc, sqlite3_sql(st));
}

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

}  // namespace gdb
