// The commands of the oskara tool. Each group adds its subcommands to the
// parser; the one the user picked leaves its work in `action`, which main
// runs after the command line has been parsed.
#pragma once

#include <functional>
#include <string>

namespace CLI {
class App;
}

namespace oskara::tool {

using Action = std::function<int()>;

// db init, db demo: creating database files; db check: finding what is wrong in them.
void addFileCommands(CLI::App& db, Action& action);

// queue --follow DT: the queue's summary, again at each change until
// interrupted (queue_follow.h; it needs the session bus).
using FollowQueue = std::function<int(const std::string& dtPath)>;

// db sql, queue: statements through the database engine.
void addEngineCommands(CLI::App& app, CLI::App& db, Action& action, FollowQueue follow);

}  // namespace oskara::tool
