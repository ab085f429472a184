#include "dbengine/sql/translator.h"

#include "dbengine/sql/binder.h"
#include "dbengine/sql/emitter.h"
#include "dbengine/sql/parser.h"
#include "dbengine/sql/tokenizer.h"

namespace oskara::db::sql {

// Runs for every statement the engine is handed, so it is one pass over the
// text: tokens are copied as written (in whole stretches where the text
// needs no change), whitespace collapsed to one blank, and each literal
// replaced by \x01 and a letter for its kind. Two texts with the same key
// give the same tokens apart from literal values, hence the same translation.
StatementShape statementShape(std::string_view text) {
  StatementShape shape;
  shape.key.reserve(text.size());
  Tokenizer tokenizer(text);
  size_t copied = 0;   // text before this is in the key (or skipped)
  size_t lastEnd = 0;  // end of the previous token
  for (;;) {
    Token t = tokenizer.next();
    if (t.kind == TokenKind::End) break;
    if (t.spaceBefore) {
      const bool oneBlank = t.offset - lastEnd == 1 && text[lastEnd] == ' ';
      if (lastEnd == 0) {
        copied = t.offset;  // leading whitespace
      } else if (!oneBlank) {
        shape.key.append(text.substr(copied, lastEnd - copied));
        shape.key += ' ';
        copied = t.offset;
      }
    }
    lastEnd = t.offset + t.text.size();
    if (isLiteral(t.kind)) {
      shape.key.append(text.substr(copied, t.offset - copied));
      shape.key += '\x01';
      shape.key += t.kind == TokenKind::String ? 's' : t.kind == TokenKind::Number ? 'n' : 'd';
      shape.literals.push_back(literalValue(t));
      copied = lastEnd;
    }
  }
  if (lastEnd > copied) shape.key.append(text.substr(copied, lastEnd - copied));
  return shape;
}

Translation translate(std::string_view text, const Catalog& catalog) {
  ast::Statement parsed = parseStatement(text);
  bound::Statement boundStatement = bindStatement(parsed, text, catalog);
  return emitStatement(boundStatement);
}

}  // namespace oskara::db::sql
