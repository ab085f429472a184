#include "about/about_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <cstdlib>

#include "about/registry.h"
#include "automation/server_hold.h"
#include "presenter/message_presenter.h"

// Fontconfig keeps its configuration for the life of the process on purpose;
// the leak checker is told so, and still reports every leak of ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace oskara::about {
namespace {

const AboutInfo kEngine{"About Oskara Scan Engine", "OSK Scan Engine", {1, 3, 3}};
const AboutInfo kServer{"About Oskara Server", "Oskara Server", {1, 4, 9}};

int argc = 1;
char programName[] = "about_test";
char* argv[] = {programName, nullptr};

// Without widgets there is nothing to show: a process on a QCoreApplication
// (a server without a display), or with no application at all. Each case runs
// in a fresh process, where no test has made a QApplication yet.
TEST(AboutWithoutWidgetsDeathTest, ReturnsZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(About(kEngine) == 0 ? 0 : 1), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(
      {
        QCoreApplication app(argc, argv);
        std::exit(About(kEngine) == 0 && loadedAbout() == nullptr ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

class AboutDialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // No display needed: Qt draws into memory.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!QCoreApplication::instance()) new QApplication(argc, argv);
  }

  void TearDown() override {
    if (frmAbout* form = loadedAbout()) form->close();
    unloadPending();
  }

  // Runs the deletions that unloading a dialog leaves for the event loop.
  static void unloadPending() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

  template <class T>
  static T* control(const char* name) {
    frmAbout* form = loadedAbout();
    return form ? form->findChild<T*>(QString::fromLatin1(name)) : nullptr;
  }
  static std::string text(const char* label) {
    QLabel* l = control<QLabel>(label);
    return l ? l->text().toStdString() : "<no " + std::string(label) + ">";
  }
};

TEST_F(AboutDialogTest, EachProgramShowsItsCaptionTitleAndVersion) {
  ASSERT_EQ(About(kEngine), -1);
  ASSERT_NE(loadedAbout(), nullptr);
  EXPECT_EQ(loadedAbout()->windowTitle().toStdString(), "About Oskara Scan Engine");
  EXPECT_EQ(text("lblTitle"), "OSK Scan Engine");
  EXPECT_EQ(text("lblVersion"), "Version 1.3.3");
  loadedAbout()->close();
  unloadPending();

  ASSERT_EQ(About(kServer), -1);
  EXPECT_EQ(loadedAbout()->windowTitle().toStdString(), "About Oskara Server");
  EXPECT_EQ(text("lblTitle"), "Oskara Server");
  EXPECT_EQ(text("lblVersion"), "Version 1.4.9");
}

TEST_F(AboutDialogTest, ControlsCarryTheirFontsTextsAndPicture) {
  ASSERT_EQ(About(kEngine), -1);
  const QFont title = control<QLabel>("lblTitle")->font();
  EXPECT_EQ(title.family().toStdString(), "Arial");
  EXPECT_EQ(title.pointSize(), 12);
  EXPECT_TRUE(title.bold());
  EXPECT_DOUBLE_EQ(control<QLabel>("lblVersion")->font().pointSizeF(), 9.75);

  // Six lines: publisher, empty, developer, empty, two legal lines.
  const QStringList lines = QString::fromStdString(text("lblDescription")).split(QStringLiteral("\r\n"));
  ASSERT_EQ(lines.size(), 6);
  EXPECT_TRUE(lines[1].isEmpty());
  EXPECT_TRUE(lines[3].isEmpty());
  for (int i : {0, 2, 4, 5}) EXPECT_FALSE(lines[i].isEmpty()) << i;
  EXPECT_EQ(text("lblDisclaimer"), kDisclaimer);

  ASSERT_NE(control<QPushButton>("cmdOK"), nullptr);
  EXPECT_EQ(control<QPushButton>("cmdOK")->text().toStdString(), "OK");
  ASSERT_NE(control<QPushButton>("cmdSysInfo"), nullptr);
  EXPECT_EQ(control<QPushButton>("cmdSysInfo")->text().toStdString(), "&System Info...");
  ASSERT_NE(control<QLabel>("Image1"), nullptr);
  EXPECT_FALSE(control<QLabel>("Image1")->pixmap().isNull());
  ASSERT_NE(control<QFrame>("Line1"), nullptr);
  EXPECT_EQ(control<QFrame>("Line1")->frameShape(), QFrame::HLine);
}

TEST_F(AboutDialogTest, ASecondAboutShowsTheSameWindowWithoutWaiting) {
  ASSERT_EQ(About(kEngine), -1);
  QPointer<frmAbout> first = loadedAbout();
  EXPECT_TRUE(first->isVisible());
  EXPECT_FALSE(first->isModal());
  first->hide();

  ASSERT_EQ(About(kEngine), -1);
  EXPECT_EQ(loadedAbout(), first.data());
  EXPECT_TRUE(first->isVisible());
}

TEST_F(AboutDialogTest, OkUnloadsAndTheNextAboutLoadsAnew) {
  const size_t holdsBefore = activeServerHolds();
  ASSERT_EQ(About(kEngine), -1);
  EXPECT_EQ(activeServerHolds(), holdsBefore + 1);  // the open dialog keeps the server up
  QPointer<frmAbout> first = loadedAbout();

  control<QPushButton>("cmdOK")->click();
  EXPECT_EQ(loadedAbout(), nullptr);
  EXPECT_EQ(activeServerHolds(), holdsBefore);
  unloadPending();
  EXPECT_TRUE(first.isNull());

  ASSERT_EQ(About(kEngine), -1);
  ASSERT_NE(loadedAbout(), nullptr);
  EXPECT_EQ(text("lblVersion"), "Version 1.3.3");  // loaded again

  // Escape and the window's close button unload it the same way.
  loadedAbout()->reject();
  EXPECT_EQ(loadedAbout(), nullptr);
  unloadPending();
  ASSERT_EQ(About(kEngine), -1);
  loadedAbout()->close();
  EXPECT_EQ(loadedAbout(), nullptr);
  EXPECT_EQ(activeServerHolds(), holdsBefore);
}

TEST_F(AboutDialogTest, SystemInfoWithoutTheProgramTellsThePersonAndStaysOpen) {
  RecordingPresenter presenter;
  ScopedPresenter usePresenter(presenter);
  ScopedRegistryFile noRegistry("/nonexistent/registry.reg");
  ASSERT_EQ(About(kServer), -1);

  control<QPushButton>("cmdSysInfo")->click();
  ASSERT_EQ(presenter.shown.size(), 1u);
  EXPECT_EQ(presenter.shown[0].text, "System Information Is Unavailable At This Time");
  ASSERT_NE(loadedAbout(), nullptr);
  EXPECT_TRUE(loadedAbout()->isVisible());
}

}  // namespace
}  // namespace oskara::about
