// A prepared SQLite statement behind the backend seam: parameters bound from
// the engine's values, result columns read as the declared field types say.
#pragma once

#include "dbengine/internal.h"

#include <sqlite3.h>

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
  int columnIndex(std::string_view name) const override;
  void reset() override { sqlite3_reset(stmt_); }

 private:
  sqlite3* db_;          // the connection, for the text of its failures
  sqlite3_stmt* stmt_;   // owned
};

}  // namespace oskara::db::sqlite
