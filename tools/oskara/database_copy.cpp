#include "database_copy.h"

#include <sqlite3.h>

#include <array>
#include <charconv>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "core/error.h"
#include "core/variant.h"
#include "dbengine/errors.h"
#include "dbengine/locations.h"
#include "directdb/server_database.h"
#include "new_databases.h"

namespace oskara::tool {
namespace {

namespace errc = db::errc;
using contract::DatabaseKind;
using contract::FieldKind;
using directdb::ServerDatabase;
using db::postgres::ServerLocation;
using Row = ServerDatabase::Row;  // values as a file holds them, nullopt for Null

struct Field {
  std::string_view name;
  FieldKind kind;
};

// The tables of a database as copied: the catalog first, then the tables of
// the file conventions.
struct TableToCopy {
  std::string_view name;
  std::vector<Field> fields;
  bool catalog = false;  // may be missing from a source made by another program
};

std::vector<TableToCopy> tablesOf(DatabaseKind kind) {
  std::vector<TableToCopy> tables = {
      {contract::kSysLinks, {{"name", FieldKind::Text}, {"database", FieldKind::Text}, {"source_table", FieldKind::Text}}, true},
      {contract::kSysQueries, {{"name", FieldKind::Text}, {"sql", FieldKind::Text}}, true}};
  for (const contract::TableDef& def : contract::tableDefs(kind)) {
    TableToCopy& table = tables.emplace_back(TableToCopy{def.name, {}});
    for (const contract::FieldDef& f : def.fields) table.fields.push_back({f.name, f.kind});
  }
  return tables;
}

std::string_view kindName(DatabaseKind kind) {
  return kind == DatabaseKind::DT ? "DT" : kind == DatabaseKind::AR ? "AR" : "SO";
}

const std::string& locationOf(const contract::DatabaseLocations& set, DatabaseKind kind) {
  return kind == DatabaseKind::DT ? set.dt : kind == DatabaseKind::AR ? set.ar : set.so;
}

std::string shortestText(double value) {
  char digits[32];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  return std::string(digits, end);
}

// ---- Sources ----

class SourceDatabase {
 public:
  virtual ~SourceDatabase() = default;
  virtual bool hasTable(std::string_view table) = 0;
  // Every row of `fields` of `table`, its values as a file holds them.
  virtual void read(const TableToCopy& table, const std::function<void(const Row&)>& row) = 0;
};

class SourceFile final : public SourceDatabase {
 public:
  explicit SourceFile(const std::string& path) : path_(path) {
    if (!std::filesystem::exists(path_))
      throw Error(errc::kFileNotFound, "Could not find the database file '" + path_ + "' to copy from.");
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) fail("open");
    sqlite3_busy_timeout(db_, 10000);
    // One snapshot of the file for the whole copy.
    exec("BEGIN; SELECT count(*) FROM sqlite_schema;");
  }
  ~SourceFile() override { sqlite3_close(db_); }

  bool hasTable(std::string_view table) override {
    Statement stmt(*this, "SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = ?1 COLLATE NOCASE");
    sqlite3_bind_text(stmt.get(), 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
    return sqlite3_step(stmt.get()) == SQLITE_ROW;
  }

  void read(const TableToCopy& table, const std::function<void(const Row&)>& row) override {
    std::string sql = "SELECT ";
    for (size_t i = 0; i < table.fields.size(); ++i) sql += (i ? ", \"" : "\"") + std::string(table.fields[i].name) + '"';
    sql += " FROM \"" + std::string(table.name) + '"';
    Statement stmt(*this, sql);
    Row values(table.fields.size());
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
      for (int i = 0; i < static_cast<int>(values.size()); ++i) {
        auto& value = values[static_cast<size_t>(i)];
        switch (sqlite3_column_type(stmt.get(), i)) {
          case SQLITE_NULL: value.reset(); break;
          case SQLITE_INTEGER: value = std::to_string(sqlite3_column_int64(stmt.get(), i)); break;
          case SQLITE_FLOAT: value = shortestText(sqlite3_column_double(stmt.get(), i)); break;
          default:
            value = std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), i)),
                                static_cast<size_t>(sqlite3_column_bytes(stmt.get(), i)));
        }
      }
      row(values);
    }
    if (rc != SQLITE_DONE) fail("read " + std::string(table.name));
  }

  const std::string& path() const { return path_; }

 private:
  class Statement {
   public:
    Statement(SourceFile& file, const std::string& sql) {
      if (sqlite3_prepare_v2(file.db_, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) file.fail(sql);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    sqlite3_stmt* get() const { return stmt_; }

   private:
    sqlite3_stmt* stmt_ = nullptr;
  };

  void exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) fail(sql);
  }
  [[noreturn]] void fail(std::string_view what) {
    throw Error(errc::kCannotOpenFile, "Cannot copy from '" + path_ + "': " + (db_ ? sqlite3_errmsg(db_) : "?") +
                                           " (in: " + std::string(what) + ")");
  }

  std::string path_;
  sqlite3* db_ = nullptr;  // owned
};

// A value of a field of `kind` as the server writes it, as a file holds it:
// Yes/No as 1 or 0, a date at midnight as the date alone and a time on day
// zero as the time alone (DateTime::toIso).
std::optional<std::string> fileForm(FieldKind kind, std::optional<std::string> text) {
  if (!text) return text;
  if (kind == FieldKind::Boolean) return *text == "f" || *text == "0" ? "0" : "1";
  if (kind == FieldKind::Date) {
    if (const auto date = DateTime::parseStored(*text)) return date->toIso();
  }
  return text;
}

class SourceSchema final : public SourceDatabase {
 public:
  SourceSchema(std::shared_ptr<ServerDatabase> session, ServerLocation location)
      : session_(std::move(session)), location_(std::move(location)) {
    const auto rows = session_->query(
        "SELECT nspname FROM pg_namespace WHERE lower(nspname) = lower($1) ORDER BY nspname = $1 DESC LIMIT 1",
        {location_.schema});
    if (rows.empty())
      throw Error(errc::kFileNotFound, "Could not find the schema '" + location_.schema + "' of '" + location_.shown +
                                           "': its database has no such schema.");
    schema_ = *rows[0][0];
  }

  bool hasTable(std::string_view table) override { return !tableName(table).empty(); }

  void read(const TableToCopy& table, const std::function<void(const Row&)>& row) override {
    std::string sql = "COPY (SELECT ";
    for (size_t i = 0; i < table.fields.size(); ++i)
      sql += (i ? ", " : "") + ServerDatabase::quoted(columnName(table.name, table.fields[i].name));
    sql += " FROM " + ServerDatabase::quoted(schema_) + "." + ServerDatabase::quoted(tableName(table.name)) +
           ") TO STDOUT";
    session_->copyOut(sql, [&](std::string_view line) {
      Row values = directdb::parseCopyLine(line);
      for (size_t i = 0; i < values.size() && i < table.fields.size(); ++i)
        values[i] = fileForm(table.fields[i].kind, std::move(values[i]));
      row(values);
    });
  }

 private:
  // Names as stored, matched without regard to case as the engine does; the
  // name itself when there is none (the server then names what is missing).
  std::string tableName(std::string_view table) {
    const auto rows = session_->query(
        "SELECT c.relname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace WHERE n.nspname = $1 "
        "AND c.relkind IN ('r', 'p', 'v', 'm', 'f') AND lower(c.relname) = lower($2) ORDER BY c.relname = $2 DESC "
        "LIMIT 1",
        {schema_, std::string(table)});
    return rows.empty() ? std::string() : *rows[0][0];
  }
  std::string columnName(std::string_view table, std::string_view column) {
    const auto rows = session_->query(
        "SELECT a.attname FROM pg_attribute a JOIN pg_class c ON c.oid = a.attrelid JOIN pg_namespace n ON "
        "n.oid = c.relnamespace WHERE n.nspname = $1 AND c.relname = $2 AND a.attnum > 0 AND NOT a.attisdropped "
        "AND lower(a.attname) = lower($3) ORDER BY a.attname = $3 DESC LIMIT 1",
        {schema_, tableName(table), std::string(column)});
    return rows.empty() ? std::string(column) : *rows[0][0];
  }

  std::shared_ptr<ServerDatabase> session_;
  ServerLocation location_;
  std::string schema_;
};

// The source set: a reader per database, server databases read through one
// session each, in one snapshot.
struct Source {
  explicit Source(const contract::DatabaseLocations& from) {
    std::vector<std::pair<std::string, std::shared_ptr<ServerDatabase>>> sessions;  // by serverKey
    for (DatabaseKind kind : {DatabaseKind::DT, DatabaseKind::AR, DatabaseKind::SO}) {
      const std::string& where = locationOf(from, kind);
      if (where.empty()) continue;
      kinds.push_back(kind);
      auto& reader = readers[static_cast<size_t>(kind)];
      if (!db::isServerLocation(where)) {
        reader = std::make_unique<SourceFile>(where);
        continue;
      }
      ServerLocation location = db::postgres::parseServerLocation(where);
      locations[static_cast<size_t>(kind)] = location;
      std::shared_ptr<ServerDatabase> session;
      for (const auto& [key, open] : sessions) {
        if (key == location.serverKey) session = open;
      }
      if (!session) {
        session = std::make_shared<ServerDatabase>(location);
        session->exec("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY");
        sessions.emplace_back(location.serverKey, session);
      }
      reader = std::make_unique<SourceSchema>(session, std::move(location));
    }
  }

  // Which database of the set DT's link `database` names.
  std::optional<DatabaseKind> linkTarget(const contract::DatabaseLocations& from, const std::string& database) const {
    for (DatabaseKind kind : kinds) {
      if (kind == DatabaseKind::DT) continue;
      const std::string& where = locationOf(from, kind);
      if (!db::isServerLocation(from.dt)) {
        if (db::isServerLocation(where) || db::isServerLocation(database)) continue;
        const auto folder = std::filesystem::absolute(from.dt).parent_path();
        const auto linked = std::filesystem::path(database).is_absolute() ? std::filesystem::path(database)
                                                                           : folder / database;
        if (linked.lexically_normal() == std::filesystem::absolute(where).lexically_normal()) return kind;
        continue;
      }
      if (!db::isServerLocation(where)) continue;
      const ServerLocation& target = locations[static_cast<size_t>(kind)];
      const ServerLocation& dt = locations[static_cast<size_t>(DatabaseKind::DT)];
      std::string schema = db::postgres::sameDatabaseSchema(database), databaseKey = dt.databaseKey;
      if (schema.empty() && db::isServerLocation(database)) {
        const ServerLocation linked = db::postgres::parseServerLocation(database);
        schema = linked.schema;
        databaseKey = linked.databaseKey;
      }
      if (!schema.empty() && databaseKey == target.databaseKey && lower(schema) == lower(target.schema)) return kind;
    }
    return std::nullopt;
  }

  static std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }

  std::vector<DatabaseKind> kinds;
  std::array<std::unique_ptr<SourceDatabase>, 3> readers;
  std::array<ServerLocation, 3> locations;
};

// A value as the destination writes it: on a server a Yes/No is true for any
// non-zero number and a time alone is on day zero.
void write(TableWriter& writer, FieldKind kind, bool server, const std::optional<std::string>& value) {
  if (!value) {
    writer.null();
    return;
  }
  if (server && kind == FieldKind::Boolean) {
    double number = 0;
    std::from_chars(value->data(), value->data() + value->size(), number);
    writer.text(number != 0 ? "1" : "0");
    return;
  }
  if (server && kind == FieldKind::Date) {
    if (const auto date = DateTime::parseStored(*value); date && !date->hasDate()) {
      writer.text("1899-12-30 " + *value);
      return;
    }
  }
  writer.text(*value);
}

}  // namespace

std::vector<CopiedTable> copyDatabases(const contract::DatabaseLocations& from, const contract::DatabaseLocations& to) {
  if (from.so.empty() != to.so.empty())
    throw Error(errc::kInvalidArgument, std::string("Cannot copy: ") +
                                            (from.so.empty() ? "the destination names an SO database and the source none"
                                                             : "the source names an SO database and the destination none") +
                                            "; give SO for both or for neither.");
  Source source(from);
  const std::unique_ptr<NewDatabases> destination =
      NewDatabases::create(to, {.indexes = false, .optionsRecord = false, .catalogRows = false});
  const bool server = db::isServerLocation(to.dt);

  std::vector<CopiedTable> copied;
  for (DatabaseKind kind : source.kinds) {
    SourceDatabase& reader = *source.readers[static_cast<size_t>(kind)];
    for (const TableToCopy& table : tablesOf(kind)) {
      if (table.catalog && !reader.hasTable(table.name)) {
        copied.push_back({kind, std::string(table.name), 0});
        continue;
      }
      std::vector<std::string_view> names;
      for (const Field& f : table.fields) names.push_back(f.name);
      const std::unique_ptr<TableWriter> writer = destination->writer(kind, table.name, names);
      const bool links = kind == DatabaseKind::DT && table.name == contract::kSysLinks;
      reader.read(table, [&](const Row& row) {
        for (size_t i = 0; i < table.fields.size(); ++i) {
          if (links && table.fields[i].name == "database" && row[i]) {
            const auto target = source.linkTarget(from, *row[i]);
            if (!target)
              throw Error(errc::kInvalidPath, "Cannot copy the link '" + row[0].value_or("") + "' of '" +
                                                  db::shownLocation(from.dt) + "': it names '" +
                                                  db::shownLocation(*row[i]) +
                                                  "', which is neither the AR nor the SO database being copied.");
            writer->text(destination->link(*target));
            continue;
          }
          write(*writer, table.fields[i].kind, server, row[i]);
        }
        writer->run();
      });
      writer->flush();
      copied.push_back({kind, std::string(table.name), writer->rows()});
    }
  }
  for (const CopiedTable& table : copied) {
    const int64_t held = destination->count(table.database, table.table);
    if (held != table.rows)
      throw Error(errc::kReserved, "Cannot copy table '" + table.table + "' of " + std::string(kindName(table.database)) +
                                       ": " + std::to_string(table.rows) + " rows were read but the destination '" +
                                       db::shownLocation(locationOf(to, table.database)) + "' holds " +
                                       std::to_string(held) + "; nothing was copied.");
  }
  destination->finish();
  return copied;
}

}  // namespace oskara::tool
