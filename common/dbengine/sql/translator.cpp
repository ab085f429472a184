#include "dbengine/sql/translator.h"

#include "dbengine/sql/binder/binder.h"
#include "dbengine/sql/parser.h"
#include "dbengine/sql/postgres_emitter.h"
#include "dbengine/sql/sqlite_emitter.h"

namespace oskara::db::sql {

Translation translate(std::string_view text, const Catalog& catalog, Target target) {
  ast::Statement parsed = parseStatement(text);
  bound::Statement boundStatement = bindStatement(parsed, text, catalog);
  switch (target) {
    case Target::SQLite: return emitSqlite(boundStatement);
    case Target::PostgreSQL: return emitPostgres(boundStatement);
  }
  __builtin_unreachable();
}

}  // namespace oskara::db::sql
