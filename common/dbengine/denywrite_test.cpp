// Deny-write record sets between processes: refused while another process
// holds the table, free again when it closes the set or is killed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "dbengine/dbengine.h"
#include "dbengine/errors.h"
#include "dbengine/test_files.h"

namespace oskara::db {
namespace {

using testing::errorNumberOf;
using testing::errorTextOf;

// A process that opens the database, takes the table with write access
// denied, reports 'L', and closes the set when told 'c' (answering 'C').
// It then waits to be killed.
class Holder {
 public:
  Holder(const std::string& path, const std::string& table) {
    int toChild[2], toParent[2];
    if (::pipe(toChild) != 0 || ::pipe(toParent) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(toChild[1]);
      ::close(toParent[0]);
      runChild(path, table, toChild[0], toParent[1]);
    }
    ::close(toChild[0]);
    ::close(toParent[1]);
    commands_ = toChild[1];
    answers_ = toParent[0];
  }
  ~Holder() {
    kill();
    ::close(commands_);
    ::close(answers_);
  }

  char answer() {
    char c = 0;
    return ::read(answers_, &c, 1) == 1 ? c : 0;
  }
  void tell(char c) { ASSERT_EQ(::write(commands_, &c, 1), 1); }
  void kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }

 private:
  [[noreturn]] static void runChild(const std::string& path, const std::string& table, int commands,
                                    int answers) {
    char c = 'E';
    try {
      Engine::instance().setIdentity("ws-07", "collector7");
      DatabasePtr db = Engine::instance().workspace(0).openDatabase(path);
      RecordsetPtr lock = db->openRecordset(table, RecordsetType::Dynaset, kDenyWrite);
      c = 'L';
      if (::write(answers, &c, 1) != 1) ::_exit(1);
      if (::read(commands, &c, 1) == 1 && c == 'c') {
        lock->close();
        c = 'C';
        if (::write(answers, &c, 1) != 1) ::_exit(1);
      }
      for (;;) ::pause();
    } catch (...) {
      if (::write(answers, &c, 1) != 1) ::_exit(1);
      ::_exit(1);
    }
  }

  pid_t pid_ = 0;
  int commands_ = -1;
  int answers_ = -1;
};

class DenyWriteAcrossProcesses : public testing::BothBackends {
 protected:
  void SetUp() override {
    BothBackends::SetUp();
    if (IsSkipped()) return;
    databases.make("dt", "CREATE TABLE tblDtQueueProcLock(Id INTEGER);");
    path = databases.location("dt");
  }
  int tryLock() {
    return errorNumberOf([&] {
      DatabasePtr db = Engine::instance().workspace(0).openDatabase(path);
      db->openRecordset("tblDtQueueProcLock", RecordsetType::Dynaset, kDenyWrite);
    });
  }
  // The server ends a killed client's session as soon as it reads the closed
  // socket; a lock is free once the session is gone.
  void awaitSessionsOf(const std::string& user) {
    if (GetParam() != testing::Backend::PostgreSQL) return;
    const std::string sql = "SELECT count(*) FROM pg_stat_activity WHERE application_name LIKE '" + user + "@%'";
    for (int i = 0; i < 1000 && databases.query("dt", sql) != std::vector<std::vector<std::string>>{{"0"}}; ++i)
      ::usleep(10000);
  }
  std::string path;
};
OSKARA_ON_BOTH_BACKENDS(DenyWriteAcrossProcesses);

TEST_P(DenyWriteAcrossProcesses, RefusedWhileHeldNamingTheHolderAndFreeAfterClose) {
  Holder holder(path, "tblDtQueueProcLock");
  ASSERT_EQ(holder.answer(), 'L');
  EXPECT_EQ(tryLock(), errc::kTableLocked);
  DatabasePtr db = Engine::instance().workspace(0).openDatabase(path);
  const std::string text =
      errorTextOf([&] { db->openRecordset("TBLDTQUEUEPROCLOCK", RecordsetType::Dynaset, kDenyWrite); });
  EXPECT_NE(text.find("collector7"), std::string::npos) << text;
  EXPECT_NE(text.find("ws-07"), std::string::npos) << text;
  // Reading the table is not refused.
  EXPECT_TRUE(db->openRecordset("tblDtQueueProcLock")->eof());

  holder.tell('c');
  ASSERT_EQ(holder.answer(), 'C');
  EXPECT_EQ(tryLock(), 0);
}

TEST_P(DenyWriteAcrossProcesses, KilledHolderLeavesNoLockBehind) {
  Holder holder(path, "tblDtQueueProcLock");
  ASSERT_EQ(holder.answer(), 'L');
  EXPECT_EQ(tryLock(), errc::kTableLocked);
  holder.kill();
  awaitSessionsOf("collector7");
  EXPECT_EQ(tryLock(), 0);
}

}  // namespace
}  // namespace oskara::db
