// Expressions: the dispatch by kind, and the kinds that take a few lines
// (literals, constants, Not and minus, Is Null, Between, In, Like,
// subqueries). Names, operators and function calls have files of their own.
#include "dbengine/sql/binder/bind_context.h"

namespace oskara::db::sql {
namespace binding {

bound::ExprPtr Binder::expr(const ast::Expr& e, const Scope& scope) {
  using K = ast::ExprKind;
  switch (e.kind) {
    case K::Literal: return literal(static_cast<const ast::LiteralExpr&>(e));
    case K::Constant: {
      switch (static_cast<const ast::ConstantExpr&>(e).value) {
        case ast::ConstantValue::True: return std::make_unique<bound::ConstantExpr>(bound::ConstantValue::True);
        case ast::ConstantValue::False: return std::make_unique<bound::ConstantExpr>(bound::ConstantValue::False);
        case ast::ConstantValue::Null: return std::make_unique<bound::ConstantExpr>(bound::ConstantValue::Null);
      }
      break;
    }
    case K::Name: return name(static_cast<const ast::NameExpr&>(e), scope);
    case K::Star: fail(errc::kSyntaxExpression, "'*' is not allowed at character " + std::to_string(e.offset + 1));
    case K::Unary: {
      const auto& u = static_cast<const ast::UnaryExpr&>(e);
      bound::ExprPtr operand = expr(*u.operand, scope);
      if (u.op == ast::UnaryOp::Not)
        return std::make_unique<bound::UnaryExpr>(bound::UnaryOp::Not, std::move(operand), ValueType::Boolean);
      operand = asArithmetic(std::move(operand));
      ValueType t = operand->type == ValueType::Null ? ValueType::Null : ValueType::Number;
      return std::make_unique<bound::UnaryExpr>(bound::UnaryOp::Negate, std::move(operand), t);
    }
    case K::Binary: return binary(static_cast<const ast::BinaryExpr&>(e), scope);
    case K::IsNull: {
      const auto& n = static_cast<const ast::IsNullExpr&>(e);
      return std::make_unique<bound::IsNullExpr>(expr(*n.operand, scope), n.negated);
    }
    case K::Between: {
      const auto& b = static_cast<const ast::BetweenExpr&>(e);
      auto out = std::make_unique<bound::BetweenExpr>();
      out->operand = expr(*b.operand, scope);
      out->low = expr(*b.low, scope);
      out->high = expr(*b.high, scope);
      makeComparable({&out->operand, &out->low, &out->high});
      out->negated = b.negated;
      out->collateNoCase = needsCollation(*out->operand);
      return out;
    }
    case K::In: {
      const auto& in = static_cast<const ast::InExpr&>(e);
      bound::ExprPtr operand = expr(*in.operand, scope);
      if (in.select) {
        auto out = std::make_unique<bound::InSelectExpr>();
        out->select = select(*in.select, &scope);
        if (out->select->items.size() != 1) fail(errc::kSubqueryFields, "");
        makeComparable({&operand}, out->select->items.front().expr->type);
        out->collateNoCase = needsCollation(*operand);
        out->operand = std::move(operand);
        out->negated = in.negated;
        return out;
      }
      auto out = std::make_unique<bound::InListExpr>();
      out->operand = std::move(operand);
      for (const auto& item : in.items) out->items.push_back(expr(*item, scope));
      std::vector<bound::ExprPtr*> values{&out->operand};
      for (auto& item : out->items) values.push_back(&item);
      makeComparable(values);
      out->negated = in.negated;
      out->collateNoCase = needsCollation(*out->operand);
      return out;
    }
    case K::Like: {
      const auto& l = static_cast<const ast::LikeExpr&>(e);
      auto like = std::make_unique<bound::BinaryExpr>(bound::BinaryOp::Like, asNumber(expr(*l.operand, scope)),
                                                      asNumber(expr(*l.pattern, scope)), ValueType::Boolean);
      if (!l.negated) return like;
      return std::make_unique<bound::UnaryExpr>(bound::UnaryOp::Not, std::move(like), ValueType::Boolean);
    }
    case K::Call: return call(static_cast<const ast::CallExpr&>(e), scope);
    case K::Subquery: {
      auto sub = select(*static_cast<const ast::SubqueryExpr&>(e).select, &scope);
      if (sub->items.size() != 1) fail(errc::kSubqueryFields, "");
      ValueType t = sub->items.front().expr->type;
      auto out = std::make_unique<bound::SubqueryExpr>(t);
      out->select = std::move(sub);
      return out;
    }
    case K::Exists: {
      auto out = std::make_unique<bound::ExistsExpr>();
      out->select = select(*static_cast<const ast::ExistsExpr&>(e).select, &scope);
      return out;
    }
  }
  fail(errc::kSyntaxExpression, "unsupported expression");
}

bound::ExprPtr Binder::literal(const ast::LiteralExpr& e) {
  ValueType t = e.literalKind == ast::LiteralKind::String   ? ValueType::Text
                : e.literalKind == ast::LiteralKind::Number ? ValueType::Number
                                                            : ValueType::Date;
  std::optional<Variant> value;
  if (inlineLiterals_) value = (*inlineLiterals_)[static_cast<size_t>(e.index)];
  return std::make_unique<bound::LiteralExpr>(e.index, std::move(value), t);
}

}  // namespace binding

namespace bound {

ValueType valueTypeOfDeclared(std::string_view declType) {
  auto has = [&](std::string_view word) {
    for (size_t i = 0; i + word.size() <= declType.size(); ++i) {
      if (equalsIgnoreCase(declType.substr(i, word.size()), word)) return true;
    }
    return false;
  };
  if (has("BOOL") || has("BIT") || has("YESNO")) return ValueType::Boolean;
  if (has("DATE") || has("TIME")) return ValueType::Date;
  if (has("CHAR") || has("TEXT") || has("CLOB") || has("MEMO")) return ValueType::Text;
  if (has("INT") || has("DOUB") || has("REAL") || has("FLOA") || has("NUM") || has("DEC") || has("CURR") ||
      has("BYTE") || has("LONG") || has("SINGLE"))
    return ValueType::Number;
  return ValueType::Unknown;
}

}  // namespace bound

}  // namespace oskara::db::sql
