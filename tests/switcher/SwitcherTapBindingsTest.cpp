// The key bindings, one case per row of the binding table (and the variants that decide
// a row): whether the key is passed on or consumed, and what it did to the session once
// the work it posted has run.

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "SwitcherTapStage.h"
#include "platform/AppKitWorkspace.h"
#include "platform/Files.h"
#include "platform/sim/WindowServer.h"

namespace trelliq::tap {
namespace {

constexpr std::int32_t kQuill = 301;
constexpr std::uint32_t kDraft = 2101;

/// What the tests compare after the key: the selection as it was before.
struct Before {
  std::string selected;
  std::optional<int> pick;
  bool onTray = false;
};

struct BindingRow {
  std::string name;
  std::function<void(TapStage&)> setup;
  CGKeyCode key;
  CGEventFlags flags;
  bool repeat;
  bool consumed;
  std::function<void(TapStage&, const Before&)> effect;
};

void PrintTo(const BindingRow& row, std::ostream* os) { *os << row.name; }

class BindingTest : public TapStage, public ::testing::WithParamInterface<BindingRow> {};

// ---- Setups -------------------------------------------------------------------------------

auto closedWith(const char* key, platform::PlistValue value) {
  return [key, value](TapStage& s) { s.setOption(key, value); };
}
void closed(TapStage&) {}
void ordinary(TapStage& stage) { stage.openSession(Switcher::Action::cycle(1)); }
void ordinaryOnQuill(TapStage& stage) {
  TapStage& s = stage;
  s.openSession(Switcher::Action::cycle(1));
  ASSERT_FALSE(s.selectTileOf(kQuill).empty());
}
void staying(TapStage& stage) { stage.openSession(Switcher::Action::cycle(1), kCommand, true); }
void appWindowsSession(TapStage& stage) { stage.openSession(Switcher::Action::appWindows(1), kOption); }
void windowTileSession(TapStage& stage) {
  TapStage& s = stage;
  s.setOption("tiles", "windows");
  s.openSession(Switcher::Action::clusters(1));
}

// ---- Effects ------------------------------------------------------------------------------

void staysClosed(TapStage& stage, const Before&) {
  EXPECT_FALSE(stage.switcher->gate().isOpen());
  EXPECT_FALSE(stage.switcher->session().isActive());
}
void unchanged(TapStage& stage, const Before& before) {
  TapStage& s = stage;
  EXPECT_TRUE(s.switcher->gate().isOpen());
  EXPECT_EQ(s.selected(), before.selected);
  EXPECT_EQ(s.pick(), before.pick);
  EXPECT_EQ(s.switcher->model().onTray(), before.onTray);
}
void selectionMoved(TapStage& stage, const Before& before) {
  TapStage& s = stage;
  EXPECT_TRUE(s.selected() != before.selected || s.pick() != before.pick)
      << "still on " << before.selected << " pick " << before.pick.value_or(-9);
}
void ended(TapStage& stage, const Before&) {
  EXPECT_FALSE(stage.switcher->gate().isOpen());
  EXPECT_FALSE(stage.switcher->session().isActive());
}
auto opened(CGEventFlags holding, bool clusters, bool onTray) {
  return [=](TapStage& stage, const Before&) {
    TapStage& s = stage;
    ASSERT_TRUE(s.switcher->session().isActive());
    const Switcher::OpenState state = s.switcher->gate().openState();
    EXPECT_TRUE(state.open);
    EXPECT_EQ(state.holding, holding);
    EXPECT_EQ(state.clusterSession, clusters);
    EXPECT_EQ(s.switcher->session().screenTiles(), clusters);
    EXPECT_EQ(s.switcher->model().onTray(), onTray);
  };
}

std::vector<BindingRow> rows() {
  const CGKeyCode tab = SwitcherKeys::tab, grave = SwitcherKeys::grave;
  return {
      // Row 1
      {"OptionGraveOpensAppWindows", closedWith("appWindows", true), grave, kOption, false, true,
       [](TapStage& stage, const Before&) {
         TapStage& s = stage;
         ASSERT_TRUE(s.switcher->session().isActive());
         EXPECT_EQ(s.switcher->session().appSessionPID(), std::optional<std::int32_t>(kQuill));
         EXPECT_EQ(s.switcher->gate().openState().holding, kOption);
         EXPECT_TRUE(s.switcher->gate().openState().appSession);
       }},
      {"OptionGravePassesWithAppWindowsOff", closedWith("appWindows", false), grave, kOption, false, false,
       staysClosed},
      {"OptionTabStepsAppWindows", appWindowsSession, tab, kOption, false, true, selectionMoved},
      // Row 2
      {"CommandTabOpensWindowTiles", closedWith("tiles", "windows"), tab, kCommand, false, true,
       opened(kCommand, true, false)},
      {"CommandControlTabOpensTheirTray", closedWith("tiles", "windows"), tab, kCommand | kControl, false, true,
       opened(kCommand, true, true)},
      {"OptionTabOpensWindowTilesWithBoth", closedWith("tiles", "both"), tab, kOption, false, true,
       opened(kOption, true, false)},
      {"OptionTabPassesWithApps", closedWith("tiles", "apps"), tab, kOption, false, false, staysClosed},
      {"TabStepsWindowTiles", windowTileSession, tab, kCommand, false, true, selectionMoved},
      // Row 3
      {"CommandTabOpensApps", closed, tab, kCommand, false, true, opened(kCommand, false, false)},
      {"CommandControlTabOpensTheTray", closed, tab, kCommand | kControl, false, true, opened(kCommand, false, true)},
      {"CommandTabSteps", ordinary, tab, kCommand, false, true, selectionMoved},
      {"CommandTabRepeatOpensNothing", closed, tab, kCommand, true, true, staysClosed},
      {"CommandTabRepeatSteps", ordinary, tab, kCommand, true, true, selectionMoved},
      // Row 4
      {"OtherKeysPassWhileClosed", closed, kA, kCommand, false, false, staysClosed},
      // Row 5
      {"KeysAreSwallowedOnceHoldingIsUp", ordinary, kA, 0, false, true, unchanged},
      // Row 6
      {"EscapeCancels", ordinary, SwitcherKeys::escape, kCommand, false, true, ended},
      // Row 7
      {"ReturnCommitsAStaysOpenSession", staying, SwitcherKeys::returnKey, 0, false, true, ended},
      {"EnterCommitsAStaysOpenSession", staying, SwitcherKeys::enter, 0, false, true, ended},
      {"ReturnPassesInAnOrdinarySession", ordinary, SwitcherKeys::returnKey, kCommand, false, false, unchanged},
      // Row 8
      {"CommandGraveStepsWindows", ordinaryOnQuill, grave, kCommand, false, true, selectionMoved},
      {"CommandGraveRepeatDoesNothing", ordinaryOnQuill, grave, kCommand, true, true, unchanged},
      // Row 9
      {"RightArrowStepsAlsoRepeated", ordinary, SwitcherKeys::right, kCommand, true, true, selectionMoved},
      {"LeftArrowSteps", ordinary, SwitcherKeys::left, kCommand, false, true, selectionMoved},
      // Row 10
      {"UpArrowTakesTheTargetIntoFullScreen", ordinaryOnQuill, SwitcherKeys::up, kCommand, false, true,
       [](TapStage& stage, const Before&) {
         EXPECT_EQ(stage.switcher->fullScreen().moves(), 1);
         EXPECT_EQ(stage.switcher->fullScreen().pending(), std::optional<std::uint32_t>(kDraft));
       }},
      {"UpArrowRepeatDoesNothing", ordinaryOnQuill, SwitcherKeys::up, kCommand, true, true,
       [](TapStage& stage, const Before&) { EXPECT_EQ(stage.switcher->fullScreen().moves(), 0); }},
      // Row 11
      {"DigitPicksAWindow", ordinaryOnQuill, k2, kCommand, false, true,
       [](TapStage& stage, const Before&) { EXPECT_EQ(stage.pick(), std::optional<int>(1)); }},
      {"QAsksTheAppToQuit", ordinaryOnQuill, kQ, kCommand, false, true,
       [](TapStage& stage, const Before&) { EXPECT_TRUE(stage.switcher->model().quitting().count(kQuill)); }},
      {"HHidesTheApp", ordinaryOnQuill, kH, kCommand, false, true,
       [](TapStage& stage, const Before&) {
         stage.scene.clock.advance(0.5);
         EXPECT_TRUE(NSRunningApplication::withProcessIdentifier(kQuill)->isHidden());
       }},
      {"WClosesTheTargetWindow", ordinaryOnQuill, kW, kCommand, false, true,
       [](TapStage& stage, const Before&) {
         TapStage& s = stage;
         s.scene.clock.advance(1.0);
         EXPECT_FALSE(s.scene.windowServer.window(kDraft).has_value());
         for (const WindowInfo& w : s.switcher->model().workspace().windows()) EXPECT_NE(w.windowID, kDraft);
       }},
      {"OtherLettersAreSwallowed", ordinaryOnQuill, kX, kCommand, false, true, unchanged},
      {"ZeroIsSwallowed", ordinaryOnQuill, k0, kCommand, false, true, unchanged},
      // Row 12
      {"PunctuationPasses", ordinary, kPeriod, kCommand, false, false, unchanged},
      {"SpacePasses", ordinary, kSpace, kCommand, false, false, unchanged},
      {"TabWithOptionPassesInAnAppsSession", ordinary, tab, kCommand | kOption, false, false, unchanged},
  };
}

TEST_P(BindingTest, DecidesAndActs) {
  const BindingRow& row = GetParam();
  row.setup(*this);
  if (HasFatalFailure()) return;
  const Before before{selected(), pick(), switcher->model().onTray()};
  EXPECT_EQ(consumesKey(row.key, row.flags, row.repeat), row.consumed);
  settle();
  row.effect(*this, before);
}

INSTANTIATE_TEST_SUITE_P(KeyBindings, BindingTest, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<BindingRow>& info) { return info.param.name; });

// A read of the defaults may go to the disk; the tap decides from what the main queue
// handed it, before and after a change.
TEST_F(TapStage, OnlyAKeyThatMayOpenReadsTheOptionsSoAChangeFromElsewhereHoldsAtIt) {
  using platform::FileFaults, platform::FileOp;
  // A single failure of the next look at any preferences file, left in place unless used.
  FileFaults::fail(FileOp::stat, ".plist", EIO, 1);
  EXPECT_FALSE(consumesKey(kA, kCommand));
  EXPECT_FALSE(consumesKey(SwitcherKeys::tab, 0));
  EXPECT_EQ(FileFaults::check(FileOp::stat, ".plist"), EIO) << "typing looked at a preferences file";
  FileFaults::clear();

  // Another program writes the tile style; nothing here is told.
  ASSERT_TRUE(scene.world.writeForeignPreference(sim::World::kApplicationDomain, "tiles", std::string("windows")));
  EXPECT_TRUE(consumesKey(SwitcherKeys::tab, kCommand));
  settle();
  EXPECT_TRUE(switcher->gate().openState().clusterSession) << "⌘⇥ opened app tiles";
}

}  // namespace
}  // namespace trelliq::tap
