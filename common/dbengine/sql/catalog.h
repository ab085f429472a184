// What the translator needs to know about the database a statement runs on:
// its tables and links with their columns, and its stored queries. The engine
// implements Catalog over an open database; tests over a fixture.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oskara::db::sql {

struct ColumnInfo {
  std::string name;      // as declared
  std::string declType;  // declared type, upper case: TEXT, SMALLINT, INTEGER, DOUBLE, BOOLEAN, DATETIME, ...
  bool key = false;      // part of the table's primary key
};

struct TableInfo {
  std::string schema;  // the schema the table lives in: "main" or an attached link file
  std::string table;   // the table's name in that schema
  std::vector<ColumnInfo> columns;
};

class Catalog {
 public:
  virtual ~Catalog() = default;
  // A table or link by the name a statement uses (without regard to case).
  // Throws the engine's error when the name is a link whose file is missing.
  virtual std::optional<TableInfo> findTable(std::string_view name) const = 0;
  // The dialect text of a stored query, so it can stand in a FROM clause.
  virtual std::optional<std::string> findQuery(std::string_view name) const = 0;
};

}  // namespace oskara::db::sql
