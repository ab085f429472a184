// Linked tables: the rows of a database's sys_links table, each making a
// table of another database usable under a name of this one. The backend
// makes every distinct linked database reachable from the database's
// connection as a schema of its own (SQLite attaches the file), so that
// statements join linked and local tables freely and a transaction on the
// connection covers writes through links.
#pragma once

#include "dbengine/internal.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.h"

namespace oskara::db {

struct LinkedDatabase {
  std::string location;          // where it is (a file: its absolute path)
  std::string schema;            // the schema it is reachable as; empty when it is not
  bool readOnly = false;         // this process may not write it
  std::optional<Error> failure;  // why it is not reachable (missing file, not a database, ...)
};

struct Link {
  std::string name;         // the name statements use, as stored
  std::string sourceTable;  // the table's name in the linked database
  size_t database = 0;      // index into Links::databases
};

struct Links {
  std::vector<Link> links;                  // in the order of sys_links
  std::vector<LinkedDatabase> databases;    // each linked database once

  const Link* find(std::string_view name) const;  // without regard to case
  bool isReadOnlySchema(std::string_view schema) const;
};

}  // namespace oskara::db
