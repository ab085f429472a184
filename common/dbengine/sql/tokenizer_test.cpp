#include "dbengine/sql/tokenizer.h"

#include <gmock/gmock.h>
#include <optional>
#include <gtest/gtest.h>

#include "core/error.h"
#include "dbengine/sql/errors.h"
#include "dbengine/sql/translator.h"

namespace oskara::db::sql {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using K = TokenKind;

std::vector<TokenKind> kinds(std::string_view text) {
  std::vector<TokenKind> out;
  for (const Token& t : tokenize(text)) out.push_back(t.kind);
  return out;
}

Variant onlyLiteral(std::string_view text) {
  std::vector<Token> tokens = tokenize(text);
  EXPECT_EQ(tokens.size(), 2u) << text;
  return literalValue(tokens.front());
}

TEST(Tokenizer, NamesBareBracketedQualifiedAndStarred) {
  std::vector<Token> t = tokenize("[Bal Age1]+[tblDtCallLogHeader].[LogID], tblDTQueue.*");
  EXPECT_THAT(kinds("[Bal Age1]+[tblDtCallLogHeader].[LogID], tblDTQueue.*"),
              ElementsAre(K::QuotedName, K::Plus, K::QuotedName, K::Dot, K::QuotedName, K::Comma, K::Name, K::Dot,
                          K::Star, K::End));
  EXPECT_EQ(tokenName(t[0]), "Bal Age1");
  EXPECT_EQ(tokenName(t[4]), "LogID");
  EXPECT_EQ(tokenName(t[6]), "tblDTQueue");
}

TEST(Tokenizer, TextLiteralsUndoubleTheirOwnQuote) {
  EXPECT_EQ(onlyLiteral(R"("ab""c")"), Variant("ab\"c"));
  EXPECT_EQ(onlyLiteral("'it''s'"), Variant("it's"));
  EXPECT_EQ(onlyLiteral(R"("it's")"), Variant("it's"));
  EXPECT_EQ(onlyLiteral(R"("")"), Variant(""));
  EXPECT_EQ(onlyLiteral(R"("""a""""b""")"), Variant(R"("a""b")"));
  EXPECT_EQ(onlyLiteral(R"("a;b -- [c] #d#")"), Variant("a;b -- [c] #d#"));
}

TEST(Tokenizer, Numbers) {
  std::vector<Token> t = tokenize("LogID= 30");
  EXPECT_TRUE(t[2].spaceBefore);  // the leading blank of number text is only whitespace
  EXPECT_EQ(literalValue(t[2]), Variant(int32_t{30}));
  EXPECT_EQ(onlyLiteral(".5"), Variant(0.5));
  EXPECT_EQ(onlyLiteral("1e3"), Variant(1000.0));
  EXPECT_EQ(onlyLiteral("250.5"), Variant(250.5));
  EXPECT_EQ(onlyLiteral("&H1F"), Variant(int32_t{31}));
  EXPECT_EQ(onlyLiteral("3000000000"), Variant(3e9));
  EXPECT_THAT(kinds("2e"), ElementsAre(K::Number, K::Name, K::End));  // no digits: not an exponent
  EXPECT_THAT(kinds("t.5"), ElementsAre(K::Name, K::Dot, K::Number, K::End));
}

TEST(Tokenizer, DateLiteralsReadMonthDayYear) {
  struct Case {
    const char* text;
    const char* iso;
  } cases[] = {
      {"#01/1/68#", "1968-01-01"},          {"#1/1/2099#", "2099-01-01"},
      {"#12/31/2026 13:45:00#", "2026-12-31 13:45:00"},
      {"#2026-12-07#", "2026-12-07"},       {"#1/1/29#", "2029-01-01"},
      {"#1/1/30#", "1930-01-01"},           {"#2/29/2024#", "2024-02-29"},
      {"#13:45#", "13:45:00"},              {"#1/2/2026 1:30 PM#", "2026-01-02 13:30:00"},
      {"#1/2/2026 12:05 am#", "2026-01-02 00:05:00"},
  };
  for (const Case& c : cases) {
    Variant v = onlyLiteral(c.text);
    ASSERT_EQ(v.type(), VarType::Date) << c.text;
    EXPECT_EQ(v.get<DateTime>()->toIso(), c.iso) << c.text;
  }
}

TEST(Tokenizer, OperatorsTakeTheLongestMatch) {
  EXPECT_THAT(kinds("<><=>=< >=+-*/\\^&(),;.!"),
              ElementsAre(K::NotEqual, K::LessEqual, K::GreaterEqual, K::Less, K::GreaterEqual, K::Plus, K::Minus,
                          K::Star, K::Slash, K::Backslash, K::Caret, K::Ampersand, K::LeftParen, K::RightParen,
                          K::Comma, K::Semicolon, K::Dot, K::Bang, K::End));
  EXPECT_THAT(kinds("<>="), ElementsAre(K::NotEqual, K::Equal, K::End));
}

TEST(Tokenizer, KeywordsMatchWithoutRegardToCaseButNeverInBrackets) {
  std::vector<Token> t = tokenize("select SeLeCt [SELECT] selected");
  EXPECT_TRUE(isKeyword(t[0], "SELECT"));
  EXPECT_TRUE(isKeyword(t[1], "SELECT"));
  EXPECT_FALSE(isKeyword(t[2], "SELECT"));
  EXPECT_FALSE(isKeyword(t[3], "SELECT"));
}

TEST(Tokenizer, MalformedTextIsAnExpressionSyntaxErrorQuotingTheStatement) {
  for (const char* text : {"SELECT \"abc", "SELECT [abc", "SELECT #1/1/2020", "SELECT #13/45/2020#",
                           "SELECT #2/30/2026#", "SELECT a $ b", "SELECT 'x", "SELECT [a\x01]"}) {
    try {
      tokenize(text);
      ADD_FAILURE() << "no error for " << text;
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), errc::kSyntaxExpression) << text;
      EXPECT_THAT(e.text(), HasSubstr(text));
    }
  }
}

std::string getLogId(std::string_view custId) {
  return "SELECT DISTINCTROW tblDtCallLogHeader.LogID, tblDtCallLogHeader.CustID FROM tblDtCallLogHeader WHERE "
         "((tblDtCallLogHeader.CustID=\"" + std::string(custId) + "\")); ";
}

TEST(StatementShape, StatementsThatDifferInLiteralsOnlyShareTheKey) {
  StatementShape a = statementShape(getLogId("C1001"));
  StatementShape b = statementShape(getLogId("ab\"\"c"));
  EXPECT_EQ(a.key, b.key);
  EXPECT_THAT(a.literals, ElementsAre(Variant("C1001")));
  EXPECT_THAT(b.literals, ElementsAre(Variant("ab\"c")));

  // Runs of whitespace and the trailing blank do not matter; the kind of a literal does.
  EXPECT_EQ(statementShape("SELECT  a\n FROM t WHERE x = 1; ").key, statementShape("SELECT a FROM t WHERE x = 2;").key);
  EXPECT_EQ(statementShape(" \tSELECT a FROM\tt WHERE x=\"1\"").key, "SELECT a FROM t WHERE x=\x01s");
  EXPECT_NE(statementShape("SELECT a FROM t WHERE x = 1").key, statementShape("SELECT a FROM t WHERE x = \"1\"").key);
  EXPECT_NE(statementShape("SELECT a FROM t WHERE x = 1").key, statementShape("SELECT a FROM t WHERE x = #1/1/68#").key);
  EXPECT_NE(statementShape("SELECT a FROM t").key, statementShape("SELECT b FROM t").key);
}

TEST(StatementShape, LiteralsComeInOrderWithTheirTypes) {
  StatementShape s = statementShape(R"(SELECT "x", 2, 2.5, #01/1/68#, 'y' FROM t)");
  ASSERT_EQ(s.literals.size(), 5u);
  EXPECT_EQ(s.literals[0], Variant("x"));
  EXPECT_EQ(s.literals[1], Variant(int32_t{2}));
  EXPECT_EQ(s.literals[2], Variant(2.5));
  EXPECT_EQ(s.literals[3], Variant(DateTime::fromParts(1968, 1, 1)));
  EXPECT_EQ(s.literals[4], Variant("y"));
}

// The cache must read every text exactly as statementShape does, whichever
// earlier text a template came from; texts that only look alike around a
// literal must fall back to reading the text whole.
TEST(StatementShape, CachedShapesReadEveryTextLikeStatementShape) {
  const std::vector<std::string> texts = {
      getLogId("C1001"),
      getLogId("C2002"),
      getLogId("ab\"\"c"),                         // a doubled quote inside the literal
      getLogId("C3\") OR (1=1"),                    // a literal that closes early: other tokens
      "SELECT a FROM t WHERE x = 12 AND y = 'q'",
      "SELECT a FROM t WHERE x = 7 AND y = \"r\"",   // the other quote
      "SELECT a FROM t WHERE x = 12.5e3 AND y = 'q'",
      "SELECT a FROM t WHERE x = &H1F AND y = 'q'",
      "SELECT a FROM t WHERE x = &H1FFFFFFFF AND y = 'q'",  // beyond 32 bits: raises like statementShape
      "SELECT a FROM t WHERE x = 1e999 AND y = 'q'",
      "SELECT a FROM t WHERE x = 1e AND y = 'q'",    // no exponent: a number, then a name
      "SELECT a FROM t WHERE x = 12.5.5 AND y = 'q'",  // two numbers
      "SELECT a FROM t WHERE x = .5 AND y = 'q'",
      "SELECT a FROM t WHERE x = 12abc AND y = 'q'",
      "SELECT a FROM t WHERE d = #01/1/68#",
      "SELECT a FROM t WHERE d = #02/1/68#",
      "SELECT a FROM t WHERE x = 12 AND y = 'q",     // unterminated: raises like statementShape
      "SELECT a FROM t WHERE x = 12 AND y = 'q'  ",
      " SELECT a FROM t WHERE x = 12 AND y = 'q'",
  };
  ShapeCache cache(4);
  std::vector<Variant> literals;
  for (int pass = 0; pass < 2; ++pass) {
    for (const std::string& text : texts) {
      SCOPED_TRACE(text);
      std::optional<StatementShape> expected;
      try {
        expected = statementShape(text);
      } catch (const Error&) {
      }
      if (!expected) {
        EXPECT_THROW(cache.shapeOf(text, literals), Error);
        continue;
      }
      EXPECT_EQ(cache.shapeOf(text, literals), expected->key);
      EXPECT_EQ(literals, expected->literals);
    }
  }
}

}  // namespace
}  // namespace oskara::db::sql
