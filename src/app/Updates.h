#pragma once
// Software updates. This machine has no update service and no update feed, so the
// controller only takes the "Check for Updates…" requests: it counts them and writes one
// log line for each, so the menu entry is real and observable without pretending that a
// check took place. Main thread.

#include <cstdint>
#include <memory>

#include "platform/AppKitMenus.h"

namespace trelliq {

class Updates final {
 public:
  static constexpr const char* menuTitle = "Check for Updates…";
  static constexpr const char* action = "checkForUpdates:";

  /// The updater of the process (of the current simulated Mac), made and started on first use.
  static Updates& controller();

  /// Takes one request: counts it and logs "updates: no update feed on this machine".
  void checkForUpdates();
  /// Requests taken so far.
  std::uint64_t checks() const { return checks_; }

  /// Appends "Check for Updates…" to `menu`, aimed at `controller()` (which this creates).
  static void addMenuItem(NSMenu& menu);

 private:
  static std::shared_ptr<Updates>& current();
  std::uint64_t checks_ = 0;
};

}  // namespace trelliq
