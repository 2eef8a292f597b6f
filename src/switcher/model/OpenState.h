#pragma once
// The values by which the tap thread decides, without waiting for the main thread, whether
// an event belongs to the switcher. Plain values; whoever holds them guards them.

#include <cstdint>

#include "platform/CGEvent.h"
#include "platform/Geometry.h"

namespace trelliq {

/// A screen area (bottom-left screen coordinates) where clicks reach the panels
/// (`passes`) or are swallowed.
struct ClickTarget {
  CGRect rect;
  bool passes = true;
  friend bool operator==(const ClickTarget&, const ClickTarget&) = default;
};

/// One consistent read of the values both threads use.
struct OpenState {
  bool open = false;
  bool staysOpen = false;
  bool renaming = false;
  bool tapStopped = false;
  /// The opening that owns `open` (0: none yet).
  std::uint64_t generation = 0;
  /// Modifiers whose release ends the session.
  CGEventFlags holding = kCGEventFlagMaskCommand;
  bool clusterSession = false;
  bool appSession = false;
};

}  // namespace trelliq
