// The Qt side of the presenter: message boxes as QMessageBox, and the Qt
// application of a server program, with widgets only when there is a display.
#pragma once

#include <QCoreApplication>
#include <memory>

#include "presenter/message_presenter.h"

namespace oskara {

// A modal QMessageBox. The style's icon value (16, 32, 48, 64) picks the
// icon; every style shows the single OK button. Needs a QApplication.
class QtMessagePresenter : public MessagePresenter {
 public:
  void show(std::string_view text, std::string_view title, int32_t style) override;
};

// The application object of a server program. With a display: a
// QApplication, and QtMessagePresenter installed as the current presenter.
// Without one: a QCoreApplication, so that no window system is needed, and
// messages go to standard error.
std::unique_ptr<QCoreApplication> makeServerApplication(int& argc, char** argv);

}  // namespace oskara
