// The focus history: stamps of windows and desktops, the deliberate focus changes, and
// what the workspace and accessibility notifications add to them.

#include <gtest/gtest.h>

#include <algorithm>

#include "WindowServerScenes.h"
#include "platform/AppKitWindows.h"
#include "platform/sim/AccessibilityServer.h"
#include "workspace/FrontToBack.h"
#include "workspace/Recency.h"

namespace trelliq {
namespace {

TEST(RecencyClock, StampsAndTheDeliberateHistory) {
  Scene scene;
  Recency recency;
  EXPECT_EQ(recency.stamp(std::nullopt), 0u);
  EXPECT_EQ(recency.stamp(10), 0u);
  EXPECT_EQ(recency.desktopStamp(3), 0u);
  EXPECT_FALSE(recency.latest());

  recency.touch(10, true);
  recency.touch(20, false);
  EXPECT_LT(recency.stamp(10), recency.stamp(20));
  EXPECT_EQ(recency.latest(), (Recency::Focus{10, scene.clock.now()}));
  recency.touchDesktop(3);  // windows and desktops share one clock
  EXPECT_GT(recency.desktopStamp(3), recency.stamp(20));
  recency.touch(10, false);
  EXPECT_GT(recency.stamp(10), recency.desktopStamp(3));
}

TEST(RecencyClock, TheDeliberateHistoryKeepsTheEightNewest) {
  Scene scene;
  Recency recency;
  for (std::uint32_t window = 1; window <= 11; ++window) {
    recency.touch(window, true);
    recency.touch(100 + window, false);  // a use that is not deliberate leaves the history alone
    ASSERT_EQ(recency.recent().size(), std::min<std::size_t>(window, 8)) << "after touch " << window;
    EXPECT_EQ(recency.recent().front().window, window <= 8 ? 1u : window - 7) << "after touch " << window;
    EXPECT_EQ(recency.latest()->window, window);
  }
}

class RecencyWatching : public ::testing::Test {
 protected:
  void SetUp() override { prepare(); }
  void prepare() {
    scenes::twoDisplays(scene);
    scene.world.setAccessibilityTrusted(true);
    scene.world.setScreenCaptureAllowed(true);
    mail = scenes::addApp(scene, "Mail");
    inbox = window(mail, "Inbox");
    notes = scenes::addApp(scene, "Notes");
    shopping = window(notes, "Shopping");
    scene.windowServer.makeFrontmost(notes);
    scene.clock.advance(0.5);
  }
  std::uint32_t window(std::int32_t pid, std::string title) {
    return scenes::addWindow(scene, {.pid = pid, .title = std::move(title), .spaces = {12}});
  }
  void start() {
    recency().start();
    scene.clock.advance(0.1);
  }
  void activate(std::int32_t pid) {
    scene.windowServer.makeFrontmost(pid);
    scene.clock.advance(0.1);
  }
  void raise(std::uint32_t window) {
    scene.windowServer.raiseWindow(window);
    scene.clock.advance(0.1);
  }
  Recency& recency() { return Recency::shared(); }

  Scene scene;
  std::int32_t mail = 0, notes = 0;
  std::uint32_t inbox = 0, shopping = 0;
};

TEST_F(RecencyWatching, StartSeedsFromTheSystemsFrontToBackOrder) {
  const std::int32_t quiet = scenes::addApp(scene, "Quiet");
  scene.windowServer.updateApp(quiet, [](sim::App& a) { a.launchServicesPID = false; });
  scene.windowServer.makeFrontmost(quiet);
  scene.windowServer.makeFrontmost(notes);
  const auto pids = FrontToBack::pids();
  EXPECT_EQ(std::count(pids.begin(), pids.end(), quiet), 0);  // no pid item: skipped, the rest kept
  EXPECT_EQ(pids.front(), notes);
  EXPECT_NE(std::find(pids.begin(), pids.end(), mail), pids.end());

  start();
  EXPECT_GT(recency().stamp(inbox), 0u);
  EXPECT_GT(recency().stamp(shopping), recency().stamp(inbox));
  EXPECT_EQ(recency().latest()->window, shopping);

  for (const char* symbol :
       {"_LSCopyApplicationArrayInFrontToBackOrder", "_LSCopyApplicationInformationItem", "_kLSPIDKey"}) {
    scene.restart();
    prepare();
    scene.world.removeSymbol(kCoreServicesPath, symbol);
    EXPECT_TRUE(FrontToBack::pids().empty()) << symbol;
    start();
    EXPECT_FALSE(recency().latest()) << symbol;
  }
}

TEST_F(RecencyWatching, ActivationsAndFocusMovesOfTheFrontApp) {
  start();
  activate(mail);
  EXPECT_EQ(recency().latest()->window, inbox);
  activate(notes);
  const std::uint32_t list = window(notes, "List");
  raise(list);
  EXPECT_EQ(recency().latest()->window, list);
  EXPECT_GT(recency().stamp(list), recency().stamp(shopping));

  // A Space change records the front app's focus.
  const std::uint32_t elsewhere = scenes::addWindow(scene, {.pid = notes, .title = "Elsewhere", .spaces = {13}});
  scene.windowServer.updateApp(notes, [&](sim::App& a) { a.focusedWindow = elsewhere; });
  scene.windowServer.switchSpace(13, sim::SwitchStyle::instant);
  scene.clock.advance(0.1);
  EXPECT_EQ(recency().latest()->window, elsewhere);
}

TEST_F(RecencyWatching, BackgroundFocusMovesCountOnlyForMenuBarApps) {
  const std::int32_t agent = scenes::addApp(scene, "Agent", platform::ActivationPolicy::accessory);
  const std::uint32_t palette = window(agent, "Palette");
  start();
  activate(agent);  // an accessory app is watched from its first activation
  activate(notes);
  const std::uint32_t other = window(agent, "Other");
  const std::uint32_t draft = window(mail, "Draft");
  raise(other);
  raise(draft);
  EXPECT_GT(recency().stamp(other), recency().stamp(palette));
  EXPECT_EQ(recency().stamp(draft), 0u);
}

TEST_F(RecencyWatching, UsingADesktopKeepsTheFileManagerOutForOneSecond) {
  sim::App finderApp;
  finderApp.name = "Finder";
  finderApp.bundleIdentifier = Recency::finderBundleIdentifier;
  const std::int32_t finder = scene.windowServer.addApp(finderApp);
  const std::uint32_t folder = window(finder, "Documents");
  scene.windowServer.makeFrontmost(notes);
  start();
  const std::uint64_t seeded = recency().stamp(folder);
  recency().touchDesktop(12);
  activate(finder);
  EXPECT_EQ(recency().stamp(folder), seeded);
  activate(notes);
  scene.clock.advance(1);
  activate(finder);
  EXPECT_GT(recency().stamp(folder), recency().desktopStamp(12));
}

TEST_F(RecencyWatching, HidingAnAppHandsFocusBackToItsLastWindow) {
  start();
  activate(mail);
  scene.clock.advance(2);
  activate(notes);  // focus moves to Notes, and half a second later Mail is hidden
  scene.clock.advance(0.4);
  scene.windowServer.setHidden(mail, true);
  scene.clock.advance(0.1);
  EXPECT_EQ(recency().latest()->window, inbox);

  const std::uint32_t list = window(notes, "List");
  raise(list);  // within the next second: stamped, not deliberate
  EXPECT_GT(recency().stamp(list), recency().stamp(shopping));
  EXPECT_EQ(recency().latest()->window, inbox);
  scene.clock.advance(1);
  raise(shopping);
  EXPECT_EQ(recency().latest()->window, shopping);

  // Focus older than a second is kept.
  scene.clock.advance(1.5);
  scene.windowServer.setHidden(notes, true);
  scene.clock.advance(0.1);
  EXPECT_EQ(recency().latest()->window, shopping);
}

TEST_F(RecencyWatching, TheHandOffStopsAtTheHiddenAppsOwnRecentWindow) {
  start();
  scene.clock.advance(2);
  activate(mail);
  scene.clock.advance(0.2);
  activate(notes);  // Mail's window was chosen 0.3 s before Mail is hidden: it stays
  scene.clock.advance(0.2);
  scene.windowServer.setHidden(mail, true);
  scene.clock.advance(0.1);
  ASSERT_TRUE(recency().latest());
  EXPECT_EQ(recency().latest()->window, inbox);
}

TEST_F(RecencyWatching, TheProgramsOwnWindowsCountOnlyWhenTitledAndItIsNeverObserved) {
  class KeyPanel : public NSPanel {
   public:
    using NSPanel::NSPanel;
    bool canBecomeKeyWindow() const override { return true; }
  };
  start();
  NSWindow preferences(CGRect(100, 100, 400, 300), NSWindowStyleMaskTitled, NSBackingStoreType::buffered, false);
  preferences.makeKeyAndOrderFront(nullptr);
  scene.clock.advance(0.1);
  EXPECT_EQ(recency().latest()->window, static_cast<std::uint32_t>(preferences.windowNumber()));
  KeyPanel panel(CGRect(0, 0, 300, 200), NSWindowStyleMaskBorderless, NSBackingStoreType::buffered, false);
  panel.makeKeyAndOrderFront(nullptr);
  scene.clock.advance(0.1);
  ASSERT_TRUE(panel.isKeyWindow());
  EXPECT_EQ(recency().stamp(static_cast<std::uint32_t>(panel.windowNumber())), 0u);

  const std::int32_t own = NSProcessInfo::processInfo().processIdentifier();
  activate(own);
  EXPECT_FALSE(recency().observes(own));
  EXPECT_TRUE(sim::AccessibilityServer::active()->registrations(own).empty());
}

TEST_F(RecencyWatching, LaunchedAppsAreWatchedQuitAppsForgottenAndAFreshSystemForgetsAll) {
  start();
  const std::int32_t fresh = scenes::addApp(scene, "Fresh");
  const std::int32_t agent = scenes::addApp(scene, "Agent", platform::ActivationPolicy::accessory);
  scene.clock.advance(0.1);
  EXPECT_TRUE(recency().observes(fresh));
  EXPECT_FALSE(recency().observes(agent));
  EXPECT_EQ(sim::AccessibilityServer::active()->registrations(fresh).size(), 3u);
  scene.windowServer.terminate(fresh);
  scene.clock.advance(0.1);
  EXPECT_FALSE(recency().observes(fresh));
  EXPECT_TRUE(sim::AccessibilityServer::active()->registrations(fresh).empty());

  scene.restart();
  EXPECT_FALSE(recency().latest());
  EXPECT_EQ(recency().stamp(shopping), 0u);
}

}  // namespace
}  // namespace trelliq
