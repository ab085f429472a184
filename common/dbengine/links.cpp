#include "dbengine/links.h"

#include <filesystem>

#include "dbengine/connection.h"
#include "dbengine/identifiers.h"
#include "dbengine/sqlite_errors.h"

namespace oskara::db {
namespace {

namespace fs = std::filesystem;

struct LinkRow {
  std::string name, database, sourceTable;
};

bool hasLinkTable(sqlite3* db) {
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(
      db, "SELECT 1 FROM main.sqlite_schema WHERE type='table' AND name='sys_links' COLLATE NOCASE", -1,
      &stmt, nullptr);
  bool found = rc == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW;
  sqlite3_finalize(stmt);
  return found;
}

std::vector<LinkRow> readLinkRows(sqlite3* db, const std::string& databasePath) {
  std::vector<LinkRow> rows;
  if (!hasLinkTable(db)) return rows;
  sqlite3_stmt* stmt = nullptr;
  const char* sql = "SELECT name, database, source_table FROM main.sys_links";
  int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
  auto text = [&](int i) {
    const unsigned char* t = sqlite3_column_text(stmt, i);
    return t ? std::string(reinterpret_cast<const char*>(t)) : std::string();
  };
  while (rc == SQLITE_OK && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    rows.push_back({text(0), text(1), text(2)});
    rc = SQLITE_OK;
  }
  if (rc != SQLITE_DONE) {
    Error error = sqliteError(db, rc, {databasePath, "sys_links", sql});
    sqlite3_finalize(stmt);
    throw error;
  }
  sqlite3_finalize(stmt);
  return rows;
}

// The absolute, normalised path of a link target; relative targets start at
// the folder of the linking file.
std::string resolveTarget(const std::string& target, const std::string& databasePath) {
  fs::path p(target);
  if (p.is_relative()) p = fs::path(databasePath).parent_path() / p;
  std::error_code ec;
  fs::path absolute = fs::absolute(p, ec);
  if (ec) absolute = p;
  fs::path canonical = fs::weakly_canonical(absolute, ec);
  return (ec ? absolute.lexically_normal() : canonical).string();
}

void attachFile(sqlite3* db, LinkedFile& file, const std::string& schema) {
  try {
    checkFilePath(file.path);
  } catch (const Error& e) {
    file.failure = e;
    return;
  }
  file.readOnly = isReadOnlyFile(file.path);
  const FailureContext context{file.path, {}, {}};
  const std::string attach = "ATTACH DATABASE ?1 AS " + quoteIdentifier(schema);
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(db, attach.c_str(), -1, &stmt, nullptr);
  if (rc == SQLITE_OK) {
    const std::string uri = fileUri(file.path, file.readOnly);
    sqlite3_bind_text(stmt, 1, uri.c_str(), -1, SQLITE_TRANSIENT);
    rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE) rc = SQLITE_OK;
  }
  if (rc != SQLITE_OK) {
    file.failure = sqliteError(db, rc, context);
    sqlite3_finalize(stmt);
    return;
  }
  sqlite3_finalize(stmt);
  // Read the schema now so that a file that is not a database is told at once.
  const std::string q = quoteIdentifier(schema);
  rc = execSql(db, ("SELECT count(*) FROM " + q + ".sqlite_schema").c_str());
  if (rc == SQLITE_OK) {
    execSql(db, ("PRAGMA " + q + ".journal_mode=DELETE").c_str());
    rc = execSql(db, ("PRAGMA " + q + ".cache_size=-65536").c_str());
  }
  if (rc != SQLITE_OK) {
    file.failure = sqliteError(db, rc, context);
    execSql(db, ("DETACH DATABASE " + q).c_str());
    return;
  }
  file.schema = schema;
}

}  // namespace

Links Links::attach(sqlite3* db, const std::string& databasePath) {
  Links result;
  for (LinkRow& row : readLinkRows(db, databasePath)) {
    const std::string path = resolveTarget(row.database, databasePath);
    size_t index = 0;
    while (index < result.files_.size() && result.files_[index].path != path) ++index;
    if (index == result.files_.size()) {
      LinkedFile file;
      file.path = path;
      attachFile(db, file, "link" + std::to_string(index + 1));
      result.files_.push_back(std::move(file));
    }
    result.links_.push_back({std::move(row.name), std::move(row.sourceTable), index});
  }
  return result;
}

const Link* Links::find(std::string_view name) const {
  for (const Link& link : links_) {
    if (sameName(link.name, name)) return &link;
  }
  return nullptr;
}

bool Links::isReadOnlySchema(std::string_view schema) const {
  for (const LinkedFile& file : files_) {
    if (file.schema == schema) return file.readOnly;
  }
  return false;
}

}  // namespace oskara::db
