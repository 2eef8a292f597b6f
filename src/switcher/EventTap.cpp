// Every event of the session passes here on the "event tap" thread. The tap
// reads one `OpenState` per event and its own fields; whatever an event means
// for the session is handed to the main queue as a `TapCommand`, so the model
// and the window server are touched on the main thread only.

#include "switcher/EventTap.h"

#include <algorithm>
#include <string>
#include <utility>

#include "platform/AppKit.h"
#include "platform/ApplicationServices.h"
#include "settings/Diagnostics.h"
#include "settings/Settings.h"
#include "switcher/SwitcherTiming.h"
#include "workspace/SpaceSwipe.h"

namespace trelliq {
namespace {

using namespace modifierbits;
constexpr CGEventFlags kFn = kCGEventFlagMaskSecondaryFn;
constexpr CGEventFlags kTapKeys = EventTap::tapKeys[0] | EventTap::tapKeys[1] | EventTap::tapKeys[2];

bool isMouseDown(CGEventType type) {
  return type == kCGEventLeftMouseDown || type == kCGEventRightMouseDown || type == kCGEventOtherMouseDown;
}

bool isMouseUpOrDrag(CGEventType type) {
  switch (type) {
    case kCGEventLeftMouseUp:
    case kCGEventRightMouseUp:
    case kCGEventOtherMouseUp:
    case kCGEventLeftMouseDragged:
    case kCGEventRightMouseDragged:
    case kCGEventOtherMouseDragged:
      return true;
    default:
      return false;
  }
}

bool isMouseUp(CGEventType type) {
  return type == kCGEventLeftMouseUp || type == kCGEventRightMouseUp || type == kCGEventOtherMouseUp;
}

// The top of the first screen, where window-server y turns into screen y.
double firstScreenTop() {
  const auto screens = NSScreen::screens();
  return screens.empty() ? 0 : screens.front().frame().maxY();
}

std::u16string typedText(const CGEventRef& event) {
  UniChar buffer[4] = {};
  UniCharCount length = 0;
  CGEventKeyboardGetUnicodeString(event, 4, &length, buffer);
  return std::u16string(buffer, std::min<UniCharCount>(length, 4));
}

ScrollEvent scrollEventOf(const CGEventRef& event) {
  ScrollEvent scroll;
  scroll.phase = CGEventGetIntegerValueField(event, kCGScrollWheelEventScrollPhase);
  scroll.momentum = CGEventGetIntegerValueField(event, kCGScrollWheelEventMomentumPhase);
  scroll.continuous = CGEventGetIntegerValueField(event, kCGScrollWheelEventIsContinuous) != 0;
  if (scroll.continuous) {
    scroll.pointAcross = CGEventGetDoubleValueField(event, kCGScrollWheelEventPointDeltaAxis2);
    scroll.pointDown = CGEventGetDoubleValueField(event, kCGScrollWheelEventPointDeltaAxis1);
  } else {
    scroll.lineAcross = static_cast<double>(CGEventGetIntegerValueField(event, kCGScrollWheelEventDeltaAxis2));
    scroll.lineDown = static_cast<double>(CGEventGetIntegerValueField(event, kCGScrollWheelEventDeltaAxis1));
  }
  return scroll;
}

}  // namespace

EventTap::EventTap(OpenGate& gate, Hooks hooks) : gate(gate), hooks(std::move(hooks)) {}

// ---- Installing
// ----------------------------------------------------------------------------

bool EventTap::start(CGEventTapCallBack callback) {
  CFMachPortRef port = CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault, eventMask,
                                        std::move(callback), nullptr);
  if (!port) return false;
  gate.installTap(port);
  // On its thread's run loop before this returns, not once that thread first runs: the
  // program then gives up the system's ⌘⇥ and says it has launched, and a key pressed from
  // then on must wait for the tap, not pass it by.
  platform::Executor& thread = platform::clock().thread("event tap");
  CFRunLoopAddSource(&thread, CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port, 0), kCFRunLoopCommonModes);
  CGEventTapEnable(port, true);
  return true;
}

void EventTap::stop() {
  gate.setTapStopped(true);
  CFMachPortRef port = gate.removeTap();
  if (port) {
    CGEventTapEnable(port, false);
    CFMachPortInvalidate(port);
  }
}

TapOptions EventTap::options() {
  TapOptions options;
  const Settings::Tiles tiles = Settings::tiles();
  if (tiles == Settings::Tiles::windows) options.windowTileModifier = kCommand;
  if (tiles == Settings::Tiles::both) options.windowTileModifier = kOption;
  options.windowTiles = tiles == Settings::Tiles::windows;
  options.appWindows = Settings::appWindows();
  return options;
}

// ---- Every event
// ---------------------------------------------------------------------------

bool EventTap::hasPendingTap() const {
  std::lock_guard lock(handling);
  return pendingTap.has_value();
}

std::size_t EventTap::swallowedButtonCount() const {
  std::lock_guard lock(handling);
  return swallowedButtons.size();
}

CGEventRef EventTap::handle(CGEventType type, const CGEventRef& event) {
  std::lock_guard lock(handling);
  const OpenState state = gate.openState();
  if (type == kCGEventTapDisabledByTimeout || type == kCGEventTapDisabledByUserInput) {
    tapDisabled(type, state);
    return event;
  }
  if (state.renaming) {
    // Typing belongs to the name field; only the modifier memory is kept
    // current.
    pendingTap.reset();
    if (type == kCGEventFlagsChanged) prevFlags.store(CGEventGetFlags(event));
    return event;
  }
  if (isMouseDown(type)) return mouseDown(type, event, state);
  if (isMouseUpOrDrag(type)) return mouseUpOrDrag(type, event);
  switch (type) {
    case kCGEventKeyDown:
      return keyDown(event, state) ? nullptr : event;
    case kCGEventFlagsChanged:
      modifiersChanged(event, state);
      return event;
    case kCGEventScrollWheel:
      return scrolled(event) ? nullptr : event;
    default:
      return event;
  }
}

void EventTap::tapDisabled(CGEventType type, const OpenState& state) {
  const char* reason = type == kCGEventTapDisabledByTimeout ? "timeout" : "user input";
  Diagnostics::log(std::string("event tap disabled by macOS (") + reason +
                   "); trusted=" + (AXIsProcessTrusted() ? "true" : "false"));
  if (state.tapStopped) return;
  if (CFMachPortRef port = gate.tapPort()) CGEventTapEnable(port, true);
}

// ---- Steps handed to the main queue
// ----------------------------------------------------

// ← / → and sideways scrolling: the session kind is read on the tap thread, at
// the step.
void EventTap::postAlong(const OpenState& state, int step) {
  hooks.post(tapcommand::StepAlong{step, state.appSession, state.clusterSession});
}

void EventTap::postRow(bool down) { hooks.post(tapcommand::ToRow{down}); }

// ---- Mouse
// -----------------------------------------------------------------------------

CGEventRef EventTap::mouseDown(CGEventType type, const CGEventRef& event, const OpenState& state) {
  pendingTap.reset();
  const std::int64_t button = CGEventGetIntegerValueField(event, kCGMouseEventButtonNumber);
  const CGPoint location = CGEventGetLocation(event);
  const CGPoint point = platform::flipPoint(location, firstScreenTop());
  if (state.open) {
    if (type == kCGEventRightMouseDown && state.staysOpen) {
      gate.setOpen(false);
      swallowedButtons.insert(button);
      hooks.post(KeyCommand{KeyCommand::Kind::commit});
      return nullptr;
    }
    for (const ClickTarget& target : gate.clickTargets()) {
      if (target.rect.contains(point)) return target.passes ? event : nullptr;
    }
    // Outside every panel: the click ends the session and nothing under it sees
    // the press, its drags or its release.
    gate.setOpen(false);
    swallowedButtons.insert(button);
    hooks.post(KeyCommand{KeyCommand::Kind::cancel});
    return nullptr;
  }
  if (type == kCGEventLeftMouseDown || type == kCGEventRightMouseDown) hooks.desktopClick(point, platform::now());
  return event;
}

CGEventRef EventTap::mouseUpOrDrag(CGEventType type, const CGEventRef& event) {
  const std::int64_t button = CGEventGetIntegerValueField(event, kCGMouseEventButtonNumber);
  const auto found = swallowedButtons.find(button);
  if (found == swallowedButtons.end()) return event;
  if (isMouseUp(type)) swallowedButtons.erase(found);
  return nullptr;
}

// ---- Keys
// ------------------------------------------------------------------------------

// Carries out what the binding table decided for one key.
void EventTap::post(const OpenState& state, const KeyCommand& command) {
  switch (command.kind) {
    case KeyCommand::Kind::none:
      return;
    case KeyCommand::Kind::stepAlong:
      postAlong(state, command.value);
      return;
    default:
      hooks.post(command);
      return;
  }
}

// A key-down: the binding table decides, the tap carries it out; true consumes
// the key.
bool EventTap::keyDown(const CGEventRef& event, const OpenState& state) {
  KeyPress press;
  press.key = static_cast<CGKeyCode>(CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode));
  press.flags = CGEventGetFlags(event);
  press.repeat = CGEventGetIntegerValueField(event, kCGKeyboardEventAutorepeat) != 0;
  press.text = typedText(event);
  // Only ⇥ or ` under ⌘ or ⌥ may open a session, and only then do the options count: they
  // are read at that key, so a change made anywhere, by any program, holds from the next
  // one on, while typing never reads them.
  const bool mayOpen = !state.open && (press.key == SwitcherKeys::tab || press.key == SwitcherKeys::grave) &&
                       (press.flags & (kCommand | kOption)) != 0;
  const KeyDecision decision = decide(press, state, mayOpen ? options() : TapOptions{});
  // ⇧ pressed together with a key is no ⇧ tap.
  if (state.open) hooks.post(tapcommand::ForgetShift{});
  if (decision.forgetsPendingTap) pendingTap.reset();
  if (decision.closesGate) gate.setOpen(false);
  if (decision.opens) hooks.open(decision.opens->action, decision.opens->holding);
  post(state, decision.command);
  return decision.consumes;
}

// ---- Modifiers
// -------------------------------------------------------------------------

// An ⌥ tap under ⌘ while the switcher is closed opens the Spaces (or tiles)
// session.
void EventTap::closedOptionTap(const CGEventRef& event, CGEventFlags flags, CGEventFlags held,
                               CGEventFlags newPresses) {
  if (!pendingTap) {
    if ((flags & kCommand) && held == kOption && (newPresses & kOption)) {
      pendingTap = PendingTap{kOption, CGEventGetTimestamp(event)};
    }
    return;
  }
  const PendingTap pending = *pendingTap;
  pendingTap.reset();
  if (!(flags & kCommand) || (held != 0 && held != kOption)) return;
  const CGEventTimestamp released = CGEventGetTimestamp(event);
  if (flags & kOption) {
    pendingTap = pending;  // still down
    return;
  }
  // A release stamped before its press is no tap and is not kept for later
  // either.
  if (released < pending.time) return;
  if (released - pending.time >= SwitcherTiming::maxTapNanos) {
    pendingTap = pending;
    return;
  }
  const int step = (flags & kShift) ? -1 : 1;
  const bool tiles = options().windowTiles;
  hooks.open(tiles ? SessionAction::tile(step) : SessionAction::space(step), kCommand);
}

void EventTap::modifierChanges(const OpenState& state, CGEventFlags flags, CGEventFlags before, CGEventFlags held,
                               CGEventFlags newPresses) {
  const CGEventFlags changed = flags ^ before;
  using Key = tapcommand::ModifierChange::Key;
  const auto control = [&] { hooks.post(tapcommand::ModifierChange{Key::control, (flags & kControl) != 0}); };
  const auto option = [&] {
    hooks.post(tapcommand::ModifierChange{Key::option, (flags & kOption) != 0, (flags & kShift) != 0});
  };
  const auto nextDisplay = [&] { hooks.post(tapcommand::NextDisplay{}); };
  if (state.clusterSession) {
    if ((changed & kShift) && (held == 0 || held == state.holding)) {
      hooks.post(tapcommand::ModifierChange{Key::shift, (flags & kShift) != 0});
    } else if (changed & kControl) {
      control();
    } else if ((changed & kOption) && state.holding == kCommand) {
      option();
    } else if (newPresses == kFn) {
      nextDisplay();
    }
    return;
  }
  if (changed & kControl) {
    control();
  } else if (changed & kOption) {
    option();
  } else if (newPresses == kFn && held == kFn) {
    nextDisplay();
  }
}

void EventTap::modifiersChanged(const CGEventRef& event, const OpenState& state) {
  const CGEventFlags flags = CGEventGetFlags(event);
  const CGEventFlags held = flags & kTapKeys;
  const CGEventFlags before = prevFlags.exchange(flags);
  const CGEventFlags newPresses = held & ~before;

  if (!state.open) {
    closedOptionTap(event, flags, held, newPresses);
    return;
  }
  if ((flags & kFn) && !(before & kFn)) {
    hooks.post(tapcommand::FnDown{flags, before});
  }
  const CGEventFlags holding = state.holding;
  if ((flags & holding) == holding) {
    modifierChanges(state, flags, before, held, newPresses);
  } else if ((before & holding) == holding) {
    // The holding modifier was let go: the following events already see a
    // closed switcher.
    gate.setOpen(false);
    hooks.post(KeyCommand{KeyCommand::Kind::commit});
  } else if (state.staysOpen) {
    modifierChanges(state, flags, before, held, newPresses);
  }
}

// ---- Scrolling
// -------------------------------------------------------------------------

bool EventTap::scrolled(const CGEventRef& event) {
  const OpenState state = gate.openState();
  return scrollSteering.scrolled(
      scrollEventOf(event), state.open, [] { return SpaceSwipe::naturalScrolling(); },
      [this, &state](ScrollSteering::Step step) {
        if (step.axis == ScrollSteering::Step::Axis::sideways) {
          postAlong(state, step.direction);
        } else {
          postRow(step.direction > 0);
        }
      });
}

}  // namespace trelliq
