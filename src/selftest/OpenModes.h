#pragma once
// The modes that open another running copy's switcher and record its windows: with ⌘ and
// a quick ⌥, with pictures of each panel taken straight from the window server; and with
// ⌘⇥ over several rounds, timing how soon a new window of a named owner appears. They act
// only through posted keys. Main thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/CGWindow.h"
#include "selftest/Dispatch.h"

namespace trelliq {

class OpenModes final {
 public:
  OpenModes() = delete;

  /// This file's rows of the command-line table, in the table's order.
  static std::vector<SelfTestMode> modes();

  /// What "--open-test" does besides its report (`NUMBER_DIR`, `FOCUS_BOTTOM`, `CAPTURE_DIR`).
  struct OpenExtras {
    std::optional<std::string> numberDir, captureDir;
    bool focusBottom = false;
    static OpenExtras fromEnvironment();
  };

  /// "--open-test": ⌘ with a quick ⌥ opens the copy's switcher; pictures and extra keys as
  /// `extras` says; reports the Spaces, the front app and the copy's windows; then cancels.
  static int openTest(const std::string& out, const OpenExtras& extras);
  /// "--appear-test": `rounds` times, ⌘⇥ and the milliseconds until another process's
  /// window of `owner` (above layer 0) appears that was not there before, up to 1.5 s.
  static int appearTest(const std::string& out, const std::string& owner, std::int64_t rounds);
  /// The rounds argument (an integer): 5 when absent, none when negative.
  static std::int64_t rounds(const std::optional<std::string>& argument);

  /// The copy's windows in the list with `option`: "layer <layer> on=<bool> spaces=<[…]>".
  static std::vector<std::string> copyWindows(CGWindowListOption option);
};

}  // namespace trelliq
