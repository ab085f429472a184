// FROM clauses: each table, link, stored query or subquery becomes a source
// with the name the statement knows it by; join conditions are bound once
// every source of the clause is known.
#include "dbengine/sql/binder/bind_context.h"
#include "dbengine/sql/parser.h"
#include "dbengine/sql/shape.h"

namespace oskara::db::sql::binding {

void Binder::fromClause(const std::vector<const ast::TableRef*>& refs, bound::FromClause& out, const Scope* parent) {
  std::vector<std::pair<bound::FromItem*, const ast::Expr*>> pendingOn;
  for (const ast::TableRef* ref : refs) out.items.push_back(fromItem(*ref, out, pendingOn));
  // Join conditions see every source of the clause, so they are bound last.
  Scope scope{parent, &out, nullptr};
  for (auto& [item, on] : pendingOn) item->on = expr(*on, scope);
}

std::unique_ptr<bound::FromItem> Binder::fromItem(const ast::TableRef& ref, bound::FromClause& out,
                                                  std::vector<std::pair<bound::FromItem*, const ast::Expr*>>& pendingOn) {
  auto item = std::make_unique<bound::FromItem>();
  switch (ref.kind) {
    case ast::TableRefKind::Named: {
      const auto& named = static_cast<const ast::NamedTableRef&>(ref);
      auto source = std::make_unique<bound::Source>();
      source->exposedName = named.alias.empty() ? named.name : named.alias;
      if (auto table = ctx_.catalog.findTable(named.name)) {
        source->table = std::move(*table);
        source->columns = source->table->columns;
      } else if (auto query = ctx_.catalog.findQuery(named.name)) {
        source->derived = storedQuery(named.name, *query);
      } else {
        throw noSuchTable(named.name);
      }
      item->source = addSource(std::move(source), out, ref.offset);
      break;
    }
    case ast::TableRefKind::Derived: {
      const auto& derived = static_cast<const ast::DerivedTableRef&>(ref);
      auto source = std::make_unique<bound::Source>();
      source->exposedName = derived.alias;
      source->derived = select(*derived.select, nullptr);
      item->source = addSource(std::move(source), out, ref.offset);
      break;
    }
    case ast::TableRefKind::Join: {
      const auto& join = static_cast<const ast::JoinRef&>(ref);
      item->joinType = join.type;
      item->left = fromItem(*join.left, out, pendingOn);
      item->right = fromItem(*join.right, out, pendingOn);
      pendingOn.emplace_back(item.get(), join.on.get());
      break;
    }
  }
  return item;
}

const bound::Source* Binder::addSource(std::unique_ptr<bound::Source> source, bound::FromClause& out, uint32_t offset) {
  if (!source->exposedName.empty() && findSource(out, source->exposedName))
    fail(errc::kSyntaxFrom, "'" + source->exposedName + "' appears twice in the FROM clause (character " +
                                std::to_string(offset + 1) + "); give one of them an alias");
  if (source->derived) {
    for (const auto& item : source->derived->items) source->columns.push_back({item.name, item.declType});
  }
  source->sqlAlias = source->exposedName.empty() ? "osk_query" + std::to_string(++ctx_.madeUpAliases)
                                                 : source->exposedName;
  out.sources.push_back(std::move(source));
  return out.sources.back().get();
}

std::unique_ptr<bound::Select> Binder::storedQuery(const std::string& name, const std::string& text) {
  for (const auto& open : ctx_.queryStack) {
    if (sameName(open, name)) fail(errc::kSyntaxFrom, "circular reference to the query '" + name + "'");
  }
  ast::Statement st = parseStatement(text);
  if (st.kind != StatementKind::Select)
    fail(errc::kSyntaxFrom, "the query '" + name + "' is not a select query and cannot stand in a FROM clause");
  StatementShape shape = statementShape(text);
  ctx_.queryStack.push_back(name);
  Binder nested(ctx_, text, &shape.literals);
  nested.declare(st.parameters);
  auto result = nested.select(*st.select, nullptr);
  ctx_.queryStack.pop_back();
  return result;
}

}  // namespace oskara::db::sql::binding
