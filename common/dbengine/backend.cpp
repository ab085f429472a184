#include "dbengine/backend.h"

#include "dbengine/errors.h"
#include "dbengine/identifiers.h"
#include "dbengine/locations.h"
#include "dbengine/postgres/store.h"
#include "dbengine/sqlite/store.h"

namespace oskara::db::backend {

// A PostgreSQL location opens a schema of a server database, on a connection
// of the workspace to that database when there is one; anything else is a
// database file.
// `readOnly` matters to files, whose opening may switch their journal mode;
// opening a server's schema changes nothing on the server in any case, and
// what it may write is the role's to decide.
std::unique_ptr<Store> openStore(const std::string& location, const UserEntry& me,
                                 std::span<Connection* const> open, bool readOnly) {
  if (!isServerLocation(location)) return sqlite::SqliteStore::open(location, me, readOnly);
  const postgres::ServerLocation server = postgres::parseServerLocation(location);
  std::shared_ptr<postgres::PgConnection> shared;
  for (Connection* connection : open) {
    auto* pg = dynamic_cast<postgres::PgConnection*>(connection);
    if (pg && pg->serverKey() == server.serverKey) shared = pg->shared_from_this();
  }
  return postgres::PgStore::open(server, me, std::move(shared));
}

void Statement::checkDatesOnRead(const std::vector<sql::DateReadUnchecked>&) {
  throw engineFailure("this backend does not check date fields as it reads them", {});
}

std::string insertOf(const std::string& table, const std::vector<std::string>& columns, char sign) {
  if (columns.empty()) return "INSERT INTO " + table + " DEFAULT VALUES";
  std::string names, placeholders;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i) {
      names += ", ";
      placeholders += ", ";
    }
    names += quoteIdentifier(columns[i]);
    placeholders += sign + std::to_string(i + 1);
  }
  return "INSERT INTO " + table + " (" + names + ") VALUES (" + placeholders + ")";
}

std::string assignmentsOf(const std::vector<std::string>& columns, char sign) {
  std::string assignments;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i) assignments += ", ";
    assignments += quoteIdentifier(columns[i]) + " = " + sign + std::to_string(i + 1);
  }
  return assignments;
}

}  // namespace oskara::db::backend
