#include "dbengine/sqlite/lockinfo.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "core/env.h"
#include "dbengine/errors.h"

// Byte layout of the file (docs/database-files.md, "The lock-information
// file", is the reference for other readers; keep the two in step):
//
//   [0, 16384)            256 user slots of 64 bytes: machine name (32 bytes),
//                         user name (32 bytes), UTF-8, at most 31 bytes of text
//                         then NULs. A slot is live while some open file
//                         description holds a write lock on its 64 bytes.
//   [65536, 65536 + 2^21) 2^20 table entries of 2 bytes. Entry n belongs to the
//                         tables whose lower-cased name hashes (FNV-1a, 64 bit)
//                         to n modulo 2^20. A deny-write lock is a write lock on
//                         the entry's 2 bytes; the bytes hold the holder's slot
//                         number plus one, little-endian (0: not known).
//
// The file is sparse: only the slots and entries ever written take space.

namespace oskara::db {
namespace {

constexpr int kSlotCount = 256;
constexpr off_t kSlotSize = 64;
constexpr size_t kNameSize = 32;  // per name, the last byte always a NUL
constexpr off_t kTableRegion = 65536;
constexpr uint64_t kTableEntries = uint64_t{1} << 20;
constexpr off_t kTableEntrySize = 2;

off_t slotOffset(int slot) { return static_cast<off_t>(slot) * kSlotSize; }

std::string lowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

off_t tableEntryOffset(std::string_view lowerName) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : lowerName) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return kTableRegion + static_cast<off_t>(h % kTableEntries) * kTableEntrySize;
}

// At most kNameSize - 1 bytes, never ending inside a UTF-8 sequence, so that a
// reader always finds a terminating NUL and valid text.
std::string_view cutName(std::string_view name) {
  name = name.substr(0, name.find('\0'));
  if (name.size() < kNameSize) return name;
  size_t n = kNameSize - 1;
  while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
  return name.substr(0, n);
}

std::string nameAt(const char* field) { return std::string(field, strnlen(field, kNameSize)); }

std::string systemReason(int err) { return std::strerror(err); }

struct flock lockRange(short type, off_t start, off_t len) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = len;
  fl.l_pid = 0;  // must be 0 for open-file-description locks
  return fl;
}

// True when the range was locked, false when another open file description
// holds a conflicting lock; any other failure is returned as an errno value
// in `err`.
bool trySetLock(int fd, short type, off_t start, off_t len, int& err) {
  struct flock fl = lockRange(type, start, len);
  const int error = Env::current().lock(fd, F_OFD_SETLK, fl);
  if (error == 0) return true;
  err = (error == EAGAIN || error == EACCES) ? 0 : error;
  return false;
}

// True when an open file description other than the one behind `fd` holds a
// lock on any byte of the range.
bool isLockedByOther(int fd, off_t start, off_t len) {
  struct flock fl = lockRange(F_WRLCK, start, len);
  if (Env::current().lock(fd, F_OFD_GETLK, fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

// Reads up to `size` bytes; what lies past the end of the file, or cannot be
// read, reads as NULs.
void readZeroFilled(int fd, void* data, size_t size, off_t offset) {
  std::memset(data, 0, size);
  size_t done = 0;
  (void)Env::current().read(fd, data, size, offset, done);
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) Env::current().close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// Opens the lock-information file with `flags` added to the ones every open
// gets. It is opened without following a symbolic link and used only when it
// is a regular file: anybody who may write in a shared folder could plant a
// link there to a file of another user, and the engine writes into what it
// opens. (Where the system protects hard links, planting one needs write
// access to its target already, so a file with several names is accepted.)
// O_NONBLOCK keeps a planted FIFO from hanging the open; it changes nothing
// for a regular file. Returns the descriptor, or -1
// when the file does not exist and `flags` do not create it; throws 3051
// naming the file for anything else.
int openLockFile(const std::string& path, int flags) {
  int fd = -1;
  const int error = Env::current().open(path, flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666, fd);
  if (error == ENOENT && !(flags & O_CREAT)) return -1;
  if (error == ELOOP)
    throw cannotOpenFile(path, "it is a symbolic link, and only a regular file is used as a lock-information file");
  if (error != 0) throw cannotOpenFile(path, systemReason(error));
  FileDescriptor guard(fd);
  struct stat st {};
  if (int statError = Env::current().fstat(fd, st)) throw cannotOpenFile(path, systemReason(statError));
  if (!S_ISREG(st.st_mode))
    throw cannotOpenFile(path, "it is not a regular file, and only a regular file is used as a lock-information file");
  return guard.release();
}

UserEntry readSlotNames(int fd, int slot) {
  std::array<char, kSlotSize> buf;
  readZeroFilled(fd, buf.data(), buf.size(), slotOffset(slot));
  return {nameAt(buf.data()), nameAt(buf.data() + kNameSize)};
}

}  // namespace

struct LockInfoFile::Impl {
  // Constant after join.
  std::string path;        // the lock-information file
  FileDescriptor fd;       // our own open file description: owns every lock below
  int slot = -1;           // the user slot we hold

  // The table entries we hold, each with the lower-cased names taken on it
  // (two names may share an entry; it is given back with the last of them).
  std::map<off_t, std::set<std::string>> tables;

  Impl(std::string p, int descriptor) : path(std::move(p)), fd(descriptor) {}

  void writeHolder(off_t entry, uint16_t value) const {
    const unsigned char bytes[2] = {static_cast<unsigned char>(value & 0xFF),
                                    static_cast<unsigned char>(value >> 8)};
    (void)Env::current().write(fd.get(), bytes, sizeof bytes, entry);
  }

  // The user holding a table entry, when its slot number is written and that
  // slot is still live; an empty entry otherwise (the holder may be between
  // taking the lock and writing its number).
  UserEntry holderOf(off_t entry) const {
    unsigned char bytes[2];
    readZeroFilled(fd.get(), bytes, sizeof bytes, entry);
    int holder = (bytes[0] | (bytes[1] << 8)) - 1;
    if (holder < 0 || holder >= kSlotCount || holder == slot) return {};
    if (!isLockedByOther(fd.get(), slotOffset(holder), kSlotSize)) return {};
    return readSlotNames(fd.get(), holder);
  }

  void release(off_t entry) const {
    // Clear the holder first so that a refused caller never names a user who
    // has already let go.
    writeHolder(entry, 0);
    struct flock fl = lockRange(F_UNLCK, entry, kTableEntrySize);
    (void)Env::current().lock(fd.get(), F_OFD_SETLK, fl);
  }
};

std::string LockInfoFile::pathFor(std::string_view databasePath) {
  return std::string(databasePath) + "-lock";
}

// The file is created when missing and never deleted. Deleting it would race
// with a process that has opened it but not yet locked its slot: that process
// would go on locking a file no longer in the folder while the next one creates
// a fresh file, and the two would no longer see each other's locks.
std::unique_ptr<LockInfoFile> LockInfoFile::join(std::string_view databasePath, const UserEntry& me) {
  std::string path = pathFor(databasePath);
  // O_CLOEXEC (always given): a program started from this process must not
  // inherit our slot.
  const int fd = openLockFile(path, O_RDWR | O_CREAT);
  auto impl = std::make_unique<Impl>(path, fd);

  for (int slot = 0; slot < kSlotCount; ++slot) {
    int err = 0;
    if (!trySetLock(fd, F_WRLCK, slotOffset(slot), kSlotSize, err)) {
      if (err != 0) throw cannotOpenFile(path, "cannot lock a user slot: " + systemReason(err));
      continue;
    }
    std::array<char, kSlotSize> buf{};
    std::string_view machine = cutName(me.machine);
    std::string_view user = cutName(me.user);
    std::memcpy(buf.data(), machine.data(), machine.size());
    std::memcpy(buf.data() + kNameSize, user.data(), user.size());
    if (int error = Env::current().write(fd, buf.data(), buf.size(), slotOffset(slot))) {
      throw cannotOpenFile(path, "cannot write a user slot: " + systemReason(error));
    }
    impl->slot = slot;
    return std::make_unique<LockInfoFile>(std::move(impl));
  }
  throw cannotOpenFile(path, "all " + std::to_string(kSlotCount) + " user slots are taken");
}

std::vector<UserEntry> LockInfoFile::activeUsers(std::string_view databasePath) {
  std::string path = pathFor(databasePath);
  // Testing for locks needs no write access, and reading must not create the file.
  const int descriptor = openLockFile(path, O_RDONLY);
  if (descriptor < 0) return {};
  FileDescriptor fd(descriptor);
  std::vector<UserEntry> users;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    // Names left in a slot that is not locked belong to a user who has gone.
    if (isLockedByOther(fd.get(), slotOffset(slot), kSlotSize)) {
      users.push_back(readSlotNames(fd.get(), slot));
    }
  }
  return users;
}

LockInfoFile::LockInfoFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

LockInfoFile::~LockInfoFile() {
  for (const auto& [entry, names] : impl_->tables) impl_->release(entry);
  // Clear our names so that a reader that ignores locks sees no ghost; closing
  // the descriptor then gives the slot lock back.
  const std::array<char, kSlotSize> zeros{};
  (void)Env::current().write(impl_->fd.get(), zeros.data(), zeros.size(), slotOffset(impl_->slot));
}

int LockInfoFile::slot() const { return impl_->slot; }

std::optional<UserEntry> LockInfoFile::tryLockTable(std::string_view table) {
  std::string name = lowerAscii(table);
  off_t entry = tableEntryOffset(name);
  auto held = impl_->tables.find(entry);
  if (held != impl_->tables.end()) {
    held->second.insert(std::move(name));
    return std::nullopt;
  }
  int err = 0;
  if (!trySetLock(impl_->fd.get(), F_WRLCK, entry, kTableEntrySize, err)) {
    if (err != 0) {
      throw cannotOpenFile(impl_->path, "cannot lock table '" + std::string(table) + "': " + systemReason(err));
    }
    return impl_->holderOf(entry);
  }
  impl_->writeHolder(entry, static_cast<uint16_t>(impl_->slot + 1));
  impl_->tables[entry].insert(std::move(name));
  return std::nullopt;
}

void LockInfoFile::unlockTable(std::string_view table) {
  std::string name = lowerAscii(table);
  off_t entry = tableEntryOffset(name);
  auto held = impl_->tables.find(entry);
  if (held == impl_->tables.end() || held->second.erase(name) == 0) return;
  if (held->second.empty()) {
    impl_->release(entry);
    impl_->tables.erase(held);
  }
}

}  // namespace oskara::db
