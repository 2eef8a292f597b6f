#pragma once
// The panels' self-check after a session shows: one log entry on whether every display's
// panel is on screen, uncovered and framed to its screen, with its Spaces, its glass and
// the windows above it, so a report of a missing panel says why. Main thread only.

#include <optional>
#include <string>

#include "platform/AppKitWindows.h"
#include "switcher/DisplayPanels.h"
#include "switcher/model/SwitcherModel.h"

namespace trelliq {

class PanelSelfCheck final {
 public:
  PanelSelfCheck() = delete;

  /// The entry for the snapshot of `model` shown on `panels`; `preview` never counts as
  /// covering a panel. None when the system lists no screen. Takes a screenshot when
  /// diagnostics keep them.
  static std::optional<std::string> entry(const SwitcherModel& model, const DisplayPanels& panels,
                                          const NSWindow& preview);
};

}  // namespace trelliq
