// Where a database is: a file path, or a location on a PostgreSQL server (a
// libpq connection URI, postgresql://[user[:password]@][host][:port]/dbname
// ?schema=NAME, also postgres://). Whatever shows a location to a person or
// puts it into a text uses shownLocation(), which leaves out the password.
#pragma once

#include <string>
#include <string_view>

namespace oskara::db {

// Whether `location` names a database on a PostgreSQL server rather than a file.
bool isServerLocation(std::string_view location);

// The location as it may be shown: a server location without its password
// (in the user part or as a password parameter); a file path as it is.
std::string shownLocation(std::string_view location);

}  // namespace oskara::db
