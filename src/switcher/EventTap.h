#pragma once
// The event tap: it decides on the "event tap" thread, for every key, modifier,
// mouse and scroll event of the session, whether the event is passed on or
// consumed, and hands what the event means for the session to the main queue.
// It reads only its options (from the defaults, at a key that may open a
// session), one `OpenState` per event from the gate and its own fields; it
// never touches the model or the window server, and it never waits for the
// main thread.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>

#include "platform/CGEvent.h"
#include "platform/Clock.h"
#include "platform/Geometry.h"
#include "switcher/OpenGate.h"
#include "switcher/model/KeyDecision.h"
#include "switcher/model/ScrollSteering.h"
#include "switcher/model/SessionAction.h"
#include "switcher/model/TapCommand.h"

namespace trelliq {

class EventTap {
 public:
  /// Event mask of the tap: key down, flags changed, the nine mouse button
  /// types, scroll.
  static constexpr CGEventMask eventMask = 0xE4014DE;
  /// Modifiers whose presses the flags-changed handling collects, in this
  /// order.
  static constexpr std::array<CGEventFlags, 3> tapKeys{kCGEventFlagMaskControl, kCGEventFlagMaskAlternate,
                                                       kCGEventFlagMaskSecondaryFn};

  /// What the tap asks of the rest of the switcher.
  struct Hooks {
    /// Hands a command to the main queue for the opening current now; it is
    /// carried out only while that session is active.
    std::function<void(TapCommand)> post;
    /// Opens a session from the tap thread (never staying, on no given screen).
    std::function<void(SessionAction, CGEventFlags holding)> open;
    /// A left or right click while closed, at a bottom-left screen point and a
    /// date: posted to the main queue for the next session, so it runs without
    /// one.
    std::function<void(CGPoint, double)> desktopClick;
  };

  /// An ⌥ press under ⌘ that may become a tap while the switcher is closed.
  struct PendingTap {
    CGEventFlags flag = 0;
    CGEventTimestamp time = 0;
  };

  EventTap(OpenGate& gate, Hooks hooks);
  EventTap(const EventTap&) = delete;
  EventTap& operator=(const EventTap&) = delete;

  /// Creates the active session tap at the head with `callback` and runs it on
  /// the "event tap" thread. False when the system refuses (nothing changes).
  /// Main thread.
  bool start(CGEventTapCallBack callback);
  /// Marks the tap stopped in the gate, disables and removes it. Main thread.
  void stop();
  /// The decision for one event: the event to pass it on, null to consume it.
  /// Tap thread.
  CGEventRef handle(CGEventType type, const CGEventRef& event);

  /// The options as the defaults hold them now. Any thread.
  static TapOptions options();

  /// Modifier flags of the last flags-changed event. Any thread.
  CGEventFlags lastFlags() const { return prevFlags.load(); }
  /// Whether an ⌥ press under ⌘ waits to become a tap, as the last event handled left
  /// it. Any thread.
  bool hasPendingTap() const;
  /// How many buttons went down on a click the tap swallowed and are not up yet, as the
  /// last event handled left them. Any thread.
  std::size_t swallowedButtonCount() const;

 private:
  CGEventRef mouseDown(CGEventType type, const CGEventRef& event, const OpenState& state);
  CGEventRef mouseUpOrDrag(CGEventType type, const CGEventRef& event);
  bool keyDown(const CGEventRef& event, const OpenState& state);
  void modifiersChanged(const CGEventRef& event, const OpenState& state);
  void closedOptionTap(const CGEventRef& event, CGEventFlags flags, CGEventFlags held, CGEventFlags newPresses);
  void modifierChanges(const OpenState& state, CGEventFlags flags, CGEventFlags before, CGEventFlags held,
                       CGEventFlags newPresses);
  bool scrolled(const CGEventRef& event);
  void tapDisabled(CGEventType type, const OpenState& state);
  void post(const OpenState& state, const KeyCommand& command);
  void postAlong(const OpenState& state, int step);
  void postRow(bool down);

  OpenGate& gate;
  Hooks hooks;

  // ---- Tap thread
  // ---------------------------------------------------------------------
  /// Held while one event is handled, so other threads read the fields below between
  /// events only.
  mutable std::mutex handling;
  /// Atomic because renaming's end reads it on the main thread.
  std::atomic<CGEventFlags> prevFlags{0};
  std::optional<PendingTap> pendingTap;
  std::set<std::int64_t> swallowedButtons;
  ScrollSteering scrollSteering;
};

}  // namespace trelliq
