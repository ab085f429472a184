#include "presenter/message_presenter.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

#include "core/testing/scoped_env.h"

namespace oskara {
namespace {

using oskara::test_support::ScopedEnv;

TEST(MessagePresenterTest, StandardErrorGetsTitleAndTextOnOneLinePerBreak) {
  StderrPresenter presenter;
  testing::internal::CaptureStderr();
  presenter.show("Error in Queue Engine Object !\r\n-5 - Disk full.", "Oskara",
                 message_style::kCritical);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Oskara: Error in Queue Engine Object !\n-5 - Disk full.\n");
}

TEST(MessagePresenterTest, ScopedPresenterReplacesAndRestoresTheCurrentOne) {
  MessagePresenter& standard = currentPresenter();
  RecordingPresenter outer;
  {
    ScopedPresenter installOuter(outer);
    RecordingPresenter inner;
    {
      ScopedPresenter installInner(inner);
      currentPresenter().show("inner text", "T", 16);
    }
    currentPresenter().show("outer text", "T", 64);
    ASSERT_EQ(inner.shown.size(), 1u);
    EXPECT_EQ(inner.shown[0].text, "inner text");
  }
  ASSERT_EQ(outer.shown.size(), 1u);
  EXPECT_EQ(outer.shown[0].text, "outer text");
  EXPECT_EQ(outer.shown[0].style, 64);
  EXPECT_EQ(&currentPresenter(), &standard);
}

TEST(MessagePresenterTest, DisplayMeansAnX11OrWaylandDisplayName) {
  {
    ScopedEnv x11("DISPLAY", nullptr), wayland("WAYLAND_DISPLAY", nullptr);
    EXPECT_FALSE(hasDisplay());
  }
  {
    ScopedEnv x11("DISPLAY", ""), wayland("WAYLAND_DISPLAY", "");
    EXPECT_FALSE(hasDisplay());  // set but empty names no display
  }
  {
    ScopedEnv x11("DISPLAY", ":99"), wayland("WAYLAND_DISPLAY", nullptr);
    EXPECT_TRUE(hasDisplay());
  }
  {
    ScopedEnv x11("DISPLAY", nullptr), wayland("WAYLAND_DISPLAY", "wayland-0");
    EXPECT_TRUE(hasDisplay());
  }
}

}  // namespace
}  // namespace oskara
