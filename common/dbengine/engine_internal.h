// The insides of the engine objects, shared by their implementation files
// (engine.cpp, database.cpp, recordset.cpp, querydef.cpp) and the tests.
// They reach the data only through the backend seam (backend.h).
#pragma once

#include "dbengine/internal.h"

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.h"
#include "dbengine/backend.h"
#include "dbengine/catalog.h"
#include "dbengine/dbengine.h"
#include "dbengine/locations.h"
#include "dbengine/statement_cache.h"
#include "dbengine/user_entry.h"

namespace oskara::db {

// Values of named parameters by lower-case name.
using ParameterValues = std::map<std::string, Variant>;

// The transaction runs on connections, not on databases: databases that share
// a connection share its part of the transaction.
struct Workspace::Impl {
  // Registers an open database and enters its connection into the pending
  // transaction, at every nesting level, unless another open database shares
  // the connection. Throws when the backend refuses.
  void join(Database::Impl& db);
  void leave(Database::Impl& db);

  // The connections of the open databases, each once, in opening order.
  std::vector<backend::Connection*> connections() const;

  void begin(int options);
  void commit();
  void rollback();
  void idle(int action);

  std::vector<Database::Impl*> databases;  // open databases, not owned, in opening order
  int depth = 0;                           // nesting level of the pending transaction, 0: none
  bool allOrNothing = false;               // the pending transaction began with kAllOrNothing

  // Writes may go without waiting for their outcome (kAllOrNothing).
  bool writesUnawaited() const { return depth > 0 && allOrNothing; }
};

struct Database::Impl {
  Impl(Workspace::Impl& workspace, std::string path)
      : workspace(workspace), path(std::move(path)), shown(shownLocation(this->path)) {}
  ~Impl();

  // Opens the store of the database's location in the workspace, read-only
  // when `readOnlyAsked`.
  void open(const UserEntry& me, bool readOnlyAsked);
  void close();
  void requireOpen() const;  // 3420 once closed
  backend::Connection& connection() const { return store->connection(); }

  // What a statement or table reads, bound and ready to step. `values` gives
  // named parameters; a parameter without a value is 3061.
  StatementCache::Lease prepareStatement(std::string_view text, const ParameterValues* values);
  StatementCache::Lease prepareTable(const sql::TableInfo& table);
  // The compiled form of a dialect statement, without running it.
  std::shared_ptr<const CompiledStatement> compileStatement(std::string_view text);
  // A statement of our own making (record set writes), cached under `key`.
  StatementCache::Lease prepareInternal(const std::string& key, const std::string& sql, std::string_view table);

  // Deny-write locks held by record sets of this database. Throws 3262.
  void lockTable(const std::string& table);
  void unlockTable(const std::string& table);

  void invalidateCaches();  // catalog and translations: after a schema change, at begin and idle
  FailureContext context(std::string_view table = {}, std::string_view statement = {}) const {
    return {shown, table, statement};
  }

  // Constant after open().
  Workspace::Impl& workspace;
  std::string path;                           // as the caller named it
  std::string shown;                          // the same without a password, for every text
  std::unique_ptr<backend::Store> store;      // the data; null when closed
  bool readOnly = false;                      // this process may not write the database
  std::unique_ptr<DatabaseCatalog> catalog;   // null when closed
  std::unique_ptr<StatementCache> statements; // null when closed
  sql::ShapeCache shapes;                     // statement texts seen lately
  std::vector<Variant> literals;              // of the statement being prepared
  std::string tableKey;                       // of the table being prepared (its room kept)
  UserEntry me;                               // who this process is to other users

  // Changing with use.
  std::set<std::string> denyWriteTables;  // lower-case names locked by open record sets
  std::vector<Recordset*> recordsets;     // open record sets made from this database
  mutable backend::RowCount recordsAffected;  // by the last execute
  bool closing = false;                   // close() is closing the record sets
};

// What a record set reads, needed only while the record set is made (it
// keeps a copy of `name`).
struct RecordsetSource {
  std::string_view name;                 // as the caller gave it, for messages
  const sql::TableInfo* table = nullptr; // a table or link read whole: the catalog's entry
  std::string_view statement;            // otherwise a SELECT of the dialect
  const ParameterValues* values = nullptr;
};

RecordsetPtr makeRecordset(const DatabasePtr& owner, const RecordsetSource& source, RecordsetType type, int options);

// The statement cache's key of a statement of our own: it starts with a byte
// no dialect text has.
inline void assignInternalKey(std::string& key, std::string_view kind, std::string_view a, std::string_view b) {
  key.assign("\x01").append(kind).append("\x1f").append(a).append("\x1f").append(b);
}
inline std::string internalKey(std::string_view kind, std::string_view a, std::string_view b) {
  std::string key;
  assignInternalKey(key, kind, a, b);
  return key;
}

// Runs an action statement of the dialect on `db`; returns the rows changed.
backend::RowCount executeStatement(Database::Impl& db, std::string_view text, const ParameterValues* values);

}  // namespace oskara::db
