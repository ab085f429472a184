// The database engine: the objects the servers use to reach their database
// files. One engine per process, made on first use; a default workspace whose
// transaction covers every database open in it; databases opened shared and
// read-write; record sets that stream (forward-only) or edit rows in place
// (dynaset); temporary and stored queries in the dialect of the system's
// statements. Underneath is a backend (backend.h, internal): SQLite, where
// each database is one file following the conventions in
// docs/database-files.md.
//
// Every failure is thrown as oskara::Error with the engine's number (see
// dbengine/errors.h) and a text that names the file, table, field, query or
// statement concerned.
//
// Objects are shared: a database stays open while any record set or query
// made from it, or any caller, still holds it. None of the objects is
// thread-safe; each server uses them from its one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/variant.h"

namespace oskara::db {

class Database;
class Recordset;
class QueryDef;
class Workspace;
using DatabasePtr = std::shared_ptr<Database>;
using RecordsetPtr = std::shared_ptr<Recordset>;
using QueryDefPtr = std::shared_ptr<QueryDef>;

// Record set types, with the numbers callers pass.
enum class RecordsetType : int {
  Table = 1,        // treated as a dynaset over the named table
  Dynaset = 2,      // rows can be added and edited
  Snapshot = 4,     // read-only, like forward-only but kept for completeness
  ForwardOnly = 8,  // read-only, streams; rows are never all held in memory
};

// Record set options (may be or-ed).
enum RecordsetOption : int {
  kNoOptions = 0,
  kDenyWrite = 1,   // other users may not open the table deny-write until this set closes
  kReadOnly = 4,
  kAppendOnly = 8,  // shows no existing rows; only AddNew is allowed
};

inline constexpr int kFailOnError = 128;   // Execute: the statement runs whole or raises
inline constexpr int kRefreshCache = 8;    // Idle: make other users' writes visible
inline constexpr int kUpdateRegular = 1;   // Update / CancelUpdate
// BeginTrans: the caller rolls the whole transaction back on any failure
// inside it, so that writes (a record set's new rows, action queries) may
// travel to a database server without waiting for their outcome. A failing
// write is then raised, with its own number and text, by a later operation
// of the transaction or by CommitTrans at the latest, which then commits
// nothing; what follows the failure on its server is not run. Files raise it
// at once, as always.
inline constexpr int kAllOrNothing = 1;

class Engine {
 public:
  // The engine of this process, made on first use; lives until the process ends.
  static Engine& instance();

  // Only index 0, the default workspace, exists; any other index is 3265.
  Workspace& workspace(int index);

  // Transactions of the default workspace.
  void beginTrans(int options = 0);
  void commitTrans(int options = 0);
  void rollback();

  // With kRefreshCache: pending writes reach the files and later reads see
  // other users' latest data.
  void idle(int action);

  // Who this process is to the other users of its databases (machine, user),
  // as their user lists show it. Defaults to the host name and the login name
  // of the process.
  std::string machineName() const;
  std::string userName() const;
  void setIdentity(std::string machine, std::string user);

  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

 private:
  Engine();
  ~Engine();
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class Workspace {
 public:
  // Opens a database file shared and read-write (read-only when the process may
  // not write it, or when `access` asks). A database opened read-only changes
  // nothing in its file, not even its journal mode. A missing file is 3024,
  // never created; a path that cannot be a file is 3044; a file that is not a
  // database is 3343.
  enum class Access { ReadWrite, ReadOnly };
  DatabasePtr openDatabase(const std::string& path, Access access = Access::ReadWrite);

  // One transaction over every database open in the workspace, writes
  // through linked tables included. Nested calls nest (savepoints); options
  // (kAllOrNothing) count when the transaction begins and hold for its levels.
  void beginTrans(int options = 0);
  void commitTrans(int options = 0);
  void rollback();
  int transactionDepth() const;

  // Implementation (engine_internal.h): the databases open in this workspace.
  struct Impl;
  Impl& impl() { return *impl_; }
  explicit Workspace(std::unique_ptr<Impl> impl);
  ~Workspace();

 private:
  std::unique_ptr<Impl> impl_;
};

class Database : public std::enable_shared_from_this<Database> {
 public:
  ~Database();

  const std::string& name() const;  // the path or location as opened (a location with its password)
  bool isReadOnly() const;          // the file may not be written by this process

  // Opens a record set on a table or link name, a stored query name, or a
  // SELECT statement of the dialect.
  RecordsetPtr openRecordset(std::string_view source, RecordsetType type = RecordsetType::Dynaset,
                             int options = kNoOptions);

  // A query object. An empty name gives a temporary query that is never saved;
  // a non-empty name saves it in the database's stored queries.
  QueryDefPtr createQueryDef(std::string_view name = {}, std::string_view sql = {});
  // A stored query by name (3265 when there is none).
  QueryDefPtr queryDef(std::string_view name);
  std::vector<std::string> queryDefNames();
  std::vector<std::string> tableNames();  // local tables and links
  // Its links, as read when it was opened: the name statements use and the
  // file (absolute path) it reads.
  struct LinkTarget {
    std::string name;
    std::string location;
  };
  std::vector<LinkTarget> linkTargets() const;

  // Runs an action statement (INSERT, UPDATE, DELETE). A SELECT is 3065.
  void execute(std::string_view sql, int options = kNoOptions);
  int64_t recordsAffected() const;  // rows changed by the last execute on this database

  // Announces `payload` on `channel` to the listening sessions of a server
  // database, delivered only if the pending transaction commits (at once
  // outside one). Files have no listeners: nothing happens.
  void notify(std::string_view channel, std::string_view payload);

  // Closes the database now; record sets still open on it are closed too.
  void close();
  bool isOpen() const;

  struct Impl;
  Impl& impl() { return *impl_; }
  explicit Database(std::unique_ptr<Impl> impl);

 private:
  std::unique_ptr<Impl> impl_;
};

class Recordset {
 public:
  ~Recordset();

  RecordsetType type() const;
  bool eof() const;  // true at once on an empty result
  void moveNext();   // 3021 when already at the end

  // Field values of the current row (or of the pending new or edited row).
  // Names match without regard to case; an unknown name is 3265.
  Variant field(std::string_view name) const;
  void setField(std::string_view name, const Variant& value);
  int fieldCount() const;
  std::string fieldName(int index) const;
  Variant field(int index) const;

  void addNew();  // 3027 on a read-only database or record set
  void edit();    // 3021 without a current row
  void update(int type = kUpdateRegular);        // 3020 without addNew or edit
  void cancelUpdate(int type = kUpdateRegular);  // drops the pending row or edit

  void close();
  bool isOpen() const;

  struct Impl;
  explicit Recordset(std::unique_ptr<Impl> impl);

 private:
  std::unique_ptr<Impl> impl_;
};

class QueryDef {
 public:
  ~QueryDef();

  const std::string& name() const;  // "" for a temporary query
  const std::string& sql() const;
  void setSql(std::string sql);  // saved at once for a stored query

  // Parameters: those declared in a PARAMETERS clause and any bracketed name
  // that resolves to no column. Unknown names are 3265.
  std::vector<std::string> parameterNames();
  Variant parameter(std::string_view name);
  void setParameter(std::string_view name, const Variant& value);

  // Runs an action query. With kFailOnError a failure raises and none of the
  // statement's changes remain; without it the statement is still all or nothing.
  void execute(int options = kNoOptions);
  int64_t recordsAffected() const;

  RecordsetPtr openRecordset(RecordsetType type = RecordsetType::Dynaset, int options = kNoOptions);

  void close();

  struct Impl;
  explicit QueryDef(std::unique_ptr<Impl> impl);

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace oskara::db
