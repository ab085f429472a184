// Included first by every header that is internal to the engine layer: those
// compile only in oskara_dbengine and its own tests, never in its callers,
// which use dbengine/dbengine.h and dbengine/errors.h.
#pragma once

#ifndef OSKARA_DBENGINE_INTERNAL
#error "an internal header of the engine layer: include dbengine/dbengine.h"
#endif
