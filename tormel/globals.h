// Module-level state and helpers of the scan engine (modGlobals).
#pragma once

#include <string>
#include <string_view>

#include "core/variant.h"
#include "scanrules/rules.h"

namespace tormel {

// True exactly while a scan transaction opened by ProcessQueue is pending.
// Shared by every engine object of the process (they all run on one thread).
extern bool g_bInTrans;

// "" for Null, otherwise the value unchanged; "" if anything fails.
oskara::Variant NullToEmpty(const oskara::Variant& value);

// Null for "", otherwise the value unchanged; Null if anything fails.
oskara::Variant EmptyToNull(const oskara::Variant& value);

// A text placed between double quotes in a statement, its double quotes
// doubled (scanrules/rules.h).
using oskara::scanrules::quotedText;

}  // namespace tormel
