#include "dbengine/sqlite/testing.h"

#include "dbengine/engine_internal.h"
#include "dbengine/sqlite/store.h"

namespace oskara::db::sqlite {

sqlite3* TEST_connectionOf(Database& database) {
  auto* store = dynamic_cast<SqliteStore*>(database.impl().store.get());
  return store ? store->handle() : nullptr;
}

}  // namespace oskara::db::sqlite
