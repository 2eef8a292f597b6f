// Signal sources on real signals: the mark that a stop's work is waiting, which the
// program's waits on the host read to give way to the stop, lasts exactly as long as that
// work waits.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <mutex>
#include <string>
#include <vector>

#include "platform/DispatchSource.h"
#include "support/Eventually.h"

namespace {

using namespace std::chrono_literals;

/// A queue whose work waits until the test runs it.
class HeldQueue : public platform::Executor {
 public:
  const std::string& label() const override { return label_; }
  void async(platform::Work work) override {
    std::lock_guard lock(mutex_);
    work_.push_back(std::move(work));
  }
  platform::WorkItem asyncAfter(platform::Seconds, platform::Work work) override {
    async(std::move(work));
    return {};
  }
  platform::WorkItem asyncAt(std::uint64_t, platform::Work work) override {
    async(std::move(work));
    return {};
  }
  bool isCurrent() const override { return false; }
  std::size_t waiting() {
    std::lock_guard lock(mutex_);
    return work_.size();
  }
  void runAll() {
    std::vector<platform::Work> due;
    {
      std::lock_guard lock(mutex_);
      due.swap(work_);
    }
    for (auto& work : due) work();
  }

 private:
  std::string label_ = "held";
  std::mutex mutex_;
  std::vector<platform::Work> work_;
};

TEST(SignalSourceThreads, TheStopMarkLastsWhileWorkWaitsAndNotAfterASignalNobodyHandles) {
  HeldQueue queue;
  int handled = 0;
  auto handledSource = DispatchSourceSignal::makeSignalSource(SIGUSR1, queue);
  handledSource->setEventHandler([&] { ++handled; });
  handledSource->resume();
  ::kill(::getpid(), SIGUSR1);
  ASSERT_TRUE(eventually([&] { return queue.waiting() == 1; }, 20s));
  EXPECT_NE(DispatchSourceSignal::workPendingSince(), 0) << "marked while the work waits";
  queue.runAll();
  EXPECT_EQ(handled, 1);
  EXPECT_EQ(DispatchSourceSignal::workPendingSince(), 0);
  handledSource->cancel();

  // A source that was never given work: the signal comes and goes, and so does the mark.
  auto idleSource = DispatchSourceSignal::makeSignalSource(SIGUSR2, queue);
  idleSource->resume();
  ::kill(::getpid(), SIGUSR2);
  EXPECT_TRUE(eventually([] { return DispatchSourceSignal::workPendingSince() == 0; }, 20s))
      << "a stale mark makes every later wait on the host give up at once";
  EXPECT_EQ(queue.waiting(), 0u);
  idleSource->cancel();
}

}  // namespace
