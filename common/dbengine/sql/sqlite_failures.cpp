#include "dbengine/sql/sqlite_failures.h"

#include <sqlite3.h>

#include <charconv>

#include "dbengine/sql/errors.h"

namespace oskara::db::sql {
namespace {

// A function's failure travels through SQLite as "\x1F<number>\x1F<text>":
// SQLite's own messages never hold a control character.
constexpr char kMark = '\x1F';

std::optional<Error> functionFailure(std::string_view message) {
  if (message.size() < 3 || message.front() != kMark) return std::nullopt;
  const size_t end = message.find(kMark, 1);
  if (end == std::string_view::npos) return std::nullopt;
  int32_t number = 0;
  auto [ptr, ec] = std::from_chars(message.data() + 1, message.data() + end, number);
  if (ec != std::errc() || ptr != message.data() + end) return std::nullopt;
  return Error(number, std::string(message.substr(end + 1)));
}

// SQLite's texts about a statement it will not prepare or run, by a piece of
// each, with the syntax error the dialect statement gets for it.
struct KnownText {
  std::string_view piece;
  int32_t number;
  std::string_view detail;
};

constexpr KnownText kKnownTexts[] = {
    {"parser stack overflow", errc::kSyntaxExpression, "the statement is nested too deeply"},
    {"Expression tree is too large", errc::kSyntaxExpression, "the expression is too long"},
    {"too many SQL variables", errc::kSyntaxExpression, "the statement has too many literals and parameters"},
    {"misuse of aggregate", errc::kSyntaxExpression,
     "an aggregate function stands where none may: in WHERE, in a join's ON or inside another aggregate"},
    {"aggregate functions are not allowed", errc::kSyntaxExpression, "an aggregate function stands in GROUP BY"},
    {"BY term out of range", errc::kSyntaxSelect, "an ORDER BY or GROUP BY term is a number out of range"},
    {"too many terms in", errc::kSyntaxSelect, "too many ORDER BY or GROUP BY terms"},
    {"too many columns", errc::kSyntaxSelect, "too many fields"},
    {"tables in a join", errc::kSyntaxFrom, "more tables than one statement may join"},
    {"too many FROM clause terms", errc::kSyntaxFrom, "more tables than one statement may read"},
    {"sub-select returns", errc::kSubqueryFields, ""},
};

}  // namespace

std::string functionFailureText(const Error& failure) {
  return kMark + std::to_string(failure.number()) + kMark + failure.text();
}

std::optional<Error> statementFailure(int rc, std::string_view message, std::string_view statement) {
  const std::string quoted = statement.empty() ? "" : " in statement '" + std::string(statement) + "'";
  switch (rc & 0xff) {
    case SQLITE_TOOBIG:
      return Error(errc::kOutOfStringSpace,
                   "Out of string space: a value is longer than the engine allows" + quoted + ".");
    case SQLITE_NOMEM: return Error(runtime_error::kOutOfMemory, "Out of memory" + quoted + ".");
    case SQLITE_ERROR: break;
    default: return std::nullopt;
  }
  if (auto failure = functionFailure(message)) return failure;
  if (message == "integer overflow")
    return Error(runtime_error::kOverflow, "Overflow: a sum of whole numbers beyond 64 bits" + quoted + ".");
  for (const KnownText& known : kKnownTexts) {
    if (message.find(known.piece) != std::string_view::npos) return syntaxError(known.number, known.detail, statement);
  }
  return std::nullopt;
}

}  // namespace oskara::db::sql
