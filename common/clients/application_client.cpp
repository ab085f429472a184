#include "clients/application_client.h"

#include <utility>
#include <vector>

#include "automation/class_registry.h"
#include "clients/late_call.h"
#include "contract/classes.h"

namespace oskara::clients {

namespace app = contract::application;

namespace {

Variant call(const ObjectRef& application, std::string_view member, std::vector<Variant>& args) {
  return detail::callByName(application, contract::kApplicationClass, member, args);
}

// A member that takes the three paths and the error pair, and `prompt` when
// it has a value.
std::string callWithPaths(const ObjectRef& application, std::string_view member,
                          const std::string& sDTPath, const std::string& sARPath,
                          const std::string& sSOPath, int32_t& lErr, std::string& sError,
                          std::optional<bool> prompt = std::nullopt) {
  std::vector<Variant> args{sDTPath, sARPath, sSOPath, lErr, sError};
  if (prompt) args.emplace_back(*prompt);
  std::string result = call(application, member, args).toString();
  detail::readErrorPair(args, 3, lErr, sError);
  return result;
}

// A member whose only arguments are the error pair.
std::string callWithPair(const ObjectRef& application, std::string_view member, int32_t& lErr,
                         std::string& sError) {
  std::vector<Variant> args{lErr, sError};
  std::string result = call(application, member, args).toString();
  detail::readErrorPair(args, 0, lErr, sError);
  return result;
}

}  // namespace

ApplicationClient ApplicationClient::create() {
  return ApplicationClient(createObject(contract::kApplicationClass));
}

ApplicationClient::ApplicationClient(ObjectRef application)
    : application_(std::move(application)) {}

int16_t ApplicationClient::About() {
  std::vector<Variant> none;
  return call(application_, app::kAbout, none).toInt16();
}

std::string ApplicationClient::UpdateQueue(const std::string& sDTPath, const std::string& sARPath,
                                           const std::string& sSOPath, int32_t& lErr,
                                           std::string& sError, std::optional<bool> prompt) {
  return callWithPaths(application_, app::kUpdateQueue, sDTPath, sARPath, sSOPath, lErr, sError,
                       prompt);
}

std::string ApplicationClient::UpdateQueueAsync(const std::string& sDTPath,
                                                const std::string& sARPath,
                                                const std::string& sSOPath, int32_t& lErr,
                                                std::string& sError, std::optional<bool> prompt) {
  return callWithPaths(application_, app::kUpdateQueueAsync, sDTPath, sARPath, sSOPath, lErr,
                       sError, prompt);
}

std::string ApplicationClient::UpdQAsyncStatus(int32_t& lErr, std::string& sError) {
  return callWithPair(application_, app::kUpdQAsyncStatus, lErr, sError);
}

void ApplicationClient::CallBack(int32_t lErr, const std::string& sError) {
  std::vector<Variant> args{lErr, sError};
  call(application_, app::kCallBack, args);
}

std::string ApplicationClient::Logon(const std::string& sDTPath, const std::string& sARPath,
                                     const std::string& sSOPath, int32_t& lErr,
                                     std::string& sError) {
  return callWithPaths(application_, app::kLogon, sDTPath, sARPath, sSOPath, lErr, sError);
}

std::string ApplicationClient::LogOff(int32_t& lErr, std::string& sError) {
  return callWithPair(application_, app::kLogOff, lErr, sError);
}

bool ApplicationClient::UpdQAsyncProgress(std::string& sRule, int32_t& lDone, int32_t& lTotal,
                                          int32_t& lQueued) {
  std::vector<Variant> args{sRule, lDone, lTotal, lQueued};
  const bool running = call(application_, app::kUpdQAsyncProgress, args).toBool();
  sRule = args[0].toString();
  lDone = args[1].toInt32();
  lTotal = args[2].toInt32();
  lQueued = args[3].toInt32();
  return running;
}

std::string ApplicationClient::ActiveUsersList() {
  std::vector<Variant> none;
  return call(application_, app::kActiveUsersList, none).toString();
}

}  // namespace oskara::clients
