// How a typed key counts while the switcher is open: by what its characters are in
// Unicode, not by their bytes, so letters and digits of every script behave alike.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "switcher/Switcher.h"

namespace trelliq {
namespace {

struct Typed {
  std::u16string text;
  bool letterOrNumber;
  std::optional<int> digit;
  std::u16string lowered;
};

class TypedKeyTest : public ::testing::TestWithParam<Typed> {};

TEST_P(TypedKeyTest, Classifies) {
  const Typed& t = GetParam();
  const TypedKey key = classify(t.text);
  EXPECT_EQ(key.letterOrNumber, t.letterOrNumber);
  EXPECT_EQ(key.digit, t.digit);
  EXPECT_TRUE(key.lowered == t.lowered);
}

INSTANTIATE_TEST_SUITE_P(Scripts, TypedKeyTest,
                         ::testing::Values(Typed{u"q", true, std::nullopt, u"q"},  // a binding letter
                                           Typed{u"Q", true, std::nullopt, u"q"},  // with ⇧ it is still q
                                           Typed{u"ø", true, std::nullopt, u"ø"},  // ⌥o on a U.S. keyboard
                                           Typed{u"Σ", true, std::nullopt, u"σ"},  // Greek capital
                                           Typed{u"ش", true, std::nullopt, u"ش"},  // Arabic letter
                                           Typed{u"É", true, std::nullopt, u"é"},  // composed by a dead key
                                           Typed{u"\U0001D400", true, std::nullopt,
                                                 u"\U0001D400"},                      // outside the basic plane
                                           Typed{u"7", true, 7, u"7"},                //
                                           Typed{u"٣", true, 3, u"٣"},                // Arabic-Indic three
                                           Typed{u"７", true, 7, u"７"},              // fullwidth seven
                                           Typed{u"0", true, std::nullopt, u"0"},     // a number, but no window 0
                                           Typed{u"٠", true, std::nullopt, u"٠"},     // Arabic-Indic zero
                                           Typed{u"½", true, std::nullopt, u"½"},     // a number without a digit value
                                           Typed{u".", false, std::nullopt, u"."},    //
                                           Typed{u" ", false, std::nullopt, u" "},    //
                                           Typed{u"\r", false, std::nullopt, u"\r"},  // Return
                                           Typed{u"\x1b", false, std::nullopt, u"\x1b"},  // esc
                                           Typed{u"", false, std::nullopt, u""}));        // keys without text

}  // namespace
}  // namespace trelliq
