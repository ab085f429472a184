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

namespace {

// convertForField, the failure naming the field that `name` gives.
template <typename Name>
Variant converted(const Variant& value, FieldType type, Name name) {
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
    if (e.number() == runtime_error::kOverflow) throw numericOverflow(name(), value.debugString());
    throw conversionError(name(), value.debugString());
  }
  return value;
}

}  // namespace

Variant convertForField(const Variant& value, FieldType type, std::string_view field) {
  return converted(value, type, [field] { return field; });
}

void assignForField(Variant& target, const Variant& value, FieldType type, std::string_view table,
                    std::string_view column) {
  if (type == FieldType::Text) {
    if (const std::string* text = value.get<std::string>()) return target.assignText(*text);
  }
  target = converted(value, type, [table, column] {
    std::string name(table);
    name.append(".").append(column);
    return name;
  });
}

}  // namespace oskara::db
