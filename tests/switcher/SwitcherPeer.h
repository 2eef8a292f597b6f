#pragma once
// What a test may set in the switcher's collaborators that no user action sets directly:
// a state to start a scene from. Everything else is driven through the public operations.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "switcher/Switcher.h"

namespace trelliq {

struct SwitcherPeer {
  /// A session runs (or not) as far as the controller's main-thread work can tell, with no
  /// tap, panels or timers behind it.
  static void setActive(Switcher& switcher, bool active) { switcher.session().active = active; }
  /// The app `pid` is watched for quitting through `watch`.
  static void watchQuit(Switcher& switcher, std::int32_t pid, NSKeyValueObservation watch) {
    switcher.actions().quitWatches[pid] = std::move(watch);
  }
  /// The session opened on display `display`.
  static void setOpenedOn(Switcher& switcher, int display) { switcher.session().openedOn = display; }
  /// The ghost believes it shows `window` (as after following a selection).
  static void pretendGhostOf(Switcher& switcher, std::uint32_t window) { switcher.ghost().ghostWindow = window; }
  /// The ghost forgets its composed window pictures, as a fresh session would.
  static void forgetDestinations(Switcher& switcher) { switcher.ghost().destinations.clear(); }
  /// The last session ended with the display `id` focused.
  static void setLastDisplay(Switcher& switcher, std::string id) { switcher.memory().lastDisplayID = std::move(id); }
  /// A full-screen change of `window` is under way (none: no change is).
  static void setPendingFullScreen(Switcher& switcher, std::optional<std::uint32_t> window) {
    switcher.fullScreen().fullScreenPending = window;
  }
  /// Asks the app of `window` for full screen as a toggle would, without following it.
  static void askFullScreen(Switcher& switcher, FullScreen change, const AppInfo& app, const WindowInfo& window) {
    switcher.fullScreen().askFullScreen(change, app, window);
  }
};

}  // namespace trelliq
