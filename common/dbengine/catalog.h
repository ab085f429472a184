// The catalog of one open database for the dialect translator: its local
// tables, its links and its stored queries (sys_queries), all by name without
// regard to case, read from the backend's store. What it reads is kept until
// invalidate().
#pragma once

#include "dbengine/internal.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "dbengine/backend.h"
#include "dbengine/sql/translator.h"

namespace oskara::db {

class DatabaseCatalog final : public sql::Catalog {
 public:
  // `store` belongs to the database and outlives the catalog.
  explicit DatabaseCatalog(backend::Store& store) : store_(store) {}

  // Local tables first, then links. A link whose database is not reachable
  // raises its failure (3024 for a missing file).
  std::optional<sql::TableInfo> findTable(std::string_view name) const override;
  // The same without a copy: the catalog's own entry, valid until invalidate().
  const sql::TableInfo* tableInfo(std::string_view name) const;
  std::optional<std::string> findQuery(std::string_view name) const override;

  // The stored name of a query (its case as saved), when there is one.
  std::optional<std::string> queryName(std::string_view name) const;

  std::vector<std::string> tableNames() const;  // local tables, then links
  std::vector<std::string> queryNames() const;

  void invalidate();

 private:
  struct Query {
    std::string name;  // as stored
    std::string sql;
  };
  void loadTables() const;
  void loadQueries() const;

  backend::Store& store_;

  // Read on first use, dropped by invalidate().
  mutable bool tablesLoaded_ = false;
  mutable std::map<std::string, std::string> localTables_;  // lower-case name -> name as stored
  mutable std::map<std::string, sql::TableInfo> tables_;    // lower-case name -> table with columns
  mutable bool queriesLoaded_ = false;
  mutable std::map<std::string, Query> queries_;            // lower-case name -> stored query
};

}  // namespace oskara::db
