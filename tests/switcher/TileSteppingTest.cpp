// Stepping between tiles, Spaces and the tray of the focused display.

#include <gtest/gtest.h>

#include "Snapshots.h"
#include "support/Scene.h"
#include "switcher/model/SwitcherModel.h"
#include "workspace/Recency.h"

namespace trelliq {
namespace {

using namespace test;

class TileStepping : public ::testing::Test {
 protected:
  // Display 0: Space 1 (current) with tiles 1, 2; Space 2 with tiles 3, 4; Space 3 with
  // tile 5. Tile n holds window 10·n, and tile 4 also 41 (minimized). Display 1: tile 6.
  static Workspace desk(std::optional<std::string> here = "0:1:1") {
    auto tile = [](int n, std::int64_t sp, std::vector<WindowInfo> extra = {}) {
      std::vector<WindowInfo> windows{window(static_cast<std::uint32_t>(10 * n), n)};
      for (auto& w : extra) windows.push_back(w);
      return appTile(0, sp, app(n, "App" + std::to_string(n)), windows, 0);
    };
    return workspace({display("D0",
                              {space(1, {tile(1, 1), tile(2, 1)}, true),
                               space(2, {tile(3, 2), tile(4, 2, {window(41, 4, true)})}), space(3, {tile(5, 3)})},
                              here),
                      display("D1", {space(9, {appTile(1, 9, app(6), {window(60, 6)}, 0)}, true)}, "1:9:6")},
                     {app(7, "Seven"), app(8, "Eight")});
  }
  void touch(std::uint32_t window) { Recency::shared().touch(window, false); }

  Scene scene_;
  SwitcherModel model_;
};

TEST_F(TileStepping, StepClusterWrapsAndStartsAtAnEndWithoutASelection) {
  model_.reset(desk(), 0);
  model_.stepCluster(-1);
  EXPECT_EQ(model_.selectedID(0), "0:3:5");  // from the front tile back over the start
  model_.stepCluster(1);
  EXPECT_EQ(model_.selectedID(0), "0:1:1");

  model_.reset(desk(std::nullopt), 0);
  model_.stepCluster(1);
  EXPECT_EQ(model_.selectedID(0), "0:1:1");
  model_.reset(desk(std::nullopt), 0);
  model_.stepCluster(-1);
  EXPECT_EQ(model_.selectedID(0), "0:3:5");
  EXPECT_EQ(model_.selection().count(1), 0u);  // other displays untouched
}

TEST_F(TileStepping, OnTheTrayStepClusterStepsTheTrayWhichStartsOverWhenTheSelectedAppLeft) {
  model_.reset(desk(), 0);
  model_.enterTray();
  model_.stepCluster(1);
  EXPECT_EQ(model_.traySelection(), 8);
  model_.stepCluster(1);
  EXPECT_EQ(model_.traySelection(), 7);
  EXPECT_TRUE(model_.selection().empty());
  model_.onTray.set(true);
  model_.traySelection.set(99);
  model_.stepTray(-1);
  EXPECT_EQ(model_.traySelection(), 7);  // the first, not the last
  model_.stepTray(-1);
  EXPECT_EQ(model_.traySelection(), 8);
  model_.onTray.set(false);
  model_.stepTray(1);
  EXPECT_EQ(model_.traySelection(), 8);  // only on the tray
}

TEST_F(TileStepping, StepBackGoesToTheMostRecentOtherTile) {
  model_.reset(desk(), 0);
  touch(30);
  touch(50);
  touch(10);  // the tile the user is on
  model_.onTray.set(true);
  model_.stepBack();
  EXPECT_EQ(model_.selectedID(0), "0:3:5");
  EXPECT_FALSE(model_.onTray());

  // Minimized or never used: nothing usable, so the next tile.
  scene_.restart();
  Workspace w = desk();
  w.displays[0].spaces[1].clusters[0].windows[0].minimized = true;  // tile 3 minimized
  model_.reset(w, 0);
  touch(30);
  model_.stepBack();
  EXPECT_EQ(model_.selectedID(0), "0:1:2");
}

TEST_F(TileStepping, MostRecentPrefersTheEarlierOfEqualKeys) {
  Workspace w = desk();
  // Two tiles sharing the same window number share its stamp.
  w.displays[0].spaces[1].clusters[1].windows = {window(30, 4)};
  touch(30);
  const auto& clusters = w.displays[0].spaces[1].clusters;
  EXPECT_EQ(SwitcherModel::mostRecent(clusters, std::nullopt), "0:2:3");
  EXPECT_EQ(SwitcherModel::mostRecent(clusters, "0:2:3"), "0:2:4");
  EXPECT_EQ(SwitcherModel::mostRecent(w.displays[0].spaces[0].clusters, std::nullopt), std::nullopt);
  EXPECT_EQ(SwitcherModel::mostRecent({}, std::nullopt), std::nullopt);
}

TEST_F(TileStepping, StepSpaceLandsOnTheMostRecentTileOfTheNextSpace) {
  model_.reset(desk(), 0);
  touch(40);
  model_.onTray.set(true);
  model_.stepSpace(1);
  EXPECT_EQ(model_.selectedID(0), "0:2:4");
  EXPECT_FALSE(model_.onTray());
  model_.stepSpace(1);
  EXPECT_EQ(model_.selectedID(0), "0:3:5");  // nothing used there: its first tile
  model_.stepSpace(1);
  EXPECT_EQ(model_.selectedID(0), "0:1:1");
  model_.stepSpace(-1);
  EXPECT_EQ(model_.selectedID(0), "0:3:5");
}

TEST_F(TileStepping, StepSpaceStartsFromTheCurrentSpaceWhenTheSelectionIsInNone) {
  Workspace w = desk(std::nullopt);
  w.displays[0].spaces[0].current = false;
  w.displays[0].spaces[1].current = true;
  model_.reset(w, 0);
  model_.stepSpace(1);
  EXPECT_EQ(model_.selectedID(0), "0:3:5");

  w.displays[0].spaces[1].current = false;  // no current Space either: an end
  model_.reset(w, 0);
  model_.stepSpace(-1);
  EXPECT_EQ(model_.selectedID(0), "0:3:5");
}

TEST_F(TileStepping, StepSpaceSkipsSpacesWithoutTiles) {
  Workspace w = desk();
  w.displays[0].spaces[1].clusters.clear();
  model_.reset(w, 0);
  model_.stepSpace(1);
  EXPECT_EQ(model_.selectedID(0), "0:3:5");
  model_.stepSpace(-1);
  EXPECT_EQ(model_.selectedID(0), "0:1:1");

  for (auto& sp : w.displays[0].spaces) sp.clusters.clear();
  model_.reset(w, 0);
  model_.onTray.set(true);
  model_.stepSpace(1);
  EXPECT_TRUE(model_.selection().empty());
  EXPECT_TRUE(model_.onTray());  // nothing changed
}

TEST_F(TileStepping, StepTilePicksTheFirstStopOfAWholeSpaceTile) {
  Workspace w = desk();
  w.displays[0].spaces[0].clusters[1] =
      screenTile(0, 1, {app(2)}, {window(20, 2, true), window(21, 2), window(22, 2)}, 0);
  model_.reset(w, 0);
  model_.onTray.set(true);
  model_.stepTile(1);
  EXPECT_EQ(model_.selectedID(0), "0:1:screen");
  EXPECT_EQ(model_.windowPick().at(0), 1);  // the first window not minimized
  EXPECT_FALSE(model_.onTray());
  model_.stepTile(1);
  EXPECT_EQ(model_.selectedID(0), "0:2:3");
  EXPECT_EQ(model_.windowPick().count(0), 0u);
}

TEST_F(TileStepping, TheTrayRowComesAndGoes) {
  model_.reset(desk(), 0);
  model_.traySelection.set(99);       // an app that has left the tray
  EXPECT_FALSE(model_.toRow(false));  // already on the tiles
  EXPECT_TRUE(model_.toRow(true));
  EXPECT_EQ(model_.traySelection(), 7);
  model_.stepTray(1);
  EXPECT_FALSE(model_.toRow(true));
  model_.toggleTray();
  EXPECT_FALSE(model_.onTray());
  model_.toggleTray();
  EXPECT_TRUE(model_.onTray());
  EXPECT_EQ(model_.traySelection(), 8);  // the tray selection survives the trip
  model_.enterTray();
  EXPECT_EQ(model_.traySelection(), 8);  // already there: nothing

  Workspace empty = desk();
  empty.tray.clear();
  model_.reset(empty, 0);
  EXPECT_FALSE(model_.toRow(true));
  model_.toggleTray();
  model_.enterTray();
  EXPECT_FALSE(model_.onTray());
}

TEST_F(TileStepping, WindowStopsOfEachKindOfTile) {
  const Cluster appT = appTile(0, 1, app(1), {window(1, 1, true), window(2, 1)});
  EXPECT_EQ(SwitcherModel::windowStops(appT), (std::vector<int>{0, 1}));
  EXPECT_TRUE(SwitcherModel::windowStops(appTile(0, 1, app(1), {})).empty());
  const Cluster whole = screenTile(0, 1, {app(1)}, {window(1, 1, true), window(2, 1), window(3, 1, true)});
  EXPECT_EQ(SwitcherModel::windowStops(whole), (std::vector<int>{1}));
  const Cluster allMinimized = screenTile(0, 1, {app(1)}, {window(1, 1, true)});
  EXPECT_EQ(SwitcherModel::windowStops(allMinimized), (std::vector<int>{SwitcherModel::desktopPick}));
}

TEST_F(TileStepping, SteppersWithoutADisplayChangeNothing) {
  model_.reset(desk(), 5);
  int announced = 0;
  model_.subscribe([&](const ModelChange&) { ++announced; });
  model_.stepCluster(1);
  model_.stepSpace(1);
  model_.stepTile(1);
  model_.stepWindow(1);
  model_.stepAppWindow(1);
  model_.toggleDesktop();
  model_.pickWindow(1);
  EXPECT_EQ(announced, 0);
}

}  // namespace
}  // namespace trelliq
