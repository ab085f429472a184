// The layout of the system's three database files: the names of every table,
// field and stored query the servers use, the statements that create the
// files, and a small direct SQLite connection for filling them outside the
// engine (the administration tool and test fixtures). The conventions behind
// the declared types are described in docs/database-files.md.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/variant.h"

struct sqlite3;

namespace oskara::db::schema {

// Tables, stored query and catalog tables.
inline constexpr std::string_view kTblDTOptions = "tblDTOptions";
inline constexpr std::string_view kTblDTQueue = "tblDTQueue";
inline constexpr std::string_view kTblDtCallLogHeader = "tblDtCallLogHeader";
inline constexpr std::string_view kTblDTLogon = "tblDTLogon";
inline constexpr std::string_view kTblDtQueueProcLock = "tblDtQueueProcLock";
inline constexpr std::string_view kTblArCust = "tblArCust";
inline constexpr std::string_view kTblArCustHist = "tblArCustHist";
inline constexpr std::string_view kTblSoHeader = "tblSoHeader";
inline constexpr std::string_view kQryDtFollowUp2b = "qryDtFollowUp2b";
inline constexpr std::string_view kSysLinks = "sys_links";
inline constexpr std::string_view kSysQueries = "sys_queries";

// tblDTOptions: the scan options, one record.
namespace options {
inline constexpr std::string_view kChk_OverLimit = "Chk_OverLimit";
inline constexpr std::string_view kChk_NearLimit = "Chk_NearLimit";
inline constexpr std::string_view kChk_NearLimit_Amt = "Chk_NearLimit_Amt";
inline constexpr std::string_view kChk_30Days = "Chk_30Days";
inline constexpr std::string_view kChk_60Days = "Chk_60Days";
inline constexpr std::string_view kChk_90Days = "Chk_90Days";
inline constexpr std::string_view kChk_120Days = "Chk_120Days";
inline constexpr std::string_view kChk_FollowUp1 = "Chk_FollowUp1";
inline constexpr std::string_view kChk_FollowUp1_x = "Chk_FollowUp1_x";
inline constexpr std::string_view kChk_FollowUp1_y = "Chk_FollowUp1_y";
inline constexpr std::string_view kChk_FollowUp2 = "Chk_FollowUp2";
inline constexpr std::string_view kChk_FollowUp2_x = "Chk_FollowUp2_x";
inline constexpr std::string_view kChk_FollowUp3 = "Chk_FollowUp3";
inline constexpr std::string_view kChk_FollowUp3Priority = "Chk_FollowUp3Priority";
inline constexpr std::string_view kChk_FollowUp3_x = "Chk_FollowUp3_x";
inline constexpr std::string_view kChk_FollowUp3_y = "Chk_FollowUp3_y";
inline constexpr std::string_view kChk_CreditHold = "Chk_CreditHold";
inline constexpr std::string_view kChk_ResetQueue = "Chk_ResetQueue";
inline constexpr std::string_view kChk_FollowUp3BatchExcld = "Chk_FollowUp3BatchExcld";
inline constexpr std::string_view kLastQueueProc = "LastQueueProc";

// The nineteen option fields in the order the engine reads them.
inline constexpr std::array<std::string_view, 19> kLoadOrder = {
    kChk_OverLimit,   kChk_NearLimit,        kChk_NearLimit_Amt, kChk_30Days,
    kChk_60Days,      kChk_90Days,           kChk_120Days,       kChk_FollowUp1,
    kChk_FollowUp1_x, kChk_FollowUp1_y,      kChk_FollowUp2,     kChk_FollowUp2_x,
    kChk_FollowUp3,   kChk_FollowUp3Priority, kChk_FollowUp3_x,  kChk_FollowUp3_y,
    kChk_CreditHold,  kChk_ResetQueue,       kChk_FollowUp3BatchExcld};
}  // namespace options

// tblDTQueue: the collection queue.
namespace queue {
inline constexpr std::string_view kQueueID = "QueueID";
inline constexpr std::string_view kCustID = "CustID";
inline constexpr std::string_view kTransType = "TransType";
inline constexpr std::string_view kRemark = "Remark";
inline constexpr std::string_view kEntryDate = "EntryDate";
inline constexpr std::string_view kEntryTime = "EntryTime";
inline constexpr std::string_view kLogID = "LogID";
}  // namespace queue

// tblDtCallLogHeader: the call-log headers.
namespace calllog {
inline constexpr std::string_view kLogID = "LogID";
inline constexpr std::string_view kCustID = "CustID";
inline constexpr std::string_view kSystemRemark = "SystemRemark";
inline constexpr std::string_view kToCallBack = "ToCallBack";
inline constexpr std::string_view kLastConversationDate = "LastConversationDate";
inline constexpr std::string_view kPromisedPayDate = "PromisedPayDate";
inline constexpr std::string_view kPromisedAmt = "PromisedAmt";
inline constexpr std::string_view kCollector = "Collector";
}  // namespace calllog

// tblArCust: customers (AR).
namespace arcust {
inline constexpr std::string_view kCustId = "CustId";
inline constexpr std::string_view kCustName = "CustName";
inline constexpr std::string_view kCreditHold = "CreditHold";
inline constexpr std::string_view kCreditLimit = "CreditLimit";
inline constexpr std::string_view kPhone = "Phone";
inline constexpr std::string_view kContact = "Contact";
}  // namespace arcust

// tblArCustHist: aged balances (AR).
namespace arcusthist {
inline constexpr std::string_view kCustId = "CustId";
inline constexpr std::string_view kCurAmtDue = "CurAmtDue";
inline constexpr std::string_view kBalAge1 = "BalAge1";
inline constexpr std::string_view kBalAge2 = "BalAge2";
inline constexpr std::string_view kBalAge3 = "BalAge3";
inline constexpr std::string_view kBalAge4 = "BalAge4";
inline constexpr std::string_view kUnapplCredit = "UnapplCredit";
inline constexpr std::string_view kNewFinch = "NewFinch";
inline constexpr std::string_view kUnpaidFinch = "UnpaidFinch";
inline constexpr std::string_view kLastPayDate = "LastPayDate";
inline constexpr std::string_view kLastPayAmt = "LastPayAmt";
}  // namespace arcusthist

// tblSoHeader: sales orders (SO).
namespace soheader {
inline constexpr std::string_view kOrderNo = "OrderNo";
inline constexpr std::string_view kCustId = "CustId";
inline constexpr std::string_view kOrderDate = "OrderDate";
inline constexpr std::string_view kAmount = "Amount";
}  // namespace soheader

// Refusal to create a database over an existing file.
inline constexpr int32_t kErrDatabaseExists = 3204;

enum class DatabaseKind { DT, AR, SO };

struct DatabaseFiles {
  std::filesystem::path dt;  // debt tracking: options, queue, call log; links to AR
  std::filesystem::path ar;  // accounts receivable: customers and aged balances
  std::filesystem::path so;  // sales orders
};

// The file names the tool uses in a folder: dt.db, ar.db, so.db.
DatabaseFiles databaseFilesIn(const std::filesystem::path& dir);

// SQLite statements creating the tables of one file (catalog tables
// included), without indexes; several statements separated by ';'.
std::string_view tablesDdl(DatabaseKind kind);
// The non-unique indexes of one file. Separate so that a bulk load can
// build them after the rows are in.
std::string_view indexesDdl(DatabaseKind kind);

// The dialect text of the stored query qryDtFollowUp2b.
std::string_view followUp2bSql();

struct CreateOptions {
  bool indexes = true;        // false: the caller runs indexesDdl() after loading
  bool optionsRecord = true;  // false: tblDTOptions starts empty
};

// Creates dt.db, ar.db and so.db in `dir` (made when missing): the tables,
// the AR links and the stored query in DT, and the options record with every
// rule on. Refuses with kErrDatabaseExists, creating nothing, when any of
// the three files exists; a failure part-way removes what it made.
DatabaseFiles createDatabaseFiles(const std::filesystem::path& dir, const CreateOptions& options = {});

// The options record of a new DT file, field by field (LastQueueProc Null).
std::vector<std::pair<std::string_view, Variant>> defaultOptions();

// A direct SQLite connection to one existing database file, bypassing the
// engine: plain SQLite SQL, no dialect, no links. Values bind by the file
// conventions: booleans as 0/1, dates as ISO text, Null and Empty as NULL.
// Failures throw oskara::Error (3051 opening, 3000 for a statement) with the
// file or the statement in the text.
class SqliteFile {
 public:
  explicit SqliteFile(const std::filesystem::path& file);
  ~SqliteFile();
  SqliteFile(const SqliteFile&) = delete;
  SqliteFile& operator=(const SqliteFile&) = delete;

  // Runs one or more statements that return no rows.
  void exec(std::string_view sql);
  // Runs one statement with ?1, ?2, ... bound to `params`; returns rows changed.
  int64_t exec(std::string_view sql, std::initializer_list<Variant> params);
  // INSERT of one row; returns its rowid.
  int64_t insert(std::string_view table,
                 std::initializer_list<std::pair<std::string_view, Variant>> fields);
  // All rows of a query: INTEGER as the narrowest whole-number Variant,
  // REAL as Double, TEXT as String, NULL as Null.
  std::vector<std::vector<Variant>> query(std::string_view sql,
                                          std::initializer_list<Variant> params = {});

  sqlite3* handle() { return db_; }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  sqlite3* db_ = nullptr;  // owned; closed by the destructor
};

}  // namespace oskara::db::schema
