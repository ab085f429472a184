// What the binder's files share: the Binder, the state of one statement's
// binding, the scopes names resolve in, and small rules about value types.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/text.h"
#include "core/variant.h"
#include "dbengine/sql/ast.h"
#include "dbengine/sql/bound.h"
#include "dbengine/sql/catalog.h"
#include "dbengine/sql/errors.h"

namespace oskara::db::sql::binding {

using bound::ValueType;

// Names of tables, fields, queries and parameters match without regard to case.
inline bool sameName(std::string_view a, std::string_view b) { return equalsIgnoreCase(a, b); }

inline bool numeric(ValueType t) { return t == ValueType::Number || t == ValueType::Boolean; }

inline bool isColumn(const bound::Expr& e) { return e.kind == bound::ExprKind::Column; }

// Whether a value may be text: numbers, yes/no values and dates (ISO text
// of digits) compare the same with or without regard to case.
inline bool mayBeText(ValueType t) { return t == ValueType::Text || t == ValueType::Unknown; }

// A field of a table, or one that a query shows from a table, carries its
// declared collation (text columns are declared NOCASE); an expression does not.
inline bool carriesCollation(const bound::Expr& e) {
  return isColumn(e) && (static_cast<const bound::ColumnExpr&>(e).source->table || e.type != ValueType::Unknown);
}

// Text compares without regard to case. A column of text carries that in its
// declared collation; anything else that may be text needs it said.
inline bool needsCollation(const bound::Expr& operand) {
  return !carriesCollation(operand) && mayBeText(operand.type);
}

// The same for a comparison of two values: unless one carries it, or neither may be text.
inline bool needsCollation(const bound::Expr& a, const bound::Expr& b) {
  return !carriesCollation(a) && !carriesCollation(b) && (mayBeText(a.type) || mayBeText(b.type));
}

// ---- A value of one kind used as another (bind_conversions.cpp) ----

// A yes/no value used as a number is -1 or 0; any other value is itself.
bound::ExprPtr asNumber(bound::ExprPtr e);
// A value written into a yes/no field: a yes/no value or a number as 1 or 0
// (any non-zero number is Yes); any other value as it is.
bound::ExprPtr asStored(bound::ExprPtr e);
// An operand of arithmetic: a date as its day count, a yes/no value as -1 or 0.
bound::ExprPtr asArithmetic(bound::ExprPtr e);
// A date used as a number: its day count since 30 December 1899.
bound::ExprPtr dayCount(bound::ExprPtr e);
// Values compared with each other, made comparable the dialect's way: a date
// with a number by day counts, a yes/no value with anything but another
// exact yes/no value as -1 or 0. `other` is the type of a value compared
// with them that is not among them (a subquery's), or Unknown.
void makeComparable(const std::vector<bound::ExprPtr*>& values, ValueType other = ValueType::Unknown);
// The test `x = True` or `x = False` (or <>) of a yes/no value x, or null
// when the comparison is not one.
bound::ExprPtr truthTest(bound::ExprPtr& a, bound::ExprPtr& b, bool equal);
// A value written into a field of declared type `declType`: into a yes/no
// field as it is stored (asStored), into any other as a number (asNumber).
bound::ExprPtr asWritten(bound::ExprPtr e, std::string_view declType);
// Text in a place where values are told apart (DISTINCT, GROUP BY, Min,
// Max), marked to be told apart without regard to case.
bound::ExprPtr caseless(bound::ExprPtr e);

const ColumnInfo* findColumn(const bound::Source& source, std::string_view name);
const bound::Source* findSource(const bound::FromClause& from, std::string_view exposedName);

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

  bound::Statement statement(const ast::Statement& statement);  // bind_statement.cpp
  void declare(const std::vector<ast::ParameterDecl>& decls);

  std::unique_ptr<bound::Select> select(const ast::Select& select, const Scope* parent);  // bind_select.cpp

 private:
  // Statements other than SELECT, one file each.
  std::unique_ptr<bound::Insert> insert(const ast::Insert& in);
  std::unique_ptr<bound::Update> update(const ast::Update& in);
  const bound::Source* updateTarget(const ast::NameExpr& target, const bound::FromClause& from, std::string& column);
  std::unique_ptr<bound::Delete> remove(const ast::Delete& in);

  // FROM clauses (bind_from.cpp).
  void fromClause(const std::vector<const ast::TableRef*>& refs, bound::FromClause& out, const Scope* parent);
  std::unique_ptr<bound::FromItem> fromItem(const ast::TableRef& ref, bound::FromClause& out,
                                            std::vector<std::pair<bound::FromItem*, const ast::Expr*>>& pendingOn);
  const bound::Source* addSource(std::unique_ptr<bound::Source> source, bound::FromClause& out, uint32_t offset);
  std::unique_ptr<bound::Select> storedQuery(const std::string& name, const std::string& text);

  // Select lists (bind_select.cpp).
  void expandStar(const ast::StarExpr& star, const bound::FromClause& from, bound::Select& out);
  static void qualifyRepeatedNames(bound::Select& out, const std::vector<bool>& namedByColumn);
  static void decideRowIdentity(const ast::Select& in, bound::Select& out, bool aggregate);

  // Expressions: the dispatch and the small kinds (bind_expression.cpp), then
  // one file per larger kind.
  bound::ExprPtr expr(const ast::Expr& e, const Scope& scope);
  bound::ExprPtr literal(const ast::LiteralExpr& e);
  bound::ExprPtr name(const ast::NameExpr& e, const Scope& scope);  // bind_name_expression.cpp
  bound::ExprPtr alias(const ast::NameExpr& e, const Scope& scope);
  bound::ExprPtr parameter(const std::string& name);
  bound::ExprPtr binary(const ast::BinaryExpr& e, const Scope& scope);  // bind_operator_expression.cpp
  bound::ExprPtr call(const ast::CallExpr& e, const Scope& scope);      // bind_function_expression.cpp

  [[noreturn]] void fail(int32_t number, const std::string& detail) const {
    throw syntaxError(number, detail, text_);
  }

  BindContext& ctx_;
  std::string_view text_;                        // the statement, for error texts
  const std::vector<Variant>* inlineLiterals_;   // a stored query's literals, written inline; else null
  std::vector<const ast::SelectItem*> aliasesInUse_;  // aliases being expanded, against circular ones
};

}  // namespace oskara::db::sql::binding
