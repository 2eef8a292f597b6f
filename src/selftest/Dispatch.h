#pragma once
// The command line: the self-test mode it selects, or the normal start. A start without a
// mode flag starts the menu-bar program; anything else must be exactly one mode flag with
// its arguments, plus the program's own options. A command line that is not (an unknown
// or mistyped argument, a mode without its arguments or with ones that do not parse, a
// second mode or "--scenario") is refused with a short usage, so it never starts the
// program that takes ⌘⇥ over by mistake.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace trelliq {

/// One mode: its flag, the arguments it takes, what must parse among them, and the mode.
/// Each mode file lists its own (`modes()` of its class); `selfTestModes` joins them.
struct SelfTestMode {
  using Args = std::vector<std::string>;
  using Check = std::function<bool(const Args& args, std::size_t at)>;

  std::string flag;
  /// The arguments as the usage shows them: required ones as words ("out w1 w2"), then
  /// optional ones in brackets ("[delay] [topic]").
  std::string arguments;
  /// Whether the arguments after position `at` are acceptable; none means anything is.
  Check check;
  /// The mode, answering its exit status.
  std::function<int(const Args& args, std::size_t at)> run;

  /// How many arguments must follow the flag, and how many more it may take.
  std::size_t required() const;
  std::size_t optional() const;
};

/// The mode a command line selects (by its index in the table) and the flag's position.
struct SelectedMode {
  std::size_t mode = 0;
  std::size_t at = 0;
  friend bool operator==(const SelectedMode&, const SelectedMode&) = default;
};

/// What a command line asks for: a mode, or (neither) the normal start; or a problem.
struct CommandLine {
  std::optional<SelectedMode> mode;
  std::size_t end = 0;                 // with a mode: one past its last argument
  std::optional<std::string> problem;  // one line, for standard error
};

/// Reads `args` (the program path first) against `modes`. Besides one mode flag with its
/// arguments, it accepts the program's own options: "--scenario FILE" (once),
/// "--show-preferences", "--show-permissions" and "--screen-recording-check". A mode's
/// required arguments are taken as they are; its optional ones end at the next argument
/// that starts with "--".
CommandLine readCommandLine(const std::vector<std::string>& args, const std::vector<SelfTestMode>& modes);

/// The short usage for `modes`, several lines ending in a line feed.
std::string usage(const std::vector<SelfTestMode>& modes);

/// The program's modes.
const std::vector<SelfTestMode>& selfTestModes();

/// Runs the mode the command line selects and answers its exit status; -1 when it selects
/// none and the program should start normally. A command line that cannot be read prints
/// the problem and the usage to `errors` and answers 2. `args` begins with the program path.
/// Main thread.
int dispatchSelfTests(const std::vector<std::string>& args, std::ostream& errors);
int dispatchSelfTests(const std::vector<std::string>& args);

/// Checks and readers of a mode's arguments; `at` is the flag's position in `args`, and
/// argument `k` is the one `k` places after the flag.
namespace modeArguments {
/// The arguments at `offsets` are window numbers.
SelfTestMode::Check windowNumbersAt(std::vector<std::size_t> offsets);
/// The optional argument `k` parses with `parses` when it is given. Optional arguments
/// begin at `first` and end at the first that starts with "--".
SelfTestMode::Check optionalParsesAt(std::size_t first, std::size_t k, std::function<bool(const std::string&)> parses);
/// Both checks pass.
SelfTestMode::Check both(SelfTestMode::Check a, SelfTestMode::Check b);
/// Argument `k` is an integer Space that the window server knows (it has a screen).
SelfTestMode::Check knownSpaceAt(std::size_t k);
/// Argument `k`, when there is one.
std::optional<std::string> optionalAt(const SelfTestMode::Args& args, std::size_t at, std::size_t k);
bool isWindowNumber(const std::string& text);
bool isInteger(const std::string& text);
bool isDecimal(const std::string& text);
}  // namespace modeArguments

/// Decimal text of a signed 64-bit integer: an optional sign and digits only, in range.
std::optional<std::int64_t> parseInteger(const std::string& text);
/// Decimal text of a window number (unsigned 32-bit), with the same rules.
std::optional<std::uint32_t> parseWindowNumber(const std::string& text);
/// A decimal number in plain or exponent notation ("1.5", "-2", "3e-2"); nothing for
/// anything else, including blanks, hexadecimal, infinities and NaN.
std::optional<double> parseDecimal(const std::string& text);

}  // namespace trelliq
