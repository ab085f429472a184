// SELECT: its FROM clause, its select list (with * expanded and result
// columns named), its clauses, whether it aggregates, DISTINCTROW's row
// identity, and whether its rows map back to one table's.
#include <algorithm>

#include "dbengine/sql/binder/bind_context.h"
#include "dbengine/sql/walker.h"

namespace oskara::db::sql::binding {
namespace {

// Whether an aggregate is computed at this query level (not inside a subquery).
bool containsAggregate(const bound::Expr& e) {
  const bool found = !walk(
      e,
      [](const bound::Expr& x) {
        const bool aggregate = x.kind == bound::ExprKind::Call && static_cast<const bound::CallExpr&>(x).aggregate;
        return aggregate ? Walk::Stop : Walk::Continue;
      },
      Subqueries::Skip);
  return found;
}

// Adds to `out` the sources of `from` whose fields the expression reads, in
// subqueries too (a correlated subquery reads the outer fields it names).
void collectSources(const bound::Expr& e, const bound::FromClause& from, std::vector<const bound::Source*>& out) {
  walk(
      e,
      [&](const bound::Expr& x) {
        if (x.kind != bound::ExprKind::Column) return Walk::Continue;
        const bound::Source* s = static_cast<const bound::ColumnExpr&>(x).source;
        const bool mine =
            std::any_of(from.sources.begin(), from.sources.end(), [&](const auto& p) { return p.get() == s; });
        if (mine && std::find(out.begin(), out.end(), s) == out.end()) out.push_back(s);
        return Walk::Continue;
      },
      Subqueries::Enter);
}

}  // namespace

std::unique_ptr<bound::Select> Binder::select(const ast::Select& in, const Scope* parent) {
  auto out = std::make_unique<bound::Select>();
  std::vector<const ast::TableRef*> refs;
  for (const auto& r : in.from) refs.push_back(r.get());
  fromClause(refs, out->from, parent);
  Scope scope{parent, &out->from, &in};

  std::vector<bool> namedByColumn;
  int unnamed = 1000;  // unnamed expressions are Expr1000, Expr1001, ...
  for (const auto& item : in.items) {
    if (item.expr->kind == ast::ExprKind::Star) {
      size_t before = out->items.size();
      expandStar(static_cast<const ast::StarExpr&>(*item.expr), out->from, *out);
      namedByColumn.resize(namedByColumn.size() + out->items.size() - before, true);
      continue;
    }
    bound::SelectItem si;
    si.expr = expr(*item.expr, scope);
    // A computed yes/no value shows as -1 or 0; a yes/no field shows as
    // itself, read as Yes or No by its declared type.
    if (!isColumn(*si.expr)) si.expr = asNumber(std::move(si.expr));
    bool byColumn = false;
    if (isColumn(*si.expr)) {
      const auto& c = static_cast<const bound::ColumnExpr&>(*si.expr);
      si.declType = findColumn(*c.source, c.column)->declType;
      si.name = c.column;
      byColumn = item.alias.empty();
    }
    if (!item.alias.empty()) {
      si.name = item.alias;
    } else if (!byColumn) {
      si.name = "Expr" + std::to_string(unnamed++);
    }
    out->items.push_back(std::move(si));
    namedByColumn.push_back(byColumn);
  }
  qualifyRepeatedNames(*out, namedByColumn);
  out->distinct = in.distinct == ast::DistinctMode::Distinct;
  if (out->distinct) {
    for (auto& item : out->items) item.expr = caseless(std::move(item.expr));
  }

  // Keys tell yes/no values apart as -1 and 0 (True sorts first), and text
  // without regard to case.
  if (in.where) out->where = expr(*in.where, scope);
  for (const auto& g : in.groupBy) out->groupBy.push_back(caseless(asNumber(expr(*g, scope))));
  if (in.having) out->having = expr(*in.having, scope);
  for (const auto& o : in.orderBy) {
    bound::OrderItem item;
    item.expr = asNumber(expr(*o.expr, scope));
    item.descending = o.descending;
    item.collateNoCase = needsCollation(*item.expr);
    out->orderBy.push_back(std::move(item));
  }
  if (in.top) {
    out->top = expr(*in.top, scope);
    out->topPercent = in.topPercent;
    out->topWithTies = !out->orderBy.empty();
  }

  bool aggregate = !out->groupBy.empty() || (out->having && containsAggregate(*out->having)) ||
                   std::any_of(out->items.begin(), out->items.end(),
                               [](const bound::SelectItem& i) { return containsAggregate(*i.expr); });
  decideRowIdentity(in, *out, aggregate);

  // A result over one table maps its rows back to that table's rows.
  if (out->from.sources.size() == 1 && out->from.sources.front()->table && !aggregate && !out->distinct) {
    out->updatable = out->from.sources.front().get();
    for (auto& item : out->items) {
      if (isColumn(*item.expr)) item.tableColumn = static_cast<const bound::ColumnExpr&>(*item.expr).column;
    }
  }
  return out;
}

// DISTINCTROW drops rows that repeat the same rows of the tables whose fields
// are shown; with fields of every table shown, or one table only, every
// result row is such a combination already and nothing is dropped.
void Binder::decideRowIdentity(const ast::Select& in, bound::Select& out, bool aggregate) {
  if (in.distinct != ast::DistinctMode::DistinctRow || aggregate || out.from.sources.size() < 2) return;
  std::vector<const bound::Source*> shown;
  for (const auto& item : out.items) collectSources(*item.expr, out.from, shown);
  if (shown.empty() || shown.size() == out.from.sources.size()) return;
  for (const auto& s : out.from.sources) {  // in the order of the FROM clause
    if (std::find(shown.begin(), shown.end(), s.get()) == shown.end()) continue;
    if (s->table) {
      out.distinctRowKeys.push_back(std::make_unique<bound::RowIdExpr>(s.get()));
      continue;
    }
    // A query standing as a table has no row identity: all of its fields make up its row.
    for (const auto& c : s->columns)
      out.distinctRowKeys.push_back(
          std::make_unique<bound::ColumnExpr>(s.get(), c.name, bound::valueTypeOfDeclared(c.declType)));
  }
}

void Binder::expandStar(const ast::StarExpr& star, const bound::FromClause& from, bound::Select& out) {
  auto addAll = [&](const bound::Source& s) {
    for (const auto& c : s.columns) {
      bound::SelectItem item;
      item.expr = std::make_unique<bound::ColumnExpr>(&s, c.name, bound::valueTypeOfDeclared(c.declType));
      item.name = c.name;
      item.declType = c.declType;
      out.items.push_back(std::move(item));
    }
  };
  if (star.qualifier.empty()) {
    if (from.sources.empty()) fail(errc::kSyntaxExpression, "'*' needs a FROM clause");
    for (const auto& s : from.sources) addAll(*s);
    return;
  }
  const bound::Source* source = findSource(from, star.qualifier);
  if (!source) throw noSuchTable(star.qualifier);
  addAll(*source);
}

// Two result columns named after fields of the same name become table.field.
void Binder::qualifyRepeatedNames(bound::Select& out, const std::vector<bool>& namedByColumn) {
  std::vector<std::string> renamed(out.items.size());
  for (size_t i = 0; i < out.items.size(); ++i) {
    if (!namedByColumn[i]) continue;
    const auto& c = static_cast<const bound::ColumnExpr&>(*out.items[i].expr);
    if (c.source->exposedName.empty()) continue;  // an unnamed subquery has no name to tell it by
    for (size_t j = 0; j < out.items.size(); ++j) {
      if (i != j && sameName(out.items[i].name, out.items[j].name)) {
        renamed[i] = c.source->exposedName + "." + c.column;
        break;
      }
    }
  }
  for (size_t i = 0; i < out.items.size(); ++i) {
    if (!renamed[i].empty()) out.items[i].name = std::move(renamed[i]);
  }
}

}  // namespace oskara::db::sql::binding
