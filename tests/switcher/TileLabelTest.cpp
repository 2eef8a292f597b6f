// What a tile's name pill says, what it would say without a user's name, and under
// which key a new name would be kept; and putting a saved name into the snapshot.

#include <gtest/gtest.h>

#include "Snapshots.h"
#include "support/Scene.h"
#include "switcher/model/SwitcherModel.h"

namespace trelliq {
namespace {

using namespace test;

const AppInfo kMail = app(1, "Mail");
const AppInfo kNotes = app(2, "Notes");

Cluster named(Cluster c, std::string name) {
  c.named = std::move(name);
  return c;
}
Cluster withLast(Cluster c, std::optional<int> last) {
  c.lastWindow = last;
  return c;
}
Cluster onDesktop(Cluster c) {
  c.lastOnDesktop = true;
  return c;
}
Cluster fullScreenShot(Cluster c) {  // a full-screen Space drawn as a whole-Space tile
  c.fullScreen = true;
  c.nameKey = "window/50";
  return c;
}

// A whole-Space tile of Mail (windows 50, unnumbered) and Notes (60).
Cluster shared() {
  return screenTile(0, 1, {kMail, kNotes}, {window(50, 1), window(std::nullopt, 1), window(60, 2)}, 0);
}

struct Row {
  const char* what;
  Cluster tile;
  bool selected;
  std::optional<int> pick;  // the focused display's pick while selected
  TileLabel expected;
};

class TileLabels : public ::testing::TestWithParam<Row> {
 protected:
  Scene scene_;
  SwitcherModel model_;
};

TEST_P(TileLabels, FollowTheDecisionTable) {
  const Row& row = GetParam();
  Workspace w = workspace({display("D0", {space(1, {row.tile}, true)}, row.tile.id)});
  w.names = {{"window/50", "Inbox"}, {"window/70", "Draft"}};
  model_.reset(w, 0);
  if (!row.selected) model_.selection.set({{0, "elsewhere"}});
  if (row.pick) model_.windowPick.set({{0, *row.pick}});
  const Cluster& tile = model_.workspace().displays[0].spaces[0].clusters[0];
  EXPECT_EQ(model_.label(tile, 0, row.selected), row.expected);
}

const Cluster kDesktop = desktopTile(0, 1);
const Cluster kAppTile = appTile(0, 1, kMail, {window(70, 1), window(71, 1), window(std::nullopt, 1)}, 1);
const Cluster kFull = fullScreenTile(0, 1, kNotes, {window(80, 2)});

INSTANTIATE_TEST_SUITE_P(
    Table, TileLabels,
    ::testing::Values(
        Row{"desktop", kDesktop, false, {}, {"Desktop 1", "Desktop 1", "desktop/uuid-1"}},
        Row{"named desktop", named(kDesktop, "Home"), true, {}, {"Home", "Desktop 1", "desktop/uuid-1"}},
        Row{"whole Space, desktop picked",
            named(shared(), "Studio"),
            true,
            -1,
            {"Studio", "Desktop 1", "desktop/uuid-1"}},
        Row{"whole Space, desktop picked, unnamed", shared(), true, -1, {"Desktop 1", "Desktop 1", "desktop/uuid-1"}},
        Row{"whole Space, desktop by last focus",
            onDesktop(shared()),
            true,
            {},
            {"Desktop 1", "Desktop 1", "desktop/uuid-1"}},
        Row{"whole Space, named window", named(shared(), "Studio"), true, 0, {"Inbox", "Mail", "window/50"}},
        Row{"whole Space, unnamed window of another app", shared(), true, 2, {"Notes", "Notes", std::nullopt}},
        Row{"whole Space, unnumbered window", shared(), true, 1, {"Mail", "Mail", std::nullopt}},
        Row{"whole Space unselected", named(shared(), "Studio"), false, {}, {"Studio", "Desktop 1", "desktop/uuid-1"}},
        Row{"full-screen whole Space, selected", fullScreenShot(shared()), true, 2, {"Notes", "Notes", "window/50"}},
        Row{"full-screen whole Space, unselected",
            fullScreenShot(shared()),
            false,
            {},
            {"Mail & Notes", "Mail & Notes", "window/50"}},
        Row{"full screen, selected", kFull, true, {}, {"Notes", "Notes", "window/80"}},
        Row{"named full screen, selected", named(kFull, "Deck"), true, {}, {"Deck", "Notes", "window/80"}},
        Row{"named full screen, unselected", named(kFull, "Deck"), false, {}, {"Deck", "Notes", "window/80"}},
        Row{"app tile, picked named window", kAppTile, true, 0, {"Draft", "Mail", "window/70"}},
        Row{"app tile, picked unnamed window", kAppTile, true, 1, {"Mail", "Mail", "window/71"}},
        Row{"app tile, picked unnumbered window", kAppTile, true, 2, {"Mail", "Mail", std::nullopt}},
        Row{"app tile, unselected: its last window", withLast(kAppTile, 0), false, {}, {"Draft", "Mail", "window/70"}},
        Row{"app tile, unselected, unnamed last window", kAppTile, false, {}, {"Mail", "Mail", "window/71"}},
        Row{"app tile, unselected, no last window",
            withLast(kAppTile, std::nullopt),
            false,
            {},
            {"Mail", "Mail", std::nullopt}},
        Row{"app tile, selected, no last window",
            withLast(kAppTile, std::nullopt),
            true,
            {},
            {"Draft", "Mail", "window/70"}}),
    [](const ::testing::TestParamInfo<Row>& info) { return "row" + std::to_string(info.index); });

class SettingNames : public ::testing::Test {
 protected:
  Scene scene_;
  SwitcherModel model_;
};

TEST_F(SettingNames, ANameReachesEveryTileWithItsKeyAndNothingElse) {
  Cluster a = screenTile(0, 1, {kMail}, {window(50, 1)});
  Cluster b = desktopTile(0, 2);
  b.nameKey = a.nameKey;  // the same desktop shown twice
  Cluster other = desktopTile(0, 3);
  other.named = "Keep";
  SpaceGroup spare = space(4, {});
  spare.emptyStop = desktopTile(0, 4);
  spare.emptyStop->nameKey = a.nameKey;
  Workspace w = workspace({display("D0", {space(1, {a}), space(2, {b}), space(3, {other}), spare})});
  w.names = {{*a.nameKey, "Old"}, {"x", "y"}};
  model_.reset(w, 0);
  int announced = 0;
  model_.subscribe([&](const ModelChange& c) { announced += c.field == ModelField::workspace; });

  model_.setName("Studio", *a.nameKey);
  const auto& spaces = model_.workspace().displays[0].spaces;
  EXPECT_EQ(model_.workspace().names.at(*a.nameKey), "Studio");
  EXPECT_EQ(spaces[0].clusters[0].named, "Studio");
  EXPECT_EQ(spaces[1].clusters[0].named, "Studio");
  EXPECT_EQ(spaces[2].clusters[0].named, "Keep");
  EXPECT_EQ(spaces[3].emptyStop->named, std::nullopt);
  EXPECT_EQ(announced, 1);

  model_.setName(std::nullopt, *a.nameKey);
  EXPECT_EQ(model_.workspace().names, (std::map<std::string, std::string>{{"x", "y"}}));
  EXPECT_EQ(spaces[0].clusters[0].named, std::nullopt);
  EXPECT_EQ(spaces[1].clusters[0].named, std::nullopt);
  EXPECT_EQ(spaces[2].clusters[0].named, "Keep");
  EXPECT_EQ(model_.label(spaces[1].clusters[0], 0, true).name, "Desktop 2");
}

}  // namespace
}  // namespace trelliq
