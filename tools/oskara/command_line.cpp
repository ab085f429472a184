#include "command_line.h"

#include <CLI/CLI.hpp>

#include "about_command.h"
#include "contract/classes.h"
#include "logon_commands.h"
#include "queue_follow.h"
#include "update_queue.h"

namespace oskara::tool {

std::string versionText() {
  const std::string application(contract::kApplicationClass), engine(contract::kQueueEngineClass);
  return "oskara " OSKARA_RELEASE_VERSION "\n"
         "varrick " OSKARA_SERVER_VERSION ", the application server (" + application + ")\n"
         "tormel " OSKARA_ENGINE_VERSION ", the queue scan engine (" + engine + ")";
}

std::unique_ptr<CLI::App> makeCommandLine(Action& action) {
  auto app = std::make_unique<CLI::App>(
      "The collection system's command: makes and queries its database files, and runs queue\n"
      "updates, logons, the user list and the About dialogs through the servers.",
      "oskara");
  app->set_version_flag("--version", versionText(),
                        "Print the release and the servers' versions, then exit");
  app->require_subcommand(1);
  CLI::App* db = app->add_subcommand("db", "Database files: create empty or demo files, check files, run a statement.");
  db->require_subcommand(1);

  addFileCommands(*db, action);
  addEngineCommands(*app, *db, action, runQueueFollow);
  addUpdateQueueCommand(*app, action);
  addLogonCommands(*app, action);
  addAboutCommand(*app, action);

  // Set last, so that only the top level's help shows it.
  app->footer(
      "Exit status: 0 on success; 1 when the work failed (the error's number and text on\n"
      "standard error); 2 for a command line it cannot use, or no session bus for a command\n"
      "that needs one.");
  return app;
}

}  // namespace oskara::tool
