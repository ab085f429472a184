// UPDATE [DISTINCTROW] t or a join SET ... [WHERE ...]: every field set
// belongs to one table of the FROM clause, the target.
#include "dbengine/sql/binder/bind_context.h"

namespace oskara::db::sql::binding {

std::unique_ptr<bound::Update> Binder::update(const ast::Update& in) {
  auto out = std::make_unique<bound::Update>();
  fromClause({in.table.get()}, out->from, nullptr);
  Scope scope{nullptr, &out->from, nullptr};
  for (const auto& a : in.assignments) {
    bound::Assignment assignment;
    const bound::Source* source = updateTarget(*a.target, out->from, assignment.column);
    if (out->target && out->target != source) fail(errc::kSyntaxUpdate, "the fields set belong to more than one table");
    out->target = source;
    assignment.value = asWritten(expr(*a.value, scope), findColumn(*source, assignment.column)->declType);
    out->assignments.push_back(std::move(assignment));
  }
  if (!out->target->table) fail(errc::kSyntaxUpdate, "the query '" + out->target->exposedName + "' cannot be updated");
  if (in.where) out->where = expr(*in.where, scope);
  return out;
}

const bound::Source* Binder::updateTarget(const ast::NameExpr& target, const bound::FromClause& from,
                                          std::string& column) {
  std::string shown = target.qualifier.empty() ? target.name : target.qualifier + "." + target.name;
  if (!target.qualifier.empty()) {
    const bound::Source* source = findSource(from, target.qualifier);
    const ColumnInfo* c = source ? findColumn(*source, target.name) : nullptr;
    if (!c) fail(errc::kSyntaxUpdate, "unknown field '" + shown + "' to set");
    column = c->name;
    return source;
  }
  const bound::Source* found = nullptr;
  for (const auto& s : from.sources) {
    if (const ColumnInfo* c = findColumn(*s, target.name)) {
      if (found) throw ambiguousField(target.name, text_);
      found = s.get();
      column = c->name;
    }
  }
  if (!found) fail(errc::kSyntaxUpdate, "unknown field '" + shown + "' to set");
  return found;
}

}  // namespace oskara::db::sql::binding
