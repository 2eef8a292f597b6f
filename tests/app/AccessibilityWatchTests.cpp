#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AppDelegatePeer.h"
#include "ShellDesk.h"
#include "app/AppDelegate.h"
#include "app/NativeSwitcher.h"
#include "platform/Clock.h"

namespace {

using trelliq::AppDelegate;
using trelliq::AppDelegatePeer;
using trelliq::NativeSwitcher;
using Lines = std::vector<std::string>;

const std::string kAllGranted = "accessibility: trusted=true canFilter=true listen=true post=true";
const std::string kLeaving = "accessibility: went away while running; quitting and starting again";

struct WatchDesk : ShellDesk {
  FakeWindow permissions, preferences;
  AppDelegate delegate{permissions, preferences};
  AppDelegatePeer peer{delegate};

  // The switcher running: the system's switcher handed over, the watch started.
  WatchDesk() {
    NativeSwitcher::set(false);
    delegate.watchAccessibility();
  }

  std::vector<sim::Processes::Launch> launches() const { return processes.launches(); }
};

TEST(AccessibilityWatchTest, LogsTheStateAtOnceAndThenOnlyChanges) {
  WatchDesk desk;
  desk.scene.clock.runUntilIdle();
  EXPECT_EQ(ShellDesk::log(), Lines{kAllGranted}) << "the first tick runs at once";
  desk.scene.clock.advance(5);
  EXPECT_EQ(ShellDesk::log(), Lines{kAllGranted}) << "unchanged ticks write nothing";
  EXPECT_TRUE(desk.launches().empty());
  EXPECT_TRUE(desk.processes.exits().empty());
  EXPECT_TRUE(ShellDesk::hotKeysOff());

  // Listening for input stays allowed through input monitoring once trust goes.
  desk.events->setInputMonitoringAllowed(true);
  desk.world.setAccessibilityTrusted(false);
  desk.scene.clock.advance(0.99);
  EXPECT_EQ(ShellDesk::log().size(), 1u) << "nothing until the next tick";
  desk.scene.clock.advance(0.01);
  EXPECT_EQ(ShellDesk::log(),
            (Lines{kAllGranted, "accessibility: trusted=false canFilter=false listen=true post=false", kLeaving}));
}

TEST(AccessibilityWatchTest, RestartingTheWatchReplacesItAndLogsAgain) {
  WatchDesk desk;
  desk.scene.clock.advance(1.5);
  const auto first = desk.peer.accessibilityWatch();
  desk.delegate.watchAccessibility();
  EXPECT_TRUE(first->isCancelled());
  desk.scene.clock.advance(3);
  EXPECT_EQ(ShellDesk::log(), (Lines{kAllGranted, kAllGranted}));

  // Only the new watch ticks, on whole seconds from its own start (1.5 s in).
  desk.world.setAccessibilityTrusted(false);
  desk.scene.clock.advance(0.6);
  EXPECT_EQ(ShellDesk::log().size(), 2u) << "the old watch would have ticked at 5.0 s";
  desk.scene.clock.advance(0.4);
  EXPECT_EQ(ShellDesk::log().back(), kLeaving);
}

TEST(AccessibilityWatchTest, LostTrustRelaunchesThroughTheShellRestoresTheKeysAndExits) {
  WatchDesk desk;
  desk.scene.clock.advance(2);
  std::vector<bool> keysAtExit, onMain;
  desk.processes.setExitHandler([&](int) {
    keysAtExit.push_back(ShellDesk::hotKeysOn());
    onMain.push_back(platform::mainQueue().isCurrent());
  });
  desk.world.setAccessibilityTrusted(false);
  desk.scene.clock.advance(1);

  const auto launches = desk.launches();
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_EQ(launches[0].executable, "/bin/sh");
  EXPECT_EQ(launches[0].arguments,
            (std::vector<std::string>{"-c", "sleep 1; /usr/bin/open -n \"$0\"", "/Applications/Trelliq.app"}));
  EXPECT_EQ(desk.processes.exits(), std::vector<int>{0});
  EXPECT_EQ(keysAtExit, std::vector<bool>{true}) << "the exit waits for the system's switcher to be back";
  EXPECT_EQ(onMain, std::vector<bool>{true}) << "the main thread ends the process, between two pieces of its work";

  // The process is gone as far as the watch is concerned: no second relaunch or exit.
  desk.scene.clock.advance(5);
  EXPECT_EQ(desk.launches().size(), 1u);
  EXPECT_EQ(desk.processes.exits().size(), 1u);
  EXPECT_EQ(ShellDesk::log().back(), kLeaving);
}

TEST(AccessibilityWatchTest, TrustedButRefusedTapsCountAsLost) {
  WatchDesk desk;
  desk.scene.clock.runUntilIdle();
  desk.events->setActiveTapsRefused(true);
  desk.scene.clock.advance(1);
  EXPECT_EQ(ShellDesk::log(),
            (Lines{kAllGranted, "accessibility: trusted=true canFilter=false listen=true post=true", kLeaving}));
  EXPECT_EQ(desk.processes.exits(), std::vector<int>{0});
  EXPECT_TRUE(desk.events->taps().empty()) << "the test taps never stay";
}

TEST(AccessibilityWatchTest, ExitsAfterTheTimeLimitWhenRestoringTakesTooLong) {
  WatchDesk desk;
  desk.scene.clock.runUntilIdle();
  desk.world.setAccessibilityTrusted(false);
  desk.scene.clock.elapse(1);
  ASSERT_TRUE(desk.scene.clock.step(AppDelegate::watchQueueLabel));  // the tick; the restore queue stays behind
  EXPECT_TRUE(desk.processes.exits().empty());
  desk.scene.clock.elapse(AppDelegate::restoreWait - 0.01);
  EXPECT_FALSE(desk.scene.clock.step(AppDelegate::watchQueueLabel)) << "it waits for the restore";
  desk.scene.clock.elapse(0.01);
  ASSERT_TRUE(desk.scene.clock.step(AppDelegate::watchQueueLabel));
  EXPECT_TRUE(desk.processes.exits().empty()) << "the main thread ends the process";
  ASSERT_TRUE(desk.scene.clock.step(platform::mainQueue().label()));
  EXPECT_EQ(desk.processes.exits(), std::vector<int>{0});
  EXPECT_TRUE(ShellDesk::hotKeysOff());
  desk.scene.clock.runUntilIdle();
  EXPECT_TRUE(ShellDesk::hotKeysOn()) << "the late restore still runs";
  EXPECT_EQ(desk.processes.exits().size(), 1u) << "but does not exit twice";
}

TEST(AccessibilityWatchTest, AShellThatCannotStartStillEndsTheProcess) {
  WatchDesk desk;
  desk.processes.failLaunches("no such file");
  desk.world.setAccessibilityTrusted(false);
  desk.scene.clock.advance(0.5);
  EXPECT_TRUE(desk.launches().empty());
  EXPECT_EQ(desk.processes.exits(), std::vector<int>{0});
  EXPECT_TRUE(ShellDesk::hotKeysOn());
}

TEST(AccessibilityWatchTest, ListChangesAreLoggedOnceEachWithTheTrustAtThatMoment) {
  WatchDesk desk;
  desk.scene.clock.runUntilIdle();
  desk.delegate.watchAccessibility();  // a second watch adds no second observer
  desk.scene.clock.runUntilIdle();
  desk.processes.postDistributedNotification("com.apple.accessibility.api");
  desk.processes.postDistributedNotification("com.apple.something.else");
  desk.scene.clock.runUntilIdle();
  EXPECT_EQ(ShellDesk::log(),
            (Lines{kAllGranted, kAllGranted, "accessibility: macOS says the list changed (trusted=true)"}));

  desk.world.setAccessibilityTrusted(false);
  desk.processes.postDistributedNotification("com.apple.accessibility.api");
  desk.scene.clock.runUntilIdle();
  EXPECT_EQ(ShellDesk::log().back(), "accessibility: macOS says the list changed (trusted=false)");
  EXPECT_TRUE(desk.processes.exits().empty()) << "the note changes nothing; the next tick acts";
}

}  // namespace
