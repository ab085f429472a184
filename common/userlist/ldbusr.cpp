// The active-users library: the live user slots of a database's
// lock-information file, read through the engine's own lock-file code
// (dbengine/sqlite/lockinfo.h: the file beside each SQLite database), which
// needs neither Qt nor the SQLite library; for a location on a PostgreSQL
// server, the sessions the server shows on its schema (postgres/users.h).
#include "userlist/ldbusr.h"

#include <fcntl.h>
#include <unistd.h>

#include <new>
#include <string>
#include <vector>

#include "core/error.h"
#include "dbengine/locations.h"
#include "dbengine/postgres/users.h"
#include "dbengine/sqlite/lockinfo.h"

namespace {

bool isReadable(const char* file) {
  const int fd = ::open(file, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// "user@machine" per live slot, in slot order; an empty entry for a slot
// whose holder has not written its names yet.
std::vector<std::string> entriesOf(const std::vector<oskara::db::UserEntry>& users) {
  std::vector<std::string> entries;
  entries.reserve(users.size());
  for (const auto& u : users)
    entries.push_back(u.machine.empty() && u.user.empty() ? std::string() : u.user + "@" + u.machine);
  return entries;
}

int16_t fillArray(LdbStringArray* users, const std::vector<std::string>& entries) {
  // Build the new array aside so that a failure leaves the caller's as it was.
  LdbStringArray built{0, 0, -1, nullptr};
  const int32_t count = static_cast<int32_t>(entries.size());
  if (LDBUser_Redim(&built, 0, count - 1) != 0) return LDB_ERR_MEMORY;
  for (int32_t i = 0; i < count; ++i) {
    if (entries[i].empty()) continue;  // stays the empty entry
    if (LDBUser_SetItem(&built, i, entries[i].c_str()) != 0) {
      LDBUser_FreeArray(&built);
      return LDB_ERR_MEMORY;
    }
  }
  LDBUser_FreeArray(users);
  *users = built;
  return static_cast<int16_t>(count);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int16_t LDBUser_GetUsers(LdbStringArray* users,
                                                                         const char* database,
                                                                         int option) {
  if (users == nullptr || database == nullptr || database[0] == '\0') return LDB_ERR_ARGUMENT;
  if (option != LDB_OPTION_CURRENT_USERS) return LDB_ERR_OPTION;
  try {
    if (oskara::db::isServerLocation(database)) {
      return fillArray(users, entriesOf(oskara::db::postgres::activeUsers(database)));
    }
  } catch (const oskara::Error&) {
    return LDB_ERR_DATABASE;  // the server cannot be asked, or has no such database
  } catch (const std::bad_alloc&) {
    return LDB_ERR_MEMORY;
  }
  if (!isReadable(database)) return LDB_ERR_DATABASE;
  try {
    return fillArray(users, entriesOf(oskara::db::LockInfoFile::activeUsers(database)));
  } catch (const std::bad_alloc&) {
    return LDB_ERR_MEMORY;
  } catch (...) {
    return LDB_ERR_LOCKFILE;  // the lock-information file exists but cannot be read
  }
}
