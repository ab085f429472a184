// FaultEnv: an Env for tests, installed over the Env in force while it lives.
// It counts the operations on files, fails the Nth operation of a kind,
// refuses locks as if another process held them, and lets every wait pass at
// once. It sees the engine layer's own files and, through the engine's VFS,
// SQLite's database and journal files, so that
//
//   FaultEnv faults;
//   faults.failNth(FileOp::Write, 3, EIO, "dt.db");
//
// makes the third write to dt.db (or its journal) from now fail with EIO.
#pragma once

#include <array>
#include <cerrno>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "core/env.h"

namespace oskara::test_support {

class FaultEnv : public EnvWrapper {
 public:
  FaultEnv();
  FaultEnv(const FaultEnv&) = delete;
  FaultEnv& operator=(const FaultEnv&) = delete;

  // The `nth` operation `op` from now (1: the next one) on a file whose path
  // contains `pathPart` fails with `error`; the operations after it run.
  // Replaces an earlier plan.
  void failNth(FileOp op, int nth, int error = EIO, std::string pathPart = {});
  bool failed() const { return plan_.failed; }  // the planned failure has happened

  // Every lock taken from now on a file whose path contains `pathPart` is
  // refused, as while another process holds it ("" stops refusing).
  void refuseLocks(std::string pathPart) { refusedLocks_ = std::move(pathPart); }

  // Operations `op` seen on files whose path contains `pathPart`.
  int count(FileOp op, std::string_view pathPart = {}) const;

  int open(const std::string& path, int flags, mode_t mode, int& fd) override;
  void close(int fd) override;
  int read(int fd, void* data, size_t size, off_t offset, size_t& done) override;
  int write(int fd, const void* data, size_t size, off_t offset) override;
  int lock(int fd, int command, struct flock& range) override;
  int beforeIo(FileOp op, std::string_view path) override;
  void sleep(std::chrono::microseconds) override {}

 private:
  // Counts `op` on `path`; the error it fails with, or 0.
  int see(FileOp op, std::string_view path);
  std::string pathOf(int fd) const;

  struct Plan {
    FileOp op = FileOp::Open;
    int nth = 0;  // 0: no failure planned
    int error = 0;
    std::string pathPart;
    int seen = 0;
    bool failed = false;
  };
  Plan plan_;
  std::string refusedLocks_;  // "" refuses none
  // Per operation, the count per path.
  std::array<std::map<std::string, int, std::less<>>, static_cast<size_t>(FileOp::Delete) + 1> counts_;
  std::map<int, std::string> paths_;  // of the files opened through this Env
  EnvOverride override_;  // last: installs this Env once the rest is made
};

}  // namespace oskara::test_support
