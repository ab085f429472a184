// Stage 2 output: the syntax tree of one dialect statement, as written.
// Names are not resolved here (that is the binder's work, see bound.h); a
// tree node only records what the text says and where it says it. Every node
// owns its children.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/variant.h"
#include "dbengine/sql/statement_kind.h"

namespace oskara::db::sql::ast {

struct Select;

// ---- Expressions ----

enum class ExprKind : uint8_t {
  Literal,   // "text", 30, #1/1/2099#
  Constant,  // True, False, Null
  Name,      // CustID, tblDTQueue.CustID, [tblDtCallLogHeader].[LogID]
  Star,      // * or t.* in a select list, * in Count(*)
  Unary,     // -x, Not x
  Binary,    // x op y
  IsNull,    // x Is [Not] Null
  Between,   // x [Not] Between a And b
  In,        // x [Not] In (a, b) or x [Not] In (SELECT ...)
  Like,      // x [Not] Like pattern
  Call,      // Name(args)
  Subquery,  // (SELECT ...) giving one value
  Exists,    // Exists (SELECT ...)
};

enum class LiteralKind : uint8_t { String, Number, Date };
enum class ConstantValue : uint8_t { True, False, Null };
enum class UnaryOp : uint8_t { Negate, Not };
enum class BinaryOp : uint8_t {
  Or, And,
  Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual,
  Concat,  // &
  Add, Subtract, Mod, IntDivide, Multiply, Divide, Power,
};

struct Expr {
  Expr(ExprKind k, uint32_t at) : kind(k), offset(at) {}
  virtual ~Expr() = default;
  ExprKind kind;
  uint32_t offset;     // where the expression starts in the statement text
  uint32_t depth = 1;  // levels of the tree below and including this node
};
using ExprPtr = std::unique_ptr<Expr>;

struct LiteralExpr : Expr {
  LiteralExpr(uint32_t at, LiteralKind k, int i) : Expr(ExprKind::Literal, at), literalKind(k), index(i) {}
  LiteralKind literalKind;
  int index;  // ordinal among the statement's literals (StatementShape::literals)
};

struct ConstantExpr : Expr {
  ConstantExpr(uint32_t at, ConstantValue v) : Expr(ExprKind::Constant, at), value(v) {}
  ConstantValue value;
};

struct NameExpr : Expr {
  NameExpr(uint32_t at, std::string q, std::string n)
      : Expr(ExprKind::Name, at), qualifier(std::move(q)), name(std::move(n)) {}
  std::string qualifier;  // table or alias before the dot; empty when unqualified
  std::string name;       // without brackets
};

struct StarExpr : Expr {
  StarExpr(uint32_t at, std::string q) : Expr(ExprKind::Star, at), qualifier(std::move(q)) {}
  std::string qualifier;  // empty for a bare *
};

struct UnaryExpr : Expr {
  UnaryExpr(uint32_t at, UnaryOp o, ExprPtr x) : Expr(ExprKind::Unary, at), op(o), operand(std::move(x)) {}
  UnaryOp op;
  ExprPtr operand;
};

struct BinaryExpr : Expr {
  BinaryExpr(uint32_t at, BinaryOp o, ExprPtr l, ExprPtr r)
      : Expr(ExprKind::Binary, at), op(o), left(std::move(l)), right(std::move(r)) {}
  BinaryOp op;
  ExprPtr left;
  ExprPtr right;
};

struct IsNullExpr : Expr {
  IsNullExpr(uint32_t at, ExprPtr x, bool n) : Expr(ExprKind::IsNull, at), operand(std::move(x)), negated(n) {}
  ExprPtr operand;
  bool negated;  // Is Not Null
};

struct BetweenExpr : Expr {
  BetweenExpr(uint32_t at, ExprPtr x, ExprPtr lo, ExprPtr hi, bool n)
      : Expr(ExprKind::Between, at), operand(std::move(x)), low(std::move(lo)), high(std::move(hi)), negated(n) {}
  ExprPtr operand;
  ExprPtr low;
  ExprPtr high;
  bool negated;
};

struct InExpr : Expr {
  InExpr(uint32_t at, ExprPtr x, bool n);
  ~InExpr() override;
  ExprPtr operand;
  std::vector<ExprPtr> items;       // the list form
  std::unique_ptr<Select> select;   // the subquery form; null for a list
  bool negated;
};

struct LikeExpr : Expr {
  LikeExpr(uint32_t at, ExprPtr x, ExprPtr p, bool n)
      : Expr(ExprKind::Like, at), operand(std::move(x)), pattern(std::move(p)), negated(n) {}
  ExprPtr operand;
  ExprPtr pattern;
  bool negated;
};

struct CallExpr : Expr {
  CallExpr(uint32_t at, std::string n) : Expr(ExprKind::Call, at), name(std::move(n)) {}
  std::string name;  // as written
  std::vector<ExprPtr> args;
};

struct SubqueryExpr : Expr {
  SubqueryExpr(uint32_t at, std::unique_ptr<Select> s);
  ~SubqueryExpr() override;
  std::unique_ptr<Select> select;
};

struct ExistsExpr : Expr {
  ExistsExpr(uint32_t at, std::unique_ptr<Select> s);
  ~ExistsExpr() override;
  std::unique_ptr<Select> select;
};

// ---- FROM clause ----

enum class TableRefKind : uint8_t { Named, Join, Derived };
enum class JoinType : uint8_t { Inner, Left, Right };

struct TableRef {
  TableRef(TableRefKind k, uint32_t at) : kind(k), offset(at) {}
  virtual ~TableRef() = default;
  TableRefKind kind;
  uint32_t offset;
};
using TableRefPtr = std::unique_ptr<TableRef>;

struct NamedTableRef : TableRef {
  NamedTableRef(uint32_t at, std::string n) : TableRef(TableRefKind::Named, at), name(std::move(n)) {}
  std::string name;   // table, link or stored query
  std::string alias;  // empty when none
};

struct JoinRef : TableRef {
  JoinRef(uint32_t at, JoinType t) : TableRef(TableRefKind::Join, at), type(t) {}
  JoinType type;
  TableRefPtr left;
  TableRefPtr right;
  ExprPtr on;
};

struct DerivedTableRef : TableRef {
  DerivedTableRef(uint32_t at, std::unique_ptr<Select> s, std::string a);
  ~DerivedTableRef() override;
  std::unique_ptr<Select> select;
  std::string alias;
};

// ---- Statements ----

enum class DistinctMode : uint8_t { All, Distinct, DistinctRow };

struct SelectItem {
  ExprPtr expr;       // a StarExpr for * and t.*
  std::string alias;  // after AS; empty when none
};

struct OrderItem {
  ExprPtr expr;
  bool descending = false;
};

struct Select {
  uint32_t offset = 0;
  DistinctMode distinct = DistinctMode::All;
  ExprPtr top;  // TOP n: a number literal, or null
  bool topPercent = false;  // TOP n PERCENT
  std::vector<SelectItem> items;
  std::vector<TableRefPtr> from;  // the comma list
  ExprPtr where;
  std::vector<ExprPtr> groupBy;
  ExprPtr having;
  std::vector<OrderItem> orderBy;
};

struct Insert {
  std::string table;
  uint32_t tableOffset = 0;
  std::vector<std::string> columns;  // empty: all columns of the table in order
  std::unique_ptr<Select> select;    // INSERT ... SELECT
  std::vector<ExprPtr> values;       // INSERT ... VALUES
};

struct Assignment {
  std::unique_ptr<NameExpr> target;
  ExprPtr value;
};

struct Update {
  bool distinctRow = false;
  TableRefPtr table;  // a table or a join
  std::vector<Assignment> assignments;
  ExprPtr where;
};

struct Delete {
  bool distinctRow = false;
  std::vector<std::string> targets;  // the t of each t.*; empty for * or none
  uint32_t targetOffset = 0;
  std::vector<TableRefPtr> from;
  ExprPtr where;
};

struct ParameterDecl {
  std::string name;
  VarType type;
};

struct Statement {
  std::vector<ParameterDecl> parameters;  // PARAMETERS prefix, in order
  StatementKind kind = StatementKind::Select;
  std::unique_ptr<Select> select;
  std::unique_ptr<Insert> insert;
  std::unique_ptr<Update> update;
  std::unique_ptr<Delete> remove;
};

inline InExpr::InExpr(uint32_t at, ExprPtr x, bool n)
    : Expr(ExprKind::In, at), operand(std::move(x)), negated(n) {}
inline InExpr::~InExpr() = default;
inline SubqueryExpr::SubqueryExpr(uint32_t at, std::unique_ptr<Select> s)
    : Expr(ExprKind::Subquery, at), select(std::move(s)) {}
inline SubqueryExpr::~SubqueryExpr() = default;
inline ExistsExpr::ExistsExpr(uint32_t at, std::unique_ptr<Select> s)
    : Expr(ExprKind::Exists, at), select(std::move(s)) {}
inline ExistsExpr::~ExistsExpr() = default;
inline DerivedTableRef::DerivedTableRef(uint32_t at, std::unique_ptr<Select> s, std::string a)
    : TableRef(TableRefKind::Derived, at), select(std::move(s)), alias(std::move(a)) {}
inline DerivedTableRef::~DerivedTableRef() = default;

}  // namespace oskara::db::sql::ast
