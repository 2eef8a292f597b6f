#pragma once
// What the self-test modes do as a user would: keys posted at the HID tap as they would
// be typed, pointer moves, and bringing a window forward on its Space. Everything runs on
// the main thread and keeps no state between calls; the waits after each step are
// ModeClock's, so they move virtual time under a VirtualClock.

#include <cstdint>

#include "platform/CGEvent.h"

namespace trelliq {

/// The virtual key codes (US keyboard) and flag masks the modes type with.
namespace keys {
inline constexpr CGKeyCode command = 55, tab = 48, escape = 53, option = 58, shift = 56, fn = 63, grave = 50, one = 18,
                           two = 19, x = 7, down = 125, up = 126;
inline constexpr CGEventFlags commandFlag = 0x100000, commandOption = 0x180000, commandShift = 0x120000,
                              commandFn = 0x900000, arrows = 0xb00000;
/// Whether a posted key goes down or comes up, and whether it is typed as a modifier
/// (a flags change) or as an ordinary key.
enum class Stroke { press, release };
enum class KeyKind { plain, modifier };
inline constexpr Stroke press = Stroke::press, release = Stroke::release;
inline constexpr KeyKind plain = KeyKind::plain, modifier = KeyKind::modifier;
}  // namespace keys

class UserActions final {
 public:
  UserActions() = delete;

  // ---- Keys -----------------------------------------------------------------------------
  /// Posts one keyboard event at the HID tap with exactly `flags`, typed as flags-changed
  /// for a `keys::modifier`; then `pump(0.05)`. Nothing (and no wait) when no event can be made.
  static void key(CGKeyCode code, keys::Stroke stroke, CGEventFlags flags, keys::KeyKind kind);
  /// The same event without the run loop afterwards; false when none could be made.
  static bool post(CGKeyCode code, keys::Stroke stroke, CGEventFlags flags, keys::KeyKind kind);
  /// A key typed while ⌘ is held: down, then up, both ordinary key events with the ⌘ flag,
  /// each followed by 0.05 s of run loop.
  static void press(CGKeyCode code);
  /// A quick tap of a modifier while ⌘ is held: its flags-changed down with `flags`, then
  /// its release back to ⌘ alone, each followed by 0.05 s of run loop.
  static void tapUnderCommand(CGKeyCode code, CGEventFlags flags);
  /// ⌘ down, then ⇥ down and up under it: a switcher opens on the next app. Both openers
  /// first let another running copy take down the panel of its last session (run loop in
  /// 0.01 s slices, at most 5 s; no wait when none shows or no copy runs).
  static void commandTab();
  /// ⌘ down with a quick ⌥ tap under it: the Spaces session of another copy's switcher.
  static void commandOptionTap();
  /// esc down and up under ⌘, then ⌘ up: an open session ends without a switch.
  static void escapeAndLetGo();

  // ---- Pointer and windows --------------------------------------------------------------
  /// A mouse-moved event (no button) at `point`, global top-left, posted at the HID tap.
  /// False when none could be made.
  static bool movePointer(CGPoint point);
  /// Starts the jump to the first Space of `window` and runs the main run loop in 0.01 s
  /// slices until it is over. False, at once, when no jump was needed or possible.
  static bool jumpToSpaceOf(std::uint32_t window);
  /// Brings `window` forward the way a user would: to its Space first, then `activate`,
  /// then 1.0 s of run loop. Nothing at all when `WorldReader::owner` finds nothing.
  static void go(std::uint32_t window);

  // ---- Looking ----------------------------------------------------------------------------
  /// After the keys that open another running copy's switcher, looks as a user does once
  /// it shows: runs the main run loop in 0.01 s slices until the copy has a switcher panel
  /// (layer 101) on screen and not transparent, for at most 5 s, then `pause` seconds more,
  /// the time the look gives the copy to settle. Without another copy, exactly the pause.
  static void lookOnceCopysPanelShows(double pause);
};

}  // namespace trelliq
