// The screen's window: how the displays' arrangement fits it, how its points lead back to
// the desk (hot corners included), and which Mac keys the keyboard stands for.

#include <gtest/gtest.h>

#include "platform/screen/ScreenKeys.h"
#include "platform/screen/ScreenLayout.h"

namespace {

using screen::DisplayPlace;

// A 1512 × 982 display with a 2560 × 1440 one to its right, tops aligned.
const std::vector<DisplayPlace> kTwo = {{1, CGRect(0, 0, 1512, 982)}, {3, CGRect(1512, 0, 2560, 1440)}};

TEST(ScreenLayout, BottomLeftFramesTurnIntoTopLeftOnesAboutTheFirstDisplay) {
  platform::ScreenDescription main, above;
  main.displayID = 1;
  main.frame = CGRect(0, 0, 1512, 982);
  above.displayID = 2;
  above.frame = CGRect(100, 982, 1920, 1080);  // standing on top of the first
  const auto places = screen::topLeftFrames({main, above});
  ASSERT_EQ(places.size(), 2u);
  EXPECT_EQ(places[0].frame, CGRect(0, 0, 1512, 982));
  EXPECT_EQ(places[1].frame, CGRect(100, -1080, 1920, 1080));
  EXPECT_TRUE(screen::topLeftFrames({}).empty());
}

TEST(ScreenLayout, TheArrangementIsScaledToFitAndCentred) {
  const auto layout = screen::fit(kTwo, 1000, 800, 10);
  // 4072 points wide into 980 pixels: the width decides.
  EXPECT_NEAR(layout.scale, 980.0 / 4072, 1e-9);
  ASSERT_EQ(layout.displays.size(), 2u);
  const CGRect& left = layout.displays[0].area;
  const CGRect& right = layout.displays[1].area;
  EXPECT_NEAR(left.minX(), 10, 1e-9);
  EXPECT_NEAR(right.maxX(), 990, 1e-9);
  EXPECT_NEAR(left.maxX(), right.minX(), 1e-9) << "side by side, as arranged";
  EXPECT_NEAR(left.minY(), right.minY(), 1e-9);
  EXPECT_NEAR((800 - right.height()) / 2, right.minY(), 1e-9) << "centred in height";
}

TEST(ScreenLayout, ATinyOrEmptyWindowFitsNothingWithoutDividingByZero) {
  struct Case {
    double width, height;
  };
  for (const Case c : {Case{0, 0}, Case{1, 1}, Case{16, 500}, Case{500, 16}, Case{-5, 300}}) {
    const auto layout = screen::fit(kTwo, c.width, c.height, 8);
    EXPECT_EQ(layout.scale, 0) << c.width << "x" << c.height;
    EXPECT_TRUE(layout.displays.empty());
    EXPECT_FALSE(screen::toDesk(layout, 0, 0, 6));
  }
  EXPECT_EQ(screen::fit({}, 800, 600, 8).scale, 0);
  EXPECT_EQ(screen::fit({{1, CGRect(0, 0, 0, 0)}}, 800, 600, 8).scale, 0);
}

TEST(ScreenLayout, WindowPointsLeadToDeskPointsAndCornersSnap) {
  const auto layout = screen::fit(kTwo, 4072, 1440, 0);  // one pixel per point
  ASSERT_NEAR(layout.scale, 1, 1e-9);
  struct Case {
    double x, y;
    std::optional<CGPoint> desk;
  };
  const Case cases[] = {
      {700, 500, CGPoint{700, 500}},        // inside the first display
      {2000, 700, CGPoint{2000, 700}},      // inside the second
      {100, 1200, std::nullopt},            // below the first display: off the desk
      {2, 3, CGPoint{0, 0}},                // the first display's top-left corner
      {1509, 979, CGPoint{1511, 981}},      // its bottom-right corner (the last point in it)
      {4070, 2, CGPoint{4071, 0}},          // the second's top-right corner
      {1514, 1438, CGPoint{1512, 1439}},    // the second's bottom-left corner
      {20, 3, CGPoint{20, 3}},              // near an edge but not a corner
  };
  for (const Case& c : cases) {
    const auto desk = screen::toDesk(layout, c.x, c.y, 6);
    ASSERT_EQ(desk.has_value(), c.desk.has_value()) << c.x << "," << c.y;
    if (desk) {
      EXPECT_NEAR(desk->x, c.desk->x, 1e-9) << c.x << "," << c.y;
      EXPECT_NEAR(desk->y, c.desk->y, 1e-9) << c.x << "," << c.y;
    }
  }
}

TEST(ScreenKeys, CtrlStandsForCommandAndAltForOption) {
  struct Case {
    Qt::KeyboardModifiers held;
    CGEventFlags flags;
  };
  const Case cases[] = {
      {Qt::ControlModifier, kCGEventFlagMaskCommand},
      {Qt::AltModifier, kCGEventFlagMaskAlternate},
      {Qt::MetaModifier, kCGEventFlagMaskControl},
      {Qt::ShiftModifier | Qt::ControlModifier, kCGEventFlagMaskShift | kCGEventFlagMaskCommand},
      {Qt::NoModifier, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(screen::macFlags(c.held), c.flags) << c.held;
  EXPECT_EQ(screen::macModifier(Qt::Key_Control)->key, 55);  // the left ⌘
  EXPECT_EQ(screen::macModifier(Qt::Key_Control)->flag, kCGEventFlagMaskCommand);
  EXPECT_EQ(screen::macModifier(Qt::Key_Alt)->key, 58);
  EXPECT_FALSE(screen::macModifier(Qt::Key_Tab));
}

TEST(ScreenKeys, KeysLandOnTheMacsKeyCodes) {
  const std::pair<int, CGKeyCode> cases[] = {{Qt::Key_Tab, 48},    {Qt::Key_Backtab, 48}, {Qt::Key_Escape, 53},
                                             {Qt::Key_QuoteLeft, 50}, {Qt::Key_Return, 36}, {Qt::Key_Left, 123},
                                             {Qt::Key_A, 0},       {Qt::Key_Q, 12},       {Qt::Key_Comma, 43}};
  for (const auto& [qt, mac] : cases) EXPECT_EQ(screen::macKey(qt), mac) << qt;
  EXPECT_FALSE(screen::macKey(Qt::Key_Control)) << "modifiers go as flag changes";
  EXPECT_FALSE(screen::macKey(Qt::Key_MediaPlay));
}

}  // namespace
