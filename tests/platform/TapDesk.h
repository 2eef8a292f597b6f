#pragma once
// A served desk with helpers to install event taps and to post keys as a keyboard would.

#include <string>
#include <vector>

#include "ServedDesk.h"
#include "platform/CFRunLoop.h"
#include "platform/CGEvent.h"

struct TapDesk : ServedDesk {
  using ServedDesk::ServedDesk;
  platform::Executor& tapThread = scene.clock.thread("event tap");

  /// A tap whose source is on `runLoop` (the "event tap" thread unless given); null when refused.
  CFMachPortRef tap(CGEventTapLocation at, CGEventTapPlacement place, CGEventTapOptions options, CGEventMask mask,
                    CGEventTapCallBack callback, platform::Executor* runLoop = nullptr) {
    auto port = CGEventTapCreate(at, place, options, mask, std::move(callback), nullptr);
    if (port) {
      CFRunLoopAddSource(runLoop ? runLoop : &tapThread, CFMachPortCreateRunLoopSource(nullptr, port, 0),
                         kCFRunLoopCommonModes);
    }
    return port;
  }

  /// An active head tap at the session point that writes `name` to `seen` for every event of `mask`
  /// and passes it.
  CFMachPortRef recorder(std::vector<std::string>& seen, const std::string& name, CGEventMask mask,
                         CGEventTapLocation at = kCGSessionEventTap, CGEventTapPlacement place = kCGHeadInsertEventTap,
                         CGEventTapOptions options = kCGEventTapOptionDefault) {
    return tap(at, place, options, mask, [&seen, name](CGEventTapProxy, CGEventType, CGEventRef e, void*) {
      seen.push_back(name);
      return e;
    });
  }

  void settle() { attachment.settle(); }
};

inline CGEventRef keyEvent(CGKeyCode code, CGEventFlags flags = 0, bool down = true) {
  auto e = CGEventCreateKeyboardEvent(nullptr, code, down);
  CGEventSetFlags(e, flags);
  return e;
}

/// A modifier key change carrying every modifier held afterwards.
inline CGEventRef flagsEvent(CGKeyCode code, CGEventFlags flags) {
  auto e = keyEvent(code, flags);
  CGEventSetType(e, kCGEventFlagsChanged);
  return e;
}

inline constexpr CGEventMask kKeyDownMask = CGEventMaskBit(kCGEventKeyDown);
