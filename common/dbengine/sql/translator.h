// The dialect translator: turns a statement of the system's SQL dialect into
// the SQL of a target database. Pipeline: tokenizer -> parser (syntax tree,
// ast.h) -> binder (names resolved against the catalog and meaning decided,
// bound.h) -> the target's emitter (its SQL text).
//
// Every literal of the statement (text, number, date) becomes a parameter of
// the translated SQL (shape.h), so statements that differ only in their
// literals share one translation and one prepared statement.
#pragma once

#include <cstdint>
#include <string_view>

#include "dbengine/sql/catalog.h"
#include "dbengine/sql/shape.h"
#include "dbengine/sql/statement_kind.h"
#include "dbengine/sql/translation.h"

namespace oskara::db::sql {

// The SQL a translation is written in: that of the backend which runs it.
enum class Target : uint8_t { SQLite, PostgreSQL };

// Translates one statement. Throws oskara::Error: 3075/3131/3134/3144/3129
// syntax errors quoting the statement, 3078 for an unknown table, 3079 for an
// ambiguous field name. Never returns a partial translation.
Translation translate(std::string_view text, const Catalog& catalog, Target target = Target::SQLite);

}  // namespace oskara::db::sql
