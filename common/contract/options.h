// The scan options: the one record of tblDTOptions as the engine holds it,
// each field with its name, its type and its place in the order the engine
// reads them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "core/variant.h"

namespace oskara::contract {

// One member per option field of tblDTOptions, named after it; the member's
// type is the field's.
struct ScanOptions {
  bool Chk_OverLimit = false;
  bool Chk_NearLimit = false;
  double Chk_NearLimit_Amt = 0;
  bool Chk_30Days = false;
  bool Chk_60Days = false;
  bool Chk_90Days = false;
  bool Chk_120Days = false;
  bool Chk_FollowUp1 = false;
  int16_t Chk_FollowUp1_x = 0;
  int16_t Chk_FollowUp1_y = 0;  // loaded only
  bool Chk_FollowUp2 = false;
  int16_t Chk_FollowUp2_x = 0;
  bool Chk_FollowUp3 = false;
  bool Chk_FollowUp3Priority = false;
  std::string Chk_FollowUp3_x;  // loaded only
  std::string Chk_FollowUp3_y;  // loaded only
  bool Chk_CreditHold = false;
  bool Chk_ResetQueue = false;
  std::string Chk_FollowUp3BatchExcld;  // loaded only
};

using OptionMember = std::variant<bool ScanOptions::*, int16_t ScanOptions::*,
                                  double ScanOptions::*, std::string ScanOptions::*>;

struct OptionField {
  std::string_view name;  // the field of tblDTOptions
  OptionMember member;    // where ScanOptions keeps it
};

// The nineteen option fields in the order the engine reads them.
inline constexpr std::array<OptionField, 19> kOptionFields = {{
    {"Chk_OverLimit", &ScanOptions::Chk_OverLimit},
    {"Chk_NearLimit", &ScanOptions::Chk_NearLimit},
    {"Chk_NearLimit_Amt", &ScanOptions::Chk_NearLimit_Amt},
    {"Chk_30Days", &ScanOptions::Chk_30Days},
    {"Chk_60Days", &ScanOptions::Chk_60Days},
    {"Chk_90Days", &ScanOptions::Chk_90Days},
    {"Chk_120Days", &ScanOptions::Chk_120Days},
    {"Chk_FollowUp1", &ScanOptions::Chk_FollowUp1},
    {"Chk_FollowUp1_x", &ScanOptions::Chk_FollowUp1_x},
    {"Chk_FollowUp1_y", &ScanOptions::Chk_FollowUp1_y},
    {"Chk_FollowUp2", &ScanOptions::Chk_FollowUp2},
    {"Chk_FollowUp2_x", &ScanOptions::Chk_FollowUp2_x},
    {"Chk_FollowUp3", &ScanOptions::Chk_FollowUp3},
    {"Chk_FollowUp3Priority", &ScanOptions::Chk_FollowUp3Priority},
    {"Chk_FollowUp3_x", &ScanOptions::Chk_FollowUp3_x},
    {"Chk_FollowUp3_y", &ScanOptions::Chk_FollowUp3_y},
    {"Chk_CreditHold", &ScanOptions::Chk_CreditHold},
    {"Chk_ResetQueue", &ScanOptions::Chk_ResetQueue},
    {"Chk_FollowUp3BatchExcld", &ScanOptions::Chk_FollowUp3BatchExcld},
}};

// The field beside the options that each committed scan stamps.
inline constexpr std::string_view kLastQueueProc = "LastQueueProc";

// The name of an option field, by its member: optionName(&ScanOptions::Chk_30Days).
template <class T>
constexpr std::string_view optionName(T ScanOptions::*member) {
  for (const OptionField& field : kOptionFields) {
    if (const auto* candidate = std::get_if<T ScanOptions::*>(&field.member);
        candidate && *candidate == member)
      return field.name;
  }
  return {};
}

// Reads `value`, the field's value, into its member of `options` as the
// engine loads it: Null text is "", any other value converts to the member's
// type or raises the conversion's error (13 type mismatch, 6 overflow).
void loadOption(ScanOptions& options, const OptionField& field, const Variant& value);

// The options of a new DT file: every rule on, a near-limit amount of 500,
// follow-ups after 30 and 7 days.
ScanOptions newFileOptions();

// The record of `options` field by field in load order, then LastQueueProc
// as Null.
std::vector<std::pair<std::string_view, Variant>> optionsRecord(const ScanOptions& options);

}  // namespace oskara::contract
