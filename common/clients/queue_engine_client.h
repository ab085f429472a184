// QueueEngineClient: the members of the engine's class (contract::kQueueEngineClass)
// as typed calls.
//
// Each call is still a late-bound call by member name with a list of Variants
// (Dispatch::invoke), so it reaches an engine in this process and one over the
// bus alike, and the bus protocol is the one every other client speaks. The
// client owns what a caller would otherwise write out by hand: the member
// name, the order of the arguments, and reading the by-reference arguments
// back. A by-reference argument goes in with the caller's value and comes back
// with the engine's, so a member that leaves lErr and sError alone leaves
// them as the caller passed them. A failure of the call itself (no such
// member, the engine's server gone, a value that does not convert) throws
// oskara::Error, as invoke does.
#pragma once

#include <cstdint>
#include <string>

#include "core/variant.h"

namespace oskara::clients {

class QueueEngineClient {
 public:
  // A new engine object, made by its identifier: in this process when the
  // process serves the class, otherwise through the activator (the bus).
  static QueueEngineClient create();

  // A client of `engine`, which it holds a reference to.
  explicit QueueEngineClient(ObjectRef engine);

  const ObjectRef& object() const { return engine_; }

  // The scan run: true when it committed; false with lErr and sError as the
  // engine wrote them.
  bool ProcessQueue(const std::string& DT_UNCPath, const std::string& AR_UNCPath,
                    const std::string& SO_UNCPath, int32_t& lErr, std::string& sError);

  // The call-log id of a customer, or Null.
  Variant GetLogID(const std::string& p_sCustID);

  // Schedules a scan that reports through CallBack on `oCallBack`; false, with
  // lErr and sError written, when the request could not be recorded.
  bool UpdQueueAsync(const std::string& DT_UNCPath, const std::string& AR_UNCPath,
                     const std::string& SO_UNCPath, const ObjectRef& oCallBack, int32_t& lErr,
                     std::string& sError);

  // -1 when the engine's About dialog is shown, 0 when it cannot be.
  int16_t About();

 private:
  ObjectRef engine_;
};

}  // namespace oskara::clients
