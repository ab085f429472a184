// The manual page oskara(1), written from the command line's own definitions
// (command_line.h): every command with its description, arguments and
// options in the words that --help prints, so the page cannot say otherwise.
#pragma once

#include <ostream>
#include <string>

namespace CLI {
class App;
}

namespace oskara::tool {

// Writes the page for the parser `app` in roff with the man macros. `title`
// (for instance "oskara 1.0.0") goes in the page's footer.
void writeManPage(const CLI::App& app, const std::string& title, std::ostream& out);

}  // namespace oskara::tool
