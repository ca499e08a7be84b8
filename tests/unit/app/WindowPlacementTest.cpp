// A restored window position stays as stored when the window can be reached on some screen,
// and comes back onto the primary screen otherwise.
#include <gtest/gtest.h>

#include "app/WindowPlacement.h"
#include "gui/headless/HeadlessBackend.h"

namespace {

using app::Position;
using app::ReachablePosition;

const std::vector<gui::Rect> kTwoScreens = {{0, 0, 1920, 1040}, {1920, 0, 1280, 1024}};

TEST(ReachablePosition, KeepsPositionsOnAnyScreen) {
  const Position cases[] = {{200, 200}, {387, 260}, {2500, 100}, {-100, 0}, {1900, 500}};
  for (Position p : cases) {
    EXPECT_EQ(ReachablePosition(p, 297, 198, kTwoScreens), p) << p.Left << "," << p.Top;
  }
}

TEST(ReachablePosition, BringsLostWindowsOntoThePrimaryScreen) {
  struct Case {
    Position stored, expected;
  };
  const Case cases[] = {
      {{5000, 100}, {1920 - 297, 100}},  // beyond the right-hand screen
      {{-3000, -3000}, {0, 0}},          // far up and left
      {{300, 1035}, {300, 1040 - 198}},  // caption strip below the work area
      {{3190, 300}, {1920 - 297, 300}},  // only a sliver of caption on the second screen
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReachablePosition(c.stored, 297, 198, kTwoScreens), c.expected)
        << c.stored.Left << "," << c.stored.Top;
  }
}

// The whole window, frame included, comes back onto the screen, not only its client area.
TEST(RestoredPosition, FitsTheWindowWithItsFrame) {
  gui::headless::HeadlessBackend backend(true);
  backend.SetScreens({{0, 0, 1280, 1024}});
  backend.SetFrameExtents({6, 29});
  gui::Form form("Form1");
  form.SetClientSize(297, 198);
  struct Case {
    Position stored, expected;
  };
  const Case cases[] = {
      {{5000, 5000}, {1280 - 303, 1024 - 227}},
      {{-5000, -5000}, {0, 0}},
      {{1000, 900}, {1000, 900}},  // caption reachable: as stored, even if the rest overhangs
  };
  for (const Case& c : cases) {
    EXPECT_EQ(app::RestoredPosition(c.stored, form, &backend), c.expected)
        << c.stored.Left << "," << c.stored.Top;
  }
  EXPECT_EQ(app::RestoredPosition({5000, 5000}, form, nullptr), (Position{5000, 5000}));
}

TEST(ReachablePosition, WithoutScreenInformationKeepsTheStoredValues) {
  EXPECT_EQ(ReachablePosition({-9000, 9000}, 297, 198, {}), (Position{-9000, 9000}));
}

}  // namespace
