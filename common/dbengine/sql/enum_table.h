// Tables indexed by an enum. A static_assert on inEnumOrder keeps each entry
// at the index of its key, so that a new enum value cannot go unlisted and no
// entry can be read for another's.
#pragma once

#include <cstddef>

namespace oskara::db::sql {

// Whether `table` lists `count` entries whose member `Key` is 0, 1, 2, ...
template <auto Key, class Entry, size_t N>
constexpr bool inEnumOrder(const Entry (&table)[N], size_t count) {
  if (N != count) return false;
  for (size_t i = 0; i < N; ++i) {
    if (static_cast<size_t>(table[i].*Key) != i) return false;
  }
  return true;
}

}  // namespace oskara::db::sql
