// The SQLite target: a bound statement as SQLite SQL. Parameters are ?1, ?2,
// ...; a table row is identified by its rowid; text compares without regard
// to case through COLLATE NOCASE; the dialect's functions and the operators
// SQLite has no equal of are the functions of sqlite_functions.h.
#pragma once

#include <string>
#include <string_view>

#include "dbengine/sql/bound.h"
#include "dbengine/sql/translation.h"

namespace oskara::db::sql {

// SQLite keeps any value in any field, whatever its declared type, so the
// SQLite target passes the fields of tables through two functions that the
// SQLite backend registers on its connections (dbengine/sqlite/field_checks.h):
namespace sqlite_field {
// (value, table, field, key field, key) -> the value of a date field as
// stored; fails naming all four when it is not a date as files store them.
inline constexpr const char* kReadDate = "osk_read_date";
// (value, declared type, table, field) -> the value as the field stores it;
// fails, changing nothing, when it does not convert or does not fit.
inline constexpr const char* kWrite = "osk_write";
}  // namespace sqlite_field

// kReadDate over `field` of `table`, the field named through `qualifier` (an
// alias or a table as SQL, already quoted).
std::string sqliteStoredDateRead(const TableInfo& table, std::string_view field, std::string_view qualifier);

Translation emitSqlite(const bound::Statement& statement);

}  // namespace oskara::db::sql
