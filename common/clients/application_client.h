// ApplicationClient: the members of the application server's class
// (contract::kApplicationClass) as typed calls.
//
// Late-bound underneath, like QueueEngineClient (queue_engine_client.h): the
// client owns the member names, the order of the arguments and reading back
// the by-reference ones; a by-reference argument comes back with the
// server's value, which is the caller's own when the server left it alone.
// Failures of the call itself throw oskara::Error. The string results are the
// server's result strings: "" success, "01" still running, "-1…" a failure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/variant.h"

namespace oskara::clients {

class ApplicationClient {
 public:
  // A new Application object, made by its identifier (in this process when
  // the process serves the class, otherwise through the activator).
  static ApplicationClient create();

  // A client of `application`, which it holds a reference to.
  explicit ApplicationClient(ObjectRef application);

  const ObjectRef& object() const { return application_; }

  int16_t About();

  // `prompt` is left out of the call when it has no value; the server then
  // counts it as false.
  std::string UpdateQueue(const std::string& sDTPath, const std::string& sARPath,
                          const std::string& sSOPath, int32_t& lErr, std::string& sError,
                          std::optional<bool> prompt = std::nullopt);
  std::string UpdateQueueAsync(const std::string& sDTPath, const std::string& sARPath,
                               const std::string& sSOPath, int32_t& lErr, std::string& sError,
                               std::optional<bool> prompt = std::nullopt);
  std::string UpdQAsyncStatus(int32_t& lErr, std::string& sError);

  // The engine's report of a finished scan; what the server writes back into
  // the pair is not read.
  void CallBack(int32_t lErr, const std::string& sError);

  std::string Logon(const std::string& sDTPath, const std::string& sARPath,
                    const std::string& sSOPath, int32_t& lErr, std::string& sError);
  std::string LogOff(int32_t& lErr, std::string& sError);
  std::string ActiveUsersList();
  bool UpdQAsyncProgress(std::string& sRule, int32_t& lDone, int32_t& lTotal, int32_t& lQueued);

 private:
  ObjectRef application_;
};

}  // namespace oskara::clients
