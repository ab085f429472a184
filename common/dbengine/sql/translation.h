// What a translation gives the engine: the target's SQL text, where each of
// its parameters gets its value from, and what the statement reads or writes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/variant.h"
#include "dbengine/sql/catalog.h"
#include "dbengine/sql/statement_kind.h"

namespace oskara::db::sql {

// A parameter of the statement: declared in PARAMETERS, or a name that
// resolves to no column.
struct ParameterInfo {
  std::string name;
  std::optional<VarType> declaredType;  // from PARAMETERS; values are converted to it
};

// Where the SQL text's parameter number N (the Nth binding) gets its value from.
struct Binding {
  // Clock: the engine's clock when the statement runs (a target that reads
  // Date(), Time() and Now() from the engine, not from its own clock).
  enum class Source { Literal, Parameter, Clock } source;
  int index;  // into StatementShape::literals, or into Translation::parameters; for Clock a ClockValue
};

// What a Clock binding gives.
enum class ClockValue : int { Date, Time, Now };

// For a SELECT over one table: how the rows of the result map back to it, so
// that a dynaset can edit them in place and add rows to it.
struct UpdatableTable {
  TableInfo table;
  std::string rowidColumn;                 // result column holding the row's identity; it follows the visible columns
  std::vector<std::string> resultColumns;  // per visible result column: the table column, or "" for an expression
};

// A result column that shows a date field of the one table of a SELECT as
// stored, without the target's check (sqlite_field::kReadDate): the backend
// checks it as it reads each row, naming the row by `keyField` and its value
// in result column `keyColumn`, exactly as the check in SQL would.
struct DateReadUnchecked {
  size_t column = 0;     // visible result column
  std::string table;     // as the check names it
  std::string field;
  std::string keyField;  // the table's key, or "rowid"
  size_t keyColumn = 0;  // result column holding the key's value
};

struct Translation {
  StatementKind kind = StatementKind::Select;
  std::string sql;                       // the target's SQL text; in SQLite its parameters are ?1, ?2, ...
  std::vector<Binding> bindings;         // one per parameter of the SQL text, in order
  std::vector<ParameterInfo> parameters; // named parameters, declared first, then in order of appearance
  std::vector<std::string> columnNames;  // SELECT: visible result column names as the dialect names them
  std::vector<std::string> columnTypes;  // SELECT: declared type per visible column, "" for expressions
  std::optional<UpdatableTable> updatable;  // SELECT over exactly one table (after resolving links)
  std::optional<TableInfo> target;       // INSERT/UPDATE/DELETE: the table written
  // SELECT: its first row needs the whole result worked out (ORDER BY,
  // GROUP BY, DISTINCT, DISTINCTROW's grouping), so reading only its first
  // rows saves nothing.
  bool wholeResultFirst = false;
  // SELECT on SQLite: the date fields it leaves to the backend to check.
  std::vector<DateReadUnchecked> datesReadUnchecked;
};

}  // namespace oskara::db::sql
