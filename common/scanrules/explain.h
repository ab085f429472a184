// Why a customer is in the collection queue, or why not: its queue row now,
// then every rule in the scan's order with the verdict the rule's own
// conditions (rules.h) reach for the customer today, the values they
// compared, and which earlier rule, if any, takes the customer first. It
// only reads: the databases are opened read-only, nothing is locked, and
// it may run while a queue update runs.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/variant.h"
#include "scanrules/rules.h"

namespace oskara::db {
class Database;
}

namespace oskara::scanrules {

using NamedValues = std::vector<std::pair<std::string, Variant>>;

// The customer's row of tblDTQueue.
struct QueueEntry {
  std::string custId;  // as the row spells it
  int16_t transType = 0;
  Variant remark, entryDate, entryTime, logId;
};

enum class Verdict {
  Off,           // its option is off: the scan does not run it
  NotSelected,   // its conditions do not hold for the customer
  TakenEarlier,  // selected, but an earlier rule queues the customer first
  RowKept,       // selected, but the queue is not reset and the customer's row stays
  Queues,        // the rule that queues the customer
};

struct RuleExplanation {
  const ScanRule* rule = nullptr;
  std::string remark;    // the remark it writes, with today's options
  bool enabled = false;  // its option is on
  bool selects = false;  // its selection holds the customer today
  Verdict verdict = Verdict::Off;
  const ScanRule* takenBy = nullptr;  // TakenEarlier: the rule that does
  NamedValues options;                // the options it reads besides its own
  int rows = 0;                       // the rows of its FROM that name the customer
  // Of the row that decided (the first that meets every condition, else
  // the first): the values shown, and each condition as the scan writes it
  // with whether it holds. A stored query's rule has no conditions here.
  NamedValues values;
  std::vector<std::pair<std::string, bool>> conditions;
};

struct Explanation {
  std::string custId;  // as asked
  DateTime today;
  std::optional<QueueEntry> queued;  // its row now
  bool resetQueue = false;           // Chk_ResetQueue: the queue is emptied before the rules
  std::vector<RuleExplanation> rules;  // in the scan's order
  // What a scan run now would leave: the reason code (0 for no row), and
  // the rule that writes it (null when no rule does, or the row kept).
  int16_t reason = 0;
  const ScanRule* by = nullptr;
};

// Explains customers on the databases at these paths or locations (SO may
// be ""), opened read-only as the scan opens them, with the options as they
// are when it is made. Failures raise the engine's number and a text that
// names what failed: 3001 for an empty path or customer id, the number of a
// database that cannot be opened or read, -2147220386 when the options
// record is missing.
class CustomerExplainer {
 public:
  CustomerExplainer(const std::string& dtPath, const std::string& arPath, const std::string& soPath);
  ~CustomerExplainer();
  CustomerExplainer(const CustomerExplainer&) = delete;
  CustomerExplainer& operator=(const CustomerExplainer&) = delete;

  Explanation explain(const std::string& custId) const;

 private:
  std::shared_ptr<db::Database> dt_, ar_, so_;  // ar_ and so_ are only held open
  ScanOptions options_;
};

// One customer: CustomerExplainer(dtPath, arPath, soPath).explain(custId).
Explanation explainCustomer(const std::string& dtPath, const std::string& arPath,
                            const std::string& soPath, const std::string& custId);

// The explanation as JSON for programs (docs/clients.md describes it), and
// as text for people.
std::string explanationJson(const Explanation& explanation);
std::string explanationText(const Explanation& explanation);

const char* verdictName(Verdict verdict);

}  // namespace oskara::scanrules
