#pragma once
// Time as the self-test modes let it pass: with or without the main run loop, waiting for
// a completion, and measuring. Everything runs on the main thread and keeps no state
// between calls.
//
// Time works with either installed clock. Under the running program's clock the main run
// loop is the Qt event loop and a sleep blocks the thread; under a VirtualClock (tests)
// the same calls move virtual time, so a mode runs end to end without real waiting.

#include <cstdint>
#include <functional>

namespace trelliq {

class ModeClock final {
 public:
  ModeClock() = delete;

  /// Runs the main run loop until `seconds` from now: timers, main-queue work and
  /// callbacks run meanwhile. A zero or negative interval returns at once.
  static void pump(double seconds);
  /// The event form for a process that called `finishLaunching` without running: until
  /// `seconds` from now, hands every event routed to the program to `sendEvent`, running
  /// the main run loop at most `step` seconds at a time while none waits.
  static void pumpEvents(double seconds, double step);
  /// Blocks the main thread for `seconds`: the rest of the system goes on, but nothing of
  /// this process's main queue runs.
  static void sleep(double seconds);
  /// Runs the main run loop in `slice` steps until `done` answers true; gives up after
  /// `limit` seconds (false) so a completion that never comes cannot hang the process.
  static bool pumpUntil(const std::function<bool()>& done, double slice = 0.01, double limit = 10.0);
  /// Monotonic seconds, for measuring.
  static double seconds();
  /// Whole milliseconds since `start` (monotonic seconds), truncated toward zero.
  static std::int64_t millisecondsSince(double start);
};

}  // namespace trelliq
