// Tests only: an in-memory SQLite database laid out like the system's files
// (DT tables in main, AR tables in an attached file reached through links),
// a Catalog over it, and a runner that translates a dialect statement, binds
// its literals and parameters, and returns what it selected or changed.
#pragma once

#include <sqlite3.h>

#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/variant.h"
#include "dbengine/sql/translator.h"

namespace oskara::db::sql::testdb {

struct RunResult {
  Translation translation;
  std::vector<std::string> rows;  // each row as its cells joined by '|'; Null shows as "Null"
  int changes = 0;                // rows written by an action statement
};

class TestDatabase : public Catalog {
 public:
  // Creates the system's DT tables in main and its AR tables in the attached
  // schema "ar", linked into main under their own names.
  TestDatabase();
  ~TestDatabase() override;

  std::optional<TableInfo> findTable(std::string_view name) const override;
  std::optional<std::string> findQuery(std::string_view name) const override;

  void exec(std::string_view sql);  // plain SQLite, for fixtures
  void addQuery(std::string name, std::string dialectText) { queries_[std::move(name)] = std::move(dialectText); }

  // Translates and runs; `parameters` are the named parameters' values by
  // name. Throws the engine's error for what the translator's side of SQLite
  // failed on (sqlite_failures.h), std::runtime_error for anything else.
  RunResult run(std::string_view dialect, const std::map<std::string, Variant>& parameters = {});
  // The rows of a plain SQLite query, for checking what a statement wrote.
  std::vector<std::string> rows(std::string_view sql);

  sqlite3* handle() const { return db_; }

 private:
  [[noreturn]] static void fail(int rc, const std::string& message, std::string_view dialect, const std::string& what);

  sqlite3* db_ = nullptr;
  std::map<std::string, std::pair<std::string, std::string>> links_;  // name -> (schema, table)
  std::map<std::string, std::string> queries_;
};

}  // namespace oskara::db::sql::testdb
