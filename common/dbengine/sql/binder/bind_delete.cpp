// DELETE [DISTINCTROW] [t.*] FROM ... [WHERE ...]: the rows of one table of
// the FROM clause, named unless the clause has only one.
#include "dbengine/sql/binder/bind_context.h"

namespace oskara::db::sql::binding {

std::unique_ptr<bound::Delete> Binder::remove(const ast::Delete& in) {
  auto out = std::make_unique<bound::Delete>();
  std::vector<const ast::TableRef*> refs;
  for (const auto& r : in.from) refs.push_back(r.get());
  fromClause(refs, out->from, nullptr);
  for (const auto& t : in.targets) {
    const bound::Source* source = findSource(out->from, t);
    if (!source) fail(errc::kSyntaxFrom, "the table '" + t + "' to delete from is not in the FROM clause");
    if (out->target && out->target != source) fail(errc::kSyntaxFrom, "rows can be deleted from one table only");
    out->target = source;
  }
  if (!out->target) {
    if (out->from.sources.size() != 1)
      fail(errc::kSyntaxFrom, "name the table to delete from, as in DELETE t.* FROM ...");
    out->target = out->from.sources.front().get();
  }
  if (!out->target->table)
    fail(errc::kSyntaxFrom, "rows of the query '" + out->target->exposedName + "' cannot be deleted");
  Scope scope{nullptr, &out->from, nullptr};
  if (in.where) out->where = expr(*in.where, scope);
  return out;
}

}  // namespace oskara::db::sql::binding
