#pragma once
// The modes that repeat a gesture on another running copy's switcher and watch where the
// desk ends up: ⌘ held with a number of ⌥ taps, sampled at fixed times after ⌘ is let go;
// and ⌘⇥ with the pointer gliding over the copy's panel before ⌘ is let go. This process
// brings the starting window forward itself and drives the copy with posted keys and
// pointer moves only. Main thread.

#include <cstdint>
#include <string>

#include "selftest/Dispatch.h"

namespace trelliq {

class GestureModes final {
 public:
  GestureModes() = delete;

  /// This file's rows of the command-line table, in the table's order.
  static std::vector<SelfTestMode> modes();

  /// "--space-loop-test": `passes` times, from `window`: ⌘ down, `taps` ⌥ taps, ⌘ up, then
  /// the Spaces and the front app 0.3, 0.6, 1.0 and 2.0 s after the release.
  static int spaceLoopTest(const std::string& out, std::uint32_t window, std::int64_t taps, std::int64_t passes);
  /// "--hover-test": `window` forward, ⌘⇥, eleven pointer moves ending at (`x`, `y`), ⌘ up;
  /// reports the front app.
  static int hoverTest(const std::string& out, std::uint32_t window, double x, double y);
};

}  // namespace trelliq
