// Turning SQLite failures into the engine's errors. The caller says what it
// was working on, so that the text names the file, table or statement.
#pragma once

#include <sqlite3.h>

#include <string_view>

#include "core/error.h"

namespace oskara::db {

struct FailureContext {
  std::string_view file;       // database file concerned, may be empty
  std::string_view table;      // table written or read, may be empty
  std::string_view statement;  // dialect text (or SQLite text when there is none), may be empty
};

// The engine's error for SQLite result code `rc` (extended codes understood)
// with SQLite's `message`. Anything without a closer number is 3000.
Error sqliteError(int rc, std::string_view message, const FailureContext& context);

// The same for the last failure on connection `db`.
Error sqliteError(sqlite3* db, int rc, const FailureContext& context);

}  // namespace oskara::db
