// Application's logon: Logon, LogOff and the user list of the logged-on DT
// database. Being logged on is no row in a table: it is the DT database held
// open by the process with one recordset on the logon table in g_rsHeld.
#include <optional>

#include "contract/tables.h"
#include "core/error.h"
#include "dbengine/dbengine.h"
#include "dbengine/errors.h"
#include "varrick/application.h"
#include "varrick/process_state.h"
#include "varrick/result_string.h"
#include "varrick/user_list.h"

namespace varrick {

namespace {

namespace db = oskara::db;

using oskara::contract::kTblDTLogon;

// A read-only refusal: the likely cause is a queue update holding the data.
std::string notAvailableMessage() {
  std::string message = "Oskara is currently not available.";
  message += kCrLf;
  message += "Perhaps the Queue Update Process is currently in progress.";
  message += kCrLf;
  message += "Please try again later !";
  return message;
}

// Every failure path leaves the process logged off, so that the next Logon
// opens the database again. g_wsDefault and g_sDTPath stay.
void dropLogonState() {
  try {
    g_rsHeld.reset();
  } catch (...) {
  }
  try {
    g_dbDT.reset();
  } catch (...) {
  }
}

// Can the debt-tracking data take a new row? The open and the add-new both
// run; the failure of the later one is the one that counts (an add-new
// without a recordset fails too). No field is set and the row is never saved.
std::optional<oskara::Error> probeLogonTable() {
  std::optional<oskara::Error> last;
  try {
    g_rsHeld = g_dbDT->openRecordset(kTblDTLogon, db::RecordsetType::Dynaset, db::kAppendOnly);
  } catch (...) {
    last = currentFailure();
  }
  try {
    if (!g_rsHeld) {
      std::string text = "Object variable not set: no recordset on ";
      text += kTblDTLogon;
      text += " to start a new row in";
      if (last) text += " (" + last->text() + ")";
      throw oskara::Error(oskara::automation_error::kObjectNotSet, text + ".");
    }
    g_rsHeld->addNew();
  } catch (...) {
    last = currentFailure();
  }
  return last;
}

}  // namespace

std::string Application::Logon(std::string sDTPath, std::string /*sARPath*/,
                               std::string /*sSOPath*/, int32_t& lErr, std::string& sError) {
  try {
    g_sDTPath = std::move(sDTPath);
    // Already logged on: only the path changes; the database opened first
    // stays the open one.
    if (g_rsHeld) return std::string(kResultSuccess);
    g_wsDefault = &db::Engine::instance().workspace(0);
    g_dbDT = g_wsDefault->openDatabase(g_sDTPath);

    const std::optional<oskara::Error> failure = probeLogonTable();
    if (!failure) {
      try {
        g_rsHeld->cancelUpdate(db::kUpdateRegular);
      } catch (...) {
      }
      return std::string(kResultSuccess);
    }
    if (failure->number() == db::errc::kReadOnly) {
      lErr = db::errc::kReadOnly;
      sError = notAvailableMessage();
      dropLogonState();
      return messageResult(sError);
    }
    throw *failure;
  } catch (...) {
    std::string result = trapFailure(tag::kLogon, lErr, sError);
    dropLogonState();
    return result;
  }
}

std::string Application::LogOff(int32_t& lErr, std::string& sError) {
  try {
    // Dropping the reference is the close; it also frees the queue-processing
    // lock when that is what the slot holds.
    if (g_rsHeld) g_rsHeld.reset();
    if (g_dbDT) g_dbDT.reset();
    lErr = 0;
    sError.clear();
    return std::string(kResultSuccess);
  } catch (...) {
    std::string result = trapFailure(tag::kLogOff, lErr, sError);
    dropLogonState();
    return result;
  }
}

std::string Application::ActiveUsersList() {
  try {
    return GetDbUsers(g_sDTPath);
  } catch (...) {
    return std::string();
  }
}

}  // namespace varrick
