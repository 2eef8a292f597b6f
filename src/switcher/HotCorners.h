#pragma once
// Opening the switcher by pushing the pointer into a screen corner the user chose. A
// listen-only tap on the main run loop reports every pointer move; once the pointer has
// rested within `reach` of a chosen corner for `dwell`, the corner fires and asks the
// switcher to open on that screen. A corner that fired stays quiet until the pointer has
// left every chosen corner, so resting there, or sliding into another corner, opens
// nothing more. The chosen corners are read afresh at every move; corners the Dock uses
// for its own hot corners count as well. Everything runs on the main thread.

#include <functional>
#include <memory>
#include <optional>
#include <set>

#include "platform/AppKit.h"
#include "platform/CGEvent.h"
#include "platform/Clock.h"
#include "settings/Settings.h"
#include "switcher/LifeToken.h"

namespace trelliq {

class HotCorners {
 public:
  /// What a fired corner does with its screen.
  using Open = std::function<void(const NSScreen& screen)>;

  /// How long the pointer must stay in a corner, in seconds.
  static constexpr double dwell = 0.15;
  /// How close to the corner point counts as in the corner, on each axis, in points.
  static constexpr double reach = 3.0;

  /// Without `open`, a fired corner calls `Switcher::shared().openFromCorner`.
  explicit HotCorners(Open open = {});
  /// Stops first.
  ~HotCorners();
  HotCorners(const HotCorners&) = delete;
  HotCorners& operator=(const HotCorners&) = delete;

  /// The corners of the switcher of the process.
  static HotCorners& shared();

  /// Creates and enables the pointer tap unless it exists. Without the permission to listen
  /// to input nothing happens (silently) until the next start.
  void start();
  /// Removes the tap, cancels a pending dwell check and re-arms.
  void stop();
  /// One pointer move (the tap's callback): starts the dwell in an armed corner, or re-arms
  /// and cancels the dwell outside every chosen corner.
  void moved();

  /// The first screen of `NSScreen::screens()` with one of `corners` within `reach` of
  /// `point` (bottom-left global); nothing when there is none.
  static std::optional<NSScreen> screen(CGPoint point, const std::set<Settings::HotCorner>& corners);

  bool isStarted() const { return tap_ != nullptr; }
  /// False from a firing until the pointer has left every chosen corner.
  bool isArmed() const { return armed_; }

 private:
  void check();

  Open open_;
  CFMachPortRef tap_;
  bool armed_ = true;
  platform::WorkItem pending_;
  // Callbacks already on the main queue hold this weakly and do nothing once it is gone.
  LifeToken life_;
};

}  // namespace trelliq
