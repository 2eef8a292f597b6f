#pragma once
// The standard timing curves as cubic Béziers: one definition for everything that animates,
// the panels and the demonstrations of the guide and the Preferences window alike, so the
// same named curve moves the same way everywhere. Pure; any thread.

#include <algorithm>
#include <cmath>

namespace trelliq::timing {

/// y of the cubic Bézier (0,0) (x1,y1) (x2,y2) (1,1) at the parameter whose x is `x`; `x`
/// is clamped to [0, 1].
inline double cubicBezier(double x1, double y1, double x2, double y2, double x) {
  x = std::clamp(x, 0.0, 1.0);
  const auto coord = [](double a, double b, double u) {
    const double v = 1 - u;
    return 3 * v * v * u * a + 3 * v * u * u * b + u * u * u;
  };
  // x(u) is monotone for control x in [0, 1]: bisection converges without surprises.
  double lo = 0, hi = 1, u = x;
  for (int i = 0; i < 60; ++i) {
    const double at = coord(x1, x2, u);
    if (std::abs(at - x) < 1e-9) break;
    (at < x ? lo : hi) = u;
    u = (lo + hi) / 2;
  }
  return coord(y1, y2, u);
}

inline double easeIn(double t) { return cubicBezier(0.42, 0, 1, 1, t); }
inline double easeOut(double t) { return cubicBezier(0, 0, 0.58, 1, t); }
inline double easeInOut(double t) { return cubicBezier(0.42, 0, 0.58, 1, t); }

}  // namespace trelliq::timing
