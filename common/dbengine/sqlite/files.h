// Database files on disk: the checks that tell a missing file from an
// unusable path, whether this process may write a file, and the URI that
// SQLite opens a file by. The checks go through the Env in force.
#pragma once

#include "dbengine/internal.h"

#include <string>

namespace oskara::db::sqlite {

// Throws the error a path deserves when it cannot be opened as a file: 3044
// when the path cannot name a file (empty, a folder, or in a folder that does
// not exist), 3024 when the file does not exist, 3051 when it cannot be
// looked at. Returns when the file exists.
void checkFilePath(const std::string& path);

// Whether this process should treat the file as read-only: it may not write
// the file, or the file has no write permission bit at all, or its folder
// does not let the rollback journal be created.
bool isReadOnlyFile(const std::string& path);

// "file:" URI of an absolute path for SQLite, opened "rw" or "ro" and never created.
std::string fileUri(const std::string& absolutePath, bool readOnly);

}  // namespace oskara::db::sqlite
