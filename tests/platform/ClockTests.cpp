// The virtual clock drives every timing-dependent test in the project, so its ordering,
// cancellation and timer arithmetic must be exact.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/VirtualClock.h"

namespace platform {
namespace {

constexpr std::uint64_t kStart = 1'000'000'000;  // a fresh VirtualClock's monotonic time
constexpr std::uint64_t kMs = 1'000'000;

TEST(VirtualClock, RunsByDueTimeThenPostingOrderWithTimeStandingAtEachDueTime) {
  VirtualClock clock;
  std::vector<std::string> log;
  auto note = [&](std::string what) {
    return [&, what] { log.push_back(what + "@" + std::to_string((clock.monotonicNanos() - kStart) / kMs)); };
  };
  clock.queue("a").asyncAfter(0.2, note("a"));
  clock.main().asyncAfter(0.1, note("main"));
  clock.queue("b").asyncAfter(0.1, note("b"));
  clock.main().async(note("main"));
  clock.queue("a").async([&] {
    note("a")();
    clock.queue("b").async(note("b-posted"));  // after what is already due now
    clock.queue("b").asyncAfter(0.05, note("b-posted"));
  });
  clock.main().async(note("main"));
  EXPECT_TRUE(log.empty()) << "nothing may run before the test lets time pass";

  clock.advance(0.15);
  EXPECT_EQ(log,
            (std::vector<std::string>{"main@0", "a@0", "main@0", "b-posted@0", "b-posted@50", "main@100", "b@100"}));
  EXPECT_EQ(clock.monotonicNanos(), kStart + 150 * kMs);
  clock.advance(0.1);
  EXPECT_EQ(log.back(), "a@200");
  EXPECT_EQ(clock.monotonicNanos(), kStart + 250 * kMs);
}

TEST(VirtualClock, CancelledWorkNeverRunsAndIsNotCounted) {
  VirtualClock clock;
  int ran = 0;
  WorkItem later = clock.queue("q").asyncAfter(1.0, [&] { ++ran; });
  clock.main().asyncAfter(0.5, [&] { WorkItem(later).cancel(); });  // copies share the work
  EXPECT_EQ(clock.pending(), 2u);
  EXPECT_DOUBLE_EQ(clock.nextDue(), 0.5);
  clock.advance(0.6);
  EXPECT_TRUE(later.isCancelled());
  EXPECT_EQ(clock.pending(), 0u);
  EXPECT_LT(clock.nextDue(), 0);
  clock.advance(5);
  EXPECT_EQ(ran, 0);
}

TEST(VirtualClock, RunUntilIdleFollowsChainsAndReportsEndlessOnes) {
  VirtualClock clock;
  int depth = 0;
  std::function<void()> chain = [&] {
    if (++depth < 3) clock.main().async(chain);
  };
  clock.main().async(chain);
  EXPECT_EQ(clock.runUntilIdle(), 3);
  EXPECT_EQ(clock.monotonicNanos(), kStart);

  std::function<void()> forever = [&] { clock.main().async(forever); };
  clock.main().async(forever);
  EXPECT_THROW(clock.runUntilIdle(), std::runtime_error);
}

TEST(VirtualClock, SteppingOneExecutorReplaysAnInterleaving) {
  // Two threads each read a shared counter, then write it back incremented: stepping them
  // read, read, write, write reproduces the lost update.
  VirtualClock clock;
  int counter = 0;
  for (std::string name : {"t1", "t2"}) {
    clock.thread(name).async([&, name] {
      int seen = counter;
      clock.thread(name).async([&counter, seen] { counter = seen + 1; });
    });
  }
  ASSERT_TRUE(clock.step("t1"));
  EXPECT_EQ(clock.pending(), 2u) << "t2's read and t1's write still wait";
  ASSERT_TRUE(clock.step("t2"));
  ASSERT_TRUE(clock.step("t1"));
  ASSERT_TRUE(clock.step("t2"));
  EXPECT_EQ(counter, 1);
  EXPECT_FALSE(clock.step("t1"));

  // Stepping neither moves time nor reaches work not yet due, nor unknown executors.
  clock.thread("t1").asyncAfter(0.1, [&] { counter = 100; });
  EXPECT_FALSE(clock.step("t1"));
  EXPECT_FALSE(clock.step("nobody"));
  EXPECT_EQ(clock.monotonicNanos(), kStart);

  // Background tasks are executors of their own, so they can be stepped out of order.
  std::vector<int> order;
  clock.background([&] { order.push_back(1); });
  clock.background([&] { order.push_back(2); });
  ASSERT_TRUE(clock.step("background-2"));
  ASSERT_TRUE(clock.step("background-1"));
  EXPECT_EQ(order, (std::vector<int>{2, 1}));
}

TEST(VirtualClock, IsCurrentOnlyWhileThatExecutorsWorkRunsOnTheDrivingThread) {
  VirtualClock clock;
  Executor& main = clock.main();
  Executor& q = clock.queue("q");
  std::vector<bool> seen;
  main.async([&] {
    seen.push_back(main.isCurrent());
    seen.push_back(q.isCurrent());
    bool otherThreadSees = true;
    std::thread([&] { otherThreadSees = main.isCurrent(); }).join();
    seen.push_back(otherThreadSees);
    q.async([&] { seen.push_back(q.isCurrent()); });
  });
  clock.runUntilIdle();
  EXPECT_EQ(seen, (std::vector<bool>{true, false, false, true}));
  EXPECT_FALSE(main.isCurrent());
}

TEST(VirtualClock, WallTimeCrossesLocalMidnightAsTimeAdvances) {
  const char* oldTz = std::getenv("TZ");
  const std::string savedTz = oldTz ? oldTz : "";
  setenv("TZ", "XST-5:30", 1);  // a half-hour offset shows nothing assumes UTC days
  tzset();
  std::tm evening{};
  evening.tm_year = 2026 - 1900;
  evening.tm_mon = 2;
  evening.tm_mday = 14;
  evening.tm_hour = 23;
  evening.tm_min = 59;
  evening.tm_sec = 59;
  VirtualClock clock;
  clock.advance(3);
  clock.setWallTime(static_cast<double>(std::mktime(&evening)) + 0.9);
  EXPECT_EQ(clock.monotonicNanos(), kStart + 3000 * kMs) << "setting the wall clock leaves monotonic time alone";

  auto local = [](double wall) {
    const auto whole = static_cast<std::time_t>(std::floor(wall));
    std::tm tm{};
    localtime_r(&whole, &tm);
    return std::to_string(tm.tm_mday) + " " + std::to_string(tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec) + " +" +
           std::to_string(std::lround((wall - std::floor(wall)) * 1000)) + "ms";
  };
  EXPECT_EQ(local(clock.now()), "14 86399 +900ms");
  double wallInWork = 0;
  clock.main().asyncAfter(0.15, [&] { wallInWork = clock.now(); });
  clock.advance(0.2);
  EXPECT_EQ(local(clock.now()), "15 0 +100ms");
  EXPECT_EQ(local(wallInWork), "15 0 +50ms");
  oldTz ? setenv("TZ", savedTz.c_str(), 1) : unsetenv("TZ");
  tzset();
}

// ---------------------------------------------------------------------------------------------

std::vector<std::uint64_t> msFromStart(const std::vector<std::uint64_t>& times) {
  std::vector<std::uint64_t> out;
  for (auto t : times) out.push_back((t - kStart) / kMs);
  return out;
}

TEST(VirtualClockTimer, RepeatsOnExactMultiplesAcrossOneBigJump) {
  VirtualClock clock;
  std::vector<std::uint64_t> firings;
  clock.scheduleTimer(clock.main(), 0.25, true, [&] { firings.push_back(clock.monotonicNanos()); });
  clock.advance(0.9);
  EXPECT_EQ(msFromStart(firings), (std::vector<std::uint64_t>{250, 500, 750}));
  firings.clear();
  clock.advance(100);
  ASSERT_EQ(firings.size(), 400u);
  for (std::size_t i = 0; i < firings.size(); ++i) ASSERT_EQ(firings[i] - kStart, (i + 4) * 250 * kMs);
}

TEST(VirtualClockTimer, ALateFiringDoesNotPushLaterOnesBack) {
  VirtualClock clock;
  std::vector<std::uint64_t> firings;
  Executor& q = clock.queue("q");
  clock.scheduleTimer(q, 1.0, true, [&] {
    firings.push_back(clock.monotonicNanos());
    if (firings.size() == 3) clock.elapse(1.5);  // this firing overruns the next one
  });
  q.asyncAfter(0.9, [&] { clock.elapse(0.3); });  // keeps the queue busy over the first due time
  clock.advance(6.2);
  EXPECT_EQ(msFromStart(firings), (std::vector<std::uint64_t>{1200, 2000, 3000, 5000, 6000}))
      << "late firings keep to the grid; the one swallowed by the overrun is skipped";
}

TEST(VirtualClockTimer, InvalidateStopsForGoodAndReleasesTheWork) {
  VirtualClock clock;
  auto captured = std::make_shared<int>(0);
  int fired = 0;
  Timer timer = clock.scheduleTimer(clock.main(), 1, true, [&fired, captured] { ++fired; });
  clock.advance(2.5);
  EXPECT_EQ(fired, 2);
  Timer(timer).invalidate();
  EXPECT_FALSE(timer.isValid());
  EXPECT_EQ(clock.pending(), 0u);
  EXPECT_EQ(captured.use_count(), 1) << "an invalidated timer must not keep its captures alive";
  clock.advance(10);
  EXPECT_EQ(fired, 2);

  int selfStopped = 0;
  Timer self;
  self = clock.scheduleTimer(clock.main(), 0.5, true, [&] {
    if (++selfStopped == 3) self.invalidate();
  });
  clock.advance(10);
  EXPECT_EQ(selfStopped, 3);
}

TEST(VirtualClockTimer, OneShotFiresOnceAndDroppedHandlesKeepTimersRunning) {
  VirtualClock clock;
  int once = 0;
  Timer oneShot = clock.scheduleTimer(clock.main(), 0.5, false, [&] { ++once; });
  clock.advance(0.4);
  EXPECT_TRUE(oneShot.isValid());
  clock.advance(5);
  EXPECT_EQ(once, 1);
  EXPECT_FALSE(oneShot.isValid());

  int repeats = 0;
  clock.scheduleTimer(clock.main(), 1, true, [&] { ++repeats; });
  clock.advance(3);
  EXPECT_EQ(repeats, 3);
}

TEST(VirtualClockTimer, NonPositiveIntervalRepeatsAtAFloorInsteadOfSpinning) {
  VirtualClock clock;
  int fired = 0;
  Timer zero = clock.scheduleTimer(clock.main(), 0, true, [&] { ++fired; });
  Timer negative = clock.scheduleTimer(clock.main(), -3, true, [&] { ++fired; });
  clock.advance(0.001);
  EXPECT_EQ(fired, 20);
}

TEST(InstalledClock, RoutesTheShorthandsAndForgetsADestroyedClock) {
  {
    VirtualClock virtualClock(1000.0);
    installClock(&virtualClock);
    EXPECT_EQ(&mainQueue(), &virtualClock.main());
    EXPECT_DOUBLE_EQ(now(), 1000.0);
  }
  Clock& fallback = clock();  // the process-wide real clock, never the destroyed one
  EXPECT_GT(fallback.now(), 1.7e9);
  VirtualClock other;
  installClock(&other);
  EXPECT_EQ(&clock(), &other);
  installClock(nullptr);
  EXPECT_EQ(&clock(), &fallback);
}

}  // namespace
}  // namespace platform
