#pragma once
// The modes about which application and window are in front, all in the test's own
// process: raising a named application's window and coming back, raising the test's own
// window, comparing ways of bringing a window forward, and focusing the desktop. Each
// writes its report and answers the exit status, always 0. Main thread.

#include <cstdint>
#include <optional>
#include <string>

#include "selftest/Dispatch.h"

namespace trelliq {

class FocusModes final {
 public:
  FocusModes() = delete;

  /// This file's rows of the command-line table, in the table's order.
  static std::vector<SelfTestMode> modes();

  /// How "--activate-test" brings its first window forward (the `MODE` variable).
  enum class Raise { own, application, both, accessibility };

  /// "--focus-test": raises the first window of the app called `name` (not this process),
  /// then gives the front back to the app that had it; the front before, after and back.
  static int focusTest(const std::string& out, const std::string& name);
  /// "--self-focus-test": puts up a window of its own, brings it forward with `activate`
  /// and reports whether the process became active with that window key.
  static int selfFocusTest(const std::string& out);
  /// "--activate-test": brings `w1` forward the way `raise` says, samples the Spaces and
  /// the front three times, then goes to `w2`.
  static int activateTest(const std::string& out, std::uint32_t w1, std::uint32_t w2, Raise raise);
  /// "--desktop-focus-test": focuses the desktop of the display under the pointer and
  /// gives the front back afterwards.
  static int desktopFocusTest(const std::string& out);

  /// The `MODE` variable: "nsactivate", "both", "raise" exactly; anything else is `own`.
  static Raise raiseMode(const char* value);
};

}  // namespace trelliq
