// The active-users library: reads the user slots of a database's
// lock-information file. It follows the layout documented in
// docs/database-files.md ("The lock-information file") rather than linking
// the engine, so that it stays a small library without Qt or SQLite; the
// engine's lockinfo.cpp writes the same layout.
#include "userlist/ldbusr.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr int kSlotCount = 256;
constexpr off_t kSlotSize = 64;
constexpr size_t kNameSize = 32;  // machine name, then user name, NUL-padded

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// 1: another open of the file holds the slot, 0: nobody does, -1: the lock
// cannot be tested.
int slotIsLive(int fd, int slot) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = slot * kSlotSize;
  fl.l_len = kSlotSize;
  fl.l_pid = 0;  // required for open-file-description locks
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return -1;
  return fl.l_type != F_UNLCK ? 1 : 0;
}

// The slot's "user@machine"; empty while its holder has not written its
// names yet. Bytes past the end of the (sparse) file read as zero.
std::string slotEntry(int fd, int slot) {
  char buf[kSlotSize] = {};
  size_t done = 0;
  while (done < sizeof buf) {
    ssize_t n = pread(fd, buf + done, sizeof buf - done, slot * kSlotSize + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  std::string machine(buf, strnlen(buf, kNameSize));
  std::string user(buf + kNameSize, strnlen(buf + kNameSize, kNameSize));
  if (machine.empty() && user.empty()) return {};
  return user + "@" + machine;
}

bool isReadable(const char* file) {
  Descriptor fd(::open(file, O_RDONLY | O_CLOEXEC));
  return fd.get() >= 0;
}

// The entries of the live slots in slot order, or a negative status.
int listLiveSlots(const std::string& lockFile, std::vector<std::string>& entries) {
  // Read-only: testing locks needs no write access, and a reader must never
  // create the file (a missing file means nobody has the database open).
  Descriptor fd(::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return errno == ENOENT ? 0 : LDB_ERR_LOCKFILE;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    // Names left in an unlocked slot belong to a process that has ended.
    const int live = slotIsLive(fd.get(), slot);
    if (live < 0) return LDB_ERR_LOCKFILE;
    if (live) entries.push_back(slotEntry(fd.get(), slot));
  }
  return 0;
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
  if (!isReadable(database)) return LDB_ERR_DATABASE;
  try {
    std::vector<std::string> entries;
    const int status = listLiveSlots(std::string(database) + "-lock", entries);
    if (status < 0) return static_cast<int16_t>(status);
    return fillArray(users, entries);
  } catch (const std::bad_alloc&) {
    return LDB_ERR_MEMORY;
  }
}
