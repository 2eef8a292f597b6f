// The real clock on real threads. Waits use futures with a generous fail-safe so a fault
// shows as a failure rather than a hang; no assertion depends on how fast anything runs.

#include <gtest/gtest.h>
#include <pthread.h>

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/RealClock.h"

namespace platform {
namespace {

// Only a hang guard: a loaded machine may be slow, but never this slow.
constexpr auto kFailSafe = std::chrono::seconds(60);

bool arrives(std::future<void> future) { return future.wait_for(kFailSafe) == std::future_status::ready; }

// Runs `work` on `executor` and waits for it: everything posted there before has run by then.
bool flush(Executor& executor, Seconds delay = 0) {
  auto done = std::make_shared<std::promise<void>>();
  executor.asyncAfter(delay, [done] { done->set_value(); });
  return arrives(done->get_future());
}

std::string currentThreadName() {
  char name[16] = {};
  pthread_getname_np(pthread_self(), name, sizeof name);
  return name;
}

TEST(RealClockThreads, SerialQueueRunsInOrderOnOneNamedThread) {
  RealClock clock;
  const std::string label = "trelliq.serial.queue";
  Executor& q = clock.queue(label);
  std::vector<int> order;
  std::vector<std::thread::id> threads;
  std::string name;
  bool alwaysCurrent = true;
  for (int i = 0; i < 200; ++i) {
    q.async([&, i] {
      order.push_back(i);
      threads.push_back(std::this_thread::get_id());
      name = currentThreadName();
      alwaysCurrent = alwaysCurrent && q.isCurrent() && !clock.queue("elsewhere").isCurrent();
    });
  }
  ASSERT_TRUE(flush(q));
  for (int i = 0; i < 200; ++i) ASSERT_EQ(order[i], i);
  for (const auto& id : threads) ASSERT_EQ(id, threads.front());
  EXPECT_NE(threads.front(), std::this_thread::get_id());
  EXPECT_EQ(name, label.substr(0, 15));
  EXPECT_TRUE(alwaysCurrent);
  EXPECT_FALSE(q.isCurrent());
}

TEST(RealClockThreads, DelayedWorkRunsByDueTimeAndCancelPreventsIt) {
  RealClock clock;
  Executor& q = clock.thread("timed");
  // The thread waits at a gate while the work is posted, so a test thread that is slow to
  // post cannot let the doomed item run before its cancel.
  std::promise<void> gate;
  q.async([opened = gate.get_future().share()] { opened.wait(); });
  std::vector<std::string> log;
  std::atomic<bool> cancelledRan{false};
  const std::uint64_t posted = clock.monotonicNanos();
  std::uint64_t laterRanAt = 0;
  q.asyncAfter(0.3, [&] {
    log.push_back("later");
    laterRanAt = clock.monotonicNanos();
  });
  WorkItem doomed = q.asyncAfter(0.01, [&] { cancelledRan = true; });
  q.async([&] { log.push_back("now"); });
  doomed.cancel();
  gate.set_value();
  ASSERT_TRUE(flush(q, 0.31));
  EXPECT_EQ(log, (std::vector<std::string>{"now", "later"}));
  EXPECT_FALSE(cancelledRan);
  EXPECT_GE(laterRanAt, posted + 300'000'000) << "delayed work must never run early";
}

TEST(RealClockThreads, ConcurrentPostersLoseNothing) {
  RealClock clock;
  Executor& q = clock.queue("crowded");
  constexpr int kPosters = 8, kEach = 1000;
  std::vector<int> lastSeen(kPosters, -1);
  int total = 0;
  bool inOrder = true;
  std::vector<std::thread> posters;
  for (int p = 0; p < kPosters; ++p) {
    posters.emplace_back([&, p] {
      for (int i = 0; i < kEach; ++i) {
        q.async([&, p, i] {
          ++total;  // the queue is serial, so plain ints are safe here
          inOrder = inOrder && lastSeen[p] == i - 1;
          lastSeen[p] = i;
        });
      }
    });
  }
  for (auto& t : posters) t.join();
  ASSERT_TRUE(flush(q));
  EXPECT_EQ(total, kPosters * kEach);
  EXPECT_TRUE(inOrder) << "each poster's work must run in the order it was posted";
}

TEST(RealClockThreads, MainQueueRunsOnTheQtLoopAndTakesWorkFromOtherThreads) {
  RealClock clock;
  std::vector<std::string> log;
  clock.main().async([&] { log.push_back("before-app"); });  // waits for the application

  int argc = 1;
  char arg0[] = "tests";
  char* argv[] = {arg0, nullptr};
  QCoreApplication app(argc, argv);
  const auto mainThread = std::this_thread::get_id();
  bool allOnMain = true;
  std::thread poster;
  clock.main().async([&] {
    log.push_back("from-main");
    allOnMain = allOnMain && clock.main().isCurrent() && std::this_thread::get_id() == mainThread;
    poster = std::thread([&] {
      const bool posterIsMain = clock.main().isCurrent();
      // Posted first, so however long the thread pauses between the two posts, this runs first.
      clock.main().async([&, posterIsMain] {
        log.push_back(posterIsMain ? "poster-thought-it-was-main" : "from-thread");
        allOnMain = allOnMain && std::this_thread::get_id() == mainThread;
      });
      clock.main().asyncAfter(0.02, [&] {
        log.push_back("delayed-from-thread");
        QCoreApplication::quit();
      });
    });
  });
  QTimer::singleShot(60000, &app, [] { QCoreApplication::exit(1); });  // fail-safe
  EXPECT_EQ(app.exec(), 0);
  poster.join();
  EXPECT_EQ(log, (std::vector<std::string>{"before-app", "from-main", "from-thread", "delayed-from-thread"}));
  EXPECT_TRUE(allOnMain);
}

TEST(RealClockThreads, MainQueueSurvivesTheApplicationBeingReplaced) {
  RealClock clock;
  int argc = 1;
  char arg0[] = "tests";
  char* argv[] = {arg0, nullptr};
  {
    QCoreApplication first(argc, argv);
    clock.main().asyncAfter(0.01, [] {});  // its wake-up dies with this application
  }
  QCoreApplication second(argc, argv);
  bool ran = false;
  clock.main().asyncAfter(0.02, [&] {
    ran = true;
    QCoreApplication::quit();
  });
  QTimer::singleShot(60000, &second, [] { QCoreApplication::exit(1); });
  EXPECT_EQ(second.exec(), 0);
  EXPECT_TRUE(ran);
}

TEST(RealClockThreads, TimerOnAQueueKeepsItsGridUntilInvalidatedFromAnotherThread) {
  RealClock clock;
  Executor& q = clock.queue("ticker");
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<std::uint64_t> firings;
  const std::uint64_t start = clock.monotonicNanos();
  Timer timer = clock.scheduleTimer(q, 0.003, true, [&] {
    std::lock_guard lock(mutex);
    firings.push_back(clock.monotonicNanos());
    cv.notify_all();
  });
  std::size_t firedAtInvalidate;
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(cv.wait_for(lock, kFailSafe, [&] { return firings.size() >= 3; }));
    timer.invalidate();
    firedAtInvalidate = firings.size();
  }
  EXPECT_FALSE(timer.isValid());
  ASSERT_TRUE(flush(q, 0.03));
  std::lock_guard lock(mutex);
  EXPECT_LE(firings.size(), firedAtInvalidate + 1) << "at most a firing already under way may finish";
  for (std::size_t k = 0; k < firings.size(); ++k) {
    EXPECT_GE(firings[k], start + (k + 1) * 3'000'000) << "firing " << k + 1 << " ran early";
  }
}

TEST(RealClockThreads, ShutdownFinishesDueWorkDropsTheRestAndJoins) {
  RealClock clock;
  Executor& q = clock.queue("closing");
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  std::atomic<bool> dueRan{false}, delayedRan{false}, backgroundDone{false}, lateRan{false};
  std::string backgroundName;
  q.async([opened] { opened.wait(); });
  q.async([&] { dueRan = true; });
  q.asyncAfter(60, [&] { delayedRan = true; });
  clock.background([&, opened] {
    backgroundName = currentThreadName();
    opened.wait();
    backgroundDone = true;
  });

  std::thread closer([&] { clock.shutdown(); });
  // Open the gate only once shutdown has begun, which shows as posts being refused.
  const auto deadline = std::chrono::steady_clock::now() + kFailSafe;
  while (!q.asyncAfter(3600, [] {}).isCancelled() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  gate.set_value();
  closer.join();
  EXPECT_TRUE(dueRan) << "work already due when shutting down still runs";
  EXPECT_FALSE(delayedRan);
  EXPECT_TRUE(backgroundDone) << "shutdown waits for started background tasks";
  EXPECT_EQ(backgroundName, "background");

  q.async([&] { lateRan = true; });
  EXPECT_TRUE(clock.queue("opened-late").asyncAfter(0, [&] { lateRan = true; }).isCancelled());
  clock.background([&] { lateRan = true; });
  clock.main().async([&] { lateRan = true; });
  clock.shutdown();
  EXPECT_FALSE(lateRan) << "work posted after shutdown is dropped";
}

TEST(RealClockThreads, BackgroundTasksRunSideBySide) {
  RealClock clock;
  // Each task waits for the other, so this only completes if they truly run concurrently.
  std::promise<void> first, second, met;
  auto firstStarted = first.get_future().share();
  auto secondStarted = second.get_future().share();
  clock.background([&, secondStarted] {
    first.set_value();
    secondStarted.wait_for(kFailSafe);
  });
  clock.background([&, firstStarted] {
    second.set_value();
    if (firstStarted.wait_for(kFailSafe) == std::future_status::ready) met.set_value();
  });
  EXPECT_TRUE(arrives(met.get_future()));
}

}  // namespace
}  // namespace platform
