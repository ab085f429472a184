#include "scanrules/explain.h"

#include <nlohmann/json.hpp>
#include <sstream>

#include "contract/tables.h"
#include "core/clock.h"
#include "core/error.h"
#include "core/text.h"
#include "core/variant_json.h"
#include "dbengine/dbengine.h"
#include "dbengine/errors.h"

namespace oskara::scanrules {
namespace {

using db::RecordsetType;
using Row = std::vector<Variant>;

// The scan's number for a DT database without its options record.
constexpr int32_t kErrMissingOptions = -2147220386;

// The parameter that carries the customer id into every statement here, so
// that no id, whatever it holds, becomes statement text.
constexpr std::string_view kCustomerParameter = "ExplainedCustomer";

std::vector<Row> readRows(db::Recordset& rs) {
  std::vector<Row> rows;
  for (; !rs.eof(); rs.moveNext()) {
    Row& row = rows.emplace_back();
    for (int c = 0; c < rs.fieldCount(); ++c) row.push_back(rs.field(c));
  }
  rs.close();
  return rows;
}

std::vector<Row> rowsOfCustomer(db::Database& dt, const std::string& sql, const std::string& custId) {
  db::QueryDefPtr query = dt.createQueryDef("", sql);
  query->setParameter(kCustomerParameter, Variant(custId));
  return readRows(*query->openRecordset(RecordsetType::ForwardOnly));
}

ScanOptions loadOptions(db::Database& dt) {
  db::RecordsetPtr rs = dt.openRecordset(contract::kTblDTOptions, RecordsetType::ForwardOnly);
  if (rs->eof())
    throw Error(kErrMissingOptions,
                "Missing Options record: the table tblDTOptions of the DT database has no record.");
  ScanOptions options;
  for (const contract::OptionField& field : contract::kOptionFields)
    contract::loadOption(options, field, rs->field(field.name));
  rs->close();
  return options;
}

Variant optionValue(const ScanOptions& options, const contract::OptionMember& member) {
  return std::visit([&](auto pointer) { return Variant(options.*pointer); }, member);
}

std::string optionNameOf(const contract::OptionMember& member) {
  return std::string(std::visit([](auto pointer) { return contract::optionName(pointer); }, member));
}

std::optional<QueueEntry> queueEntryOf(db::Database& dt, const std::string& custId) {
  const std::vector<Row> rows = rowsOfCustomer(
      dt,
      "SELECT CustID, TransType, Remark, EntryDate, EntryTime, LogID FROM tblDTQueue "
      "WHERE CustID = [" + std::string(kCustomerParameter) + "];",
      custId);
  if (rows.empty()) return std::nullopt;
  const Row& row = rows.front();
  return QueueEntry{row[0].toString(), row[1].isNull() ? int16_t{0} : row[1].toInt16(), row[2],
                    row[3], row[4], row[5]};
}

// Whether the stored query of `rule`, with its parameter as the scan sets
// it, returns a record of the customer.
bool storedQuerySelects(db::Database& dt, const ScanRule& rule, const ScanOptions& options,
                        const std::string& custId) {
  db::QueryDefPtr query = dt.queryDef(rule.storedQuery);
  query->setParameter(contract::optionName(rule.parameter), options.*rule.parameter);
  db::RecordsetPtr rs = query->openRecordset(RecordsetType::ForwardOnly);
  bool found = false;
  for (; !rs->eof() && !found; rs->moveNext()) {
    const Variant id = rs->field("CustId");
    found = !id.isNull() && equalsIgnoreCase(id.toString(), custId);
  }
  rs->close();
  return found;
}

// The rule's shown values and its conditions, each as a truth value, on
// every row of its FROM that names the customer.
std::string evaluationStatement(const ScanRule& rule, const ScanOptions& options) {
  std::string sql = "SELECT ";
  for (size_t i = 0; i < rule.shown.size(); ++i)
    sql += (i ? ", " : "") + std::string(rule.shown[i].expression) + " AS Shown" + std::to_string(i);
  for (size_t i = 0; i < rule.conditions.size(); ++i)
    sql += ", IIf(" + rule.conditions[i].text(options) + ", True, False) AS Holds" + std::to_string(i);
  return sql + " FROM " + std::string(rule.from) + " WHERE " + std::string(rule.customer) + " = [" +
         std::string(kCustomerParameter) + "];";
}

RuleExplanation evaluate(db::Database& dt, const ScanRule& rule, const ScanOptions& options,
                         const std::string& custId) {
  RuleExplanation out;
  out.rule = &rule;
  out.enabled = options.*rule.option;
  out.remark = rule.remark.text(options);
  for (const contract::OptionMember& member : rule.reads)
    out.options.emplace_back(optionNameOf(member), optionValue(options, member));

  std::vector<Row> rows;
  try {
    rows = rowsOfCustomer(dt, evaluationStatement(rule, options), custId);
  } catch (...) {
    // A stored query's rule shows fields of the system's own files, which
    // a database with a query of its own need not have; its verdict is the
    // query's.
    if (rule.kind != RuleKind::StoredQuery) throw;
  }
  out.rows = static_cast<int>(rows.size());
  const size_t shown = rule.shown.size();
  auto meetsAll = [&](const Row& row) {
    for (size_t i = shown; i < row.size(); ++i) {
      if (!row[i].toBool()) return false;
    }
    return true;
  };
  const Row* decided = nullptr;
  for (const Row& row : rows) {
    if (meetsAll(row)) {
      decided = &row;
      break;
    }
  }
  out.selects = rule.kind == RuleKind::StoredQuery ? storedQuerySelects(dt, rule, options, custId)
                                                   : decided != nullptr;
  if (!decided && !rows.empty()) decided = &rows.front();
  if (decided) {
    for (size_t i = 0; i < shown; ++i)
      out.values.emplace_back(std::string(rule.shown[i].name), (*decided)[i]);
    for (size_t i = 0; i < rule.conditions.size(); ++i)
      out.conditions.emplace_back(rule.conditions[i].text(options), (*decided)[shown + i].toBool());
  }
  return out;
}

// The scan's order decides: the first enabled rule that selects the
// customer queues it; with the queue not reset a queued customer keeps its
// row, unless a rule may replace it (the call-back under priority).
void decide(Explanation& e, const ScanOptions& options) {
  const bool rowKept = !e.resetQueue && e.queued.has_value();
  for (RuleExplanation& r : e.rules) {
    if (!r.enabled) {
      r.verdict = Verdict::Off;
    } else if (!r.selects) {
      r.verdict = Verdict::NotSelected;
    } else if (e.by) {
      r.verdict = Verdict::TakenEarlier;
      r.takenBy = e.by;
    } else if (rowKept && !(r.rule->priority && options.*r.rule->priority)) {
      r.verdict = Verdict::RowKept;
    } else {
      r.verdict = Verdict::Queues;
      e.by = r.rule;
      e.reason = r.rule->transType;
    }
  }
  if (!e.by && rowKept) e.reason = e.queued->transType;
}

nlohmann::ordered_json jsonObject(const NamedValues& values) {
  nlohmann::ordered_json object = nlohmann::ordered_json::object();
  for (const auto& [name, value] : values) object[name] = jsonValue(value);
  return object;
}

std::string shownText(const Variant& v) {
  if (v.isNull()) return "Null";
  if (const bool* b = v.get<bool>()) return *b ? "True" : "False";
  return v.toString();
}

std::string namedText(const NamedValues& values) {
  std::string text;
  for (const auto& [name, value] : values) text += (text.empty() ? "" : ", ") + name + " " + shownText(value);
  return text;
}

}  // namespace

const char* verdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::Off: return "off";
    case Verdict::NotSelected: return "not selected";
    case Verdict::TakenEarlier: return "taken earlier";
    case Verdict::RowKept: return "row kept";
    case Verdict::Queues: return "queues";
  }
  return "";
}

CustomerExplainer::CustomerExplainer(const std::string& dtPath, const std::string& arPath,
                                     const std::string& soPath) {
  if (dtPath.empty() || arPath.empty())
    throw Error(db::errc::kInvalidArgument, "The DT and AR databases must both be named.");
  // Opened as the scan opens them, but read-only: nothing here writes.
  using Access = db::Workspace::Access;
  db::Workspace& workspace = db::Engine::instance().workspace(0);
  dt_ = workspace.openDatabase(dtPath, Access::ReadOnly);
  ar_ = workspace.openDatabase(arPath, Access::ReadOnly);
  if (!soPath.empty()) so_ = workspace.openDatabase(soPath, Access::ReadOnly);
  options_ = loadOptions(*dt_);
}

CustomerExplainer::~CustomerExplainer() = default;

Explanation CustomerExplainer::explain(const std::string& custId) const {
  if (custId.empty()) throw Error(db::errc::kInvalidArgument, "No customer id was given to explain.");
  Explanation e;
  e.custId = custId;
  e.today = currentClock().now().datePart();
  e.queued = queueEntryOf(*dt_, custId);
  e.resetQueue = options_.Chk_ResetQueue;
  for (const ScanRule& rule : rulesInScanOrder()) {
    try {
      e.rules.push_back(evaluate(*dt_, rule, options_, custId));
    } catch (...) {
      throw currentFailure().withSource(std::string(rule.procedure));
    }
  }
  decide(e, options_);
  return e;
}

Explanation explainCustomer(const std::string& dtPath, const std::string& arPath,
                            const std::string& soPath, const std::string& custId) {
  return CustomerExplainer(dtPath, arPath, soPath).explain(custId);
}

std::string explanationJson(const Explanation& e) {
  using json = nlohmann::ordered_json;
  json out = json::object();
  out["customer"] = e.custId;
  out["today"] = e.today.toIso();
  if (e.queued) {
    out["queueRow"] = {{"CustID", e.queued->custId},       {"TransType", e.queued->transType},
                       {"Remark", jsonValue(e.queued->remark)}, {"EntryDate", jsonValue(e.queued->entryDate)},
                       {"EntryTime", jsonValue(e.queued->entryTime)}, {"LogID", jsonValue(e.queued->logId)}};
  } else {
    out["queueRow"] = nullptr;
  }
  out["resetQueue"] = e.resetQueue;
  json rules = json::array();
  int order = 0;
  for (const RuleExplanation& r : e.rules) {
    json conditions = json::array();
    for (const auto& [text, holds] : r.conditions) conditions.push_back({{"condition", text}, {"holds", holds}});
    rules.push_back({{"order", ++order},
                     {"procedure", r.rule->procedure},
                     {"transType", r.rule->transType},
                     {"remark", r.remark},
                     {"option", contract::optionName(r.rule->option)},
                     {"enabled", r.enabled},
                     {"selects", r.selects},
                     {"verdict", verdictName(r.verdict)},
                     {"takenBy", r.takenBy ? json(r.takenBy->procedure) : json(nullptr)},
                     {"options", jsonObject(r.options)},
                     {"rows", r.rows},
                     {"values", jsonObject(r.values)},
                     {"conditions", conditions}});
  }
  out["rules"] = rules;
  out["outcome"] = {{"TransType", e.reason ? json(e.reason) : json(nullptr)},
                    {"procedure", e.by ? json(e.by->procedure) : json(nullptr)}};
  return out.dump(2);
}

std::string explanationText(const Explanation& e) {
  std::ostringstream out;
  out << "Customer " << e.custId << ", as of " << e.today.toIso() << "\n";
  if (e.queued) {
    out << "Queue row: reason " << e.queued->transType << " \"" << shownText(e.queued->remark)
        << "\", entered " << shownText(e.queued->entryDate) << " " << shownText(e.queued->entryTime)
        << ", call log " << shownText(e.queued->logId) << "\n";
  } else {
    out << "Queue row: none\n";
  }
  out << (e.resetQueue ? "The queue is emptied before the rules run (Chk_ResetQueue on).\n"
                       : "The queue is not emptied first (Chk_ResetQueue off): a queued customer keeps "
                         "its row.\n");
  int order = 0;
  for (const RuleExplanation& r : e.rules) {
    out << "\n" << ++order << ". " << r.rule->procedure << " (reason " << r.rule->transType << ", "
        << contract::optionName(r.rule->option) << (r.enabled ? " on" : " off") << "): "
        << (r.selects ? "selects the customer" : "does not select the customer");
    switch (r.verdict) {
      case Verdict::TakenEarlier: out << "; taken first by " << r.takenBy->procedure; break;
      case Verdict::RowKept: out << "; the queued row stays"; break;
      case Verdict::Queues: out << "; queues it"; break;
      default: break;
    }
    out << "\n";
    if (!r.options.empty()) out << "   options: " << namedText(r.options) << "\n";
    if (r.rows == 0) {
      out << "   no row of " << r.rule->from << " names the customer\n";
      continue;
    }
    out << "   values: " << namedText(r.values) << "\n";
    for (const auto& [text, holds] : r.conditions) out << "   " << (holds ? "holds: " : "fails: ") << text << "\n";
  }
  out << "\n";
  if (e.by) {
    for (const RuleExplanation& r : e.rules) {
      if (r.rule == e.by)
        out << "A scan now queues the customer with reason " << e.reason << " (" << r.rule->procedure
            << "): " << r.remark << "\n";
    }
  } else if (e.reason) {
    out << "A scan now leaves the customer's row, reason " << e.reason << ".\n";
  } else {
    out << "A scan now does not queue the customer.\n";
  }
  return out.str();
}

}  // namespace oskara::scanrules
