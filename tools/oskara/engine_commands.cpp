// db sql and queue: statements of the dialect through the database engine,
// exactly as the servers run them (links, stored queries, the dialect).
#include "engine_commands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <memory>

#include "commands.h"
#include "contract/options.h"
#include "contract/tables.h"
#include "core/error.h"
#include "core/text.h"
#include "dbengine/dbengine.h"
#include "dbengine/errors.h"
#include "result_table.h"
#include "scanrules/explain.h"
#include "statement_text.h"

namespace oskara::tool {
namespace {

ResultTable readAll(db::Recordset& rs) {
  ResultTable table;
  const int columns = rs.fieldCount();
  for (int c = 0; c < columns; ++c) table.columns.push_back(rs.fieldName(c));
  for (; !rs.eof(); rs.moveNext()) {
    auto& row = table.rows.emplace_back();
    row.reserve(static_cast<size_t>(columns));
    for (int c = 0; c < columns; ++c) row.push_back(rs.field(c));
  }
  rs.close();
  return table;
}

db::DatabasePtr openDatabase(const std::string& path) {
  return db::Engine::instance().workspace(0).openDatabase(path);
}

bool isStoredQuery(db::Database& database, std::string_view name) {
  for (const std::string& q : database.queryDefNames()) {
    if (equalsIgnoreCase(q, name)) return true;
  }
  return false;
}

void setParameters(db::QueryDef& query, const std::vector<std::string>& params) {
  for (const std::string& param : params) {
    const size_t eq = param.find('=');
    if (eq == std::string::npos || eq == 0)
      throw Error(db::errc::kInvalidArgument,
                  "The parameter '" + param + "' is not in the form NAME=VALUE.");
    query.setParameter(param.substr(0, eq), parameterValue(std::string_view(param).substr(eq + 1)));
  }
}

void printRows(std::ostream& out, const ResultTable& table, OutputFormat format) {
  writeResult(out, table, format);
  if (format == OutputFormat::Text)
    out << '(' << table.rows.size() << (table.rows.size() == 1 ? " row)\n" : " rows)\n");
}

}  // namespace

int runSql(const SqlRequest& request, std::ostream& out) {
  db::DatabasePtr database = openDatabase(request.database);

  // A bare name shows a table, a link or a stored query; anything else is a statement.
  const std::string name = bareName(request.statement);
  db::QueryDefPtr query;
  if (!name.empty() && isStoredQuery(*database, name)) {
    query = database->queryDef(name);
  } else if (!name.empty()) {
    if (!request.params.empty())
      throw Error(db::errc::kInvalidArgument, "Parameters were given, but '" + name + "' is a table.");
    printRows(out, readAll(*database->openRecordset(name, db::RecordsetType::ForwardOnly)), request.format());
    return 0;
  } else {
    query = database->createQueryDef("", request.statement);
  }
  setParameters(*query, request.params);

  if (returnsRows(query->sql())) {
    printRows(out, readAll(*query->openRecordset(db::RecordsetType::ForwardOnly)), request.format());
  } else {
    query->execute(db::kFailOnError);
    const int64_t rows = query->recordsAffected();
    out << rows << (rows == 1 ? " row affected.\n" : " rows affected.\n");
  }
  query->close();
  return 0;
}

int showQueue(const std::string& path, OutputFormat format, std::ostream& out) {
  db::DatabasePtr database = openDatabase(path);
  const ResultTable table = readAll(*database->openRecordset(
      "SELECT CustID, TransType, Remark, EntryDate, EntryTime, LogID FROM " +
          std::string(contract::kTblDTQueue) + " ORDER BY TransType, CustID;",
      db::RecordsetType::ForwardOnly));
  writeResult(out, table, format);
  if (format == OutputFormat::Text)
    out << table.rows.size() << (table.rows.size() == 1 ? " customer" : " customers")
              << " in the queue.\n";
  return 0;
}

int explainCustomer(const std::string& dt, const std::string& ar, const std::string& so,
                    const std::string& custId, bool json, std::ostream& out) {
  const scanrules::Explanation explanation = scanrules::explainCustomer(dt, ar, so, custId);
  out << (json ? scanrules::explanationJson(explanation) + "\n" : scanrules::explanationText(explanation));
  return 0;
}

ResultTable queueSummary(const std::string& dtPath) {
  db::DatabasePtr database = openDatabase(dtPath);
  return readAll(*database->openRecordset(
      "SELECT TransType, Min(Remark) AS Reason, Count(*) AS Customers FROM " +
          std::string(contract::kTblDTQueue) + " GROUP BY TransType ORDER BY TransType;",
      db::RecordsetType::ForwardOnly));
}

void writeQueueSummary(std::ostream& out, const ResultTable& summary) {
  int64_t total = 0;
  for (const auto& row : summary.rows) total += row[2].toInt32();
  if (!summary.rows.empty()) writeText(out, summary);
  out << total << (total == 1 ? " customer" : " customers") << " in the queue.\n";
}

std::string lastQueueProc(const std::string& dtPath) {
  db::DatabasePtr database = openDatabase(dtPath);
  db::RecordsetPtr rs = database->openRecordset(
      "SELECT " + std::string(contract::kLastQueueProc) + " FROM " +
          std::string(contract::kTblDTOptions),
      db::RecordsetType::ForwardOnly);
  const std::string stamp =
      rs->eof() || rs->field(0).isNull() ? std::string() : displayText(rs->field(0));
  rs->close();
  return stamp;
}

namespace {

void addFormatFlags(CLI::App& command, bool& csv, bool& json) {
  CLI::Option* c = command.add_flag("--csv", csv, "Print CSV (a header record, then one record per row)");
  CLI::Option* j = command.add_flag("--json", json, "Print a JSON array of objects, one per row");
  c->excludes(j);
}

}  // namespace

void addEngineCommands(CLI::App& app, CLI::App& db, Action& action, FollowQueue follow) {
  {
    auto request = std::make_shared<SqlRequest>();
    CLI::App* sql = db.add_subcommand(
        "sql", "Run one statement of the dialect on DB through the database engine. A SELECT (or a "
               "table, link or stored query name) prints its rows; any other statement runs whole or "
               "not at all and reports the rows it changed.");
    sql->add_option("DB", request->database, "Database file")->required();
    sql->add_option("STATEMENT", request->statement,
                    "Dialect statement, or a table or query name. One that begins with '-' would be "
                    "taken for an option: put '--' before it (oskara db sql DB -- STATEMENT).")
        ->required();
    sql->add_option("-p,--param", request->params,
                    "Value of a query parameter, NAME=VALUE (True/False, Null, numbers and ISO dates "
                    "are typed; anything else is text). Repeat for several.")
        ->allow_extra_args(false);
    addFormatFlags(*sql, request->csv, request->json);
    sql->callback([&action, request] { action = [request] { return runSql(*request, std::cout); }; });
  }
  {
    auto path = std::make_shared<std::string>();
    auto flags = std::make_shared<std::pair<bool, bool>>(false, false);
    CLI::App* queue = app.add_subcommand(
        "queue", "Print the collection queue of the DT database, by reason code and customer.");
    queue->add_option("DT", *path, "DT database file")->required();
    addFormatFlags(*queue, flags->first, flags->second);
    auto followed = std::make_shared<bool>(false);
    queue->add_flag("--follow", *followed,
                    "Print the customers per reason code, and again each time the queue changes "
                    "(a queue update's signal on the session bus, a server database's "
                    "notification, or a new LastQueueProc, looked at every 3 s), until interrupted")
        ->excludes("--csv")
        ->excludes("--json");
    queue->callback([&action, path, flags, followed, follow] {
      if (*followed) {
        action = [path, follow] { return follow(*path); };
        return;
      }
      action = [path, flags] {
        return showQueue(*path, flags->second  ? OutputFormat::Json
                                : flags->first ? OutputFormat::Csv
                                               : OutputFormat::Text,
                         std::cout);
      };
    });
  }
  {
    struct Request {
      std::string dt, ar, so, custId;
      bool json = false;
    };
    auto request = std::make_shared<Request>();
    CLI::App* explain = app.add_subcommand(
        "explain", "Explain why a customer is in the collection queue, or not: its queue row now, then "
                   "every scan rule in the scan's order with the verdict it reaches today, the values it "
                   "compared, and which earlier rule takes the customer first. Only reads.");
    explain->add_option("DT", request->dt, "Debt-tracking database file")->required();
    explain->add_option("AR", request->ar, "Accounts-receivable database file")->required();
    explain->add_option("SO", request->so, "Sales-order database file (may be left out)")->required();
    CLI::Option* custId = explain->add_option(
        "CUSTID", request->custId, "Customer id; given three arguments, the third is the customer");
    explain->add_flag("--json", request->json, "Print the explanation as one JSON object");
    explain->callback([&action, request, custId] {
      // DT AR CUSTID: the SO file was left out.
      if (custId->count() == 0) std::swap(request->so, request->custId);
      action = [request] {
        return explainCustomer(request->dt, request->ar, request->so, request->custId,
                               request->json, std::cout);
      };
    });
  }
}

}  // namespace oskara::tool
