#include "dbengine/sql/emitter.h"

#include <algorithm>

#include "dbengine/sql/walker.h"

namespace oskara::db::sql {
namespace {

constexpr const char* kUpdateSource = "osk_source";
constexpr const char* kUpdateRowid = "osk_target_rowid";
constexpr const char* kUpdateRank = "osk_join_rank";

// Whether `e` reads a field or the row identity of a source other than `target`.
bool readsOtherSource(const bound::Expr& e, const bound::Source& target) {
  using K = bound::ExprKind;
  return !walk(
      e,
      [&](const bound::Expr& x) {
        const bound::Source* read = nullptr;
        if (x.kind == K::Column) read = static_cast<const bound::ColumnExpr&>(x).source;
        if (x.kind == K::RowId) read = static_cast<const bound::RowIdExpr&>(x).source;
        return read && read != &target ? Walk::Stop : Walk::Continue;
      },
      Subqueries::Enter);
}

// Made of constants alone: nothing of a row, a parameter or a function.
bool isConstant(const bound::Expr& e) {
  using K = bound::ExprKind;
  return walk(
      e,
      [](const bound::Expr& x) {
        switch (x.kind) {
          case K::Constant: return Walk::Continue;
          case K::Literal:
            return static_cast<const bound::LiteralExpr&>(x).inlineValue ? Walk::Continue : Walk::Stop;
          case K::Unary:
          case K::Binary:
          case K::Truth:
          case K::NoCase:
          case K::Case: return Walk::Continue;
          default: return Walk::Stop;
        }
      },
      Subqueries::Skip);
}

// The field IIf(IsNull(x), a, x) tests and gives back, when it is one: that
// conditional is x unless x is Null, which COALESCE says reading x once.
const bound::ColumnExpr* nullDefaultedField(const bound::CaseExpr& c) {
  using K = bound::ExprKind;
  if (c.condition->kind != K::IsNull || c.whenFalse->kind != K::Column) return nullptr;
  const auto& test = static_cast<const bound::IsNullExpr&>(*c.condition);
  if (test.negated || test.operand->kind != K::Column) return nullptr;
  const auto& tested = static_cast<const bound::ColumnExpr&>(*test.operand);
  const auto& given = static_cast<const bound::ColumnExpr&>(*c.whenFalse);
  return tested.source == given.source && tested.column == given.column ? &given : nullptr;
}

}  // namespace

std::string rankedItemColumn(size_t i) { return "osk_c" + std::to_string(i); }
std::string rankedKeyColumn(size_t i) { return "osk_k" + std::to_string(i); }

Translation Emitter::run() {
  Translation t;
  t.kind = statement_.kind;
  out_.reserve(256);
  switch (statement_.kind) {
    case StatementKind::Select: {
      const bound::Select& s = *statement_.select;
      select(s, s.updatable != nullptr);
      t.wholeResultFirst =
          s.distinct || !s.orderBy.empty() || !s.groupBy.empty() || !s.distinctRowKeys.empty() || s.having;
      for (const auto& item : s.items) {
        t.columnNames.push_back(item.name);
        t.columnTypes.push_back(item.declType);
      }
      if (s.updatable) {
        UpdatableTable u;
        u.table = *s.updatable->table;
        u.rowidColumn = kRowidColumn;
        for (const auto& item : s.items) u.resultColumns.push_back(item.tableColumn);
        t.updatable = std::move(u);
      }
      break;
    }
    case StatementKind::Insert:
      insert(*statement_.insert);
      t.target = statement_.insert->target;
      break;
    case StatementKind::Update:
      update(*statement_.update);
      t.target = *statement_.update->target->table;
      break;
    case StatementKind::Delete:
      remove(*statement_.remove);
      t.target = *statement_.remove->target->table;
      break;
  }
  t.sql = std::move(out_);
  t.bindings = std::move(bindings_);
  t.parameters = statement_.parameters;
  return t;
}

void Emitter::quoted(std::string_view name) {
  out_ += '"';
  for (char c : name) {
    if (c == '"') out_ += '"';
    out_ += c;
  }
  out_ += '"';
}

// ---- Statements and clauses ----

void Emitter::select(const bound::Select& s, bool withRowid) {
  if (s.top && (s.topWithTies || s.topPercent)) return topWithTies(s, withRowid);
  selectCore(s, withRowid, false);
  if (!s.orderBy.empty()) {
    out_ += " ORDER BY ";
    for (size_t i = 0; i < s.orderBy.size(); ++i) {
      if (i) out_ += ", ";
      key(*s.orderBy[i].expr, s.orderBy[i].collateNoCase);
      sortOrder(s.orderBy[i].descending);
    }
  }
  if (s.top) {
    out_ += " LIMIT ";
    topCount(*s.top);
  }
}

void Emitter::topWithTies(const bound::Select& s, bool withRowid) {
  out_ += "SELECT ";
  for (size_t i = 0; i < s.items.size(); ++i) {
    if (i) out_ += ", ";
    quoted(rankedItemColumn(i));
    out_ += " AS ";
    quoted(s.items[i].name);
  }
  if (withRowid) {
    out_ += ", ";
    quoted(kRowidColumn);
  }
  out_ += " FROM (SELECT *, ";
  if (s.orderBy.empty()) {
    out_ += "ROW_NUMBER() OVER ()";
  } else {
    out_ += "RANK() OVER (ORDER BY ";
    for (size_t i = 0; i < s.orderBy.size(); ++i) {
      if (i) out_ += ", ";
      quoted(rankedKeyColumn(i));
      sortOrder(s.orderBy[i].descending);
    }
    out_ += ')';
  }
  out_ += " AS \"osk_rank\"";
  if (s.topPercent) out_ += ", COUNT(*) OVER () AS \"osk_count\"";
  out_ += " FROM (";
  selectCore(s, withRowid, true);
  out_ += ") AS \"osk_ranked\") AS \"osk_top\" WHERE ";
  if (s.topPercent) {
    out_ += "(\"osk_rank\" - 1) * 100 < \"osk_count\" * ";  // the rank is at most n percent of the rows, rounded up
  } else {
    out_ += "\"osk_rank\" <= ";
  }
  topCount(*s.top);
  out_ += " ORDER BY \"osk_rank\"";
}

// A constant key orders and groups nothing; as text it is never read as
// the number of a result column, whatever its type.
void Emitter::key(const bound::Expr& e, bool noCase) {
  if (!isConstant(e)) return collated(e, noCase, kAny);
  out_ += "CAST(";
  expr(e);
  out_ += " AS TEXT)";
}

void Emitter::selectCore(const bound::Select& s, bool withRowid, bool rankedColumns) {
  out_ += s.distinct ? "SELECT DISTINCT " : "SELECT ";
  for (size_t i = 0; i < s.items.size(); ++i) {
    if (i) out_ += ", ";
    expr(*s.items[i].expr);
    out_ += " AS ";
    quoted(rankedColumns ? rankedItemColumn(i) : s.items[i].name);
  }
  for (size_t i = 0; rankedColumns && i < s.orderBy.size(); ++i) {
    out_ += ", ";
    collated(*s.orderBy[i].expr, s.orderBy[i].collateNoCase, kAny);
    out_ += " AS ";
    quoted(rankedKeyColumn(i));
  }
  if (withRowid) {
    out_ += ", ";
    rowid(*s.updatable);
    out_ += " AS ";
    quoted(kRowidColumn);
  }
  if (!s.from.items.empty()) {
    out_ += " FROM ";
    fromClause(s.from);
  }
  if (s.where) {
    out_ += " WHERE ";
    expr(*s.where);
  }
  const std::vector<bound::ExprPtr>& grouping = s.groupBy.empty() ? s.distinctRowKeys : s.groupBy;
  if (!grouping.empty()) {
    out_ += " GROUP BY ";
    for (size_t i = 0; i < grouping.size(); ++i) {
      if (i) out_ += ", ";
      if (grouping[i]->kind == bound::ExprKind::RowId) {
        rowGroupKey(*static_cast<const bound::RowIdExpr&>(*grouping[i]).source);
      } else {
        key(*grouping[i], false);
      }
    }
  }
  if (s.having) {
    out_ += " HAVING ";
    expr(*s.having);
  }
}

void Emitter::fromClause(const bound::FromClause& from) {
  for (size_t i = 0; i < from.items.size(); ++i) {
    if (i) out_ += ", ";
    fromItem(*from.items[i], false);
  }
}

void Emitter::fromItem(const bound::FromItem& item, bool nested) {
  if (item.source) return source(*item.source);
  // A join on the right of another join keeps its parentheses; on the left
  // they change nothing.
  if (nested) out_ += '(';
  fromItem(*item.left, false);
  switch (item.joinType) {
    case ast::JoinType::Inner: out_ += " INNER JOIN "; break;
    case ast::JoinType::Left: out_ += " LEFT JOIN "; break;
    case ast::JoinType::Right: out_ += " RIGHT JOIN "; break;
  }
  fromItem(*item.right, true);
  out_ += " ON ";
  expr(*item.on);
  if (nested) out_ += ')';
}

void Emitter::source(const bound::Source& s) {
  if (s.table) {
    table(*s.table);
  } else {
    out_ += '(';
    select(*s.derived, false);
    out_ += ')';
  }
  out_ += " AS ";
  quoted(s.sqlAlias);
}

void Emitter::table(const TableInfo& t) {
  quoted(t.schema);
  out_ += '.';
  quoted(t.table);
}

void Emitter::column(const bound::Source& s, std::string_view name) {
  quoted(s.sqlAlias);
  out_ += '.';
  quoted(name);
}

void Emitter::storedField(const bound::ColumnExpr& c) { column(*c.source, c.column); }

bool Emitter::checksWrites(const TableInfo&, std::string_view) const { return false; }

void Emitter::valueForField(const TableInfo&, std::string_view, const std::function<void()>& write) { write(); }

void Emitter::insert(const bound::Insert& in) {
  bool checked = false;
  for (const std::string& c : in.columns) checked = checked || checksWrites(in.target, c);
  if (in.select && checked) {
    // The selected rows get names, so that each value passes the target's check on its way in.
    out_ += "WITH \"osk_rows\"(";
    for (size_t i = 0; i < in.columns.size(); ++i) out_ += (i ? ", \"v" : "\"v") + std::to_string(i) + '"';
    out_ += ") AS (";
    select(*in.select, false);
    out_ += ") ";
  }
  out_ += "INSERT INTO ";
  table(in.target);
  out_ += " (";
  for (size_t i = 0; i < in.columns.size(); ++i) {
    if (i) out_ += ", ";
    quoted(in.columns[i]);
  }
  out_ += ") ";
  if (in.select && !checked) {
    select(*in.select, false);
    return;
  }
  out_ += in.select ? "SELECT " : "VALUES (";
  for (size_t i = 0; i < in.columns.size(); ++i) {
    if (i) out_ += ", ";
    valueForField(in.target, in.columns[i], [&] {
      if (in.select) {
        out_ += "\"v" + std::to_string(i) + '"';
      } else {
        expr(*in.values[i]);
      }
    });
  }
  out_ += in.select ? " FROM \"osk_rows\"" : ")";
}

void Emitter::update(const bound::Update& up) {
  out_ += "UPDATE ";
  source(*up.target);
  out_ += " SET ";
  const bool overJoin = up.from.sources.size() > 1;
  for (size_t i = 0; i < up.assignments.size(); ++i) {
    if (i) out_ += ", ";
    quoted(up.assignments[i].column);
    out_ += " = ";
    valueForField(*up.target->table, up.assignments[i].column, [&] {
      if (overJoin) {
        quoted(kUpdateSource);
        out_ += ".\"v" + std::to_string(i) + '"';
      } else {
        expr(*up.assignments[i].value);
      }
    });
  }
  if (!overJoin) {
    if (up.where) {
      out_ += " WHERE ";
      expr(*up.where);
    }
    return;
  }
  // Over a join: the new values are worked out per row of the join, then
  // each target row takes those of one of its join rows. When a target row
  // has several and the values read the other sources, the one it takes is
  // the last in the order of those sources' keys (a table's primary key,
  // else its row identity), whatever plan the database chooses: on every
  // backend a customer's queue row is linked to its newest call-log header.
  std::vector<std::function<void()>> joinOrder;
  if (std::ranges::any_of(up.assignments,
                          [&](const bound::Assignment& a) { return readsOtherSource(*a.value, *up.target); })) {
    for (const auto& s : up.from.sources) {
      if (s.get() == up.target || !s->table) continue;
      const bound::Source& other = *s;
      if (!std::ranges::any_of(other.table->columns, &ColumnInfo::key)) joinOrder.push_back([&] { rowid(other); });
      for (const ColumnInfo& c : other.table->columns)
        if (c.key) joinOrder.push_back([&] { column(other, c.name); });
    }
  }
  const bool byMax = joinOrder.size() == 1 && maxPicksItsRow();
  const bool ranked = !byMax && !joinOrder.empty();
  out_ += " FROM (SELECT ";
  rowid(*up.target);
  out_ += " AS ";
  quoted(kUpdateRowid);
  for (size_t i = 0; i < up.assignments.size(); ++i) {
    out_ += ", ";
    expr(*up.assignments[i].value);
    out_ += " AS \"v" + std::to_string(i) + '"';
  }
  if (byMax) {
    out_ += ", MAX(";
    joinOrder.front()();
    out_ += ')';
  } else if (ranked) {
    out_ += ", ROW_NUMBER() OVER (PARTITION BY ";
    rowid(*up.target);
    out_ += " ORDER BY ";
    for (size_t i = 0; i < joinOrder.size(); ++i) {
      if (i) out_ += ", ";
      joinOrder[i]();
      sortOrder(true);
    }
    out_ += ") AS ";
    quoted(kUpdateRank);
  }
  out_ += " FROM ";
  fromClause(up.from);
  if (up.where) {
    out_ += " WHERE ";
    expr(*up.where);
  }
  if (byMax) {
    out_ += " GROUP BY ";
    rowid(*up.target);
  }
  out_ += ") AS ";
  quoted(kUpdateSource);
  out_ += " WHERE ";
  rowid(*up.target);
  out_ += " = ";
  quoted(kUpdateSource);
  out_ += '.';
  quoted(kUpdateRowid);
  if (ranked) {
    out_ += " AND ";
    quoted(kUpdateSource);
    out_ += '.';
    quoted(kUpdateRank);
    out_ += " = 1";
  }
}

void Emitter::remove(const bound::Delete& del) {
  out_ += "DELETE FROM ";
  source(*del.target);
  if (del.from.sources.size() == 1) {
    if (del.where) {
      out_ += " WHERE ";
      expr(*del.where);
    }
    return;
  }
  // Over a join: the rows of the target that take part in it.
  out_ += " WHERE ";
  rowid(*del.target);
  out_ += " IN (SELECT ";
  rowid(*del.target);
  out_ += " FROM ";
  fromClause(del.from);
  if (del.where) {
    out_ += " WHERE ";
    expr(*del.where);
  }
  out_ += ')';
}

// ---- Expressions ----

void Emitter::slot(Binding::Source source, int index) {
  auto& slots = source == Binding::Source::Literal     ? literalSlots_
                : source == Binding::Source::Parameter ? parameterSlots_
                                                       : clockSlots_;
  auto [it, added] = slots.try_emplace(index, static_cast<int>(bindings_.size()) + 1);
  if (added) bindings_.push_back({source, index});
  placeholder(it->second);
}

void Emitter::value(const bound::Expr&, Binding::Source source, int index) { slot(source, index); }

void Emitter::rowGroupKey(const bound::Source& source) { rowid(source); }

void Emitter::sortOrder(bool descending) {
  if (descending) out_ += " DESC";
}



void Emitter::expr(const bound::Expr& e, int required) {
  const bool wrap = bindingOf(e) < required;
  if (wrap) out_ += '(';
  term(e);
  if (wrap) out_ += ')';
}

void Emitter::collated(const bound::Expr& e, bool noCaseWanted, int required) {
  if (noCaseWanted) return noCase(e);
  expr(e, required);
}

void Emitter::term(const bound::Expr& e) {
  using K = bound::ExprKind;
  switch (e.kind) {
    case K::Column: {
      const auto& c = static_cast<const bound::ColumnExpr&>(e);
      if (c.source->table) return storedField(c);
      return column(*c.source, c.column);
    }
    case K::Literal: {
      const auto& l = static_cast<const bound::LiteralExpr&>(e);
      if (l.inlineValue) return inlineLiteral(*l.inlineValue);
      return value(e, Binding::Source::Literal, l.index);
    }
    case K::Constant: return constant(static_cast<const bound::ConstantExpr&>(e).value);
    case K::Parameter: {
      int id = static_cast<const bound::ParameterExpr&>(e).id;
      return value(e, Binding::Source::Parameter, statement_.parameterSlots[static_cast<size_t>(id)]);
    }
    case K::RowId: return rowid(*static_cast<const bound::RowIdExpr&>(e).source);
    case K::Unary: {
      const auto& u = static_cast<const bound::UnaryExpr&>(e);
      // The blank after the minus keeps "- -x" from reading as a comment.
      out_ += u.op == bound::UnaryOp::Not ? "NOT " : "- ";
      expr(*u.operand, bindingOf(e));
      return;
    }
    case K::Binary: return binary(static_cast<const bound::BinaryExpr&>(e));
    case K::Call: return call(static_cast<const bound::CallExpr&>(e));
    case K::Truth: return truth(static_cast<const bound::TruthExpr&>(e));
    case K::NoCase: return noCase(*static_cast<const bound::NoCaseExpr&>(e).operand);
    case K::Case: {
      const auto& c = static_cast<const bound::CaseExpr&>(e);
      if (const bound::ColumnExpr* field = nullDefaultedField(c)) {
        out_ += "COALESCE(";
        expr(*field);
        out_ += ", ";
        expr(*c.whenTrue);
        out_ += ')';
        return;
      }
      out_ += "CASE WHEN ";
      expr(*c.condition);
      out_ += " THEN ";
      expr(*c.whenTrue);
      out_ += " ELSE ";
      expr(*c.whenFalse);
      out_ += " END";
      return;
    }
    case K::IsNull: {
      const auto& n = static_cast<const bound::IsNullExpr&>(e);
      expr(*n.operand, bindingOf(e));
      out_ += n.negated ? " IS NOT NULL" : " IS NULL";
      return;
    }
    case K::Between: {
      const auto& b = static_cast<const bound::BetweenExpr&>(e);
      const int operand = bindingOf(e) + 1;
      collated(*b.operand, b.collateNoCase, operand);
      out_ += b.negated ? " NOT BETWEEN " : " BETWEEN ";
      expr(*b.low, operand);
      out_ += " AND ";
      expr(*b.high, operand);
      return;
    }
    case K::InList: {
      const auto& in = static_cast<const bound::InListExpr&>(e);
      collated(*in.operand, in.collateNoCase, bindingOf(e) + 1);
      out_ += in.negated ? " NOT IN (" : " IN (";
      for (size_t i = 0; i < in.items.size(); ++i) {
        if (i) out_ += ", ";
        expr(*in.items[i]);
      }
      out_ += ')';
      return;
    }
    case K::InSelect: {
      const auto& in = static_cast<const bound::InSelectExpr&>(e);
      collated(*in.operand, in.collateNoCase, bindingOf(e) + 1);
      out_ += in.negated ? " NOT IN (" : " IN (";
      select(*in.select, false);
      out_ += ')';
      return;
    }
    case K::Exists:
      out_ += "EXISTS (";
      select(*static_cast<const bound::ExistsExpr&>(e).select, false);
      out_ += ')';
      return;
    case K::Subquery:
      out_ += '(';
      select(*static_cast<const bound::SubqueryExpr&>(e).select, false);
      out_ += ')';
      return;
  }
}

}  // namespace oskara::db::sql
