#include "varrick/user_list.h"

#include <dlfcn.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "userlist/ldbusr.h"

namespace varrick {

namespace {

using GetUsersEntry = int16_t (*)(LdbStringArray*, const char*, int);

// Bound at the first call and kept for the life of the process; a library
// that cannot be loaded or bound is tried again at the next call.
struct Binding {
  UserLibrary library;
  void* handle = nullptr;       // from dlopen, null until bound
  GetUsersEntry entry = nullptr;

  void drop() {
    if (handle) dlclose(handle);
    handle = nullptr;
    entry = nullptr;
  }
};

Binding& binding() {
  static Binding b;
  return b;
}

// The library file as dlopen should get it: next to the program when a file
// of that name is there, otherwise the bare name for dlopen's own search.
std::string locate(const std::string& file) {
  if (file.find('/') != std::string::npos) return file;
  std::error_code ec;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const std::filesystem::path beside = program.parent_path() / file;
    if (std::filesystem::exists(beside, ec)) return beside.string();
  }
  return file;
}

GetUsersEntry boundEntry() {
  Binding& b = binding();
  if (b.entry) return b.entry;
  b.drop();
  b.handle = dlopen(locate(b.library.file).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!b.handle) throw std::runtime_error(dlerror());
  b.entry = reinterpret_cast<GetUsersEntry>(dlsym(b.handle, b.library.entry.c_str()));
  if (!b.entry) {
    b.drop();
    throw std::runtime_error("the user-list library has no entry " + b.library.entry);
  }
  return b.entry;
}

// Frees whatever the library left in the array, on every path.
struct ArrayOwner {
  LdbStringArray array{0, 0, -1, nullptr};
  ~ArrayOwner() { LDBUser_FreeArray(&array); }
};

constexpr int kCurrentUsers = LDB_OPTION_CURRENT_USERS;
constexpr const char* kFailed = "-1";

// The array index is a 16-bit integer: both bounds must fit it, and the
// upper one must leave room for the step past it that ends the walk.
bool boundsFitIndex(const LdbStringArray& a) {
  return a.lower >= INT16_MIN && a.lower <= INT16_MAX && a.upper >= INT16_MIN && a.upper < INT16_MAX;
}

}  // namespace

UserLibrary setUserLibrary(UserLibrary library) {
  Binding& b = binding();
  b.drop();
  UserLibrary previous = std::move(b.library);
  b.library = std::move(library);
  return previous;
}

std::string GetDbUsers(const std::string& dbPath) {
  try {
    const GetUsersEntry getUsers = boundEntry();
    ArrayOwner users;
    if (LDBUser_Redim(&users.array, 0, 1) != 0) return kFailed;  // two empty entries

    if (getUsers(&users.array, dbPath.c_str(), kCurrentUsers) < 0) return kFailed;

    const LdbStringArray& a = users.array;
    if (a.dims != 1 || !boundsFitIndex(a)) return kFailed;
    if (a.upper >= a.lower && a.items == nullptr) return kFailed;
    std::string list;
    for (int32_t i = a.lower; i <= a.upper; ++i) {
      const char* entry = a.items[i - a.lower];
      if (entry == nullptr || *entry == '\0') continue;
      // Also drops an entry that is only part of one taken earlier.
      if (list.find(entry) != std::string::npos) continue;
      if (!list.empty()) list += ';';
      list += entry;
    }
    return list;
  } catch (...) {
    return kFailed;
  }
}

}  // namespace varrick
