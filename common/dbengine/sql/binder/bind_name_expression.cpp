// Names in expressions: a field of a source in scope (the innermost query
// first), a select-list alias of the query, or else a parameter.
#include <algorithm>

#include "dbengine/sql/binder/bind_context.h"

namespace oskara::db::sql::binding {
namespace {

ValueType valueTypeOf(VarType t) {
  switch (t) {
    case VarType::Integer:
    case VarType::Long:
    case VarType::Double: return ValueType::Number;
    case VarType::String: return ValueType::Text;
    case VarType::Boolean: return ValueType::Boolean;
    case VarType::Date: return ValueType::Date;
    default: return ValueType::Unknown;
  }
}

}  // namespace

bound::ExprPtr Binder::name(const ast::NameExpr& e, const Scope& scope) {
  if (e.qualifier.empty()) {
    for (const auto& p : ctx_.parameters) {
      if (p.declared && sameName(p.name, e.name)) return parameter(e.name);
    }
  }
  for (const Scope* s = &scope; s; s = s->parent) {
    if (!s->from) continue;
    if (!e.qualifier.empty()) {
      if (const bound::Source* source = findSource(*s->from, e.qualifier)) {
        const ColumnInfo* c = findColumn(*source, e.name);
        if (!c) break;  // a table's unknown field is a parameter, as any unknown name
        return std::make_unique<bound::ColumnExpr>(source, c->name, bound::valueTypeOfDeclared(c->declType));
      }
      continue;
    }
    const bound::Source* found = nullptr;
    const ColumnInfo* column = nullptr;
    for (const auto& source : s->from->sources) {
      if (const ColumnInfo* c = findColumn(*source, e.name)) {
        if (found) throw ambiguousField(e.name, text_);
        found = source.get();
        column = c;
      }
    }
    if (found) return std::make_unique<bound::ColumnExpr>(found, column->name, bound::valueTypeOfDeclared(column->declType));
  }
  if (e.qualifier.empty()) {
    if (bound::ExprPtr aliased = alias(e, scope)) return aliased;
  }
  return parameter(e.qualifier.empty() ? e.name : e.qualifier + "." + e.name);
}

// A select-list alias used elsewhere in its query stands for its expression.
bound::ExprPtr Binder::alias(const ast::NameExpr& e, const Scope& scope) {
  if (!scope.select) return nullptr;
  for (const auto& item : scope.select->items) {
    if (item.alias.empty() || !sameName(item.alias, e.name)) continue;
    if (std::find(aliasesInUse_.begin(), aliasesInUse_.end(), &item) != aliasesInUse_.end())
      fail(errc::kSyntaxExpression, "circular reference caused by the alias '" + item.alias + "'");
    aliasesInUse_.push_back(&item);
    bound::ExprPtr result = expr(*item.expr, scope);
    aliasesInUse_.pop_back();
    return result;
  }
  return nullptr;
}

bound::ExprPtr Binder::parameter(const std::string& name) {
  for (size_t id = 0; id < ctx_.parameters.size(); ++id) {
    const ParameterEntry& p = ctx_.parameters[id];
    if (sameName(p.name, name)) {
      ValueType t = p.type ? valueTypeOf(*p.type) : ValueType::Unknown;
      return std::make_unique<bound::ParameterExpr>(static_cast<int>(id), t);
    }
  }
  ctx_.parameters.push_back({name, std::nullopt, false});
  return std::make_unique<bound::ParameterExpr>(static_cast<int>(ctx_.parameters.size() - 1), ValueType::Unknown);
}

}  // namespace oskara::db::sql::binding
