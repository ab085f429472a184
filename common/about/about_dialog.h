// frmAbout: the About window itself. Servers call About() (about.h); this
// header is for the tests and for About().
#pragma once

#include <QDialog>
#include <memory>

#include "about/about.h"

class QLabel;
class QPushButton;

namespace oskara {
class ServerHold;
}

namespace oskara::about {

// The description text: publisher, empty line, developer, empty line, two
// lines of legal notice, separated by CR LF.
extern const char* const kDescription;
extern const char* const kDisclaimer;

// "Version 1.3.3".
std::string versionText(const ProgramVersion& version);

class frmAbout : public QDialog {
 public:
  explicit frmAbout(const AboutInfo& info);
  ~frmAbout() override;

  // Hides the window and unloads it, however it was closed.
  void done(int result) override;

 private:
  // The load step: the texts that depend on the program.
  void Form_Load(const AboutInfo& info);
  void cmdOK_Click();
  void cmdSysInfo_Click();

  // Owned by the window through Qt's parent links.
  QLabel* lblTitle;
  QLabel* lblVersion;
  QLabel* lblDescription;
  QLabel* lblDisclaimer;
  QPushButton* cmdOK;
  QPushButton* cmdSysInfo;
  // Keeps the server alive while the window is loaded.
  std::unique_ptr<ServerHold> hold_;
};

// The loaded dialog, or nullptr when it is not loaded.
frmAbout* loadedAbout();

}  // namespace oskara::about
