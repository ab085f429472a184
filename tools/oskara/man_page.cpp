#include "man_page.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace oskara::tool {

namespace {

// `text` as roff prints it literally: backslashes escaped, hyphens as minus
// signs (options copied from the page then work), and no line that starts
// with a dot or a quote, which roff would take for a request.
std::string roff(std::string_view text) {
  std::string out;
  bool lineStart = true;
  for (const char c : text) {
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
    lineStart = c == '\n';
  }
  return out;
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Every command that does work, depth first in the order of --help, with its
// path from the top ("db sql").
void collectCommands(const CLI::App& app, const std::string& path,
                     std::vector<std::pair<std::string, const CLI::App*>>& out) {
  const std::vector<const CLI::App*> subcommands =
      app.get_subcommands([](const CLI::App*) { return true; });
  if (subcommands.empty()) {
    out.emplace_back(path, &app);
    return;
  }
  for (const CLI::App* sub : subcommands) collectCommands(*sub, path + " " + sub->get_name(), out);
}

std::vector<const CLI::Option*> positionals(const CLI::App& app) {
  return app.get_options([](const CLI::Option* o) { return o->get_positional(); });
}

std::vector<const CLI::Option*> options(const CLI::App& app) {
  const CLI::Option* help = app.get_help_ptr();
  return app.get_options([help](const CLI::Option* o) { return o->nonpositional() && o != help; });
}

// The synopsis line of one command, as its --help usage line has it.
void writeUsage(const std::string& path, const CLI::App& command, std::ostream& out) {
  out << "\\fB" << roff(path) << "\\fR";
  if (!options(command).empty()) out << " [\\fIOPTIONS\\fR]";
  for (const CLI::Option* p : positionals(command)) {
    const std::string name = "\\fI" + roff(p->get_name()) + "\\fR";
    out << ' ' << (p->get_required() ? name : "[" + name + "]");
  }
  out << '\n';
}

// One tagged paragraph per argument or option: its name and value as --help
// shows them, then its description.
void writeItems(const std::vector<const CLI::Option*>& items, bool positional, std::ostream& out) {
  const CLI::Formatter format;
  for (const CLI::Option* item : items) {
    std::string name = format.make_option_name(item, positional);  // "-p,--param"
    for (std::size_t at = name.find(','); at != std::string::npos; at = name.find(',', at + 2))
      name.replace(at, 1, ", ");
    out << ".TP\n"
        << (positional ? "\\fI" : "\\fB") << roff(name) << "\\fR"
        << roff(format.make_option_opts(item)) << '\n'
        << roff(item->get_description()) << '\n';
  }
}

}  // namespace

void writeManPage(const CLI::App& app, const std::string& title, std::ostream& out) {
  const std::string name = app.get_name();
  const std::string description = app.get_description();
  std::vector<std::pair<std::string, const CLI::App*>> commands;
  collectCommands(app, name, commands);

  out << ".TH " << upper(name) << " 1 \"\" \"" << roff(title) << "\" \"User Commands\"\n";
  out << ".nh\n.ad l\n";  // names and options stay whole; ragged right
  // The name line is the description up to its first colon (or all of it).
  std::string summary = description.substr(0, description.find(':'));
  for (char& c : summary)
    if (c == '\n') c = ' ';
  out << ".SH NAME\n" << roff(name) << " \\- " << roff(summary) << '\n';

  out << ".SH SYNOPSIS\n.nf\n";
  for (const auto& [path, command] : commands) writeUsage(path, *command, out);
  out << "\\fB" << roff(name) << "\\fR [\\fIOPTIONS\\fR]\n.fi\n";

  out << ".SH DESCRIPTION\n" << roff(description) << '\n';
  if (!app.get_footer().empty()) out << ".PP\n" << roff(app.get_footer()) << '\n';

  out << ".SH COMMANDS\n";
  for (const auto& [path, command] : commands) {
    out << ".SS \"" << roff(path) << "\"\n" << roff(command->get_description()) << '\n';
    writeItems(positionals(*command), true, out);
    writeItems(options(*command), false, out);
  }

  out << ".SH OPTIONS\n";
  std::vector<const CLI::Option*> general = options(app);
  if (app.get_help_ptr()) general.insert(general.begin(), app.get_help_ptr());
  writeItems(general, false, out);
  if (app.get_help_ptr())
    out << ".PP\nEvery command also takes " << roff(app.get_help_ptr()->get_name()) << ".\n";

  out << ".SH ENVIRONMENT\n"
         ".TP\n\\fBDBUS_SESSION_BUS_ADDRESS\\fR\n"
         "The session bus on which the commands that go through the servers find them; the bus "
         "starts each server when it is first asked for, from the service files that the "
         "installation put in its service folder (/usr/share/dbus\\-1/services for the package). "
         "Without a desktop session, run such a command under \\fBdbus\\-run\\-session\\fR(1).\n";
  out << ".SH SEE ALSO\n"
         "\\fBdbus\\-run\\-session\\fR(1), \\fBbusctl\\fR(1).\n"
         ".PP\n"
         "The guides in the documentation folder (/usr/share/doc/oskara for the package): "
         "oskara.md, every command with examples; database\\-files.md, the database files and the "
         "SQL dialect; automation.md, the servers' D\\-Bus interface; architecture.md.\n";
}

}  // namespace oskara::tool
