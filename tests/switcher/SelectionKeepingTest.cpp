// Keeping what the user stepped to while the snapshot changes under an open session:
// a new snapshot, a terminated app, a closed window, an unplugged display.

#include <gtest/gtest.h>

#include "Snapshots.h"
#include "SwitcherModelPeer.h"
#include "platform/WindowServerPort.h"
#include "platform/sim/WindowServer.h"
#include "support/Scene.h"
#include "switcher/model/SwitcherModel.h"

namespace trelliq {
namespace {

using namespace test;

std::vector<std::string> trayPids(const SwitcherModel& m) {
  std::vector<std::string> out;
  for (const AppInfo& a : m.workspace().tray) out.push_back(std::to_string(a.id));
  return out;
}

class SelectionKeeping : public ::testing::Test {
 protected:
  // One display, one Space, app tiles of pids 1, 2, 3 with windows 10.., 20.., 30...
  static Workspace row(std::vector<int> windowsPerTile = {3, 1, 1}, std::vector<AppInfo> tray = {}) {
    std::vector<Cluster> tiles;
    for (std::size_t i = 0; i < windowsPerTile.size(); ++i) {
      const auto pid = static_cast<std::int32_t>(i + 1);
      std::vector<WindowInfo> windows;
      for (int k = 0; k < windowsPerTile[i]; ++k)
        windows.push_back(window(static_cast<std::uint32_t>(pid * 10 + k), pid));
      tiles.push_back(appTile(0, 1, app(pid, "App" + std::to_string(pid)), std::move(windows), 0));
    }
    return workspace({display("D0", {space(1, std::move(tiles), true)}, "0:1:1")}, std::move(tray));
  }

  Scene scene_;
  SwitcherModel model_;
};

TEST_F(SelectionKeeping, RefreshKeepsTilesAndNumberedPicksButNotDesktopPicks) {
  Workspace w = row();
  w.displays.push_back(
      display("D1", {space(5, {screenTile(1, 5, {app(4)}, {window(40, 4), window(41, 4)})})}, "1:5:screen"));
  w.displays[0].spaces[0].clusters[0].windows[2].windowID.reset();
  model_.reset(w, 0);
  model_.selection.set({{0, "0:1:1"}, {1, "1:5:screen"}});
  model_.windowPick.set({{0, 1}, {1, SwitcherModel::desktopPick}});

  Workspace same = w;
  // The same windows in another order: the pick follows the number.
  std::swap(same.displays[0].spaces[0].clusters[0].windows[0], same.displays[0].spaces[0].clusters[0].windows[1]);
  model_.refresh(same);

  EXPECT_EQ(model_.selection(), (std::map<int, std::string>{{0, "0:1:1"}, {1, "1:5:screen"}}));
  EXPECT_EQ(model_.windowPick(), (std::map<int, int>{{0, 0}}));

  model_.windowPick.set({{0, 2}});  // the unnumbered window
  model_.refresh(same);
  EXPECT_TRUE(model_.windowPick().empty());
}

TEST_F(SelectionKeeping, RefreshFallsBackToTheFrontTileAndPicksAPinnedWindowThere) {
  model_.reset(row(), 0);
  model_.selection.set({{0, "0:1:2"}});
  model_.windowPick.set({{0, 0}});  // window 20
  Workspace next = row();
  // Tile 2 is gone; its window now lives in the front tile.
  next.displays[0].spaces[0].clusters.erase(next.displays[0].spaces[0].clusters.begin() + 1);
  next.displays[0].spaces[0].clusters[0].windows.push_back(window(20, 1));

  model_.refresh(next);

  EXPECT_TRUE(model_.selection().empty());
  EXPECT_EQ(model_.selectedID(0), "0:1:1");
  EXPECT_EQ(model_.windowPick(), (std::map<int, int>{{0, 3}}));
}

TEST_F(SelectionKeeping, RefreshReconcilesTheTray) {
  model_.reset(row({1}, {app(7), app(8)}), 0);
  model_.enterTray();
  model_.stepTray(1);
  ASSERT_EQ(model_.traySelection(), 8);

  model_.refresh(row({1}, {app(6), app(8)}));
  EXPECT_TRUE(model_.onTray());
  EXPECT_EQ(model_.traySelection(), 8);  // still there

  model_.refresh(row({1}, {app(6), app(9)}));
  EXPECT_EQ(model_.traySelection(), 6);  // gone: the first

  model_.refresh(row({1}));
  EXPECT_FALSE(model_.onTray());
  EXPECT_EQ(model_.traySelection(), std::nullopt);
}

TEST_F(SelectionKeeping, FewerDisplaysDropTheirSelectionsAndLeaveTheFocusWhereItWas) {
  Workspace three = row();
  for (int d : {1, 2}) {
    three.displays.push_back(
        display("D" + std::to_string(d), {space(5 + d, {appTile(d, 5 + d, app(4 + d), {window(40 + d, 4 + d)})})}));
  }
  model_.reset(three, 2);
  model_.selection.set({{0, "0:1:2"}, {2, "2:7:6"}});
  model_.refresh(row());  // D1 and D2 unplugged
  EXPECT_EQ(model_.selection(), (std::map<int, std::string>{{0, "0:1:2"}}));
  EXPECT_EQ(model_.focused(), 2);
  // A focus naming no display steers nothing and offers nothing to let go to.
  model_.stepCluster(1);
  model_.stepWindow(1);
  model_.stepBack();
  EXPECT_EQ(model_.selection(), (std::map<int, std::string>{{0, "0:1:2"}}));
  EXPECT_EQ(model_.focusedTarget(), nullptr);
  EXPECT_FALSE(model_.landsOnDesktop(2));
  model_.focus(0);  // the pointer over the panel that is left
  model_.stepCluster(1);
  EXPECT_EQ(model_.selectedID(0), "0:1:3");

  model_.reset(three, 2);
  SwitcherModelPeer::reload(model_, row(), 999);
  EXPECT_EQ(model_.focused(), 2);
}

// The selected tile vanishes: its right-hand neighbour in the old order, else the
// left-hand one, else the front tile.
TEST_F(SelectionKeeping, AVanishedTileHandsTheSelectionToANeighbour) {
  struct Case {
    std::vector<int> tiles;
    std::string selected;
    std::uint32_t removed;
    std::optional<std::string> expected;
  };
  const std::vector<Case> cases = {
      {{1, 1, 1}, "0:1:2", 20, "0:1:3"},  // [A,B,C] without B: C
      {{1, 1}, "0:1:2", 20, "0:1:1"},     // [A,B] without B: A
      {{1}, "0:1:1", 10, std::nullopt},   // nothing left: no entry
      {{1, 1, 1}, "0:1:3", 30, "0:1:2"},  // the last tile: the left neighbour
  };
  for (const Case& c : cases) {
    model_.reset(row(c.tiles), 0);
    model_.selection.set({{0, c.selected}});
    model_.windowPick.set({{0, 0}});
    model_.removeWindow(c.removed);
    auto it = model_.selection().find(0);
    EXPECT_EQ(it == model_.selection().end() ? std::nullopt : std::optional(it->second), c.expected)
        << c.selected << " without window " << c.removed;
    EXPECT_EQ(model_.windowPick().count(0), 0u);
  }
}

TEST_F(SelectionKeeping, AVanishedWindowHandsThePickToTheWindowInItsPlaceOrToTheDesktop) {
  struct Case {
    int picked;
    std::uint32_t removed;
    int expected;
  };
  // Windows 10, 11, 12 in tile 1.
  for (const Case& c : std::vector<Case>{{1, 11, 1}, {2, 12, 1}, {1, 10, 0}, {0, 12, 0}}) {
    model_.reset(row(), 0);
    model_.select("0:1:1", 0);
    model_.windowPick.set({{0, c.picked}});
    model_.removeWindow(c.removed);
    EXPECT_EQ(model_.windowPick().at(0), c.expected) << "pick " << c.picked << ", removed " << c.removed;
  }

  // A whole-Space tile left without windows keeps no pick: it stands for its desktop.
  Workspace w =
      workspace({display("D0", {space(1, {screenTile(0, 1, {app(1)}, {window(10, 1)}, 0)}, true)}, "0:1:screen")});
  model_.reset(w, 0);
  model_.select("0:1:screen", 0);
  model_.windowPick.set({{0, 0}});
  model_.removeWindow(10);
  EXPECT_EQ(model_.selection().at(0), "0:1:screen");  // the tile stays as the desktop
  EXPECT_TRUE(model_.windowPick().empty());
  EXPECT_TRUE(model_.landsOnDesktop(0));
}

TEST_F(SelectionKeeping, RemovingTheSelectedTrayAppSelectsItsNeighbour) {
  model_.reset(row({1}, {app(7), app(8), app(9)}), 0);
  model_.quitting.set({9});
  model_.enterTray();
  model_.stepTray(-1);
  ASSERT_EQ(model_.traySelection(), 9);
  model_.removeApp(9);
  EXPECT_EQ(trayPids(model_), (std::vector<std::string>{"7", "8"}));
  EXPECT_EQ(model_.traySelection(), 8);  // the new last one
  EXPECT_TRUE(model_.quitting().empty());

  model_.stepTray(-1);
  model_.removeApp(7);
  EXPECT_EQ(model_.traySelection(), 8);  // the app that moved into its place
  EXPECT_TRUE(model_.onTray());

  model_.removeApp(8);
  EXPECT_TRUE(model_.workspace().tray.empty());
  EXPECT_FALSE(model_.onTray());
  EXPECT_EQ(model_.traySelection(), std::nullopt);
}

TEST_F(SelectionKeeping, RemovingAnAppOutsideTheTrayRemovesItsWindows) {
  model_.reset(row({1, 2, 1}, {app(7)}), 0);
  model_.quitting.set({2, 3});
  model_.selection.set({{0, "0:1:2"}});
  model_.removeApp(2);
  EXPECT_EQ(model_.selection().at(0), "0:1:3");
  EXPECT_EQ(model_.quitting(), (std::set<std::int32_t>{3}));
  EXPECT_EQ(trayPids(model_), (std::vector<std::string>{"7"}));
  for (const WindowInfo& w : model_.workspace().windows()) EXPECT_NE(w.pid, 2);
}

// ---- A closed window's app moving to the tray ---------------------------------------------

class TrayReturns : public ::testing::Test {
 protected:
  TrayReturns() { platform::installWindowServer(&server_); }
  ~TrayReturns() override { platform::installWindowServer(nullptr); }

  // A running app of the simulated system with that pid, as the snapshot records it.
  AppInfo running(std::int32_t pid, std::optional<double> launched, bool accessory = false) {
    sim::App a;
    a.pid = pid;
    a.name = "App" + std::to_string(pid);
    a.launchDate = launched.value_or(1);
    server_.addApp(a);
    AppFacts facts;
    facts.pid = pid;
    facts.name = *a.name;
    facts.launched = launched;
    facts.accessory = accessory;
    return app(facts);
  }
  // One tile per app, each with one window numbered 10 × pid, and the given tray.
  Workspace with(const std::vector<AppInfo>& tiles, std::vector<AppInfo> tray) {
    std::vector<Cluster> clusters;
    for (const AppInfo& a : tiles) {
      clusters.push_back(appTile(0, 1, a, {window(static_cast<std::uint32_t>(10 * a.id), a.id)}, 0));
    }
    return workspace({display("D0", {space(1, std::move(clusters), true)})}, std::move(tray));
  }

  Scene scene_;
  sim::WindowServer server_{scene_.world};
  SwitcherModel model_;
};

TEST_F(TrayReturns, AnAppWithoutWindowsJoinsTheTrayByLaunchDate) {
  const AppInfo early = running(1, 10), late = running(3, 30), mid = running(2, 20);
  model_.reset(with({mid}, {early, late}), 0);
  model_.removeWindow(20);
  EXPECT_EQ(trayPids(model_), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_FALSE(model_.workspace().tray[1].accessory);
  model_.removeWindow(20);  // again: nothing more happens
  EXPECT_EQ(trayPids(model_), (std::vector<std::string>{"1", "2", "3"}));
}

TEST_F(TrayReturns, UnknownLaunchDatesCountAsTheDistantPast) {
  const AppInfo unknown = running(1, std::nullopt), dated = running(3, 30), newcomer = running(2, std::nullopt);
  model_.reset(with({newcomer}, {unknown, dated}), 0);
  model_.removeWindow(20);
  EXPECT_EQ(trayPids(model_), (std::vector<std::string>{"1", "2", "3"}));

  const AppInfo newest = running(4, 40);
  model_.reset(with({newest}, {unknown, dated}), 0);
  model_.removeWindow(40);
  EXPECT_EQ(trayPids(model_), (std::vector<std::string>{"1", "3", "4"}));  // appended
}

TEST_F(TrayReturns, SomeAppsStayOutOfTheTray) {
  const AppInfo menuBar = running(1, 10, true), gone = running(2, 20), twice = running(3, 30), busy = running(4, 40);
  server_.terminate(2);
  Workspace w = with({menuBar, gone, twice, busy}, {twice});
  // The busy app has a second window on another Space.
  w.displays[0].spaces.push_back(space(2, {appTile(0, 2, busy, {window(41, 4)}, 0)}));
  model_.reset(w, 0);
  for (std::uint32_t number : {10u, 20u, 30u, 40u}) model_.removeWindow(number);
  EXPECT_EQ(trayPids(model_), (std::vector<std::string>{"3"}));
  EXPECT_EQ(model_.workspace().windows().size(), 1u);
  model_.removeWindow(41);
  EXPECT_EQ(trayPids(model_), (std::vector<std::string>{"3", "4"}));
}

}  // namespace
}  // namespace trelliq
