// The failures of libpq and of the server as the engine's errors: a location
// that cannot be opened, and a statement the server refused (by its SQLSTATE).
// Every text names the location without its password.
#pragma once

#include "dbengine/internal.h"

#include <libpq-fe.h>

#include <string_view>

#include "core/error.h"
#include "dbengine/backend.h"
#include "dbengine/postgres/location.h"

namespace oskara::db::postgres {

// 3024: the location's schema is not in its database.
Error schemaNotFound(const ServerLocation& location);

// A refused statement, by its SQLSTATE, naming what `context` gives; the
// message is scrubbed of the location's password.
Error resultFailure(const PGresult* result, const FailureContext& context, const ServerLocation& location);

// The connection itself failed while a statement was sent or read (3043).
Error connectionLost(const ServerLocation& location, std::string_view reason);

}  // namespace oskara::db::postgres
