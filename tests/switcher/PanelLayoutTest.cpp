// One display's switcher panel as numbers: the focused and unfocused looks, when the tray
// row shows, separators, name labels and where they hang, dimmed and quitting tiles,
// the frames reported for hit testing and the content rectangle; and how `collect`
// carries reports through offsets and scales.

#include <gtest/gtest.h>

#include <initializer_list>
#include <ostream>
#include <string>

#include "Snapshots.h"
#include "support/Scene.h"
#include "switcher/layout/PanelLayout.h"
#include "switcher/model/SwitcherModel.h"

namespace trelliq::scene {
namespace {

using namespace trelliq::test;

class FixedWidth : public TextMeasure {
 public:
  CGSize size(const std::string& text, double pointSize, Weight) const override {
    return {static_cast<double>(text.size()) * pointSize / 2, pointSize + 3};
  }
};

const AppInfo kMail = app(1, "Mail");
const AppInfo kNotes = app(2, "Notes");
const AppInfo kChat = app(500, "Chat");

AppInfo finder() {
  AppFacts facts;
  facts.pid = 900;
  facts.name = "Finder";
  facts.bundle = "com.apple.finder";
  return app(facts);
}

const Node* at(const Node& root, std::initializer_list<std::string> path) {
  const Node* node = &root;
  for (const std::string& key : path) {
    const Node* next = nullptr;
    for (const Node& c : node->children) {
      if (c.key == key) next = &c;
    }
    if (!next) return nullptr;
    node = next;
  }
  return node;
}

void expectNear(const CGRect& actual, const CGRect& expected) {
  EXPECT_NEAR(actual.minX(), expected.minX(), 1e-9);
  EXPECT_NEAR(actual.minY(), expected.minY(), 1e-9);
  EXPECT_NEAR(actual.width(), expected.width(), 1e-9);
  EXPECT_NEAR(actual.height(), expected.height(), 1e-9);
}

// Every display here is 1920 × 1080 with a few tiles, so the icon size is 104: an app
// tile is 120 × 130, a whole-Space tile 219 × 130, a tray tile 58 × 58.
class PanelLayoutTest : public ::testing::Test {
 protected:
  PanelScene layout(int index, bool always = false) {
    return layoutPanel(PanelLayoutInput{model_, index, CGSize{1920, 1080}, always, measure_});
  }
  const Node* tile(const PanelScene& scene, const std::string& space, const std::string& id) {
    return at(scene.root, {"content", "strip", "space:" + space, "tile:" + id});
  }

  Scene scene_;
  SwitcherModel model_;
  FixedWidth measure_;
};

// ---- Focus, scale and the content rectangle ----

TEST_F(PanelLayoutTest, UnfocusedPanelIsSmallerFadedReportsScaledFramesAndHasNoTray) {
  model_.reset(workspace({display("D0", {space(1, {appTile(0, 1, kMail, {window(10, 1)})}, true)}, "0:1:1"),
                          display("D1", {space(2, {appTile(1, 2, kNotes, {window(20, 2)})}, true)}, "1:2:2")},
                         {kChat}),
               0);

  const PanelScene focused = layout(0);
  const Node* content = at(focused.root, {"content"});
  ASSERT_NE(content, nullptr);
  EXPECT_EQ(content->scale, 1);
  EXPECT_EQ(content->opacity, 1);
  ASSERT_NE(at(focused.root, {"content", "tray"}), nullptr);
  // Strip 176 × 186, then 12 points, then the tray row 90 × 78 at 0.6 about its top centre.
  EXPECT_EQ(focused.content, CGRect(872, 402, 176, 276));
  EXPECT_EQ(*focused.frames.find(TileID::cluster("0:1:1")), CGRect(900, 430, 120, 130));
  expectNear(*focused.frames.find(TileID::tray(500)), CGRect(942.6, 606, 34.8, 34.8));

  const PanelScene other = layout(1);
  content = at(other.root, {"content"});
  ASSERT_NE(content, nullptr);
  EXPECT_EQ(content->scale, 0.8);
  EXPECT_EQ(content->opacity, 0.6);
  EXPECT_EQ(content->anchor, (CGPoint{0.5, 0.5}));
  const Animation focusChange{0.2, Animation::Curve::easeOut};
  EXPECT_EQ(content->transitions.scale, focusChange);
  EXPECT_EQ(content->transitions.opacity, focusChange);
  EXPECT_EQ(at(other.root, {"content", "tray"}), nullptr);
  EXPECT_EQ(other.frames.find(TileID::tray(500)), nullptr);
  // The 176 × 186 content centred at (960, 540), shrunk to 0.8 about its centre.
  expectNear(other.content, CGRect(889.6, 465.6, 140.8, 148.8));
  expectNear(*other.frames.find(TileID::cluster("1:2:2")), CGRect(912, 488, 96, 104));
}

TEST_F(PanelLayoutTest, MissingDisplayDrawsNothingAndReportsNothing) {
  model_.reset(workspace({display("D0", {space(1, {appTile(0, 1, kMail, {window(10, 1)})}, true)})}, {kChat}), 0);
  const PanelScene scene = layout(3);
  EXPECT_TRUE(scene.root.children.empty());
  EXPECT_EQ(scene.root.frame, CGRect(0, 0, 1920, 1080));
  EXPECT_TRUE(scene.frames.empty());
  EXPECT_TRUE(scene.content.isNull());
}

TEST_F(PanelLayoutTest, DisplayWithoutSpacesSaysNoWindowsOnTheGlass) {
  model_.reset(workspace({display("D0", {})}), 0);
  const PanelScene scene = layout(0);
  const Node* strip = at(scene.root, {"content", "strip"});
  ASSERT_NE(strip, nullptr);
  EXPECT_EQ(std::get<Glass>(strip->content).radius, 58);
  ASSERT_EQ(strip->children.size(), 1u);
  const Node& empty = strip->children[0];
  EXPECT_EQ(std::get<Text>(empty.content), (Text{"No windows", 13, Weight::medium, Paint{Paint::Tone::secondary, 1}}));
  // "No windows" is 65 wide at 13 pt; it stands in a row one tile high, inside the 28 inset.
  EXPECT_EQ(empty.frame, CGRect(28, 28, 65, 130));
  EXPECT_TRUE(scene.frames.empty());
  EXPECT_EQ(scene.content, CGRect(899.5, 447, 121, 186));
}

// ---- The tray row ----

struct TrayRow {
  const char* what;
  bool appTile;  // else the display shows only a desktop tile
  bool onTray;
  bool finderOnly;
  bool empty;
  bool shown;
};
void PrintTo(const TrayRow& row, std::ostream* os) { *os << row.what; }

class PanelLayoutTray : public PanelLayoutTest, public ::testing::WithParamInterface<TrayRow> {};

TEST_P(PanelLayoutTray, ShowsOnlyWhenItHasSomethingToOffer) {
  const TrayRow& row = GetParam();
  const Cluster tile = row.appTile ? appTile(0, 1, kMail, {window(10, 1)}) : desktopTile(0, 1);
  std::vector<AppInfo> tray;
  if (!row.empty) tray = {row.finderOnly ? finder() : kChat};
  model_.reset(workspace({display("D0", {space(1, {tile}, true)}, tile.id)}, tray), 0);
  model_.onTray.set(row.onTray);
  const PanelScene scene = layout(0);
  EXPECT_EQ(at(scene.root, {"content", "tray"}) != nullptr, row.shown);
  EXPECT_EQ(scene.content.height(), row.shown ? 186 + 12 + (row.onTray ? 96 : 78) : 186);
}

INSTANTIATE_TEST_SUITE_P(PanelLayout, PanelLayoutTray,
                         ::testing::Values(TrayRow{"finder beside desktops only", false, false, true, false, false},
                                           TrayRow{"finder beside an app tile", true, false, true, false, true},
                                           TrayRow{"finder with the selection on it", false, true, true, false, true},
                                           TrayRow{"another app beside desktops", false, false, false, false, true},
                                           TrayRow{"empty tray", true, true, false, true, false}));

TEST_F(PanelLayoutTest, TrayRowOnTheSelectionNamesTheChosenAppAndDimsTheOthers) {
  model_.reset(
      workspace({display("D0", {space(1, {appTile(0, 1, kMail, {window(10, 1)})}, true)}, "0:1:1")}, {kChat, kNotes}),
      0);
  model_.onTray.set(true);
  model_.traySelection.set(2);
  const PanelScene scene = layout(0);
  const Node* tray = at(scene.root, {"content", "tray"});
  ASSERT_NE(tray, nullptr);
  EXPECT_EQ(tray->scale, 1);
  EXPECT_EQ(tray->opacity, 1);
  // 16 + 58 + 6 + 58 + 16 wide; 10 above and 28 below for the name.
  EXPECT_EQ(tray->frame.size, (CGSize{154, 96}));
  EXPECT_EQ(std::get<Glass>(tray->content).radius, 30);

  EXPECT_EQ(at(*tray, {"app:500", "icon"})->opacity, 0.6);
  EXPECT_EQ(at(*tray, {"app:2", "icon"})->opacity, 1);
  EXPECT_EQ(at(*tray, {"app:2", "icon"})->frame, CGRect(6, 6, 46, 46));
  EXPECT_EQ(at(*tray, {"app:500", "label"}), nullptr);
  const Node* label = at(*tray, {"app:2", "label"});
  ASSERT_NE(label, nullptr);
  // "Notes" in the small 12 pt type: 30 + 16 by 15 + 6, hanging 21 below the tile's bottom.
  EXPECT_EQ(label->frame, CGRect(6, 58, 46, 21));
  EXPECT_EQ(std::get<Text>(at(*label, {"text"})->content).size, 12);

  // Content 176 × 294 at (872, 393); the tray row, 11 in from its side and 198 below its top.
  EXPECT_EQ(scene.content, CGRect(872, 393, 176, 294));
  EXPECT_EQ(*scene.frames.find(TileID::tray(500)), CGRect(872 + 11 + 16, 393 + 198 + 10, 58, 58));
  EXPECT_EQ(*scene.frames.find(TileID::tray(2)), CGRect(872 + 11 + 16 + 64, 393 + 198 + 10, 58, 58));
}

// ---- Strip, groups and separators ----

struct SeparatorRow {
  int spaces;
  std::vector<double> groups;      // x of each group in the strip
  std::vector<double> separators;  // x of each line
  double width;
};

class PanelLayoutSeparators : public PanelLayoutTest, public ::testing::WithParamInterface<SeparatorRow> {};

TEST_P(PanelLayoutSeparators, SitMidwayInThe33PointsBetweenGroups) {
  const SeparatorRow& row = GetParam();
  std::vector<SpaceGroup> spaces;
  for (int k = 1; k <= row.spaces; ++k) spaces.push_back(space(k, {appTile(0, k, kMail, {window(10 + k, 1)})}, k == 1));
  model_.reset(workspace({display("D0", spaces)}), 0);
  const PanelScene scene = layout(0);
  const Node* strip = at(scene.root, {"content", "strip"});
  ASSERT_NE(strip, nullptr);
  std::vector<double> groups, separators;
  for (const Node& c : strip->children) {
    if (c.key.starts_with("separator:")) {
      separators.push_back(c.frame.minX());
      EXPECT_EQ(c.frame.size, (CGSize{1, 130}));
      EXPECT_DOUBLE_EQ(std::get<Shape>(c.content).fill->opacity, 0.15);
    } else {
      groups.push_back(c.frame.minX());
    }
    EXPECT_EQ(c.frame.minY(), 28);
  }
  EXPECT_EQ(groups, row.groups);
  EXPECT_EQ(separators, row.separators);
  EXPECT_EQ(strip->frame.size, (CGSize{row.width, 186}));
}

INSTANTIATE_TEST_SUITE_P(PanelLayout, PanelLayoutSeparators,
                         ::testing::Values(SeparatorRow{1, {28}, {}, 176}, SeparatorRow{2, {28, 181}, {164}, 329},
                                           SeparatorRow{3, {28, 181, 334}, {164, 317}, 482}));

TEST_F(PanelLayoutTest, TilesOfOneGroupAre14Apart) {
  const Cluster shot = screenTile(0, 1, {kMail}, {window(10, 1)});
  model_.reset(workspace({display("D0", {space(1, {appTile(0, 1, kMail, {window(11, 1)}), shot}, true)})}), 0);
  const PanelScene scene = layout(0);
  // 28 + 120 + 14 + 219 + 28 wide; the whole-Space tile's map is 203 × 114.
  EXPECT_EQ(scene.content.size, (CGSize{409, 186}));
  const CGRect* shotFrame = scene.frames.find(TileID::cluster(shot.id));
  ASSERT_NE(shotFrame, nullptr);
  EXPECT_EQ(*shotFrame, CGRect(scene.content.minX() + 162, scene.content.minY() + 28, 219, 130));
  const Node* map = at(*tile(scene, "1", shot.id), {"screen"});
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(map->frame, CGRect(8, 8, 203, 114));
}

// ---- Name labels ----

class PanelLayoutNames : public PanelLayoutTest {
 protected:
  void SetUp() override {
    model_.reset(
        workspace({display("D0",
                           {space(1,
                                  {appTile(0, 1, kMail, {window(10, 1)}), appTile(0, 1, kNotes, {window(20, 2)}),
                                   appTile(0, 1, kChat, {window(30, 500)})},
                                  true)},
                           "0:1:1"),
                   display("D1", {space(2, {appTile(1, 2, kMail, {window(40, 1)})}, true)}, "1:2:1")}),
        0);
    model_.selection.set({{0, "0:1:2"}});
  }
  // The label's text opacity per tile of D0, none where there is no label.
  std::vector<std::optional<double>> labels(const PanelScene& scene, std::vector<double>* widths = nullptr) {
    std::vector<std::optional<double>> out;
    for (const char* id : {"0:1:1", "0:1:2", "0:1:500"}) {
      const Node* label = at(*tile(scene, "1", id), {"label"});
      if (!label) {
        out.push_back(std::nullopt);
        continue;
      }
      out.push_back(std::get<Text>(at(*label, {"text"})->content).paint.opacity);
      if (widths) widths->push_back(label->frame.width());
    }
    return out;
  }
};

TEST_F(PanelLayoutNames, FocusedShowsOnlyTheSelectedTilesNaturalLabel) {
  std::vector<double> widths;
  EXPECT_EQ(labels(layout(0), &widths), (std::vector<std::optional<double>>{std::nullopt, 1.0, std::nullopt}));
  EXPECT_EQ(widths, std::vector<double>{16 + 32.5});  // "Notes"
  // The other display's front tile is drawn selected but carries no label.
  EXPECT_EQ(at(*tile(layout(1), "2", "1:2:1"), {"label"}), nullptr);
}

TEST_F(PanelLayoutNames, AlwaysLabelsEveryTileAtTileWidthPlus14) {
  std::vector<double> widths;
  EXPECT_EQ(labels(layout(0, true), &widths), (std::vector<std::optional<double>>{0.4, 1.0, 0.4}));
  EXPECT_EQ(widths, (std::vector<double>{134, 134, 134}));
  // On another display even the front tile's label is secondary.
  const PanelScene other = layout(1, true);
  const Node* label = at(*tile(other, "2", "1:2:1"), {"label"});
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(std::get<Text>(at(*label, {"text"})->content).paint.opacity, 0.4);
}

TEST_F(PanelLayoutNames, RenamingHoverAndJustNamedReachTheSelectedLabel) {
  model_.workspace.modify([](Workspace& w) { w.names["window/20"] = "Draft"; });
  model_.hoveredName.set("0:1:2");
  PanelScene scene = layout(0);
  const Node* label = at(*tile(scene, "1", "0:1:2"), {"label"});
  EXPECT_EQ(std::get<Text>(at(*label, {"text"})->content).text, "Draft");
  ASSERT_NE(scene.frames.find(TileID::resetName("0:1:2")), nullptr);
  ASSERT_NE(scene.frames.find(TileID::name("0:1:2")), nullptr);

  model_.hoveredName.set(std::nullopt);
  model_.renaming.set("0:1:2");
  model_.nameDraft.set("Dra");
  scene = layout(0);
  label = at(*tile(scene, "1", "0:1:2"), {"label"});
  EXPECT_EQ(std::get<NameField>(at(*label, {"field"})->content).text, "Dra");
  EXPECT_EQ(std::get<NameField>(at(*label, {"field"})->content).placeholder, "Notes");
  EXPECT_EQ(scene.frames.find(TileID::resetName("0:1:2")), nullptr);

  model_.renaming.set(std::nullopt);
  model_.justNamed.set("0:1:2");
  scene = layout(0);
  label = at(*tile(scene, "1", "0:1:2"), {"label"});
  EXPECT_EQ(label->settle, std::optional<bool>(true));
}

struct DropRow {
  const char* what;
  Cluster tile;
  double drop;
};
void PrintTo(const DropRow& row, std::ostream* os) { *os << row.what; }

class PanelLayoutLabelDrop : public PanelLayoutTest, public ::testing::WithParamInterface<DropRow> {};

TEST_P(PanelLayoutLabelDrop, HangsBelowTheTileBottomByItsKind) {
  const DropRow& row = GetParam();
  model_.reset(workspace({display("D0", {space(1, {row.tile}, true)}, row.tile.id)}), 0);
  const PanelScene scene = layout(0, true);
  const Node* node = tile(scene, "1", row.tile.id);
  ASSERT_NE(node, nullptr);
  const Node* label = at(*node, {"label"});
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->frame.maxY() - node->frame.height(), row.drop);
  EXPECT_EQ(label->frame.midX(), node->frame.width() / 2);
  // What the label reports hangs just as far below the reported tile.
  const CGRect* name = scene.frames.find(TileID::name(row.tile.id));
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->maxY() - scene.frames.find(TileID::cluster(row.tile.id))->maxY(), row.drop);
}

INSTANTIATE_TEST_SUITE_P(
    PanelLayout, PanelLayoutLabelDrop,
    ::testing::Values(DropRow{"one window", appTile(0, 1, kMail, {window(10, 1)}), 14},
                      DropRow{"two windows", appTile(0, 1, kMail, {window(10, 1), window(11, 1)}), 24},
                      DropRow{"whole Space", screenTile(0, 1, {kMail}, {window(10, 1)}, std::nullopt, true), 24},
                      DropRow{"desktop", desktopTile(0, 1), 14}));

// ---- Dimmed, badged and quitting tiles ----

AppInfo accessoryApp() {
  AppFacts facts;
  facts.pid = 7;
  facts.name = "Meter";
  facts.accessory = true;
  return app(facts);
}

struct IconRow {
  const char* what;
  bool minimized;
  bool accessory;
  bool selected;
  double opacity;
};
void PrintTo(const IconRow& row, std::ostream* os) { *os << row.what; }

class PanelLayoutIcon : public PanelLayoutTest, public ::testing::WithParamInterface<IconRow> {};

TEST_P(PanelLayoutIcon, DimsOutOfSightAppsUnlessSelectedAndKeepsTheBadges) {
  const IconRow& row = GetParam();
  const AppInfo owner = row.accessory ? accessoryApp() : kMail;
  const Cluster c = appTile(0, 1, owner, {window(10, owner.id, row.minimized)});
  const Cluster other = appTile(0, 1, kNotes, {window(20, 2)});
  model_.reset(workspace({display("D0", {space(1, {c, other}, true)})}), 0);
  model_.selection.set({{0, row.selected ? c.id : other.id}});
  const PanelScene scene = layout(0);
  const Node* icon = at(*tile(scene, "1", c.id), {"icon"});
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->opacity, row.opacity);
  EXPECT_EQ(icon->frame, CGRect(8, 8, 104, 104));
  const Node* minus = at(*icon, {"minimized"});
  const Node* menu = at(*icon, {"accessory"});
  EXPECT_EQ(minus != nullptr, row.minimized);
  EXPECT_EQ(menu != nullptr, row.accessory);
  if (minus) {
    EXPECT_EQ(minus->help, "Minimized");
    // On the bottom-trailing corner, pushed past it.
    EXPECT_GT(minus->frame.maxY(), 104);
  }
  if (menu) {
    EXPECT_EQ(menu->help, "Menu bar app");
    EXPECT_LT(menu->frame.minY(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(PanelLayout, PanelLayoutIcon,
                         ::testing::Values(IconRow{"plain", false, false, false, 1},
                                           IconRow{"minimized", true, false, false, 0.55},
                                           IconRow{"minimized and selected", true, false, true, 1},
                                           IconRow{"menu bar app", false, true, false, 1},
                                           IconRow{"minimized menu bar app", true, true, false, 0.55}));

TEST_F(PanelLayoutTest, AppsBeingQuitFadeInTilesAndTray) {
  const Cluster shared = screenTile(0, 1, {kMail, kNotes}, {window(10, 1), window(20, 2)});
  model_.reset(workspace({display("D0", {space(1, {appTile(0, 1, kMail, {window(11, 1)}), shared}, true),
                                         space(2, {appTile(0, 2, kNotes, {window(21, 2)})})})},
                         {kChat, app(600, "Clock")}),
               0);
  model_.quitting.set({2, 500});
  const PanelScene scene = layout(0);
  EXPECT_EQ(tile(scene, "1", "0:1:1")->opacity, 1);
  EXPECT_EQ(tile(scene, "1", shared.id)->opacity, 0.35);  // one of its apps is quitting
  EXPECT_EQ(tile(scene, "2", "0:2:2")->opacity, 0.35);
  EXPECT_EQ(at(scene.root, {"content", "tray", "app:500"})->opacity, 0.35);
  EXPECT_EQ(at(scene.root, {"content", "tray", "app:600"})->opacity, 1);
}

// ---- Picks: dots and highlight ----

std::optional<double> bigDot(const Node& tileNode) {
  const Node* dots = at(tileNode, {"dots"});
  for (std::size_t k = 0; dots && k < dots->children.size(); ++k) {
    if (dots->children[k].frame.width() == 8) return static_cast<double>(k);
  }
  return std::nullopt;
}

TEST_F(PanelLayoutTest, DotsAndHighlightFollowTheSelectionAndTheFrontTile) {
  const Cluster three = appTile(0, 1, kMail, {window(10, 1), window(11, 1), window(12, 1)}, 1);
  const Cluster two = appTile(0, 1, kNotes, {window(20, 2), window(21, 2)}, 1);
  const Cluster away = appTile(1, 2, kMail, {window(30, 1), window(31, 1)}, 1);
  const Cluster front = appTile(1, 2, kNotes, {window(40, 2), window(41, 2)}, 0);
  model_.reset(workspace({display("D0", {space(1, {three, two}, true)}, two.id),
                          display("D1", {space(2, {away, front}, true)}, front.id)}),
               0);
  model_.selection.set({{0, three.id}});
  model_.windowPick.set({{0, 2}});
  const PanelScene focused = layout(0);
  EXPECT_EQ(bigDot(*tile(focused, "1", three.id)), 2.0);
  // The front tile that is not selected still shows its last window.
  EXPECT_EQ(bigDot(*tile(focused, "1", two.id)), 1.0);
  const Node* selection = at(*tile(focused, "1", three.id), {"highlight", "selection"});
  EXPECT_EQ(selection->opacity, 1);
  EXPECT_EQ(selection->frame.height(), 130);  // extended over the dots
  EXPECT_EQ(at(*tile(focused, "1", two.id), {"highlight", "selection"})->opacity, 0);
  EXPECT_NE(at(*tile(focused, "1", two.id), {"highlight", "front"}), nullptr);

  const PanelScene other = layout(1);
  EXPECT_EQ(bigDot(*tile(other, "2", away.id)), std::nullopt);
  EXPECT_EQ(bigDot(*tile(other, "2", front.id)), 0.0);
  EXPECT_EQ(at(*tile(other, "2", front.id), {"highlight", "selection"})->opacity, 1);

  const Cluster one = appTile(0, 1, kMail, {window(10, 1)});
  model_.reset(workspace({display("D0", {space(1, {one}, true)}, one.id)}), 0);
  const PanelScene single = layout(0);
  selection = at(*tile(single, "1", one.id), {"highlight", "selection"});
  EXPECT_EQ(selection->frame, CGRect(0, 0, 120, 120));  // only the top square without dots to cover
  EXPECT_DOUBLE_EQ(std::get<Shape>(selection->content).radius, 0.22 * 120);
}

// ---- collect ----

Node box(std::string key, CGRect frame) {
  Node n;
  n.key = std::move(key);
  n.frame = frame;
  return n;
}

TEST(PanelLayoutCollect, CarriesReportsThroughOffsetsAndScalesLaterReportsWin) {
  Node root = box("root", CGRect(0, 0, 200, 200));
  Node half = box("half", CGRect(10, 10, 40, 40));  // shrunk about its centre (30, 30)
  half.scale = 0.5;
  half.reportsContent = true;
  half.reports.emplace_back(TileID::cluster("a"), CGRect(0, 0, 40, 40));
  half.reports.emplace_back(TileID::cluster("b"), CGRect(0, 0, 1, 1));
  Node inner = box("inner", CGRect(20, 0, 10, 10));
  inner.reports.emplace_back(TileID::cluster("b"), CGRect(0, 0, 10, 10));
  half.children.push_back(std::move(inner));
  Node top = box("top", CGRect(100, 100, 100, 50));  // shrunk about its top centre (150, 100)
  top.scale = 0.6;
  top.anchor = {0.5, 0};
  top.reportsContent = true;
  top.reports.emplace_back(TileID::tray(3), CGRect(0, 0, 100, 50));
  root.children.push_back(std::move(half));
  root.children.push_back(std::move(top));

  const PanelScene scene = collect(root);
  EXPECT_EQ(*scene.frames.find(TileID::cluster("a")), CGRect(20, 20, 20, 20));
  EXPECT_EQ(*scene.frames.find(TileID::cluster("b")), CGRect(30, 20, 5, 5));
  expectNear(*scene.frames.find(TileID::tray(3)), CGRect(120, 100, 60, 30));
  expectNear(scene.content, CGRect(20, 20, 160, 110));
  EXPECT_EQ(scene.frames.size(), 3u);
  EXPECT_EQ(scene.root.children.size(), 2u);

  // Scales nest: a half inside a half, both about their top left.
  Node outer = box("outer", CGRect(0, 0, 100, 100));
  outer.scale = 0.5;
  outer.anchor = {0, 0};
  Node nested = box("nested", CGRect(50, 50, 20, 20));
  nested.scale = 0.5;
  nested.anchor = {0, 0};
  nested.reports.emplace_back(TileID::name("x"), CGRect(10, 10, 10, 10));
  outer.children.push_back(std::move(nested));
  const PanelScene twice = collect(outer);
  EXPECT_EQ(*twice.frames.find(TileID::name("x")), CGRect(27.5, 27.5, 2.5, 2.5));
  EXPECT_TRUE(twice.content.isNull());
}

}  // namespace
}  // namespace trelliq::scene
