#pragma once
// What the self-test modes share: letting time pass with or without the main run loop,
// posting keys as a user would type them, one-line descriptions of the front
// application, a screenshot of every display, and the report formats. Everything runs on
// the main thread and keeps no state between calls.
//
// Time works with either installed clock. Under the running program's clock the main run
// loop is the Qt event loop and a sleep blocks the thread; under a VirtualClock (tests)
// the same calls move virtual time, so a mode runs end to end without real waiting.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/AppKitWindows.h"
#include "platform/CGEvent.h"

namespace trelliq {

class Toolkit final {
 public:
  Toolkit() = delete;

  // ---- Time -----------------------------------------------------------------------------
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

  // ---- Keys -----------------------------------------------------------------------------
  /// Posts one keyboard event at the HID tap with exactly `flags`, typed as flags-changed
  /// when `modifier`; then `pump(0.05)`. Nothing (and no wait) when no event can be made.
  static void key(CGKeyCode code, bool down, CGEventFlags flags, bool modifier);
  /// The same event without the run loop afterwards; false when none could be made.
  static bool post(CGKeyCode code, bool down, CGEventFlags flags, bool modifier);

  // ---- The desk -------------------------------------------------------------------------
  /// The current Spaces, ascending, as "[1, 2]".
  static std::string spaces();
  /// The frontmost application's localized name; `missing` without one or without a name.
  static std::string frontName(const std::string& missing = "?");
  /// "front <name> focused window <id> <note>": the focused window's number ("-" when
  /// unknown) and "main=1"/"main=0" from its accessibility element (empty when unreadable).
  static std::string state();
  /// "front <name>, we're active <bool>, window key <bool>" for the program's own window.
  static std::string state(const NSApplication& app, const NSWindow& window);
  /// What a screenshot of every display came to: the pictures written, and whether a
  /// picture that was taken could not be written (said on standard error already).
  struct Shots {
    std::size_t written = 0;
    bool unwritable = false;
  };
  /// Writes one PNG per display: the one under the pointer to `path`, the others to `path`
  /// with ".png" turned into "-display<k>.png" (k: left-to-right position, 9 when unknown).
  /// Returns when every capture is written or has failed. A display that cannot be
  /// captured is skipped without a word; a picture that cannot be written is reported.
  static Shots debugScreenshot(const std::string& path);

  // ---- Reports --------------------------------------------------------------------------
  static std::string text(bool value) { return value ? "true" : "false"; }
  /// "[1, 2]", "[]" when empty.
  static std::string list(const std::vector<std::int64_t>& values);
  /// Lines joined with "\n", written as UTF-8 and atomically. Each line is made one line
  /// first (Diagnostics::outside), so a name or title from outside cannot forge a line or
  /// reach the terminal that shows the file. False, after saying so on standard error,
  /// when the file cannot be written.
  static bool write(const std::string& path, const std::vector<std::string>& lines);
  /// Bytes (a picture) written atomically to `path`; false, after saying so, on failure.
  static bool save(const std::string& path, const std::vector<std::uint8_t>& bytes);
  /// Says on standard error that a mode produced no output and why; the exit status for it.
  static int failed(const std::string& why);
  /// The exit status of a mode whose outputs were all written (0) or not (1).
  static int status(bool written) { return written ? 0 : 1; }
};

}  // namespace trelliq
