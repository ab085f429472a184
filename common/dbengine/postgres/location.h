// A location on a PostgreSQL server, taken apart: what libpq is given, the
// schema that is the database, how the location is shown, what tells two
// locations on the same server database apart, and why a connection to it
// failed. Shared by the PostgreSQL backend, the active-users library and the
// tool's direct sessions (which need no other part of the engine).
#pragma once

#include <string>
#include <string_view>

#include "core/error.h"

namespace oskara::db::postgres {

inline constexpr std::string_view kDefaultSchema = "public";

struct ServerLocation {
  std::string conninfo;     // the URI for libpq: the location without its schema parameter
  std::string schema;       // the schema that is the database (kDefaultSchema when none is named)
  std::string shown;        // the location without its password, for every text
  std::string password;     // the password the location itself carries (decoded), "" when none
  // libpq's options after its defaults (environment, compiled-in), without
  // the password: locations with the same key reach the same server database
  // as the same role, and share one connection.
  std::string serverKey;
  // Host, port and database name after libpq's defaults: locations with the
  // same key are schemas of one server database.
  std::string databaseKey;
};

// Takes a postgresql:// or postgres:// location apart. Throws 3044 naming the
// location (without its password) when libpq cannot read it.
ServerLocation parseServerLocation(std::string_view location);

// `text` without the location's password, wherever it occurs (a message of
// libpq or the server may quote the connection string).
std::string scrubbed(std::string text, const ServerLocation& location);

// A message of libpq or the server as one sentence: without its severity
// prefixes, line breaks and final full stop.
std::string serverReason(std::string_view message);

// Why the connection to `location` could not be made: 3044 when the server
// cannot be reached, 3024 when it has no such database, 3051 otherwise (a
// refused role or password, ...), with the server's or libpq's reason.
Error connectionFailure(const ServerLocation& location, std::string_view reason);

// A link's way of naming a schema of its own database: "?schema=NAME". The
// schema, or "" when `link` is not of that form.
std::string sameDatabaseSchema(std::string_view link);

}  // namespace oskara::db::postgres
