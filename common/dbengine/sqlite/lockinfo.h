// The lock-information file kept beside each database ("<database>-lock").
// Every open database holds one user slot in it (machine and user name) under
// an open-file-description lock, so the slot dies with the process that held
// it. Deny-write table locks are exclusive locks on an entry chosen by the
// table name, with the holder's slot number written beside it so that a
// refused caller can be told who holds the table. The layout is documented
// in docs/database-files.md; the active-users library reads it. The locks
// belong to the open file, so a child forked without exec shares them until
// it ends. Files, reads, writes and locks go through the Env in force.
//
// Public for the active-users library, which reads the users of a database
// from this file without SQLite.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/user_entry.h"

namespace oskara::db {

class LockInfoFile {
 public:
  // "<database path>-lock".
  static std::string pathFor(std::string_view databasePath);

  // Opens the lock-information file of the database, creating it when missing,
  // and takes a free user slot for `me`. Throws 3051 naming the lock file when
  // it cannot be opened or created, or when every slot is taken.
  static std::unique_ptr<LockInfoFile> join(std::string_view databasePath, const UserEntry& me);

  // The users holding the database open now, one entry per live slot, in slot
  // order. No file means no users. Does not create the file.
  static std::vector<UserEntry> activeUsers(std::string_view databasePath);

  ~LockInfoFile();  // gives the slot and every table lock back
  LockInfoFile(const LockInfoFile&) = delete;
  LockInfoFile& operator=(const LockInfoFile&) = delete;

  int slot() const;

  // Takes the deny-write lock of a table (name without regard to case).
  // Returns nothing on success; otherwise the holder, when it can be told
  // (an empty entry when not). Never waits. Locks are per LockInfoFile
  // object: a second object in the same process is refused like another
  // process. The same object taking the same table twice succeeds; callers
  // that need per-record-set exclusion count themselves.
  std::optional<UserEntry> tryLockTable(std::string_view table);
  void unlockTable(std::string_view table);

  struct Impl;
  explicit LockInfoFile(std::unique_ptr<Impl> impl);

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace oskara::db
