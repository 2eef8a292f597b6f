#pragma once
// The modes about the ⌘⇥ hand-over between another running copy and the system: whether
// the system's own switcher stays away while the copy's is open, and where two quick ⌘⇥
// (let go before any panel shows) leave the front app. They act only through posted
// keys. Main thread.

#include <string>

#include "selftest/Dispatch.h"

namespace trelliq {

class HandoffModes final {
 public:
  HandoffModes() = delete;

  /// This file's rows of the command-line table, in the table's order.
  static std::vector<SelfTestMode> modes();

  /// "--handoff-test": ⌘ with a quick ⌥, the copy's panels; then ⇥ under ⌘, the copy's
  /// panels and the Dock's windows at layer 20 (the system switcher's overlay and its bar).
  static int handoffTest(const std::string& out);
  /// "--toggle-test": the front app at the start, after one quick ⌘⇥ and after another.
  static int toggleTest(const std::string& out);
};

}  // namespace trelliq
