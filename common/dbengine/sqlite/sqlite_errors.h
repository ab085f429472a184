// Turning SQLite failures into the engine's errors. The caller says what it
// was working on, so that the text names the file, table or statement.
#pragma once

#include "dbengine/internal.h"

#include <sqlite3.h>

#include <string_view>

#include "core/error.h"
#include "dbengine/backend.h"

namespace oskara::db::sqlite {

// The engine's error for SQLite result code `rc` (extended codes understood)
// with SQLite's `message`. Anything without a closer number is 3000.
Error sqliteError(int rc, std::string_view message, const FailureContext& context);

// The same for the last failure on connection `db`. A damaged file (3049) is
// named after the file of the connection that is damaged, a linked one
// included.
Error sqliteError(sqlite3* db, int rc, const FailureContext& context);

}  // namespace oskara::db::sqlite
