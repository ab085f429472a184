#include "contract/server_schema.h"

#include <string>
#include <vector>

#include "contract/options.h"
#include "contract/tables.h"
#include "core/error.h"
#include "dbengine/errors.h"
#include "dbengine/locations.h"

namespace oskara::contract {
namespace {

namespace errc = db::errc;
using directdb::ServerDatabase;
using db::postgres::ServerLocation;

std::string q(std::string_view name) { return ServerDatabase::quoted(name); }

// The constraints of a field as the server reads them: a Yes/No default is
// a boolean there.
std::string serverConstraints(const FieldDef& field) {
  std::string constraints(field.constraints);
  if (field.kind == FieldKind::Boolean) {
    for (const std::string_view from : {"DEFAULT 0", "DEFAULT 1"}) {
      if (const size_t at = constraints.find(from); at != std::string::npos)
        constraints.replace(at, from.size(), from.back() == '0' ? "DEFAULT false" : "DEFAULT true");
    }
  }
  return constraints;
}

// A whole-number key numbers new rows, as a file's does: the next after the
// highest.
bool numbersRows(const FieldDef& field) {
  return field.kind == FieldKind::Long && field.constraints.find("PRIMARY KEY") != std::string_view::npos;
}

// What the column type lets through that a file's CHECK keeps out.
std::string serverCheck(const FieldDef& field) {
  const std::string f = q(field.name);
  switch (field.kind) {
    case FieldKind::Double: return " CHECK (" + f + " <> 'NaN')";
    case FieldKind::Date: return " CHECK (" + f + " BETWEEN '0001-01-01' AND '9999-12-31 23:59:59')";
    default: return "";
  }
}

// How full the rows written into a table may make a page. A queue update
// rewrites the remark of every call-log header it queues a customer for,
// twice in one transaction (cleared, then written), on a column no index
// holds: with room on the page the new versions stay on it (heap-only
// tuples), without new index entries, and the page is pruned of them at the
// next update. The other tables keep the server's default (full pages).
std::string_view storageOptions(std::string_view table) {
  return table == kTblDtCallLogHeader ? " WITH (fillfactor = 40)" : "";
}

std::string catalogDdl(std::string_view schema, std::string_view citext) {
  const std::string s(schema), ci(citext);
  return "CREATE TABLE " + s + "." + q(kSysLinks) + " (name " + ci +
         " PRIMARY KEY, database text NOT NULL, source_table text NOT NULL);\n"
         "CREATE TABLE " + s + "." + q(kSysQueries) + " (name " + ci + " PRIMARY KEY, sql text NOT NULL);\n";
}

ServerLocation serverLocation(const std::string& location, std::string_view kind) {
  if (!db::isServerLocation(location))
    throw Error(errc::kInvalidArgument, "Cannot create the " + std::string(kind) + " database at '" + location +
                                            "': the three databases go either into files or onto a PostgreSQL "
                                            "server, and the others are server locations.");
  return db::postgres::parseServerLocation(location);
}

std::string_view kindName(DatabaseKind kind) {
  switch (kind) {
    case DatabaseKind::DT: return "DT";
    case DatabaseKind::AR: return "AR";
    case DatabaseKind::SO: return "SO";
  }
  return {};
}

// A schema the set may use: missing (then made) or without tables. The
// schema's name as stored when it exists, matched as the engine matches it.
void claimSchema(ServerDatabase& db, const ServerLocation& location) {
  const auto rows = db.query(
      "SELECT n.nspname, (SELECT string_agg(c.relname, ', ' ORDER BY c.relname) FROM pg_class c "
      "WHERE c.relnamespace = n.oid AND c.relkind IN ('r', 'p', 'v', 'm', 'f')) "
      "FROM pg_namespace n WHERE lower(n.nspname) = lower($1) ORDER BY n.nspname = $1 DESC LIMIT 1",
      {location.schema});
  if (rows.empty()) {
    db.exec("CREATE SCHEMA " + q(location.schema));
    return;
  }
  if (rows[0][1])
    throw Error(kErrDatabaseExists, "Cannot create database '" + location.shown + "': its schema '" +
                                        *rows[0][0] + "' already holds tables (" + *rows[0][1] +
                                        ") and is left as it is.");
  if (*rows[0][0] != location.schema)
    throw Error(kErrDatabaseExists, "Cannot create database '" + location.shown + "': the schema '" +
                                        *rows[0][0] + "' differs from it only in case and is left as it is.");
}

// The qualified name of citext in the session's database, the extension
// created (in public) when the database has none.
std::string citextOf(ServerDatabase& db) {
  const std::string find =
      "SELECT quote_ident(n.nspname) || '.citext' FROM pg_extension e JOIN pg_namespace n ON "
      "n.oid = e.extnamespace WHERE e.extname = 'citext'";
  auto rows = db.query(find);
  if (rows.empty()) {
    db.exec("CREATE EXTENSION citext SCHEMA public");
    rows = db.query(find);
  }
  return *rows.at(0).at(0);
}

// A value of the options record as the server reads it.
std::optional<std::string> serverText(const Variant& value) {
  switch (value.type()) {
    case VarType::Empty:
    case VarType::Null: return std::nullopt;
    case VarType::Boolean: return *value.get<bool>() ? "true" : "false";
    case VarType::Date: return value.get<DateTime>()->toIso();
    default: return value.toString();
  }
}

}  // namespace

std::string postgresType(FieldKind kind, std::string_view citext) {
  switch (kind) {
    case FieldKind::Text: return std::string(citext);
    case FieldKind::Short: return "smallint";
    case FieldKind::Long: return "integer";
    case FieldKind::Double: return "double precision";
    case FieldKind::Boolean: return "boolean";
    case FieldKind::Date: return "timestamp(0)";
  }
  return {};
}

std::string postgresTablesDdl(DatabaseKind kind, std::string_view schema, std::string_view citext) {
  std::string ddl;
  for (const TableDef& table : tableDefs(kind)) {
    ddl += "CREATE TABLE " + std::string(schema) + "." + q(table.name) + " (\n";
    for (size_t i = 0; i < table.fields.size(); ++i) {
      const FieldDef& field = table.fields[i];
      ddl += "  " + q(field.name) + ' ' + postgresType(field.kind, citext);
      if (numbersRows(field)) ddl += " GENERATED BY DEFAULT AS IDENTITY";
      const std::string constraints = serverConstraints(field);
      if (!constraints.empty()) ddl += ' ' + constraints;
      ddl += serverCheck(field);
      ddl += i + 1 < table.fields.size() ? ",\n" : "\n";
    }
    ddl += ")" + std::string(storageOptions(table.name)) + ";\n";
  }
  return ddl;
}

NewServerDatabases::NewServerDatabases(const DatabaseLocations& locations, const CreateOptions& options) {
  locations_ = {serverLocation(locations.dt, "DT"), serverLocation(locations.ar, "AR"),
                locations.so.empty() ? ServerLocation{} : serverLocation(locations.so, "SO")};
  const size_t count = locations.so.empty() ? 2 : 3;
  kinds_.assign(kAllKinds, kAllKinds + count);
  const ServerLocation& dt = location(DatabaseKind::DT);
  const ServerLocation& ar = location(DatabaseKind::AR);
  if (dt.databaseKey != ar.databaseKey)
    throw Error(errc::kInvalidPath, "Cannot create the databases '" + dt.shown + "' and '" + ar.shown +
                                        "': DT links to AR, so both must be schemas of one server database.");
  for (size_t i = 0; i < count; ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (locations_[j].databaseKey == locations_[i].databaseKey && locations_[j].schema == locations_[i].schema)
        throw Error(errc::kInvalidArgument, "Cannot create the " + std::string(kindName(kAllKinds[i])) +
                                                " database at '" + locations_[i].shown + "': it is the " +
                                                std::string(kindName(kAllKinds[j])) + " database's schema too.");
      if (!sessions_[i] && locations_[j].serverKey == locations_[i].serverKey) sessions_[i] = sessions_[j];
    }
    if (!sessions_[i]) sessions_[i] = std::make_shared<ServerDatabase>(locations_[i]);
  }

  for (DatabaseKind kind : kinds_) claimSchema(session(kind), location(kind));
  for (DatabaseKind kind : kinds_) {
    ServerDatabase& db = session(kind);
    const std::string schema = q(location(kind).schema);
    const std::string citext = citextOf(db);
    db.exec(catalogDdl(schema, citext) + postgresTablesDdl(kind, schema, citext));
  }
  if (options.catalogRows) {
    ServerDatabase& db = session(DatabaseKind::DT);
    for (std::string_view linked : linkedArTables()) {
      db.exec("INSERT INTO " + table(DatabaseKind::DT, kSysLinks) +
                   " (name, database, source_table) VALUES ($1, $2, $3)",
              {std::string(linked), link(DatabaseKind::AR), std::string(linked)});
    }
    db.exec("INSERT INTO " + table(DatabaseKind::DT, kSysQueries) + " (name, sql) VALUES ($1, $2)",
             {std::string(kQryDtFollowUp2b), std::string(followUp2bSql())});
  }
  if (options.optionsRecord) {
    std::string columns, values;
    std::vector<std::optional<std::string>> parameters;
    for (const auto& [name, value] : optionsRecord(newFileOptions())) {
      if (!parameters.empty()) {
        columns += ", ";
        values += ", ";
      }
      parameters.push_back(serverText(value));
      columns += q(name);
      values += "$" + std::to_string(parameters.size());
    }
    session(DatabaseKind::DT)
        .exec("INSERT INTO " + table(DatabaseKind::DT, kTblDTOptions) + " (" + columns + ") VALUES (" + values + ")",
              parameters);
  }
  if (options.indexes) createIndexes();
}

NewServerDatabases::~NewServerDatabases() = default;

std::string NewServerDatabases::table(DatabaseKind kind, std::string_view name) const {
  return q(location(kind).schema) + "." + q(name);
}

void NewServerDatabases::createIndexes() {
  for (DatabaseKind kind : kinds_) {
    std::string ddl;
    // The keys of the rows loaded with their own numbers: new rows go on after the highest.
    for (const TableDef& def : tableDefs(kind)) {
      for (const FieldDef& field : def.fields) {
        if (!numbersRows(field)) continue;
        const std::string name = table(kind, def.name);
        ddl += "SELECT setval(pg_get_serial_sequence('" + name + "', '" + std::string(field.name) + "'), coalesce(max(" +
               q(field.name) + "), 0) + 1, false) FROM " + name + ";\n";
      }
    }
    for (const IndexDef& index : indexDefs(kind))
      ddl += "CREATE INDEX " + q(index.name()) + " ON " + table(kind, index.table) + " (" + q(index.field) + ");\n";
    if (!ddl.empty()) session(kind).exec(ddl);
  }
}

void NewServerDatabases::commit() {
  // DT's session last; a session DT shares commits with it.
  for (DatabaseKind kind : {DatabaseKind::SO, DatabaseKind::AR, DatabaseKind::DT}) {
    if (!sessions_[index(kind)]) continue;
    ServerDatabase& db = session(kind);
    if (kind != DatabaseKind::DT && &db == &session(DatabaseKind::DT)) continue;
    if (kind == DatabaseKind::SO && &db == &session(DatabaseKind::AR)) continue;
    db.commit();
  }
}

void createServerDatabases(const DatabaseLocations& locations, const CreateOptions& options) {
  NewServerDatabases databases(locations, options);
  databases.commit();
}

}  // namespace oskara::contract
