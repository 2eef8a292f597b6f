#pragma once
// The decisions behind the diagnostic screenshots (Diagnostics::screenshot): which number
// each display's file carries and which old captures go. Pure functions of their inputs.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace trelliq {

class DiagnosticScreenshots final {
 public:
  DiagnosticScreenshots() = delete;

  /// A file in the screenshot folder and its last modification time (seconds since 1970).
  struct File {
    std::string name;
    double modified = 0;
  };

  /// The file number of each of `captured` (display numbers, in capture order): its
  /// position in `leftToRight` (the screens' display numbers sorted by left edge). A
  /// display that is not among the screens gets the first free number from 9 on, so two
  /// of them never write the same file.
  static std::vector<int> numbers(const std::vector<std::uint32_t>& leftToRight,
                                  const std::vector<std::uint32_t>& captured);

  /// stamp + "-display" + number + ".png".
  static std::string fileName(const std::string& stamp, int number);

  /// A capture's file as written, or the temporary file an interrupted write leaves.
  enum class CaptureFile { written, temporary };

  /// Whether `name` is one the program gives its captures ("HH-mm-ss.SSS-displayN.png"),
  /// or, for `temporary`, what an interrupted write of one leaves (".NAME.tmp-XXXXXX").
  /// Pruning touches nothing else: the folder may hold the user's own pictures.
  static bool isCaptureName(std::string_view name, CaptureFile file = CaptureFile::written);

  /// The names to delete so that only the newest `keep` stamps remain. Every ".png" name
  /// has a stamp, the part before its first "-display" (the whole name when it has none),
  /// and a stamp's age is the newest modification time among its files, because stamps
  /// carry no date and sort wrongly after midnight. Of the stamps beyond the newest `keep`,
  /// only the files named like captures (`isCaptureName`) are named: a stray picture counts
  /// towards `keep` but is never deleted. Names not ending in ".png" are ignored.
  static std::vector<std::string> expired(const std::vector<File>& files, int keep);
};

}  // namespace trelliq
