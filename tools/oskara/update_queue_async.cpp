#include "update_queue_async.h"

#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <vector>

#include "automation/class_registry.h"
#include "session_bus.h"

namespace oskara::tool {
namespace {

constexpr const char* kApplicationClass = "Varrick.Application";
constexpr const char* kConnectionName = "oskara-update-queue-async";
constexpr std::string_view kStillRunning = "01";
constexpr std::string_view kFailure = "-1";

// A method with the (lErr, sError) pair at `pairAt`; the pair comes back in `reply`.
UpdateQueueReply callWithPair(const ObjectRef& application, std::string_view member,
                              std::vector<Variant> args, size_t pairAt) {
  UpdateQueueReply reply;
  reply.result = application->invoke(member, args).toString();
  reply.lErr = args[pairAt].toInt32();
  reply.sError = args[pairAt + 1].toString();
  return reply;
}

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
  UpdateQueueReply logon = callWithPair(
      application, "Logon", {request.dt, request.ar, request.so, int32_t{0}, std::string()}, 3);
  if (logon.result.starts_with(kFailure)) return logon;

  // Logged on: log off on every way out.
  struct LogOffAtEnd {
    const ObjectRef& application;
    ~LogOffAtEnd() {
      try {
        callWithPair(application, "LogOff", {int32_t{0}, std::string()}, 0);
      } catch (...) {
        // The update's own outcome is what the caller reports.
      }
    }
  } logOff{application};

  std::vector<Variant> args{request.dt, request.ar, request.so, int32_t{0}, std::string()};
  if (request.prompt) args.emplace_back(true);  // left out, it counts as false
  UpdateQueueReply reply = callWithPair(application, "UpdateQueueAsync", std::move(args), 3);
  if (!reply.result.empty()) return reply;

  const auto started = std::chrono::steady_clock::now();
  const auto wait = options.wait ? options.wait : waitInEventLoop;
  bool shown = false;
  for (;;) {
    reply = callWithPair(application, "UpdQAsyncStatus", {int32_t{0}, std::string()}, 0);
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
    ObjectRef application = createObject(kApplicationClass);
    reply = runAsyncUpdate(application, withAbsolutePaths(request), options, out);
    return 0;
  });
  if (status != 0) return status;
  return reportUpdate(reply, out, err);
}

}  // namespace oskara::tool
