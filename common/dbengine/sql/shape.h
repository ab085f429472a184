// Statement shapes: every literal of a statement (text, number, date) becomes
// a parameter of the translated SQL, so statements that differ only in their
// literals (the per-customer lookups of the scan) share one translation and
// one prepared statement. `statementShape` gives the cache key and the
// literal values of a text; ShapeCache does the same faster for texts
// written like one seen lately.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/variant.h"

namespace oskara::db::sql {

// The literal-free form of a statement and its literals in order of appearance.
struct StatementShape {
  std::string key;                // tokens with each literal replaced by a placeholder
  std::vector<Variant> literals;  // text as String, numbers as Long or Double, dates as Date
};

// Throws the syntax error (3075) when the text cannot be tokenized (an
// unterminated quote or date literal).
StatementShape statementShape(std::string_view text);

// Shapes of statements seen lately, each with its text around the literals,
// so that a statement written like an earlier one apart from its literals is
// recognised by comparing that text instead of tokenizing it. A statement of
// the scan that differs per customer only in a customer id or a number is
// then read in a fraction of the time.
class ShapeCache {
 public:
  explicit ShapeCache(size_t capacity = 16) : capacity_(capacity) {}

  // The key of statementShape(text), valid until the next call, with the
  // literals in `literals`; throws as statementShape does.
  const std::string& shapeOf(std::string_view text, std::vector<Variant>& literals);

 private:
  struct Template {
    std::string key;
    std::vector<std::string> around;  // the text before each literal, and after the last
    std::vector<uint8_t> kinds;       // per literal: its token kind
  };
  static bool matches(const Template& t, std::string_view text, std::vector<Variant>& literals);

  size_t capacity_;
  std::vector<Template> templates_;  // most recently used first
  std::string lastKey_;              // of a statement no template serves
};

}  // namespace oskara::db::sql
