#include "dbengine/test_files.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <regex>
#include <stdexcept>

#include "core/error.h"

namespace oskara::db::testing {
namespace {

namespace fs = std::filesystem;

sqlite3* openFile(const std::string& path, int flags) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    std::string message = sqlite3_errmsg(db);
    sqlite3_close(db);
    throw std::runtime_error("cannot open " + path + ": " + message);
  }
  sqlite3_busy_timeout(db, 10000);
  return db;
}

void exec(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : "?";
    sqlite3_free(message);
    sqlite3_close(db);
    throw std::runtime_error("SQL failed: " + text + " in " + sql);
  }
}

// A session with the tests' cluster, its search path on `schema` (made when
// missing) and then public, where citext is.
struct PgSession {
  explicit PgSession(const std::string& schema) : conn(PQconnectdb("")) {
    if (PQstatus(conn) != CONNECTION_OK) throw std::runtime_error(std::string("cannot connect: ") + PQerrorMessage(conn));
    PQclear(run("SET client_min_messages = warning; CREATE EXTENSION IF NOT EXISTS citext SCHEMA public;"
        "CREATE SCHEMA IF NOT EXISTS \"" + schema + "\"; SET search_path = \"" + schema + "\", public"));
  }
  ~PgSession() { PQfinish(conn); }
  PGresult* run(const std::string& sql) {
    PGresult* r = PQexec(conn, sql.c_str());
    const ExecStatusType status = PQresultStatus(r);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      std::string message = PQresultErrorMessage(r);
      PQclear(r);
      throw std::runtime_error("SQL failed: " + message + " in " + sql);
    }
    return r;
  }
  PGconn* conn;
};

// Names in mixed case quoted, so that the server keeps their case as a file
// does (keywords are written in capitals, lower-case names need nothing).
std::string quotedNames(const std::string& sql) {
  std::string out;
  for (size_t i = 0; i < sql.size();) {
    const char c = sql[i];
    if (c == '\'' || c == '"') {
      const size_t end = sql.find(c, i + 1);
      const size_t next = end == std::string::npos ? sql.size() : end + 1;
      out.append(sql, i, next - i);
      i = next;
    } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      size_t end = i;
      bool upper = false, lower = false;
      while (end < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[end])) || sql[end] == '_')) {
        upper = upper || std::isupper(static_cast<unsigned char>(sql[end]));
        lower = lower || std::islower(static_cast<unsigned char>(sql[end]));
        ++end;
      }
      const std::string word = sql.substr(i, end - i);
      out += upper && lower ? '"' + word + '"' : word;
      i = end;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

// SQLite's column types as the server's, names as the file keeps them.
std::string serverSql(std::string sql) {
  sql = quotedNames(sql);
  static const std::pair<std::regex, const char*> kTypes[] = {
      {std::regex("TEXT COLLATE NOCASE"), "citext"},
      {std::regex("\\bDATETIME\\b"), "timestamp"},
      {std::regex("\\bDOUBLE\\b"), "float8"},
      {std::regex("'(\\d\\d:\\d\\d:\\d\\d)'"), "'1899-12-30 $1'"},  // a time alone is on day zero
  };
  for (const auto& [pattern, type] : kTypes) sql = std::regex_replace(sql, pattern, type);
  return sql;
}

// A cell as a file stores the value.
std::string fileText(std::string text, Oid type) {
  constexpr Oid kBool = 16, kTimestamp = 1114;
  if (type == kBool) return text == "t" ? "1" : "0";
  if (type == kTimestamp) {
    if (text.size() == 19 && text.compare(11, 8, "00:00:00") == 0) return text.substr(0, 10);
    if (text.size() == 19 && text.compare(0, 10, "1899-12-30") == 0) return text.substr(11);
  }
  return text;
}

int schemasMade = 0;

}  // namespace

TempFolder::TempFolder() {
  std::string pattern = (fs::temp_directory_path() / "oskara-dbengine-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ec;
  // Tests take write permission away; give it back so everything can go.
  for (const auto& entry : fs::recursive_directory_iterator(path_, ec))
    fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

void makeDatabase(const std::string& path, const std::string& sql) {
  sqlite3* db = openFile(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  exec(db, sql);
  sqlite3_close(db);
}

void runSql(const std::string& path, const std::string& sql) {
  sqlite3* db = openFile(path, SQLITE_OPEN_READWRITE);
  exec(db, sql);
  sqlite3_close(db);
}

std::vector<std::vector<std::string>> queryRows(const std::string& path, const std::string& sql) {
  sqlite3* db = openFile(path, SQLITE_OPEN_READONLY);
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    std::string message = sqlite3_errmsg(db);
    sqlite3_close(db);
    throw std::runtime_error("SQL failed: " + message + " in " + sql);
  }
  std::vector<std::vector<std::string>> rows;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      const unsigned char* text = sqlite3_column_text(stmt, i);
      row.push_back(text ? reinterpret_cast<const char*>(text) : "NULL");
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return rows;
}

TestDatabases::TestDatabases(Backend backend)
    : backend_(backend), prefix_("t" + std::to_string(getpid()) + "_" + std::to_string(++schemasMade) + "_") {}

std::string TestDatabases::location(const std::string& name) const {
  if (backend_ == Backend::SQLite) return folder_.file(name + ".db");
  const char* database = getenv("PGDATABASE");
  return std::string("postgresql:///") + (database ? database : "postgres") + "?schema=" + prefix_ + name;
}

std::string TestDatabases::link(const std::string& name) const {
  return backend_ == Backend::SQLite ? name + ".db" : "?schema=" + prefix_ + name;
}

void TestDatabases::make(const std::string& name, const std::string& sql) {
  if (backend_ == Backend::SQLite) return makeDatabase(location(name), sql);
  PgSession session(prefix_ + name);
  PQclear(session.run(serverSql(sql)));
}

void TestDatabases::run(const std::string& name, const std::string& sql) {
  if (backend_ == Backend::SQLite) return runSql(location(name), sql);
  PgSession session(prefix_ + name);
  PQclear(session.run(serverSql(sql)));
}

std::vector<std::vector<std::string>> TestDatabases::query(const std::string& name, const std::string& sql) {
  if (backend_ == Backend::SQLite) return queryRows(location(name), sql);
  PgSession session(prefix_ + name);
  PGresult* r = session.run(quotedNames(sql));
  std::vector<std::vector<std::string>> rows;
  for (int row = 0; row < PQntuples(r); ++row) {
    std::vector<std::string> values;
    for (int column = 0; column < PQnfields(r); ++column) {
      values.push_back(PQgetisnull(r, row, column) ? "NULL"
                                                   : fileText(PQgetvalue(r, row, column), PQftype(r, column)));
    }
    rows.push_back(std::move(values));
  }
  PQclear(r);
  return rows;
}

bool postgresAvailable() { return getenv("OSKARA_PG_CLUSTER") != nullptr; }

std::string backendName(const ::testing::TestParamInfo<Backend>& info) {
  return info.param == Backend::SQLite ? "SQLite" : "PostgreSQL";
}

int errorNumberOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

std::string errorTextOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.text();
  }
  return "";
}

}  // namespace oskara::db::testing
