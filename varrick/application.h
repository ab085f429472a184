// Application ("Varrick.Application"): the application server's object. It
// runs queue scans on the engine ("Tormel.QueueEngine"), which it reaches only
// by identifier and by member name, and reports every outcome as a result
// string (result_string.h) plus the error pair lErr / sError.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "automation/method_table.h"

namespace varrick {

class Application : public oskara::automation::DispatchObject<Application> {
 public:
  // Public interface _Application, in this order.

  // One complete queue scan in a fresh engine object; returns when it has
  // ended. "" on success, lErr and sError then as the caller passed them.
  // A failed scan shows a message box first when `prompt` is true.
  std::string UpdateQueue(std::string sDTPath, std::string sARPath, std::string sSOPath,
                          int32_t& lErr, std::string& sError, std::optional<bool>& prompt);

  static const oskara::automation::MethodTable<Application>& methodTable();
};

// Registers "Varrick.Application" with this process's class registry.
void registerApplication();

}  // namespace varrick
