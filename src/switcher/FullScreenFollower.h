#pragma once
// Taking a window into or out of full screen from the switcher and following the change
// until it lands: the app is asked (going to the window's Space first when it does not
// show), then polled every 0.2 s; once the window's Spaces agree, or 3 s passed, the
// change settles, and a wish that changed meanwhile is asked again. Main thread, except
// the asking of other apps, which runs on the "fullScreen" queue.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/Clock.h"
#include "switcher/LifeToken.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {

class FullScreenFollower {
 public:
  /// What the follower tells its owner.
  struct Hooks {
    /// Whether a session runs now.
    std::function<bool()> sessionActive;
    /// The change of `window` landed (or gave up) with the wish unchanged; `moves` counts
    /// the toggles so far, so later work can tell whether another one came.
    std::function<void(std::uint32_t window, int moves)> settled;
  };

  explicit FullScreenFollower(Hooks hooks);
  FullScreenFollower(const FullScreenFollower&) = delete;
  FullScreenFollower& operator=(const FullScreenFollower&) = delete;

  /// Records a toggle towards `change`.
  void wish(FullScreen change);
  /// Starts following `window` of `app` towards the wish: goes to its Space first when
  /// that does not show, then asks and polls. Call once per change (`pending` is none).
  void follow(const AppInfo& app, const WindowInfo& window);

  /// The window whose change is under way.
  std::optional<std::uint32_t> pending() const { return fullScreenPending; }
  /// The toggles so far.
  int moves() const { return fullScreenMoves; }
  /// The change last asked of the app.
  FullScreen asked() const { return fullScreenAsked; }

  /// Asks the app to take the window into / out of full screen; logs an AX error. Any thread.
  static void setFullScreen(FullScreen change, const AppInfo& app, const WindowInfo& window);
  /// Whether one of the window's Spaces is a full-screen Space.
  static bool onFullScreenSpace(std::uint32_t number);

 private:
  friend struct SwitcherPeer;

  /// Records what is asked and runs `setFullScreen` on the main queue (own window) or the
  /// "fullScreen" queue.
  void askFullScreen(FullScreen change, const AppInfo& app, const WindowInfo& window);
  /// One poll 0.2 s later; settles when the change landed or `until` passed, else polls again.
  void followFullScreen(std::uint32_t number, const AppInfo& app, const WindowInfo& window, double until);
  /// Ends a poll: done when the state asked is still the state wanted, else asks again
  /// with a fresh deadline.
  void settleFullScreen(FullScreen asked, std::uint32_t number, const AppInfo& app, const WindowInfo& window);
  /// The serial "fullScreen" queue (user-interactive).
  static platform::Executor& fullScreenQueue();

  Hooks hooks_;
  std::optional<std::uint32_t> fullScreenPending;
  FullScreen fullScreenAsked = FullScreen::leave, fullScreenWanted = FullScreen::leave;
  int fullScreenMoves = 0;
  /// Work handed to the main queue holds this weakly: it stops once the follower is gone.
  LifeToken life_;
};

}  // namespace trelliq
