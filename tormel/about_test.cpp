// The engine's About member, called by name as its clients call it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <cstdlib>
#include <vector>

#include "about/about_dialog.h"
#include "tormel/queue_engine.h"

extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace tormel {
namespace {

TEST(QueueEngineAboutTest, ShowsTheEnginesDialogAndReturnsTrue) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "tormel_about_test";
  static char* argv[] = {name, nullptr};
  QApplication app(argc, argv);

  QueueEngine engine;
  std::vector<oskara::Variant> none;
  EXPECT_EQ(engine.invoke("About", none), oskara::Variant(int16_t{-1}));
  oskara::about::frmAbout* form = oskara::about::loadedAbout();
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(form->windowTitle().toStdString(), "About Oskara Scan Engine");
  EXPECT_EQ(form->findChild<QLabel*>("lblTitle")->text().toStdString(), "OSK Scan Engine");
  EXPECT_EQ(form->findChild<QLabel*>("lblVersion")->text().toStdString(), "Version 1.3.3");
  // The last member of the interface, after the scan and the call-log members.
  EXPECT_EQ(engine.typeInfo().members.back().name, "About");
  form->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace
}  // namespace tormel
