#include "switcher/model/Metrics.h"

#include <algorithm>
#include <cmath>

namespace trelliq {

double Metrics::aspect(const DisplayGroup& display) {
  const CGRect frame = display.screen.frame();
  return frame.width() / std::max(frame.height(), 1.0);
}

CGSize Metrics::tile(double icon) { return {icon + 16, icon + 26}; }

CGSize Metrics::tile(const Cluster& cluster, const DisplayGroup& display, double icon) {
  if (!cluster.screen) return tile(icon);
  return {std::round(map(icon) * aspect(display)) + 16, icon + 26};
}

double Metrics::icon(const DisplayGroup& display, int tray) {
  const double width = display.screen.visibleFrame().width();
  double n = 0, d = 0;
  for (const SpaceGroup& group : display.spaces) {
    for (const Cluster& c : group.clusters) {
      n += 1;
      if (c.screen) d += 1;
    }
  }
  n = std::max(n, 1.0);
  const double g = std::max(static_cast<double>(display.spaces.size()), 1.0);
  const double a = aspect(display);
  const double t = std::max(tray, 1);

  const double room = 2 * inset + 2 * margin;
  const double separator = groupGap + 1;
  const double perTile = n - d + a * d;
  const double fromWidth =
      (width - room - separator * (g - 1) - tileGap * (n - g) - 2 * selectionPadding * n - dotsRoom * a * d) / perTile;
  const double fromTray = ((width - room - smallGap * (t - 1)) / t - 2 * smallPadding) / smallScale;
  // Every tile a whole-Space tile on a zero-width screen leaves nothing to divide by.
  if (!(perTile > 0) || !std::isfinite(fromWidth) || !std::isfinite(fromTray)) return minIcon;
  return std::floor(std::max(minIcon, std::min({maxIcon, fromWidth, fromTray})));
}

}  // namespace trelliq
