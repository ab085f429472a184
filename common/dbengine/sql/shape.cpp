#include "dbengine/sql/shape.h"

#include <algorithm>

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

bool ShapeCache::matches(const Template& t, std::string_view text, std::vector<Variant>& literals) {
  literals.clear();
  Tokenizer tokenizer(text);
  size_t pos = 0;
  for (size_t i = 0; i < t.kinds.size(); ++i) {
    const std::string& before = t.around[i];
    if (text.substr(pos, before.size()) != before) return false;
    pos += before.size();
    const auto kind = static_cast<TokenKind>(t.kinds[i]);
    const size_t end = tokenizer.literalEnd(pos, kind);
    if (end == std::string_view::npos) return false;
    Token token;
    token.kind = kind;
    token.text = text.substr(pos, end - pos);
    literals.push_back(literalValue(token));
    pos = end;
  }
  return text.substr(pos) == t.around.back();
}

const std::string& ShapeCache::shapeOf(std::string_view text, std::vector<Variant>& literals) {
  for (size_t i = 0; i < templates_.size(); ++i) {
    if (!matches(templates_[i], text, literals)) continue;
    if (i > 0) std::rotate(templates_.begin(), templates_.begin() + static_cast<std::ptrdiff_t>(i),
                           templates_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    return templates_.front().key;
  }
  StatementShape shape = statementShape(text);  // raises what the text cannot be read for
  literals = std::move(shape.literals);
  // The text around each literal as written. A date literal is checked as it
  // is read, so a shape with one is not kept.
  Template t;
  size_t copied = 0;
  Tokenizer tokenizer(text);
  for (Token token = tokenizer.next(); token.kind != TokenKind::End; token = tokenizer.next()) {
    if (!isLiteral(token.kind)) continue;
    if (token.kind == TokenKind::Date || token.text.front() == '.') {
      lastKey_ = std::move(shape.key);
      return lastKey_;
    }
    t.around.emplace_back(text.substr(copied, token.offset - copied));
    t.kinds.push_back(static_cast<uint8_t>(token.kind));
    copied = token.offset + token.text.size();
  }
  t.around.emplace_back(text.substr(copied));
  t.key = std::move(shape.key);
  if (templates_.size() >= capacity_) templates_.pop_back();
  templates_.insert(templates_.begin(), std::move(t));
  return templates_.front().key;
}

}  // namespace oskara::db::sql
