// frmQueueAsync: the engine server's hidden window, which runs the scans that
// UpdQueueAsync schedules. There is one per process; it is never shown and
// needs no widgets, only a QObject with a timer on the server's own thread.
//
// UpdQueueAsync loads it, stores the request's paths and callback object and
// arms Timer1 for 2000 ms. The timer event (on the server's thread, from its
// event loop) creates a fresh engine object by its identifier, runs
// ProcessQueue on it by name, calls CallBack by name on the callback object
// with the scan's error number and text, and unloads the window.
//
// One request at a time, each carried out for its own files and reported to
// its own callback object: a request that arrives while one is armed is
// refused (1238), never merged into it. An armed request whose callback
// object's server leaves the bus is dropped before it starts: nobody could
// learn its outcome, and the lock that its application server held for it
// has gone with that server. While its scan runs, the runner holds the DT
// database's queue table deny-write, so that an application server of
// another workstation does not start an update on the same file until this
// scan has ended, even when the one that asked for it has gone meanwhile.
//
// The process stays alive while a request is armed or running: the window
// keeps a ServerHold for that time, even when no client holds an engine.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "automation/class_registry.h"
#include "automation/server_hold.h"
#include "core/variant.h"

namespace tormel {

// Delay between a request and its scan.
inline constexpr int kAsyncScanDelayMs = 2000;

// UpdQueueAsync's number when a request is already armed: the application
// server's number for an update it cannot start because another one runs.
inline constexpr int32_t kErrRequestArmed = 1238;

class frmQueueAsync : public QObject {
 public:
  // The process's window, loaded first when it is not.
  static frmQueueAsync& Load();
  // The process's window while it is loaded; nullptr when it is not.
  static frmQueueAsync* Loaded();
  // Unloads the process's window if it is loaded: its unload handler releases
  // m_oEngine, ignoring failures, and never refuses.
  static void Unload();

  // The request: kept after a run (m_oCallBack included) until the next
  // request overwrites it. The members outlive an unload, like the form's
  // variables.
  std::string m_sDTPath;
  std::string m_sARPath;
  std::string m_sSOPath;
  oskara::ObjectRef m_oCallBack;  // receives CallBack; may be empty
  oskara::ObjectRef m_oEngine;    // the engine of the current scan; empty between scans
  // The engine that UpdQueueAsync was called on: the scan raises its events
  // (progress, the committed update) on it, where its client listens.
  std::weak_ptr<oskara::Dispatch> m_wRequester;

  // Timer1's interval in milliseconds; 0 means stopped. Setting a non-zero
  // interval (re)starts the count.
  void SetTimer1Interval(int ms);
  int Timer1Interval() const { return timer1Interval_; }
  bool Armed() const { return timer1Interval_ != 0; }

  // Drops the armed request when the server of m_oCallBack leaves the bus
  // before the request has started. Called once the request is stored.
  void WatchCallBackServer();

  frmQueueAsync(const frmQueueAsync&) = delete;
  frmQueueAsync& operator=(const frmQueueAsync&) = delete;

 private:
  frmQueueAsync();
  ~frmQueueAsync() override;

  void Timer1_Timer();
  void Form_Unload();
  void DropRequest();

  QTimer Timer1;               // enabled; fires every timer1Interval_ ms while non-zero
  int timer1Interval_ = 0;
  bool loaded_ = false;
  std::optional<oskara::ServerHold> armed_;  // set exactly while Timer1 counts
  std::unique_ptr<oskara::ServerWatch> callBackServer_;  // while armed, for a remote m_oCallBack
};

}  // namespace tormel
