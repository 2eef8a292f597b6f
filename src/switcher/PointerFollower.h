#pragma once
// The pointer's part in steering while a session runs: every 1/30 s it looks where the
// pointer is and, when it moved onto another display, steers that display; an fn press
// is logged with the display it steered, and again 0.5 s later, so a report of fn
// steering the wrong display says what happened. Main thread only.

#include <functional>
#include <memory>
#include <optional>

#include "platform/CGEvent.h"
#include "platform/Clock.h"
#include "platform/Geometry.h"
#include "switcher/LifeToken.h"
#include "switcher/model/SwitcherModel.h"

namespace trelliq {

class PointerFollower {
 public:
  /// Steers `model`'s focus while `sessionActive` answers true.
  PointerFollower(SwitcherModel& model, std::function<bool()> sessionActive);
  ~PointerFollower();
  PointerFollower(const PointerFollower&) = delete;
  PointerFollower& operator=(const PointerFollower&) = delete;

  /// Starts the 1/30 s pointer check from where the pointer is now (replacing an old one).
  void trackPointer();
  /// Stops the check.
  void stop();
  /// One check: follows the pointer onto another display (logs after a recent fn).
  void pointerTick();
  /// fn went down while open: logs and checks again 0.5 s later.
  void logFn(CGEventFlags flags, CGEventFlags before);

 private:
  SwitcherModel& model_;
  std::function<bool()> sessionActive_;
  platform::Timer pointerTimer;
  std::optional<CGPoint> lastPointerLocation;
  std::optional<double> lastFn;  // seconds since 1970
  /// Work handed to the main queue holds this weakly: it stops once the follower is gone.
  LifeToken life_;
};

}  // namespace trelliq
