// Removing windows from a snapshot keeps it in the shape a load gives: no app without
// windows in a tile, no empty tile or Space, spare desktops where nothing is visible,
// and no front tile that is gone.

#include <gtest/gtest.h>

#include "Snapshots.h"
#include "support/Scene.h"

namespace trelliq {
namespace {

using namespace snapshots;
using IDs = std::vector<std::string>;
using Numbers = std::vector<std::uint32_t>;

class SnapshotRemoval : public ::testing::Test {
 protected:
  static auto number(std::uint32_t n) {
    return [n](const WindowInfo& w) { return w.windowID == n; };
  }
  Scene scene_;
  const AppInfo notes_ = app(100, "Notes");
  const AppInfo mail_ = app(200, "Mail");
};

TEST_F(SnapshotRemoval, TheLastWindowOfATileTakesTheTileAndItsSpace) {
  Workspace w{{display("A",
                       {space(1, {tile(0, 1, {notes_}, {window(100, 10)})}, true),
                        space(2, {tile(0, 2, {mail_}, {window(200, 20)})}, false, desktop(0, 2, 2))},
                       "0:1:100")},
              {mail_},
              {{"desktop/x", "Work"}},
              {2}};
  w.removeWindows(number(10));
  w.removeWindows(number(20));
  ASSERT_EQ(w.displays.size(), 1u) << "displays are never removed";
  const DisplayGroup& d = w.displays[0];
  ASSERT_EQ(d.spaces.size(), 1u) << "the Space without a spare desktop is gone";
  EXPECT_EQ(d.spaces[0].id, 2);
  EXPECT_EQ(tileIDs(d), (IDs{"0:2:desktop"})) << "the other Space shows its spare desktop";
  EXPECT_FALSE(d.here) << "the front tile is gone";
  // What the snapshot carries besides the displays stays.
  EXPECT_EQ(w.tray.size(), 1u);
  EXPECT_EQ(w.names.size(), 1u);
  EXPECT_EQ(w.appDesktops, (std::set<std::int64_t>{2}));
}

TEST_F(SnapshotRemoval, AnEmptiedScreenTileStaysAsItsSpacesDesktopButAFullScreenOneGoesWithItsSpace) {
  Cluster screen = screenTile(0, 5, 3, {notes_, mail_}, {window(100, 10), window(200, 20)});
  screen.named = "Work";
  screen.lastOnDesktop = true;
  Workspace w{{display("A", {space(5, {screen}, true)}, "0:5:screen")}, {}};
  w.removeWindows([](const WindowInfo&) { return true; });
  ASSERT_EQ(w.displays[0].spaces.size(), 1u);
  const Cluster& left = w.displays[0].spaces[0].clusters.at(0);
  EXPECT_EQ(left.id, "0:5:screen");
  EXPECT_TRUE(left.isDesktop());
  EXPECT_FALSE(left.screen);
  EXPECT_FALSE(left.lastOnDesktop);
  EXPECT_TRUE(left.stacking.empty());
  EXPECT_FALSE(left.lastWindow);
  EXPECT_EQ(left.name(), "Work") << "shown as the named desktop";
  EXPECT_EQ(w.displays[0].here, "0:5:screen");

  // A full-screen tile drawn as a picture goes with its Space instead.
  Cluster full = fullScreenTile(0, 9, notes_, window(100, 30));
  full.screen = true;  // as with screen tiles on
  Workspace withFull{{display("A", {space(1, {tile(0, 1, {mail_}, {window(200, 20)})}), fullScreenSpace(full)})}, {}};
  withFull.removeWindows(number(30));
  ASSERT_EQ(withFull.displays[0].spaces.size(), 1u);
  EXPECT_EQ(withFull.displays[0].spaces[0].id, 1);
}

TEST_F(SnapshotRemoval, ThePreselectionFollowsItsWindowAndOneOutOfRangeIsDroppedNotRead) {
  Workspace w{
      {display("A", {space(1, {tile(0, 1, {notes_}, {window(100, 10), window(100, 11), window(100, 12)}, 2)})})}, {}};
  w.removeWindows(number(10));
  const Cluster& c = w.displays[0].spaces[0].clusters[0];
  EXPECT_EQ(numbers(c), (Numbers{11, 12}));
  EXPECT_EQ(c.lastWindow, 1) << "still window 12";
  w.removeWindows(number(12));
  EXPECT_FALSE(w.displays[0].spaces[0].clusters[0].lastWindow) << "the preselected window went";

  // One out of range is dropped, not read.
  Workspace beyond{{display("A", {space(1, {tile(0, 1, {notes_}, {window(100, 10)}, 5)})})}, {}};
  beyond.removeWindows([](const WindowInfo&) { return false; });
  EXPECT_FALSE(beyond.displays[0].spaces[0].clusters[0].lastWindow);
}

TEST_F(SnapshotRemoval, AnAppLeavesASharedTileWithItsLastWindow) {
  const WindowInfo a = window(100, 10), b = window(200, 20), c = window(200, 21);
  Workspace w{{display("A", {space(4, {screenTile(0, 4, 1, {notes_, mail_}, {a, b, c})})})}, {}};
  w.removeWindows([](const WindowInfo& x) { return x.pid == 100; });
  const Cluster& left = w.displays[0].spaces[0].clusters[0];
  ASSERT_EQ(left.apps.size(), 1u);
  EXPECT_EQ(left.apps[0].id, 200);
  EXPECT_EQ(left.stacking, (std::vector<ValueID>{b.id, c.id}));
  EXPECT_EQ(left.name(), "Mail");
}

TEST_F(SnapshotRemoval, ASpaceWithNothingVisibleShowsItsSpareDesktopOnce) {
  // Untouched Spaces are tidied too: one whose only window is minimized gains its spare
  // desktop at the front, and a second pass does not add it again.
  Workspace w{{display("A", {space(1, {tile(0, 1, {notes_}, {window(100, 10, true)})}, false, desktop(0, 1, 1)),
                             space(2, {tile(0, 2, {mail_}, {window(200, 20)})}, false, desktop(0, 2, 2))})},
              {}};
  w.removeWindows([](const WindowInfo&) { return false; });
  EXPECT_EQ(tileIDs(w.displays[0]), (IDs{"0:1:desktop", "0:1:100", "0:2:200"}));
  w.removeWindows([](const WindowInfo&) { return false; });
  EXPECT_EQ(tileIDs(w.displays[0]), (IDs{"0:1:desktop", "0:1:100", "0:2:200"}));
}

}  // namespace
}  // namespace trelliq
