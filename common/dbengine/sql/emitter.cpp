#include "dbengine/sql/emitter.h"

#include <string>
#include <unordered_map>

namespace oskara::db::sql {
namespace {

constexpr const char* kUpdateSource = "osk_source";
constexpr const char* kUpdateRowid = "osk_target_rowid";

void appendQuoted(std::string& out, std::string_view name) {
  out += '"';
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void appendTextLiteral(std::string& out, std::string_view text) {
  out += '\'';
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
}

class Emitter {
 public:
  explicit Emitter(const bound::Statement& statement) : statement_(statement) {}
  Translation run();

 private:
  void select(const bound::Select& s, bool withRowid);
  void fromClause(const bound::FromClause& from);
  void fromItem(const bound::FromItem& item, bool nested);
  void source(const bound::Source& s);
  void insert(const bound::Insert& in);
  void update(const bound::Update& up);
  void remove(const bound::Delete& del);

  void expr(const bound::Expr& e, int required = 0);  // in parentheses when it binds less than `required`
  void collated(const bound::Expr& e, bool noCase, int required);
  void term(const bound::Expr& e);
  void literal(const bound::LiteralExpr& e);
  void slot(Binding::Source source, int index);
  void column(const bound::Source& s, std::string_view name);
  void rowid(const bound::Source& s);
  void table(const TableInfo& t);

  const bound::Statement& statement_;
  std::string out_;
  std::vector<Binding> bindings_;
  std::unordered_map<int, int> literalSlots_;    // literal index -> N of ?N
  std::unordered_map<int, int> parameterSlots_;  // parameter index -> N of ?N
};

Translation Emitter::run() {
  Translation t;
  t.kind = statement_.kind;
  out_.reserve(256);
  switch (statement_.kind) {
    case StatementKind::Select: {
      const bound::Select& s = *statement_.select;
      select(s, s.updatable != nullptr);
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
  t.sqlite = std::move(out_);
  t.bindings = std::move(bindings_);
  t.parameters = statement_.parameters;
  return t;
}

void Emitter::select(const bound::Select& s, bool withRowid) {
  out_ += s.distinct ? "SELECT DISTINCT " : "SELECT ";
  for (size_t i = 0; i < s.items.size(); ++i) {
    if (i) out_ += ", ";
    expr(*s.items[i].expr);
    out_ += " AS ";
    appendQuoted(out_, s.items[i].name);
  }
  if (withRowid) {
    out_ += ", ";
    rowid(*s.updatable);
    out_ += " AS ";
    appendQuoted(out_, kRowidColumn);
  }
  if (!s.from.items.empty()) {
    out_ += " FROM ";
    fromClause(s.from);
  }
  if (s.where) {
    out_ += " WHERE ";
    expr(*s.where);
  }
  if (!s.groupBy.empty()) {
    out_ += " GROUP BY ";
    for (size_t i = 0; i < s.groupBy.size(); ++i) {
      if (i) out_ += ", ";
      expr(*s.groupBy[i]);
    }
  } else if (!s.distinctRowSources.empty()) {
    // One row per combination of rows of the shown tables. A query standing
    // as a table has no rowid: all of its fields make up its row.
    out_ += " GROUP BY ";
    bool first = true;
    for (const bound::Source* src : s.distinctRowSources) {
      if (src->table) {
        if (!first) out_ += ", ";
        rowid(*src);
        first = false;
        continue;
      }
      for (const auto& c : src->columns) {
        if (!first) out_ += ", ";
        column(*src, c.name);
        first = false;
      }
    }
  }
  if (s.having) {
    out_ += " HAVING ";
    expr(*s.having);
  }
  if (!s.orderBy.empty()) {
    out_ += " ORDER BY ";
    for (size_t i = 0; i < s.orderBy.size(); ++i) {
      if (i) out_ += ", ";
      collated(*s.orderBy[i].expr, s.orderBy[i].collateNoCase, 0);
      if (s.orderBy[i].descending) out_ += " DESC";
    }
  }
  if (s.top) {
    out_ += " LIMIT ";
    expr(*s.top);
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
  appendQuoted(out_, s.sqlAlias);
}

void Emitter::table(const TableInfo& t) {
  appendQuoted(out_, t.schema);
  out_ += '.';
  appendQuoted(out_, t.table);
}

void Emitter::column(const bound::Source& s, std::string_view name) {
  appendQuoted(out_, s.sqlAlias);
  out_ += '.';
  appendQuoted(out_, name);
}

void Emitter::rowid(const bound::Source& s) {
  appendQuoted(out_, s.sqlAlias);
  out_ += ".rowid";
}

void Emitter::insert(const bound::Insert& in) {
  out_ += "INSERT INTO ";
  table(in.target);
  out_ += " (";
  for (size_t i = 0; i < in.columns.size(); ++i) {
    if (i) out_ += ", ";
    appendQuoted(out_, in.columns[i]);
  }
  out_ += ") ";
  if (in.select) {
    select(*in.select, false);
    return;
  }
  out_ += "VALUES (";
  for (size_t i = 0; i < in.values.size(); ++i) {
    if (i) out_ += ", ";
    expr(*in.values[i]);
  }
  out_ += ')';
}

void Emitter::update(const bound::Update& up) {
  out_ += "UPDATE ";
  source(*up.target);
  out_ += " SET ";
  const bool overJoin = up.from.sources.size() > 1;
  for (size_t i = 0; i < up.assignments.size(); ++i) {
    if (i) out_ += ", ";
    appendQuoted(out_, up.assignments[i].column);
    out_ += " = ";
    if (overJoin) {
      appendQuoted(out_, kUpdateSource);
      out_ += ".\"v" + std::to_string(i) + '"';
    } else {
      expr(*up.assignments[i].value);
    }
  }
  if (!overJoin) {
    if (up.where) {
      out_ += " WHERE ";
      expr(*up.where);
    }
    return;
  }
  // Over a join: the new values are worked out per row of the join, then
  // each target row takes those of one of its join rows (any one, when it
  // has several).
  out_ += " FROM (SELECT ";
  rowid(*up.target);
  out_ += " AS ";
  appendQuoted(out_, kUpdateRowid);
  for (size_t i = 0; i < up.assignments.size(); ++i) {
    out_ += ", ";
    expr(*up.assignments[i].value);
    out_ += " AS \"v" + std::to_string(i) + '"';
  }
  out_ += " FROM ";
  fromClause(up.from);
  if (up.where) {
    out_ += " WHERE ";
    expr(*up.where);
  }
  out_ += ") AS ";
  appendQuoted(out_, kUpdateSource);
  out_ += " WHERE ";
  rowid(*up.target);
  out_ += " = ";
  appendQuoted(out_, kUpdateSource);
  out_ += '.';
  appendQuoted(out_, kUpdateRowid);
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
  auto& slots = source == Binding::Source::Literal ? literalSlots_ : parameterSlots_;
  auto [it, added] = slots.try_emplace(index, static_cast<int>(bindings_.size()) + 1);
  if (added) bindings_.push_back({source, index});
  out_ += '?';
  out_ += std::to_string(it->second);
}

void Emitter::literal(const bound::LiteralExpr& e) {
  if (!e.inlineValue) return slot(Binding::Source::Literal, e.index);
  const Variant& v = *e.inlineValue;
  switch (v.type()) {
    case VarType::String: appendTextLiteral(out_, *v.get<std::string>()); break;
    case VarType::Date: appendTextLiteral(out_, v.get<DateTime>()->toIso()); break;
    case VarType::Double: {
      std::string digits = formatDouble(*v.get<double>());
      // Keep it a real number in SQLite, so that 5.0 / 2 stays 2.5.
      if (digits.find_first_of(".eEn") == std::string::npos) digits += ".0";
      out_ += digits;
      break;
    }
    default: out_ += v.toString(); break;
  }
}

// SQLite's binding strengths, weakest first. An operand is put in
// parentheses only when it binds less strongly than its place requires, so
// that long chains such as a+b+c+... stay flat for SQLite's parser.
enum Precedence : int {
  kAny = 0,
  kOr = 1,
  kAnd = 2,
  kNot = 3,
  kEquality = 4,    // = <> IS IN BETWEEN
  kRelational = 5,  // < <= > >=
  kAdditive = 7,
  kMultiplicative = 8,
  kConcat = 9,      // ||
  kUnary = 10,
  kCollate = 11,
  kAtom = 12,
};

int precedenceOf(const bound::Expr& e) {
  using K = bound::ExprKind;
  using B = bound::BinaryOp;
  switch (e.kind) {
    case K::Unary: return static_cast<const bound::UnaryExpr&>(e).op == bound::UnaryOp::Not ? kNot : kUnary;
    case K::IsNull:
    case K::Between:
    case K::InList:
    case K::InSelect: return kEquality;
    case K::Binary:
      switch (static_cast<const bound::BinaryExpr&>(e).op) {
        case B::Or: return kOr;
        case B::And: return kAnd;
        case B::Equal:
        case B::NotEqual: return kEquality;
        case B::Less:
        case B::LessEqual:
        case B::Greater:
        case B::GreaterEqual: return kRelational;
        case B::Add:
        case B::Subtract: return kAdditive;
        case B::Multiply:
        case B::RealDivide: return kMultiplicative;
        case B::TextConcat: return kConcat;
      }
      return kAny;
    default: return kAtom;
  }
}

void Emitter::expr(const bound::Expr& e, int required) {
  const bool wrap = precedenceOf(e) < required;
  if (wrap) out_ += '(';
  term(e);
  if (wrap) out_ += ')';
}

// An operand compared without regard to case.
void Emitter::collated(const bound::Expr& e, bool noCase, int required) {
  if (!noCase) return expr(e, required);
  expr(e, kCollate);
  out_ += " COLLATE NOCASE";
}

void Emitter::term(const bound::Expr& e) {
  using K = bound::ExprKind;
  switch (e.kind) {
    case K::Column: {
      const auto& c = static_cast<const bound::ColumnExpr&>(e);
      return column(*c.source, c.column);
    }
    case K::Literal: return literal(static_cast<const bound::LiteralExpr&>(e));
    case K::Constant:
      switch (static_cast<const bound::ConstantExpr&>(e).value) {
        case bound::ConstantValue::True: out_ += '1'; return;
        case bound::ConstantValue::False: out_ += '0'; return;
        case bound::ConstantValue::Null: out_ += "NULL"; return;
        case bound::ConstantValue::EmptyText: out_ += "''"; return;
      }
      return;
    case K::Parameter: {
      int id = static_cast<const bound::ParameterExpr&>(e).id;
      return slot(Binding::Source::Parameter, statement_.parameterSlots[static_cast<size_t>(id)]);
    }
    case K::Unary: {
      const auto& u = static_cast<const bound::UnaryExpr&>(e);
      // The blank after the minus keeps "- -x" from reading as a comment.
      out_ += u.op == bound::UnaryOp::Not ? "NOT " : "- ";
      expr(*u.operand, u.op == bound::UnaryOp::Not ? kNot : kUnary);
      return;
    }
    case K::Binary: {
      const auto& b = static_cast<const bound::BinaryExpr&>(e);
      static constexpr const char* kOps[] = {" OR ", " AND ", " = ", " <> ", " < ", " <= ", " > ", " >= ",
                                             " + ",  " - ",   " * ", " / ",  " || "};
      const int p = precedenceOf(e);
      if (b.op == bound::BinaryOp::RealDivide) {
        out_ += "CAST(";
        expr(*b.left, kAny);
        out_ += " AS REAL)";
      } else {
        collated(*b.left, b.collateNoCase, p);  // left to right: the left operand may bind as strongly
      }
      out_ += kOps[static_cast<int>(b.op)];
      expr(*b.right, p + 1);
      return;
    }
    case K::Call: {
      const auto& c = static_cast<const bound::CallExpr&>(e);
      out_ += c.function;
      out_ += '(';
      if (c.star) out_ += '*';
      for (size_t i = 0; i < c.args.size(); ++i) {
        if (i) out_ += ", ";
        expr(*c.args[i], kAny);
      }
      out_ += ')';
      return;
    }
    case K::Case: {
      const auto& c = static_cast<const bound::CaseExpr&>(e);
      out_ += "CASE WHEN ";
      expr(*c.condition, kAny);
      out_ += " THEN ";
      expr(*c.whenTrue, kAny);
      out_ += " ELSE ";
      expr(*c.whenFalse, kAny);
      out_ += " END";
      return;
    }
    case K::IsNull: {
      const auto& n = static_cast<const bound::IsNullExpr&>(e);
      expr(*n.operand, kEquality);
      out_ += n.negated ? " IS NOT NULL" : " IS NULL";
      return;
    }
    case K::Between: {
      const auto& b = static_cast<const bound::BetweenExpr&>(e);
      collated(*b.operand, b.collateNoCase, kRelational);
      out_ += b.negated ? " NOT BETWEEN " : " BETWEEN ";
      expr(*b.low, kRelational);
      out_ += " AND ";
      expr(*b.high, kRelational);
      return;
    }
    case K::InList: {
      const auto& in = static_cast<const bound::InListExpr&>(e);
      collated(*in.operand, in.collateNoCase, kRelational);
      out_ += in.negated ? " NOT IN (" : " IN (";
      for (size_t i = 0; i < in.items.size(); ++i) {
        if (i) out_ += ", ";
        expr(*in.items[i], kAny);
      }
      out_ += ')';
      return;
    }
    case K::InSelect: {
      const auto& in = static_cast<const bound::InSelectExpr&>(e);
      collated(*in.operand, in.collateNoCase, kRelational);
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

}  // namespace

Translation emitStatement(const bound::Statement& statement) { return Emitter(statement).run(); }

}  // namespace oskara::db::sql
