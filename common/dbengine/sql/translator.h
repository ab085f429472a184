// The dialect translator: turns a statement of the system's SQL dialect into
// SQLite SQL. Pipeline: tokenizer -> parser (syntax tree) -> binder (names
// resolved against the catalog) -> emitter (SQLite text).
//
// Every literal of the statement (text, number, date) becomes a bound
// parameter of the SQLite statement, so statements that differ only in their
// literals (the per-customer lookups of the scan) share one translation and
// one prepared statement. `statementShape` gives the cache key and the
// literal values of a text; `translate` the SQLite statement for a shape.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/variant.h"

namespace oskara::db::sql {

// What the binder needs to know about the database a statement runs on.
struct ColumnInfo {
  std::string name;      // as declared
  std::string declType;  // declared type, upper case: TEXT, SMALLINT, INTEGER, DOUBLE, BOOLEAN, DATETIME, ...
};

struct TableInfo {
  std::string schema;  // SQLite schema the table lives in: "main" or an attached link file
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

// The literal-free form of a statement and its literals in order of appearance.
struct StatementShape {
  std::string key;                // tokens with each literal replaced by a placeholder
  std::vector<Variant> literals;  // text as String, numbers as Long or Double, dates as Date
};

// Throws the syntax error (3075) when the text cannot be tokenized (an
// unterminated quote or date literal).
StatementShape statementShape(std::string_view text);

// Shapes of statements seen lately, each with its text around the literals,
// so that a statement written like an earlier one apart from its literals is
// recognised by comparing that text instead of tokenizing it. A statement of
// the scan that differs per customer only in a customer id or a number is
// then read in a fraction of the time.
class ShapeCache {
 public:
  explicit ShapeCache(size_t capacity = 16) : capacity_(capacity) {}

  // The key of statementShape(text), valid until the next call, with the
  // literals in `literals`; throws as statementShape does.
  const std::string& shapeOf(std::string_view text, std::vector<Variant>& literals);

 private:
  struct Template {
    std::string key;
    std::vector<std::string> around;  // the text before each literal, and after the last
    std::vector<uint8_t> kinds;       // per literal: its token kind
  };
  static bool matches(const Template& t, std::string_view text, std::vector<Variant>& literals);

  size_t capacity_;
  std::vector<Template> templates_;  // most recently used first
  std::string lastKey_;              // of a statement no template serves
};

enum class StatementKind { Select, Insert, Update, Delete };

// A parameter of the statement: declared in PARAMETERS, or a name that
// resolves to no column.
struct ParameterInfo {
  std::string name;
  std::optional<VarType> declaredType;  // from PARAMETERS; values are converted to it
};

// Where a SQLite parameter ?N gets its value from.
struct Binding {
  enum class Source { Literal, Parameter } source;
  int index;  // into StatementShape::literals, or into Translation::parameters
};

// For a SELECT over one table: how the rows of the result map back to it, so
// that a dynaset can edit them in place and add rows to it.
struct UpdatableTable {
  TableInfo table;
  std::string rowidColumn;                  // result column holding the row's rowid; it follows the visible columns
  std::vector<std::string> resultColumns;   // per visible result column: the table column, or "" for an expression
};

struct Translation {
  StatementKind kind = StatementKind::Select;
  std::string sqlite;                    // SQLite text; parameters are ?1, ?2, ...
  std::vector<Binding> bindings;         // one per ?N, in order
  std::vector<ParameterInfo> parameters; // named parameters, declared first, then in order of appearance
  std::vector<std::string> columnNames;  // SELECT: visible result column names as the dialect names them
  std::vector<std::string> columnTypes;  // SELECT: declared type per visible column, "" for expressions
  std::optional<UpdatableTable> updatable;  // SELECT over exactly one table (after resolving links)
  std::optional<TableInfo> target;       // INSERT/UPDATE/DELETE: the table written
};

// Translates one statement. Throws oskara::Error: 3075/3131/3134/3144/3129
// syntax errors quoting the statement, 3078 for an unknown table, 3079 for an
// ambiguous field name. Never returns a partial translation.
Translation translate(std::string_view text, const Catalog& catalog);

}  // namespace oskara::db::sql
