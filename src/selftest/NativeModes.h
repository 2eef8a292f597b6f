#pragma once
// "--native-test" and "--native-shot": open the system's own ⌘⇥ switcher with synthetic
// keys, then list and capture the windows it put up, or photograph the screens with it
// open. Both close it again (esc, then ⌘ up) and answer exit status 0. Main thread.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/PlistValue.h"
#include "selftest/Dispatch.h"

namespace trelliq {

class NativeModes final {
 public:
  NativeModes() = delete;

  /// This file's rows of the command-line table, in the table's order.
  static std::vector<SelfTestMode> modes();

  /// Writes "<dir>/native.txt" (one "window …" line per new Dock window, each followed by
  /// "  saved <w>x<h>" when its picture was written to "<dir>/native-<number>.png").
  static int nativeTest(const std::string& dir);
  /// Writes "<dir>/native-shot.png" through the per-display screenshot.
  static int nativeShot(const std::string& dir);

  /// The on-screen window-list entries owned by the Dock, front to back; [] when the list
  /// cannot be read.
  static std::vector<platform::PlistDictionary> dockWindows();
  /// "window <number> layer <layer> name '<name>' bounds (<x>, <y>, <w>, <h>)", with "?"
  /// for a missing layer, an empty name when it has none and a zero rectangle when the
  /// bounds are missing.
  static std::string describe(std::uint32_t number, const platform::PlistDictionary& entry);
};

}  // namespace trelliq
