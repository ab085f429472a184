// about_screenshots: pictures of the two About dialogs for the documentation.
// It shows each dialog exactly as its server does, through the server's own
// About member, and saves what the window draws as PNG files:
//   about_screenshots DIR   writes DIR/about-engine.png and DIR/about-server.png
// It needs a display (scripts/screenshots runs it under Xvfb).
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <cstdio>
#include <string>
#include <vector>

#include "about/about_dialog.h"
#include "tormel/queue_engine.h"
#include "varrick/application.h"

// Under the sanitizers: fontconfig and the D-Bus library that Qt's X11
// platform uses keep allocations for the life of the process on purpose.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}

namespace {

// Shows one dialog by calling About by name on `object`, saves its picture as
// `file` and unloads it. False, with the reason on standard error, on failure.
bool capture(oskara::Dispatch& object, const QString& file) {
  std::vector<oskara::Variant> none;
  if (object.invoke("About", none).toInt16() != -1) {
    std::fprintf(stderr, "about_screenshots: About was not shown (no display?)\n");
    return false;
  }
  oskara::about::frmAbout* form = oskara::about::loadedAbout();
  // Let the window system map and paint it before it is drawn into the file.
  QApplication::processEvents();
  const bool saved = form->grab().save(file, "PNG");
  if (!saved) std::fprintf(stderr, "about_screenshots: cannot write %s\n", qPrintable(file));
  form->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: about_screenshots DIR\n");
    return 2;
  }
  QApplication app(argc, argv);
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  if (!dir.exists()) {
    std::fprintf(stderr, "about_screenshots: no folder %s\n", argv[1]);
    return 2;
  }
  tormel::QueueEngine engine;
  varrick::Application application;
  const bool ok = capture(engine, dir.filePath(QStringLiteral("about-engine.png"))) &&
                  capture(application, dir.filePath(QStringLiteral("about-server.png")));
  return ok ? 0 : 1;
}
