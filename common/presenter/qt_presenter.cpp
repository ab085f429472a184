#include "presenter/qt_presenter.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

namespace oskara {

namespace {

QMessageBox::Icon iconOf(int32_t style) {
  switch (style & 0x70) {
    case message_style::kCritical:
      return QMessageBox::Critical;
    case message_style::kQuestion:
      return QMessageBox::Question;
    case message_style::kExclamation:
      return QMessageBox::Warning;
    case message_style::kInformation:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

QString toQt(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

void QtMessagePresenter::show(std::string_view text, std::string_view title, int32_t style) {
  QMessageBox box(iconOf(style), toQt(title), toQt(text), QMessageBox::Ok);
  box.exec();  // modal: returns once the person has pressed OK
}

std::unique_ptr<QCoreApplication> makeServerApplication(int& argc, char** argv) {
  if (!hasDisplay()) return std::make_unique<QCoreApplication>(argc, argv);
  auto app = std::make_unique<QApplication>(argc, argv);
  // A server lives for its objects, not for its windows: closing a message
  // box must not end it.
  QApplication::setQuitOnLastWindowClosed(false);
  static QtMessagePresenter presenter;
  setPresenter(&presenter);
  return app;
}

}  // namespace oskara
