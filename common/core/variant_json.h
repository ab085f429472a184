// A Variant as a JSON value, for the programs and tools that answer in
// JSON: Empty and Null null, yes/no a boolean, numbers numbers, a date its
// stored text (2026-12-07, 09:12:40, or both), text itself. Header-only over
// nlohmann/json, which its users link.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "core/variant.h"

namespace oskara {

inline nlohmann::ordered_json jsonValue(const Variant& v) {
  switch (v.type()) {
    case VarType::Empty:
    case VarType::Null: return nullptr;
    case VarType::Boolean: return *v.get<bool>();
    case VarType::Integer:
    case VarType::Long: return v.toInt32();
    case VarType::Double: return *v.get<double>();
    case VarType::Date: return v.get<DateTime>()->toIso();
    case VarType::String: return *v.get<std::string>();
    case VarType::Error: return "Error " + std::to_string(v.errorCode());
    case VarType::Object: return "(object)";
  }
  return nullptr;
}

}  // namespace oskara
