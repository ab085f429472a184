#include "core/testing/fault_env.h"

#include <filesystem>

namespace oskara::test_support {

FaultEnv::FaultEnv() : EnvWrapper(Env::current()), override_(*this) {}

void FaultEnv::failNth(FileOp op, int nth, int error, std::string pathPart) {
  plan_ = Plan{op, nth, error, std::move(pathPart)};
}

int FaultEnv::count(FileOp op, std::string_view pathPart) const {
  int total = 0;
  for (const auto& [path, n] : counts_[static_cast<size_t>(op)]) {
    if (path.find(pathPart) != std::string::npos) total += n;
  }
  return total;
}

int FaultEnv::see(FileOp op, std::string_view path) {
  auto& counts = counts_[static_cast<size_t>(op)];
  auto it = counts.find(path);
  if (it == counts.end()) it = counts.emplace(std::string(path), 0).first;
  ++it->second;
  if (op == FileOp::Lock && !refusedLocks_.empty() && path.find(refusedLocks_) != std::string_view::npos)
    return EAGAIN;
  if (plan_.nth == 0 || plan_.op != op || path.find(plan_.pathPart) == std::string_view::npos) return 0;
  if (++plan_.seen != plan_.nth) return 0;
  plan_.failed = true;
  return plan_.error;
}

std::string FaultEnv::pathOf(int fd) const {
  if (auto it = paths_.find(fd); it != paths_.end()) return it->second;
  // A file opened before this Env was installed: as the system names it.
  std::error_code ec;
  std::string path = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), ec).string();
  return ec ? std::string() : path;
}

int FaultEnv::open(const std::string& path, int flags, mode_t mode, int& fd) {
  if (int error = see(FileOp::Open, path)) return error;
  const int error = EnvWrapper::open(path, flags, mode, fd);
  if (error == 0) paths_[fd] = path;
  return error;
}

void FaultEnv::close(int fd) {
  paths_.erase(fd);
  EnvWrapper::close(fd);
}

int FaultEnv::read(int fd, void* data, size_t size, off_t offset, size_t& done) {
  if (int error = see(FileOp::Read, pathOf(fd))) return error;
  return EnvWrapper::read(fd, data, size, offset, done);
}

int FaultEnv::write(int fd, const void* data, size_t size, off_t offset) {
  if (int error = see(FileOp::Write, pathOf(fd))) return error;
  return EnvWrapper::write(fd, data, size, offset);
}

int FaultEnv::lock(int fd, int command, struct flock& range) {
  // Giving a lock back and asking who holds one are not taking a lock.
  if (command == F_OFD_SETLK && range.l_type != F_UNLCK) {
    if (int error = see(FileOp::Lock, pathOf(fd))) return error;
  }
  return EnvWrapper::lock(fd, command, range);
}

int FaultEnv::beforeIo(FileOp op, std::string_view path) {
  if (int error = see(op, path)) return error;
  return EnvWrapper::beforeIo(op, path);
}

}  // namespace oskara::test_support
