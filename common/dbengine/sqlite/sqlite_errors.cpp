#include "dbengine/sqlite/sqlite_errors.h"

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dbengine/errors.h"
#include "dbengine/identifiers.h"
#include "dbengine/sql/sqlite_failures.h"

namespace oskara::db::sqlite {
namespace {

namespace fs = std::filesystem;

// SQLite names the column of a failed NOT NULL constraint as "table.column".
std::string_view failedColumn(std::string_view message) {
  size_t colon = message.rfind(": ");
  std::string_view name = colon == std::string_view::npos ? message : message.substr(colon + 2);
  size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? name : name.substr(dot + 1);
}

std::string_view firstOf(std::string_view a, std::string_view b) { return a.empty() ? b : a; }

}  // namespace

Error sqliteError(int rc, std::string_view message, const FailureContext& context) {
  // A dialect function's failure, or SQLite's text about a translation.
  if (auto failure = sql::statementFailure(rc, message, context.statement)) return *failure;
  const std::string_view object = firstOf(context.table, firstOf(context.file, context.statement));
  switch (rc) {
    case SQLITE_CONSTRAINT_UNIQUE:
    case SQLITE_CONSTRAINT_PRIMARYKEY:
    case SQLITE_CONSTRAINT_ROWID:
      return duplicateKey(object, message);
    case SQLITE_CONSTRAINT_NOTNULL:
      return requiredNull(failedColumn(message));
    default:
      break;
  }
  switch (rc & 0xff) {
    case SQLITE_CONSTRAINT: return validationRule(object, message);
    case SQLITE_READONLY:
    case SQLITE_PERM: return readOnly(object);
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return lockedByOther(object);
    case SQLITE_NOTADB: return notADatabase(context.file);
    case SQLITE_CORRUPT: return corrupt(context.file);
    case SQLITE_IOERR:
    case SQLITE_FULL: return diskError(context.file, message);
    case SQLITE_CANTOPEN: return cannotOpenFile(context.file, message);
    case SQLITE_MISMATCH: return typeMismatchInCriteria(context.statement);
    default: return engineFailure(message, context.statement);
  }
}

namespace {

// The files attached to `db` as schema and path, the linked files first and
// main last.
std::vector<std::pair<std::string, std::string>> filesOf(sqlite3* db) {
  std::vector<std::pair<std::string, std::string>> files;
  sqlite3_stmt* list = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA database_list", -1, &list, nullptr) == SQLITE_OK) {
    while (sqlite3_step(list) == SQLITE_ROW) {
      const auto text = [&](int i) {
        const unsigned char* t = sqlite3_column_text(list, i);
        return t ? std::string(reinterpret_cast<const char*>(t)) : std::string();
      };
      std::string schema = text(1), file = text(2);
      if (schema == "temp" || file.empty()) continue;
      files.insert(schema == "main" ? files.end() : files.begin(), {std::move(schema), std::move(file)});
    }
  }
  sqlite3_finalize(list);
  return files;
}

// The file of `db` that is damaged. SQLite tells only that a page it read is
// damaged, not in which of the files attached to the connection; a quick
// check of each, the linked files first, finds it. Runs on the failure path
// only. `named` when none is found.
std::string damagedFile(sqlite3* db, std::string_view named) {
  for (const auto& [schema, file] : filesOf(db)) {
    sqlite3_stmt* check = nullptr;
    const std::string sql = "PRAGMA " + quoteIdentifier(schema) + ".quick_check(1)";
    const unsigned char* verdict = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &check, nullptr) == SQLITE_OK && sqlite3_step(check) == SQLITE_ROW)
      verdict = sqlite3_column_text(check, 0);
    const bool sound = verdict && std::string_view(reinterpret_cast<const char*>(verdict)) == "ok";
    sqlite3_finalize(check);
    if (!sound) return schema == "main" && !named.empty() ? std::string(named) : file;
  }
  return std::string(named);
}

// Why SQLite cannot open a file of `db` when a journal beside it is what it
// cannot use: SQLite never follows a symbolic link planted as a journal and
// says only "unable to open database file". Nothing when the journals are
// sound.
std::optional<Error> unusableJournal(sqlite3* db) {
  for (const auto& [schema, file] : filesOf(db)) {
    for (const char* suffix : {"-journal", "-wal"}) {
      const std::string journal = file + suffix;
      std::error_code ec;
      const fs::file_status status = fs::symlink_status(journal, ec);
      if (ec || status.type() == fs::file_type::not_found || status.type() == fs::file_type::regular) continue;
      return cannotOpenFile(
          file, "its journal '" + journal + "'" +
                    (status.type() == fs::file_type::symlink ? " is a symbolic link" : " is not a regular file") +
                    ", which the engine never uses; remove it if no program of yours made it");
    }
  }
  return std::nullopt;
}

}  // namespace

Error sqliteError(sqlite3* db, int rc, const FailureContext& context) {
  if (db && (rc & 0xff) == SQLITE_CORRUPT) return corrupt(damagedFile(db, context.file));
  if (db && (rc & 0xff) == SQLITE_CANTOPEN) {
    if (std::optional<Error> journal = unusableJournal(db)) return *journal;
  }
  return sqliteError(rc, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc), context);
}

}  // namespace oskara::db::sqlite
