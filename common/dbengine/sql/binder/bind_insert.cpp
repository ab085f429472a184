// INSERT INTO t [(fields)] SELECT ... | VALUES (...): the fields written, in
// the table's order when none are named, and as many values as fields.
#include <algorithm>

#include "dbengine/sql/binder/bind_context.h"

namespace oskara::db::sql::binding {

std::unique_ptr<bound::Insert> Binder::insert(const ast::Insert& in) {
  auto out = std::make_unique<bound::Insert>();
  auto table = ctx_.catalog.findTable(in.table);
  if (!table) throw noSuchTable(in.table);
  out->target = *table;
  if (in.columns.empty()) {
    for (const auto& c : table->columns) out->columns.push_back(c.name);
  }
  for (const auto& name : in.columns) {
    auto c = std::find_if(table->columns.begin(), table->columns.end(),
                          [&](const ColumnInfo& ci) { return sameName(ci.name, name); });
    if (c == table->columns.end())
      fail(errc::kSyntaxInsert, "unknown field name '" + name + "' in table '" + in.table + "'");
    out->columns.push_back(c->name);
  }
  size_t count;
  if (in.select) {
    out->select = select(*in.select, nullptr);
    count = out->select->items.size();
  } else {
    Scope none;
    for (const auto& v : in.values) out->values.push_back(expr(*v, none));
    count = out->values.size();
  }
  if (count != out->columns.size())
    fail(errc::kSyntaxInsert, std::to_string(count) + " values for " + std::to_string(out->columns.size()) +
                                  " fields of table '" + in.table + "'");
  for (size_t i = 0; i < count; ++i) {
    auto c = std::find_if(table->columns.begin(), table->columns.end(),
                          [&](const ColumnInfo& ci) { return ci.name == out->columns[i]; });
    bound::ExprPtr& value = in.select ? out->select->items[i].expr : out->values[i];
    value = asWritten(std::move(value), c->declType);
  }
  return out;
}

}  // namespace oskara::db::sql::binding
