// platform/gdb/pg_schema.h: a table or feature class of the enterprise geodatabase as PostgreSQL
// statements: the layout of the GeoPackage backend's (an OBJECTID identity key, a SHAPE geometry
// column of the class's type with Z where the class has Z, in the given SRID, a GiST index on it;
// text without regard to case), names kept as given (quoted).
#pragma once

#include <string>
#include <vector>

#include "platform/gdb/class_schema.h"

namespace gdb {

// The statements, run in one transaction, that make the side tables of the GeoPackage backend
// (datasets and their classes with the versioned flag, subtypes, topologies; "ord" keeps the order of creation) and the citext type
// when they are not there yet; a lock keeps imports that start together from racing each other.
std::vector<std::string> pgSideTableSql();

// An identifier quoted for PostgreSQL.
std::string pgName(const std::string& name);

// CREATE TABLE (and CREATE INDEX for a feature class) for `name` as read by readClassSpec.
std::vector<std::string> pgCreateClassSql(const std::string& name, const ClassSpec& spec, bool feature, int srid);

}  // namespace gdb
