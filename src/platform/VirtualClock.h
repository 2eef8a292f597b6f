#pragma once
// A clock for tests: nothing runs until the test lets time pass. All executors
// share one agenda ordered by (due time, posting order), so a run is fully
// deterministic; a test can also step one executor alone to replay an
// interleaving of two threads. Everything runs on the thread that drives the clock.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Clock.h"

namespace platform {

class VirtualClock : public Clock {
 public:
  /// Starts at the given wall time (seconds since 1970, UTC) with monotonic time 1 s.
  explicit VirtualClock(double wallStart = 1767225600.0 /* 2026-01-01 00:00 UTC */);
  /// Drops the waiting work unrun and uninstalls this clock if it is the installed one.
  ~VirtualClock() override;

  double now() override;
  std::uint64_t monotonicNanos() override;
  /// The executor labelled "main".
  Executor& main() override;
  /// Queues and threads share one namespace of labels: queue("x") and thread("x") are the
  /// same executor, and queue("main") is the main queue.
  Executor& queue(const std::string& label) override;
  Executor& thread(const std::string& name) override;
  /// Each task gets an executor of its own, labelled "background-1", "background-2", ... in
  /// the order they were started, so a test can step one task past another.
  void background(Work task) override;

  /// Moves time forward by `dt` seconds, running everything that falls due on the
  /// way in order; time stands at each piece's due time while it runs. Call it from the
  /// test, not from work (work that takes time uses elapse()).
  void advance(Seconds dt);
  /// Runs everything due now, including work that it posts for now. Returns the count run.
  /// Throws std::runtime_error when work keeps posting work for now without end.
  int runUntilIdle();
  /// Runs the next piece of work due now on the named executor only; false when it has none.
  bool step(const std::string& label);
  /// Runs the next piece of work due now on any executor but the one labelled `blocked`;
  /// false when none has any. With elapse(), it stops a test between two pieces of work.
  bool stepExcept(const std::string& blocked);
  /// Lets `dt` seconds pass without running anything, as if the work calling it took that
  /// long. Work that falls due meanwhile runs at the next advance(), runUntilIdle() or step().
  void elapse(Seconds dt);
  /// Moves time forward by `dt` like advance(), but the executor labelled `blocked` runs
  /// nothing meanwhile, as if its thread were asleep; its due work waits for the next
  /// advance(), runUntilIdle() or step(). Call it from the test, not from work.
  void advanceExcept(const std::string& blocked, Seconds dt);
  /// Sets the wall clock without touching monotonic time (a test can start at 23:59:59.9).
  void setWallTime(double secondsSince1970);
  /// How much work is waiting, due or not; cancelled work does not count.
  std::size_t pending() const;
  /// Seconds until the next piece of work is due (0 when it is due now); negative when nothing waits.
  Seconds nextDue() const;

 private:
  class VirtualExecutor;
  struct Entry {
    VirtualExecutor* executor = nullptr;
    Work work;
    std::shared_ptr<WorkItem::State> state;
  };
  using Key = std::pair<std::uint64_t, std::uint64_t>;  // (due nanos, posting sequence)

  VirtualExecutor& executorNamed(const std::string& label);
  WorkItem enqueue(VirtualExecutor* executor, bool relative, std::uint64_t nanos, Work work);
  bool runOne(std::uint64_t limit, const VirtualExecutor* only, const VirtualExecutor* except = nullptr);
  int drain(std::uint64_t limit, const VirtualExecutor* except = nullptr);
  bool isRunning(const VirtualExecutor* executor) const;

  mutable std::mutex mutex_;  // never held while work runs, so work may post freely
  std::uint64_t monotonic_ = 1'000'000'000;
  double wallOffset_ = 0;  // wall = wallOffset_ + monotonic seconds
  std::uint64_t sequence_ = 0;
  std::map<Key, Entry> agenda_;
  std::map<std::string, std::unique_ptr<VirtualExecutor>> executors_;
  const VirtualExecutor* running_ = nullptr;
  std::thread::id runningThread_;
  int backgroundCount_ = 0;
};

}  // namespace platform
