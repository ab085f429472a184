// db sql and queue: dialect statements on a database file through the
// database engine, exactly as the servers run them (links, stored queries,
// the dialect), with the rows printed for people or scripts.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "result_table.h"

namespace oskara::tool {

struct SqlRequest {
  std::string database;             // file path
  std::string statement;            // dialect text, or a table, link or stored query name
  std::vector<std::string> params;  // NAME=VALUE, for the statement's parameters
  bool csv = false;
  bool json = false;

  OutputFormat format() const {
    return json ? OutputFormat::Json : csv ? OutputFormat::Csv : OutputFormat::Text;
  }
};

// Runs one statement. Rows go to `out` (text adds a "(N rows)" line); an
// action statement runs whole or not at all and prints "N rows affected.".
// Failures throw oskara::Error with the engine's number. Returns 0.
int runSql(const SqlRequest& request, std::ostream& out);

// The collection queue of a DT file by reason code, then customer; text adds
// a count line. Returns 0.
int showQueue(const std::string& dtPath, OutputFormat format, std::ostream& out);

// Why a customer is in the queue, or not (scanrules/explain.h), as text or
// JSON. `so` may be "". Returns 0.
int explainCustomer(const std::string& dt, const std::string& ar, const std::string& so,
                    const std::string& custId, bool json, std::ostream& out);

// The queue of a DT database per reason code: TransType, Reason (the remark
// of one of its rows) and Customers, by reason code.
ResultTable queueSummary(const std::string& dtPath);
// The summary as a text table and a line with the total.
void writeQueueSummary(std::ostream& out, const ResultTable& summary);
// LastQueueProc of the DT database's options, as ISO text ("" when unset).
std::string lastQueueProc(const std::string& dtPath);

}  // namespace oskara::tool
