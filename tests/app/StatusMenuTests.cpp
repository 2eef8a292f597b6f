#include <gtest/gtest.h>

#include <QImage>
#include <string>
#include <vector>

#include "LaunchDesk.h"
#include "app/MenuSwitcherMode.h"
#include "app/Updates.h"
#include "guide/GuideWindow.h"
#include "platform/Foundation.h"
#include "settings/Settings.h"

namespace {

using trelliq::AppDelegate;
using trelliq::MenuSwitcherMode;
using trelliq::Settings;
using Strings = std::vector<std::string>;

NSImageRep rep(int wide, int high) {
  return NSImageRep{
      wide, high, std::make_shared<const CGImage>(QImage(std::max(wide, 1), std::max(high, 1), QImage::Format_ARGB32))};
}

CGPoint centre(const CGRect& r) { return CGPoint{r.minX() + r.size.width / 2, r.minY() + r.size.height / 2}; }

// ---- The button -------------------------------------------------------------------------

TEST(StatusItemTest, TheIconIsSixteenPointsHighAfterItsWidestBitmap) {
  LaunchDesk desk;
  platform::addBundleImage(AppDelegate::iconName, {rep(18, 16), rep(36, 32), rep(36, 10)});
  desk.launch();
  ASSERT_TRUE(desk.peer.icon());
  const NSStatusBarButton& button = *desk.peer.statusItem()->button();
  EXPECT_EQ(button.image(), desk.peer.icon());
  EXPECT_EQ(desk.peer.icon()->size(), (CGSize{18, 16})) << "the first of the equally wide ones counts";
  EXPECT_TRUE(desk.peer.icon()->isTemplate());
  EXPECT_EQ(desk.peer.icon()->accessibilityDescription(), "Trelliq");
  EXPECT_EQ(button.imagePosition(), NSCellImagePosition::imageLeading);
  EXPECT_EQ(button.title(), "");
  EXPECT_EQ(desk.peer.statusItem()->length(), NSVariableStatusItemLength);
}

TEST(StatusItemTest, OddIconsKeepTheirOwnSizeAndAMissingOneGivesTheFallbackTitle) {
  {
    LaunchDesk desk;
    platform::addBundleImage(AppDelegate::iconName, {rep(20, 0)});
    desk.launch();
    EXPECT_EQ(desk.peer.icon()->size(), (CGSize{20, 0}));
  }
  {
    LaunchDesk desk;
    platform::addBundleImage(AppDelegate::iconName, {rep(40, 30)});
    desk.launch();
    EXPECT_EQ(desk.peer.icon()->size(), (CGSize{21, 16})) << "21.33 rounds to 21";
  }
  {
    LaunchDesk desk;
    platform::addBundleImage(AppDelegate::iconName, {});
    desk.launch();
    EXPECT_TRUE(desk.peer.icon()->isTemplate()) << "no bitmap: used as it is";
    EXPECT_EQ(desk.peer.icon()->size(), (CGSize{0, 0}));
  }
  {
    LaunchDesk desk;
    desk.launch();
    EXPECT_FALSE(desk.peer.icon());
    EXPECT_FALSE(desk.peer.statusItem()->button()->image());
    EXPECT_EQ(desk.buttonTitle(), "⌘⌥⌃");
  }
}

TEST(StatusItemTest, ThePermissionMarkStandsAfterTheIconAndIsShownOnce) {
  LaunchDesk desk;
  platform::addBundleImage(AppDelegate::iconName, {rep(36, 32)});
  desk.launch();
  desk.delegate.permissionNeeded(false);
  EXPECT_EQ(desk.entries(), kMenu) << "taking away a mark that is not there changes nothing";

  desk.delegate.permissionNeeded(true);
  desk.delegate.permissionNeeded(true);
  EXPECT_EQ(desk.buttonTitle(), "Permission needed");
  Strings waiting{"Open Permission Settings", "—"};
  waiting.insert(waiting.end(), kMenu.begin(), kMenu.end());
  EXPECT_EQ(desk.entries(), waiting);
  EXPECT_EQ(desk.menu().itemAtIndex(0)->keyEquivalent(), "");

  desk.delegate.permissionNeeded(false);
  desk.delegate.permissionNeeded(false);
  EXPECT_EQ(desk.buttonTitle(), "");
  EXPECT_EQ(desk.entries(), kMenu);
  EXPECT_FALSE(desk.peer.permissionItem());
}

TEST(StatusItemTest, WithoutAStatusItemThePermissionMarkIsNotTaken) {
  LaunchDesk desk;
  desk.delegate.permissionNeeded(true);
  EXPECT_FALSE(desk.peer.permissionItem());
  desk.delegate.permissionNeeded(false);
}

// ---- The menu's entries -----------------------------------------------------------------

TEST(StatusMenuTest, EntriesHaveNoKeyEquivalentsAndTheirActionsReachTheirTargets) {
  LaunchDesk desk;
  desk.launch();
  for (const auto& item : desk.menu().items()) EXPECT_EQ(item->keyEquivalent(), "") << item->title();
  EXPECT_EQ(desk.peer.modeItems().size(), 2u);
  EXPECT_EQ(desk.peer.modeItems()[0], desk.menu().itemAtIndex(0));
  EXPECT_TRUE(desk.peer.modeItems()[1]->isSeparatorItem());

  EXPECT_TRUE(desk.choose("Preferences…"));
  EXPECT_EQ(desk.shows, Strings{"preferences"});
  EXPECT_FALSE(desk.menu().isTracking()) << "choosing closes the menu";

  EXPECT_EQ(trelliq::Updates::controller().checks(), 0u);
  EXPECT_TRUE(desk.choose("Check for Updates…"));
  EXPECT_TRUE(desk.choose("Check for Updates…"));
  EXPECT_EQ(trelliq::Updates::controller().checks(), 2u);
  EXPECT_EQ(desk.menu().itemWithTitle("Check for Updates…")->action(), "checkForUpdates:");
  EXPECT_EQ(ShellDesk::log(),
            (Strings{"updates: no update feed on this machine", "updates: no update feed on this machine"}));

  EXPECT_FALSE(desk.menu().performActionForItemAtIndex(1)) << "a separator does nothing";
  EXPECT_FALSE(desk.menu().performActionForItemAtIndex(99));
}

TEST(StatusMenuTest, OpenPermissionSettingsOpensTheAccessibilityList) {
  LaunchDesk desk;
  desk.server.setURLHandler("x-apple.systempreferences", "/System/Applications/System Settings.app");
  desk.world.setAccessibilityTrusted(false);
  desk.launch();
  EXPECT_TRUE(desk.choose("Open Permission Settings"));
  EXPECT_EQ(desk.server.openedURLs(),
            Strings{"x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility"});
}

TEST(StatusMenuTest, QuitGivesTheSystemSwitcherBackAndEnds) {
  LaunchDesk desk;
  desk.launch();
  ASSERT_TRUE(ShellDesk::hotKeysOff());
  EXPECT_TRUE(desk.choose("Quit Trelliq"));
  EXPECT_TRUE(ShellDesk::hotKeysOn());
  EXPECT_EQ(desk.processes.exits(), std::vector<int>{0});
}

// The guide window lives for the whole process and keeps watching the defaults, so it is
// opened in a child process of its own.
TEST(StatusMenuDeathTest, HowItWorksOpensTheGuide) {
  EXPECT_EXIT(
      {
        trelliq::test::ensureWidgets();
        LaunchDesk desk;
        desk.launch();
        const bool chosen = desk.choose("How It Works…");
        NSWindow* window = trelliq::GuideWindow::shared().window();
        const bool shown = window && window->title() == "Keyboard Shortcuts" && window->isVisible();
        std::_Exit(chosen && shown ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

// ---- The mode picker --------------------------------------------------------------------

TEST(MenuSwitcherModeTest, PickingWritesTheModeClosesTheMenuAndHighlightsIt) {
  LaunchDesk desk;
  desk.launch();
  const std::int64_t picker = 0;
  EXPECT_EQ(MenuSwitcherMode::selectedTitle(), "App tiles") << "the registered default";

  desk.peer.statusItem()->click();
  ASSERT_TRUE(desk.menu().isTracking());
  EXPECT_TRUE(desk.menu().clickViewOfItemAtIndex(picker, centre(MenuSwitcherMode::optionFrame(1))));
  EXPECT_EQ(UserDefaults::standard().stringForKey("tiles"), "windows");
  EXPECT_EQ(Settings::tiles(), Settings::Tiles::windows) << "every reader sees it at once";
  EXPECT_FALSE(desk.menu().isTracking());
  EXPECT_EQ(MenuSwitcherMode::selectedTitle(), "Window tiles");

  desk.peer.statusItem()->click();
  desk.menu().clickViewOfItemAtIndex(picker, centre(MenuSwitcherMode::optionFrame(2)));
  EXPECT_EQ(UserDefaults::standard().stringForKey("tiles"), "both");
  EXPECT_EQ(MenuSwitcherMode::selectedTitle(), "Hybrid");
}

TEST(MenuSwitcherModeTest, ClicksOutsideTheTilesPickNothing) {
  LaunchDesk desk;
  desk.launch();
  desk.peer.statusItem()->click();
  const CGRect first = MenuSwitcherMode::optionFrame(0);
  const CGRect second = MenuSwitcherMode::optionFrame(1);
  const double gap = (first.maxX() + second.minX()) / 2;
  for (CGPoint miss : {CGPoint{gap, centre(first).y}, CGPoint{centre(first).x, 5}, CGPoint{2, centre(first).y},
                       CGPoint{centre(first).x, first.maxY() + 0.5}}) {
    desk.menu().clickViewOfItemAtIndex(0, miss);
  }
  EXPECT_EQ(UserDefaults::standard().stringForKey("tiles"), "apps");
  EXPECT_TRUE(desk.menu().isTracking()) << "a miss leaves the menu open";

  const CGSize size = desk.menu().itemAtIndex(0)->view()->fittingSize();
  EXPECT_EQ(size.width, 300);
  EXPECT_GE(size.height, MenuSwitcherMode::optionFrame(2).maxY());
  EXPECT_EQ(MenuSwitcherMode::optionAt(CGPoint{MenuSwitcherMode::optionFrame(2).maxX() - 0.5, centre(second).y}),
            Settings::Tiles::both);
  EXPECT_LE(MenuSwitcherMode::optionFrame(2).maxX(), 300 - MenuSwitcherMode::horizontalPadding + 1e-9);
}

TEST(MenuSwitcherModeTest, FollowsOtherWritersAndMendsAnUnknownValue) {
  LaunchDesk desk;
  desk.launch();
  UserDefaults::standard().set("tiles", platform::PlistValue("windows"));
  EXPECT_EQ(MenuSwitcherMode::selectedTitle(), "Window tiles");

  UserDefaults::standard().set("tiles", platform::PlistValue("mosaic"));
  EXPECT_EQ(MenuSwitcherMode::selectedTitle(), std::nullopt);
  UserDefaults::standard().set("tiles", platform::PlistValue(3));
  EXPECT_EQ(MenuSwitcherMode::selectedTitle(), std::nullopt) << "a number is no mode";

  desk.menu().clickViewOfItemAtIndex(0, centre(MenuSwitcherMode::optionFrame(0)));
  EXPECT_EQ(UserDefaults::standard().stringForKey("tiles"), "apps");
  EXPECT_EQ(MenuSwitcherMode::selectedTitle(), "App tiles");
}

}  // namespace
