#include "contract/options.h"

#include <type_traits>

namespace oskara::contract {

void loadOption(ScanOptions& options, const OptionField& field, const Variant& value) {
  std::visit(
      [&](auto member) {
        using T = std::remove_reference_t<decltype(options.*member)>;
        if constexpr (std::is_same_v<T, bool>) {
          options.*member = value.toBool();
        } else if constexpr (std::is_same_v<T, int16_t>) {
          options.*member = value.toInt16();
        } else if constexpr (std::is_same_v<T, double>) {
          options.*member = value.toDouble();
        } else {
          options.*member = value.isNull() ? std::string() : value.toString();
        }
      },
      field.member);
}

ScanOptions newFileOptions() {
  ScanOptions options;
  options.Chk_OverLimit = true;
  options.Chk_NearLimit = true;
  options.Chk_NearLimit_Amt = 500.0;
  options.Chk_30Days = true;
  options.Chk_60Days = true;
  options.Chk_90Days = true;
  options.Chk_120Days = true;
  options.Chk_FollowUp1 = true;
  options.Chk_FollowUp1_x = 30;
  options.Chk_FollowUp2 = true;
  options.Chk_FollowUp2_x = 7;
  options.Chk_FollowUp3 = true;
  options.Chk_FollowUp3Priority = true;
  options.Chk_CreditHold = true;
  options.Chk_ResetQueue = true;
  return options;
}

std::vector<std::pair<std::string_view, Variant>> optionsRecord(const ScanOptions& options) {
  std::vector<std::pair<std::string_view, Variant>> record;
  record.reserve(kOptionFields.size() + 1);
  for (const OptionField& field : kOptionFields) {
    std::visit([&](auto member) { record.emplace_back(field.name, Variant(options.*member)); },
               field.member);
  }
  record.emplace_back(kLastQueueProc, Variant::null());
  return record;
}

}  // namespace oskara::contract
