#include "update_queue.h"

#include <CLI/CLI.hpp>
#include <QDBusConnection>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>

#include "clients/application_client.h"
#include "core/error.h"
#include "dbengine/locations.h"
#include "scan_files.h"
#include "session_bus.h"
#include "update_queue_async.h"

namespace oskara::tool {
namespace {

constexpr const char* kConnectionName = "oskara-update-queue";
constexpr std::string_view kFailure = "-1";
constexpr std::string_view kInitOptionsFailure = "Error at InitOptions.";

// A file path made absolute for the server; a server location stays as it is.
std::string absolute(const std::string& path) {
  if (path.empty() || db::isServerLocation(path)) return path;
  return std::filesystem::absolute(path).lexically_normal().string();
}

}  // namespace

std::string displayText(std::string_view result) {
  if (result.starts_with(kFailure)) result.remove_prefix(kFailure.size());
  std::string text;
  for (char c : result) {
    if (c != '\r') text.push_back(c);
  }
  return text;
}

UpdateQueueRequest withAbsolutePaths(UpdateQueueRequest request) {
  request.dt = absolute(request.dt);
  request.ar = absolute(request.ar);
  request.so = absolute(request.so);
  return request;
}

UpdateQueueReply callUpdateQueue(const QDBusConnection& connection,
                                 const UpdateQueueRequest& request) {
  ClientBus bus(connection);
  UpdateQueueReply reply;
  // Left out, prompt counts as false.
  reply.result = clients::ApplicationClient::create().UpdateQueue(
      request.dt, request.ar, request.so, reply.lErr, reply.sError,
      request.prompt ? std::optional<bool>(true) : std::nullopt);
  return reply;
}

int reportUpdate(const UpdateQueueRequest& sent, const UpdateQueueReply& reply, std::ostream& out,
                 std::ostream& err) {
  for (const std::string& warning : linkWarnings(sent.dt, sent.ar, sent.so)) err << warning << '\n';
  if (reply.result.empty()) {
    out << "Queue updated.\n";
    return 0;
  }
  if (reply.result.starts_with(kFailure)) {
    const std::string text = displayText(reply.result);
    err << "Queue update failed: " << text << '\n'
        << "Error number: " << reply.lErr << '\n';
    // The engine names no cause for this one; the files tell it.
    if (text.find(kInitOptionsFailure) != std::string::npos) {
      if (std::optional<std::string> cause = scanStartFailure(sent.dt, sent.ar, sent.so))
        err << "Cause: " << *cause << '\n';
    }
  } else {
    err << "Queue update gave an unexpected result: " << reply.result << '\n';
  }
  return 1;
}

int runUpdateQueue(const UpdateQueueRequest& request, std::ostream& out, std::ostream& err) {
  UpdateQueueReply reply;
  const int status = onSessionBus(kConnectionName, err, [&](const QDBusConnection& connection) {
    reply = callUpdateQueue(connection, withAbsolutePaths(request));
    return 0;
  });
  return status != 0 ? status : reportUpdate(withAbsolutePaths(request), reply, out, err);
}

void addUpdateQueueCommand(CLI::App& app, Action& action) {
  auto request = std::make_shared<UpdateQueueRequest>();
  CLI::App* command = app.add_subcommand(
      "update-queue",
      "Rebuild the collection queue through the application server on the session bus: waiting "
      "for the scan, or with --async in the background under the queue-processing lock.");
  command->add_option("DT", request->dt, "Debt-tracking database file")->required();
  command->add_option("AR", request->ar, "Accounts-receivable database file")->required();
  command->add_option("SO", request->so, "Sales-order database file (may be left out)");
  command->add_flag("--prompt", request->prompt,
                    "Ask the server to show its message box when the scan fails");
  auto async = std::make_shared<bool>(false);
  command->add_flag("--async", *async,
                    "Log on and start the update in the background, then poll until it has "
                    "ended (the elapsed time shows on a terminal), and log off");
  command->callback([&action, request, async] {
    action = [request, async] {
      return *async ? runUpdateQueueAsync(*request, std::cout, std::cerr)
                    : runUpdateQueue(*request, std::cout, std::cerr);
    };
  });
}

}  // namespace oskara::tool
