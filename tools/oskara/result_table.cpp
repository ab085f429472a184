#include "result_table.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>

#include "core/variant_json.h"

namespace oskara::tool {
namespace {

bool isNumber(const Variant& v) {
  const VarType t = v.type();
  return t == VarType::Integer || t == VarType::Long || t == VarType::Double;
}

// Width on a terminal: UTF-8 continuation bytes take no column.
size_t displayWidth(std::string_view text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

void pad(std::ostream& out, size_t count) {
  for (size_t i = 0; i < count; ++i) out << ' ';
}

}  // namespace

std::string displayText(const Variant& value) {
  switch (value.type()) {
    case VarType::Empty: return "";
    case VarType::Null: return "Null";
    case VarType::Double: return formatDouble(*value.get<double>());
    case VarType::Date: return value.get<DateTime>()->toIso();
    case VarType::Error: return "Error " + std::to_string(value.errorCode());
    case VarType::Object: return "(object)";
    default: return value.toString();
  }
}

std::string csvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

void writeText(std::ostream& out, const ResultTable& table) {
  const size_t n = table.columns.size();
  std::vector<std::vector<std::string>> cells;
  cells.reserve(table.rows.size());
  std::vector<size_t> width(n);
  std::vector<bool> rightAligned(n, false);
  for (size_t c = 0; c < n; ++c) width[c] = displayWidth(table.columns[c]);
  for (const auto& row : table.rows) {
    auto& line = cells.emplace_back();
    for (size_t c = 0; c < n; ++c) {
      line.push_back(displayText(row[c]));
      width[c] = std::max(width[c], displayWidth(line.back()));
      if (isNumber(row[c])) rightAligned[c] = true;
    }
  }

  const auto writeLine = [&](const std::vector<std::string>& values, bool header) {
    for (size_t c = 0; c < n; ++c) {
      const size_t gap = width[c] - displayWidth(values[c]);
      const bool last = c + 1 == n;
      if (c > 0) out << "  ";
      if (rightAligned[c] && !header) {
        pad(out, gap);
        out << values[c];
      } else {
        out << values[c];
        if (!last) pad(out, gap);
      }
    }
    out << '\n';
  };
  writeLine(table.columns, true);
  std::vector<std::string> rule;
  for (size_t c = 0; c < n; ++c) rule.emplace_back(width[c], '-');
  writeLine(rule, true);
  for (const auto& line : cells) writeLine(line, false);
}

void writeCsv(std::ostream& out, const ResultTable& table) {
  const auto writeRecord = [&](const auto& values, auto toText) {
    for (size_t c = 0; c < values.size(); ++c) {
      if (c > 0) out << ',';
      out << csvField(toText(values[c]));
    }
    out << '\n';
  };
  writeRecord(table.columns, [](const std::string& s) { return s; });
  for (const auto& row : table.rows)
    writeRecord(row, [](const Variant& v) { return v.isNull() ? std::string() : displayText(v); });
}

void writeJson(std::ostream& out, const ResultTable& table) {
  // Two columns of one name (a join selecting CustId twice) must not hide each other.
  std::vector<std::string> keys;
  std::set<std::string> used;
  for (const std::string& name : table.columns) {
    std::string key = name;
    for (int k = 2; used.count(key) > 0; ++k) key = name + "_" + std::to_string(k);
    used.insert(key);
    keys.push_back(key);
  }
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  for (const auto& row : table.rows) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (size_t c = 0; c < keys.size(); ++c) object[keys[c]] = jsonValue(row[c]);
    rows.push_back(std::move(object));
  }
  out << rows.dump(2) << '\n';
}

void writeResult(std::ostream& out, const ResultTable& table, OutputFormat format) {
  switch (format) {
    case OutputFormat::Text: writeText(out, table); break;
    case OutputFormat::Csv: writeCsv(out, table); break;
    case OutputFormat::Json: writeJson(out, table); break;
  }
}

}  // namespace oskara::tool
