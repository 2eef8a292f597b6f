#pragma once
// Where a screen lies in the window server's global space (origin at the top left of
// the first screen, y growing downwards). Screens report their frames with the origin at
// the bottom left; the panel views and the workspace snapshot both need the other form.

#include "platform/AppKit.h"
#include "platform/Geometry.h"

namespace trelliq {

class ScreenGeometry final {
 public:
  ScreenGeometry() = delete;

  /// `frame` (bottom-left origin) turned around the first screen's frame `first`:
  /// (minX, first.maxY - frame.maxY, width, height). Pure.
  static CGRect windowServerFrame(const CGRect& frame, const CGRect& first);

  /// The screen's frame in window-server coordinates, measured against the first of
  /// `NSScreen::screens()`, or against the screen itself when there is no screen. Main thread.
  static CGRect windowServerFrame(const NSScreen& screen);

  /// The maxY of the first screen's frame; 0 without screens.
  static double primaryTop();
};

}  // namespace trelliq
