// Tests only: the three databases on either backend. The set is made as
// files (createDatabaseFiles or the demo generator) and, for PostgreSQL,
// copied into three schemas of the tests' cluster with the server's column
// types and DT's links pointing at the new AR.
#pragma once

#include <filesystem>
#include <functional>

#include "contract/schema.h"
#include "dbengine/test_files.h"

namespace oskara::contract::testing {

// The locations of databases "dt", "ar" and "so" of `databases`, made by
// `makeFiles`, which creates dt.db, ar.db and so.db in the folder it is given.
DatabaseFiles makeDatabaseSet(db::testing::TestDatabases& databases,
                              const std::function<void(const std::filesystem::path&)>& makeFiles);

}  // namespace oskara::contract::testing
