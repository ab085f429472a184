#include "clients/queue_engine_client.h"

#include <utility>
#include <vector>

#include "automation/class_registry.h"
#include "clients/late_call.h"
#include "contract/classes.h"

namespace oskara::clients {

namespace engine = contract::queue_engine;

namespace {

Variant call(const ObjectRef& engine, std::string_view member, std::vector<Variant>& args) {
  return detail::callByName(engine, contract::kQueueEngineClass, member, args);
}

}  // namespace

QueueEngineClient QueueEngineClient::create() {
  return QueueEngineClient(createObject(contract::kQueueEngineClass));
}

QueueEngineClient::QueueEngineClient(ObjectRef engine) : engine_(std::move(engine)) {}

bool QueueEngineClient::ProcessQueue(const std::string& DT_UNCPath, const std::string& AR_UNCPath,
                                     const std::string& SO_UNCPath, int32_t& lErr,
                                     std::string& sError) {
  std::vector<Variant> args{DT_UNCPath, AR_UNCPath, SO_UNCPath, lErr, sError};
  const bool scanned = call(engine_, engine::kProcessQueue, args).toBool();
  detail::readErrorPair(args, 3, lErr, sError);
  return scanned;
}

Variant QueueEngineClient::GetLogID(const std::string& p_sCustID) {
  std::vector<Variant> args{p_sCustID};
  return call(engine_, engine::kGetLogID, args);
}

bool QueueEngineClient::UpdQueueAsync(const std::string& DT_UNCPath, const std::string& AR_UNCPath,
                                      const std::string& SO_UNCPath, const ObjectRef& oCallBack,
                                      int32_t& lErr, std::string& sError) {
  std::vector<Variant> args{DT_UNCPath, AR_UNCPath, SO_UNCPath, oCallBack, lErr, sError};
  const bool scheduled = call(engine_, engine::kUpdQueueAsync, args).toBool();
  detail::readErrorPair(args, 4, lErr, sError);
  return scheduled;
}

int16_t QueueEngineClient::About() {
  std::vector<Variant> none;
  return call(engine_, engine::kAbout, none).toInt16();
}

}  // namespace oskara::clients
