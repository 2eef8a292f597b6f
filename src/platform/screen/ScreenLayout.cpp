#include "platform/screen/ScreenLayout.h"

#include <algorithm>
#include <cmath>

namespace screen {

std::vector<DisplayPlace> topLeftFrames(const std::vector<platform::ScreenDescription>& screens) {
  std::vector<DisplayPlace> result;
  if (screens.empty()) return result;
  const double flip = screens.front().frame.maxY();
  for (const auto& s : screens) {
    const CGRect& f = s.frame;
    result.push_back({s.displayID, CGRect(f.minX(), flip - f.maxY(), f.width(), f.height())});
  }
  return result;
}

Layout fit(const std::vector<DisplayPlace>& displays, double width, double height, double margin) {
  Layout layout;
  if (displays.empty()) return layout;
  double minX = displays.front().frame.minX(), minY = displays.front().frame.minY();
  double maxX = displays.front().frame.maxX(), maxY = displays.front().frame.maxY();
  for (const auto& d : displays) {
    minX = std::min(minX, d.frame.minX());
    minY = std::min(minY, d.frame.minY());
    maxX = std::max(maxX, d.frame.maxX());
    maxY = std::max(maxY, d.frame.maxY());
  }
  const double spanX = maxX - minX, spanY = maxY - minY;
  const double roomX = width - 2 * margin, roomY = height - 2 * margin;
  if (!(spanX > 0) || !(spanY > 0) || !(roomX >= 1) || !(roomY >= 1)) return layout;
  layout.scale = std::min(roomX / spanX, roomY / spanY);
  const double left = (width - spanX * layout.scale) / 2, top = (height - spanY * layout.scale) / 2;
  for (const auto& d : displays) {
    const CGRect area(left + (d.frame.minX() - minX) * layout.scale, top + (d.frame.minY() - minY) * layout.scale,
                      d.frame.width() * layout.scale, d.frame.height() * layout.scale);
    layout.displays.push_back({d.id, d.frame, area});
  }
  return layout;
}

std::optional<CGPoint> toDesk(const Layout& layout, double x, double y, double cornerReach) {
  if (!(layout.scale > 0)) return std::nullopt;
  for (const Placed& p : layout.displays) {
    const CGRect& a = p.area;
    if (x < a.minX() || x >= a.maxX() || y < a.minY() || y >= a.maxY()) continue;
    const bool left = x - a.minX() < cornerReach, right = a.maxX() - x <= cornerReach;
    const bool top = y - a.minY() < cornerReach, bottom = a.maxY() - y <= cornerReach;
    double px = p.frame.minX() + (x - a.minX()) / layout.scale;
    double py = p.frame.minY() + (y - a.minY()) / layout.scale;
    if ((left || right) && (top || bottom)) {
      // The last point inside the display, not the first one past it.
      px = left ? p.frame.minX() : p.frame.maxX() - 1;
      py = top ? p.frame.minY() : p.frame.maxY() - 1;
    }
    px = std::clamp(px, p.frame.minX(), p.frame.maxX() - 1);
    py = std::clamp(py, p.frame.minY(), p.frame.maxY() - 1);
    return CGPoint{px, py};
  }
  return std::nullopt;
}

}  // namespace screen
