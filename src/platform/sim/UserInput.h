#pragma once
// The simulated user's keyboard, mouse and trackpad. Each call makes the events the
// hardware would send and hands them to the event server at the HID point, stamped with
// the clock's time: a modifier key is a flags-changed event carrying every modifier held
// after the change (with the side-specific and non-coalesced bits real keyboards set),
// other keys carry the modifiers held, arrow and function keys add the numeric-pad and
// fn bits, the key text is typed by the server's layout, a move with a button held is a
// drag of that button. Nothing is delivered until the clock runs. Not thread-safe: one
// user at a time.

#include <cstdint>
#include <set>

#include "platform/CGEvent.h"
#include "platform/sim/EventServer.h"

namespace sim {

class UserInput {
 public:
  /// Key codes of the modifier keys.
  static constexpr CGKeyCode kCommand = 55, kRightCommand = 54, kShift = 56, kRightShift = 60, kOption = 58,
                             kRightOption = 61, kControl = 59, kRightControl = 62, kFn = 63, kCapsLock = 57;
  /// Side-specific bits of the modifier flags.
  static constexpr CGEventFlags kLeftControlBit = 0x1, kLeftShiftBit = 0x2, kRightShiftBit = 0x4, kLeftCommandBit = 0x8,
                                kRightCommandBit = 0x10, kLeftOptionBit = 0x20, kRightOptionBit = 0x40,
                                kRightControlBit = 0x2000;

  explicit UserInput(EventServer& events);

  // ---- Keyboard ----
  /// Presses or lets go of a modifier key (caps lock toggles on its press); other keys are ignored.
  void modifierDown(CGKeyCode key);
  void modifierUp(CGKeyCode key);
  /// A key going down (a held key's repeats with `repeat`) or up, with the modifiers held.
  void keyDown(CGKeyCode key, bool repeat = false);
  void keyUp(CGKeyCode key);
  /// Down and up.
  void press(CGKeyCode key);
  /// The flags the next key event will carry.
  CGEventFlags flags() const { return flags_; }

  // ---- Mouse ----
  /// Moves the pointer (a drag while a button is held).
  void moveTo(CGPoint location);
  void mouseDown(CGMouseButton button = kCGMouseButtonLeft, std::int64_t clickCount = 1);
  void mouseUp(CGMouseButton button = kCGMouseButtonLeft);
  /// Moves there, then down and up.
  void click(CGPoint location, CGMouseButton button = kCGMouseButtonLeft);

  // ---- Scrolling ----
  /// One notch of a classic wheel, in lines (down and across).
  void wheel(std::int32_t down, std::int32_t across = 0);
  /// One event of a trackpad scroll in points, with its phase and momentum phase (began 1,
  /// changed 2, ended 4, cancelled 8, may begin 128).
  void scroll(double down, double across, std::int64_t phase, std::int64_t momentumPhase = 0);

 private:
  CGEvent make(CGEventType type) const;
  void send(CGEvent event);
  void modifiersChanged(CGKeyCode key);
  static CGEventFlags bitsOf(CGKeyCode key);

  EventServer& events_;
  std::set<CGKeyCode> held_;  // modifier keys down
  bool capsLock_ = false;
  CGEventFlags flags_ = 0;
  CGPoint pointer_;
  std::uint32_t buttons_ = 0;
};

}  // namespace sim
