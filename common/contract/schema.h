// The three databases as SQLite files: the statements that create their
// tables and indexes, the dialect text of the stored query, and the creation
// of a set of files with the options record. The conventions behind the
// declared types are described in docs/database-files.md; the names are in
// tables.h and options.h.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace oskara::contract {

// Refusal to create a database over an existing file.
inline constexpr int32_t kErrDatabaseExists = 3204;

enum class DatabaseKind { DT, AR, SO };

struct DatabaseFiles {
  std::filesystem::path dt;  // debt tracking: options, queue, call log; links to AR
  std::filesystem::path ar;  // accounts receivable: customers and aged balances
  std::filesystem::path so;  // sales orders
};

// Where the three databases are: file paths, or locations on a PostgreSQL
// server (dbengine/locations.h).
struct DatabaseLocations {
  std::string dt, ar, so;
};

// The file names the tool uses in a folder: dt.db, ar.db, so.db.
DatabaseFiles databaseFilesIn(const std::filesystem::path& dir);

// What a field holds. Each backend writes a kind as its own column type and
// keeps every other value out with a constraint of its own: on SQLite, which
// stores anything anywhere, the CHECK constraint of sqliteFieldCheck.
enum class FieldKind : uint8_t {
  Text,     // TEXT COLLATE NOCASE
  Short,    // SMALLINT: a whole number, -32768 to 32767
  Long,     // INTEGER: a whole number, -2147483648 to 2147483647
  Double,   // DOUBLE: a number
  Boolean,  // BOOLEAN: a whole number, 0 for No, any other for Yes
  Date,     // DATETIME: the text of DateTime::parseStored
};

struct FieldDef {
  std::string_view name;
  FieldKind kind;
  std::string_view constraints;  // SQL after the type, common to the backends: "PRIMARY KEY", "NOT NULL DEFAULT 0"
};

struct TableDef {
  std::string_view name;
  std::span<const FieldDef> fields;
};

// The tables of one file, in the order they are created.
std::span<const TableDef> tableDefs(DatabaseKind kind);

// SQLite's declared type of a kind ("SMALLINT", "TEXT COLLATE NOCASE", ...).
std::string_view sqliteType(FieldKind kind);
// The SQLite condition that a value of `field` of `kind` meets: Null, or a
// value of the kind within its range. The CHECK constraint of each field.
std::string sqliteFieldCheck(std::string_view field, FieldKind kind);

// SQLite statements creating the tables of one file, without indexes and
// without the engine's catalog tables (sys_links, sys_queries), which every
// file gets as well; several statements separated by ';'. Every field has
// its CHECK constraint.
std::string tablesDdl(DatabaseKind kind);
// The non-unique indexes of one database, each on one field, named
// idx_TABLE_FIELD.
struct IndexDef {
  std::string_view table;
  std::string_view field;
  std::string name() const { return "idx_" + std::string(table) + "_" + std::string(field); }
};
std::span<const IndexDef> indexDefs(DatabaseKind kind);
// SQLite statements creating them in a file. Separate so that a bulk load
// can build them after the rows are in.
std::string indexesDdl(DatabaseKind kind);

// The AR tables that DT links to, each under its own name.
std::span<const std::string_view> linkedArTables();

// The engine's catalog tables, which every database has: sys_links (name,
// database, source_table) and sys_queries (name, sql).
inline constexpr std::string_view kSysLinks = "sys_links";
inline constexpr std::string_view kSysQueries = "sys_queries";

// The dialect text of the stored query qryDtFollowUp2b.
std::string_view followUp2bSql();

struct CreateOptions {
  bool indexes = true;        // false: the caller runs indexesDdl() after loading
  bool optionsRecord = true;  // false: tblDTOptions starts empty
  bool catalogRows = true;    // false: sys_links and sys_queries start empty
};

// Creates dt.db, ar.db and so.db in `dir` (made when missing): the tables,
// the AR links and the stored query in DT, and the options record of a new
// file (newFileOptions(), options.h). Refuses with kErrDatabaseExists,
// creating nothing, when any of the three files exists; a failure part-way
// removes what it made.
DatabaseFiles createDatabaseFiles(const std::filesystem::path& dir, const CreateOptions& options = {});
// The same with the three files named one by one (their folders exist); an
// empty SO path makes none.
void createDatabaseFiles(const DatabaseFiles& files, const CreateOptions& options = {});
// Removes files made by createDatabaseFiles, with their journals.
void removeDatabaseFiles(const std::vector<std::filesystem::path>& files);

// How DT's sys_links names the file `target`: relative to DT's folder, so
// that the files can move together.
std::string fileLink(const std::filesystem::path& dt, const std::filesystem::path& target);

}  // namespace oskara::contract
