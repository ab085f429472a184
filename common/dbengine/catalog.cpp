#include "dbengine/catalog.h"

#include "dbengine/identifiers.h"

namespace oskara::db {

void DatabaseCatalog::invalidate() {
  tablesLoaded_ = false;
  localTables_.clear();
  tables_.clear();
  queriesLoaded_ = false;
  queries_.clear();
}

void DatabaseCatalog::loadTables() const {
  if (tablesLoaded_) return;
  for (std::string& name : store_.tableNames()) localTables_.emplace(lowerName(name), std::move(name));
  tablesLoaded_ = true;
}

void DatabaseCatalog::loadQueries() const {
  if (queriesLoaded_) return;
  loadTables();
  if (localTables_.count("sys_queries")) {
    for (backend::StoredQuery& q : store_.storedQueries()) {
      std::string key = lowerName(q.name);
      queries_.emplace(std::move(key), Query{std::move(q.name), std::move(q.sql)});
    }
  }
  queriesLoaded_ = true;
}

const sql::TableInfo* DatabaseCatalog::tableInfo(std::string_view name) const {
  const std::string key = lowerName(name);
  if (auto it = tables_.find(key); it != tables_.end()) return &it->second;
  loadTables();
  sql::TableInfo info;
  if (auto local = localTables_.find(key); local != localTables_.end()) {
    info.schema = std::string(store_.schema());
    info.table = local->second;
  } else if (const Link* link = store_.links().find(name)) {
    const LinkedDatabase& linked = store_.links().databases[link->database];
    if (linked.failure) throw *linked.failure;
    info.schema = linked.schema;
    info.table = link->sourceTable;
  } else {
    return nullptr;
  }
  info.columns = store_.columns(info.schema, info.table);
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
  for (const Link& link : store_.links().links) names.push_back(link.name);
  return names;
}

std::vector<std::string> DatabaseCatalog::queryNames() const {
  loadQueries();
  std::vector<std::string> names;
  for (const auto& [key, q] : queries_) names.push_back(q.name);
  return names;
}

}  // namespace oskara::db
