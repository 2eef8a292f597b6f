#pragma once
// The timing functions the panels animate with: the four standard curves (the Béziers
// shared with every other animation, switcher/model/TimingCurves.h), the damped spring, and the name label's settle (a
// short grow and a spring back). Pure functions of time; any thread.

#include "switcher/model/ModelChange.h"

namespace trelliq::views {

/// The eased progress (0 to 1) of `curve` at linear progress `t`; `t` is clamped to [0, 1].
double ease(Animation::Curve curve, double t);

/// A spring released at rest from 0 towards 1: its position after `t` seconds for a spring
/// whose perceptual duration is `duration` and whose `bounce` is 0 (critically damped) to
/// below 1. Exactly 1 from `duration` on, so a keyframe built on it ends where it should.
double spring(double t, double duration, double bounce);

/// The settle's scale factor `t` seconds after it started: 1 → 1.06 over 0.12 s (cubic),
/// then back to 1 over 0.5 s on a spring of bounce 0.3; 1 before 0 and after the end.
double settleScale(double t);

/// How long the settle runs, in seconds.
inline constexpr double kSettleDuration = 0.12 + 0.5;

}  // namespace trelliq::views
