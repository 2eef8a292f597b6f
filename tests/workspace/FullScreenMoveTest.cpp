// Predicting a snapshot after a window enters or leaves full screen, before the window
// server has made or removed the full-screen Space.

#include <gtest/gtest.h>

#include "Snapshots.h"
#include "platform/Foundation.h"
#include "support/Scene.h"
#include "workspace/DesktopFrames.h"

namespace trelliq {
namespace {

using namespace snapshots;
using IDs = std::vector<std::string>;
using Numbers = std::vector<std::uint32_t>;

class FullScreenMove : public ::testing::Test {
 protected:
  FullScreenMove() {
    DesktopFrames::reset();
    scene_.world.setDisplays({sim::makeDisplay(1, CGRect(0, 0, 1440, 900), "Built-in", 2, 30)});
  }
  ~FullScreenMove() override { DesktopFrames::reset(); }

  static void setDesktops(const char* value) { UserDefaults::standard().set("desktops", value); }
  static NSScreen mainScreen() { return NSScreen::screens().at(0); }
  static std::vector<std::int64_t> spaceIDs(const DisplayGroup& d) {
    std::vector<std::int64_t> ids;
    for (const SpaceGroup& g : d.spaces) ids.push_back(g.id);
    return ids;
  }

  Scene scene_;
  const AppInfo notes_ = app(100, "Notes");
  const AppInfo mail_ = app(200, "Mail");
};

TEST_F(FullScreenMove, IntoFullScreenAndBackBeforeTheNextLoad) {
  const CGRect frame(100, 80, 600, 500);
  Workspace w{{display("A",
                       {space(1, {tile(0, 1, {notes_}, {window(100, 10), window(100, 30)})}, true),
                        fullScreenSpace(fullScreenTile(0, 2, mail_, window(200, 40))),
                        space(3, {tile(0, 3, {notes_}, {window(100, 20, false, frame)})})},
                       std::nullopt, mainScreen())},
              {}};
  ASSERT_TRUE(w.moveFullScreen(20, FullScreen::enter, false));
  DisplayGroup& d = w.displays[0];
  EXPECT_EQ(spaceIDs(d), (std::vector<std::int64_t>{1, 2, -20})) << "Space 3 emptied and had no spare desktop";
  const SpaceGroup& full = d.spaces.back();
  EXPECT_TRUE(full.fullScreen);
  EXPECT_FALSE(full.current);
  EXPECT_EQ(full.label, "Notes");
  const Cluster& c = full.clusters.at(0);
  EXPECT_EQ(c.id, "0:fullScreen:20");
  EXPECT_EQ(c.nameKey, "window/20");
  EXPECT_EQ(c.lastWindow, 0);
  EXPECT_TRUE(c.windows.at(0).fullScreen);
  EXPECT_EQ(c.windows[0].bounds, CGRect(0, 30, 1440, 870)) << "the screen below its safe area";
  EXPECT_TRUE(DesktopFrames::frozen().contains(20));

  // Out again: the nearest ordinary Space before the provisional one, between 10 and 30.
  ASSERT_TRUE(w.moveFullScreen(20, FullScreen::leave, false));
  EXPECT_EQ(spaceIDs(d), (std::vector<std::int64_t>{1, 2}));
  const Cluster& back = d.spaces[0].clusters.at(0);
  EXPECT_EQ(numbers(back), (Numbers{10, 20, 30}));
  EXPECT_EQ(back.lastWindow, 1);
  EXPECT_EQ(back.windows[1].bounds, frame) << "where it was before";
  EXPECT_FALSE(back.windows[1].fullScreen);
}

TEST_F(FullScreenMove, TheOnlyWindowOfASpaceLeavesItsSpareDesktopAndAStoredNameNamesTheNewSpace) {
  Workspace w{{display("A", {space(1, {tile(0, 1, {notes_}, {window(100, 10)})}, true, desktop(0, 1, 1))})},
              {},
              {{"window/10", "Film"}}};
  ASSERT_TRUE(w.moveFullScreen(10, FullScreen::enter, false));
  EXPECT_EQ(tileIDs(w.displays[0]), (IDs{"0:1:desktop", "0:fullScreen:10"}));
  EXPECT_EQ(w.displays[0].spaces.back().label, "Film");
  EXPECT_EQ(w.displays[0].spaces.back().clusters[0].named, "Film");
}

TEST_F(FullScreenMove, OutOntoAnEmptySpaceTakesItsDesktopTileUnlessAlways) {
  const auto snapshot = [&] {
    return Workspace{{display("A", {space(1, {desktop(0, 1, 1)}, true, desktop(0, 1, 1)),
                                    fullScreenSpace(fullScreenTile(0, 2, notes_, window(100, 10)))})},
                     {}};
  };
  setDesktops("whenEmpty");
  Workspace w = snapshot();
  ASSERT_TRUE(w.moveFullScreen(10, FullScreen::leave, false));
  EXPECT_EQ(tileIDs(w.displays[0]), (IDs{"0:1:100"}));
  EXPECT_EQ(w.displays[0].spaces.size(), 1u) << "the full-screen Space went with its window";

  setDesktops("always");
  w = snapshot();
  ASSERT_TRUE(w.moveFullScreen(10, FullScreen::leave, false));
  EXPECT_EQ(tileIDs(w.displays[0]), (IDs{"0:1:desktop", "0:1:100"}));
}

TEST_F(FullScreenMove, OutWithAHiddenAppKeepsTheDesktopTile) {
  setDesktops("whenEmpty");
  sim::App chat;
  chat.name = "Chat";
  const AppInfo hidden = app(scene_.windowServer.addApp(chat), "Chat");
  ASSERT_TRUE(scene_.windowServer.setHidden(hidden.id, true));
  Workspace w{{display("A", {space(1, {desktop(0, 1, 1)}, true, desktop(0, 1, 1)),
                             fullScreenSpace(fullScreenTile(0, 2, hidden, window(hidden.id, 10)))})},
              {}};
  ASSERT_TRUE(w.moveFullScreen(10, FullScreen::leave, false));
  EXPECT_EQ(tileIDs(w.displays[0]), (IDs{"0:1:desktop", "0:1:" + std::to_string(hidden.id)}));
}

TEST_F(FullScreenMove, WithoutARememberedFrameTheWindowTakesTheMiddleOfItsDisplay) {
  Workspace w{{display("A",
                       {space(1, {tile(0, 1, {mail_}, {window(200, 20)})}),
                        fullScreenSpace(fullScreenTile(0, 2, notes_, window(100, 10)))},
                       std::nullopt, mainScreen())},
              {}};
  ASSERT_TRUE(w.moveFullScreen(10, FullScreen::leave, false));
  const Cluster& c = w.displays[0].spaces[0].clusters.at(1);
  EXPECT_EQ(c.id, "0:1:100");
  EXPECT_EQ(c.windows.at(0).bounds, CGRect(240, 150, 960, 600));
}

TEST_F(FullScreenMove, OutPrefersTheSpaceBeforeThenTheOneAfter) {
  Workspace w{{display("A", {fullScreenSpace(fullScreenTile(0, 2, notes_, window(100, 10))),
                             fullScreenSpace(fullScreenTile(0, 3, mail_, window(200, 20))),
                             space(4, {tile(0, 4, {mail_}, {window(200, 21)})})})},
              {}};
  ASSERT_TRUE(w.moveFullScreen(10, FullScreen::leave, false));
  EXPECT_EQ(tileIDs(w.displays[0]), (IDs{"0:fullScreen:20", "0:4:200", "0:4:100"}));
}

TEST_F(FullScreenMove, WhatCannotBePredictedChangesNothing) {
  const Workspace before{{display("A", {fullScreenSpace(fullScreenTile(0, 2, notes_, window(100, 10))),
                                        space(3, {tile(0, 3, {mail_}, {window(200, 20)}), desktop(0, 3, 1)})})},
                         {}};
  Workspace w = before;
  EXPECT_FALSE(w.moveFullScreen(99, FullScreen::enter, false)) << "not in the snapshot";
  EXPECT_FALSE(w.moveFullScreen(20, FullScreen::leave, false)) << "not in a full-screen tile";
  EXPECT_EQ(w.shape(), before.shape());

  // A window without a number never matches, even 0.
  Workspace unnumbered{{display("A", {space(1, {tile(0, 1, {notes_}, {window(100, std::nullopt)})})})}, {}};
  EXPECT_FALSE(unnumbered.moveFullScreen(0, FullScreen::enter, false));

  // No ordinary Space on the display.
  Workspace only{{display("A", {fullScreenSpace(fullScreenTile(0, 2, notes_, window(100, 10)))})}, {}};
  EXPECT_FALSE(only.moveFullScreen(10, FullScreen::leave, false));
  EXPECT_EQ(only.displays[0].spaces.size(), 1u);

  // With screen tiles, a target Space with neither a screen tile nor a desktop tile.
  Workspace odd{{display("A", {space(1, {tile(0, 1, {mail_}, {window(200, 20)})}),
                               fullScreenSpace(fullScreenTile(0, 2, notes_, window(100, 10)))})},
                {}};
  const auto shape = odd.shape();
  EXPECT_FALSE(odd.moveFullScreen(10, FullScreen::leave, true));
  EXPECT_EQ(odd.shape(), shape);
}

TEST_F(FullScreenMove, ScreenTilesGainTheWindowAsTheFrontOne) {
  const WindowInfo first = window(200, 20, false, CGRect(0, 0, 100, 100));
  Workspace w{{display("A", {space(1, {screenTile(0, 1, 1, {mail_}, {first})}, true),
                             fullScreenSpace(fullScreenTile(0, 2, notes_, window(100, 10)))})},
              {}};
  w.displays[0].spaces[0].clusters[0].lastOnDesktop = true;
  ASSERT_TRUE(w.moveFullScreen(10, FullScreen::leave, true));
  ASSERT_EQ(w.displays[0].spaces.size(), 1u);
  const Cluster& c = w.displays[0].spaces[0].clusters.at(0);
  EXPECT_EQ(numbers(c), (Numbers{20, 10}));
  EXPECT_EQ(c.lastWindow, 1);
  ASSERT_EQ(c.stacking.size(), 2u);
  EXPECT_EQ(c.stacking.back(), c.windows[1].id) << "drawn in front";
  EXPECT_FALSE(c.lastOnDesktop);
  EXPECT_EQ(c.appNames(), "Mail & Notes");
}

TEST_F(FullScreenMove, ScreenTilesTurnAnEmptyDesktopIntoAPictureOfTheWindow) {
  Cluster named = desktop(0, 1, 3, "Work");
  Workspace w{{display("A", {space(1, {named}, true), fullScreenSpace(fullScreenTile(0, 2, notes_, window(100, 10)))})},
              {}};
  ASSERT_TRUE(w.moveFullScreen(10, FullScreen::leave, true));
  const Cluster& c = w.displays[0].spaces.at(0).clusters.at(0);
  EXPECT_EQ(c.id, "0:1:screen");
  EXPECT_TRUE(c.screen);
  EXPECT_EQ(c.desktopName, "Desktop 3");
  EXPECT_EQ(c.nameKey, "desktop/uuid-1");
  EXPECT_EQ(c.named, "Work");
  EXPECT_EQ(c.stacking, (std::vector<ValueID>{c.windows.at(0).id}));
  EXPECT_EQ(c.name(), "Notes") << "a screen tile is named by its apps";
}

TEST_F(FullScreenMove, ScreenTilesIntoFullScreenMakeAPictureNamedByTheApps) {
  Workspace w{{display("A", {space(1, {screenTile(0, 1, 1, {notes_}, {window(100, 10), window(100, 11)})})})}, {}};
  ASSERT_TRUE(w.moveFullScreen(11, FullScreen::enter, true));
  const SpaceGroup& full = w.displays[0].spaces.back();
  const Cluster& c = full.clusters.at(0);
  EXPECT_EQ(c.id, "0:fullScreen:11");
  EXPECT_TRUE(c.screen);
  EXPECT_TRUE(c.fullScreen);
  EXPECT_EQ(c.desktopName, "Notes");
  EXPECT_EQ(c.stacking.size(), 1u);
  EXPECT_EQ(numbers(w.displays[0].spaces[0].clusters[0]), (Numbers{10}));
}

}  // namespace
}  // namespace trelliq
