// The SQLite target: a bound statement as SQLite SQL. Parameters are ?1, ?2,
// ...; a table row is identified by its rowid; text compares without regard
// to case through COLLATE NOCASE; the dialect's functions and the operators
// SQLite has no equal of are the functions of sqlite_functions.h.
#pragma once

#include "dbengine/sql/bound.h"
#include "dbengine/sql/translation.h"

namespace oskara::db::sql {

Translation emitSqlite(const bound::Statement& statement);

}  // namespace oskara::db::sql
