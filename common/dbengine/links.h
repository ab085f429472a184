// Linked tables: the rows of a database's sys_links table, each making a
// table of another file usable under a name of this database. Every distinct
// linked file is attached once to the database's connection as its own
// schema, so statements join linked and local tables freely and a transaction
// on the connection covers writes through links.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.h"

namespace oskara::db {

struct LinkedFile {
  std::string path;              // absolute path of the file
  std::string schema;            // SQLite schema it is attached as; empty when not attached
  bool readOnly = false;         // this process may not write the file
  std::optional<Error> failure;  // why it is not attached (missing file, not a database, ...)
};

struct Link {
  std::string name;         // the name statements use, as stored
  std::string sourceTable;  // the table's name in the linked file
  size_t file = 0;          // index into Links::files()
};

class Links {
 public:
  // Reads sys_links of the database open on `db` (none when the table is
  // absent) and attaches each linked file. Paths are relative to the folder
  // of `databasePath` unless absolute. A link whose file cannot be attached
  // does not fail here: its failure is raised when a statement uses it.
  static Links attach(sqlite3* db, const std::string& databasePath);

  const Link* find(std::string_view name) const;  // without regard to case
  const std::vector<Link>& links() const { return links_; }
  const std::vector<LinkedFile>& files() const { return files_; }
  bool isReadOnlySchema(std::string_view schema) const;

 private:
  std::vector<Link> links_;
  std::vector<LinkedFile> files_;
};

}  // namespace oskara::db
