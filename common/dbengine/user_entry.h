// Who holds a database open: the machine and the user, as the engine tells
// them to other users (Engine::machineName and userName) and as the user
// lists show them.
#pragma once

#include <string>

namespace oskara::db {

struct UserEntry {
  std::string machine;
  std::string user;
  bool operator==(const UserEntry&) const = default;
};

}  // namespace oskara::db
