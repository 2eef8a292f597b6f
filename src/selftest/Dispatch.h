#pragma once
// The self-test modes the command line can select before the program starts normally.
// A flag counts only as a whole argument, at its first position; the mode runs only
// when the arguments it needs follow the flag and parse. Flags are examined in a fixed
// order, so a flag skipped for missing arguments does not stop a later one.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace trelliq {

/// One mode: its flag, how many arguments must follow it, what must parse among them,
/// and the mode itself. `run` gets the whole argument list and the flag's position.
struct SelfTestMode {
  std::string flag;
  std::size_t arguments = 0;
  /// Whether the arguments after position `at` are acceptable; none means anything is.
  std::function<bool(const std::vector<std::string>& args, std::size_t at)> check;
  /// Null while the mode is not part of the program; such a flag is never selected.
  std::function<void(const std::vector<std::string>& args, std::size_t at)> run;
};

/// The mode `args` selects from `modes` (examined in order) and the flag's position.
struct SelectedMode {
  std::size_t mode = 0;
  std::size_t at = 0;
  friend bool operator==(const SelectedMode&, const SelectedMode&) = default;
};
std::optional<SelectedMode> selectSelfTest(const std::vector<std::string>& args,
                                           const std::vector<SelfTestMode>& modes);

/// The program's modes, in the order their flags are examined.
const std::vector<SelfTestMode>& selfTestModes();

/// Runs the mode the command line selects and answers its exit status (0); -1 when no
/// mode was selected and the program should start normally. `args` begins with the
/// program path. Main thread.
int dispatchSelfTests(const std::vector<std::string>& args);

/// Decimal text of a signed 64-bit integer: an optional sign and digits only, in range.
std::optional<std::int64_t> parseInteger(const std::string& text);
/// Decimal text of a window number (unsigned 32-bit), with the same rules.
std::optional<std::uint32_t> parseWindowNumber(const std::string& text);
/// A decimal number in plain or exponent notation ("1.5", "-2", "3e-2"); nothing for
/// anything else, including blanks, hexadecimal, infinities and NaN.
std::optional<double> parseDecimal(const std::string& text);

}  // namespace trelliq
