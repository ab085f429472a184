// Opening database files, read-only files and linked tables.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "dbengine/dbengine.h"
#include "dbengine/errors.h"
#include "dbengine/postgres/users.h"
#include "dbengine/sqlite/lockinfo.h"
#include "dbengine/sqlite/testing.h"
#include "dbengine/test_files.h"

namespace oskara::db {
namespace {

using testing::errorNumberOf;
using testing::errorTextOf;
using testing::makeDatabase;
using testing::queryRows;
using testing::TempFolder;

Workspace& ws() { return Engine::instance().workspace(0); }

TEST(OpenDatabase, TellsMissingFileFromUnusablePathAndForeignFile) {
  TempFolder dir;
  const std::string missing = dir.file("missing.db");
  EXPECT_EQ(errorNumberOf([&] { ws().openDatabase(missing); }), errc::kFileNotFound);
  EXPECT_NE(errorTextOf([&] { ws().openDatabase(missing); }).find(missing), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(missing)) << "opening must never create the file";

  EXPECT_EQ(errorNumberOf([&] { ws().openDatabase(dir.file("nofolder/dt.db")); }), errc::kInvalidPath);
  EXPECT_EQ(errorNumberOf([&] { ws().openDatabase(dir.path()); }), errc::kInvalidPath);
  EXPECT_EQ(errorNumberOf([&] { ws().openDatabase(""); }), errc::kInvalidPath);

  const std::string text = dir.file("notes.db");
  std::ofstream(text) << "These are notes, not a database; long enough to have a header of sorts.\n";
  EXPECT_EQ(errorNumberOf([&] { ws().openDatabase(text); }), errc::kUnrecognizedFormat);
}

TEST(OpenDatabase, OnlyWorkspaceZeroExists) {
  EXPECT_EQ(errorNumberOf([] { Engine::instance().workspace(1); }), errc::kItemNotFound);
  EXPECT_EQ(&Engine::instance().workspace(0), &ws());
}

TEST(OpenDatabase, FileWithoutWriteBitIsReadOnlyForEveryone) {
  TempFolder dir;
  const std::string path = dir.file("dt.db");
  makeDatabase(path, "CREATE TABLE tblLogon(Who TEXT); INSERT INTO tblLogon VALUES ('x');");
  EXPECT_FALSE(ws().openDatabase(path)->isReadOnly());

  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  DatabasePtr db = ws().openDatabase(path);
  EXPECT_TRUE(db->isReadOnly());
  RecordsetPtr rs = db->openRecordset("tblLogon", RecordsetType::Dynaset, kAppendOnly);
  EXPECT_EQ(errorNumberOf([&] { rs->addNew(); }), errc::kReadOnly);
  // Reading still works.
  RecordsetPtr read = db->openRecordset("tblLogon", RecordsetType::ForwardOnly);
  EXPECT_EQ(read->field("Who"), Variant("x"));
}

class ActiveUsers : public testing::BothBackends {
 protected:
  // The users as the active-users library reads them: from the lock file
  // beside a file, from the server's sessions for a server location.
  std::vector<UserEntry> users(const std::string& location) {
    return GetParam() == testing::Backend::SQLite ? LockInfoFile::activeUsers(location)
                                                  : postgres::activeUsers(location);
  }
};
OSKARA_ON_BOTH_BACKENDS(ActiveUsers);

TEST_P(ActiveUsers, AreTheDatabaseObjectsOpenNow) {
  databases.make("dt", "CREATE TABLE t(a TEXT);");
  const std::string path = databases.location("dt");
  DatabasePtr db = ws().openDatabase(path);
  const UserEntry me{Engine::instance().machineName(), Engine::instance().userName()};
  EXPECT_EQ(users(path), std::vector<UserEntry>{me});
  db->close();
  EXPECT_TRUE(users(path).empty());
  EXPECT_FALSE(db->isOpen());
  EXPECT_EQ(errorNumberOf([&] { db->openRecordset("t"); }), errc::kObjectInvalid);
}

TEST(OpenDatabase, WithoutLockFileOpensButCannotDenyWrite) {
  TempFolder dir;
  const std::string path = dir.file("dt.db");
  makeDatabase(path, "CREATE TABLE tblDtQueueProcLock(Id INTEGER);");
  // A folder where the lock file should be: it cannot be made.
  std::filesystem::create_directory(LockInfoFile::pathFor(path));
  DatabasePtr db = ws().openDatabase(path);
  EXPECT_TRUE(db->openRecordset("tblDtQueueProcLock")->eof());
  EXPECT_EQ(errorNumberOf([&] { db->openRecordset("tblDtQueueProcLock", RecordsetType::Dynaset, kDenyWrite); }),
            errc::kCannotOpenFile);
}

// A journal planted as a link (to another user's file, say) is never
// followed; SQLite then says only "unable to open database file".
TEST(OpenDatabase, PlantedJournalLinkIsNamedAsTheCause) {
  TempFolder dir;
  const std::string path = dir.file("dt.db");
  makeDatabase(path, "CREATE TABLE tblLogon(Who TEXT);");
  std::ofstream(dir.file("victim")) << "somebody's file";
  std::filesystem::create_symlink(dir.file("victim"), path + "-journal");
  const auto open = [&] { ws().openDatabase(path); };
  EXPECT_EQ(errorNumberOf(open), errc::kCannotOpenFile);
  EXPECT_NE(errorTextOf(open).find("its journal '" + path + "-journal' is a symbolic link"), std::string::npos)
      << errorTextOf(open);
  std::ifstream victim(dir.file("victim"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(victim), {}), "somebody's file");
}

class LinkedTables : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(dir.file("ar"));
    makeDatabase(dir.file("ar/ar.db"),
                 "CREATE TABLE Customers(CustId TEXT COLLATE NOCASE PRIMARY KEY, CreditLimit DOUBLE);"
                 "INSERT INTO Customers VALUES ('C1', 100), ('C2', 250.5);"
                 "CREATE TABLE History(CustId TEXT COLLATE NOCASE, BalAge1 DOUBLE);");
    makeDatabase(dir.file("dt.db"),
                 "CREATE TABLE sys_links(name TEXT PRIMARY KEY COLLATE NOCASE, database TEXT NOT NULL,"
                 " source_table TEXT NOT NULL);"
                 "INSERT INTO sys_links VALUES ('tblArCust', 'ar/ar.db', 'Customers'),"
                 " ('tblArCustHist', 'ar/ar.db', 'History'), ('tblGone', 'gone.db', 'Customers');"
                 "CREATE TABLE tblLocal(a TEXT);");
  }
  TempFolder dir;
};

TEST_F(LinkedTables, RelativeLinkReadsAndEditsTheLinkedFile) {
  DatabasePtr db = ws().openDatabase(dir.file("dt.db"));
  // Names without regard to case, like the statements of the system.
  RecordsetPtr rs = db->openRecordset("TBLARCUST", RecordsetType::Dynaset);
  ASSERT_FALSE(rs->eof());
  EXPECT_EQ(rs->field("custid"), Variant("C1"));
  rs->edit();
  rs->setField("CreditLimit", 175.0);
  rs->update();
  rs->moveNext();
  EXPECT_EQ(rs->field("CreditLimit"), Variant(250.5));
  rs->addNew();
  rs->setField("CustId", "C3");
  rs->update();
  rs->close();
  EXPECT_EQ(queryRows(dir.file("ar/ar.db"), "SELECT CustId, CreditLimit FROM Customers ORDER BY CustId"),
            (std::vector<std::vector<std::string>>{{"C1", "175.0"}, {"C2", "250.5"}, {"C3", "NULL"}}));

  const auto names = db->tableNames();
  for (const char* name : {"tblArCust", "tblArCustHist", "tblLocal", "sys_links"})
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
}

TEST_F(LinkedTables, FileLinkedTwiceIsAttachedOnce) {
  DatabasePtr db = ws().openDatabase(dir.file("dt.db"));
  // main and the one existing linked file; the missing one is not attached.
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(sqlite::TEST_connectionOf(*db), "PRAGMA database_list", -1, &stmt, nullptr),
            SQLITE_OK);
  int schemas = 0;
  while (sqlite3_step(stmt) == SQLITE_ROW) ++schemas;
  sqlite3_finalize(stmt);
  EXPECT_EQ(schemas, 2);
}

TEST_F(LinkedTables, MissingLinkFileFailsOnlyWhatUsesIt) {
  DatabasePtr db = ws().openDatabase(dir.file("dt.db"));
  EXPECT_TRUE(db->openRecordset("tblLocal")->eof());
  EXPECT_EQ(errorNumberOf([&] { db->openRecordset("tblGone"); }), errc::kFileNotFound);
  EXPECT_NE(errorTextOf([&] { db->openRecordset("tblGone"); }).find("gone.db"), std::string::npos);
  EXPECT_EQ(errorNumberOf([&] { db->openRecordset("tblNowhere"); }), errc::kNoSuchTable);
}

// The linked file is another program's: a read-only database reads it
// read-only, and its journal mode is left as that program set it.
TEST_F(LinkedTables, ReadOnlyDatabaseReadsItsLinksAndNoLinkedFileIsSwitchedToTheRollbackJournal) {
  testing::runSql(dir.file("ar/ar.db"), "PRAGMA journal_mode=WAL");
  ASSERT_EQ(::chmod(dir.file("dt.db").c_str(), 0444), 0);
  DatabasePtr db = ws().openDatabase(dir.file("dt.db"));
  EXPECT_TRUE(db->isReadOnly());
  EXPECT_EQ(db->openRecordset("SELECT Count(*) AS n FROM tblArCust")->field("n").toInt32(), 2);
  EXPECT_EQ(errorNumberOf([&] { db->openRecordset("tblArCust")->edit(); }), errc::kReadOnly);
  db->close();
  // Nor is a file opened read-only on request, as the scan opens AR and SO.
  DatabasePtr ar = ws().openDatabase(dir.file("ar/ar.db"), Workspace::Access::ReadOnly);
  EXPECT_TRUE(ar->isReadOnly());
  EXPECT_EQ(ar->openRecordset("SELECT Count(*) AS n FROM Customers")->field("n").toInt32(), 2);
  EXPECT_EQ(errorNumberOf([&] { ar->execute("DELETE FROM Customers"); }), errc::kReadOnly);
  ar->close();
  EXPECT_EQ(queryRows(dir.file("ar/ar.db"), "PRAGMA journal_mode"), (std::vector<std::vector<std::string>>{{"wal"}}));
}

// SQLite reports a damaged page, not whose: the damaged linked file is named.
TEST_F(LinkedTables, DamagedLinkedFileIsNamed) {
  testing::runSql(dir.file("ar/ar.db"),
                  "WITH RECURSIVE n(i) AS (SELECT 3 UNION ALL SELECT i + 1 FROM n WHERE i < 2000)"
                  " INSERT INTO Customers SELECT 'C' || i, i FROM n");
  {  // every page after the first two made unreadable
    std::fstream ar(dir.file("ar/ar.db"), std::ios::in | std::ios::out | std::ios::binary);
    const auto size = std::filesystem::file_size(dir.file("ar/ar.db"));
    for (std::streamoff page = 2 * 4096; page < static_cast<std::streamoff>(size); page += 4096) {
      ar.seekp(page);
      ar.write("\x0d\xff\xff\xff\xff\xff\xff\xff", 8);
    }
  }
  DatabasePtr db = ws().openDatabase(dir.file("dt.db"));
  const auto sum = [&] { db->openRecordset("SELECT Sum(CreditLimit) AS s FROM tblArCust")->field("s"); };
  EXPECT_EQ(errorNumberOf(sum), errc::kCorrupt);
  EXPECT_NE(errorTextOf(sum).find(dir.file("ar/ar.db")), std::string::npos) << errorTextOf(sum);
}

TEST_F(LinkedTables, ReadOnlyLinkedFileRefusesWrites) {
  ASSERT_EQ(::chmod(dir.file("ar/ar.db").c_str(), 0444), 0);
  DatabasePtr db = ws().openDatabase(dir.file("dt.db"));
  EXPECT_FALSE(db->isReadOnly());
  RecordsetPtr rs = db->openRecordset("tblArCust");
  EXPECT_EQ(errorNumberOf([&] { rs->edit(); }), errc::kReadOnly);
  EXPECT_EQ(errorNumberOf([&] { rs->addNew(); }), errc::kReadOnly);
}

}  // namespace
}  // namespace oskara::db
