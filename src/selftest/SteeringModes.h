#pragma once
// The modes that open another running copy's switcher with ⌘⇥ and watch what it shows:
// how many panels appear over time and what the number keys and ⌥ do to them, the
// pictures of a fixed walk through its steering keys, and on which display it opens
// before and after the focus moves to another display. They act only through posted keys
// and read only the shared window list and display pictures. Main thread.

#include <optional>
#include <string>
#include <vector>

#include "platform/AppKit.h"
#include "selftest/Dispatch.h"

namespace trelliq {

class SteeringModes final {
 public:
  SteeringModes() = delete;

  /// This file's rows of the command-line table, in the table's order.
  static std::vector<SelfTestMode> modes();

  /// What "--tab-test" does besides counting: folders for its pictures and timeline, and
  /// how many further Tabs to press.
  struct TabExtras {
    std::optional<std::string> captureDir, numberDir, tapOptionDir, holdOptionDir;
    long long extraTabs = 0;

    /// From `CAPTURE_DIR`, `EXTRA_TABS`, `NUMBER_DIR`, `TAP_OPT_DIR` and `HOLD_OPT_DIR`; a
    /// count that is not a number, or is negative, presses no further Tab.
    static TabExtras fromEnvironment();
  };

  /// "--tab-test": holds ⌘, presses ⇥, counts the copy's panels six times 0.05 s apart,
  /// runs the extras, then lists the copy's panels and the Dock's windows and cancels.
  static int tabTest(const std::string& out, const TabExtras& extras);
  /// "--steer-test": ⌘⇥, fn, ⇥, ⇥, ⌥ tap, ` with a screenshot of every display after each,
  /// as "<dir>/step-<n>-<name>.png"; then esc and ⌘ up.
  static int steerTest(const std::string& dir);
  /// "--opening-test": which display the copy's switcher opens and is steered on, before
  /// and after an fn step, and again after a window of another display came forward.
  static int openingTest(const std::string& out);

  /// Which of `screens` carries the copy's first panel narrower than 1000 points:
  /// "display <index> (<name>)", "no card", or "?" when its centre is on none of them.
  static std::string steered(const std::vector<NSScreen>& screens);
};

}  // namespace trelliq
