// A stand-in for the active-users library, built for the tests of the
// user-list routine. It does what the "database name" it is given says:
//   entries:A,,B       re-dimensions to 0 .. n-1 with these entries ("" empty)
//   bounds:L:U:A,B     re-dimensions to L .. U, the entries from L on
//   status:N           returns N, the array untouched
//   untouched          returns 0, the array as the caller prepared it
//   unallocated        frees the array and returns 0
//   dims:N             leaves the array with N dimensions and returns 0
//   option             one entry naming the option value it was given
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "userlist/ldbusr.h"

namespace {

std::vector<std::string> split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at; (at = text.find(separator, start)) != std::string_view::npos; start = at + 1)
    parts.emplace_back(text.substr(start, at - start));
  parts.emplace_back(text.substr(start));
  return parts;
}

int16_t fill(LdbStringArray* users, int32_t lower, int32_t upper, const std::string& entries) {
  if (LDBUser_Redim(users, lower, upper) != 0) return LDB_ERR_MEMORY;
  int32_t index = lower;
  for (const std::string& entry : split(entries, ',')) {
    if (index > upper) break;
    if (!entry.empty()) LDBUser_SetItem(users, index, entry.c_str());
    ++index;
  }
  return static_cast<int16_t>(upper - lower + 1);
}

}  // namespace

extern "C" int16_t LDBUser_GetUsers(LdbStringArray* users, const char* database, int option) {
  const std::string_view request(database);
  const auto after = [&](std::string_view prefix) { return std::string(request.substr(prefix.size())); };
  if (request.starts_with("entries:")) {
    const std::string entries = after("entries:");
    return fill(users, 0, static_cast<int32_t>(split(entries, ',').size()) - 1, entries);
  }
  if (request.starts_with("bounds:")) {
    const std::vector<std::string> parts = split(after("bounds:"), ':');
    return fill(users, std::atoi(parts.at(0).c_str()), std::atoi(parts.at(1).c_str()),
                parts.size() > 2 ? parts[2] : "");
  }
  if (request.starts_with("status:")) return static_cast<int16_t>(std::atoi(after("status:").c_str()));
  if (request == "untouched") return 0;
  if (request == "unallocated") {
    LDBUser_FreeArray(users);
    return 0;
  }
  if (request.starts_with("dims:")) {
    users->dims = static_cast<uint16_t>(std::atoi(after("dims:").c_str()));
    return 0;
  }
  if (request == "option") return fill(users, 0, 0, "option " + std::to_string(option));
  return LDB_ERR_ARGUMENT;
}
