// Demo databases: DT, AR and SO (files or schemas on a PostgreSQL server) filled with synthetic but
// plausible customers, balances, call logs and orders. The mix is chosen so
// that a scan with every option on (the options record of a new DT file)
// queues customers under every reason code, 1 to 10. Dates are relative to
// the current clock's today; the data depends only on the customer count,
// the seed and that date.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "contract/schema.h"
#include "new_databases.h"

namespace oskara::tool {

struct DemoOptions {
  int64_t customers = 2000;
  uint64_t seed = 1;
};

struct TableCount {
  contract::DatabaseKind database;
  std::string table;
  int64_t rows = 0;
};

struct DemoSummary {
  contract::DatabaseLocations locations;
  contract::DatabaseFiles files;      // of the folder form
  std::vector<TableCount> rowCounts;  // every table written, database by database
};

// Creates the three databases at `locations` (three files, or three schemas
// on a PostgreSQL server: NewDatabases, new_databases.h, refusing existing
// files and schemas holding tables) and fills them in one transaction per
// file or server database, indexes built after the rows. On failure nothing
// is left: files made are removed, server transactions rolled back. Customer
// counts below 1 or above 10,000,000 are refused (3001).
DemoSummary createDemoDatabases(const contract::DatabaseLocations& locations, const DemoOptions& options);
// The same as dt.db, ar.db and so.db in `dir` (made when missing).
DemoSummary createDemoDatabases(const std::filesystem::path& dir, const DemoOptions& options);

// The generator's random numbers: SplitMix64, so that a seed gives the same
// data on every platform and library version.
class DemoRandom {
 public:
  explicit DemoRandom(uint64_t seed) : state_(seed) {}
  uint64_t next();
  // Uniform whole number in [low, high]; low <= high.
  int64_t between(int64_t low, int64_t high);
  // True in `percent` cases out of a hundred.
  bool chance(int percent) { return between(0, 99) < percent; }

 private:
  uint64_t state_;
};

}  // namespace oskara::tool
