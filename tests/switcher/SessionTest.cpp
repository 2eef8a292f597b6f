// Sessions opened, steered and ended by real key events through the tap: the quick
// ⌘⇥, ⌘⇥⇥, esc, the show delay counted from the press, and the open flag's ownership by
// one opening (a late commit or a failed begin never closes a newer session; a corner
// and a key at the same instant open once).

#include <gtest/gtest.h>

#include <algorithm>

#include "SessionStage.h"
#include "platform/AppKit.h"
#include "workspace/Recency.h"

namespace trelliq::session {
namespace {

class SessionKeysTest : public SessionStage {
 protected:
  // The user works in Finder's window, then in Quill's draft: Finder's window is the most
  // recently used other window.
  void workInFinderThenQuill() {
    Recency::shared().touch(kDocuments, true);
    scene.clock.advance(0.01);
    Recency::shared().touch(kDraft, true);
    scene.clock.advance(0.01);
  }
  // The events of one executor only, as the tap thread would see them while the main
  // thread is busy elsewhere.
  void deliverEventsOnly() {
    for (int guard = 0; guard < 1000; ++guard) {
      if (!scene.clock.step(sim::EventServer::kQueueLabel) && !scene.clock.step("event tap")) return;
    }
    FAIL() << "events kept coming";
  }
};

TEST_F(SessionKeysTest, QuickCommandTabSwitchesToTheLastWindowWithoutAnyPanel) {
  startTap();
  workInFinderThenQuill();
  const std::size_t before = linesStarting("switch to ").size();

  bool panelSeen = false;
  modifiers(kCommand);
  press(SwitcherKeys::tab, kCommand);
  during(0.1, [&] { panelSeen = panelSeen || anyPanelVisible() || switcher->session().isShown(); });
  EXPECT_TRUE(switcher->session().isActive());
  modifiers(0);
  during(1.5, [&] { panelSeen = panelSeen || anyPanelVisible() || switcher->session().isShown(); });

  EXPECT_FALSE(panelSeen);
  EXPECT_FALSE(switcher->gate().isOpen());
  EXPECT_FALSE(switcher->session().isActive());
  EXPECT_EQ(frontmost(), kFinderPID);
  EXPECT_EQ(frontWindowOf(kFinderPID), kDocuments);
  const auto lines = linesStarting("switch to ");
  ASSERT_EQ(lines.size(), before + 1);
  EXPECT_NE(lines.back().find("Finder"), std::string::npos) << lines.back();
}

TEST_F(SessionKeysTest, PanelsAppearAtTheShowDelayCountedFromThePress) {
  startTap();
  modifiers(kCommand);
  press(SwitcherKeys::tab, kCommand);
  scene.clock.advance(0.14);
  EXPECT_TRUE(switcher->session().isActive());
  EXPECT_FALSE(anyPanelVisible());
  scene.clock.advance(0.02);
  EXPECT_TRUE(switcher->session().isShown());
  EXPECT_TRUE(anyPanelVisible());

  // Ending the session orders every panel out again; nothing is switched.
  const std::size_t before = linesStarting("switch to ").size();
  press(SwitcherKeys::escape, kCommand);
  scene.clock.advance(0.05);
  EXPECT_FALSE(anyPanelVisible());
  modifiers(0);
  scene.clock.advance(1);
  EXPECT_EQ(linesStarting("switch to ").size(), before);
}

TEST_F(SessionKeysTest, CommandTabTabSelectsTheTileAfterTheStepBackTile) {
  startTap();
  workInFinderThenQuill();
  modifiers(kCommand);
  press(SwitcherKeys::tab, kCommand);
  scene.clock.advance(0.05);
  const std::string stepBack = selected();
  const std::vector<std::string> order = tileOrder();
  const auto at = std::find(order.begin(), order.end(), stepBack);
  ASSERT_NE(at, order.end());
  const std::string expected = order[static_cast<std::size_t>((at - order.begin() + 1)) % order.size()];
  ASSERT_NE(expected, stepBack);

  press(SwitcherKeys::tab, kCommand);
  scene.clock.advance(0.05);
  EXPECT_EQ(selected(), expected);

  // Letting go switches to what the second ⇥ chose.
  const WindowInfo* target = switcher->model().focusedTarget();
  const std::int32_t expectedPID = target ? target->pid : 0;
  const bool landsOnDesktop = switcher->model().landsOnDesktop(switcher->model().focused());
  modifiers(0);
  scene.clock.advance(1.5);
  EXPECT_FALSE(switcher->session().isActive());
  if (!landsOnDesktop) EXPECT_EQ(frontmost(), expectedPID);
}

TEST_F(SessionKeysTest, EscapeCancelsWithoutSwitchingAndRemembersTheDisplay) {
  startTap();
  const std::size_t before = linesStarting("switch to ").size();
  modifiers(kCommand);
  press(SwitcherKeys::tab, kCommand);
  scene.clock.advance(0.3);
  ASSERT_TRUE(switcher->session().isShown());
  const std::string focusedID = switcher->model().display(switcher->model().focused())->id;

  const double escapedAt = scene.clock.now();
  press(SwitcherKeys::escape, kCommand);
  scene.clock.advance(0.05);
  EXPECT_FALSE(switcher->gate().isOpen());
  EXPECT_FALSE(switcher->session().isActive());
  EXPECT_FALSE(switcher->session().isShown());
  EXPECT_FALSE(anyPanelVisible());
  EXPECT_EQ(switcher->memory().displayAtEnd(), focusedID);
  ASSERT_TRUE(switcher->memory().endedAt());
  EXPECT_GE(*switcher->memory().endedAt(), escapedAt);
  EXPECT_LE(*switcher->memory().endedAt(), scene.clock.now());

  // The ⌘ release after esc switches nothing.
  modifiers(0);
  scene.clock.advance(1);
  EXPECT_EQ(linesStarting("switch to ").size(), before);
  EXPECT_EQ(frontmost(), kQuillPID);
}

TEST_F(SessionKeysTest, TrayTriggerWithoutWindowlessAppsOpensNothing) {
  startTap();
  // Every regular app without a window leaves: the tray is empty.
  for (const auto& app : NSWorkspace::shared().runningApplications()) {
    const std::int32_t pid = app.processIdentifier();
    if (app.activationPolicy() != NSApplicationActivationPolicyRegular || pid == kFinderPID) continue;
    if (scene.windowServer.windowsOf(pid).empty()) scene.windowServer.terminate(pid);
  }
  scene.clock.advance(0.5);
  modifiers(kCommand | kCGEventFlagMaskControl);
  press(SwitcherKeys::tab, kCommand | kCGEventFlagMaskControl);
  scene.clock.advance(0.3);
  EXPECT_FALSE(switcher->session().isActive());
  EXPECT_FALSE(switcher->gate().isOpen());
  EXPECT_FALSE(anyPanelVisible());

  // The flag went back, so the next ⌘⇥ opens normally.
  modifiers(kCommand);
  press(SwitcherKeys::tab, kCommand);
  scene.clock.advance(0.05);
  EXPECT_TRUE(switcher->session().isActive());
  EXPECT_TRUE(switcher->gate().isOpen());
}

// ⌘ released and ⌘⇥ pressed again while the main thread is still busy: the tap closes
// session 1 and opens session 2 before the main queue runs session 1's commit.
TEST_F(SessionKeysTest, LateCommitOfAnEarlierSessionLeavesTheNewerOneOpen) {
  startTap();
  workInFinderThenQuill();
  modifiers(kCommand);
  press(SwitcherKeys::tab, kCommand);
  scene.clock.advance(0.3);
  ASSERT_TRUE(switcher->session().isShown());
  const std::uint64_t first = switcher->session().generation();

  modifiers(0);
  modifiers(kCommand);
  press(SwitcherKeys::tab, kCommand);
  deliverEventsOnly();
  const Switcher::OpenState opening = switcher->gate().openState();
  EXPECT_TRUE(opening.open);
  EXPECT_GT(opening.generation, first);
  EXPECT_TRUE(switcher->session().isActive()) << "the main queue has not run the commit yet";
  EXPECT_EQ(switcher->session().generation(), first);

  // Now the main queue catches up: the commit of session 1, then session 2's begin.
  scene.clock.advance(0.05);
  EXPECT_TRUE(switcher->gate().isOpen()) << "the late commit closed the newer session";
  EXPECT_TRUE(switcher->session().isActive());
  EXPECT_EQ(switcher->session().generation(), opening.generation);

  // Session 2 is a working session: it shows, and letting go ends it.
  scene.clock.advance(0.2);
  EXPECT_TRUE(switcher->session().isShown());
  modifiers(0);
  scene.clock.advance(1);
  EXPECT_FALSE(switcher->gate().isOpen());
  EXPECT_FALSE(switcher->session().isActive());
  EXPECT_FALSE(anyPanelVisible());
}

// The tap stopped between the key and its begin: nothing could close that session.
TEST_F(SessionKeysTest, AnOpeningThatFindsTheTapStoppedDoesNotBegin) {
  startTap();
  modifiers(kCommand);
  press(SwitcherKeys::tab, kCommand);
  deliverEventsOnly();
  ASSERT_TRUE(switcher->gate().isOpen());
  switcher->stopTap();
  scene.clock.advance(0.3);
  EXPECT_FALSE(switcher->session().isActive());
  EXPECT_FALSE(switcher->gate().isOpen());
  EXPECT_FALSE(anyPanelVisible());
}

TEST_F(SessionKeysTest, WorkPostedForAnEndedSessionIsDropped) {
  startTap();
  modifiers(kCommand);
  press(SwitcherKeys::tab, kCommand);
  scene.clock.advance(0.05);
  int ran = 0;
  switcher->onMain([&](Switcher&) { ++ran; });
  scene.clock.advance(0.01);
  EXPECT_EQ(ran, 1);

  // Posted for session 1, arriving after session 2 began: dropped.
  switcher->onMain([&](Switcher&) { ++ran; });
  switcher->session().cancel(false);
  const auto second = switcher->gate().tryOpen(kCommand, SessionAction::cycle(1), Staying::untilReleased);
  ASSERT_TRUE(second);
  ASSERT_TRUE(
      switcher->session().begin(Switcher::Action::cycle(1), scene.clock.monotonicNanos(), std::nullopt, *second));
  scene.clock.advance(0.01);
  EXPECT_EQ(ran, 1);

  // Posted for session 2 but arriving after it ended: dropped too.
  switcher->onMain([&](Switcher&) { ++ran; });
  switcher->session().cancel(false);
  scene.clock.advance(0.05);
  EXPECT_EQ(ran, 1);
}

class SessionOpeningTest : public SessionStage {};

TEST_F(SessionOpeningTest, FailedBeginOrLateCancelClearsOnlyItsOwnOpening) {
  const auto first = switcher->gate().tryOpen(kCommand, SessionAction::cycle(1), Staying::untilReleased);
  ASSERT_TRUE(first);
  EXPECT_FALSE(switcher->gate().tryOpen(kCommand, SessionAction::cycle(1), Staying::open)) << "an opening is under way";
  EXPECT_TRUE(switcher->gate().endOpen(*first));

  const auto second = switcher->gate().tryOpen(kCommand, SessionAction::clusters(1), Staying::open);
  ASSERT_TRUE(second);
  EXPECT_NE(*second, *first);
  EXPECT_FALSE(switcher->gate().endOpen(*first)) << "the first opening's late end";
  const Switcher::OpenState state = switcher->gate().openState();
  EXPECT_TRUE(state.open);
  EXPECT_TRUE(state.staysOpen);
  EXPECT_TRUE(state.clusterSession);
  EXPECT_EQ(state.generation, *second);
}

TEST_F(SessionOpeningTest, AKeyAndAHotCornerAtTheSameInstantOpenOnce) {
  startTap();
  const int sessions = switcher->session().number();
  // The tap thread's opening and the corner's, both before the main queue ran.
  switcher->session().open(Switcher::Action::cycle(1), kCommand, Staying::untilReleased, std::nullopt);
  switcher->openFromCorner(NSScreen::screens().front());
  scene.clock.advance(0.05);
  EXPECT_EQ(switcher->session().number(), sessions + 1);
  EXPECT_TRUE(switcher->session().isActive());
  EXPECT_FALSE(switcher->gate().staysOpen()) << "the key's ordinary session won";
  EXPECT_FALSE(switcher->session().isShown()) << "an ordinary session waits for the show delay";

  // The other way round: the corner's stays-open session shows at once, and a ⌘⇥ now
  // steers it instead of opening another.
  press(SwitcherKeys::escape, kCommand);
  scene.clock.advance(0.05);
  switcher->openFromCorner(NSScreen::screens().front());
  scene.clock.advance(0.01);
  EXPECT_TRUE(switcher->session().isShown());
  EXPECT_TRUE(switcher->gate().staysOpen());
  const std::string before = selected();
  modifiers(kCommand);
  press(SwitcherKeys::tab, kCommand);
  scene.clock.advance(0.05);
  EXPECT_EQ(switcher->session().number(), sessions + 2);
  EXPECT_NE(selected(), before);
}

TEST_F(SessionOpeningTest, HotCornerTogglesItsOwnSessionButLeavesAKeySessionAlone) {
  startTap();
  const NSScreen screen = NSScreen::screens().back();
  switcher->openFromCorner(screen);
  scene.clock.advance(0.01);
  ASSERT_TRUE(switcher->session().isActive());
  EXPECT_EQ(switcher->model().display(switcher->model().focused())->screen, screen) << "opens on the corner's screen";
  EXPECT_EQ(selected(), switcher->model().display(switcher->model().focused())->here.value_or("")) << "no first step";
  switcher->openFromCorner(screen);
  EXPECT_FALSE(switcher->session().isActive());
  EXPECT_FALSE(switcher->gate().isOpen());

  modifiers(kCommand);
  press(SwitcherKeys::tab, kCommand);
  scene.clock.advance(0.05);
  switcher->openFromCorner(screen);
  EXPECT_TRUE(switcher->session().isActive()) << "a ⌘⇥ session is not the corner's to close";
  switcher->toggleFromGesture();
  EXPECT_FALSE(switcher->session().isActive()) << "the double tap cancels any session";
  EXPECT_FALSE(switcher->gate().isOpen());
}

TEST_F(SessionOpeningTest, ANewSystemGetsAFreshSharedControllerAndTheOldOneStops) {
  Switcher& first = Switcher::shared();
  EXPECT_EQ(&Switcher::shared(), &first);
  scene.restart(Scene::Start::defaultScenario);
  Switcher& second = Switcher::shared();
  EXPECT_NE(&second, &first);
  EXPECT_TRUE(first.gate().tapStopped()) << "the old controller must not re-enable a tap of the old system";
  EXPECT_FALSE(second.gate().tapStopped());
}

TEST_F(SessionOpeningTest, CornerOpensNothingWithoutTheTap) {
  switcher->openFromCorner(NSScreen::screens().front());
  switcher->toggleFromGesture();
  scene.clock.advance(0.1);
  EXPECT_FALSE(switcher->gate().isOpen());
  EXPECT_FALSE(switcher->session().isActive());
}

}  // namespace
}  // namespace trelliq::session
