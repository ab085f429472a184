#include "dbengine/sqlite/statement.h"

#include <string>
#include <string_view>

#include "dbengine/sqlite/field_checks.h"
#include "dbengine/sqlite/sqlite_errors.h"

namespace oskara::db::sqlite {
namespace {

// The text of a value, valid until the statement moves on.
std::string_view textOf(sqlite3_value* value) {
  const unsigned char* text = sqlite3_value_text(value);
  return {reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_value_bytes(value))};
}

// A result column's value of the row the statement stands on, read through
// the value itself: one call of SQLite's column interface per column instead
// of one per question asked of it. Valid until the statement moves on; read
// on the connection's one thread only.
sqlite3_value* columnValue(sqlite3_stmt* stmt, int index) { return sqlite3_column_value(stmt, index); }

// Reads a result column's value, `value`, into `out`, a text into the room
// of the text `out` holds. A stored value that its declared type cannot hold
// (40000 in a SMALLINT, a number beyond the range of dates in a DATETIME) is
// shown as stored, so that the caller's conversion fails.
void readColumn(Variant& out, sqlite3_value* value, FieldType type) {
  const int storage = sqlite3_value_type(value);
  if (storage == SQLITE_NULL) return void(out = Variant::null());
  const bool number = storage == SQLITE_INTEGER || storage == SQLITE_FLOAT;
  switch (type) {
    case FieldType::Text:
      return out.assignText(textOf(value));
    case FieldType::Short:
      if (storage == SQLITE_INTEGER) {
        const int64_t v = sqlite3_value_int64(value);
        if (v >= INT16_MIN && v <= INT16_MAX) return void(out = Variant(static_cast<int16_t>(v)));
      }
      break;
    case FieldType::Long:
      if (storage == SQLITE_INTEGER) {
        const int64_t v = sqlite3_value_int64(value);
        if (v >= INT32_MIN && v <= INT32_MAX) return void(out = Variant(static_cast<int32_t>(v)));
      }
      break;
    case FieldType::Double:
      if (number) return void(out = Variant(sqlite3_value_double(value)));
      break;
    case FieldType::Boolean:
      if (number) return void(out = Variant(sqlite3_value_double(value) != 0));
      break;
    case FieldType::Date:
      if (storage == SQLITE_TEXT) {
        if (auto date = DateTime::parseStored(textOf(value))) return void(out = Variant(*date));
      } else if (number && DateTime::isInRange(sqlite3_value_double(value))) {
        return void(out = Variant(DateTime{sqlite3_value_double(value)}));
      }
      break;
    case FieldType::Any:
      break;
  }
  // What the declared type cannot explain is shown as stored.
  switch (storage) {
    case SQLITE_INTEGER: return void(out = Variant::fromInt64(sqlite3_value_int64(value)));
    case SQLITE_FLOAT: return void(out = Variant(sqlite3_value_double(value)));
    case SQLITE_BLOB: {
      const auto* blob = static_cast<const char*>(sqlite3_value_blob(value));
      return out.assignText(std::string_view(blob, static_cast<size_t>(sqlite3_value_bytes(value))));
    }
    default: return out.assignText(textOf(value));
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

void SqliteStatement::checkDatesOnRead(const std::vector<sql::DateReadUnchecked>& dates) {
  dates_ = dates;
  dateOfColumn_.assign(static_cast<size_t>(sqlite3_column_count(stmt_)), -1);
  for (size_t i = 0; i < dates_.size(); ++i) dateOfColumn_.at(dates_[i].column) = static_cast<int>(i);
}

void SqliteStatement::readCheckedDate(Variant& out, int index, const sql::DateReadUnchecked& date) const {
  sqlite3_value* value = columnValue(stmt_, index);
  const int storage = sqlite3_value_type(value);
  if (storage == SQLITE_NULL) return void(out = Variant::null());
  if (storage == SQLITE_TEXT) {
    if (auto parsed = DateTime::parseStored(textOf(value))) return void(out = Variant(*parsed));
  }
  throw malformedStoredDate(date.table, date.field, date.keyField,
                            columnValue(stmt_, static_cast<int>(date.keyColumn)), value);
}

bool SqliteStatement::fetch(size_t maxRows, std::span<const FieldType> types, int rowIdColumn,
                            std::vector<Variant>& values, std::vector<backend::RowId>& rowIds,
                            const FailureContext& context) {
  size_t written = 0;  // values of this call
  for (size_t row = 0; row < maxRows; ++row) {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_DONE) return false;
    if (rc != SQLITE_ROW) throw sqliteError(db_, rc, context);
    if (values.size() < written + types.size()) values.resize(written + types.size());
    // A malformed date fails its row, which then has no identity and counts
    // as no row at all.
    for (size_t i = 0; i < types.size(); ++i) {
      Variant& out = values[written++];
      const int date = dateOfColumn_.empty() ? -1 : dateOfColumn_[i];
      if (date < 0) {
        readColumn(out, columnValue(stmt_, static_cast<int>(i)), types[i]);
      } else {
        readCheckedDate(out, static_cast<int>(i), dates_[static_cast<size_t>(date)]);
      }
    }
    if (rowIdColumn >= 0) {
      rowIds.emplace_back(sqlite3_value_int64(columnValue(stmt_, rowIdColumn)));
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
