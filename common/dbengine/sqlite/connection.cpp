#include "dbengine/sqlite/connection.h"

#include <filesystem>

#include "dbengine/errors.h"
#include "dbengine/identifiers.h"
#include "dbengine/sql/sqlite_emitter.h"
#include "dbengine/sqlite/files.h"
#include "dbengine/sqlite/sqlite_errors.h"
#include "dbengine/sqlite/statement.h"
#include "dbengine/sqlite/vfs.h"

namespace oskara::db::sqlite {
namespace {

namespace fs = std::filesystem;

std::string savepoint(int level) { return "oskara_level_" + std::to_string(level); }

std::string tableName(const sql::TableInfo& table) {
  return quoteIdentifier(table.schema) + "." + quoteIdentifier(table.table);
}

}  // namespace

int execSql(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

int readySchema(sqlite3* db, const std::string& schema, bool ownJournal) {
  const std::string q = quoteIdentifier(schema);
  int rc = execSql(db, ("SELECT count(*) FROM " + q + ".sqlite_schema").c_str());
  if (rc != SQLITE_OK) return rc;
  // Rollback journal: works on network file systems that honour POSIX locks.
  // A file that cannot be switched keeps its mode; reading it still works.
  // A linked file is another program's: its mode is left as it is.
  if (ownJournal) execSql(db, ("PRAGMA " + q + ".journal_mode=DELETE").c_str());
  // Pages kept in memory (negative: KiB). A scan transaction writes thousands
  // of rows; while its changes fit in the cache, SQLite keeps only a reserved
  // lock and other users can go on reading the file.
  return execSql(db, ("PRAGMA " + q + ".cache_size=-65536").c_str());
}

std::unique_ptr<SqliteConnection> SqliteConnection::open(const std::string& path, bool readOnlyAsked) {
  checkFilePath(path);
  const bool readOnly = readOnlyAsked || isReadOnlyFile(path);
  std::error_code ec;
  const std::string absolute = fs::absolute(path, ec).lexically_normal().string();
  if (ec) throw cannotOpenFile(path, ec.message());

  // No mutex on the connection: the engine's objects are used from one
  // thread only, and the scan makes millions of calls on each connection.
  const int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(fileUri(absolute, readOnly).c_str(), &db, flags, engineVfsName());
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
  // A file opened read-only is read as it is, in whatever journal mode.
  rc = readySchema(db, "main", !readOnly);
  if (rc != SQLITE_OK) {
    Error error = (rc & 0xff) == SQLITE_BUSY ? fileInUse(path) : sqliteError(db, rc, context);
    sqlite3_close_v2(db);
    throw error;
  }
  return std::unique_ptr<SqliteConnection>(new SqliteConnection(path, db, readOnly));
}

// Statements still leased are finalized when given back; close_v2 waits for them.
SqliteConnection::~SqliteConnection() { sqlite3_close_v2(db_); }

void SqliteConnection::exec(const std::string& sql, std::string_view table) {
  const int rc = execSql(db_, sql.c_str());
  if (rc != SQLITE_OK) throw sqliteError(db_, rc, {path_, table, sql});
}

std::unique_ptr<backend::Statement> SqliteConnection::prepare(const std::string& sql, std::string_view statement,
                                                              bool /*wholeResultFirst*/) {
  sqlite3_stmt* stmt = nullptr;
  const int rc =
      sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(stmt);
    throw sqliteError(db_, rc, {{}, {}, statement.empty() ? std::string_view(sql) : statement});
  }
  return std::make_unique<SqliteStatement>(db_, stmt);
}

std::string SqliteConnection::selectAllSql(const sql::TableInfo& table, std::string_view rowIdName) const {
  std::string columns;
  for (const sql::ColumnInfo& column : table.columns) {
    if (sql::bound::valueTypeOfDeclared(column.declType) == sql::bound::ValueType::Date) {
      columns += sql::sqliteStoredDateRead(table, column.name, tableName(table)) + " AS " + quoteIdentifier(column.name) + ", ";
    } else {
      columns += quoteIdentifier(column.name) + ", ";
    }
  }
  return "SELECT " + columns + "rowid AS " + std::string(rowIdName) + " FROM " + tableName(table);
}

std::string SqliteConnection::insertSql(const sql::TableInfo& table, const std::vector<std::string>& columns) const {
  return backend::insertOf(tableName(table), columns, '?');
}

std::string SqliteConnection::updateSql(const sql::TableInfo& table, const std::vector<std::string>& columns) const {
  return "UPDATE " + tableName(table) + " SET " + backend::assignmentsOf(columns, '?') + " WHERE rowid = ?" +
         std::to_string(columns.size() + 1);
}

void SqliteConnection::begin(int level) { exec(level == 1 ? "BEGIN" : "SAVEPOINT " + savepoint(level)); }

void SqliteConnection::commit(int level) { exec(level == 1 ? "COMMIT" : "RELEASE " + savepoint(level)); }

void SqliteConnection::rollback(int level) {
  if (level > 1) {
    exec("ROLLBACK TO " + savepoint(level));
    exec("RELEASE " + savepoint(level));
  } else if (inTransaction()) {
    exec("ROLLBACK");
  }
}

void SqliteConnection::abandon(int level) noexcept {
  if (level > 1) {
    execSql(db_, ("ROLLBACK TO " + savepoint(level) + "; RELEASE " + savepoint(level)).c_str());
  } else if (inTransaction()) {
    execSql(db_, "ROLLBACK");
  }
}

}  // namespace oskara::db::sqlite
