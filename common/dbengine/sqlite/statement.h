// A prepared SQLite statement behind the backend seam: parameters bound from
// the engine's values, result columns read as the declared field types say.
#pragma once

#include "dbengine/internal.h"

#include <sqlite3.h>

#include <string>
#include <string_view>
#include <vector>

#include "dbengine/backend.h"

namespace oskara::db::sqlite {

class SqliteStatement final : public backend::Statement {
 public:
  // Takes `stmt`, prepared on `db`, and finalizes it with the object.
  SqliteStatement(sqlite3* db, sqlite3_stmt* stmt) : db_(db), stmt_(stmt) {}
  ~SqliteStatement() override { sqlite3_finalize(stmt_); }
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  // Booleans as 1/0, dates as ISO text, Integer and Long as 64-bit integers.
  void bind(int index, const Variant& value, bool stable, const FailureContext& context) override;
  void bindRowId(int index, const backend::RowId& row) override;  // the rowid
  int64_t execute(const FailureContext& context) override;
  bool fetch(size_t maxRows, std::span<const FieldType> types, int rowIdColumn, std::vector<Variant>& values,
             std::vector<backend::RowId>& rowIds, const FailureContext& context) override;
  void checkDatesOnRead(const std::vector<sql::DateReadUnchecked>& dates) override;
  int columnIndex(std::string_view name) const override;
  void reset() override { sqlite3_reset(stmt_); }

 private:
  // Binds `value` to parameter `index`; returns the SQLite result code.
  int bindValue(int index, const Variant& value, bool stable);
  // A text the caller keeps unchanged (`stable`) is bound where it is; any
  // other is first copied into the parameter's buffer.
  int bindText(int index, std::string_view text, bool stable);
  std::string* textBuffer(int index);  // null for an index the statement does not have
  // Reads the value of result column `index` of the current row, which shows
  // a date field that the statement itself does not check, into `out`.
  void readCheckedDate(Variant& out, int index, const sql::DateReadUnchecked& date) const;

  sqlite3* db_;          // the connection, for the text of its failures
  sqlite3_stmt* stmt_;   // owned
  // Per parameter, the text bound to it when the caller's may change (a
  // date's text, a literal of the statement): SQLite reads it in place, and
  // the buffer keeps its room for the next binding.
  std::vector<std::string> texts_;
  // The date fields that fetch() checks, and per result column the index of
  // its entry there, -1 for the other columns; both empty when none.
  std::vector<sql::DateReadUnchecked> dates_;
  std::vector<int> dateOfColumn_;
};

}  // namespace oskara::db::sqlite
