// Waiting helpers for tests of programs on the bus: they keep Qt's event
// loop turning, so calls and signals are served while the test waits.
#pragma once

#include <signal.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <functional>

namespace oskara::test_support {

// Turns the event loop until `done` holds or `ms` milliseconds have passed;
// false on the time running out.
inline bool waitUntil(const std::function<bool()>& done, int ms = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// Whether process `pid` has ended. A server whose parent (the bus daemon)
// has not reaped it yet counts as ended.
inline bool processGone(qint64 pid) {
  if (kill(static_cast<pid_t>(pid), 0) != 0) return true;
  QFile status(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) return true;
  const QByteArray line = status.readAll();
  const qsizetype close = line.lastIndexOf(')');
  return close > 0 && line.mid(close + 2, 1) == "Z";
}

}  // namespace oskara::test_support
