#include "update_queue.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>

#include "automation/bus/testing/private_bus.h"
#include "contract/classes.h"
#include "contract/schema.h"
#include "contract/testing/table_rows.h"
#include "core/testing/scoped_env.h"

namespace oskara::tool {
namespace {

namespace fs = std::filesystem;

using oskara::test_support::PrivateBus;
using oskara::test_support::ScopedEnv;

struct Printed {
  int status;
  std::string out;
  std::string err;
};

Printed report(const UpdateQueueReply& reply) {
  std::ostringstream out, err;
  const int status = reportUpdate({"", "", "", false}, reply, out, err);
  return {status, out.str(), err.str()};
}

Printed run(const UpdateQueueRequest& request) {
  std::ostringstream out, err;
  const int status = runUpdateQueue(request, out, err);
  return {status, out.str(), err.str()};
}

TEST(UpdateQueueTest, RelativePathsAreMadeAbsoluteForTheServers) {
  const fs::path cwd = fs::current_path();
  const UpdateQueueRequest sent =
      withAbsolutePaths({"data/dt.db", "/srv/books/../books/ar.db", "", true});
  EXPECT_EQ(sent.dt, (cwd / "data/dt.db").string());
  EXPECT_EQ(sent.ar, "/srv/books/ar.db");
  EXPECT_EQ(sent.so, "");  // no SO file stays no SO file
  EXPECT_TRUE(sent.prompt);
}

TEST(UpdateQueueTest, ReportsSuccessInWordsAndFailuresWithTheirNumber) {
  const Printed ok = report({"", 0, ""});
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(ok.out, "Queue updated.\n");
  EXPECT_EQ(ok.err, "");

  const Printed engine = report({"-1Error in Queue Engine Object !\r\n[-2147220504] Error at InitOptions.",
                                 -2147220504, "Error at InitOptions."});
  EXPECT_EQ(engine.status, 1);
  EXPECT_EQ(engine.out, "");
  EXPECT_EQ(engine.err,
            "Queue update failed: Error in Queue Engine Object !\n[-2147220504] Error at "
            "InitOptions.\nError number: -2147220504\nCause: no DT file was given.\n");

  const Printed trapped = report(
      {"-1[ 429] Cannot create object '" + std::string(contract::kQueueEngineClass) + "'.", 429, "x"});
  EXPECT_EQ(trapped.status, 1);
  EXPECT_NE(trapped.err.find("Error number: 429"), std::string::npos);

  EXPECT_EQ(report({"01", 0, ""}).status, 1);  // not a result UpdateQueue gives
}

TEST(UpdateQueueTest, NoSessionBusIsAUsageFailure) {
  {
    ScopedEnv unset("DBUS_SESSION_BUS_ADDRESS", nullptr);
    const Printed p = run({"dt.db", "ar.db", "", false});
    EXPECT_EQ(p.status, 2);
    EXPECT_NE(p.err.find("DBUS_SESSION_BUS_ADDRESS is not set"), std::string::npos) << p.err;
  }
  {
    QTemporaryDir dir;
    const std::string address = "unix:path=" + dir.filePath("no-bus").toStdString();
    ScopedEnv unreachable("DBUS_SESSION_BUS_ADDRESS", address.c_str());
    const Printed p = run({"dt.db", "ar.db", "", false});
    EXPECT_EQ(p.status, 2);
    EXPECT_NE(p.err.find("cannot reach the session bus at " + address), std::string::npos) << p.err;
  }
}

// The command against the real servers on a private bus.
class UpdateQueueOnBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "update_queue_test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
    ASSERT_TRUE(dir_.isValid());
    daemon_.emplace(QStringLiteral(OSKARA_TEST_BUS_CONFIG), std::nullopt, QProcess::nullDevice());
    ASSERT_TRUE(daemon_->started());
    address_ = daemon_->address();
    previousDir_ = fs::current_path();
    fs::current_path(dir_.path().toStdString());
  }
  void TearDown() override {
    fs::current_path(previousDir_);
    daemon_.reset();
  }

  QTemporaryDir dir_;
  std::optional<PrivateBus> daemon_;
  std::string address_;
  fs::path previousDir_;
};

TEST_F(UpdateQueueOnBusTest, UpdatesTheQueueOfFilesNamedRelativeToTheCaller) {
  contract::createDatabaseFiles("books");
  contract::testing::addCustomer("books/ar.db", "C1", {{contract::arcusthist::kBalAge2, 80.0}});
  ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", address_.c_str());
  const Printed ok = run({"books/dt.db", "books/ar.db", "books/so.db", false});
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.out, "Queue updated.\n");
  // 60 days overdue.
  EXPECT_EQ(contract::testing::queueReasons("books/dt.db"), (std::map<std::string, int>{{"C1", 3}}));

  // An AR file given that the DT's links do not read is named in a warning.
  const std::string absolute = fs::absolute("books").string();
  fs::copy_file("books/ar.db", "ar-copy.db");
  const Printed wrongAr = run({"books/dt.db", "ar-copy.db", "", false});
  EXPECT_EQ(wrongAr.status, 0) << wrongAr.err;
  EXPECT_EQ(wrongAr.err, "Warning: the DT file's link tblArCust reads '" + absolute + "/ar.db', not the AR file '" +
                             fs::absolute("ar-copy.db").string() +
                             "' given: the DT's links decide which AR file the scan reads.\n");

  // The engine says only "Error at InitOptions."; the tool names the file and its failure.
  const Printed failed = run({"nowhere/dt.db", "books/ar.db", "", true});
  EXPECT_EQ(failed.status, 1);
  EXPECT_TRUE(failed.err.starts_with("Queue update failed: Error in Queue Engine Object !\n[-2147220504] Error at "
                                     "InitOptions.\nError number: -2147220504\nCause: the DT file '" +
                                     fs::absolute("nowhere/dt.db").string() + "': [3044] "))
      << failed.err;

  fs::resize_file("books/ar.db", 1000);  // damaged: cut short
  const Printed damaged = run({"books/dt.db", "books/ar.db", "", false});
  EXPECT_EQ(damaged.status, 1);
  EXPECT_NE(damaged.err.find("Cause: the AR file '" + absolute + "/ar.db': [3049]"), std::string::npos)
      << damaged.err;
}

}  // namespace
}  // namespace oskara::tool
