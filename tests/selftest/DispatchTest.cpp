// What a command line asks for: no mode (the normal start), exactly one mode with its
// arguments, or a refusal with the usage.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "selftest/Dispatch.h"
#include "support/Scene.h"

namespace trelliq {
namespace {

using Args = std::vector<std::string>;

// A small table; reading the command line alone is under test.
std::vector<SelfTestMode> table() {
  const auto run = [](const Args&, std::size_t) { return 0; };
  return {
      {"--two", "a b", {}, run},
      {"--number", "w", [](const Args& a, std::size_t at) { return parseWindowNumber(a[at + 1]).has_value(); }, run},
      {"--one", "out [x] [y]", {}, run},
  };
}

// "mode@position", "normal start", or the problem.
std::string read(const Args& args) {
  const std::vector<SelfTestMode> modes = table();
  const CommandLine line = readCommandLine(args, modes);
  if (line.problem) return "refused: " + *line.problem;
  if (!line.mode) return "normal start";
  return modes[line.mode->mode].flag + "@" + std::to_string(line.mode->at) + " to " + std::to_string(line.end);
}

TEST(Dispatch, OnlyOneWholeModeWithItsArgumentsOrNoModeAtAllIsAccepted) {
  const std::vector<std::pair<Args, std::string>> cases = {
      {{"trelliq"}, "normal start"},
      {{"trelliq", "--show-preferences", "--show-permissions"}, "normal start"},
      {{"trelliq", "--scenario", "desk.json"}, "normal start"},
      {{"trelliq", "--scenario", "desk.json", "--show-permissions"}, "normal start"},
      {{"trelliq", "--screen-recording-check"}, "normal start"},
      {{"trelliq", "--two", "a", "b"}, "--two@1 to 4"},
      {{"trelliq", "--scenario", "d.json", "--two", "a", "b", "--show-preferences"}, "--two@3 to 6"},
      // Required arguments are taken as they are, even when they look like flags.
      {{"trelliq", "--one", "--two"}, "--one@1 to 3"},
      // Optional ones end at the next flag or after their number.
      {{"trelliq", "--one", "o", "x"}, "--one@1 to 4"},
      {{"trelliq", "--one", "o", "x", "y"}, "--one@1 to 5"},
      {{"trelliq", "--one", "o", "x", "--show-permissions"}, "--one@1 to 4"},
      {{"trelliq", "--number", "12"}, "--number@1 to 3"},
      // Everything else is refused, never a normal start.
      {{"trelliq", "--one", "o", "x", "y", "z"}, "refused: unknown argument 'z'"},
      {{"trelliq", "--one", "o", "--bogus"}, "refused: unknown argument '--bogus'"},
      {{"trelliq", "--two", "a"}, "refused: --two needs a b"},
      {{"trelliq", "--one"}, "refused: --one needs out [x] [y]"},
      {{"trelliq", "--number", "x"}, "refused: --number w: arguments that do not parse"},
      {{"trelliq", "--number", "-1"}, "refused: --number w: arguments that do not parse"},
      {{"trelliq", "--one=x"}, "refused: unknown argument '--one=x'"},
      {{"trelliq", "--ONE", "y"}, "refused: unknown argument '--ONE'"},
      {{"trelliq", "-h"}, "refused: unknown argument '-h'"},
      {{"trelliq", "--help"}, "refused: unknown argument '--help'"},
      {{"trelliq", "--version"}, "refused: unknown argument '--version'"},
      {{"trelliq", "stray"}, "refused: unknown argument 'stray'"},
      {{"trelliq", "bad\nname\xe2\x80\xae"}, "refused: unknown argument 'bad\\nname\\u{202E}'"},
      {{"trelliq", "--two", "a", "b", "--two", "c", "d"}, "refused: --two after --two: one mode at a time"},
      {{"trelliq", "--one", "o", "--number", "5"}, "refused: --number after --one: one mode at a time"},
      {{"trelliq", "--scenario"}, "refused: --scenario needs a file"},
      {{"trelliq", "--scenario", "a", "--scenario", "b"}, "refused: --scenario is given twice"},
  };
  for (const auto& [args, expected] : cases) {
    std::string line;
    for (const auto& a : args) line += a + " ";
    EXPECT_EQ(read(args), expected) << line;
  }
}

TEST(Dispatch, ArgumentCountsComeFromTheUsageText) {
  const SelfTestMode mode{"--x", "out w1 w2 [how] [why]", {}, {}};
  EXPECT_EQ(mode.required(), 3u);
  EXPECT_EQ(mode.optional(), 2u);
  EXPECT_EQ((SelfTestMode{"--y", "", {}, {}}.required()), 0u);
}

// The dispatch's status and what it says on standard error.
struct Outcome {
  int status;
  std::string errors;
};
Outcome dispatch(Args args) {
  args.insert(args.begin(), "trelliq");
  std::ostringstream errors;
  const int status = dispatchSelfTests(args, errors);
  return {status, errors.str()};
}

TEST(Dispatch, AMistypedCommandLinePrintsTheUsageAndAnswersTwo) {
  for (const Args& args : std::vector<Args>{{"--dump"},
                                            {"--goto", "NaN"},
                                            {"--help"},
                                            {"-h"},
                                            {"--version"},
                                            {"--dump=out.txt"},
                                            {"--jump-test", "out", "1"},
                                            {"--dump", "a", "--dump", "b"},
                                            {"--dump", "a", "--prefs-shot", "b"},
                                            {"--self-focus-test", "out", "extra"}}) {
    const Outcome outcome = dispatch(args);
    EXPECT_EQ(outcome.status, 2) << args[0];
    EXPECT_EQ(outcome.errors.rfind("trelliq: ", 0), 0u) << outcome.errors;
    EXPECT_NE(outcome.errors.find("\nusage: trelliq [--scenario FILE]"), std::string::npos) << outcome.errors;
    EXPECT_NE(outcome.errors.find(" --dump out\n"), std::string::npos) << outcome.errors;
    EXPECT_LT(std::count(outcome.errors.begin(), outcome.errors.end(), '\n'), 20) << "a short usage";
  }
  const Outcome none = dispatch({"--show-preferences"});
  EXPECT_EQ(none.status, -1) << "the program's own options start it normally";
  EXPECT_EQ(none.errors, "");
}

TEST(Dispatch, IntegersAreASignAndDigitsInRangeAndWindowNumbersUnsigned32Bit) {
  EXPECT_EQ(parseInteger("42"), 42);
  EXPECT_EQ(parseInteger("+42"), 42);
  EXPECT_EQ(parseInteger("-42"), -42);
  EXPECT_EQ(parseInteger("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(parseInteger("-9223372036854775808"), INT64_MIN);
  for (const char* bad : {"", "+", "-", " 4", "4 ", "4x", "0x10", "1e3", "9223372036854775808", "-9223372036854775809",
                          "99999999999999999999999"}) {
    EXPECT_FALSE(parseInteger(bad)) << '"' << bad << '"';
  }

  EXPECT_EQ(parseWindowNumber("4294967295"), 4294967295u);
  EXPECT_EQ(parseWindowNumber("+7"), 7u);
  EXPECT_EQ(parseWindowNumber("-0"), 0u);
  for (const char* bad : {"4294967296", "-1", "", "7.0", "seven"}) EXPECT_FALSE(parseWindowNumber(bad)) << bad;
}

TEST(Dispatch, DecimalsTakePlainAndExponentNotation) {
  EXPECT_EQ(parseDecimal("1.5"), 1.5);
  EXPECT_EQ(parseDecimal("-2"), -2.0);
  EXPECT_EQ(parseDecimal("+.5"), 0.5);
  EXPECT_EQ(parseDecimal("5."), 5.0);
  EXPECT_EQ(parseDecimal("3e-2"), 0.03);
  EXPECT_EQ(parseDecimal("1E3"), 1000.0);
  for (const char* bad : {"", ".", "1e", "1e+", "0x10", "inf", "nan", " 1", "1 ", "1.2.3", "1e400", "--1"}) {
    EXPECT_FALSE(parseDecimal(bad)) << '"' << bad << '"';
  }
}

}  // namespace
}  // namespace trelliq

namespace trelliq {
namespace {

// Where the program's table puts a flag.
std::size_t modeIndex(const std::string& flag) {
  const std::vector<SelfTestMode>& modes = selfTestModes();
  return static_cast<std::size_t>(
      std::find_if(modes.begin(), modes.end(), [&](const SelfTestMode& m) { return m.flag == flag; }) - modes.begin());
}

TEST(Dispatch, TheProgramsFlagsNeedTheirArgumentsAndWhatMustParse) {
  Scene scene(Scene::Start::defaultScenario);  // the Spaces a Space argument must name
  const std::vector<SelfTestMode>& modes = selfTestModes();
  const auto select = [&](Args args) -> std::optional<SelectedMode> {
    args.insert(args.begin(), "trelliq");
    const CommandLine line = readCommandLine(args, modes);
    if (line.problem) return std::nullopt;
    return line.mode;
  };
  const std::optional<SelectedMode> refused;
  const std::vector<std::pair<Args, std::optional<SelectedMode>>> cases = {
      // The jump test takes any window text; the mode drops what does not parse.
      {{"--jump-test", "out", "a", "b"}, SelectedMode{modeIndex("--jump-test"), 1}},
      {{"--jump-test", "out", "1"}, refused},
      {{"--activate-test", "out", "1", "2"}, SelectedMode{modeIndex("--activate-test"), 1}},
      {{"--activate-test", "out", "1", "two"}, refused},
      {{"--focus-test", "out"}, refused},
      {{"--focus-test", "out", "Harbor Mail"}, SelectedMode{modeIndex("--focus-test"), 1}},
      // An optional argument that is given must parse like a required one.
      {{"--windowless-test", "dir", "x"}, refused},
      {{"--windowless-test", "dir", "2"}, SelectedMode{modeIndex("--windowless-test"), 1}},
      {{"--desktop-focus-test"}, refused},
      {{"--goto", "12"}, SelectedMode{modeIndex("--goto"), 1}},
      {{"--goto", "-12"}, refused},
      {{"--prefs-shot", "out", "0.5", "bottom"}, SelectedMode{modeIndex("--prefs-shot"), 1}},
      {{"--prefs-shot", "out", "0.5", "top"}, refused},
      {{"--prefs-shot", "out", "soon"}, refused},
      {{"--permissions-shot", "out", "NaN"}, refused},
      {{"--guide-shot", "out", "x", "Spaces"}, refused},
      {{"--guide-shot", "out", "1", "Spaces"}, SelectedMode{modeIndex("--guide-shot"), 1}},
      {{"--screenshot", "out", "2101", "3"}, refused},
      {{"--screenshot", "out", "NaN"}, refused},
      {{"--screenshot", "out", "--scenario", "d.json"}, SelectedMode{modeIndex("--screenshot"), 1}},
      {{"--fullscreen-test", "out", "1", "x"}, refused},
      {{"--missing-test", "dir", "1", "2", "tab"}, SelectedMode{modeIndex("--missing-test"), 1}},
      // A loop needs no taps at all but at least one pass.
      {{"--space-loop-test", "out", "1", "0", "1"}, SelectedMode{modeIndex("--space-loop-test"), 1}},
      {{"--space-loop-test", "out", "1", "-1", "1"}, refused},
      {{"--space-loop-test", "out", "1", "2", "0"}, refused},
      {{"--hover-test", "out", "1", "0.5", "2e1"}, SelectedMode{modeIndex("--hover-test"), 1}},
      {{"--hover-test", "out", "1", "0.5", "y"}, refused},
      {{"--appear-test", "out", "Dock", "x"}, refused},
      {{"--direction-test", "out", "4", "7"}, SelectedMode{modeIndex("--direction-test"), 1}},
      {{"--direction-test", "out", "4", "x"}, refused},
      {{"--direction-test", "out", "999"}, refused},
  };
  EXPECT_EQ(modes.size(), 30u);
  for (const auto& [args, expected] : cases) {
    std::string line;
    for (const auto& a : args) line += a + " ";
    EXPECT_EQ(select(args), expected) << line;
  }
}

}  // namespace
}  // namespace trelliq
