#pragma once
// Appending to a text file that several threads and several processes write at once
// and that is cut to its newest part when it grows too large.
//
// Every append opens the file with O_APPEND, takes an exclusive advisory lock on it and
// makes sure the path still names the locked file (a cut elsewhere may have replaced it)
// before it writes. A cut writes the kept tail and the new line to a temporary file and
// renames it over the old one under the lock, so a crash halfway never empties the file.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace trelliq {

class LogFile final {
 public:
  LogFile() = delete;

  /// Appends `text` to the file at `path`. When the file was larger than `cutAbove`
  /// bytes, it first keeps only its last `keep` bytes (moved forward to the next UTF-8
  /// character boundary). A missing file, and a missing parent folder, are created; a
  /// file that exists but cannot be opened or sought to its end is left alone. Where no
  /// lock can be had, the text is still appended. Answers whether `text` reached the file.
  /// Any thread, any process.
  static bool append(const std::string& path, std::string_view text, std::uint64_t cutAbove, std::uint64_t keep);

  /// Where the first whole UTF-8 character of `bytes` begins: past at most three leading
  /// continuation bytes, so a kept tail never starts inside a character.
  static std::size_t characterStart(const std::vector<std::uint8_t>& bytes);
};

}  // namespace trelliq
