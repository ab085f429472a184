#include "dbengine/sql/translator.h"

#include "dbengine/sql/binder.h"
#include "dbengine/sql/emitter.h"
#include "dbengine/sql/parser.h"
#include "dbengine/sql/tokenizer.h"

namespace oskara::db::sql {

// Runs for every statement the engine is handed, so it is one pass over the
// text: tokens are copied as written, whitespace collapsed to one blank, and
// each literal replaced by \x01 and a letter for its kind. Two texts with the
// same key give the same tokens apart from literal values, hence the same
// translation.
StatementShape statementShape(std::string_view text) {
  StatementShape shape;
  shape.key.reserve(text.size());
  Tokenizer tokenizer(text);
  for (;;) {
    Token t = tokenizer.next();
    if (t.kind == TokenKind::End) break;
    if (t.spaceBefore && !shape.key.empty()) shape.key += ' ';
    if (isLiteral(t.kind)) {
      shape.key += '\x01';
      shape.key += t.kind == TokenKind::String ? 's' : t.kind == TokenKind::Number ? 'n' : 'd';
      shape.literals.push_back(literalValue(t));
    } else {
      shape.key.append(t.text);
    }
  }
  return shape;
}

Translation translate(std::string_view text, const Catalog& catalog) {
  ast::Statement parsed = parseStatement(text);
  bound::Statement boundStatement = bindStatement(parsed, text, catalog);
  return emitStatement(boundStatement);
}

}  // namespace oskara::db::sql
