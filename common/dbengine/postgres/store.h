// A database on a PostgreSQL server as the backend keeps it open: one schema
// of a server database, on a connection shared with the other schemas of
// that database in the workspace; its catalog from the server's (pg_class,
// pg_attribute) and its sys_links and sys_queries tables; its presence and
// its deny-write locks as session advisory locks on the server.
//
// Users and locks (docs/database-files.md): every open store holds a shared
// advisory lock keyed on its schema, so the active users of a schema are the
// sessions holding that lock, named by their application_name. A deny-write
// lock is an exclusive advisory lock keyed on the schema and the table's
// name; the server frees both when the session ends, however it ends.
#pragma once

#include "dbengine/internal.h"

#include <map>
#include <memory>
#include <set>
#include <string>

#include "dbengine/backend.h"
#include "dbengine/postgres/connection.h"
#include "dbengine/postgres/location.h"

namespace oskara::db::postgres {

class PgStore final : public backend::Store {
 public:
  // Opens the schema `location` names, on `shared` when it is a connection to
  // the same server database, else on a new one. Throws 3024 for a missing
  // database or schema, 3044 for a server that cannot be reached or a link to
  // another database, 3051 for a refused connection. Creates nothing.
  static std::unique_ptr<PgStore> open(const ServerLocation& location, const UserEntry& me,
                                       std::shared_ptr<PgConnection> shared);
  ~PgStore() override;  // gives back its locks; the connection closes with its last store

  backend::Connection& connection() override { return *connection_; }
  std::string_view schema() const override { return schema_; }
  bool isReadOnly() const override { return readOnly_; }
  bool mayWrite(const sql::TableInfo& table, bool insert) override;
  std::vector<std::string> tableNames() override;
  std::vector<sql::ColumnInfo> columns(const std::string& schema, const std::string& table) override;
  const Links& links() const override { return links_; }
  std::vector<backend::StoredQuery> storedQueries() override;
  void addStoredQuery(std::string_view name, std::string_view sql) override;
  void setStoredQuery(std::string_view name, std::string_view sql) override;
  std::optional<UserEntry> tryLockTable(std::string_view table) override;
  void unlockTable(std::string_view table) override;
  void notify(std::string_view channel, std::string_view payload) override;

 private:
  PgStore(std::shared_ptr<PgConnection> connection, ServerLocation location, UserEntry me)
      : connection_(std::move(connection)), location_(std::move(location)), me_(std::move(me)) {}
  void readLinks();
  std::string catalogTable(std::string_view lowerName);  // a table of ours by its name, as stored; "" when none
  std::string tableLockKey(std::string_view table) const;

  // Constant after opening.
  std::shared_ptr<PgConnection> connection_;
  ServerLocation location_;
  UserEntry me_;
  std::string schema_;        // the schema's name as stored
  std::string schemaOid_;     // as text
  bool readOnly_ = false;
  Links links_;

  // Changing with use.
  std::map<std::string, std::pair<bool, bool>> writable_;  // "schema.table" -> (insert, update) allowed
  std::set<std::string> lockedTables_;                     // deny-write lock keys held
  bool presence_ = false;                                  // holds the schema's users lock
};

}  // namespace oskara::db::postgres
