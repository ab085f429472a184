#include "dbengine/sql/sqlite_emitter.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "dbengine/sql/emitter.h"
#include "dbengine/sql/enum_table.h"
#include "dbengine/sql/sqlite_functions.h"

namespace oskara::db::sql {
namespace {

// SQLite's binding strengths, weakest first. An operand is put in
// parentheses only when it binds less strongly than its place requires, so
// that long chains such as a+b+c+... stay flat for SQLite's parser.
enum Strength : int {
  kOr = 1,
  kAnd = 2,
  kNot = 3,
  kEquality = 4,    // = <> IS IN BETWEEN
  kRelational = 5,  // < <= > >=
  kAdditive = 7,
  kMultiplicative = 8,
  kUnary = 10,
  kCollate = 11,
  kAtom = 12,
};

// How SQLite writes each operator of the bound tree: infix, or as a call of
// one of our functions (for the operators whose dialect meaning SQLite's own
// do not have).
struct OperatorSpelling {
  bound::BinaryOp op;
  const char* infix;     // null for a function
  const char* function;  // null for an infix operator
  int binding;
};

using B = bound::BinaryOp;
constexpr OperatorSpelling kOperators[] = {
    {B::Or, " OR ", nullptr, kOr},
    {B::And, " AND ", nullptr, kAnd},
    {B::Equal, " = ", nullptr, kEquality},
    {B::NotEqual, " <> ", nullptr, kEquality},
    {B::Less, " < ", nullptr, kRelational},
    {B::LessEqual, " <= ", nullptr, kRelational},
    {B::Greater, " > ", nullptr, kRelational},
    {B::GreaterEqual, " >= ", nullptr, kRelational},
    {B::Add, " + ", nullptr, kAdditive},
    {B::Subtract, " - ", nullptr, kAdditive},
    {B::Multiply, " * ", nullptr, kMultiplicative},
    {B::RealDivide, nullptr, sqlite_operator::kDivide, kAtom},
    {B::TextConcat, nullptr, sqlite_operator::kAdd, kAtom},  // our function, for the limit on texts
    {B::Concat, nullptr, sqlite_operator::kConcat, kAtom},
    {B::AddAny, nullptr, sqlite_operator::kAdd, kAtom},
    {B::SubtractAny, nullptr, sqlite_operator::kSubtract, kAtom},
    {B::IntDivide, nullptr, sqlite_operator::kIntDivide, kAtom},
    {B::Mod, nullptr, sqlite_operator::kMod, kAtom},
    {B::Power, nullptr, sqlite_operator::kPower, kAtom},
    {B::Like, nullptr, sqlite_operator::kLike, kAtom},
};

static_assert(inEnumOrder<&OperatorSpelling::op>(kOperators, bound::kBinaryOpCount),
              "kOperators lists every BinaryOp, in the order of the enum");

const OperatorSpelling& spellingOf(bound::BinaryOp op) { return kOperators[static_cast<int>(op)]; }

// `text` between `quote` characters, each one inside doubled.
void appendQuoted(std::string& out, std::string_view text, char quote) {
  out += quote;
  for (char c : text) {
    if (c == quote) out += quote;
    out += c;
  }
  out += quote;
}

void appendTextLiteral(std::string& out, std::string_view text) { appendQuoted(out, text, '\''); }
void appendIdentifier(std::string& out, std::string_view name) { appendQuoted(out, name, '"'); }

// The field that names a row of `table` in a date's failure: its one-field
// primary key, else its rowid.
std::string_view rowKeyField(const TableInfo& table) {
  const ColumnInfo* key = nullptr;
  int keys = 0;
  for (const ColumnInfo& info : table.columns) {
    if (info.key && keys++ == 0) key = &info;
  }
  return keys == 1 ? std::string_view(key->name) : std::string_view("rowid");
}

// The date fields of a SELECT's result that the backend checks as it reads
// each row, instead of the SQL: only where every result column is a field
// of the one table (nothing else in a row can fail after its dates), each
// row is worked out as it is read (no sorting, grouping, DISTINCT or TOP:
// a malformed date fails at the same row either way), and the row's key is
// among the result columns.
std::vector<DateReadUnchecked> datesLeftToTheReader(const bound::Statement& statement) {
  if (statement.kind != StatementKind::Select) return {};
  const bound::Select& s = *statement.select;
  if (!s.updatable || s.distinct || !s.orderBy.empty() || !s.groupBy.empty() || !s.distinctRowKeys.empty() ||
      s.having || s.top)
    return {};
  const TableInfo& table = *s.updatable->table;
  const std::string_view keyField = rowKeyField(table);
  std::optional<size_t> keyColumn;
  if (keyField == "rowid") keyColumn = s.items.size();  // the row identity follows the visible columns
  std::vector<DateReadUnchecked> dates;
  for (size_t i = 0; i < s.items.size(); ++i) {
    if (s.items[i].expr->kind != bound::ExprKind::Column) return {};
    const auto& c = static_cast<const bound::ColumnExpr&>(*s.items[i].expr);
    if (c.column == keyField && !keyColumn) keyColumn = i;
    if (c.type == bound::ValueType::Date) dates.push_back({i, table.table, c.column, std::string(keyField), 0});
  }
  if (!keyColumn) return {};
  for (DateReadUnchecked& date : dates) date.keyColumn = *keyColumn;
  return dates;
}

class SqliteEmitter final : public Emitter {
 public:
  explicit SqliteEmitter(const bound::Statement& statement)
      : Emitter(statement), datesReadUnchecked_(datesLeftToTheReader(statement)) {}

  Translation emit() {
    Translation t = run();
    t.datesReadUnchecked = std::move(datesReadUnchecked_);
    return t;
  }

 private:
  bool readUnchecked(const bound::ColumnExpr& c) const {
    if (datesReadUnchecked_.empty()) return false;
    const auto& items = statement().select->items;
    return std::any_of(datesReadUnchecked_.begin(), datesReadUnchecked_.end(),
                       [&](const DateReadUnchecked& d) { return items[d.column].expr.get() == &c; });
  }

  void placeholder(int n) override {
    out_ += '?';
    out_ += std::to_string(n);
  }

  void rowid(const bound::Source& source) override {
    quoted(source.sqlAlias);
    out_ += ".rowid";
  }

  // SQLite gives a grouped select's bare columns from the row where its one
  // MAX() is found.
  bool maxPicksItsRow() const override { return true; }

  void storedField(const bound::ColumnExpr& c) override {
    if (c.type != bound::ValueType::Date || readUnchecked(c)) return column(*c.source, c.column);
    std::string alias;
    appendIdentifier(alias, c.source->sqlAlias);
    out_ += sqliteStoredDateRead(*c.source->table, c.column, alias);
  }

  bool checksWrites(const TableInfo& table, std::string_view column) const override {
    return !declaredType(table, column).empty();
  }

  void valueForField(const TableInfo& table, std::string_view column, const std::function<void()>& write) override {
    const std::string_view type = declaredType(table, column);
    if (type.empty()) return write();
    out_ += sqlite_field::kWrite;
    out_ += '(';
    write();
    out_ += ", ";
    appendTextLiteral(out_, type);
    out_ += ", ";
    appendTextLiteral(out_, table.table);
    out_ += ", ";
    appendTextLiteral(out_, column);
    out_ += ')';
  }

  // The declared type of a field whose values SQLite would keep outside that
  // type (numbers, yes/no, dates); "" for text and undeclared fields.
  static std::string_view declaredType(const TableInfo& table, std::string_view column) {
    for (const ColumnInfo& info : table.columns) {
      if (info.name != column) continue;
      const bound::ValueType type = bound::valueTypeOfDeclared(info.declType);
      const bool checked = type == bound::ValueType::Number || type == bound::ValueType::Boolean ||
                           type == bound::ValueType::Date;
      return checked ? std::string_view(info.declType) : std::string_view();
    }
    return {};
  }

  // True and False as SQLite's own truth values, which its comparisons give.
  void constant(bound::ConstantValue value) override {
    switch (value) {
      case bound::ConstantValue::True: out_ += "1"; return;
      case bound::ConstantValue::False: out_ += "0"; return;
      case bound::ConstantValue::Null: out_ += "NULL"; return;
      case bound::ConstantValue::EmptyText: out_ += "''"; return;
    }
  }

  // Dates as the ISO text the files store.
  void inlineLiteral(const Variant& v) override {
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

  void binary(const bound::BinaryExpr& e) override {
    const OperatorSpelling& spelling = spellingOf(e.op);
    if (spelling.function) {
      out_ += spelling.function;
      out_ += '(';
      expr(*e.left);
      out_ += ", ";
      expr(*e.right);
      out_ += ')';
      return;
    }
    collated(*e.left, e.collateNoCase, spelling.binding);  // left to right: the left operand may bind as strongly
    out_ += spelling.infix;
    expr(*e.right, spelling.binding + 1);
  }

  void call(const bound::CallExpr& e) override {
    out_ += sqliteFunctionName(e.function);
    out_ += '(';
    if (e.star) out_ += '*';
    for (size_t i = 0; i < e.args.size(); ++i) {
      if (i) out_ += ", ";
      expr(*e.args[i]);
    }
    out_ += ')';
  }

  // A truth value of SQLite is 1 or 0; a stored yes/no value any number.
  void truth(const bound::TruthExpr& e) override {
    const bound::Expr& x = *e.operand;
    switch (e.use) {
      case bound::TruthUse::Number:
        if (x.kind == bound::ExprKind::Constant) {
          const bool yes = static_cast<const bound::ConstantExpr&>(x).value == bound::ConstantValue::True;
          out_ += std::to_string(yes ? bound::kTrueNumber : bound::kFalseNumber);
          return;
        }
        out_ += "- ";
        if (!e.anyNonZero) return expr(x, kUnary);
        out_ += '(';
        expr(x, kEquality + 1);
        out_ += " <> 0)";
        return;
      // `x <> 0` tests a field as fast as `x = 1` would (no index serves
      // either on a field of two values); `x = 0` below stays indexable.
      case bound::TruthUse::Stored:
      case bound::TruthUse::IsYes:
        if (!e.anyNonZero) return expr(x, bindingOf(e));
        expr(x, kEquality + 1);
        out_ += " <> 0";
        return;
      case bound::TruthUse::IsNo:
        if (!e.anyNonZero) {
          out_ += "NOT ";
          return expr(x, kNot);
        }
        expr(x, kEquality + 1);
        out_ += " = 0";
        return;
    }
  }

  // TOP's row count or percentage, as an operand of `*` or `<=`.
  void topCount(const bound::Expr& count) override { expr(count, kMultiplicative + 1); }

  void noCase(const bound::Expr& operand) override {
    expr(operand, kCollate);
    out_ += " COLLATE NOCASE";
  }

  int bindingOf(const bound::Expr& e) const override {
    using K = bound::ExprKind;
    switch (e.kind) {
      case K::Unary: return static_cast<const bound::UnaryExpr&>(e).op == bound::UnaryOp::Not ? kNot : kUnary;
      case K::IsNull:
      case K::Between:
      case K::InList:
      case K::InSelect: return kEquality;
      case K::Binary: return spellingOf(static_cast<const bound::BinaryExpr&>(e).op).binding;
      case K::NoCase: return kCollate;
      case K::Truth: {
        const auto& t = static_cast<const bound::TruthExpr&>(e);
        if (t.use == bound::TruthUse::Number) return kUnary;
        if (t.anyNonZero) return kEquality;
        return t.use == bound::TruthUse::IsNo ? kNot : bindingOf(*t.operand);
      }
      default: return kAtom;
    }
  }

  std::vector<DateReadUnchecked> datesReadUnchecked_;  // result columns written without their check
};

}  // namespace

// The row is named in the failure by rowKeyField.
std::string sqliteStoredDateRead(const TableInfo& table, std::string_view field, std::string_view qualifier) {
  const std::string_view key = rowKeyField(table);
  auto qualified = [&](std::string_view name) {
    std::string out(qualifier);
    out += '.';
    if (name == "rowid") {
      out += name;
    } else {
      appendIdentifier(out, name);
    }
    return out;
  };
  std::string out = sqlite_field::kReadDate;
  out += '(' + qualified(field) + ", ";
  appendTextLiteral(out, table.table);
  out += ", ";
  appendTextLiteral(out, field);
  out += ", ";
  appendTextLiteral(out, key);
  out += ", " + qualified(key) + ')';
  return out;
}

Translation emitSqlite(const bound::Statement& statement) { return SqliteEmitter(statement).emit(); }

}  // namespace oskara::db::sql
