// Which self-test mode a command line selects: flags as whole arguments at their first
// position, the arguments that must follow, what must parse, and the fixed order in
// which the flags are examined.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "selftest/Dispatch.h"

namespace trelliq {
namespace {

using Args = std::vector<std::string>;

// A table of three modes that record nothing; selection alone is under test.
std::vector<SelfTestMode> table() {
  const auto run = [](const Args&, std::size_t) {};
  return {
      {"--two", 2, {}, run},
      {"--number", 1, [](const Args& a, std::size_t at) { return parseWindowNumber(a[at + 1]).has_value(); }, run},
      {"--unbuilt", 0, {}, {}},
      {"--one", 1, {}, run},
  };
}

std::optional<SelectedMode> select(const Args& args) { return selectSelfTest(args, table()); }

TEST(Dispatch, SelectionByTheFirstWholeFlagWhoseArgumentsFollowAndCheckOut) {
  const std::optional<SelectedMode> none;
  const std::vector<std::pair<Args, std::optional<SelectedMode>>> cases = {
      {{"trelliq", "--two", "a", "b"}, SelectedMode{0, 1}},
      {{"trelliq", "--two", "a"}, none},
      {{"trelliq", "--one"}, none},
      {{"trelliq"}, none},
      // Flags are whole, case-sensitive arguments anywhere on the line.
      {{"trelliq", "--one=x", "y"}, none},
      {{"trelliq", "--ONE", "y"}, none},
      {{"trelliq", "x--one", "y"}, none},
      {{"trelliq", "y", "--one", "z"}, SelectedMode{3, 2}},
      // Only the first occurrence counts, even when a later one would check out.
      {{"trelliq", "--two", "a", "--two", "b", "c"}, SelectedMode{0, 1}},
      {{"trelliq", "--number", "x", "--number", "5"}, none},
      {{"trelliq", "x", "--one", "--one"}, SelectedMode{3, 2}},
      // A flag skipped for too few arguments or a failed check lets a later one run; its
      // text is then just an argument.
      {{"trelliq", "--one", "out", "--two", "x"}, SelectedMode{3, 1}},
      {{"trelliq", "--number", "x", "--one", "out"}, SelectedMode{3, 3}},
      {{"trelliq", "--number", "12", "--one", "out"}, SelectedMode{1, 1}},
      {{"trelliq", "--one", "--two"}, SelectedMode{3, 1}},
      // A mode that is not built is never selected.
      {{"trelliq", "--unbuilt"}, none},
      {{"trelliq", "--unbuilt", "--one", "x"}, SelectedMode{3, 2}},
  };
  for (const auto& [args, expected] : cases) {
    std::string line;
    for (const auto& a : args) line += a + " ";
    EXPECT_EQ(select(args), expected) << line;
  }
}

TEST(Dispatch, TheProgramsTableExaminesDumpLateAndKeepsItsArgumentCounts) {
  const std::vector<SelfTestMode>& modes = selfTestModes();
  const auto index = [&](const std::string& flag) {
    return std::find_if(modes.begin(), modes.end(), [&](const SelfTestMode& m) { return m.flag == flag; }) -
           modes.begin();
  };
  const auto dump = static_cast<std::size_t>(index("--dump"));
  ASSERT_LT(index("--jump-test"), index("--dump"));
  // The earlier jump test with too few arguments does not stop the dump.
  EXPECT_EQ(selectSelfTest({"trelliq", "--jump-test", "--dump", "--prefs-shot"}, modes), (SelectedMode{dump, 2}));
  EXPECT_EQ(dispatchSelfTests({"trelliq", "--dump"}), -1) << "the dump without its path starts normally";
  EXPECT_EQ(dispatchSelfTests({"trelliq"}), -1);

  const SelfTestMode& fullscreen = modes[static_cast<std::size_t>(index("--fullscreen-test"))];
  EXPECT_FALSE(fullscreen.check({"t", "--fullscreen-test", "out", "12", "x"}, 1))
      << "a second window that is no number";
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

TEST(Dispatch, TheInProcessModesAreBuiltAndTheDriverModesAreNot) {
  const std::vector<SelfTestMode>& modes = selfTestModes();
  for (const char* flag : {"--jump-test", "--destination-test", "--focus-test", "--self-focus-test", "--activate-test",
                           "--windowless-test", "--desktop-focus-test", "--goto", "--swipe-test", "--dump"}) {
    ASSERT_LT(modeIndex(flag), modes.size()) << flag;
    EXPECT_TRUE(modes[modeIndex(flag)].run) << flag;
  }
  for (const char* flag : {"--fullscreen-test", "--tab-test", "--steer-test", "--opening-test", "--missing-test",
                           "--space-loop-test", "--hover-test", "--fullscreen-key-test", "--open-test",
                           "--handoff-test", "--toggle-test", "--direction-test"}) {
    ASSERT_LT(modeIndex(flag), modes.size()) << flag;
    EXPECT_FALSE(modes[modeIndex(flag)].run) << flag;
  }
}

TEST(Dispatch, TheWiredFlagsNeedTheirArgumentsAndWhatMustParse) {
  const std::vector<SelfTestMode>& modes = selfTestModes();
  const auto select = [&](Args args) {
    args.insert(args.begin(), "trelliq");
    return selectSelfTest(args, modes);
  };
  const std::optional<SelectedMode> none;
  const std::vector<std::pair<Args, std::optional<SelectedMode>>> cases = {
      // The jump test takes any window text; the mode drops what does not parse.
      {{"--jump-test", "out", "a", "b"}, SelectedMode{modeIndex("--jump-test"), 1}},
      {{"--jump-test", "out", "1"}, none},
      {{"--jump-test", "out", "1", "--dump", "x"}, SelectedMode{modeIndex("--jump-test"), 1}},
      {{"--jump-test", "--dump", "x"}, SelectedMode{modeIndex("--dump"), 2}},
      {{"--activate-test", "out", "1", "2"}, SelectedMode{modeIndex("--activate-test"), 1}},
      {{"--activate-test", "out", "1", "two", "--swipe-test", "s"}, SelectedMode{modeIndex("--swipe-test"), 5}},
      {{"--activate-test", "out", "1"}, none},
      {{"--focus-test", "out"}, none},
      {{"--focus-test", "out", "Harbor Mail"}, SelectedMode{modeIndex("--focus-test"), 1}},
      {{"--self-focus-test", "out"}, SelectedMode{modeIndex("--self-focus-test"), 1}},
      {{"--windowless-test", "dir"}, SelectedMode{modeIndex("--windowless-test"), 1}},
      {{"--windowless-test", "dir", "x"}, SelectedMode{modeIndex("--windowless-test"), 1}},
      {{"--desktop-focus-test"}, none},
      {{"--goto", "12"}, SelectedMode{modeIndex("--goto"), 1}},
      {{"--goto", "-12"}, none},
      {{"--goto", "twelve", "--goto", "12"}, none},
      {{"--goto", "12", "--jump-test", "o", "1", "2"}, SelectedMode{modeIndex("--jump-test"), 3}},
      {{"--swipe-test"}, none},
  };
  for (const auto& [args, expected] : cases) {
    std::string line;
    for (const auto& a : args) line += a + " ";
    EXPECT_EQ(select(args), expected) << line;
  }
}

}  // namespace
}  // namespace trelliq
