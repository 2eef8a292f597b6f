#pragma once
// Quick presses of ⇧, ⌃ and ⌥ inside an open session: when each went down, and
// whether its release came soon enough to count as a tap. Intervals are taken
// on the monotonic clock, since the wall clock may jump between a press and its
// release. Main thread.

#include <optional>

namespace trelliq {

class ModifierTaps {
 public:
  enum class Modifier { shift, control, option };

  /// Remembers when `modifier` went down.
  void pressed(Modifier modifier);
  /// Forgets the press and answers whether it was a tap: released less than
  /// `SwitcherTiming::tapSeconds` after it went down.
  bool released(Modifier modifier);
  /// Forgets the press of `modifier`: something in between spoiled it.
  void forget(Modifier modifier);
  /// Forgets every press (the session ended).
  void forgetAll();

 private:
  std::optional<double>& pressedAt(Modifier modifier);

  std::optional<double> optionPressedAt, controlPressedAt, shiftPressedAt;
};

}  // namespace trelliq
