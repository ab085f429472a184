// The PostgreSQL target: a bound statement as PostgreSQL SQL, for tables
// laid out as docs/database-files.md describes (text as citext, dates as
// timestamps). Parameters are $1, $2, ...; a table row is identified by its
// ctid; text compares without regard to case as citext; the dialect's
// functions and operators are plain SQL expressions (nothing is created on
// the server); Date(), Time() and Now() are parameters bound from the
// engine's clock.
#pragma once

#include "dbengine/sql/bound.h"
#include "dbengine/sql/translation.h"

namespace oskara::db::sql {

Translation emitPostgres(const bound::Statement& statement);

}  // namespace oskara::db::sql
