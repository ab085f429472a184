#include "database_check.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "contract/schema.h"
#include "directdb/sqlite_file.h"

namespace oskara::tool {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> lines(const std::vector<CheckFinding>& findings) {
  std::vector<std::string> out;
  for (const CheckFinding& f : findings)
    out.push_back(f.file.filename().string() + ": " + f.where + ": " + f.problem);
  return out;
}

TEST(DatabaseCheck, ListsEveryBadRowLinkAndTableOfAnotherProgram) {
  const fs::path dir = fs::temp_directory_path() / ("oskara-check-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  const contract::DatabaseFiles files = contract::createDatabaseFiles(dir);
  EXPECT_TRUE(checkDatabases(files.dt, files.ar, files.so).problems.empty());
  {
    directdb::SqliteFile dt(files.dt), ar(files.ar), so(files.so);
    dt.exec("PRAGMA ignore_check_constraints = ON");
    ar.exec("PRAGMA ignore_check_constraints = ON");
    dt.exec("UPDATE tblDTOptions SET Chk_FollowUp1_x = 40000");
    dt.exec("INSERT INTO tblDtCallLogHeader (LogID, CustID, LastConversationDate) VALUES (17, 'C1', 'yesterday'),"
            " (18, 'C2', '2026-03-15'), (19, 'C3', '')");
    ar.exec("INSERT INTO tblArCustHist (CustId, LastPayDate, BalAge1) VALUES ('C1', '2026-02-30', 'lots')");
    dt.exec("UPDATE sys_links SET database = 'elsewhere.db' WHERE name = 'tblArCust'");
    dt.exec("UPDATE sys_queries SET sql = 'SELECT CustID FROM tblDtCallLogHeader'");
    // A table as an older tool made it: no constraints, a date field declared otherwise.
    so.exec("DROP TABLE tblSoHeader; CREATE TABLE tblSoHeader (OrderNo INTEGER PRIMARY KEY, CustId TEXT,"
            " OrderDate TEXT, Amount DOUBLE); INSERT INTO tblSoHeader VALUES (1, 'C1', 'soon', 'x')");
  }
  const CheckReport report = checkDatabases(files.dt, files.ar, files.so);
  const std::string notDate = " is not a date (YYYY-MM-DD, YYYY-MM-DD HH:MM:SS or HH:MM:SS)";
  std::vector<std::string> found = lines(report.problems);
  ASSERT_EQ(found.size(), 12u) << ::testing::PrintToString(found);
  EXPECT_EQ(std::vector<std::string>(found.begin(), found.begin() + 7),
            (std::vector<std::string>{
                "dt.db: tblDTOptions.Chk_FollowUp1_x, rowid = 1: 40000 is not a whole number from -32768 to 32767",
                "dt.db: tblDtCallLogHeader.LastConversationDate, LogID = 17: \"yesterday\"" + notDate,
                "dt.db: tblDtCallLogHeader.LastConversationDate, LogID = 19: \"\"" + notDate,
                "ar.db: tblArCustHist.BalAge1, CustId = \"C1\": \"lots\" is not a number",
                "ar.db: tblArCustHist.LastPayDate, CustId = \"C1\": \"2026-02-30\"" + notDate,
                "so.db: tblSoHeader.OrderDate: declared TEXT, where the files declare DATETIME",
                "so.db: tblSoHeader.Amount, OrderNo = 1: \"x\" is not a number",
            }));
  // What a queue update would meet first: the option, the link elsewhere, the stored query.
  const std::vector<std::string> rest(found.begin() + 7, found.end());
  const std::vector<std::string> pieces{"Chk_FollowUp1_x", "elsewhere.db", "elsewhere.db",
                                        "qryDtFollowUp2b: the stored query has no parameter Chk_FollowUp2_x",
                                        "LogID"};
  for (size_t i = 0; i < pieces.size(); ++i) EXPECT_NE(rest[i].find(pieces[i]), std::string::npos) << rest[i];
  EXPECT_EQ(lines(report.notes),
            (std::vector<std::string>{"so.db: tblSoHeader: made without the constraints that keep wrong values out"}));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace oskara::tool
