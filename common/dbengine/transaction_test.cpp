// The workspace transaction over every open database, links included.
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/dbengine.h"
#include "dbengine/errors.h"
#include "dbengine/postgres/location.h"
#include "dbengine/test_files.h"

namespace oskara::db {
namespace {

using testing::errorNumberOf;

using Rows = std::vector<std::vector<std::string>>;

class WorkspaceTransaction : public testing::BothBackends {
 protected:
  void SetUp() override {
    BothBackends::SetUp();
    if (IsSkipped()) return;
    const char* schema = "CREATE TABLE tblRows(Id TEXT COLLATE NOCASE PRIMARY KEY, N INTEGER);";
    databases.make("ar", schema);
    databases.make("so", schema);
    databases.make("dt", std::string(schema) +
                             "CREATE TABLE sys_links(name TEXT COLLATE NOCASE PRIMARY KEY, database TEXT NOT NULL,"
                             " source_table TEXT NOT NULL);"
                             "INSERT INTO sys_links VALUES ('tblArRows', '" +
                             databases.link("ar") + "', 'tblRows');");
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

  Rows ids(const std::string& name) { return databases.query(name, "SELECT Id FROM tblRows ORDER BY Id"); }
  DatabasePtr open(const std::string& name) { return ws().openDatabase(databases.location(name)); }
};
OSKARA_ON_BOTH_BACKENDS(WorkspaceTransaction);

// The databases of a workspace on one server database share its session and
// its transaction; files are apart.
class FileTransaction : public WorkspaceTransaction {};
INSTANTIATE_TEST_SUITE_P(Files, FileTransaction, ::testing::Values(testing::Backend::SQLite), testing::backendName);

// A notification reaches another session of the server only when the
// transaction it was sent in commits; files have no listeners.
TEST_P(WorkspaceTransaction, NotificationsGoOutWithTheCommitOnly) {
  DatabasePtr dt = open("dt");
  if (databases.backend() == testing::Backend::SQLite) {
    Engine::instance().beginTrans();
    dt->notify("oskara_test", "ignored");
    Engine::instance().commitTrans();
    return;
  }
  const postgres::ServerLocation where = postgres::parseServerLocation(databases.location("dt"));
  std::unique_ptr<PGconn, decltype(&PQfinish)> listener(PQconnectdb(where.conninfo.c_str()),
                                                         &PQfinish);
  ASSERT_EQ(PQstatus(listener.get()), CONNECTION_OK) << PQerrorMessage(listener.get());
  PQclear(PQexec(listener.get(), "LISTEN oskara_test"));
  auto heard = [&] {
    // A round trip first: whatever was committed before it has arrived.
    PQclear(PQexec(listener.get(), "SELECT 1"));
    PQconsumeInput(listener.get());
    std::vector<std::string> payloads;
    while (PGnotify* n = PQnotifies(listener.get())) {
      payloads.emplace_back(n->extra);
      PQfreemem(n);
    }
    return payloads;
  };

  Engine::instance().beginTrans();
  dt->notify("oskara_test", "rolled back");
  Engine::instance().rollback();
  Engine::instance().beginTrans();
  dt->notify("oskara_test", "committed");
  EXPECT_EQ(heard(), std::vector<std::string>{});  // not before the commit
  Engine::instance().commitTrans();
  EXPECT_EQ(heard(), std::vector<std::string>{"committed"});
}

TEST_P(WorkspaceTransaction, RollbackUndoesEveryFileAndLink) {
  DatabasePtr dt = open("dt");
  DatabasePtr so = open("so");
  Engine::instance().beginTrans();
  addRow(dt, "tblRows", "d1");
  addRow(dt, "tblArRows", "a1");  // through the link
  addRow(so, "tblRows", "s1");
  Engine::instance().rollback();
  EXPECT_EQ(ids("dt"), Rows{});
  EXPECT_EQ(ids("ar"), Rows{});
  EXPECT_EQ(ids("so"), Rows{});
  EXPECT_EQ(ws().transactionDepth(), 0);
}

TEST_P(WorkspaceTransaction, CommitKeepsEveryFile) {
  DatabasePtr dt = open("dt");
  DatabasePtr so = open("so");
  Engine::instance().beginTrans();
  addRow(dt, "tblRows", "d1");
  addRow(dt, "tblArRows", "a1");
  addRow(so, "tblRows", "s1");
  // Pending writes are not visible to other users before the commit.
  EXPECT_EQ(ids("so"), Rows{});
  Engine::instance().commitTrans();
  EXPECT_EQ(ids("dt"), Rows{{"d1"}});
  EXPECT_EQ(ids("ar"), Rows{{"a1"}});
  EXPECT_EQ(ids("so"), Rows{{"s1"}});
}

TEST_P(WorkspaceTransaction, DatabaseOpenedLaterJoinsThePendingTransaction) {
  DatabasePtr dt = open("dt");
  ws().beginTrans();
  addRow(dt, "tblRows", "d1");
  DatabasePtr so = open("so");
  addRow(so, "tblRows", "s1");
  ws().rollback();
  EXPECT_EQ(ids("dt"), Rows{});
  EXPECT_EQ(ids("so"), Rows{});
}

TEST_P(WorkspaceTransaction, NestedLevelsUndoOnlyTheirOwnWrites) {
  DatabasePtr dt = open("dt");
  DatabasePtr so = open("so");
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
  EXPECT_EQ(ids("dt"), Rows{{"outer"}});
  EXPECT_EQ(ids("so"), Rows{{"kept"}});
}

TEST_P(WorkspaceTransaction, CommitOrRollbackWithoutBeginIsRefused) {
  DatabasePtr dt = open("dt");
  EXPECT_EQ(errorNumberOf([] { Engine::instance().commitTrans(); }), errc::kNotInTransaction);
  EXPECT_EQ(errorNumberOf([] { Engine::instance().rollback(); }), errc::kNotInTransaction);
  ws().beginTrans();
  ws().commitTrans();
  EXPECT_EQ(errorNumberOf([] { Engine::instance().commitTrans(); }), errc::kNotInTransaction);
}

TEST_P(WorkspaceTransaction, FailedWriteInsideTheTransactionLeavesItUsable) {
  DatabasePtr dt = open("dt");
  ws().beginTrans();
  addRow(dt, "tblRows", "d1");
  EXPECT_EQ(errorNumberOf([&] { addRow(dt, "tblRows", "D1"); }), errc::kDuplicateKey);
  addRow(dt, "tblRows", "d2");
  ws().commitTrans();
  EXPECT_EQ(ids("dt"), (Rows{{"d1"}, {"d2"}}));
}

// In a transaction that its caller rolls back whole, a write may go without
// waiting for its outcome: its failure comes all the same, with the write's
// own number and text, from the next read or from the commit, and nothing of
// the transaction is kept.
TEST_P(WorkspaceTransaction, AllOrNothingWriteFailureComesWithItsOwnError) {
  DatabasePtr dt = open("dt");
  auto failureOf = [](const std::function<void()>& f) {
    try {
      f();
    } catch (const Error& e) {
      return std::to_string(e.number()) + " " + e.text();
    }
    return std::string("no failure");
  };
  ws().beginTrans();
  addRow(dt, "tblRows", "d1");
  const std::string awaited = failureOf([&] { addRow(dt, "tblRows", "D1"); });
  ws().rollback();
  EXPECT_EQ(awaited.substr(0, awaited.find(' ')), std::to_string(errc::kDuplicateKey));

  const std::vector<std::function<void()>> laterSteps = {
      [&] { dt->openRecordset("SELECT Id FROM tblRows", RecordsetType::ForwardOnly); },
      [&] { ws().commitTrans(); },
  };
  for (const auto& later : laterSteps) {
    ws().beginTrans(kAllOrNothing);
    addRow(dt, "tblRows", "d1");
    EXPECT_EQ(failureOf([&] {
                addRow(dt, "tblRows", "D1");
                dt->execute("UPDATE tblRows SET N = 1");
                later();
              }),
              awaited);
    if (ws().transactionDepth() > 0) ws().rollback();
    EXPECT_EQ(ids("dt"), Rows{});
  }
  // Rolled back before its failure came, the write is undone like the rest.
  ws().beginTrans(kAllOrNothing);
  addRow(dt, "tblRows", "d1");
  failureOf([&] { addRow(dt, "tblRows", "D1"); });  // files raise it at once
  ws().rollback();
  addRow(dt, "tblRows", "d2");
  EXPECT_EQ(ids("dt"), Rows{{"d2"}});
}

// Writes that went without waiting are seen by the reads after them and
// counted right whenever the count is asked for.
TEST_P(WorkspaceTransaction, AllOrNothingWritesAreSeenAndCounted) {
  DatabasePtr dt = open("dt");
  ws().beginTrans(kAllOrNothing);
  addRow(dt, "tblRows", "d1");
  addRow(dt, "tblArRows", "a1");
  addRow(dt, "tblRows", "d2");
  QueryDefPtr query = dt->createQueryDef("");
  query->setSql("UPDATE tblRows SET N = 7 WHERE Id <> 'd2'");
  query->execute(kFailOnError);
  dt->execute("UPDATE tblRows SET N = 8");
  EXPECT_EQ(dt->recordsAffected(), 2);
  EXPECT_EQ(query->recordsAffected(), 1);  // its outcome read on the way
  dt->execute("DELETE FROM tblArRows");
  RecordsetPtr rs = dt->openRecordset("SELECT Count(*) AS Rows8 FROM tblRows WHERE N = 8", RecordsetType::ForwardOnly);
  EXPECT_EQ(rs->field("Rows8").toInt32(), 2);
  rs->close();
  EXPECT_EQ(dt->recordsAffected(), 1);
  // A row edited twice: the second write finds the row the first one left.
  rs = dt->openRecordset("SELECT Id, N FROM tblRows WHERE Id = 'd1'", RecordsetType::Dynaset);
  for (int n : {9, 10}) {
    rs->edit();
    rs->setField("N", n);
    rs->update();
  }
  rs->close();
  ws().commitTrans();
  EXPECT_EQ(databases.query("dt", "SELECT Id, N FROM tblRows ORDER BY Id"), (Rows{{"d1", "10"}, {"d2", "8"}}));
  EXPECT_EQ(ids("ar"), Rows{});
}

TEST_P(FileTransaction, ClosingADatabaseDropsItsPendingWrites) {
  DatabasePtr dt = open("dt");
  DatabasePtr so = open("so");
  ws().beginTrans();
  addRow(dt, "tblRows", "d1");
  addRow(so, "tblRows", "s1");
  so.reset();
  ws().commitTrans();
  EXPECT_EQ(ids("dt"), Rows{{"d1"}});
  EXPECT_EQ(ids("so"), Rows{});
}

}  // namespace
}  // namespace oskara::db
