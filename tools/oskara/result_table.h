// Printing rows for people and scripts: an aligned text table, CSV or JSON.
//  - text: a header line, a rule, one line per row; numbers right-aligned,
//    Null shown as "Null", booleans as True/False, dates as ISO text;
//  - CSV: a header record, one record per row, fields quoted as RFC 4180
//    asks (only when they hold a comma, a quote or a line break; quotes
//    doubled); Null is an empty field; lines end with LF;
//  - JSON: an array of objects, one per row, keys in column order; Null is
//    null, booleans and numbers are JSON booleans and numbers, dates ISO text.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "core/variant.h"

namespace oskara::tool {

struct ResultTable {
  std::vector<std::string> columns;           // names as the statement gives them
  std::vector<std::vector<Variant>> rows;     // one value per column
};

enum class OutputFormat { Text, Csv, Json };

void writeText(std::ostream& out, const ResultTable& table);
void writeCsv(std::ostream& out, const ResultTable& table);
void writeJson(std::ostream& out, const ResultTable& table);
void writeResult(std::ostream& out, const ResultTable& table, OutputFormat format);

// One CSV field, quoted when it must be.
std::string csvField(std::string_view text);

// A value as the text table shows it.
std::string displayText(const Variant& value);

}  // namespace oskara::tool
