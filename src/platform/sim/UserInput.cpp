#include "platform/sim/UserInput.h"

#include <cmath>

namespace sim {

namespace {

bool isArrow(CGKeyCode key) { return key >= 123 && key <= 126; }

// Function keys and the navigation block: the keyboard marks them with fn.
bool isFunctionKey(CGKeyCode key) {
  switch (key) {
    case 96:
    case 97:
    case 98:
    case 99:
    case 100:
    case 101:
    case 103:
    case 109:
    case 111:
    case 118:
    case 120:
    case 122:
    case 114:
    case 115:
    case 116:
    case 117:
    case 119:
    case 121:
      return true;
    default:
      return false;
  }
}

bool isKeypad(CGKeyCode key) {
  return key == 65 || key == 67 || key == 69 || key == 71 || key == 75 || key == 76 || key == 78 ||
         (key >= 81 && key <= 92 && key != 90);
}

CGEventType downType(CGMouseButton b) {
  return b == kCGMouseButtonLeft    ? kCGEventLeftMouseDown
         : b == kCGMouseButtonRight ? kCGEventRightMouseDown
                                    : kCGEventOtherMouseDown;
}
CGEventType upType(CGMouseButton b) {
  return b == kCGMouseButtonLeft    ? kCGEventLeftMouseUp
         : b == kCGMouseButtonRight ? kCGEventRightMouseUp
                                    : kCGEventOtherMouseUp;
}
CGEventType dragType(CGMouseButton b) {
  return b == kCGMouseButtonLeft    ? kCGEventLeftMouseDragged
         : b == kCGMouseButtonRight ? kCGEventRightMouseDragged
                                    : kCGEventOtherMouseDragged;
}

// Lines for a scroll in points: a line is ten points, and any movement is at least one.
std::int64_t linesOf(double points) {
  const auto lines = static_cast<std::int64_t>(points / 10);
  if (lines == 0 && points != 0) return points > 0 ? 1 : -1;
  return lines;
}

}  // namespace

UserInput::UserInput(EventServer& events) : events_(events), pointer_(events.windowServer().pointerLocation()) {}

CGEventFlags UserInput::bitsOf(CGKeyCode key) {
  switch (key) {
    case kCommand:
      return kCGEventFlagMaskCommand | kLeftCommandBit;
    case kRightCommand:
      return kCGEventFlagMaskCommand | kRightCommandBit;
    case kShift:
      return kCGEventFlagMaskShift | kLeftShiftBit;
    case kRightShift:
      return kCGEventFlagMaskShift | kRightShiftBit;
    case kOption:
      return kCGEventFlagMaskAlternate | kLeftOptionBit;
    case kRightOption:
      return kCGEventFlagMaskAlternate | kRightOptionBit;
    case kControl:
      return kCGEventFlagMaskControl | kLeftControlBit;
    case kRightControl:
      return kCGEventFlagMaskControl | kRightControlBit;
    case kFn:
      return kCGEventFlagMaskSecondaryFn;
    default:
      return 0;
  }
}

CGEvent UserInput::make(CGEventType type) const {
  CGEvent e;
  e.type = type;
  e.location = pointer_;
  e.flags = flags_;
  e.timestamp = platform::clock().monotonicNanos();
  return e;
}

void UserInput::send(CGEvent event) { events_.hardwareEvent(event); }

void UserInput::modifierDown(CGKeyCode key) {
  if (key == kCapsLock) {
    capsLock_ = !capsLock_;
  } else if (bitsOf(key)) {
    held_.insert(key);
  } else {
    return;
  }
  modifiersChanged(key);
}

void UserInput::modifierUp(CGKeyCode key) {
  if (!bitsOf(key) || !held_.erase(key)) return;
  modifiersChanged(key);
}

// The flags follow the keys held: a modifier stays down while the key of either side is.
void UserInput::modifiersChanged(CGKeyCode key) {
  flags_ = capsLock_ ? kCGEventFlagMaskAlphaShift : 0;
  for (CGKeyCode k : held_) flags_ |= bitsOf(k);
  CGEvent e = make(kCGEventFlagsChanged);
  e.flags |= kCGEventFlagMaskNonCoalesced;
  e.integerFields[kCGKeyboardEventKeycode] = key;
  send(std::move(e));
}

void UserInput::keyDown(CGKeyCode key, bool repeat) {
  CGEvent e = make(kCGEventKeyDown);
  e.flags |= kCGEventFlagMaskNonCoalesced;
  if (isArrow(key)) e.flags |= kCGEventFlagMaskNumericPad | kCGEventFlagMaskSecondaryFn;
  if (isFunctionKey(key)) e.flags |= kCGEventFlagMaskSecondaryFn;
  if (isKeypad(key)) e.flags |= kCGEventFlagMaskNumericPad;
  e.integerFields[kCGKeyboardEventKeycode] = key;
  if (repeat) e.integerFields[kCGKeyboardEventAutorepeat] = 1;
  send(std::move(e));
}

void UserInput::keyUp(CGKeyCode key) {
  CGEvent e = make(kCGEventKeyUp);
  e.flags |= kCGEventFlagMaskNonCoalesced;
  if (isArrow(key)) e.flags |= kCGEventFlagMaskNumericPad | kCGEventFlagMaskSecondaryFn;
  if (isFunctionKey(key)) e.flags |= kCGEventFlagMaskSecondaryFn;
  if (isKeypad(key)) e.flags |= kCGEventFlagMaskNumericPad;
  e.integerFields[kCGKeyboardEventKeycode] = key;
  send(std::move(e));
}

void UserInput::press(CGKeyCode key) {
  keyDown(key);
  keyUp(key);
}

void UserInput::moveTo(CGPoint location) {
  CGEventType type = kCGEventMouseMoved;
  CGMouseButton held = 0;
  for (; held < 32; ++held) {
    if (buttons_ & (1u << held)) {
      type = dragType(held);
      break;
    }
  }
  const CGPoint from = pointer_;
  pointer_ = location;
  CGEvent e = make(type);
  e.integerFields[kCGMouseEventDeltaX] = static_cast<std::int64_t>(std::lround(location.x - from.x));
  e.integerFields[kCGMouseEventDeltaY] = static_cast<std::int64_t>(std::lround(location.y - from.y));
  if (type != kCGEventMouseMoved) e.integerFields[kCGMouseEventButtonNumber] = held;
  send(std::move(e));
}

void UserInput::mouseDown(CGMouseButton button, std::int64_t clickCount) {
  if (button >= 32) return;
  buttons_ |= 1u << button;
  CGEvent e = make(downType(button));
  e.integerFields[kCGMouseEventButtonNumber] = button;
  e.integerFields[kCGMouseEventClickState] = clickCount;
  send(std::move(e));
}

void UserInput::mouseUp(CGMouseButton button) {
  if (button >= 32) return;
  buttons_ &= ~(1u << button);
  CGEvent e = make(upType(button));
  e.integerFields[kCGMouseEventButtonNumber] = button;
  e.integerFields[kCGMouseEventClickState] = 1;
  send(std::move(e));
}

void UserInput::click(CGPoint location, CGMouseButton button) {
  moveTo(location);
  mouseDown(button);
  mouseUp(button);
}

void UserInput::wheel(std::int32_t down, std::int32_t across) {
  CGEvent e = make(kCGEventScrollWheel);
  e.integerFields[kCGScrollWheelEventDeltaAxis1] = down;
  e.integerFields[kCGScrollWheelEventDeltaAxis2] = across;
  e.doubleFields[kCGScrollWheelEventFixedPtDeltaAxis1] = down;
  e.doubleFields[kCGScrollWheelEventFixedPtDeltaAxis2] = across;
  e.integerFields[kCGScrollWheelEventPointDeltaAxis1] = down * 10;
  e.integerFields[kCGScrollWheelEventPointDeltaAxis2] = across * 10;
  send(std::move(e));
}

void UserInput::scroll(double down, double across, std::int64_t phase, std::int64_t momentumPhase) {
  CGEvent e = make(kCGEventScrollWheel);
  e.integerFields[kCGScrollWheelEventIsContinuous] = 1;
  e.integerFields[kCGScrollWheelEventDeltaAxis1] = linesOf(down);
  e.integerFields[kCGScrollWheelEventDeltaAxis2] = linesOf(across);
  e.doubleFields[kCGScrollWheelEventFixedPtDeltaAxis1] = down / 10;
  e.doubleFields[kCGScrollWheelEventFixedPtDeltaAxis2] = across / 10;
  e.doubleFields[kCGScrollWheelEventPointDeltaAxis1] = down;
  e.doubleFields[kCGScrollWheelEventPointDeltaAxis2] = across;
  e.integerFields[kCGScrollWheelEventScrollPhase] = phase;
  e.integerFields[kCGScrollWheelEventMomentumPhase] = momentumPhase;
  send(std::move(e));
}

}  // namespace sim
