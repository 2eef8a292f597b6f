#pragma once
// How a state change of a demonstration is shown: at once, or over a duration on a timing
// curve. Views sample `progress` to draw the in-between frames. Pure; any thread.

namespace trelliq {

struct Transition {
  enum class Curve { none, easeIn, easeOut, easeInOut };
  Curve curve = Curve::none;
  double duration = 0;

  static constexpr Transition immediate() { return {}; }
  static constexpr Transition easeOut(double seconds) { return {Curve::easeOut, seconds}; }
  static constexpr Transition easeInOut(double seconds) { return {Curve::easeInOut, seconds}; }

  /// How far the change has got `elapsed` seconds after it began, 0 to 1; 1 once the
  /// duration has passed, and at once for `none` or a duration of zero or less.
  double progress(double elapsed) const;
  friend bool operator==(const Transition&, const Transition&) = default;
};

}  // namespace trelliq
