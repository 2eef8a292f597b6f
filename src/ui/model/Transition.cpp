#include "ui/model/Transition.h"

#include <algorithm>

#include "switcher/model/TimingCurves.h"

namespace trelliq {

double Transition::progress(double elapsed) const {
  if (curve == Curve::none || duration <= 0 || elapsed >= duration) return 1;
  const double t = std::clamp(elapsed / duration, 0.0, 1.0);
  // The same curves as the switcher's panels.
  switch (curve) {
    case Curve::easeIn:
      return timing::easeIn(t);
    case Curve::easeOut:
      return timing::easeOut(t);
    case Curve::easeInOut:
      return timing::easeInOut(t);
    case Curve::none:
      break;
  }
  return 1;
}

}  // namespace trelliq
