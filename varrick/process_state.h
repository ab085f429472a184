// modGenRoutines: the state that every Application object of a server process
// shares. The server runs all its objects on one thread, so none of it needs a
// lock.
//
// Logon state. The process is logged on exactly when g_rsHeld is set, whether
// or not the recordset in it is still open and whichever table it is on: the
// logon probe on the logon table, or the queue-processing lock on the lock
// table that replaces it.
//
// Asynchronous-update status, as UpdQAsyncStatus reports it: running while an
// update has been handed to the engine and its callback has not arrived, then
// the recorded result with its number and text.
#pragma once

#include <cstdint>
#include <string>

#include "dbengine/dbengine.h"

namespace varrick {

// --- Logon state -----------------------------------------------------------
extern std::string g_sDTPath;            // DT path of the last Logon, also a failed one
extern oskara::db::Workspace* g_wsDefault;  // the engine's default workspace once used; never released
extern oskara::db::DatabasePtr g_dbDT;   // the open DT database, or null
extern oskara::db::RecordsetPtr g_rsHeld;  // logon probe or lock recordset; null when logged off

// --- Asynchronous-update status --------------------------------------------
extern bool g_bAsyncRunning;        // handed to the engine, callback not yet arrived
extern std::string g_sAsyncResult;  // result string of the last update ("" before any)
extern int32_t g_lAsyncErr;         // its error number (0 before any)
extern std::string g_sAsyncError;   // its error text ("" before any)
extern bool g_bAsyncPrompt;         // `prompt` of the last UpdateQueueAsync; false when missing

}  // namespace varrick
