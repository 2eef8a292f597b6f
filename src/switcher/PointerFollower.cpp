#include "switcher/PointerFollower.h"

#include <cinttypes>
#include <cstdio>
#include <string>
#include <utility>

#include "platform/AppKit.h"
#include "settings/Diagnostics.h"
#include "switcher/SwitcherTiming.h"
#include "switcher/model/OpeningDisplay.h"

namespace trelliq {

namespace {

std::string hex(CGEventFlags flags) {
  char text[24];
  std::snprintf(text, sizeof text, "%" PRIx64, static_cast<std::uint64_t>(flags));
  return text;
}

}  // namespace

PointerFollower::PointerFollower(SwitcherModel& model, std::function<bool()> sessionActive)
    : model_(model), sessionActive_(std::move(sessionActive)) {}

PointerFollower::~PointerFollower() { pointerTimer.invalidate(); }

void PointerFollower::trackPointer() {
  lastPointerLocation = NSEvent::mouseLocation();
  pointerTimer.invalidate();
  pointerTimer = platform::clock().scheduleTimer(platform::mainQueue(), SwitcherTiming::pointerInterval, true,
                                                 [this, life = life_.watch()] {
                                                   if (life.lock()) pointerTick();
                                                 });
}

void PointerFollower::stop() {
  pointerTimer.invalidate();
  pointerTimer = {};
}

void PointerFollower::pointerTick() {
  // While a name is edited or just saved the pointer belongs to the name field.
  if (!sessionActive_() || model_.renaming() || model_.justNamed()) return;
  const CGPoint location = NSEvent::mouseLocation();
  if (lastPointerLocation && *lastPointerLocation == location) return;
  lastPointerLocation = location;
  const auto d = OpeningDisplay::displayAt(location, model_.workspace());
  if (!d) return;
  if (*d != model_.focused() && lastFn) {
    const double since = platform::now() - *lastFn;
    if (since < SwitcherTiming::fnPointerWindow) {
      Diagnostics::log("  pointer moved: steering display " + std::to_string(*d) + " again, " +
                       std::to_string(static_cast<long long>(since * 1000)) + "ms after fn");
    }
  }
  model_.focus(*d);
}

void PointerFollower::logFn(CGEventFlags flags, CGEventFlags before) {
  lastFn = platform::now();
  const int steered = model_.focused();
  Diagnostics::log("fn down (flags 0x" + hex(flags) + ", before 0x" + hex(before) + ") steering display " +
                   std::to_string(steered) + " of " + std::to_string(model_.workspace().displays.size()));
  platform::mainQueue().asyncAfter(SwitcherTiming::fnLogDelay, [this, life = life_.watch(), steered] {
    if (!life.lock() || !sessionActive_()) return;
    const int now = model_.focused();
    Diagnostics::log("  0.5s after fn: steering display " + std::to_string(now) +
                     (now == steered ? " (didn't move)" : ""));
  });
}

}  // namespace trelliq
