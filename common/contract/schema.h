// The three databases as SQLite files: the statements that create their
// tables and indexes, the dialect text of the stored query, and the creation
// of a set of files with the options record. The conventions behind the
// declared types are described in docs/database-files.md; the names are in
// tables.h and options.h.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace oskara::contract {

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

// SQLite statements creating the tables of one file, without indexes and
// without the engine's catalog tables (sys_links, sys_queries), which every
// file gets as well; several statements separated by ';'.
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
// the AR links and the stored query in DT, and the options record of a new
// file (newFileOptions(), options.h). Refuses with kErrDatabaseExists,
// creating nothing, when any of the three files exists; a failure part-way
// removes what it made.
DatabaseFiles createDatabaseFiles(const std::filesystem::path& dir, const CreateOptions& options = {});

}  // namespace oskara::contract
