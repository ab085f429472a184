// Calls of the dialect's functions (function_catalog.h): the number of
// arguments, the special forms (IIf, IsNull, Nz), aggregates, and the type of
// what each call gives. Arguments take yes/no values as -1 or 0.
#include "dbengine/sql/binder/bind_context.h"
#include "dbengine/sql/function_catalog.h"

namespace oskara::db::sql::binding {
namespace {

ValueType mergeTypes(ValueType a, ValueType b) {
  if (a == b) return a;
  if (a == ValueType::Null) return b;
  if (b == ValueType::Null) return a;
  if (numeric(a) && numeric(b)) return ValueType::Number;
  return ValueType::Unknown;
}

// Two values of which either is the result (IIf's branches, Nz's value and
// default): yes/no values stay so together, else each is a number.
ValueType mergeBranches(bound::ExprPtr& a, bound::ExprPtr& b) {
  const bool yesNo = [](ValueType x, ValueType y) {
    return (x == ValueType::Boolean || x == ValueType::Null) && (y == ValueType::Boolean || y == ValueType::Null);
  }(a->type, b->type);
  if (!yesNo) {
    a = asNumber(std::move(a));
    b = asNumber(std::move(b));
  }
  return mergeTypes(a->type, b->type);
}

}  // namespace

bound::ExprPtr Binder::call(const ast::CallExpr& e, const Scope& scope) {
  const DialectFunction* f = findDialectFunction(e.name);
  if (!f) fail(errc::kSyntaxExpression, "unknown function '" + e.name + "' at character " + std::to_string(e.offset + 1));
  const int argc = static_cast<int>(e.args.size());
  if (argc < f->minArgs || argc > f->maxArgs)
    fail(errc::kSyntaxExpression, "wrong number of arguments to '" + std::string(f->name) + "' at character " +
                                      std::to_string(e.offset + 1));

  if (argc == 1 && e.args[0]->kind == ast::ExprKind::Star) {
    if (f->function != Function::Count) fail(errc::kSyntaxExpression, "'*' is only allowed in Count(*)");
    auto c = std::make_unique<bound::CallExpr>(f->function, ValueType::Number);
    c->aggregate = true;
    c->star = true;
    return c;
  }
  std::vector<bound::ExprPtr> args;
  for (const auto& a : e.args) args.push_back(expr(*a, scope));

  switch (f->form) {
    case FunctionForm::IIf: {
      ValueType t = mergeBranches(args[1], args[2]);
      return std::make_unique<bound::CaseExpr>(std::move(args[0]), std::move(args[1]), std::move(args[2]), t);
    }
    case FunctionForm::IsNull: return std::make_unique<bound::IsNullExpr>(std::move(args[0]), false);
    case FunctionForm::Nz: {
      // Without a default a Null reads as "" (which also counts as 0 in arithmetic).
      if (args.size() == 1) args.push_back(std::make_unique<bound::ConstantExpr>(bound::ConstantValue::EmptyText));
      mergeBranches(args[0], args[1]);
      ValueType t = args[0]->type != ValueType::Unknown && args[0]->type != ValueType::Null ? args[0]->type : args[1]->type;
      auto c = std::make_unique<bound::CallExpr>(f->function, t);
      c->args = std::move(args);
      return c;
    }
    case FunctionForm::Aggregate:
    case FunctionForm::Call: {
      if (f->function != Function::Count) {
        for (auto& a : args) a = asNumber(std::move(a));
      }
      // Min and Max tell text apart without regard to case, as comparisons do.
      if (f->function == Function::Min || f->function == Function::Max) args[0] = caseless(std::move(args[0]));
      ValueType t = ValueType::Unknown;
      switch (f->result) {
        case FunctionResult::Text: t = ValueType::Text; break;
        case FunctionResult::Number: t = ValueType::Number; break;
        case FunctionResult::Boolean: t = ValueType::Boolean; break;
        case FunctionResult::Date: t = ValueType::Date; break;
        case FunctionResult::FirstArgument: t = args.empty() ? ValueType::Unknown : args[0]->type; break;
        case FunctionResult::Unknown: break;
      }
      // Int and Fix of a date give a date: the whole days of its day count.
      const bool ofDate = (f->function == Function::Int || f->function == Function::Fix) &&
                          args[0]->type == ValueType::Date;
      auto c = std::make_unique<bound::CallExpr>(f->function, t);
      c->aggregate = f->form == FunctionForm::Aggregate;
      c->args = std::move(args);
      if (!ofDate) return c;
      auto date = std::make_unique<bound::CallExpr>(Function::CDate, ValueType::Date);
      date->args.push_back(std::move(c));
      return date;
    }
  }
  fail(errc::kSyntaxExpression, "unsupported function '" + e.name + "'");
}

}  // namespace oskara::db::sql::binding
