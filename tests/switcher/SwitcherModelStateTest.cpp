// The model's session state: starting a session, swapping snapshots, what the queries
// answer about the selection, focus and pointer selection, and how changes are announced.

#include <gtest/gtest.h>

#include <vector>

#include "Snapshots.h"
#include "SwitcherModelPeer.h"
#include "support/Scene.h"
#include "switcher/model/SwitcherModel.h"

namespace trelliq {
namespace {

using namespace test;

// Display 0: Space 1 with app tiles A (windows 11, 12, 13) and B (21), Space 2 with a
// whole-Space tile (31, 32). Display 1: one app tile C (41) and a desktop tile.
Workspace twoDisplays() {
  const AppInfo a = app(1, "Alpha"), b = app(2, "Beta"), c = app(3, "Gamma");
  return workspace({display("D0",
                            {space(1,
                                   {appTile(0, 1, a, {window(11, 1), window(12, 1), window(13, 1)}, 1),
                                    appTile(0, 1, b, {window(21, 2)}, 0)},
                                   true),
                             space(2, {screenTile(0, 2, {a}, {window(31, 1), window(32, 1)}, 0)})},
                            "0:1:1"),
                    display("D1", {space(3, {appTile(1, 3, c, {window(41, 3)}, 0), desktopTile(1, 3)}, true)}, "1:3:3",
                            CGRect(1920, 0, 1280, 800))},
                   {app(7, "Tray")});
}

class ModelState : public ::testing::Test {
 protected:
  Scene scene_;
  SwitcherModel model_;
};

TEST_F(ModelState, ResetClearsTheSessionButKeepsPicturesAndTheNameDraft) {
  model_.reset(twoDisplays(), 0);
  model_.thumbnails.set({{11, nullptr}});
  model_.wallpapers.set({{2, nullptr}});
  model_.haze.set(0.2);
  model_.nameDraft.set("Work");
  model_.setRenamingKey("desktop/x");
  model_.selection.set({{0, "0:1:2"}});
  model_.windowPick.set({{0, 0}});
  model_.onTray.set(true);
  model_.traySelection.set(7);
  model_.quitting.set({2});
  SwitcherModelPeer::markTransitioning(model_, 11);
  model_.setControlHeld(true);
  model_.hoveredName.set("0:1:1");
  model_.renaming.set("0:1:1");
  model_.justNamed.set("0:1:1");

  model_.reset(twoDisplays(), 1);

  EXPECT_EQ(model_.focused(), 1);
  EXPECT_TRUE(model_.selection().empty());
  EXPECT_TRUE(model_.windowPick().empty());
  EXPECT_FALSE(model_.onTray());
  EXPECT_EQ(model_.traySelection(), std::nullopt);
  EXPECT_TRUE(model_.quitting().empty());
  EXPECT_TRUE(model_.transitioning().empty());
  EXPECT_FALSE(model_.controlHeld());
  EXPECT_EQ(model_.hoveredName(), std::nullopt);
  EXPECT_EQ(model_.renaming(), std::nullopt);
  EXPECT_EQ(model_.justNamed(), std::nullopt);
  // Pictures of the last session stay until new ones arrive.
  EXPECT_EQ(model_.thumbnails().count(11), 1u);
  EXPECT_EQ(model_.wallpapers().count(2), 1u);
  EXPECT_DOUBLE_EQ(model_.haze(), 0.2);
  EXPECT_EQ(model_.nameDraft(), "Work");
  EXPECT_EQ(model_.renamingKey(), "desktop/x");
}

TEST_F(ModelState, ReloadPrunesStaleSelectionsAndSelectsTheTileHoldingTheWindow) {
  model_.reset(twoDisplays(), 1);
  model_.selection.set({{0, "0:1:2"}, {1, "1:3:3"}});
  model_.windowPick.set({{0, 0}, {1, 0}});
  model_.onTray.set(true);
  Workspace next = twoDisplays();
  next.displays[0].spaces[0].clusters.pop_back();  // tile B goes

  SwitcherModelPeer::reload(model_, std::move(next), 999);

  EXPECT_EQ(model_.focused(), 1);
  EXPECT_TRUE(model_.onTray());
  EXPECT_EQ(model_.selection(), (std::map<int, std::string>{{1, "1:3:3"}}));
  EXPECT_EQ(model_.windowPick(), (std::map<int, int>{{1, 0}}));

  // With the window: the tile holding it is selected.
  model_.reset(twoDisplays(), 1);
  model_.onTray.set(true);
  SwitcherModelPeer::reload(model_, twoDisplays(), 12);
  EXPECT_EQ(model_.focused(), 0);
  EXPECT_EQ(model_.selection().at(0), "0:1:1");
  EXPECT_EQ(model_.windowPick().at(0), 1);  // several windows: the window's index
  EXPECT_FALSE(model_.onTray());

  model_.windowPick.set({{1, 0}});
  SwitcherModelPeer::reload(model_, twoDisplays(), 41);
  EXPECT_EQ(model_.focused(), 1);
  EXPECT_EQ(model_.selection().at(1), "1:3:3");
  EXPECT_EQ(model_.windowPick().count(1), 0u);  // a single window needs no pick

  // The first match wins, and an unnumbered window never matches.
  Workspace w = twoDisplays();
  w.displays[0].spaces[0].clusters[1].windows = {window(std::nullopt, 2), window(41, 2)};
  SwitcherModelPeer::reload(model_, w, 41);
  EXPECT_EQ(model_.focused(), 0);
  EXPECT_EQ(model_.selection().at(0), "0:1:2");
  EXPECT_EQ(model_.windowPick().at(0), 1);
}

TEST_F(ModelState, AFullScreenMoveMarksTheWindowAndSelectsItWhereItGoes) {
  model_.reset(twoDisplays(), 0);
  model_.thumbnails.set({{555, nullptr}, {11, nullptr}});
  const auto before = model_.workspace().shape();

  model_.moveFullScreen(555, FullScreen::enter, false);  // no such window

  EXPECT_EQ(model_.transitioning(), (std::set<std::uint32_t>{555}));
  EXPECT_EQ(model_.thumbnails().count(555), 0u);
  EXPECT_EQ(model_.thumbnails().count(11), 1u);
  EXPECT_EQ(model_.workspace().shape(), before);

  model_.focus(1);
  model_.moveFullScreen(12, FullScreen::enter, false);
  const Cluster* moved = model_.selectedCluster(0);
  ASSERT_NE(moved, nullptr);
  EXPECT_TRUE(moved->fullScreen);
  EXPECT_EQ(moved->windows.front().windowID, 12u);
  EXPECT_EQ(model_.focused(), 0);
  EXPECT_EQ(model_.transitioning(), (std::set<std::uint32_t>{12, 555}));
}

TEST_F(ModelState, WithoutASelectionTheFrontTileIsSelected) {
  model_.reset(twoDisplays(), 0);
  EXPECT_EQ(model_.display(-1), nullptr);
  EXPECT_EQ(model_.display(2), nullptr);
  EXPECT_EQ(model_.selectedID(0), "0:1:1");
  ASSERT_NE(model_.targetWindow(0), nullptr);
  EXPECT_EQ(model_.targetWindow(0)->windowID, 12u);  // the tile's last window

  Workspace w = twoDisplays();
  w.displays[0].here.reset();
  model_.reset(w, 0);
  EXPECT_EQ(model_.selectedID(0), std::nullopt);
  EXPECT_EQ(model_.selectedCluster(0), nullptr);
  EXPECT_EQ(model_.targetWindow(0), nullptr);
  EXPECT_EQ(model_.focusedTarget(), nullptr);
}

TEST_F(ModelState, APickOutsideTheTileFallsBackToItsLastWindowThenTheFirst) {
  Workspace w = twoDisplays();
  model_.reset(w, 0);
  const Cluster& a = *model_.selectedCluster(0);
  for (int pick : {3, 99, -1, -5}) {
    model_.windowPick.set({{0, pick}});
    EXPECT_EQ(model_.targetWindowIndex(a, 0), 1) << "pick " << pick;
  }
  w.displays[0].spaces[0].clusters[0].lastWindow.reset();
  model_.reset(w, 0);
  model_.windowPick.set({{0, 7}});
  EXPECT_EQ(model_.targetWindowIndex(*model_.selectedCluster(0), 0), 0);
  model_.windowPick.set({{0, 2}});
  EXPECT_EQ(model_.targetWindowIndex(*model_.selectedCluster(0), 0), 2);
}

TEST_F(ModelState, AnUnselectedWholeSpaceTileFollowsItsLastFocus) {
  Workspace w = twoDisplays();
  w.displays[0].spaces[1].clusters[0].lastOnDesktop = true;
  model_.reset(w, 0);
  const Cluster& screenTile = w.displays[0].spaces[1].clusters[0];
  model_.windowPick.set({{0, 0}});  // a window pick, but for the selected tile A
  EXPECT_TRUE(model_.picksDesktop(screenTile, 0));
  EXPECT_EQ(model_.targetWindowIndex(screenTile, 0), std::nullopt);

  model_.selection.set({{0, screenTile.id}});
  EXPECT_FALSE(model_.picksDesktop(screenTile, 0));  // the pick now belongs to it
  model_.windowPick.set({{0, SwitcherModel::desktopPick}});
  EXPECT_TRUE(model_.picksDesktop(screenTile, 0));
  EXPECT_TRUE(model_.landsOnDesktop(0));
  EXPECT_EQ(model_.targetWindow(0), nullptr);
  // On another display the stored pick means nothing.
  EXPECT_TRUE(model_.picksDesktop(screenTile, 1));
  w.displays[0].spaces[1].clusters[0].lastOnDesktop = false;
  EXPECT_FALSE(model_.picksDesktop(w.displays[0].spaces[1].clusters[0], 1));
}

TEST_F(ModelState, AnUnfocusedPanelShowsItsFrontTileSelected) {
  model_.reset(twoDisplays(), 0);
  model_.selection.set({{1, "1:3:desktop"}});
  EXPECT_TRUE(model_.isSelected("1:3:3", 1));
  EXPECT_FALSE(model_.isSelected("1:3:desktop", 1));
  // What was stepped to there still counts for letting go.
  EXPECT_TRUE(model_.landsOnDesktop(1));
  model_.focus(1);
  EXPECT_TRUE(model_.isSelected("1:3:desktop", 1));
  model_.onTray.set(true);
  EXPECT_FALSE(model_.isSelected("1:3:desktop", 1));
  EXPECT_FALSE(model_.landsOnDesktop(1));  // on the tray, even with a desktop selected
  EXPECT_FALSE(model_.landsOnDesktop(0));
}

TEST_F(ModelState, TrayQueries) {
  model_.reset(twoDisplays(), 0);
  model_.traySelection.set(7);
  EXPECT_EQ(model_.selectedTrayApp(), nullptr);  // not on the tray
  model_.onTray.set(true);
  ASSERT_NE(model_.selectedTrayApp(), nullptr);
  EXPECT_EQ(model_.selectedTrayApp()->name, "Tray");
  EXPECT_EQ(model_.focusedTarget(), nullptr);

  Workspace w = twoDisplays();
  w.tray.clear();
  model_.reset(w, 0);
  EXPECT_TRUE(model_.trayIsJustFinder());
  AppFacts finder;
  finder.pid = 9;
  finder.bundle = "com.apple.finder";
  w.tray = {app(finder), app(finder)};
  model_.reset(w, 0);
  EXPECT_TRUE(model_.trayIsJustFinder());
  w.tray.push_back(app(10, "Tool"));  // no bundle identifier at all
  model_.reset(w, 0);
  EXPECT_FALSE(model_.trayIsJustFinder());
}

TEST_F(ModelState, FocusMovesBetweenDisplaysAndLeavesTheTrayUnlessControlIsHeld) {
  model_.reset(twoDisplays(), 0);
  model_.onTray.set(true);
  model_.focus(5);  // no such display
  EXPECT_EQ(model_.focused(), 0);
  EXPECT_TRUE(model_.onTray());
  model_.setControlHeld(true);
  model_.focus(1);
  EXPECT_EQ(model_.focused(), 1);
  EXPECT_TRUE(model_.onTray());
  model_.setControlHeld(false);
  model_.focus(0);
  EXPECT_FALSE(model_.onTray());

  model_.focus(1);
  model_.focusNextDisplay();
  EXPECT_EQ(model_.focused(), 0);  // wraps
  Workspace one = twoDisplays();
  one.displays.pop_back();
  model_.reset(one, 0);
  model_.focusNextDisplay();
  EXPECT_EQ(model_.focused(), 0);
}

TEST_F(ModelState, SelectingKeepsThePickOnlyForTheSameTileAndPointerTargetsSelectWhatTheyName) {
  model_.reset(twoDisplays(), 0);
  model_.select("0:1:1", 0);
  model_.windowPick.set({{0, 2}});
  model_.select("0:1:1", 0);
  EXPECT_EQ(model_.windowPick().at(0), 2);
  model_.select("0:1:2", 0);
  EXPECT_EQ(model_.windowPick().count(0), 0u);
  EXPECT_EQ(model_.touched(), (std::set<int>{0}));

  model_.select(TileID::window("0:2:screen", 1, 4), 0);
  EXPECT_EQ(model_.selection().at(0), "0:2:screen");
  EXPECT_EQ(model_.windowPick().at(0), 1);

  model_.select(TileID::tray(7), 1);
  EXPECT_EQ(model_.focused(), 1);
  EXPECT_TRUE(model_.onTray());
  EXPECT_EQ(model_.traySelection(), 7);

  model_.select(TileID::cluster("1:3:desktop"), 1);
  EXPECT_FALSE(model_.onTray());
  EXPECT_EQ(model_.selection().at(1), "1:3:desktop");

  const auto before = model_.selection();
  model_.select(TileID::name("1:3:3"), 1);
  model_.select(TileID::resetName("1:3:3"), 1);
  EXPECT_EQ(model_.selection(), before);
}

TEST_F(ModelState, PointingAtANameSelectsTheTileOrItsDesktop) {
  Workspace w = twoDisplays();
  const AppInfo d = app(4, "Delta");
  w.displays[0].spaces.push_back(space(-9, {fullScreenTile(0, -9, d, {window(51, 4)})}));
  model_.reset(w, 1);

  model_.selectName("0:2:screen", 0);
  EXPECT_EQ(model_.focused(), 0);
  EXPECT_EQ(model_.selection().at(0), "0:2:screen");
  EXPECT_EQ(model_.windowPick().at(0), SwitcherModel::desktopPick);

  model_.selectName("0:fullScreen:51", 0);
  EXPECT_EQ(model_.selection().at(0), "0:fullScreen:51");
  EXPECT_EQ(model_.windowPick().count(0), 0u);

  model_.windowPick.set({{0, 0}});
  model_.selectName("0:fullScreen:51", 0);  // already selected: nothing
  EXPECT_EQ(model_.windowPick().at(0), 0);
  model_.selectName("no such tile", 0);
  EXPECT_EQ(model_.selection().at(0), "0:fullScreen:51");
}

// ---- Announcements ----------------------------------------------------------------------

class ModelAnnouncements : public ModelState {
 protected:
  void SetUp() override {
    model_.reset(twoDisplays(), 0);
    token_ = model_.subscribe([this](const ModelChange& c) { seen_.push_back(c); });
  }
  std::vector<ModelField> fields() const {
    std::vector<ModelField> out;
    for (const auto& c : seen_) out.push_back(c.field);
    return out;
  }
  ObserverToken token_ = 0;
  std::vector<ModelChange> seen_;
};

TEST_F(ModelAnnouncements, EveryPublishedChangeIsAnnouncedOnceAndUnpublishedOrUnchangedOnesNot) {
  model_.focused.set(0);
  model_.onTray.set(false);
  model_.select("0:1:1", 0);
  model_.select("0:1:1", 0);
  model_.select(TileID::window("0:1:1", 2, 0), 0);
  model_.select(TileID::window("0:1:1", 2, 0), 0);
  EXPECT_EQ(fields(), (std::vector<ModelField>{ModelField::selection, ModelField::windowPick}));
  seen_.clear();
  model_.focused.set(1);
  model_.haze.set(0.3);
  model_.thumbnails.modify([](auto& t) { t[11] = nullptr; });
  SwitcherModelPeer::markTransitioning(model_, 3);
  model_.setControlHeld(true);
  model_.setRenamingKey("k");
  EXPECT_EQ(fields(), (std::vector<ModelField>{ModelField::focused, ModelField::haze, ModelField::thumbnails}));
  for (const auto& c : seen_) EXPECT_EQ(c.animation, std::nullopt);
}

TEST_F(ModelAnnouncements, ChangesCarryTheAnimationTheyWereMadeIn) {
  model_.animating(Animation::removal(), [&] {
    model_.quitting.set({2});
    model_.animating(Animation::quittingMark(), [&] { model_.haze.set(0.1); });
    model_.haze.set(0.2);
  });
  model_.haze.set(0.3);
  ASSERT_EQ(seen_.size(), 4u);
  EXPECT_EQ(seen_[0].animation, Animation::removal());
  EXPECT_EQ(seen_[1].animation, Animation::quittingMark());
  EXPECT_EQ(seen_[2].animation, Animation::removal());
  EXPECT_EQ(seen_[3].animation, std::nullopt);
}

TEST_F(ModelAnnouncements, ObserversSeeTheNewValueAndMayLeaveWhileCalled) {
  int second = 0;
  ObserverToken other = 0;
  other = model_.subscribe([&](const ModelChange&) {
    ++second;
    EXPECT_EQ(model_.focused(), 1);
    model_.unsubscribe(other);
  });
  model_.unsubscribe(token_);
  model_.focused.set(1);
  model_.focused.set(0);
  EXPECT_EQ(second, 1);
  EXPECT_TRUE(seen_.empty());
}

}  // namespace
}  // namespace trelliq
