// oskara_man_page FILE: writes the manual page oskara(1) to FILE. The build
// runs it, and the page is installed beside the tool.
#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>

#include "command_line.h"
#include "man_page.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: oskara_man_page FILE\n";
    return 2;
  }
  oskara::tool::Action action;
  const auto app = oskara::tool::makeCommandLine(action);
  const std::string version = oskara::tool::versionText();
  std::ofstream out(argv[1]);
  oskara::tool::writeManPage(*app, version.substr(0, version.find('\n')), out);
  out.close();
  if (!out) {
    std::cerr << "oskara_man_page: cannot write " << argv[1] << '\n';
    return 1;
  }
  return 0;
}
