#include "contract/schema.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "contract/options.h"
#include "contract/tables.h"
#include "core/error.h"
#include "dbengine/errors.h"
#include "directdb/sqlite_file.h"

namespace oskara::contract {
namespace {

namespace errc = db::errc;

// The engine's catalog tables (docs/database-files.md).
constexpr std::string_view kSysLinks = "sys_links";
constexpr std::string_view kSysQueries = "sys_queries";

constexpr std::string_view kCatalogDdl = R"sql(
CREATE TABLE sys_links (
  name TEXT PRIMARY KEY COLLATE NOCASE,
  database TEXT NOT NULL,
  source_table TEXT NOT NULL
);
CREATE TABLE sys_queries (
  name TEXT PRIMARY KEY COLLATE NOCASE,
  sql TEXT NOT NULL
);
)sql";

constexpr std::string_view kDtTablesDdl = R"sql(
CREATE TABLE tblDTOptions (
  Chk_OverLimit BOOLEAN,
  Chk_NearLimit BOOLEAN,
  Chk_NearLimit_Amt DOUBLE,
  Chk_30Days BOOLEAN,
  Chk_60Days BOOLEAN,
  Chk_90Days BOOLEAN,
  Chk_120Days BOOLEAN,
  Chk_FollowUp1 BOOLEAN,
  Chk_FollowUp1_x SMALLINT,
  Chk_FollowUp1_y SMALLINT,
  Chk_FollowUp2 BOOLEAN,
  Chk_FollowUp2_x SMALLINT,
  Chk_FollowUp3 BOOLEAN,
  Chk_FollowUp3Priority BOOLEAN,
  Chk_FollowUp3_x TEXT COLLATE NOCASE,
  Chk_FollowUp3_y TEXT COLLATE NOCASE,
  Chk_CreditHold BOOLEAN,
  Chk_ResetQueue BOOLEAN,
  Chk_FollowUp3BatchExcld TEXT COLLATE NOCASE,
  LastQueueProc DATETIME
);
CREATE TABLE tblDTQueue (
  QueueID INTEGER PRIMARY KEY,
  CustID TEXT COLLATE NOCASE NOT NULL,
  TransType SMALLINT,
  Remark TEXT COLLATE NOCASE,
  EntryDate DATETIME,
  EntryTime DATETIME,
  LogID INTEGER DEFAULT 0
);
CREATE TABLE tblDtCallLogHeader (
  LogID INTEGER PRIMARY KEY,
  CustID TEXT COLLATE NOCASE NOT NULL,
  SystemRemark TEXT COLLATE NOCASE,
  ToCallBack BOOLEAN NOT NULL DEFAULT 0,
  LastConversationDate DATETIME,
  PromisedPayDate DATETIME,
  PromisedAmt DOUBLE,
  Collector TEXT COLLATE NOCASE
);
CREATE TABLE tblDTLogon (
  LogonID INTEGER PRIMARY KEY,
  UserName TEXT COLLATE NOCASE,
  LogonTime DATETIME
);
CREATE TABLE tblDtQueueProcLock (
  LockID INTEGER PRIMARY KEY
);
)sql";

constexpr std::string_view kDtIndexesDdl = R"sql(
CREATE INDEX idx_tblDTQueue_CustID ON tblDTQueue (CustID);
CREATE INDEX idx_tblDTQueue_LogID ON tblDTQueue (LogID);
CREATE INDEX idx_tblDtCallLogHeader_CustID ON tblDtCallLogHeader (CustID);
)sql";

constexpr std::string_view kArTablesDdl = R"sql(
CREATE TABLE tblArCust (
  CustId TEXT COLLATE NOCASE PRIMARY KEY,
  CustName TEXT COLLATE NOCASE,
  CreditHold BOOLEAN NOT NULL DEFAULT 0,
  CreditLimit DOUBLE NOT NULL DEFAULT 0,
  Phone TEXT COLLATE NOCASE,
  Contact TEXT COLLATE NOCASE
);
CREATE TABLE tblArCustHist (
  CustId TEXT COLLATE NOCASE PRIMARY KEY,
  CurAmtDue DOUBLE NOT NULL DEFAULT 0,
  BalAge1 DOUBLE NOT NULL DEFAULT 0,
  BalAge2 DOUBLE NOT NULL DEFAULT 0,
  BalAge3 DOUBLE NOT NULL DEFAULT 0,
  BalAge4 DOUBLE NOT NULL DEFAULT 0,
  UnapplCredit DOUBLE NOT NULL DEFAULT 0,
  NewFinch DOUBLE NOT NULL DEFAULT 0,
  UnpaidFinch DOUBLE NOT NULL DEFAULT 0,
  LastPayDate DATETIME,
  LastPayAmt DOUBLE
);
)sql";

constexpr std::string_view kSoTablesDdl = R"sql(
CREATE TABLE tblSoHeader (
  OrderNo INTEGER PRIMARY KEY,
  CustId TEXT COLLATE NOCASE NOT NULL,
  OrderDate DATETIME,
  Amount DOUBLE
);
)sql";

constexpr std::string_view kSoIndexesDdl = R"sql(
CREATE INDEX idx_tblSoHeader_CustId ON tblSoHeader (CustId);
)sql";

// Customers who promised a payment by a date now past, have paid nothing
// since the call, and were last called at least the given number of days ago.
constexpr std::string_view kFollowUp2bSql =
    "PARAMETERS Chk_FollowUp2_x Short; "
    "SELECT DISTINCTROW tblDtCallLogHeader.CustID AS CustId, tblDtCallLogHeader.LogID "
    "FROM tblDtCallLogHeader INNER JOIN tblArCustHist ON "
    "tblDtCallLogHeader.CustID = tblArCustHist.CustId "
    "WHERE (([CurAmtDue]+[BalAge1]+[BalAge2]+[BalAge3]+[BalAge4]-[UnapplCredit]+[UnpaidFinch])>0) "
    "AND (tblDtCallLogHeader.PromisedPayDate Is Not Null) "
    "AND (tblDtCallLogHeader.PromisedPayDate<Date()) "
    "AND ((tblArCustHist.LastPayDate Is Null) OR "
    "(tblArCustHist.LastPayDate<tblDtCallLogHeader.LastConversationDate)) "
    "AND (DateDiff(\"d\",tblDtCallLogHeader.LastConversationDate,Date())>=[Chk_FollowUp2_x]);";

std::string quoted(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

// Makes `path` as a new empty file; an existing file is refused. SQLite
// takes a zero-length file as an empty database, so this claims the name
// without a window in which another process could create it too.
void claimNewFile(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd >= 0) {
    ::close(fd);
    return;
  }
  if (errno == EEXIST)
    throw Error(kErrDatabaseExists, "Cannot create database " + quoted(path) +
                                        ": the file already exists and is left as it is.");
  throw Error(errc::kInvalidPath,
              "Cannot create database " + quoted(path) + ": " + std::strerror(errno) + ".");
}

void createOne(const std::filesystem::path& path, DatabaseKind kind, const DatabaseFiles& files,
               const CreateOptions& options) {
  directdb::SqliteFile db(path);
  db.exec("PRAGMA journal_mode=DELETE; BEGIN;");
  db.exec(kCatalogDdl);
  db.exec(tablesDdl(kind));
  if (options.indexes) db.exec(indexesDdl(kind));
  if (kind == DatabaseKind::DT) {
    // Links are stored relative to the DT file so the three files can move together.
    const std::string arName = files.ar.filename().string();
    for (std::string_view table : {kTblArCust, kTblArCustHist})
      db.insert(kSysLinks, {{"name", table}, {"database", arName}, {"source_table", table}});
    db.insert(kSysQueries, {{"name", kQryDtFollowUp2b}, {"sql", followUp2bSql()}});
    if (options.optionsRecord) db.insert(kTblDTOptions, optionsRecord(newFileOptions()));
  }
  db.exec("COMMIT;");
}

}  // namespace

DatabaseFiles databaseFilesIn(const std::filesystem::path& dir) {
  return {dir / "dt.db", dir / "ar.db", dir / "so.db"};
}

std::string_view tablesDdl(DatabaseKind kind) {
  switch (kind) {
    case DatabaseKind::DT: return kDtTablesDdl;
    case DatabaseKind::AR: return kArTablesDdl;
    case DatabaseKind::SO: return kSoTablesDdl;
  }
  return {};
}

std::string_view indexesDdl(DatabaseKind kind) {
  switch (kind) {
    case DatabaseKind::DT: return kDtIndexesDdl;
    case DatabaseKind::AR: return {};  // both tables are keyed by CustId
    case DatabaseKind::SO: return kSoIndexesDdl;
  }
  return {};
}

std::string_view followUp2bSql() { return kFollowUp2bSql; }

DatabaseFiles createDatabaseFiles(const std::filesystem::path& dir, const CreateOptions& options) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec)
    throw Error(errc::kInvalidPath,
                "Cannot create the folder " + quoted(dir) + " for the database files: " + ec.message() + ".");

  const DatabaseFiles files = databaseFilesIn(dir);
  const std::pair<const std::filesystem::path*, DatabaseKind> plan[] = {
      {&files.dt, DatabaseKind::DT}, {&files.ar, DatabaseKind::AR}, {&files.so, DatabaseKind::SO}};

  // Refuse before touching anything, so that a refusal leaves the folder as it was.
  for (const auto& [path, kind] : plan) {
    if (std::filesystem::exists(*path, ec))
      throw Error(kErrDatabaseExists, "Cannot create database " + quoted(*path) +
                                          ": the file already exists and is left as it is.");
  }

  std::vector<std::filesystem::path> made;
  try {
    for (const auto& [path, kind] : plan) {
      claimNewFile(*path);
      made.push_back(*path);
      createOne(*path, kind, files, options);
    }
  } catch (...) {
    for (const auto& path : made) {
      std::filesystem::remove(path, ec);
      std::filesystem::remove(path.string() + "-journal", ec);
    }
    throw;
  }
  return files;
}

}  // namespace oskara::contract
