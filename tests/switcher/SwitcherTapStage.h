#pragma once
// The stage of the event-tap tests: the default desk, trusted and allowed to capture, a
// controller made for the test, and events built the way the system delivers them.
// Tests either hand an event to `handle` themselves (the test thread then plays the
// tap's thread, and the answer says whether the event was passed on) or post it through
// the simulated Mac so that it passes the installed tap.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/CGEvent.h"
#include "platform/Foundation.h"
#include "platform/sim/EventServer.h"
#include "settings/Settings.h"
#include "support/Scene.h"
#include "switcher/Switcher.h"

namespace trelliq::tap {

constexpr CGEventFlags kShift = kCGEventFlagMaskShift;
constexpr CGEventFlags kControl = kCGEventFlagMaskControl;
constexpr CGEventFlags kOption = kCGEventFlagMaskAlternate;
constexpr CGEventFlags kCommand = kCGEventFlagMaskCommand;
constexpr CGEventFlags kFn = kCGEventFlagMaskSecondaryFn;

// Virtual key codes of the keys the tests press.
constexpr CGKeyCode kA = 0, kH = 4, kX = 7, kQ = 12, kW = 13, k1 = 18, k2 = 19, k0 = 29, kPeriod = 47, kSpace = 49,
                    kCommandKey = 55;

class TapStage : public ::testing::Test {
 public:
  TapStage() {
    scene.world.setAccessibilityTrusted(true);
    scene.world.setScreenCaptureAllowed(true);
    Settings::registerDefaults();
    switcher = Switcher::make();
  }
  ~TapStage() override {
    if (switcher->gate().tapPort()) switcher->stopTap();
    switcher->session().cancel(false);
    scene.clock.advance(10);
  }

  /// Stores an option, and runs what its change notification set off.
  void setOption(const std::string& key, const platform::PlistValue& value) {
    UserDefaults::standard().set(key, value);
    settle();
  }

  // ---- Events --------------------------------------------------------------------------
  static CGEventRef key(CGKeyCode code, CGEventFlags flags, bool repeat = false) {
    CGEventRef event = CGEventCreateKeyboardEvent(nullptr, code, true);
    CGEventSetFlags(event, flags);
    if (repeat) CGEventSetIntegerValueField(event, kCGKeyboardEventAutorepeat, 1);
    return event;
  }
  static CGEventRef modifiers(CGEventFlags flags, std::optional<CGEventTimestamp> at = std::nullopt) {
    CGEventRef event = CGEventCreateKeyboardEvent(nullptr, kCommandKey, true);
    CGEventSetType(event, kCGEventFlagsChanged);
    CGEventSetFlags(event, flags);
    if (at) CGEventSetTimestamp(event, *at);
    return event;
  }
  static CGEventRef mouse(CGEventType type, CGPoint at, CGMouseButton button = kCGMouseButtonLeft) {
    return CGEventCreateMouseEvent(nullptr, type, at, button);
  }
  /// A trackpad scroll: point deltas, a scroll phase (0 none) and a momentum phase.
  static CGEventRef trackpad(double across, double down, std::int64_t phase = 0, std::int64_t momentum = 0) {
    CGEventRef event = CGEventCreateScrollWheelEvent(nullptr, kCGScrollEventUnitPixel, 2, 0, 0);
    CGEventSetIntegerValueField(event, kCGScrollWheelEventIsContinuous, 1);
    CGEventSetDoubleValueField(event, kCGScrollWheelEventPointDeltaAxis2, across);
    CGEventSetDoubleValueField(event, kCGScrollWheelEventPointDeltaAxis1, down);
    CGEventSetIntegerValueField(event, kCGScrollWheelEventScrollPhase, phase);
    CGEventSetIntegerValueField(event, kCGScrollWheelEventMomentumPhase, momentum);
    return event;
  }
  /// One notch of a classic wheel, in lines.
  static CGEventRef wheel(std::int32_t across, std::int32_t down) {
    CGEventRef event = CGEventCreateScrollWheelEvent(nullptr, kCGScrollEventUnitLine, 2, down, across);
    CGEventSetIntegerValueField(event, kCGScrollWheelEventIsContinuous, 0);
    return event;
  }

  /// Hands the event to the tap's decision; true when it was consumed.
  bool consumes(CGEventType type, const CGEventRef& event) { return switcher->handle(type, event) == nullptr; }
  bool consumesKey(CGKeyCode code, CGEventFlags flags, bool repeat = false) {
    return consumes(kCGEventKeyDown, key(code, flags, repeat));
  }
  /// Runs what is due on every queue (the work the tap posted among it).
  void settle() { scene.clock.runUntilIdle(); }

  // ---- Sessions ------------------------------------------------------------------------
  /// Opens a session as a trigger would and lets `begin` run.
  void openSession(Switcher::Action action, CGEventFlags holding = kCommand, bool staying = false) {
    switcher->session().open(action, holding, staying ? Staying::open : Staying::untilReleased, std::nullopt);
    settle();
    ASSERT_TRUE(switcher->session().isActive()) << "the session did not begin";
  }
  /// Focuses the display holding the tile of `pid` with the most windows and selects it.
  std::string selectTileOf(std::int32_t pid) {
    SwitcherModel& model = switcher->model();
    std::string best;
    int bestDisplay = -1;
    std::size_t most = 0;
    for (int d = 0; model.display(d); ++d) {
      for (const Cluster& c : model.display(d)->clusters()) {
        if (c.screen || !c.app() || c.app()->id != pid || c.windows.size() <= most) continue;
        best = c.id, bestDisplay = d, most = c.windows.size();
      }
    }
    if (bestDisplay >= 0) {
      model.focus(bestDisplay);
      model.select(best, bestDisplay);
    }
    return best;
  }
  std::string selected() const { return switcher->model().selectedID(switcher->model().focused()).value_or(""); }
  std::optional<int> pick() const {
    const auto& picks = switcher->model().windowPick();
    const auto found = picks.find(switcher->model().focused());
    return found == picks.end() ? std::nullopt : std::optional<int>(found->second);
  }

  Scene scene{Scene::Start::defaultScenario};
  std::shared_ptr<Switcher> switcher;
};

}  // namespace trelliq::tap
