// The scan rules as data: for each rule its option, reason code, remark and
// the conditions of its selection, written once. The engine's scan builds
// its statements from here (scanStatement) and the explanation of a
// customer (explain.h) evaluates the same conditions for one customer, so
// the two cannot come to different verdicts.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "contract/options.h"

namespace oskara::scanrules {

using contract::ScanOptions;

// A piece of statement or remark text with an option's value written into
// it as number text: before + the number + after. Without a number, before
// alone.
struct OptionText {
  using Number = std::variant<std::monostate, int16_t ScanOptions::*, double ScanOptions::*>;
  std::string_view before;
  Number number{};
  std::string_view after{};

  std::string text(const ScanOptions& options) const;
};

// How a rule reaches its customers and writes their rows.
enum class RuleKind {
  Insert,       // one INSERT … SELECT of every selected customer not yet queued
  EachRecord,   // a selection read record by record, each customer written through AddToQueue
  StoredQuery,  // the DT database's stored query, read record by record like EachRecord
};

// Where a customer's call-log id comes from when it is queued record by record.
enum class LogIdFrom { GetLogID, Record };

// A value the explanation shows beside a rule's verdict: a name and the
// dialect expression it is read from, over the rule's FROM.
struct ShownValue {
  std::string_view name;
  std::string_view expression;
};

struct ScanRule {
  std::string_view procedure;  // the engine's procedure, also the source of its errors
  bool ScanOptions::*option;   // the option that turns it on
  int16_t transType;           // the reason code it queues with
  OptionText remark;
  RuleKind kind;
  // The selection: SELECT … FROM from WHERE (conditions joined by AND); the
  // stored query's rule has no conditions of its own (its name is
  // storedQuery) and names in `from` only what the explanation shows.
  std::string_view select{};  // up to FROM, without it
  std::string_view from{};
  std::span<const OptionText> conditions{};
  std::string_view customer{};  // the column that names a selected row's customer
  std::span<const ShownValue> shown{};
  std::span<const contract::OptionMember> reads{};  // the options it reads besides its own
  bool bare = false;  // WHERE its one condition alone: no parentheses, no semicolon
  LogIdFrom logIdFrom = LogIdFrom::GetLogID;
  bool ScanOptions::*priority = nullptr;  // the option that lets it replace a queued row
  // StoredQuery: the query, and the option whose value its parameter of the
  // same name takes.
  std::string_view storedQuery{};
  int16_t ScanOptions::*parameter = nullptr;
};

// The queueing rules in the order of the scan: the order decides a
// customer's reason, as a customer already queued is not queued again.
// The queue reset, which runs before them, is no rule of a customer.
const std::array<ScanRule, 10>& rulesInScanOrder();

// The rule that queues with `transType`; null for none.
const ScanRule* ruleOf(int16_t transType);

// The statement the scan runs for `rule`, exactly as it sends it: the
// INSERT of an Insert rule, the selection of an EachRecord rule. Empty for a
// StoredQuery rule.
std::string scanStatement(const ScanRule& rule, const ScanOptions& options);

// A text placed between double quotes in a statement; a double quote inside
// it is doubled, so that the text can neither end the literal early nor
// inject SQL.
std::string quotedText(std::string_view text);

}  // namespace oskara::scanrules
