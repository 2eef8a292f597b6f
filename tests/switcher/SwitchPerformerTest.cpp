// Planning a switch from the selection and performing it on the default desk: jumping to
// the window's Space before raising it, the log line of each switch, the check 0.4 s
// later that the Space really shows (and its limits), desktops, apps opened from the
// tray, and plans of several switches.

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "SwitchPerformerScenes.h"
#include "SwitcherPeer.h"
#include "platform/CGEvent.h"
#include "platform/CGWindow.h"
#include "platform/sim/EventServer.h"
#include "platform/sim/World.h"
#include "workspace/Recency.h"
#include "workspace/SpaceList.h"
#include "workspace/SpaceSwipe.h"

namespace trelliq::perform {
namespace {

using Switch = Switcher::Switch;

/// Matches a whole switch line whose time is any number of milliseconds.
::testing::AssertionResult switchLine(const std::string& line, const std::string& withoutTime) {
  const std::regex pattern(std::regex_replace(withoutTime, std::regex(R"([\[\]().])"), R"(\$&)") + " after \\d+ms");
  if (std::regex_match(line, pattern)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << line << "\" is not \"" << withoutTime << " after <n>ms\"";
}

// ---- Planning ------------------------------------------------------------------------------

class PerformPlanning : public PerformScene {
 protected:
  void start(int display = 0) {
    switcher->model().reset(Workspace::load(false), display);
    SwitcherPeer::setOpenedOn(*switcher, display);
  }
  const DisplayGroup& display(int index) { return *switcher->model().display(index); }
};

TEST_F(PerformPlanning, NothingChangedOnTheOpeningDisplayPlansNothingButAnotherDisplayCounts) {
  start();
  EXPECT_TRUE(SwitchPerformer::plannedSwitches(switcher->model(), switcher->session().openedOnDisplay()).empty());

  // Moving over to the wide display without stepping there is a choice of its front tile.
  switcher->model().focus(1);
  const auto plan = SwitchPerformer::plannedSwitches(switcher->model(), switcher->session().openedOnDisplay());
  ASSERT_EQ(plan.size(), 1u);
  const auto* target = std::get_if<Switch::Window>(&plan[0].what);
  ASSERT_TRUE(target);
  const Cluster* front = switcher->model().selectedCluster(1);
  ASSERT_TRUE(front);
  EXPECT_EQ(front->space, 2);
  EXPECT_EQ(target->app.id, front->app()->id);
  EXPECT_EQ(target->window.windowID, switcher->model().targetWindow(1)->windowID);
}

TEST_F(PerformPlanning, AStepOnTheOpeningDisplayPlansItsTargetWindow) {
  start();
  // Quill is in front; the Finder's tile on the same Space is chosen.
  switcher->model().select("0:1:201", 0);
  const auto plan = SwitchPerformer::plannedSwitches(switcher->model(), switcher->session().openedOnDisplay());
  ASSERT_EQ(plan.size(), 1u);
  const auto* target = std::get_if<Switch::Window>(&plan[0].what);
  ASSERT_TRUE(target);
  EXPECT_EQ(target->app.id, kFinder);
  EXPECT_EQ(target->window.windowID, 1101u);
}

TEST_F(PerformPlanning, ATrayAppIsOpenedOnItsDisplayEvenWhenNothingElseMoved) {
  start();
  switcher->model().enterTray();
  ASSERT_TRUE(switcher->model().selectedTrayApp());
  const auto plan = SwitchPerformer::plannedSwitches(switcher->model(), switcher->session().openedOnDisplay());
  ASSERT_EQ(plan.size(), 1u);
  const auto* target = std::get_if<Switch::Open>(&plan[0].what);
  ASSERT_TRUE(target);
  EXPECT_EQ(target->app.id, switcher->model().selectedTrayApp()->id);
  EXPECT_EQ(target->screen.displayNumber(), kBuiltIn);
}

TEST_F(PerformPlanning, ASelectedDesktopPlansThatSpacesDesktopOnItsScreen) {
  start();
  std::string desk;
  for (const Cluster& c : display(0).clusters()) {
    if (c.isDesktop() && c.space == 6) desk = c.id;
  }
  for (const auto& space : display(0).spaces) {
    if (desk.empty() && space.id == 6 && space.emptyStop) desk = space.emptyStop->id;
  }
  ASSERT_FALSE(desk.empty()) << "Space 6 has a desktop tile";
  switcher->model().select(desk, 0);
  const auto plan = SwitchPerformer::plannedSwitches(switcher->model(), switcher->session().openedOnDisplay());
  ASSERT_EQ(plan.size(), 1u);
  const auto* target = std::get_if<Switch::Desktop>(&plan[0].what);
  ASSERT_TRUE(target);
  EXPECT_EQ(target->space, 6);
  EXPECT_EQ(target->screen.displayNumber(), kBuiltIn);
}

// ---- Performing onto a window ---------------------------------------------------------------

class PerformSwitch : public PerformScene {
 protected:
  /// Performs the plan; counts the calls of its completion.
  void run(std::vector<Switch> plan) {
    switcher->performer().perform(std::move(plan), [this] { ++doneCalls; });
  }
  Switch windowSwitch(std::uint32_t number) {
    Chosen c = chosen(number);
    return Switch{Switch::Window{c.app, c.window}};
  }
  /// Posted swipes are dropped without the permission: instant jumps miss.
  void dropSwipes(bool drop) { scene.world.setAccessibilityTrusted(!drop); }

  int doneCalls = 0;
};

TEST_F(PerformSwitch, AWindowOnAnotherSpaceIsRaisedOnceTheJumpLanded) {
  run({windowSwitch(4101)});
  EXPECT_TRUE(linesStarting("switch to").empty()) << "written only after the jump's callback";
  EXPECT_EQ(doneCalls, 0);

  scene.clock.advance(1);
  EXPECT_EQ(current(kBuiltIn), 4u);
  EXPECT_EQ(current(kWide), 2u);
  EXPECT_EQ(frontmost(), kHarbor);
  const auto lines = linesStarting("switch to");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(
      switchLine(lines[0], "switch to Harbor Mail window 4101 on space [4] from [1, 2]: jumped, showing [2, 4]"));
  EXPECT_EQ(doneCalls, 1);
  // Landed: the check 0.4 s later finds nothing to do.
  scene.clock.advance(2);
  EXPECT_TRUE(linesStarting("  ").empty());
}

TEST_F(PerformSwitch, WithoutInstantSwitchingTheSpaceSlides) {
  setInstantSpaces(false);
  run({windowSwitch(4101)});
  scene.clock.advance(3);
  EXPECT_EQ(current(kBuiltIn), 4u);
  EXPECT_EQ(frontmost(), kHarbor);
  const auto lines = linesStarting("switch to");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(switchLine(lines[0], "switch to Harbor Mail window 4101 on space [4] from [1, 2]: slid, showing [2, 4]"));
  EXPECT_EQ(doneCalls, 1);
}

TEST_F(PerformSwitch, AWindowOnAShowingSpaceOrWithoutANumberIsRaisedAtOnce) {
  run({windowSwitch(3101)});
  EXPECT_EQ(doneCalls, 1);
  const auto lines = linesStarting("switch to");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0],
            "switch to Lumen window 3101 on space [2] from [1, 2]: no Space change, showing [1, 2] after 0ms");
  scene.clock.advance(1);
  EXPECT_EQ(frontmost(), kLumen);
  EXPECT_EQ(current(kBuiltIn), 1u);

  // A window without a number: no jump either.
  Chosen lumen = chosen(3102);
  lumen.window.windowID.reset();
  run({Switch{Switch::Window{lumen.app, lumen.window}}});
  EXPECT_EQ(doneCalls, 2);
  const auto later = linesStarting("switch to");
  ASSERT_EQ(later.size(), 2u);
  EXPECT_EQ(later[1], "switch to Lumen window - on space [] from [1, 2]: no Space change, showing [1, 2] after 0ms");
}

TEST_F(PerformSwitch, AJumpThatDidNotLandSaysSoAndTheCheckGoesThereAgain) {
  scene.windowServer.setSpaceFollow(sim::SpaceFollow::doesNotFollow);
  dropSwipes(true);
  run({windowSwitch(4101)});
  scene.clock.advance(0.6);
  const auto lines = linesStarting("switch to");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(switchLine(
      lines[0], "switch to Harbor Mail window 4101 on space [4] from [1, 2]: jumped, didn't land, showing [1, 2]"));
  EXPECT_EQ(doneCalls, 1);
  EXPECT_EQ(frontmost(), kHarbor);
  EXPECT_EQ(current(kBuiltIn), 1u) << "the display did not follow";

  // The system behaves again; 0.4 s after the switch the Space is found not showing.
  dropSwipes(false);
  scene.windowServer.setSpaceFollow(sim::SpaceFollow::follows);
  scene.clock.advance(0.5);
  EXPECT_EQ(linesStarting("  "),
            std::vector<std::string>{
                "  Harbor Mail's window 4101 is in front but its Space [4] isn't showing ([1, 2]); going there again"});
  scene.clock.advance(3);
  EXPECT_EQ(current(kBuiltIn), 4u);
  EXPECT_EQ(frontmost(), kHarbor);
  EXPECT_EQ(linesStarting("  ").back(), "  now showing [2, 4]");
  EXPECT_TRUE(sim::EventServer::active()->swipes().empty()) << "an instant jump missed before: this one slid";
  EXPECT_EQ(linesStarting("  ").size(), 2u) << "the second check finds the Space showing";
}

TEST_F(PerformSwitch, TheSpaceIsCheckedAgainAtMostTwice) {
  scene.windowServer.setSpaceFollow(sim::SpaceFollow::doesNotFollow);
  dropSwipes(true);
  run({windowSwitch(4101)});
  scene.clock.advance(20);
  EXPECT_EQ(current(kBuiltIn), 1u);
  const std::string again =
      "  Harbor Mail's window 4101 is in front but its Space [4] isn't showing ([1, 2]); going there again";
  EXPECT_EQ(linesStarting("  "),
            (std::vector<std::string>{again, "  now showing [1, 2]", again, "  now showing [1, 2]"}));
}

TEST_F(PerformSwitch, ASessionOpenedMeanwhileEndsTheCheck) {
  scene.windowServer.setSpaceFollow(sim::SpaceFollow::doesNotFollow);
  dropSwipes(true);
  run({windowSwitch(4101)});
  scene.clock.advance(0.55);
  SwitcherPeer::setActive(*switcher, true);
  scene.clock.advance(5);
  EXPECT_TRUE(linesStarting("  ").empty());
}

TEST_F(PerformSwitch, AMinimizedWindowIsNeverChecked) {
  scene.windowServer.setSpaceFollow(sim::SpaceFollow::doesNotFollow);
  ASSERT_TRUE(scene.windowServer.setWindowSpaces(2103, {4}));
  Chosen letter = chosen(2103);
  ASSERT_TRUE(letter.window.minimized);
  dropSwipes(true);
  run({Switch{Switch::Window{letter.app, letter.window}}});
  scene.clock.advance(5);
  EXPECT_EQ(linesStarting("switch to Quill window 2103").size(), 1u);
  EXPECT_TRUE(linesStarting("  ").empty());
}

TEST_F(PerformSwitch, AfterThreeMissedJumpsTheSwitchSlidesAndSaysSo) {
  dropSwipes(true);
  for (std::int64_t space : {4, 6, 4}) {
    bool landed = true;
    ASSERT_TRUE(SpaceSwipe::jump(space, false, [&](bool l) { landed = l; }));
    scene.clock.advance(1);
    ASSERT_FALSE(landed);
  }
  ASSERT_EQ(SpaceSwipe::misses(), SpaceSwipe::maxMisses);
  dropSwipes(false);

  run({windowSwitch(4101)});
  scene.clock.advance(3);
  EXPECT_EQ(current(kBuiltIn), 4u);
  const auto lines = linesStarting("switch to");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(switchLine(lines[0], "switch to Harbor Mail window 4101 on space [4] from [1, 2]: slid, showing [2, 4]"));
}

TEST_F(PerformSwitch, APlanOfTwoSwitchesRunsThemInTurn) {
  run({windowSwitch(4101), windowSwitch(3102)});
  EXPECT_EQ(doneCalls, 0);
  EXPECT_TRUE(linesStarting("switch to").empty()) << "the second waits for the first one's jump";
  scene.clock.advance(3);
  const auto lines = linesStarting("switch to");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(
      switchLine(lines[0], "switch to Harbor Mail window 4101 on space [4] from [1, 2]: jumped, showing [2, 4]"));
  EXPECT_TRUE(switchLine(lines[1], "switch to Lumen window 3102 on space [7] from [2, 4]: jumped, showing [4, 7]"));
  EXPECT_EQ(doneCalls, 1);
  EXPECT_EQ(frontmost(), kLumen);
}

TEST_F(PerformSwitch, AnEmptyPlanOnlyCompletes) {
  run({});
  EXPECT_EQ(doneCalls, 1);
  EXPECT_TRUE(logLines().empty());
}

TEST_F(PerformSwitch, AControllerThatWentAwayEndsThePlanAfterTheCurrentSwitch) {
  run({windowSwitch(4101), windowSwitch(3101)});
  switcher.reset();
  scene.clock.advance(3);
  const auto lines = linesStarting("switch to");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("switch to Harbor Mail", 0), 0u);
  EXPECT_EQ(doneCalls, 0);
}

TEST_F(PerformSwitch, TheCommitsCompletionHidesTheGhostUnlessANewSessionOpened) {
  SwitcherPeer::pretendGhostOf(*switcher, 2101);
  switcher->session().commitDone();
  scene.clock.advance(0.04);
  EXPECT_TRUE(switcher->ghost().shownWindow());
  scene.clock.advance(0.02);
  EXPECT_FALSE(switcher->ghost().shownWindow());

  SwitcherPeer::pretendGhostOf(*switcher, 2101);
  switcher->session().commitDone();
  SwitcherPeer::setActive(*switcher, true);
  scene.clock.advance(0.1);
  EXPECT_TRUE(switcher->ghost().shownWindow());
  SwitcherPeer::setActive(*switcher, false);
}

// ---- Desktops --------------------------------------------------------------------------------

/// The window of the latest request to bring a process forward with a key window.
std::int64_t lastFocusedWindow(sim::WindowServer& server) {
  const auto calls = server.privateCalls("_SLPSSetFrontProcessWithOptions");
  if (calls.empty() || calls.back().arguments.size() < 2) return 0;
  return calls.back().arguments[1].asInteger().value_or(0);
}

/// The Finder's desktop window of a display (by its bounds).
std::uint32_t finderDesktop(sim::WindowServer& server, std::uint32_t display) {
  for (const auto& d : server.displays()) {
    if (d.displayID != display) continue;
    for (const auto& w : server.windowsOf(kFinder)) {
      if (w.layer == CGWindowLevelForKey(kCGDesktopIconWindowLevelKey) && w.bounds == d.frame) return w.number;
    }
  }
  return 0;
}

TEST_F(PerformSwitch, ADesktopIsReachedAndFocusedAndCountsAsUsedBeforeTheJump) {
  const auto screen = screenOf(kBuiltIn);
  ASSERT_TRUE(screen);
  const std::uint64_t stampBefore = Recency::shared().desktopStamp(6);
  run({Switch{Switch::Desktop{6, *screen}}});
  EXPECT_GT(Recency::shared().desktopStamp(6), stampBefore);
  EXPECT_TRUE(linesStarting("switch to").empty());

  scene.clock.advance(1);
  EXPECT_EQ(current(kBuiltIn), 6u);
  EXPECT_EQ(frontmost(), kFinder);
  const std::uint32_t desk = finderDesktop(scene.windowServer, kBuiltIn);
  ASSERT_NE(desk, 0u);
  EXPECT_EQ(lastFocusedWindow(scene.windowServer), desk);
  EXPECT_EQ(linesStarting("switch to"),
            std::vector<std::string>{
                "switch to the desktop on space [6] from [1, 2]: jumped, showing [2, 6], focused its desktop"});
  EXPECT_EQ(doneCalls, 1);
}

TEST_F(PerformSwitch, WithoutTheFinderTheDesktopCannotBeFocused) {
  ASSERT_TRUE(scene.windowServer.terminate(kFinder));
  const auto screen = screenOf(kWide);
  ASSERT_TRUE(screen);
  run({Switch{Switch::Desktop{2, *screen}}});
  EXPECT_EQ(doneCalls, 1);
  EXPECT_EQ(linesStarting("switch to"),
            std::vector<std::string>{"switch to the desktop on space [2] from [1, 2]: no Space change, showing [1, "
                                     "2], couldn't focus its desktop"});
}

TEST_F(PerformSwitch, TheDesktopWindowIsToldApartByItsExactBounds) {
  // Two displays of one size side by side: only the bounds differ.
  ASSERT_TRUE(scene.world.replaceDisplay(kWide, sim::makeDisplay(kWide, CGRect(1512, 0, 1512, 982), "Twin")));
  const auto twin = screenOf(kWide);
  ASSERT_TRUE(twin);
  ASSERT_TRUE(SwitchPerformer::focusDesktop(*twin));
  scene.clock.advance(0.5);
  const std::uint32_t desk = finderDesktop(scene.windowServer, kWide);
  ASSERT_NE(desk, 0u);
  EXPECT_NE(desk, finderDesktop(scene.windowServer, kBuiltIn));
  EXPECT_EQ(lastFocusedWindow(scene.windowServer), desk);
  EXPECT_EQ(frontmost(), kFinder);
}

// ---- Apps from the tray ---------------------------------------------------------------------

TEST_F(PerformSwitch, ATrayAppIsOpenedAndItsFirstWindowComesToTheChosenDisplay) {
  const auto screen = screenOf(kBuiltIn);
  ASSERT_TRUE(screen);
  const auto easel = NSRunningApplication::withProcessIdentifier(kEasel);
  ASSERT_TRUE(easel);
  run({Switch{Switch::Open{AppInfo(*easel), *screen}}});
  EXPECT_EQ(doneCalls, 1) << "the window is placed later, on its own";
  EXPECT_EQ(linesStarting("switch to"),
            std::vector<std::string>{"switch to Easel, opening its first window on " + screen->localizedName()});

  scene.clock.advance(1.5);
  EXPECT_EQ(frontmost(), kEasel);
  std::optional<sim::Window> window;
  for (const auto& w : scene.windowServer.windowsOf(kEasel)) {
    if (w.layer == 0) window = w;
  }
  ASSERT_TRUE(window);
  const CGRect v = screen->visibleFrame();
  const double top = screen->frame().maxY();
  EXPECT_EQ(window->bounds.origin,
            (CGPoint{v.midX() - window->bounds.width() / 2, top - v.midY() - window->bounds.height() / 2}));
}

// ---- Through the keyboard --------------------------------------------------------------------

class PerformByKeys : public PerformSwitch {
 protected:
  static void post(const CGEventRef& event) { CGEventPost(kCGHIDEventTap, event); }
  static void command(bool down) {
    CGEventRef event = CGEventCreateKeyboardEvent(nullptr, 55, true);
    CGEventSetType(event, kCGEventFlagsChanged);
    CGEventSetFlags(event, down ? kCGEventFlagMaskCommand : 0);
    post(event);
  }
  static void tab() {
    for (const bool down : {true, false}) {
      CGEventRef event = CGEventCreateKeyboardEvent(nullptr, SwitcherKeys::tab, down);
      CGEventSetFlags(event, kCGEventFlagMaskCommand);
      post(event);
    }
  }
};

TEST_F(PerformByKeys, LettingGoOnTheDesktopOfAnotherSpaceGoesThere) {
  ASSERT_TRUE(switcher->startTap());
  scene.windowServer.setPointer(CGPoint{756, 491});
  scene.clock.advance(0.1);
  command(true);
  tab();
  scene.clock.advance(0.05);
  ASSERT_TRUE(switcher->session().isActive());

  // The desktop tile of a Space the focused display does not show.
  const int focused = switcher->model().focused();
  const DisplayGroup* group = switcher->model().display(focused);
  ASSERT_TRUE(group);
  std::string target;
  std::int64_t space = 0;
  for (const auto& s : group->spaces) {
    for (const Cluster& c : s.clusters) {
      if (target.empty() && c.isDesktop() && !s.current) {
        target = c.id;
        space = s.id;
      }
    }
  }
  ASSERT_FALSE(target.empty());
  for (int presses = 0; presses < 20 && switcher->model().selectedID(focused) != target; ++presses) {
    tab();
    scene.clock.advance(0.02);
  }
  ASSERT_EQ(switcher->model().selectedID(focused), target);
  const auto before = currentSpacesSorted();

  command(false);
  scene.clock.advance(1);
  EXPECT_FALSE(switcher->session().isActive());
  EXPECT_TRUE(currentSpacesSorted() != before);
  const auto lines = linesStarting("switch to");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("switch to the desktop on space [" + std::to_string(space) + "] from " +
                               spaceListText(before) + ": jumped, showing ",
                           0),
            0u)
      << lines[0];
  EXPECT_NE(lines[0].find(", focused its desktop"), std::string::npos) << lines[0];
  EXPECT_EQ(frontmost(), kFinder);
  switcher->stopTap();
}

}  // namespace
}  // namespace trelliq::perform
