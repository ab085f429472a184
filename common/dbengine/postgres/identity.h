// How a session tells the server who it is: its application_name holds the
// user, the machine and the program ("anna@PC-7 varrick"), within the
// server's 63 bytes and its printable ASCII. The active users and the holder
// of a deny-write lock are read back from it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "dbengine/user_entry.h"

namespace oskara::db::postgres {

// The advisory lock every open database holds, shared, on its schema: key
// (kPresenceLockClass, schema oid), seen in pg_locks as classid, objid and
// objsubid 1. Its holders are the schema's active users.
inline constexpr uint32_t kPresenceLockClass = 0x4F534B55;
inline int64_t presenceLockKey(uint32_t schemaOid) {
  return static_cast<int64_t>((uint64_t{kPresenceLockClass} << 32) | schemaOid);
}

// The application_name of a session of `me` in `program`.
std::string sessionName(const UserEntry& me, std::string_view program);

// The user and machine a session name gives; nothing for a session that is
// not named so.
std::optional<UserEntry> userOfSession(std::string_view applicationName);

}  // namespace oskara::db::postgres
