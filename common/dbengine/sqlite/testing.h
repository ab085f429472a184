// Hooks of the SQLite backend that exist only for tests.
#pragma once

#include "dbengine/internal.h"

#include <sqlite3.h>

#include "dbengine/dbengine.h"

namespace oskara::db::sqlite {

// The SQLite connection of a database open on a file (null when the database
// is closed or not a file).
sqlite3* TEST_connectionOf(Database& database);

}  // namespace oskara::db::sqlite
