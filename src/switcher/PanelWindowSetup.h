#pragma once
// The switcher's own windows (display panels, preview, ghost, backdrops): the overlay
// settings they share, and the hand-over of their picture layers to the installed views.
// Main thread only.

#include <vector>

#include "ownwindows/OverlayPanel.h"
#include "switcher/PanelViews.h"

namespace trelliq::panelwindow {

/// Hands the layers (bottom to top) to the installed views; nothing without views.
inline void host(NSWindow& window, const std::vector<Layer*>& layers) {
  if (PanelViews* views = PanelViews::installed()) views->host(window, layers);
}

}  // namespace trelliq::panelwindow
