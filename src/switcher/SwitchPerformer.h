#pragma once
// Planning what letting go of the switcher does, and doing it: raising a window (going to
// its Space first), opening a windowless app's first window on a screen, or showing a
// Space's desktop; each switch writes one line to the diagnostics log, and a window's
// Space is checked again shortly after, in case the jump did not land. Main thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/AppKit.h"
#include "switcher/LifeToken.h"
#include "switcher/model/SwitcherModel.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {

/// One planned activation.
struct Switch {
  /// Raise this window of this app.
  struct Window {
    AppInfo app;
    WindowInfo window;
  };
  /// Activate a windowless app and place its first new window on `screen`.
  struct Open {
    AppInfo app;
    NSScreen screen;
  };
  /// Show the desktop of Space `space` on `screen`.
  struct Desktop {
    std::int64_t space = 0;
    NSScreen screen;
  };
  std::variant<Window, Open, Desktop> what;
};

class SwitchPerformer {
 public:
  /// `sessionActive` answers whether a session runs now: the re-check waits for none.
  explicit SwitchPerformer(std::function<bool()> sessionActive);
  SwitchPerformer(const SwitchPerformer&) = delete;
  SwitchPerformer& operator=(const SwitchPerformer&) = delete;

  /// What letting go would do now: empty, or one switch. `openedOn` is the display the
  /// session opened on: nothing changed there means nothing to do. Reads the model only.
  static std::vector<Switch> plannedSwitches(const SwitcherModel& model, int openedOn);
  /// Performs the switches one after the other (after each jump's callback), then `done`
  /// exactly once. Logs one "switch to ..." line per switch. Once this performer is gone
  /// the switch under way still finishes and logs, and the rest is dropped.
  void perform(std::vector<Switch> switches, std::function<void()> done);
  /// Focuses the file manager's desktop window of `screen`; false when none fits.
  static bool focusDesktop(const NSScreen& screen);

 private:
  /// 0.4 s after a switch, while no session is active: jumps again when the front
  /// window's Space is not showing, at most `attempts` times.
  void makeSureShowing(const AppInfo& app, const WindowInfo& window, int attempts);
  /// Raises the window, writes the switch's line and, while `performer` lives (`life`),
  /// watches that the window's Space shows.
  static void windowStep(const std::weak_ptr<int>& life, SwitchPerformer* performer, const AppInfo& app,
                         const WindowInfo& window, const std::vector<std::int64_t>& before, std::uint64_t startNanos,
                         const std::string& how);

  std::function<bool()> sessionActive_;
  /// Work handed to the main queue holds this weakly: it stops once the performer is gone.
  LifeToken life_;
};

}  // namespace trelliq
