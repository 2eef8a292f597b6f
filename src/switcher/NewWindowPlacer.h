#pragma once
// Brings the first window of an app opened from the switcher's tray onto the display the
// user chose: it looks for the app's first standard window every 0.1 s until a deadline
// and moves it once, centred in that screen's visible frame. A caseless namespace; main
// thread only; nothing is logged.

#include <cstdint>

#include "platform/Accessibility.h"
#include "platform/AppKit.h"

namespace trelliq {

class NewWindowPlacer final {
 public:
  NewWindowPlacer() = delete;

  /// Seconds between two looks.
  static constexpr double lookInterval = 0.1;
  /// The messaging timeout of the app element of each look.
  static constexpr double messagingTimeout = 0.2;
  /// The deadline a switch gives, in seconds after activation.
  static constexpr double defaultWait = 3.0;

  /// Returns at once; 0.1 s later looks at the app's "AXWindows" and hands the first with
  /// subrole "AXStandardWindow" to `move`; without one looks again while the time (seconds
  /// since 1970) is before `until`, then stops silently.
  static void bring(std::int32_t pid, const NSScreen& screen, double until);
  /// `bring` with a deadline `defaultWait` from now.
  static void bring(std::int32_t pid, const NSScreen& screen);

  /// Moves the window onto `screen` unless its centre already lies on it: centred in the
  /// visible frame, its top-left corner kept inside that frame; the size stays. A window
  /// whose position or size cannot be read, or a failed write, is left alone.
  static void move(const AXUIElementRef& window, const NSScreen& screen);
};

}  // namespace trelliq
