#include "dbengine/catalog.h"

#include "dbengine/identifiers.h"
#include "dbengine/sqlite_errors.h"

namespace oskara::db {
namespace {

// Runs a query and hands each row to `onRow`; raises the mapped failure.
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

}  // namespace

DatabaseCatalog::DatabaseCatalog(sqlite3* db, const Links& links, std::string databasePath)
    : db_(db), links_(links), path_(std::move(databasePath)) {}

void DatabaseCatalog::invalidate() {
  tablesLoaded_ = false;
  localTables_.clear();
  tables_.clear();
  queriesLoaded_ = false;
  queries_.clear();
}

void DatabaseCatalog::loadTables() const {
  if (tablesLoaded_) return;
  eachRow(db_, "SELECT name FROM main.sqlite_schema WHERE type='table' AND name NOT LIKE 'sqlite%'",
          {path_, {}, {}}, [&](sqlite3_stmt* stmt) {
            std::string name = textAt(stmt, 0);
            localTables_.emplace(lowerName(name), name);
          });
  tablesLoaded_ = true;
}

void DatabaseCatalog::loadQueries() const {
  if (queriesLoaded_) return;
  loadTables();
  if (localTables_.count("sys_queries")) {
    eachRow(db_, "SELECT name, sql FROM main.sys_queries", {path_, "sys_queries", {}},
            [&](sqlite3_stmt* stmt) {
              Query q{textAt(stmt, 0), textAt(stmt, 1)};
              queries_.emplace(lowerName(q.name), std::move(q));
            });
  }
  queriesLoaded_ = true;
}

std::vector<sql::ColumnInfo> DatabaseCatalog::columnsOf(const std::string& schema,
                                                        const std::string& table) const {
  std::vector<sql::ColumnInfo> columns;
  const std::string sql = "PRAGMA " + quoteIdentifier(schema) + ".table_info(" + quoteIdentifier(table) + ")";
  eachRow(db_, sql, {path_, table, {}}, [&](sqlite3_stmt* stmt) {
    columns.push_back({textAt(stmt, 1), upper(textAt(stmt, 2))});
  });
  return columns;
}

const sql::TableInfo* DatabaseCatalog::tableInfo(std::string_view name) const {
  const std::string key = lowerName(name);
  if (auto it = tables_.find(key); it != tables_.end()) return &it->second;
  loadTables();
  sql::TableInfo info;
  if (auto local = localTables_.find(key); local != localTables_.end()) {
    info.schema = "main";
    info.table = local->second;
  } else if (const Link* link = links_.find(name)) {
    const LinkedFile& file = links_.files()[link->file];
    if (file.failure) throw *file.failure;
    info.schema = file.schema;
    info.table = link->sourceTable;
  } else {
    return nullptr;
  }
  info.columns = columnsOf(info.schema, info.table);
  // A link to a table its file does not have: there is nothing to read.
  if (info.columns.empty()) return nullptr;
  return &tables_.emplace(key, std::move(info)).first->second;
}

std::optional<sql::TableInfo> DatabaseCatalog::findTable(std::string_view name) const {
  if (const sql::TableInfo* info = tableInfo(name)) return *info;
  return std::nullopt;
}

std::optional<std::string> DatabaseCatalog::findQuery(std::string_view name) const {
  loadQueries();
  auto it = queries_.find(lowerName(name));
  if (it == queries_.end()) return std::nullopt;
  return it->second.sql;
}

std::optional<std::string> DatabaseCatalog::queryName(std::string_view name) const {
  loadQueries();
  auto it = queries_.find(lowerName(name));
  if (it == queries_.end()) return std::nullopt;
  return it->second.name;
}

std::vector<std::string> DatabaseCatalog::tableNames() const {
  loadTables();
  std::vector<std::string> names;
  for (const auto& [key, name] : localTables_) names.push_back(name);
  for (const Link& link : links_.links()) names.push_back(link.name);
  return names;
}

std::vector<std::string> DatabaseCatalog::queryNames() const {
  loadQueries();
  std::vector<std::string> names;
  for (const auto& [key, q] : queries_) names.push_back(q.name);
  return names;
}

}  // namespace oskara::db
