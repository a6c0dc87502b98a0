// platform/gdb/pg_session.cpp: the libpq connection of the enterprise geodatabase.
#include "platform/gdb/pg_session.h"

#include <algorithm>
#include <atomic>
#include <charconv>

#include "platform/com/bstr.h"
#include "platform/com/com_error.h"
#include "platform/gdb/gdb.h"
#include "platform/gdb/pg_schema.h"

namespace gdb {
namespace {

// A server's message with the password cut out, should it ever quote it.
std::string withoutSecret(std::string text, const std::string& password) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    if (password.empty()) return text;
    for (auto at = text.find(password); at != std::string::npos; at = text.find(password, at)) text.replace(at, password.size(), "***");
    return text;
}

// Type oids of the built-in types (pg_type.h), stable across servers.
constexpr Oid kInt8 = 20, kInt2 = 21, kInt4 = 23, kFloat4 = 700, kFloat8 = 701, kBytea = 17, kBool = 16;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

PgSession::PgSession(SdeConnection conn) : conn_(std::move(conn)) {
    const std::string info = conn_.conninfo() + " connect_timeout=10 fallback_application_name=tarvo";
    c_.reset(PQconnectdb(info.c_str()));
    if (!c_) throw _com_error(E_OUTOFMEMORY, fromUtf8("out of memory"));
    if (PQstatus(c_.get()) != CONNECTION_OK)
        throw _com_error(GDB_E_CONNECTION, fromUtf8("cannot connect to the enterprise geodatabase (" + conn_.describe() +
                                                    "): " + withoutSecret(PQerrorMessage(c_.get()), conn_.password)));
    // The server's notices ("already exists, skipping") are nobody's business on the terminal.
    PQsetNoticeProcessor(c_.get(), [](void*, const char*) {}, nullptr);
    // Values travel as UTF-8 whatever the server's default, and floating numbers in their
    // shortest exact form.
    exec("SET client_encoding TO 'UTF8'");
    exec("SET extra_float_digits TO 3");
}

void PgSession::fail(long hr, const std::string& why) const {
    throw _com_error(HRESULT(hr), fromUtf8("enterprise geodatabase (" + conn_.describe() + "): " +
                                           withoutSecret(why, conn_.password)));
}

PgResult PgSession::exec(const std::string& sql, const std::vector<Val>& params) {
    std::vector<std::string> text(params.size());
    std::vector<const char*> values(params.size(), nullptr);
    std::vector<int> lengths(params.size(), 0);
    std::vector<int> formats(params.size(), 0);
    for (std::size_t i = 0; i < params.size(); ++i) {
        const Val& v = params[i];
        switch (v.kind) {
            case Val::Null: continue;
            case Val::Int: text[i] = std::to_string(v.i); break;
            case Val::Real: text[i] = formatDouble(v.d); break;
            case Val::Text: text[i] = v.s; break;
            case Val::Blob:
                // Bytes go as they are (binary format), zero bytes and all.
                values[i] = v.s.data();
                lengths[i] = int(v.s.size());
                formats[i] = 1;
                continue;
        }
        values[i] = text[i].c_str();
        lengths[i] = int(text[i].size());
    }
    PgResult r(PQexecParams(c_.get(), sql.c_str(), int(params.size()), nullptr, values.data(), lengths.data(),
                            formats.data(), 0));
    const ExecStatusType st = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) {
        const HRESULT hr = PQstatus(c_.get()) == CONNECTION_OK ? GDB_E_SQL : GDB_E_CONNECTION;
        fail(hr, std::string(r ? PQresultErrorMessage(r.get()) : PQerrorMessage(c_.get())) + " in: " + sql);
    }
    return r;
}

void PgSession::begin() {
    if (depth_ > 0) fail(GDB_E_SQL, "an edit session is already open");
    exec("BEGIN");
    depth_ = 1;
}

void PgSession::commit() {
    if (depth_ == 0) fail(GDB_E_SQL, "no edit session to save");
    depth_ = 0;
    exec("COMMIT");
}

void PgSession::rollback() {
    if (depth_ == 0) return;
    depth_ = 0;
    PgResult(PQexec(c_.get(), "ROLLBACK"));
}

void PgSession::savepoint(const std::string& name) {
    if (depth_ == 0) fail(GDB_E_SQL, "a savepoint needs an edit session");
    exec("SAVEPOINT " + pgName(name));
}

void PgSession::release(const std::string& name) { exec("RELEASE SAVEPOINT " + pgName(name)); }

void PgSession::rollbackTo(const std::string& name) {
    exec("ROLLBACK TO SAVEPOINT " + pgName(name));
    exec("RELEASE SAVEPOINT " + pgName(name));
}

Val pgValue(const PGresult* r, int row, int column) {
    Val v;
    if (PQgetisnull(r, row, column)) return v;
    const char* text = PQgetvalue(r, row, column);
    const std::size_t size = std::size_t(PQgetlength(r, row, column));
    if (PQfformat(r, column) == 1) {
        v.kind = Val::Blob;
        v.s.assign(text, size);
        return v;
    }
    switch (PQftype(r, column)) {
        case kInt2:
        case kInt4:
        case kInt8:
            v.kind = Val::Int;
            std::from_chars(text, text + size, v.i);
            return v;
        case kBool:
            v.kind = Val::Int;
            v.i = text[0] == 't' ? 1 : 0;
            return v;
        case kFloat4:
        case kFloat8: {
            v.kind = Val::Real;
            // A real is the float the server holds, widened, not the nearest double to its digits;
            // from_chars reads "Infinity" and "NaN" too, whatever the locale.
            if (PQftype(r, column) == kFloat4) {
                float f = 0;
                std::from_chars(text, text + size, f);
                v.d = f;
            } else {
                std::from_chars(text, text + size, v.d);
            }
            return v;
        }
        case kBytea:
            // Hex form: "\x" then two digits a byte.
            v.kind = Val::Blob;
            if (size >= 2 && text[0] == '\\' && text[1] == 'x') {
                v.s.reserve((size - 2) / 2);
                for (std::size_t i = 2; i + 1 < size; i += 2)
                    v.s += char(hexDigit(text[i]) * 16 + hexDigit(text[i + 1]));
            }
            return v;
        default:
            v.kind = Val::Text;
            v.s.assign(text, size);
            return v;
    }
}

PgRowReader::PgRowReader(PgSession& session, const std::string& sql, const std::vector<Val>& params, int chunk)
    : session_(session), chunk_(std::max(1, chunk)) {
    static std::atomic<unsigned> counter{0};
    name_ = "gdb_cursor" + std::to_string(++counter);
    session_.exec("DECLARE " + name_ + " NO SCROLL CURSOR " + (session_.inTransaction() ? "" : "WITH HOLD ") + "FOR " + sql,
                  params);
}

PgRowReader::~PgRowReader() {
    // The transaction may have ended it already, or the server gone: nothing to report then.
    if (PQstatus(session_.raw()) == CONNECTION_OK && PQtransactionStatus(session_.raw()) != PQTRANS_INERROR)
        PgResult(PQexec(session_.raw(), ("CLOSE " + name_).c_str()));
}

bool PgRowReader::next(std::vector<Val>& row) {
    if (!rows_ || at_ >= PQntuples(rows_.get())) {
        if (done_) return false;
        rows_ = session_.exec("FETCH FORWARD " + std::to_string(chunk_) + " FROM " + name_);
        at_ = 0;
        if (PQntuples(rows_.get()) < chunk_) done_ = true;
        if (PQntuples(rows_.get()) == 0) return false;
    }
    const int columns = PQnfields(rows_.get());
    row.resize(std::size_t(columns));
    for (int c = 0; c < columns; ++c) row[std::size_t(c)] = pgValue(rows_.get(), at_, c);
    ++at_;
    return true;
}

PgInsertBatch::PgInsertBatch(PgSession& session, std::string table, std::vector<std::string> columns,
                             std::vector<std::string> placeholders, std::size_t rowsPerStatement)
    : session_(session), table_(std::move(table)), columns_(std::move(columns)), placeholders_(std::move(placeholders)) {
    if (columns_.empty()) session_.fail(GDB_E_SQL, "an insert into " + table_ + " without columns");
    placeholders_.resize(columns_.size());
    // The protocol carries at most 65535 parameters a statement.
    rowsPerStatement_ = std::clamp<std::size_t>(rowsPerStatement, 1, 65535 / columns_.size());
}

void PgInsertBatch::add(std::vector<Val> row) {
    if (row.size() != columns_.size())
        session_.fail(GDB_E_SQL, "a row of " + std::to_string(row.size()) + " values for the " +
                                     std::to_string(columns_.size()) + " columns of " + table_);
    for (auto& v : row) rows_.push_back(std::move(v));
    if (pending() >= rowsPerStatement_) flush();
}

void PgInsertBatch::flush() {
    if (rows_.empty()) return;
    std::string sql = "INSERT INTO " + pgName(table_) + " (";
    for (std::size_t c = 0; c < columns_.size(); ++c) sql += (c ? ", " : "") + pgName(columns_[c]);
    sql += ") VALUES ";
    int n = 0;
    for (std::size_t r = 0; r < pending(); ++r) {
        sql += r ? ", (" : "(";
        for (std::size_t c = 0; c < columns_.size(); ++c) {
            const std::string param = "$" + std::to_string(++n);
            std::string p = placeholders_[c].empty() ? param : placeholders_[c];
            if (!placeholders_[c].empty())
                if (auto at = p.find('$'); at != std::string::npos) p.replace(at, 1, param);
            sql += (c ? ", " : "") + p;
        }
        sql += ")";
    }
    std::vector<Val> rows = std::move(rows_);
    rows_.clear();
    session_.exec(sql, rows);
}

}  // namespace gdb
