#include "dbengine/sqlite/store.h"

#include <filesystem>

#include "dbengine/identifiers.h"
#include "dbengine/sql/sqlite_functions.h"
#include "dbengine/sqlite/field_checks.h"
#include "dbengine/sqlite/files.h"
#include "dbengine/sqlite/sqlite_errors.h"

namespace oskara::db::sqlite {
namespace {

namespace fs = std::filesystem;

// Runs a query of our own and hands each row to `onRow`; raises the mapped failure.
template <typename OnRow>
void eachRow(sqlite3* db, const std::string& sql, const FailureContext& context, OnRow onRow) {
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
  while (rc == SQLITE_OK && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    onRow(stmt);
    rc = SQLITE_OK;
  }
  if (rc != SQLITE_DONE) {
    Error error = sqliteError(db, rc, context);
    sqlite3_finalize(stmt);
    throw error;
  }
  sqlite3_finalize(stmt);
}

std::string textAt(sqlite3_stmt* stmt, int column) {
  const unsigned char* t = sqlite3_column_text(stmt, column);
  return t ? std::string(reinterpret_cast<const char*>(t)) : std::string();
}

std::string upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// ---- Links: each linked file attached once, as schema link1, link2, ... ----

struct LinkRow {
  std::string name, database, sourceTable;
};

bool hasLinkTable(sqlite3* db) {
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(
      db, "SELECT 1 FROM main.sqlite_schema WHERE type='table' AND name='sys_links' COLLATE NOCASE", -1,
      &stmt, nullptr);
  bool found = rc == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW;
  sqlite3_finalize(stmt);
  return found;
}

std::vector<LinkRow> readLinkRows(sqlite3* db, const std::string& databasePath) {
  std::vector<LinkRow> rows;
  if (!hasLinkTable(db)) return rows;
  const std::string sql = "SELECT name, database, source_table FROM main.sys_links";
  eachRow(db, sql, {databasePath, "sys_links", sql},
          [&](sqlite3_stmt* stmt) { rows.push_back({textAt(stmt, 0), textAt(stmt, 1), textAt(stmt, 2)}); });
  return rows;
}

// The absolute, normalised path of a link target; relative targets start at
// the folder of the linking file.
std::string resolveTarget(const std::string& target, const std::string& databasePath) {
  fs::path p(target);
  if (p.is_relative()) p = fs::path(databasePath).parent_path() / p;
  std::error_code ec;
  fs::path absolute = fs::absolute(p, ec);
  if (ec) absolute = p;
  fs::path canonical = fs::weakly_canonical(absolute, ec);
  return (ec ? absolute.lexically_normal() : canonical).string();
}

// Attaches the linked file as `schema`, read-only when the linking database
// is; a file that cannot be attached keeps its failure, raised when a
// statement uses one of its links.
void attachFile(sqlite3* db, LinkedDatabase& file, const std::string& schema, bool readOnly) {
  try {
    checkFilePath(file.location);
  } catch (const Error& e) {
    file.failure = e;
    return;
  }
  // A connection opened read-only refuses to attach a file read-write.
  file.readOnly = readOnly || isReadOnlyFile(file.location);
  const FailureContext context{file.location, {}, {}};
  const std::string attach = "ATTACH DATABASE ?1 AS " + quoteIdentifier(schema);
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(db, attach.c_str(), -1, &stmt, nullptr);
  if (rc == SQLITE_OK) {
    const std::string uri = fileUri(file.location, file.readOnly);
    sqlite3_bind_text(stmt, 1, uri.c_str(), -1, SQLITE_TRANSIENT);
    rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE) rc = SQLITE_OK;
  }
  if (rc != SQLITE_OK) {
    file.failure = sqliteError(db, rc, context);
    sqlite3_finalize(stmt);
    return;
  }
  sqlite3_finalize(stmt);
  rc = readySchema(db, schema, false);
  if (rc != SQLITE_OK) {
    file.failure = sqliteError(db, rc, context);
    execSql(db, ("DETACH DATABASE " + quoteIdentifier(schema)).c_str());
    return;
  }
  file.schema = schema;
}

Links attachLinks(sqlite3* db, const std::string& databasePath, bool readOnly) {
  Links result;
  for (LinkRow& row : readLinkRows(db, databasePath)) {
    const std::string path = resolveTarget(row.database, databasePath);
    size_t index = 0;
    while (index < result.databases.size() && result.databases[index].location != path) ++index;
    if (index == result.databases.size()) {
      LinkedDatabase file;
      file.location = path;
      attachFile(db, file, "link" + std::to_string(index + 1), readOnly);
      result.databases.push_back(std::move(file));
    }
    result.links.push_back({std::move(row.name), std::move(row.sourceTable), index});
  }
  return result;
}

}  // namespace

std::unique_ptr<SqliteStore> SqliteStore::open(const std::string& path, const UserEntry& me, bool readOnly) {
  std::unique_ptr<SqliteStore> store(new SqliteStore(SqliteConnection::open(path, readOnly)));
  sql::registerDialectFunctions(store->handle());
  registerFieldChecks(store->handle());
  store->links_ = attachLinks(store->handle(), path, store->isReadOnly());
  // Without a lock-information file (a read-only folder) the database is
  // still usable; only a deny-write lock needs it, and reports why it failed.
  try {
    store->lockFile_ = LockInfoFile::join(path, me);
  } catch (const Error& e) {
    store->lockFileFailure_ = e;
  }
  return store;
}

// A file is written whole or not at all: its tables follow it.
bool SqliteStore::mayWrite(const sql::TableInfo& table, bool) {
  return !(table.schema == schema() ? isReadOnly() : links_.isReadOnlySchema(table.schema));
}

std::vector<std::string> SqliteStore::tableNames() {
  std::vector<std::string> names;
  eachRow(handle(), "SELECT name FROM main.sqlite_schema WHERE type='table' AND name NOT LIKE 'sqlite%'",
          {connection_->name(), {}, {}}, [&](sqlite3_stmt* stmt) { names.push_back(textAt(stmt, 0)); });
  return names;
}

std::vector<sql::ColumnInfo> SqliteStore::columns(const std::string& schema, const std::string& table) {
  std::vector<sql::ColumnInfo> columns;
  const std::string sql = "PRAGMA " + quoteIdentifier(schema) + ".table_info(" + quoteIdentifier(table) + ")";
  eachRow(handle(), sql, {connection_->name(), table, {}}, [&](sqlite3_stmt* stmt) {
    columns.push_back({textAt(stmt, 1), upper(textAt(stmt, 2)), sqlite3_column_int(stmt, 5) > 0});
  });
  return columns;
}

std::vector<backend::StoredQuery> SqliteStore::storedQueries() {
  std::vector<backend::StoredQuery> queries;
  eachRow(handle(), "SELECT name, sql FROM main.sys_queries", {connection_->name(), "sys_queries", {}},
          [&](sqlite3_stmt* stmt) { queries.push_back({textAt(stmt, 0), textAt(stmt, 1)}); });
  return queries;
}

void SqliteStore::execWithTexts(const std::string& sql, std::initializer_list<std::string_view> args,
                                std::string_view table) {
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(handle(), sql.c_str(), -1, &stmt, nullptr);
  int index = 1;
  for (std::string_view arg : args) {
    if (rc == SQLITE_OK)
      rc = sqlite3_bind_text(stmt, index++, arg.data(), static_cast<int>(arg.size()), SQLITE_TRANSIENT);
  }
  if (rc == SQLITE_OK) rc = sqlite3_step(stmt);
  if (rc != SQLITE_DONE) {
    Error error = sqliteError(handle(), rc, {connection_->name(), table, sql});
    sqlite3_finalize(stmt);
    throw error;
  }
  sqlite3_finalize(stmt);
}

void SqliteStore::addStoredQuery(std::string_view name, std::string_view sql) {
  // The table of stored queries is made with the first one.
  connection_->exec(
      "CREATE TABLE IF NOT EXISTS main.sys_queries(name TEXT PRIMARY KEY COLLATE NOCASE, sql TEXT NOT NULL)",
      "sys_queries");
  execWithTexts("INSERT INTO main.sys_queries(name, sql) VALUES (?1, ?2)", {name, sql}, "sys_queries");
}

void SqliteStore::setStoredQuery(std::string_view name, std::string_view sql) {
  execWithTexts("UPDATE main.sys_queries SET sql = ?1 WHERE name = ?2", {sql, name}, "sys_queries");
}

std::optional<UserEntry> SqliteStore::tryLockTable(std::string_view table) {
  if (!lockFile_) throw *lockFileFailure_;
  return lockFile_->tryLockTable(table);
}

void SqliteStore::unlockTable(std::string_view table) {
  if (lockFile_) lockFile_->unlockTable(table);
}

}  // namespace oskara::db::sqlite
