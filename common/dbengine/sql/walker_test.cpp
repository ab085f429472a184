// The walker reaches every expression below every kind of node, and stops,
// skips and enters subqueries as asked.
#include "dbengine/sql/walker.h"

#include <gtest/gtest.h>

#include "dbengine/sql/binder/binder.h"
#include "dbengine/sql/parser.h"
#include "dbengine/sql/test_database.h"

namespace oskara::db::sql {
namespace {

// Each kind of expression once (a yes/no value shown as a number, text that
// Max compares without regard to case), with fields in every place it has for one;
// subqueries read 3 + 2 + 1 fields of their own.
constexpr const char* kStatement =
    "SELECT TOP 5 -Id, Id & Name, Max(Trim(Name)), IIf(Id, Name, City), Id Is Null, Id Between Id And Id, "
    "Id In (Id, Id), Id In (SELECT OrderId FROM Orders WHERE CustomerId = Id), "
    "Exists (SELECT 1 FROM Orders WHERE CustomerId = Id), (SELECT Max(Amount) FROM Orders), Name Like 'a*' "
    "FROM Customers INNER JOIN Orders ON Customers.Id = Orders.CustomerId "
    "WHERE Id > 0 GROUP BY Name HAVING Count(Id) > 1 ORDER BY City";
constexpr int kSelectListFields = 16;
constexpr int kFieldsOfTheQuery = kSelectListFields + 2 + 1 + 1 + 1 + 1;  // ON, WHERE, GROUP BY, HAVING, ORDER BY
constexpr int kFieldsOfSubqueries = 6;

TEST(Walker, ReachesEveryExpressionOfTheBoundTree) {
  testdb::TestDatabase db;
  const ast::Statement parsed = parseStatement(kStatement);
  const bound::Statement st = bindStatement(parsed, kStatement, db);
  auto countFields = [&](Subqueries subqueries) {
    int fields = 0;
    walk(*st.select, [&](const bound::Expr& e) {
      fields += e.kind == bound::ExprKind::Column;
      return Walk::Continue;
    }, subqueries);
    return fields;
  };
  EXPECT_EQ(countFields(Subqueries::Skip), kFieldsOfTheQuery);
  EXPECT_EQ(countFields(Subqueries::Enter), kFieldsOfTheQuery + kFieldsOfSubqueries);

  int visited = 0;
  EXPECT_FALSE(walk(*st.select, [&](const bound::Expr&) { return ++visited == 3 ? Walk::Stop : Walk::Continue; },
                    Subqueries::Enter));
  EXPECT_EQ(visited, 3);
  int fields = 0;
  EXPECT_TRUE(walk(*st.select, [&](const bound::Expr& e) {
    fields += e.kind == bound::ExprKind::Column;
    return e.kind == bound::ExprKind::Binary ? Walk::Skip : Walk::Continue;
  }, Subqueries::Skip));
  EXPECT_EQ(fields, kFieldsOfTheQuery - 2 - 2 - 1 - 1 - 1);  // ON, &, Like, WHERE and HAVING are operators
}

TEST(Walker, ReachesEveryChildOfTheSyntaxTree) {
  const ast::Statement parsed = parseStatement(kStatement);
  int names = 0;
  auto count = [&](const ast::Expr& e, auto& self) -> void {
    names += e.kind == ast::ExprKind::Name;
    forEachChild(e, [&](const ast::Expr& child) { self(child, self); });
  };
  for (const auto& item : parsed.select->items) count(*item.expr, count);
  EXPECT_EQ(names, kSelectListFields);
}

}  // namespace
}  // namespace oskara::db::sql
