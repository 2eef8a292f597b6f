#pragma once
// "--windowless-test": the switcher of this process opened on a snapshot whose desktops
// show no app windows and whose tray of windowless apps is topped up, then steered through
// a fixed series of steps by calling its model directly. After each step one line says
// what letting go would do, and a screenshot is taken.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/AppKitWorkspace.h"
#include "selftest/Dispatch.h"
#include "switcher/Switcher.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {

class WindowlessMode final {
 public:
  WindowlessMode() = delete;

  /// This file's rows of the command-line table, in the table's order.
  static std::vector<SelfTestMode> modes();

  /// Which apps the test's tray holds.
  enum class Tray { topped, finderOnly };

  /// Opens the switcher, runs the steps, writes "<dir>/log.txt" and "<dir>/<step>.png".
  /// `keep` names a display left as loaded; `Tray::finderOnly` keeps only the file manager
  /// in the tray. Answers the exit status, always 0. Main thread.
  static int run(const std::string& dir, std::optional<std::int64_t> keep, Tray tray);

  /// The test snapshot made from `loaded`: every display but `keep` loses its full-screen
  /// Spaces and its app tiles (Spaces left without tiles go) and gets the first desktop
  /// tile of its current Space as its front tile; the tray is the loaded one (at most six)
  /// topped up towards four with the regular apps of `running` that are neither `own` nor
  /// in it already. With `Tray::finderOnly`, only the file manager stays in the tray.
  static Workspace snapshot(const Workspace& loaded, std::optional<std::int64_t> keep,
                            const std::vector<NSRunningApplication>& running, std::int32_t own, Tray trayApps);
  /// The display the switcher starts on: the first one that is not `keep`, else 0.
  static int focusedDisplay(std::size_t displays, std::optional<std::int64_t> keep);
  /// What a planned switch does, in words ("go to Quill window 2101", "open Easel on
  /// Built-in", "go to the desktop on space 5 of Built-in").
  static std::string describe(const Switcher::Switch& planned);
  /// The step's line: the steered display, whether on the tray, the selection and the plan.
  static std::string line(const std::string& name, const SwitcherModel& model,
                          const std::vector<Switcher::Switch>& plan);
};

}  // namespace trelliq
