#include "directdb/server_database.h"

#include <memory>

#include "core/error.h"
#include "dbengine/errors.h"

namespace oskara::directdb {
namespace {

namespace errc = db::errc;
using db::postgres::ServerLocation;

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

}  // namespace

ServerDatabase::ServerDatabase(const ServerLocation& location) : location_(location) {
  const char* keywords[] = {"dbname", "fallback_application_name", "client_encoding", nullptr};
  const char* values[] = {location_.conninfo.c_str(), "oskara", "UTF8", nullptr};
  conn_ = PQconnectdbParams(keywords, values, 1);
  if (!conn_) throw db::postgres::connectionFailure(location_, "out of memory");
  if (PQstatus(conn_) != CONNECTION_OK) {
    Error error = db::postgres::connectionFailure(location_, PQerrorMessage(conn_));
    PQfinish(conn_);
    throw error;
  }
  try {
    exec("SET client_min_messages = warning; SET datestyle = ISO; SET extra_float_digits = 1; BEGIN");
  } catch (...) {
    PQfinish(conn_);
    throw;
  }
  open_ = true;
}

ServerDatabase::~ServerDatabase() {
  if (open_) PQclear(PQexec(conn_, "ROLLBACK"));
  PQfinish(conn_);
}

void ServerDatabase::fail(std::string_view sql) {
  std::string reason = db::postgres::scrubbed(db::postgres::serverReason(PQerrorMessage(conn_)), location_);
  if (sql.size() > 200) sql = sql.substr(0, 200);
  throw Error(errc::kReserved, "The PostgreSQL server of '" + location_.shown + "' refused a statement: " + reason +
                                   " (in: " + std::string(sql) + ")");
}

int ServerDatabase::socket() const { return PQsocket(conn_); }

std::vector<std::string> ServerDatabase::takeNotifications() {
  if (!PQconsumeInput(conn_)) fail("LISTEN");
  std::vector<std::string> payloads;
  while (PGnotify* notification = PQnotifies(conn_)) {
    payloads.emplace_back(notification->extra);
    PQfreemem(notification);
  }
  return payloads;
}

void ServerDatabase::exec(const std::string& sql) {
  Result r(PQexec(conn_, sql.c_str()));
  if (PQresultStatus(r.get()) != PGRES_COMMAND_OK && PQresultStatus(r.get()) != PGRES_TUPLES_OK) fail(sql);
}

PGresult* ServerDatabase::run(const std::string& sql, const Row& parameters) {
  std::vector<const char*> values;
  for (const auto& p : parameters) values.push_back(p ? p->c_str() : nullptr);
  return PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr, nullptr,
                      0);
}

void ServerDatabase::exec(const std::string& sql, const Row& parameters) {
  Result r(run(sql, parameters));
  if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) fail(sql);
}

std::vector<ServerDatabase::Row> ServerDatabase::query(const std::string& sql, const Row& parameters) {
  Result r(run(sql, parameters));
  if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) fail(sql);
  std::vector<Row> rows;
  for (int row = 0; row < PQntuples(r.get()); ++row) {
    Row values;
    for (int column = 0; column < PQnfields(r.get()); ++column) {
      if (PQgetisnull(r.get(), row, column)) values.emplace_back();
      else values.emplace_back(PQgetvalue(r.get(), row, column));
    }
    rows.push_back(std::move(values));
  }
  return rows;
}

void ServerDatabase::commit() {
  exec("COMMIT");
  open_ = false;
}

void ServerDatabase::copyIn(const std::string& copySql, std::string_view data) {
  Result start(PQexec(conn_, copySql.c_str()));
  if (PQresultStatus(start.get()) != PGRES_COPY_IN) fail(copySql);
  const bool sent = PQputCopyData(conn_, data.data(), static_cast<int>(data.size())) == 1;
  if (PQputCopyEnd(conn_, sent ? nullptr : "the rows could not be sent") != 1) fail(copySql);
  Result end(PQgetResult(conn_));
  const bool ok = PQresultStatus(end.get()) == PGRES_COMMAND_OK;
  while (PGresult* more = PQgetResult(conn_)) PQclear(more);
  if (!ok) fail(copySql);
}

void ServerDatabase::copyOut(const std::string& copySql, const std::function<void(std::string_view)>& line) {
  Result start(PQexec(conn_, copySql.c_str()));
  if (PQresultStatus(start.get()) != PGRES_COPY_OUT) fail(copySql);
  char* buffer = nullptr;
  int length = 0;
  while ((length = PQgetCopyData(conn_, &buffer, 0)) > 0) {
    std::unique_ptr<char, decltype(&PQfreemem)> owned(buffer, &PQfreemem);
    std::string_view text(buffer, static_cast<size_t>(length));
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    line(text);
  }
  Result end(PQgetResult(conn_));
  const bool ok = length == -1 && PQresultStatus(end.get()) == PGRES_COMMAND_OK;
  while (PGresult* more = PQgetResult(conn_)) PQclear(more);
  if (!ok) fail(copySql);
}

std::string ServerDatabase::quoted(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

void appendCopyValue(std::string& line, std::string_view value) {
  for (char c : value) {
    switch (c) {
      case '\\': line += "\\\\"; break;
      case '\t': line += "\\t"; break;
      case '\n': line += "\\n"; break;
      case '\r': line += "\\r"; break;
      default: line += c;
    }
  }
}

ServerDatabase::Row parseCopyLine(std::string_view line) {
  ServerDatabase::Row row;
  size_t start = 0;
  while (true) {
    const size_t tab = line.find('\t', start);
    const std::string_view field = line.substr(start, tab == std::string_view::npos ? tab : tab - start);
    if (field == "\\N") {
      row.emplace_back();
    } else {
      std::string value;
      for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
          value += field[i];
          continue;
        }
        switch (field[++i]) {
          case 't': value += '\t'; break;
          case 'n': value += '\n'; break;
          case 'r': value += '\r'; break;
          case 'b': value += '\b'; break;
          case 'f': value += '\f'; break;
          case 'v': value += '\v'; break;
          default: value += field[i];
        }
      }
      row.emplace_back(std::move(value));
    }
    if (tab == std::string_view::npos) break;
    start = tab + 1;
  }
  return row;
}

}  // namespace oskara::directdb
