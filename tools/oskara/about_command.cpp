#include "about_command.h"

#include <CLI/CLI.hpp>
#include <QDBusConnection>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>

#include "clients/application_client.h"
#include "clients/queue_engine_client.h"
#include "contract/classes.h"
#include "session_bus.h"

namespace oskara::tool {
namespace {

constexpr const char* kConnectionName = "oskara-about";

std::string_view classOf(AboutServer server) {
  return server == AboutServer::Engine ? contract::kQueueEngineClass : contract::kApplicationClass;
}

const char* programOf(AboutServer server) {
  return server == AboutServer::Engine ? "tormel" : "varrick";
}

}  // namespace

int16_t callAbout(const QDBusConnection& connection, AboutServer server) {
  ClientBus bus(connection);
  return server == AboutServer::Engine ? clients::QueueEngineClient::create().About()
                                       : clients::ApplicationClient::create().About();
}

int reportAbout(AboutServer server, int16_t result, std::ostream& out, std::ostream& err) {
  if (result == -1) {
    out << "The About dialog of " << classOf(server) << " is shown on the display of the "
        << programOf(server) << " server.\n";
    return 0;
  }
  if (result == 0) {
    err << "The About dialog of " << classOf(server) << " could not be shown: the "
        << programOf(server) << " server has no display.\n";
  } else {
    err << "About of " << classOf(server) << " gave an unexpected result: " << result << '\n';
  }
  return 1;
}

int runAbout(AboutServer server, std::ostream& out, std::ostream& err) {
  int16_t result = 0;
  const int status = onSessionBus(kConnectionName, err, [&](const QDBusConnection& connection) {
    result = callAbout(connection, server);
    return 0;
  });
  return status != 0 ? status : reportAbout(server, result, out, err);
}

void addAboutCommand(CLI::App& app, Action& action) {
  struct Choice {
    bool engine = false;
    bool server = false;
  };
  auto choice = std::make_shared<Choice>();  // lives as long as the parser's callback
  CLI::App* command = app.add_subcommand(
      "about",
      "Show a server's About dialog on the display of the machine where the server runs.");
  CLI::Option* engine = command->add_flag(
      "--engine", choice->engine,
      "The queue scan engine's (" + std::string(contract::kQueueEngineClass) + ")");
  CLI::Option* server = command->add_flag(
      "--server", choice->server,
      "The application server's (" + std::string(contract::kApplicationClass) + ")");
  engine->excludes(server);
  command->require_option(1);
  command->callback([&action, choice] {
    const AboutServer which = choice->engine ? AboutServer::Engine : AboutServer::Server;
    action = [which] { return runAbout(which, std::cout, std::cerr); };
  });
}

}  // namespace oskara::tool
