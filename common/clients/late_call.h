// What both typed clients do around a call by name (internal to common/clients).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "automation/dispatch.h"

namespace oskara::clients::detail {

// Calls `member` on `object` with `args`; an empty reference fails as the
// runtime's "object variable not set" (91), naming the class and the member.
inline Variant callByName(const ObjectRef& object, std::string_view className,
                          std::string_view member, std::vector<Variant>& args) {
  if (!object)
    throw Error(automation_error::kObjectNotSet,
                "Object variable not set: no " + std::string(className) + " object to call " +
                    std::string(member) + " on.");
  return object->invoke(member, args);
}

// The error pair as the callee left it, from args[at] and args[at + 1].
inline void readErrorPair(const std::vector<Variant>& args, size_t at, int32_t& lErr,
                          std::string& sError) {
  lErr = args.at(at).toInt32();
  sError = args.at(at + 1).toString();
}

}  // namespace oskara::clients::detail
