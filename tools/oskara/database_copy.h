// db copy: a whole set of databases (DT, AR and SO when given) copied from
// files or server schemas to new files or server schemas, every table of the
// file conventions with every row, the catalog (links and stored queries)
// included, DT's links pointing to the destination's AR and SO.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "contract/schema.h"

namespace oskara::tool {

struct CopiedTable {
  contract::DatabaseKind database;
  std::string table;
  int64_t rows = 0;  // read from the source, and found in the destination
};

// Copies `from` to `to` (an empty SO: none; both or neither have one). The
// destination is created as db init creates it (NewDatabases: refused when it
// exists or holds tables, 3204) and filled in one transaction per file or
// server database, rows streamed a batch at a time, indexes built last; each
// table's row count in the destination is checked against the rows read
// before the set is committed. On any failure nothing of the destination is
// left. A link of DT to a database that is neither the source's AR nor its
// SO is refused (3044). The source is read in one snapshot per server database.
std::vector<CopiedTable> copyDatabases(const contract::DatabaseLocations& from, const contract::DatabaseLocations& to);

}  // namespace oskara::tool
