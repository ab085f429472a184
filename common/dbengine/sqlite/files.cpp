#include "dbengine/sqlite/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/env.h"
#include "dbengine/errors.h"

namespace oskara::db::sqlite {
namespace {

namespace fs = std::filesystem;

std::string folderOf(const std::string& path) {
  std::string folder = fs::path(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

}  // namespace

void checkFilePath(const std::string& path) {
  if (path.empty()) throw invalidPath(path);
  Env& env = Env::current();
  struct stat st {};
  const int err = env.stat(path, st);
  if (err == 0) {
    if (S_ISDIR(st.st_mode)) throw invalidPath(path);
    return;
  }
  if (err == ENOTDIR) throw invalidPath(path);
  if (err != ENOENT) throw cannotOpenFile(path, std::strerror(err));
  struct stat folder {};
  if (env.stat(folderOf(path), folder) != 0 || !S_ISDIR(folder.st_mode)) throw invalidPath(path);
  throw fileNotFound(path);
}

bool isReadOnlyFile(const std::string& path) {
  Env& env = Env::current();
  struct stat st {};
  if (env.stat(path, st) != 0) return true;
  // A file without any write bit is read-only for everybody, the superuser
  // included (who would otherwise pass access()): `chmod a-w` is how an
  // administrator freezes a database.
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;
  if (env.access(path, W_OK) != 0) return true;
  // Writing needs the rollback journal beside the file.
  return env.access(folderOf(path), W_OK) != 0;
}

std::string fileUri(const std::string& absolutePath, bool readOnly) {
  static const char* kHex = "0123456789ABCDEF";
  std::string uri = "file:";
  for (unsigned char c : absolutePath) {
    if (c == '%' || c == '?' || c == '#' || c <= ' ' || c >= 0x7f) {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    } else {
      uri += static_cast<char>(c);
    }
  }
  uri += readOnly ? "?mode=ro" : "?mode=rw";
  return uri;
}

}  // namespace oskara::db::sqlite
