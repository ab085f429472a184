// Where the dialect uses a value of one kind as another, the binder says so
// in the bound tree, so that every target computes the same thing:
//  - a yes/no value used as a number is -1 for Yes and 0 for No; written into
//    a yes/no field it is stored as 1 or 0; any non-zero stored value is Yes,
//    and `x = True` tests for that;
//  - a date compared with a number, or used in arithmetic other than + and -,
//    is its day count since 30 December 1899;
//  - text is told apart without regard to case wherever values are compared,
//    also by DISTINCT, GROUP BY, Min and Max.
#include <algorithm>

#include "dbengine/sql/binder/bind_context.h"

namespace oskara::db::sql::binding {
namespace {

using bound::ExprKind;
using bound::TruthUse;

bool isConstant(const bound::Expr& e, bound::ConstantValue v) {
  return e.kind == ExprKind::Constant && static_cast<const bound::ConstantExpr&>(e).value == v;
}

// Whether a yes/no expression gives exactly the target's truth values, as
// comparisons and the constants do; a stored field (and what passes one on)
// may hold any non-zero number for Yes.
bool exactTruth(const bound::Expr& e) {
  switch (e.kind) {
    case ExprKind::Constant:
    case ExprKind::Parameter:  // converted to a yes/no value when bound
    case ExprKind::IsNull:
    case ExprKind::Between:
    case ExprKind::InList:
    case ExprKind::InSelect:
    case ExprKind::Exists: return true;
    case ExprKind::Unary: return static_cast<const bound::UnaryExpr&>(e).op == bound::UnaryOp::Not;
    case ExprKind::Binary:
      switch (static_cast<const bound::BinaryExpr&>(e).op) {
        case bound::BinaryOp::Or:
        case bound::BinaryOp::And:
        case bound::BinaryOp::Equal:
        case bound::BinaryOp::NotEqual:
        case bound::BinaryOp::Less:
        case bound::BinaryOp::LessEqual:
        case bound::BinaryOp::Greater:
        case bound::BinaryOp::GreaterEqual:
        case bound::BinaryOp::Like: return true;
        default: return false;
      }
    case ExprKind::Call: return static_cast<const bound::CallExpr&>(e).function == Function::CBool;
    case ExprKind::Case: {
      const auto& c = static_cast<const bound::CaseExpr&>(e);
      return exactTruth(*c.whenTrue) && exactTruth(*c.whenFalse);
    }
    case ExprKind::Truth: return static_cast<const bound::TruthExpr&>(e).use != TruthUse::Number;
    case ExprKind::NoCase: return exactTruth(*static_cast<const bound::NoCaseExpr&>(e).operand);
    default: return false;
  }
}

bound::ExprPtr truth(TruthUse use, bound::ExprPtr e) {
  const bool anyNonZero = e->type != ValueType::Boolean || !exactTruth(*e);
  return std::make_unique<bound::TruthExpr>(use, std::move(e), anyNonZero);
}

}  // namespace

bound::ExprPtr asNumber(bound::ExprPtr e) {
  if (e->type != ValueType::Boolean) return e;
  return truth(TruthUse::Number, std::move(e));
}

bound::ExprPtr asStored(bound::ExprPtr e) {
  if (e->kind == ExprKind::Truth && static_cast<bound::TruthExpr&>(*e).use == TruthUse::Number)
    e = std::move(static_cast<bound::TruthExpr&>(*e).operand);
  if (!numeric(e->type)) return e;
  return truth(TruthUse::Stored, std::move(e));
}

bound::ExprPtr asWritten(bound::ExprPtr e, std::string_view declType) {
  if (bound::valueTypeOfDeclared(declType) == ValueType::Boolean) return asStored(std::move(e));
  return asNumber(std::move(e));
}

bound::ExprPtr dayCount(bound::ExprPtr e) {
  auto c = std::make_unique<bound::CallExpr>(Function::CDbl, ValueType::Number);
  c->args.push_back(std::move(e));
  return c;
}

bound::ExprPtr asArithmetic(bound::ExprPtr e) {
  if (e->type == ValueType::Date) return dayCount(std::move(e));
  return asNumber(std::move(e));
}

void makeComparable(const std::vector<bound::ExprPtr*>& values, ValueType other) {
  auto any = [&](auto test) {
    return test(other) ||
           std::any_of(values.begin(), values.end(), [&](bound::ExprPtr* v) { return test((*v)->type); });
  };
  const bool dates = any([](ValueType t) { return t == ValueType::Date; });
  const bool numbers = any([](ValueType t) { return numeric(t); });
  if (dates && numbers) {
    for (bound::ExprPtr* v : values) {
      if ((*v)->type == ValueType::Date) *v = dayCount(std::move(*v));
    }
  }
  // Exact yes/no values compare as they are; otherwise each is -1 or 0.
  const bool allExact =
      other == ValueType::Unknown && std::all_of(values.begin(), values.end(), [](bound::ExprPtr* v) {
        return (*v)->type == ValueType::Boolean && exactTruth(**v);
      });
  if (allExact) return;
  for (bound::ExprPtr* v : values) *v = asNumber(std::move(*v));
}

bound::ExprPtr truthTest(bound::ExprPtr& a, bound::ExprPtr& b, bool equal) {
  bound::ExprPtr* constant = nullptr;
  bound::ExprPtr* value = nullptr;
  for (auto [c, v] : {std::pair{&a, &b}, std::pair{&b, &a}}) {
    const bool yesNo = isConstant(**c, bound::ConstantValue::True) || isConstant(**c, bound::ConstantValue::False);
    if (yesNo && (*v)->type == ValueType::Boolean && (*v)->kind != ExprKind::Constant) {
      constant = c;
      value = v;
      break;
    }
  }
  if (!constant) return nullptr;
  const bool yes = isConstant(**constant, bound::ConstantValue::True) == equal;
  return truth(yes ? TruthUse::IsYes : TruthUse::IsNo, std::move(*value));
}

bound::ExprPtr caseless(bound::ExprPtr e) {
  if (!needsCollation(*e)) return e;
  return std::make_unique<bound::NoCaseExpr>(std::move(e));
}

}  // namespace oskara::db::sql::binding
