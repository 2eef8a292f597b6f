// The keeper of made pictures: what it makes is kept for the next asker, within a count and
// a number of bytes, the least recently used going first.

#include <gtest/gtest.h>

#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "platform/Keeper.h"

namespace {

using platform::Keeper;
using platform::SharedKeeper;

TEST(KeeperTest, AValueIsMadeOnceAndNoMoreThanTheLimitAreKept) {
  constexpr int kMost = 16;
  SharedKeeper<int, int> kept({.count = kMost});
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
  constexpr int kKeys = 2 * kMost;
  for (int key = 0; key < kKeys; ++key) get(key);
  made = 0;
  for (int key = 0; key < kKeys; ++key) EXPECT_EQ(get(key), key * 10);
  EXPECT_GE(made, kMost);
  EXPECT_EQ(kept.count(), static_cast<std::size_t>(kMost));
}

TEST(KeeperTest, TheLeastRecentlyUsedGoFirstPastTheCountOrTheBytes) {
  Keeper<std::string, int> byCount({.count = 3});
  for (const char* key : {"a", "b", "c"}) byCount.keep(key, 1);
  ASSERT_TRUE(byCount.find("a"));  // now b is the least recently used
  byCount.keep("d", 1);
  EXPECT_FALSE(byCount.find("b"));
  EXPECT_TRUE(byCount.find("a") && byCount.find("c") && byCount.find("d"));

  Keeper<int, int> byBytes({.bytes = 100});
  byBytes.keep(1, 1, 40);
  byBytes.keep(2, 2, 40);
  ASSERT_TRUE(byBytes.find(1));
  byBytes.keep(3, 3, 40);
  EXPECT_FALSE(byBytes.find(2)) << "120 bytes would be over the budget";
  EXPECT_TRUE(byBytes.find(1) && byBytes.find(3));
  EXPECT_EQ(byBytes.bytes(), 80u);

  // One larger than the whole budget is kept alone, as its asker holds on to it, until the next.
  EXPECT_EQ(byBytes.keep(4, 4, 150), 4);
  EXPECT_EQ(byBytes.count(), 1u);
  EXPECT_EQ(byBytes.bytes(), 150u);
  byBytes.keep(5, 5, 10);
  EXPECT_FALSE(byBytes.find(4));
  EXPECT_EQ(byBytes.bytes(), 10u);
}

TEST(KeeperTest, ValuesFiledUnderOneKeyAreToldApartAndARefusedOneStays) {
  Keeper<int, std::string> kept({.count = 3});
  kept.keep(7, "red");
  kept.keep(7, "blue");
  const auto found = [&](const char* wanted) -> std::string {
    const std::string* value = kept.find(7, [&](const std::string& v) { return v == wanted; });
    return value ? *value : "none";
  };
  EXPECT_EQ(found("red"), "red");
  EXPECT_EQ(found("blue"), "blue");
  EXPECT_EQ(found("green"), "none");
  EXPECT_EQ(kept.count(), 2u);
  // Blue was used last, so red goes first.
  kept.keep(1, "one");
  kept.keep(2, "two");
  EXPECT_EQ(found("red"), "none");
  EXPECT_EQ(found("blue"), "blue");
}

// Askers on several threads share a keeper much smaller than what they ask for, so values
// are made, kept and let go while others read.
TEST(SharedKeeperThreadsTest, AskersOnManyThreadsEachGetTheValueOfTheirKey) {
  SharedKeeper<int, std::vector<int>> kept({.count = 4, .bytes = 40 * sizeof(int)});
  constexpr int kThreads = 4, kAsks = 2000;
  std::latch start(kThreads);
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> askers;
  for (int t = 0; t < kThreads; ++t) {
    askers.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int i = 0; i < kAsks; ++i) {
        const int key = (i * 7 + t) % 11;
        const std::vector<int> value = kept.get(
            key, [&] { return std::vector<int>(static_cast<std::size_t>(key + 1), key); },
            [](const std::vector<int>& v) { return v.size() * sizeof(int); });
        if (value.size() != static_cast<std::size_t>(key + 1) || value.back() != key) ++wrong[t];
      }
    });
  }
  for (std::thread& asker : askers) asker.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
  EXPECT_LE(kept.count(), 4u);
  EXPECT_LE(kept.bytes(), 40 * sizeof(int));
}

}  // namespace
