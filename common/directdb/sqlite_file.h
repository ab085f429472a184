// SqliteFile: a direct SQLite connection to one existing database file,
// bypassing the engine: plain SQLite SQL, no dialect, no links. It is how the
// administration tool fills new files in bulk and how test fixtures set up and
// inspect files, where going through the engine would be slow or would test
// the engine with itself. Values bind by the file conventions
// (docs/database-files.md): booleans as 0/1, dates as ISO text, Null and
// Empty as NULL.
//
// This folder holds such direct connections, one per kind of database the
// engine can open; none of them knows the application's tables.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

#include "core/variant.h"

struct sqlite3;

namespace oskara::directdb {

// Failures throw oskara::Error (3051 opening, 3000 for a statement) with the
// file or the statement in the text.
class SqliteFile {
 public:
  // Opens an existing file read-write; a missing file is an error, never a new database.
  explicit SqliteFile(const std::filesystem::path& file);
  ~SqliteFile();
  SqliteFile(const SqliteFile&) = delete;
  SqliteFile& operator=(const SqliteFile&) = delete;

  // Runs one or more statements that return no rows.
  void exec(std::string_view sql);
  // Runs one statement with ?1, ?2, ... bound to `params`; returns rows changed.
  int64_t exec(std::string_view sql, std::initializer_list<Variant> params);
  // INSERT of one row; returns its rowid.
  int64_t insert(std::string_view table,
                 std::initializer_list<std::pair<std::string_view, Variant>> fields);
  // Same, with the fields in a list made at run time.
  int64_t insert(std::string_view table,
                 const std::vector<std::pair<std::string_view, Variant>>& fields);
  // All rows of a query: INTEGER as the narrowest whole-number Variant,
  // REAL as Double, TEXT as String, NULL as Null.
  std::vector<std::vector<Variant>> query(std::string_view sql,
                                          std::initializer_list<Variant> params = {});

  sqlite3* handle() { return db_; }
  const std::filesystem::path& path() const { return path_; }

 private:
  template <class Fields>
  int64_t insertFields(std::string_view table, const Fields& fields);

  std::filesystem::path path_;
  sqlite3* db_ = nullptr;  // owned; closed by the destructor
};

}  // namespace oskara::directdb
