// Stepping through windows: inside a tile, across tiles, back to the most recent stop,
// between a whole-Space tile's window and its desktop, and over an app's windows.

#include <gtest/gtest.h>

#include "Snapshots.h"
#include "support/Scene.h"
#include "switcher/model/SwitcherModel.h"
#include "workspace/Recency.h"

namespace trelliq {
namespace {

using namespace test;

constexpr int kDesktop = SwitcherModel::desktopPick;

class WindowStepping : public ::testing::Test {
 protected:
  // Display 0, Space 1 (current): app tile A (10, 11), whole-Space tile W (20, 21 minimized,
  // 22), app tile B (30). Space 2: the desktop tile.
  static Workspace desk() {
    return workspace(
        {display("D0",
                 {space(1,
                        {appTile(0, 1, app(1), {window(10, 1), window(11, 1)}, 0),
                         screenTile(0, 1, {app(2)}, {window(20, 2), window(21, 2, true), window(22, 2)}, 0),
                         appTile(0, 1, app(3), {window(30, 3)}, 0)},
                        true),
                  space(2, {desktopTile(0, 2)})},
                 "0:1:1")},
        {app(9), app(8)});
  }
  void touch(std::uint32_t window) { Recency::shared().touch(window, false); }
  std::pair<std::optional<std::string>, std::optional<int>> where() const {
    auto pick = model_.windowPick().find(0);
    return {model_.selectedID(0), pick == model_.windowPick().end() ? std::nullopt : std::optional(pick->second)};
  }
  using Stop = std::pair<std::optional<std::string>, std::optional<int>>;
  static Stop at(std::string id, std::optional<int> pick = std::nullopt) { return {std::move(id), pick}; }

  Scene scene_;
  SwitcherModel model_;
};

TEST_F(WindowStepping, CycleStopsPutTheDesktopFirstWhereItBelongs) {
  Workspace w = desk();
  Cluster& whole = w.displays[0].spaces[0].clusters[1];
  model_.reset(w, 0);
  EXPECT_EQ(model_.cycleStops(whole, 0), (std::vector<int>{0, 2}));  // not the front tile
  whole.lastOnDesktop = true;
  EXPECT_EQ(model_.cycleStops(whole, 0), (std::vector<int>{0, 2}));
  w.displays[0].here = whole.id;
  model_.reset(w, 0);
  EXPECT_EQ(model_.cycleStops(whole, 0), (std::vector<int>{kDesktop, 0, 2}));
  EXPECT_EQ(model_.cycleStops(whole, 3), (std::vector<int>{0, 2}));  // no such display
  whole.fullScreen = true;
  EXPECT_EQ(model_.cycleStops(whole, 0), (std::vector<int>{0, 2}));

  // Alone on its display with one window: the desktop joins even without the last focus.
  Cluster lone = screenTile(0, 1, {app(2)}, {window(20, 2), window(21, 2, true)});
  model_.reset(workspace({display("D0", {space(1, {lone})})}), 0);
  EXPECT_EQ(model_.cycleStops(lone, 0), (std::vector<int>{kDesktop, 0}));
  lone.windows[1].minimized = false;
  EXPECT_EQ(model_.cycleStops(lone, 0), (std::vector<int>{0, 1}));
  lone.windows = {window(20, 2, true)};
  EXPECT_EQ(model_.cycleStops(lone, 0), (std::vector<int>{kDesktop}));
}

TEST_F(WindowStepping, StepWindowCyclesInsideTheSelectedTile) {
  model_.reset(desk(), 0);
  model_.stepWindow(1);
  EXPECT_EQ(where(), at("0:1:1", 1));  // from its last window 0
  model_.stepWindow(1);
  EXPECT_EQ(where(), at("0:1:1", 0));

  model_.select("0:1:screen", 0);
  model_.windowPick.set({{0, kDesktop}});
  model_.stepWindow(1);
  EXPECT_EQ(where(), at("0:1:screen", 0));
  model_.windowPick.set({{0, kDesktop}});
  model_.stepWindow(-1);
  EXPECT_EQ(where(), at("0:1:screen", 2));
  model_.stepWindow(-1);
  EXPECT_EQ(where(), at("0:1:screen", 1));  // minimized windows count here

  model_.select("0:1:3", 0);
  model_.windowPick.set({{0, 0}});
  model_.stepWindow(1);
  EXPECT_EQ(where(), at("0:1:3", 0));  // a single window: nothing
  model_.onTray.set(true);
  model_.select("0:1:1", 0);
  model_.onTray.set(true);
  model_.stepWindow(1);
  EXPECT_EQ(model_.windowPick().count(0), 0u);
}

TEST_F(WindowStepping, StepWindowAcrossWalksStopsThenTiles) {
  model_.reset(desk(), 0);
  const std::vector<Stop> forward = {at("0:1:1", 1),    at("0:1:screen", 0), at("0:1:screen", 2), at("0:1:3"),
                                     at("0:2:desktop"), at("0:1:1"),         at("0:1:1", 1)};
  for (const Stop& expected : forward) {
    model_.stepWindowAcross(1);
    EXPECT_EQ(where(), expected);
  }
  // Backwards into a whole-Space tile lands on its last stop.
  model_.select("0:1:3", 0);
  model_.stepWindowAcross(-1);
  EXPECT_EQ(where(), at("0:1:screen", 2));
  model_.stepWindowAcross(-1);
  EXPECT_EQ(where(), at("0:1:screen", 0));
  model_.stepWindowAcross(-1);
  EXPECT_EQ(where(), at("0:1:1"));  // an app tile keeps no pick: its last window
}

TEST_F(WindowStepping, StepWindowAcrossOnTheTrayOrWithoutTilesStepsSomethingElse) {
  model_.reset(desk(), 0);
  model_.enterTray();
  model_.stepWindowAcross(1);
  EXPECT_EQ(model_.traySelection(), 8);
  EXPECT_TRUE(model_.selection().empty());

  Workspace bare = desk();
  bare.displays[0].spaces.clear();
  model_.reset(bare, 0);
  model_.enterTray();
  model_.stepWindowAcross(1);  // through stepCluster, which steps the tray
  EXPECT_EQ(model_.traySelection(), 8);
}

TEST_F(WindowStepping, StepBackWindowNeverReturnsTheCurrentStop) {
  model_.reset(desk(), 0);
  touch(22);
  touch(10);  // the window the user is on
  model_.stepBackWindow();
  EXPECT_EQ(where(), at("0:1:screen", 2));

  model_.reset(desk(), 0);
  touch(11);  // now the most recent, but in the front tile: another window of it is fine
  touch(10);
  model_.stepBackWindow();
  EXPECT_EQ(where(), at("0:1:1", 1));

  Workspace w = desk();
  w.displays[0].here = "0:2:desktop";
  model_.reset(w, 0);
  Recency::shared().touchDesktop(2);
  touch(30);
  Recency::shared().touchDesktop(1);  // the whole-Space tile's desktop
  model_.stepBackWindow();
  EXPECT_EQ(where(), at("0:1:screen", kDesktop));

  // From the desktop the user is on, that desktop is skipped.
  scene_.restart();
  model_.reset(w, 0);
  touch(30);
  Recency::shared().touchDesktop(2);
  model_.stepBackWindow();
  EXPECT_EQ(where(), at("0:1:3", 0));

  // Nothing used: a step across; no display: nothing to step.
  scene_.restart();
  model_.reset(desk(), 0);
  model_.stepBackWindow();
  EXPECT_EQ(where(), at("0:1:1", 1));
  model_.reset(desk(), 4);
  model_.stepBackWindow();
  EXPECT_TRUE(model_.selection().empty());
}

TEST_F(WindowStepping, ToggleDesktopTwiceReturnsToTheSameWindow) {
  model_.reset(desk(), 0);
  model_.select("0:1:screen", 0);
  model_.windowPick.set({{0, 2}});
  model_.toggleDesktop();
  EXPECT_EQ(where(), at("0:1:screen", kDesktop));
  EXPECT_TRUE(model_.landsOnDesktop(0));
  model_.toggleDesktop();
  EXPECT_EQ(where(), at("0:1:screen", 2));

  // From the desktop with nothing remembered for the tile: its first stop.
  Workspace w = desk();
  Cluster& whole = w.displays[0].spaces[0].clusters[1];
  whole.lastWindow.reset();
  whole.lastOnDesktop = true;
  model_.reset(w, 0);
  model_.select("0:1:screen", 0);
  model_.toggleDesktop();
  EXPECT_EQ(where(), at("0:1:screen", 0));
}

TEST_F(WindowStepping, ToggleDesktopFollowsTheWindowLeftByItsNumber) {
  // A window before it goes away: the same window comes back, at its new index.
  model_.reset(desk(), 0);
  model_.select("0:1:screen", 0);
  model_.windowPick.set({{0, 2}});
  model_.toggleDesktop();
  model_.removeWindow(21);
  model_.toggleDesktop();
  ASSERT_NE(model_.focusedTarget(), nullptr);
  EXPECT_EQ(model_.focusedTarget()->windowID, 22u);

  // The window itself goes: the tile's last window, not whatever took its index.
  Workspace w = desk();
  w.displays[0].spaces[0].clusters[1].windows[1].minimized = false;
  model_.reset(w, 0);
  model_.select("0:1:screen", 0);
  model_.windowPick.set({{0, 1}});
  model_.toggleDesktop();
  model_.removeWindow(21);
  model_.toggleDesktop();
  ASSERT_NE(model_.focusedTarget(), nullptr);
  EXPECT_EQ(model_.focusedTarget()->windowID, 20u);
}

TEST_F(WindowStepping, ToggleDesktopOnlyForWholeSpaceTilesWithAWindow) {
  Workspace w = desk();
  w.displays[0].spaces[0].clusters.push_back(screenTile(0, 1, {app(4)}, {window(40, 4, true)}));
  w.displays[0].spaces[0].clusters.back().id = "0:1:only-minimized";
  model_.reset(w, 0);
  const auto idle = [&](const std::string& id) {
    model_.select(id, 0);
    const auto before = where();
    model_.toggleDesktop();
    EXPECT_EQ(where(), before) << id;
  };
  idle("0:1:1");
  idle("0:1:only-minimized");
  model_.select("0:1:screen", 0);
  model_.onTray.set(true);
  model_.toggleDesktop();
  EXPECT_EQ(model_.windowPick().count(0), 0u);
}

TEST_F(WindowStepping, PickWindowByNumber) {
  model_.reset(desk(), 0);
  model_.select("0:1:screen", 0);
  model_.pickWindow(2);
  EXPECT_EQ(where(), at("0:1:screen", 1));  // minimized windows count
  for (int k : {0, 4, -1}) {
    model_.pickWindow(k);
    EXPECT_EQ(where(), at("0:1:screen", 1)) << k;
  }
  model_.select("0:1:3", 0);
  model_.pickWindow(1);
  EXPECT_EQ(where(), at("0:1:3"));  // a single window needs no pick
}

TEST_F(WindowStepping, AppWindowStopsListDesktopsThenWindows) {
  Workspace w = desk();
  w.appDesktops = {1};
  model_.reset(w, 0);
  Recency::shared().touchDesktop(1);
  touch(20);
  const std::vector<AppWindowStop> expected = {
      {"0:1:1", 0, 0},      {"0:1:1", 1, 0}, {"0:1:screen", kDesktop, 1}, {"0:1:screen", 0, 2},
      {"0:1:screen", 2, 0}, {"0:1:3", 0, 0}, {"0:2:desktop", kDesktop, 0}};
  EXPECT_EQ(model_.appWindowStops(0), expected);
  EXPECT_TRUE(model_.appWindowStops(1).empty());

  w.appDesktops.clear();
  EXPECT_EQ(SwitcherModel::appWindowStops(w.displays[0], {}).size(), expected.size() - 1);
}

TEST_F(WindowStepping, StepAppWindowWalksTheStopsAndLeavesTheTray) {
  model_.reset(desk(), 0);
  model_.onTray.set(true);
  model_.stepAppWindow(1);
  EXPECT_EQ(where(), at("0:1:1", 1));  // from its current window 0
  EXPECT_FALSE(model_.onTray());
  model_.select("0:2:desktop", 0);
  model_.stepAppWindow(1);
  EXPECT_EQ(where(), at("0:1:1", 0));  // wraps
  model_.stepAppWindow(-1);
  EXPECT_EQ(where(), at("0:2:desktop", kDesktop));

  Workspace w = desk();
  w.displays[0].here.reset();
  model_.reset(w, 0);
  model_.stepAppWindow(-1);
  EXPECT_EQ(where(), at("0:2:desktop", kDesktop));  // no selection: the last stop
}

TEST_F(WindowStepping, StepBackAppWindowTakesTheSecondMostRecentStopElseStepsOn) {
  const struct {
    std::vector<std::uint32_t> used;  // oldest first
    Stop lands;
  } cases[] = {
      {{30, 22, 10}, at("0:1:screen", 2)},
      {{22}, at("0:1:3", 0)},  // the one used stop is passed
      {{}, at("0:1:1", 1)},    // a plain step from window 0
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.used.size());
    scene_.restart();  // a fresh history
    model_.reset(desk(), 0);
    for (std::uint32_t w : c.used) touch(w);
    model_.stepBackAppWindow();
    EXPECT_EQ(where(), c.lands);
  }
}

}  // namespace
}  // namespace trelliq
