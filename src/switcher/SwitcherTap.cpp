// The event tap: installing it, deciding for every event on the "event tap" thread
// whether it is passed on or consumed, the key bindings, the modifier taps and
// scrolling. The tap thread reads only options, the locked state (one `openState()`
// per event) and its own fields; whatever an event means for the session is posted
// with `onMain`, so the model and the window server are touched on the main thread only.

#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/ApplicationServices.h"
#include "platform/Unicode.h"
#include "settings/Diagnostics.h"
#include "settings/Settings.h"
#include "switcher/Switcher.h"
#include "workspace/SpaceSwipe.h"

namespace trelliq {
namespace {

constexpr CGEventFlags kShift = kCGEventFlagMaskShift;
constexpr CGEventFlags kControl = kCGEventFlagMaskControl;
constexpr CGEventFlags kOption = kCGEventFlagMaskAlternate;
constexpr CGEventFlags kCommand = kCGEventFlagMaskCommand;
constexpr CGEventFlags kFn = kCGEventFlagMaskSecondaryFn;
constexpr CGEventFlags kTapKeys = kControl | kOption | kFn;

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

// Modifier-tap intervals are measured on the monotonic clock: the wall clock may jump
// between a press and its release. Whole microseconds keep "exactly 0.4 s" from rounding
// into a tap.
double tapNow() { return platform::clock().monotonicSeconds(); }

bool isQuickTap(const std::optional<double>& pressedAt) {
  if (!pressedAt) return false;
  const long long micros = std::llround((tapNow() - *pressedAt) * 1e6);
  return micros < std::llround(SwitcherTiming::tapSeconds * 1e6);
}

// ---- Steps handed to the main queue ----------------------------------------------------

// ← / → and sideways scrolling: the session kind is read on the tap thread, at the step.
void postAlong(Switcher& s, const OpenState& state, int step) {
  const bool appSession = state.appSession, clusterSession = state.clusterSession;
  s.onMain([=](Switcher& s) {
    s.controlPressedAt.reset();
    if (appSession) {
      s.model.stepAppWindow(step);
    } else if (clusterSession) {
      s.stepWindowSideways(step);
    } else {
      s.model.stepCluster(step);
    }
  });
}

void postRow(Switcher& s, bool down) {
  s.onMain([down](Switcher& s) {
    s.controlPressedAt.reset();
    s.model.toRow(down);
  });
}

// ---- Mouse -----------------------------------------------------------------------------

// The top of the first screen, where window-server y turns into screen y.
double firstScreenTop() {
  const auto screens = NSScreen::screens();
  return screens.empty() ? 0 : screens.front().frame().maxY();
}

CGEventRef mouseDown(Switcher& s, CGEventType type, const CGEventRef& event, const OpenState& state) {
  s.pendingTap.reset();
  const std::int64_t button = CGEventGetIntegerValueField(event, kCGMouseEventButtonNumber);
  const CGPoint location = CGEventGetLocation(event);
  const CGPoint point = platform::flipPoint(location, firstScreenTop());
  if (state.open) {
    if (type == kCGEventRightMouseDown && state.staysOpen) {
      s.setOpen(false);
      s.swallowedButtons.insert(button);
      s.onMain([](Switcher& s) { s.commit(); });
      return nullptr;
    }
    for (const ClickTarget& target : s.clickTargets()) {
      if (target.rect.contains(point)) return target.passes ? event : nullptr;
    }
    // Outside every panel: the click ends the session and nothing under it sees the
    // press, its drags or its release.
    s.setOpen(false);
    s.swallowedButtons.insert(button);
    s.onMain([](Switcher& s) { s.cancel(false); });
    return nullptr;
  }
  if (type == kCGEventLeftMouseDown || type == kCGEventRightMouseDown) {
    const double at = platform::now();
    // Not through onMain: the record is for the next session, so it must run without one.
    platform::mainQueue().async([weak = s.weak(), point, at] {
      if (auto self = weak.lock()) self->recordDesktopClick(point, at);
    });
  }
  return event;
}

CGEventRef mouseUpOrDrag(Switcher& s, CGEventType type, const CGEventRef& event) {
  const std::int64_t button = CGEventGetIntegerValueField(event, kCGMouseEventButtonNumber);
  const auto found = s.swallowedButtons.find(button);
  if (found == s.swallowedButtons.end()) return event;
  if (isMouseUp(type)) s.swallowedButtons.erase(found);
  return nullptr;
}

// ---- Keys ------------------------------------------------------------------------------

std::u16string typedText(const CGEventRef& event) {
  UniChar buffer[4] = {};
  UniCharCount length = 0;
  CGEventKeyboardGetUnicodeString(event, 4, &length, buffer);
  return std::u16string(buffer, std::min<UniCharCount>(length, 4));
}

// Carries out what the binding table decided for one key.
void postCommand(Switcher& s, const OpenState& state, const KeyCommand& command) {
  using Kind = KeyCommand::Kind;
  const int value = command.value;
  switch (command.kind) {
    case Kind::none:
      return;
    case Kind::stepAppWindow:
      s.onMain([value](Switcher& s) { s.model.stepAppWindow(value); });
      return;
    case Kind::stepWindowTiles:
      s.onMain([value](Switcher& s) { s.forgetControlAndStep(true, value); });
      return;
    case Kind::stepTiles:
      s.onMain([value](Switcher& s) { s.forgetControlAndStep(false, value); });
      return;
    case Kind::stepAlong:
      postAlong(s, state, value);
      return;
    case Kind::stepWindow:
      s.onMain([value](Switcher& s) { s.stepWindow(value); });
      return;
    case Kind::toggleFullScreen:
      s.onMain([on = value != 0](Switcher& s) { s.toggleFullScreen(on); });
      return;
    case Kind::pickWindow:
      s.onMain([value](Switcher& s) { s.model.pickWindow(value); });
      return;
    case Kind::quitApp:
      s.onMain([](Switcher& s) { s.quitSelectedApp(); });
      return;
    case Kind::hideApp:
      s.onMain([](Switcher& s) { s.hideSelectedApp(); });
      return;
    case Kind::closeWindow:
      s.onMain([](Switcher& s) { s.closeTargetWindow(); });
      return;
    case Kind::cancel:
      s.onMain([](Switcher& s) { s.cancel(false); });
      return;
    case Kind::commit:
      s.onMain([](Switcher& s) { s.commit(); });
      return;
  }
}

// A key-down: the binding table decides, the tap carries it out; true consumes the key.
bool bindKey(Switcher& s, const CGEventRef& event, const OpenState& state) {
  KeyPress press;
  press.key = static_cast<CGKeyCode>(CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode));
  press.flags = CGEventGetFlags(event);
  press.repeat = CGEventGetIntegerValueField(event, kCGKeyboardEventAutorepeat) != 0;
  press.text = typedText(event);
  const KeyDecision decision = decide(press, state, s.tapOptions());
  // ⇧ pressed together with a key is no ⇧ tap.
  if (state.open) s.onMain([](Switcher& s) { s.forgetShift(); });
  if (decision.forgetsPendingTap) s.pendingTap.reset();
  if (decision.closesGate) s.setOpen(false);
  if (decision.opens) s.open(decision.opens->action, decision.opens->holding, false, std::nullopt);
  postCommand(s, state, decision.command);
  return decision.consumes;
}

// ---- Modifiers -------------------------------------------------------------------------

// An ⌥ tap under ⌘ while the switcher is closed opens the Spaces (or tiles) session.
void closedOptionTap(Switcher& s, const CGEventRef& event, CGEventFlags flags, CGEventFlags held,
                     CGEventFlags newPresses) {
  if (!s.pendingTap) {
    if ((flags & kCommand) && held == kOption && (newPresses & kOption)) {
      s.pendingTap = Switcher::PendingTap{kOption, CGEventGetTimestamp(event)};
    }
    return;
  }
  const Switcher::PendingTap pending = *s.pendingTap;
  s.pendingTap.reset();
  if (!(flags & kCommand) || (held != 0 && held != kOption)) return;
  const CGEventTimestamp released = CGEventGetTimestamp(event);
  if (flags & kOption) {
    s.pendingTap = pending;  // still down
    return;
  }
  // A release stamped before its press is no tap and is not kept for later either.
  if (released < pending.time) return;
  if (released - pending.time >= SwitcherTiming::maxTapNanos) {
    s.pendingTap = pending;
    return;
  }
  const int step = (flags & kShift) ? -1 : 1;
  const bool tiles = s.tapOptions().windowTiles;
  s.open(tiles ? SessionAction::tile(step) : SessionAction::space(step), kCommand, false, std::nullopt);
}

void postControl(Switcher& s, bool down) {
  if (down) {
    s.onMain([](Switcher& s) { s.controlDown(); });
  } else {
    s.onMain([](Switcher& s) { s.controlUp(); });
  }
}

void postOption(Switcher& s, bool down, bool shift) {
  if (down) {
    s.onMain([](Switcher& s) { s.optionDown(); });
  } else {
    s.onMain([shift](Switcher& s) { s.optionUp(shift); });
  }
}

void postNextDisplay(Switcher& s) {
  s.onMain([](Switcher& s) { s.model.focusNextDisplay(); });
}

void modifierChanges(Switcher& s, const OpenState& state, CGEventFlags flags, CGEventFlags before, CGEventFlags held,
                     CGEventFlags newPresses) {
  const CGEventFlags changed = flags ^ before;
  if (state.clusterSession) {
    if ((changed & kShift) && (held == 0 || held == state.holding)) {
      if (flags & kShift) {
        s.onMain([](Switcher& s) { s.shiftDown(); });
      } else {
        s.onMain([](Switcher& s) { s.shiftUp(); });
      }
    } else if (changed & kControl) {
      postControl(s, flags & kControl);
    } else if ((changed & kOption) && state.holding == kCommand) {
      postOption(s, flags & kOption, flags & kShift);
    } else if (newPresses == kFn) {
      postNextDisplay(s);
    }
    return;
  }
  if (changed & kControl) {
    postControl(s, flags & kControl);
  } else if (changed & kOption) {
    postOption(s, flags & kOption, flags & kShift);
  } else if (newPresses == kFn && held == kFn) {
    postNextDisplay(s);
  }
}

void modifiersChanged(Switcher& s, const CGEventRef& event, const OpenState& state) {
  const CGEventFlags flags = CGEventGetFlags(event);
  const CGEventFlags held = flags & kTapKeys;
  const CGEventFlags before = s.prevFlags.exchange(flags);
  const CGEventFlags newPresses = held & ~before;

  if (!state.open) {
    closedOptionTap(s, event, flags, held, newPresses);
    return;
  }
  if ((flags & kFn) && !(before & kFn)) {
    s.onMain([flags, before](Switcher& s) { s.logFn(flags, before); });
  }
  const CGEventFlags holding = state.holding;
  if ((flags & holding) == holding) {
    modifierChanges(s, state, flags, before, held, newPresses);
  } else if ((before & holding) == holding) {
    // The holding modifier was let go: the following events already see a closed switcher.
    s.setOpen(false);
    s.onMain([](Switcher& s) { s.commit(); });
  } else if (state.staysOpen) {
    modifierChanges(s, state, flags, before, held, newPresses);
  }
}

void tapDisabled(Switcher& s, CGEventType type, const OpenState& state) {
  const char* reason = type == kCGEventTapDisabledByTimeout ? "timeout" : "user input";
  Diagnostics::log(std::string("event tap disabled by macOS (") + reason +
                   "); trusted=" + (AXIsProcessTrusted() ? "true" : "false"));
  if (state.tapStopped) return;
  if (CFMachPortRef port = s.gate().tapPort()) CGEventTapEnable(port, true);
}

}  // namespace

// ======================================================================================
// The tap
// ======================================================================================

bool Switcher::startTap() {
  if (gate_.tapPort()) return true;
  // Defaults registered after this controller was made announce no change.
  readTapOptions();
  std::weak_ptr<Switcher> weakSelf = weak();
  CGEventTapCallBack callback = [weakSelf](CGEventTapProxy, CGEventType type, CGEventRef event, void*) -> CGEventRef {
    auto self = weakSelf.lock();
    return self ? self->handle(type, event) : event;
  };
  CFMachPortRef port = CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault, eventMask,
                                        std::move(callback), nullptr);
  if (!port) return false;
  gate_.installTap(port);
  CFRunLoopSourceRef source = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port, 0);
  platform::Executor& thread = platform::clock().thread("event tap");
  tapThread = &thread;
  thread.async([&thread, source, port] {
    CFRunLoopAddSource(&thread, source, kCFRunLoopCommonModes);
    CGEventTapEnable(port, true);
  });
  if (watches.start) watches.start();
  warmUp();
  return true;
}

void Switcher::stopTap() {
  setTapStopped(true);
  CFMachPortRef port = gate_.removeTap();
  if (port) {
    CGEventTapEnable(port, false);
    CFMachPortInvalidate(port);
  }
  tapThread = nullptr;
  if (watches.stop) watches.stop();
  cancel(false);
}

CGEventRef Switcher::handle(CGEventType type, const CGEventRef& event) {
  const OpenState state = gate_.openState();
  const bool disabled = type == kCGEventTapDisabledByTimeout || type == kCGEventTapDisabledByUserInput;
  if (disabled) {
    tapDisabled(*this, type, state);
    return event;
  }
  if (state.renaming) {
    // Typing belongs to the name field; only the modifier memory is kept current.
    pendingTap.reset();
    if (type == kCGEventFlagsChanged) prevFlags.store(CGEventGetFlags(event));
    return event;
  }
  if (isMouseDown(type)) return mouseDown(*this, type, event, state);
  if (isMouseUpOrDrag(type)) return mouseUpOrDrag(*this, type, event);
  switch (type) {
    case kCGEventKeyDown:
      return bindKey(*this, event, state) ? nullptr : event;
    case kCGEventFlagsChanged:
      modifiersChanged(*this, event, state);
      return event;
    case kCGEventScrollWheel:
      return scrolled(event) ? nullptr : event;
    default:
      return event;
  }
}

namespace {

// The bits of `Switcher::tapOptionBits`: the tile style and the ⌥` option.
constexpr std::uint8_t kTilesWindows = 1, kTilesBoth = 2, kAppWindows = 4;

}  // namespace

void Switcher::readTapOptions() {
  const Settings::Tiles tiles = Settings::tiles();
  std::uint8_t bits = Settings::appWindows() ? kAppWindows : 0;
  if (tiles == Settings::Tiles::windows) bits |= kTilesWindows;
  if (tiles == Settings::Tiles::both) bits |= kTilesBoth;
  tapOptionBits.store(bits);
}

TapOptions Switcher::tapOptions() const {
  const std::uint8_t bits = tapOptionBits.load();
  TapOptions options;
  if (bits & kTilesWindows) options.windowTileModifier = kCommand;
  if (bits & kTilesBoth) options.windowTileModifier = kOption;
  options.windowTiles = (bits & kTilesWindows) != 0;
  options.appWindows = (bits & kAppWindows) != 0;
  return options;
}

// ======================================================================================
// Modifier taps (main thread)
// ======================================================================================

void Switcher::shiftDown() { shiftPressedAt = tapNow(); }

void Switcher::shiftUp() {
  if (isQuickTap(shiftPressedAt)) model.toggleDesktop();
  shiftPressedAt.reset();
}

void Switcher::controlDown() {
  controlPressedAt = tapNow();
  shiftPressedAt.reset();
}

void Switcher::controlUp() {
  model.controlHeld = false;
  if (isQuickTap(controlPressedAt)) model.toggleTray();
  controlPressedAt.reset();
}

void Switcher::optionDown() {
  optionPressedAt = tapNow();
  shiftPressedAt.reset();
}

void Switcher::optionUp(bool shift) {
  if (isQuickTap(optionPressedAt)) {
    const int step = shift ? -1 : 1;
    if (clusterTiles) {
      model.stepTile(step);
    } else {
      model.stepSpace(step);
    }
  }
  optionPressedAt.reset();
}

// ======================================================================================
// Scrolling (tap thread)
// ======================================================================================

bool Switcher::scrolled(const CGEventRef& event) {
  const OpenState state = gate_.openState();
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
  return scrollSteering.scrolled(
      scroll, state.open, [] { return SpaceSwipe::naturalScrolling(); },
      [this, &state](ScrollSteering::Step step) {
        if (step.axis == ScrollSteering::Step::Axis::sideways) {
          postAlong(*this, state, step.direction);
        } else {
          postRow(*this, step.direction > 0);
        }
      });
}

// ======================================================================================
// Steering entry points of the tap (tap thread)
// ======================================================================================

void Switcher::stepAlong(int step) { postAlong(*this, gate_.openState(), step); }

void Switcher::toRow(bool down) { postRow(*this, down); }

}  // namespace trelliq
