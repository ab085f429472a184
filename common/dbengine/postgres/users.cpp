#include "dbengine/postgres/users.h"

#include <libpq-fe.h>

#include <memory>
#include <string>

#include "core/error.h"
#include "dbengine/errors.h"
#include "dbengine/postgres/identity.h"
#include "dbengine/postgres/location.h"

namespace oskara::db::postgres {
namespace {

struct ConnectionCloser {
  void operator()(PGconn* conn) const { PQfinish(conn); }
};
struct ResultCloser {
  void operator()(PGresult* result) const { PQclear(result); }
};
using ResultPtr = std::unique_ptr<PGresult, ResultCloser>;

Error unavailable(const ServerLocation& location, std::string reason) {
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '.')) reason.pop_back();
  return Error(errc::kCannotOpenFile, "Could not read the users of '" + location.shown + "' from its server: " +
                                          scrubbed(std::move(reason), location) + ".");
}

}  // namespace

std::vector<UserEntry> activeUsers(std::string_view text) {
  const ServerLocation location = parseServerLocation(text);
  std::unique_ptr<PGconn, ConnectionCloser> conn(PQconnectdb(location.conninfo.c_str()));
  if (!conn) throw unavailable(location, "out of memory");
  if (PQstatus(conn.get()) != CONNECTION_OK) throw unavailable(location, PQerrorMessage(conn.get()));
  // The key's two halves as pg_locks shows a shared bigint advisory lock.
  const std::string lockClass = std::to_string(kPresenceLockClass);
  const char* values[] = {location.schema.c_str(), lockClass.c_str()};
  ResultPtr result(PQexecParams(
      conn.get(),
      "SELECT n.oid IS NOT NULL, a.application_name FROM (SELECT oid FROM pg_namespace WHERE lower(nspname) = "
      "lower($1) ORDER BY nspname = $1 DESC LIMIT 1) n LEFT JOIN pg_locks l ON l.locktype = 'advisory' "
      "AND l.database = (SELECT oid FROM pg_database WHERE datname = current_database()) "
      "AND l.classid = $2::bigint::oid AND l.objid = n.oid AND l.objsubid = 1 AND l.granted "
      "LEFT JOIN pg_stat_activity a ON a.pid = l.pid ORDER BY a.backend_start, a.pid",
      2, nullptr, values, nullptr, nullptr, 0));
  if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) throw unavailable(location, PQerrorMessage(conn.get()));
  if (PQntuples(result.get()) == 0)
    throw Error(errc::kFileNotFound, "Could not find the schema '" + location.schema + "' of '" + location.shown +
                                         "': its database has no such schema.");
  std::vector<UserEntry> users;
  for (int row = 0; row < PQntuples(result.get()); ++row) {
    if (PQgetisnull(result.get(), row, 1)) continue;  // the schema, without sessions
    users.push_back(userOfSession(PQgetvalue(result.get(), row, 1)).value_or(UserEntry{}));
  }
  return users;
}

}  // namespace oskara::db::postgres
