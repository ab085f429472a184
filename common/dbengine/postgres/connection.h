// A session with one PostgreSQL server database, shared by the databases of a
// workspace that are schemas of it (DT, AR and SO usually), so that one
// workspace transaction is one server transaction.
//
// The connection runs in libpq's pipeline mode: commands are queued on the
// socket and their results read in order, a synchronisation point after the
// last one that needs an answer, so that what belongs together (a prepare and
// its description, a row write and its savepoint, a cursor and its first
// batch) costs one round trip. A row written by a record set inside a
// transaction runs under a savepoint of its own: its failure is raised by the
// write and leaves the transaction as it was before it, as on files. In a
// transaction that its caller rolls back whole on any failure, writes go
// without a savepoint and without waiting: they travel with the next command
// that waits for an answer, and a failure among them is raised by that one
// (or by the commit) with the write's own number and text.
//
// Statements are prepared once per text and shared by every statement object
// of that text on the connection. Queries are read through a prepared probe
// that fetches at most one row more than a batch: most results (a customer, a
// call-log header, the options record) end within it, in one round trip.
// A longer result, and a query whose first rows need its whole result (ORDER
// BY, grouping), is read through a cursor, a batch per round trip, so that a
// million rows never sit in memory and other statements run between batches.
#pragma once

#include "dbengine/internal.h"

#include <libpq-fe.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/error.h"
#include "dbengine/backend.h"
#include "dbengine/postgres/location.h"

namespace oskara::db::postgres {

// Rows of a result, one batch: owned PGresult.
struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

// A statement prepared on the server, shared by the statement objects of its text.
struct Prepared {
  std::string name;               // on the server
  std::string sql;                // as translated
  bool query = false;             // returns rows
  bool cursorFirst = false;       // read through a cursor from the start
  std::vector<Oid> parameterTypes;  // as the server inferred them
  std::vector<std::string> columnNames;
};

// Parameter values as text, as libpq takes them.
struct Parameters {
  std::vector<std::string> text;
  std::vector<bool> null;
  void resize(size_t n) {
    text.resize(n);
    null.resize(n, true);
  }
};

class PgConnection final : public backend::Connection, public std::enable_shared_from_this<PgConnection> {
 public:
  // Connects as libpq does for `location` (its parameters, environment and
  // service files), naming the session after `me` and the program.
  // Failures as connectionFailure (location.h).
  static std::shared_ptr<PgConnection> open(const ServerLocation& location, const UserEntry& me);
  ~PgConnection() override;  // rolls back what is pending

  // What locations share this connection (ServerLocation::serverKey).
  const std::string& serverKey() const { return location_.serverKey; }
  const ServerLocation& location() const { return location_; }

  // ---- backend::Connection ----
  const std::string& name() const override { return name_; }
  sql::Target target() const override { return sql::Target::PostgreSQL; }
  std::unique_ptr<backend::Statement> prepare(const std::string& sql, std::string_view statement,
                                              bool wholeResultFirst) override;
  std::string selectAllSql(const sql::TableInfo& table, std::string_view rowIdName) const override;
  std::string insertSql(const sql::TableInfo& table, const std::vector<std::string>& columns) const override;
  std::string updateSql(const sql::TableInfo& table, const std::vector<std::string>& columns) const override;
  void begin(int level) override;
  void commit(int level) override;
  void rollback(int level) override;
  void abandon(int level) noexcept override;
  bool inTransaction() const override { return depth_ > 0; }

  // ---- Commands, for the statements and stores on the connection ----

  // A command sent without waiting for its answer (a savepoint): its failure
  // is noted and raised by the next command that waits for one.
  struct Deferred {
    std::string table;      // what a failure names
    std::string statement;
    bool write = false;     // FailureContext::write
  };

  // Runs SQL of our own with text parameters and waits for its answer;
  // raises the failure naming `table`.
  Result run(const std::string& sql, const std::vector<std::string>& parameters = {}, std::string_view table = {});
  // Runs a prepared statement and waits for its answer; raises the failure.
  Result runPrepared(const Prepared& prepared, const Parameters& parameters, const FailureContext& context);
  // Runs a record set's row write (runPrepared); inside a transaction under a
  // savepoint, so that its failure undoes only the write.
  Result runRowWrite(const Prepared& prepared, const Parameters& parameters, const FailureContext& context);
  // Sends a write of a transaction without waiting for its outcome (outside
  // a transaction it runs as runPrepared); a failure is raised by the next
  // command that waits, and the transaction can only be rolled back. The
  // count of rows written waits for the outcome when it is read.
  backend::RowCount sendWrite(const Prepared& prepared, const Parameters& parameters, const FailureContext& context);
  // Sends SQL of our own whose failure does not matter (closing a cursor,
  // dropping a prepared statement, freeing a lock).
  void sendQuietly(const std::string& sql, const std::vector<std::string>& parameters = {});

  // Opens a cursor over `prepared`'s query (parameters as bound) and reads its
  // first batch. Returns the cursor's name through `cursor`.
  Result openCursor(const Prepared& prepared, const Parameters& parameters, size_t batch, std::string& cursor,
                    const FailureContext& context);
  Result fetchCursor(const std::string& cursor, size_t batch, const FailureContext& context);
  // Closes a cursor, unless a rollback has closed it already.
  void closeCursor(const std::string& cursor);

  // Gives a prepared statement back; it is dropped on the server with the last user.
  void release(const std::shared_ptr<Prepared>& prepared);

  // ---- Deny-write locks of the stores on this connection ----
  // A second store of the same database is another user, though the server
  // counts the same session's advisory locks as one: the stores are told
  // apart here. The holder of `key`, when a store of this connection holds it.
  const void* lockHolder(const std::string& key) const;
  void setLockHolder(const std::string& key, const void* store);
  void clearLockHolder(const std::string& key);

 private:
  PgConnection(ServerLocation location, PGconn* conn);

  struct Command {
    uint64_t id = 0;
    bool sync = false;       // a synchronisation point
    bool awaited = false;    // someone waits for it (its result is returned, not noted)
    bool quiet = false;      // its failure does not matter
    int level = 0;           // the transaction level it ran in
    std::optional<Deferred> deferred;
    std::shared_ptr<int64_t> rows;  // a write's count of rows, once its outcome is read (-1 before)
  };

  uint64_t enqueue(Command command);
  uint64_t send(const std::string& sql);  // SQL of our own without parameters, awaited
  uint64_t sendPrepared(const Prepared& prepared, const Parameters& parameters);  // awaited
  void sync();
  // Reads results in order up to and including `id`'s; returns its result.
  Result take(uint64_t id);
  // The rows written by the write `id` sent by sendWrite, waiting for its outcome.
  int64_t rowsWritten(uint64_t id, const std::shared_ptr<int64_t>& rows);
  // Reads every pending result.
  void drain();
  Result readOne();  // the next command's result, its end marker consumed
  void note(const Command& command, Result result);  // a deferred command's result
  [[noreturn]] void lost(std::string_view reason);
  // The failure of an awaited result, or the transaction's earlier failure
  // that made the server refuse it.
  [[noreturn]] void raise(const PGresult* result, const FailureContext& context);
  void checkSent(int ok);
  Result awaitResult(uint64_t id, const FailureContext& context);
  // Cursors opened at `level` or deeper: kept by a commit, closed by a rollback.
  void endCursors(int level, bool kept);
  void runAfterRollback();
  std::string nextName(const char* prefix) { return prefix + std::to_string(++names_); }

  // Constant after opening.
  ServerLocation location_;
  std::string name_;  // the location as shown, for failures
  PGconn* conn_;      // owned

  // Changing with use.
  std::deque<Command> queue_;      // sent, results not read yet, in order
  uint64_t nextId_ = 0;
  uint64_t names_ = 0;             // statements and cursors named so far
  int depth_ = 0;                  // transaction level
  std::optional<Error> failure_;   // what ended the pending transaction on the server
  int failureLevel_ = 0;           // the level it happened at: rolling back that level recovers
  std::unordered_map<std::string, std::weak_ptr<Prepared>> prepared_;  // by SQL text
  std::map<std::string, const void*> lockHolders_;
  std::map<std::string, int> cursors_;      // open cursors, by the transaction level that opened them
  // Quiet commands sent while the transaction had failed, run after its rollback.
  std::vector<std::pair<std::string, std::vector<std::string>>> afterRollback_;
};

}  // namespace oskara::db::postgres
