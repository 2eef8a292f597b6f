#pragma once
// "--missing-test": whether another running copy's panels appear, and on which Spaces,
// when the user moves from an ordinary window into a full-screen one and back. This
// process brings windows forward itself and drives the copy with posted keys and
// pointer moves only; it logs every window of the copy, ordered out and off-Space ones
// included, and photographs the displays once per scenario. Main thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Geometry.h"
#include "selftest/Dispatch.h"

namespace trelliq {

class MissingMode final {
 public:
  MissingMode() = delete;

  /// This file's rows of the command-line table, in the table's order.
  static std::vector<SelfTestMode> modes();

  /// How the mode moves into the full-screen window.
  enum class Move { direct, keys, tab };

  /// Runs the scenarios and writes "<dir>/log.txt" and "<dir>/<scenario>.png": from `w2`
  /// into `w1` the way `move` says, with the pointer first put at `pointer` when given.
  static int run(const std::string& dir, std::uint32_t w1, std::uint32_t w2, Move move, std::optional<CGPoint> pointer);

  /// The `how` argument: "keys" and "tab" exactly; anything else, or none, is direct.
  static Move move(const std::optional<std::string>& how);
  /// `POINTER`: exactly two decimals separated by "," (empty pieces dropped); else nothing.
  static std::optional<CGPoint> pointer(const char* value);

  /// One line per window of the copy, in list order (all windows, every Space):
  /// "  <n> layer <layer> <x>,<y> <w>x<h> alpha <alpha> <ON SCREEN|off> ordered=<bool> spaces <[…]>".
  static std::vector<std::string> copyWindows();
};

}  // namespace trelliq
