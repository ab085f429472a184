// Binary operators: what each means for the types of its operands as far as
// they are known before the statement runs, and where a comparison must say
// that text compares without regard to case.
#include "dbengine/sql/binder/bind_context.h"

namespace oskara::db::sql::binding {

bound::ExprPtr Binder::binary(const ast::BinaryExpr& e, const Scope& scope) {
  using A = ast::BinaryOp;
  using B = bound::BinaryOp;
  bound::ExprPtr l = expr(*e.left, scope);
  bound::ExprPtr r = expr(*e.right, scope);
  const ValueType lt = l->type, rt = r->type;
  auto native = [&](B op, ValueType t) {
    return std::make_unique<bound::BinaryExpr>(op, std::move(l), std::move(r), t);
  };
  auto comparison = [&](B op) {
    bool collate = needsCollation(*l, *r);
    auto c = native(op, ValueType::Boolean);
    c->collateNoCase = collate;
    return c;
  };
  const bool anyNull = lt == ValueType::Null || rt == ValueType::Null;
  switch (e.op) {
    case A::Or: return native(B::Or, ValueType::Boolean);
    case A::And: return native(B::And, ValueType::Boolean);
    case A::Equal: return comparison(B::Equal);
    case A::NotEqual: return comparison(B::NotEqual);
    case A::Less: return comparison(B::Less);
    case A::LessEqual: return comparison(B::LessEqual);
    case A::Greater: return comparison(B::Greater);
    case A::GreaterEqual: return comparison(B::GreaterEqual);
    case A::Concat: return native(B::Concat, ValueType::Text);
    case A::Add:
      // + adds numbers, joins two texts, and moves a date by days; which one
      // is left to the values when the types are not known here.
      if (anyNull) return native(B::Add, ValueType::Null);
      if (numeric(lt) && numeric(rt)) return native(B::Add, ValueType::Number);
      if (lt == ValueType::Text && rt == ValueType::Text) return native(B::TextConcat, ValueType::Text);
      return native(B::AddAny, lt == ValueType::Date || rt == ValueType::Date ? ValueType::Date : ValueType::Unknown);
    case A::Subtract:
      if (anyNull) return native(B::Subtract, ValueType::Null);
      if (numeric(lt) && numeric(rt)) return native(B::Subtract, ValueType::Number);
      return native(B::SubtractAny, lt == ValueType::Date && rt == ValueType::Date ? ValueType::Number
                                    : lt == ValueType::Date                        ? ValueType::Date
                                                                                   : ValueType::Unknown);
    case A::Multiply: return native(B::Multiply, anyNull ? ValueType::Null : ValueType::Number);
    case A::Divide: return native(B::RealDivide, anyNull ? ValueType::Null : ValueType::Number);
    case A::IntDivide: return native(B::IntDivide, ValueType::Number);
    case A::Mod: return native(B::Mod, ValueType::Number);
    case A::Power: return native(B::Power, ValueType::Number);
  }
  fail(errc::kSyntaxExpression, "unsupported operator");
}

}  // namespace oskara::db::sql::binding
