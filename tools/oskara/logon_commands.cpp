#include "logon_commands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <optional>
#include <QDBusConnection>
#include <iostream>
#include <memory>

#include "clients/application_client.h"
#include "core/error.h"
#include "dbengine/dbengine.h"
#include "dbengine/locations.h"
#include "dbengine/postgres/users.h"
#include "dbengine/sqlite/lockinfo.h"
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

// The failure of `step` as "[number] text", without the closing full stop;
// nothing when it works.
template <class Step>
std::optional<std::string> failureOf(Step step) {
  try {
    step();
  } catch (...) {
    const Error failure = currentFailure();
    std::string text = failure.text();
    if (text.ends_with('.')) text.pop_back();
    return "[" + std::to_string(failure.number()) + "] " + text;
  }
  return std::nullopt;
}

// Why the server could not list or join the users of the DT database, told
// by doing the same from here: this process runs as the same user on the
// same machine. On a PostgreSQL server the users are the sessions the server
// shows, and a session joins them by opening the database.
std::optional<std::string> listingFailure(const std::string& dt) {
  if (db::isServerLocation(dt)) return failureOf([&] { db::postgres::activeUsers(dt); });
  return failureOf([&] { db::LockInfoFile::activeUsers(dt); });
}
std::optional<std::string> registrationFailure(const std::string& dt) {
  if (db::isServerLocation(dt)) return failureOf([&] { db::Engine::instance().workspace(0).openDatabase(dt); });
  return failureOf([&] {
    db::LockInfoFile::join(dt, {db::Engine::instance().machineName(), db::Engine::instance().userName()});
  });
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
    err << "The active users of " << request.dt << " cannot be listed";
    if (std::optional<std::string> cause = listingFailure(request.dt)) err << ": " << *cause;
    err << ".\n";
    status = 1;
  } else {
    const std::vector<std::string> listed = splitUsers(users);
    for (const std::string& user : listed) out << user << '\n';
    // The server, logged on as this user on this machine, holds the file
    // itself: when it is not listed, it could not register in the lock
    // information, and the list cannot be trusted to be complete.
    const std::string server = db::Engine::instance().userName() + "@" + db::Engine::instance().machineName();
    if (std::none_of(listed.begin(), listed.end(),
                     [&](const std::string& user) { return user.find(server) != std::string::npos; })) {
      err << "The application server (" << server << ") is logged on to " << request.dt
          << " but could not register itself as one of its users";
      if (std::optional<std::string> cause = registrationFailure(request.dt)) err << ": " << *cause;
      err << ".\nThe list of users is not complete.\n";
      status = 1;
    }
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
