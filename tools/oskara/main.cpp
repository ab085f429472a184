// oskara: the administration tool of the collection system. Exit status 0 on
// success, 1 when the work failed (the error's number and text on standard
// error), 2 for a command line it cannot use.
#include <CLI/CLI.hpp>
#include <iostream>

#include "about_command.h"
#include "commands.h"
#include "core/error.h"
#include "logon_commands.h"
#include "update_queue.h"

int main(int argc, char** argv) {
  CLI::App app{"The collection system's command: makes and queries its database files, and runs queue\n"
                "updates, logons, the user list and the About dialogs through the servers.",
               "oskara"};
  app.require_subcommand(1);
  CLI::App* db = app.add_subcommand("db", "Database files: create empty or demo files, run a statement.");
  db->require_subcommand(1);

  oskara::tool::Action action;
  oskara::tool::addFileCommands(*db, action);
  oskara::tool::addEngineCommands(app, *db, action);
  oskara::tool::addUpdateQueueCommand(app, action);
  oskara::tool::addLogonCommands(app, action);
  oskara::tool::addAboutCommand(app, action);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);  // prints the help or the complaint
    return code == 0 ? 0 : 2;
  }

  try {
    return action ? action() : 0;
  } catch (const oskara::Error& e) {
    std::cerr << "oskara: error " << e.number() << ": " << e.text() << '\n';
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "oskara: error: " << e.what() << '\n';
    return 1;
  }
}
