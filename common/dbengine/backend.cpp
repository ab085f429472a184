#include "dbengine/backend.h"

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

}  // namespace oskara::db::backend
