#pragma once
// Appending to a text file that several threads and several processes write at once
// and that is cut to its newest part when it grows too large.
//
// Every append opens the file with O_APPEND, takes an exclusive advisory lock on it and
// makes sure the path still names the locked file (a cut elsewhere may have replaced it)
// before it writes. A cut writes the kept tail and the new line to a temporary file and
// renames it over the old one under the lock, so a crash halfway never empties the file;
// the temporary file of a cut that was interrupted is removed under the lock later.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class LogFile final {
 public:
  LogFile() = delete;

  /// Where the logs of the program and of its world host are cut: above this size, to
  /// the whole lines among their last kKeptByCut bytes (a cut once per quarter megabyte).
  static constexpr std::uint64_t kCutAbove = 0x80000;
  static constexpr std::uint64_t kKeptByCut = kCutAbove / 2;

  /// Appends `text` (whole lines) to the file at `path`, whole or not at all. When the
  /// file was larger than `cutAbove` bytes, it first keeps only the whole lines among its
  /// last `keep` bytes. A missing file, and a missing parent folder, are created, and a
  /// symbolic link at the path is replaced by a plain file (never written through); a file
  /// that exists but cannot be opened or sought to its end, or is no plain file (a pipe, a
  /// folder, a device), is left alone and the text dropped. Where no lock can be had, the
  /// text is still appended. A writer never gives up because others cut the file meanwhile.
  /// Answers whether `text` reached the file. Any thread, any process.
  static bool append(const std::string& path, std::string_view text, std::uint64_t cutAbove, std::uint64_t keep);

  /// Where the first whole line of `bytes` begins: at once when `bytes` starts a line
  /// (`afterFirstByte` false), else past the first line feed, or at the end when there is
  /// none. With `afterFirstByte`, `bytes` holds the byte before the kept part first.
  static std::size_t lineStart(const std::vector<std::uint8_t>& bytes, bool afterFirstByte);
};

}  // namespace platform
