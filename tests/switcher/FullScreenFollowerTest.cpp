// Taking the selected window into or out of full screen from an open switcher: the
// request to the app (after reaching the window's Space), following the window until the
// change landed or the time ran out, a change of mind under way, a session that closes
// meanwhile, refusals, and the program's own windows.

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "SwitchPerformerScenes.h"
#include "SwitcherPeer.h"
#include "platform/AppKitWindows.h"
#include "platform/sim/AccessibilityServer.h"

namespace trelliq::perform {
namespace {

// Lumen's "Start Page" (3101) is alone in its tile on Space 2, showing on the wide display
// (index 1 of the snapshot); Harbor Mail's inbox (4101) lies on Space 4 of the built-in
// display, which shows Space 1.
constexpr std::uint32_t kStartPage = 3101, kInbox = 4101;

class FullScreenFollowerTest : public PerformScene {
 protected:
  FullScreenFollowerTest() {
    // Without thumbnails the transition ends as soon as the change settles.
    Settings::defaults().set("preview", platform::PlistValue("none"));
  }

  void closeSession() { switcher->session().cancel(false); }

  bool serverFullScreen(std::uint32_t window) { return scene.windowServer.window(window)->fullScreen; }
  /// Whether the session's snapshot shows the window as full screen.
  std::optional<bool> modelFullScreen(std::uint32_t window) {
    for (const WindowInfo& w : switcher->model().workspace().windows()) {
      if (w.windowID == window) return w.fullScreen;
    }
    return std::nullopt;
  }
  /// The full-screen requests the app got for the window, as "AXFullScreen=true" texts.
  std::vector<std::string> asked(std::int32_t pid, std::uint32_t window) {
    const auto w = scene.windowServer.window(window);
    std::vector<std::string> found;
    for (const auto& r : sim::AccessibilityServer::active()->requests({pid, w->axElement})) {
      if (r.rfind("AXFullScreen", 0) == 0) found.push_back(r);
    }
    return found;
  }
};

TEST_F(FullScreenFollowerTest, AWindowIsAskedFollowedAndTheSessionBroughtInLineOnceItLanded) {
  openOn(1, kStartPage);
  switcher->actions().toggleFullScreen(FullScreen::enter);
  EXPECT_EQ(switcher->fullScreen().pending(), kStartPage);
  EXPECT_TRUE(switcher->model().transitioning().contains(kStartPage));
  EXPECT_EQ(modelFullScreen(kStartPage), true) << "the tile moves at once";
  scene.clock.runUntilIdle();
  EXPECT_EQ(asked(kLumen, kStartPage), std::vector<std::string>{"AXFullScreen=true"});

  // The app needs 0.7 s; the follower notices at its next poll and settles 0.4 s later.
  scene.clock.advance(1.0);
  EXPECT_TRUE(serverFullScreen(kStartPage));
  EXPECT_EQ(switcher->fullScreen().pending(), kStartPage);
  scene.clock.advance(0.4);
  EXPECT_FALSE(switcher->fullScreen().pending());
  EXPECT_FALSE(switcher->model().transitioning().contains(kStartPage));
  EXPECT_EQ(modelFullScreen(kStartPage), true);
  EXPECT_EQ(asked(kLumen, kStartPage).size(), 1u);
}

TEST_F(FullScreenFollowerTest, AWindowOnAnotherSpaceIsReachedBeforeTheAppIsAsked) {
  openOn(0, kInbox, 4);
  switcher->actions().toggleFullScreen(FullScreen::enter);
  scene.clock.runUntilIdle();
  EXPECT_TRUE(asked(kHarbor, kInbox).empty()) << "not before its Space shows";
  scene.clock.advance(0.6);
  EXPECT_EQ(current(kBuiltIn), 4u);
  EXPECT_EQ(asked(kHarbor, kInbox), std::vector<std::string>{"AXFullScreen=true"});
  scene.clock.advance(2);
  EXPECT_TRUE(serverFullScreen(kInbox));
  EXPECT_FALSE(switcher->fullScreen().pending());
}

TEST_F(FullScreenFollowerTest, AChangeOfMindUnderWayIsAskedForOnceTheFirstChangeLanded) {
  openOn(1, kStartPage);
  switcher->actions().toggleFullScreen(FullScreen::enter);
  scene.clock.advance(0.3);
  // The model reselected the moved window; taking it back out is accepted but asks nothing yet.
  switcher->actions().toggleFullScreen(FullScreen::leave);
  EXPECT_EQ(switcher->fullScreen().moves(), 2);
  EXPECT_EQ(modelFullScreen(kStartPage), false);
  scene.clock.runUntilIdle();
  EXPECT_EQ(asked(kLumen, kStartPage).size(), 1u);

  scene.clock.advance(1.0);
  EXPECT_EQ(asked(kLumen, kStartPage), (std::vector<std::string>{"AXFullScreen=true", "AXFullScreen=false"}));
  EXPECT_EQ(switcher->fullScreen().pending(), kStartPage) << "still following the way back";
  scene.clock.advance(2);
  EXPECT_FALSE(serverFullScreen(kStartPage));
  EXPECT_FALSE(switcher->fullScreen().pending());
  EXPECT_EQ(modelFullScreen(kStartPage), false);
  EXPECT_FALSE(switcher->model().transitioning().contains(kStartPage));
}

TEST_F(FullScreenFollowerTest, WhileOneChangeIsUnderWayOtherWindowsCannotBeToggled) {
  openOn(1, kStartPage);
  switcher->actions().toggleFullScreen(FullScreen::enter);
  const int moves = switcher->fullScreen().moves();
  // Over to the built-in display, whose front window is Quill's draft.
  switcher->model().focus(0);
  ASSERT_TRUE(switcher->model().focusedTarget());
  const auto other = *switcher->model().focusedTarget()->windowID;
  ASSERT_NE(other, kStartPage);
  switcher->actions().toggleFullScreen(FullScreen::enter);
  EXPECT_EQ(switcher->fullScreen().moves(), moves);
  scene.clock.advance(3);
  EXPECT_FALSE(serverFullScreen(other));
}

TEST_F(FullScreenFollowerTest, AWindowAlreadyInTheWantedStateIsNotToggled) {
  openOn(1, kStartPage);
  switcher->actions().toggleFullScreen(FullScreen::leave);
  EXPECT_FALSE(switcher->fullScreen().pending());
  EXPECT_EQ(switcher->fullScreen().moves(), 0);
  scene.clock.advance(1);
  EXPECT_TRUE(asked(kLumen, kStartPage).empty());
}

TEST_F(FullScreenFollowerTest, ClosingTheSwitcherMeanwhileEndsTheFollowingWithoutARefresh) {
  openOn(1, kStartPage);
  switcher->actions().toggleFullScreen(FullScreen::enter);
  const auto shape = switcher->model().workspace().shape();
  closeSession();
  scene.clock.advance(0.25);
  EXPECT_FALSE(switcher->fullScreen().pending());
  scene.clock.advance(3);
  EXPECT_TRUE(serverFullScreen(kStartPage)) << "the app still made the change";
  EXPECT_EQ(switcher->model().workspace().shape(), shape);
}

TEST_F(FullScreenFollowerTest, ARefusalIsLoggedAndThePanelsShowTheTruthAfterThreeSeconds) {
  scene.windowServer.setFailure(sim::Reaction::fullScreen, sim::Failure::refuse);
  openOn(1, kStartPage);
  switcher->actions().toggleFullScreen(FullScreen::enter);
  scene.clock.advance(0.1);
  const auto lines = linesStarting("couldn't take");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(
      std::regex_match(lines[0], std::regex("couldn't take Lumen window 3101 into full screen: AX error -\\d+")))
      << lines[0];

  scene.clock.advance(2.8);
  EXPECT_EQ(switcher->fullScreen().pending(), kStartPage);
  EXPECT_EQ(modelFullScreen(kStartPage), true) << "the prediction stands while waiting";
  scene.clock.advance(0.5);
  EXPECT_FALSE(switcher->fullScreen().pending());
  EXPECT_EQ(modelFullScreen(kStartPage), false);
}

TEST_F(FullScreenFollowerTest, TheTransitionOfAThumbnailSessionEndsWithTheNewPicture) {
  Settings::defaults().set("preview", platform::PlistValue("thumbnail"));
  openOn(1, kStartPage);
  switcher->actions().toggleFullScreen(FullScreen::enter);
  scene.clock.advance(1.3);
  EXPECT_FALSE(switcher->fullScreen().pending());
  // The window's new picture ends it.
  scene.clock.advance(0.5);
  EXPECT_FALSE(switcher->model().transitioning().contains(kStartPage));
  EXPECT_TRUE(switcher->model().thumbnails().contains(kStartPage));
}

TEST_F(FullScreenFollowerTest, TheProgramsOwnWindowIsToggledOnlyWhenItDiffers) {
  NSWindow own(CGRect(100, 100, 400, 300), NSWindowStyleMaskTitled, NSBackingStoreType::buffered, false);
  own.orderFront(nullptr);
  const auto number = static_cast<std::uint32_t>(own.windowNumber());
  ASSERT_NE(number, 0u);
  const AppInfo self(NSRunningApplication::current());
  const WindowInfo window(self.id, number, nullptr, std::nullopt, false, false, std::nullopt);

  SwitcherPeer::askFullScreen(*switcher, FullScreen::enter, self, window);
  EXPECT_EQ(switcher->fullScreen().asked(), FullScreen::enter);
  scene.clock.advance(1);
  ASSERT_TRUE(own.styleMask() & NSWindowStyleMaskFullScreen);
  // Asking for the state it is in changes nothing (a blind toggle would take it back out).
  SwitcherPeer::askFullScreen(*switcher, FullScreen::enter, self, window);
  scene.clock.advance(1);
  EXPECT_TRUE(own.styleMask() & NSWindowStyleMaskFullScreen);
  SwitcherPeer::askFullScreen(*switcher, FullScreen::leave, self, window);
  scene.clock.advance(1);
  EXPECT_FALSE(own.styleMask() & NSWindowStyleMaskFullScreen);
}

TEST_F(FullScreenFollowerTest, AWindowMissingFromTheAppsListIsReachedThroughItsOwnElement) {
  const Chosen lumen = chosen(kStartPage);
  ASSERT_TRUE(lumen.window.element);
  // The app stops listing its windows; the element from the snapshot still works.
  sim::AccessibilityServer::active()->setError(kLumen, "AXWindows", kAXErrorCannotComplete);
  FullScreenFollower::setFullScreen(FullScreen::enter, lumen.app, lumen.window);
  scene.clock.advance(1);
  EXPECT_TRUE(serverFullScreen(kStartPage));
}

}  // namespace
}  // namespace trelliq::perform
