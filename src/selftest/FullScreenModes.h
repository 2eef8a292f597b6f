#pragma once
// The modes about another running copy's switcher on a full-screen Space: how soon its
// panel shows there after ⌘ and a quick ⌥, and what an arrow key inside an open
// switcher does over the next three seconds. This process goes to the Space itself and
// drives the copy with posted keys only. Main thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "selftest/Dispatch.h"

namespace trelliq {

class FullScreenModes final {
 public:
  FullScreenModes() = delete;

  /// This file's rows of the command-line table, in the table's order.
  static std::vector<SelfTestMode> modes();

  /// "--fullscreen-test": to the Space of `w1`, ⌘ with a quick ⌥, the time until the
  /// copy's panel shows (up to 2 s), its windows, then esc and back to `w2`'s Space.
  static int fullscreenTest(const std::string& out, std::uint32_t w1, std::uint32_t w2);

  /// Where "--fullscreen-key-test" keeps its pictures besides the report.
  struct Pictures {
    std::optional<std::string> framesDir;   // `FRAMES_DIR`: JPEG frames of 2 s per round
    std::optional<std::string> captureDir;  // `CAPTURE_DIR`: one screenshot per round
    static Pictures fromEnvironment();
  };
  /// "--fullscreen-key-test": for each of `directions` (split at ","; "up" is ↑, anything
  /// else ↓), brings `window` forward, opens the copy's switcher with ⌘⇥, presses the
  /// arrow and watches for 3 s which of its panels show and which Spaces.
  static int fullscreenKeyTest(const std::string& out, std::uint32_t window, const std::string& directions,
                               const Pictures& pictures);

  /// The Spaces with their tiles: "<label>[ (full screen)]: <name> [numbers], …" for
  /// every Space of every display, joined with " | ".
  static std::string layout();
};

}  // namespace trelliq
