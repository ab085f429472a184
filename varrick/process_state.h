// modGenRoutines: the state that every Application object of a server process
// shares. The server runs all its objects on one thread, so none of it needs a
// lock.
//
// Logon state. The process is logged on exactly when g_rsHeld is set, whether
// or not the recordset in it is still open: the logon probe on the logon table.
//
// Queue-processing lock: the DT database of the asynchronous update in
// progress, opened for the lock alone, with its lock table held deny-write.
// It is kept apart from the logon state so that nothing another client of
// the process does (a logon, a log-off, the end of its objects) can end it:
// only the report of the update it was taken for gives it back.
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
extern oskara::db::RecordsetPtr g_rsHeld;  // the logon probe; null when logged off

// --- Queue-processing lock --------------------------------------------------
extern oskara::db::DatabasePtr g_dbLock;   // the DT database being updated, or null
extern oskara::db::RecordsetPtr g_rsLock;  // its lock table held deny-write; null when free

// --- Asynchronous-update status --------------------------------------------
extern bool g_bAsyncRunning;        // handed to the engine, callback not yet arrived
extern std::string g_sAsyncResult;  // result string of the last update ("" before any)
extern int32_t g_lAsyncErr;         // its error number (0 before any)
extern std::string g_sAsyncError;   // its error text ("" before any)
extern bool g_bAsyncPrompt;         // `prompt` of the last UpdateQueueAsync; false when missing

// The engine's last progress report of the asynchronous update (its
// Progress event), as UpdQAsyncProgress reports it; cleared when one starts.
struct AsyncProgress {
  std::string rule;    // the rule it is in; "" before the first report
  int32_t done = 0;    // enabled rules finished before it
  int32_t total = 0;   // enabled rules
  int32_t queued = 0;  // customers queued so far
};
extern AsyncProgress g_asyncProgress;

}  // namespace varrick
