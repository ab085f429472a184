// Generic traversal of the syntax tree (ast.h) and of the bound tree
// (bound.h), so that a question about an expression ("does it compute an
// aggregate?", "which sources does it read?") is one callback instead of one
// more recursion over every kind of node.
//
//  - forEachChild(e, f) calls f on each expression directly below e, left to
//    right. The expressions of a subquery (IN (SELECT ...), EXISTS (...), a
//    scalar subquery) are not among them: they belong to the subquery's own
//    query level.
//  - forEachSubquery(e, f) calls f on the select directly below e, if any.
//  - forEachExpression(select, f) calls f on each expression a bound select
//    holds at its own level: its FROM clause's join conditions, select list,
//    WHERE, GROUP BY, HAVING, ORDER BY, TOP and DISTINCTROW keys.
//  - walk(e, visit, subqueries) visits e and everything below it, each node
//    before its children; `visit` returns Walk::Continue, Walk::Skip (not
//    below this node) or Walk::Stop (end of the walk, walk returns false).
//    With Subqueries::Enter it goes on into subqueries and the queries of the
//    FROM clauses below.
#pragma once

#include "dbengine/sql/ast.h"
#include "dbengine/sql/bound.h"

namespace oskara::db::sql {

template <class F>
void forEachChild(const ast::Expr& e, F&& f) {
  using K = ast::ExprKind;
  switch (e.kind) {
    case K::Literal:
    case K::Constant:
    case K::Name:
    case K::Star:
    case K::Subquery:
    case K::Exists: return;
    case K::Unary: f(*static_cast<const ast::UnaryExpr&>(e).operand); return;
    case K::Binary: {
      const auto& b = static_cast<const ast::BinaryExpr&>(e);
      f(*b.left);
      f(*b.right);
      return;
    }
    case K::IsNull: f(*static_cast<const ast::IsNullExpr&>(e).operand); return;
    case K::Between: {
      const auto& b = static_cast<const ast::BetweenExpr&>(e);
      f(*b.operand);
      f(*b.low);
      f(*b.high);
      return;
    }
    case K::In: {
      const auto& in = static_cast<const ast::InExpr&>(e);
      f(*in.operand);
      for (const auto& item : in.items) f(*item);
      return;
    }
    case K::Like: {
      const auto& l = static_cast<const ast::LikeExpr&>(e);
      f(*l.operand);
      f(*l.pattern);
      return;
    }
    case K::Call:
      for (const auto& arg : static_cast<const ast::CallExpr&>(e).args) f(*arg);
      return;
  }
}

template <class F>
void forEachChild(const bound::Expr& e, F&& f) {
  using K = bound::ExprKind;
  switch (e.kind) {
    case K::Column:
    case K::Literal:
    case K::Constant:
    case K::Parameter:
    case K::RowId:
    case K::Exists:
    case K::Subquery: return;
    case K::Unary: f(*static_cast<const bound::UnaryExpr&>(e).operand); return;
    case K::Binary: {
      const auto& b = static_cast<const bound::BinaryExpr&>(e);
      f(*b.left);
      f(*b.right);
      return;
    }
    case K::Call:
      for (const auto& arg : static_cast<const bound::CallExpr&>(e).args) f(*arg);
      return;
    case K::Case: {
      const auto& c = static_cast<const bound::CaseExpr&>(e);
      f(*c.condition);
      f(*c.whenTrue);
      f(*c.whenFalse);
      return;
    }
    case K::IsNull: f(*static_cast<const bound::IsNullExpr&>(e).operand); return;
    case K::Between: {
      const auto& b = static_cast<const bound::BetweenExpr&>(e);
      f(*b.operand);
      f(*b.low);
      f(*b.high);
      return;
    }
    case K::InList: {
      const auto& in = static_cast<const bound::InListExpr&>(e);
      f(*in.operand);
      for (const auto& item : in.items) f(*item);
      return;
    }
    case K::InSelect: f(*static_cast<const bound::InSelectExpr&>(e).operand); return;
    case K::Truth: f(*static_cast<const bound::TruthExpr&>(e).operand); return;
    case K::NoCase: f(*static_cast<const bound::NoCaseExpr&>(e).operand); return;
  }
}

template <class F>
void forEachSubquery(const bound::Expr& e, F&& f) {
  using K = bound::ExprKind;
  switch (e.kind) {
    case K::InSelect: f(*static_cast<const bound::InSelectExpr&>(e).select); return;
    case K::Exists: f(*static_cast<const bound::ExistsExpr&>(e).select); return;
    case K::Subquery: f(*static_cast<const bound::SubqueryExpr&>(e).select); return;
    default: return;
  }
}

namespace walker_detail {

template <class F>
void forEachJoinCondition(const bound::FromItem& item, F& f) {
  if (item.source) return;
  forEachJoinCondition(*item.left, f);
  forEachJoinCondition(*item.right, f);
  f(*item.on);
}

}  // namespace walker_detail

template <class F>
void forEachExpression(const bound::Select& s, F&& f) {
  for (const auto& item : s.from.items) walker_detail::forEachJoinCondition(*item, f);
  for (const auto& item : s.items) f(*item.expr);
  if (s.where) f(*s.where);
  for (const auto& g : s.groupBy) f(*g);
  if (s.having) f(*s.having);
  for (const auto& o : s.orderBy) f(*o.expr);
  if (s.top) f(*s.top);
  for (const auto& k : s.distinctRowKeys) f(*k);
}

enum class Walk : uint8_t { Continue, Skip, Stop };
enum class Subqueries : uint8_t { Skip, Enter };

template <class Visit>
bool walk(const bound::Select& s, Visit&& visit, Subqueries subqueries);

template <class Visit>
bool walk(const bound::Expr& e, Visit&& visit, Subqueries subqueries) {
  switch (visit(e)) {
    case Walk::Stop: return false;
    case Walk::Skip: return true;
    case Walk::Continue: break;
  }
  bool going = true;
  forEachChild(e, [&](const bound::Expr& child) { going = going && walk(child, visit, subqueries); });
  if (subqueries == Subqueries::Enter)
    forEachSubquery(e, [&](const bound::Select& sub) { going = going && walk(sub, visit, subqueries); });
  return going;
}

// Every expression of the select at its own level, then (with
// Subqueries::Enter) the queries its FROM clause reads.
template <class Visit>
bool walk(const bound::Select& s, Visit&& visit, Subqueries subqueries) {
  bool going = true;
  forEachExpression(s, [&](const bound::Expr& e) { going = going && walk(e, visit, subqueries); });
  if (subqueries == Subqueries::Enter) {
    for (const auto& source : s.from.sources) {
      if (going && source->derived) going = walk(*source->derived, visit, subqueries);
    }
  }
  return going;
}

}  // namespace oskara::db::sql
