// ServerDatabase: a direct session with one PostgreSQL server database,
// bypassing the engine: plain PostgreSQL SQL, bulk rows through COPY. It is
// how the administration tool creates, fills and reads the schemas of a set
// of databases on a server. The session runs one transaction from opening:
// nothing it did stays unless commit() is called.
#pragma once

#include <libpq-fe.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/postgres/location.h"

namespace oskara::directdb {

// Failures throw oskara::Error: the connection's as the engine's (3044, 3024,
// 3051; location.h), a refused statement 3000, each naming the location
// without its password and carrying the server's reason.
class ServerDatabase {
 public:
  using Row = std::vector<std::optional<std::string>>;  // values as the server's text, nullopt for Null

  // Connects as libpq does for `location` (its parameters and environment)
  // and begins the transaction.
  explicit ServerDatabase(const db::postgres::ServerLocation& location);
  ~ServerDatabase();  // rolls back unless committed
  ServerDatabase(const ServerDatabase&) = delete;
  ServerDatabase& operator=(const ServerDatabase&) = delete;

  const db::postgres::ServerLocation& location() const { return location_; }

  // Runs one or more statements that return no rows.
  void exec(const std::string& sql);
  // Runs one statement with $1, $2, ... bound to `parameters` (nullopt: Null).
  void exec(const std::string& sql, const Row& parameters);
  // All rows of a query, parameters as for exec.
  std::vector<Row> query(const std::string& sql, const Row& parameters = {});
  void commit();

  // COPY ... FROM STDIN: `data` is lines of COPY's text format.
  void copyIn(const std::string& copySql, std::string_view data);
  // COPY ... TO STDOUT: each line of COPY's text format, in order, without
  // holding the result.
  void copyOut(const std::string& copySql, const std::function<void(std::string_view line)>& line);

  // The session's socket, for an event loop that waits for notifications.
  int socket() const;
  // The payloads of the notifications of the channels this session LISTENs
  // to that have arrived, read without waiting; empty when none. Outside a
  // transaction (after commit) only: the server holds them back until then.
  std::vector<std::string> takeNotifications();

  // An identifier as the server reads it, quoted.
  static std::string quoted(std::string_view name);

 private:
  [[noreturn]] void fail(std::string_view sql);
  PGresult* run(const std::string& sql, const Row& parameters);

  db::postgres::ServerLocation location_;
  PGconn* conn_ = nullptr;  // owned
  bool open_ = false;       // in the transaction
};

// COPY's text format: a value with its backslash, tab, newline and carriage
// return escaped; `\N` is Null.
void appendCopyValue(std::string& line, std::string_view value);
// A line of COPY's text format back into its values.
ServerDatabase::Row parseCopyLine(std::string_view line);

}  // namespace oskara::directdb
