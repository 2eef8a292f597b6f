#pragma once
// What the self-test modes share: letting time pass with or without the main run loop,
// posting keys as a user would type them, bringing a window forward on its Space, the
// windows another running copy of the program shows, one-line descriptions of the front
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
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/AppKitWindows.h"
#include "platform/CGEvent.h"
#include "platform/CGWindow.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {

/// The virtual key codes (US keyboard) and flag masks the modes type with.
namespace keys {
inline constexpr CGKeyCode command = 55, tab = 48, escape = 53, option = 58, shift = 56, fn = 63, grave = 50, one = 18,
                           two = 19, x = 7, down = 125, up = 126;
inline constexpr CGEventFlags commandFlag = 0x100000, commandOption = 0x180000, commandShift = 0x120000,
                              commandFn = 0x900000, arrows = 0xb00000;
/// Whether a posted key goes down or comes up, and whether it is typed as a modifier
/// (a flags change) or as an ordinary key.
enum class Stroke { press, release };
enum class KeyKind { plain, modifier };
inline constexpr Stroke press = Stroke::press, release = Stroke::release;
inline constexpr KeyKind plain = KeyKind::plain, modifier = KeyKind::modifier;
}  // namespace keys

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
  /// for a `keys::modifier`; then `pump(0.05)`. Nothing (and no wait) when no event can be made.
  static void key(CGKeyCode code, keys::Stroke stroke, CGEventFlags flags, keys::KeyKind kind);
  /// The same event without the run loop afterwards; false when none could be made.
  static bool post(CGKeyCode code, keys::Stroke stroke, CGEventFlags flags, keys::KeyKind kind);
  /// A key typed while ⌘ is held: down, then up, both ordinary key events with the ⌘ flag,
  /// each followed by 0.05 s of run loop.
  static void press(CGKeyCode code);
  /// A quick tap of a modifier while ⌘ is held: its flags-changed down with `flags`, then
  /// its release back to ⌘ alone, each followed by 0.05 s of run loop.
  static void tapUnderCommand(CGKeyCode code, CGEventFlags flags);
  /// ⌘ down, then ⇥ down and up under it: a switcher opens on the next app.
  static void commandTab();
  /// ⌘ down with a quick ⌥ tap under it: the Spaces session of another copy's switcher.
  static void commandOptionTap();
  /// esc down and up under ⌘, then ⌘ up: an open session ends without a switch.
  static void escapeAndLetGo();
  /// A mouse-moved event (no button) at `point`, global top-left, posted at the HID tap.
  /// False when none could be made.
  static bool movePointer(CGPoint point);

  // ---- Windows and their Spaces ---------------------------------------------------------
  /// The running application owning `window` (from the window list) and the window as a
  /// bare value (number and pid only); nothing when the list does not know it or its
  /// owner no longer runs.
  static std::optional<std::pair<AppInfo, WindowInfo>> owner(std::uint32_t window);
  /// Starts the jump to the first Space of `window` and runs the main run loop in 0.01 s
  /// slices until it is over. False, at once, when no jump was needed or possible.
  static bool jumpToSpaceOf(std::uint32_t window);
  /// Brings `window` forward the way a user would: to its Space first, then `activate`,
  /// then 1.0 s of run loop. Nothing at all when `owner` finds nothing.
  static void go(std::uint32_t window);

  // ---- The other copy -------------------------------------------------------------------
  /// One entry of the window list as the modes read it; a missing field stays empty.
  struct Listed {
    std::optional<std::uint32_t> number;
    std::optional<std::string> owner;
    std::optional<std::int32_t> pid;
    std::optional<std::int64_t> layer;
    std::string layerText = "?";  // as the list holds it
    std::string alphaText = "?";
    std::optional<CGRect> bounds;  // nothing when missing or unreadable
    std::string title;
    bool onScreen = false;

    /// Of another process than this one (an entry without a process id counts).
    bool foreign() const;
    /// Of another running copy of the program: owned by "Trelliq" and foreign.
    bool otherCopy() const;
  };
  /// The window list with `option`, front to back; [] when it cannot be read.
  static std::vector<Listed> windowList(CGWindowListOption option, std::uint32_t relativeTo = 0);
  /// The other copy's on-screen windows: "layer <layer> bounds (<x>, <y>, <w>, <h>)".
  static std::vector<std::string> ours();
  /// Another process's on-screen windows of `owner`: "layer <layer> <title> (<x>, …)".
  static std::vector<std::string> onScreen(const std::string& owner);
  /// The numbers of another process's on-screen windows of `owner` above layer 0.
  static std::set<std::uint32_t> windows(const std::string& owner);
  /// How many on-screen windows of `owner`, in another process, are at `layer`.
  static std::size_t count(const std::string& owner, std::int64_t layer);
  /// Whether a line of `ours` or `onScreen` stands for a switcher panel (layer 101).
  static bool isPanel(const std::string& line) { return line.starts_with("layer 101"); }

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
    /// The exit status of `mode` (its flag) that took these: 1 when a picture could not be
    /// written, `failed` (said on standard error) when no display could be captured, else 0.
    int status(const std::string& mode) const;
  };
  /// Writes one PNG per display: the one under the pointer to `path`, the others to `path`
  /// with ".png" turned into "-display<k>.png" (k: left-to-right position, 9 when unknown).
  /// Returns when every capture is written or has failed. A display that cannot be
  /// captured is skipped without a word; a picture that cannot be written is reported.
  static Shots debugScreenshot(const std::string& path);
  /// `debugScreenshot`, answering false only when a picture that was taken could not be written.
  static bool writeScreenshot(const std::string& path) { return !debugScreenshot(path).unwritable; }

  // ---- Arguments ------------------------------------------------------------------------
  /// An environment variable's value; nothing when it is not set.
  static std::optional<std::string> variable(const char* name);
  /// The items of a comma-separated list, empty ones dropped.
  static std::vector<std::string> items(const std::string& list);

  // ---- Reports --------------------------------------------------------------------------
  static std::string text(bool value) { return value ? "true" : "false"; }
  /// "[1, 2]", "[]" when empty.
  static std::string list(const std::vector<std::int64_t>& values);
  /// A number truncated toward zero and written out whole, however large ("-10000000000000000000");
  /// "0" for infinities and NaN.
  static std::string whole(double value);
  /// "[\"a\", \"b\"]", "[]" when empty.
  static std::string strings(const std::vector<std::string>& values);
  /// Lines joined with "\n", written as UTF-8 and atomically. Each line is made one line
  /// first (Diagnostics::escapeForeign), so a name or title from outside cannot forge a line or
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
