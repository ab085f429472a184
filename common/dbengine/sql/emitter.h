// Stage 4 of the translator: writes a bound statement as the SQL of a target.
// Emitter writes what every target's SQL has in common and numbers the
// statement's parameters; a target's emitter (sqlite_emitter.h) derives from
// it and spells the pieces that differ. Neither decides what the statement
// means: the bound tree says it.
//
//  - Each source is aliased to the name the statement uses for it, so that
//    qualified references keep working; a link reads "schema"."table" AS "link".
//  - Literals become parameters of the SQL text (written inline only for the
//    literals of a stored query read in a FROM clause), named parameters too;
//    the same literal or parameter gets the same number each time it is used.
//  - An updatable SELECT adds its row identity after the visible columns;
//    DISTINCTROW groups by the keys the binder chose; UPDATE and DELETE over
//    a join pick the target's rows through a subquery.
//  - A key of ORDER BY or GROUP BY made of constants alone is written so that
//    no target reads it as the number of a result column.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dbengine/sql/bound.h"
#include "dbengine/sql/translation.h"

namespace oskara::db::sql {

// The result column holding the row identity of an updatable SELECT; it
// comes after the visible columns.
inline constexpr const char* kRowidColumn = "osk_rowid";

// The columns of a select written for a target's form of TOP with ties
// (Emitter::selectCore with rankedColumns): osk_c0, osk_c1, ... for its
// result columns and osk_k0, osk_k1, ... for its ORDER BY keys.
std::string rankedItemColumn(size_t i);
std::string rankedKeyColumn(size_t i);

class Emitter {
 public:
  virtual ~Emitter() = default;
  Emitter(const Emitter&) = delete;
  Emitter& operator=(const Emitter&) = delete;

  Translation run();

 protected:
  explicit Emitter(const bound::Statement& statement) : statement_(statement) {}

  // Binding strengths: a place that needs no parentheses (an argument, a
  // whole clause) requires kAny; a target's levels are greater.
  static constexpr int kAny = 0;

  // ---- What a target spells its own way ----

  // The parameter numbered n (from 1) of the SQL text.
  virtual void placeholder(int n) = 0;
  // What identifies a row of a table source.
  virtual void rowid(const bound::Source& source) = 0;
  virtual void constant(bound::ConstantValue value) = 0;
  // A literal of a stored query, written into the text.
  virtual void inlineLiteral(const Variant& value) = 0;
  // An operator with its operands, and a function call with its arguments.
  virtual void binary(const bound::BinaryExpr& e) = 0;
  virtual void call(const bound::CallExpr& e) = 0;
  // A yes/no value as a number, as stored, or tested.
  virtual void truth(const bound::TruthExpr& e) = 0;
  // TOP's row count or percentage, as an operand of `*` and `<=`.
  virtual void topCount(const bound::Expr& count) = 0;
  // An operand compared without regard to case.
  virtual void noCase(const bound::Expr& operand) = 0;
  // A literal or named parameter bound as the parameter `index` of `source`
  // (`e` says what it is): its placeholder, or the target's typed form.
  virtual void value(const bound::Expr& e, Binding::Source source, int index);
  // DISTINCTROW's grouping by the rows of a table source.
  virtual void rowGroupKey(const bound::Source& source);
  // The direction of an ORDER BY key; Null sorts before every value.
  virtual void sortOrder(bool descending);
  // Whether a grouped select with one MAX() aggregate takes its other
  // columns from the row that holds the maximum; an UPDATE over a join then
  // chooses each target row's join row by it instead of ranking them.
  virtual bool maxPicksItsRow() const { return false; }
  // How strongly an expression binds in the target's grammar: its operands
  // need at least as much (on the left of an operator) or more (on the right,
  // and for the operand of Is Null, Between and In), else parentheses.
  virtual int bindingOf(const bound::Expr& e) const = 0;
  // A field of a table or link as a statement reads it; by default the
  // field itself. A target whose store can hold what the field's type does
  // not checks the value here.
  virtual void storedField(const bound::ColumnExpr& c);
  // The value `write` emits, as it is written into `column` of `table`; by
  // default unchanged. A target whose store does not keep a value within its
  // declared type converts and checks it here.
  virtual bool checksWrites(const TableInfo& table, std::string_view column) const;
  virtual void valueForField(const TableInfo& table, std::string_view column, const std::function<void()>& write);

  // ---- For the target's spellings ----

  // In parentheses when it binds less than `required`.
  void expr(const bound::Expr& e, int required = kAny);
  // In the target's case-insensitive form when `noCase`.
  void collated(const bound::Expr& e, bool noCase, int required);
  void quoted(std::string_view name);  // an identifier in double quotes
  void column(const bound::Source& s, std::string_view name);
  // The parameter that gets its value from `source`: numbered at its first
  // use, the same number each time after.
  void slot(Binding::Source source, int index);
  const bound::Statement& statement() const { return statement_; }
  // SELECT ... FROM ... WHERE ... GROUP BY ... HAVING ..., without ORDER BY
  // and TOP; with `rankedColumns` its result columns are named by
  // rankedItemColumn and its ORDER BY keys follow them, named by rankedKeyColumn.
  void selectCore(const bound::Select& s, bool withRowid, bool rankedColumns);
  // A select with TOP n and ORDER BY (every row tied with the last one
  // belongs to the result) or TOP n PERCENT: the select with its ORDER BY
  // keys as columns, ranked by them with a window function, cut at the rank
  // of the last row wanted.
  void topWithTies(const bound::Select& s, bool withRowid);

  std::string out_;

 private:
  void select(const bound::Select& s, bool withRowid);
  void key(const bound::Expr& e, bool noCase);
  void fromClause(const bound::FromClause& from);
  void fromItem(const bound::FromItem& item, bool nested);
  void source(const bound::Source& s);
  void table(const TableInfo& t);
  void insert(const bound::Insert& in);
  void update(const bound::Update& up);
  void remove(const bound::Delete& del);
  void term(const bound::Expr& e);

  const bound::Statement& statement_;
  std::vector<Binding> bindings_;
  std::unordered_map<int, int> literalSlots_;    // literal index -> number of its parameter
  std::unordered_map<int, int> parameterSlots_;  // parameter index -> number of its parameter
  std::unordered_map<int, int> clockSlots_;      // ClockValue -> number of its parameter
};

}  // namespace oskara::db::sql
