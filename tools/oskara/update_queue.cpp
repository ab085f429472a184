#include "update_queue.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <QDBusConnection>
#include <QTimer>
#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "automation/class_registry.h"
#include "clients/application_client.h"
#include "contract/classes.h"
#include "core/error.h"
#include "dbengine/locations.h"
#include "engine_commands.h"
#include "scan_files.h"
#include "session_bus.h"
#include "update_queue_async.h"

namespace oskara::tool {
namespace {

constexpr const char* kConnectionName = "oskara-update-queue";
constexpr std::string_view kFailure = "-1";
constexpr std::string_view kInitOptionsFailure = "Error at InitOptions.";

// A file as the server must find it whatever its working folder; a server
// location as it is.
std::string absolute(const std::string& path) {
  if (path.empty() || db::isServerLocation(path)) return path;
  return std::filesystem::absolute(path).lexically_normal().string();
}

// The queue's customers per reason code as a JSON object; null when the DT
// cannot be read.
nlohmann::ordered_json customersPerReason(const std::string& dt) {
  try {
    nlohmann::ordered_json counts = nlohmann::ordered_json::object();
    for (const auto& row : queueSummary(dt).rows)
      counts[row[0].isNull() ? "null" : std::to_string(row[0].toInt32())] = row[2].toInt32();
    return counts;
  } catch (const Error&) {
    return nullptr;
  }
}

std::optional<UpdateProgress> progressOf(const std::vector<Variant>& args) {
  if (args.size() != 4) return std::nullopt;
  return UpdateProgress{args[0].toString(), args[1].toInt32(), args[2].toInt32(),
                        args[3].toInt32()};
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

ProgressStyle progressStyle(bool terminal, bool quiet) {
  if (quiet) return ProgressStyle::None;
  return terminal ? ProgressStyle::Bar : ProgressStyle::Lines;
}

UpdateQueueReply callUpdateQueue(const QDBusConnection& connection,
                                 const UpdateQueueRequest& request, std::ostream& progress) {
  ClientBus bus(connection);
  clients::ApplicationClient application = clients::ApplicationClient::create();
  // The call waits in an event loop: the server's Progress signals and the
  // clock's ticks are shown meanwhile.
  ProgressDisplay display(progress, request.progress);
  std::unique_ptr<ServerWatch> events;
  QTimer ticker;
  if (request.progress != ProgressStyle::None) {
    events = watchEvent(application.object(), contract::application::kProgress,
                        [&display](const std::vector<Variant>& args) {
                          if (auto p = progressOf(args)) display.show(p);
                        });
    QObject::connect(&ticker, &QTimer::timeout, [&display] { display.show(std::nullopt); });
    ticker.start(std::chrono::seconds(1));
  }
  UpdateQueueReply reply;
  // Left out, prompt counts as false.
  reply.result = application.UpdateQueue(request.dt, request.ar, request.so, reply.lErr,
                                         reply.sError,
                                         request.prompt ? std::optional<bool>(true) : std::nullopt);
  display.finish();
  return reply;
}

int reportUpdate(const UpdateQueueRequest& sent, const UpdateQueueReply& reply, std::ostream& out,
                 std::ostream& err) {
  for (const std::string& warning : linkWarnings(sent.dt, sent.ar, sent.so)) err << warning << '\n';
  if (sent.json) {
    out << nlohmann::ordered_json{{"result", reply.result},
                                  {"lErr", reply.lErr},
                                  {"sError", reply.sError},
                                  {"customersPerReason", reply.result.empty()
                                                             ? customersPerReason(sent.dt)
                                                             : nlohmann::ordered_json()}}
               .dump(2)
        << '\n';
    return reply.result.empty() ? 0 : 1;
  }
  if (reply.result.empty()) {
    out << "Queue updated.\n";
    try {
      const ResultTable summary = queueSummary(sent.dt);
      out << "Customers queued per reason code:\n";
      writeQueueSummary(out, summary);
    } catch (const Error& e) {
      err << "The queue cannot be read here: " << e.text() << '\n';
    }
    return 0;
  }
  if (reply.result.starts_with(kFailure)) {
    const std::string text = displayText(std::string_view(reply.result));
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
    reply = callUpdateQueue(connection, withAbsolutePaths(request), err);
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
                    "ended, and log off");
  auto quiet = std::make_shared<bool>(false);
  command->add_flag("--quiet", *quiet,
                    "Show no progress (by default a bar with the scan rule, the customers queued "
                    "and the elapsed time on a terminal, else a line at most once a second on "
                    "standard error)");
  command->add_flag("--json", request->json,
                    "Print the outcome as one JSON object: result, lErr, sError and "
                    "customersPerReason");
  command->callback([&action, request, async, quiet] {
    request->progress = progressStyle(isatty(STDERR_FILENO) != 0, *quiet);
    action = [request, async] {
      return *async ? runUpdateQueueAsync(*request, std::cout, std::cerr)
                    : runUpdateQueue(*request, std::cout, std::cerr);
    };
  });
}

}  // namespace oskara::tool
