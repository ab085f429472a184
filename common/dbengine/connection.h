// Opening one database file as a SQLite connection: the checks that tell a
// missing file from an unusable path or a file that is not a database, the
// choice between read-write and read-only, and the settings every connection
// gets. Never creates a file.
#pragma once

#include <sqlite3.h>

#include <string>

namespace oskara::db {

// How long a statement waits for another user's lock (a commit in progress)
// before it fails.
inline constexpr int kBusyTimeoutMs = 10000;

struct OpenedConnection {
  sqlite3* db = nullptr;  // owned by the caller (sqlite3_close_v2)
  bool readOnly = false;
};

// Opens `path` for use as a database. Throws 3044 when the path cannot name a
// file (empty, a folder, or in a folder that does not exist), 3024 when the
// file does not exist, 3343 when it is not a database, 3045 when another user
// holds it exclusively and 3051 when it cannot be opened otherwise.
OpenedConnection openConnection(const std::string& path);

// Throws the error a path deserves when it cannot be opened as a file (3044,
// 3024 or 3051, as above); returns when the file exists.
void checkFilePath(const std::string& path);

// Whether this process should treat the file as read-only: it may not write
// the file, or the file has no write permission bit at all, or its folder
// does not let the rollback journal be created.
bool isReadOnlyFile(const std::string& path);

// "file:" URI of an absolute path for SQLite, opened "rw" or "ro" and never created.
std::string fileUri(const std::string& absolutePath, bool readOnly);

// Executes SQL without results on `db`; returns the SQLite result code.
int execSql(sqlite3* db, const char* sql);

}  // namespace oskara::db
