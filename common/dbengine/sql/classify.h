// What a text handed to the engine is, read from its first tokens: a
// statement of one of the dialect's kinds, one table or query name, or
// neither. A record set's source, a statement a user types into the tool and
// the parser's choice of statement are all decided here.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "dbengine/sql/statement_kind.h"
#include "dbengine/sql/tokenizer.h"

namespace oskara::db::sql {

enum class TextKind : uint8_t {
  Select,  // SELECT, or TRANSFORM (a crosstab, which gives rows too, though the parser refuses it)
  Insert,
  Update,
  Delete,
  Name,    // one table or query name, bare or in brackets, followed by nothing but semicolons
  Other,   // anything else, text that cannot be read as tokens included
};

struct TextClass {
  TextKind kind = TextKind::Other;
  std::string_view name;  // Name: the name without brackets, a view into the text

  bool isStatement() const { return kind != TextKind::Name && kind != TextKind::Other; }
};

// A statement kind is decided by its first word, after any opening
// parentheses and a PARAMETERS declaration (up to its semicolon). A bare name
// that is such a word is not a name. Never throws.
TextClass classifyText(std::string_view text);

// The kind of statement a keyword starts: SELECT, INSERT, UPDATE or DELETE.
std::optional<StatementKind> statementKindOf(const Token& keyword);

}  // namespace oskara::db::sql
