// Record sets over tables: streaming, editing in place, field types and the
// errors of misuse.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <string>

#include "core/testing/fault_env.h"
#include "dbengine/dbengine.h"
#include "dbengine/errors.h"
#include "dbengine/test_files.h"

namespace oskara::db {
namespace {

using testing::errorNumberOf;
using testing::errorTextOf;

using Rows = std::vector<std::vector<std::string>>;

class TableRecordsets : public testing::BothBackends {
 protected:
  void SetUp() override {
    BothBackends::SetUp();
    if (IsSkipped()) return;
    databases.make("dt",
                   "CREATE TABLE tblQueue(CustID TEXT COLLATE NOCASE NOT NULL UNIQUE, TransType SMALLINT,"
                   " Remark TEXT COLLATE NOCASE, EntryDate DATETIME, EntryTime DATETIME, LogID INTEGER DEFAULT 0,"
                   " Amount DOUBLE, Done BOOLEAN);"
                   "INSERT INTO tblQueue VALUES ('A1', 2, 'Account 30 days overdue.', '2024-03-05', '13:45:10',"
                   " 7, 12.5, TRUE);"
                   "INSERT INTO tblQueue VALUES ('B2', 4, NULL, '2024-03-06', NULL, 8, NULL, FALSE);"
                   "CREATE TABLE tblEmpty(a TEXT);");
    db = Engine::instance().workspace(0).openDatabase(databases.location("dt"));
  }
  Rows query(const std::string& sql) { return databases.query("dt", sql); }
  DatabasePtr db;
};
OSKARA_ON_BOTH_BACKENDS(TableRecordsets);

// What only a file shows: its columns without a declared type, values wider
// than the declared type, its locks.
class FileRecordsets : public TableRecordsets {
 protected:
  std::string path() const { return databases.location("dt"); }
};
INSTANTIATE_TEST_SUITE_P(Files, FileRecordsets, ::testing::Values(testing::Backend::SQLite), testing::backendName);

TEST_P(TableRecordsets, ValuesFollowTheDeclaredType) {
  RecordsetPtr rs = db->openRecordset("tblQueue", RecordsetType::ForwardOnly);
  ASSERT_FALSE(rs->eof());
  EXPECT_EQ(rs->field("CustID"), Variant("A1"));
  EXPECT_EQ(rs->field("TransType"), Variant(int16_t{2}));
  EXPECT_EQ(rs->field("LogID"), Variant(int32_t{7}));
  EXPECT_EQ(rs->field("Amount"), Variant(12.5));
  EXPECT_EQ(rs->field("Done"), Variant(true));
  EXPECT_EQ(rs->field("EntryDate"), Variant(DateTime::fromParts(2024, 3, 5)));
  EXPECT_EQ(rs->field("EntryTime"), Variant(DateTime::fromParts(0, 0, 0, 13, 45, 10)));
  rs->moveNext();
  EXPECT_TRUE(rs->field("Remark").isNull());
  EXPECT_TRUE(rs->field("EntryTime").isNull());
  EXPECT_EQ(rs->field("Done"), Variant(false));
  EXPECT_EQ(rs->fieldCount(), 8);
  EXPECT_EQ(rs->fieldName(3), "EntryDate");
  EXPECT_EQ(rs->field(0), Variant("B2"));
}

TEST_P(FileRecordsets, UndeclaredAndWiderValuesReadAsStored) {
  databases.run("dt", "ALTER TABLE tblQueue ADD COLUMN Other; UPDATE tblQueue SET Other = 'x' WHERE CustID = 'A1';"
                      "UPDATE tblQueue SET Other = 3, TransType = 40000 WHERE CustID = 'B2';");
  RecordsetPtr rs = db->openRecordset("tblQueue", RecordsetType::ForwardOnly);
  EXPECT_EQ(rs->field("Other"), Variant("x"));  // no declared type: as stored
  rs->moveNext();
  EXPECT_EQ(rs->field("Other"), Variant(int16_t{3}));
  // A SMALLINT holding more than 16 bits shows its value, so that the
  // caller's conversion to a 16-bit integer fails.
  EXPECT_EQ(rs->field("TransType"), Variant(int32_t{40000}));
}

TEST_P(TableRecordsets, ForwardOnlyStreamsToItsEnd) {
  RecordsetPtr rs = db->openRecordset("tblQueue", RecordsetType::ForwardOnly);
  std::vector<Variant> ids;
  for (; !rs->eof(); rs->moveNext()) ids.push_back(rs->field("custid"));
  EXPECT_EQ(ids, (std::vector<Variant>{Variant("A1"), Variant("B2")}));
  EXPECT_EQ(errorNumberOf([&] { rs->moveNext(); }), errc::kNoCurrentRecord);
  EXPECT_EQ(errorNumberOf([&] { rs->field("CustID"); }), errc::kNoCurrentRecord);
  EXPECT_EQ(errorNumberOf([&] { rs->addNew(); }), errc::kReadOnly);
  EXPECT_EQ(errorNumberOf([&] { rs->edit(); }), errc::kReadOnly);

  EXPECT_TRUE(db->openRecordset("tblEmpty", RecordsetType::ForwardOnly)->eof());
  EXPECT_TRUE(db->openRecordset("tblEmpty", RecordsetType::Dynaset)->eof());
}

TEST_P(TableRecordsets, DynasetAddsAndEditsRowsInPlace) {
  RecordsetPtr rs = db->openRecordset("tblQueue");
  rs->addNew();
  rs->setField("CustID", "C3");
  rs->setField("TransType", int32_t{9});
  rs->setField("EntryDate", DateTime::fromParts(2024, 4, 1));
  rs->setField("EntryTime", DateTime::fromParts(0, 0, 0, 8, 5, 0));
  rs->setField("Done", true);
  rs->setField("Remark", Variant::null());
  rs->update();
  // The current row is still the one before AddNew.
  EXPECT_EQ(rs->field("CustID"), Variant("A1"));
  rs->edit();
  rs->setField("Remark", "To call back the customer.");
  rs->setField("Amount", "99.25");
  rs->update();
  EXPECT_EQ(rs->field("Amount"), Variant(99.25));
  rs->close();

  EXPECT_EQ(query("SELECT CustID, TransType, Remark, EntryDate, EntryTime, LogID, Amount, Done"
                            " FROM tblQueue ORDER BY CustID"),
            (Rows{{"A1", "2", "To call back the customer.", "2024-03-05", "13:45:10", "7", "99.25", "1"},
                  {"B2", "4", "NULL", "2024-03-06", "NULL", "8", "NULL", "0"},
                  {"C3", "9", "NULL", "2024-04-01", "08:05:00", "0", "NULL", "1"}}));
}

TEST_P(TableRecordsets, EditWritesOnlyTheAssignedFields) {
  RecordsetPtr rs = db->openRecordset("tblQueue");
  rs->edit();
  // Another user changes a field this record set has not assigned.
  databases.run("dt", "UPDATE tblQueue SET LogID = 70 WHERE CustID = 'A1'");
  rs->setField("TransType", int16_t{5});
  if (GetParam() == testing::Backend::PostgreSQL) {
    // A server row changed by another user has a new identity: the edit is
    // refused, never written to nothing.
    EXPECT_EQ(errorNumberOf([&] { rs->update(); }), errc::kDataChanged);
    EXPECT_EQ(query("SELECT TransType, LogID FROM tblQueue WHERE CustID = 'A1'"), (Rows{{"2", "70"}}));
    return;
  }
  rs->update();
  EXPECT_EQ(query("SELECT TransType, LogID FROM tblQueue WHERE CustID = 'A1'"), (Rows{{"5", "70"}}));
}

TEST_P(TableRecordsets, AssignmentsConvertToTheDeclaredType) {
  RecordsetPtr rs = db->openRecordset("tblQueue");
  rs->edit();
  EXPECT_EQ(errorNumberOf([&] { rs->setField("TransType", int32_t{40000}); }), errc::kNumericOverflow);
  EXPECT_EQ(errorNumberOf([&] { rs->setField("LogID", "seven"); }), errc::kConversionError);
  EXPECT_EQ(errorNumberOf([&] { rs->setField("EntryDate", "not a date"); }), errc::kConversionError);
  const std::string beyondDates = errorTextOf([&] { rs->setField("EntryDate", 1e308); });
  EXPECT_NE(beyondDates.find("EntryDate"), std::string::npos) << beyondDates;
  EXPECT_NE(beyondDates.find("1e+308"), std::string::npos) << beyondDates;
  EXPECT_NE(errorTextOf([&] { rs->setField("LogID", "seven"); }).find("LogID"), std::string::npos);
  rs->setField("TransType", 3.5);          // rounds half to even
  rs->setField("LogID", "12");
  rs->setField("Done", int32_t{0});
  rs->setField("EntryDate", "2024-12-31");
  rs->setField("Remark", int32_t{42});
  EXPECT_EQ(rs->field("TransType"), Variant(int16_t{4}));
  rs->update();
  EXPECT_EQ(query("SELECT TransType, LogID, Done, EntryDate, Remark FROM tblQueue WHERE CustID = 'A1'"),
            (Rows{{"4", "12", "0", "2024-12-31", "42"}}));
  if (GetParam() == testing::Backend::SQLite) {
    EXPECT_EQ(query("SELECT typeof(LogID) FROM tblQueue WHERE CustID = 'A1'"), (Rows{{"integer"}}));
  }
}

TEST_P(TableRecordsets, ConstraintsGiveTheEngineNumbers) {
  RecordsetPtr rs = db->openRecordset("tblQueue");
  rs->addNew();
  rs->setField("CustID", "a1");  // unique without regard to case
  EXPECT_EQ(errorNumberOf([&] { rs->update(); }), errc::kDuplicateKey);
  rs->cancelUpdate();

  rs->addNew();
  rs->setField("TransType", int16_t{1});
  EXPECT_EQ(errorNumberOf([&] { rs->update(); }), errc::kRequiredNull);
  EXPECT_NE(errorTextOf([&] { rs->update(); }).find("CustID"), std::string::npos);
  rs->cancelUpdate();
  EXPECT_EQ(query("SELECT count(*) FROM tblQueue"), (Rows{{"2"}}));
}

TEST_P(FileRecordsets, WriteWaitingInVainForAnotherUserIsLocked) {
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open_v2(path().c_str(), &other, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE; DELETE FROM tblEmpty;", nullptr, nullptr, nullptr), SQLITE_OK);
  RecordsetPtr rs = db->openRecordset("tblQueue");
  rs->edit();
  rs->setField("LogID", int32_t{1});
  {
    test_support::FaultEnv instant;  // the ten seconds of waiting pass at once
    EXPECT_EQ(errorNumberOf([&] { rs->update(); }), errc::kCouldNotUpdateLocked);
    EXPECT_NE(errorTextOf([&] { rs->update(); }).find("tblQueue"), std::string::npos);
  }
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  rs->update();  // the pending edit is kept until it can be written
  EXPECT_EQ(query("SELECT LogID FROM tblQueue WHERE CustID = 'A1'"), (Rows{{"1"}}));
}

TEST_P(FileRecordsets, UnmappedSqliteFailureKeepsItsMessage) {
  databases.run("dt", "CREATE TRIGGER tblQueueAdded AFTER INSERT ON tblQueue BEGIN SELECT no_such_fn(); END;");
  RecordsetPtr rs = db->openRecordset("tblQueue");
  rs->addNew();
  rs->setField("CustID", "N1");
  EXPECT_EQ(errorNumberOf([&] { rs->update(); }), errc::kReserved);
  EXPECT_NE(errorTextOf([&] { rs->update(); }).find("no_such_fn"), std::string::npos);
}

TEST_P(TableRecordsets, MisuseGivesTheEngineNumbers) {
  RecordsetPtr rs = db->openRecordset("tblQueue");
  EXPECT_EQ(errorNumberOf([&] { rs->update(); }), errc::kNoCurrentRecordUpdate);
  EXPECT_EQ(errorNumberOf([&] { rs->cancelUpdate(); }), errc::kNoCurrentRecordUpdate);
  EXPECT_EQ(errorNumberOf([&] { rs->setField("Remark", "x"); }), errc::kNoCurrentRecordUpdate);
  EXPECT_EQ(errorNumberOf([&] { rs->field("NoSuchField"); }), errc::kItemNotFound);
  EXPECT_EQ(errorNumberOf([&] { rs->field(9); }), errc::kItemNotFound);
  EXPECT_EQ(errorNumberOf([&] { db->openRecordset("tblNoSuchTable"); }), errc::kNoSuchTable);
  // An action statement is no record set's source, and does not run.
  EXPECT_EQ(errorNumberOf([&] { db->openRecordset("DELETE FROM tblQueue"); }), errc::kInvalidOperation);
  EXPECT_FALSE(db->openRecordset("tblQueue")->eof());
  EXPECT_EQ(errorNumberOf([&] { db->openRecordset("tblQueue", RecordsetType::Dynaset, kReadOnly)->edit(); }),
            errc::kReadOnly);
  rs->close();
  EXPECT_FALSE(rs->isOpen());
  EXPECT_EQ(errorNumberOf([&] { rs->eof(); }), errc::kObjectInvalid);
}

TEST_P(TableRecordsets, CancelUpdateDropsThePendingRow) {
  RecordsetPtr rs = db->openRecordset("tblQueue", RecordsetType::Dynaset, kAppendOnly);
  EXPECT_TRUE(rs->eof());  // append-only shows no rows
  rs->addNew();
  rs->setField("CustID", "Z9");
  rs->cancelUpdate();
  EXPECT_EQ(errorNumberOf([&] { rs->update(); }), errc::kNoCurrentRecordUpdate);
  rs->addNew();
  rs->setField("CustID", "Z8");
  rs->update();
  EXPECT_EQ(query("SELECT CustID FROM tblQueue WHERE CustID LIKE 'Z%'"), (Rows{{"Z8"}}));
}

// A record set dropped in the middle of an edit, with a deny-write lock and
// rows read ahead, leaves nothing of it to the next one opened.
TEST_P(TableRecordsets, NextRecordsetStartsAfresh) {
  {
    RecordsetPtr rs = db->openRecordset("tblQueue", RecordsetType::Dynaset, kDenyWrite);
    rs->edit();
    rs->setField("Remark", "never written");
  }
  RecordsetPtr rs = db->openRecordset("SELECT CustID FROM tblQueue WHERE LogID = 8", RecordsetType::Dynaset,
                                      kDenyWrite);
  EXPECT_EQ(errorNumberOf([&] { rs->update(); }), errc::kNoCurrentRecordUpdate);
  EXPECT_EQ(rs->fieldCount(), 1);
  EXPECT_EQ(rs->field("CustID"), Variant("B2"));
  rs->moveNext();
  EXPECT_TRUE(rs->eof());
  EXPECT_EQ(query("SELECT count(*) FROM tblQueue WHERE Remark = 'never written'"), (Rows{{"0"}}));
}

// A record set writes the texts it reads and assigns into the room of
// earlier ones, of its own rows and of the record sets before it: none of
// their values shows, or is written, in place of another.
TEST_P(TableRecordsets, ValuesOfEarlierRowsAndRecordsetsNeverShow) {
  {
    RecordsetPtr rs = db->openRecordset("tblQueue");
    rs->addNew();
    rs->setField("CustID", "C3");
    rs->setField("Remark", "A remark longer than a short text's room.");
    rs->update();
    rs->addNew();
    EXPECT_TRUE(rs->field("Remark").isNull());
    rs->setField("CustID", "D4");
    rs->update();
    rs->edit();  // A1
    rs->setField("Remark", "Short.");
    EXPECT_EQ(rs->field("CustID"), Variant("A1"));
    rs->update();
    EXPECT_EQ(rs->field("Remark"), Variant("Short."));
    rs->moveNext();
    rs->edit();  // B2
    EXPECT_TRUE(rs->field("Remark").isNull());
    rs->setField("TransType", int16_t{6});
    rs->update();
    EXPECT_TRUE(rs->field("Remark").isNull());
  }
  const Rows expected{{"A1", "Short."}, {"B2", "NULL"}, {"C3", "A remark longer than a short text's room."},
                      {"D4", "NULL"}};
  EXPECT_EQ(query("SELECT CustID, Remark FROM tblQueue ORDER BY CustID"), expected);
  for (const std::string order : {"", " DESC"}) {
    RecordsetPtr rs =
        db->openRecordset("SELECT CustID, Remark FROM tblQueue ORDER BY CustID" + order, RecordsetType::Snapshot);
    Rows read;
    for (; !rs->eof(); rs->moveNext())
      read.push_back({rs->field(0).toString(), rs->field(1).isNull() ? "NULL" : rs->field(1).toString()});
    if (!order.empty()) std::reverse(read.begin(), read.end());
    EXPECT_EQ(read, expected) << order;
  }
}

// A field asked for by name is first looked for where the last record set
// of the same statement found the field it asked for next: another order,
// another spelling or another statement over the same fields still finds
// each field.
TEST_P(TableRecordsets, FieldsByNameWhateverWasAskedBefore) {
  const std::string byCust = "SELECT CustID, LogID, TransType FROM tblQueue WHERE CustID = 'A1'";
  for (int round = 0; round < 2; ++round) {
    RecordsetPtr rs = db->openRecordset(byCust, RecordsetType::Dynaset);
    EXPECT_EQ(rs->field("CustID"), Variant("A1"));
    EXPECT_EQ(rs->field("LogID"), Variant(int32_t{7}));
  }
  RecordsetPtr rs = db->openRecordset(byCust, RecordsetType::Dynaset);
  EXPECT_EQ(rs->field("LOGID"), Variant(int32_t{7}));
  EXPECT_EQ(rs->field("TransType"), Variant(int16_t{2}));
  EXPECT_EQ(errorNumberOf([&] { rs->field("Remark"); }), errc::kItemNotFound);
  RecordsetPtr swapped = db->openRecordset("SELECT LogID, CustID FROM tblQueue WHERE CustID = 'A1'",
                                           RecordsetType::Dynaset);
  EXPECT_EQ(swapped->field("CustID"), Variant("A1"));
  EXPECT_EQ(swapped->field("LogID"), Variant(int32_t{7}));
}

TEST_P(FileRecordsets, NoReadLockOutlivesTheReading) {
  databases.run("dt",
                  "CREATE TABLE tblMany(n INTEGER);"
                  "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 1000)"
                  " INSERT INTO tblMany SELECT n FROM c;");
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open_v2(path().c_str(), &other, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  sqlite3_busy_timeout(other, 0);
  auto otherUserWrites = [&] { return sqlite3_exec(other, "DELETE FROM tblEmpty", nullptr, nullptr, nullptr); };

  // A long result being read holds its read lock until closed.
  RecordsetPtr rs = db->openRecordset("tblMany", RecordsetType::ForwardOnly);
  ASSERT_FALSE(rs->eof());
  EXPECT_EQ(otherUserWrites(), SQLITE_BUSY);
  rs->close();
  EXPECT_EQ(otherUserWrites(), SQLITE_OK);

  // Read to its end it lets go without a close, and rows come in order.
  RecordsetPtr all = db->openRecordset("tblMany", RecordsetType::ForwardOnly);
  int32_t expected = 1;
  for (; !all->eof(); all->moveNext()) ASSERT_EQ(all->field("n"), Variant(expected++));
  EXPECT_EQ(expected, 1001);
  EXPECT_EQ(otherUserWrites(), SQLITE_OK);

  // A short result, held open as a lock table is, never keeps one.
  RecordsetPtr held = db->openRecordset("tblQueue", RecordsetType::Dynaset, kDenyWrite);
  ASSERT_FALSE(held->eof());
  EXPECT_EQ(otherUserWrites(), SQLITE_OK);
  sqlite3_close(other);
}

TEST_P(TableRecordsets, IdleShowsWhatOtherUsersChanged) {
  EXPECT_EQ(db->openRecordset("tblEmpty")->fieldCount(), 1);
  databases.run("dt", "ALTER TABLE tblEmpty ADD COLUMN b INTEGER; INSERT INTO tblEmpty VALUES ('x', 5);");
  Engine::instance().idle(kRefreshCache);
  RecordsetPtr rs = db->openRecordset("tblEmpty");
  ASSERT_EQ(rs->fieldCount(), 2);
  EXPECT_EQ(rs->field("b"), Variant(int32_t{5}));
}

TEST_P(TableRecordsets, ClosingTheDatabaseClosesItsRecordsets) {
  RecordsetPtr rs = db->openRecordset("tblQueue");
  db->close();
  EXPECT_FALSE(rs->isOpen());
  EXPECT_EQ(errorNumberOf([&] { rs->moveNext(); }), errc::kObjectInvalid);
}

TEST_P(TableRecordsets, DenyWriteIsCountedPerDatabase) {
  RecordsetPtr lock = db->openRecordset("tblQueue", RecordsetType::Dynaset, kDenyWrite);
  const std::string text =
      errorTextOf([&] { db->openRecordset("TBLQUEUE", RecordsetType::Dynaset, kDenyWrite); });
  EXPECT_EQ(errorNumberOf([&] { db->openRecordset("TBLQUEUE", RecordsetType::Dynaset, kDenyWrite); }),
            errc::kTableLocked);
  EXPECT_NE(text.find(Engine::instance().userName()), std::string::npos) << text;
  EXPECT_NE(text.find(Engine::instance().machineName()), std::string::npos) << text;
  // A second database object is another user of the lock file.
  DatabasePtr second = Engine::instance().workspace(0).openDatabase(databases.location("dt"));
  EXPECT_EQ(errorNumberOf([&] { second->openRecordset("tblQueue", RecordsetType::Dynaset, kDenyWrite); }),
            errc::kTableLocked);
  // Plain opens are not affected; other tables neither.
  EXPECT_FALSE(second->openRecordset("tblQueue")->eof());
  second->openRecordset("tblEmpty", RecordsetType::Dynaset, kDenyWrite);
  lock.reset();  // destruction gives the table back
  EXPECT_TRUE(second->openRecordset("tblQueue", RecordsetType::Dynaset, kDenyWrite)->isOpen());
}

}  // namespace
}  // namespace oskara::db
