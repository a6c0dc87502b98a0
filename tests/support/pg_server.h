// tests/support/pg_server.h: the PostgreSQL/PostGIS test server (.ci/with-pg-server starts one and sets
// TARVO_PG_TEST), a throwaway database per test, and the skip when no server is configured.
#pragma once

#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

namespace pgtest {

// The libpq connection string of the test database, or null.
inline const char* conninfo() {
    const char* v = std::getenv("TARVO_PG_TEST");
    return v && *v ? v : nullptr;
}
// The test user's password over TCP ("" when the server has none).
inline std::string password() {
    const char* v = std::getenv("TARVO_PG_TEST_PASSWORD");
    return v ? v : "";
}

// One keyword's value in the connection string ("" when absent).
inline std::string keyword(const std::string& key) {
    std::string out;
    PQconninfoOption* opts = PQconninfoParse(conninfo(), nullptr);
    for (auto* o = opts; o && o->keyword; ++o)
        if (key == o->keyword && o->val) out = o->val;
    PQconninfoFree(opts);
    return out;
}

struct Finish {
    void operator()(PGconn* c) const noexcept { PQfinish(c); }
};
using Conn = std::unique_ptr<PGconn, Finish>;

// A connection to database db of the test server.
inline Conn connect(const std::string& db) {
    Conn c(PQconnectdb((std::string(conninfo()) + " dbname='" + db + "'").c_str()));
    if (PQstatus(c.get()) != CONNECTION_OK) throw std::runtime_error(PQerrorMessage(c.get()));
    return c;
}

// The first value of a query's result ("" for none; throws on an error).
inline std::string query(PGconn* c, const std::string& sql) {
    PGresult* r = PQexec(c, sql.c_str());
    const ExecStatusType st = PQresultStatus(r);
    std::string out = st == PGRES_TUPLES_OK && PQntuples(r) > 0 ? PQgetvalue(r, 0, 0) : "";
    std::string error = PQresultErrorMessage(r);
    PQclear(r);
    if (st != PGRES_TUPLES_OK && st != PGRES_COMMAND_OK) throw std::runtime_error(error + " in: " + sql);
    return out;
}

// A database of its own for one test, copied from the PostGIS template and dropped afterwards.
struct TempDatabase {
    std::string name;
    TempDatabase() {
        static std::atomic<int> counter{0};
        name = "tarvo_t" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
        Conn c = connect("postgres");
        query(c.get(), "CREATE DATABASE " + name + " TEMPLATE tarvo_template");
    }
    ~TempDatabase() {
        try {
            Conn c = connect("postgres");
            query(c.get(), "DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
        } catch (...) {
        }
    }
    TempDatabase(const TempDatabase&) = delete;
    TempDatabase& operator=(const TempDatabase&) = delete;
};

}  // namespace pgtest

#define SKIP_WITHOUT_PG()                                                                                 \
    do {                                                                                                  \
        if (!pgtest::conninfo())                                                                          \
            GTEST_SKIP() << "no PostgreSQL test server: TARVO_PG_TEST is not set (.ci/with-pg-server "     \
                            "runs the tests with one)";                                                   \
    } while (0)
