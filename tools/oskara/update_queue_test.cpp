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

#include "automation/bus/bus.h"
#include "automation/bus/testing/event_wait.h"
#include "automation/bus/testing/private_bus.h"
#include "automation/class_registry.h"
#include "clients/application_client.h"
#include "directdb/sqlite_file.h"
#include "session_bus.h"
#include "update_queue_async.h"
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
  EXPECT_TRUE(ok.err.starts_with("The queue cannot be read here: ")) << ok.err;

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
  EXPECT_TRUE(ok.out.starts_with("Queue updated.\nCustomers queued per reason code:\n")) << ok.out;
  EXPECT_TRUE(ok.out.ends_with("1 customer in the queue.\n")) << ok.out;
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

// A scan's progress reaches the client through both servers, during a
// synchronous update (the Application's Progress signal) and an asynchronous
// one (UpdQAsyncProgress and the signal); every listener of the bus hears a
// committed update (QueueUpdated) and nothing of a failed one.
TEST_F(UpdateQueueOnBusTest, ProgressAndCommittedUpdatesReachTheClients) {
  contract::createDatabaseFiles("books");
  contract::testing::addCustomer("books/ar.db", "C1", {{contract::arcusthist::kBalAge2, 80.0}});
  contract::createDatabaseFiles("broken");
  // Its follow-up rule's stored query gone: the scan fails inside its transaction.
  directdb::SqliteFile("broken/dt.db").exec("DELETE FROM sys_queries");
  ScopedEnv env("DBUS_SESSION_BUS_ADDRESS", address_.c_str());
  const std::string dt = fs::absolute("books/dt.db").string();
  const std::string ar = fs::absolute("books/ar.db").string();

  // A listener on a connection of its own, as another program of the session.
  const QString listenerName = QStringLiteral("listener");
  const QDBusConnection listenerConnection =
      QDBusConnection::connectToBus(QString::fromStdString(address_), listenerName);
  std::vector<std::vector<Variant>> updates;
  {
    automation::Bus listener(listenerConnection);
    const std::unique_ptr<ServerWatch> heard = listener.watchClassEvent(
        contract::kQueueEngineClass, contract::queue_engine::kQueueUpdated,
        [&](const std::vector<Variant>& args) { updates.push_back(args); });

    const QDBusConnection connection =
        QDBusConnection::connectToBus(QString::fromStdString(address_), QStringLiteral("client"));
    UpdateQueueRequest request{dt, ar, "", false};
    request.progress = ProgressStyle::Bar;
    std::ostringstream shown;
    EXPECT_EQ(callUpdateQueue(connection, request, shown).result, "");
    EXPECT_NE(shown.str().find(" rule 1 of "), std::string::npos) << shown.str();

    UpdateQueueRequest broken{fs::absolute("broken/dt.db").string(),
                              fs::absolute("broken/ar.db").string(), "", false};
    std::ostringstream none;
    EXPECT_TRUE(callUpdateQueue(connection, broken, none).result.starts_with("-1"));

    {
      ClientBus client(connection);
      clients::ApplicationClient application = clients::ApplicationClient::create();
      std::vector<std::vector<Variant>> relayed;
      const std::unique_ptr<ServerWatch> progress =
          watchEvent(application.object(), contract::application::kProgress,
                     [&](const std::vector<Variant>& args) { relayed.push_back(args); });
      std::ostringstream polled;
      EXPECT_EQ(runAsyncUpdate(application.object(), request, {}, polled).result, "");
      std::string rule;
      int32_t done = -1, total = 0, queued = -1;
      EXPECT_FALSE(application.UpdQAsyncProgress(rule, done, total, queued));  // ended
      EXPECT_FALSE(rule.empty());
      EXPECT_GT(total, 0);
      EXPECT_GE(queued, 0);
      EXPECT_LT(done, total);
      ASSERT_FALSE(relayed.empty());
      EXPECT_EQ(relayed.back()[0].toString(), rule);
    }
    // The failed update in the middle was not announced: the two heard are
    // the committed ones, in order.
    ASSERT_TRUE(test_support::waitUntil([&] { return updates.size() >= 2; }));
    ASSERT_EQ(updates.size(), 2u);
    for (const auto& update : updates) {
      EXPECT_EQ(update[0].toString(), dt);
      EXPECT_EQ(update[2].toString(), "{\"3\":1}");  // one customer 60 days overdue
    }
    EXPECT_LE(updates[0][1].toString(), updates[1][1].toString());
    QDBusConnection::disconnectFromBus(QStringLiteral("client"));
  }
  QDBusConnection::disconnectFromBus(listenerName);
}

}  // namespace
}  // namespace oskara::tool
