#pragma once
// What the self-test modes read from their arguments and write out: environment values and
// lists, the report formats, atomic report and picture files, a screenshot of every
// display, and the exit statuses. Everything runs on the main thread and keeps no state
// between calls.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace trelliq {

class ModeReport final {
 public:
  ModeReport() = delete;

  // ---- Arguments ------------------------------------------------------------------------
  /// An environment variable's value; nothing when it is not set.
  static std::optional<std::string> variable(const char* name);
  /// The items of a comma-separated list, empty ones dropped.
  static std::vector<std::string> items(const std::string& list);

  // ---- Formats --------------------------------------------------------------------------
  static std::string text(bool value) { return value ? "true" : "false"; }
  /// "[1, 2]", "[]" when empty.
  static std::string list(const std::vector<std::int64_t>& values);
  /// A number truncated toward zero and written out whole, however large ("-10000000000000000000");
  /// "0" for infinities and NaN.
  static std::string whole(double value);
  /// "[\"a\", \"b\"]", "[]" when empty.
  static std::string strings(const std::vector<std::string>& values);

  // ---- Files ----------------------------------------------------------------------------
  /// Lines joined with "\n", written as UTF-8 and atomically. Each line is made one line
  /// first (Diagnostics::escapeForeign), so a name or title from outside cannot forge a line or
  /// reach the terminal that shows the file. False, after saying so on standard error,
  /// when the file cannot be written, or when the system refused a call before (the
  /// report would rest on its empty answer). `save` likewise.
  static bool write(const std::string& path, const std::vector<std::string>& lines);
  /// Bytes (a picture) written atomically to `path`; false, after saying so, on failure.
  static bool save(const std::string& path, const std::vector<std::uint8_t>& bytes);

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
  /// captured is skipped without a word; a picture that cannot be written is reported, and
  /// nothing more goes to a pipe whose reader left.
  static Shots debugScreenshot(const std::string& path);
  /// `debugScreenshot`, answering false only when a picture that was taken could not be written.
  static bool writeScreenshot(const std::string& path) { return !debugScreenshot(path).unwritable; }

  // ---- Exit statuses --------------------------------------------------------------------
  /// Says on standard error that a mode produced no output and why; the exit status for it.
  static int failed(const std::string& why);
  /// The exit status of a mode whose outputs were all written (0) or not (1).
  static int status(bool written) { return written ? 0 : 1; }
  /// The exit status of `mode` (its flag) that ended with `status`: when the system refused
  /// a call meanwhile, a failure (1 for a mode that answered 0), and the refusal is said on
  /// standard error unless it was already. Reports and pictures are never written once a
  /// call was refused.
  static int settle(const std::string& mode, int status);
};

}  // namespace trelliq
