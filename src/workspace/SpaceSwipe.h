#pragma once
// Bringing another Space of a display to the screen at once: synthetic Dock-swipe
// gestures are posted at the session tap, one whole swipe per Space to cross, and the
// window server is then asked every 0.01 s whether the target shows. After three instant
// jumps in a row that did not land, jumps slide instead (SpaceSlide). Main thread only;
// waiting re-posts a check to the main queue and never blocks.

#include <cstdint>
#include <functional>
#include <optional>

#include "platform/CGEvent.h"
#include "platform/Geometry.h"
#include "platform/PlistValue.h"

namespace trelliq {

class SpaceSwipe final {
 public:
  SpaceSwipe() = delete;

  /// Called exactly once, on the main thread, when a started jump ends: `landed` tells
  /// whether the target Space showed, so a caller never mistakes a give-up for success.
  using Done = std::function<void(bool landed)>;

  // Event fields written (or read by `augment`).
  static constexpr CGEventField eventType = 55;
  static constexpr CGEventField hidType = 110;
  static constexpr CGEventField swipeMask = 115;
  static constexpr CGEventField swipeMotion = 123;
  static constexpr CGEventField swipeProgress = 124;
  static constexpr CGEventField positionX = 125;
  static constexpr CGEventField positionY = 126;
  static constexpr CGEventField velocityX = 129;
  static constexpr CGEventField velocityY = 130;
  static constexpr CGEventField phase = 132;
  static constexpr CGEventField phaseAlias = 134;
  static constexpr CGEventField zoomDeltaY = 138;
  static constexpr CGEventField timestampAlias = 169;

  // Values of those fields.
  static constexpr std::int64_t gestureEvent = 29;
  static constexpr std::int64_t dockControlEvent = 30;
  static constexpr std::int64_t dockSwipe = 23;
  static constexpr std::int64_t began = 1;
  static constexpr std::int64_t changed = 2;
  static constexpr std::int64_t ended = 4;
  /// Instant jumps in a row that may miss before jumps slide instead.
  static constexpr int maxMisses = 3;

  /// Instant jumps in a row that did not land; 0 after one lands. Per process (a newly
  /// installed simulated system starts again at 0).
  static int misses();
  /// Whether the system wants the newer event layout (major version above 26); worked out once.
  static bool augmented();
  /// The global "com.apple.swipescrolldirection": true when set true or not set at all.
  /// Read afresh on every call.
  static bool naturalScrolling();

  /// Goes to the first Space holding `window`. False, and `done` never called, when the
  /// window lies on no Space, that Space already shows, or no distance to it is known;
  /// otherwise true, and `done` follows once (slides when asked or after three misses).
  static bool jumpToSpaceOf(std::uint32_t window, bool slide, Done done);
  /// The same for a Space given by its window-server id.
  static bool jump(std::int64_t space, bool slide, Done done);

  /// Posts the swipes and waits up to 0.5 s for the Space to show, counting a miss when it
  /// does not. Calls `done` at once when the Space already shows (landed) or no distance
  /// to it is known (not landed). Also the fallback of a slide that did not happen.
  static void swipe(std::int64_t space, Done done);

  /// Posts one phase (began, changed or ended) of a synthetic Dock swipe towards the right
  /// or the left, located at `at` when given. Nothing is posted when an event cannot be made.
  static void post(std::int64_t phase, bool right, std::optional<CGPoint> at);
  /// Posts one whole swipe: began, changed, ended.
  static void post(bool right, std::optional<CGPoint> at);

  /// The direction value of the newer layout: right is −1 under natural scrolling, +1 otherwise.
  static double sign(bool right);

  /// The companion event of the newer layout: the event's serialised form with the gesture
  /// record appended. Null when the event cannot be serialised in the expected form.
  static CGEventRef augment(const CGEventRef& event);
  /// The bytes behind `augment`: `serialised` (the event's form) followed by the gesture
  /// record built from `event`'s fields. Nothing when `serialised` is shorter than four
  /// bytes or does not start with 00 00 00 02.
  static std::optional<platform::PlistData> augmentedData(const platform::PlistData& serialised,
                                                          const CGEventRef& event);
  /// `x` as a signed 16.16 fixed-point value, truncated toward zero and clamped to 32 bits;
  /// a nonzero `x` never becomes 0 (it gives ±1). NaN gives 0, infinities the clamp ends.
  static std::int32_t fixed(double x);
};

}  // namespace trelliq
