#pragma once
// The world host's log: its standard error (Library/Logs/simmac.log when a program started
// it), and its last lines in memory. Every line is made one line by the one escaping
// function, whatever outside text it carries (a home path, a program's method name), and
// goes out in one write under one lock, so lines of different threads never mix. What a
// single program can make the host say is bounded: after a few lines, the rest of its run
// is counted and told as "… and N more".

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace host {

/// Writes "simmac: TEXT" and a line feed in one write, TEXT escaped to one line and cut
/// to kMaxLogLineBytes: to the log file when one was set, else to standard error. A line
/// that cannot be written (a full disk, the file-size limit) is counted, and the next one
/// written says how many were lost. Any thread; lines of different threads never interleave.
void writeLogLine(std::string_view text);
inline constexpr std::size_t kMaxLogLineBytes = 2000;
/// From now on lines go to the file at `path`, which is cut as the program's own log is
/// (platform::LogFile); standard error, when it is that file, follows it across a cut.
/// Empty: back to standard error.
void setLogFile(const std::string& path);

/// Lets the first lines of one source through and holds back the rest, counting them.
class LineBudget {
 public:
  explicit LineBudget(std::uint32_t allowed) : allowed_(allowed) {}
  /// Whether a line may be written now. When not, it is counted as held back, and
  /// `soFar` is set to the count when that has just reached 1,000, 10,000, … (the moments
  /// a source that keeps going is worth a line of its own), else to 0. Thread-safe.
  bool admit(std::uint64_t& soFar);
  /// How many lines were held back since the last call; the count starts again.
  std::uint64_t takeHeldBack();

 private:
  mutable std::mutex mutex_;
  const std::uint32_t allowed_;
  std::uint32_t used_ = 0;
  std::uint64_t heldBack_ = 0;
};

class HostLog {
 public:
  /// How many of the last lines are kept in memory.
  static constexpr std::size_t kKept = 512;

  /// Writes the line and keeps it. Any thread.
  void write(const std::string& line);
  /// Writes the line when `budget` lets it through; else counts it, and now and then says
  /// how many of `who`'s lines were held back so far.
  void write(LineBudget& budget, const std::string& who, const std::string& line);
  /// Says how many of `who`'s lines were held back, if any (when the source is done).
  void summarize(LineBudget& budget, const std::string& who);
  /// The last lines written, oldest first, as given (before escaping).
  std::vector<std::string> lines() const;

 private:
  mutable std::mutex mutex_;
  std::deque<std::string> kept_;
};

}  // namespace host
