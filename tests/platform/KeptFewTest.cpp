// The composer's small keeper: what it makes is kept for the next asker, and never more
// than a few values at a time.

#include <gtest/gtest.h>

#include "platform/sim/KeptFew.h"

namespace {

using Kept = sim::KeptFew<int, int>;

TEST(KeptFewTest, AValueIsMadeOnceAndNoMoreThanTheLimitAreKept) {
  Kept kept;
  int made = 0;
  const auto get = [&](int key) {
    return kept.get(key, [&] {
      ++made;
      return key * 10;
    });
  };
  EXPECT_EQ(get(3), 30);
  EXPECT_EQ(get(3), 30);
  EXPECT_EQ(made, 1) << "kept for the next asker";

  // Twice as many keys as may be kept: asked again, at least half of them are made anew.
  constexpr int kKeys = 2 * static_cast<int>(Kept::kMost);
  for (int key = 0; key < kKeys; ++key) get(key);
  made = 0;
  for (int key = 0; key < kKeys; ++key) EXPECT_EQ(get(key), key * 10);
  EXPECT_GE(made, static_cast<int>(Kept::kMost));
}

}  // namespace
