#pragma once
// What a test may set in the switcher's collaborators that no user action sets directly:
// a state to start a scene from. Everything else is driven through the public operations.

#include <cstdint>
#include <optional>

#include "switcher/Switcher.h"

namespace trelliq {

struct SwitcherPeer {
  /// The ghost believes it shows `window` (as after following a selection).
  static void pretendGhostOf(Switcher& switcher, std::uint32_t window) { switcher.ghost().ghostWindow = window; }
  /// The ghost forgets its composed window pictures, as a fresh session would.
  static void forgetDestinations(Switcher& switcher) { switcher.ghost().destinations.clear(); }
  /// A full-screen change of `window` is under way (none: no change is).
  static void setPendingFullScreen(Switcher& switcher, std::optional<std::uint32_t> window) {
    switcher.fullScreen().fullScreenPending = window;
  }
  /// Asks the app of `window` for full screen as a toggle would, without following it.
  static void askFullScreen(Switcher& switcher, bool on, const AppInfo& app, const WindowInfo& window) {
    switcher.fullScreen().askFullScreen(on, app, window);
  }
};

}  // namespace trelliq
