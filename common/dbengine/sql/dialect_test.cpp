// The dialect's constructs, each run against an in-memory database.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "core/clock.h"
#include "core/error.h"
#include "dbengine/sql/errors.h"
#include "dbengine/sql/parser.h"
#include "dbengine/sql/test_database.h"
#include "dbengine/sql/translator.h"

namespace oskara::db::sql {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using testdb::RunResult;

Error errorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e;
  }
  return Error(0, "no error");
}

class Dialect : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.exec("INSERT INTO Customers VALUES (1, 'Smith', 'Oslo'), (2, 'Smith', 'Bergen'), (3, 'Jones', 'Oslo')");
    db_.exec("INSERT INTO Orders VALUES (10, 1, 5, '2026-12-01'), (11, 2, 7, NULL), (12, 3, 1, '2026-11-30'), "
             "(13, 3, 2, NULL)");
  }
  std::string eval(const std::string& expression) {
    RunResult r = db_.run("SELECT " + expression);
    EXPECT_EQ(r.rows.size(), 1u) << expression;
    return r.rows.empty() ? "" : r.rows.front();
  }
  int32_t errorNumber(const std::string& text) { return errorOf([&] { translate(text, db_); }).number(); }

  FixedClock clock_{DateTime::fromParts(2026, 12, 7, 13, 45, 10)};
  ScopedClock scopedClock_{clock_};
  testdb::TestDatabase db_;
};

// ---- DISTINCTROW ----

TEST_F(Dialect, DistinctRowDropsRepeatsOfTheSameRowsNotOfTheSameValues) {
  const std::string join = " FROM Customers INNER JOIN Orders ON Customers.Id = Orders.CustomerId";
  // Two customers named Smith, each with an order: two rows, though their values match.
  EXPECT_THAT(db_.run("SELECT DISTINCTROW Customers.Name" + join + " WHERE Customers.Name = 'Smith'").rows,
              ElementsAre("Smith", "Smith"));
  EXPECT_THAT(db_.run("SELECT DISTINCT Customers.Name" + join + " WHERE Customers.Name = 'Smith'").rows,
              ElementsAre("Smith"));
  // One customer with two orders: one row, where a plain SELECT gives two.
  EXPECT_THAT(db_.run("SELECT DISTINCTROW Customers.Name" + join + " WHERE Customers.Id = 3").rows,
              ElementsAre("Jones"));
  EXPECT_THAT(db_.run("SELECT Customers.Name" + join + " WHERE Customers.Id = 3").rows, ElementsAre("Jones", "Jones"));
  // Fields of both tables shown: every joined row is its own combination.
  EXPECT_EQ(db_.run("SELECT DISTINCTROW Customers.Name, Orders.Amount" + join).rows.size(), 4u);
  // One table: nothing to drop, and the rows stay editable.
  RunResult one = db_.run("SELECT DISTINCTROW Name FROM Customers");
  EXPECT_THAT(one.rows, UnorderedElementsAre("Smith", "Smith", "Jones"));
  EXPECT_TRUE(one.translation.updatable);
}

// ---- UPDATE and DELETE over joins ----

TEST_F(Dialect, UpdateOverAJoinWritesTheTableWhoseFieldsAreSet) {
  RunResult r = db_.run(
      "UPDATE Customers INNER JOIN Orders ON Customers.Id = Orders.CustomerId "
      "SET Orders.Amount = Orders.Amount * 2, Shipped = #12/7/2026# WHERE Customers.Name = 'Jones'");
  EXPECT_EQ(r.translation.target->table, "Orders");
  EXPECT_EQ(r.changes, 2);
  EXPECT_THAT(db_.rows("SELECT OrderId, Amount, Shipped FROM Orders ORDER BY OrderId"),
              ElementsAre("10|5|2026-12-01", "11|7|Null", "12|2|2026-12-07", "13|4|2026-12-07"));
  EXPECT_THAT(db_.rows("SELECT Name FROM Customers ORDER BY Id"), ElementsAre("Smith", "Smith", "Jones"));

  EXPECT_EQ(errorNumber("UPDATE Customers INNER JOIN Orders ON Customers.Id = Orders.CustomerId "
                        "SET Orders.Amount = 1, Customers.Name = 'x'"),
            errc::kSyntaxUpdate);
  EXPECT_EQ(errorNumber("UPDATE Customers SET Nope = 1"), errc::kSyntaxUpdate);
  EXPECT_EQ(errorNumber("UPDATE Nope SET a = 1"), errc::kNoSuchTable);
}

TEST_F(Dialect, UpdateOfOneTableUsesItsOwnFields) {
  RunResult r = db_.run("UPDATE DISTINCTROW Orders SET Amount = Amount + 1 WHERE Orders.CustomerId = 3;");
  EXPECT_EQ(r.changes, 2);
  EXPECT_THAT(db_.rows("SELECT Amount FROM Orders ORDER BY OrderId"), ElementsAre("5", "7", "2", "3"));
}

TEST_F(Dialect, DeleteOverAJoinDeletesRowsOfTheNamedTableOnly) {
  RunResult r = db_.run(
      "DELETE DISTINCTROW Orders.* FROM Customers INNER JOIN Orders ON Customers.Id = Orders.CustomerId "
      "WHERE Customers.Name = 'Smith';");
  EXPECT_EQ(r.translation.target->table, "Orders");
  EXPECT_EQ(r.changes, 2);
  EXPECT_THAT(db_.rows("SELECT OrderId FROM Orders ORDER BY OrderId"), ElementsAre("12", "13"));
  EXPECT_THAT(db_.rows("SELECT count(*) FROM Customers"), ElementsAre("3"));

  EXPECT_EQ(db_.run("DELETE * FROM Orders WHERE Amount > 1").changes, 1);
  EXPECT_EQ(db_.run("DELETE FROM Orders").changes, 1);
  EXPECT_EQ(errorNumber("DELETE FROM Customers INNER JOIN Orders ON Customers.Id = Orders.CustomerId"),
            errc::kSyntaxFrom);
  EXPECT_EQ(errorNumber("DELETE Nope.* FROM Orders"), errc::kSyntaxFrom);
}

// ---- INSERT ----

TEST_F(Dialect, InsertTakesValuesOrASelectMatchingItsFields) {
  EXPECT_EQ(db_.run("INSERT INTO Customers (Id, Name) VALUES (4, \"Lee\")").changes, 1);
  EXPECT_EQ(db_.run("INSERT INTO Customers VALUES (5, 'Kim', 'Oslo');").changes, 1);
  EXPECT_EQ(db_.run("INSERT INTO Orders (OrderId, CustomerId, Amount) SELECT Id + 100, Id, 0 FROM Customers "
                    "WHERE City = 'OSLO'").changes, 3);
  EXPECT_THAT(db_.rows("SELECT Id, Name, City FROM Customers WHERE Id > 3"), ElementsAre("4|Lee|Null", "5|Kim|Oslo"));

  EXPECT_EQ(errorNumber("INSERT INTO Customers (Id, Nope) VALUES (6, 'x')"), errc::kSyntaxInsert);
  EXPECT_EQ(errorNumber("INSERT INTO Customers (Id, Name) VALUES (6)"), errc::kSyntaxInsert);
  EXPECT_EQ(errorNumber("INSERT INTO Customers SELECT Id FROM Orders"), errc::kSyntaxInsert);
  EXPECT_EQ(errorNumber("INSERT INTO Nope VALUES (1)"), errc::kNoSuchTable);
}

// ---- Names ----

TEST_F(Dialect, NamesMatchWithoutRegardToCase) {
  RunResult r = db_.run("select CUSTOMERS.name, [customers].[CITY] from customers where ID = 3");
  EXPECT_THAT(r.rows, ElementsAre("Jones|Oslo"));
  EXPECT_THAT(r.translation.columnNames, ElementsAre("Name", "City"));  // as the table declares them
}

TEST_F(Dialect, UnknownTablesAndAmbiguousFieldsAreNamed) {
  Error unknown = errorOf([&] { translate("SELECT a FROM tblNowhere", db_); });
  EXPECT_EQ(unknown.number(), errc::kNoSuchTable);
  EXPECT_THAT(unknown.text(), HasSubstr("tblNowhere"));

  Error ambiguous = errorOf([&] {
    translate("SELECT CustID FROM tblDTQueue INNER JOIN tblDtCallLogHeader ON tblDTQueue.LogID = "
              "tblDtCallLogHeader.LogID", db_);
  });
  EXPECT_EQ(ambiguous.number(), errc::kAmbiguousField);
  EXPECT_THAT(ambiguous.text(), HasSubstr("CustID"));
  EXPECT_EQ(errorNumber("SELECT x.Name FROM Customers AS x, Orders AS x"), errc::kSyntaxFrom);
}

TEST_F(Dialect, ResultColumnsAreNamedByAliasFieldOrExprNumber) {
  RunResult r = db_.run("SELECT Name AS Who, City, Id * 2, Amount + 1 FROM Customers INNER JOIN Orders ON "
                        "Customers.Id = Orders.CustomerId WHERE OrderId = 10");
  EXPECT_THAT(r.translation.columnNames, ElementsAre("Who", "City", "Expr1000", "Expr1001"));
  EXPECT_THAT(r.translation.columnTypes, ElementsAre("TEXT", "TEXT", "", ""));
  EXPECT_THAT(r.rows, ElementsAre("Smith|Oslo|2|6"));

  // Fields of the same name from two tables are told apart by their table.
  RunResult both = db_.run("SELECT * FROM tblDTQueue INNER JOIN tblDtCallLogHeader ON tblDTQueue.LogID = "
                           "tblDtCallLogHeader.LogID");
  EXPECT_THAT(both.translation.columnNames,
              ElementsAre("QueueID", "tblDTQueue.CustID", "TransType", "Remark", "EntryDate", "EntryTime",
                          "tblDTQueue.LogID", "tblDtCallLogHeader.LogID", "tblDtCallLogHeader.CustID",
                          "SystemRemark", "ToCallBack", "LastConversationDate", "PromisedPayDate",
                          "PromisedAmt", "Collector"));
  EXPECT_FALSE(both.translation.updatable);
}

TEST_F(Dialect, AnAliasUsedElsewhereInItsQueryStandsForItsExpression) {
  EXPECT_THAT(db_.run("SELECT OrderId, Amount * 2 AS Twice FROM Orders WHERE Twice > 5 ORDER BY Twice DESC").rows,
              ElementsAre("11|14", "10|10"));
  EXPECT_EQ(errorNumber("SELECT b + 1 AS a, a + 1 AS b FROM Orders"), errc::kSyntaxExpression);
}

// ---- Parameters ----

TEST_F(Dialect, NamesThatAreNoFieldAreParametersDeclaredOnesFirst) {
  const std::string text = "SELECT Name FROM Customers WHERE City = [Which City] AND Id > MinId AND Id <> [Which City]";
  RunResult r = db_.run(text, {{"Which City", Variant("oslo")}, {"MinId", Variant(int32_t{1})}});
  EXPECT_THAT(r.rows, ElementsAre("Jones"));
  ASSERT_EQ(r.translation.parameters.size(), 2u);
  EXPECT_EQ(r.translation.parameters[0].name, "Which City");
  EXPECT_FALSE(r.translation.parameters[0].declaredType);
  EXPECT_EQ(r.translation.parameters[1].name, "MinId");
  EXPECT_EQ(r.translation.bindings.size(), 2u);  // a parameter named twice is bound once

  RunResult declared = db_.run("PARAMETERS MinId Long, [From] DateTime, Flag YesNo, Amt Currency, T Text (50); " + text,
                               {{"which city", Variant("Oslo")}, {"minid", Variant("0")}});
  EXPECT_THAT(declared.rows, UnorderedElementsAre("Smith", "Jones"));
  ASSERT_EQ(declared.translation.parameters.size(), 6u);
  std::vector<std::pair<std::string, std::optional<VarType>>> got;
  for (const auto& p : declared.translation.parameters) got.emplace_back(p.name, p.declaredType);
  EXPECT_THAT(got, ElementsAre(std::pair<std::string, std::optional<VarType>>{"MinId", VarType::Long},
                               std::pair<std::string, std::optional<VarType>>{"From", VarType::Date},
                               std::pair<std::string, std::optional<VarType>>{"Flag", VarType::Boolean},
                               std::pair<std::string, std::optional<VarType>>{"Amt", VarType::Double},
                               std::pair<std::string, std::optional<VarType>>{"T", VarType::String},
                               std::pair<std::string, std::optional<VarType>>{"Which City", std::nullopt}));
  EXPECT_EQ(errorNumber("PARAMETERS x Blob; SELECT x"), errc::kSyntaxExpression);
  EXPECT_EQ(errorNumber("PARAMETERS x Long SELECT x"), errc::kSyntaxExpression);
}

// ---- Links, stored queries, subqueries ----

TEST_F(Dialect, LinksReadTheirSourceTableUnderTheLinkName) {
  db_.exec("INSERT INTO ar.tblArCust (CustId, CreditLimit) VALUES ('L1', 50)");
  RunResult r = db_.run("SELECT tblArCust.CustId, [tblArCust].CreditLimit FROM tblArCust");
  EXPECT_THAT(r.rows, ElementsAre("L1|50"));
  EXPECT_THAT(r.translation.sql, HasSubstr("\"ar\".\"tblArCust\" AS \"tblArCust\""));
  ASSERT_TRUE(r.translation.updatable);
  EXPECT_EQ(r.translation.updatable->table.schema, "ar");

  RunResult aliased = db_.run("SELECT c.CustId FROM tblArCust AS c WHERE c.CreditLimit > 10");
  EXPECT_THAT(aliased.rows, ElementsAre("L1"));
}

TEST_F(Dialect, StoredQueriesAndSubqueriesStandAsTables) {
  db_.addQuery("qryBig", "SELECT OrderId, Amount FROM Orders WHERE Amount >= 5 AND Shipped Is Null Or Amount > 6");
  RunResult r = db_.run("SELECT q.OrderId FROM qryBig AS q WHERE q.Amount < 10");
  EXPECT_THAT(r.rows, ElementsAre("11"));
  EXPECT_TRUE(r.translation.bindings.size() == 1u);  // the stored query's own literals are written inline
  EXPECT_FALSE(r.translation.updatable);

  EXPECT_THAT(db_.run("SELECT s.Total FROM (SELECT Sum(Amount) AS Total FROM Orders) AS s").rows, ElementsAre("15"));
  EXPECT_THAT(db_.run("SELECT Name FROM Customers WHERE Id In (SELECT CustomerId FROM Orders WHERE Amount > 4)").rows,
              UnorderedElementsAre("Smith", "Smith"));
  EXPECT_THAT(db_.run("SELECT Name FROM Customers AS c WHERE Not Exists (SELECT * FROM Orders AS o WHERE "
                      "o.CustomerId = c.Id AND o.Amount > 4)").rows,
              ElementsAre("Jones"));

  db_.addQuery("qryLoopA", "SELECT * FROM qryLoopB");
  db_.addQuery("qryLoopB", "SELECT * FROM qryLoopA");
  EXPECT_EQ(errorNumber("SELECT * FROM qryLoopA"), errc::kSyntaxFrom);
  db_.addQuery("qryDelete", "DELETE FROM Orders");
  EXPECT_EQ(errorNumber("SELECT * FROM qryDelete"), errc::kSyntaxFrom);
}

// ---- Clauses ----

TEST_F(Dialect, OrderTopGroupAndHaving) {
  EXPECT_THAT(db_.run("SELECT TOP 2 OrderId FROM Orders ORDER BY Amount DESC").rows, ElementsAre("11", "10"));
  EXPECT_THAT(db_.run("SELECT Name FROM Customers ORDER BY Name, City DESC").rows,
              ElementsAre("Jones", "Smith", "Smith"));
  RunResult g = db_.run(
      "SELECT CustomerId, Count(*) AS N, Sum(Amount), Min(Amount), Max(Amount), Avg(Amount) FROM Orders "
      "GROUP BY CustomerId HAVING Count(*) > 1");
  EXPECT_THAT(g.rows, ElementsAre("3|2|3|1|2|1.5"));
  EXPECT_FALSE(g.translation.updatable);
  EXPECT_THAT(db_.run("SELECT First(OrderId), Last(OrderId), Count(Shipped) FROM Orders").rows,
              ElementsAre("10|13|2"));
  // Text sorts and groups without regard to case, also for expressions.
  db_.exec("INSERT INTO Customers VALUES (4, 'adams', 'x')");
  EXPECT_THAT(db_.run("SELECT Name FROM Customers ORDER BY Name & ''").rows,
              ElementsAre("adams", "Jones", "Smith", "Smith"));
}

// ---- Expressions ----

TEST_F(Dialect, OperatorsFollowTheDialectsPrecedence) {
  EXPECT_EQ(eval("1 + 2 * 3"), "7");
  EXPECT_EQ(eval("2 ^ 3 ^ 2"), "64");
  EXPECT_EQ(eval("-2 ^ 2"), "-4");
  EXPECT_EQ(eval("7 \\ 2 * 2"), "1");
  EXPECT_EQ(eval("7 Mod 3"), "1");
  EXPECT_EQ(eval("-7 Mod 3"), "-1");
  EXPECT_EQ(eval("5 / 2"), "2.5");
  EXPECT_EQ(eval("\"a\" & 1 + 2"), "a3");
  EXPECT_EQ(eval("Not 1 = 2 And 2 = 2 Or False"), "-1");
  EXPECT_EQ(eval("1 < 2 = True"), "-1");
  EXPECT_EQ(eval("10 - (3 - 2)"), "9");
  EXPECT_EQ(eval("2 * (3 + 4)"), "14");
  EXPECT_EQ(eval("-(1 + 2) * 2"), "-6");
  EXPECT_EQ(eval("- -3"), "3");
  EXPECT_EQ(eval("(1 = 2) = (3 = 4)"), "-1");
  EXPECT_EQ(eval("1 = (1 < 2)"), "0");
  EXPECT_EQ(eval("Not (True Or False) Or True"), "-1");
}

TEST_F(Dialect, NullsTextAndDatesInArithmetic) {
  EXPECT_EQ(eval("\"a\" & Null & 1.5"), "a1.5");
  EXPECT_EQ(eval("Null & Null"), "Null");
  EXPECT_EQ(eval("1 + Null"), "Null");
  EXPECT_EQ(eval("\"ab\" + \"cd\""), "abcd");
  EXPECT_EQ(eval("#1/31/2026# + 1"), "2026-02-01");
  EXPECT_EQ(eval("#3/1/2026# - #2/1/2026#"), "28");
  EXPECT_EQ(eval("Date() - 7"), "2026-11-30");
  EXPECT_THAT(db_.run("SELECT OrderId FROM Orders WHERE Shipped + 1 > #12/1/2026#").rows, ElementsAre("10"));
}

TEST_F(Dialect, TextComparesWithoutRegardToCase) {
  EXPECT_EQ(eval("\"abc\" = \"ABC\""), "-1");
  EXPECT_EQ(eval("UCase(\"x\") = \"x\""), "-1");
  EXPECT_EQ(eval("\"B\" In (\"a\", \"b\")"), "-1");
  EXPECT_EQ(eval("\"b\" Between \"A\" And \"C\""), "-1");
  EXPECT_THAT(db_.run("SELECT Id FROM Customers WHERE Name = 'SMITH'").rows, ElementsAre("1", "2"));
  EXPECT_THAT(db_.run("SELECT Id FROM Customers WHERE Name & '' = 'SMITH'").rows, ElementsAre("1", "2"));
}

TEST_F(Dialect, PredicatesAndConditionalFunctions) {
  EXPECT_EQ(eval("3 Between 1 And 5"), "-1");
  EXPECT_EQ(eval("3 Not Between 1 And 2"), "-1");
  EXPECT_EQ(eval("4 Not In (1, 2)"), "-1");
  EXPECT_EQ(eval("Null Is Null"), "-1");
  EXPECT_EQ(eval("1 Is Not Null"), "-1");
  EXPECT_EQ(eval("IsNull(Null)"), "-1");
  EXPECT_EQ(eval("IIf(1 > 2, \"y\", \"n\")"), "n");
  EXPECT_EQ(eval("IIf(Null, 1, 2)"), "2");
  EXPECT_EQ(eval("Nz(Null, 5)"), "5");
  EXPECT_EQ(eval("Nz(Null)"), "");
  EXPECT_EQ(eval("Nz(3, 5)"), "3");
  EXPECT_EQ(eval("True"), "-1");
  EXPECT_EQ(eval("False"), "0");
  EXPECT_THAT(db_.run("SELECT OrderId FROM Orders WHERE Shipped Is Not Null AND Not (Amount > 4)").rows,
              ElementsAre("12"));
  // A field tested for Null and given back otherwise, and a test of one field giving another.
  EXPECT_THAT(db_.run("SELECT IIf(IsNull(Shipped), #1/1/2099#, Shipped) FROM Orders ORDER BY OrderId").rows,
              ElementsAre("2026-12-01", "2099-01-01", "2026-11-30", "2099-01-01"));
  EXPECT_THAT(db_.run("SELECT IIf(IsNull(Shipped), 0, Amount) FROM Orders ORDER BY OrderId").rows,
              ElementsAre("5", "0", "1", "0"));
}

TEST_F(Dialect, LikeUsesTheDialectsWildcards) {
  EXPECT_EQ(eval("\"Abc\" Like \"a*\""), "-1");
  EXPECT_EQ(eval("\"a1c\" Like \"a#c\""), "-1");
  EXPECT_EQ(eval("\"abc\" Like \"a#c\""), "0");
  EXPECT_EQ(eval("\"abc\" Like \"a?c\""), "-1");
  EXPECT_EQ(eval("\"abc\" Like \"[!a]*\""), "0");
  EXPECT_EQ(eval("\"b\" Like \"[a-c]\""), "-1");
  EXPECT_EQ(eval("\"a*c\" Like \"a[*]c\""), "-1");
  EXPECT_EQ(eval("\"abcbc\" Like \"*bc\""), "-1");
  EXPECT_EQ(eval("\"héllo\" Like \"h?llo\""), "-1");
  EXPECT_EQ(eval("\"abc\" Not Like \"*d\""), "-1");
  EXPECT_EQ(eval("Null Like \"*\""), "Null");
  EXPECT_THAT(db_.run("SELECT Id FROM Customers WHERE City Like 'o*'").rows, ElementsAre("1", "3"));
}

// ---- Syntax errors ----

TEST_F(Dialect, EachKindOfSyntaxErrorHasItsNumberAndQuotesTheStatement) {
  struct Case {
    const char* text;
    int32_t number;
  } cases[] = {
      {"", errc::kInvalidStatement},
      {" ; ", errc::kInvalidStatement},
      {"CREATE TABLE x (a TEXT)", errc::kInvalidStatement},
      {"[SELECT] 1", errc::kInvalidStatement},
      {"SELECT FROM Customers", errc::kSyntaxExpression},
      {"SELECT Name FROM Customers WHERE Name =", errc::kSyntaxExpression},
      {"SELECT (Name FROM Customers", errc::kSyntaxExpression},
      {"SELECT Name Id FROM Customers", errc::kSyntaxExpression},
      {"SELECT Nope(1)", errc::kSyntaxExpression},
      {"SELECT Left(1)", errc::kSyntaxExpression},
      {"SELECT Sum(*) FROM Orders", errc::kSyntaxExpression},
      {"SELECT TOP 2.5 Name FROM Customers", errc::kSyntaxSelect},
      {"SELECT Name FROM Customers ORDER Name", errc::kSyntaxExpression},
      {"SELECT Name FROM Customers UNION SELECT City FROM Customers", errc::kSyntaxExpression},
      {"SELECT Name FROM", errc::kSyntaxFrom},
      {"SELECT Name FROM (Customers", errc::kSyntaxFrom},
      {"SELECT Name FROM Customers INNER JOIN Orders", errc::kSyntaxFrom},
      {"SELECT Name FROM Customers c d", errc::kSyntaxFrom},
      {"INSERT Customers VALUES (1)", errc::kSyntaxInsert},
      {"INSERT INTO Customers (Id VALUES (1)", errc::kSyntaxInsert},
      {"INSERT INTO Customers (Id) (1)", errc::kSyntaxInsert},
      {"INSERT INTO Customers (Id) VALUES (1", errc::kSyntaxInsert},
      {"UPDATE Customers Name = 1", errc::kSyntaxUpdate},
      {"UPDATE Customers SET Name 1", errc::kSyntaxUpdate},
      {"UPDATE Customers SET Name = 1 City = 2", errc::kSyntaxUpdate},
      {"UPDATE SET Name = 1", errc::kSyntaxUpdate},
      {"SELECT Name FROM Customers; SELECT 1", errc::kCharactersAfterEnd},
      {"DELETE * FROM Orders;;", errc::kCharactersAfterEnd},
  };
  for (const Case& c : cases) {
    Error e = errorOf([&] { translate(c.text, db_); });
    EXPECT_EQ(e.number(), c.number) << "'" << c.text << "': " << e.text();
    EXPECT_THAT(e.text(), HasSubstr("'" + std::string(c.text) + "'"));
  }
  // Whatever the nesting, the answer is an error, not a crash.
  auto repeat = [](std::string_view s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
  };
  for (const std::string& text : {"SELECT " + repeat("(", 5000) + "1" + repeat(")", 5000),
                                  "SELECT 1" + repeat(" + 1", 5000), "SELECT " + repeat("Not ", 5000) + "1",
                                  "SELECT " + repeat("-", 5000) + "1", "SELECT " + repeat("+", 5000) + "1",
                                  "SELECT " + repeat("Abs(", 5000) + "1" + repeat(")", 5000),
                                  "SELECT * FROM " + repeat("(", 5000) + "Orders" + repeat(")", 5000),
                                  "SELECT * FROM Orders" + repeat(" INNER JOIN Orders ON 1 = 1", 100)}) {
    EXPECT_GE(errorNumber(text), errc::kSyntaxExpression) << text.substr(0, 40);
  }
  EXPECT_EQ(eval("1" + repeat(" + 1", 400)), "401");

  // A closing ";" with whitespace after it is fine.
  EXPECT_EQ(db_.run("SELECT Name FROM Customers WHERE Id = 3; \n ").rows.size(), 1u);
}

}  // namespace
}  // namespace oskara::db::sql
