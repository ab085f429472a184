#include "logon_commands.h"

#include <CLI/CLI.hpp>
#include <QDBusConnection>
#include <iostream>
#include <memory>

#include "clients/application_client.h"
#include "session_bus.h"
#include "update_queue.h"

namespace oskara::tool {
namespace {

using clients::ApplicationClient;

constexpr std::string_view kFailure = "-1";

LogonRequest withAbsolutePaths(const LogonRequest& request) {
  const UpdateQueueRequest absolute = oskara::tool::withAbsolutePaths(
      UpdateQueueRequest{request.dt, request.ar, request.so, false});
  return {absolute.dt, absolute.ar, absolute.so};
}

MethodReply callLogonMethod(ApplicationClient& application, const LogonRequest& request) {
  MethodReply reply;
  reply.result = application.Logon(request.dt, request.ar, request.so, reply.lErr, reply.sError);
  return reply;
}

MethodReply callLogOff(ApplicationClient& application) {
  MethodReply reply;
  reply.result = application.LogOff(reply.lErr, reply.sError);
  return reply;
}

// A failed or unexpected reply of `method` on `err`; true when it was "".
bool reportReply(std::string_view method, const MethodReply& reply, std::ostream& err) {
  if (reply.result.empty()) return true;
  if (reply.result.starts_with(kFailure)) {
    err << method << " failed: " << displayText(reply.result) << '\n'
        << "Error number: " << reply.lErr << '\n';
  } else {
    err << method << " gave an unexpected result: " << reply.result << '\n';
  }
  return false;
}

// Runs `call` on the session bus with the paths made absolute for the server,
// then reports what it gave.
template <class Outcome, class Call, class Report>
int runSession(const char* connectionName, const LogonRequest& request, std::ostream& out,
               std::ostream& err, Call call, Report report) {
  const LogonRequest sent = withAbsolutePaths(request);
  Outcome outcome;
  const int status = onSessionBus(connectionName, err, [&](const QDBusConnection& connection) {
    outcome = call(connection, sent);
    return 0;
  });
  return status != 0 ? status : report(sent, outcome, out, err);
}

}  // namespace

LogonOutcome callLogon(const QDBusConnection& connection, const LogonRequest& request) {
  ClientBus bus(connection);
  ApplicationClient application = ApplicationClient::create();
  LogonOutcome outcome;
  outcome.logon = callLogonMethod(application, request);
  if (outcome.logon.result.empty()) outcome.logoff = callLogOff(application);
  return outcome;
}

UsersOutcome callUsers(const QDBusConnection& connection, const LogonRequest& request) {
  ClientBus bus(connection);
  ApplicationClient application = ApplicationClient::create();
  UsersOutcome outcome;
  outcome.logon = callLogonMethod(application, request);
  if (!outcome.logon.result.empty()) return outcome;
  outcome.users = application.ActiveUsersList();
  outcome.logoff = callLogOff(application);
  return outcome;
}

std::vector<std::string> splitUsers(const std::string& list) {
  std::vector<std::string> users;
  if (list.empty()) return users;
  size_t start = 0;
  for (size_t end; (end = list.find(';', start)) != std::string::npos; start = end + 1) {
    users.push_back(list.substr(start, end - start));
  }
  users.push_back(list.substr(start));
  return users;
}

int reportLogon(const LogonRequest& request, const LogonOutcome& outcome, std::ostream& out,
                std::ostream& err) {
  if (!reportReply("Logon", outcome.logon, err)) return 1;
  out << "Logged on to " << request.dt << ".\n";
  if (outcome.logoff && !reportReply("LogOff", *outcome.logoff, err)) return 1;
  out << "Logged off.\n";
  return 0;
}

int reportUsers(const LogonRequest& request, const UsersOutcome& outcome, std::ostream& out,
                std::ostream& err) {
  if (!reportReply("Logon", outcome.logon, err)) return 1;
  int status = 0;
  const std::string users = outcome.users.value_or(std::string());
  if (users == kFailure) {
    err << "The active users of " << request.dt << " cannot be listed.\n";
    status = 1;
  } else if (users.empty()) {
    out << "No active users of " << request.dt << ".\n";
  } else {
    for (const std::string& user : splitUsers(users)) out << user << '\n';
  }
  if (outcome.logoff && !reportReply("LogOff", *outcome.logoff, err)) status = 1;
  return status;
}

int runLogon(const LogonRequest& request, std::ostream& out, std::ostream& err) {
  return runSession<LogonOutcome>("oskara-logon", request, out, err, callLogon, reportLogon);
}

int runUsers(const LogonRequest& request, std::ostream& out, std::ostream& err) {
  return runSession<UsersOutcome>("oskara-users", request, out, err, callUsers, reportUsers);
}

void addLogonCommands(CLI::App& app, Action& action) {
  const auto addPaths = [](CLI::App* command, LogonRequest& request) {
    command->add_option("DT", request.dt, "Debt-tracking database file")->required();
    command->add_option("AR", request.ar, "Accounts-receivable database file")->required();
    command->add_option("SO", request.so, "Sales-order database file (may be left out)");
  };
  auto logon = std::make_shared<LogonRequest>();  // lives as long as the parser's callback
  CLI::App* logonCommand = app.add_subcommand(
      "logon",
      "Check that the debt-tracking database takes a logon through the application server on "
      "the session bus, then log off again.");
  addPaths(logonCommand, *logon);
  logonCommand->callback([&action, logon] {
    action = [logon] { return runLogon(*logon, std::cout, std::cerr); };
  });

  auto users = std::make_shared<LogonRequest>();
  CLI::App* usersCommand = app.add_subcommand(
      "users",
      "List the users that have the debt-tracking database open, one per line, as the "
      "application server on the session bus sees them while logged on.");
  addPaths(usersCommand, *users);
  usersCommand->callback([&action, users] {
    action = [users] { return runUsers(*users, std::cout, std::cerr); };
  });
}

}  // namespace oskara::tool
