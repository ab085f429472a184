#include "new_databases.h"

#include <sqlite3.h>

#include <array>
#include <charconv>
#include <utility>

#include "contract/server_schema.h"
#include "core/error.h"
#include "dbengine/errors.h"
#include "dbengine/locations.h"
#include "directdb/server_database.h"
#include "directdb/sqlite_file.h"

namespace oskara::tool {
namespace {

using contract::DatabaseKind;
using directdb::ServerDatabase;
using directdb::SqliteFile;


// Indexes are built after the rows are in.
contract::CreateOptions withoutIndexes(contract::CreateOptions options) {
  options.indexes = false;
  return options;
}

std::string columnList(const std::vector<std::string_view>& fields, bool quoted, std::string* values = nullptr) {
  std::string columns;
  int number = 0;
  for (std::string_view field : fields) {
    const std::string separator = number++ == 0 ? "" : ", ";
    columns += separator + (quoted ? ServerDatabase::quoted(field) : std::string(field));
    if (values) *values += separator + "?" + std::to_string(number);
  }
  return columns;
}

// A prepared INSERT into a file, reset after each row.
class FileTableWriter final : public TableWriter {
 public:
  FileTableWriter(SqliteFile& file, std::string_view table, const std::vector<std::string_view>& fields)
      : file_(file) {
    std::string values;
    const std::string columns = columnList(fields, false, &values);
    const std::string sql = "INSERT INTO " + std::string(table) + " (" + columns + ") VALUES (" + values + ")";
    if (sqlite3_prepare_v2(file.handle(), sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) fail(sql);
  }
  ~FileTableWriter() override { sqlite3_finalize(stmt_); }

  TableWriter& text(std::string_view v) override {
    sqlite3_bind_text(stmt_, ++index_, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  TableWriter& integer(int64_t v) override {
    sqlite3_bind_int64(stmt_, ++index_, v);
    return *this;
  }
  TableWriter& real(double v) override {
    sqlite3_bind_double(stmt_, ++index_, v);
    return *this;
  }
  TableWriter& null() override {
    sqlite3_bind_null(stmt_, ++index_);
    return *this;
  }
  void run() override {
    if (sqlite3_step(stmt_) != SQLITE_DONE) fail(sqlite3_sql(stmt_));
    sqlite3_reset(stmt_);
    index_ = 0;
    ++rows_;
  }

 private:
  [[noreturn]] void fail(std::string_view sql) {
    throw Error(db::errc::kReserved, "Cannot write to '" + file_.path().string() +
                                         "': " + sqlite3_errmsg(file_.handle()) + " (in: " + std::string(sql) + ")");
  }

  SqliteFile& file_;
  sqlite3_stmt* stmt_ = nullptr;  // owned
  int index_ = 0;
};

// Rows in COPY's text format, sent a batch at a time.
class ServerTableWriter final : public TableWriter {
 public:
  ServerTableWriter(ServerDatabase& db, const std::string& table, const std::vector<std::string_view>& fields)
      : db_(db), copy_("COPY " + table + " (" + columnList(fields, true) + ") FROM STDIN") {}

  TableWriter& text(std::string_view v) override {
    separate();
    directdb::appendCopyValue(batch_, v);
    return *this;
  }
  TableWriter& integer(int64_t v) override {
    separate();
    batch_ += std::to_string(v);
    return *this;
  }
  TableWriter& real(double v) override {
    separate();
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;  // shortest that reads back the same
    batch_.append(digits, end);
    return *this;
  }
  TableWriter& null() override {
    separate();
    batch_ += "\\N";
    return *this;
  }
  void run() override {
    batch_ += '\n';
    first_ = true;
    ++rows_;
    if (batch_.size() >= kBatchBytes) flush();
  }
  void flush() override {
    if (batch_.empty()) return;
    db_.copyIn(copy_, batch_);
    batch_.clear();
  }

 private:
  static constexpr size_t kBatchBytes = 1 << 20;
  void separate() {
    if (!first_) batch_ += '\t';
    first_ = false;
  }

  ServerDatabase& db_;
  std::string copy_;
  std::string batch_;
  bool first_ = true;
};

class NewFiles final : public NewDatabases {
 public:
  NewFiles(const contract::DatabaseFiles& files, const contract::CreateOptions& options) : paths_(files) {
    contract::createDatabaseFiles(paths_, withoutIndexes(options));
    if (paths_.so.empty()) kinds_.pop_back();
    try {
      for (DatabaseKind kind : kinds_) {
        auto& file = files_[static_cast<size_t>(kind)];
        file = std::make_unique<SqliteFile>(path(kind));
        // The files are new and removed on failure, so durability during the load buys nothing.
        file->exec("PRAGMA synchronous=OFF; PRAGMA journal_mode=MEMORY; PRAGMA cache_size=-65536; BEGIN;");
      }
    } catch (...) {
      remove();
      throw;
    }
  }
  ~NewFiles() override {
    if (!finished_) remove();
  }

  std::unique_ptr<TableWriter> writer(DatabaseKind kind, std::string_view table,
                                      const std::vector<std::string_view>& fields) override {
    return std::make_unique<FileTableWriter>(*files_[static_cast<size_t>(kind)], table, fields);
  }
  int64_t count(DatabaseKind kind, std::string_view table) override {
    const auto rows = files_[static_cast<size_t>(kind)]->query("SELECT count(*) FROM " + std::string(table));
    return static_cast<int64_t>(rows.at(0).at(0).toDouble());
  }
  std::string link(DatabaseKind kind) const override { return contract::fileLink(paths_.dt, path(kind)); }
  void finish() override {
    for (DatabaseKind kind : kinds_) files_[static_cast<size_t>(kind)]->exec(contract::indexesDdl(kind));
    for (auto kind = kinds_.rbegin(); kind != kinds_.rend(); ++kind) files_[static_cast<size_t>(*kind)]->exec("COMMIT;");
    finished_ = true;
  }

 private:
  NewFiles(const NewFiles&) = delete;
  const std::filesystem::path& path(DatabaseKind kind) const {
    return kind == DatabaseKind::DT ? paths_.dt : kind == DatabaseKind::AR ? paths_.ar : paths_.so;
  }
  void remove() {
    for (auto& file : files_) file.reset();
    std::vector<std::filesystem::path> made = {paths_.dt, paths_.ar};
    if (!paths_.so.empty()) made.push_back(paths_.so);
    contract::removeDatabaseFiles(made);
  }

  contract::DatabaseFiles paths_;
  std::vector<DatabaseKind> kinds_ = {DatabaseKind::DT, DatabaseKind::AR, DatabaseKind::SO};
  std::array<std::unique_ptr<SqliteFile>, 3> files_;
  bool finished_ = false;
};

class NewServerSchemas final : public NewDatabases {
 public:
  NewServerSchemas(const contract::DatabaseLocations& locations, const contract::CreateOptions& options)
      : schemas_(locations, withoutIndexes(options)) {}

  std::unique_ptr<TableWriter> writer(DatabaseKind kind, std::string_view table,
                                      const std::vector<std::string_view>& fields) override {
    loaded_.emplace_back(kind, schemas_.table(kind, table));
    return std::make_unique<ServerTableWriter>(schemas_.session(kind), loaded_.back().second, fields);
  }
  int64_t count(DatabaseKind kind, std::string_view table) override {
    return std::stoll(schemas_.session(kind).query("SELECT count(*) FROM " + schemas_.table(kind, table)).at(0).at(0).value());
  }
  std::string link(DatabaseKind kind) const override { return schemas_.link(kind); }
  // The planner's statistics of the loaded tables come with them, so that
  // the first statements on the new set (a queue update right after a copy)
  // are planned on what the tables hold rather than on guesses.
  void finish() override {
    schemas_.createIndexes();
    for (const auto& [kind, table] : loaded_) schemas_.session(kind).exec("ANALYZE " + table);
    schemas_.commit();
  }

 private:
  contract::NewServerDatabases schemas_;
  std::vector<std::pair<DatabaseKind, std::string>> loaded_;  // tables given a writer, as the server names them
};

}  // namespace

std::unique_ptr<NewDatabases> NewDatabases::create(const contract::DatabaseLocations& locations,
                                                   const contract::CreateOptions& options) {
  const int count = locations.so.empty() ? 2 : 3;
  const int servers = db::isServerLocation(locations.dt) + db::isServerLocation(locations.ar) +
                      db::isServerLocation(locations.so);
  if (servers == count) return std::make_unique<NewServerSchemas>(locations, options);
  if (servers == 0) return std::make_unique<NewFiles>(contract::DatabaseFiles{locations.dt, locations.ar, locations.so}, options);
  throw Error(db::errc::kInvalidArgument,
              "Cannot create the databases '" + db::shownLocation(locations.dt) + "', '" +
                  db::shownLocation(locations.ar) + "' and '" + db::shownLocation(locations.so) +
                  "': the three go either into files or onto a PostgreSQL server, not both.");
}

}  // namespace oskara::tool
