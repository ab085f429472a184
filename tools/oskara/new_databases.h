// A new set of the three databases being filled: as files (a prepared INSERT
// per table) or as schemas on a PostgreSQL server (rows sent in COPY
// batches). Nothing is left of a set that was not finished: its files are
// removed, its server transactions rolled back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "contract/schema.h"

namespace oskara::tool {

// Rows written into one table, their values in the order of its fields.
class TableWriter {
 public:
  virtual ~TableWriter() = default;
  virtual TableWriter& text(std::string_view value) = 0;
  virtual TableWriter& integer(int64_t value) = 0;
  virtual TableWriter& real(double value) = 0;
  virtual TableWriter& null() = 0;
  // Ends the row.
  virtual void run() = 0;
  // Writes what is still buffered; before the set is finished.
  virtual void flush() {}
  int64_t rows() const { return rows_; }

 protected:
  int64_t rows_ = 0;
};

class NewDatabases {
 public:
  // Creates the three databases at `locations`: three file paths (their
  // folders existing) or three server locations, refusing existing files or
  // schemas that hold tables (3204) and a mix of both (3001). An empty SO
  // location makes DT and AR only. `options` as for createDatabaseFiles;
  // indexes are made by finish().
  static std::unique_ptr<NewDatabases> create(const contract::DatabaseLocations& locations,
                                              const contract::CreateOptions& options);
  virtual ~NewDatabases() = default;  // an unfinished set is removed

  // A writer of `fields` of `table` in the database of `kind`.
  virtual std::unique_ptr<TableWriter> writer(contract::DatabaseKind kind, std::string_view table,
                                              const std::vector<std::string_view>& fields) = 0;
  // The rows `table` of `kind` holds now, before finish().
  virtual int64_t count(contract::DatabaseKind kind, std::string_view table) = 0;
  // How DT's sys_links names the database of `kind`.
  virtual std::string link(contract::DatabaseKind kind) const = 0;
  // Builds the indexes, on a server gathers the planner's statistics of the
  // tables written, and commits: the set is whole.
  virtual void finish() = 0;
};

}  // namespace oskara::tool
