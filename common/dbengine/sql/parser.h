// Stage 2 of the translator: recursive descent from tokens to the syntax
// tree (ast.h). One function per grammar rule; the grammar is written out in
// parser.cpp above the functions.
#pragma once

#include <string_view>

#include "dbengine/sql/ast.h"

namespace oskara::db::sql {

// Parses one statement of the dialect. Throws oskara::Error with the syntax
// error number of the clause at fault (3075 expression, 3131 FROM, 3134
// INSERT, 3144 UPDATE, 3129 not a statement, 3142 text after the end), the
// statement quoted in the text.
ast::Statement parseStatement(std::string_view text);

}  // namespace oskara::db::sql
