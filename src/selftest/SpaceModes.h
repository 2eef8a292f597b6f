#pragma once
// The modes about changing Spaces, all in the test's own process: timed jumps to the
// Spaces of two windows, the composed picture of a Space that is not on screen, a bare
// jump, and one synthetic Dock swipe each way. Each writes its report (except the bare
// jump) and answers the exit status, always 0. Main thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "selftest/Dispatch.h"

namespace trelliq {

class SpaceModes final {
 public:
  SpaceModes() = delete;

  /// This file's rows of the command-line table, in the table's order.
  static std::vector<SelfTestMode> modes();

  /// "--jump-test": for each of `windows` (those that parsed), a jump to its Space with
  /// the `hold` key (a modifier's key code) held meanwhile, reporting how long it took.
  static int jumpTest(const std::string& out, const std::vector<std::uint32_t>& windows,
                      std::optional<std::uint16_t> hold);
  /// "--destination-test": paints `space` as the switcher would show it off screen and
  /// reports its size, the time it took and the windows painted.
  static int destinationTest(const std::string& out, std::int64_t space);
  /// "--goto": jumps to the Space of `window` and waits until the jump is over.
  static int go(std::uint32_t window);
  /// "--swipe-test": one Dock swipe to the right, then one to the left, with the Spaces after each.
  static int swipeTest(const std::string& out);

  /// The `HOLD` key code: decimal, 0 to 65535; nothing otherwise.
  static std::optional<std::uint16_t> holdKey(const char* value);
  /// The flags a held modifier key sets: Shift, Option, Control, else Command.
  static std::uint64_t holdFlags(std::uint16_t code);
};

}  // namespace trelliq
