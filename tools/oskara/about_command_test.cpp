#include "about_command.h"

#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <optional>
#include <sstream>
#include <string>

#include "automation/bus/testing/private_bus.h"
#include "contract/classes.h"
#include "core/testing/scoped_env.h"

namespace oskara::tool {
namespace {

using oskara::test_support::PrivateBus;
using oskara::test_support::ScopedEnv;

struct Printed {
  int status;
  std::string out;
  std::string err;
};

Printed report(AboutServer server, int16_t result) {
  std::ostringstream out, err;
  const int status = reportAbout(server, result, out, err);
  return {status, out.str(), err.str()};
}

Printed run(AboutServer server) {
  std::ostringstream out, err;
  const int status = runAbout(server, out, err);
  return {status, out.str(), err.str()};
}

TEST(AboutCommandTest, SaysWhetherTheDialogWasShown) {
  const Printed shown = report(AboutServer::Engine, -1);
  EXPECT_EQ(shown.status, 0);
  EXPECT_EQ(shown.out, "The About dialog of " + std::string(contract::kQueueEngineClass) +
                           " is shown on the display of the tormel server.\n");
  EXPECT_EQ(shown.err, "");

  const Printed headless = report(AboutServer::Server, 0);
  EXPECT_EQ(headless.status, 1);
  EXPECT_EQ(headless.out, "");
  EXPECT_EQ(headless.err, "The About dialog of " + std::string(contract::kApplicationClass) +
                              " could not be shown: the varrick server has no display.\n");

  EXPECT_EQ(report(AboutServer::Server, 1).status, 1);  // not a result About gives
}

// The parsed command line picks the server; one of the two flags is required.
TEST(AboutCommandTest, NeedsExactlyOneOfEngineAndServer) {
  auto parse = [](const std::string& args) {
    CLI::App app;
    Action action;
    addAboutCommand(app, action);
    app.parse("about " + args, false);
    return static_cast<bool>(action);
  };
  EXPECT_TRUE(parse("--engine"));
  EXPECT_TRUE(parse("--server"));
  EXPECT_THROW(parse(""), CLI::ParseError);
  EXPECT_THROW(parse("--engine --server"), CLI::ParseError);
}

TEST(AboutCommandTest, NoSessionBusIsAUsageFailure) {
  ScopedEnv unset("DBUS_SESSION_BUS_ADDRESS", nullptr);
  const Printed p = run(AboutServer::Engine);
  EXPECT_EQ(p.status, 2);
  EXPECT_NE(p.err.find("DBUS_SESSION_BUS_ADDRESS is not set"), std::string::npos) << p.err;
}

// The command against the real servers on a private bus, which passes its
// environment on to the servers it starts.
class AboutOnBusTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "about_command_test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
  }

  void TearDown() override {
    // Without their bus the servers end, an open dialog and all.
    daemon_.reset();
  }

  // Starts the bus; with `display`, its servers get a display that Qt draws
  // into memory, without one they run headless.
  void startBus(bool display) {
    ASSERT_TRUE(dir_.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_STARTER_ADDRESS",
                             "DBUS_STARTER_BUS_TYPE", "QT_QPA_PLATFORM"})
      env.remove(QString::fromLatin1(name));
    if (display) {
      env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":0"));
      env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }
    daemon_.emplace(QStringLiteral(OSKARA_TEST_BUS_CONFIG), env,
                    dir_.filePath(QStringLiteral("bus.log")));
    ASSERT_TRUE(daemon_->started());
    address_ = daemon_->address();
  }

  QTemporaryDir dir_;
  std::optional<PrivateBus> daemon_;
  std::string address_;
};

TEST_F(AboutOnBusTest, ServersWithoutADisplayCannotShowIt) {
  startBus(false);
  ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", address_.c_str());
  for (AboutServer server : {AboutServer::Engine, AboutServer::Server}) {
    const Printed p = run(server);
    EXPECT_EQ(p.status, 1);
    EXPECT_EQ(p.out, "");
    EXPECT_NE(p.err.find("could not be shown"), std::string::npos) << p.err;
  }
}

TEST_F(AboutOnBusTest, ServersWithADisplayShowIt) {
  startBus(true);
  ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", address_.c_str());
  for (AboutServer server : {AboutServer::Engine, AboutServer::Server}) {
    const Printed p = run(server);
    EXPECT_EQ(p.status, 0) << p.err;
    EXPECT_NE(p.out.find("is shown"), std::string::npos) << p.out;
  }
  // Asked again while it is open, the same dialog comes up again.
  EXPECT_EQ(run(AboutServer::Server).status, 0);
}

}  // namespace
}  // namespace oskara::tool
