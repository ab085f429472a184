#include "dbengine/sql/postgres_emitter.h"

#include <string>

#include "dbengine/sql/emitter.h"

namespace oskara::db::sql {
namespace {

// PostgreSQL's binding strengths, weakest first (its table of operator
// precedence). Comparisons do not chain: both of their operands need more.
enum Strength : int {
  kOr = 1,
  kAnd = 2,
  kNot = 3,
  kIs = 4,          // IS NULL
  kComparison = 5,  // = <> < <= > >=
  kRange = 6,       // BETWEEN IN
  kOperator = 7,    // || ~*
  kAdditive = 8,
  kMultiplicative = 9,
  kUnary = 11,
  kCast = 12,       // ::
  kAtom = 13,
};

// Day zero of the dialect's dates: a time of day alone is on it.
constexpr const char* kDayZero = "timestamp '1899-12-30'";

using B = bound::BinaryOp;
using K = bound::ExprKind;
using V = bound::ValueType;

bool isComparison(B op) {
  return op == B::Equal || op == B::NotEqual || op == B::Less || op == B::LessEqual || op == B::Greater ||
         op == B::GreaterEqual;
}

const char* infixOf(B op) {
  switch (op) {
    case B::Or: return " OR ";
    case B::And: return " AND ";
    case B::Equal: return " = ";
    case B::NotEqual: return " <> ";
    case B::Less: return " < ";
    case B::LessEqual: return " <= ";
    case B::Greater: return " > ";
    case B::GreaterEqual: return " >= ";
    case B::Add: return " + ";
    case B::Subtract: return " - ";
    case B::Multiply: return " * ";
    case B::RealDivide: return " / ";
    case B::TextConcat: return " || ";
    default: return nullptr;
  }
}

void appendTextLiteral(std::string& out, std::string_view text) {
  out += '\'';
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
}

class PostgresEmitter final : public Emitter {
 public:
  explicit PostgresEmitter(const bound::Statement& statement) : Emitter(statement) {}

 private:
  // ---- Values without a type of their own ----

  // A literal, a named parameter or a typeless constant: the server gives it
  // the type of what it meets, or none.
  static bool isValue(const bound::Expr& e) {
    if (e.kind == K::Literal) return !static_cast<const bound::LiteralExpr&>(e).inlineValue;
    if (e.kind == K::Parameter) return true;
    return e.kind == K::Constant && (e.type == V::Null || e.type == V::Text);
  }

  // `e`, left for the server to type from what it is compared with when it
  // is a value and `other` is not.
  void operand(const bound::Expr& e, const bound::Expr& other, int required) {
    const bool wasBare = bare_;
    bare_ = isValue(e) && !isValue(other);
    expr(e, required);
    bare_ = wasBare;
  }

  void value(const bound::Expr& e, Binding::Source source, int index) override {
    slot(source, index);
    if (bare_) return;
    const char* type = nullptr;
    if (e.kind == K::Parameter) {
      const auto& declared = statement().parameters[static_cast<size_t>(index)].declaredType;
      if (declared) type = typeOf(*declared);
    } else {
      type = e.type == V::Text ? "citext" : e.type == V::Number ? "float8" : e.type == V::Date ? "timestamp" : nullptr;
    }
    if (type) {
      out_ += "::";
      out_ += type;
    }
  }

  static const char* typeOf(VarType t) {
    switch (t) {
      case VarType::Integer: return "int2";
      case VarType::Long: return "int4";
      case VarType::Double: return "float8";
      case VarType::Boolean: return "boolean";
      case VarType::Date: return "timestamp";
      case VarType::String: return "citext";
      default: return nullptr;
    }
  }

  // ---- Operands as the dialect reads them ----

  void cast(const bound::Expr& e, const char* type) {
    expr(e, kCast);
    out_ += "::";
    out_ += type;
  }

  // As a number: a date is its day count, a yes/no value the dialect's number.
  void number(const bound::Expr& e, int required = kAny) {
    switch (e.type) {
      case V::Number:
        if (e.kind == K::Parameter) return cast(e, "float8");
        return expr(e, required);
      case V::Boolean:
        out_ += "CASE WHEN ";
        condition(e);
        out_ += " THEN " + std::to_string(bound::kTrueNumber) + " ELSE " + std::to_string(bound::kFalseNumber) +
                " END";
        return;
      case V::Date:
        out_ += "(extract(epoch FROM ";
        expr(e, kAdditive + 1);
        out_ += std::string(" - ") + kDayZero + ")::float8 / 86400)";
        return;
      default: return cast(e, "float8");
    }
  }

  // A whole number (rounded half to even, as the dialect rounds).
  void whole(const bound::Expr& e) {
    out_ += "round(";
    number(e);
    out_ += "::float8)::int8";
  }

  // As text, as the dialect writes a value: a number in its shortest form, a
  // date as the files store it.
  void text(const bound::Expr& e) {
    switch (e.type) {
      case V::Text: return expr(e, kCast);
      case V::Number:
        out_ += '(';
        number(e, kCast);
        out_ += ")::float8::text";
        return;
      case V::Boolean:
        out_ += "CASE WHEN ";
        condition(e);
        out_ += " THEN '" + std::to_string(bound::kTrueNumber) + "' ELSE '" + std::to_string(bound::kFalseNumber) +
                "' END";
        return;
      case V::Date:
        out_ += "CASE WHEN (";
        expr(e);
        out_ += std::string(")::date = date '1899-12-30' THEN to_char(");
        expr(e);
        out_ += ", 'HH24:MI:SS') WHEN (";
        expr(e);
        out_ += ")::time = time '00:00' THEN to_char(";
        expr(e);
        out_ += ", 'YYYY-MM-DD') ELSE to_char(";
        expr(e);
        out_ += ", 'YYYY-MM-DD HH24:MI:SS') END";
        return;
      default: return cast(e, "text");
    }
  }

  // As a timestamp: a number is a day count since day zero.
  void date(const bound::Expr& e) {
    switch (e.type) {
      case V::Date:
        if (e.kind == K::Parameter) return cast(e, "timestamp");
        return expr(e, kCast);
      case V::Number:
      case V::Boolean:
        out_ += std::string("(") + kDayZero + " + ";
        number(e, kMultiplicative + 1);
        out_ += " * interval '1 day')";
        return;
      default: return cast(e, "timestamp");
    }
  }

  // A condition: a number is true when it is not zero.
  void condition(const bound::Expr& e, int required = kAny) {
    if (e.type == V::Boolean) return expr(e, required);
    if (e.type == V::Null) {
      out_ += "NULL::boolean";
      return;
    }
    out_ += '(';
    number(e, kComparison + 1);
    out_ += " <> 0)";
  }

  // ---- Target spellings ----

  void placeholder(int n) override {
    out_ += '$';
    out_ += std::to_string(n);
  }

  void rowid(const bound::Source& source) override {
    quoted(source.sqlAlias);
    out_ += ".ctid";
  }

  // The server groups only by what it can tell rows apart by: the row's
  // identity, and every field of the row so that any of them may be shown.
  void rowGroupKey(const bound::Source& source) override {
    rowid(source);
    for (const ColumnInfo& c : source.columns) {
      out_ += ", ";
      quoted(source.sqlAlias);
      out_ += '.';
      quoted(c.name);
    }
  }

  // A yes/no value: a boolean of the server (a yes/no field is a boolean
  // column), or a number where any non-zero is Yes. Always in parentheses.
  void truth(const bound::TruthExpr& e) override {
    const bound::Expr& x = *e.operand;
    out_ += '(';
    switch (e.use) {
      case bound::TruthUse::Number:
        if (x.kind == K::Constant) {
          const bool yes = static_cast<const bound::ConstantExpr&>(x).value == bound::ConstantValue::True;
          out_ += std::to_string(yes ? bound::kTrueNumber : bound::kFalseNumber);
        } else {
          out_ += "-(";  // Yes is -1, Null stays Null
          condition(x);
          out_ += ")::int";
        }
        break;
      case bound::TruthUse::Stored:
      case bound::TruthUse::IsYes: condition(x); break;
      case bound::TruthUse::IsNo:
        out_ += "NOT ";
        condition(x, kNot);
        break;
    }
    out_ += ')';
  }

  // TOP's row count or percentage: a whole number, in parentheses.
  void topCount(const bound::Expr& count) override {
    out_ += '(';
    whole(count);
    out_ += ')';
  }

  // The server sorts Null after every value unless told otherwise.
  void sortOrder(bool descending) override { out_ += descending ? " DESC NULLS LAST" : " NULLS FIRST"; }

  void constant(bound::ConstantValue value) override {
    switch (value) {
      case bound::ConstantValue::True: out_ += "true"; return;
      case bound::ConstantValue::False: out_ += "false"; return;
      case bound::ConstantValue::Null: out_ += "NULL"; return;
      case bound::ConstantValue::EmptyText: out_ += "''"; return;
    }
  }

  void inlineLiteral(const Variant& v) override {
    switch (v.type()) {
      case VarType::String: appendTextLiteral(out_, *v.get<std::string>()); break;
      case VarType::Date: {
        const DateTime::Parts p = v.get<DateTime>()->parts();
        char buf[48];
        std::snprintf(buf, sizeof buf, "timestamp '%04d-%02d-%02d %02d:%02d:%02d'", p.year, p.month, p.day, p.hour,
                      p.minute, p.second);
        out_ += buf;
        break;
      }
      case VarType::Double: out_ += formatDouble(*v.get<double>()); break;
      default: out_ += v.toString(); break;
    }
  }

  void noCase(const bound::Expr& operand) override {
    expr(operand, kCast);
    out_ += "::citext";
  }

  void binary(const bound::BinaryExpr& e) override {
    const int strength = bindingOf(e);
    if (isComparison(e.op)) return comparison(e);
    switch (e.op) {
      case B::Or:
      case B::And:
        condition(*e.left, strength);
        out_ += infixOf(e.op);
        condition(*e.right, strength + 1);
        return;
      case B::Add:
      case B::Subtract:
      case B::Multiply:
        number(*e.left, strength);
        out_ += infixOf(e.op);
        number(*e.right, strength + 1);
        return;
      case B::RealDivide:
        out_ += '(';
        number(*e.left, kCast);
        out_ += ")::float8 / ";
        number(*e.right, strength + 1);
        return;
      case B::TextConcat:
        text(*e.left);
        out_ += " || ";
        text(*e.right);
        return;
      case B::Concat:
        // Null only when both are; otherwise a Null side is empty text.
        out_ += "CASE WHEN ";
        expr(*e.left, kIs + 1);
        out_ += " IS NULL AND ";
        expr(*e.right, kIs + 1);
        out_ += " IS NULL THEN NULL ELSE concat(";
        text(*e.left);
        out_ += ", ";
        text(*e.right);
        out_ += ") END";
        return;
      case B::AddAny: return addAny(e, false);
      case B::SubtractAny: return addAny(e, true);
      case B::IntDivide:
        out_ += '(';
        whole(*e.left);
        out_ += " / ";
        whole(*e.right);
        out_ += ')';
        return;
      case B::Mod:
        out_ += "mod(";
        whole(*e.left);
        out_ += ", ";
        whole(*e.right);
        out_ += ')';
        return;
      case B::Power:
        out_ += "power(";
        number(*e.left);
        out_ += "::float8, ";
        number(*e.right);
        out_ += "::float8)";
        return;
      case B::Like: return like(*e.left, *e.right);
      default: return;
    }
  }

  // Two values compared. Values of different kinds meet as the dialect
  // compares them: a yes/no value or a date with a number as numbers, a
  // number or a date with text as text or a date.
  void comparison(const bound::BinaryExpr& e) {
    const bound::Expr& l = *e.left;
    const bound::Expr& r = *e.right;
    const int strength = kComparison + 1;
    auto side = [&](const bound::Expr& x, const bound::Expr& other) {
      const bool known = !isValue(x) && !isValue(other);
      const bool numbers = (x.type == V::Number || x.type == V::Boolean || x.type == V::Date) &&
                           (other.type == V::Number || other.type == V::Boolean || other.type == V::Date);
      if (known && numbers && x.type != other.type) return number(x, strength);
      if (known && x.type == V::Number && other.type == V::Text) return text(x);
      if (known && x.type == V::Text && other.type == V::Date) return date(x);
      if (e.collateNoCase) {
        const bool wasBare = bare_;
        bare_ = isValue(x) && !isValue(other);
        noCase(x);
        bare_ = wasBare;
        return;
      }
      operand(x, other, strength);
    };
    side(l, r);
    out_ += infixOf(e.op);
    side(r, l);
  }

  // + or - decided by the kinds of the operands, as far as they are known:
  // a date moves by days, two dates give the days between them, text joins.
  void addAny(const bound::BinaryExpr& e, bool subtract) {
    const bound::Expr& l = *e.left;
    const bound::Expr& r = *e.right;
    if (subtract && l.type == V::Date && r.type == V::Date) {
      out_ += "(extract(epoch FROM ";
      date(l);
      out_ += " - ";
      date(r);
      out_ += ")::float8 / 86400)";
      return;
    }
    if (l.type == V::Date || (!subtract && r.type == V::Date)) {
      const bool dateLeft = l.type == V::Date;
      out_ += '(';
      date(dateLeft ? l : r);
      out_ += subtract ? " - " : " + ";
      number(dateLeft ? r : l, kMultiplicative + 1);
      out_ += " * interval '1 day')";
      return;
    }
    if (!subtract && (l.type == V::Text || r.type == V::Text)) {
      text(l);
      out_ += " || ";
      text(r);
      return;
    }
    number(l, kAdditive);
    out_ += subtract ? " - " : " + ";
    number(r, kAdditive + 1);
  }

  // Like with the dialect's pattern: * any text, ? one character, # one
  // digit, [a-z] and [!a-z] a set; without regard to case. The pattern is
  // turned into a regular expression on the server, once per statement when
  // it does not depend on the row.
  void like(const bound::Expr& value, const bound::Expr& pattern) {
    out_ += '(';
    text(value);
    out_ += " ~* (SELECT '^' || coalesce(string_agg(CASE "
            "WHEN m.t[1] = '*' THEN '.*' WHEN m.t[1] = '?' THEN '.' WHEN m.t[1] = '#' THEN '[0-9]' "
            "WHEN length(m.t[1]) > 1 AND substr(m.t[1], 2, 1) = '!' THEN "
            "'[^' || regexp_replace(substr(m.t[1], 3, length(m.t[1]) - 3), '([\\\\^[])', '\\\\\\1', 'g') || ']' "
            "WHEN length(m.t[1]) > 1 THEN "
            "'[' || regexp_replace(substr(m.t[1], 2, length(m.t[1]) - 2), '([\\\\^[])', '\\\\\\1', 'g') || ']' "
            "ELSE regexp_replace(m.t[1], '([.^$*+?()\\[\\]{}|\\\\])', '\\\\\\1') END, '' ORDER BY m.n), "
            "CASE WHEN ";
    text(pattern);
    out_ += " IS NOT NULL THEN '' END) || '$' FROM regexp_matches(";
    text(pattern);
    out_ += ", '\\[!?[^]]+\\]|.', 'g') WITH ORDINALITY AS m(t, n)))";
  }

  // ---- Functions ----

  void args(const bound::CallExpr& e, size_t from = 0) {
    for (size_t i = from; i < e.args.size(); ++i) {
      if (i > from) out_ += ", ";
      expr(*e.args[i]);
    }
  }

  void fn(const char* name, const bound::Expr& arg, void (PostgresEmitter::*as)(const bound::Expr&)) {
    out_ += name;
    out_ += '(';
    (this->*as)(arg);
    out_ += ')';
  }
  void numberArg(const bound::Expr& e) { number(e); }
  void textArg(const bound::Expr& e) { text(e); }

  // The interval name of DateDiff, DateAdd and DatePart, compared without regard to case.
  void intervalCase(const bound::Expr& interval) {
    out_ += "CASE lower(";
    text(interval);
    out_ += ")";
  }
  // What an interval name that is none gives: a failure naming it.
  void badInterval(const char* function, const bound::Expr& interval) {
    out_ += std::string(" ELSE ('") + function + ": not a date interval: ' || ";
    text(interval);
    out_ += ")::int8 END";
  }

  // Day number of the first day of `d`'s week, the week starting on `firstDay` (1 Sunday .. 7).
  void weekStart(const bound::Expr& d, const bound::CallExpr& e, size_t firstDayArg) {
    out_ += '(';
    date(d);
    out_ += "::date - ((extract(dow FROM ";
    date(d);
    out_ += ")::int + 8 - ";
    firstDay(e, firstDayArg);
    out_ += ") % 7))";
  }
  void firstDay(const bound::CallExpr& e, size_t index) {
    if (e.args.size() <= index) {
      out_ += '1';
      return;
    }
    out_ += "coalesce(CASE WHEN ";
    whole(*e.args[index]);
    out_ += " BETWEEN 1 AND 7 THEN ";
    whole(*e.args[index]);
    out_ += "::int END, 1)";
  }
  void weekday(const bound::Expr& d, const bound::CallExpr& e, size_t firstDayArg) {
    out_ += "((extract(dow FROM ";
    date(d);
    out_ += ")::int + 8 - ";
    firstDay(e, firstDayArg);
    out_ += ") % 7 + 1)";
  }

  void dateDiff(const bound::CallExpr& e) {
    const bound::Expr& a = *e.args[1];
    const bound::Expr& b = *e.args[2];
    auto field = [&](const char* name, const bound::Expr& d) {
      out_ += std::string("extract(") + name + " FROM ";
      date(d);
      out_ += ')';
    };
    auto days = [&] {
      out_ += '(';
      date(b);
      out_ += "::date - ";
      date(a);
      out_ += "::date)";
    };
    auto boundaries = [&](int seconds) {
      out_ += "floor(extract(epoch FROM ";
      date(b);
      out_ += ") / " + std::to_string(seconds) + ") - floor(extract(epoch FROM ";
      date(a);
      out_ += ") / " + std::to_string(seconds) + ")";
    };
    out_ += '(';
    intervalCase(*e.args[0]);
    out_ += " WHEN 'd' THEN ";
    days();
    out_ += " WHEN 'y' THEN ";
    days();
    out_ += " WHEN 'yyyy' THEN ";
    field("year", b);
    out_ += " - ";
    field("year", a);
    out_ += " WHEN 'q' THEN (";
    field("year", b);
    out_ += " * 4 + div(";
    field("month", b);
    out_ += " - 1, 3)) - (";
    field("year", a);
    out_ += " * 4 + div(";
    field("month", a);
    out_ += " - 1, 3))";
    out_ += " WHEN 'm' THEN (";
    field("year", b);
    out_ += " * 12 + ";
    field("month", b);
    out_ += ") - (";
    field("year", a);
    out_ += " * 12 + ";
    field("month", a);
    out_ += ")";
    out_ += " WHEN 'w' THEN trunc(";
    days();
    out_ += " / 7.0)";
    out_ += " WHEN 'ww' THEN (";
    weekStart(b, e, 3);
    out_ += " - ";
    weekStart(a, e, 3);
    out_ += ") / 7";
    out_ += " WHEN 'h' THEN ";
    boundaries(3600);
    out_ += " WHEN 'n' THEN ";
    boundaries(60);
    out_ += " WHEN 's' THEN round(extract(epoch FROM ";
    date(b);
    out_ += ")) - round(extract(epoch FROM ";
    date(a);
    out_ += "))";
    badInterval("DateDiff", *e.args[0]);
    out_ += ")::int8";
  }

  void dateAdd(const bound::CallExpr& e) {
    const bound::Expr& d = *e.args[2];
    auto add = [&](const char* unit, const char* factor) {
      out_ += '(';
      date(d);
      out_ += " + ";
      whole(*e.args[1]);
      out_ += std::string(" * ") + factor + " * interval '1 " + unit + "')";
    };
    out_ += '(';
    intervalCase(*e.args[0]);
    out_ += " WHEN 'd' THEN ";
    add("day", "1");
    out_ += " WHEN 'y' THEN ";
    add("day", "1");
    out_ += " WHEN 'w' THEN ";
    add("day", "1");
    out_ += " WHEN 'ww' THEN ";
    add("day", "7");
    out_ += " WHEN 'm' THEN ";
    add("month", "1");
    out_ += " WHEN 'q' THEN ";
    add("month", "3");
    out_ += " WHEN 'yyyy' THEN ";
    add("month", "12");
    out_ += " WHEN 'h' THEN ";
    add("hour", "1");
    out_ += " WHEN 'n' THEN ";
    add("minute", "1");
    out_ += " WHEN 's' THEN ";
    add("second", "1");
    out_ += " ELSE (('DateAdd: not a date interval: ' || ";
    text(*e.args[0]);
    out_ += ")::int8 * interval '1 day' + " + std::string(kDayZero) + ") END)";
  }

  void datePart(const bound::CallExpr& e) {
    const bound::Expr& d = *e.args[1];
    auto field = [&](const char* name) {
      out_ += std::string("extract(") + name + " FROM ";
      date(d);
      out_ += ')';
    };
    out_ += '(';
    intervalCase(*e.args[0]);
    out_ += " WHEN 'yyyy' THEN ";
    field("year");
    out_ += " WHEN 'q' THEN ";
    field("quarter");
    out_ += " WHEN 'm' THEN ";
    field("month");
    out_ += " WHEN 'y' THEN ";
    field("doy");
    out_ += " WHEN 'd' THEN ";
    field("day");
    out_ += " WHEN 'w' THEN ";
    weekday(d, e, 2);
    out_ += " WHEN 'ww' THEN (";
    weekStart(d, e, 2);
    out_ += " - (date_trunc('year', ";
    date(d);
    out_ += ")::date - ((extract(dow FROM date_trunc('year', ";
    date(d);
    out_ += "))::int + 8 - ";
    firstDay(e, 2);
    out_ += ") % 7))) / 7 + 1 WHEN 'h' THEN ";
    field("hour");
    out_ += " WHEN 'n' THEN ";
    field("minute");
    out_ += " WHEN 's' THEN floor(";
    field("second");
    out_ += ')';
    badInterval("DatePart", *e.args[0]);
    out_ += ")::int8";
  }

  void dateSerial(const bound::CallExpr& e) {
    // A year of 0 to 99 is a two-digit year: 30 to 99 in the 1900s.
    out_ += "(make_timestamp((CASE WHEN ";
    whole(*e.args[0]);
    out_ += " BETWEEN 0 AND 29 THEN 2000 + ";
    whole(*e.args[0]);
    out_ += " WHEN ";
    whole(*e.args[0]);
    out_ += " BETWEEN 30 AND 99 THEN 1900 + ";
    whole(*e.args[0]);
    out_ += " ELSE ";
    whole(*e.args[0]);
    out_ += " END)::int, 1, 1, 0, 0, 0) + (";
    whole(*e.args[1]);
    out_ += " - 1) * interval '1 month' + (";
    whole(*e.args[2]);
    out_ += " - 1) * interval '1 day')";
  }

  void call(const bound::CallExpr& e) override {
    using F = Function;
    const bound::Expr* a0 = e.args.empty() ? nullptr : e.args[0].get();
    switch (e.function) {
      case F::IIf:
      case F::IsNull: return;  // written as expressions by the binder
      case F::Nz: return nz(e);
      case F::Count:
        out_ += "count(";
        if (e.star) {
          out_ += '*';
        } else {
          args(e);
        }
        out_ += ')';
        return;
      case F::Sum: return fn("sum", *a0, &PostgresEmitter::numberArg);
      case F::Avg: return fn("avg", *a0, &PostgresEmitter::numberArg);
      case F::Min:
      case F::Max: {
        const char* name = e.function == F::Min ? "min(" : "max(";
        out_ += name;
        if (a0->type == V::Boolean) {
          number(*a0);
        } else {
          expr(*a0);
        }
        out_ += ')';
        return;
      }
      case F::First:
        out_ += "(array_agg(";
        expr(*a0);
        out_ += "))[1]";
        return;
      case F::Last:
        out_ += "(array_agg(";
        expr(*a0);
        out_ += "))[count(*)]";
        return;
      case F::Date: return clock(ClockValue::Date);
      case F::Time: return clock(ClockValue::Time);
      case F::Now: return clock(ClockValue::Now);
      case F::DateDiff: return dateDiff(e);
      case F::DateAdd: return dateAdd(e);
      case F::DatePart: return datePart(e);
      case F::DateSerial: return dateSerial(e);
      case F::TimeSerial:
        out_ += std::string("(") + kDayZero + " + ";
        whole(*e.args[0]);
        out_ += " * interval '1 hour' + ";
        whole(*e.args[1]);
        out_ += " * interval '1 minute' + ";
        whole(*e.args[2]);
        out_ += " * interval '1 second')";
        return;
      case F::DateValue:
        out_ += "date_trunc('day', ";
        date(*a0);
        out_ += ')';
        return;
      case F::TimeValue:
        out_ += std::string("(") + kDayZero + " + ";
        date(*a0);
        out_ += "::time)";
        return;
      case F::Year: return datePiece("year", *a0);
      case F::Month: return datePiece("month", *a0);
      case F::Day: return datePiece("day", *a0);
      case F::Hour: return datePiece("hour", *a0);
      case F::Minute: return datePiece("minute", *a0);
      case F::Second: return datePiece("second", *a0);
      case F::Weekday: return weekday(*a0, e, 1);
      case F::Len: return fn("length", *a0, &PostgresEmitter::textArg);
      case F::Left:
      case F::Right:
        out_ += e.function == F::Left ? "left(" : "right(";
        text(*a0);
        out_ += ", ";
        whole(*e.args[1]);
        out_ += "::int)";
        return;
      case F::Mid:
        out_ += "substr(";
        text(*a0);
        out_ += ", ";
        whole(*e.args[1]);
        out_ += "::int";
        if (e.args.size() > 2) {
          out_ += ", ";
          whole(*e.args[2]);
          out_ += "::int";
        }
        out_ += ')';
        return;
      case F::UCase: return fn("upper", *a0, &PostgresEmitter::textArg);
      case F::LCase: return fn("lower", *a0, &PostgresEmitter::textArg);
      case F::Trim: return trim("btrim", *a0);
      case F::LTrim: return trim("ltrim", *a0);
      case F::RTrim: return trim("rtrim", *a0);
      case F::InStr: return inStr(e);
      case F::String:
        out_ += "repeat(";
        if (e.args[1]->type == V::Number) {
          out_ += "chr(";
          whole(*e.args[1]);
          out_ += "::int)";
        } else {
          out_ += "left(";
          text(*e.args[1]);
          out_ += ", 1)";
        }
        out_ += ", ";
        whole(*a0);
        out_ += "::int)";
        return;
      case F::Replace:
        out_ += "replace(";
        text(*a0);
        out_ += ", ";
        text(*e.args[1]);
        out_ += ", ";
        text(*e.args[2]);
        out_ += ')';
        return;
      case F::Space:
        out_ += "repeat(' ', ";
        whole(*a0);
        out_ += "::int)";
        return;
      case F::Abs: return fn("abs", *a0, &PostgresEmitter::numberArg);
      case F::Int: return fn("floor", *a0, &PostgresEmitter::numberArg);
      case F::Fix: return fn("trunc", *a0, &PostgresEmitter::numberArg);
      case F::Sgn:
        out_ += "sign(";
        number(*a0);
        out_ += "::float8)::int";
        return;
      case F::Round:
        out_ += "(round(";
        number(*a0, kMultiplicative);
        out_ += "::float8";
        if (e.args.size() > 1) {
          out_ += " * power(10::float8, ";
          whole(*e.args[1]);
          out_ += ")) / power(10::float8, ";
          whole(*e.args[1]);
          out_ += "))";
        } else {
          out_ += "))";
        }
        return;
      case F::Sqr:
        out_ += "sqrt(";
        number(*a0);
        out_ += "::float8)";
        return;
      case F::Val:
        out_ += "coalesce(translate(substring(regexp_replace(";
        text(*a0);
        out_ += ", '\\s', '', 'g') FROM '^[+-]?(?:[0-9]+\\.?[0-9]*|\\.[0-9]+)(?:[eEdD][+-]?[0-9]+)?'), 'dD', "
                "'eE')::float8, 0)";
        return;
      case F::CStr: return text(*a0);
      case F::CInt:
        whole(*a0);
        out_ += "::int2";
        return;
      case F::CLng:
        whole(*a0);
        out_ += "::int4";
        return;
      case F::CDbl:
      case F::CSng:
      case F::CCur:
        out_ += '(';
        number(*a0, kCast);
        out_ += ")::float8";
        return;
      case F::CDate:
      case F::CVDate: return date(*a0);
      case F::CBool:
        if (a0->type == V::Text) {
          out_ += "CASE lower(";
          expr(*a0);
          out_ += ") WHEN 'true' THEN true WHEN 'yes' THEN true WHEN 'false' THEN false WHEN 'no' THEN false "
                  "ELSE (";
          expr(*a0, kCast);
          out_ += ")::float8 <> 0 END";
          return;
        }
        return condition(*a0);
      case F::StrComp: return strComp(e);
    }
  }

  void clock(ClockValue which) {
    slot(Binding::Source::Clock, static_cast<int>(which));
    out_ += "::timestamp";
  }

  void datePiece(const char* field, const bound::Expr& d) {
    out_ += std::string("floor(extract(") + field + " FROM ";
    date(d);
    out_ += "))::int";
  }

  void trim(const char* name, const bound::Expr& s) {
    out_ += name;
    out_ += '(';
    text(s);
    out_ += ", ' ')";
  }

  // Nz(x, default): a Null reads as the default; without one (made "" by the
  // binder) as 0 for a number and "" otherwise.
  void nz(const bound::CallExpr& e) {
    const bound::Expr& x = *e.args[0];
    const bound::Expr& otherwise = *e.args[1];
    out_ += "coalesce(";
    const bool emptyDefault = otherwise.kind == K::Constant && otherwise.type == V::Text;
    if (emptyDefault && (x.type == V::Number || x.type == V::Boolean)) {
      number(x);
      out_ += ", 0)";
      return;
    }
    const bool sameKind = x.type == otherwise.type || isValue(otherwise) || isValue(x);
    if (sameKind && x.type != V::Date) {
      operand(x, otherwise, kAny);
      out_ += ", ";
      operand(otherwise, x, kAny);
    } else {
      text(x);
      out_ += ", ";
      text(otherwise);
    }
    out_ += ')';
  }

  // InStr([start,] text, sought[, compare]): the position of sought, 0 when
  // absent; without regard to case unless compare is 0.
  void inStr(const bound::CallExpr& e) {
    const bool withStart = e.args.size() >= 3;
    const size_t first = withStart ? 1 : 0;
    const bound::Expr& hay = *e.args[first];
    const bound::Expr& sought = *e.args[first + 1];
    auto search = [&](bool fold) {
      const char* open = fold ? "lower(" : "(";
      out_ += "strpos(";
      if (withStart) out_ += "substr(";
      out_ += open;
      text(hay);
      out_ += ')';
      if (withStart) {
        out_ += ", ";
        whole(*e.args[0]);
        out_ += "::int)";
      }
      out_ += ", ";
      out_ += open;
      text(sought);
      out_ += "))";
    };
    auto found = [&](bool fold) {
      if (!withStart) return search(fold);
      out_ += "CASE WHEN ";
      whole(*e.args[0]);
      out_ += " - 1 > length(";
      text(hay);
      out_ += ") THEN 0 WHEN ";
      search(fold);
      out_ += " = 0 THEN 0 ELSE ";
      search(fold);
      out_ += " + ";
      whole(*e.args[0]);
      out_ += "::int - 1 END";
    };
    if (e.args.size() == 4) {
      out_ += "CASE WHEN ";
      whole(*e.args[3]);
      out_ += " = 0 THEN ";
      found(false);
      out_ += " ELSE ";
      found(true);
      out_ += " END";
      return;
    }
    found(true);
  }

  void strComp(const bound::CallExpr& e) {
    auto compare = [&](bool fold) {
      auto side = [&](const bound::Expr& x) {
        out_ += fold ? "lower(" : "(";
        text(x);
        out_ += ")::text COLLATE \"C\"";
      };
      out_ += "CASE WHEN ";
      side(*e.args[0]);
      out_ += " < ";
      side(*e.args[1]);
      out_ += " THEN -1 WHEN ";
      side(*e.args[0]);
      out_ += " > ";
      side(*e.args[1]);
      out_ += " THEN 1 WHEN ";
      side(*e.args[0]);
      out_ += " = ";
      side(*e.args[1]);
      out_ += " THEN 0 END";
    };
    if (e.args.size() == 3) {
      out_ += "CASE WHEN ";
      whole(*e.args[2]);
      out_ += " = 0 THEN ";
      compare(false);
      out_ += " ELSE ";
      compare(true);
      out_ += " END";
      return;
    }
    compare(true);
  }

  int bindingOf(const bound::Expr& e) const override {
    switch (e.kind) {
      case K::Unary: return static_cast<const bound::UnaryExpr&>(e).op == bound::UnaryOp::Not ? kNot : kUnary;
      case K::IsNull: return kIs;
      case K::Between:
      case K::InList:
      case K::InSelect: return kRange;
      case K::Literal:
      case K::Parameter: return kCast;  // a placeholder with its type
      case K::Binary: {
        const auto& b = static_cast<const bound::BinaryExpr&>(e);
        if (isComparison(b.op)) return kComparison;
        switch (b.op) {
          case B::Or: return kOr;
          case B::And: return kAnd;
          case B::Add:
          case B::Subtract: return kAdditive;
          case B::AddAny:
          case B::SubtractAny:
            // A date moved by days is in parentheses; text joined is an operator.
            return (b.left->type == V::Text || b.right->type == V::Text) ? kOperator : kAdditive;
          case B::Multiply:
          case B::RealDivide: return kMultiplicative;
          case B::TextConcat: return kOperator;
          default: return kAtom;
        }
      }
      default: return kAtom;
    }
  }

  bool bare_ = false;  // the value being written is left for the server to type
};

}  // namespace

Translation emitPostgres(const bound::Statement& statement) { return PostgresEmitter(statement).run(); }

}  // namespace oskara::db::sql
