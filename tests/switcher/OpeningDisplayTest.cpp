// Which display a session opens on, and whether a click landed on the bare desktop.

#include <gtest/gtest.h>

#include "Snapshots.h"
#include "platform/CGWindow.h"
#include "support/Scene.h"
#include "switcher/model/OpeningDisplay.h"

namespace trelliq {
namespace {

using namespace test;
using platform::PlistArray;
using platform::PlistDictionary;

// Three side-by-side displays of 100 × 100 points; display n holds window 10 + n.
Workspace row() {
  std::vector<DisplayGroup> displays;
  for (int d = 0; d < 3; ++d) {
    displays.push_back(display("D" + std::to_string(d),
                               {space(d + 1, {appTile(d, d + 1, app(d + 1), {window(10 + d, d + 1)}, 0)}, true)},
                               std::nullopt, CGRect(100.0 * d, 0, 100, 100)));
  }
  return workspace(std::move(displays));
}

OpeningHints afterSession(double end) {
  OpeningHints h;
  h.lastSessionEnd = end;
  h.pointer = {-50, -50};  // on no display
  return h;
}

class Opening : public ::testing::Test {
 protected:
  Scene scene_;
};

TEST_F(Opening, ScreenFramesHoldTheirLeftAndTopEdges) {
  const Workspace w = row();
  struct Case {
    CGPoint p;
    std::optional<int> display;
  };
  for (const Case& c : std::vector<Case>{{{0, 50}, 0},
                                         {{99.5, 50}, 0},
                                         {{100, 50}, 1},
                                         {{50, 100}, 0},
                                         {{50, 0}, std::nullopt},
                                         {{300, 50}, std::nullopt},
                                         {{-1, 50}, std::nullopt}}) {
    EXPECT_EQ(OpeningDisplay::displayAt(c.p, w), c.display) << c.p.x << ", " << c.p.y;
  }
}

TEST_F(Opening, TheLaterOfADesktopClickAndAFocusWinsAndTheClickOnATie) {
  const Workspace w = row();
  OpeningHints h = afterSession(100);
  h.lastDesktopClick = OpeningHints::DesktopClick{{150, 50}, 200};
  h.latestFocus = Recency::Focus{12, 200};
  EXPECT_EQ(OpeningDisplay::openingDisplay(w, h), 1);
  h.latestFocus->at = 200.5;
  EXPECT_EQ(OpeningDisplay::openingDisplay(w, h), 2);
  h.lastDesktopClick->at = 201;
  EXPECT_EQ(OpeningDisplay::openingDisplay(w, h), 1);
}

TEST_F(Opening, HintsFromBeforeTheLastSessionAreStale) {
  const Workspace w = row();
  OpeningHints h = afterSession(100);
  h.lastDesktopClick = OpeningHints::DesktopClick{{150, 50}, 99};
  h.latestFocus = Recency::Focus{12, 100};  // not later than the end
  h.lastDisplayID = "D0";
  EXPECT_EQ(OpeningDisplay::openingDisplay(w, h), 0);
  h.lastSessionEnd.reset();  // no session yet: everything counts
  EXPECT_EQ(OpeningDisplay::openingDisplay(w, h), 2);
}

TEST_F(Opening, WithoutFreshHintsTheLastDisplayThenThePointerDecide) {
  const Workspace w = row();
  OpeningHints h = afterSession(100);
  h.latestFocus = Recency::Focus{99, 150};                          // a window no longer in the snapshot
  h.lastDesktopClick = OpeningHints::DesktopClick{{500, 50}, 150};  // a click on no display
  h.lastDisplayID = "D2";
  EXPECT_EQ(OpeningDisplay::openingDisplay(w, h), 2);
  h.lastDisplayID = "unplugged";
  h.pointer = {120, 30};
  EXPECT_EQ(OpeningDisplay::openingDisplay(w, h), 1);
  h.pointer = {1000, 1000};
  EXPECT_EQ(OpeningDisplay::openingDisplay(w, h), 0);
}

TEST_F(Opening, AppSessionsOpenWhereTheAppWasUsedLast) {
  Workspace w = row();
  w.displays[2].spaces[0].clusters[0].windows.push_back(window(30, 3));
  OpeningHints h = afterSession(100);
  h.lastDisplayID = "D1";
  Recency recency;
  // Nothing used yet: exactly the ordinary choice.
  EXPECT_EQ(OpeningDisplay::appDisplay(w, h, recency), OpeningDisplay::openingDisplay(w, h));
  recency.touch(30, false);
  recency.touch(10, false);
  EXPECT_EQ(OpeningDisplay::appDisplay(w, h, recency), 0);
  recency.touch(30, false);
  EXPECT_EQ(OpeningDisplay::appDisplay(w, h, recency), 2);
  // The same window on two displays: the earlier one.
  w.displays[1].spaces[0].clusters[0].windows.push_back(window(30, 2));
  EXPECT_EQ(OpeningDisplay::appDisplay(w, h, recency), 1);
}

// ---- Clicks on the desktop ----------------------------------------------------------------

PlistDictionary windowEntry(CGRect bounds, int layer = 0, double alpha = 1) {
  return {{kCGWindowLayer, layer},
          {kCGWindowAlpha, alpha},
          {kCGWindowBounds, CGRectCreateDictionaryRepresentation(bounds)},
          {kCGWindowNumber, 1}};
}

class DesktopClicks : public Opening {
 protected:
  // A 1000 × 800 screen with a 25-point menu bar and a 60-point Dock; a second screen to its right.
  const std::vector<NSScreen> screens_{screen(1, CGRect(0, 0, 1000, 800), CGRect(0, 60, 1000, 715)),
                                       screen(2, CGRect(1000, 0, 500, 400))};
  // Top-left quarter of the first screen, in window-server coordinates.
  const PlistArray covered_{PlistDictionary(windowEntry(CGRect(0, 0, 500, 400)))};
};

TEST_F(DesktopClicks, AClickOnTheMenuBarTheDockOrNoScreenIsNotOnTheDesktop) {
  EXPECT_FALSE(OpeningDisplay::isOnDesktop({500, 790}, screens_, PlistArray{}));  // menu bar
  EXPECT_FALSE(OpeningDisplay::isOnDesktop({500, 30}, screens_, PlistArray{}));   // Dock
  EXPECT_FALSE(OpeningDisplay::isOnDesktop({2000, 30}, screens_, PlistArray{}));
  EXPECT_FALSE(OpeningDisplay::isOnDesktop({500, 400}, {}, PlistArray{}));
  EXPECT_TRUE(OpeningDisplay::isOnDesktop({500, 400}, screens_, PlistArray{}));
  EXPECT_TRUE(OpeningDisplay::isOnDesktop({1200, 200}, screens_, PlistArray{}));
}

TEST_F(DesktopClicks, WindowsAreMatchedInWindowServerCoordinatesAndAnUnreadableListHidesNothing) {
  // 700 points up from the bottom is 100 points down from the top: under the window.
  EXPECT_FALSE(OpeningDisplay::isOnDesktop({100, 700}, screens_, covered_));
  EXPECT_TRUE(OpeningDisplay::isOnDesktop({100, 100}, screens_, covered_));

  EXPECT_TRUE(OpeningDisplay::isOnDesktop({100, 700}, screens_, std::nullopt));
  EXPECT_FALSE(OpeningDisplay::isOnDesktop({500, 790}, screens_, std::nullopt));  // still not the menu bar
}

TEST_F(DesktopClicks, OnlyVisibleOrdinaryWindowsHideTheDesktop) {
  const CGRect everywhere(0, 0, 1000, 800);
  EXPECT_TRUE(
      OpeningDisplay::isOnDesktop({100, 700}, screens_, PlistArray{PlistDictionary(windowEntry(everywhere, 0, 0))}));
  EXPECT_TRUE(
      OpeningDisplay::isOnDesktop({100, 700}, screens_, PlistArray{PlistDictionary(windowEntry(everywhere, 3))}));
  PlistDictionary noBounds = windowEntry(everywhere);
  noBounds.erase(kCGWindowBounds);
  PlistDictionary textLayer = windowEntry(everywhere);
  textLayer[kCGWindowLayer] = "0";
  EXPECT_TRUE(OpeningDisplay::isOnDesktop({100, 700}, screens_, PlistArray{noBounds, textLayer, "not a window"}));
}

}  // namespace
}  // namespace trelliq
