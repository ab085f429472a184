// about: asks a server to show its About dialog, as a client of the server
// on the session bus. The dialog opens on the display of the machine where
// the server runs, not where the command runs.
#pragma once

#include <cstdint>
#include <ostream>

#include "commands.h"

class QDBusConnection;

namespace oskara::tool {

// Which server's dialog: the engine's (a new engine object) or the
// application server's (a new Application object).
enum class AboutServer { Engine, Server };

// Calls About on a new object of the server's class over `connection` and
// returns its result: -1 shown, 0 not shown. Failures of the bus or of
// activation throw oskara::Error.
int16_t callAbout(const QDBusConnection& connection, AboutServer server);

// Prints what About answered: on `out` that the dialog is shown (status 0),
// on `err` that it could not be (status 1).
int reportAbout(AboutServer server, int16_t result, std::ostream& out, std::ostream& err);

// The whole command on the session bus: 2 when there is no session bus, else
// as reportAbout.
int runAbout(AboutServer server, std::ostream& out, std::ostream& err);

// Adds "about --engine|--server".
void addAboutCommand(CLI::App& app, Action& action);

}  // namespace oskara::tool
