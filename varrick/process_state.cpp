#include "varrick/process_state.h"

namespace varrick {

// Everything starts empty: the server's start-up does nothing, the calls
// build the state.
std::string g_sDTPath;
oskara::db::Workspace* g_wsDefault = nullptr;
oskara::db::DatabasePtr g_dbDT;
oskara::db::RecordsetPtr g_rsHeld;

oskara::db::DatabasePtr g_dbLock;
oskara::db::RecordsetPtr g_rsLock;

bool g_bAsyncRunning = false;
std::string g_sAsyncResult;
int32_t g_lAsyncErr = 0;
std::string g_sAsyncError;
bool g_bAsyncPrompt = false;
AsyncProgress g_asyncProgress;

}  // namespace varrick
