#include "switcher/views/AnimationCurves.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace trelliq::views {

namespace {

// y of the cubic Bézier (0,0) (x1,y1) (x2,y2) (1,1) at the parameter whose x is `x`.
double bezier(double x1, double y1, double x2, double y2, double x) {
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

}  // namespace

double ease(Animation::Curve curve, double t) {
  t = std::clamp(t, 0.0, 1.0);
  if (t == 0 || t == 1) return t;
  switch (curve) {
    case Animation::Curve::linear:
      return t;
    case Animation::Curve::easeIn:
      return bezier(0.42, 0, 1, 1, t);
    case Animation::Curve::easeOut:
      return bezier(0, 0, 0.58, 1, t);
    case Animation::Curve::easeInOut:
      return bezier(0.42, 0, 0.58, 1, t);
  }
  return t;
}

double spring(double t, double duration, double bounce) {
  if (t <= 0) return 0;
  if (duration <= 0 || t >= duration) return 1;
  const double omega = 2 * std::numbers::pi / duration;
  const double zeta = std::clamp(1 - bounce, 0.01, 1.0);
  const double decay = std::exp(-zeta * omega * t);
  if (zeta >= 1) return 1 - decay * (1 + omega * t);
  const double damped = omega * std::sqrt(1 - zeta * zeta);
  return 1 - decay * (std::cos(damped * t) + zeta * omega / damped * std::sin(damped * t));
}

double settleScale(double t) {
  constexpr double grow = 0.12, peak = 1.06;
  if (t <= 0 || t >= kSettleDuration) return 1;
  if (t < grow) {
    const double u = t / grow;
    return 1 + (peak - 1) * u * u * (3 - 2 * u);  // cubic, at rest at both ends
  }
  return peak + (1 - peak) * spring(t - grow, 0.5, 0.3);
}

}  // namespace trelliq::views
