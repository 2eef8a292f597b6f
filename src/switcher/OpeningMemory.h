#pragma once
// What the switcher remembers between sessions to choose the display the next one opens
// on: the display that had the focus when the last session ended and when that was, and
// the latest click on the bare desktop. Main thread only.

#include <optional>
#include <string>

#include "platform/Geometry.h"
#include "switcher/model/OpeningDisplay.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {

class OpeningMemory {
 public:
  /// The memory as the opening-display rules take it, with the latest focus and the
  /// pointer as they are now.
  OpeningHints openingHints() const;
  /// The display a session opens on (click, focus, last display, pointer, 0).
  int openingDisplay(const Workspace& workspace) const;
  /// The display an app-windows session opens on.
  int appDisplay(const Workspace& workspace) const;
  /// A left or right click at a bottom-left global point while closed: remembered when it
  /// hit the bare desktop, whose display's current desktop then counts as used.
  void recordDesktopClick(CGPoint point, double at);
  /// A session ended now with `displayID` focused (none: no display was).
  void sessionEnded(std::optional<std::string> displayID);

  const std::optional<std::string>& displayAtEnd() const { return lastDisplayID; }
  const std::optional<double>& endedAt() const { return lastSessionEnd; }
  const std::optional<OpeningHints::DesktopClick>& desktopClick() const { return lastDesktopClick; }

 private:
  friend struct SwitcherPeer;

  std::optional<std::string> lastDisplayID;
  std::optional<double> lastSessionEnd;  // seconds since 1970, as every date here
  std::optional<OpeningHints::DesktopClick> lastDesktopClick;
};

}  // namespace trelliq
