// Rounds repeated on a queue of their own beside the caller, on the real clock: they end
// when the work says so or when they are stopped, and the caller sees every round's work.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/RealClock.h"
#include "selftest/Repeating.h"
#include "support/Eventually.h"

namespace trelliq {
namespace {

// Only a hang guard: a loaded machine may be slow, but never this slow.
template <typename Done>
bool within(Done done) {
  return eventually(done, std::chrono::seconds(60));
}

TEST(RepeatingThreads, RoundsRunBesideTheCallerUntilTheWorkEndsOrTheyAreStopped) {
  platform::RealClock real;
  platform::installClock(&real);
  {
    std::vector<int> seen;  // written by the rounds, read here once they have finished
    int next = 0;
    auto counted = Repeating::start("counted rounds", 0.001, [&] {
      seen.push_back(next++);
      return next < 5;
    });
    ASSERT_TRUE(within([&] { return counted->finished(); }));
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4}));

    std::atomic<int> rounds{0};
    auto endless = Repeating::start("endless rounds", 0.001, [&] {
      ++rounds;
      return true;
    });
    ASSERT_TRUE(within([&] { return rounds.load() >= 3; }));
    EXPECT_FALSE(endless->finished());
    endless->stop();
    ASSERT_TRUE(within([&] { return endless->finished(); }));
  }
  platform::installClock(nullptr);
}

}  // namespace
}  // namespace trelliq
