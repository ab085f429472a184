#include "about/sys_info.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <string>

#include "about/registry.h"
#include "presenter/message_presenter.h"

namespace oskara::about {

namespace {

QString toQt(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// The program path, or nothing when neither registry value leads to one.
std::optional<std::string> sysInfoProgram() {
  std::string path;
  // A registered program path is trusted as it is; only the folder form is
  // tested for the file.
  if (GetKeyValue(RegistryRoot::LocalMachine, std::string(kSysInfoKey),
                  std::string(kSysInfoPathValue), path))
    return path;
  if (GetKeyValue(RegistryRoot::LocalMachine, std::string(kSysInfoLocationKey),
                  std::string(kSysInfoLocationValue), path)) {
    // The file name is appended as the system writes it, separator included.
    path += kSysInfoFileName;
    if (QFileInfo::exists(toQt(path))) return path;
  }
  return std::nullopt;
}

}  // namespace

void StartSysInfo() {
  try {
    if (auto program = sysInfoProgram()) {
      if (QProcess::startDetached(toQt(*program), {})) return;
    }
  } catch (...) {
    // Any failure on the way ends in the message below.
  }
  // The default title of a message box is the program's own name.
  const std::string title = QCoreApplication::applicationName().toStdString();
  currentPresenter().show(kSysInfoUnavailable, title, message_style::kOkOnly);
}

}  // namespace oskara::about
