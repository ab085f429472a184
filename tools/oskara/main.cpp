// oskara: the administration tool of the collection system. Exit status 0 on
// success, 1 when the work failed (the error's number and text on standard
// error), 2 for a command line it cannot use.
#include <CLI/CLI.hpp>
#include <iostream>

#include "command_line.h"
#include "core/error.h"

int main(int argc, char** argv) {
  oskara::tool::Action action;
  const std::unique_ptr<CLI::App> app = oskara::tool::makeCommandLine(action);

  try {
    app->parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app->exit(e);  // prints the help, the version or the complaint
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
