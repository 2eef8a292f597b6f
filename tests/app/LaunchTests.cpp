#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LaunchDesk.h"
#include "app/NativeSwitcher.h"
#include "platform/Foundation.h"

namespace {

using trelliq::AppDelegate;
using trelliq::AppDelegatePeer;
using Strings = std::vector<std::string>;

const Strings kWaitingMenu = [] {
  Strings entries{"Open Permission Settings", "—"};
  entries.insert(entries.end(), kMenu.begin(), kMenu.end());
  return entries;
}();

TEST(LaunchTest, WithAccessibilityTheSwitcherStartsAndTakesOverTheSystemSwitcher) {
  LaunchDesk desk;
  ASSERT_TRUE(ShellDesk::hotKeysOn());
  desk.launch();
  EXPECT_EQ(desk.activeTaps(), 1u);
  EXPECT_TRUE(ShellDesk::hotKeysOff());
  EXPECT_TRUE(desk.peer.recencyStarted());
  EXPECT_FALSE(desk.peer.accessibilityTimer());
  EXPECT_TRUE(desk.shows.empty()) << "no window at a plain launch";
  EXPECT_EQ(desk.entries(), kMenu);
  EXPECT_EQ(desk.buttonTitle(), AppDelegate::iconFallbackTitle) << "the bundle here has no icon";
  // Options are registered, the login item is set up once and the watch has ticked.
  EXPECT_EQ(UserDefaults::standard().stringForKey("tiles"), "apps");
  EXPECT_TRUE(UserDefaults::standard().boolForKey("launchAtLoginSetUp"));
  EXPECT_FALSE(trelliq::NativeSwitcher::signalSources().empty());
  desk.scene.clock.runUntilIdle();
  EXPECT_EQ(ShellDesk::log(), Strings{"accessibility: trusted=true canFilter=true listen=true post=true"});
}

TEST(LaunchTest, WithoutAccessibilityItWaitsMarkedAndStartsWithinASecondOfTheGrant) {
  LaunchDesk desk;
  desk.world.setAccessibilityTrusted(false);
  desk.launch();
  EXPECT_EQ(desk.activeTaps(), 0u);
  EXPECT_TRUE(ShellDesk::hotKeysOn()) << "the system's switcher stays usable";
  EXPECT_EQ(desk.shows, Strings{"permissions"});
  EXPECT_EQ(desk.buttonTitle(), std::string(AppDelegate::iconFallbackTitle) + " (Permission needed)");
  EXPECT_EQ(desk.entries(), kWaitingMenu);
  EXPECT_FALSE(desk.peer.recencyStarted());

  desk.scene.clock.advance(3.5);
  EXPECT_EQ(desk.activeTaps(), 0u) << "the retries find no permission";
  EXPECT_EQ(desk.shows.size(), 1u) << "the retry timer leaves the window alone";

  desk.world.setAccessibilityTrusted(true);
  desk.scene.clock.advance(0.49);
  EXPECT_EQ(desk.activeTaps(), 0u) << "nothing before the next tick";
  desk.scene.clock.advance(0.01);
  EXPECT_EQ(desk.activeTaps(), 1u);
  EXPECT_TRUE(ShellDesk::hotKeysOff());
  EXPECT_EQ(desk.buttonTitle(), AppDelegate::iconFallbackTitle);
  EXPECT_EQ(desk.entries(), kMenu);
  EXPECT_FALSE(desk.peer.accessibilityTimer());
  EXPECT_TRUE(desk.peer.recencyStarted());
  ASSERT_TRUE(desk.peer.accessibilityWatch());

  // The timer is gone: no second tap, no second watch.
  const auto watch = desk.peer.accessibilityWatch();
  desk.scene.clock.advance(5);
  EXPECT_EQ(desk.activeTaps(), 1u);
  EXPECT_EQ(desk.peer.accessibilityWatch(), watch);
  EXPECT_EQ(ShellDesk::log(), Strings{"accessibility: trusted=true canFilter=true listen=true post=true"});
}

TEST(LaunchTest, AFailedStartTurnsTheSystemSwitcherBackOnWhateverTheLastRunLeft) {
  for (const bool trusted : {false, true}) {
    LaunchDesk desk;
    desk.world.setAccessibilityTrusted(trusted);
    desk.events->setActiveTapsRefused(true);  // with trust, the tap itself fails
    trelliq::NativeSwitcher::set(false);      // as a run that was killed outright leaves it
    ASSERT_TRUE(ShellDesk::hotKeysOff());
    desk.launch();
    EXPECT_EQ(desk.activeTaps(), 0u);
    EXPECT_TRUE(ShellDesk::hotKeysOn()) << (trusted ? "tap refused" : "no permission");
  }
}

TEST(LaunchTest, ATapTheSystemRefusesDespiteTrustIsRetriedUntilItIsMade) {
  LaunchDesk desk;
  desk.events->setActiveTapsRefused(true);
  desk.launch();
  EXPECT_EQ(desk.entries(), kWaitingMenu);
  EXPECT_TRUE(ShellDesk::hotKeysOn());
  desk.scene.clock.advance(2);
  EXPECT_EQ(desk.activeTaps(), 0u);
  desk.events->setActiveTapsRefused(false);
  desk.scene.clock.advance(1);
  EXPECT_EQ(desk.activeTaps(), 1u);
  EXPECT_EQ(desk.entries(), kMenu);
  EXPECT_TRUE(ShellDesk::hotKeysOff());
}

TEST(LaunchTest, StartingAgainRestartsOnlyTheWatch) {
  LaunchDesk desk;
  desk.launch();
  const auto sources = trelliq::NativeSwitcher::signalSources();
  const auto watch = desk.peer.accessibilityWatch();
  desk.delegate.startSwitcher();
  EXPECT_EQ(desk.activeTaps(), 1u);
  EXPECT_EQ(trelliq::NativeSwitcher::signalSources(), sources) << "exit handling is installed once";
  EXPECT_TRUE(watch->isCancelled());
  EXPECT_NE(desk.peer.accessibilityWatch(), watch);
  EXPECT_TRUE(desk.shows.empty());
}

TEST(LaunchTest, AFailedStartAgainKeepsOneTimerAndOneMark) {
  LaunchDesk desk;
  desk.world.setAccessibilityTrusted(false);
  desk.launch();
  const auto firstTimer = *desk.peer.accessibilityTimer();
  desk.delegate.startSwitcher();
  EXPECT_FALSE(firstTimer.isValid()) << "the old timer is replaced, not doubled";
  EXPECT_TRUE(desk.peer.accessibilityTimer()->isValid());
  EXPECT_EQ(desk.entries(), kWaitingMenu);
  EXPECT_EQ(desk.shows, (Strings{"permissions", "permissions"}));
}

TEST(LaunchTest, ADelegateThatIsGoneNeitherRetriesNorLeavesItsStatusItem) {
  LaunchDesk desk;
  desk.world.setAccessibilityTrusted(false);
  auto other = std::make_unique<AppDelegate>(desk.permissions, desk.preferences);
  other->applicationDidFinishLaunching({});
  const auto timer = *AppDelegatePeer(*other).accessibilityTimer();
  ASSERT_EQ(NSStatusBar::systemStatusBar().items().size(), 1u);
  other.reset();
  EXPECT_FALSE(timer.isValid());
  EXPECT_TRUE(NSStatusBar::systemStatusBar().items().empty());
  desk.world.setAccessibilityTrusted(true);
  desk.scene.clock.advance(2);
  EXPECT_EQ(desk.activeTaps(), 0u);
}

TEST(LaunchTest, TheWindowFlagsOpenPreferencesThenPermissions) {
  {
    LaunchDesk desk;
    desk.launch({"trelliq", "--show-permissions", "--show-preferences"});
    EXPECT_EQ(desk.shows, (Strings{"preferences", "permissions"}));
  }
  {
    LaunchDesk desk;
    desk.launch({"trelliq", "--show-preferences"});
    EXPECT_EQ(desk.shows, Strings{"preferences"});
  }
  {
    // Without Accessibility the Permissions window is shown by the failed start first.
    LaunchDesk desk;
    desk.world.setAccessibilityTrusted(false);
    desk.launch({"trelliq", "--show-permissions"});
    EXPECT_EQ(desk.shows, (Strings{"permissions", "permissions"}));
  }
  {
    LaunchDesk desk;
    desk.launch({"trelliq", "--show-permissionsX", "show-preferences"});
    EXPECT_TRUE(desk.shows.empty()) << "only the exact flags count";
  }
}

}  // namespace
