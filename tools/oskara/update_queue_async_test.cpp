// The client side of update-queue --async against a scripted Application in
// this process: the order of the calls, when LogOff comes, and what the wait
// shows on a terminal and elsewhere.
#include "update_queue_async.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <filesystem>

#include "automation/bus/testing/private_bus.h"
#include "automation/method_table.h"
#include "contract/classes.h"
#include "contract/schema.h"
#include "contract/testing/table_rows.h"
#include "core/testing/scoped_env.h"

namespace oskara::tool {
namespace {

using automation::DispatchObject;
using automation::MethodTable;
using automation::method;

class ScriptedApplication : public DispatchObject<ScriptedApplication> {
 public:
  std::string logonResult;
  std::string startResult;
  std::deque<std::string> polls;  // the status answers in turn; the last one repeats
  int32_t pollErr = 0;
  std::string pollText;
  std::vector<std::string> calls;  // member names, "UpdateQueueAsync+prompt" when prompted

  std::string Logon(std::string dt, std::string, std::string, int32_t& lErr, std::string& sError) {
    calls.push_back("Logon " + dt);
    if (!logonResult.empty()) {
      lErr = 3027;
      sError = logonResult.substr(2);
    }
    return logonResult;
  }
  std::string UpdateQueueAsync(std::string, std::string, std::string, int32_t& lErr,
                               std::string& sError, std::optional<bool>& prompt) {
    calls.push_back(prompt.value_or(false) ? "UpdateQueueAsync+prompt" : "UpdateQueueAsync");
    if (!startResult.empty()) {
      lErr = 1238;
      sError = startResult.substr(2);
    }
    return startResult;
  }
  std::string UpdQAsyncStatus(int32_t& lErr, std::string& sError) {
    calls.push_back("UpdQAsyncStatus");
    std::string result = polls.front();
    if (polls.size() > 1) polls.pop_front();
    if (result != "01") {
      lErr = pollErr;
      sError = pollText;
    }
    return result;
  }
  std::string LogOff(int32_t& lErr, std::string& sError) {
    calls.push_back("LogOff");
    lErr = 0;
    sError.clear();
    return "";
  }

  static const MethodTable<ScriptedApplication>& methodTable() {
    static const MethodTable<ScriptedApplication> table(
        contract::application::kClassName,
        {method(contract::application::kUpdateQueueAsync, &ScriptedApplication::UpdateQueueAsync,
                {"sDTPath", "sARPath", "sSOPath", "lErr", "sError", "prompt"}),
         method(contract::application::kUpdQAsyncStatus, &ScriptedApplication::UpdQAsyncStatus,
                {"lErr", "sError"}),
         method(contract::application::kLogon, &ScriptedApplication::Logon,
                {"sDTPath", "sARPath", "sSOPath", "lErr", "sError"}),
         method(contract::application::kLogOff, &ScriptedApplication::LogOff, {"lErr", "sError"})});
    return table;
  }
};

class AsyncClientTest : public ::testing::Test {
 protected:
  UpdateQueueReply run(bool terminal, bool prompt = false) {
    AsyncUpdateOptions options;
    options.wait = [this](std::chrono::milliseconds interval) {
      waited_.push_back(interval.count());
    };
    UpdateQueueRequest request{"/d/dt.db", "/d/ar.db", "", prompt};
    request.progress = progressStyle(terminal, false);
    return runAsyncUpdate(app_, request, options, progress_);
  }

  std::shared_ptr<ScriptedApplication> app_ = std::make_shared<ScriptedApplication>();
  std::ostringstream progress_;
  std::vector<long> waited_;
};

TEST_F(AsyncClientTest, PollsWhileRunningShowingTheElapsedTimeOnATerminal) {
  app_->polls = {"01", "01", "01", ""};
  app_->pollText = "scan done";
  const UpdateQueueReply reply = run(true, true);
  EXPECT_EQ(reply.result, "");
  EXPECT_EQ(reply.lErr, 0);
  EXPECT_EQ(reply.sError, "scan done");
  EXPECT_EQ(app_->calls,
            (std::vector<std::string>{"Logon /d/dt.db", "UpdateQueueAsync+prompt", "UpdQAsyncStatus",
                                      "UpdQAsyncStatus", "UpdQAsyncStatus", "UpdQAsyncStatus",
                                      "LogOff"}));
  EXPECT_EQ(waited_, (std::vector<long>{250, 250, 250}));  // one wait after each "01"
  // One line rewritten in place, ended once the update is over.
  const std::string shown = progress_.str();
  EXPECT_TRUE(shown.starts_with("\rQueue update running: 0 s")) << shown;
  EXPECT_TRUE(shown.ends_with(" s\x1b[K\n")) << shown;
  EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 1);
}

TEST_F(AsyncClientTest, PlainOutputElsewhereAndTheFailureComesBackWithItsNumber) {
  app_->polls = {"01", "-1Error in Queue Engine Object !\r\n[ 462] gone"};
  app_->pollErr = 462;
  app_->pollText = "gone";
  const UpdateQueueReply reply = run(false);
  EXPECT_EQ(reply.result, "-1Error in Queue Engine Object !\r\n[ 462] gone");
  EXPECT_EQ(reply.lErr, 462);
  EXPECT_EQ(reply.sError, "gone");
  EXPECT_EQ(progress_.str(), "");
  EXPECT_EQ(app_->calls.back(), "LogOff");
  EXPECT_EQ(app_->calls[1], "UpdateQueueAsync");  // no prompt asked for
}

TEST_F(AsyncClientTest, RefusalsEndTheConversationAndOnlyALogonIsLoggedOff) {
  app_->startResult = "-1Another user is performing Queue Processing.\r\n\rPlease try again later !";
  const UpdateQueueReply busy = run(false);
  EXPECT_EQ(busy.result, app_->startResult);
  EXPECT_EQ(busy.lErr, 1238);
  EXPECT_EQ(app_->calls,
            (std::vector<std::string>{"Logon /d/dt.db", "UpdateQueueAsync", "LogOff"}));

  app_->calls.clear();
  app_->logonResult = "-1Oskara is currently not available.";
  const UpdateQueueReply refused = run(false);
  EXPECT_EQ(refused.result, app_->logonResult);
  EXPECT_EQ(refused.lErr, 3027);
  EXPECT_EQ(app_->calls, std::vector<std::string>{"Logon /d/dt.db"});
}

// The command against the real servers on a private bus.
TEST(UpdateQueueAsyncOnBusTest, UpdatesTheQueueThenReportsLikeTheSynchronousForm) {
  static int argc = 1;
  static char name[] = "update_queue_async_test";
  static char* argv[] = {name, nullptr};
  if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const test_support::PrivateBus daemon(QStringLiteral(OSKARA_TEST_BUS_CONFIG), std::nullopt,
                                        QProcess::nullDevice());
  ASSERT_TRUE(daemon.started());
  test_support::ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", daemon.address().c_str());

  const std::filesystem::path books = dir.filePath("books").toStdString();
  const contract::DatabaseFiles files = contract::createDatabaseFiles(books);
  contract::testing::addCustomer(files.ar, "C1", {{contract::arcusthist::kBalAge2, 80.0}});
  std::ostringstream out, err;
  EXPECT_EQ(runUpdateQueueAsync({files.dt.string(), files.ar.string(), "", false}, out, err), 0)
      << err.str();
  EXPECT_TRUE(out.str().starts_with("Queue updated.\nCustomers queued per reason code:\n")) << out.str();
  // 60 days overdue.
  EXPECT_EQ(contract::testing::queueReasons(files.dt), (std::map<std::string, int>{{"C1", 3}}));

  // A DT file that does not exist: Logon refuses, nothing is started.
  std::ostringstream out2, err2;
  EXPECT_EQ(runUpdateQueueAsync({(books / "none.db").string(), files.ar.string(), "", false},
                                out2, err2),
            1);
  EXPECT_NE(err2.str().find("Queue update failed: [Logon]["), std::string::npos) << err2.str();
}

}  // namespace
}  // namespace oskara::tool
