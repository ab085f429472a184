#include "update_queue_async.h"

#include <QEventLoop>
#include <QTimer>
#include <optional>
#include <string>

#include "clients/application_client.h"
#include "automation/dispatch.h"
#include "core/error.h"
#include "session_bus.h"

namespace oskara::tool {
namespace {

using clients::ApplicationClient;

constexpr const char* kConnectionName = "oskara-update-queue-async";
constexpr std::string_view kStillRunning = "01";
constexpr std::string_view kFailure = "-1";

void waitInEventLoop(std::chrono::milliseconds interval) {
  // The bus is served meanwhile, as during any call.
  QEventLoop loop;
  QTimer::singleShot(interval, &loop, &QEventLoop::quit);
  loop.exec();
}

// The running update's progress; nullopt once the server has shown that it
// has no such member (an older one), which `known` remembers.
std::optional<UpdateProgress> askProgress(ApplicationClient& client, bool& known) {
  if (!known) return std::nullopt;
  try {
    UpdateProgress p;
    client.UpdQAsyncProgress(p.rule, p.done, p.total, p.queued);
    return p;
  } catch (const Error& e) {
    if (e.number() != automation_error::kMemberNotSupported) throw;
    known = false;
    return std::nullopt;
  }
}

}  // namespace

UpdateQueueReply runAsyncUpdate(const ObjectRef& application, const UpdateQueueRequest& request,
                                const AsyncUpdateOptions& options, std::ostream& progress) {
  ApplicationClient client(application);
  UpdateQueueReply logon;
  logon.result = client.Logon(request.dt, request.ar, request.so, logon.lErr, logon.sError);
  if (logon.result.starts_with(kFailure)) return logon;

  // Logged on: log off on every way out.
  struct LogOffAtEnd {
    ApplicationClient& client;
    ~LogOffAtEnd() {
      try {
        int32_t lErr = 0;
        std::string sError;
        client.LogOff(lErr, sError);
      } catch (...) {
        // The update's own outcome is what the caller reports.
      }
    }
  } logOff{client};

  UpdateQueueReply reply;
  // Left out, prompt counts as false.
  reply.result = client.UpdateQueueAsync(request.dt, request.ar, request.so, reply.lErr,
                                         reply.sError,
                                         request.prompt ? std::optional<bool>(true) : std::nullopt);
  if (!reply.result.empty()) return reply;

  ProgressDisplay display(progress, request.progress);
  const auto wait = options.wait ? options.wait : waitInEventLoop;
  bool progressKnown = request.progress != ProgressStyle::None;
  for (;;) {
    reply = UpdateQueueReply{};
    reply.result = client.UpdQAsyncStatus(reply.lErr, reply.sError);
    if (reply.result != kStillRunning) break;
    display.show(askProgress(client, progressKnown));
    wait(options.pollInterval);
  }
  display.finish();
  return reply;
}

int runUpdateQueueAsync(const UpdateQueueRequest& request, std::ostream& out, std::ostream& err) {
  AsyncUpdateOptions options;
  UpdateQueueReply reply;
  const int status = onSessionBus(kConnectionName, err, [&](const QDBusConnection& connection) {
    ClientBus bus(connection);
    reply = runAsyncUpdate(ApplicationClient::create().object(), withAbsolutePaths(request), options,
                           err);
    return 0;
  });
  if (status != 0) return status;
  return reportUpdate(withAbsolutePaths(request), reply, out, err);
}

}  // namespace oskara::tool
