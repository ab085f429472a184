// Logon, LogOff, the end of an Application object and the queue-processing
// lock, in-process against real DT files. Other workstations are played by
// varrick_lock_holder processes (testing/holder_process.h). On a PostgreSQL
// server, a role's privileges decide whether the logon probe may write.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "contract/schema.h"
#include "contract/tables.h"
#include "contract/server_schema.h"
#include "dbengine/test_files.h"
#include "directdb/sqlite_file.h"
#include "varrick/application.h"
#include "varrick/process_state.h"
#include "varrick/testing/holder_process.h"
#include "varrick/user_list.h"

namespace varrick {

struct QueueProcLockAccess {
  // 0 when taken, otherwise the failure's number; its text in `text`.
  static int32_t lock(Application& app, const std::string& dt, std::string* text = nullptr) {
    const std::optional<oskara::Error> failure = app.QueueProcLock(dt);
    if (failure && text) *text = failure->text();
    return failure ? failure->number() : 0;
  }
  static bool unlock(Application& app) { return app.QueueProcUnlock(); }
};

namespace {

namespace fs = std::filesystem;
namespace contract = oskara::contract;
using oskara::directdb::SqliteFile;

const std::string kLogonTable(contract::kTblDTLogon);
const std::string kLockTable(contract::kTblDtQueueProcLock);

const std::string kNotAvailable =
    "Oskara is currently not available.\r\n"
    "Perhaps the Queue Update Process is currently in progress.\r\n"
    "Please try again later !";

using LockHolder = testing::HolderProcess;

class LogonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("logon_test_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    dt_ = contract::createDatabaseFiles(dir_).dt.string();
  }
  void TearDown() override {
    app_.reset();
    QueueProcLockAccess::unlock(*std::make_shared<Application>());
    g_rsHeld.reset();
    g_dbDT.reset();
    g_sDTPath.clear();
    fs::remove_all(dir_);
  }

  std::string logon(const std::string& dt) { return app_->Logon(dt, "ar", "so", lErr_, sError_); }

  fs::path dir_;
  std::string dt_;
  std::shared_ptr<Application> app_ = std::make_shared<Application>();
  // Sentinels: a successful Logon leaves the pair as the caller passed it.
  int32_t lErr_ = 77;
  std::string sError_ = "as passed";
};

TEST_F(LogonTest, LogonHoldsTheDatabaseAndAProbeThatSavesNothing) {
  EXPECT_EQ(logon(dt_), "");
  EXPECT_EQ(lErr_, 77);
  EXPECT_EQ(sError_, "as passed");
  ASSERT_TRUE(g_rsHeld);
  EXPECT_TRUE(g_rsHeld->isOpen());
  ASSERT_TRUE(g_dbDT);
  EXPECT_EQ(g_dbDT->name(), dt_);

  // The pending row was cancelled, not saved.
  SqliteFile file(dt_);
  EXPECT_EQ(file.query("SELECT COUNT(*) FROM " + kLogonTable)[0][0].toInt32(), 0);
}

TEST_F(LogonTest, LogonWhileLoggedOnOnlyReplacesThePath) {
  ASSERT_EQ(logon(dt_), "");
  const auto database = g_dbDT;
  const auto probe = g_rsHeld;

  // Even a path that names no file: nothing is opened again.
  EXPECT_EQ(logon("entries:anna@PC-1,,boris@PC-2"), "");
  EXPECT_EQ(lErr_, 77);
  EXPECT_EQ(sError_, "as passed");
  EXPECT_EQ(g_sDTPath, "entries:anna@PC-1,,boris@PC-2");
  EXPECT_EQ(g_dbDT, database);
  EXPECT_EQ(g_rsHeld, probe);

  // The user list follows the new path (the stand-in library reads its
  // entries from the name).
  const UserLibrary previous = setUserLibrary({USER_LIST_STANDIN, "LDBUser_GetUsers"});
  EXPECT_EQ(app_->ActiveUsersList(), "anna@PC-1;boris@PC-2");
  setUserLibrary(previous);
}

TEST_F(LogonTest, LogOffEndsTheLogonAndTheNextLogonProbesAgain) {
  ASSERT_EQ(logon(dt_), "");
  EXPECT_EQ(app_->LogOff(lErr_, sError_), "");
  EXPECT_EQ(lErr_, 0);
  EXPECT_EQ(sError_, "");
  EXPECT_FALSE(g_rsHeld);
  EXPECT_FALSE(g_dbDT);
  EXPECT_EQ(g_sDTPath, dt_);

  // Logged off: a LogOff again reports success all the same.
  lErr_ = 5;
  sError_ = "x";
  EXPECT_EQ(app_->LogOff(lErr_, sError_), "");
  EXPECT_EQ(lErr_, 0);
  EXPECT_EQ(sError_, "");

  // The next Logon probes again, and now meets a frozen file.
  ASSERT_EQ(::chmod(dt_.c_str(), 0444), 0);
  EXPECT_EQ(logon(dt_).substr(0, 2), "-1");
  EXPECT_EQ(lErr_, 3027);
}

TEST_F(LogonTest, AReadOnlyDatabaseIsNotAvailable) {
  ASSERT_EQ(::chmod(dt_.c_str(), 0444), 0);
  EXPECT_EQ(logon(dt_), "-1" + kNotAvailable);
  EXPECT_EQ(lErr_, 3027);
  EXPECT_EQ(sError_, kNotAvailable);
  EXPECT_FALSE(g_rsHeld);
  EXPECT_FALSE(g_dbDT);

  // Still logged off: the next Logon tries again and gets in once writable.
  ASSERT_EQ(::chmod(dt_.c_str(), 0644), 0);
  EXPECT_EQ(logon(dt_), "");
  EXPECT_TRUE(g_rsHeld);
}

TEST_F(LogonTest, AMissingDatabaseIsTheTaggedFailureAndIsNotCreated) {
  const std::string missing = (dir_ / "missing.db").string();
  const std::string result = logon(missing);
  EXPECT_EQ(lErr_, 3024);
  EXPECT_FALSE(sError_.empty());
  EXPECT_EQ(result, "-1[Logon][ 3024] " + sError_);
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_FALSE(g_rsHeld);
  EXPECT_FALSE(g_dbDT);
  EXPECT_EQ(g_sDTPath, missing);

  // An empty path fails the same way, with its own number and text.
  lErr_ = 0;
  EXPECT_EQ(logon("").substr(0, 12), "-1[Logon][ 3");
  EXPECT_NE(lErr_, 0);
}

TEST_F(LogonTest, WithoutTheLogonTableTheAddNewOnNoRecordsetIsReported) {
  {
    SqliteFile file(dt_);
    file.exec("DROP TABLE " + kLogonTable);
  }
  const std::string result = logon(dt_);
  EXPECT_EQ(lErr_, 91);
  EXPECT_EQ(result, "-1[Logon][ 91] " + sError_);
  // The text still says which table could not be opened.
  EXPECT_NE(sError_.find(kLogonTable), std::string::npos);
  EXPECT_FALSE(g_rsHeld);
  EXPECT_FALSE(g_dbDT);
}

TEST_F(LogonTest, AnObjectEndingClosesTheProbeButTheProcessStaysLoggedOn) {
  ASSERT_EQ(logon(dt_), "");
  const auto probe = g_rsHeld;
  app_ = std::make_shared<Application>();  // the first object ends
  ASSERT_TRUE(g_rsHeld);
  EXPECT_FALSE(g_rsHeld->isOpen());
  EXPECT_TRUE(g_dbDT);

  // No probe this time, not even on a frozen file.
  ASSERT_EQ(::chmod(dt_.c_str(), 0444), 0);
  EXPECT_EQ(logon(dt_), "");
  EXPECT_EQ(lErr_, 77);
  EXPECT_EQ(g_rsHeld, probe);
}

TEST_F(LogonTest, TheLockIsOnTheUpdatedFileAndNoLogonOrObjectEndFreesIt) {
  const std::string other = contract::createDatabaseFiles(dir_ / "other").dt.string();
  ASSERT_EQ(logon(dt_), "");
  const auto probe = g_rsHeld;
  ASSERT_EQ(QueueProcLockAccess::lock(*app_, other), 0);
  EXPECT_EQ(LockHolder(other, kLockTable).answer(), "refused 3262");
  EXPECT_EQ(LockHolder(dt_, kLockTable).answer(), "held");  // not the logged-on file's
  EXPECT_EQ(g_rsHeld, probe);
  EXPECT_TRUE(probe->isOpen());

  // The end of an object, a log-off and a new logon leave it held.
  app_ = std::make_shared<Application>();
  ASSERT_EQ(app_->LogOff(lErr_, sError_), "");
  ASSERT_EQ(logon(dt_), "");
  EXPECT_EQ(LockHolder(other, kLockTable).answer(), "refused 3262");

  // This process can always take it again, on the same file or another.
  EXPECT_EQ(QueueProcLockAccess::lock(*app_, other), 0);
  EXPECT_EQ(QueueProcLockAccess::lock(*app_, dt_), 0);
  EXPECT_EQ(LockHolder(other, kLockTable).answer(), "held");
  EXPECT_TRUE(QueueProcLockAccess::unlock(*app_));
  EXPECT_EQ(LockHolder(dt_, kLockTable).answer(), "held");
  EXPECT_TRUE(QueueProcLockAccess::unlock(*app_));  // nothing left to give back
}

TEST_F(LogonTest, TheLockIsRefusedWhileAnotherHoldsItOrAnEngineScansAndSaysWhyOtherwise) {
  ASSERT_EQ(logon(dt_), "");
  {
    LockHolder other(dt_, kLockTable);
    ASSERT_EQ(other.answer(), "held");
    EXPECT_EQ(QueueProcLockAccess::lock(*app_, dt_), 3262);
    EXPECT_TRUE(g_rsHeld);  // the logon stays
    other.kill();           // a crashed workstation leaves nothing behind
    EXPECT_EQ(QueueProcLockAccess::lock(*app_, dt_), 0);
    ASSERT_TRUE(QueueProcLockAccess::unlock(*app_));
  }
  {
    // An engine still scanning the file for an earlier update.
    LockHolder scanning(dt_, std::string(contract::kTblDTQueue));
    ASSERT_EQ(scanning.answer(), "held");
    EXPECT_EQ(QueueProcLockAccess::lock(*app_, dt_), 3262);
    EXPECT_EQ(LockHolder(dt_, kLockTable).answer(), "held");  // nothing kept after the refusal
  }
  // A lock-information file that cannot be used is no other user.
  ASSERT_EQ(app_->LogOff(lErr_, sError_), "");
  const std::string lockFile = dt_ + "-lock";
  fs::remove(lockFile);
  fs::create_directory(lockFile);
  ASSERT_EQ(logon(dt_), "");  // the database itself stays usable
  std::string text;
  EXPECT_EQ(QueueProcLockAccess::lock(*app_, dt_, &text), 3051);
  EXPECT_NE(text.find(lockFile), std::string::npos) << text;
}

using oskara::db::testing::Backend;

class ServerLogonTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (!oskara::db::testing::postgresAvailable())
      GTEST_SKIP() << "no PostgreSQL cluster (run under scripts/with-postgres)";
  }
  void TearDown() override {
    g_rsHeld.reset();
    g_dbDT.reset();
    g_sDTPath.clear();
  }
};

TEST_P(ServerLogonTest, ARoleThatMayReadButNotInsertTheLogonTableIsNotAvailable) {
  oskara::db::testing::TestDatabases databases(GetParam());
  const std::string dt = databases.location("dt");
  contract::createServerDatabases({dt, databases.location("ar"), databases.location("so")});
  const std::string schema = dt.substr(dt.find("schema=") + 7);
  // A role that reads everything, and one that may also write the queue.
  const std::string reader = "reader_" + std::to_string(getpid());
  const std::string queueWriter = "queue_writer_" + std::to_string(getpid());
  databases.run("dt", "CREATE ROLE " + reader + " LOGIN; CREATE ROLE " + queueWriter + " LOGIN IN ROLE " + reader +
                          "; GRANT USAGE ON SCHEMA \"" + schema + "\" TO " + reader +
                          "; GRANT SELECT ON ALL TABLES IN SCHEMA \"" + schema + "\" TO " + reader +
                          "; GRANT INSERT, UPDATE, DELETE ON " + std::string(contract::kTblDTQueue) + " TO " +
                          queueWriter);
  Application app;
  for (const std::string& role : {reader, queueWriter}) {
    SCOPED_TRACE(role);
    int32_t lErr = 77;
    std::string sError;
    EXPECT_EQ(app.Logon("postgresql://" + role + "@" + dt.substr(dt.find(":///") + 3), "ar", "so", lErr, sError),
              "-1" + kNotAvailable);
    EXPECT_EQ(lErr, 3027);
    EXPECT_FALSE(g_rsHeld);
    EXPECT_FALSE(g_dbDT);
  }
  int32_t lErr = 77;
  std::string sError;
  EXPECT_EQ(app.Logon(dt, "ar", "so", lErr, sError), "");  // the owner may write
  EXPECT_EQ(databases.query("dt", "SELECT COUNT(*) FROM " + kLogonTable), (std::vector<std::vector<std::string>>{{"0"}}));
  ASSERT_EQ(app.LogOff(lErr, sError), "");
  databases.run("dt", "DROP OWNED BY " + reader + ", " + queueWriter + "; DROP ROLE " + queueWriter + "; DROP ROLE " +
                          reader);
}

INSTANTIATE_TEST_SUITE_P(Backends, ServerLogonTest, ::testing::Values(Backend::PostgreSQL),
                         oskara::db::testing::backendName);

}  // namespace
}  // namespace varrick
