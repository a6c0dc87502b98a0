// tests/platform/gdb/pg_kept_session_test.cpp: the connection kept for the next workspace, and rows
// stored aside while the caller goes on: a login the server refuses later, a failed batch at save,
// and the call that reports a failed batch.
#include <chrono>
#include <fstream>
#include <memory>
#include <thread>
#include <string>

#include "gdb_fixture.h"
#include "platform/gdb/pg_session.h"
#include "support/pg_server.h"

using namespace gdbtest;

namespace {

// A session on a new database with a table t (id integer key, name text) and its batch columns.
class RowsAside : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_PG();
        db_ = std::make_unique<pgtest::TempDatabase>();
        gdb::SdeConnection conn;
        conn.instance = pgtest::keyword("host");
        setenv("PGPORT", pgtest::keyword("port").c_str(), 1);
        conn.user = pgtest::keyword("user");
        conn.database = db_->name;
        session_ = std::make_unique<gdb::PgSession>(conn);
        session_->exec("CREATE TABLE t (id integer PRIMARY KEY, name text)");
    }
    void add(gdb::PgInsertBatch& batch, int id, const std::string& name) {
        batch.add({gdb::Val{gdb::Val::Int, id, 0, {}}, gdb::Val{gdb::Val::Text, 0, 0, name}});
    }
    gdb::PgInsertBatch batch() {
        return gdb::PgInsertBatch(*session_, "t", {"id", "name"}, {}, 1000,
                                  {gdb::PgCopyColumn{gdb::PgCopyColumn::Int32, true}, gdb::PgCopyColumn{gdb::PgCopyColumn::Text}});
    }
    std::unique_ptr<pgtest::TempDatabase> db_;
    std::unique_ptr<gdb::PgSession> session_;
    const std::string large_ = std::string(200000, 'x');  // a row that goes at once
};

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
TEST_F(RowsAside, ASaveThatThrowsTheRowsFailureEndsTheTransaction) {
    gdb::PgSession& session = *session_;
    session.begin();
    {
        gdb::PgInsertBatch rows = batch();
        add(rows, 1, "a");
        add(rows, 1, large_);  // duplicate key, sent aside
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
TEST_F(RowsAside, TheCallThatReportsAFailedBatchDoesNotDependOnTiming) {
    auto where = [&](std::chrono::milliseconds pause) {
        std::string at = "none";
        session_->begin();
        try {
            gdb::PgInsertBatch rows = batch();
            add(rows, 1, "a");
            at = "the add that sent the duplicate";
            add(rows, 1, large_);
            std::this_thread::sleep_for(pause);
            at = "the next add";
            add(rows, 2, large_);
            at = "the flush";
            rows.flush();
            at = "none";
        } catch (const _com_error&) {
        }
        session_->rollback();
        return at;
    };
    const std::string quick = where(std::chrono::milliseconds(0));
    const std::string slow = where(std::chrono::milliseconds(500));
    EXPECT_EQ(quick, slow);
    EXPECT_NE(quick, "none");
}

}  // namespace
