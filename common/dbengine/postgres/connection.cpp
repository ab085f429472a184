#include "dbengine/postgres/connection.h"

#include <errno.h>

#include <algorithm>
#include <cstdlib>

#include "dbengine/errors.h"
#include "dbengine/locations.h"
#include "dbengine/identifiers.h"
#include "dbengine/postgres/identity.h"
#include "dbengine/postgres/pg_errors.h"
#include "dbengine/postgres/statement.h"

namespace oskara::db::postgres {
namespace {

// Settings every session gets, so that values read as text parse the same on
// every server: ISO dates, shortest exact floating point text. No JIT
// compilation: the queue update's largest statements (a link of 100,000
// queue rows to the call log) spent a fifth of their time compiling and ran
// no faster for it.
constexpr const char* kSessionSettings =
    "SET DateStyle = 'ISO, YMD'; SET IntervalStyle = 'postgres'; SET extra_float_digits = 1; "
    "SET bytea_output = 'hex'; SET jit = off";

// FETCH FIRST ... WITH TIES and the other forms the translator writes.
constexpr int kOldestServer = 130000;

// Commands whose answers may wait unread before a long run of unawaited
// writes reads them: so many answers take little memory on either side.
constexpr size_t kMostUnread = 1024;

std::string savepoint(int level) { return "oskara_level_" + std::to_string(level); }

std::string tableName(const sql::TableInfo& table) {
  return quoteIdentifier(table.schema) + "." + quoteIdentifier(table.table);
}

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

}  // namespace

std::shared_ptr<PgConnection> PgConnection::open(const ServerLocation& location, const UserEntry& me) {
  const std::string applicationName = sessionName(me, program_invocation_short_name);
  // Our name comes after the location, so it wins over one the location or
  // the environment gives: the active users are found by it.
  const char* keywords[] = {"dbname", "application_name", "client_encoding", nullptr};
  const char* values[] = {location.conninfo.c_str(), applicationName.c_str(), "UTF8", nullptr};
  PGconn* conn = PQconnectdbParams(keywords, values, 1);
  if (!conn) throw connectionFailure(location, "out of memory");
  if (PQstatus(conn) != CONNECTION_OK) {
    Error error = connectionFailure(location, PQerrorMessage(conn));
    PQfinish(conn);
    throw error;
  }
  if (PQserverVersion(conn) < kOldestServer) {
    Error error = connectionFailure(location, "PostgreSQL " + std::to_string(PQserverVersion(conn) / 10000) +
                                                  " is too old: the engine needs PostgreSQL 13 or later");
    PQfinish(conn);
    throw error;
  }
  PGresult* settings = PQexec(conn, kSessionSettings);
  const bool set = PQresultStatus(settings) == PGRES_COMMAND_OK;
  PQclear(settings);
  if (!set || PQenterPipelineMode(conn) != 1) {
    Error error = connectionFailure(location, PQerrorMessage(conn));
    PQfinish(conn);
    throw error;
  }
  return std::shared_ptr<PgConnection>(new PgConnection(location, conn));
}

PgConnection::PgConnection(ServerLocation location, PGconn* conn)
    : location_(std::move(location)), conn_(conn) {
  // The connection serves every schema of its database: it is named without one.
  name_ = shownLocation(location_.conninfo);
}

// The server rolls back what is pending when the session ends.
PgConnection::~PgConnection() { PQfinish(conn_); }

// ---- The pipeline ----

void PgConnection::checkSent(int ok) {
  if (ok != 1) lost(PQerrorMessage(conn_));
}

void PgConnection::lost(std::string_view reason) {
  Error error = connectionLost(location_, reason);
  // Nothing more can be read: what was pending is gone with the connection.
  queue_.clear();
  if (depth_ > 0) {
    failure_ = error;
    failureLevel_ = 1;
  }
  throw error;
}

uint64_t PgConnection::enqueue(Command command) {
  command.id = ++nextId_;
  command.level = depth_;
  queue_.push_back(std::move(command));
  return nextId_;
}

void PgConnection::sync() {
  checkSent(PQpipelineSync(conn_));
  Command marker;
  marker.sync = true;
  enqueue(std::move(marker));
}

Result PgConnection::readOne() {
  Result result(PQgetResult(conn_));
  if (!result) lost(PQerrorMessage(conn_));
  if (PQresultStatus(result.get()) == PGRES_PIPELINE_SYNC) return result;
  // Each command's results end with a null.
  while (PGresult* extra = PQgetResult(conn_)) {
    if (PQresultStatus(extra) == PGRES_PIPELINE_SYNC) {
      PQclear(extra);
      lost("the server's answers are out of order");
    }
    PQclear(extra);
  }
  if (PQstatus(conn_) == CONNECTION_BAD) lost(PQerrorMessage(conn_));
  return result;
}

void PgConnection::note(const Command& command, Result result) {
  const ExecStatusType status = PQresultStatus(result.get());
  if (status == PGRES_COMMAND_OK && command.rows) *command.rows = std::strtoll(PQcmdTuples(result.get()), nullptr, 10);
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK || status == PGRES_PIPELINE_ABORTED) return;
  if (command.quiet || !command.deferred || failure_ || command.level == 0) return;
  const Deferred& d = *command.deferred;
  failure_ = resultFailure(result.get(), {name_, d.table, d.statement, d.write}, location_);
  failureLevel_ = command.level;
}

int64_t PgConnection::rowsWritten(uint64_t id, const std::shared_ptr<int64_t>& rows) {
  auto pending = std::find_if(queue_.begin(), queue_.end(), [&](const Command& c) { return c.id == id; });
  if (*rows < 0 && pending != queue_.end()) {
    const Command command = *pending;
    note(command, take(id));
  }
  if (*rows >= 0) return *rows;
  if (failure_) throw *failure_;
  return 0;  // rolled back before its outcome was read: none of its rows remain
}

Result PgConnection::take(uint64_t id) {
  // The server sends what it has only at a synchronisation point.
  const bool synced = std::any_of(queue_.begin(), queue_.end(), [&](const Command& c) { return c.sync && c.id > id; });
  if (!synced) sync();
  while (!queue_.empty()) {
    Command command = std::move(queue_.front());
    queue_.pop_front();
    Result result = readOne();
    if (command.sync) {
      if (PQresultStatus(result.get()) != PGRES_PIPELINE_SYNC) lost("the server's answers are out of order");
      continue;
    }
    if (command.id == id) return result;
    note(command, std::move(result));
  }
  lost("an answer of the server is missing");
}

void PgConnection::drain() {
  if (queue_.empty()) return;
  if (!queue_.back().sync) sync();
  while (!queue_.empty()) {
    Command command = std::move(queue_.front());
    queue_.pop_front();
    Result result = readOne();
    if (!command.sync) note(command, std::move(result));
  }
}

void PgConnection::raise(const PGresult* result, const FailureContext& context) {
  // Refused because an earlier command ended the transaction: that one's failure.
  const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
  if (failure_ && (PQresultStatus(result) == PGRES_PIPELINE_ABORTED || (state && std::string_view(state) == "25P02")))
    throw *failure_;
  if (PQresultStatus(result) == PGRES_PIPELINE_ABORTED)
    throw engineFailure("an earlier statement on the connection failed", context.statement);
  Error error = resultFailure(result, context, location_);
  if (depth_ > 0 && !failure_) {
    failure_ = error;
    failureLevel_ = depth_;
  }
  throw error;
}

Result PgConnection::awaitResult(uint64_t id, const FailureContext& context) {
  Result result = take(id);
  const ExecStatusType status = PQresultStatus(result.get());
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) raise(result.get(), context);
  return result;
}

// ---- Commands ----

namespace {

// libpq's arrays of parameter values.
struct ParameterArrays {
  explicit ParameterArrays(const Parameters& p) {
    values.reserve(p.text.size());
    for (size_t i = 0; i < p.text.size(); ++i) values.push_back(p.null[i] ? nullptr : p.text[i].c_str());
  }
  explicit ParameterArrays(const std::vector<std::string>& p) {
    for (const std::string& s : p) values.push_back(s.c_str());
  }
  int count() const { return static_cast<int>(values.size()); }
  std::vector<const char*> values;
};

}  // namespace

Result PgConnection::run(const std::string& sql, const std::vector<std::string>& parameters, std::string_view table) {
  if (failure_) throw *failure_;
  ParameterArrays values(parameters);
  checkSent(PQsendQueryParams(conn_, sql.c_str(), values.count(), nullptr, values.values.data(), nullptr, nullptr, 0));
  Command command;
  command.awaited = true;
  const uint64_t id = enqueue(std::move(command));
  return awaitResult(id, {name_, table, sql});
}

Result PgConnection::runPrepared(const Prepared& prepared, const Parameters& parameters,
                                 const FailureContext& context) {
  if (failure_) throw *failure_;
  const uint64_t id = sendPrepared(prepared, parameters);
  FailureContext statementContext = context;
  statementContext.write = !prepared.query;
  return awaitResult(id, statementContext);
}

uint64_t PgConnection::sendPrepared(const Prepared& prepared, const Parameters& parameters) {
  ParameterArrays values(parameters);
  checkSent(PQsendQueryPrepared(conn_, prepared.name.c_str(), values.count(), values.values.data(), nullptr,
                                nullptr, 0));
  Command command;
  command.awaited = true;
  return enqueue(std::move(command));
}

uint64_t PgConnection::send(const std::string& sql) {
  checkSent(PQsendQueryParams(conn_, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0));
  Command command;
  command.awaited = true;
  return enqueue(std::move(command));
}

Result PgConnection::runRowWrite(const Prepared& prepared, const Parameters& parameters,
                                 const FailureContext& context) {
  if (depth_ == 0) return runPrepared(prepared, parameters, context);
  if (failure_) throw *failure_;
  const std::string point = "oskara_row";
  const uint64_t saved = send("SAVEPOINT " + point);
  const uint64_t write = sendPrepared(prepared, parameters);
  const uint64_t released = send("RELEASE SAVEPOINT " + point);
  awaitResult(saved, {name_, {}, "SAVEPOINT " + point});
  Result result = take(write);
  const ExecStatusType status = PQresultStatus(result.get());
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
    awaitResult(released, {name_, {}, "RELEASE SAVEPOINT " + point});
    return result;
  }
  take(released);  // skipped by the server after the failure
  run("ROLLBACK TO SAVEPOINT " + point);
  run("RELEASE SAVEPOINT " + point);
  throw resultFailure(result.get(), context, location_);
}

backend::RowCount PgConnection::sendWrite(const Prepared& prepared, const Parameters& parameters,
                                          const FailureContext& context) {
  if (depth_ == 0)
    return std::strtoll(PQcmdTuples(runPrepared(prepared, parameters, context).get()), nullptr, 10);
  if (queue_.size() >= kMostUnread) drain();
  if (failure_) throw *failure_;
  ParameterArrays values(parameters);
  checkSent(PQsendQueryPrepared(conn_, prepared.name.c_str(), values.count(), values.values.data(), nullptr,
                                nullptr, 0));
  Command command;
  command.deferred = Deferred{std::string(context.table), std::string(context.statement), !prepared.query};
  auto rows = std::make_shared<int64_t>(-1);
  command.rows = rows;
  const uint64_t id = enqueue(std::move(command));
  return backend::RowCount([connection = weak_from_this(), id, rows]() -> int64_t {
    if (std::shared_ptr<PgConnection> c = connection.lock()) return c->rowsWritten(id, rows);
    return std::max<int64_t>(*rows, 0);  // closed: what was not committed is gone
  });
}

void PgConnection::sendQuietly(const std::string& sql, const std::vector<std::string>& parameters) {
  // A failed transaction refuses everything: it runs once that is rolled back.
  if (failure_) {
    afterRollback_.emplace_back(sql, parameters);
    return;
  }
  ParameterArrays values(parameters);
  if (PQsendQueryParams(conn_, sql.c_str(), values.count(), nullptr, values.values.data(), nullptr, nullptr, 0) != 1)
    return;  // a broken connection is told by the next command that waits
  Command command;
  command.quiet = true;
  enqueue(std::move(command));
  // Outside a transaction only a synchronisation point makes it happen.
  if (depth_ == 0 && PQpipelineSync(conn_) == 1) {
    Command marker;
    marker.sync = true;
    enqueue(std::move(marker));
  }
}

Result PgConnection::openCursor(const Prepared& prepared, const Parameters& parameters, size_t batch,
                                std::string& cursor, const FailureContext& context) {
  if (failure_) throw *failure_;
  cursor = nextName("osk_c");
  // WITH HOLD: outside a transaction the cursor outlives the statement that
  // opens it (its rows are kept by the server, never here).
  const std::string declare = "DECLARE " + cursor + " NO SCROLL CURSOR WITH HOLD FOR " + prepared.sql;
  ParameterArrays values(parameters);
  checkSent(PQsendQueryParams(conn_, declare.c_str(), values.count(), prepared.parameterTypes.data(),
                              values.values.data(), nullptr, nullptr, 0));
  Command declared;
  declared.awaited = true;
  const uint64_t declareId = enqueue(std::move(declared));
  const std::string fetch = "FETCH FORWARD " + std::to_string(batch) + " FROM " + cursor;
  checkSent(PQsendQueryParams(conn_, fetch.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0));
  Command fetched;
  fetched.awaited = true;
  const uint64_t fetchId = enqueue(std::move(fetched));
  try {
    awaitResult(declareId, context);
  } catch (...) {
    take(fetchId);
    cursor.clear();
    throw;
  }
  cursors_[cursor] = depth_;
  return awaitResult(fetchId, context);
}

void PgConnection::closeCursor(const std::string& cursor) {
  if (cursors_.erase(cursor)) sendQuietly("CLOSE " + cursor);
}

Result PgConnection::fetchCursor(const std::string& cursor, size_t batch, const FailureContext& context) {
  return run("FETCH FORWARD " + std::to_string(batch) + " FROM " + cursor, {}, context.table);
}

void PgConnection::release(const std::shared_ptr<Prepared>& prepared) {
  if (prepared.use_count() > 1) return;
  prepared_.erase(prepared->sql);
  sendQuietly("DEALLOCATE " + prepared->name);
}

// ---- Statements ----

std::unique_ptr<backend::Statement> PgConnection::prepare(const std::string& sql, std::string_view statement,
                                                          bool wholeResultFirst) {
  if (auto it = prepared_.find(sql); it != prepared_.end()) {
    if (std::shared_ptr<Prepared> shared = it->second.lock())
      return std::make_unique<PgStatement>(shared_from_this(), std::move(shared));
  }
  if (failure_) throw *failure_;
  auto prepared = std::make_shared<Prepared>();
  prepared->name = nextName("osk_s");
  prepared->sql = sql;
  prepared->query = startsWith(sql, "SELECT");
  prepared->cursorFirst = prepared->query && wholeResultFirst;
  // A query that streams is prepared as its probe: at most one row more
  // than a batch, so that a short result needs no cursor.
  const std::string text =
      prepared->query && !prepared->cursorFirst
          ? "SELECT * FROM (" + sql + ") AS osk_probe LIMIT " + std::to_string(PgStatement::kProbeRows)
          : sql;
  checkSent(PQsendPrepare(conn_, prepared->name.c_str(), text.c_str(), 0, nullptr));
  Command parsed;
  parsed.awaited = true;
  const uint64_t parseId = enqueue(std::move(parsed));
  checkSent(PQsendDescribePrepared(conn_, prepared->name.c_str()));
  Command described;
  described.awaited = true;
  const uint64_t describeId = enqueue(std::move(described));
  const FailureContext context{name_, {}, statement.empty() ? std::string_view(sql) : statement};
  try {
    awaitResult(parseId, context);
  } catch (...) {
    take(describeId);
    throw;
  }
  Result description = awaitResult(describeId, context);
  for (int i = 0; i < PQnparams(description.get()); ++i) prepared->parameterTypes.push_back(PQparamtype(description.get(), i));
  for (int i = 0; i < PQnfields(description.get()); ++i) prepared->columnNames.emplace_back(PQfname(description.get(), i));
  prepared_[sql] = prepared;
  return std::make_unique<PgStatement>(shared_from_this(), std::move(prepared));
}

std::string PgConnection::selectAllSql(const sql::TableInfo& table, std::string_view rowIdName) const {
  std::string columns;
  for (const sql::ColumnInfo& column : table.columns) columns += quoteIdentifier(column.name) + ", ";
  return "SELECT " + columns + "ctid AS " + quoteIdentifier(rowIdName) + " FROM " + tableName(table);
}

std::string PgConnection::insertSql(const sql::TableInfo& table, const std::vector<std::string>& columns) const {
  return backend::insertOf(tableName(table), columns, '$');
}

std::string PgConnection::updateSql(const sql::TableInfo& table, const std::vector<std::string>& columns) const {
  // The row's identity changes with each write: the new one comes back.
  return "UPDATE " + tableName(table) + " SET " + backend::assignmentsOf(columns, '$') + " WHERE ctid = $" +
         std::to_string(columns.size() + 1) + "::tid RETURNING ctid";
}

// ---- Transactions ----

void PgConnection::endCursors(int level, bool kept) {
  for (auto it = cursors_.begin(); it != cursors_.end();) {
    if (it->second < level) {
      ++it;
    } else if (kept) {
      it->second = level - 1;  // a held cursor outlives the commit
      ++it;
    } else {
      it = cursors_.erase(it);  // the server closed it with the rollback
    }
  }
}

void PgConnection::begin(int level) {
  if (failure_) throw *failure_;
  const std::string sql = level == 1 ? "BEGIN" : "SAVEPOINT " + savepoint(level);
  checkSent(PQsendQueryParams(conn_, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0));
  depth_ = level;
  Command command;
  command.deferred = Deferred{{}, sql};
  enqueue(std::move(command));
}

void PgConnection::commit(int level) {
  if (level > 1) {
    const std::string sql = "RELEASE SAVEPOINT " + savepoint(level);
    checkSent(PQsendQueryParams(conn_, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0));
    Command command;
    command.deferred = Deferred{{}, sql};
    enqueue(std::move(command));
    depth_ = level - 1;
    // A failure inside the level is now one of the level below.
    failureLevel_ = std::min(failureLevel_, depth_);
    endCursors(level, true);
    return;
  }
  if (failure_) {
    Error failure = *failure_;
    abandon(1);
    throw failure;
  }
  try {
    run("COMMIT");
  } catch (...) {
    abandon(1);
    throw;
  }
  depth_ = 0;
  // A command sent without waiting that failed made the server end the
  // transaction: the commit was a rollback.
  endCursors(1, !failure_);
  if (failure_) {
    Error failure = *failure_;
    failure_.reset();
    runAfterRollback();
    throw failure;
  }
}

void PgConnection::rollback(int level) {
  if (depth_ == 0) return;
  // Commands sent without waiting are read first (drain): a failure among
  // them would make the server skip a rollback sent after it.
  if (level > 1) {
    drain();
    std::optional<Error> before = std::move(failure_);
    failure_.reset();  // rolling back to a savepoint is what a failed transaction allows
    try {
      run("ROLLBACK TO SAVEPOINT " + savepoint(level));
      run("RELEASE SAVEPOINT " + savepoint(level));
    } catch (...) {
      if (!failure_) failure_ = std::move(before);
      throw;
    }
    depth_ = level - 1;
    endCursors(level, false);
    // A failure inside the level is undone with it; one below it remains.
    if (before && failureLevel_ < level) failure_ = std::move(before);
    return;
  }
  try {
    drain();
    failure_.reset();
    run("ROLLBACK");
  } catch (...) {
    depth_ = 0;
    failure_.reset();
    endCursors(1, false);
    throw;
  }
  // Failures of commands sent without waiting, read on the way, are undone too.
  depth_ = 0;
  failure_.reset();
  endCursors(1, false);
  runAfterRollback();
}

void PgConnection::runAfterRollback() {
  std::vector<std::pair<std::string, std::vector<std::string>>> pending;
  pending.swap(afterRollback_);
  for (const auto& [sql, parameters] : pending) sendQuietly(sql, parameters);
}

void PgConnection::abandon(int level) noexcept {
  try {
    rollback(level);
  } catch (...) {
    if (level == 1) {
      depth_ = 0;
      failure_.reset();
      afterRollback_.clear();  // the connection is gone: so are the session's locks
    }
  }
}

// ---- Deny-write locks ----

const void* PgConnection::lockHolder(const std::string& key) const {
  auto it = lockHolders_.find(key);
  return it == lockHolders_.end() ? nullptr : it->second;
}

void PgConnection::setLockHolder(const std::string& key, const void* store) { lockHolders_[key] = store; }

void PgConnection::clearLockHolder(const std::string& key) { lockHolders_.erase(key); }

}  // namespace oskara::db::postgres
