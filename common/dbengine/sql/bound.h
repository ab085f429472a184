// Stage 3 output: the bound form of a statement. Every name is resolved: to
// a column of a source in a FROM clause, to a parameter, or (in a select
// list) expanded from * and t.*. Every operator and function is decided, with
// the type of what it gives, where text must compare without regard to case,
// and what identifies a row: an emitter writes what it finds here in its
// target's SQL and makes no choices about meaning.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/variant.h"
#include "dbengine/sql/ast.h"
#include "dbengine/sql/catalog.h"
#include "dbengine/sql/function_catalog.h"
#include "dbengine/sql/statement_kind.h"
#include "dbengine/sql/translation.h"

namespace oskara::db::sql::bound {

// The kind of value an expression gives, as far as it is known before the
// statement runs; decides how + and - are written and where comparisons of
// text need an explicit case-insensitive collation.
//
// A Boolean expression gives the target's own truth value (SQLite: 1 and 0),
// fit for conditions. Where the dialect uses a yes/no value as a number
// (arithmetic, functions, results, comparisons with numbers) the binder says
// so with a TruthExpr: there True is -1 and False 0.
enum class ValueType : uint8_t { Unknown, Text, Number, Boolean, Date, Null };

ValueType valueTypeOfDeclared(std::string_view declType);

// The numbers the dialect's True and False are in expressions and results.
// Yes/no fields are stored as 1 and 0, and any non-zero stored value is Yes.
inline constexpr int kTrueNumber = -1;
inline constexpr int kFalseNumber = 0;

struct Select;
struct Source;

enum class ExprKind : uint8_t {
  Column,     // a field of a source
  Literal,    // a literal of the statement text, bound as ?N (or written inline)
  Constant,   // True, False, Null, ''
  Parameter,  // a named parameter
  Unary,
  Binary,
  Call,       // a function or aggregate of the dialect
  Case,       // IIf
  IsNull,
  Between,
  InList,
  InSelect,
  Exists,
  Subquery,
  RowId,      // what identifies a row of a table source (DISTINCTROW's grouping)
  Truth,      // a yes/no value as a number, as stored, or tested (TruthExpr)
  NoCase,     // text grouped, made distinct or compared by Min and Max without regard to case
};

enum class ConstantValue : uint8_t { True, False, Null, EmptyText };
enum class UnaryOp : uint8_t { Negate, Not };
enum class BinaryOp : uint8_t {
  Or, And,
  Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual,
  Add, Subtract, Multiply,  // of numbers
  RealDivide,   // a / b as real numbers; division by zero fails
  TextConcat,   // + of two values known to be text
  Concat,       // a & b: text of both, Null only when both are Null
  AddAny,       // a + b decided by the values when they run: numbers add, texts join, a date moves by days
  SubtractAny,  // a - b decided by the values: numbers, a date less days, days between two dates
  IntDivide,    // a \ b
  Mod,
  Power,        // a ^ b
  Like,         // a Like pattern, with the dialect's wildcards: 1, 0 or Null
};
inline constexpr size_t kBinaryOpCount = static_cast<size_t>(BinaryOp::Like) + 1;  // the last above

struct Expr {
  Expr(ExprKind k, ValueType t) : kind(k), type(t) {}
  virtual ~Expr() = default;
  ExprKind kind;
  ValueType type;
};
using ExprPtr = std::unique_ptr<Expr>;

struct ColumnExpr : Expr {
  ColumnExpr(const Source* s, std::string c, ValueType t) : Expr(ExprKind::Column, t), source(s), column(std::move(c)) {}
  const Source* source;  // owned by the FROM clause that lists it
  std::string column;    // as the source names it
};

struct LiteralExpr : Expr {
  LiteralExpr(int i, std::optional<Variant> v, ValueType t)
      : Expr(ExprKind::Literal, t), index(i), inlineValue(std::move(v)) {}
  int index;                          // into StatementShape::literals of the statement
  std::optional<Variant> inlineValue; // set for literals of a stored query, written into the SQL
};

struct ConstantExpr : Expr {
  explicit ConstantExpr(ConstantValue v);
  ConstantValue value;
};

struct ParameterExpr : Expr {
  ParameterExpr(int i, ValueType t) : Expr(ExprKind::Parameter, t), id(i) {}
  int id;  // into Statement::parameterSlots
};

struct UnaryExpr : Expr {
  UnaryExpr(UnaryOp o, ExprPtr x, ValueType t) : Expr(ExprKind::Unary, t), op(o), operand(std::move(x)) {}
  UnaryOp op;
  ExprPtr operand;
};

struct BinaryExpr : Expr {
  BinaryExpr(BinaryOp o, ExprPtr l, ExprPtr r, ValueType t)
      : Expr(ExprKind::Binary, t), op(o), left(std::move(l)), right(std::move(r)) {}
  BinaryOp op;
  ExprPtr left;
  ExprPtr right;
  bool collateNoCase = false;  // comparison of two non-column values that may be text
};

struct CallExpr : Expr {
  CallExpr(Function f, ValueType t) : Expr(ExprKind::Call, t), function(f) {}
  Function function;
  std::vector<ExprPtr> args;  // Nz always has two: a Null reads as its second
  bool aggregate = false;
  bool star = false;  // Count(*)
};

struct CaseExpr : Expr {
  CaseExpr(ExprPtr c, ExprPtr a, ExprPtr b, ValueType t)
      : Expr(ExprKind::Case, t), condition(std::move(c)), whenTrue(std::move(a)), whenFalse(std::move(b)) {}
  ExprPtr condition;
  ExprPtr whenTrue;
  ExprPtr whenFalse;
};

struct IsNullExpr : Expr {
  IsNullExpr(ExprPtr x, bool n) : Expr(ExprKind::IsNull, ValueType::Boolean), operand(std::move(x)), negated(n) {}
  ExprPtr operand;
  bool negated;
};

struct BetweenExpr : Expr {
  BetweenExpr() : Expr(ExprKind::Between, ValueType::Boolean) {}
  ExprPtr operand, low, high;
  bool negated = false;
  bool collateNoCase = false;
};

struct InListExpr : Expr {
  InListExpr() : Expr(ExprKind::InList, ValueType::Boolean) {}
  ExprPtr operand;
  std::vector<ExprPtr> items;
  bool negated = false;
  bool collateNoCase = false;
};

struct InSelectExpr : Expr {
  InSelectExpr();
  ~InSelectExpr() override;
  ExprPtr operand;
  std::unique_ptr<Select> select;
  bool negated = false;
  bool collateNoCase = false;
};

struct ExistsExpr : Expr {
  ExistsExpr();
  ~ExistsExpr() override;
  std::unique_ptr<Select> select;
};

struct SubqueryExpr : Expr {
  explicit SubqueryExpr(ValueType t);
  ~SubqueryExpr() override;
  std::unique_ptr<Select> select;
};

// What a place makes of a yes/no value.
enum class TruthUse : uint8_t {
  Number,  // the dialect's number: -1 for Yes, 0 for No, Null for Null
  Stored,  // what a yes/no field stores: 1 for Yes, 0 for No
  IsYes,   // the test `x = True`: true for any non-zero value
  IsNo,    // the test `x = False`: true for zero
};

struct TruthExpr : Expr {
  TruthExpr(TruthUse u, ExprPtr x, bool anyNonZero);
  TruthUse use;
  ExprPtr operand;  // a yes/no value; for Stored also a number
  // The operand may hold any non-zero number for Yes (a stored field, or
  // what passes one on); otherwise it is a truth value of the target.
  bool anyNonZero;
};

struct NoCaseExpr : Expr {
  explicit NoCaseExpr(ExprPtr x) : Expr(ExprKind::NoCase, x->type), operand(std::move(x)) {}
  ExprPtr operand;
};

struct RowIdExpr : Expr {
  explicit RowIdExpr(const Source* s) : Expr(ExprKind::RowId, ValueType::Number), source(s) {}
  const Source* source;  // a table or link
};

// ---- FROM clauses ----

// One table, link or query that a FROM clause lists.
struct Source {
  std::string exposedName;          // how the statement refers to it: its alias or its name
  std::string sqlAlias;             // the alias written into SQLite (the exposed name, or one made up)
  std::optional<TableInfo> table;   // a table or a link
  std::unique_ptr<Select> derived;  // a stored query or a subquery
  std::vector<ColumnInfo> columns;  // the fields it offers
  ~Source();
};

struct FromItem {
  const Source* source = nullptr;  // a single source; null for a join
  ast::JoinType joinType = ast::JoinType::Inner;
  std::unique_ptr<FromItem> left;
  std::unique_ptr<FromItem> right;
  ExprPtr on;
};

struct FromClause {
  std::vector<std::unique_ptr<Source>> sources;  // every source, in order of appearance
  std::vector<std::unique_ptr<FromItem>> items;  // the comma list
};

// ---- Statements ----

struct SelectItem {
  ExprPtr expr;
  std::string name;         // the result column's name
  std::string declType;     // the column's declared type, "" for an expression
  std::string tableColumn;  // with `updatable`: the table column it shows, "" for an expression
};

struct OrderItem {
  ExprPtr expr;
  bool descending = false;
  bool collateNoCase = false;
};

struct Select {
  FromClause from;
  bool distinct = false;
  // DISTINCTROW: one result row per combination of rows of the sources whose
  // fields are shown, so the rows are grouped by these: the row identity of
  // each such table, and every field of each such query (which has none).
  std::vector<ExprPtr> distinctRowKeys;
  // TOP n: n rows, or n percent of them (rounded up); with ORDER BY also
  // every row tied with the last one on all its keys.
  ExprPtr top;
  bool topPercent = false;
  bool topWithTies = false;
  std::vector<SelectItem> items;
  ExprPtr where;
  std::vector<ExprPtr> groupBy;
  ExprPtr having;
  std::vector<OrderItem> orderBy;
  const Source* updatable = nullptr;  // the one table whose rows the result shows, or null
};

struct Assignment {
  std::string column;
  ExprPtr value;
};

struct Insert {
  TableInfo target;
  std::vector<std::string> columns;
  std::unique_ptr<Select> select;
  std::vector<ExprPtr> values;
};

struct Update {
  FromClause from;
  const Source* target = nullptr;
  std::vector<Assignment> assignments;
  ExprPtr where;
};

struct Delete {
  FromClause from;
  const Source* target = nullptr;
  ExprPtr where;
};

struct Statement {
  StatementKind kind = StatementKind::Select;
  std::unique_ptr<Select> select;
  std::unique_ptr<Insert> insert;
  std::unique_ptr<Update> update;
  std::unique_ptr<Delete> remove;
  std::vector<ParameterInfo> parameters;  // declared first, then in order of appearance
  std::vector<int> parameterSlots;        // ParameterExpr::id -> index into `parameters`
};

inline ConstantExpr::ConstantExpr(ConstantValue v)
    : Expr(ExprKind::Constant, v == ConstantValue::Null        ? ValueType::Null
                               : v == ConstantValue::EmptyText ? ValueType::Text
                                                               : ValueType::Boolean),
      value(v) {}
inline TruthExpr::TruthExpr(TruthUse u, ExprPtr x, bool n)
    : Expr(ExprKind::Truth, u == TruthUse::Number ? ValueType::Number : ValueType::Boolean),
      use(u),
      operand(std::move(x)),
      anyNonZero(n) {}
inline InSelectExpr::InSelectExpr() : Expr(ExprKind::InSelect, ValueType::Boolean) {}
inline InSelectExpr::~InSelectExpr() = default;
inline ExistsExpr::ExistsExpr() : Expr(ExprKind::Exists, ValueType::Boolean) {}
inline ExistsExpr::~ExistsExpr() = default;
inline SubqueryExpr::SubqueryExpr(ValueType t) : Expr(ExprKind::Subquery, t) {}
inline SubqueryExpr::~SubqueryExpr() = default;
inline Source::~Source() = default;

}  // namespace oskara::db::sql::bound
