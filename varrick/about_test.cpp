// The server's About member, called by name as its clients call it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <cstdlib>
#include <vector>

#include "about/about_dialog.h"
#include "varrick/application.h"

// Fontconfig keeps its configuration for the life of the process on purpose.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace varrick {
namespace {

std::string labelText(oskara::about::frmAbout* form, const char* name) {
  auto* label = form->findChild<QLabel*>(QString::fromLatin1(name));
  return label ? label->text().toStdString() : std::string("<no ") + name + ">";
}

TEST(ApplicationAboutTest, ShowsTheServersDialogOnceAndAgainOnASecondCall) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "varrick_about_test";
  static char* argv[] = {name, nullptr};
  QApplication app(argc, argv);

  Application application;
  // The first member of the interface, ahead of the queue updates.
  EXPECT_EQ(application.typeInfo().members.front().name, "About");

  std::vector<oskara::Variant> none;
  EXPECT_EQ(application.invoke("About", none), oskara::Variant(int16_t{-1}));
  QPointer<oskara::about::frmAbout> form = oskara::about::loadedAbout();
  ASSERT_FALSE(form.isNull());
  EXPECT_EQ(form->windowTitle().toStdString(), "About Oskara Server");
  EXPECT_EQ(labelText(form, "lblTitle"), "Oskara Server");
  EXPECT_EQ(labelText(form, "lblVersion"), "Version 1.4.9");
  EXPECT_TRUE(form->isVisible());
  EXPECT_FALSE(form->isModal());

  // A second call, from another object of the process, while it is open.
  form->hide();
  Application another;
  EXPECT_EQ(another.invoke("About", none), oskara::Variant(int16_t{-1}));
  EXPECT_EQ(oskara::about::loadedAbout(), form.data());
  EXPECT_TRUE(form->isVisible());

  form->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(form.isNull());
}

}  // namespace
}  // namespace varrick
