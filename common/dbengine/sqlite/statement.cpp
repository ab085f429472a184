#include "dbengine/sqlite/statement.h"

#include <string>
#include <string_view>

#include "dbengine/sqlite/sqlite_errors.h"

namespace oskara::db::sqlite {
namespace {

Variant integerIn(int64_t v, int64_t lo, int64_t hi) {
  if (v < lo || v > hi) return Variant::fromInt64(v);  // stored out of range: the caller's conversion fails
  return hi == INT16_MAX ? Variant(static_cast<int16_t>(v)) : Variant(static_cast<int32_t>(v));
}

// The text of a column, valid until the statement moves on.
std::string_view columnText(sqlite3_stmt* stmt, int index) {
  const unsigned char* text = sqlite3_column_text(stmt, index);
  return {reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(stmt, index))};
}

// The value of result column `index` of the row `stmt` stands on. A stored
// value that its declared type cannot hold (40000 in a SMALLINT, a number
// beyond the range of dates in a DATETIME) is shown as stored, so that the
// caller's conversion fails.
Variant readColumn(sqlite3_stmt* stmt, int index, FieldType type) {
  const int storage = sqlite3_column_type(stmt, index);
  if (storage == SQLITE_NULL) return Variant::null();
  const bool number = storage == SQLITE_INTEGER || storage == SQLITE_FLOAT;
  switch (type) {
    case FieldType::Text:
      return Variant(std::string(columnText(stmt, index)));
    case FieldType::Short:
      if (storage == SQLITE_INTEGER) return integerIn(sqlite3_column_int64(stmt, index), INT16_MIN, INT16_MAX);
      break;
    case FieldType::Long:
      if (storage == SQLITE_INTEGER) return integerIn(sqlite3_column_int64(stmt, index), INT32_MIN, INT32_MAX);
      break;
    case FieldType::Double:
      if (number) return Variant(sqlite3_column_double(stmt, index));
      break;
    case FieldType::Boolean:
      if (number) return Variant(sqlite3_column_double(stmt, index) != 0);
      break;
    case FieldType::Date:
      if (storage == SQLITE_TEXT) {
        if (auto date = DateTime::parseStored(columnText(stmt, index))) return Variant(*date);
      } else if (number && DateTime::isInRange(sqlite3_column_double(stmt, index))) {
        return Variant(DateTime{sqlite3_column_double(stmt, index)});
      }
      break;
    case FieldType::Any:
      break;
  }
  // What the declared type cannot explain is shown as stored.
  switch (storage) {
    case SQLITE_INTEGER: return Variant::fromInt64(sqlite3_column_int64(stmt, index));
    case SQLITE_FLOAT: return Variant(sqlite3_column_double(stmt, index));
    default: {
      if (storage == SQLITE_BLOB) {
        const void* blob = sqlite3_column_blob(stmt, index);
        return Variant(std::string(static_cast<const char*>(blob),
                                   static_cast<size_t>(sqlite3_column_bytes(stmt, index))));
      }
      return Variant(std::string(columnText(stmt, index)));
    }
  }
}

}  // namespace

void SqliteStatement::bind(int index, const Variant& value, bool stable, const FailureContext& context) {
  const int rc = bindValue(index, value, stable);
  if (rc != SQLITE_OK) throw sqliteError(db_, rc, context);
}

std::string* SqliteStatement::textBuffer(int index) {
  // Made once for every parameter: a buffer never moves while SQLite points
  // into it.
  if (texts_.empty()) texts_.resize(static_cast<size_t>(sqlite3_bind_parameter_count(stmt_)));
  if (index < 1 || static_cast<size_t>(index) > texts_.size()) return nullptr;
  return &texts_[static_cast<size_t>(index) - 1];
}

int SqliteStatement::bindText(int index, std::string_view text, bool stable) {
  if (!stable) {
    // Kept in the statement's own buffer for the parameter, so that SQLite
    // need not copy it (an index SQLite does not have fails below).
    if (std::string* kept = textBuffer(index)) {
      kept->assign(text);
      text = *kept;
      stable = true;
    }
  }
  return sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                           stable ? SQLITE_STATIC : SQLITE_TRANSIENT);
}

int SqliteStatement::bindValue(int index, const Variant& value, bool stable) {
  switch (value.type()) {
    case VarType::Empty:
    case VarType::Null: return sqlite3_bind_null(stmt_, index);
    case VarType::Boolean: return sqlite3_bind_int(stmt_, index, *value.get<bool>() ? 1 : 0);
    case VarType::Integer: return sqlite3_bind_int(stmt_, index, *value.get<int16_t>());
    case VarType::Long: return sqlite3_bind_int(stmt_, index, *value.get<int32_t>());
    case VarType::Double: return sqlite3_bind_double(stmt_, index, *value.get<double>());
    case VarType::Date: return bindText(index, value.get<DateTime>()->toIso(), false);
    case VarType::String: return bindText(index, *value.get<std::string>(), stable);
    case VarType::Object:
    case VarType::Error: return SQLITE_MISMATCH;
  }
  return SQLITE_MISMATCH;
}

void SqliteStatement::bindRowId(int index, const backend::RowId& row) {
  if (const int64_t* rowid = std::get_if<int64_t>(&row)) {
    sqlite3_bind_int64(stmt_, index, *rowid);
  } else {
    sqlite3_bind_null(stmt_, index);
  }
}

int64_t SqliteStatement::execute(const FailureContext& context) {
  int rc;
  while ((rc = sqlite3_step(stmt_)) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) throw sqliteError(db_, rc, context);
  return sqlite3_changes64(db_);
}

bool SqliteStatement::fetch(size_t maxRows, std::span<const FieldType> types, int rowIdColumn,
                            std::vector<Variant>& values, std::vector<backend::RowId>& rowIds,
                            const FailureContext& context) {
  for (size_t row = 0; row < maxRows; ++row) {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_DONE) return false;
    if (rc != SQLITE_ROW) throw sqliteError(db_, rc, context);
    for (size_t i = 0; i < types.size(); ++i) values.push_back(readColumn(stmt_, static_cast<int>(i), types[i]));
    if (rowIdColumn >= 0) {
      rowIds.emplace_back(sqlite3_column_int64(stmt_, rowIdColumn));
    } else {
      rowIds.emplace_back();
    }
  }
  return true;
}

int SqliteStatement::columnIndex(std::string_view name) const {
  for (int i = sqlite3_column_count(stmt_) - 1; i >= 0; --i) {
    if (name == sqlite3_column_name(stmt_, i)) return i;
  }
  return -1;
}

}  // namespace oskara::db::sqlite
