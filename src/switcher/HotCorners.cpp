#include "switcher/HotCorners.h"

#include <cmath>
#include <utility>

#include "platform/AppKitWindows.h"
#include "platform/CFRunLoop.h"
#include "switcher/Switcher.h"

namespace trelliq {

HotCorners::HotCorners(Open open) : open_(std::move(open)) {
  if (!open_) open_ = [](const NSScreen& screen) { Switcher::shared().openFromCorner(screen); };
}

HotCorners::~HotCorners() { stop(); }

HotCorners& HotCorners::shared() {
  // Never destroyed: its tap may still be on the main run loop while the process ends.
  static HotCorners* corners = new HotCorners();
  return *corners;
}

void HotCorners::start() {
  if (tap_) return;
  std::weak_ptr<int> life = life_.watch();
  CGEventTapCallBack callback = [this, life](CGEventTapProxy, CGEventType type, CGEventRef event, void*) -> CGEventRef {
    // A move that was on its way when the tap stopped is not acted on.
    if (!life.lock() || !tap_) return event;
    if (type == kCGEventTapDisabledByTimeout || type == kCGEventTapDisabledByUserInput) {
      if (tap_) CGEventTapEnable(tap_, true);
    } else if (type == kCGEventMouseMoved) {
      moved();
    }
    return event;
  };
  tap_ = CGEventTapCreate(kCGSessionEventTap, kCGTailAppendEventTap, kCGEventTapOptionListenOnly,
                          CGEventMaskBit(kCGEventMouseMoved), std::move(callback), nullptr);
  if (!tap_) return;
  CFRunLoopAddSource(CFRunLoopGetMain(), CFMachPortCreateRunLoopSource(kCFAllocatorDefault, tap_, 0),
                     kCFRunLoopCommonModes);
  CGEventTapEnable(tap_, true);
}

void HotCorners::stop() {
  if (tap_) {
    CGEventTapEnable(tap_, false);
    CFMachPortInvalidate(tap_);
    tap_ = nullptr;
  }
  pending_.cancel();
  pending_ = {};
  armed_ = true;
}

void HotCorners::moved() {
  const auto corners = Settings::hotCorners();
  if (!corners.empty() && screen(NSEvent::mouseLocation(), corners)) {
    if (armed_ && !pending_) {
      std::weak_ptr<int> life = life_.watch();
      pending_ = platform::mainQueue().asyncAfter(dwell, [this, life] {
        if (life.lock()) check();
      });
    }
    return;
  }
  armed_ = true;
  pending_.cancel();
  pending_ = {};
}

// The dwell has passed: fires only when the pointer is still in a corner.
void HotCorners::check() {
  pending_ = {};
  const auto screen = HotCorners::screen(NSEvent::mouseLocation(), Settings::hotCorners());
  if (!screen) return;
  armed_ = false;
  open_(*screen);
}

std::optional<NSScreen> HotCorners::screen(CGPoint point, const std::set<Settings::HotCorner>& corners) {
  for (const NSScreen& screen : NSScreen::screens()) {
    const CGRect frame = screen.frame();
    for (const Settings::HotCorner corner : corners) {
      const double x = corner.isLeft() ? frame.minX() : frame.maxX();
      const double y = corner.isTop() ? frame.maxY() : frame.minY();
      if (std::abs(point.x - x) <= reach && std::abs(point.y - y) <= reach) return screen;
    }
  }
  return std::nullopt;
}

}  // namespace trelliq
