#include "logon_commands.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>

#include "automation/bus/testing/private_bus.h"
#include "contract/schema.h"
#include "contract/server_schema.h"
#include "dbengine/test_files.h"
#include "core/testing/scoped_env.h"
#include "dbengine/dbengine.h"
#include "varrick/testing/holder_process.h"

namespace oskara::tool {
namespace {

namespace fs = std::filesystem;

using oskara::test_support::PrivateBus;
using oskara::test_support::ScopedEnv;
using varrick::testing::HolderProcess;

struct Printed {
  int status;
  std::string out;
  std::string err;
};

template <class Outcome, class Report>
Printed report(const Outcome& outcome, Report reportFn) {
  std::ostringstream out, err;
  const int status = reportFn(LogonRequest{"/data/dt.db", "/data/ar.db", ""}, outcome, out, err);
  return {status, out.str(), err.str()};
}

template <class Run>
Printed run(Run runFn, const LogonRequest& request) {
  std::ostringstream out, err;
  const int status = runFn(request, out, err);
  return {status, out.str(), err.str()};
}

const MethodReply kOk{"", 0, ""};

TEST(LogonCommandsTest, LogonReportsEachStepAndFailuresWithTheirNumber) {
  const Printed ok = report(LogonOutcome{kOk, kOk}, reportLogon);
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(ok.out, "Logged on to /data/dt.db.\nLogged off.\n");
  EXPECT_EQ(ok.err, "");

  const std::string busy =
      "Oskara is currently not available.\r\nPerhaps the Queue Update Process is currently in "
      "progress.\r\nPlease try again later !";
  const Printed refused = report(LogonOutcome{{"-1" + busy, 3027, busy}, {}}, reportLogon);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err,
            "Logon failed: Oskara is currently not available.\nPerhaps the Queue Update Process is "
            "currently in progress.\nPlease try again later !\nError number: 3027\n");

  const Printed logoff =
      report(LogonOutcome{kOk, MethodReply{"-1[LogOff][ 7] Out of memory.", 7, "x"}}, reportLogon);
  EXPECT_EQ(logoff.status, 1);
  EXPECT_EQ(logoff.err, "LogOff failed: [LogOff][ 7] Out of memory.\nError number: 7\n");
}

TEST(LogonCommandsTest, UsersPrintsOneUserPerLineOrSaysThereAreNone) {
  const std::string server = db::Engine::instance().userName() + "@" + db::Engine::instance().machineName();
  const Printed two = report(UsersOutcome{kOk, "anna@PC-1;" + server, kOk}, reportUsers);
  EXPECT_EQ(two.status, 0);
  EXPECT_EQ(two.out, "anna@PC-1\n" + server + "\n");

  // The logged-on server missing from the list could not register (a full
  // disk, an unusable lock file): the list is incomplete, never "no users".
  const Printed none = report(UsersOutcome{kOk, "anna@PC-1", kOk}, reportUsers);
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, "anna@PC-1\n");
  EXPECT_EQ(none.err.rfind("The application server (" + server +
                               ") is logged on to /data/dt.db but could not register itself as one of its "
                               "users: [3051] The database engine cannot open the file '/data/dt.db-lock'",
                           0),
            0u)
      << none.err;

  const Printed unlisted = report(UsersOutcome{kOk, "-1", kOk}, reportUsers);
  EXPECT_EQ(unlisted.status, 1);
  EXPECT_EQ(unlisted.out, "");
  EXPECT_EQ(unlisted.err, "The active users of /data/dt.db cannot be listed.\n");

  const Printed noLogon =
      report(UsersOutcome{{"-1[Logon][ 3024] No file.", 3024, "No file."}, {}, {}}, reportUsers);
  EXPECT_EQ(noLogon.status, 1);
  EXPECT_EQ(noLogon.out, "");
  EXPECT_EQ(noLogon.err, "Logon failed: [Logon][ 3024] No file.\nError number: 3024\n");
}

TEST(LogonCommandsTest, NoSessionBusIsAUsageFailure) {
  ScopedEnv unset("DBUS_SESSION_BUS_ADDRESS", nullptr);
  for (auto runFn : {runLogon, runUsers}) {
    const Printed p = run(runFn, {"dt.db", "ar.db", ""});
    EXPECT_EQ(p.status, 2);
    EXPECT_NE(p.err.find("DBUS_SESSION_BUS_ADDRESS is not set"), std::string::npos) << p.err;
  }
}

// The commands against the real application server on a private bus.
class LogonOnBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "logon_commands_test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
    ASSERT_TRUE(dir_.isValid());
    daemon_.emplace(QStringLiteral(OSKARA_TEST_BUS_CONFIG), std::nullopt, QProcess::nullDevice());
    ASSERT_TRUE(daemon_->started());
    address_ = daemon_->address();
    previousDir_ = fs::current_path();
    fs::current_path(dir_.path().toStdString());
    contract::createDatabaseFiles("books");
    dt_ = fs::absolute("books/dt.db").string();
  }
  void TearDown() override {
    fs::current_path(previousDir_);
    daemon_.reset();
  }

  QTemporaryDir dir_;
  std::optional<PrivateBus> daemon_;
  std::string address_;
  fs::path previousDir_;
  std::string dt_;
};

TEST_F(LogonOnBusTest, LogonSucceedsOnAWritableDatabaseOnly) {
  ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", address_.c_str());
  const Printed ok = run(runLogon, {"books/dt.db", "books/ar.db", ""});
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.out, "Logged on to " + dt_ + ".\nLogged off.\n");

  const Printed missing = run(runLogon, {"books/missing.db", "books/ar.db", ""});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err.rfind("Logon failed: [Logon][ 3024] ", 0), 0u) << missing.err;
  EXPECT_NE(missing.err.find("Error number: 3024\n"), std::string::npos);
  EXPECT_FALSE(fs::exists("books/missing.db"));

  ASSERT_EQ(::chmod("books/dt.db", 0444), 0);
  const Printed frozen = run(runLogon, {"books/dt.db", "books/ar.db", ""});
  EXPECT_EQ(frozen.status, 1);
  EXPECT_EQ(frozen.err.rfind("Logon failed: Oskara is currently not available.\n", 0), 0u)
      << frozen.err;
  EXPECT_NE(frozen.err.find("Error number: 3027\n"), std::string::npos);
}

// The users a listing names, in slot order of the lock information; a
// workstation that logs on takes the first free slot.
std::multiset<std::string> listed(const Printed& p) {
  std::multiset<std::string> users;
  std::istringstream lines(p.out);
  for (std::string line; std::getline(lines, line);) users.insert(line);
  return users;
}

TEST_F(LogonOnBusTest, UsersNamesEveryWorkstationHoldingTheDatabase) {
  ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", address_.c_str());
  // The server itself holds the database while logged on.
  const std::string server =
      db::Engine::instance().userName() + "@" + db::Engine::instance().machineName();

  HolderProcess anna(dt_, "-", "PC-1", "anna");
  HolderProcess boris(dt_, "-", "PC-2", "boris");
  ASSERT_EQ(anna.answer(), "held");
  ASSERT_EQ(boris.answer(), "held");
  const Printed all = run(runUsers, {"books/dt.db", "books/ar.db", "books/so.db"});
  EXPECT_EQ(all.status, 0) << all.err;
  EXPECT_EQ(all.out, "anna@PC-1\nboris@PC-2\n" + server + "\n");

  anna.release();
  EXPECT_EQ(listed(run(runUsers, {"books/dt.db", "books/ar.db", ""})),
            (std::multiset<std::string>{"boris@PC-2", server}));
  boris.release();
  EXPECT_EQ(run(runUsers, {"books/dt.db", "books/ar.db", ""}).out, server + "\n");

  // The server let its slot go after each listing: carl takes the first one.
  HolderProcess carl(dt_, "-", "PC-3", "carl");
  ASSERT_EQ(carl.answer(), "held");
  EXPECT_EQ(run(runUsers, {"books/dt.db", "books/ar.db", ""}).out, "carl@PC-3\n" + server + "\n");
}

using db::testing::Backend;

class ServerUsersTest : public LogonOnBusTest, public ::testing::WithParamInterface<Backend> {};

TEST_P(ServerUsersTest, UsersOfAServerLocationAreItsSessionsAndAListingFailureSaysWhy) {
  if (!db::testing::postgresAvailable()) GTEST_SKIP() << "no PostgreSQL cluster (run under scripts/with-postgres)";
  ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", address_.c_str());
  db::testing::TestDatabases databases(GetParam());
  const contract::DatabaseLocations books{databases.location("dt"), databases.location("ar"), databases.location("so")};
  contract::createServerDatabases(books);
  const std::string server = db::Engine::instance().userName() + "@" + db::Engine::instance().machineName();

  HolderProcess anna(books.dt, "-", "PC-1", "anna");
  ASSERT_EQ(anna.answer(), "held");
  const Printed all = run(runUsers, {books.dt, books.ar, ""});
  EXPECT_EQ(all.status, 0) << all.err;
  EXPECT_EQ(all.out, "anna@PC-1\n" + server + "\n");

  // A schema that is gone: the cause comes from the server.
  const std::string gone = books.dt.substr(0, books.dt.find("schema=") + 7) + "gone";
  std::ostringstream out, err;
  EXPECT_EQ(reportUsers({gone, books.ar, ""}, UsersOutcome{kOk, "-1", kOk}, out, err), 1);
  EXPECT_NE(err.str().find("cannot be listed: [3024] "), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("'gone'"), std::string::npos) << err.str();
}

INSTANTIATE_TEST_SUITE_P(Backends, ServerUsersTest, ::testing::Values(Backend::PostgreSQL), db::testing::backendName);

}  // namespace
}  // namespace oskara::tool
