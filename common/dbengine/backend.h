// The backend seam: what the engine objects (workspace, database, record set,
// query definition) need from the store that holds the data. SQLite files are
// the first backend (sqlite/). Another backend implements the three classes
// below and is chosen by openStore() from the form of the location; the
// engine objects do not change.
//
//  - Connection: one session with the store. It prepares statements, writes
//    the engine's own statements in the store's SQL and carries the
//    transaction. Several databases may share one (schemas of one server
//    database); the workspace's transaction runs once per distinct connection.
//  - Store: one database as the caller named it, open on a connection: its
//    catalog (tables with their declared column types, links, stored
//    queries), and its deny-write locks between users.
//  - Statement: a prepared statement, bound, run, and read in batches of rows.
//
// Every failure is thrown as the engine's error (dbengine/errors.h): the
// backend maps its own failures, naming what the FailureContext gives.
#pragma once

#include "dbengine/internal.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/variant.h"
#include "dbengine/links.h"
#include "dbengine/sql/translator.h"
#include "dbengine/user_entry.h"
#include "dbengine/values.h"

namespace oskara::db {

// What a failing operation was working on, for the error's text.
struct FailureContext {
  std::string_view file;       // database concerned (its name as opened), may be empty
  std::string_view table;      // table written or read, may be empty
  std::string_view statement;  // dialect text (or the backend's SQL when there is none), may be empty
  bool write = false;          // the statement writes rows: a value its field cannot hold fails as on files
};

namespace backend {

// The rows a write changed. A write sent without waiting for its outcome
// (Statement::executeUnawaited) gives a count that waits for the outcome
// when it is first read, raising the write's failure.
class RowCount {
 public:
  RowCount(int64_t rows = 0) : rows_(rows) {}  // a count known at once
  explicit RowCount(std::function<int64_t()> outcome) : outcome_(std::move(outcome)) {}
  int64_t get() {
    if (outcome_) {
      rows_ = outcome_();
      outcome_ = nullptr;
    }
    return rows_;
  }

 private:
  int64_t rows_ = 0;
  std::function<int64_t()> outcome_;
};

// Which row of its table a result row is, so that an edited row can be
// written back. Made and read only by the backend (SQLite: the rowid);
// record sets keep it and hand it back. Empty when the result is not
// updatable.
using RowId = std::variant<std::monostate, int64_t, std::string>;

class Statement {
 public:
  virtual ~Statement() = default;

  // Binds parameter ?`index` (from 1) to a Null, Boolean, Integer, Long,
  // Double, Date or String. With `stable` the value stays unchanged until
  // the statement has run, so the backend may keep a reference instead of a
  // copy.
  virtual void bind(int index, const Variant& value, bool stable, const FailureContext& context) = 0;
  virtual void bindRowId(int index, const RowId& row) = 0;

  // Runs a statement that returns no rows to its end; the rows it changed.
  virtual int64_t execute(const FailureContext& context) = 0;

  // Runs a record set's write of one row (a statement of insertSql or
  // updateSql), as execute(); a write that fails inside a transaction leaves
  // the transaction as it was before the write.
  virtual void executeRowWrite(const FailureContext& context) { execute(context); }

  // As execute() and executeRowWrite(), inside a transaction that its caller
  // rolls back whole on any failure (kAllOrNothing): the backend may send the
  // write without waiting for its outcome, and a failed write need not leave
  // the transaction usable. A failure is then raised, with its own number and
  // text, by a later operation on the connection or by the commit, which then
  // commits nothing; the transaction can only be rolled back.
  virtual RowCount executeUnawaited(const FailureContext& context) { return execute(context); }
  virtual void executeRowWriteUnawaited(const FailureContext& context) { executeRowWrite(context); }
  // The identity of the row an updateSql statement has just written, for a
  // later write of the same row (a backend whose row identities change with
  // each write gives the new one).
  virtual RowId rowIdAfterUpdate(const RowId& before) { return before; }

  // Reads the next rows of a query, at most `maxRows`: per row, the values of
  // the first types.size() result columns, each read as its field type says,
  // and the row's identity from result column `rowIdColumn` (an empty RowId
  // when -1) appended to `rowIds`. The values are written to `values` from
  // its first element on, over the elements there (a text over a text in its
  // room), `values` growing as needed; elements past them are left as they
  // are. False once the last row has been read.
  virtual bool fetch(size_t maxRows, std::span<const FieldType> types, int rowIdColumn,
                     std::vector<Variant>& values, std::vector<RowId>& rowIds, const FailureContext& context) = 0;

  // For a query whose translation leaves date fields to the backend
  // (sql::Translation::datesReadUnchecked, from the SQLite target only):
  // fetch() checks them in each row it reads and fails at the first
  // malformed one as the check in SQL would. Given once, after preparing.
  // A backend whose target leaves none refuses.
  virtual void checkDatesOnRead(const std::vector<sql::DateReadUnchecked>& dates);

  // The result column of that name (the last when several have it), -1 when
  // there is none.
  virtual int columnIndex(std::string_view name) const = 0;

  // Ready to be bound and run again, holding nothing of the last run (no
  // read lock, no cursor on a server).
  virtual void reset() = 0;
};

class Connection {
 public:
  virtual ~Connection() = default;

  // The name that failures on the connection give: the database file, or a
  // location without its password.
  virtual const std::string& name() const = 0;

  // The SQL the dialect translator writes for this backend.
  virtual sql::Target target() const = 0;

  // Prepares SQL of this backend to be run many times. `statement` is what a
  // failure names (the dialect text), "" to name the SQL itself. With
  // `wholeResultFirst`, a query's first row needs its whole result worked out
  // (sql::Translation::wholeResultFirst).
  virtual std::unique_ptr<Statement> prepare(const std::string& sql, std::string_view statement,
                                             bool wholeResultFirst = false) = 0;

  // The engine's own statements on one table (TableInfo's schema and table),
  // with parameters ?1, ?2, ... : every column in declared order followed by
  // the row's identity named `rowIdName`; an insert of `columns` (none: a row
  // of defaults); an update of `columns` of the row whose identity is bound
  // after them.
  virtual std::string selectAllSql(const sql::TableInfo& table, std::string_view rowIdName) const = 0;
  virtual std::string insertSql(const sql::TableInfo& table, const std::vector<std::string>& columns) const = 0;
  virtual std::string updateSql(const sql::TableInfo& table, const std::vector<std::string>& columns) const = 0;

  // Transaction levels: 1 is the transaction, deeper levels nest inside it.
  virtual void begin(int level) = 0;
  virtual void commit(int level) = 0;    // level 1 commits; a deeper one keeps its writes in the level below
  virtual void rollback(int level) = 0;  // undoes the level's writes and ends it
  // As rollback(), for a caller that is failing already: no failure of its own.
  virtual void abandon(int level) noexcept = 0;
  // False once the store has ended the transaction on its own (after some failures).
  virtual bool inTransaction() const = 0;
};

// A row of the stored queries (sys_queries).
struct StoredQuery {
  std::string name;  // as stored
  std::string sql;   // dialect text
};

class Store {
 public:
  virtual ~Store() = default;

  virtual Connection& connection() = 0;

  // The schema of the database's own tables on its connection (TableInfo::schema).
  virtual std::string_view schema() const = 0;

  virtual bool isReadOnly() const = 0;  // this process may not write the database
  // Whether this process may add rows to (`insert`) or change rows of a
  // table (the database's own or a linked database's).
  virtual bool mayWrite(const sql::TableInfo& table, bool insert) = 0;

  // The catalog, read at each call (DatabaseCatalog keeps what it needs).
  virtual std::vector<std::string> tableNames() = 0;  // the database's own tables, as stored
  // Columns in declared order, with their declared types; none when the
  // table does not exist.
  virtual std::vector<sql::ColumnInfo> columns(const std::string& schema, const std::string& table) = 0;
  virtual const Links& links() const = 0;  // read when the database was opened
  // The rows of sys_queries; the caller knows that the table exists.
  virtual std::vector<StoredQuery> storedQueries() = 0;
  virtual void addStoredQuery(std::string_view name, std::string_view sql) = 0;  // makes sys_queries with the first
  virtual void setStoredQuery(std::string_view name, std::string_view sql) = 0;

  // Deny-write lock of a table, between users of the database (name without
  // regard to case). Nothing when taken; otherwise the holder when it can be
  // told (an empty entry when not). Never waits. Per Store: a second Store
  // of the same database is another user. Throws when the database's lock
  // information cannot be used.
  virtual std::optional<UserEntry> tryLockTable(std::string_view table) = 0;
  virtual void unlockTable(std::string_view table) = 0;

  // Database::notify: a store without listeners ignores it.
  virtual void notify(std::string_view channel, std::string_view payload) {
    (void)channel;
    (void)payload;
  }
};

// The row writes' statements as every backend writes them, into `table`
// (its quoted, qualified name), the parameters numbered from 1 after
// `sign` ('?' or '$'): the INSERT of `columns`, and the assignments of an
// UPDATE's SET, whose row-identity parameter is numbered columns.size() + 1.
std::string insertOf(const std::string& table, const std::vector<std::string>& columns, char sign);
std::string assignmentsOf(const std::vector<std::string>& columns, char sign);

// Opens the database at `location` shared and read-write (read-only when the
// process may not write it or `readOnly` asks; then the backend changes
// nothing in it), as user `me`. `open` are the connections of the databases
// already open in the workspace, which a backend may share. Never creates a
// database.
std::unique_ptr<Store> openStore(const std::string& location, const UserEntry& me,
                                 std::span<Connection* const> open, bool readOnly = false);

}  // namespace backend
}  // namespace oskara::db
