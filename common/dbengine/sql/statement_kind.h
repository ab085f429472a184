// The four kinds of statement the dialect has.
#pragma once

#include <cstdint>

namespace oskara::db::sql {

enum class StatementKind : uint8_t { Select, Insert, Update, Delete };

}  // namespace oskara::db::sql
