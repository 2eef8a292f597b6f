#pragma once
// Bringing another Space to the screen with the system's own slide: a tiny invisible
// panel of the program's is put on the target Space and given the keyboard focus, and
// the window server slides to it. None of the user's windows moves. When the Space does
// not show within 1.5 s the slide gives way to the instant jump of SpaceSwipe. Main
// thread only; waiting re-posts a check to the main queue.

#include <cstdint>
#include <memory>

#include "platform/AppKit.h"
#include "platform/AppKitWindows.h"
#include "workspace/SpaceSwipe.h"

namespace trelliq {

class SpaceSlide final {
 public:
  SpaceSlide() = delete;

  /// Slides to the Space and calls `done` exactly once on the main thread: with true when
  /// the Space shows; after a slide that did not happen, through the fallback swipe (which
  /// reports whether it landed). Without the private move function, the connection, the
  /// Space's screen or a distance, the swipe is used at once and nothing is logged.
  static void go(std::int64_t space, SpaceSwipe::Done done);

  /// The panel of one slide: 2 × 2 points at the centre of `screen`, borderless and
  /// non-activating, clear, shadowless, ignoring the mouse, staying on deactivation. Not
  /// ordered in.
  static std::unique_ptr<NSPanel> makeWindow(const NSScreen& screen);
};

}  // namespace trelliq
