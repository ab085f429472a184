// logon and users: a user's session on the application server, as a client
// of its Application object on the session bus. logon checks that the
// debt-tracking database takes a logon; users lists who has it open. Both
// log off again before they end.
//
// The logon state belongs to the server process, which every client of the
// same session bus shares: the closing LogOff logs that process off for all
// of them.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "commands.h"

class QDBusConnection;

namespace oskara::tool {

struct LogonRequest {
  std::string dt;  // paths as given; relative ones are made absolute before sending
  std::string ar;
  std::string so;  // may be empty
};

// What a string method with the error pair answered.
struct MethodReply {
  std::string result;
  int32_t lErr = 0;
  std::string sError;
};

struct LogonOutcome {
  MethodReply logon;
  std::optional<MethodReply> logoff;  // only after a successful Logon
};

struct UsersOutcome {
  MethodReply logon;
  std::optional<std::string> users;   // ActiveUsersList, only after a successful Logon
  std::optional<MethodReply> logoff;  // only after a successful Logon
};

// Logon and, when it succeeded, LogOff on a new Application object over
// `connection`, paths as they are. Failures of the bus or of activation
// throw oskara::Error.
LogonOutcome callLogon(const QDBusConnection& connection, const LogonRequest& request);

// Logon, ActiveUsersList and LogOff, the last two only when Logon succeeded.
UsersOutcome callUsers(const QDBusConnection& connection, const LogonRequest& request);

// The entries of an ActiveUsersList result; none for "".
std::vector<std::string> splitUsers(const std::string& list);

// Print the outcome and return the exit status: 0 when every call gave "",
// 1 when one gave "-1" (its text and number on `err`) or ActiveUsersList
// gave "-1".
int reportLogon(const LogonRequest& request, const LogonOutcome& outcome, std::ostream& out,
                std::ostream& err);
int reportUsers(const LogonRequest& request, const UsersOutcome& outcome, std::ostream& out,
                std::ostream& err);

// The whole commands on the session bus: 2 when there is no session bus,
// else as the reports.
int runLogon(const LogonRequest& request, std::ostream& out, std::ostream& err);
int runUsers(const LogonRequest& request, std::ostream& out, std::ostream& err);

// Adds "logon DT AR [SO]" and "users DT AR [SO]".
void addLogonCommands(CLI::App& app, Action& action);

}  // namespace oskara::tool
