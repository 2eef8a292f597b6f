#include "selftest/ModeClock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>
#include <thread>

#include "platform/AppKit.h"
#include "platform/AppKitWindows.h"
#include "platform/Clock.h"
#include "platform/VirtualClock.h"

namespace trelliq {

namespace {

platform::VirtualClock* virtualClock() { return dynamic_cast<platform::VirtualClock*>(&platform::clock()); }

// The Qt event loop for a while; without an application object there is no run loop to
// turn, and the time just passes.
void runEventLoop(double seconds) {
  const auto ms = static_cast<int>(std::ceil(seconds * 1000));
  if (!QCoreApplication::instance()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return;
  }
  QEventLoop loop;
  QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace

void ModeClock::pump(double seconds) {
  if (!(seconds > 0)) return;
  if (platform::VirtualClock* v = virtualClock()) {
    v->advance(seconds);
  } else {
    runEventLoop(seconds);
  }
}

void ModeClock::pumpEvents(double seconds, double step) {
  if (!(seconds > 0)) return;
  const double end = ModeClock::seconds() + seconds;
  NSApplication& app = NSApp();
  for (;;) {
    while (std::optional<NSEvent> event = app.nextEvent()) app.sendEvent(*event);
    const double left = end - ModeClock::seconds();
    if (left <= 0) break;
    pump(std::min(step, left));
  }
}

void ModeClock::sleep(double seconds) {
  if (!(seconds > 0)) return;
  if (platform::VirtualClock* v = virtualClock()) {
    v->advanceExcept(platform::mainQueue().label(), seconds);
  } else {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  }
}

bool ModeClock::pumpUntil(const std::function<bool()>& done, double slice, double limit) {
  const double start = seconds();
  while (!done()) {
    if (seconds() - start >= limit) return false;
    pump(slice);
  }
  return true;
}

double ModeClock::seconds() { return platform::clock().monotonicSeconds(); }

std::int64_t ModeClock::millisecondsSince(double start) {
  return static_cast<std::int64_t>(std::trunc((seconds() - start) * 1000));
}

}  // namespace trelliq
