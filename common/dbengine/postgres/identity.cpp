#include "dbengine/postgres/identity.h"

namespace oskara::db::postgres {
namespace {

// What the server keeps of an application_name.
constexpr size_t kMaxName = 63;

// Blanks and '@' separate the parts; the server turns what is not printable
// ASCII into '?' anyway.
std::string part(std::string_view text) {
  std::string out;
  for (char c : text) {
    const bool printable = c > ' ' && c < 127 && c != '@';
    out += printable ? c : '_';
  }
  return out;
}

}  // namespace

std::string sessionName(const UserEntry& me, std::string_view program) {
  std::string user = part(me.user), machine = part(me.machine);
  // The program goes first when the name is too long, then the machine's tail.
  std::string name = user + "@" + machine;
  if (name.size() > kMaxName) {
    user = user.substr(0, 24);
    machine = machine.substr(0, kMaxName - 1 - user.size());
    return user + "@" + machine;
  }
  const std::string tail = " " + part(program);
  if (!program.empty() && name.size() + tail.size() <= kMaxName) name += tail;
  return name;
}

std::optional<UserEntry> userOfSession(std::string_view applicationName) {
  const std::string_view identity = applicationName.substr(0, applicationName.find(' '));
  const size_t at = identity.find('@');
  if (at == std::string_view::npos) return std::nullopt;
  return UserEntry{std::string(identity.substr(at + 1)), std::string(identity.substr(0, at))};
}

}  // namespace oskara::db::postgres
