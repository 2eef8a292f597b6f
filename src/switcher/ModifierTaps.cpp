#include "switcher/ModifierTaps.h"

#include <cmath>

#include "platform/Clock.h"
#include "switcher/SwitcherTiming.h"

namespace trelliq {

std::optional<double>& ModifierTaps::pressedAt(Modifier modifier) {
  switch (modifier) {
    case Modifier::shift:
      return shiftPressedAt;
    case Modifier::control:
      return controlPressedAt;
    case Modifier::option:
      break;
  }
  return optionPressedAt;
}

void ModifierTaps::pressed(Modifier modifier) { pressedAt(modifier) = platform::clock().monotonicSeconds(); }

bool ModifierTaps::released(Modifier modifier) {
  std::optional<double>& at = pressedAt(modifier);
  if (!at) return false;
  // Whole microseconds keep "exactly 0.4 s" from rounding into a tap.
  const long long micros = std::llround((platform::clock().monotonicSeconds() - *at) * 1e6);
  at.reset();
  return micros < std::llround(SwitcherTiming::tapSeconds * 1e6);
}

void ModifierTaps::forget(Modifier modifier) { pressedAt(modifier).reset(); }

void ModifierTaps::forgetAll() {
  optionPressedAt.reset();
  controlPressedAt.reset();
  shiftPressedAt.reset();
}

}  // namespace trelliq
