#include "update_queue_async.h"

#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <optional>
#include <string>

#include "clients/application_client.h"
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

// "Queue update running: 12 s" on one line, rewritten in place.
void showElapsed(std::ostream& progress, std::chrono::steady_clock::duration elapsed) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
  progress << "\rQueue update running: " << seconds << " s" << std::flush;
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

  const auto started = std::chrono::steady_clock::now();
  const auto wait = options.wait ? options.wait : waitInEventLoop;
  bool shown = false;
  for (;;) {
    reply = UpdateQueueReply{};
    reply.result = client.UpdQAsyncStatus(reply.lErr, reply.sError);
    if (reply.result != kStillRunning) break;
    if (options.terminal) {
      showElapsed(progress, std::chrono::steady_clock::now() - started);
      shown = true;
    }
    wait(options.pollInterval);
  }
  if (shown) {
    showElapsed(progress, std::chrono::steady_clock::now() - started);
    progress << '\n';
  }
  return reply;
}

int runUpdateQueueAsync(const UpdateQueueRequest& request, std::ostream& out, std::ostream& err) {
  AsyncUpdateOptions options;
  options.terminal = isatty(STDOUT_FILENO) != 0;
  UpdateQueueReply reply;
  const int status = onSessionBus(kConnectionName, err, [&](const QDBusConnection& connection) {
    ClientBus bus(connection);
    reply = runAsyncUpdate(ApplicationClient::create().object(), withAbsolutePaths(request), options,
                           out);
    return 0;
  });
  if (status != 0) return status;
  return reportUpdate(withAbsolutePaths(request), reply, out, err);
}

}  // namespace oskara::tool
