#pragma once
// What every borderless window of the program's own over other programs' windows shares
// (the switcher's display panels, preview, ghost and backdrops): non-activating and
// transparent, never hidden when the program deactivates, on every Space beside
// full-screen windows. Main thread only.

#include <cmath>
#include <cstdint>

#include "platform/AppKitWindows.h"

namespace trelliq::panelwindow {

/// All Spaces, stationary, outside the window cycle, beside full-screen windows (337).
inline constexpr NSWindowCollectionBehavior behavior =
    NSWindowCollectionBehaviorCanJoinAllSpaces | NSWindowCollectionBehaviorStationary |
    NSWindowCollectionBehaviorIgnoresCycle | NSWindowCollectionBehaviorFullScreenAuxiliary;

// Their levels: backdrops under the ghost, the ghost under the panels (display panels
// and preview), all of them above ordinary windows.
inline constexpr NSWindowLevel backdropLevel = 2, ghostLevel = 3, panelLevel = 101;
/// Borderless, non-activating.
inline constexpr NSWindowStyleMask style = NSWindowStyleMaskNonactivatingPanel;

/// 0xAARRGGBB black at the given alpha.
inline std::uint32_t black(double alpha) { return static_cast<std::uint32_t>(std::lround(alpha * 255)) << 24; }

/// A window's content in its own coordinates (bottom-left origin).
inline CGRect contentBounds(const NSWindow& window) {
  const CGRect f = window.frame();
  return CGRect(0, 0, f.width(), f.height());
}

/// The settings every such window shares, at `level`.
inline void configure(NSWindow& window, NSWindowLevel level, bool shadow) {
  window.setLevel(level);
  window.setOpaque(false);
  window.setBackgroundColor(0);
  window.setHasShadow(shadow);
  window.setHidesOnDeactivate(false);
  window.setCollectionBehavior(behavior);
}

}  // namespace trelliq::panelwindow
