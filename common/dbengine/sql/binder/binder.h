// Stage 3 of the translator: resolves the names of a parsed statement
// against the catalog and decides the meaning of every operator and function
// (bound.h). One file per statement kind and per kind of expression that
// needs more than a few lines; bind_context.h holds what they share.
//
//  - A table name is a table or link of the catalog, else a stored query that
//    stands as a subquery; anything else is 3078.
//  - A field name, qualified or not, matches without regard to case; an
//    unqualified name found in two sources is 3079.
//  - A name that resolves to no field is a parameter (a select-list alias
//    first, where one matches). A parameter declared in PARAMETERS takes
//    precedence over a field of the same name written without a table, and
//    has the declared type; declared parameters are listed first.
#pragma once

#include <string_view>

#include "dbengine/sql/ast.h"
#include "dbengine/sql/bound.h"
#include "dbengine/sql/catalog.h"

namespace oskara::db::sql {

bound::Statement bindStatement(const ast::Statement& statement, std::string_view text, const Catalog& catalog);

}  // namespace oskara::db::sql
