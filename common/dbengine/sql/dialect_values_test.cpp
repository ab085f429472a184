// What the dialect's values mean, theme by theme: each test is a table of
// statements and the results the dialect gives them, run against fixture
// tables. A result is its rows joined by "; " (cells by "|"), or "#n" for a
// failure with the error number n.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "core/clock.h"
#include "core/error.h"
#include "dbengine/sql/errors.h"
#include "dbengine/sql/test_database.h"

namespace oskara::db::sql {
namespace {

using ::testing::HasSubstr;

struct Case {
  const char* statement;
  const char* expected;
};

class DialectValues : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.exec(
        "CREATE TABLE events (id INTEGER, d DATETIME);"
        "INSERT INTO events VALUES (1, '2020-01-31 08:15:00'), (2, '2020-01-31'), (3, '2020-02-01 23:00:00');"
        "CREATE TABLE people (id INTEGER, score DOUBLE);"
        "INSERT INTO people VALUES (1, 10), (2, 9), (3, 9), (4, 8);"
        "CREATE TABLE regions (id INTEGER, region TEXT COLLATE NOCASE, name TEXT COLLATE NOCASE);"
        "INSERT INTO regions VALUES (1, 'East', 'Banana'), (2, 'east ', 'apple'), (3, 'EAST', 'cherry'), "
        "(4, 'West', 'Date');"
        // Yes written as 1 by our tools and as -1 by older systems.
        "CREATE TABLE flags (id INTEGER, flag BOOLEAN);"
        "INSERT INTO flags VALUES (1, 1), (2, -1), (3, 0);");
  }

  std::string outcome(const std::string& statement, bool anyOrder = false) {
    try {
      std::vector<std::string> rows = db_.run(statement).rows;
      if (anyOrder) std::sort(rows.begin(), rows.end());
      std::string out;
      for (const auto& row : rows) out += (out.empty() ? "" : "; ") + row;
      return out;
    } catch (const Error& e) {
      return "#" + std::to_string(e.number());
    }
  }

  void check(std::initializer_list<Case> cases, bool anyOrder = false) {
    for (const Case& c : cases) EXPECT_EQ(outcome(c.statement, anyOrder), c.expected) << c.statement;
  }

  FixedClock clock_{DateTime::fromParts(2026, 12, 7, 13, 45, 10)};
  ScopedClock scopedClock_{clock_};
  testdb::TestDatabase db_;
};

TEST_F(DialectValues, DatesAreDayCountsThatComputeAndCompareWithNumbers) {
  check({
      {"SELECT Count(*) FROM events WHERE Int(d) = #1/31/2020#", "2"},
      {"SELECT id FROM events WHERE Fix(d) = #1/31/2020# AND d > #1/31/2020#", "1"},
      {"SELECT 46096 = #3/15/2026#, #3/15/2026# = 46096, #3/15/2026# < 46096.5", "-1|-1|-1"},
      {"SELECT Int(Now()) = Date(), Int(Now()), Fix(#1/31/2020 23:59#)", "-1|2026-12-07|2020-01-31"},
      {"SELECT id FROM events WHERE d > 43861 ORDER BY id", "1; 3"},
      {"SELECT id FROM events WHERE d Between 43861 And 43861.5 ORDER BY id", "1; 2"},
      {"SELECT id FROM events WHERE d In (43861) ORDER BY id", "2"},
      {"SELECT #1/31/2020# + 1, 1 + #1/31/2020#, #1/31/2020# - 1.5", "2020-02-01|2020-02-01|2020-01-29 12:00:00"},
      {"SELECT #3/1/2020# - #2/1/2020#, #1/2/1900# * 2, -#1/2/1900#, CDbl(#1/2/1900 12:00#)", "29|6|-3|3.5"},
      {"SELECT Date() + True", "2026-12-06"},
  });
}

TEST_F(DialectValues, TrueIsMinusOneAndAnyNonZeroStoredValueIsYes) {
  check({
      {"SELECT True, False, True + 1, CInt(True), (2 > 1) + 0, Not True", "-1|0|0|-1|-1|0"},
      {"SELECT 1 = True, -1 = True, (1 < 2) = -1, \"x\" & (1 = 1)", "0|-1|-1|x-1"},
      {"SELECT IIf(1 > 0, True, False) * 2, Abs(True), Nz(Null = 1, True) + 0", "-2|1|-1"},
      {"SELECT -Sum(flag), Sum(flag = True), Min(flag) FROM flags", "2|-2|-1"},
      {"SELECT Count(*) FROM flags WHERE flag = True", "2"},
      {"SELECT Count(*) FROM flags WHERE True = flag AND flag <> False", "2"},
      {"SELECT id FROM flags WHERE flag = False OR flag <> True", "3"},
      {"SELECT id FROM flags WHERE flag = -1 ORDER BY id", "1; 2"},
      {"SELECT id FROM flags WHERE flag = (1 = 1) ORDER BY id", "1; 2"},
      {"SELECT id FROM flags WHERE flag ORDER BY id", "1; 2"},
      {"SELECT id, flag + 0 FROM flags ORDER BY flag, id", "1|-1; 2|-1; 3|0"},
      {"SELECT Count(*) FROM flags GROUP BY flag ORDER BY Count(*)", "1; 2"},
  });
  // Written into a yes/no field, Yes is stored as 1.
  EXPECT_EQ(db_.run("UPDATE flags SET flag = True WHERE id = 3").changes, 1);
  EXPECT_EQ(db_.run("INSERT INTO flags (id, flag) VALUES (4, -1)").changes, 1);
  EXPECT_EQ(db_.run("INSERT INTO flags (id, flag) SELECT 5, id > 4 FROM flags WHERE id = 2").changes, 1);
  EXPECT_EQ(db_.run("INSERT INTO people (id, score) SELECT 9, flag FROM flags WHERE id = 1").changes, 1);
  EXPECT_THAT(db_.rows("SELECT id, flag FROM flags WHERE id >= 3 ORDER BY id"),
              ::testing::ElementsAre("3|1", "4|1", "5|0"));
  EXPECT_THAT(db_.rows("SELECT score FROM people WHERE id = 9"), ::testing::ElementsAre("-1"));
}

TEST_F(DialectValues, TopKeepsEveryRowTiedWithTheLast) {
  check(
      {
          {"SELECT TOP 2 id FROM people ORDER BY score DESC", "1; 2; 3"},
          {"SELECT TOP 3 id FROM people ORDER BY score DESC", "1; 2; 3"},
          {"SELECT TOP 1 id, score FROM people ORDER BY score", "4|8"},
          {"SELECT TOP 1 id FROM people ORDER BY score DESC, id DESC", "1"},
          {"SELECT TOP 0 id FROM people ORDER BY score", ""},
          {"SELECT Count(*) FROM (SELECT TOP 2 id FROM people) AS t", "2"},
          {"SELECT TOP 50 PERCENT id FROM people ORDER BY score DESC", "1; 2; 3"},
          {"SELECT TOP 10 PERCENT id FROM people ORDER BY score", "4"},
          {"SELECT TOP 25 PERCENT id FROM people ORDER BY score DESC", "1"},
          {"SELECT Count(*) FROM (SELECT TOP 60 PERCENT id FROM people) AS t", "3"},
          {"SELECT DISTINCT TOP 2 score FROM people ORDER BY score DESC", "10; 9"},
          {"SELECT TOP 1 id FROM regions ORDER BY Trim(region)", "1; 2; 3"},
          {"SELECT TOP 1 score, Count(*) AS n FROM people GROUP BY score ORDER BY Count(*) DESC", "9|2"},
          {"SELECT id FROM people WHERE id In (SELECT TOP 1 id FROM people ORDER BY score DESC)", "1"},
      },
      true);
  // The rows of TOP over one table stay the table's rows.
  EXPECT_TRUE(db_.run("SELECT TOP 2 id FROM people ORDER BY score DESC").translation.updatable);
}

TEST_F(DialectValues, ComputedTextKeepsItsCaseInsensitivity) {
  check({
      {"SELECT Count(*) FROM (SELECT DISTINCT Trim(region) FROM regions) AS t", "2"},
      {"SELECT Count(*) FROM (SELECT DISTINCT region FROM regions) AS t", "3"},  // 'east ' keeps its blank
      {"SELECT Count(*) FROM regions GROUP BY Trim(region) ORDER BY Count(*)", "1; 3"},
      {"SELECT Min(Trim(name)), Max(name & ''), Max(Left(name, 1)), Min(name) FROM regions", "apple|Date|D|apple"},
      {"SELECT Count(*) FROM (SELECT Trim(region) AS r FROM regions) AS q WHERE q.r = 'EAST'", "3"},
      {"SELECT q.r FROM (SELECT UCase(name) AS r FROM regions) AS q ORDER BY q.r DESC", "DATE; CHERRY; BANANA; APPLE"},
  });
}

TEST_F(DialectValues, NumbersAsTextHaveFifteenSignificantDigits) {
  check({
      {"SELECT CStr(1 / 3), CStr(0.1 + 0.2), \"x\" & (0.1 + 0.2), Len(0.1 + 0.2)", "0.333333333333333|0.3|x0.3|3"},
      {"SELECT CStr(10 ^ 15), CStr(123456789012345), CStr(2 ^ 0.5), CStr(-2.5)",
       "1E+15|123456789012345|1.4142135623731|-2.5"},
      {"SELECT CStr(1E+300 * 1E+300)", "#6"},
  });
}

TEST_F(DialectValues, SmallerMeaningsOfOperatorsAndFunctions) {
  check({
      {"SELECT CCur(1.23456), CCur(-2.5), CCur(\"12.34567\")", "1.2346|-2.5|12.3457"},
      {"SELECT -2 ^ 2, 2 ^ -1, -2 ^ -2, 2 ^ 3 ^ 2", "-4|0.5|-0.25|64"},
      {"SELECT 1 / 0", "#11"},
      {"SELECT 0 / 0", "#6"},
      {"SELECT 5 \\ 0", "#11"},
      {"SELECT 5 Mod 0", "#11"},
      {"SELECT Replace(\"a-b-c\", \"-\", \"+\"), Replace(\"aXbxc\", \"x\", \"\"), "
       "Replace(\"aXbxc\", \"x\", \"\", 1, -1, 0)",
       "a+b+c|abc|aXbc"},
      {"SELECT Replace(\"abcabc\", \"b\", \"B\", 3), Replace(\"aaa\", \"a\", \"b\", 1, 2), Replace(Null, \"a\", \"b\")",
       "caBc|bba|Null"},
      {"SELECT String(3, \"xy\"), String(2, 65), String(0, \"x\") & '|'", "xxx|AA||"},
  });
}

TEST_F(DialectValues, ValuesBeyondTheirRangeFailWithTheRuntimesNumbers) {
  check({
      {"SELECT &HFFFF, &H10000, &HFFFFFFFF, &O177777, &H7FFFFFFF", "-1|65536|-1|-1|2147483647"},
      {"SELECT &H1FFFFFFFF", "#6"},
      {"SELECT 1e400", "#6"},
      {"SELECT Val(\"&HFFFFFFFFF\")", "#6"},
      {"SELECT Space(1e9)", "#14"},
      {"SELECT String(1e9, \"x\")", "#14"},
      {"SELECT Len(Replace(Space(1000), \" \", Space(20000)))", "#14"},
      {"SELECT Len(Space(9000000) & Space(9000000))", "#14"},
      {"SELECT Len(Space(9000000) + Space(9000000))", "#14"},
      {"SELECT CDate(1e308)", "#6"},
      {"SELECT CDate(-1e308)", "#6"},
      {"SELECT Year(1e308)", "#6"},
      {"SELECT Weekday(1e308)", "#6"},
      {"SELECT DateValue(-1e308)", "#6"},
      {"SELECT DateAdd(\"d\", 1e10, #1/1/2020#)", "#6"},
      {"SELECT DateAdd(\"yyyy\", 1e15, Date())", "#6"},
      {"SELECT DateAdd(\"q\", 1e18, Date())", "#6"},
      {"SELECT DateSerial(1e15, 1, 1)", "#6"},
      {"SELECT TimeSerial(1e15, 0, 0)", "#6"},
      {"SELECT Day(Date() + 1e10)", "#6"},
      {"SELECT DateDiff(\"d\", 0, 1e300)", "#6"},
      {"SELECT CDate(\"nan\")", "#13"},
      {"SELECT CDbl(\"inf\")", "#13"},
      {"SELECT CDate(2958465.5), CDate(-657434)", "9999-12-31 12:00:00|0100-01-01"},
  });
}

TEST_F(DialectValues, TextsOfSqliteAboutATranslationBecomeSyntaxErrorsQuotingTheStatement) {
  std::string nested = "1";
  for (int i = 0; i < 150; ++i) nested = "1 - (" + nested + ")";
  const Case cases[] = {
      {"SELECT Sum(score) FROM people WHERE Sum(score) > 1", "#3075"},
      {"SELECT Sum(Count(score)) FROM people", "#3075"},
      {"SELECT (SELECT id, score FROM people)", "#3306"},
      {"SELECT id FROM people WHERE id In (SELECT id, score FROM people)", "#3306"},
  };
  std::vector<std::string> statements{"SELECT " + nested};
  for (const Case& c : cases) statements.push_back(c.statement);
  for (const std::string& statement : statements) {
    try {
      db_.run(statement);
      ADD_FAILURE() << "no error for " << statement;
    } catch (const Error& e) {
      EXPECT_GE(e.number(), errc::kSyntaxExpression) << e.text();
      EXPECT_THAT(e.text(), HasSubstr("'" + statement + "'"));
    }
  }
  for (const Case& c : cases) EXPECT_EQ(outcome(c.statement), c.expected) << c.statement;
  // Constants order and group nothing, and are no column numbers.
  check({
      {"SELECT Count(*) FROM people ORDER BY False, True", "4"},
      {"SELECT Count(*) FROM people GROUP BY True", "4"},
  });
}

}  // namespace
}  // namespace oskara::db::sql
