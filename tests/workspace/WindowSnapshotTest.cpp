// Which windows an application has at one moment: the accessibility answer completed by
// the window list.

#include <gtest/gtest.h>

#include "WindowServerScenes.h"
#include "platform/AppKitWindows.h"
#include "platform/WindowServerPort.h"
#include "platform/sim/AccessibilityServer.h"
#include "workspace/Minimized.h"
#include "workspace/WindowSnapshot.h"

namespace trelliq {
namespace {

using Numbers = std::vector<std::uint32_t>;

Numbers numbers(const std::vector<WindowInfo>& windows) {
  Numbers result;
  for (const auto& w : windows) result.push_back(w.windowID.value_or(0));
  return result;
}

/// The app stops answering the moment it is first asked for a window number, after it has
/// listed its windows.
struct HangOnWindowNumber {
  static inline AXUIElementGetWindow_t* original = nullptr;
  static inline std::int32_t pid = 0;
  static AXError call(const AXUIElementRef& element, std::uint32_t* window) {
    sim::AccessibilityServer::active()->setHung(pid, true);
    return original(element, window);
  }
};

class Snapshot : public ::testing::Test {
 protected:
  void SetUp() override { prepare(); }
  void prepare() {
    scenes::twoDisplays(scene);  // Spaces 12 and 21 show
    scene.world.setAccessibilityTrusted(true);
    scene.world.setScreenCaptureAllowed(true);
    pid = scenes::addApp(scene, "Notes");
  }
  /// A window only the window list knows; `reported` ones the app reports too.
  std::uint32_t listed(scenes::NewWindow window) {
    window.accessible = false;
    return reported(window);
  }
  std::uint32_t reported(scenes::NewWindow window) {
    if (!window.pid) window.pid = pid;
    return scenes::addWindow(scene, window);
  }
  std::vector<WindowInfo> windowsOf(std::int32_t which, bool titledOnly = false) {
    return WindowSnapshot().windows(*NSRunningApplication::withProcessIdentifier(which), titledOnly);
  }
  sim::AccessibilityServer& ax() { return *sim::AccessibilityServer::active(); }

  Scene scene;
  std::int32_t pid = 0;
};

TEST_F(Snapshot, ListedWindowsNeedOneHundredPointsEachWayAndSomeOpacity) {
  listed({.title = "narrow", .bounds = CGRect(0, 0, 99, 300), .spaces = {12}});
  const auto square = listed({.title = "square", .bounds = CGRect(0, 0, 100, 100), .spaces = {12}});
  listed({.title = "flat", .bounds = CGRect(0, 0, 300, 99.5), .spaces = {12}});
  listed({.title = "clear", .spaces = {12}, .alpha = 0});
  const auto faint = listed({.title = "faint", .spaces = {12}, .alpha = 0.01});
  const auto reportedOne = reported({.title = "Shopping", .bounds = CGRect(10, 20, 640, 480), .spaces = {12}});

  const auto windows = windowsOf(pid);
  ASSERT_EQ(numbers(windows), (Numbers{square, faint, reportedOne}));
  EXPECT_FALSE(windows[0].element);
  EXPECT_EQ(windows[0].title, "square");
  EXPECT_EQ(windows[0].bounds, CGRect(0, 0, 100, 100));
  EXPECT_TRUE(windows[2].element);
  EXPECT_EQ(windows[2].title, "Shopping");
  EXPECT_EQ(windows[2].bounds, CGRect(10, 20, 640, 480));
}

TEST_F(Snapshot, EachSnapshotSeesTheListAsItIsNowThoughUnchangedEntriesAreNotReadAgain) {
  const auto square = listed({.title = "square", .bounds = CGRect(0, 0, 100, 100), .spaces = {12}});
  const auto other = listed({.title = "other", .bounds = CGRect(0, 0, 300, 300), .spaces = {12}});
  ASSERT_EQ(numbers(windowsOf(pid)), (Numbers{square, other}));

  scene.windowServer.moveWindow(square, CGPoint{40, 50});
  scene.windowServer.setWindowTitle(square, "moved");
  auto windows = windowsOf(pid);
  ASSERT_EQ(numbers(windows), (Numbers{square, other}));
  EXPECT_EQ(windows[0].bounds, CGRect(40, 50, 100, 100));
  EXPECT_EQ(windows[0].title, "moved");
  EXPECT_EQ(windows[1].title, "other");

  // Shrunk below the size a listed window needs; then gone, and another in its place.
  scene.windowServer.resizeWindow(square, CGSize{99, 100});
  EXPECT_EQ(numbers(windowsOf(pid)), (Numbers{other}));
  scene.windowServer.removeWindow(other);
  const auto next = listed({.title = "next", .bounds = CGRect(7, 8, 300, 300), .spaces = {12}});
  windows = windowsOf(pid);
  ASSERT_EQ(numbers(windows), (Numbers{next}));
  EXPECT_EQ(windows[0].bounds, CGRect(7, 8, 300, 300));
}

TEST_F(Snapshot, AJustLaunchedAppGetsItsWindowsOnOtherSpacesForFiveSeconds) {
  sim::App fresh;
  fresh.name = "Fresh";
  fresh.launchDate = scene.clock.now() - 3;
  const std::int32_t app = scene.windowServer.addApp(fresh);
  // It reports no windows yet; the list has two on Spaces that do not show.
  const auto named = listed({.pid = app, .title = "Named", .spaces = {13}});
  const auto unnamed = listed({.pid = app, .title = "", .spaces = {22}});
  EXPECT_EQ(numbers(windowsOf(app)), (Numbers{named}));
  scene.world.setScreenCaptureAllowed(false);  // names unknown: the unnamed one may be real
  EXPECT_EQ(numbers(windowsOf(app)), (Numbers{named, unnamed}));
  EXPECT_FALSE(windowsOf(app)[0].title);
  scene.clock.advance(3);
  EXPECT_TRUE(windowsOf(app).empty());

  // A settled app gets only the ordered-in windows of Spaces that show.
  listed({.title = "Elsewhere", .spaces = {13}});
  const auto here = listed({.title = "Here", .spaces = {21}});
  EXPECT_EQ(numbers(windowsOf(pid)), (Numbers{here}));
}

TEST_F(Snapshot, AHungAppIsIncompleteAndCostsNoMoreThanItsTimeouts) {
  const auto here = reported({.title = "Here", .spaces = {12}});
  const auto there = reported({.title = "There", .spaces = {13}});
  ax().setHung(pid, true);
  ax().setTimeoutsElapseClock(true);
  const double start = scene.clock.monotonicSeconds();
  WindowSnapshot snapshot;
  const auto windows = snapshot.windows(*NSRunningApplication::withProcessIdentifier(pid), false);
  snapshot.mayHaveWindows(pid);
  EXPECT_LE(scene.clock.monotonicSeconds() - start, 0.25 + 1e-6);
  EXPECT_EQ(numbers(windows), (Numbers{here, there}));
  EXPECT_FALSE(windows[0].element);

  // An app that hangs after listing its windows is asked with the same short timeout.
  scene.restart();
  prepare();
  for (int i = 0; i < 3; ++i) reported({.spaces = {12}});
  HangOnWindowNumber::original =
      reinterpret_cast<AXUIElementGetWindow_t*>(scene.world.symbol(kApplicationServicesPath, "_AXUIElementGetWindow"));
  HangOnWindowNumber::pid = pid;
  scene.world.addFunction<AXUIElementGetWindow_t>(kApplicationServicesPath, "_AXUIElementGetWindow",
                                                  &HangOnWindowNumber::call);
  windowsOf(pid);
  ASSERT_FALSE(ax().waits().empty());
  for (const auto& wait : ax().waits()) EXPECT_LE(wait.seconds, 0.25 + 1e-6) << wait.name;
}

TEST_F(Snapshot, HiddenAppsAndFullScreenSpacesDropUntitledCompanions) {
  scene.windowServer.setSpaces(2, {scenes::space(21), scenes::space(23, sim::kSpaceTypeFullScreen)}, 23);
  const auto movie = listed({.title = "Movie", .spaces = {23}});
  listed({.title = "", .spaces = {23}});
  const auto loose = listed({.title = "", .spaces = {12}});
  auto windows = windowsOf(pid);
  ASSERT_EQ(numbers(windows), (Numbers{movie, loose}));
  EXPECT_TRUE(windows[0].fullScreen);
  EXPECT_FALSE(windows[1].fullScreen);

  // A hidden app's windows come from the list although ordered out, companions dropped.
  const auto document = listed({.title = "Document", .spaces = {13}});
  listed({.title = "", .spaces = {13}});
  const auto alone = listed({.title = "", .spaces = {11}});
  scene.windowServer.setHidden(pid, true);
  ASSERT_FALSE(scene.windowServer.window(document)->orderedIn);
  EXPECT_EQ(numbers(windowsOf(pid)), (Numbers{movie, loose, document, alone}));
}

TEST_F(Snapshot, MinimizedWindowsAreRememberedLoggedAndRecognisedLater) {
  const auto letter = reported({.title = "Letter", .spaces = {12}});
  scene.windowServer.setMinimized(letter, true);
  auto windows = windowsOf(pid);
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_TRUE(windows[0].minimized);
  EXPECT_TRUE(Minimized::element(letter));
  windowsOf(pid);  // the same state again logs nothing
  EXPECT_EQ(scenes::logMessages(),
            (std::vector<std::string>{"window " + std::to_string(letter) + " of Notes minimized"}));

  // Once the app stops reporting it, the list still knows it as minimized; an ordered-out
  // window nobody reported minimized is left out.
  scene.windowServer.updateWindow(letter, [](sim::Window& w) {
    w.accessible = false;
    w.axElement = 0;
  });
  listed({.title = "Forgotten", .spaces = {12}, .orderedIn = false});
  windows = windowsOf(pid);
  ASSERT_EQ(numbers(windows), (Numbers{letter}));
  EXPECT_TRUE(windows[0].minimized);
  EXPECT_FALSE(windows[0].element);
}

TEST_F(Snapshot, TitledOnlyAndNonStandardWindows) {
  const auto untitled = reported({.title = "", .spaces = {12}});
  const auto blank = listed({.title = "", .spaces = {12}});
  const auto named = listed({.title = "Palette", .spaces = {12}});
  EXPECT_EQ(numbers(windowsOf(pid, true)), (Numbers{untitled, named}));
  EXPECT_EQ(numbers(windowsOf(pid, false)), (Numbers{untitled, blank, named}));

  // A dialog is no standard window: not remembered when minimized, yet listed when it shows.
  const auto dialog = reported({.title = "Save?", .spaces = {12}, .subrole = "AXDialog"});
  scene.windowServer.setMinimized(dialog, true);
  EXPECT_EQ(numbers(windowsOf(pid)), (Numbers{untitled, blank, named}));
  EXPECT_FALSE(Minimized::element(dialog));
  scene.windowServer.setMinimized(dialog, false);
  const auto shown = windowsOf(pid);
  ASSERT_EQ(numbers(shown).back(), dialog);
  EXPECT_FALSE(shown.back().element);
}

TEST_F(Snapshot, WindowsAreSortedByNumberAndTheListKeepsFrontToBack) {
  const auto first = reported({.title = "First", .spaces = {12}});
  const auto second = reported({.title = "Second", .spaces = {12}});
  scene.windowServer.raiseWindow(first);
  EXPECT_LT(WindowSnapshot().order().at(first), WindowSnapshot().order().at(second));
  scene.windowServer.raiseWindow(second);
  WindowSnapshot snapshot;
  EXPECT_LT(snapshot.order().at(second), snapshot.order().at(first));
  EXPECT_EQ(numbers(snapshot.windows(*NSRunningApplication::withProcessIdentifier(pid), false)),
            (Numbers{first, second}));

  // Elements without numbers come last, and the list supplies the same windows by number.
  ax().setError(pid, "_AXUIElementGetWindow", kAXErrorFailure);
  const auto windows = windowsOf(pid);
  ASSERT_EQ(numbers(windows), (Numbers{first, second, 0, 0}));
  EXPECT_TRUE(windows[2].element);
  EXPECT_FALSE(windows[2].bounds);
}

TEST_F(Snapshot, OnlyLayerZeroIsKeptAndAnUnreadableListIsEmptyButSaysSo) {
  const auto body = listed({.title = "Body", .bounds = CGRect(5, 6, 700, 500), .spaces = {12}});
  sim::Window floating;
  floating.pid = pid;
  floating.layer = 3;
  floating.spaces = {12};
  const auto panel = scene.windowServer.addWindow(floating);
  WindowSnapshot snapshot;
  EXPECT_EQ(snapshot.bounds(body), CGRect(5, 6, 700, 500));
  EXPECT_FALSE(snapshot.bounds(panel));
  EXPECT_FALSE(snapshot.order().count(panel));
  EXPECT_EQ(snapshot.currentSpaces(), (std::set<std::int64_t>{12, 21}));
  EXPECT_TRUE(snapshot.titlesKnown() && snapshot.listRead());

  platform::installWindowServer(nullptr);
  WindowSnapshot unread;
  platform::installWindowServer(&scene.windowServer);
  EXPECT_FALSE(unread.listRead());
  EXPECT_TRUE(unread.cgWindows().empty());
}

TEST_F(Snapshot, AccessoryAppsMayHaveWindowsOnlyWithAVisibleOrderedInOne) {
  const std::int32_t agent = scenes::addApp(scene, "Agent", platform::ActivationPolicy::accessory);
  listed({.pid = agent, .bounds = CGRect(0, 0, 99, 400), .spaces = {12}});
  listed({.pid = agent, .spaces = {12}, .alpha = 0});
  const auto later = listed({.pid = agent, .spaces = {12}, .orderedIn = false});
  EXPECT_FALSE(WindowSnapshot().mayHaveWindows(agent));
  EXPECT_FALSE(WindowSnapshot().mayHaveWindows(4711));
  scene.windowServer.updateWindow(later, [](sim::Window& w) { w.orderedIn = true; });
  EXPECT_TRUE(WindowSnapshot().mayHaveWindows(agent));
}

TEST_F(Snapshot, MissingFunctionsLeaveOnlyWhatTheAppReports) {
  scene.world.removeSymbol(kSkyLightPath, "SLSCopySpacesForWindows");
  const auto window = reported({.title = "Reported", .spaces = {12}});
  listed({.title = "Listed", .spaces = {12}});
  EXPECT_EQ(numbers(windowsOf(pid)), (Numbers{window}));

  scene.restart();
  prepare();
  scene.world.removeSymbol(kSkyLightPath, "SLSWindowIsOrderedIn");
  const auto listedOnly = listed({.title = "Listed", .spaces = {12}});
  EXPECT_TRUE(windowsOf(pid).empty());
  EXPECT_FALSE(WindowSnapshot().mayHaveWindows(pid));
  scene.windowServer.setHidden(pid, true);  // a hidden app's windows need not be ordered in
  EXPECT_EQ(numbers(windowsOf(pid)), (Numbers{listedOnly}));
}

TEST_F(Snapshot, TheProgramsOwnTitledWindowsThatShowOrAreMinimized) {
  auto make = [](NSWindowStyleMask style, const std::string& title) {
    auto window = std::make_unique<NSWindow>(CGRect(100, 100, 400, 300), style, NSBackingStoreType::buffered, false);
    window->setTitle(title);
    window->orderFront(nullptr);
    return window;
  };
  auto preferences = make(NSWindowStyleMaskTitled, "Preferences");
  auto untitled = make(NSWindowStyleMaskTitled, "");
  untitled->miniaturize(nullptr);
  auto closed = make(NSWindowStyleMaskTitled, "Closed");
  closed->orderOut(nullptr);
  auto panel = make(NSWindowStyleMaskBorderless, "Panel");
  scene.clock.advance(1);

  const auto own = WindowSnapshot().ownWindows();
  ASSERT_EQ(numbers(own), (Numbers{static_cast<std::uint32_t>(preferences->windowNumber()),
                                   static_cast<std::uint32_t>(untitled->windowNumber())}));
  EXPECT_EQ(own[0].title, "Preferences");
  EXPECT_EQ(own[0].pid, NSProcessInfo::processInfo().processIdentifier());
  EXPECT_TRUE(own[0].bounds);
  EXPECT_FALSE(own[1].title);
  EXPECT_TRUE(own[1].minimized);
}

}  // namespace
}  // namespace trelliq
