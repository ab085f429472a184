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
  auto native = [&](B op, ValueType t) {
    return std::make_unique<bound::BinaryExpr>(op, std::move(l), std::move(r), t);
  };
  auto comparison = [&](B op) -> bound::ExprPtr {
    if (op == B::Equal || op == B::NotEqual) {
      if (bound::ExprPtr test = truthTest(l, r, op == B::Equal)) return test;
    }
    makeComparable({&l, &r});
    bool collate = needsCollation(*l, *r);
    auto c = native(op, ValueType::Boolean);
    c->collateNoCase = collate;
    return c;
  };
  // Arithmetic takes dates as day counts and yes/no values as -1 or 0; + and
  // - keep dates, which they move by days.
  auto arithmetic = [&](B op) {
    l = asArithmetic(std::move(l));
    r = asArithmetic(std::move(r));
    const bool anyNull = l->type == ValueType::Null || r->type == ValueType::Null;
    return native(op, anyNull ? ValueType::Null : ValueType::Number);
  };
  switch (e.op) {
    case A::Or: return native(B::Or, ValueType::Boolean);
    case A::And: return native(B::And, ValueType::Boolean);
    case A::Equal: return comparison(B::Equal);
    case A::NotEqual: return comparison(B::NotEqual);
    case A::Less: return comparison(B::Less);
    case A::LessEqual: return comparison(B::LessEqual);
    case A::Greater: return comparison(B::Greater);
    case A::GreaterEqual: return comparison(B::GreaterEqual);
    case A::Concat:
      l = asNumber(std::move(l));
      r = asNumber(std::move(r));
      return native(B::Concat, ValueType::Text);
    case A::Add:
    case A::Subtract: {
      l = asNumber(std::move(l));
      r = asNumber(std::move(r));
      const ValueType lt = l->type, rt = r->type;
      const bool add = e.op == A::Add;
      if (lt == ValueType::Null || rt == ValueType::Null) return native(add ? B::Add : B::Subtract, ValueType::Null);
      if (numeric(lt) && numeric(rt)) return native(add ? B::Add : B::Subtract, ValueType::Number);
      if (add) {
        // + adds numbers, joins two texts, and moves a date by days; which one
        // is left to the values when the types are not known here.
        if (lt == ValueType::Text && rt == ValueType::Text) return native(B::TextConcat, ValueType::Text);
        return native(B::AddAny, lt == ValueType::Date || rt == ValueType::Date ? ValueType::Date : ValueType::Unknown);
      }
      return native(B::SubtractAny, lt == ValueType::Date && rt == ValueType::Date ? ValueType::Number
                                    : lt == ValueType::Date                        ? ValueType::Date
                                                                                   : ValueType::Unknown);
    }
    case A::Multiply: return arithmetic(B::Multiply);
    case A::Divide: return arithmetic(B::RealDivide);
    case A::IntDivide: return arithmetic(B::IntDivide);
    case A::Mod: return arithmetic(B::Mod);
    case A::Power: return arithmetic(B::Power);
  }
  fail(errc::kSyntaxExpression, "unsupported operator");
}

}  // namespace oskara::db::sql::binding
