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

TEST(Dispatch, AFlagNeedsItsArgumentsAfterIt) {
  EXPECT_EQ(select({"trelliq", "--two", "a", "b"}), (SelectedMode{0, 1}));
  EXPECT_FALSE(select({"trelliq", "--two", "a"}));
  EXPECT_FALSE(select({"trelliq", "--one"}));
  EXPECT_FALSE(select({"trelliq"}));
}

TEST(Dispatch, FlagsAreWholeCaseSensitiveArguments) {
  EXPECT_FALSE(select({"trelliq", "--one=x", "y"}));
  EXPECT_FALSE(select({"trelliq", "--ONE", "y"}));
  EXPECT_FALSE(select({"trelliq", "x--one", "y"}));
  EXPECT_EQ(select({"trelliq", "y", "--one", "z"}), (SelectedMode{3, 2}));
}

TEST(Dispatch, OnlyTheFirstOccurrenceCounts) {
  EXPECT_EQ(select({"trelliq", "--two", "a", "--two", "b", "c"}), (SelectedMode{0, 1}));
  // The second occurrence has a good number, but only the first one is looked at.
  EXPECT_FALSE(select({"trelliq", "--number", "x", "--number", "5"}));
  EXPECT_EQ(select({"trelliq", "x", "--one", "--one"}), (SelectedMode{3, 2}));
}

TEST(Dispatch, ASkippedFlagLetsALaterOneRun) {
  // Too few arguments for the first, a check that fails for the second: the third runs,
  // and the earlier flag's text is just its argument.
  EXPECT_EQ(select({"trelliq", "--one", "out", "--two", "x"}), (SelectedMode{3, 1}));
  EXPECT_EQ(select({"trelliq", "--number", "x", "--one", "out"}), (SelectedMode{3, 3}));
  EXPECT_EQ(select({"trelliq", "--number", "12", "--one", "out"}), (SelectedMode{1, 1}));
  EXPECT_EQ(select({"trelliq", "--one", "--two"}), (SelectedMode{3, 1})) << "another flag as the output path";
}

TEST(Dispatch, AModeThatIsNotBuiltIsNeverSelected) {
  EXPECT_FALSE(select({"trelliq", "--unbuilt"}));
  EXPECT_EQ(select({"trelliq", "--unbuilt", "--one", "x"}), (SelectedMode{3, 2}));
}

TEST(Dispatch, TheProgramsTableExaminesDumpLateAndKeepsItsArgumentCounts) {
  const std::vector<SelfTestMode>& modes = selfTestModes();
  const auto index = [&](const std::string& flag) {
    return std::find_if(modes.begin(), modes.end(), [&](const SelfTestMode& m) { return m.flag == flag; }) -
           modes.begin();
  };
  ASSERT_EQ(modes.size(), 31u);
  EXPECT_EQ(index("--jump-test"), 0);
  EXPECT_EQ(index("--dump"), 29);
  EXPECT_EQ(modes[29].arguments, 1u);
  EXPECT_TRUE(modes[29].run);
  // The earlier jump test with too few arguments does not stop the dump.
  EXPECT_EQ(selectSelfTest({"trelliq", "--jump-test", "a", "--dump", "--prefs-shot"}, modes), (SelectedMode{29, 3}));
  EXPECT_EQ(dispatchSelfTests({"trelliq", "--dump"}), -1) << "the dump without its path starts normally";
  EXPECT_EQ(dispatchSelfTests({"trelliq"}), -1);

  const SelfTestMode& fullscreen = modes[static_cast<std::size_t>(index("--fullscreen-test"))];
  EXPECT_FALSE(fullscreen.check({"t", "--fullscreen-test", "out", "12", "x"}, 1))
      << "a second window that is no number";
}

TEST(Dispatch, IntegersAreASignAndDigitsInRange) {
  EXPECT_EQ(parseInteger("42"), 42);
  EXPECT_EQ(parseInteger("+42"), 42);
  EXPECT_EQ(parseInteger("-42"), -42);
  EXPECT_EQ(parseInteger("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(parseInteger("-9223372036854775808"), INT64_MIN);
  for (const char* bad : {"", "+", "-", " 4", "4 ", "4x", "0x10", "1e3", "9223372036854775808", "-9223372036854775809",
                          "99999999999999999999999"}) {
    EXPECT_FALSE(parseInteger(bad)) << '"' << bad << '"';
  }
}

TEST(Dispatch, WindowNumbersAreUnsigned32Bit) {
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
