// Fuzz target: dialect statements through the tokenizer, the shape cache and
// the translator, against the system's own tables held in memory, and the
// translation run on SQLite inside a savepoint that is rolled back.
//
// Input: one statement, or two separated by a NUL byte. The second runs
// through the same shape cache as the first, as the engine's next statement
// would.
//
// Besides crashes, the target stops on what would be a wrong result in the
// engine: a shape cache that reads a text otherwise than statementShape, two
// texts of one shape of which one translates differently or not at all (the
// engine would run the first one's translation for the second), a binding
// that names no literal or parameter, a literal token whose end the cache
// would find elsewhere.
//
// OSKARA_FUZZ_SHOW=1 prints every translation with the outcome of its run
// (or the failure of translating), for reading what the fuzzer found.
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.h"
#include "contract/schema.h"
#include "contract/tables.h"
#include "dbengine/sql/sqlite_functions.h"
#include "dbengine/sql/tokenizer.h"
#include "dbengine/sql/translator.h"
#include "dbengine/sqlite/field_checks.h"
#include "dbengine/sqlite/statement.h"
#include "dbengine/values.h"
#include "fuzz_support.h"

namespace {

using namespace oskara;
using namespace oskara::db;

using fuzz::fault;

// Two general tables that the translator's own tests use, and a few rows in
// every table, so that expressions over columns are evaluated.
constexpr const char* kRows = R"sql(
CREATE TABLE Customers (Id INTEGER PRIMARY KEY, Name TEXT COLLATE NOCASE, City TEXT COLLATE NOCASE);
CREATE TABLE Orders (OrderId INTEGER PRIMARY KEY, CustomerId INTEGER, Amount DOUBLE, Shipped DATETIME);
INSERT INTO Customers VALUES (1, 'Smith', 'Oslo'), (2, 'jones', NULL);
INSERT INTO Orders VALUES (10, 1, 5, '2026-12-01'), (11, 2, 1e308, 45000), (12, 3, NULL, NULL);
INSERT INTO tblDTOptions VALUES (1, 1, 500, 1, 1, 1, 1, 1, 30, 14, 1, 7, 1, 0, '2', 'B', 1, 1, 'X', '2026-01-02 03:04:05');
INSERT INTO tblDTQueue VALUES (1, 'C1', 2, 'Account 30 days overdue.', '2026-03-01', '09:30:00', 5);
INSERT INTO tblDTQueue VALUES (2, 'c2', 10, NULL, '2026-03-02', NULL, 0);
INSERT INTO tblDtCallLogHeader VALUES (5, 'C1', 'remark', -1, '2026-02-01', '2026-02-15', 120.5, 'ann');
INSERT INTO tblDtCallLogHeader VALUES (6, 'C3', NULL, 0, 'yesterday', NULL, NULL, NULL);
INSERT INTO tblDTLogon VALUES (1, 'ann', '2026-03-01 08:00:00');
INSERT INTO ar.tblArCust VALUES ('C1', 'First', 0, 1000, '555', 'Ann');
INSERT INTO ar.tblArCust VALUES ('C2', 'Second', 1, 0, NULL, NULL);
INSERT INTO ar.tblArCust VALUES ('C3', 'Third', -1, 1e308, NULL, NULL);
INSERT INTO ar.tblArCustHist VALUES ('C1', 10, 20, 30, 40, 50, 5, 1, 2, '2026-01-15', 99.5);
INSERT INTO ar.tblArCustHist VALUES ('C2', 0, 0, 0, 0, 0, 0, 0, 0, NULL, NULL);
INSERT INTO ar.tblArCustHist VALUES ('C3', -1e308, 0, 0, 0, 1e308, 0, 0, 0, 45000.5, NULL);
INSERT INTO so.tblSoHeader VALUES (1, 'C1', '2026-02-20', 250);
)sql";

// The DT tables in main, the AR and SO tables in schemas "ar" and "so" of
// one in-memory connection; AR and SO tables stand in DT as links do.
class FuzzDatabase final : public sql::Catalog {
 public:
  FuzzDatabase() {
    if (sqlite3_open(":memory:", &db_) != SQLITE_OK) std::abort();
    sql::registerDialectFunctions(db_);
    sqlite::registerFieldChecks(db_);
    // A statement may not build texts or blobs beyond this, nor run longer
    // than this many steps of SQLite's machine.
    sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, 1 << 20);
    sqlite3_progress_handler(db_, 100000, [](void*) { return 1; }, nullptr);
    exec("ATTACH ':memory:' AS ar; ATTACH ':memory:' AS so;");
    exec(contract::tablesDdl(contract::DatabaseKind::DT));
    exec(inSchema(contract::tablesDdl(contract::DatabaseKind::AR), "ar"));
    exec(inSchema(contract::tablesDdl(contract::DatabaseKind::SO), "so"));
    // The rows hold what other programs may have written (numbers and
    // extremes in date fields), which the tables' constraints would refuse.
    exec("PRAGMA ignore_check_constraints = 1;");
    exec(kRows);
  }
  ~FuzzDatabase() override { sqlite3_close(db_); }

  std::optional<sql::TableInfo> findTable(std::string_view name) const override {
    for (const char* schema : {"main", "ar", "so"}) {
      sql::TableInfo info{schema, {}, {}};
      sqlite3_stmt* st = nullptr;
      const std::string find = std::string("SELECT name FROM ") + schema +
                               ".sqlite_schema WHERE type = 'table' AND name = ?1 COLLATE NOCASE";
      sqlite3_prepare_v2(db_, find.c_str(), -1, &st, nullptr);
      sqlite3_bind_text(st, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
      if (sqlite3_step(st) == SQLITE_ROW) info.table = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
      sqlite3_finalize(st);
      if (info.table.empty()) continue;
      sqlite3_prepare_v2(db_, "SELECT name, upper(type) FROM pragma_table_info(?1, ?2)", -1, &st, nullptr);
      sqlite3_bind_text(st, 1, info.table.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(st, 2, schema, -1, SQLITE_STATIC);
      while (sqlite3_step(st) == SQLITE_ROW) {
        info.columns.push_back({reinterpret_cast<const char*>(sqlite3_column_text(st, 0)),
                                reinterpret_cast<const char*>(sqlite3_column_text(st, 1))});
      }
      sqlite3_finalize(st);
      return info;
    }
    return std::nullopt;
  }

  std::optional<std::string> findQuery(std::string_view name) const override {
    const std::string_view query = contract::kQryDtFollowUp2b;
    if (name.size() == query.size() && sqlite3_strnicmp(name.data(), query.data(), static_cast<int>(name.size())) == 0)
      return std::string(contract::followUp2bSql());
    return std::nullopt;
  }

  // Prepares and runs a translation through the engine's SQLite statement,
  // with the literals of its text and every parameter Null, and undoes what
  // it wrote. Returns the failure, if any.
  std::string run(const sql::Translation& t, const std::vector<Variant>& literals, std::string_view text) {
    sqlite3_stmt* prepared = nullptr;
    if (sqlite3_prepare_v2(db_, t.sql.c_str(), static_cast<int>(t.sql.size()), &prepared, nullptr) != SQLITE_OK)
      return std::string("prepare: ") + sqlite3_errmsg(db_);
    sqlite::SqliteStatement st(db_, prepared);
    std::vector<FieldType> types(static_cast<size_t>(sqlite3_column_count(prepared)), FieldType::Any);
    for (size_t c = 0; c < types.size() && c < t.columnTypes.size(); ++c) types[c] = fieldTypeOf(t.columnTypes[c]);
    const FailureContext context{"", "", text};
    exec("SAVEPOINT fuzz");
    std::string error;
    try {
      for (size_t i = 0; i < t.bindings.size(); ++i) {
        const sql::Binding& b = t.bindings[i];
        // Not stable: the value is a temporary, its text must be copied.
        st.bind(static_cast<int>(i) + 1,
                b.source == sql::Binding::Source::Literal ? literals[static_cast<size_t>(b.index)] : Variant::null(),
                false, context);
      }
      std::vector<Variant> values;
      std::vector<backend::RowId> rowIds;
      for (int batch = 0; batch < 10 && st.fetch(100, types, -1, values, rowIds, context); ++batch) {
        values.clear();
        rowIds.clear();
      }
    } catch (const Error& e) {
      if (e.number() == 0 || e.text().empty()) fault("a failure without number or text", text);
      error = "run [" + std::to_string(e.number()) + "] " + e.text();
    }
    st.reset();
    exec("ROLLBACK TO fuzz; RELEASE fuzz;");
    return error;
  }

 private:
  void exec(std::string_view sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, std::string(sql).c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      std::fprintf(stderr, "fixture: %s\n", message ? message : "?");
      std::abort();
    }
  }
  static std::string inSchema(std::string_view ddl, const std::string& schema) {
    std::string out(ddl);
    const std::string create = "CREATE TABLE ";
    for (size_t at = out.find(create); at != std::string::npos; at = out.find(create, at + 1))
      out.insert(at + create.size(), schema + ".");
    return out;
  }

  sqlite3* db_ = nullptr;
};

const bool kShow = std::getenv("OSKARA_FUZZ_SHOW") != nullptr;

void show(const std::string& what, std::string_view text) {
  if (kShow)
    std::fprintf(stderr, "%s | %.*s\n", what.c_str(), static_cast<int>(text.size()), text.data());
}

// Every token the tokenizer gives; a literal must end where the shape cache
// would look for its end.
void checkTokens(std::string_view text) {
  try {
    const std::vector<sql::Token> tokens = sql::tokenize(text);
    for (const sql::Token& token : tokens) {
      if (token.kind == sql::TokenKind::Name || token.kind == sql::TokenKind::QuotedName)
        (void)sql::tokenName(token);
      if (!sql::isLiteral(token.kind)) continue;
      try {
        (void)sql::literalValue(token);
      } catch (const Error&) {
      }
      if (token.kind == sql::TokenKind::Date || text[token.offset] == '.') continue;
      const size_t end = sql::Tokenizer(text).literalEnd(token.offset, token.kind);
      if (end != token.offset + token.text.size())
        fault("literal " + std::string(token.text) + " ends at " + std::to_string(end) + " for the shape cache",
              text);
    }
  } catch (const Error&) {
  }
}

struct Outcome {
  std::optional<sql::StatementShape> shape;
  std::optional<sql::Translation> translation;
};

Outcome translateOne(std::string_view text, sql::ShapeCache& cache, FuzzDatabase& db) {
  checkTokens(text);
  Outcome out;
  try {
    out.shape = sql::statementShape(text);
  } catch (const Error&) {
  }
  std::vector<Variant> literals;
  try {
    const std::string key = cache.shapeOf(text, literals);
    if (!out.shape) fault("the shape cache read a text that statementShape refuses", text);
    if (key != out.shape->key || literals != out.shape->literals)
      fault("the shape cache reads the text otherwise than statementShape", text);
  } catch (const Error& e) {
    if (out.shape) fault("the shape cache refuses a text that statementShape reads: " + e.text(), text);
  }
  if (!out.shape) return out;
  try {
    out.translation = sql::translate(text, db);
  } catch (const Error& e) {
    if (e.number() == 0 || e.text().empty()) fault("a failure without number or text", text);
    show("translate [" + std::to_string(e.number()) + "] " + e.text(), text);
    return out;
  }
  const sql::Translation& t = *out.translation;
  for (const sql::Binding& b : t.bindings) {
    const size_t count = b.source == sql::Binding::Source::Literal ? out.shape->literals.size() : t.parameters.size();
    if (b.index < 0 || static_cast<size_t>(b.index) >= count) fault("a binding names nothing", text);
  }
  const std::string error = db.run(t, out.shape->literals, text);
  show((error.empty() ? "ok" : error) + " | " + t.sql, text);
  return out;
}

bool sameTranslation(const sql::Translation& a, const sql::Translation& b) {
  if (a.sql != b.sql || a.kind != b.kind || a.bindings.size() != b.bindings.size() ||
      a.parameters.size() != b.parameters.size() || a.columnNames != b.columnNames || a.columnTypes != b.columnTypes)
    return false;
  for (size_t i = 0; i < a.bindings.size(); ++i) {
    if (a.bindings[i].source != b.bindings[i].source || a.bindings[i].index != b.bindings[i].index) return false;
  }
  for (size_t i = 0; i < a.parameters.size(); ++i) {
    if (a.parameters[i].name != b.parameters[i].name || a.parameters[i].declaredType != b.parameters[i].declaredType)
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FuzzDatabase db;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t nul = input.find('\0');
  const std::string_view first = input.substr(0, nul);
  sql::ShapeCache cache;
  const Outcome a = translateOne(first, cache, db);
  if (nul == std::string_view::npos) return 0;
  const std::string_view second = input.substr(nul + 1);
  const Outcome b = translateOne(second, cache, db);
  // The engine keeps one translation per shape, whichever text came first.
  if (a.shape && b.shape && a.shape->key == b.shape->key) {
    if (a.translation.has_value() != b.translation.has_value())
      fault("of two texts of one shape only one translates; the other text: " + std::string(first), second);
    if (a.translation && !sameTranslation(*a.translation, *b.translation))
      fault("two texts of one shape translate differently; the other text: " + std::string(first), second);
  }
  return 0;
}
