#include "dbengine/sql/test_database.h"

#include <cctype>
#include <stdexcept>

#include "contract/schema.h"
#include "contract/tables.h"
#include "dbengine/sql/sqlite_failures.h"
#include "dbengine/sql/sqlite_functions.h"

namespace oskara::db::sql::testdb {
namespace {

// The test's own tables, beside the system's, and the schema the AR tables go in.
constexpr std::string_view kOwnTables = R"sql(
CREATE TABLE Customers (Id INTEGER PRIMARY KEY, Name TEXT COLLATE NOCASE, City TEXT COLLATE NOCASE);
CREATE TABLE Orders (OrderId INTEGER PRIMARY KEY, CustomerId INTEGER, Amount DOUBLE, Shipped DATETIME);
ATTACH ':memory:' AS ar;
)sql";

// `ddl` with every table it creates put in `schema`.
std::string inSchema(std::string_view ddl, std::string_view schema) {
  const std::string create = "CREATE TABLE ";
  std::string out(ddl);
  for (size_t at = out.find(create); at != std::string::npos; at = out.find(create, at + 1))
    out.insert(at + create.size(), std::string(schema) + ".");
  return out;
}

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && sqlite3_strnicmp(a.data(), b.data(), static_cast<int>(a.size())) == 0;
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string cellText(sqlite3_stmt* st, int i) {
  switch (sqlite3_column_type(st, i)) {
    case SQLITE_NULL: return "Null";
    case SQLITE_INTEGER: return std::to_string(sqlite3_column_int64(st, i));
    case SQLITE_FLOAT: return formatDouble(sqlite3_column_double(st, i));
    default: return reinterpret_cast<const char*>(sqlite3_column_text(st, i));
  }
}

void bindValue(sqlite3_stmt* st, int n, const Variant& v) {
  switch (v.type()) {
    case VarType::Empty:
    case VarType::Null: sqlite3_bind_null(st, n); break;
    case VarType::Boolean: sqlite3_bind_int(st, n, *v.get<bool>() ? 1 : 0); break;
    case VarType::Integer:
    case VarType::Long: sqlite3_bind_int64(st, n, v.toInt32()); break;
    case VarType::Double: sqlite3_bind_double(st, n, *v.get<double>()); break;
    case VarType::Date: {
      std::string iso = v.get<DateTime>()->toIso();
      sqlite3_bind_text(st, n, iso.c_str(), -1, SQLITE_TRANSIENT);
      break;
    }
    default: {
      std::string s = v.toString();
      sqlite3_bind_text(st, n, s.c_str(), -1, SQLITE_TRANSIENT);
      break;
    }
  }
}

}  // namespace

TestDatabase::TestDatabase() {
  if (sqlite3_open(":memory:", &db_) != SQLITE_OK) throw std::runtime_error("cannot open an in-memory database");
  registerDialectFunctions(db_);
  exec(contract::tablesDdl(contract::DatabaseKind::DT));
  exec(kOwnTables);
  exec(inSchema(contract::tablesDdl(contract::DatabaseKind::AR), "ar"));
  for (std::string_view table : {contract::kTblArCust, contract::kTblArCustHist})
    links_[std::string(table)] = {"ar", std::string(table)};
}

TestDatabase::~TestDatabase() { sqlite3_close(db_); }

void TestDatabase::exec(std::string_view sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, std::string(sql).c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : "unknown";
    sqlite3_free(message);
    throw std::runtime_error("fixture SQL failed: " + text);
  }
}

std::optional<TableInfo> TestDatabase::findTable(std::string_view name) const {
  TableInfo info;
  info.schema = "main";
  info.table = std::string(name);
  for (const auto& [link, target] : links_) {
    if (sameName(link, name)) {
      info.schema = target.first;
      info.table = target.second;
    }
  }
  std::string sql = "SELECT name, type FROM pragma_table_info(?1, ?2)";
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr);
  sqlite3_bind_text(st, 1, info.table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 2, info.schema.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(st) == SQLITE_ROW) {
    info.columns.push_back({reinterpret_cast<const char*>(sqlite3_column_text(st, 0)),
                            upper(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)))});
  }
  sqlite3_finalize(st);
  if (info.columns.empty()) return std::nullopt;
  return info;
}

std::optional<std::string> TestDatabase::findQuery(std::string_view name) const {
  for (const auto& [query, text] : queries_) {
    if (sameName(query, name)) return text;
  }
  return std::nullopt;
}

RunResult TestDatabase::run(std::string_view dialect, const std::map<std::string, Variant>& parameters) {
  RunResult result;
  result.translation = translate(dialect, *this);
  StatementShape shape = statementShape(dialect);
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, result.translation.sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
    fail(sqlite3_extended_errcode(db_), sqlite3_errmsg(db_), dialect, "SQLite refused " + result.translation.sql);
  for (size_t i = 0; i < result.translation.bindings.size(); ++i) {
    const Binding& b = result.translation.bindings[i];
    Variant value;
    if (b.source == Binding::Source::Literal) {
      value = shape.literals.at(static_cast<size_t>(b.index));
    } else {
      const ParameterInfo& p = result.translation.parameters.at(static_cast<size_t>(b.index));
      for (const auto& [name, v] : parameters) {
        if (sameName(name, p.name)) value = p.declaredType ? v.convertTo(*p.declaredType) : v;
      }
    }
    bindValue(st, static_cast<int>(i) + 1, value);
  }
  // The rowid of an updatable result is not one of its visible columns.
  const int visible = result.translation.kind == StatementKind::Select
                          ? static_cast<int>(result.translation.columnNames.size())
                          : sqlite3_column_count(st);
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < visible; ++i) {
      if (i) row += '|';
      row += cellText(st, i);
    }
    result.rows.push_back(std::move(row));
  }
  const int code = sqlite3_extended_errcode(db_);
  const std::string message = rc == SQLITE_DONE ? "" : sqlite3_errmsg(db_);
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE) fail(code, message, dialect, "SQLite failed on " + result.translation.sql);
  result.changes = sqlite3_changes(db_);
  return result;
}

void TestDatabase::fail(int rc, const std::string& message, std::string_view dialect, const std::string& what) {
  if (auto e = statementFailure(rc, message, dialect)) throw *e;
  throw std::runtime_error(what + ": " + message);
}

std::vector<std::string> TestDatabase::rows(std::string_view sql) {
  std::vector<std::string> out;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, std::string(sql).c_str(), -1, &st, nullptr) != SQLITE_OK)
    throw std::runtime_error(std::string("fixture query failed: ") + sqlite3_errmsg(db_));
  while (sqlite3_step(st) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      if (i) row += '|';
      row += cellText(st, i);
    }
    out.push_back(std::move(row));
  }
  sqlite3_finalize(st);
  return out;
}

}  // namespace oskara::db::sql::testdb
