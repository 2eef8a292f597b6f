#pragma once
// Choosing the display a session opens on: the one the user was last working on, known
// from a click on its desktop, the last deliberate focus, or the display of the last
// session, before the one under the pointer. Every choice is a function of the inputs
// given here; the controller supplies its own memory. Main thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/AppKit.h"
#include "platform/Geometry.h"
#include "platform/PlistValue.h"
#include "workspace/Recency.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {

/// What the controller remembers and sees when a session starts. Times are seconds since
/// 1970; points are global screen coordinates with a bottom-left origin.
struct OpeningHints {
  struct DesktopClick {
    CGPoint point;
    double at = 0;
  };
  /// When the last session ended; none before the first.
  std::optional<double> lastSessionEnd;
  /// The id of the display that had the focus when the last session ended.
  std::optional<std::string> lastDisplayID;
  /// The latest click on the bare desktop.
  std::optional<DesktopClick> lastDesktopClick;
  /// The last deliberate focus change.
  std::optional<Recency::Focus> latestFocus;
  /// Where the pointer is now.
  CGPoint pointer;
};

class OpeningDisplay {
 public:
  OpeningDisplay() = delete;

  /// Index of the first display whose screen frame holds the point (left and top edges
  /// count, right and bottom do not); none when no display does.
  static std::optional<int> displayAt(CGPoint point, const Workspace& workspace);

  /// The display a session opens on: of a desktop click and a deliberate focus made since
  /// the last session, the later (the click on a tie); else the last session's display;
  /// else the one under the pointer; else 0.
  static int openingDisplay(const Workspace& workspace, const OpeningHints& hints);

  /// The display an app-windows session opens on: the one holding the most recently used
  /// app-window stop (the earlier display on a tie); `openingDisplay` when none was used.
  /// Stamps come from `recency`.
  static int appDisplay(const Workspace& workspace, const OpeningHints& hints, const Recency& recency);

  /// Whether a click at `point` landed on the bare desktop rather than the menu bar, the
  /// Dock or a window. `windowList` is the on-screen window list without desktop
  /// elements; a list that could not be read (none) hides nothing, so the answer is then
  /// true for any point inside a screen's visible frame.
  static bool isOnDesktop(CGPoint point, const std::vector<NSScreen>& screens,
                          const std::optional<platform::PlistArray>& windowList);
  /// The same, reading the screens and the window list now.
  static bool isOnDesktop(CGPoint point);
};

}  // namespace trelliq
