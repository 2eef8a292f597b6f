// Steering and acting on the selection: sideways steps in the order the tiles lie on the
// panel, stepping a tile's windows (raised live only on a showing Space), quitting,
// closing with its confirmation, and the full-screen toggle while a change is pending.

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "SwitcherTapStage.h"
#include "platform/sim/AccessibilityServer.h"
#include "platform/sim/WindowServer.h"

namespace trelliq::tap {
namespace {

constexpr std::int32_t kFinder = 201, kQuill = 301, kHarbor = 303, kCadence = 305, kSlate = 306;
constexpr std::uint32_t kDraft = 2101, kOldLetter = 2103;

class SteeringTest : public TapStage {
 public:
  int focused() const { return switcher->model().focused(); }
  /// Whether any tile of the snapshot still shows the window / the app.
  bool modelHasWindow(std::uint32_t number) const {
    const auto all = switcher->model().workspace().windows();
    return std::any_of(all.begin(), all.end(), [&](const WindowInfo& w) { return w.windowID == number; });
  }
  bool modelHasApp(std::int32_t pid) const {
    const auto all = switcher->model().workspace().windows();
    return std::any_of(all.begin(), all.end(), [&](const WindowInfo& w) { return w.pid == pid; });
  }
  /// Picks the window with that number in the selected tile.
  void pickWindow(std::uint32_t number) {
    const Cluster* c = switcher->model().selectedCluster(focused());
    ASSERT_TRUE(c);
    for (std::size_t i = 0; i < c->windows.size(); ++i) {
      if (c->windows[i].windowID == number) {
        auto picks = switcher->model().windowPick();
        picks[focused()] = static_cast<int>(i);
        switcher->model().windowPick.set(picks);
        return;
      }
    }
    FAIL() << "window " << number << " is not in the selected tile";
  }
  std::size_t focusRequests() const {
    return scene.windowServer.privateCalls("_SLPSSetFrontProcessWithOptions").size();
  }
  std::size_t orderedInChecks(std::uint32_t window) const {
    std::size_t n = 0;
    for (const auto& call : scene.windowServer.privateCalls("SLSWindowIsOrderedIn")) {
      if (call.arguments.size() > 1 && call.arguments[1].asInteger() == std::optional<std::int64_t>(window)) ++n;
    }
    return n;
  }
  sim::AccessibilityServer& ax() { return *sim::AccessibilityServer::active(); }
};

// ---- Sideways, by where the stops lie -------------------------------------------------------

struct Stop {
  std::string cluster;
  std::optional<int> pick;
  friend bool operator==(const Stop&, const Stop&) = default;
};

class SidewaysTest : public SteeringTest, public ::testing::WithParamInterface<double> {};

// Tiles lie left to right 200 points apart. In one whole-Space tile two window pictures
// share a column: the one reported higher is placed `GetParam()` points to the right.
TEST_P(SidewaysTest, StopsGoLeftToRightAndTopFirstWithinAColumn) {
  const double offset = GetParam();
  setOption("tiles", "windows");
  openSession(Switcher::Action::clusters(1));
  const int f = focused();
  const DisplayGroup* group = switcher->model().display(f);
  ASSERT_TRUE(group);
  PanelGeometry& geometry = *switcher->panels().panel(f).geometry;

  std::vector<Stop> expected;
  bool columnPlaced = false;
  const std::vector<Cluster> clusters = group->clusters();
  for (std::size_t k = 0; k < clusters.size(); ++k) {
    const Cluster& c = clusters[k];
    const double x = 200.0 * static_cast<double>(k);
    geometry.tiles.set(TileID::cluster(c.id), CGRect(x, 0, 100, 100));
    if (!c.screen) {
      expected.push_back({c.id, std::nullopt});
      continue;
    }
    std::vector<int> stops = switcher->model().cycleStops(c, f);
    std::vector<int> windows;
    for (int s : stops) {
      if (s >= 0) windows.push_back(s);
    }
    if (!columnPlaced && windows.size() >= 2) {
      columnPlaced = true;
      const int lower = windows[0], higher = windows[1];
      geometry.tiles.set(TileID::window(c.id, lower, 1), CGRect(x + 10, 60, 20, 20));
      geometry.tiles.set(TileID::window(c.id, higher, 2), CGRect(x + 10 + offset, 10, 20, 20));
      // Higher first within a column, else left first; the rest lie on the tile's own frame.
      if (offset <= 1.0) {
        expected.push_back({c.id, higher});
        expected.push_back({c.id, lower});
      } else {
        expected.push_back({c.id, lower});
        expected.push_back({c.id, higher});
      }
      for (int s : stops) {
        if (s != lower && s != higher) expected.push_back({c.id, s});
      }
    } else {
      for (int s : stops) expected.push_back({c.id, s});
    }
  }
  ASSERT_TRUE(columnPlaced) << "the desk needs a whole-Space tile with two windows";

  auto current = [&]() -> Stop {
    const Cluster* c = switcher->model().selectedCluster(f);
    if (!c || !c->screen) return {c ? c->id : "", std::nullopt};
    if (switcher->model().picksDesktop(*c, f)) return {c->id, SwitcherModel::desktopPick};
    return {c->id, switcher->model().targetWindowIndex(*c, f)};
  };
  switcher->model().select(expected.front().cluster, f);
  if (expected.front().pick) {
    auto picks = switcher->model().windowPick();
    picks[f] = *expected.front().pick;
    switcher->model().windowPick.set(picks);
  }
  ASSERT_EQ(current(), expected.front());
  for (std::size_t i = 1; i <= expected.size(); ++i) {
    switcher->actions().stepWindowSideways(1);
    ASSERT_EQ(current(), expected[i % expected.size()]) << "step " << i << (i == expected.size() ? " (wraps)" : "");
  }
  switcher->actions().stepWindowSideways(-1);
  EXPECT_EQ(current(), expected.back()) << "left from the first stop lands on the last";
}

INSTANTIATE_TEST_SUITE_P(ColumnOffset, SidewaysTest, ::testing::Values(0.8, 1.5));

// ---- The windows of a tile ----------------------------------------------------------------

TEST_F(SteeringTest, StepWindowRaisesTheWindowAtOnceOnAShowingSpace) {
  openSession(Switcher::Action::cycle(1));
  ASSERT_FALSE(selectTileOf(kSlate).empty());
  const WindowInfo* before = switcher->model().targetWindow(focused());
  ASSERT_TRUE(before && before->windowID);
  const std::uint32_t from = *before->windowID;
  const std::size_t requests = focusRequests();
  switcher->actions().stepWindow(1);
  const WindowInfo* target = switcher->model().targetWindow(focused());
  ASSERT_TRUE(target && target->windowID);
  ASSERT_NE(*target->windowID, from);
  EXPECT_GT(focusRequests(), requests);
  scene.clock.advance(0.5);
  EXPECT_EQ(scene.windowServer.frontmost(), std::optional<std::int32_t>(kSlate));
}

TEST_F(SteeringTest, StepWindowOnAnotherSpaceChangesTheSelectionButRaisesNothing) {
  sim::Window second;
  second.pid = kQuill;
  second.title = "Second.txt";
  second.bounds = CGRect(200, 200, 500, 400);
  second.spaces = {4};
  second.axElement = 77;
  scene.windowServer.addWindow(second);
  openSession(Switcher::Action::cycle(1));
  // Quill's tile on Space 4 (not showing) now has two windows.
  const DisplayGroup* group = switcher->model().display(0);
  ASSERT_TRUE(group);
  std::string id;
  for (const Cluster& c : group->clusters()) {
    if (c.space == 4 && c.app() && c.app()->id == kQuill) id = c.id;
  }
  ASSERT_FALSE(id.empty());
  switcher->model().focus(0);
  switcher->model().select(id, 0);
  const std::size_t requests = focusRequests();
  const auto targetBefore = switcher->model().targetWindow(0)->windowID;
  switcher->actions().stepWindow(1);
  EXPECT_NE(switcher->model().targetWindow(0)->windowID, targetBefore);
  scene.clock.advance(0.5);
  EXPECT_EQ(focusRequests(), requests);
  EXPECT_EQ(scene.windowServer.currentSpace(1), std::optional<std::uint64_t>(1)) << "no Space change";
}

// ---- Quit and close -----------------------------------------------------------------------

TEST_F(SteeringTest, TheFileManagerIsNeverAskedToQuit) {
  openSession(Switcher::Action::cycle(1));
  ASSERT_FALSE(selectTileOf(kFinder).empty());
  switcher->actions().quitSelectedApp();
  EXPECT_FALSE(switcher->model().quitting().count(kFinder));
  EXPECT_EQ(switcher->actions().quitWatchCount(), 0u);
}

TEST_F(SteeringTest, AQuittingAppLeavesWhenItEndsAndARefusingOneKeepsItsMark) {
  openSession(Switcher::Action::cycle(1));
  ASSERT_FALSE(selectTileOf(kCadence).empty());
  switcher->actions().quitSelectedApp();
  ASSERT_FALSE(selectTileOf(kHarbor).empty());
  switcher->actions().quitSelectedApp();
  EXPECT_EQ(switcher->model().quitting(), (std::set<std::int32_t>{kCadence, kHarbor}));
  scene.clock.advance(0.5);
  EXPECT_TRUE(modelHasApp(kCadence)) << "it takes its time";
  scene.clock.advance(3);
  EXPECT_FALSE(modelHasApp(kCadence));
  EXPECT_FALSE(switcher->actions().watchesQuitOf(kCadence));
  EXPECT_TRUE(modelHasApp(kHarbor));
  EXPECT_TRUE(switcher->model().quitting().count(kHarbor));
}

// The app refuses every close here; the window server's answer alone tells whether the
// window went: refused and still ordered in (kept after five checks), ordered out
// (gone), minimized (gone only once it left the list).
TEST_F(SteeringTest, ACloseIsConfirmedByWhatTheWindowServerStillLists) {
  openSession(Switcher::Action::cycle(1));
  ASSERT_FALSE(selectTileOf(kQuill).empty());
  ax().setError(kQuill, kAXPressAction, kAXErrorCannotComplete);

  pickWindow(kDraft);
  switcher->actions().closeTargetWindow();
  scene.clock.advance(2);
  EXPECT_TRUE(modelHasWindow(kDraft));
  EXPECT_EQ(orderedInChecks(kDraft), 5u) << "five checks, then it gives up";

  switcher->actions().closeTargetWindow();
  scene.clock.advance(0.2);
  ASSERT_TRUE(modelHasWindow(kDraft));
  scene.windowServer.updateWindow(kDraft, [](sim::Window& w) { w.orderedIn = false; });
  scene.clock.advance(0.2);
  EXPECT_FALSE(modelHasWindow(kDraft)) << "no longer ordered in counts as closed";

  ASSERT_FALSE(selectTileOf(kQuill).empty());
  pickWindow(kOldLetter);
  switcher->actions().closeTargetWindow();
  scene.clock.advance(0.5);
  EXPECT_TRUE(modelHasWindow(kOldLetter)) << "minimized windows are never ordered in";
  scene.windowServer.removeWindow(kOldLetter);
  scene.clock.advance(0.2);
  EXPECT_FALSE(modelHasWindow(kOldLetter));
}

}  // namespace
}  // namespace trelliq::tap
