// A connection to one SQLite database file: opened through the engine's VFS
// with the settings every connection gets, never creating a file. It serves
// exactly one database (its links are attached to it).
#pragma once

#include "dbengine/internal.h"

#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>

#include "dbengine/backend.h"

namespace oskara::db::sqlite {

// How long a statement waits for another user's lock (a commit in progress)
// before it fails.
inline constexpr int kBusyTimeoutMs = 10000;

class SqliteConnection final : public backend::Connection {
 public:
  // Opens `path`. Throws 3044 when the path cannot name a file (empty, a
  // folder, or in a folder that does not exist), 3024 when the file does not
  // exist, 3343 when it is not a database, 3045 when another user holds it
  // exclusively and 3051 when it cannot be opened otherwise. Read-only when
  // the process may not write the file or `readOnlyAsked`.
  static std::unique_ptr<SqliteConnection> open(const std::string& path, bool readOnlyAsked = false);
  ~SqliteConnection() override;  // rolls back what is pending

  sqlite3* handle() const { return db_; }
  bool isReadOnly() const { return readOnly_; }

  // Runs SQL of our own without results; throws the mapped failure naming
  // the file, `table` and the SQL.
  void exec(const std::string& sql, std::string_view table = {});

  const std::string& name() const override { return path_; }
  sql::Target target() const override { return sql::Target::SQLite; }
  std::unique_ptr<backend::Statement> prepare(const std::string& sql, std::string_view statement,
                                              bool wholeResultFirst) override;
  std::string selectAllSql(const sql::TableInfo& table, std::string_view rowIdName) const override;
  std::string insertSql(const sql::TableInfo& table, const std::vector<std::string>& columns) const override;
  std::string updateSql(const sql::TableInfo& table, const std::vector<std::string>& columns) const override;
  void begin(int level) override;
  void commit(int level) override;
  void rollback(int level) override;
  void abandon(int level) noexcept override;
  bool inTransaction() const override { return !sqlite3_get_autocommit(db_); }

 private:
  SqliteConnection(std::string path, sqlite3* db, bool readOnly)
      : path_(std::move(path)), db_(db), readOnly_(readOnly) {}

  // Constant after opening.
  std::string path_;  // as the caller named it
  sqlite3* db_;       // owned
  bool readOnly_;     // this process may not write the file
};

// Executes SQL without results on `db`; returns the SQLite result code.
int execSql(sqlite3* db, const char* sql);

// Readies schema `schema` of `db` (main, or an attached file): reads its
// schema now, so that a file that is not a database is told at once, and
// gives it the settings of every database file; with `ownJournal` also
// switches it to the rollback journal (never for a linked file, which the
// engine does not rewrite). Returns the SQLite result code.
int readySchema(sqlite3* db, const std::string& schema, bool ownJournal);

}  // namespace oskara::db::sqlite
