// Date and time texts of the dialect: the body of a `#...#` literal and the
// texts that CDate and the date functions accept besides stored ISO text.
#pragma once

#include <optional>
#include <string_view>

#include "core/variant.h"

namespace oskara::db::sql {

// Reads "m/d/y", "y-m-d" (each optionally followed by a time of day) or a
// time of day alone ("h:mm", "h:mm:ss", optionally "AM"/"PM"). A two-digit
// year 30..99 is 19xx and 00..29 is 20xx. Nothing else is a date.
std::optional<DateTime> parseDialectDate(std::string_view text);

// The year a one- or two-digit year stands for (68 -> 1968, 5 -> 2005).
int expandTwoDigitYear(int year);

}  // namespace oskara::db::sql
