#include "switcher/views/AnimationCurves.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "switcher/model/TimingCurves.h"

namespace trelliq::views {

double ease(Animation::Curve curve, double t) {
  t = std::clamp(t, 0.0, 1.0);
  if (t == 0 || t == 1) return t;
  switch (curve) {
    case Animation::Curve::linear:
      return t;
    case Animation::Curve::easeIn:
      return timing::easeIn(t);
    case Animation::Curve::easeOut:
      return timing::easeOut(t);
    case Animation::Curve::easeInOut:
      return timing::easeInOut(t);
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
