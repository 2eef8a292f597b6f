#pragma once
// The last known frames of windows, kept in memory so that a window that has just
// entered or left full screen can be drawn where it was or will be before the window
// server reports its new place. Frames are in window-server coordinates (top-left
// origin). Empty at launch (for each installed system), never persisted. Main thread only.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "platform/AppKit.h"
#include "platform/Geometry.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {

class DesktopFrames final {
 public:
  DesktopFrames() = delete;

  /// Learns from one window of a snapshot: an ordinary window that is not minimized or
  /// frozen has its frame remembered; a full-screen window lifts its freeze and replaces
  /// the full-screen frames its own frame overlaps. Windows without a number are ignored.
  static void note(const WindowInfo& window);

  /// Remembers the window's frame as it is now (when known) and protects it from `note`
  /// until a snapshot sees the window in full screen.
  static void freeze(const WindowInfo& window);

  /// The remembered frame of that window number; nothing when none is known.
  static std::optional<CGRect> frame(std::uint32_t window);

  /// Where a full-screen window on `screen` lies: the newest full-screen frame seen whose
  /// centre is on the screen and whose width is the screen's, else the screen's frame
  /// below its top safe-area inset.
  static CGRect fullScreenFrame(const NSScreen& screen);

  /// Keeps only the frames (and freezes) of the given window numbers, sorted; the
  /// full-screen frames stay.
  static void forget(const std::vector<std::uint32_t>& windows);

  // Read access to the stores, for the snapshot's callers and for tests.
  static const std::map<std::uint32_t, CGRect>& frames();
  static const std::set<std::uint32_t>& frozen();
  static const std::vector<CGRect>& fullScreenFrames();

  /// Empties everything, as at launch (a fresh system starts empty by itself; this is for
  /// starting over within one).
  static void reset();
};

}  // namespace trelliq
