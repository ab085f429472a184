#include "dbengine/sqlite/sqlite_errors.h"

#include <string>

#include "dbengine/errors.h"
#include "dbengine/sql/sqlite_failures.h"

namespace oskara::db::sqlite {
namespace {

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

Error sqliteError(sqlite3* db, int rc, const FailureContext& context) {
  return sqliteError(rc, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc), context);
}

}  // namespace oskara::db::sqlite
