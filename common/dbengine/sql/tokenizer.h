// Stage 1 of the translator: the tokens of the dialect.
//
// Names come bare (`tblDTQueue`) or bracketed (`[Bal Age1]`); text literals
// between double or single quotes with the quote doubled inside; numbers
// (`30`, `.5`, `1e3`, `&H1F`); date literals between number signs
// (`#01/1/68#`, `#2026-12-07#`). Keywords are bare names that the parser
// recognises without regard to case; a bracketed name is never a keyword.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "core/variant.h"

namespace oskara::db::sql {

enum class TokenKind : uint8_t {
  End,
  Name,         // bare name or keyword
  QuotedName,   // [name]
  String,       // "text" or 'text'
  Number,       // 30, 2.5, 1e3, &H1F
  Date,         // #1/1/2099#
  Equal,        // =
  NotEqual,     // <>
  Less,         // <
  LessEqual,    // <=
  Greater,      // >
  GreaterEqual, // >=
  Plus,         // +
  Minus,        // -
  Star,         // *
  Slash,        // /
  Backslash,    // \  (integer division)
  Caret,        // ^
  Ampersand,    // &  (concatenation)
  LeftParen,    // (
  RightParen,   // )
  Comma,        // ,
  Semicolon,    // ;
  Dot,          // .
  Bang,         // !  (same as the dot between a table and a field)
};

struct Token {
  TokenKind kind = TokenKind::End;
  std::string_view text;     // as written, delimiters included
  uint32_t offset = 0;       // of the first character in the statement
  int32_t literal = -1;      // String/Number/Date: ordinal among the statement's literals
  bool spaceBefore = false;  // whitespace separates it from the previous token
};

inline bool isLiteral(TokenKind kind) {
  return kind == TokenKind::String || kind == TokenKind::Number || kind == TokenKind::Date;
}

// Produces the tokens of a statement one by one. Throws the expression syntax
// error (3075) for an unterminated quote, bracket or date, a date literal that
// is not a date, or a character that belongs to no token, and overflow (6)
// for a number too large for its type.
class Tokenizer {
 public:
  explicit Tokenizer(std::string_view text) : text_(text) {}
  Token next();

  // Where a text or number literal starting at `pos` ends, as next() would
  // read it; npos when none starts there or next() would refuse it. Numbers
  // must start with a digit or `&`: whether a `.` starts a number depends on
  // the token before it.
  size_t literalEnd(size_t pos, TokenKind kind) const;

 private:
  [[noreturn]] void fail(const char* what, size_t at) const;
  size_t scanQuoted(size_t start, char close, bool doubledCloseEscapes) const;
  size_t scanNumber(size_t start) const;
  size_t scanHexOrOctal(size_t start) const;  // 0 when `&` starts no number
  bool numberFits(std::string_view number) const;

  std::string_view text_;
  size_t pos_ = 0;
  int32_t literals_ = 0;
  TokenKind previous_ = TokenKind::End;
};

// All tokens of the statement, the End token last.
std::vector<Token> tokenize(std::string_view text);

// The name a Name or QuotedName token stands for (brackets removed).
std::string_view tokenName(const Token& token);

// The value of a literal token: String for text, Long or Double for a
// number, Date for a date literal. The token is one next() accepted.
Variant literalValue(const Token& token);

// The value of the digits of &H (radix 16) or &O (radix 8), typed as the
// dialect types such a number: up to 16 bits an Integer, up to 32 bits a
// Long, each in two's complement (&HFFFF is -1, &H10000 is 65536, &HFFFFFFFF
// is -1); std::nullopt beyond 32 bits, which overflows.
std::optional<int32_t> radixNumber(std::string_view digits, int radix);

// True when the Name token is the keyword (given in upper case), compared
// without regard to case.
bool isKeyword(const Token& token, std::string_view keyword);

}  // namespace oskara::db::sql
