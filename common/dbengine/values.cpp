#include "dbengine/values.h"

#include <array>
#include <string>
#include <utility>

#include "core/error.h"
#include "dbengine/errors.h"

namespace oskara::db {
namespace {

// First word of a declared type, upper case, without a size: "varchar(50)" -> "VARCHAR".
std::string typeWord(std::string_view declared) {
  std::string word;
  for (char c : declared) {
    if (c == '(' || c == ' ' || c == '\t') {
      if (!word.empty()) break;
      if (c == '(') break;
      continue;
    }
    word += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return word;
}

constexpr std::array<std::pair<std::string_view, FieldType>, 28> kTypeWords{{
    {"TEXT", FieldType::Text},        {"CHAR", FieldType::Text},       {"VARCHAR", FieldType::Text},
    {"NVARCHAR", FieldType::Text},    {"NCHAR", FieldType::Text},      {"CLOB", FieldType::Text},
    {"MEMO", FieldType::Text},        {"STRING", FieldType::Text},     {"SMALLINT", FieldType::Short},
    {"SHORT", FieldType::Short},      {"INT2", FieldType::Short},      {"TINYINT", FieldType::Short},
    {"INTEGER", FieldType::Long},     {"INT", FieldType::Long},        {"LONG", FieldType::Long},
    {"INT4", FieldType::Long},        {"DOUBLE", FieldType::Double},   {"REAL", FieldType::Double},
    {"FLOAT", FieldType::Double},     {"NUMERIC", FieldType::Double},  {"DECIMAL", FieldType::Double},
    {"CURRENCY", FieldType::Double},  {"BOOLEAN", FieldType::Boolean}, {"BOOL", FieldType::Boolean},
    {"BIT", FieldType::Boolean},      {"YESNO", FieldType::Boolean},   {"DATETIME", FieldType::Date},
    {"DATE", FieldType::Date},
}};

Variant integerIn(int64_t v, int64_t lo, int64_t hi) {
  if (v < lo || v > hi) return Variant::fromInt64(v);  // stored out of range: the caller's conversion fails
  return hi == INT16_MAX ? Variant(static_cast<int16_t>(v)) : Variant(static_cast<int32_t>(v));
}

std::string columnText(sqlite3_stmt* stmt, int index) {
  const unsigned char* text = sqlite3_column_text(stmt, index);
  return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(stmt, index)));
}

}  // namespace

FieldType fieldTypeOf(std::string_view declaredType) {
  std::string word = typeWord(declaredType);
  for (const auto& [name, type] : kTypeWords) {
    if (name == word) return type;
  }
  if (word == "TIME" || word == "TIMESTAMP") return FieldType::Date;
  return FieldType::Any;
}

FieldType fieldTypeOf(VarType type) {
  switch (type) {
    case VarType::Integer: return FieldType::Short;
    case VarType::Long: return FieldType::Long;
    case VarType::Double: return FieldType::Double;
    case VarType::Boolean: return FieldType::Boolean;
    case VarType::Date: return FieldType::Date;
    case VarType::String: return FieldType::Text;
    default: return FieldType::Any;
  }
}

Variant readColumn(sqlite3_stmt* stmt, int index, FieldType type) {
  const int storage = sqlite3_column_type(stmt, index);
  if (storage == SQLITE_NULL) return Variant::null();
  const bool number = storage == SQLITE_INTEGER || storage == SQLITE_FLOAT;
  switch (type) {
    case FieldType::Text:
      return Variant(columnText(stmt, index));
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
        if (auto date = DateTime::parseIso(columnText(stmt, index))) return Variant(*date);
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
      return Variant(columnText(stmt, index));
    }
  }
}

Variant convertForField(const Variant& value, FieldType type, std::string_view field) {
  if (value.isNull() || value.isEmpty()) return Variant::null();
  try {
    switch (type) {
      case FieldType::Text: return Variant(value.toString());
      case FieldType::Short: return Variant(value.toInt16());
      case FieldType::Long: return Variant(value.toInt32());
      case FieldType::Double: return Variant(value.toDouble());
      case FieldType::Boolean: return Variant(value.toBool());
      case FieldType::Date: return Variant(value.toDate());
      case FieldType::Any:
        if (value.type() == VarType::Object || value.type() == VarType::Error)
          throw Error(runtime_error::kTypeMismatch, "not a value");
        return value;
    }
  } catch (const Error& e) {
    if (e.number() == runtime_error::kOverflow) throw numericOverflow(field, value.debugString());
    throw conversionError(field, value.debugString());
  }
  return value;
}

int bindValue(sqlite3_stmt* stmt, int index, const Variant& value, bool copyText) {
  switch (value.type()) {
    case VarType::Empty:
    case VarType::Null: return sqlite3_bind_null(stmt, index);
    case VarType::Boolean: return sqlite3_bind_int(stmt, index, *value.get<bool>() ? 1 : 0);
    case VarType::Integer: return sqlite3_bind_int(stmt, index, *value.get<int16_t>());
    case VarType::Long: return sqlite3_bind_int(stmt, index, *value.get<int32_t>());
    case VarType::Double: return sqlite3_bind_double(stmt, index, *value.get<double>());
    case VarType::Date: {
      std::string iso = value.get<DateTime>()->toIso();
      return sqlite3_bind_text(stmt, index, iso.data(), static_cast<int>(iso.size()), SQLITE_TRANSIENT);
    }
    case VarType::String: {
      const std::string& s = *value.get<std::string>();
      return sqlite3_bind_text(stmt, index, s.data(), static_cast<int>(s.size()),
                               copyText ? SQLITE_TRANSIENT : SQLITE_STATIC);
    }
    case VarType::Object:
    case VarType::Error: return SQLITE_MISMATCH;
  }
  return SQLITE_MISMATCH;
}

}  // namespace oskara::db
