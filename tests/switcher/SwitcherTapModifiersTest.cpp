// Modifier changes seen by the tap: quick taps of ⇧, ⌃ and ⌥ in an open session, the
// ⌥ tap under ⌘ that opens the Spaces session, letting go of the holding modifier, fn,
// and what the tap leaves alone while a desktop name is edited.

#include <string>
#include <tuple>

#include "SwitcherTapStage.h"
#include "platform/Files.h"
#include "settings/Diagnostics.h"

namespace trelliq::tap {
namespace {

constexpr std::uint64_t kNanos = 1'000'000'000;

class ModifierTest : public TapStage {
 public:
  /// A flags-changed event through the tap; flags-changed events always pass.
  void flags(CGEventFlags now, std::optional<CGEventTimestamp> at = std::nullopt) {
    EXPECT_FALSE(consumes(kCGEventFlagsChanged, modifiers(now, at))) << "flags-changed must pass";
    settle();
  }
  /// Space id of the focused display's selected tile.
  std::int64_t selectedSpace() const {
    const Cluster* c = switcher->model().selectedCluster(switcher->model().focused());
    return c ? c->space : -1;
  }
  bool picksDesktop() const {
    const int focused = switcher->model().focused();
    const Cluster* c = switcher->model().selectedCluster(focused);
    return c && switcher->model().picksDesktop(*c, focused);
  }
};

// ---- Quick taps in an open session: 0.399 s counts, 0.4 s does not ---------------------------

enum class Modifier { shift, control, option };

class TapTiming : public ModifierTest, public ::testing::WithParamInterface<std::tuple<Modifier, double>> {};

TEST_P(TapTiming, OnlyReleasesWithinTheTapWindowCount) {
  const auto [modifier, held] = GetParam();
  const bool counts = held < SwitcherTiming::tapSeconds;
  const CGEventFlags key = modifier == Modifier::shift ? kShift : modifier == Modifier::control ? kControl : kOption;
  if (modifier == Modifier::shift) {
    // ⇧ taps count in window-tile sessions only.
    setOption("tiles", "windows");
    openSession(Switcher::Action::clusters(1));
  } else {
    openSession(Switcher::Action::cycle(1));
  }
  flags(kCommand);
  const bool trayBefore = switcher->model().onTray();
  const bool desktopBefore = picksDesktop();
  const std::int64_t spaceBefore = selectedSpace();

  flags(kCommand | key);
  scene.clock.advance(held);
  flags(kCommand);

  switch (modifier) {
    case Modifier::shift:
      EXPECT_EQ(picksDesktop(), counts ? !desktopBefore : desktopBefore);
      break;
    case Modifier::control:
      EXPECT_EQ(switcher->model().onTray(), counts ? !trayBefore : trayBefore);
      break;
    case Modifier::option:
      EXPECT_EQ(selectedSpace() != spaceBefore, counts);
      break;
  }
  EXPECT_TRUE(switcher->gate().isOpen()) << "a tap does not end the session";
}

std::string timingName(const ::testing::TestParamInfo<std::tuple<Modifier, double>>& info) {
  static const char* const names[] = {"Shift", "Control", "Option"};
  return std::string(names[static_cast<int>(std::get<0>(info.param))]) + "Held" +
         std::to_string(static_cast<int>(std::get<1>(info.param) * 1000)) + "ms";
}

INSTANTIATE_TEST_SUITE_P(ShiftControlOption, TapTiming,
                         ::testing::Combine(::testing::Values(Modifier::shift, Modifier::control, Modifier::option),
                                            ::testing::Values(0.399, 0.4)),
                         timingName);

// ---- What spoils a tap ---------------------------------------------------------------------

TEST_F(ModifierTest, AKeyPressedDuringShiftSpoilsTheShiftTap) {
  setOption("tiles", "windows");
  openSession(Switcher::Action::clusters(1));
  flags(kCommand);
  const bool before = picksDesktop();
  flags(kCommand | kShift);
  EXPECT_TRUE(consumesKey(kX, kCommand | kShift));
  settle();
  flags(kCommand);
  EXPECT_EQ(picksDesktop(), before);
}

TEST_F(ModifierTest, ControlHeldForTabStepsIsNoControlTap) {
  openSession(Switcher::Action::cycle(1));
  flags(kCommand);
  flags(kCommand | kControl);
  EXPECT_TRUE(consumesKey(SwitcherKeys::tab, kCommand | kControl));
  settle();
  flags(kCommand);
  EXPECT_FALSE(switcher->model().onTray());
}

TEST_F(ModifierTest, ControlReleasedLateOnlyEndsTheHeldTray) {
  openSession(Switcher::Action::tray());
  flags(kCommand | kControl);
  ASSERT_TRUE(switcher->model().controlHeld());
  ASSERT_TRUE(switcher->model().onTray());
  scene.clock.advance(1.0);
  flags(kCommand);
  EXPECT_FALSE(switcher->model().controlHeld());
  EXPECT_TRUE(switcher->model().onTray()) << "a long ⌃ press is no tap";
}

TEST_F(ModifierTest, ShiftHeldWhileOptionIsTappedStepsSpacesBackwards) {
  openSession(Switcher::Action::cycle(1));
  flags(kCommand);
  const std::int64_t start = selectedSpace();
  flags(kCommand | kOption);
  flags(kCommand);
  const std::int64_t forward = selectedSpace();
  ASSERT_NE(forward, start);
  flags(kCommand | kShift);
  flags(kCommand | kShift | kOption);
  flags(kCommand | kShift);
  EXPECT_EQ(selectedSpace(), start) << "back to the Space it came from";
}

// ---- The ⌥ tap under ⌘ while closed ---------------------------------------------------------

class ClosedOptionTap : public ModifierTest, public ::testing::WithParamInterface<std::uint64_t> {};

TEST_P(ClosedOptionTap, OpensTheSpacesSessionOnlyWithinTheTapWindow) {
  const std::uint64_t heldNanos = GetParam();
  const CGEventTimestamp t = 5 * kNanos;
  flags(kCommand, t - kNanos);
  flags(kCommand | kOption, t);
  flags(kCommand, t + heldNanos);
  const bool tap = heldNanos < SwitcherTiming::maxTapNanos;
  EXPECT_EQ(switcher->gate().isOpen(), tap);
  EXPECT_EQ(switcher->session().isActive(), tap);
  if (tap) {
    EXPECT_FALSE(switcher->session().screenTiles());
    EXPECT_EQ(switcher->gate().openState().holding, kCommand);
  } else {
    EXPECT_TRUE(switcher->eventTap().hasPendingTap()) << "kept until ⌘ goes up";
    flags(0, t + 2 * kNanos);
    EXPECT_FALSE(switcher->eventTap().hasPendingTap());
    EXPECT_FALSE(switcher->gate().isOpen());
  }
}

INSTANTIATE_TEST_SUITE_P(Nanoseconds, ClosedOptionTap, ::testing::Values(399'999'999, 400'000'000));

TEST_F(ModifierTest, ClosedOptionTapStepsBackWithShiftAndOpensTilesWithWindowTiles) {
  auto tap = [&](CGEventFlags extra, CGEventTimestamp at) {
    flags(kCommand | extra, at);
    flags(kCommand | extra | kOption, at + kNanos);
    flags(kCommand | extra, at + kNanos + 100'000'000);
  };
  tap(0, kNanos);
  ASSERT_TRUE(switcher->session().isActive());
  EXPECT_FALSE(switcher->session().screenTiles());
  const std::int64_t forward = selectedSpace();
  switcher->session().cancel(false);
  flags(0, 3 * kNanos);

  tap(kShift, 4 * kNanos);
  ASSERT_TRUE(switcher->session().isActive());
  EXPECT_NE(selectedSpace(), forward);
  switcher->session().cancel(false);
  flags(0, 6 * kNanos);

  setOption("tiles", "windows");
  tap(0, 7 * kNanos);
  ASSERT_TRUE(switcher->session().isActive());
  EXPECT_TRUE(switcher->session().screenTiles());
}

TEST_F(ModifierTest, ClosedOptionTapIsSpoiledByKeysOtherModifiersAndTimeTravel) {
  // A key between press and release.
  flags(kCommand, kNanos);
  flags(kCommand | kOption, 2 * kNanos);
  EXPECT_FALSE(consumesKey(SwitcherKeys::tab, kCommand | kOption));
  flags(kCommand, 2 * kNanos + 100'000'000);
  EXPECT_FALSE(switcher->gate().isOpen());

  // ⌃ joins in.
  flags(kCommand | kOption, 3 * kNanos);
  flags(kCommand | kOption | kControl, 3 * kNanos + 10'000'000);
  flags(kCommand, 3 * kNanos + 100'000'000);
  EXPECT_FALSE(switcher->gate().isOpen());

  // A release stamped before its press is no tap and is not kept.
  flags(kCommand | kOption, 4 * kNanos);
  flags(kCommand, 4 * kNanos - 1);
  EXPECT_FALSE(switcher->gate().isOpen());
  EXPECT_FALSE(switcher->eventTap().hasPendingTap());

  // A mouse press clears it too.
  flags(kCommand | kOption, 5 * kNanos);
  consumes(kCGEventLeftMouseDown, mouse(kCGEventLeftMouseDown, {300, 300}));
  settle();
  flags(kCommand, 5 * kNanos + 1000);
  EXPECT_FALSE(switcher->gate().isOpen());
}

// ---- The holding modifier, stays-open sessions, fn -------------------------------------------

TEST_F(ModifierTest, LettingGoOfTheHoldingModifierClosesAtOnceAndCommits) {
  openSession(Switcher::Action::cycle(1));
  EXPECT_FALSE(consumes(kCGEventFlagsChanged, modifiers(kCommand)));
  EXPECT_FALSE(consumes(kCGEventFlagsChanged, modifiers(0)));
  EXPECT_FALSE(switcher->gate().isOpen()) << "closed for the tap before the main queue runs";
  EXPECT_TRUE(switcher->session().isActive());
  settle();
  EXPECT_FALSE(switcher->session().isActive());
}

TEST_F(ModifierTest, AStaysOpenSessionEndsOnAPressAndReleaseOfCommand) {
  openSession(Switcher::Action::cycle(1), kCommand, true);
  flags(kShift);
  flags(0);
  EXPECT_TRUE(switcher->gate().isOpen()) << "other modifiers do not end it";
  flags(kCommand);
  EXPECT_TRUE(switcher->gate().isOpen());
  flags(0);
  EXPECT_FALSE(switcher->gate().isOpen());
  EXPECT_FALSE(switcher->session().isActive());
}

TEST_F(ModifierTest, FnMovesTheSteeringToTheNextDisplay) {
  openSession(Switcher::Action::cycle(1));
  ASSERT_TRUE(switcher->model().display(1)) << "the desk has two displays";
  flags(kCommand);
  const int before = switcher->model().focused();
  flags(kCommand | kFn);
  EXPECT_NE(switcher->model().focused(), before);
  flags(kCommand);
  flags(kCommand | kFn | kControl);
  EXPECT_NE(switcher->model().focused(), before) << "fn with ⌃ is no display step";
}

TEST_F(ModifierTest, WhileRenamingEveryEventPassesAndOnlyTheFlagsAreRemembered) {
  openSession(Switcher::Action::cycle(1));
  ASSERT_TRUE(switcher->gate().lockForRenaming(switcher->session().generation()));
  flags(kCommand | kOption, kNanos);
  EXPECT_FALSE(switcher->eventTap().hasPendingTap());
  EXPECT_EQ(switcher->eventTap().lastFlags(), kCommand | kOption);
  for (CGKeyCode code :
       {kA, kQ, SwitcherKeys::escape, SwitcherKeys::tab, SwitcherKeys::left, SwitcherKeys::returnKey}) {
    EXPECT_FALSE(consumesKey(code, kCommand)) << "key " << code;
  }
  EXPECT_FALSE(consumes(kCGEventLeftMouseDown, mouse(kCGEventLeftMouseDown, {5, 5})));
  settle();
  EXPECT_TRUE(switcher->session().isActive()) << "nothing ended the session";
}

TEST_F(ModifierTest, ADisabledTapIsLoggedAndTurnedBackOnUnlessStopped) {
  ASSERT_TRUE(switcher->startTap());
  scene.clock.advance(0.05);
  CFMachPortRef port = switcher->gate().tapPort();
  ASSERT_TRUE(port);
  sim::EventServer::active()->disableTapsByUserInput();
  scene.clock.advance(0.05);
  EXPECT_TRUE(CGEventTapIsEnabled(port));
  CGEventTapEnable(port, false);
  switcher->handle(kCGEventTapDisabledByTimeout, CGEventCreate(nullptr));
  EXPECT_TRUE(CGEventTapIsEnabled(port));

  const auto bytes = platform::FileManager::contents(Diagnostics::url());
  ASSERT_TRUE(bytes);
  const std::string log(bytes->begin(), bytes->end());
  EXPECT_NE(log.find("event tap disabled by macOS (user input); trusted=true"), std::string::npos);
  EXPECT_NE(log.find("event tap disabled by macOS (timeout); trusted=true"), std::string::npos);

  switcher->stopTap();
  CGEventTapEnable(port, false);
  switcher->handle(kCGEventTapDisabledByTimeout, CGEventCreate(nullptr));
  EXPECT_FALSE(CGEventTapIsEnabled(port));
}

}  // namespace
}  // namespace trelliq::tap
