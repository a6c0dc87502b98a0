// platform/gdb/pg_store.h: the enterprise geodatabase's storage: tables and side tables on
// PostgreSQL with PostGIS over one libpq session (platform/gdb/pg_session.h).
#pragma once

#include <memory>

#include "platform/gdb/gdb_store.h"
#include "platform/gdb/pg_session.h"

namespace gdb {

// The storage over a connected session whose side tables are made (pgSideTableSql).
// Writers are serialised across processes: a write transaction (an edit session, or the batch
// outside one) takes a transaction-level advisory lock first. Inserts go in multi-row batches,
// their object ids drawn from the class's identity sequence under that lock. A lost connection
// ends the transaction (rolled back by the server) and every later call fails with
// GDB_E_CONNECTION naming server and database.
std::unique_ptr<GdbStore> makePgStore(std::unique_ptr<PgSession> session);

// A shape as the server takes it (ISO WKB, from a GeoPackage blob) and gives it back (a GeoPackage
// blob written as the GeoPackage backend writes it, from WKB).
std::string wkbOfGpkgBlob(const std::string& blob);
std::string gpkgBlobOfWkb(const std::string& wkb, std::int32_t srsId);

// A where clause for the server: every bare word that names a field of ci (case ignored) quoted
// as the field is stored (the server folds bare names to lower case); text in quotes is left.
std::string pgWhereClause(const ClassInfo& ci, const std::string& where);

}  // namespace gdb
