// Faults of the operating system, injected through the Env: the engine
// reports them with its own numbers and leaves the files as they were.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/testing/fault_env.h"
#include "dbengine/dbengine.h"
#include "dbengine/errors.h"
#include "dbengine/test_files.h"

namespace oskara::db {
namespace {

using test_support::FaultEnv;
using testing::errorNumberOf;
using testing::makeDatabase;
using testing::queryRows;
using testing::TempFolder;

using Rows = std::vector<std::vector<std::string>>;

Workspace& ws() { return Engine::instance().workspace(0); }

std::string bytesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Edits the one row of tblRows and adds enough rows to fill several pages,
// in one transaction that a failure rolls back, as the scan does.
void changeManyRows(const DatabasePtr& db) {
  ws().beginTrans();
  try {
    RecordsetPtr rs = db->openRecordset("tblRows");
    rs->edit();
    rs->setField("N", int32_t{2});
    rs->update();
    for (int i = 0; i < 300; ++i) {
      rs->addNew();
      rs->setField("Id", "row " + std::to_string(i) + std::string(40, 'x'));
      rs->update();
    }
    rs->close();
    ws().commitTrans();
  } catch (...) {
    if (ws().transactionDepth() > 0) ws().rollback();
    throw;
  }
}

TEST(EnvFaults, AFailedWriteOrSyncInACommitLeavesTheFileAsItWas) {
  TempFolder dir;
  const std::string path = dir.file("dt.db");
  makeDatabase(path, "CREATE TABLE tblRows(Id TEXT COLLATE NOCASE PRIMARY KEY, N INTEGER);"
                     "INSERT INTO tblRows VALUES ('kept', 1);");
  const std::string before = bytesOf(path);

  // The writes and syncs of SQLite's files (the database and its journal)
  // that the transaction makes, in the journal as pages change and in both
  // files at the commit; the lock-information file is written when the
  // database opens and closes, outside the counting.
  int writes = 0, syncs = 0;
  {
    TempFolder other;
    const std::string copy = other.file("dt.db");
    std::filesystem::copy_file(path, copy);
    DatabasePtr db = ws().openDatabase(copy);
    FaultEnv counting;
    changeManyRows(db);
    writes = counting.count(FileOp::Write, copy);
    syncs = counting.count(FileOp::Sync, copy);
  }
  ASSERT_GT(writes, 3);
  ASSERT_GT(syncs, 1);

  for (FileOp op : {FileOp::Write, FileOp::Sync}) {
    for (int nth = 1; nth <= (op == FileOp::Write ? writes : syncs); ++nth) {
      SCOPED_TRACE(std::string(op == FileOp::Write ? "write " : "sync ") + std::to_string(nth));
      DatabasePtr db = ws().openDatabase(path);
      {
        FaultEnv faults;
        faults.failNth(op, nth, EIO, path);
        EXPECT_EQ(errorNumberOf([&] { changeManyRows(db); }), errc::kDiskError);
        EXPECT_TRUE(faults.failed());
      }
      EXPECT_EQ(ws().transactionDepth(), 0);
      db->close();
      // The next user finds the file as it was (SQLite rolls back what the
      // failed commit left in the journal).
      db = ws().openDatabase(path);
      EXPECT_EQ(db->openRecordset("SELECT Id, N FROM tblRows", RecordsetType::ForwardOnly)->field("N"),
                Variant(int32_t{1}));
      db->close();
      EXPECT_EQ(bytesOf(path), before);
      EXPECT_EQ(queryRows(path, "PRAGMA integrity_check"), Rows{{"ok"}});
    }
  }
}

TEST(EnvFaults, ARefusedLockIsReportedLikeAnotherUsersLock) {
  TempFolder dir;
  const std::string path = dir.file("dt.db");
  makeDatabase(path, "CREATE TABLE tblDtQueueProcLock(Id INTEGER);");
  DatabasePtr db = ws().openDatabase(path);
  EXPECT_TRUE(db->openRecordset("tblDtQueueProcLock")->eof());  // the table is known before locks are refused
  {
    FaultEnv faults;
    faults.refuseLocks(path);
    // The deny-write lock in the lock-information file.
    EXPECT_EQ(errorNumberOf([&] { db->openRecordset("tblDtQueueProcLock", RecordsetType::Dynaset, kDenyWrite); }),
              errc::kTableLocked);
    // SQLite's lock on the database file, once the wait for it is over.
    EXPECT_EQ(errorNumberOf([&] { db->execute("INSERT INTO tblDtQueueProcLock (Id) VALUES (1)"); }),
              errc::kCouldNotUpdateLocked);
    EXPECT_GT(faults.count(FileOp::Lock, path + "-lock"), 0);
  }
  // Nothing of the refusals stays behind.
  RecordsetPtr held = db->openRecordset("tblDtQueueProcLock", RecordsetType::Dynaset, kDenyWrite);
  db->execute("INSERT INTO tblDtQueueProcLock (Id) VALUES (1)");
  EXPECT_EQ(queryRows(path, "SELECT Id FROM tblDtQueueProcLock"), Rows{{"1"}});
}

}  // namespace
}  // namespace oskara::db
