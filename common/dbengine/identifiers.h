// Identifiers of tables, fields, queries and parameters: they match without
// regard to case (ASCII letters), as the system's statements expect, and go
// into SQLite statements quoted.
#pragma once

#include <string>
#include <string_view>

#include "core/text.h"

namespace oskara::db {

inline std::string lowerName(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = lowerAscii(c);
  return out;
}

inline bool sameName(std::string_view a, std::string_view b) { return equalsIgnoreCase(a, b); }

// An SQLite identifier in double quotes.
inline std::string quoteIdentifier(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace oskara::db
