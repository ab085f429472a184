// The functions through which statements on SQLite read date fields and
// write typed fields (sql::sqlite_field, written by the SQLite emitter).
// SQLite itself keeps whatever it is given in any field; these make a
// malformed date fail when it is read, naming its row, and make a value that
// a field's declared type cannot hold fail when it is written, changing
// nothing. Files made by `oskara db init` also refuse such values by their
// CHECK constraints, whatever program writes them; older files do not.
#pragma once

#include <string_view>

#include "core/error.h"

struct sqlite3;
struct sqlite3_value;

namespace oskara::db::sqlite {

// The failure of date field `field` of `table` holding `value`, which is not
// a date as the files store it, in the row whose `keyField` holds `key`:
// the same whether osk_read_date or the engine's reading of a row finds it.
Error malformedStoredDate(std::string_view table, std::string_view field, std::string_view keyField,
                          sqlite3_value* key, sqlite3_value* value);

// Registers osk_read_date and osk_write on `db`; throws the engine's error
// when SQLite refuses.
void registerFieldChecks(sqlite3* db);

}  // namespace oskara::db::sqlite
