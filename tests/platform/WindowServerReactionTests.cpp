// How the simulated system reacts to what the program asks, on the world's clock.

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/AppKitWorkspace.h"
#include "platform/DynamicLoader.h"
#include "platform/PrivateSymbols.h"
#include "support/Scene.h"

namespace {

using sim::Failure;
using sim::Reaction;
using sim::SpaceFollow;

template <typename F>
F* symbol(const char* library, const char* name) {
  return platform::symbolAs<F>(platform::dlopen(library, platform::RTLD_NOW_), name);
}

/// What the program does to focus a window: the serial number, then the front-process call.
std::int32_t focus(std::int32_t pid, std::uint32_t window) {
  ProcessSerialNumber psn;
  if (symbol<GetProcessForPID_t>(kApplicationServicesPath, "GetProcessForPID")(pid, &psn) != 0) return -1;
  return symbol<SLPSSetFrontProcessWithOptions_t>(kSkyLightPath, "_SLPSSetFrontProcessWithOptions")(&psn, window,
                                                                                                    0x200);
}

bool orderedIn(std::uint32_t window) {
  bool in = false;
  return symbol<SLSWindowIsOrderedIn_t>(kSkyLightPath, "SLSWindowIsOrderedIn")(sim::WindowServer::kConnectionID, window,
                                                                               &in) == 0 &&
         in;
}

/// Collects workspace notifications (name and pid) as the program's main queue sees them.
class Notes {
 public:
  Notes() {
    token_ = center_.addObserver("", nullptr, &platform::mainQueue(), [this](const NSNotification& n) {
      seen.push_back(n.name + ":" + (n.application ? std::to_string(n.application->processIdentifier()) : "-"));
    });
  }
  ~Notes() { center_.removeObserver(token_); }
  bool saw(const std::string& name, std::int32_t pid) const {
    return std::count(seen.begin(), seen.end(), name + ":" + std::to_string(pid)) > 0;
  }
  std::vector<std::string> seen;

 private:
  NSNotificationCenter& center_ = NSWorkspace::shared().notificationCenter();
  NSNotificationToken token_;
};

class ReactionTest : public ::testing::Test {
 protected:
  Scene scene{Scene::Start::defaultScenario};
  sim::WindowServer& server = scene.windowServer;
  Notes notes;
};

}  // namespace

TEST_F(ReactionTest, FrontProcessRaisesAfterAWhileAndTheDisplayFollows) {
  ASSERT_EQ(focus(302, 3102), 0);  // Lumen's window on Space 7, which display 3 does not show
  EXPECT_EQ(server.frontmost(), 301);
  scene.clock.advance(server.timings().activate);
  EXPECT_EQ(server.frontmost(), 302);
  EXPECT_EQ(server.app(302)->focusedWindow, 3102u);
  EXPECT_EQ(server.windowsOf(302).front().number, 3102u);
  EXPECT_EQ(server.currentSpace(3), 2u);
  scene.clock.advance(server.timings().follow + 0.01);
  EXPECT_TRUE(server.isSliding(3));
  scene.clock.advance(server.timings().slide);
  EXPECT_EQ(server.currentSpace(3), 7u);
  EXPECT_EQ(server.currentSpace(1), 1u);  // the other display stays
  EXPECT_TRUE(notes.saw(NSWorkspaceDidActivateApplicationNotification, 302));
  EXPECT_TRUE(notes.saw(NSWorkspaceDidDeactivateApplicationNotification, 301));
  scene.clock.runUntilIdle();
  EXPECT_EQ(
      std::count(notes.seen.begin(), notes.seen.end(), std::string(NSWorkspaceActiveSpaceDidChangeNotification) + ":-"),
      1);
}

TEST_F(ReactionTest, WhetherTheDisplayFollowsIsASettingOfTheWorld) {
  struct Case {
    SpaceFollow follow;
    std::uint64_t after04;  // the Space display 3 shows 0.4 s after the request
    std::uint64_t after3;   // and 3 s after it
  };
  for (const Case c : {Case{SpaceFollow::follows, 7, 7}, Case{SpaceFollow::followsLate, 2, 7},
                       Case{SpaceFollow::doesNotFollow, 2, 2}}) {
    server.switchSpace(2, sim::SwitchStyle::instant);
    server.makeFrontmost(301);
    server.setSpaceFollow(c.follow);
    ASSERT_EQ(focus(302, 3102), 0);
    scene.clock.advance(0.45);
    EXPECT_EQ(server.currentSpace(3), c.after04) << static_cast<int>(c.follow);
    scene.clock.advance(2.55);
    EXPECT_EQ(server.currentSpace(3), c.after3) << static_cast<int>(c.follow);
    EXPECT_EQ(server.frontmost(), 302);  // the app comes forward in every case
  }
}

TEST_F(ReactionTest, ReactionsFailOnDemand) {
  server.setFailure(Reaction::frontProcess, Failure::refuse);
  EXPECT_NE(focus(302, 3101), 0);
  server.setFailure(Reaction::frontProcess, Failure::ignore);
  EXPECT_EQ(focus(302, 3101), 0);
  server.setFailure(Reaction::activate, Failure::refuse);
  EXPECT_FALSE(NSRunningApplication::withProcessIdentifier(305)->activate());
  server.setFailure(Reaction::activate, Failure::ignore);
  EXPECT_TRUE(NSRunningApplication::withProcessIdentifier(305)->activate());
  scene.clock.advance(2);
  EXPECT_EQ(server.frontmost(), 301);

  // A display that should follow but fails to stays where it is.
  server.setFailure(Reaction::frontProcess, Failure::none);
  server.setFailure(Reaction::followSpace, Failure::refuse);
  EXPECT_EQ(focus(302, 3102), 0);
  scene.clock.advance(2);
  EXPECT_EQ(server.frontmost(), 302);
  EXPECT_EQ(server.currentSpace(3), 2u);
  EXPECT_NE(focus(99999, 1), 0);  // no such process
}

TEST_F(ReactionTest, ActivatingAHiddenAppShowsItAndItsSpace) {
  auto chatter = NSRunningApplication::withProcessIdentifier(307);
  ASSERT_TRUE(chatter);
  EXPECT_TRUE(chatter->isHidden());
  EXPECT_FALSE(orderedIn(8101));
  ASSERT_TRUE(chatter->activate(NSApplicationActivateIgnoringOtherApps));
  scene.clock.advance(1);
  EXPECT_FALSE(chatter->isHidden());
  EXPECT_TRUE(chatter->isActive());
  EXPECT_TRUE(orderedIn(8101));
  EXPECT_EQ(server.currentSpace(3), 7u);
  EXPECT_TRUE(notes.saw(NSWorkspaceDidUnhideApplicationNotification, 307));
  EXPECT_FALSE(NSRunningApplication::withProcessIdentifier(160)->activate());  // background-only
}

TEST_F(ReactionTest, HidingOrdersWindowsOutAndPassesTheFrontOn) {
  auto quill = *NSRunningApplication::withProcessIdentifier(301);
  ASSERT_TRUE(quill.hide());
  EXPECT_TRUE(orderedIn(2101));
  scene.clock.advance(server.timings().hide);
  EXPECT_TRUE(quill.isHidden());
  EXPECT_FALSE(orderedIn(2101));
  EXPECT_FALSE(orderedIn(2102));
  EXPECT_NE(server.frontmost(), 301);
  EXPECT_TRUE(server.frontmost().has_value());
  scene.clock.runUntilIdle();
  EXPECT_TRUE(notes.saw(NSWorkspaceDidHideApplicationNotification, 301));

  ASSERT_TRUE(quill.unhide());
  scene.clock.advance(server.timings().hide);
  EXPECT_TRUE(orderedIn(2101));
  EXPECT_TRUE(orderedIn(2102));
  EXPECT_FALSE(orderedIn(2103));  // minimized before hiding, still minimized
}

TEST_F(ReactionTest, MinimizingOrdersOutAndMovesTheAppsFocus) {
  ASSERT_TRUE(server.requestMinimize(2101, true));
  scene.clock.advance(server.timings().minimize / 2);
  EXPECT_TRUE(orderedIn(2101));
  scene.clock.advance(server.timings().minimize);
  EXPECT_FALSE(orderedIn(2101));
  EXPECT_TRUE(server.window(2101)->minimized);
  EXPECT_NE(server.app(301)->focusedWindow, 2101u);
  EXPECT_FALSE(server.isOnScreen(2101));

  ASSERT_TRUE(server.requestMinimize(2103, false));
  scene.clock.advance(server.timings().minimize);
  EXPECT_TRUE(orderedIn(2103));
  EXPECT_EQ(server.app(301)->focusedWindow, 2103u);
  server.setFailure(Reaction::unminimize, Failure::refuse);
  EXPECT_FALSE(server.requestMinimize(2101, false));
  EXPECT_FALSE(server.requestMinimize(424242, true));
}

TEST_F(ReactionTest, FullScreenTakesAWindowToANewSpaceAndBack) {
  const std::size_t spacesBefore = server.displays()[0].spaces.size();
  ASSERT_TRUE(server.requestFullScreen(2101, true));
  scene.clock.advance(server.timings().fullScreen);
  auto d = server.displays()[0];
  ASSERT_EQ(d.spaces.size(), spacesBefore + 1);
  // The new Space comes right after the window's desktop, and the display slides to it.
  const sim::Space made = d.spaces[1];
  EXPECT_EQ(made.type, sim::kSpaceTypeFullScreen);
  EXPECT_EQ(made.fullScreenWindow, 2101u);
  EXPECT_EQ(server.spacesOfWindow(2101), std::vector<std::uint64_t>{made.id});
  EXPECT_EQ(server.window(2101)->bounds, CGRect(0, 0, 1512, 982));
  scene.clock.advance(server.timings().slide);
  EXPECT_EQ(server.currentSpace(1), made.id);
  bool backdrop = false;
  for (const sim::Window& w : server.windows()) {
    backdrop = backdrop || (w.title == "Fullscreen Backdrop" && w.spaces == std::vector<std::uint64_t>{made.id});
  }
  EXPECT_TRUE(backdrop);

  ASSERT_TRUE(server.requestFullScreen(2101, false));
  scene.clock.advance(server.timings().fullScreen + server.timings().slide);
  EXPECT_EQ(server.displays()[0].spaces.size(), spacesBefore);
  EXPECT_FALSE(server.space(made.id));
  EXPECT_EQ(server.currentSpace(1), 1u);
  EXPECT_EQ(server.spacesOfWindow(2101), std::vector<std::uint64_t>{1});
  EXPECT_EQ(server.window(2101)->bounds, CGRect(300, 90, 900, 700));
  EXPECT_FALSE(server.window(2101)->fullScreen);
}

TEST_F(ReactionTest, OpeningAWindowlessAppGivesItAFirstWindowWhereItWants) {
  ASSERT_TRUE(server.windowsOf(308).empty());
  std::optional<std::int32_t> opened;
  NSWorkspace::shared().openApplication("/Applications/Easel.app", NSWorkspaceOpenConfiguration{},
                                        [&](std::optional<NSRunningApplication> app, std::optional<NSError> error) {
                                          ASSERT_TRUE(app) << error->localizedDescription;
                                          opened = app->processIdentifier();
                                        });
  scene.clock.advance(server.timings().activate);
  EXPECT_EQ(opened, 308);
  EXPECT_EQ(server.frontmost(), 308);
  EXPECT_TRUE(server.windowsOf(308).empty());
  scene.clock.advance(server.timings().firstWindow);
  const auto windows = server.windowsOf(308);
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(windows[0].spaces, std::vector<std::uint64_t>{2});  // display 3's current Space
  EXPECT_TRUE(CGRect(1512, -458, 2560, 1440).contains(windows[0].bounds));
  EXPECT_EQ(server.app(308)->focusedWindow, windows[0].number);

  // Opening it again while it has a window makes no second one.
  NSWorkspace::shared().openApplication("/Applications/Easel.app", NSWorkspaceOpenConfiguration{});
  scene.clock.advance(2);
  EXPECT_EQ(server.windowsOf(308).size(), 1u);
}

TEST_F(ReactionTest, FirstWindowCanFailAndUnknownAppsReportAnError) {
  server.setFailure(Reaction::firstWindow, Failure::refuse);
  NSWorkspace::shared().openApplication("/Applications/Easel.app", NSWorkspaceOpenConfiguration{});
  scene.clock.advance(2);
  EXPECT_TRUE(server.windowsOf(308).empty());

  std::optional<std::string> error;
  NSWorkspace::shared().openApplication("/Applications/Nowhere.app", NSWorkspaceOpenConfiguration{},
                                        [&](std::optional<NSRunningApplication> app, std::optional<NSError> e) {
                                          EXPECT_FALSE(app);
                                          error = e ? e->localizedDescription : "";
                                        });
  scene.clock.advance(1);
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("Nowhere.app"), std::string::npos);
}

TEST_F(ReactionTest, AnInstalledAppLaunchesWithANewProcess) {
  std::optional<NSRunningApplication> launched;
  NSWorkspace::shared().openApplication(
      "/Applications/Atlas.app", NSWorkspaceOpenConfiguration{},
      [&](std::optional<NSRunningApplication> app, std::optional<NSError>) { launched = app; });
  scene.clock.advance(server.timings().launch);
  ASSERT_TRUE(launched);
  EXPECT_EQ(launched->localizedName(), "Atlas");
  EXPECT_TRUE(notes.saw(NSWorkspaceDidLaunchApplicationNotification, launched->processIdentifier()));
  EXPECT_NEAR(*launched->launchDate(), platform::now(), 0.01);
  scene.clock.advance(server.timings().firstWindow);
  EXPECT_EQ(server.windowsOf(launched->processIdentifier()).size(), 1u);
  EXPECT_TRUE(launched->isActive());
  EXPECT_EQ(NSRunningApplication::runningApplicationsWithBundleIdentifier("com.example.atlas").size(), 1u);
}

TEST_F(ReactionTest, AppsAskedToQuitMayRefuseIgnoreOrTakeTheirTime) {
  auto finder = *NSRunningApplication::withProcessIdentifier(201);
  auto harbor = *NSRunningApplication::withProcessIdentifier(303);
  auto cadence = *NSRunningApplication::withProcessIdentifier(305);
  bool observed = false;
  auto observation = cadence.observeIsTerminated([&](const NSRunningApplication&) { observed = true; });

  EXPECT_FALSE(finder.terminate());
  EXPECT_TRUE(harbor.terminate());
  EXPECT_TRUE(cadence.terminate());
  scene.clock.advance(1.0);
  EXPECT_FALSE(harbor.isTerminated());
  EXPECT_FALSE(cadence.isTerminated());  // still saving its work
  EXPECT_FALSE(observed);
  scene.clock.advance(1.0);
  EXPECT_TRUE(cadence.isTerminated());
  EXPECT_TRUE(observed);
  EXPECT_TRUE(server.windowsOf(305).empty());
  EXPECT_TRUE(notes.saw(NSWorkspaceDidTerminateApplicationNotification, 305));
  EXPECT_FALSE(cadence.activate());

  EXPECT_TRUE(harbor.forceTerminate());
  scene.clock.advance(1.0);
  EXPECT_TRUE(harbor.isTerminated());
  EXPECT_FALSE(NSRunningApplication::current().terminate());  // the program does not quit itself this way
  EXPECT_FALSE(finder.isTerminated());
}

TEST_F(ReactionTest, LaunchServicesKnowTheOrderOfUse) {
  auto array = symbol<LSCopyApplicationArrayInFrontToBackOrder_t>(kCoreServicesPath,
                                                                  "_LSCopyApplicationArrayInFrontToBackOrder");
  auto item = symbol<LSCopyApplicationInformationItem_t>(kCoreServicesPath, "_LSCopyApplicationInformationItem");
  const std::string key = *platform::symbolAs<const LSPIDKey_t>(platform::dlopen(kCoreServicesPath, 2), "_kLSPIDKey");
  auto pids = [&] {
    std::vector<std::int64_t> result;
    const auto ids = *array(-2);
    for (const auto& id : ids) {
      if (auto v = item(-2, id, key)) result.push_back(*v->asInteger());
    }
    return result;
  };
  ASSERT_FALSE(pids().empty());
  EXPECT_EQ(pids().front(), 301);
  server.makeFrontmost(305);
  server.makeFrontmost(302);
  auto order = pids();
  ASSERT_GE(order.size(), 3u);
  EXPECT_EQ(std::vector<std::int64_t>(order.begin(), order.begin() + 3), (std::vector<std::int64_t>{302, 305, 301}));
  EXPECT_EQ(std::count(order.begin(), order.end(), 160), 0);  // background-only processes are not listed

  // An app whose process id item is missing is still listed, just without it.
  server.updateApp(305, [](sim::App& a) { a.launchServicesPID = false; });
  EXPECT_EQ(array(-2)->size(), order.size());
  const auto without = pids();
  EXPECT_EQ(std::count(without.begin(), without.end(), 305), 0);
  EXPECT_EQ(without.size() + 1, order.size());
  EXPECT_FALSE(item(-2, platform::PlistValue("not an application"), key));
}

// When the program in front goes (it quits), the front passes to the most recent app with a
// window the user can see; with none, to the desktop's owner, raising nothing.
TEST_F(ReactionTest, TheFrontPassesToAnAppTheUserCanSeeElseToTheDesktop) {
  const std::int32_t own = server.ownProcessIdentifier();
  const auto visible = [&](std::int32_t pid) {
    for (const sim::Window& w : server.windowsOf(pid))
      if (w.layer == 0 && server.isOnScreen(w.number)) return true;
    return false;
  };
  // Quill, the most recent app after the program, has its windows on Spaces 1 and 4; the
  // built-in display shows Space 6 (Palette and Viewer).
  ASSERT_TRUE(server.switchSpace(6, sim::SwitchStyle::instant));
  ASSERT_TRUE(server.makeFrontmost(own));
  ASSERT_EQ(server.activationOrder().at(1), 301);
  server.resignFront(own);
  ASSERT_TRUE(server.frontmost());
  EXPECT_NE(*server.frontmost(), 301);
  EXPECT_TRUE(visible(*server.frontmost())) << *server.frontmost();

  // No app shows a window: the Finder takes the front and its window stays where it is.
  for (const sim::Window& w : server.windows())
    if (w.layer == 0 && !w.desktopElement && server.isOnScreen(w.number) && w.pid != own) server.removeWindow(w.number);
  ASSERT_TRUE(server.makeFrontmost(own));
  server.resignFront(own);
  EXPECT_EQ(server.frontmost(), 201);
  EXPECT_FALSE(server.isOnScreen(1101));
}
