// tests/platform/gdb/pg_kept_session_test.cpp: the connection kept for the next workspace, and rows
// stored aside while the caller goes on: a login the server refuses later, a failed batch at save,
// and the call that reports a failed batch.
#include <chrono>
#include <fstream>
#include <thread>
#include <string>

#include "gdb_fixture.h"
#include "platform/gdb/pg_session.h"
#include "support/pg_server.h"

using namespace gdbtest;

namespace {

_com_error openSde(const std::string& path) {
    IWorkspaceFactoryPtr f(CLSID_SdeWorkspaceFactory);
    try {
        IWorkspacePtr ws = f->OpenFromFile(path.c_str());
    } catch (const _com_error& e) {
        return e;
    }
    return _com_error(S_OK);
}

// A role that may no longer log in is refused by the next workspace, as the server refuses it: an
// idle connection kept from before must not let the process in.
TEST(EnterpriseSession, ARoleThatMayNoLongerLogInIsRefused) {
    SKIP_WITHOUT_PG();
    pgtest::TempDatabase db;
    TempDir dir;
    pgtest::Conn admin = pgtest::connect("postgres");
    pgtest::query(admin.get(), "DROP ROLE IF EXISTS tarvo_kept_role");
    pgtest::query(admin.get(), "CREATE ROLE tarvo_kept_role LOGIN SUPERUSER");
    const std::string sde = (dir.path / "role.sde").string();
    std::ofstream(sde) << "INSTANCE=" << pgtest::keyword("host") << "\nDATABASE=" << db.name
                       << "\nUSER=tarvo_kept_role\n";
    setenv("PGPORT", pgtest::keyword("port").c_str(), 1);
    const _com_error first = openSde(sde);  // opened and closed: its connection is kept
    EXPECT_EQ(first.Error(), S_OK);
    pgtest::query(admin.get(), "ALTER ROLE tarvo_kept_role NOLOGIN");
    // A connection is kept for the workspaces opened right after (a template, then its cell), not longer.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    const _com_error second = openSde(sde);
    unsetenv("PGPORT");
    EXPECT_EQ(second.Error(), GDB_E_CONNECTION) << "the workspace opened on a login the server now refuses";
    // The kept connection, if any, is ended so that the role can go.
    pgtest::Conn c = pgtest::connect(db.name);
    pgtest::query(c.get(), "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE usename = 'tarvo_kept_role'");
    pgtest::query(admin.get(), "DROP DATABASE IF EXISTS " + db.name + " WITH (FORCE)");
    pgtest::query(admin.get(), "DROP ROLE IF EXISTS tarvo_kept_role");
}

// A save whose rows handed over failed: the failure is thrown with the transaction still the
// session's, so that its rollback ends it on the server too and the next edit session starts clean.
TEST(EnterpriseSession, ASaveThatThrowsTheRowsFailureEndsTheTransaction) {
    SKIP_WITHOUT_PG();
    pgtest::TempDatabase db;
    gdb::SdeConnection conn;
    conn.instance = pgtest::keyword("host");
    setenv("PGPORT", pgtest::keyword("port").c_str(), 1);
    conn.user = pgtest::keyword("user");
    conn.database = db.name;
    gdb::PgSession session(conn);
    session.exec("CREATE TABLE t (id integer PRIMARY KEY, name text)");
    const gdb::PgCopyColumn id{gdb::PgCopyColumn::Int32, true}, name{gdb::PgCopyColumn::Text};
    const std::string large(200000, 'x');  // a row that goes at once
    session.begin();
    {
        gdb::PgInsertBatch batch(session, "t", {"id", "name"}, {}, 1000, {id, name});
        batch.add({gdb::Val{gdb::Val::Int, 1, 0, {}}, gdb::Val{gdb::Val::Text, 0, 0, "a"}});
        batch.add({gdb::Val{gdb::Val::Int, 1, 0, {}}, gdb::Val{gdb::Val::Text, 0, 0, large}});  // duplicate key, sent aside
    }
    EXPECT_THROW(session.commit(), _com_error);
    EXPECT_TRUE(session.inTransaction()) << "a failed save leaves the transaction to be rolled back";
    session.rollback();
    EXPECT_EQ(PQtransactionStatus(session.raw()), PQTRANS_IDLE) << "the server still holds the failed transaction";
    EXPECT_NO_THROW({
        session.begin();
        session.exec("INSERT INTO t VALUES (2, 'b')");
        session.commit();
    });
}

// Which call reports a failed batch of rows must not depend on how fast the server was: the same
// calls in the same order, with a pause or without one, fail at the same call.
TEST(EnterpriseSession, TheCallThatReportsAFailedBatchDoesNotDependOnTiming) {
    SKIP_WITHOUT_PG();
    pgtest::TempDatabase db;
    gdb::SdeConnection conn;
    conn.instance = pgtest::keyword("host");
    setenv("PGPORT", pgtest::keyword("port").c_str(), 1);
    conn.user = pgtest::keyword("user");
    conn.database = db.name;
    gdb::PgSession session(conn);
    session.exec("CREATE TABLE t (id integer PRIMARY KEY, name text)");
    const gdb::PgCopyColumn id{gdb::PgCopyColumn::Int32, true}, name{gdb::PgCopyColumn::Text};
    const std::string large(200000, 'x');  // a row that goes at once
    auto where = [&](std::chrono::milliseconds pause) {
        std::string at = "none";
        session.begin();
        try {
            gdb::PgInsertBatch batch(session, "t", {"id", "name"}, {}, 1000, {id, name});
            batch.add({gdb::Val{gdb::Val::Int, 1, 0, {}}, gdb::Val{gdb::Val::Text, 0, 0, "a"}});
            at = "the add that sent the duplicate";
            batch.add({gdb::Val{gdb::Val::Int, 1, 0, {}}, gdb::Val{gdb::Val::Text, 0, 0, large}});
            std::this_thread::sleep_for(pause);
            at = "the next add";
            batch.add({gdb::Val{gdb::Val::Int, 2, 0, {}}, gdb::Val{gdb::Val::Text, 0, 0, large}});
            at = "the flush";
            batch.flush();
            at = "none";
        } catch (const _com_error&) {
        }
        session.rollback();
        return at;
    };
    const std::string quick = where(std::chrono::milliseconds(0));
    const std::string slow = where(std::chrono::milliseconds(500));
    EXPECT_EQ(quick, slow);
}

}  // namespace
