// A database file as the SQLite backend keeps it open: its connection, the
// files its links name attached to that connection, its catalog read from
// SQLite's schema, sys_links and sys_queries, and its slot and deny-write
// locks in the lock-information file beside it.
#pragma once

#include "dbengine/internal.h"

#include <sqlite3.h>

#include <memory>
#include <optional>
#include <string>

#include "core/error.h"
#include "dbengine/backend.h"
#include "dbengine/sqlite/connection.h"
#include "dbengine/sqlite/lockinfo.h"

namespace oskara::db::sqlite {

class SqliteStore final : public backend::Store {
 public:
  // Opens the file `path` (failures as SqliteConnection::open; read-only when
  // `readOnly` asks), attaches the files its links name and joins its
  // lock-information file as `me`.
  static std::unique_ptr<SqliteStore> open(const std::string& path, const UserEntry& me, bool readOnly = false);

  sqlite3* handle() const { return connection_->handle(); }

  backend::Connection& connection() override { return *connection_; }
  std::string_view schema() const override { return "main"; }
  bool isReadOnly() const override { return connection_->isReadOnly(); }
  bool mayWrite(const sql::TableInfo& table, bool insert) override;
  std::vector<std::string> tableNames() override;
  std::vector<sql::ColumnInfo> columns(const std::string& schema, const std::string& table) override;
  const Links& links() const override { return links_; }
  std::vector<backend::StoredQuery> storedQueries() override;
  void addStoredQuery(std::string_view name, std::string_view sql) override;
  void setStoredQuery(std::string_view name, std::string_view sql) override;
  std::optional<UserEntry> tryLockTable(std::string_view table) override;
  void unlockTable(std::string_view table) override;

 private:
  explicit SqliteStore(std::unique_ptr<SqliteConnection> connection) : connection_(std::move(connection)) {}
  // Runs our own SQL with text arguments ?1, ?2, ...
  void execWithTexts(const std::string& sql, std::initializer_list<std::string_view> args, std::string_view table);

  // Constant after opening. Declared in the order of opening: what is
  // joined last is let go of first.
  std::unique_ptr<SqliteConnection> connection_;
  Links links_;
  std::unique_ptr<LockInfoFile> lockFile_;  // null when it could not be joined
  std::optional<Error> lockFileFailure_;    // why, raised by a deny-write lock
};

}  // namespace oskara::db::sqlite
