// The engine's SQLite VFS: SQLite's own unix VFS with every file operation
// first put to the Env in force (core/env.h), so that a test's Env can fail
// SQLite's Nth read, write, sync or lock, or refuse a lock, and SQLite's
// waits for other users' locks sleep through the Env. With the real Env the
// cost is one call that answers 0 per file operation.
#pragma once

#include "dbengine/internal.h"

namespace oskara::db::sqlite {

// The VFS's name for sqlite3_open_v2; registered (not as the default) on
// first use.
const char* engineVfsName();

}  // namespace oskara::db::sqlite
