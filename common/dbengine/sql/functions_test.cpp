// The dialect's functions as SQLite evaluates them after translation.
#include "dbengine/sql/function_catalog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/clock.h"
#include "core/error.h"
#include "dbengine/sql/errors.h"
#include "dbengine/sql/test_database.h"

namespace oskara::db::sql {
namespace {

class Functions : public ::testing::Test {
 protected:
  // Evaluates the expression in a SELECT without FROM.
  std::string eval(const std::string& expression) {
    testdb::RunResult r = db_.run("SELECT " + expression);
    return r.rows.empty() ? "<no row>" : r.rows.front();
  }
  // The runtime's number of the error the expression fails with, 0 if none.
  int32_t failure(const std::string& expression) {
    try {
      db_.run("SELECT " + expression);
    } catch (const Error& e) {
      return e.number();
    }
    return 0;
  }

  FixedClock clock_{DateTime::fromParts(2026, 12, 7, 13, 45, 10)};
  ScopedClock scopedClock_{clock_};
  testdb::TestDatabase db_;
};

TEST_F(Functions, CatalogueMatchesNamesWithoutRegardToCase) {
  ASSERT_NE(findDialectFunction("datediff"), nullptr);
  EXPECT_EQ(findDialectFunction("DATEDIFF")->function, Function::DateDiff);
  EXPECT_EQ(findDialectFunction("iif")->form, FunctionForm::IIf);
  EXPECT_EQ(findDialectFunction("Sum")->form, FunctionForm::Aggregate);
  EXPECT_EQ(findDialectFunction("Nope"), nullptr);
}

TEST_F(Functions, ClockFunctionsReadTheCurrentClock) {
  EXPECT_EQ(eval("Date(), Time(), Now()"), "2026-12-07|13:45:10|2026-12-07 13:45:10");
  clock_.set(DateTime::fromParts(2027, 1, 1, 0, 0, 0));
  EXPECT_EQ(eval("Date(), Time(), Now()"), "2027-01-01|00:00:00|2027-01-01 00:00:00");
}

TEST_F(Functions, DateDiffCountsBoundariesCrossed) {
  EXPECT_EQ(eval("DateDiff(\"d\", #12/31/2026 23:59:00#, #1/1/2027 00:01:00#)"), "1");
  EXPECT_EQ(eval("DateDiff(\"d\", #1/1/2027 00:01:00#, #1/1/2027 23:59:00#)"), "0");
  EXPECT_EQ(eval("DateDiff(\"d\", '2026-11-27 18:30:00', Date())"), "10");
  EXPECT_EQ(eval("DateDiff(\"d\", #12/7/2026#, #12/1/2026#)"), "-6");
  EXPECT_EQ(eval("DateDiff(\"yyyy\", #12/31/2025#, #1/1/2026#)"), "1");
  EXPECT_EQ(eval("DateDiff(\"q\", #3/31/2026#, #4/1/2026#)"), "1");
  EXPECT_EQ(eval("DateDiff(\"m\", #1/31/2026#, #2/1/2026#)"), "1");
  EXPECT_EQ(eval("DateDiff(\"y\", #1/1/2026#, #1/3/2026#)"), "2");
  EXPECT_EQ(eval("DateDiff(\"w\", #12/1/2026#, #12/15/2026#)"), "2");
  EXPECT_EQ(eval("DateDiff(\"w\", #12/1/2026#, #12/14/2026#)"), "1");
  EXPECT_EQ(eval("DateDiff(\"ww\", #12/5/2026#, #12/6/2026#)"), "1");  // Saturday to Sunday
  EXPECT_EQ(eval("DateDiff(\"ww\", #12/6/2026#, #12/12/2026#)"), "0");
  EXPECT_EQ(eval("DateDiff(\"h\", #1/1/2026 10:59:59#, #1/1/2026 11:00:00#)"), "1");
  EXPECT_EQ(eval("DateDiff(\"n\", #1/1/2026 10:59:59#, #1/1/2026 11:00:00#)"), "1");
  EXPECT_EQ(eval("DateDiff(\"s\", #1/1/2026#, #1/2/2026#)"), "86400");
  EXPECT_EQ(eval("DateDiff(\"D\", Null, Date())"), "Null");
  EXPECT_EQ(eval("DateDiff(\"d\", Date(), Null)"), "Null");
  EXPECT_EQ(failure("DateDiff(\"x\", Date(), Date())"), errc::kInvalidCall);
  EXPECT_EQ(failure("DateDiff(\"d\", 'soon', Date())"), runtime_error::kTypeMismatch);
}

TEST_F(Functions, DateArithmeticAndParts) {
  EXPECT_EQ(eval("DateAdd(\"m\", 1, #1/31/2026#)"), "2026-02-28");
  EXPECT_EQ(eval("DateAdd(\"yyyy\", 1, #2/29/2024#)"), "2025-02-28");
  EXPECT_EQ(eval("DateAdd(\"d\", -1, #1/1/2026#)"), "2025-12-31");
  EXPECT_EQ(eval("DateAdd(\"ww\", 2, #1/1/2026#)"), "2026-01-15");
  EXPECT_EQ(eval("DateAdd(\"h\", 2, #1/1/2026 23:00:00#)"), "2026-01-02 01:00:00");
  EXPECT_EQ(eval("DateSerial(2026, 13, 1), DateSerial(2026, 3, 0), DateSerial(68, 1, 1)"),
            "2027-01-01|2026-02-28|1968-01-01");
  EXPECT_EQ(eval("TimeSerial(13, 45, 70)"), "13:46:10");
  EXPECT_EQ(eval("Year(#12/31/2026 13:45:07#), Month(#12/31/2026#), Day(#12/31/2026#)"), "2026|12|31");
  EXPECT_EQ(eval("Hour(#12/31/2026 13:45:07#), Minute('13:45:07'), Second(Now())"), "13|45|10");
  EXPECT_EQ(eval("Weekday(#12/6/2026#), Weekday(#12/6/2026#, 2), Weekday(#12/12/2026#)"), "1|7|7");
  EXPECT_EQ(eval("DatePart(\"q\", #8/1/2026#), DatePart(\"y\", #2/1/2026#)"), "3|32");
  EXPECT_EQ(eval("DateValue(#12/31/2026 13:45:07#), TimeValue(#12/31/2026 13:45:07#)"), "2026-12-31|13:45:07");
  EXPECT_EQ(eval("Year(Null)"), "Null");
}

TEST_F(Functions, TextCountsCharactersNotBytes) {
  EXPECT_EQ(eval("Len(\"héllo\"), Len(123), Len(Null)"), "5|3|Null");
  EXPECT_EQ(eval("Left(\"héllo\", 2), Right(\"héllo\", 3), Right(\"hi\", 5), Left(\"hi\", 0)"), "hé|llo|hi|");
  EXPECT_EQ(eval("Mid(\"héllo\", 2, 3), Mid(\"hello\", 4), Mid(\"hi\", 5)"), "éll|lo|");
  EXPECT_EQ(eval("UCase(\"aBc\"), LCase(\"aBc\"), UCase(Null)"), "ABC|abc|Null");
  EXPECT_EQ(eval("'[' & Trim(\"  a b  \") & '|' & LTrim(\"  a \") & '|' & RTrim(\" a  \") & ']'"), "[a b|a | a]");
  EXPECT_EQ(eval("InStr(\"Hello\", \"L\"), InStr(4, \"Hello\", \"l\"), InStr(\"abc\", \"z\"), InStr(Null, \"a\")"),
            "3|4|0|Null");
  EXPECT_EQ(eval("InStr(1, \"Hello\", \"L\", 0), InStr(\"héllo\", \"l\")"), "0|3");
  EXPECT_EQ(eval("StrComp(\"a\", \"B\"), StrComp(\"a\", \"A\"), Space(2) & 'x'"), "-1|0|  x");
  EXPECT_EQ(failure("Left(\"abc\", -1)"), errc::kInvalidCall);
  EXPECT_EQ(failure("Mid(\"abc\", 0)"), errc::kInvalidCall);
}

TEST_F(Functions, NumbersRoundHalfToEven) {
  EXPECT_EQ(eval("Abs(-3), Abs(-2.5), Int(-2.5), Fix(-2.5), Sgn(-4), Sgn(0)"), "3|2.5|-3|-2|-1|0");
  EXPECT_EQ(eval("Round(2.5), Round(3.5), Round(1.25, 1), Round(-2.5)"), "2|4|1.2|-2");
  EXPECT_EQ(eval("Sqr(16)"), "4");
  EXPECT_EQ(eval("Val(\" 12 34abc\"), Val(\"abc\"), Val(\"1.5e2\"), Val(\"&H10\"), Val(\"-3.5x\")"), "1234|0|150|16|-3.5");
}

TEST_F(Functions, ConversionsPassNullAndRefuseWhatDoesNotConvert) {
  EXPECT_EQ(eval("CStr(5), CStr(2.5), CStr(Null)"), "5|2.5|Null");
  EXPECT_EQ(eval("CInt(2.5), CInt(3.5), CInt(\"12\"), CLng(\"70000\")"), "2|4|12|70000");
  EXPECT_EQ(eval("CDbl(\"2.5\"), CDate(\"12/31/2026\"), CDate(\"2026-12-31 10:00:00\")"),
            "2.5|2026-12-31|2026-12-31 10:00:00");
  EXPECT_EQ(eval("CBool(5), CBool(0), CBool(\"False\"), CBool(\"true\")"), "-1|0|0|-1");
  EXPECT_EQ(failure("CInt(40000)"), runtime_error::kOverflow);
  EXPECT_EQ(failure("CLng(\"abc\")"), runtime_error::kTypeMismatch);
  EXPECT_EQ(failure("CDate(\"someday\")"), runtime_error::kTypeMismatch);
}

}  // namespace
}  // namespace oskara::db::sql
