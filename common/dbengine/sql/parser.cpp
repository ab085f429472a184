// The dialect's grammar, one function per rule below:
//
//   statement      := [PARAMETERS paramDecl {, paramDecl} ;]
//                     (select | insert | update | delete) [;]
//   paramDecl      := name typeName [( number )]
//   select         := SELECT [ALL | DISTINCT | DISTINCTROW] [TOP number [PERCENT]] selectItem {, selectItem}
//                     [FROM fromList] [WHERE expr] [GROUP BY expr {, expr}] [HAVING expr]
//                     [ORDER BY orderItem {, orderItem}]
//   selectItem     := * | name . * | expr [AS name]
//   orderItem      := expr [ASC | DESC]
//   fromList       := joinedTable {, joinedTable}
//   joinedTable    := tablePrimary {(INNER | LEFT [OUTER] | RIGHT [OUTER]) JOIN tablePrimary ON expr}
//   tablePrimary   := ( joinedTable ) | ( select ) [AS] name | name [[AS] name]
//   insert         := INSERT INTO name [( column {, column} )] (select | VALUES ( expr {, expr} ))
//   update         := UPDATE [DISTINCTROW] joinedTable SET assignment {, assignment} [WHERE expr]
//   assignment     := column = expr
//   delete         := DELETE [DISTINCTROW] [* | name . * {, name . *}] FROM fromList [WHERE expr]
//
//   expr           := orExpr
//   orExpr         := andExpr {OR andExpr}
//   andExpr        := notExpr {AND notExpr}
//   notExpr        := NOT notExpr | comparison
//   comparison     := concatenation {compareOp concatenation | IS [NOT] NULL
//                     | [NOT] BETWEEN concatenation AND concatenation
//                     | [NOT] IN ( select | expr {, expr} ) | [NOT] LIKE concatenation}
//   concatenation  := additive {& additive}
//   additive       := modulo {(+ | -) modulo}
//   modulo         := intDivision {MOD intDivision}
//   intDivision    := multiplicative {\ multiplicative}
//   multiplicative := unary {(* | /) unary}
//   unary          := - unary | + unary | power
//   power          := primary {^ exponent}
//   exponent       := - exponent | + exponent | primary
//   primary        := literal | TRUE | FALSE | NULL | EXISTS ( select ) | ( select ) | ( expr )
//                     | name [(. | !) name] | name ( [arg {, arg}] )
#include "dbengine/sql/parser.h"

#include <algorithm>
#include <string>

#include "dbengine/sql/classify.h"
#include "dbengine/sql/errors.h"
#include "dbengine/sql/tokenizer.h"
#include "dbengine/sql/walker.h"

namespace oskara::db::sql {
namespace {

using namespace ast;

// Bare names that are words of the grammar; as a table or field name they
// need brackets.
constexpr std::string_view kReservedWords[] = {
    "ALL",   "AND",     "AS",     "ASC",        "BETWEEN", "BY",     "DELETE", "DESC",
    "DISTINCT", "DISTINCTROW", "EXISTS", "FALSE", "FROM",  "GROUP",  "HAVING", "IN",
    "INNER", "INSERT",  "INTO",   "IS",         "JOIN",    "LEFT",   "LIKE",   "MOD",
    "NOT",   "NULL",    "ON",     "OR",         "ORDER",   "OUTER",  "PARAMETERS", "PERCENT",
    "RIGHT", "SELECT",  "SET",    "TOP",        "TRUE",    "UNION",  "UPDATE"};

bool isReserved(const Token& token) {
  if (token.kind != TokenKind::Name) return false;
  for (std::string_view word : kReservedWords) {
    if (isKeyword(token, word)) return true;
  }
  return isKeyword(token, "VALUES") || isKeyword(token, "WHERE");
}

struct ParameterType {
  std::string_view name;
  VarType type;
};

constexpr ParameterType kParameterTypes[] = {
    {"SHORT", VarType::Integer},    {"INTEGER", VarType::Integer},  {"SMALLINT", VarType::Integer},
    {"BYTE", VarType::Integer},     {"LONG", VarType::Long},        {"INT", VarType::Long},
    {"DOUBLE", VarType::Double},    {"SINGLE", VarType::Double},    {"CURRENCY", VarType::Double},
    {"FLOAT", VarType::Double},     {"REAL", VarType::Double},      {"TEXT", VarType::String},
    {"CHAR", VarType::String},      {"VARCHAR", VarType::String},   {"MEMO", VarType::String},
    {"LONGTEXT", VarType::String},  {"BIT", VarType::Boolean},      {"YESNO", VarType::Boolean},
    {"LOGICAL", VarType::Boolean},  {"BOOLEAN", VarType::Boolean},  {"DATETIME", VarType::Date},
    {"DATE", VarType::Date},
};

class Parser {
 public:
  Parser(std::string_view text, std::vector<Token> tokens) : text_(text), tokens_(std::move(tokens)) {}

  Statement statement();

 private:
  // Statements and clauses.
  void parametersDeclaration(Statement& statement);
  std::unique_ptr<Select> select();
  void selectItem(Select& select);
  std::vector<OrderItem> orderList();
  std::vector<TableRefPtr> fromList();
  TableRefPtr joinedTable();
  TableRefPtr tablePrimary();
  std::unique_ptr<Insert> insert();
  std::unique_ptr<Update> update();
  std::unique_ptr<Delete> remove();

  // Expressions, lowest precedence first.
  ExprPtr expression() {
    Nesting nesting(*this);
    return orExpr();
  }
  ExprPtr orExpr();
  ExprPtr andExpr();
  ExprPtr notExpr();
  ExprPtr comparison();
  ExprPtr concatenation();
  ExprPtr additive();
  ExprPtr modulo();
  ExprPtr intDivision();
  ExprPtr multiplicative();
  ExprPtr unary();
  ExprPtr power();
  ExprPtr exponent();
  ExprPtr primary();
  ExprPtr nameOrCall();
  std::vector<ExprPtr> expressionList();

  // Tokens.
  const Token& peek(size_t ahead = 0) const {
    size_t i = pos_ + ahead;
    return i < tokens_.size() ? tokens_[i] : tokens_.back();
  }
  const Token& advance() { return tokens_[pos_ < tokens_.size() - 1 ? pos_++ : pos_]; }
  bool is(TokenKind kind) const { return peek().kind == kind; }
  bool atKeyword(std::string_view word, size_t ahead = 0) const { return isKeyword(peek(ahead), word); }
  bool accept(TokenKind kind) {
    if (!is(kind)) return false;
    advance();
    return true;
  }
  bool acceptKeyword(std::string_view word) {
    if (!atKeyword(word)) return false;
    advance();
    return true;
  }
  void expect(TokenKind kind, const char* what, int32_t number) {
    if (!accept(kind)) fail(number, std::string("expected ") + what);
  }
  void expectKeyword(std::string_view word, int32_t number) {
    if (!acceptKeyword(word)) fail(number, "expected " + std::string(word));
  }
  bool atName(size_t ahead = 0) const {
    const Token& t = peek(ahead);
    return t.kind == TokenKind::QuotedName || (t.kind == TokenKind::Name && !isReserved(t));
  }
  std::string name(const char* what, int32_t number) {
    if (!atName()) fail(number, std::string("expected ") + what);
    return std::string(tokenName(advance()));
  }
  bool atSeparator(size_t ahead) const {
    TokenKind k = peek(ahead).kind;
    return k == TokenKind::Dot || k == TokenKind::Bang;
  }

  // Throws the syntax error `number`, pointing at the current token.
  [[noreturn]] void fail(int32_t number, const std::string& what) const {
    const Token& t = peek();
    std::string where = t.kind == TokenKind::End
                            ? "at the end of the statement"
                            : "at '" + std::string(t.text) + "' (character " + std::to_string(t.offset + 1) + ")";
    throw syntaxError(number, what + " " + where, text_);
  }

  // Limits that keep the recursive stages (and the tree's destructor) far
  // from the end of the stack, whatever the text.
  static constexpr uint32_t kMaxDepth = 500;   // levels of one expression tree (SQLite allows 1000)
  static constexpr int kMaxNesting = 200;      // parentheses, subqueries, Not and minus signs
  static constexpr int kMaxJoins = 64;

  class Nesting {
   public:
    explicit Nesting(Parser& p) : p_(p) {
      if (++p_.nesting_ > kMaxNesting) p_.fail(errc::kSyntaxExpression, "the statement is nested too deeply");
    }
    ~Nesting() { --p_.nesting_; }
    Nesting(const Nesting&) = delete;
    Nesting& operator=(const Nesting&) = delete;

   private:
    Parser& p_;
  };

  template <typename T>
  ExprPtr checked(std::unique_ptr<T> node) {
    node->depth = 1 + childDepth(*node);
    if (node->depth > kMaxDepth) fail(errc::kSyntaxExpression, "the expression is too long");
    return node;
  }
  static uint32_t childDepth(const Expr& e);

  std::string_view text_;
  std::vector<Token> tokens_;
  size_t pos_ = 0;
  int nesting_ = 0;
  int32_t clauseError_ = errc::kInvalidStatement;  // number for a stray token in the clause being read
};

uint32_t Parser::childDepth(const Expr& e) {
  uint32_t depth = 0;
  forEachChild(e, [&](const Expr& child) { depth = std::max(depth, child.depth); });
  return depth;
}

Statement Parser::statement() {
  Statement result;
  if (atKeyword("PARAMETERS")) parametersDeclaration(result);

  clauseError_ = errc::kInvalidStatement;
  const std::optional<StatementKind> kind = statementKindOf(peek());
  if (!kind) fail(errc::kInvalidStatement, "expected SELECT, INSERT, UPDATE or DELETE");
  result.kind = *kind;
  switch (*kind) {
    case StatementKind::Select: result.select = select(); break;
    case StatementKind::Insert: result.insert = insert(); break;
    case StatementKind::Update: result.update = update(); break;
    case StatementKind::Delete: result.remove = remove(); break;
  }

  if (accept(TokenKind::Semicolon)) {
    if (!is(TokenKind::End)) fail(errc::kCharactersAfterEnd, "characters found after the end of the statement");
  } else if (atKeyword("UNION")) {
    fail(errc::kSyntaxExpression, "UNION queries are not supported");
  } else if (!is(TokenKind::End)) {
    fail(clauseError_, "unexpected text");
  }
  return result;
}

void Parser::parametersDeclaration(Statement& statement) {
  advance();  // PARAMETERS
  clauseError_ = errc::kSyntaxExpression;
  do {
    ParameterDecl decl;
    decl.name = name("a parameter name", errc::kSyntaxExpression);
    const Token& typeToken = peek();
    bool known = false;
    if (typeToken.kind == TokenKind::Name) {
      for (const ParameterType& t : kParameterTypes) {
        if (isKeyword(typeToken, t.name)) {
          decl.type = t.type;
          known = true;
          break;
        }
      }
    }
    if (!known) fail(errc::kSyntaxExpression, "expected the data type of parameter '" + decl.name + "'");
    advance();
    if (accept(TokenKind::LeftParen)) {  // Text (255): the size is of no consequence here
      expect(TokenKind::Number, "a size", errc::kSyntaxExpression);
      expect(TokenKind::RightParen, "')'", errc::kSyntaxExpression);
    }
    statement.parameters.push_back(std::move(decl));
  } while (accept(TokenKind::Comma));
  expect(TokenKind::Semicolon, "';' after the parameter declarations", errc::kSyntaxExpression);
}

std::unique_ptr<Select> Parser::select() {
  auto result = std::make_unique<Select>();
  result->offset = peek().offset;
  advance();  // SELECT
  clauseError_ = errc::kSyntaxExpression;
  if (acceptKeyword("DISTINCTROW")) {
    result->distinct = DistinctMode::DistinctRow;
  } else if (acceptKeyword("DISTINCT")) {
    result->distinct = DistinctMode::Distinct;
  } else {
    acceptKeyword("ALL");
  }
  if (atKeyword("TOP")) {
    advance();
    const Token& n = peek();
    if (n.kind != TokenKind::Number) fail(errc::kSyntaxExpression, "expected the number of rows after TOP");
    const bool whole = n.text.front() == '&' || n.text.find_first_of(".eE") == std::string_view::npos;
    result->topPercent = atKeyword("PERCENT", 1);
    if (!whole && !result->topPercent) fail(errc::kSyntaxSelect, "TOP takes a whole number of rows");
    result->top = std::make_unique<LiteralExpr>(n.offset, LiteralKind::Number, n.literal);
    advance();
    if (result->topPercent) advance();
  }

  do {
    selectItem(*result);
  } while (accept(TokenKind::Comma));

  if (acceptKeyword("FROM")) result->from = fromList();  // a stray word after it is the FROM clause's fault
  auto clause = [&](std::string_view keyword) {
    if (!acceptKeyword(keyword)) return false;
    clauseError_ = errc::kSyntaxExpression;
    return true;
  };
  if (clause("WHERE")) result->where = expression();
  if (clause("GROUP")) {
    expectKeyword("BY", errc::kSyntaxExpression);
    result->groupBy = expressionList();
  }
  if (clause("HAVING")) result->having = expression();
  if (clause("ORDER")) {
    expectKeyword("BY", errc::kSyntaxExpression);
    result->orderBy = orderList();
  }
  return result;
}

void Parser::selectItem(Select& select) {
  SelectItem item;
  const Token& first = peek();
  if (first.kind == TokenKind::Star) {
    item.expr = std::make_unique<StarExpr>(first.offset, std::string());
    advance();
  } else if (atName() && atSeparator(1) && peek(2).kind == TokenKind::Star) {
    item.expr = std::make_unique<StarExpr>(first.offset, std::string(tokenName(first)));
    advance();
    advance();
    advance();
  } else {
    item.expr = expression();
    if (acceptKeyword("AS")) item.alias = name("a column name after AS", errc::kSyntaxExpression);
  }
  select.items.push_back(std::move(item));
}

std::vector<OrderItem> Parser::orderList() {
  std::vector<OrderItem> items;
  do {
    OrderItem item;
    item.expr = expression();
    if (acceptKeyword("DESC")) {
      item.descending = true;
    } else {
      acceptKeyword("ASC");
    }
    items.push_back(std::move(item));
  } while (accept(TokenKind::Comma));
  return items;
}

std::vector<TableRefPtr> Parser::fromList() {
  clauseError_ = errc::kSyntaxFrom;
  std::vector<TableRefPtr> items;
  do {
    items.push_back(joinedTable());
  } while (accept(TokenKind::Comma));
  return items;
}

TableRefPtr Parser::joinedTable() {
  Nesting nesting(*this);
  TableRefPtr left = tablePrimary();
  for (int joins = 0;; ++joins) {
    if (joins == kMaxJoins) fail(clauseError_, "more than " + std::to_string(kMaxJoins) + " joins");
    const uint32_t at = peek().offset;
    JoinType type;
    if (acceptKeyword("INNER")) {
      type = JoinType::Inner;
    } else if (acceptKeyword("LEFT")) {
      type = JoinType::Left;
      acceptKeyword("OUTER");
    } else if (acceptKeyword("RIGHT")) {
      type = JoinType::Right;
      acceptKeyword("OUTER");
    } else if (atKeyword("JOIN")) {
      type = JoinType::Inner;
    } else {
      return left;
    }
    expectKeyword("JOIN", clauseError_);
    auto join = std::make_unique<JoinRef>(at, type);
    join->left = std::move(left);
    join->right = tablePrimary();
    expectKeyword("ON", clauseError_);
    int32_t outer = clauseError_;
    join->on = expression();
    clauseError_ = outer;
    left = std::move(join);
  }
}

TableRefPtr Parser::tablePrimary() {
  const uint32_t at = peek().offset;
  if (accept(TokenKind::LeftParen)) {
    if (atKeyword("SELECT")) {
      int32_t outer = clauseError_;
      auto sub = select();
      clauseError_ = outer;
      expect(TokenKind::RightParen, "')' after the subquery", clauseError_);
      acceptKeyword("AS");
      std::string alias = atName() ? name("an alias", clauseError_) : std::string();
      return std::make_unique<DerivedTableRef>(at, std::move(sub), std::move(alias));
    }
    TableRefPtr inner = joinedTable();
    expect(TokenKind::RightParen, "')'", clauseError_);
    return inner;
  }
  auto table = std::make_unique<NamedTableRef>(at, name("a table name", clauseError_));
  if (acceptKeyword("AS")) {
    table->alias = name("an alias after AS", clauseError_);
  } else if (atName()) {
    table->alias = std::string(tokenName(advance()));
  }
  return table;
}

std::unique_ptr<Insert> Parser::insert() {
  advance();  // INSERT
  clauseError_ = errc::kSyntaxInsert;
  expectKeyword("INTO", errc::kSyntaxInsert);
  auto result = std::make_unique<Insert>();
  result->tableOffset = peek().offset;
  result->table = name("a table name", errc::kSyntaxInsert);
  if (accept(TokenKind::LeftParen)) {
    do {
      std::string column = name("a field name", errc::kSyntaxInsert);
      if (atSeparator(0)) {  // t.field: the table is the one named after INTO
        advance();
        column = name("a field name", errc::kSyntaxInsert);
      }
      result->columns.push_back(std::move(column));
    } while (accept(TokenKind::Comma));
    expect(TokenKind::RightParen, "')' after the field names", errc::kSyntaxInsert);
  }
  if (atKeyword("SELECT")) {
    result->select = select();
  } else if (acceptKeyword("VALUES")) {
    expect(TokenKind::LeftParen, "'(' after VALUES", errc::kSyntaxInsert);
    result->values = expressionList();
    clauseError_ = errc::kSyntaxInsert;
    expect(TokenKind::RightParen, "')' after the values", errc::kSyntaxInsert);
  } else {
    fail(errc::kSyntaxInsert, "expected SELECT or VALUES");
  }
  return result;
}

std::unique_ptr<Update> Parser::update() {
  advance();  // UPDATE
  clauseError_ = errc::kSyntaxUpdate;
  auto result = std::make_unique<Update>();
  result->distinctRow = acceptKeyword("DISTINCTROW");
  result->table = joinedTable();
  clauseError_ = errc::kSyntaxUpdate;
  expectKeyword("SET", errc::kSyntaxUpdate);
  do {
    Assignment assignment;
    const uint32_t at = peek().offset;
    std::string first = name("a field name", errc::kSyntaxUpdate);
    if (atSeparator(0)) {
      advance();
      assignment.target = std::make_unique<NameExpr>(at, std::move(first), name("a field name", errc::kSyntaxUpdate));
    } else {
      assignment.target = std::make_unique<NameExpr>(at, std::string(), std::move(first));
    }
    expect(TokenKind::Equal, "'=' after the field name", errc::kSyntaxUpdate);
    assignment.value = expression();
    result->assignments.push_back(std::move(assignment));
  } while (accept(TokenKind::Comma));
  if (acceptKeyword("WHERE")) {
    clauseError_ = errc::kSyntaxExpression;
    result->where = expression();
  }
  return result;
}

std::unique_ptr<Delete> Parser::remove() {
  advance();  // DELETE
  clauseError_ = errc::kSyntaxFrom;
  auto result = std::make_unique<Delete>();
  result->distinctRow = acceptKeyword("DISTINCTROW");
  result->targetOffset = peek().offset;
  if (!accept(TokenKind::Star) && !atKeyword("FROM")) {
    do {
      result->targets.push_back(name("the table to delete from", errc::kSyntaxFrom));
      if (!atSeparator(0) || peek(1).kind != TokenKind::Star) fail(errc::kSyntaxFrom, "expected '.*' after the table name");
      advance();
      advance();
    } while (accept(TokenKind::Comma));
  }
  expectKeyword("FROM", errc::kSyntaxFrom);
  result->from = fromList();
  if (acceptKeyword("WHERE")) {
    clauseError_ = errc::kSyntaxExpression;
    result->where = expression();
  }
  return result;
}

// ---- Expressions ----

ExprPtr Parser::orExpr() {
  ExprPtr left = andExpr();
  while (atKeyword("OR")) {
    uint32_t at = advance().offset;
    left = checked(std::make_unique<BinaryExpr>(at, BinaryOp::Or, std::move(left), andExpr()));
  }
  return left;
}

ExprPtr Parser::andExpr() {
  ExprPtr left = notExpr();
  while (atKeyword("AND")) {
    uint32_t at = advance().offset;
    left = checked(std::make_unique<BinaryExpr>(at, BinaryOp::And, std::move(left), notExpr()));
  }
  return left;
}

ExprPtr Parser::notExpr() {
  if (atKeyword("NOT")) {
    uint32_t at = advance().offset;
    Nesting nesting(*this);
    return checked(std::make_unique<UnaryExpr>(at, UnaryOp::Not, notExpr()));
  }
  return comparison();
}

ExprPtr Parser::comparison() {
  ExprPtr left = concatenation();
  for (;;) {
    const Token& t = peek();
    const uint32_t at = t.offset;
    BinaryOp op;
    switch (t.kind) {
      case TokenKind::Equal: op = BinaryOp::Equal; break;
      case TokenKind::NotEqual: op = BinaryOp::NotEqual; break;
      case TokenKind::Less: op = BinaryOp::Less; break;
      case TokenKind::LessEqual: op = BinaryOp::LessEqual; break;
      case TokenKind::Greater: op = BinaryOp::Greater; break;
      case TokenKind::GreaterEqual: op = BinaryOp::GreaterEqual; break;
      default: {
        if (atKeyword("IS")) {
          advance();
          bool negated = acceptKeyword("NOT");
          expectKeyword("NULL", errc::kSyntaxExpression);
          left = checked(std::make_unique<IsNullExpr>(at, std::move(left), negated));
          continue;
        }
        size_t ahead = atKeyword("NOT") ? 1 : 0;
        if (!atKeyword("BETWEEN", ahead) && !atKeyword("IN", ahead) && !atKeyword("LIKE", ahead)) return left;
        bool negated = ahead == 1;
        if (negated) advance();
        if (acceptKeyword("BETWEEN")) {
          ExprPtr low = concatenation();
          expectKeyword("AND", errc::kSyntaxExpression);
          left = checked(std::make_unique<BetweenExpr>(at, std::move(left), std::move(low), concatenation(), negated));
        } else if (acceptKeyword("LIKE")) {
          left = checked(std::make_unique<LikeExpr>(at, std::move(left), concatenation(), negated));
        } else {
          advance();  // IN
          auto in = std::make_unique<InExpr>(at, std::move(left), negated);
          expect(TokenKind::LeftParen, "'(' after IN", errc::kSyntaxExpression);
          if (atKeyword("SELECT")) {
            int32_t outer = clauseError_;
            in->select = select();
            clauseError_ = outer;
          } else {
            in->items = expressionList();
          }
          expect(TokenKind::RightParen, "')' after the IN list", errc::kSyntaxExpression);
          left = checked(std::move(in));
        }
        continue;
      }
    }
    advance();
    left = checked(std::make_unique<BinaryExpr>(at, op, std::move(left), concatenation()));
  }
}

ExprPtr Parser::concatenation() {
  ExprPtr left = additive();
  while (is(TokenKind::Ampersand)) {
    uint32_t at = advance().offset;
    left = checked(std::make_unique<BinaryExpr>(at, BinaryOp::Concat, std::move(left), additive()));
  }
  return left;
}

ExprPtr Parser::additive() {
  ExprPtr left = modulo();
  while (is(TokenKind::Plus) || is(TokenKind::Minus)) {
    const Token& t = advance();
    BinaryOp op = t.kind == TokenKind::Plus ? BinaryOp::Add : BinaryOp::Subtract;
    left = checked(std::make_unique<BinaryExpr>(t.offset, op, std::move(left), modulo()));
  }
  return left;
}

ExprPtr Parser::modulo() {
  ExprPtr left = intDivision();
  while (atKeyword("MOD")) {
    uint32_t at = advance().offset;
    left = checked(std::make_unique<BinaryExpr>(at, BinaryOp::Mod, std::move(left), intDivision()));
  }
  return left;
}

ExprPtr Parser::intDivision() {
  ExprPtr left = multiplicative();
  while (is(TokenKind::Backslash)) {
    uint32_t at = advance().offset;
    left = checked(std::make_unique<BinaryExpr>(at, BinaryOp::IntDivide, std::move(left), multiplicative()));
  }
  return left;
}

ExprPtr Parser::multiplicative() {
  ExprPtr left = unary();
  while (is(TokenKind::Star) || is(TokenKind::Slash)) {
    const Token& t = advance();
    BinaryOp op = t.kind == TokenKind::Star ? BinaryOp::Multiply : BinaryOp::Divide;
    left = checked(std::make_unique<BinaryExpr>(t.offset, op, std::move(left), unary()));
  }
  return left;
}

// A sign applies to the power it precedes: -2 ^ 2 is -4.
ExprPtr Parser::unary() {
  if (is(TokenKind::Minus)) {
    uint32_t at = advance().offset;
    Nesting nesting(*this);
    return checked(std::make_unique<UnaryExpr>(at, UnaryOp::Negate, unary()));
  }
  if (accept(TokenKind::Plus)) {
    Nesting nesting(*this);
    return unary();
  }
  return power();
}

ExprPtr Parser::power() {
  ExprPtr left = primary();
  while (is(TokenKind::Caret)) {
    uint32_t at = advance().offset;
    left = checked(std::make_unique<BinaryExpr>(at, BinaryOp::Power, std::move(left), exponent()));
  }
  return left;
}

// After ^ a sign belongs to the exponent: 2 ^ -1 is 0.5.
ExprPtr Parser::exponent() {
  if (is(TokenKind::Minus)) {
    uint32_t at = advance().offset;
    Nesting nesting(*this);
    return checked(std::make_unique<UnaryExpr>(at, UnaryOp::Negate, exponent()));
  }
  if (accept(TokenKind::Plus)) {
    Nesting nesting(*this);
    return exponent();
  }
  return primary();
}

ExprPtr Parser::primary() {
  const Token& t = peek();
  const uint32_t at = t.offset;
  switch (t.kind) {
    case TokenKind::String:
      advance();
      return std::make_unique<LiteralExpr>(at, LiteralKind::String, t.literal);
    case TokenKind::Number:
      advance();
      return std::make_unique<LiteralExpr>(at, LiteralKind::Number, t.literal);
    case TokenKind::Date:
      advance();
      return std::make_unique<LiteralExpr>(at, LiteralKind::Date, t.literal);
    case TokenKind::LeftParen: {
      advance();
      ExprPtr inner;
      if (atKeyword("SELECT")) {
        int32_t outer = clauseError_;
        inner = std::make_unique<SubqueryExpr>(at, select());
        clauseError_ = outer;
      } else {
        inner = expression();
      }
      expect(TokenKind::RightParen, "')'", errc::kSyntaxExpression);
      return inner;
    }
    case TokenKind::QuotedName:
      return nameOrCall();
    case TokenKind::Name:
      if (isKeyword(t, "TRUE")) {
        advance();
        return std::make_unique<ConstantExpr>(at, ConstantValue::True);
      }
      if (isKeyword(t, "FALSE")) {
        advance();
        return std::make_unique<ConstantExpr>(at, ConstantValue::False);
      }
      if (isKeyword(t, "NULL")) {
        advance();
        return std::make_unique<ConstantExpr>(at, ConstantValue::Null);
      }
      if (isKeyword(t, "EXISTS")) {
        advance();
        expect(TokenKind::LeftParen, "'(' after EXISTS", errc::kSyntaxExpression);
        if (!atKeyword("SELECT")) fail(errc::kSyntaxExpression, "expected SELECT after EXISTS (");
        int32_t outer = clauseError_;
        auto sub = select();
        clauseError_ = outer;
        expect(TokenKind::RightParen, "')' after the subquery", errc::kSyntaxExpression);
        return std::make_unique<ExistsExpr>(at, std::move(sub));
      }
      // Left( and Right( are the text functions; elsewhere the words belong to joins.
      if (!isReserved(t) || ((isKeyword(t, "LEFT") || isKeyword(t, "RIGHT")) && peek(1).kind == TokenKind::LeftParen))
        return nameOrCall();
      break;
    default:
      break;
  }
  fail(errc::kSyntaxExpression, "expected an expression");
}

ExprPtr Parser::nameOrCall() {
  const Token& first = advance();
  const uint32_t at = first.offset;
  if (first.kind == TokenKind::Name && is(TokenKind::LeftParen)) {
    auto call = std::make_unique<CallExpr>(at, std::string(first.text));
    advance();  // (
    if (!is(TokenKind::RightParen)) {
      if (is(TokenKind::Star) && peek(1).kind == TokenKind::RightParen) {  // Count(*)
        call->args.push_back(std::make_unique<StarExpr>(peek().offset, std::string()));
        advance();
      } else {
        call->args = expressionList();
      }
    }
    expect(TokenKind::RightParen, "')' after the arguments", errc::kSyntaxExpression);
    return checked(std::move(call));
  }
  std::string part = std::string(tokenName(first));
  if (atSeparator(0)) {
    advance();
    std::string field = name("a field name after the table name", errc::kSyntaxExpression);
    return std::make_unique<NameExpr>(at, std::move(part), std::move(field));
  }
  return std::make_unique<NameExpr>(at, std::string(), std::move(part));
}

std::vector<ExprPtr> Parser::expressionList() {
  std::vector<ExprPtr> items;
  do {
    items.push_back(expression());
  } while (accept(TokenKind::Comma));
  return items;
}

}  // namespace

ast::Statement parseStatement(std::string_view text) {
  Parser parser(text, tokenize(text));
  return parser.statement();
}

}  // namespace oskara::db::sql
