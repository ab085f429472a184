#include "core/env.h"

#include <unistd.h>

#include <cerrno>
#include <new>
#include <thread>

#include "core/clock.h"

namespace oskara {
namespace {

Env* g_installed = nullptr;  // by EnvOverride; null: the real Env

// The real Env: its calls are the system's. Never destroyed, and not on the
// heap: files may close in destructors of other static objects after main()
// returns, and a library loaded at run time may be unloaded with it.
Env& systemEnv() {
  alignas(Env) static unsigned char storage[sizeof(Env)];
  static Env* env = new (storage) Env();
  return *env;
}

}  // namespace

Env& Env::current() { return g_installed ? *g_installed : systemEnv(); }

int Env::stat(const std::string& path, struct stat& st) { return ::stat(path.c_str(), &st) == 0 ? 0 : errno; }

int Env::access(const std::string& path, int mode) { return ::access(path.c_str(), mode) == 0 ? 0 : errno; }

int Env::open(const std::string& path, int flags, mode_t mode, int& fd) {
  fd = ::open(path.c_str(), flags, mode);
  return fd >= 0 ? 0 : errno;
}

void Env::close(int fd) { ::close(fd); }

int Env::fstat(int fd, struct stat& st) { return ::fstat(fd, &st) == 0 ? 0 : errno; }

int Env::read(int fd, void* data, size_t size, off_t offset, size_t& done) {
  char* p = static_cast<char*>(data);
  done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, p + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) break;  // the end of the file
    done += static_cast<size_t>(n);
  }
  return 0;
}

int Env::write(int fd, const void* data, size_t size, off_t offset) {
  const char* p = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd, p + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    done += static_cast<size_t>(n);
  }
  return 0;
}

int Env::lock(int fd, int command, struct flock& range) { return ::fcntl(fd, command, &range) == 0 ? 0 : errno; }

int Env::beforeIo(FileOp, std::string_view) { return 0; }

void Env::sleep(std::chrono::microseconds duration) { std::this_thread::sleep_for(duration); }

const Clock& Env::clock() const { return systemClock(); }

EnvOverride::EnvOverride(Env& env) : previous_(g_installed) { g_installed = &env; }
EnvOverride::~EnvOverride() { g_installed = previous_; }

}  // namespace oskara
