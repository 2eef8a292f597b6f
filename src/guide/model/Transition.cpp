#include "guide/model/Transition.h"

#include <algorithm>

namespace trelliq {

double Transition::progress(double elapsed) const {
  if (curve == Curve::none || duration <= 0 || elapsed >= duration) return 1;
  const double t = std::clamp(elapsed / duration, 0.0, 1.0);
  // Cubic curves: close enough to the system's timing curves at these short durations.
  switch (curve) {
    case Curve::easeIn:
      return t * t * t;
    case Curve::easeOut:
      return 1 - (1 - t) * (1 - t) * (1 - t);
    case Curve::easeInOut:
      return t < 0.5 ? 4 * t * t * t : 1 - 4 * (1 - t) * (1 - t) * (1 - t);
    case Curve::none:
      break;
  }
  return 1;
}

}  // namespace trelliq
