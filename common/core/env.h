// Env: the operating system as the servers' lower layers use it, behind one
// interface that tests replace. Everything the engine layer does with files,
// byte-range locks, waiting and the clock goes through the Env in force:
//
//  - files of its own (the lock-information files) and path checks through
//    the plain file operations below;
//  - the files that SQLite reads and writes itself (databases, journals),
//    through the engine's SQLite VFS, which asks beforeIo() ahead of each
//    operation and sleeps through sleep();
//  - the current date and time through clock(), which currentClock()
//    (core/clock.h) answers from.
//
// The default Env is the real one. A test installs another with EnvOverride,
// usually an EnvWrapper that passes most calls on to the Env it replaced and
// fails or refuses the ones the test is about (core/testing/fault_env.h).
// Results are 0 or an errno value, never -1 with errno set.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace oskara {

class Clock;

// The operations an Env sees, for counting and failing them.
enum class FileOp : uint8_t {
  Open,
  Read,
  Write,
  Sync,
  Truncate,
  Lock,    // taking a lock (never giving one back)
  Delete,  // the last
};

class Env {
 public:
  virtual ~Env() = default;

  // The Env in force: the real one unless a test installed another.
  static Env& current();

  // Paths.
  virtual int stat(const std::string& path, struct stat& st);
  virtual int access(const std::string& path, int mode);  // as access(2)

  // Files read and written by the engine layer itself, as open(2), close(2),
  // pread(2), pwrite(2) and fcntl(2) locks. read() reads up to `size` bytes
  // and says how many in `done` (fewer only at the end of the file); write()
  // writes all of them or fails.
  virtual int open(const std::string& path, int flags, mode_t mode, int& fd);
  virtual void close(int fd);
  virtual int fstat(int fd, struct stat& st);  // as fstat(2)
  virtual int read(int fd, void* data, size_t size, off_t offset, size_t& done);
  virtual int write(int fd, const void* data, size_t size, off_t offset);
  // `command` is F_OFD_SETLK (take or give back a lock; EAGAIN when another
  // open file description holds a conflicting one) or F_OFD_GETLK.
  virtual int lock(int fd, int command, struct flock& range);

  // Files that SQLite reads and writes itself: asked before each operation
  // on `path` ("" for a temporary file). 0 lets the operation run; an errno
  // value fails it as if the system had (EAGAIN on Lock: another process
  // holds the file).
  virtual int beforeIo(FileOp op, std::string_view path);

  // Waiting, such as SQLite's wait for another user's lock.
  virtual void sleep(std::chrono::microseconds duration);

  // The clock: the system's local clock.
  virtual const Clock& clock() const;
};

// An Env that passes every call on to `target`; subclasses override what
// they change.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env& target) : target_(target) {}
  Env& target() const { return target_; }

  int stat(const std::string& path, struct stat& st) override { return target_.stat(path, st); }
  int access(const std::string& path, int mode) override { return target_.access(path, mode); }
  int open(const std::string& path, int flags, mode_t mode, int& fd) override {
    return target_.open(path, flags, mode, fd);
  }
  void close(int fd) override { target_.close(fd); }
  int fstat(int fd, struct stat& st) override { return target_.fstat(fd, st); }
  int read(int fd, void* data, size_t size, off_t offset, size_t& done) override {
    return target_.read(fd, data, size, offset, done);
  }
  int write(int fd, const void* data, size_t size, off_t offset) override {
    return target_.write(fd, data, size, offset);
  }
  int lock(int fd, int command, struct flock& range) override { return target_.lock(fd, command, range); }
  int beforeIo(FileOp op, std::string_view path) override { return target_.beforeIo(op, path); }
  void sleep(std::chrono::microseconds duration) override { target_.sleep(duration); }
  const Clock& clock() const override { return target_.clock(); }

 private:
  Env& target_;
};

// Installs `env` as the Env in force for the lifetime of this object (tests
// only; not thread-safe). Overrides nest and must end in reverse order.
class EnvOverride {
 public:
  explicit EnvOverride(Env& env);
  ~EnvOverride();
  EnvOverride(const EnvOverride&) = delete;
  EnvOverride& operator=(const EnvOverride&) = delete;

 private:
  Env* previous_;  // null: the real Env
};

}  // namespace oskara
