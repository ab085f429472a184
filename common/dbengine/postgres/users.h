// The active users of a database on a PostgreSQL server, read from the
// server: the sessions that hold the presence lock of the location's schema
// (identity.h), each named by its application_name. Needs no other part of
// the engine (the active-users library links it).
#pragma once

#include <string_view>
#include <vector>

#include "dbengine/user_entry.h"

namespace oskara::db::postgres {

// One entry per session, oldest first; an empty entry for a session that
// does not name its user. Throws 3044 for a location libpq cannot read and
// 3051 when the server cannot be asked, naming the location without its
// password; 3024 when the schema does not exist. Changes nothing.
std::vector<UserEntry> activeUsers(std::string_view location);

}  // namespace oskara::db::postgres
