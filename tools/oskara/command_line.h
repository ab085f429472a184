// The whole command line of oskara: every command with its arguments, options
// and help texts. main parses with it, and the manual page is written from it,
// so that the page always says what --help says.
#pragma once

#include <memory>
#include <string>

#include "commands.h"

namespace oskara::tool {

// What --version prints: the release, then each server's program version as
// its About dialog shows it.
std::string versionText();

// The parser of every command; the command the user picks leaves its work in
// `action`, which must outlive the parser.
std::unique_ptr<CLI::App> makeCommandLine(Action& action);

}  // namespace oskara::tool
