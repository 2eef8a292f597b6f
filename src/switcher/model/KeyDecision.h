#pragma once
// What a key press means to the switcher: opening a session, a step for the main thread,
// or nothing, and whether the key is consumed. The tap thread reads the event into a
// `KeyPress`, asks `decide` and carries the answer out; the rules themselves touch no
// state, so every binding can be tried without an event tap. Pure; any thread.

#include <optional>
#include <string>

#include "platform/CGEvent.h"
#include "switcher/model/OpenState.h"
#include "switcher/model/SessionAction.h"

namespace trelliq {

/// The keys the switcher binds (virtual key codes).
struct SwitcherKeys final {
  SwitcherKeys() = delete;
  static constexpr CGKeyCode tab = 48, grave = 50, returnKey = 36, enter = 76, escape = 53, left = 123, right = 124,
                             down = 125, up = 126;
};

/// The modifier bits the switcher's keys are read with, by short names.
namespace modifierbits {
inline constexpr CGEventFlags kShift = kCGEventFlagMaskShift;
inline constexpr CGEventFlags kControl = kCGEventFlagMaskControl;
inline constexpr CGEventFlags kOption = kCGEventFlagMaskAlternate;
inline constexpr CGEventFlags kCommand = kCGEventFlagMaskCommand;
}  // namespace modifierbits

/// The options the tap decides by, kept in memory: the tap never reads the defaults.
struct TapOptions {
  /// The window-tile modifier of the tile style (⌘ "windows", ⌥ "both", 0 "apps").
  CGEventFlags windowTileModifier = 0;
  bool windowTiles = false;  // the tile style is "windows"
  bool appWindows = false;
};

/// How a typed key counts while open: a digit 1–9 by numeric value, a letter (any
/// script), another number, or nothing.
struct TypedKey {
  bool letterOrNumber = false;
  std::optional<int> digit;  // 1–9 only
  std::u16string lowered;
};
/// Classifies `text`, the key's typed text. Pure.
TypedKey classify(const std::u16string& text);

/// One key-down as the tap reads it.
struct KeyPress {
  CGKeyCode key = 0;
  /// The event's own flags (a stays-open session's holding modifier is added by `decide`).
  CGEventFlags flags = 0;
  bool repeat = false;
  /// The typed text (at most four UTF-16 units); classified only when a rule needs it.
  std::u16string text;
};

/// The rule that decided a key, first match wins, in this order.
enum class KeyRule {
  appWindowKeys,      // ⌥⇥ / ⌥` through the front app's windows
  windowTileTab,      // ⇥ with the window-tile modifier
  commandTab,         // ⌘⇥ through apps and tiles (⌃: the tray)
  closedPassesOn,     // any other key while closed belongs to the front app
  holdingReleased,    // the holding modifier is up: the release is about to commit
  escapeCancels,      // esc ends the session
  returnCommits,      // Return or Enter ends a stays-open session with a switch
  graveStepsWindows,  // ` steps the windows of the selected tile
  arrowsStepAlong,    // ← / → step, repeats included
  arrowsFullScreen,   // ↑ / ↓ take the target window into or out of full screen
  typedKeys,          // letters and numbers of any script are the switcher's
  openPassesOn,       // anything else reaches the front app
};

/// What the main thread is asked to do (posted for the session the key belongs to).
struct KeyCommand {
  enum class Kind {
    none,
    stepAppWindow,     // model.stepAppWindow(value)
    stepWindowTiles,   // forget the ⌃ press, step window tiles by value
    stepTiles,         // forget the ⌃ press, step tiles by value
    stepAlong,         // ← / → by value, by the kind of session
    stepWindow,        // the selected tile's windows by value
    toggleFullScreen,  // value 1: enter, 0: leave
    pickWindow,        // window number value
    quitApp,
    hideApp,
    closeWindow,
    cancel,
    commit,
  };
  Kind kind = Kind::none;
  int value = 0;
  friend bool operator==(const KeyCommand&, const KeyCommand&) = default;
};

struct KeyDecision {
  /// A session to open on the tap thread (never staying, no screen).
  struct Opening {
    SessionAction action;
    CGEventFlags holding = 0;
    friend bool operator==(const Opening&, const Opening&) = default;
  };
  KeyRule rule = KeyRule::openPassesOn;
  bool consumes = false;
  /// The key spoils a closed ⌥ tap that is waiting for its release.
  bool forgetsPendingTap = false;
  /// The switcher closes at once, so the events that follow already see it closed.
  bool closesGate = false;
  std::optional<Opening> opens;
  KeyCommand command;
};

/// The binding of one key-down, from the state read for this event and the tap's options.
/// Pure; any thread.
KeyDecision decide(const KeyPress& press, const OpenState& state, const TapOptions& options);

}  // namespace trelliq
