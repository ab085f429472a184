#include "statement_text.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

#include "dbengine/sql/classify.h"

namespace oskara::tool {
namespace {

bool equalsWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace

bool returnsRows(std::string_view statement) {
  return db::sql::classifyText(statement).kind == db::sql::TextKind::Select;
}

std::string bareName(std::string_view statement) {
  const db::sql::TextClass text = db::sql::classifyText(statement);
  return text.kind == db::sql::TextKind::Name ? std::string(text.name) : std::string();
}

Variant parameterValue(std::string_view text) {
  if (equalsWord(text, "True")) return Variant(true);
  if (equalsWord(text, "False")) return Variant(false);
  if (equalsWord(text, "Null")) return Variant::null();

  const char* begin = text.data();
  const char* end = begin + text.size();
  int64_t whole = 0;
  if (auto [p, ec] = std::from_chars(begin, end, whole); ec == std::errc() && p == end && !text.empty() &&
                                                         whole >= std::numeric_limits<int32_t>::min() &&
                                                         whole <= std::numeric_limits<int32_t>::max())
    return Variant(static_cast<int32_t>(whole));
  double number = 0;
  if (auto [p, ec] = std::from_chars(begin, end, number);
      ec == std::errc() && p == end && !text.empty() && std::isfinite(number))  // "nan", "inf" stay text
    return Variant(number);

  if (auto date = DateTime::parseIso(text)) return Variant(*date);
  return Variant(std::string(text));
}

}  // namespace oskara::tool
