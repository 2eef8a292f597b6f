#pragma once
// Where the simulated displays stand in the screen's window: their arrangement scaled to
// fit, and the way back from a point of the window to a point of the desk. Plain values,
// no toolkit.

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/Geometry.h"
#include "platform/SystemPort.h"

namespace screen {

/// One display: its number and its frame in global top-left-origin points.
struct DisplayPlace {
  std::uint32_t id = 0;
  CGRect frame;
  friend bool operator==(const DisplayPlace&, const DisplayPlace&) = default;
};

/// One display as drawn: `frame` on the desk, `area` in the window's pixels.
struct Placed {
  std::uint32_t id = 0;
  CGRect frame;
  CGRect area;
};

struct Layout {
  double scale = 0;  // window pixels per point; 0 when nothing fits
  std::vector<Placed> displays;
};

/// The displays' frames turned from bottom-left-origin (the first one's height is the
/// flip line, as the platform does) into top-left-origin points.
std::vector<DisplayPlace> topLeftFrames(const std::vector<platform::ScreenDescription>& screens);

/// Fits the arrangement into `width` × `height` pixels less `margin` on every side,
/// centred, keeping proportions. A window too small for anything gives scale 0 and no areas.
Layout fit(const std::vector<DisplayPlace>& displays, double width, double height, double margin);

/// The desk's point under the window's point (`x`, `y`), or nothing off every display.
/// Within `cornerReach` pixels of a display's corner, the corner itself: a hand on a
/// scaled-down screen cannot hit the one point a hot corner needs.
std::optional<CGPoint> toDesk(const Layout& layout, double x, double y, double cornerReach);

}  // namespace screen
