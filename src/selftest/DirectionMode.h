#pragma once
// "--direction-test": which way the picture of a display slides while the system changes
// its Space, seen from a stream of tiny grey samples of the display taken beside the
// change. The change is a direct jump of this process, or another running copy's switcher
// driven by ⌘ and ⌥ taps. One line per run is appended to a log. Main thread; the sampler
// runs beside it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "selftest/Dispatch.h"

namespace trelliq {

class DirectionMode final {
 public:
  DirectionMode() = delete;

  /// This file's rows of the command-line table, in the table's order.
  static std::vector<SelfTestMode> modes();

  static constexpr int sampleWidth = 192, sampleHeight = 108;

  /// One sample: milliseconds since the run's start and 192 × 108 grey bytes, row by row.
  struct Frame {
    double t = 0;
    std::vector<std::uint8_t> pixels;
  };

  /// Where the run starts and how it changes Space (`FROM`, `TAPS`).
  struct How {
    std::optional<std::int64_t> from;
    std::optional<std::int64_t> taps;  // the copy's switcher with this many ⌥ taps; else a jump
    static How fromEnvironment();
  };

  /// Goes to `space` (from `FROM` first when given), samples the display meanwhile and
  /// appends "from … to <space> (<n> along): <verdict>, shifts …; fired …, landed …, <k>
  /// samples, now […], back […]" to `out`; then goes to `back` when it is another Space.
  /// `back` absent means no return.
  static int run(const std::string& out, std::int64_t space, std::optional<std::int64_t> back, const How& how);
  /// The back argument (an integer): absent gives the current Space of `space`'s display.
  static std::optional<std::int64_t> back(std::int64_t space, const std::optional<std::string>& argument);

  /// The mean absolute difference of two samples over every other row and column.
  static double cost(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);
  /// The sideways shift, −90 to 90 samples, that best maps `previous` onto `current`
  /// (positive: the content moved right); the lowest among equals.
  static int bestShift(const std::vector<std::uint8_t>& current, const std::vector<std::uint8_t>& previous);
  /// The sum of the shifts between changed neighbours and each as "<t>ms:<s>".
  struct Motion {
    int sum = 0;
    std::vector<std::string> shifts;
  };
  static Motion analyse(const std::vector<Frame>& frames);
};

}  // namespace trelliq
