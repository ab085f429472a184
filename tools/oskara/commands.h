// The commands of the oskara tool. Each group adds its subcommands to the
// parser; the one the user picked leaves its work in `action`, which main
// runs after the command line has been parsed.
#pragma once

#include <functional>

namespace CLI {
class App;
}

namespace oskara::tool {

using Action = std::function<int()>;

// db init, db demo: creating database files; db check: finding what is wrong in them.
void addFileCommands(CLI::App& db, Action& action);

// db sql, queue: statements through the database engine.
void addEngineCommands(CLI::App& app, CLI::App& db, Action& action);

}  // namespace oskara::tool
