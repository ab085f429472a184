#include "dbengine/sql/tokenizer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string>

#include "dbengine/sql/errors.h"
#include "dbengine/sql/datetext.h"

namespace oskara::db::sql {
namespace {

// Character classes by table: the tokenizer runs over every statement of a scan.
enum CharClass : uint8_t { kNameStart = 1, kDigit = 2, kHexDigit = 4, kSpace = 8 };

constexpr std::array<uint8_t, 256> kCharClasses = [] {
  std::array<uint8_t, 256> t{};
  for (int c = 'a'; c <= 'z'; ++c) t[c] |= kNameStart;
  for (int c = 'A'; c <= 'Z'; ++c) t[c] |= kNameStart;
  for (int c = 0x80; c <= 0xFF; ++c) t[c] |= kNameStart;  // letters of other alphabets, as UTF-8
  t['_'] |= kNameStart;
  for (int c = '0'; c <= '9'; ++c) t[c] |= kDigit | kHexDigit;
  for (int c = 'a'; c <= 'f'; ++c) t[c] |= kHexDigit;
  for (int c = 'A'; c <= 'F'; ++c) t[c] |= kHexDigit;
  for (char c : {' ', '\t', '\r', '\n', '\f', '\v'}) t[static_cast<unsigned char>(c)] |= kSpace;
  return t;
}();

bool is(char c, uint8_t classes) { return (kCharClasses[static_cast<unsigned char>(c)] & classes) != 0; }
bool isDigit(char c) { return is(c, kDigit); }
bool isHexDigit(char c) { return is(c, kHexDigit); }
bool isNameStart(char c) { return is(c, kNameStart); }
bool isNameChar(char c) { return is(c, kNameStart | kDigit); }
bool isSpace(char c) { return is(c, kSpace); }

char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

// A decimal number beyond a Double's range (1e400) has no value; a radix
// number beyond 32 bits neither.
bool Tokenizer::numberFits(std::string_view t) const {
  if (t.front() == '&') return radixNumber(t.substr(2), asciiUpper(t[1]) == 'H' ? 16 : 8).has_value();
  double d = 0;
  return std::from_chars(t.data(), t.data() + t.size(), d).ec != std::errc::result_out_of_range;
}

void Tokenizer::fail(const char* what, size_t at) const {
  throw syntaxError(errc::kSyntaxExpression,
                    std::string(what) + " at character " + std::to_string(at + 1), text_);
}

// Index just past the closing character. Inside text literals a doubled
// quote stands for one quote character.
size_t Tokenizer::scanQuoted(size_t start, char close, bool doubledCloseEscapes) const {
  size_t i = start + 1;
  for (;;) {
    if (i >= text_.size()) return std::string_view::npos;
    if (text_[i] == close) {
      if (doubledCloseEscapes && i + 1 < text_.size() && text_[i + 1] == close) {
        i += 2;
        continue;
      }
      return i + 1;
    }
    ++i;
  }
}

size_t Tokenizer::scanNumber(size_t start) const {
  size_t i = start;
  while (i < text_.size() && isDigit(text_[i])) ++i;
  if (i < text_.size() && text_[i] == '.') {
    ++i;
    while (i < text_.size() && isDigit(text_[i])) ++i;
  }
  // An exponent only when digits follow it; otherwise the letter starts a name.
  if (i < text_.size() && (text_[i] == 'e' || text_[i] == 'E')) {
    size_t j = i + 1;
    if (j < text_.size() && (text_[j] == '+' || text_[j] == '-')) ++j;
    if (j < text_.size() && isDigit(text_[j])) {
      while (j < text_.size() && isDigit(text_[j])) ++j;
      i = j;
    }
  }
  return i;
}

size_t Tokenizer::scanHexOrOctal(size_t start) const {
  if (start + 2 >= text_.size()) return 0;
  char radix = asciiUpper(text_[start + 1]);
  if (radix != 'H' && radix != 'O') return 0;
  size_t i = start + 2;
  while (i < text_.size() && (radix == 'H' ? isHexDigit(text_[i]) : (text_[i] >= '0' && text_[i] <= '7')))
    ++i;
  if (i == start + 2 || (i < text_.size() && isNameChar(text_[i]))) return 0;
  return i;
}

Token Tokenizer::next() {
  Token token;
  size_t start = pos_;
  while (pos_ < text_.size() && isSpace(text_[pos_])) ++pos_;
  token.spaceBefore = pos_ > start;
  token.offset = static_cast<uint32_t>(pos_);
  if (pos_ >= text_.size()) {
    token.kind = TokenKind::End;
    token.text = text_.substr(pos_, 0);
    return token;
  }

  const char c = text_[pos_];
  const char n = pos_ + 1 < text_.size() ? text_[pos_ + 1] : '\0';
  size_t end = pos_ + 1;
  TokenKind kind;
  if (isNameStart(c)) {
    while (end < text_.size() && isNameChar(text_[end])) ++end;
    kind = TokenKind::Name;
  } else if (isDigit(c) || (c == '.' && isDigit(n) && previous_ != TokenKind::Name &&
                            previous_ != TokenKind::QuotedName && previous_ != TokenKind::RightParen)) {
    end = scanNumber(pos_);
    kind = TokenKind::Number;
  } else {
    switch (c) {
      case '[':
        end = scanQuoted(pos_, ']', false);
        if (end == std::string_view::npos) fail("unterminated bracketed name", pos_);
        for (size_t i = pos_ + 1; i + 1 < end; ++i) {
          if (static_cast<unsigned char>(text_[i]) < 0x20) fail("control character in a bracketed name", i);
        }
        kind = TokenKind::QuotedName;
        break;
      case '"':
      case '\'':
        end = scanQuoted(pos_, c, true);
        if (end == std::string_view::npos) fail("unterminated text literal", pos_);
        kind = TokenKind::String;
        break;
      case '#': {
        end = scanQuoted(pos_, '#', false);
        if (end == std::string_view::npos) fail("unterminated date literal", pos_);
        if (!parseDialectDate(text_.substr(pos_ + 1, end - pos_ - 2))) fail("invalid date literal", pos_);
        kind = TokenKind::Date;
        break;
      }
      case '&':
        if (size_t hexEnd = scanHexOrOctal(pos_)) {
          end = hexEnd;
          kind = TokenKind::Number;
        } else {
          kind = TokenKind::Ampersand;
        }
        break;
      case '<':
        if (n == '>') {
          end = pos_ + 2;
          kind = TokenKind::NotEqual;
        } else if (n == '=') {
          end = pos_ + 2;
          kind = TokenKind::LessEqual;
        } else {
          kind = TokenKind::Less;
        }
        break;
      case '>':
        if (n == '=') {
          end = pos_ + 2;
          kind = TokenKind::GreaterEqual;
        } else {
          kind = TokenKind::Greater;
        }
        break;
      case '=': kind = TokenKind::Equal; break;
      case '+': kind = TokenKind::Plus; break;
      case '-': kind = TokenKind::Minus; break;
      case '*': kind = TokenKind::Star; break;
      case '/': kind = TokenKind::Slash; break;
      case '\\': kind = TokenKind::Backslash; break;
      case '^': kind = TokenKind::Caret; break;
      case '(': kind = TokenKind::LeftParen; break;
      case ')': kind = TokenKind::RightParen; break;
      case ',': kind = TokenKind::Comma; break;
      case ';': kind = TokenKind::Semicolon; break;
      case '.': kind = TokenKind::Dot; break;
      case '!': kind = TokenKind::Bang; break;
      default: fail("unexpected character", pos_);
    }
  }
  token.kind = kind;
  token.text = text_.substr(pos_, end - pos_);
  if (kind == TokenKind::Number && !numberFits(token.text))
    throw Error(runtime_error::kOverflow, "Overflow: the number " + std::string(token.text) + " at character " +
                                              std::to_string(pos_ + 1) + " is too large for its type in statement '" +
                                              std::string(text_) + "'.");
  if (isLiteral(kind)) token.literal = literals_++;
  previous_ = kind;
  pos_ = end;
  return token;
}

size_t Tokenizer::literalEnd(size_t pos, TokenKind kind) const {
  if (pos >= text_.size()) return std::string_view::npos;
  const char c = text_[pos];
  if (kind == TokenKind::String && (c == '"' || c == '\'')) return scanQuoted(pos, c, true);
  size_t end = std::string_view::npos;
  if (kind == TokenKind::Number && isDigit(c)) end = scanNumber(pos);
  if (kind == TokenKind::Number && c == '&') end = scanHexOrOctal(pos);
  if (end == 0 || end == std::string_view::npos) return std::string_view::npos;
  return numberFits(text_.substr(pos, end - pos)) ? end : std::string_view::npos;
}

std::vector<Token> tokenize(std::string_view text) {
  std::vector<Token> tokens;
  tokens.reserve(text.size() / 4 + 2);
  Tokenizer tokenizer(text);
  do {
    tokens.push_back(tokenizer.next());
  } while (tokens.back().kind != TokenKind::End);
  return tokens;
}

std::string_view tokenName(const Token& token) {
  if (token.kind == TokenKind::QuotedName) return token.text.substr(1, token.text.size() - 2);
  return token.text;
}

Variant literalValue(const Token& token) {
  switch (token.kind) {
    case TokenKind::String: {
      const char quote = token.text.front();
      std::string_view body = token.text.substr(1, token.text.size() - 2);
      std::string value;
      value.reserve(body.size());
      // Each doubled quote stands for one: the text up to and with the first
      // of the two is kept, the second skipped.
      for (size_t quoteAt; (quoteAt = body.find(quote)) != std::string_view::npos;) {
        value.append(body.substr(0, quoteAt + 1));
        body.remove_prefix(std::min(quoteAt + 2, body.size()));
      }
      value.append(body);
      return Variant(std::move(value));
    }
    case TokenKind::Number: {
      std::string_view t = token.text;
      if (t.front() == '&') return Variant(radixNumber(t.substr(2), asciiUpper(t[1]) == 'H' ? 16 : 8).value_or(0));
      bool whole = t.find_first_of(".eE") == std::string_view::npos;
      if (whole) {
        int64_t v = 0;
        auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
        if (ec == std::errc() && ptr == t.data() + t.size() && v <= INT32_MAX)
          return Variant(static_cast<int32_t>(v));
      }
      double d = 0;
      std::from_chars(t.data(), t.data() + t.size(), d);
      return Variant(d);
    }
    case TokenKind::Date:
      return Variant(*parseDialectDate(token.text.substr(1, token.text.size() - 2)));
    default:
      return Variant::null();
  }
}

std::optional<int32_t> radixNumber(std::string_view digits, int radix) {
  while (!digits.empty() && digits.front() == '0') digits.remove_prefix(1);
  uint64_t v = 0;
  auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v, radix);
  if (digits.empty()) return 0;
  if (ec != std::errc() || ptr != digits.data() + digits.size()) return std::nullopt;
  if (v <= 0xFFFF) return static_cast<int32_t>(static_cast<int16_t>(static_cast<uint16_t>(v)));
  if (v <= 0xFFFFFFFF) return static_cast<int32_t>(static_cast<uint32_t>(v));
  return std::nullopt;
}

bool isKeyword(const Token& token, std::string_view keyword) {
  if (token.kind != TokenKind::Name || token.text.size() != keyword.size()) return false;
  for (size_t i = 0; i < keyword.size(); ++i) {
    if (asciiUpper(token.text[i]) != keyword[i]) return false;
  }
  return true;
}

}  // namespace oskara::db::sql
