// Bringing the first window of an app opened without one onto the chosen display: the
// looks every 0.1 s, the one move, the windows left alone, and the deadline.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/AppKit.h"
#include "platform/Geometry.h"
#include "platform/sim/AccessibilityServer.h"
#include "support/Scene.h"
#include "switcher/NewWindowPlacer.h"
#include "workspace/Focus.h"
#include "workspace/WindowServerScenes.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {
namespace {

// On the default desk, Easel (308) runs without a window and opens its first one on the
// wide display 3 (screen frame 1512, 0, 2560 × 1440; 458 points above the built-in one
// in window-server terms). The built-in display 1 is 1512 × 982 under its menu bar.
constexpr std::int32_t kEasel = 308;
constexpr double kPrimaryTop = 982;

class NewWindowPlacerTest : public ::testing::Test {
 protected:
  NewWindowPlacerTest() {
    scene.world.setAccessibilityTrusted(true);
    for (const auto& screen : NSScreen::screens()) {
      if (screen.displayNumber() == 1) builtIn.emplace(screen);
      if (screen.displayNumber() == 3) wide.emplace(screen);
    }
  }

  /// Opens Easel as a switch to it would, without a window.
  void openEasel() {
    const auto app = NSRunningApplication::withProcessIdentifier(kEasel);
    ASSERT_TRUE(app);
    activate(AppInfo(*app), std::nullopt);
  }

  /// Easel's one ordinary window, when it has one.
  std::optional<sim::Window> easelWindow() {
    for (const auto& w : scene.windowServer.windowsOf(kEasel)) {
      if (w.layer == 0) return w;
    }
    return std::nullopt;
  }

  /// Where the placer puts a window of that size on the built-in display (window-server terms).
  CGPoint centredOnBuiltIn(CGSize size) {
    const CGRect v = builtIn->visibleFrame();
    return {std::max(v.minX(), v.midX() - size.width / 2),
            std::max(kPrimaryTop - v.maxY(), kPrimaryTop - v.midY() - size.height / 2)};
  }

  int windowListReads() {
    int reads = 0;
    for (const auto& call : sim::AccessibilityServer::active()->calls()) {
      if (call.element.pid == kEasel && call.element.element == 0 && call.name == "AXWindows") ++reads;
    }
    return reads;
  }

  Scene scene{Scene::Start::defaultScenario};
  std::optional<NSScreen> builtIn, wide;
};

TEST_F(NewWindowPlacerTest, TheFirstWindowIsCentredOnTheChosenDisplayOnce) {
  ASSERT_TRUE(builtIn && wide);
  openEasel();
  NewWindowPlacer::bring(kEasel, *builtIn);
  scene.clock.advance(1.0);

  const auto window = easelWindow();
  ASSERT_TRUE(window) << "Easel opened its first window";
  EXPECT_EQ(window->bounds.origin, centredOnBuiltIn(window->bounds.size));

  // Moved once: the user takes it back to the wide display and it stays there.
  ASSERT_TRUE(scene.windowServer.moveWindow(window->number, CGPoint{2000, 0}));
  scene.clock.advance(3.0);
  EXPECT_EQ(easelWindow()->bounds.origin, (CGPoint{2000, 0}));
}

TEST_F(NewWindowPlacerTest, AWindowThatComesLateIsStillFound) {
  ASSERT_TRUE(builtIn);
  auto timings = scene.windowServer.timings();
  timings.firstWindow = 1.0;
  scene.windowServer.setTimings(timings);
  openEasel();
  NewWindowPlacer::bring(kEasel, *builtIn);
  scene.clock.advance(0.9);
  EXPECT_FALSE(easelWindow());
  scene.clock.advance(1.0);
  const auto window = easelWindow();
  ASSERT_TRUE(window);
  EXPECT_EQ(window->bounds.origin, centredOnBuiltIn(window->bounds.size));
}

TEST_F(NewWindowPlacerTest, AWindowAlreadyOnTheChosenDisplayStaysWhereItOpened) {
  ASSERT_TRUE(wide);
  openEasel();
  NewWindowPlacer::bring(kEasel, *wide);
  scene.clock.advance(1.2);
  const auto window = easelWindow();
  ASSERT_TRUE(window);
  // Centred on display 3 by the app itself: 2560 × 1440 at (1512, −458).
  EXPECT_EQ(window->bounds, CGRect(1512 + 1280 - 450, -458 + 720 - 300, 900, 600));
}

TEST_F(NewWindowPlacerTest, OnlyTheFirstStandardWindowIsMoved) {
  ASSERT_TRUE(builtIn);
  scene.windowServer.updateApp(kEasel, [](sim::App& a) { a.opensFirstWindow = false; });
  const std::uint32_t dialogNumber = scenes::addWindow(
      scene,
      {.pid = kEasel, .title = "Welcome", .bounds = CGRect(2000, 0, 400, 300), .spaces = {2}, .subrole = "AXDialog"});
  const std::uint32_t canvasNumber = scenes::addWindow(
      scene, {.pid = kEasel, .title = "Canvas", .bounds = CGRect(2100, 100, 600, 400), .spaces = {2}});
  const std::uint32_t secondNumber = scenes::addWindow(
      scene, {.pid = kEasel, .title = "Canvas 2", .bounds = CGRect(2200, 200, 600, 400), .spaces = {2}});

  NewWindowPlacer::bring(kEasel, *builtIn);
  scene.clock.advance(0.5);
  // The front-most standard window in the app's list is the newest one.
  const auto front = scene.windowServer.window(secondNumber);
  const auto back = scene.windowServer.window(canvasNumber);
  ASSERT_TRUE(front && back);
  EXPECT_EQ(front->bounds.origin, centredOnBuiltIn(front->bounds.size));
  EXPECT_EQ(back->bounds.origin, (CGPoint{2100, 100}));
  EXPECT_EQ(scene.windowServer.window(dialogNumber)->bounds.origin, (CGPoint{2000, 0}));
}

TEST_F(NewWindowPlacerTest, AnAppThatNeverOpensAWindowIsGivenUpAfterTheDeadline) {
  ASSERT_TRUE(builtIn);
  scene.windowServer.updateApp(kEasel, [](sim::App& a) { a.opensFirstWindow = false; });
  sim::AccessibilityServer::active()->clearCalls();
  NewWindowPlacer::bring(kEasel, *builtIn);
  scene.clock.advance(3.5);
  // About one look per 0.1 s for 3 s.
  EXPECT_GE(windowListReads(), 29);
  EXPECT_LE(windowListReads(), 31);

  // A window that comes after the deadline is not touched.
  const std::uint32_t number =
      scenes::addWindow(scene, {.pid = kEasel, .title = "Late", .bounds = CGRect(2000, 0, 400, 300), .spaces = {2}});
  scene.clock.advance(1.0);
  EXPECT_EQ(scene.windowServer.window(number)->bounds.origin, (CGPoint{2000, 0}));
}

TEST_F(NewWindowPlacerTest, AWindowLargerThanTheVisibleFrameGoesToItsTopLeftCorner) {
  ASSERT_TRUE(builtIn);
  scene.windowServer.updateApp(kEasel, [](sim::App& a) { a.opensFirstWindow = false; });
  const std::uint32_t number = scenes::addWindow(
      scene, {.pid = kEasel, .title = "Poster", .bounds = CGRect(1600, -400, 2000, 1300), .spaces = {2}});
  NewWindowPlacer::bring(kEasel, *builtIn);
  scene.clock.advance(0.5);
  // The visible frame of display 1 starts below its menu bar.
  const double top = kPrimaryTop - builtIn->visibleFrame().maxY();
  EXPECT_GT(top, 0);
  EXPECT_EQ(scene.windowServer.window(number)->bounds, CGRect(0, top, 2000, 1300));
}

}  // namespace
}  // namespace trelliq
