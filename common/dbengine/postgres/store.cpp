#include "dbengine/postgres/store.h"

#include "dbengine/errors.h"
#include "dbengine/locations.h"
#include "dbengine/identifiers.h"
#include "dbengine/postgres/identity.h"
#include "dbengine/postgres/pg_errors.h"

namespace oskara::db::postgres {
namespace {

std::string text(const Result& r, int row, int column) { return PQgetvalue(r.get(), row, column); }

// The engine's declared type of a column of the server's type `type`
// (pg_type.typname): the file conventions' words where they fit, so that
// statements and values read the same as on files.
std::string declaredType(const std::string& type) {
  static const std::map<std::string, std::string> kWords = {
      {"citext", "TEXT"},     {"text", "VARCHAR"},        {"varchar", "VARCHAR"},   {"bpchar", "CHAR"},
      {"name", "VARCHAR"},    {"int2", "SMALLINT"},        {"int4", "INTEGER"},      {"int8", "BIGINT"},
      {"float8", "DOUBLE"},   {"float4", "REAL"},          {"numeric", "NUMERIC"},   {"bool", "BOOLEAN"},
      {"timestamp", "DATETIME"}, {"timestamptz", "DATETIME"}, {"date", "DATE"},      {"time", "TIME"},
  };
  auto it = kWords.find(type);
  if (it != kWords.end()) return it->second;
  std::string upper = type;
  for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  return upper;
}

// FNV-1a: a table's part of its deny-write lock key, from its name without regard to case.
uint32_t nameHash(std::string_view name) {
  uint32_t h = 2166136261u;
  for (char c : name) {
    h ^= static_cast<unsigned char>(lowerAscii(c));
    h *= 16777619u;
  }
  return h;
}

// The schema a link names: the same database's, or an error for another one.
struct LinkTarget {
  std::string shown;   // for texts
  std::string schema;  // as the link names it
};

LinkTarget linkTarget(const std::string& database, const ServerLocation& dt, std::string_view linkName) {
  if (std::string schema = sameDatabaseSchema(database); !schema.empty()) return {database, schema};
  auto another = [&](const std::string& shown) {
    return Error(errc::kInvalidPath, "The link '" + std::string(linkName) + "' of '" + dt.shown + "' names '" +
                                         shown +
                                         "', which is not a schema of the same PostgreSQL database: a link names "
                                         "a schema of its own database, as ?schema=NAME or by a full location.");
  };
  if (!isServerLocation(database)) throw another(shownLocation(database));
  ServerLocation target = parseServerLocation(database);
  if (target.databaseKey != dt.databaseKey) throw another(target.shown);
  return {target.shown, target.schema};
}

}  // namespace

std::unique_ptr<PgStore> PgStore::open(const ServerLocation& location, const UserEntry& me,
                                       std::shared_ptr<PgConnection> shared) {
  if (!shared) shared = PgConnection::open(location, me);
  std::unique_ptr<PgStore> store(new PgStore(std::move(shared), location, me));
  PgConnection& c = *store->connection_;
  // The schema as named, or else the one that differs from it only in case.
  Result schema = c.run("SELECT oid, nspname FROM pg_namespace WHERE lower(nspname) = lower($1) "
                        "ORDER BY nspname = $1 DESC, nspname LIMIT 1",
                        {location.schema});
  if (PQntuples(schema.get()) == 0) throw schemaNotFound(location);
  store->schemaOid_ = text(schema, 0, 0);
  store->schema_ = text(schema, 0, 1);
  c.run("SELECT pg_advisory_lock_shared($1::bigint)",
        {std::to_string(presenceLockKey(static_cast<uint32_t>(std::stoul(store->schemaOid_))))});
  store->presence_ = true;
  // Read-only: a session that may not write (a standby), or a role that may
  // write none of the schema's tables.
  Result readOnly = c.run(
      "SELECT current_setting('transaction_read_only') = 'on' OR NOT EXISTS (SELECT 1 FROM pg_class c "
      "WHERE c.relnamespace = $1::oid AND c.relkind IN ('r', 'p') AND (has_table_privilege(c.oid, 'INSERT') "
      "OR has_table_privilege(c.oid, 'UPDATE') OR has_table_privilege(c.oid, 'DELETE')))",
      {store->schemaOid_});
  store->readOnly_ = text(readOnly, 0, 0) == "t";
  store->readLinks();
  return store;
}

PgStore::~PgStore() {
  for (const std::string& key : lockedTables_) {
    connection_->clearLockHolder(key);
    const size_t slash = key.find('/');
    connection_->sendQuietly("SELECT pg_advisory_unlock($1::int4, $2::int4)",
                             {key.substr(0, slash), key.substr(slash + 1)});
  }
  if (presence_) {
    connection_->sendQuietly("SELECT pg_advisory_unlock_shared($1::bigint)",
                             {std::to_string(presenceLockKey(static_cast<uint32_t>(std::stoul(schemaOid_))))});
  }
}

std::string PgStore::catalogTable(std::string_view lowerName) {
  Result r = connection_->run(
      "SELECT relname FROM pg_class WHERE relnamespace = $1::oid AND lower(relname) = $2 "
      "AND relkind IN ('r', 'p', 'v', 'm', 'f') ORDER BY relname = $2 DESC LIMIT 1",
      {schemaOid_, std::string(lowerName)});
  return PQntuples(r.get()) ? text(r, 0, 0) : std::string();
}

void PgStore::readLinks() {
  const std::string table = catalogTable("sys_links");
  if (table.empty()) return;
  Result rows = connection_->run("SELECT name, database, source_table FROM " + quoteIdentifier(schema_) + "." +
                                     quoteIdentifier(table),
                                 {}, table);
  for (int row = 0; row < PQntuples(rows.get()); ++row) {
    const std::string name = text(rows, row, 0);
    const LinkTarget target = linkTarget(text(rows, row, 1), location_, name);
    size_t index = 0;
    while (index < links_.databases.size() && links_.databases[index].location != target.shown) ++index;
    if (index == links_.databases.size()) {
      LinkedDatabase linked;
      linked.location = target.shown;
      Result schema = connection_->run(
          "SELECT nspname FROM pg_namespace WHERE lower(nspname) = lower($1) ORDER BY nspname = $1 DESC LIMIT 1",
          {target.schema});
      if (PQntuples(schema.get()) == 0) {
        ServerLocation missing = location_;
        missing.schema = target.schema;
        missing.shown = target.shown;
        linked.failure = schemaNotFound(missing);
      } else {
        linked.schema = text(schema, 0, 0);
      }
      links_.databases.push_back(std::move(linked));
    }
    // The table as the linked schema stores it, whatever case the link gives.
    std::string source = text(rows, row, 2);
    if (!links_.databases[index].schema.empty()) {
      Result stored = connection_->run(
          "SELECT c.relname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace WHERE n.nspname = $1 "
          "AND lower(c.relname) = lower($2) ORDER BY c.relname = $2 DESC LIMIT 1",
          {links_.databases[index].schema, source});
      if (PQntuples(stored.get())) source = text(stored, 0, 0);
    }
    links_.links.push_back({name, std::move(source), index});
  }
}

bool PgStore::mayWrite(const sql::TableInfo& table, bool insert) {
  const std::string key = table.schema + "." + table.table;
  auto it = writable_.find(key);
  if (it == writable_.end()) {
    Result r = connection_->run(
        "SELECT has_table_privilege(c.oid, 'INSERT'), has_table_privilege(c.oid, 'UPDATE') FROM pg_class c "
        "JOIN pg_namespace n ON n.oid = c.relnamespace WHERE n.nspname = $1 AND c.relname = $2 "
        "AND current_setting('transaction_read_only') = 'off'",
        {table.schema, table.table}, table.table);
    const bool known = PQntuples(r.get()) == 1;
    it = writable_.emplace(key, std::make_pair(known && text(r, 0, 0) == "t", known && text(r, 0, 1) == "t")).first;
  }
  return insert ? it->second.first : it->second.second;
}

std::vector<std::string> PgStore::tableNames() {
  Result r = connection_->run(
      "SELECT relname FROM pg_class WHERE relnamespace = $1::oid AND relkind IN ('r', 'p', 'v', 'm', 'f') "
      "ORDER BY relname",
      {schemaOid_});
  std::vector<std::string> names;
  for (int row = 0; row < PQntuples(r.get()); ++row) names.push_back(text(r, row, 0));
  return names;
}

std::vector<sql::ColumnInfo> PgStore::columns(const std::string& schema, const std::string& table) {
  Result r = connection_->run(
      "SELECT a.attname, t.typname, EXISTS (SELECT 1 FROM pg_index i WHERE i.indrelid = c.oid "
      "AND i.indisprimary AND a.attnum = ANY (i.indkey)) FROM pg_attribute a JOIN pg_class c ON c.oid = a.attrelid "
      "JOIN pg_namespace n ON n.oid = c.relnamespace JOIN pg_type t ON t.oid = a.atttypid "
      "WHERE n.nspname = $1 AND c.relname = $2 AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum",
      {schema, table}, table);
  std::vector<sql::ColumnInfo> columns;
  for (int row = 0; row < PQntuples(r.get()); ++row)
    columns.push_back({text(r, row, 0), declaredType(text(r, row, 1)), text(r, row, 2) == "t"});
  return columns;
}

std::vector<backend::StoredQuery> PgStore::storedQueries() {
  const std::string table = catalogTable("sys_queries");
  std::vector<backend::StoredQuery> queries;
  if (table.empty()) return queries;
  Result r = connection_->run(
      "SELECT name, sql FROM " + quoteIdentifier(schema_) + "." + quoteIdentifier(table), {}, table);
  for (int row = 0; row < PQntuples(r.get()); ++row) queries.push_back({text(r, row, 0), text(r, row, 1)});
  return queries;
}

void PgStore::addStoredQuery(std::string_view name, std::string_view sql) {
  // The table of stored queries is made with the first one.
  std::string table = catalogTable("sys_queries");
  if (table.empty()) {
    table = "sys_queries";
    connection_->run("CREATE TABLE " + quoteIdentifier(schema_) + "." + quoteIdentifier(table) +
                         " (name citext PRIMARY KEY, sql text NOT NULL)",
                     {}, table);
  }
  connection_->run("INSERT INTO " + quoteIdentifier(schema_) + "." + quoteIdentifier(table) +
                       " (name, sql) VALUES ($1, $2)",
                   {std::string(name), std::string(sql)}, table);
}

void PgStore::setStoredQuery(std::string_view name, std::string_view sql) {
  const std::string table = catalogTable("sys_queries");
  connection_->run("UPDATE " + quoteIdentifier(schema_) + "." + quoteIdentifier(table) +
                       " SET sql = $1 WHERE lower(name) = lower($2)",
                   {std::string(sql), std::string(name)}, table);
}

std::string PgStore::tableLockKey(std::string_view table) const {
  // The server's two 32-bit keys, as signed integers: the schema and the name.
  const auto schema = static_cast<int32_t>(static_cast<uint32_t>(std::stoul(schemaOid_)));
  return std::to_string(schema) + "/" + std::to_string(static_cast<int32_t>(nameHash(table)));
}

std::optional<UserEntry> PgStore::tryLockTable(std::string_view table) {
  const std::string key = tableLockKey(table);
  // The session counts its own locks as one holder; a second store of the
  // same database on it is another user all the same.
  if (const void* holder = connection_->lockHolder(key)) {
    if (holder == this) return std::nullopt;
    return me_;
  }
  const size_t slash = key.find('/');
  const std::string k1 = key.substr(0, slash), k2 = key.substr(slash + 1);
  Result taken = connection_->run("SELECT pg_try_advisory_lock($1::int4, $2::int4)", {k1, k2}, table);
  if (text(taken, 0, 0) == "t") {
    connection_->setLockHolder(key, this);
    lockedTables_.insert(key);
    return std::nullopt;
  }
  Result holder = connection_->run(
      "SELECT a.application_name FROM pg_locks l JOIN pg_stat_activity a ON a.pid = l.pid "
      "WHERE l.locktype = 'advisory' AND l.database = (SELECT oid FROM pg_database WHERE datname = "
      "current_database()) AND l.classid = ($1::int4::int8 & 4294967295)::oid "
      "AND l.objid = ($2::int4::int8 & 4294967295)::oid AND l.objsubid = 2 AND l.granted LIMIT 1",
      {k1, k2}, table);
  if (PQntuples(holder.get()) == 1) {
    if (auto user = userOfSession(text(holder, 0, 0))) return *user;
  }
  return UserEntry{};
}

void PgStore::unlockTable(std::string_view table) {
  const std::string key = tableLockKey(table);
  if (!lockedTables_.erase(key)) return;
  connection_->clearLockHolder(key);
  const size_t slash = key.find('/');
  connection_->sendQuietly("SELECT pg_advisory_unlock($1::int4, $2::int4)", {key.substr(0, slash), key.substr(slash + 1)});
}

// pg_notify rather than NOTIFY: channel and payload travel as parameters.
void PgStore::notify(std::string_view channel, std::string_view payload) {
  connection_->run("SELECT pg_notify($1, $2)", {std::string(channel), std::string(payload)});
}

}  // namespace oskara::db::postgres
