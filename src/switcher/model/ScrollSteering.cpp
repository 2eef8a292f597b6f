#include "switcher/model/ScrollSteering.h"

#include <cmath>

namespace trelliq {
namespace {

// Scroll phases of a trackpad gesture.
constexpr std::int64_t kPhaseBegan = 1, kPhaseEnded = 4, kPhaseCancelled = 8, kPhaseMayBegin = 128;

using Axis = ScrollSteering::Step::Axis;

}  // namespace

void ScrollSteering::resetScroll() {
  scrollAcross = scrollDown = scrollStart = scrollTravel = 0;
  scrollSideways.reset();
  scrollFresh = true;
}

bool ScrollSteering::scrolled(const ScrollEvent& event, bool open, const std::function<bool()>& naturalScrolling,
                              const std::function<void(Step)>& step) {
  if (event.phase == kPhaseMayBegin || event.phase == kPhaseBegan) {
    resetScroll();
    scrollOurs = open;
  }
  // Momentum of a gesture that began in the switcher must not scroll what lies beneath.
  if (!open) return event.momentum != 0 && scrollOurs;
  if (event.momentum != 0) return true;
  const double sign = naturalScrolling() ? 1 : -1;
  return event.continuous ? pointSteps(event, sign, step) : lineSteps(event, sign, step);
}

bool ScrollSteering::lineSteps(const ScrollEvent& event, double sign, const std::function<void(Step)>& step) const {
  const double across = sign * event.lineAcross;
  const double down = sign * event.lineDown;
  if (across != 0) {
    step({Axis::sideways, across > 0 ? 1 : -1});
  } else if (down != 0) {
    step({Axis::rows, down > 0 ? 1 : -1});
  }
  return true;
}

std::optional<bool> ScrollSteering::axisOf(double across, double down) {
  scrollAcross += (across - scrollAcross) * scrollSmoothing;
  scrollDown += (down - scrollDown) * scrollSmoothing;
  const double a = std::abs(scrollAcross), d = std::abs(scrollDown);
  if (!scrollSideways) {
    scrollStart += std::abs(across) + std::abs(down);
    if (scrollStart < scrollSettle) return std::nullopt;
    return d <= a * rowSwitch;
  }
  return *scrollSideways ? d <= a * rowSwitch : d * scrollSwitch < a;
}

bool ScrollSteering::pointSteps(const ScrollEvent& event, double sign, const std::function<void(Step)>& step) {
  const double across = sign * event.pointAcross;
  const double down = sign * event.pointDown;
  const std::optional<bool> axis = axisOf(across, down);
  if (!axis) return true;
  const bool sideways = *axis;
  const double dominant = sideways ? scrollAcross : scrollDown;

  if (!scrollSideways || *scrollSideways != sideways) {
    scrollSideways = sideways;
    scrollTravel = 0;
    scrollFresh = true;
  } else if (scrollTravel != 0 && dominant != 0 && (scrollTravel > 0) != (dominant > 0)) {
    // Reversed: start the travel again; a reversed row step needs the first threshold again.
    scrollTravel = 0;
    if (!sideways) scrollFresh = true;
  }
  scrollTravel += sideways ? across : down;

  const double threshold = scrollFresh ? (sideways ? scrollSettle : rowSettle) : scrollStep;
  if (std::abs(scrollTravel) >= threshold) {
    while (true) {
      const int direction = scrollTravel > 0 ? 1 : -1;
      step({sideways ? Axis::sideways : Axis::rows, direction});
      if (scrollFresh) {
        scrollFresh = false;
        scrollTravel = 0;
        break;
      }
      scrollTravel -= direction * scrollStep;
      if (std::abs(scrollTravel) < scrollStep) break;
    }
  }
  if (event.phase == kPhaseEnded || event.phase == kPhaseCancelled) resetScroll();
  return true;
}

}  // namespace trelliq
