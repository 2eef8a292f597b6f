#pragma once
// What the event tap asks of the main thread, as a plain value: the tap decides on its
// own thread and hands one of these to the main queue, where the controller carries it
// out for the session it was posted for. Pure; any thread.

#include <variant>

#include "platform/CGEvent.h"
#include "switcher/model/KeyDecision.h"

namespace trelliq {

namespace tapcommand {

/// ← / → or a sideways scroll, with the session kind the tap read at the step: forgets
/// the ⌃ press, then steps the app's windows, the window tiles sideways or the tiles.
struct StepAlong {
  int step = 0;
  bool appSession = false;
  bool clusterSession = false;
  friend bool operator==(const StepAlong&, const StepAlong&) = default;
};
/// ↓ / ↑ or a vertical scroll: forgets the ⌃ press, then moves between tile row and tray.
struct ToRow {
  bool down = false;
  friend bool operator==(const ToRow&, const ToRow&) = default;
};
/// A key went down with ⇧ held: no ⇧ tap any more.
struct ForgetShift {
  friend bool operator==(const ForgetShift&, const ForgetShift&) = default;
};
/// ⇧, ⌃ or ⌥ went down or up while open; `shift` tells whether ⇧ was held at an ⌥ release.
struct ModifierChange {
  enum class Key { shift, control, option };
  Key key = Key::shift;
  bool down = false;
  bool shift = false;
  friend bool operator==(const ModifierChange&, const ModifierChange&) = default;
};
/// fn alone: steer the next display.
struct NextDisplay {
  friend bool operator==(const NextDisplay&, const NextDisplay&) = default;
};
/// fn went down while open, with the flags now and before (for the log).
struct FnDown {
  CGEventFlags flags = 0;
  CGEventFlags before = 0;
  friend bool operator==(const FnDown&, const FnDown&) = default;
};

}  // namespace tapcommand

/// A key's command from the binding table, or one of the tap's own.
using TapCommand = std::variant<KeyCommand, tapcommand::StepAlong, tapcommand::ToRow, tapcommand::ForgetShift,
                                tapcommand::ModifierChange, tapcommand::NextDisplay, tapcommand::FnDown>;

}  // namespace trelliq
