#include "dbengine/sql/binder.h"

#include <algorithm>
#include <string>

#include "dbengine/errors.h"
#include "dbengine/identifiers.h"
#include "dbengine/sql/functions.h"
#include "dbengine/sql/parser.h"

namespace oskara::db::sql {
namespace {

using bound::ValueType;

bool numeric(ValueType t) { return t == ValueType::Number || t == ValueType::Boolean; }

bool isColumn(const bound::Expr& e) { return e.kind == bound::ExprKind::Column; }

// Text compares without regard to case. A column of text carries that in its
// declared collation; anything else needs it said, unless both sides are numbers.
bool needsCollation(const bound::Expr& a, const bound::Expr& b) {
  return !isColumn(a) && !isColumn(b) && !(numeric(a.type) && numeric(b.type));
}

ValueType mergeTypes(ValueType a, ValueType b) {
  if (a == b) return a;
  if (a == ValueType::Null) return b;
  if (b == ValueType::Null) return a;
  if (numeric(a) && numeric(b)) return ValueType::Number;
  return ValueType::Unknown;
}

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

const ColumnInfo* findColumn(const bound::Source& source, std::string_view name) {
  for (const ColumnInfo& c : source.columns) {
    if (sameName(c.name, name)) return &c;
  }
  return nullptr;
}

const bound::Source* findSource(const bound::FromClause& from, std::string_view exposedName) {
  for (const auto& s : from.sources) {
    if (!s->exposedName.empty() && sameName(s->exposedName, exposedName)) return s.get();
  }
  return nullptr;
}

Error ambiguousField(std::string_view name, std::string_view statement) {
  return Error(errc::kAmbiguousField, "The field name '" + std::string(name) +
                                          "' is ambiguous: more than one table in the FROM clause has a "
                                          "field of that name, in statement '" +
                                          std::string(statement) + "'.");
}

// Whether an aggregate is computed at this query level (not inside a subquery).
bool containsAggregate(const bound::Expr& e) {
  using K = bound::ExprKind;
  switch (e.kind) {
    case K::Call: {
      const auto& c = static_cast<const bound::CallExpr&>(e);
      if (c.aggregate) return true;
      return std::any_of(c.args.begin(), c.args.end(), [](const auto& a) { return containsAggregate(*a); });
    }
    case K::Unary: return containsAggregate(*static_cast<const bound::UnaryExpr&>(e).operand);
    case K::Binary: {
      const auto& b = static_cast<const bound::BinaryExpr&>(e);
      return containsAggregate(*b.left) || containsAggregate(*b.right);
    }
    case K::Case: {
      const auto& c = static_cast<const bound::CaseExpr&>(e);
      return containsAggregate(*c.condition) || containsAggregate(*c.whenTrue) || containsAggregate(*c.whenFalse);
    }
    case K::IsNull: return containsAggregate(*static_cast<const bound::IsNullExpr&>(e).operand);
    case K::Between: {
      const auto& b = static_cast<const bound::BetweenExpr&>(e);
      return containsAggregate(*b.operand) || containsAggregate(*b.low) || containsAggregate(*b.high);
    }
    case K::InList: {
      const auto& in = static_cast<const bound::InListExpr&>(e);
      return containsAggregate(*in.operand) ||
             std::any_of(in.items.begin(), in.items.end(), [](const auto& a) { return containsAggregate(*a); });
    }
    case K::InSelect: return containsAggregate(*static_cast<const bound::InSelectExpr&>(e).operand);
    default: return false;
  }
}

void collectSources(const bound::Select& select, const bound::FromClause& from, std::vector<const bound::Source*>& out);

// The sources of `from` whose fields the expression reads.
void collectSources(const bound::Expr& e, const bound::FromClause& from, std::vector<const bound::Source*>& out) {
  using K = bound::ExprKind;
  auto add = [&](const bound::Source* s) {
    bool mine = std::any_of(from.sources.begin(), from.sources.end(), [&](const auto& p) { return p.get() == s; });
    if (mine && std::find(out.begin(), out.end(), s) == out.end()) out.push_back(s);
  };
  switch (e.kind) {
    case K::Column: add(static_cast<const bound::ColumnExpr&>(e).source); break;
    case K::Call:
      for (const auto& a : static_cast<const bound::CallExpr&>(e).args) collectSources(*a, from, out);
      break;
    case K::Unary: collectSources(*static_cast<const bound::UnaryExpr&>(e).operand, from, out); break;
    case K::Binary: {
      const auto& b = static_cast<const bound::BinaryExpr&>(e);
      collectSources(*b.left, from, out);
      collectSources(*b.right, from, out);
      break;
    }
    case K::Case: {
      const auto& c = static_cast<const bound::CaseExpr&>(e);
      collectSources(*c.condition, from, out);
      collectSources(*c.whenTrue, from, out);
      collectSources(*c.whenFalse, from, out);
      break;
    }
    case K::IsNull: collectSources(*static_cast<const bound::IsNullExpr&>(e).operand, from, out); break;
    case K::Between: {
      const auto& b = static_cast<const bound::BetweenExpr&>(e);
      collectSources(*b.operand, from, out);
      collectSources(*b.low, from, out);
      collectSources(*b.high, from, out);
      break;
    }
    case K::InList: {
      const auto& in = static_cast<const bound::InListExpr&>(e);
      collectSources(*in.operand, from, out);
      for (const auto& i : in.items) collectSources(*i, from, out);
      break;
    }
    case K::InSelect: {
      const auto& in = static_cast<const bound::InSelectExpr&>(e);
      collectSources(*in.operand, from, out);
      collectSources(*in.select, from, out);
      break;
    }
    case K::Exists: collectSources(*static_cast<const bound::ExistsExpr&>(e).select, from, out); break;
    case K::Subquery: collectSources(*static_cast<const bound::SubqueryExpr&>(e).select, from, out); break;
    default: break;
  }
}

// A correlated subquery reads the fields of the outer sources it names.
void collectSources(const bound::Select& select, const bound::FromClause& from, std::vector<const bound::Source*>& out) {
  for (const auto& item : select.items) collectSources(*item.expr, from, out);
  if (select.where) collectSources(*select.where, from, out);
  if (select.having) collectSources(*select.having, from, out);
}

struct ParameterEntry {
  std::string name;
  std::optional<VarType> type;
  bool declared = false;
};

// State shared by the binder of a statement and those of the stored queries it reads.
struct BindContext {
  const Catalog& catalog;
  std::vector<ParameterEntry> parameters;  // by ParameterExpr::id
  std::vector<std::string> queryStack;     // stored queries being read, against circular references
  int madeUpAliases = 0;
};

// What a name can resolve to at one point of a statement.
struct Scope {
  const Scope* parent = nullptr;
  const bound::FromClause* from = nullptr;  // null where no FROM clause applies (INSERT ... VALUES)
  const ast::Select* select = nullptr;      // its aliases stand for their expressions
};

class Binder {
 public:
  Binder(BindContext& context, std::string_view text, const std::vector<Variant>* inlineLiterals)
      : ctx_(context), text_(text), inlineLiterals_(inlineLiterals) {}

  bound::Statement statement(const ast::Statement& statement);
  void declare(const std::vector<ast::ParameterDecl>& decls);
  std::unique_ptr<bound::Select> select(const ast::Select& select, const Scope* parent);

 private:
  // FROM clauses.
  void fromClause(const std::vector<const ast::TableRef*>& refs, bound::FromClause& out, const Scope* parent);
  std::unique_ptr<bound::FromItem> fromItem(const ast::TableRef& ref, bound::FromClause& out,
                                            std::vector<std::pair<bound::FromItem*, const ast::Expr*>>& pendingOn);
  const bound::Source* addSource(std::unique_ptr<bound::Source> source, bound::FromClause& out, uint32_t offset);
  std::unique_ptr<bound::Select> storedQuery(const std::string& name, const std::string& text);

  // Select lists.
  void expandStar(const ast::StarExpr& star, const bound::FromClause& from, bound::Select& out);
  static void qualifyRepeatedNames(bound::Select& out, const std::vector<bool>& namedByColumn);
  void decideRowIdentity(const ast::Select& in, bound::Select& out, bool aggregate);

  // Expressions.
  bound::ExprPtr expr(const ast::Expr& e, const Scope& scope);
  bound::ExprPtr literal(const ast::LiteralExpr& e);
  bound::ExprPtr name(const ast::NameExpr& e, const Scope& scope);
  bound::ExprPtr binary(const ast::BinaryExpr& e, const Scope& scope);
  bound::ExprPtr call(const ast::CallExpr& e, const Scope& scope);
  bound::ExprPtr parameter(const std::string& name);
  bound::ExprPtr alias(const ast::NameExpr& e, const Scope& scope);
  const bound::Source* updateTarget(const ast::NameExpr& target, const bound::FromClause& from, std::string& column);

  [[noreturn]] void fail(int32_t number, const std::string& detail) const {
    throw syntaxError(number, detail, text_);
  }

  BindContext& ctx_;
  std::string_view text_;                        // the statement, for error texts
  const std::vector<Variant>* inlineLiterals_;   // a stored query's literals, written inline; else null
  std::vector<const ast::SelectItem*> aliasesInUse_;  // aliases being expanded, against circular ones
};

// ---- Statements ----

void Binder::declare(const std::vector<ast::ParameterDecl>& decls) {
  for (const auto& d : decls) {
    auto it = std::find_if(ctx_.parameters.begin(), ctx_.parameters.end(),
                           [&](const ParameterEntry& p) { return sameName(p.name, d.name); });
    if (it == ctx_.parameters.end()) {
      ctx_.parameters.push_back({d.name, d.type, true});
    } else if (!it->declared) {
      it->type = d.type;
      it->declared = true;
    }
  }
}

bound::Statement Binder::statement(const ast::Statement& st) {
  bound::Statement out;
  out.kind = st.kind;
  declare(st.parameters);
  switch (st.kind) {
    case StatementKind::Select:
      out.select = select(*st.select, nullptr);
      break;

    case StatementKind::Insert: {
      const ast::Insert& in = *st.insert;
      auto ins = std::make_unique<bound::Insert>();
      auto table = ctx_.catalog.findTable(in.table);
      if (!table) throw noSuchTable(in.table);
      ins->target = *table;
      if (in.columns.empty()) {
        for (const auto& c : table->columns) ins->columns.push_back(c.name);
      }
      for (const auto& name : in.columns) {
        auto c = std::find_if(table->columns.begin(), table->columns.end(),
                              [&](const ColumnInfo& ci) { return sameName(ci.name, name); });
        if (c == table->columns.end()) fail(errc::kSyntaxInsert, "unknown field name '" + name + "' in table '" + in.table + "'");
        ins->columns.push_back(c->name);
      }
      size_t count;
      if (in.select) {
        ins->select = select(*in.select, nullptr);
        count = ins->select->items.size();
      } else {
        Scope none;
        for (const auto& v : in.values) ins->values.push_back(expr(*v, none));
        count = ins->values.size();
      }
      if (count != ins->columns.size())
        fail(errc::kSyntaxInsert, std::to_string(count) + " values for " + std::to_string(ins->columns.size()) +
                                      " fields of table '" + in.table + "'");
      out.insert = std::move(ins);
      break;
    }

    case StatementKind::Update: {
      const ast::Update& in = *st.update;
      auto upd = std::make_unique<bound::Update>();
      fromClause({in.table.get()}, upd->from, nullptr);
      Scope scope{nullptr, &upd->from, nullptr};
      for (const auto& a : in.assignments) {
        bound::Assignment assignment;
        const bound::Source* source = updateTarget(*a.target, upd->from, assignment.column);
        if (upd->target && upd->target != source)
          fail(errc::kSyntaxUpdate, "the fields set belong to more than one table");
        upd->target = source;
        assignment.value = expr(*a.value, scope);
        upd->assignments.push_back(std::move(assignment));
      }
      if (!upd->target->table) fail(errc::kSyntaxUpdate, "the query '" + upd->target->exposedName + "' cannot be updated");
      if (in.where) upd->where = expr(*in.where, scope);
      out.update = std::move(upd);
      break;
    }

    case StatementKind::Delete: {
      const ast::Delete& in = *st.remove;
      auto del = std::make_unique<bound::Delete>();
      std::vector<const ast::TableRef*> refs;
      for (const auto& r : in.from) refs.push_back(r.get());
      fromClause(refs, del->from, nullptr);
      for (const auto& t : in.targets) {
        const bound::Source* source = findSource(del->from, t);
        if (!source) fail(errc::kSyntaxFrom, "the table '" + t + "' to delete from is not in the FROM clause");
        if (del->target && del->target != source) fail(errc::kSyntaxFrom, "rows can be deleted from one table only");
        del->target = source;
      }
      if (!del->target) {
        if (del->from.sources.size() != 1)
          fail(errc::kSyntaxFrom, "name the table to delete from, as in DELETE t.* FROM ...");
        del->target = del->from.sources.front().get();
      }
      if (!del->target->table) fail(errc::kSyntaxFrom, "rows of the query '" + del->target->exposedName + "' cannot be deleted");
      Scope scope{nullptr, &del->from, nullptr};
      if (in.where) del->where = expr(*in.where, scope);
      out.remove = std::move(del);
      break;
    }
  }

  // Declared parameters first, then the others in order of appearance.
  out.parameterSlots.assign(ctx_.parameters.size(), 0);
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t id = 0; id < ctx_.parameters.size(); ++id) {
      const ParameterEntry& p = ctx_.parameters[id];
      if (p.declared != (pass == 0)) continue;
      out.parameterSlots[id] = static_cast<int>(out.parameters.size());
      out.parameters.push_back({p.name, p.type});
    }
  }
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

// ---- FROM clauses ----

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

// ---- Select ----

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

  if (in.where) out->where = expr(*in.where, scope);
  for (const auto& g : in.groupBy) out->groupBy.push_back(expr(*g, scope));
  if (in.having) out->having = expr(*in.having, scope);
  for (const auto& o : in.orderBy) {
    bound::OrderItem item;
    item.expr = expr(*o.expr, scope);
    item.descending = o.descending;
    item.collateNoCase = !isColumn(*item.expr) && !numeric(item.expr->type);
    out->orderBy.push_back(std::move(item));
  }
  if (in.top) out->top = expr(*in.top, scope);

  bool aggregate = !out->groupBy.empty() || (out->having && containsAggregate(*out->having)) ||
                   std::any_of(out->items.begin(), out->items.end(),
                               [](const bound::SelectItem& i) { return containsAggregate(*i.expr); });
  out->distinct = in.distinct == ast::DistinctMode::Distinct;
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
    if (std::find(shown.begin(), shown.end(), s.get()) != shown.end()) out.distinctRowSources.push_back(s.get());
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

// ---- Expressions ----

bound::ExprPtr Binder::expr(const ast::Expr& e, const Scope& scope) {
  using K = ast::ExprKind;
  switch (e.kind) {
    case K::Literal: return literal(static_cast<const ast::LiteralExpr&>(e));
    case K::Constant: {
      switch (static_cast<const ast::ConstantExpr&>(e).value) {
        case ast::ConstantValue::True: return std::make_unique<bound::ConstantExpr>(bound::ConstantValue::True);
        case ast::ConstantValue::False: return std::make_unique<bound::ConstantExpr>(bound::ConstantValue::False);
        case ast::ConstantValue::Null: return std::make_unique<bound::ConstantExpr>(bound::ConstantValue::Null);
      }
      break;
    }
    case K::Name: return name(static_cast<const ast::NameExpr&>(e), scope);
    case K::Star: fail(errc::kSyntaxExpression, "'*' is not allowed at character " + std::to_string(e.offset + 1));
    case K::Unary: {
      const auto& u = static_cast<const ast::UnaryExpr&>(e);
      bound::ExprPtr operand = expr(*u.operand, scope);
      if (u.op == ast::UnaryOp::Not)
        return std::make_unique<bound::UnaryExpr>(bound::UnaryOp::Not, std::move(operand), ValueType::Boolean);
      ValueType t = operand->type == ValueType::Null ? ValueType::Null : ValueType::Number;
      return std::make_unique<bound::UnaryExpr>(bound::UnaryOp::Negate, std::move(operand), t);
    }
    case K::Binary: return binary(static_cast<const ast::BinaryExpr&>(e), scope);
    case K::IsNull: {
      const auto& n = static_cast<const ast::IsNullExpr&>(e);
      return std::make_unique<bound::IsNullExpr>(expr(*n.operand, scope), n.negated);
    }
    case K::Between: {
      const auto& b = static_cast<const ast::BetweenExpr&>(e);
      auto out = std::make_unique<bound::BetweenExpr>();
      out->operand = expr(*b.operand, scope);
      out->low = expr(*b.low, scope);
      out->high = expr(*b.high, scope);
      out->negated = b.negated;
      out->collateNoCase = !isColumn(*out->operand) && !numeric(out->operand->type);
      return out;
    }
    case K::In: {
      const auto& in = static_cast<const ast::InExpr&>(e);
      bound::ExprPtr operand = expr(*in.operand, scope);
      bool collate = !isColumn(*operand) && !numeric(operand->type);
      if (in.select) {
        auto out = std::make_unique<bound::InSelectExpr>();
        out->operand = std::move(operand);
        out->select = select(*in.select, &scope);
        out->negated = in.negated;
        out->collateNoCase = collate;
        return out;
      }
      auto out = std::make_unique<bound::InListExpr>();
      out->operand = std::move(operand);
      for (const auto& item : in.items) out->items.push_back(expr(*item, scope));
      out->negated = in.negated;
      out->collateNoCase = collate;
      return out;
    }
    case K::Like: {
      const auto& l = static_cast<const ast::LikeExpr&>(e);
      auto like = std::make_unique<bound::CallExpr>(helper::kLike, ValueType::Boolean);
      like->args.push_back(expr(*l.operand, scope));
      like->args.push_back(expr(*l.pattern, scope));
      if (!l.negated) return like;
      return std::make_unique<bound::UnaryExpr>(bound::UnaryOp::Not, std::move(like), ValueType::Boolean);
    }
    case K::Call: return call(static_cast<const ast::CallExpr&>(e), scope);
    case K::Subquery: {
      auto sub = select(*static_cast<const ast::SubqueryExpr&>(e).select, &scope);
      ValueType t = sub->items.empty() ? ValueType::Unknown : sub->items.front().expr->type;
      auto out = std::make_unique<bound::SubqueryExpr>(t);
      out->select = std::move(sub);
      return out;
    }
    case K::Exists: {
      auto out = std::make_unique<bound::ExistsExpr>();
      out->select = select(*static_cast<const ast::ExistsExpr&>(e).select, &scope);
      return out;
    }
  }
  fail(errc::kSyntaxExpression, "unsupported expression");
}

bound::ExprPtr Binder::literal(const ast::LiteralExpr& e) {
  ValueType t = e.literalKind == ast::LiteralKind::String   ? ValueType::Text
                : e.literalKind == ast::LiteralKind::Number ? ValueType::Number
                                                            : ValueType::Date;
  std::optional<Variant> value;
  if (inlineLiterals_) value = (*inlineLiterals_)[static_cast<size_t>(e.index)];
  return std::make_unique<bound::LiteralExpr>(e.index, std::move(value), t);
}

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

bound::ExprPtr Binder::binary(const ast::BinaryExpr& e, const Scope& scope) {
  using A = ast::BinaryOp;
  using B = bound::BinaryOp;
  bound::ExprPtr l = expr(*e.left, scope);
  bound::ExprPtr r = expr(*e.right, scope);
  const ValueType lt = l->type, rt = r->type;
  auto native = [&](B op, ValueType t) {
    return std::make_unique<bound::BinaryExpr>(op, std::move(l), std::move(r), t);
  };
  auto helperCall = [&](std::string_view function, ValueType t) {
    auto c = std::make_unique<bound::CallExpr>(function, t);
    c->args.push_back(std::move(l));
    c->args.push_back(std::move(r));
    return c;
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
    case A::Concat: return helperCall(helper::kConcat, ValueType::Text);
    case A::Add:
      // + adds numbers, joins two texts, and moves a date by days; which one
      // is left to the values when the types are not known here.
      if (anyNull) return native(B::Add, ValueType::Null);
      if (numeric(lt) && numeric(rt)) return native(B::Add, ValueType::Number);
      if (lt == ValueType::Text && rt == ValueType::Text) return native(B::TextConcat, ValueType::Text);
      return helperCall(helper::kAdd, lt == ValueType::Date || rt == ValueType::Date ? ValueType::Date : ValueType::Unknown);
    case A::Subtract:
      if (anyNull) return native(B::Subtract, ValueType::Null);
      if (numeric(lt) && numeric(rt)) return native(B::Subtract, ValueType::Number);
      return helperCall(helper::kSubtract, lt == ValueType::Date && rt == ValueType::Date ? ValueType::Number
                                           : lt == ValueType::Date                        ? ValueType::Date
                                                                                          : ValueType::Unknown);
    case A::Multiply: return native(B::Multiply, anyNull ? ValueType::Null : ValueType::Number);
    case A::Divide: return native(B::RealDivide, anyNull ? ValueType::Null : ValueType::Number);
    case A::IntDivide: return helperCall(helper::kIntDivide, ValueType::Number);
    case A::Mod: return helperCall(helper::kMod, ValueType::Number);
    case A::Power: return helperCall(helper::kPower, ValueType::Number);
  }
  fail(errc::kSyntaxExpression, "unsupported operator");
}

bound::ExprPtr Binder::call(const ast::CallExpr& e, const Scope& scope) {
  const DialectFunction* f = findDialectFunction(e.name);
  if (!f) fail(errc::kSyntaxExpression, "unknown function '" + e.name + "' at character " + std::to_string(e.offset + 1));
  const int argc = static_cast<int>(e.args.size());
  if (argc < f->minArgs || argc > f->maxArgs)
    fail(errc::kSyntaxExpression, "wrong number of arguments to '" + std::string(f->name) + "' at character " +
                                      std::to_string(e.offset + 1));

  if (argc == 1 && e.args[0]->kind == ast::ExprKind::Star) {
    if (!sameName(f->name, "Count")) fail(errc::kSyntaxExpression, "'*' is only allowed in Count(*)");
    auto c = std::make_unique<bound::CallExpr>(f->sqlName, ValueType::Number);
    c->aggregate = true;
    c->star = true;
    return c;
  }
  std::vector<bound::ExprPtr> args;
  for (const auto& a : e.args) args.push_back(expr(*a, scope));

  switch (f->form) {
    case FunctionForm::IIf: {
      ValueType t = mergeTypes(args[1]->type, args[2]->type);
      return std::make_unique<bound::CaseExpr>(std::move(args[0]), std::move(args[1]), std::move(args[2]), t);
    }
    case FunctionForm::IsNull: return std::make_unique<bound::IsNullExpr>(std::move(args[0]), false);
    case FunctionForm::Nz: {
      // Without a default a Null reads as "" (which also counts as 0 in arithmetic).
      if (args.size() == 1) args.push_back(std::make_unique<bound::ConstantExpr>(bound::ConstantValue::EmptyText));
      ValueType t = args[0]->type != ValueType::Unknown && args[0]->type != ValueType::Null ? args[0]->type : args[1]->type;
      auto c = std::make_unique<bound::CallExpr>("coalesce", t);
      c->args = std::move(args);
      return c;
    }
    case FunctionForm::Aggregate:
    case FunctionForm::Call: {
      ValueType t = ValueType::Unknown;
      switch (f->result) {
        case FunctionResult::Text: t = ValueType::Text; break;
        case FunctionResult::Number: t = ValueType::Number; break;
        case FunctionResult::Boolean: t = ValueType::Boolean; break;
        case FunctionResult::Date: t = ValueType::Date; break;
        case FunctionResult::FirstArgument: t = args.empty() ? ValueType::Unknown : args[0]->type; break;
        case FunctionResult::Unknown: break;
      }
      auto c = std::make_unique<bound::CallExpr>(f->sqlName, t);
      c->aggregate = f->form == FunctionForm::Aggregate;
      c->args = std::move(args);
      return c;
    }
  }
  fail(errc::kSyntaxExpression, "unsupported function '" + e.name + "'");
}

}  // namespace

namespace bound {

ValueType valueTypeOfDeclared(std::string_view declType) {
  auto has = [&](std::string_view word) {
    for (size_t i = 0; i + word.size() <= declType.size(); ++i) {
      if (sameName(declType.substr(i, word.size()), word)) return true;
    }
    return false;
  };
  if (has("BOOL") || has("BIT") || has("YESNO")) return ValueType::Boolean;
  if (has("DATE") || has("TIME")) return ValueType::Date;
  if (has("CHAR") || has("TEXT") || has("CLOB") || has("MEMO")) return ValueType::Text;
  if (has("INT") || has("DOUB") || has("REAL") || has("FLOA") || has("NUM") || has("DEC") || has("CURR") ||
      has("BYTE") || has("LONG") || has("SINGLE"))
    return ValueType::Number;
  return ValueType::Unknown;
}

}  // namespace bound

bound::Statement bindStatement(const ast::Statement& statement, std::string_view text, const Catalog& catalog) {
  BindContext context{catalog, {}, {}, 0};
  Binder binder(context, text, nullptr);
  return binder.statement(statement);
}

}  // namespace oskara::db::sql
