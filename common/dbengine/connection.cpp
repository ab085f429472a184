#include "dbengine/connection.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "dbengine/errors.h"
#include "dbengine/sqlite_errors.h"

namespace oskara::db {
namespace {

namespace fs = std::filesystem;

// Pages kept in memory per schema (negative: KiB). A scan transaction writes
// thousands of rows; while its changes fit in the cache, SQLite keeps only a
// reserved lock and other users can go on reading the file.
constexpr const char* kCacheSize = "PRAGMA cache_size=-65536";

std::string folderOf(const std::string& path) {
  std::string folder = fs::path(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

}  // namespace

void checkFilePath(const std::string& path) {
  if (path.empty()) throw invalidPath(path);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) throw invalidPath(path);
    return;
  }
  const int err = errno;
  if (err == ENOTDIR) throw invalidPath(path);
  if (err != ENOENT) throw cannotOpenFile(path, std::strerror(err));
  struct stat folder {};
  if (::stat(folderOf(path).c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) throw invalidPath(path);
  throw fileNotFound(path);
}

bool isReadOnlyFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return true;
  // A file without any write bit is read-only for everybody, the superuser
  // included (who would otherwise pass access()): `chmod a-w` is how an
  // administrator freezes a database.
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;
  if (::access(path.c_str(), W_OK) != 0) return true;
  // Writing needs the rollback journal beside the file.
  return ::access(folderOf(path).c_str(), W_OK) != 0;
}

std::string fileUri(const std::string& absolutePath, bool readOnly) {
  static const char* kHex = "0123456789ABCDEF";
  std::string uri = "file:";
  for (unsigned char c : absolutePath) {
    if (c == '%' || c == '?' || c == '#' || c <= ' ' || c >= 0x7f) {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    } else {
      uri += static_cast<char>(c);
    }
  }
  uri += readOnly ? "?mode=ro" : "?mode=rw";
  return uri;
}

int execSql(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

OpenedConnection openConnection(const std::string& path) {
  checkFilePath(path);
  OpenedConnection result;
  result.readOnly = isReadOnlyFile(path);
  std::error_code ec;
  const std::string absolute = fs::absolute(path, ec).lexically_normal().string();
  if (ec) throw cannotOpenFile(path, ec.message());

  // No mutex on the connection: the engine's objects are used from one
  // thread only, and the scan makes millions of calls on each connection.
  const int flags =
      (result.readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(fileUri(absolute, result.readOnly).c_str(), &db, flags, nullptr);
  const FailureContext context{path, {}, {}};
  if (rc != SQLITE_OK) {
    Error error = sqliteError(db, rc, context);
    sqlite3_close_v2(db);
    throw error;
  }
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, kBusyTimeoutMs);

  // SQLite reads a file lazily; reading the schema now tells a database from
  // any other file before the caller relies on it.
  rc = execSql(db, "SELECT count(*) FROM main.sqlite_schema");
  if (rc == SQLITE_OK) {
    // Rollback journal: works on network file systems that honour POSIX locks.
    // A file that cannot be switched keeps its mode; reading it still works.
    execSql(db, "PRAGMA main.journal_mode=DELETE");
    rc = execSql(db, kCacheSize);
  }
  if (rc != SQLITE_OK) {
    Error error = (rc & 0xff) == SQLITE_BUSY ? fileInUse(path) : sqliteError(db, rc, context);
    sqlite3_close_v2(db);
    throw error;
  }
  result.db = db;
  return result;
}

}  // namespace oskara::db
