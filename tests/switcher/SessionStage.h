#pragma once
// The stage of the session tests: the default desk, trusted and allowed to capture, a
// controller of the test's own with its tap installed, and the keyboard and mouse of the
// simulated Mac, so that sessions are opened, steered and ended by real events passing
// the tap. Events are posted at the HID point and delivered as the clock runs.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SwitchPerformerScenes.h"
#include "platform/AppKitWindows.h"
#include "platform/CGEvent.h"
#include "platform/sim/EventServer.h"
#include "settings/Settings.h"
#include "support/Scene.h"
#include "switcher/Switcher.h"
#include "workspace/Recency.h"

namespace trelliq::session {

using perform::linesStarting;
using perform::logLines;

constexpr CGEventFlags kCommand = kCGEventFlagMaskCommand;
constexpr CGEventFlags kShift = kCGEventFlagMaskShift;
constexpr CGKeyCode kCommandKey = 55;

// The default desk's windows the tests name.
constexpr std::uint32_t kDraft = 2101, kDocuments = 1101, kStartPage = 3101, kSlateBuild = 7102;
constexpr std::int32_t kFinderPID = 201, kQuillPID = 301, kLumenPID = 302, kSlatePID = 306;

class SessionStage : public ::testing::Test {
 protected:
  SessionStage() {
    scene.world.setAccessibilityTrusted(true);
    scene.world.setScreenCaptureAllowed(true);
    Settings::registerDefaults();
    switcher = Switcher::make();
  }
  ~SessionStage() override {
    if (switcher && switcher->gate().tapPort()) switcher->stopTap();
    switcher.reset();
    scene.clock.advance(10);
  }

  /// Installs the tap and lets the warm-up run.
  void startTap() {
    ASSERT_TRUE(switcher->startTap());
    scene.clock.advance(0.05);
  }

  // ---- Keyboard and mouse --------------------------------------------------------------
  static void post(const CGEventRef& event) { CGEventPost(kCGHIDEventTap, event); }
  /// A flags-changed event: the modifiers now down.
  static void modifiers(CGEventFlags flags, CGKeyCode key = kCommandKey) {
    CGEventRef event = CGEventCreateKeyboardEvent(nullptr, key, true);
    CGEventSetType(event, kCGEventFlagsChanged);
    CGEventSetFlags(event, flags);
    post(event);
  }
  /// A key press (down, then up) with these modifiers.
  static void press(CGKeyCode key, CGEventFlags flags, bool repeat = false) {
    for (const bool down : {true, false}) {
      CGEventRef event = CGEventCreateKeyboardEvent(nullptr, key, down);
      CGEventSetFlags(event, flags);
      if (repeat) CGEventSetIntegerValueField(event, kCGKeyboardEventAutorepeat, 1);
      post(event);
    }
  }
  /// A left click at a global top-left point.
  static void click(CGPoint at) {
    post(CGEventCreateMouseEvent(nullptr, kCGEventLeftMouseDown, at, 0));
    post(CGEventCreateMouseEvent(nullptr, kCGEventLeftMouseUp, at, 0));
  }
  /// Moves the pointer to a global top-left point.
  static void movePointer(CGPoint to) { post(CGEventCreateMouseEvent(nullptr, kCGEventMouseMoved, to, 0)); }

  /// Lets `seconds` pass in small steps, calling `each` after every step.
  template <class F>
  void during(double seconds, F&& each) {
    for (double t = 0; t < seconds; t += 0.01) {
      scene.clock.advance(0.01);
      each();
    }
  }

  // ---- What the tests look at -------------------------------------------------------------
  /// Whether any display panel or the preview panel is ordered in.
  bool anyPanelVisible() const {
    for (const auto& p : switcher->panels()) {
      if (p.window && p.window->isVisible()) return true;
    }
    return switcher->preview().window().isVisible();
  }
  std::int32_t frontmost() { return scene.windowServer.frontmost().value_or(0); }
  /// The front window of an app on the window server's stacking (layer 0).
  std::uint32_t frontWindowOf(std::int32_t pid) {
    for (const auto& w : scene.windowServer.windows()) {
      if (w.pid == pid && w.layer == 0 && w.orderedIn && !w.minimized) return w.number;
    }
    return 0;
  }
  /// The selected tile's id on the focused display.
  std::string selected() const { return switcher->model().selectedID(switcher->model().focused()).value_or(""); }
  /// The ids of the focused display's tiles, in order.
  std::vector<std::string> tileOrder() const {
    std::vector<std::string> ids;
    if (const DisplayGroup* g = switcher->model().display(switcher->model().focused())) {
      for (const Cluster& c : g->clusters()) ids.push_back(c.id);
    }
    return ids;
  }

  Scene scene{Scene::Start::defaultScenario};
  std::shared_ptr<Switcher> switcher;
};

}  // namespace trelliq::session
