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

using enum FieldKind;

constexpr FieldDef kOptionsFields[] = {
    {"Chk_OverLimit", Boolean, ""},
    {"Chk_NearLimit", Boolean, ""},
    {"Chk_NearLimit_Amt", Double, ""},
    {"Chk_30Days", Boolean, ""},
    {"Chk_60Days", Boolean, ""},
    {"Chk_90Days", Boolean, ""},
    {"Chk_120Days", Boolean, ""},
    {"Chk_FollowUp1", Boolean, ""},
    {"Chk_FollowUp1_x", Short, ""},
    {"Chk_FollowUp1_y", Short, ""},
    {"Chk_FollowUp2", Boolean, ""},
    {"Chk_FollowUp2_x", Short, ""},
    {"Chk_FollowUp3", Boolean, ""},
    {"Chk_FollowUp3Priority", Boolean, ""},
    {"Chk_FollowUp3_x", Text, ""},
    {"Chk_FollowUp3_y", Text, ""},
    {"Chk_CreditHold", Boolean, ""},
    {"Chk_ResetQueue", Boolean, ""},
    {"Chk_FollowUp3BatchExcld", Text, ""},
    {kLastQueueProc, Date, ""},
};

constexpr FieldDef kQueueFields[] = {
    {queue::kQueueID, Long, "PRIMARY KEY"},
    {queue::kCustID, Text, "NOT NULL"},
    {queue::kTransType, Short, ""},
    {queue::kRemark, Text, ""},
    {queue::kEntryDate, Date, ""},
    {queue::kEntryTime, Date, ""},
    {queue::kLogID, Long, "DEFAULT 0"},
};

constexpr FieldDef kCallLogFields[] = {
    {calllog::kLogID, Long, "PRIMARY KEY"},
    {calllog::kCustID, Text, "NOT NULL"},
    {calllog::kSystemRemark, Text, ""},
    {calllog::kToCallBack, Boolean, "NOT NULL DEFAULT 0"},
    {calllog::kLastConversationDate, Date, ""},
    {calllog::kPromisedPayDate, Date, ""},
    {calllog::kPromisedAmt, Double, ""},
    {calllog::kCollector, Text, ""},
};

constexpr FieldDef kLogonFields[] = {
    {"LogonID", Long, "PRIMARY KEY"},
    {"UserName", Text, ""},
    {"LogonTime", Date, ""},
};

constexpr FieldDef kProcLockFields[] = {
    {"LockID", Long, "PRIMARY KEY"},
};

constexpr FieldDef kCustFields[] = {
    {arcust::kCustId, Text, "PRIMARY KEY"},
    {arcust::kCustName, Text, ""},
    {arcust::kCreditHold, Boolean, "NOT NULL DEFAULT 0"},
    {arcust::kCreditLimit, Double, "NOT NULL DEFAULT 0"},
    {arcust::kPhone, Text, ""},
    {arcust::kContact, Text, ""},
};

constexpr FieldDef kCustHistFields[] = {
    {arcusthist::kCustId, Text, "PRIMARY KEY"},
    {arcusthist::kCurAmtDue, Double, "NOT NULL DEFAULT 0"},
    {arcusthist::kBalAge1, Double, "NOT NULL DEFAULT 0"},
    {arcusthist::kBalAge2, Double, "NOT NULL DEFAULT 0"},
    {arcusthist::kBalAge3, Double, "NOT NULL DEFAULT 0"},
    {arcusthist::kBalAge4, Double, "NOT NULL DEFAULT 0"},
    {arcusthist::kUnapplCredit, Double, "NOT NULL DEFAULT 0"},
    {arcusthist::kNewFinch, Double, "NOT NULL DEFAULT 0"},
    {arcusthist::kUnpaidFinch, Double, "NOT NULL DEFAULT 0"},
    {arcusthist::kLastPayDate, Date, ""},
    {arcusthist::kLastPayAmt, Double, ""},
};

constexpr FieldDef kSoHeaderFields[] = {
    {soheader::kOrderNo, Long, "PRIMARY KEY"},
    {soheader::kCustId, Text, "NOT NULL"},
    {soheader::kOrderDate, Date, ""},
    {soheader::kAmount, Double, ""},
};

constexpr TableDef kDtTables[] = {
    {kTblDTOptions, kOptionsFields},   {kTblDTQueue, kQueueFields},          {kTblDtCallLogHeader, kCallLogFields},
    {kTblDTLogon, kLogonFields},       {kTblDtQueueProcLock, kProcLockFields},
};
constexpr TableDef kArTables[] = {{kTblArCust, kCustFields}, {kTblArCustHist, kCustHistFields}};
constexpr TableDef kSoTables[] = {{kTblSoHeader, kSoHeaderFields}};

constexpr IndexDef kDtIndexes[] = {
    {kTblDTQueue, queue::kCustID}, {kTblDTQueue, queue::kLogID}, {kTblDtCallLogHeader, calllog::kCustID}};
constexpr IndexDef kSoIndexes[] = {{kTblSoHeader, soheader::kCustId}};

constexpr std::string_view kLinkedArTables[] = {kTblArCust, kTblArCustHist};

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
  if (kind == DatabaseKind::DT && options.catalogRows) {
    const std::string arName = fileLink(files.dt, files.ar);
    for (std::string_view table : linkedArTables())
      db.insert(kSysLinks, {{"name", table}, {"database", arName}, {"source_table", table}});
    db.insert(kSysQueries, {{"name", kQryDtFollowUp2b}, {"sql", followUp2bSql()}});
  }
  if (kind == DatabaseKind::DT && options.optionsRecord) db.insert(kTblDTOptions, optionsRecord(newFileOptions()));
  db.exec("COMMIT;");
}

}  // namespace

DatabaseFiles databaseFilesIn(const std::filesystem::path& dir) {
  return {dir / "dt.db", dir / "ar.db", dir / "so.db"};
}

std::string fileLink(const std::filesystem::path& dt, const std::filesystem::path& target) {
  const std::filesystem::path folder = std::filesystem::absolute(dt).parent_path();
  const std::filesystem::path relative = std::filesystem::absolute(target).lexically_normal().lexically_relative(folder);
  return relative.empty() ? std::filesystem::absolute(target).string() : relative.string();
}

std::span<const TableDef> tableDefs(DatabaseKind kind) {
  switch (kind) {
    case DatabaseKind::DT: return kDtTables;
    case DatabaseKind::AR: return kArTables;
    case DatabaseKind::SO: return kSoTables;
  }
  return {};
}

std::string_view sqliteType(FieldKind kind) {
  switch (kind) {
    case Text: return "TEXT COLLATE NOCASE";
    case Short: return "SMALLINT";
    case Long: return "INTEGER";
    case Double: return "DOUBLE";
    case Boolean: return "BOOLEAN";
    case Date: return "DATETIME";
  }
  return {};
}

// The declared type gives a field SQLite's numeric or text affinity, so a
// number written as text arrives as a number and the type tests see it so.
// A date is one of three texts, each in its range: SQLite's date functions
// normalise a day beyond its month ("+0 days"), so the text must come back
// unchanged. Each function writes texts of one length only (10, 19 and 8
// characters), so the text's length picks the one function that could give
// it back: one call per date written instead of up to three.
std::string sqliteFieldCheck(std::string_view field, FieldKind kind) {
  const std::string f(field);
  const std::string isNull = f + " IS NULL OR ";
  switch (kind) {
    case Text: return isNull + "typeof(" + f + ") = 'text'";
    case Short: return isNull + "(typeof(" + f + ") = 'integer' AND " + f + " BETWEEN -32768 AND 32767)";
    case Long: return isNull + "(typeof(" + f + ") = 'integer' AND " + f + " BETWEEN -2147483648 AND 2147483647)";
    case Double: return isNull + "typeof(" + f + ") IN ('integer', 'real')";
    case Boolean: return isNull + "typeof(" + f + ") = 'integer'";
    case Date:
      return isNull + "(typeof(" + f + ") = 'text' AND CASE length(" + f + ") WHEN 10 THEN date(" + f +
             ", '+0 days') WHEN 19 THEN datetime(" + f + ", '+0 days') WHEN 8 THEN time(" + f + ", '+0 days') END IS " +
             f + ")";
  }
  return {};
}

std::string tablesDdl(DatabaseKind kind) {
  std::string ddl;
  for (const TableDef& table : tableDefs(kind)) {
    ddl += "CREATE TABLE " + std::string(table.name) + " (\n";
    for (size_t i = 0; i < table.fields.size(); ++i) {
      const FieldDef& field = table.fields[i];
      ddl += "  " + std::string(field.name) + ' ' + std::string(sqliteType(field.kind));
      if (!field.constraints.empty()) ddl += ' ' + std::string(field.constraints);
      ddl += " CHECK (" + sqliteFieldCheck(field.name, field.kind) + ')';
      ddl += i + 1 < table.fields.size() ? ",\n" : "\n";
    }
    ddl += ");\n";
  }
  return ddl;
}

std::span<const IndexDef> indexDefs(DatabaseKind kind) {
  switch (kind) {
    case DatabaseKind::DT: return kDtIndexes;
    case DatabaseKind::AR: return {};  // both tables are keyed by CustId
    case DatabaseKind::SO: return kSoIndexes;
  }
  return {};
}

std::string indexesDdl(DatabaseKind kind) {
  std::string ddl;
  for (const IndexDef& index : indexDefs(kind)) {
    ddl += "CREATE INDEX " + index.name() + " ON " + std::string(index.table) + " (" + std::string(index.field) +
           ");\n";
  }
  return ddl;
}

std::span<const std::string_view> linkedArTables() { return kLinkedArTables; }

std::string_view followUp2bSql() { return kFollowUp2bSql; }

DatabaseFiles createDatabaseFiles(const std::filesystem::path& dir, const CreateOptions& options) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec)
    throw Error(errc::kInvalidPath,
                "Cannot create the folder " + quoted(dir) + " for the database files: " + ec.message() + ".");
  const DatabaseFiles files = databaseFilesIn(dir);
  createDatabaseFiles(files, options);
  return files;
}

void createDatabaseFiles(const DatabaseFiles& files, const CreateOptions& options) {
  const std::pair<const std::filesystem::path*, DatabaseKind> plan[] = {
      {&files.dt, DatabaseKind::DT}, {&files.ar, DatabaseKind::AR}, {&files.so, DatabaseKind::SO}};

  // Refuse before touching anything, so that a refusal leaves the folder as it was.
  std::error_code ec;
  for (const auto& [path, kind] : plan) {
    if (!path->empty() && std::filesystem::exists(*path, ec))
      throw Error(kErrDatabaseExists, "Cannot create database " + quoted(*path) +
                                          ": the file already exists and is left as it is.");
  }

  std::vector<std::filesystem::path> made;
  try {
    for (const auto& [path, kind] : plan) {
      if (path->empty()) continue;
      claimNewFile(*path);
      made.push_back(*path);
      createOne(*path, kind, files, options);
    }
  } catch (...) {
    removeDatabaseFiles(made);
    throw;
  }
}

void removeDatabaseFiles(const std::vector<std::filesystem::path>& files) {
  std::error_code ec;
  for (const auto& path : files) {
    std::filesystem::remove(path, ec);
    std::filesystem::remove(path.string() + "-journal", ec);
  }
}

}  // namespace oskara::contract
