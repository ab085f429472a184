#include "directdb/sqlite_file.h"

#include <sqlite3.h>

#include <string>

#include "core/error.h"
#include "dbengine/errors.h"

namespace oskara::directdb {
namespace {

namespace errc = db::errc;

std::string quoted(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

Error statementFailed(sqlite3* db, std::string_view sql, const std::filesystem::path& file) {
  return Error(errc::kReserved, "SQLite refused a statement on " + quoted(file) + ": " +
                                    sqlite3_errmsg(db) + " (in: " + std::string(sql) + ")");
}

// Statement handle that finalizes itself.
class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql, const std::filesystem::path& file) {
    if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK)
      throw statementFailed(db, sql, file);
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

void bindVariant(sqlite3_stmt* stmt, int index, const Variant& value) {
  switch (value.type()) {
    case VarType::Empty:
    case VarType::Null: sqlite3_bind_null(stmt, index); break;
    case VarType::Boolean: sqlite3_bind_int(stmt, index, *value.get<bool>() ? 1 : 0); break;
    case VarType::Integer:
    case VarType::Long: sqlite3_bind_int64(stmt, index, value.toInt32()); break;
    case VarType::Double: sqlite3_bind_double(stmt, index, *value.get<double>()); break;
    case VarType::Date: {
      const std::string iso = value.get<DateTime>()->toIso();
      sqlite3_bind_text(stmt, index, iso.data(), static_cast<int>(iso.size()), SQLITE_TRANSIENT);
      break;
    }
    default: {
      const std::string text = value.toString();
      sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
  }
}

Variant columnValue(sqlite3_stmt* stmt, int column) {
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER: return Variant::fromInt64(sqlite3_column_int64(stmt, column));
    case SQLITE_FLOAT: return Variant(sqlite3_column_double(stmt, column));
    case SQLITE_NULL: return Variant::null();
    default: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
      return Variant(std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt, column))));
    }
  }
}

}  // namespace

SqliteFile::SqliteFile(const std::filesystem::path& file) : path_(file) {
  // No SQLITE_OPEN_CREATE: a missing file is an error, never a new database.
  const int rc = sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
  if (rc != SQLITE_OK) {
    const std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    throw Error(errc::kCannotOpenFile, "Cannot open database file " + quoted(file) + ": " + reason + ".");
  }
  sqlite3_busy_timeout(db_, 5000);
}

SqliteFile::~SqliteFile() { sqlite3_close(db_); }

void SqliteFile::exec(std::string_view sql) {
  char* message = nullptr;
  const std::string text(sql);
  if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string reason = message ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    throw Error(errc::kReserved, "SQLite refused a statement on " + quoted(path_) + ": " + reason +
                                     " (in: " + text + ")");
  }
}

int64_t SqliteFile::exec(std::string_view sql, std::initializer_list<Variant> params) {
  Statement stmt(db_, sql, path_);
  int index = 1;
  for (const Variant& value : params) bindVariant(stmt.get(), index++, value);
  int rc;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) throw statementFailed(db_, sql, path_);
  return sqlite3_changes64(db_);
}

template <class Fields>
int64_t SqliteFile::insertFields(std::string_view table, const Fields& fields) {
  std::string columns, placeholders;
  for (const auto& field : fields) {
    columns += (columns.empty() ? "\"" : ", \"") + std::string(field.first) + "\"";
    placeholders += placeholders.empty() ? "?" : ", ?";
  }
  const std::string sql =
      "INSERT INTO \"" + std::string(table) + "\" (" + columns + ") VALUES (" + placeholders + ")";
  Statement stmt(db_, sql, path_);
  int index = 1;
  for (const auto& field : fields) bindVariant(stmt.get(), index++, field.second);
  if (sqlite3_step(stmt.get()) != SQLITE_DONE) throw statementFailed(db_, sql, path_);
  return sqlite3_last_insert_rowid(db_);
}

int64_t SqliteFile::insert(std::string_view table,
                           std::initializer_list<std::pair<std::string_view, Variant>> fields) {
  return insertFields(table, fields);
}

int64_t SqliteFile::insert(std::string_view table,
                           const std::vector<std::pair<std::string_view, Variant>>& fields) {
  return insertFields(table, fields);
}

std::vector<std::vector<Variant>> SqliteFile::query(std::string_view sql,
                                                    std::initializer_list<Variant> params) {
  Statement stmt(db_, sql, path_);
  int index = 1;
  for (const Variant& value : params) bindVariant(stmt.get(), index++, value);
  std::vector<std::vector<Variant>> rows;
  const int columns = sqlite3_column_count(stmt.get());
  int rc;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    std::vector<Variant>& row = rows.emplace_back();
    row.reserve(static_cast<size_t>(columns));
    for (int c = 0; c < columns; ++c) row.push_back(columnValue(stmt.get(), c));
  }
  if (rc != SQLITE_DONE) throw statementFailed(db_, sql, path_);
  return rows;
}

}  // namespace oskara::directdb
