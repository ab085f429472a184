#include "dbengine/sql/classify.h"

#include "core/error.h"

namespace oskara::db::sql {
namespace {

TextKind textKindOf(StatementKind kind) {
  switch (kind) {
    case StatementKind::Select: return TextKind::Select;
    case StatementKind::Insert: return TextKind::Insert;
    case StatementKind::Update: return TextKind::Update;
    case StatementKind::Delete: return TextKind::Delete;
  }
  return TextKind::Other;
}

}  // namespace

std::optional<StatementKind> statementKindOf(const Token& keyword) {
  if (isKeyword(keyword, "SELECT")) return StatementKind::Select;
  if (isKeyword(keyword, "INSERT")) return StatementKind::Insert;
  if (isKeyword(keyword, "UPDATE")) return StatementKind::Update;
  if (isKeyword(keyword, "DELETE")) return StatementKind::Delete;
  return std::nullopt;
}

TextClass classifyText(std::string_view text) {
  TextClass result;
  try {
    Tokenizer tokenizer(text);
    Token first = tokenizer.next();
    bool opened = false;  // by a parenthesis or a PARAMETERS declaration: only a statement may follow
    for (; first.kind == TokenKind::LeftParen; first = tokenizer.next()) opened = true;
    if (isKeyword(first, "PARAMETERS")) {
      // Names and types of the declarations hold no semicolon.
      do {
        first = tokenizer.next();
      } while (first.kind != TokenKind::Semicolon && first.kind != TokenKind::End);
      if (first.kind == TokenKind::End) return result;
      first = tokenizer.next();
      opened = true;
    }
    if (auto kind = statementKindOf(first)) {
      result.kind = textKindOf(*kind);
      return result;
    }
    if (isKeyword(first, "TRANSFORM")) {
      result.kind = TextKind::Select;
      return result;
    }
    if (opened || (first.kind != TokenKind::Name && first.kind != TokenKind::QuotedName)) return result;
    const std::string_view name = tokenName(first);
    Token next = tokenizer.next();
    while (next.kind == TokenKind::Semicolon) next = tokenizer.next();
    if (next.kind == TokenKind::End && !name.empty()) {
      result.kind = TextKind::Name;
      result.name = name;
    }
  } catch (const Error&) {
    // Text the tokenizer cannot read is no statement and no name.
  }
  return result;
}

}  // namespace oskara::db::sql
