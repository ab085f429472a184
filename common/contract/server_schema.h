// The three databases as schemas on a PostgreSQL server: the column types
// that keep each field's kind (what the files' CHECK constraints keep), and
// the creation of a set of schemas with their tables, indexes, links, stored
// query and options record, all in one transaction per server database.
// docs/database-files.md describes the mapping.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "contract/schema.h"
#include "directdb/server_database.h"

namespace oskara::contract {

// The server's column type of a kind, with `citext` the qualified name of
// that type in the database ("public"."citext").
std::string postgresType(FieldKind kind, std::string_view citext);

// Statements creating the tables of one database in `schema` (quoted), each
// field with its type, constraints and the CHECK that keeps what its type
// does not (NaN, dates beyond 9999).
std::string postgresTablesDdl(DatabaseKind kind, std::string_view schema, std::string_view citext);

// A set of DT, AR and SO schemas being created: one session per server
// database, nothing committed until commit(); a failure before leaves the
// server as it was.
class NewServerDatabases {
 public:
  // Opens the sessions, refuses a schema that holds any table (3204) before
  // creating anything, creates the missing schemas, the tables, the catalog
  // tables, and with `options` the links of DT to AR (as ?schema=NAME), the
  // stored query, the options record and the indexes. DT and AR must be
  // schemas of one server database (3044 otherwise: a link cannot cross
  // databases); SO may be anywhere, or left out (an empty location).
  NewServerDatabases(const DatabaseLocations& locations, const CreateOptions& options);
  ~NewServerDatabases();

  directdb::ServerDatabase& session(DatabaseKind kind) { return *sessions_[index(kind)]; }
  // A table of a database as the server names it: "schema"."table".
  std::string table(DatabaseKind kind, std::string_view table) const;
  const db::postgres::ServerLocation& location(DatabaseKind kind) const { return locations_[index(kind)]; }
  // How DT's sys_links names `kind`'s schema.
  std::string link(DatabaseKind kind) const { return "?schema=" + location(kind).schema; }

  // Builds the indexes, and numbers new rows after the highest key loaded.
  void createIndexes();
  // Commits DT last, so that a set whose DT exists is whole.
  void commit();

 private:
  static size_t index(DatabaseKind kind) { return static_cast<size_t>(kind); }

  static constexpr DatabaseKind kAllKinds[] = {DatabaseKind::DT, DatabaseKind::AR, DatabaseKind::SO};
  std::vector<DatabaseKind> kinds_;  // the databases of the set
  std::array<db::postgres::ServerLocation, 3> locations_;
  std::array<std::shared_ptr<directdb::ServerDatabase>, 3> sessions_;  // shared by schemas of one database
};

// Creates the three databases on the server (NewServerDatabases) and commits.
void createServerDatabases(const DatabaseLocations& locations, const CreateOptions& options = {});

}  // namespace oskara::contract
