// platform/gdb/pg_session.cpp: the libpq connection of the enterprise geodatabase.
#include "platform/gdb/pg_session.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include <unistd.h>

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

// Whom a connection reaches: the connection string and what libpq's environment adds to it.
std::string reachKey(const SdeConnection& conn) {
    std::string key = conn.conninfo();
    if (PQconninfoOption* defaults = PQconndefaults()) {
        for (const PQconninfoOption* o = defaults; o->keyword; ++o)
            if (o->envvar && o->val) key += std::string("\n") + o->keyword + "=" + o->val;
        PQconninfoFree(defaults);
    }
    return key;
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

// The work a session hands over, done in order on a thread of its own. The connection is used by
// one thread at a time: the caller's only while nothing waits here and nothing runs.
struct PgSession::Worker {
    std::mutex m;
    std::condition_variable wake, done;
    std::deque<std::function<void()>> work;
    bool busy = false, stop = false;
    std::exception_ptr error;  // of the first work that failed; the work after it is dropped
    std::thread thread;

    // Work handed over no further than this ahead: rows wait on the client no longer than that.
    static constexpr std::size_t kAhead = 4;

    static bool& onThread() {
        thread_local bool on = false;
        return on;
    }
    void run() {
        onThread() = true;
        for (;;) {
            std::function<void()> next;
            {
                std::unique_lock<std::mutex> lock(m);
                wake.wait(lock, [&] { return stop || !work.empty(); });
                if (work.empty()) return;
                next = std::move(work.front());
                work.pop_front();
                busy = !error;
            }
            done.notify_all();  // room for more
            std::exception_ptr failed;
            if (busy) {
                try {
                    next();
                } catch (...) {
                    failed = std::current_exception();
                }
            }
            next = nullptr;  // the rows freed here, not under the lock
            {
                std::lock_guard<std::mutex> lock(m);
                if (failed && !error) error = std::move(failed);
                failed = nullptr;  // a copy freed under the lock, as the caller's is
                busy = false;
            }
            done.notify_all();
        }
    }
};

PgSession::~PgSession() {
    if (!worker_) return;
    {
        std::lock_guard<std::mutex> lock(worker_->m);
        worker_->stop = true;
    }
    worker_->wake.notify_all();
    worker_->thread.join();
}

void PgSession::idle() const noexcept {
    if (!worker_ || Worker::onThread()) return;
    std::unique_lock<std::mutex> lock(worker_->m);
    worker_->done.wait(lock, [&] { return worker_->work.empty() && !worker_->busy; });
}

PGconn* PgSession::raw() const {
    idle();
    return c_.get();
}

void PgSession::settle() {
    if (!worker_ || Worker::onThread()) return;
    idle();
    std::exception_ptr error;
    {
        std::lock_guard<std::mutex> lock(worker_->m);
        error = std::exchange(worker_->error, nullptr);
    }
    if (error) std::rethrow_exception(error);
}

void PgSession::defer(std::function<void()> work) {
    if (Worker::onThread()) {
        work();
        return;
    }
    if (!worker_) {
        auto worker = std::make_unique<Worker>();
        try {
            worker->thread = std::thread([w = worker.get()] { w->run(); });
        } catch (const std::system_error&) {
            work();  // no thread to be had: done here, as it was before there was one
            return;
        }
        worker_ = std::move(worker);
    }
    {
        std::unique_lock<std::mutex> lock(worker_->m);
        worker_->done.wait(lock, [&] { return worker_->work.size() < Worker::kAhead || worker_->error; });
        // After a failure nothing more is done; the failure is thrown by the next call that waits
        // for the worker (settle), never here: which call reports it must not depend on timing.
        if (worker_->error) return;
        worker_->work.push_back(std::move(work));
    }
    worker_->wake.notify_one();
}

PgSession::PgSession(SdeConnection conn) : conn_(std::move(conn)), key_(reachKey(conn_)) {
    const std::string info = conn_.conninfo() + " connect_timeout=10 fallback_application_name=tarvo";
    c_.reset(PQconnectdb(info.c_str()));
    if (!c_) throw _com_error(E_OUTOFMEMORY, fromUtf8("out of memory"));
    if (PQstatus(c_.get()) != CONNECTION_OK)
        throw _com_error(GDB_E_CONNECTION, fromUtf8("cannot connect to the enterprise geodatabase (" + conn_.describe() +
                                                    "): " + withoutSecret(PQerrorMessage(c_.get()), conn_.password)));
    // The server's notices ("already exists, skipping") are nobody's business on the terminal.
    PQsetNoticeProcessor(c_.get(), [](void*, const char*) {}, nullptr);
    // Values travel as UTF-8 whatever the server's default, and floating numbers in their
    // shortest exact form. Large shapes are compressed with lz4 where the server has it: several
    // times faster to store and read than the default, the values the same.
    // Whether DO blocks run here decides how a class's columns get their comments.
    auto r = execAll({{"SET client_encoding TO 'UTF8'", {}},
                      {"SET extra_float_digits TO 3", {}},
                      {"SELECT set_config(name, 'lz4', false) FROM pg_settings WHERE name = 'default_toast_compression' AND "
                       "'lz4' = ANY(enumvals)",
                       {}},
                      {"SELECT coalesce((SELECT has_language_privilege(oid, 'USAGE') FROM pg_language WHERE lanname = 'plpgsql'), "
                       "false)",
                       {}}});
    plpgsql_ = std::string(PQgetvalue(r.back().get(), 0, 0)) == "t";
}

namespace {

// Sessions kept for the next open(), of this process only (a child after fork shares the parent's
// sockets: it never uses nor closes them). The list is never destroyed (a workspace may close
// during exit); the sessions in it are closed at exit, so that their server processes end at once.
struct KeptSession {
    pid_t pid;
    std::string key;
    std::unique_ptr<PgSession> session;
    std::chrono::steady_clock::time_point since;
};
// A kept connection serves workspaces opened one after another (a template, then the cell), not
// later ones: those log in again, so that a role the server no longer lets in is refused.
constexpr std::chrono::seconds kKeptFor{2};
std::mutex& keptMutex() {
    static auto* m = new std::mutex;
    return *m;
}
std::vector<KeptSession>& kept() {
    static auto* k = new std::vector<KeptSession>;
    return *k;
}

// The sessions this process keeps, taken out of the list (to be closed outside its lock).
std::vector<KeptSession> takeKept() {
    std::vector<KeptSession> taken;
    std::lock_guard<std::mutex> lock(keptMutex());
    auto& all = kept();
    for (auto it = all.begin(); it != all.end();) {
        if (it->pid == ::getpid()) {
            taken.push_back(std::move(*it));
            it = all.erase(it);
        } else {
            ++it;
        }
    }
    return taken;
}

void closeKept() { takeKept(); }

}  // namespace

std::unique_ptr<PgSession> PgSession::open(const SdeConnection& conn) {
    const std::string key = reachKey(conn);
    std::unique_ptr<PgSession> found;
    std::vector<KeptSession> others;
    {
        // The one kept is taken, or closed: no connection idles beside the ones in use.
        std::lock_guard<std::mutex> lock(keptMutex());
        auto& all = kept();
        for (auto it = all.begin(); it != all.end();) {
            if (it->pid != ::getpid()) {
                ++it;
            } else {
                if (it->key == key && !found && std::chrono::steady_clock::now() - it->since < kKeptFor)
                    found = std::move(it->session);
                else others.push_back(std::move(*it));
                it = all.erase(it);
            }
        }
    }
    others.clear();
    // One that the server ended meanwhile says so once asked: a new one then.
    if (found && PQconsumeInput(found->c_.get()) == 1 && PQstatus(found->c_.get()) == CONNECTION_OK &&
        PQtransactionStatus(found->c_.get()) == PQTRANS_IDLE)
        return found;
    found.reset();
    return std::make_unique<PgSession>(conn);
}

void PgSession::keep(std::unique_ptr<PgSession> session) {
    if (!session) return;
    session->idle();
    if (session->depth_ != 0 || PQstatus(session->c_.get()) != CONNECTION_OK ||
        PQtransactionStatus(session->c_.get()) != PQTRANS_IDLE)
        return;
    // A failure nobody was told of would be thrown at the next workspace's first call.
    if (session->worker_) {
        std::lock_guard<std::mutex> lock(session->worker_->m);
        if (session->worker_->error) return;
    }
    static const bool closedAtExit = std::atexit(closeKept) == 0;
    (void)closedAtExit;
    // One kept is enough for workspaces opened one after another.
    const std::vector<KeptSession> closed = takeKept();
    std::lock_guard<std::mutex> lock(keptMutex());
    kept().push_back({::getpid(), session->key_, std::move(session), std::chrono::steady_clock::now()});
}

void PgSession::fail(long hr, const std::string& why) const {
    throw _com_error(HRESULT(hr), fromUtf8("enterprise geodatabase (" + conn_.describe() + "): " +
                                           withoutSecret(why, conn_.password)));
}

namespace {

// Parameters as libpq takes them: numbers and text in text form, bytes as they are.
struct Params {
    std::vector<std::string> text;
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    explicit Params(const std::vector<Val>& params)
        : text(params.size()), values(params.size(), nullptr), lengths(params.size(), 0), formats(params.size(), 0) {
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
    }
    int count() const { return int(values.size()); }
};

bool succeeded(const PGresult* r) {
    const ExecStatusType st = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
    return st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK;
}

}  // namespace

PgResult PgSession::exec(const std::string& sql, const std::vector<Val>& params) {
    settle();
    const Params p(params);
    PgResult r(PQexecParams(c_.get(), sql.c_str(), p.count(), nullptr, p.values.data(), p.lengths.data(), p.formats.data(), 0));
    if (!succeeded(r.get())) {
        const HRESULT hr = PQstatus(c_.get()) == CONNECTION_OK ? GDB_E_SQL : GDB_E_CONNECTION;
        fail(hr, std::string(r ? PQresultErrorMessage(r.get()) : PQerrorMessage(c_.get())) + " in: " + sql);
    }
    return r;
}

PgResult PgSession::execReused(const std::string& sql, const std::vector<Val>& params) {
    settle();
    const auto it = prepared_.find(sql);
    if (it == prepared_.end()) return std::move(execAll({{sql, params, true}}).front());
    const Params p(params);
    PgResult r(PQexecPrepared(c_.get(), it->second.c_str(), p.count(), p.values.data(), p.lengths.data(), p.formats.data(), 0));
    if (!succeeded(r.get())) {
        const HRESULT hr = PQstatus(c_.get()) == CONNECTION_OK ? GDB_E_SQL : GDB_E_CONNECTION;
        fail(hr, std::string(r ? PQresultErrorMessage(r.get()) : PQerrorMessage(c_.get())) + " in: " + sql);
    }
    return r;
}

std::vector<PgResult> PgSession::execAll(const std::vector<Statement>& statements) {
    std::vector<PgResult> out;
    if (statements.empty()) return out;
    settle();
    if (statements.size() == 1 && (!statements[0].reused || prepared_.count(statements[0].sql))) {
        const Statement& st = statements[0];
        out.push_back(st.reused ? execReused(st.sql, st.params) : exec(st.sql, st.params));
        return out;
    }
    PGconn* c = c_.get();
    if (PQenterPipelineMode(c) != 1)
        fail(PQstatus(c) == CONNECTION_OK ? GDB_E_SQL : GDB_E_CONNECTION, PQerrorMessage(c));
    // What was sent, in order: a statement, or the preparing of one (its name).
    struct Sent {
        std::size_t statement;
        std::string prepared;
        bool ok = false;
    };
    std::vector<Sent> sent;
    std::map<std::string, std::string> preparing;
    std::size_t statementsSent = 0;
    for (std::size_t i = 0; i < statements.size(); ++i) {
        const Statement& st = statements[i];
        const Params p(st.params);
        int ok = 0;
        if (st.reused) {
            std::string name;
            if (auto it = prepared_.find(st.sql); it != prepared_.end()) {
                name = it->second;
            } else if (auto at = preparing.find(st.sql); at != preparing.end()) {
                name = at->second;
            } else {
                name = "gdb_statement" + std::to_string(prepared_.size() + preparing.size() + 1);
                if (PQsendPrepare(c, name.c_str(), st.sql.c_str(), p.count(), nullptr) != 1) break;
                preparing.emplace(st.sql, name);
                sent.push_back({i, name});
            }
            ok = PQsendQueryPrepared(c, name.c_str(), p.count(), p.values.data(), p.lengths.data(), p.formats.data(), 0);
        } else {
            ok = PQsendQueryParams(c, st.sql.c_str(), p.count(), nullptr, p.values.data(), p.lengths.data(), p.formats.data(), 0);
        }
        if (ok != 1) break;
        sent.push_back({i, {}});
        ++statementsSent;
    }
    PQpipelineSync(c);
    // Every result is read, the sync's included, so that the connection leaves the pipeline clean.
    std::string error;
    const std::string* errorSql = nullptr;
    out.resize(statements.size());
    for (Sent& one : sent) {
        while (PGresult* r = PQgetResult(c)) {
            if (PQresultStatus(r) == PGRES_FATAL_ERROR && !errorSql) {
                error = PQresultErrorMessage(r);
                errorSql = &statements[one.statement].sql;
            }
            one.ok = one.ok || succeeded(r);
            if (one.prepared.empty() && !out[one.statement] && succeeded(r)) out[one.statement].reset(r);
            else PQclear(r);
        }
    }
    while (PGresult* r = PQgetResult(c)) {
        const bool sync = PQresultStatus(r) == PGRES_PIPELINE_SYNC;
        PQclear(r);
        if (sync) break;
    }
    PQexitPipelineMode(c);
    for (const Sent& one : sent)
        if (!one.prepared.empty() && one.ok) prepared_[statements[one.statement].sql] = one.prepared;
    const HRESULT hr = PQstatus(c) == CONNECTION_OK ? GDB_E_SQL : GDB_E_CONNECTION;
    if (errorSql) fail(hr, error + " in: " + *errorSql);
    if (statementsSent < statements.size() || std::any_of(out.begin(), out.end(), [](const PgResult& r) { return !r; }))
        fail(hr, PQerrorMessage(c));
    return out;
}

void PgSession::copyIn(const std::string& sql, const std::function<bool(std::string& chunk)>& next) {
    settle();
    PGconn* c = c_.get();
    auto failed = [&](const PGresult* r) {
        const HRESULT hr = PQstatus(c) == CONNECTION_OK ? GDB_E_SQL : GDB_E_CONNECTION;
        fail(hr, std::string(r ? PQresultErrorMessage(r) : PQerrorMessage(c)) + " in: " + sql);
    };
    {
        PgResult start(PQexec(c, sql.c_str()));
        if (!start || PQresultStatus(start.get()) != PGRES_COPY_IN) failed(start.get());
    }
    bool sent = true;
    std::string chunk;
    while (sent && next(chunk)) {
        sent = PQputCopyData(c, chunk.data(), int(chunk.size())) == 1;
        chunk.clear();
    }
    PQputCopyEnd(c, sent ? nullptr : "the rows could not be sent");
    PgResult end(PQgetResult(c));
    while (PGresult* more = PQgetResult(c)) PQclear(more);
    if (!succeeded(end.get())) failed(end.get());
}

void PgSession::begin() {
    if (depth_ > 0) fail(GDB_E_SQL, "an edit session is already open");
    exec("BEGIN");
    depth_ = 1;
}

void PgSession::commit() {
    if (depth_ == 0) fail(GDB_E_SQL, "no edit session to save");
    settle();  // rows that failed end the save here, with the transaction still ours to roll back
    depth_ = 0;
    exec("COMMIT");
}

void PgSession::rollback() {
    if (depth_ == 0) return;
    depth_ = 0;
    // What was handed over goes with the transaction, its error too.
    idle();
    if (worker_) {
        std::lock_guard<std::mutex> lock(worker_->m);
        worker_->error = nullptr;
    }
    PgResult(PQexec(c_.get(), "ROLLBACK"));
}

void PgSession::savepoint(const std::string& name) {
    if (depth_ == 0) fail(GDB_E_SQL, "a savepoint needs an edit session");
    exec("SAVEPOINT " + pgName(name));
}

void PgSession::release(const std::string& name) { exec("RELEASE SAVEPOINT " + pgName(name)); }

void PgSession::rollbackTo(const std::string& name) {
    // What was handed over since the savepoint goes with it, its error too.
    idle();
    if (worker_) {
        std::lock_guard<std::mutex> lock(worker_->m);
        worker_->error = nullptr;
    }
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

namespace {

// WKB as ST_GeomFromWKB reads it, held to what its checks pass and what the column's type is, so
// that the shape sent by COPY (with the SRID ST_GeomFromWKB gives it) stores the same and never a
// shape the INSERT would refuse. Anything unusual (big-endian, measures, curves, nesting beyond
// the multi types, counts that do not fit) is left to the INSERT.
class WkbCheck {
public:
    WkbCheck(const std::string& wkb) : p_(reinterpret_cast<const unsigned char*>(wkb.data())), end_(p_ + wkb.size()) {}

    bool is(std::uint32_t type) {
        std::uint32_t got = 0;
        return header(got) && got == type && body(got) && p_ == end_;
    }

private:
    bool has(std::size_t n) const { return std::size_t(end_ - p_) >= n; }
    bool u32(std::uint32_t& v) {
        if (!has(4)) return false;
        std::memcpy(&v, p_, 4);
        p_ += 4;
        return true;
    }
    bool header(std::uint32_t& type) {
        if (!has(1) || *p_ != 1) return false;
        ++p_;
        return u32(type) && (type / 1000 == 0 || type / 1000 == 1) && type % 1000 >= 1 && type % 1000 <= 6;
    }
    bool points(std::uint32_t n, std::size_t dims) {
        if (!has(std::size_t(n) * dims * 8) && n) return false;
        p_ += std::size_t(n) * dims * 8;
        return true;
    }
    bool body(std::uint32_t type) {
        const std::size_t dims = type / 1000 == 1 ? 3 : 2;
        std::uint32_t n = 0;
        switch (type % 1000) {
            case 1: return points(1, dims);
            case 2: return u32(n) && n >= 2 && n <= 0x10000000 && points(n, dims);
            case 3: {
                if (!u32(n)) return false;
                for (std::uint32_t r = 0; r < n; ++r) {
                    std::uint32_t count = 0;
                    if (!u32(count) || count < 4 || count > 0x10000000) return false;
                    const unsigned char* first = p_;
                    if (!points(count, dims)) return false;
                    // Closed to the bit, in every ordinate.
                    if (std::memcmp(first, p_ - dims * 8, dims * 8) != 0) return false;
                }
                return true;
            }
            default: {
                if (!u32(n)) return false;
                const std::uint32_t member = type - 3;  // the multi type's single one, same dimensions
                for (std::uint32_t m = 0; m < n; ++m) {
                    std::uint32_t got = 0;
                    if (!header(got) || got != member || !body(got)) return false;
                }
                return true;
            }
        }
    }

    const unsigned char* p_;
    const unsigned char* end_;
};

// Well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF), as the server takes it.
bool validUtf8(const std::string& s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            if (c == 0) return false;
            ++p;
            continue;
        }
        int n = 0;
        unsigned char lo = 0x80, hi = 0xbf;
        if (c >= 0xc2 && c <= 0xdf) n = 1;
        else if (c == 0xe0) n = 2, lo = 0xa0;
        else if (c >= 0xe1 && c <= 0xec) n = 2;
        else if (c == 0xed) n = 2, hi = 0x9f;
        else if (c >= 0xee && c <= 0xef) n = 2;
        else if (c == 0xf0) n = 3, lo = 0x90;
        else if (c >= 0xf1 && c <= 0xf3) n = 3;
        else if (c == 0xf4) n = 3, hi = 0x8f;
        else return false;
        if (end - p <= n) return false;
        if (p[1] < lo || p[1] > hi) return false;
        for (int k = 2; k <= n; ++k)
            if (p[k] < 0x80 || p[k] > 0xbf) return false;
        p += n + 1;
    }
    return true;
}

// Values in COPY's binary form: each field its length, then its bytes, numbers in network order.
void appendBig(std::string& out, std::uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out += char((v >> (8 * i)) & 0xff);
}
void appendField(std::string& out, const char* data, std::size_t size) {
    appendBig(out, size, 4);
    out.append(data, size);
}

// A value in COPY's binary form for a column that takes it (pgCopyTakes), received as the INSERT's
// parameter is read: a number as the server parses its text, a shape as EWKB with the SRID that
// ST_GeomFromWKB gives it (the column's receive function checks it as ST_GeomFromWKB does).
void appendCopyValue(std::string& data, const Val& v, const PgCopyColumn& column) {
    if (v.kind == Val::Null) {
        appendBig(data, 0xffffffffu, 4);
        return;
    }
    const int whole = column.kind == PgCopyColumn::Int16 ? 2 : column.kind == PgCopyColumn::Int32 ? 4 : 8;
    switch (column.kind) {
        case PgCopyColumn::Int16:
        case PgCopyColumn::Int32:
        case PgCopyColumn::Int64:
            appendBig(data, std::uint64_t(whole), 4);
            appendBig(data, std::uint64_t(v.i), whole);
            return;
        case PgCopyColumn::Float: {
            // A whole number rounds as the server rounds its digits; every NaN is the server's one.
            double d = v.kind == Val::Int ? double(v.i) : v.d;
            if (d != d) d = std::numeric_limits<double>::quiet_NaN();
            std::uint64_t bits = 0;
            std::memcpy(&bits, &d, 8);
            appendBig(data, 8, 4);
            appendBig(data, bits, 8);
            return;
        }
        case PgCopyColumn::Shape: {
            // The little-endian WKB's type word flagged as carrying an SRID, which follows it.
            std::uint32_t type = 0;
            std::memcpy(&type, v.s.data() + 1, 4);
            type |= 0x20000000u;
            appendBig(data, v.s.size() + 4, 4);
            data += v.s[0];
            data.append(reinterpret_cast<const char*>(&type), 4);
            const std::int32_t srid = column.srid;
            data.append(reinterpret_cast<const char*>(&srid), 4);
            data.append(v.s, 5, std::string::npos);
            return;
        }
        default: appendField(data, v.s.data(), v.s.size()); return;
    }
}

}  // namespace

bool pgCopyTakes(const PgCopyColumn& column, const Val& v) {
    if (v.kind == Val::Null) return !column.notNull;
    switch (column.kind) {
        case PgCopyColumn::None: return false;
        case PgCopyColumn::Int16: return v.kind == Val::Int && v.i >= INT16_MIN && v.i <= INT16_MAX;
        case PgCopyColumn::Int32: return v.kind == Val::Int && v.i >= INT32_MIN && v.i <= INT32_MAX;
        case PgCopyColumn::Int64: return v.kind == Val::Int;
        case PgCopyColumn::Float: return v.kind == Val::Real || v.kind == Val::Int;
        case PgCopyColumn::Text: return v.kind == Val::Text && validUtf8(v.s);
        case PgCopyColumn::Bytea: return v.kind == Val::Blob;
        case PgCopyColumn::Shape: return v.kind == Val::Blob && WkbCheck(v.s).is(column.wkbType);
    }
    return false;
}

PgInsertBatch::PgInsertBatch(PgSession& session, std::string table, std::vector<std::string> columns,
                             std::vector<std::string> placeholders, std::size_t rowsPerStatement,
                             std::vector<PgCopyColumn> copy)
    : session_(session) {
    if (columns.empty()) session_.fail(GDB_E_SQL, "an insert into " + table + " without columns");
    if (copy.size() != columns.size()) copy.clear();
    placeholders.resize(columns.size());
    // The protocol carries at most 65535 parameters a statement.
    rowsPerStatement = std::clamp<std::size_t>(rowsPerStatement, 1, 65535 / columns.size());
    layout_ = std::make_shared<const Layout>(
        Layout{std::move(table), std::move(columns), std::move(placeholders), rowsPerStatement, std::move(copy)});
}

void PgInsertBatch::add(std::vector<Val> row) {
    const std::size_t columns = layout_->columns.size();
    if (row.size() != columns)
        session_.fail(GDB_E_SQL, "a row of " + std::to_string(row.size()) + " values for the " + std::to_string(columns) +
                                     " columns of " + layout_->table);
    for (auto& v : row) {
        bytes_ += 4 + (v.kind == Val::Blob || v.kind == Val::Text ? v.s.size() : 8);
        rows_.push_back(std::move(v));
    }
    // A batch of a size the server stores in a few milliseconds: it is busy with one while the
    // caller makes the next, instead of with all of them at the end.
    if (pending() >= layout_->rowsPerStatement || bytes_ >= kSendBytes) send();
}

void PgInsertBatch::send() {
    if (rows_.empty()) return;
    auto rows = std::make_shared<std::vector<Val>>(std::move(rows_));
    rows_.clear();
    bytes_ = 0;
    session_.defer([&session = session_, layout = layout_, rows] { store(session, *layout, *rows); });
}

void PgInsertBatch::flush() {
    send();
    session_.settle();
}

bool PgInsertBatch::sendCopy(PgSession& session, const Layout& layout, const std::vector<Val>& rows) {
    const std::vector<PgCopyColumn>& copy = layout.copy;
    const std::size_t columns = layout.columns.size();
    if (copy.empty()) return false;
    for (std::size_t k = 0; k < rows.size(); ++k)
        if (!pgCopyTakes(copy[k % columns], rows[k])) return false;
    std::string sql = "COPY " + pgName(layout.table) + " (";
    for (std::size_t c = 0; c < columns; ++c) sql += (c ? ", " : "") + pgName(layout.columns[c]);
    sql += ") FROM STDIN (FORMAT binary)";
    // A quarter megabyte of whole rows a chunk: the rows never all in memory twice. The binary form:
    // the server reads no digits, escapes nor hex.
    static const char kHeader[] = "PGCOPY\n\377\r\n";  // its zero byte, the flags and the header's extension follow
    std::size_t k = 0;
    bool ended = false;
    session.copyIn(sql, [&](std::string& data) {
        if (ended) return false;
        if (k == 0) {
            data.append(kHeader, sizeof kHeader);
            appendBig(data, 0, 4);
            appendBig(data, 0, 4);
        }
        for (; k < rows.size() && (data.size() < (1 << 18) || k % columns); ++k) {
            const std::size_t c = k % columns;
            if (c == 0) appendBig(data, columns, 2);
            appendCopyValue(data, rows[k], copy[c]);
        }
        if (k == rows.size()) {
            appendBig(data, 0xffff, 2);  // the end of the rows
            ended = true;
        }
        return true;
    });
    return true;
}

void PgInsertBatch::store(PgSession& session, const Layout& layout, std::vector<Val>& rows) {
    if (sendCopy(session, layout, rows)) return;
    const std::size_t columns = layout.columns.size();
    std::string sql = "INSERT INTO " + pgName(layout.table) + " (";
    for (std::size_t c = 0; c < columns; ++c) sql += (c ? ", " : "") + pgName(layout.columns[c]);
    sql += ") VALUES ";
    int n = 0;
    for (std::size_t r = 0; r < rows.size() / columns; ++r) {
        sql += r ? ", (" : "(";
        for (std::size_t c = 0; c < columns; ++c) {
            const std::string param = "$" + std::to_string(++n);
            std::string p = layout.placeholders[c].empty() ? param : layout.placeholders[c];
            if (!layout.placeholders[c].empty())
                if (auto at = p.find('$'); at != std::string::npos) p.replace(at, 1, param);
            sql += (c ? ", " : "") + p;
        }
        sql += ")";
    }
    session.exec(sql, rows);
}

}  // namespace gdb
