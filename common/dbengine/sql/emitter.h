// Stage 4 of the translator: writes the bound statement as SQLite text.
//
//  - Each source is aliased to the name the statement uses for it, so that
//    qualified references keep working; a link reads "schema"."table" AS "link".
//  - Literals become ?N parameters (written inline only for the literals of a
//    stored query read in a FROM clause), named parameters too.
//  - DISTINCTROW groups by the rowids of the tables whose fields are shown;
//    UPDATE and DELETE over a join pick the target's rows through a subquery.
#pragma once

#include "dbengine/sql/bound.h"
#include "dbengine/sql/translator.h"

namespace oskara::db::sql {

// The result column holding the rowid of an updatable SELECT; it comes after
// the visible columns.
inline constexpr const char* kRowidColumn = "osk_rowid";

Translation emitStatement(const bound::Statement& statement);

}  // namespace oskara::db::sql
