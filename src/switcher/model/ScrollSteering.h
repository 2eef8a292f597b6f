#pragma once
// Scrolling as steering while the switcher is open: a sideways scroll steps left or right
// like the arrow keys, a vertical one moves between the tile row and the tray row. A
// classic wheel steps once per event; trackpads are smoothed, given a dead zone and an
// axis lock, and their momentum never steps. It keeps the small state of one gesture and
// hands its steps to a sink; the event tap owns one and feeds it from its thread only.

#include <cstdint>
#include <functional>
#include <optional>

namespace trelliq {

/// The fields of one scroll-wheel event the steering reads.
struct ScrollEvent {
  /// Scroll and momentum phase of a trackpad gesture (0 for a wheel).
  std::int64_t phase = 0;
  std::int64_t momentum = 0;
  bool continuous = false;
  /// Whole lines of a classic wheel.
  double lineAcross = 0, lineDown = 0;
  /// Points of a continuous device.
  double pointAcross = 0, pointDown = 0;
};

class ScrollSteering {
 public:
  // Points of scroll delta, except the factors.
  /// Weight of a new delta in the smoothing.
  static constexpr double scrollSmoothing = 0.4;
  /// Movement before an axis is chosen; also the first sideways step.
  static constexpr double scrollSettle = 8;
  /// A sideways gesture stays sideways while |down| ≤ rowSwitch × |across|.
  static constexpr double rowSwitch = 2.5;
  /// A vertical gesture turns sideways when scrollSwitch × |down| < |across|.
  static constexpr double scrollSwitch = 1.5;
  /// Travel for the first row step, and for every later step on either axis.
  static constexpr double rowSettle = 30, scrollStep = 50;

  /// One step: sideways (+1 right, −1 left) or between the rows (+1 down, −1 up).
  struct Step {
    enum class Axis { sideways, rows };
    Axis axis = Axis::sideways;
    int direction = 1;
    friend bool operator==(const Step&, const Step&) = default;
  };

  /// Takes one event while the switcher is `open` (or not); calls `step` for every step it
  /// makes. True swallows the event. `naturalScrolling` is asked only when the event can
  /// step (a reversed setting reverses every direction).
  bool scrolled(const ScrollEvent& event, bool open, const std::function<bool()>& naturalScrolling,
                const std::function<void(Step)>& step);
  /// Forgets the gesture but not whether it began in the open switcher.
  void resetScroll();

 private:
  bool lineSteps(const ScrollEvent& event, double sign, const std::function<void(Step)>& step) const;
  bool pointSteps(const ScrollEvent& event, double sign, const std::function<void(Step)>& step);
  /// The axis this event goes along; none while the gesture is still in the dead zone.
  std::optional<bool> axisOf(double across, double down);

  double scrollAcross = 0, scrollDown = 0, scrollStart = 0;
  std::optional<bool> scrollSideways;
  double scrollTravel = 0;
  bool scrollFresh = true;
  /// The gesture began while the switcher was open, so its momentum is swallowed even
  /// after the switcher closed.
  bool scrollOurs = false;
};

}  // namespace trelliq
