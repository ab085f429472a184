#include "dbengine/schema.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "core/error.h"
#include "dbengine/errors.h"

namespace oskara::db::schema {
namespace {

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

Error statementFailed(sqlite3* db, std::string_view sql, const std::filesystem::path& file) {
  return Error(errc::kReserved, "SQLite refused a statement on " + quoted(file) + ": " +
                                    sqlite3_errmsg(db) + " (in: " + std::string(sql) + ")");
}

// Statement handle that finalizes itself.
class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql, const std::filesystem::path& file) {
    if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK)
      throw statementFailed(db, sql, file);
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

void bindVariant(sqlite3_stmt* stmt, int index, const Variant& value) {
  switch (value.type()) {
    case VarType::Empty:
    case VarType::Null: sqlite3_bind_null(stmt, index); break;
    case VarType::Boolean: sqlite3_bind_int(stmt, index, *value.get<bool>() ? 1 : 0); break;
    case VarType::Integer:
    case VarType::Long: sqlite3_bind_int64(stmt, index, value.toInt32()); break;
    case VarType::Double: sqlite3_bind_double(stmt, index, *value.get<double>()); break;
    case VarType::Date: {
      const std::string iso = value.get<DateTime>()->toIso();
      sqlite3_bind_text(stmt, index, iso.data(), static_cast<int>(iso.size()), SQLITE_TRANSIENT);
      break;
    }
    default: {
      const std::string text = value.toString();
      sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
  }
}

Variant columnValue(sqlite3_stmt* stmt, int column) {
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER: return Variant::fromInt64(sqlite3_column_int64(stmt, column));
    case SQLITE_FLOAT: return Variant(sqlite3_column_double(stmt, column));
    case SQLITE_NULL: return Variant::null();
    default: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
      return Variant(std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt, column))));
    }
  }
}

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
  SqliteFile db(path);
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
    if (options.optionsRecord) {
      std::string columns, placeholders;
      const auto fields = defaultOptions();
      for (const auto& [name, value] : fields) {
        columns += (columns.empty() ? "" : ", ") + std::string(name);
        placeholders += placeholders.empty() ? "?" : ", ?";
      }
      Statement insert(db.handle(),
                       "INSERT INTO tblDTOptions (" + columns + ") VALUES (" + placeholders + ")", path);
      for (size_t i = 0; i < fields.size(); ++i)
        bindVariant(insert.get(), static_cast<int>(i) + 1, fields[i].second);
      if (sqlite3_step(insert.get()) != SQLITE_DONE)
        throw statementFailed(db.handle(), "INSERT INTO tblDTOptions", path);
    }
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

std::vector<std::pair<std::string_view, Variant>> defaultOptions() {
  using namespace options;
  return {
      {kChk_OverLimit, true},
      {kChk_NearLimit, true},
      {kChk_NearLimit_Amt, 500.0},
      {kChk_30Days, true},
      {kChk_60Days, true},
      {kChk_90Days, true},
      {kChk_120Days, true},
      {kChk_FollowUp1, true},
      {kChk_FollowUp1_x, int16_t{30}},
      {kChk_FollowUp1_y, int16_t{0}},
      {kChk_FollowUp2, true},
      {kChk_FollowUp2_x, int16_t{7}},
      {kChk_FollowUp3, true},
      {kChk_FollowUp3Priority, true},
      {kChk_FollowUp3_x, ""},
      {kChk_FollowUp3_y, ""},
      {kChk_CreditHold, true},
      {kChk_ResetQueue, true},
      {kChk_FollowUp3BatchExcld, ""},
      {kLastQueueProc, Variant::null()},
  };
}

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

// --- SqliteFile ------------------------------------------------------------

SqliteFile::SqliteFile(const std::filesystem::path& file) : path_(file) {
  // No SQLITE_OPEN_CREATE: a missing file is an error, never a new database.
  const int rc = sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
  if (rc != SQLITE_OK) {
    const std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    throw Error(errc::kCannotOpenFile, "Cannot open database file " + quoted(file) + ": " + reason + ".");
  }
  sqlite3_busy_timeout(db_, 5000);
}

SqliteFile::~SqliteFile() { sqlite3_close(db_); }

void SqliteFile::exec(std::string_view sql) {
  char* message = nullptr;
  const std::string text(sql);
  if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string reason = message ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    throw Error(errc::kReserved, "SQLite refused a statement on " + quoted(path_) + ": " + reason +
                                     " (in: " + text + ")");
  }
}

int64_t SqliteFile::exec(std::string_view sql, std::initializer_list<Variant> params) {
  Statement stmt(db_, sql, path_);
  int index = 1;
  for (const Variant& value : params) bindVariant(stmt.get(), index++, value);
  int rc;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) throw statementFailed(db_, sql, path_);
  return sqlite3_changes64(db_);
}

int64_t SqliteFile::insert(std::string_view table,
                           std::initializer_list<std::pair<std::string_view, Variant>> fields) {
  std::string columns, placeholders;
  for (const auto& field : fields) {
    columns += (columns.empty() ? "\"" : ", \"") + std::string(field.first) + "\"";
    placeholders += placeholders.empty() ? "?" : ", ?";
  }
  const std::string sql =
      "INSERT INTO \"" + std::string(table) + "\" (" + columns + ") VALUES (" + placeholders + ")";
  Statement stmt(db_, sql, path_);
  int index = 1;
  for (const auto& field : fields) bindVariant(stmt.get(), index++, field.second);
  if (sqlite3_step(stmt.get()) != SQLITE_DONE) throw statementFailed(db_, sql, path_);
  return sqlite3_last_insert_rowid(db_);
}

std::vector<std::vector<Variant>> SqliteFile::query(std::string_view sql,
                                                    std::initializer_list<Variant> params) {
  Statement stmt(db_, sql, path_);
  int index = 1;
  for (const Variant& value : params) bindVariant(stmt.get(), index++, value);
  std::vector<std::vector<Variant>> rows;
  const int columns = sqlite3_column_count(stmt.get());
  int rc;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    std::vector<Variant>& row = rows.emplace_back();
    row.reserve(static_cast<size_t>(columns));
    for (int c = 0; c < columns; ++c) row.push_back(columnValue(stmt.get(), c));
  }
  if (rc != SQLITE_DONE) throw statementFailed(db_, sql, path_);
  return rows;
}

}  // namespace oskara::db::schema
