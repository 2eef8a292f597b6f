#pragma once
// The diagnostics log, the one way every part of the program records what happened:
// "Library/Logs/Trelliq.log" in the home folder, one "HH:mm:ss.SSS message" line per
// event, cut to its newest part when it grows too large. Also the optional diagnostic
// screenshots, which share its time stamp and its folder (DiagnosticScreenshots.cpp).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace trelliq {

class Diagnostics final {
 public:
  Diagnostics() = delete;

  /// Size above which the log is cut before the next line is appended.
  static constexpr std::uint64_t limit = 0x80000;
  /// How many screenshot stamps the screenshot folder keeps.
  static constexpr int keepShots = 12;

  /// Appends the current time, a blank, `message` and a line feed. Callable from any
  /// thread and from several copies of the program at once; lines never overwrite each
  /// other. Failures are swallowed: the line is then lost. `message` is written as is,
  /// so text from outside the program must pass through `escapeForeign` first.
  static void log(std::string_view message);

  /// The log file, under the current home folder. Looked up on every call rather than
  /// once, because the home folder can change under a running process (tests move it
  /// between scenes) and a remembered path would send lines to the old place.
  static std::string url();

  /// `date` (seconds since 1970) as "HH:mm:ss.SSS" in the local time zone: 24-hour
  /// clock, milliseconds truncated, no date.
  static std::string stamp(double date);

  /// Text from outside the program (app names, window titles, error descriptions) made
  /// safe to put inside one log line: line breaks, tabs, other control characters and the
  /// bidirectional controls become visible escapes (\n, \r, \t, \u{1B}, \u{202E}), so they
  /// cannot start a forged line or reorder what follows. The one escaping function of the
  /// program (platform::Unicode::oneLine) under its usual name.
  static std::string escapeForeign(std::string_view text);

  /// The screenshot folder: "Trelliq" beside the log file.
  static std::string shots();

  /// When the user has stored true under "diagnosticScreenshots" and screen capture is
  /// allowed, starts capturing every display in the background and returns at once with
  /// the stamp that names the files; otherwise does nothing and answers nothing. Main thread.
  static std::optional<std::string> screenshot();
};

}  // namespace trelliq
