#include "dbengine/sqlite/field_checks.h"

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/error.h"
#include "dbengine/errors.h"
#include "dbengine/sql/sqlite_emitter.h"
#include "dbengine/sql/sqlite_failures.h"
#include "dbengine/values.h"

namespace oskara::db::sqlite {
namespace {

std::string_view textOf(sqlite3_value* v) {
  const unsigned char* text = sqlite3_value_text(v);
  return {reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_value_bytes(v))};
}

// A value as stored, without regard to any declared type.
Variant storedValue(sqlite3_value* v) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_NULL: return Variant::null();
    case SQLITE_INTEGER: return Variant::fromInt64(sqlite3_value_int64(v));
    case SQLITE_FLOAT: return Variant(sqlite3_value_double(v));
    default: return Variant(textOf(v));
  }
}

// The failure, number and text, as the engine gets it back (sqlite_failures.h).
void fail(sqlite3_context* ctx, const Error& error) {
  const std::string message = sql::functionFailureText(error);
  sqlite3_result_error(ctx, message.c_str(), static_cast<int>(message.size()));
}

// osk_read_date(value, table, field, key field, key)
void readDate(sqlite3_context* ctx, int, sqlite3_value** argv) {
  sqlite3_value* value = argv[0];
  const int type = sqlite3_value_type(value);
  if (type == SQLITE_NULL || (type == SQLITE_TEXT && DateTime::parseStored(textOf(value))))
    return sqlite3_result_value(ctx, value);
  fail(ctx, malformedStoredDate(textOf(argv[1]), textOf(argv[2]), textOf(argv[3]), argv[4], value));
}

// The field type a declared type names. The declared type is a literal of
// the statement, so it is worked out at the statement's first row and kept
// with the statement for the rows after.
FieldType declaredFieldType(sqlite3_context* ctx, sqlite3_value* declared) {
  if (const auto* known = static_cast<const FieldType*>(sqlite3_get_auxdata(ctx, 1))) return *known;
  const FieldType type = fieldTypeOf(textOf(declared));
  sqlite3_set_auxdata(ctx, 1, new FieldType(type), [](void* kept) { delete static_cast<FieldType*>(kept); });
  return type;
}

// Whether a text is a date in the one form a date field is written in: a
// stored date (DateTime::parseStored) showing exactly the parts toIso shows,
// so neither a date with "00:00:00" nor one on day zero.
bool isWrittenDateText(std::string_view text) {
  const std::optional<DateTime> date = DateTime::parseStored(text);
  if (!date) return false;
  const size_t shown = !date->hasDate() ? 8 : date->hasTime() ? 19 : 10;
  return text.size() == shown;
}

// Whether a value is already what convertForField would make of it for a
// field of `type`: Null, numbers stored as their field's type within its
// range, and a date field's text in its written form. Such a value is
// written as it is, without a conversion.
bool storedAsConverted(sqlite3_value* v, FieldType type) {
  const int stored = sqlite3_value_type(v);
  if (stored == SQLITE_NULL) return true;
  if (stored == SQLITE_FLOAT) return type == FieldType::Double;
  if (stored == SQLITE_TEXT) return type == FieldType::Date && isWrittenDateText(textOf(v));
  if (stored != SQLITE_INTEGER) return false;
  const sqlite3_int64 n = sqlite3_value_int64(v);
  switch (type) {
    case FieldType::Short: return n >= INT16_MIN && n <= INT16_MAX;
    case FieldType::Long: return n >= INT32_MIN && n <= INT32_MAX;
    case FieldType::Boolean: return n == 0 || n == 1;
    default: return false;
  }
}

// osk_write(value, declared type, table, field)
void write(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const FieldType type = declaredFieldType(ctx, argv[1]);
  if (storedAsConverted(argv[0], type)) return sqlite3_result_value(ctx, argv[0]);
  Variant value;
  try {
    const std::string field = std::string(textOf(argv[2])) + "." + std::string(textOf(argv[3]));
    value = convertForField(storedValue(argv[0]), type, field);
  } catch (const Error& e) {
    return fail(ctx, e);
  }
  switch (value.type()) {
    case VarType::Null: return sqlite3_result_null(ctx);
    case VarType::Boolean: return sqlite3_result_int(ctx, *value.get<bool>() ? 1 : 0);
    case VarType::Integer: return sqlite3_result_int(ctx, *value.get<int16_t>());
    case VarType::Long: return sqlite3_result_int(ctx, *value.get<int32_t>());
    case VarType::Double: return sqlite3_result_double(ctx, *value.get<double>());
    case VarType::Date: {
      const std::string iso = value.get<DateTime>()->toIso();
      return sqlite3_result_text(ctx, iso.data(), static_cast<int>(iso.size()), SQLITE_TRANSIENT);
    }
    default: return sqlite3_result_value(ctx, argv[0]);
  }
}

void add(sqlite3* db, const char* name, int args, void (*body)(sqlite3_context*, int, sqlite3_value**)) {
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
  if (sqlite3_create_function_v2(db, name, args, flags, nullptr, body, nullptr, nullptr, nullptr) != SQLITE_OK)
    throw engineFailure(std::string("could not register the SQL function ") + name + ": " + sqlite3_errmsg(db), {});
}

}  // namespace

Error malformedStoredDate(std::string_view table, std::string_view field, std::string_view keyField,
                          sqlite3_value* key, sqlite3_value* value) {
  const std::string row = std::string(keyField) + " = " + storedValue(key).debugString();
  return malformedDate(table, field, row, storedValue(value).debugString());
}

void registerFieldChecks(sqlite3* db) {
  add(db, sql::sqlite_field::kReadDate, 5, readDate);
  add(db, sql::sqlite_field::kWrite, 4, write);
}

}  // namespace oskara::db::sqlite
