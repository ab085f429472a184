#include "statement_text.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

namespace oskara::tool {
namespace {

bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool isNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

bool equalsWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && (isSpace(s.back()) || s.back() == ';')) s.remove_suffix(1);
  return s;
}

// The first word after blanks and opening parentheses; `rest` gets what follows it.
std::string_view firstWord(std::string_view s, std::string_view& rest) {
  size_t i = 0;
  while (i < s.size() && (isSpace(s[i]) || s[i] == '(')) ++i;
  size_t end = i;
  while (end < s.size() && isNameChar(s[end])) ++end;
  rest = s.substr(end);
  return s.substr(i, end - i);
}

}  // namespace

bool returnsRows(std::string_view statement) {
  std::string_view rest;
  std::string_view word = firstWord(statement, rest);
  if (equalsWord(word, "PARAMETERS")) {
    // The declaration list ends at the first semicolon; types and names hold none.
    const size_t semicolon = rest.find(';');
    if (semicolon == std::string_view::npos) return false;
    word = firstWord(rest.substr(semicolon + 1), rest);
  }
  return equalsWord(word, "SELECT") || equalsWord(word, "TRANSFORM");
}

std::string bareName(std::string_view statement) {
  std::string_view s = trim(statement);
  if (s.size() >= 2 && s.front() == '[' && s.back() == ']') {
    s = s.substr(1, s.size() - 2);
    if (s.empty() || s.find_first_of("[]") != std::string_view::npos) return "";
    return std::string(s);
  }
  if (s.empty() || std::isdigit(static_cast<unsigned char>(s.front()))) return "";
  for (char c : s)
    if (!isNameChar(c)) return "";
  static constexpr std::string_view kKeywords[] = {"SELECT", "INSERT", "UPDATE", "DELETE", "TRANSFORM"};
  for (std::string_view k : kKeywords)
    if (equalsWord(s, k)) return "";
  return std::string(s);
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
