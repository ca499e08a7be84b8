// A restored window position stays as stored when the window can be reached on some screen,
// and comes back onto the primary screen otherwise.
#include <gtest/gtest.h>

#include "app/WindowPlacement.h"

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

TEST(ReachablePosition, WithoutScreenInformationKeepsTheStoredValues) {
  EXPECT_EQ(ReachablePosition({-9000, 9000}, 297, 198, {}), (Position{-9000, 9000}));
}

}  // namespace
