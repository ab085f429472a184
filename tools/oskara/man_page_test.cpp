#include "man_page.h"

#include <CLI/CLI.hpp>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace oskara::tool {
namespace {

// The page as a reader sees it: groff's plain-text rendering, lines long
// enough that nothing wraps, and whatever groff complained about.
struct Rendered {
  std::string text;
  std::string complaints;
};

Rendered render(const std::string& page) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("man_page_test_" + std::to_string(getpid()));
  fs::create_directories(dir);
  struct Remove {
    fs::path dir;
    ~Remove() { fs::remove_all(dir); }
  } remove{dir};
  const fs::path source = dir / "page.1", complaints = dir / "complaints";
  std::ofstream(source) << page;
  const std::string command = "groff -man -Tascii -ww -rLL=400n -P-cbou '" + source.string() +
                              "' 2>'" + complaints.string() + "'";
  Rendered out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.text.append(buffer, n);
  pclose(pipe);
  std::stringstream err;
  err << std::ifstream(complaints).rdbuf();
  out.complaints = err.str();
  return out;
}

TEST(ManPage, ShowsEveryCommandAndOptionInTheWordsOfItsHelp) {
  CLI::App app{"The tool: a line starting with\n.dot, and a back\\slash.", "tool"};
  app.set_version_flag("--version", "tool 9.9", "Print the version");
  CLI::App* group = app.add_subcommand("group", "A group of commands.");
  std::string value;
  bool flag = false;
  CLI::App* leaf = group->add_subcommand("leaf", "'Quoted first, with --dashes and \\n kept.");
  leaf->add_option("ARG", value, "An argument")->required();
  leaf->add_option("-o,--opt", value, "An option with a value");
  CLI::App* other = app.add_subcommand("other", "Another command.");
  other->add_flag("--flag", flag, "A flag");

  std::ostringstream page;
  writeManPage(app, "tool 9.9", page);
  const Rendered shown = render(page.str());

  EXPECT_EQ(shown.complaints, "");
  for (const char* text :
       {"tool - The tool", "tool group leaf [OPTIONS] ARG", "tool other [OPTIONS]",
        "The tool: a line starting with .dot, and a back\\slash.",
        "'Quoted first, with --dashes and \\n kept.", "ARG TEXT REQUIRED", "-o, --opt TEXT",
        "An option with a value", "--flag", "--version", "tool 9.9"}) {
    EXPECT_NE(shown.text.find(text), std::string::npos) << text << " is not in:\n" << shown.text;
  }
  // A group has no section of its own: its commands have.
  EXPECT_EQ(shown.text.find("A group of commands."), std::string::npos);
}

}  // namespace
}  // namespace oskara::tool
