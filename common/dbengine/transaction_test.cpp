// The workspace transaction over every open database, links included.
#include <gtest/gtest.h>

#include "dbengine/dbengine.h"
#include "dbengine/errors.h"
#include "dbengine/test_files.h"

namespace oskara::db {
namespace {

using testing::errorNumberOf;
using testing::makeDatabase;
using testing::queryRows;
using testing::TempFolder;

using Rows = std::vector<std::vector<std::string>>;

class WorkspaceTransaction : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* schema = "CREATE TABLE tblRows(Id TEXT COLLATE NOCASE PRIMARY KEY, N INTEGER);";
    makeDatabase(dir.file("ar.db"), schema);
    makeDatabase(dir.file("so.db"), schema);
    makeDatabase(dir.file("dt.db"),
                 std::string(schema) +
                     "CREATE TABLE sys_links(name TEXT PRIMARY KEY COLLATE NOCASE, database TEXT NOT NULL,"
                     " source_table TEXT NOT NULL);"
                     "INSERT INTO sys_links VALUES ('tblArRows', 'ar.db', 'tblRows');");
  }
  void TearDown() override {
    // A failed test must not leave the process's workspace in a transaction.
    while (ws().transactionDepth() > 0) ws().rollback();
  }

  static Workspace& ws() { return Engine::instance().workspace(0); }

  static void addRow(const DatabasePtr& db, const std::string& table, const std::string& id) {
    RecordsetPtr rs = db->openRecordset(table, RecordsetType::Dynaset, kAppendOnly);
    rs->addNew();
    rs->setField("Id", id);
    rs->update();
  }

  Rows ids(const std::string& file) { return queryRows(dir.file(file), "SELECT Id FROM tblRows ORDER BY Id"); }

  TempFolder dir;
};

TEST_F(WorkspaceTransaction, RollbackUndoesEveryFileAndLink) {
  DatabasePtr dt = ws().openDatabase(dir.file("dt.db"));
  DatabasePtr so = ws().openDatabase(dir.file("so.db"));
  Engine::instance().beginTrans();
  addRow(dt, "tblRows", "d1");
  addRow(dt, "tblArRows", "a1");  // through the link
  addRow(so, "tblRows", "s1");
  Engine::instance().rollback();
  EXPECT_EQ(ids("dt.db"), Rows{});
  EXPECT_EQ(ids("ar.db"), Rows{});
  EXPECT_EQ(ids("so.db"), Rows{});
  EXPECT_EQ(ws().transactionDepth(), 0);
}

TEST_F(WorkspaceTransaction, CommitKeepsEveryFile) {
  DatabasePtr dt = ws().openDatabase(dir.file("dt.db"));
  DatabasePtr so = ws().openDatabase(dir.file("so.db"));
  Engine::instance().beginTrans();
  addRow(dt, "tblRows", "d1");
  addRow(dt, "tblArRows", "a1");
  addRow(so, "tblRows", "s1");
  // Pending writes are not visible to other users before the commit.
  EXPECT_EQ(ids("so.db"), Rows{});
  Engine::instance().commitTrans();
  EXPECT_EQ(ids("dt.db"), Rows{{"d1"}});
  EXPECT_EQ(ids("ar.db"), Rows{{"a1"}});
  EXPECT_EQ(ids("so.db"), Rows{{"s1"}});
}

TEST_F(WorkspaceTransaction, DatabaseOpenedLaterJoinsThePendingTransaction) {
  DatabasePtr dt = ws().openDatabase(dir.file("dt.db"));
  ws().beginTrans();
  addRow(dt, "tblRows", "d1");
  DatabasePtr so = ws().openDatabase(dir.file("so.db"));
  addRow(so, "tblRows", "s1");
  ws().rollback();
  EXPECT_EQ(ids("dt.db"), Rows{});
  EXPECT_EQ(ids("so.db"), Rows{});
}

TEST_F(WorkspaceTransaction, NestedLevelsUndoOnlyTheirOwnWrites) {
  DatabasePtr dt = ws().openDatabase(dir.file("dt.db"));
  DatabasePtr so = ws().openDatabase(dir.file("so.db"));
  ws().beginTrans();
  addRow(dt, "tblRows", "outer");
  ws().beginTrans();
  EXPECT_EQ(ws().transactionDepth(), 2);
  addRow(dt, "tblRows", "inner");
  addRow(so, "tblRows", "inner");
  ws().rollback();
  ws().beginTrans();
  addRow(so, "tblRows", "kept");
  ws().commitTrans();
  ws().commitTrans();
  EXPECT_EQ(ids("dt.db"), Rows{{"outer"}});
  EXPECT_EQ(ids("so.db"), Rows{{"kept"}});
}

TEST_F(WorkspaceTransaction, CommitOrRollbackWithoutBeginIsRefused) {
  DatabasePtr dt = ws().openDatabase(dir.file("dt.db"));
  EXPECT_EQ(errorNumberOf([] { Engine::instance().commitTrans(); }), errc::kNotInTransaction);
  EXPECT_EQ(errorNumberOf([] { Engine::instance().rollback(); }), errc::kNotInTransaction);
  ws().beginTrans();
  ws().commitTrans();
  EXPECT_EQ(errorNumberOf([] { Engine::instance().commitTrans(); }), errc::kNotInTransaction);
}

TEST_F(WorkspaceTransaction, FailedWriteInsideTheTransactionLeavesItUsable) {
  DatabasePtr dt = ws().openDatabase(dir.file("dt.db"));
  ws().beginTrans();
  addRow(dt, "tblRows", "d1");
  EXPECT_EQ(errorNumberOf([&] { addRow(dt, "tblRows", "D1"); }), errc::kDuplicateKey);
  addRow(dt, "tblRows", "d2");
  ws().commitTrans();
  EXPECT_EQ(ids("dt.db"), (Rows{{"d1"}, {"d2"}}));
}

TEST_F(WorkspaceTransaction, ClosingADatabaseDropsItsPendingWrites) {
  DatabasePtr dt = ws().openDatabase(dir.file("dt.db"));
  DatabasePtr so = ws().openDatabase(dir.file("so.db"));
  ws().beginTrans();
  addRow(dt, "tblRows", "d1");
  addRow(so, "tblRows", "s1");
  so.reset();
  ws().commitTrans();
  EXPECT_EQ(ids("dt.db"), Rows{{"d1"}});
  EXPECT_EQ(ids("so.db"), Rows{});
}

}  // namespace
}  // namespace oskara::db
