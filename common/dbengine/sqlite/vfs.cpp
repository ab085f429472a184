#include "dbengine/sqlite/vfs.h"

#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <string_view>

#include "core/env.h"
#include "dbengine/errors.h"

namespace oskara::db::sqlite {
namespace {

constexpr const char* kVfsName = "oskara";

// A file of the engine's VFS: the path it was opened by, then the unix VFS's
// own file, which does the work.
struct EnvFile {
  sqlite3_file base;      // first: SQLite sees an EnvFile as a sqlite3_file
  std::string_view path;  // SQLite keeps the name valid until xClose; "" for temporary files
  sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

sqlite3_vfs* realVfs(sqlite3_vfs* vfs) { return static_cast<sqlite3_vfs*>(vfs->pAppData); }
EnvFile& envFile(sqlite3_file* file) { return *reinterpret_cast<EnvFile*>(file); }
const sqlite3_io_methods& realMethods(sqlite3_file* file) { return *envFile(file).real()->pMethods; }

// The SQLite result code of an operation the Env failed with `error`.
int failure(FileOp op, int error) {
  switch (op) {
    case FileOp::Open: return SQLITE_CANTOPEN;
    case FileOp::Read: return SQLITE_IOERR_READ;
    case FileOp::Write: return error == ENOSPC ? SQLITE_FULL : SQLITE_IOERR_WRITE;
    case FileOp::Sync: return SQLITE_IOERR_FSYNC;
    case FileOp::Truncate: return SQLITE_IOERR_TRUNCATE;
    case FileOp::Lock: return error == EAGAIN || error == EACCES ? SQLITE_BUSY : SQLITE_IOERR_LOCK;
    case FileOp::Delete: return error == ENOENT ? SQLITE_IOERR_DELETE_NOENT : SQLITE_IOERR_DELETE;
  }
  return SQLITE_IOERR;
}

// 0 when the Env lets `op` on `path` run; otherwise the SQLite result code.
int refused(FileOp op, std::string_view path) {
  const int error = Env::current().beforeIo(op, path);
  return error == 0 ? SQLITE_OK : failure(op, error);
}

// ---- File methods: each asks the Env, then lets the unix file do the work ----

int fileClose(sqlite3_file* file) { return realMethods(file).xClose(envFile(file).real()); }

int fileRead(sqlite3_file* file, void* data, int amount, sqlite3_int64 offset) {
  if (int rc = refused(FileOp::Read, envFile(file).path)) return rc;
  return realMethods(file).xRead(envFile(file).real(), data, amount, offset);
}

int fileWrite(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
  if (int rc = refused(FileOp::Write, envFile(file).path)) return rc;
  return realMethods(file).xWrite(envFile(file).real(), data, amount, offset);
}

int fileTruncate(sqlite3_file* file, sqlite3_int64 size) {
  if (int rc = refused(FileOp::Truncate, envFile(file).path)) return rc;
  return realMethods(file).xTruncate(envFile(file).real(), size);
}

int fileSync(sqlite3_file* file, int flags) {
  if (int rc = refused(FileOp::Sync, envFile(file).path)) return rc;
  return realMethods(file).xSync(envFile(file).real(), flags);
}

int fileSize(sqlite3_file* file, sqlite3_int64* size) {
  return realMethods(file).xFileSize(envFile(file).real(), size);
}

int fileLock(sqlite3_file* file, int level) {
  if (int rc = refused(FileOp::Lock, envFile(file).path)) return rc;
  return realMethods(file).xLock(envFile(file).real(), level);
}

int fileUnlock(sqlite3_file* file, int level) { return realMethods(file).xUnlock(envFile(file).real(), level); }

int fileCheckReservedLock(sqlite3_file* file, int* result) {
  return realMethods(file).xCheckReservedLock(envFile(file).real(), result);
}

int fileControl(sqlite3_file* file, int op, void* arg) {
  return realMethods(file).xFileControl(envFile(file).real(), op, arg);
}

int fileSectorSize(sqlite3_file* file) { return realMethods(file).xSectorSize(envFile(file).real()); }

int fileDeviceCharacteristics(sqlite3_file* file) {
  return realMethods(file).xDeviceCharacteristics(envFile(file).real());
}

// Shared memory and memory mapping exist for completeness: the engine's files
// use the rollback journal and no mapping.
int fileShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** memory) {
  const sqlite3_io_methods& real = realMethods(file);
  if (real.iVersion < 2 || !real.xShmMap) return SQLITE_IOERR_SHMMAP;
  return real.xShmMap(envFile(file).real(), region, size, extend, memory);
}

int fileShmLock(sqlite3_file* file, int offset, int n, int flags) {
  const sqlite3_io_methods& real = realMethods(file);
  if (real.iVersion < 2 || !real.xShmLock) return SQLITE_IOERR_SHMLOCK;
  return real.xShmLock(envFile(file).real(), offset, n, flags);
}

void fileShmBarrier(sqlite3_file* file) {
  const sqlite3_io_methods& real = realMethods(file);
  if (real.iVersion >= 2 && real.xShmBarrier) real.xShmBarrier(envFile(file).real());
}

int fileShmUnmap(sqlite3_file* file, int deleteFlag) {
  const sqlite3_io_methods& real = realMethods(file);
  if (real.iVersion < 2 || !real.xShmUnmap) return SQLITE_OK;
  return real.xShmUnmap(envFile(file).real(), deleteFlag);
}

int fileFetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** page) {
  const sqlite3_io_methods& real = realMethods(file);
  if (real.iVersion < 3 || !real.xFetch) {
    *page = nullptr;
    return SQLITE_OK;
  }
  return real.xFetch(envFile(file).real(), offset, amount, page);
}

int fileUnfetch(sqlite3_file* file, sqlite3_int64 offset, void* page) {
  const sqlite3_io_methods& real = realMethods(file);
  if (real.iVersion < 3 || !real.xUnfetch) return SQLITE_OK;
  return real.xUnfetch(envFile(file).real(), offset, page);
}

const sqlite3_io_methods kFileMethods = {
    3,
    fileClose,
    fileRead,
    fileWrite,
    fileTruncate,
    fileSync,
    fileSize,
    fileLock,
    fileUnlock,
    fileCheckReservedLock,
    fileControl,
    fileSectorSize,
    fileDeviceCharacteristics,
    fileShmMap,
    fileShmLock,
    fileShmBarrier,
    fileShmUnmap,
    fileFetch,
    fileUnfetch,
};

// ---- VFS methods: the unix VFS's, with opening, deleting and sleeping put to the Env ----

int vfsOpen(sqlite3_vfs* vfs, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
  EnvFile& f = envFile(file);
  f.base.pMethods = nullptr;  // SQLite closes only what opened
  f.path = name ? std::string_view(name) : std::string_view();
  if (int rc = refused(FileOp::Open, f.path)) return rc;
  const int rc = realVfs(vfs)->xOpen(realVfs(vfs), name, f.real(), flags, outFlags);
  if (f.real()->pMethods) f.base.pMethods = &kFileMethods;
  return rc;
}

int vfsDelete(sqlite3_vfs* vfs, const char* name, int syncDir) {
  if (int rc = refused(FileOp::Delete, name ? name : "")) return rc;
  return realVfs(vfs)->xDelete(realVfs(vfs), name, syncDir);
}

int vfsAccess(sqlite3_vfs* vfs, const char* name, int flags, int* result) {
  return realVfs(vfs)->xAccess(realVfs(vfs), name, flags, result);
}

int vfsFullPathname(sqlite3_vfs* vfs, const char* name, int size, char* out) {
  return realVfs(vfs)->xFullPathname(realVfs(vfs), name, size, out);
}

void* vfsDlOpen(sqlite3_vfs* vfs, const char* name) { return realVfs(vfs)->xDlOpen(realVfs(vfs), name); }
void vfsDlError(sqlite3_vfs* vfs, int size, char* message) { realVfs(vfs)->xDlError(realVfs(vfs), size, message); }
void (*vfsDlSym(sqlite3_vfs* vfs, void* handle, const char* symbol))(void) {
  return realVfs(vfs)->xDlSym(realVfs(vfs), handle, symbol);
}
void vfsDlClose(sqlite3_vfs* vfs, void* handle) { realVfs(vfs)->xDlClose(realVfs(vfs), handle); }

int vfsRandomness(sqlite3_vfs* vfs, int size, char* out) {
  return realVfs(vfs)->xRandomness(realVfs(vfs), size, out);
}

int vfsSleep(sqlite3_vfs*, int microseconds) {
  Env::current().sleep(std::chrono::microseconds(microseconds));
  return microseconds;
}

int vfsCurrentTime(sqlite3_vfs* vfs, double* now) { return realVfs(vfs)->xCurrentTime(realVfs(vfs), now); }

int vfsGetLastError(sqlite3_vfs* vfs, int size, char* out) {
  return realVfs(vfs)->xGetLastError(realVfs(vfs), size, out);
}

int vfsCurrentTimeInt64(sqlite3_vfs* vfs, sqlite3_int64* now) {
  return realVfs(vfs)->xCurrentTimeInt64(realVfs(vfs), now);
}

// SQLite's count of its own memory takes a process-wide mutex around every
// allocation, and nothing in a process of ours reads that count. The setting
// only takes before SQLite's first use in the process, so it is made while
// the process starts; it is a matter of speed only.
[[maybe_unused]] const int kNoMemoryCount = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);

// Registers the VFS over the default one (the unix VFS).
sqlite3_vfs* registerVfs() {
  sqlite3_vfs* real = sqlite3_vfs_find(nullptr);
  if (!real || real->iVersion < 2) throw engineFailure("SQLite has no file system layer to build on", {});
  static sqlite3_vfs vfs{};
  vfs.iVersion = 2;
  vfs.szOsFile = static_cast<int>(sizeof(EnvFile)) + real->szOsFile;
  vfs.mxPathname = real->mxPathname;
  vfs.zName = kVfsName;
  vfs.pAppData = real;
  vfs.xOpen = vfsOpen;
  vfs.xDelete = vfsDelete;
  vfs.xAccess = vfsAccess;
  vfs.xFullPathname = vfsFullPathname;
  vfs.xDlOpen = vfsDlOpen;
  vfs.xDlError = vfsDlError;
  vfs.xDlSym = vfsDlSym;
  vfs.xDlClose = vfsDlClose;
  vfs.xRandomness = vfsRandomness;
  vfs.xSleep = vfsSleep;
  vfs.xCurrentTime = vfsCurrentTime;
  vfs.xGetLastError = vfsGetLastError;
  vfs.xCurrentTimeInt64 = vfsCurrentTimeInt64;
  if (sqlite3_vfs_register(&vfs, 0) != SQLITE_OK)
    throw engineFailure("SQLite refused the engine's file system layer", {});
  return &vfs;
}

}  // namespace

const char* engineVfsName() {
  static const sqlite3_vfs* vfs = registerVfs();
  return vfs->zName;
}

}  // namespace oskara::db::sqlite
