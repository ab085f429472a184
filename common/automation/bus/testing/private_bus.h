// A bus daemon of a test's own: started on a given configuration, it serves
// only the test and the servers it activates, and ends with the object.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <optional>
#include <string>

namespace oskara::test_support {

class PrivateBus {
 public:
  // Starts the daemon on `configFile` and waits up to 5 s for its address.
  // `environment` is the daemon's, and so that of every server it activates
  // (this process's when absent); the daemon's and its servers' standard
  // error goes to `errorFile` (QProcess::nullDevice() drops it), or to this
  // process's standard error when `errorFile` is empty.
  explicit PrivateBus(const QString& configFile,
                      const std::optional<QProcessEnvironment>& environment = std::nullopt,
                      const QString& errorFile = {}) {
    if (environment) daemon_.setProcessEnvironment(*environment);
    if (!errorFile.isEmpty()) daemon_.setStandardErrorFile(errorFile);
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--config-file=") + configFile, QStringLiteral("--print-address=1"),
                   QStringLiteral("--nofork")});
    if (!daemon_.waitForStarted(5000) || !daemon_.waitForReadyRead(5000)) return;
    address_ = daemon_.readLine().trimmed().toStdString();
    started_ = true;
  }

  // Stops the daemon; the servers it activated lose their bus and end.
  ~PrivateBus() {
    daemon_.terminate();
    daemon_.waitForFinished(5000);
  }

  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  // Whether the daemon started and printed its address.
  bool started() const { return started_; }
  // The address clients connect to; empty when the daemon did not start.
  const std::string& address() const { return address_; }

 private:
  QProcess daemon_;
  std::string address_;
  bool started_ = false;
};

}  // namespace oskara::test_support
