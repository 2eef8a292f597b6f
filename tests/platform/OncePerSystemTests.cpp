// State kept per installed system: made once for each system, even when threads arrive
// together, made afresh for the next system while the earlier value stays readable, and
// stamps that tell whether their system is still the installed one.

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

#include "platform/OncePerSystem.h"
#include "platform/SystemPort.h"

namespace platform {
namespace {

TEST(OncePerSystem, EachSystemGetsItsOwnValueAndTheEarlierOneStaysReadable) {
  int made = 0;
  OncePerSystem<std::vector<int>> once([&] { return std::vector<int>{++made}; });
  std::vector<int>& first = once.get();
  first.push_back(7);  // a value is changed in place, not made again
  EXPECT_EQ(&once.get(), &first);
  EXPECT_EQ(made, 1);

  installSystem(nullptr);  // another system
  EXPECT_EQ(once.get(), std::vector<int>{2});
  EXPECT_EQ(first, (std::vector<int>{1, 7})) << "a reader of the earlier value still has it";

  OncePerSystem<std::atomic<int>> counter;  // no maker: each system's starts at zero
  counter.get() += 3;
  EXPECT_EQ(counter.get().load(), 3);
  installSystem(nullptr);
  EXPECT_EQ(counter.get().load(), 0);
}

TEST(OncePerSystem, AStampIsCurrentUntilAnotherSystemIsInstalled) {
  EXPECT_FALSE(SystemStamp().isCurrent()) << "a stamp of no system";
  const SystemStamp now = SystemStamp::now();
  EXPECT_TRUE(now.isCurrent());
  EXPECT_EQ(now, SystemStamp::now());
  installSystem(nullptr);
  EXPECT_FALSE(now.isCurrent());
  EXPECT_NE(now, SystemStamp::now());
}

TEST(OncePerSystemThreads, ThreadsArrivingTogetherShareOneValueMadeOnce) {
  std::atomic<int> made{0};
  OncePerSystem<int> once([&] { return ++made; });
  constexpr int kThreads = 8;
  std::latch start(kThreads);
  std::vector<const int*> seen(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      seen[static_cast<std::size_t>(i)] = &once.get();
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(made.load(), 1);
  for (const int* value : seen) EXPECT_EQ(value, seen.front());
  EXPECT_EQ(*seen.front(), 1);
}

}  // namespace
}  // namespace platform
