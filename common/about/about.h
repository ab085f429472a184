// The About dialog of the two servers. Each program passes its own caption,
// title and version; the dialog, its texts and its "System Info..." button
// are otherwise the same in both.
#pragma once

#include <cstdint>
#include <string>

namespace oskara::about {

struct ProgramVersion {
  int versionMajor = 0;
  int versionMinor = 0;
  int revision = 0;
};

struct AboutInfo {
  std::string caption;     // window caption, "About Oskara Server"
  std::string title;       // lblTitle, "Oskara Server"
  ProgramVersion version;  // shown as "Version 1.4.9"
};

// About of QueueEngine and Application: loads the dialog when it is not
// loaded yet, shows it without waiting for it to close and returns -1. A
// second call shows the same window again. Returns 0 when the dialog cannot
// be shown: the process has no QApplication (a server without a display
// runs on a QCoreApplication), or anything failed. Never raises.
//
// One dialog per process. While it is open it keeps the server alive (a
// ServerHold), so that it does not vanish when the client lets go of its
// objects; OK or closing the window unloads it.
int16_t About(const AboutInfo& info);

}  // namespace oskara::about
