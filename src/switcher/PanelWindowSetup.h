#pragma once
// What every window of the switcher's own shares (display panels, preview, ghost,
// backdrops): borderless and non-activating, transparent, never hidden when the program
// deactivates, on every Space beside full-screen windows; and the hand-over of their
// picture layers to the installed views. Main thread only.

#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/AppKitWindows.h"
#include "switcher/PanelViews.h"
#include "switcher/Switcher.h"

namespace trelliq::panelwindow {

/// 0xAARRGGBB black at the given alpha.
inline std::uint32_t black(double alpha) { return static_cast<std::uint32_t>(std::lround(alpha * 255)) << 24; }

/// A window's content in its own coordinates (bottom-left origin).
inline CGRect contentBounds(const NSWindow& window) {
  const CGRect f = window.frame();
  return CGRect(0, 0, f.width(), f.height());
}

/// The settings every switcher-owned window shares, at `level`.
inline void configure(NSWindow& window, NSWindowLevel level, bool shadow) {
  window.setLevel(level);
  window.setOpaque(false);
  window.setBackgroundColor(0);
  window.setHasShadow(shadow);
  window.setHidesOnDeactivate(false);
  window.setCollectionBehavior(Switcher::panelBehavior);
}

/// Hands the layers (bottom to top) to the installed views; nothing without views.
inline void host(NSWindow& window, const std::vector<Layer*>& layers) {
  if (PanelViews* views = PanelViews::installed()) views->host(window, layers);
}

}  // namespace trelliq::panelwindow
