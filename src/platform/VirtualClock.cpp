#include "platform/VirtualClock.h"

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/ClockInternals.h"

namespace platform {

namespace {
// Work that keeps posting work for the same instant would never let time move on.
constexpr int kMaxPiecesAtOneInstant = 100'000;
}  // namespace

class VirtualClock::VirtualExecutor : public Executor {
 public:
  VirtualExecutor(VirtualClock& clock, std::string label) : clock_(clock), label_(std::move(label)) {}

  const std::string& label() const override { return label_; }
  void async(Work work) override { clock_.enqueue(this, true, 0, std::move(work)); }
  WorkItem asyncAfter(Seconds delay, Work work) override {
    return clock_.enqueue(this, true, detail::nanosFromSeconds(delay), std::move(work));
  }
  WorkItem asyncAt(std::uint64_t dueNanos, Work work) override {
    return clock_.enqueue(this, false, dueNanos, std::move(work));
  }
  bool isCurrent() const override { return clock_.isRunning(this); }

 private:
  VirtualClock& clock_;
  const std::string label_;
};

VirtualClock::VirtualClock(double wallStart) { wallOffset_ = wallStart - static_cast<double>(monotonic_) / 1e9; }

VirtualClock::~VirtualClock() {
  detail::forgetClock(this);
  std::map<Key, Entry> dropped;
  {
    std::lock_guard lock(mutex_);
    dropped.swap(agenda_);
  }
}

double VirtualClock::now() {
  std::lock_guard lock(mutex_);
  return wallOffset_ + static_cast<double>(monotonic_) / 1e9;
}

std::uint64_t VirtualClock::monotonicNanos() {
  std::lock_guard lock(mutex_);
  return monotonic_;
}

Executor& VirtualClock::main() { return executorNamed("main"); }
Executor& VirtualClock::queue(const std::string& label) { return executorNamed(label); }
Executor& VirtualClock::thread(const std::string& name) { return executorNamed(name); }

void VirtualClock::background(Work task) {
  int number;
  {
    std::lock_guard lock(mutex_);
    number = ++backgroundCount_;
  }
  executorNamed("background-" + std::to_string(number)).async(std::move(task));
}

VirtualClock::VirtualExecutor& VirtualClock::executorNamed(const std::string& label) {
  std::lock_guard lock(mutex_);
  auto& slot = executors_[label];
  if (!slot) slot = std::make_unique<VirtualExecutor>(*this, label);
  return *slot;
}

WorkItem VirtualClock::enqueue(VirtualExecutor* executor, bool relative, std::uint64_t nanos, Work work) {
  if (!work) return WorkItem();
  auto state = std::make_shared<WorkItem::State>();
  std::lock_guard lock(mutex_);
  const std::uint64_t due = relative ? detail::saturatingAdd(monotonic_, nanos) : nanos;
  agenda_.emplace(Key{due, sequence_++}, Entry{executor, std::move(work), state});
  return WorkItem(state);
}

bool VirtualClock::isRunning(const VirtualExecutor* executor) const {
  std::lock_guard lock(mutex_);
  return running_ == executor && runningThread_ == std::this_thread::get_id();
}

bool VirtualClock::runOne(std::uint64_t limit, const VirtualExecutor* only, const VirtualExecutor* except) {
  std::vector<Entry> cancelled;  // destroyed after the lock is released: their captures may post
  Entry entry;
  const VirtualExecutor* previous;
  std::thread::id previousThread;
  {
    std::lock_guard lock(mutex_);
    limit = std::max(limit, monotonic_);  // work that called elapse() may have moved time past the limit
    auto it = agenda_.begin();
    while (it != agenda_.end() && it->first.first <= limit) {
      if (it->second.state->cancelled.load()) {
        cancelled.push_back(std::move(it->second));
        it = agenda_.erase(it);
      } else if ((only && it->second.executor != only) || (except && it->second.executor == except)) {
        ++it;
      } else {
        break;
      }
    }
    if (it == agenda_.end() || it->first.first > limit) return false;
    monotonic_ = std::max(monotonic_, it->first.first);
    entry = std::move(it->second);
    agenda_.erase(it);
    previous = std::exchange(running_, entry.executor);
    previousThread = std::exchange(runningThread_, std::this_thread::get_id());
  }

  struct Restore {
    VirtualClock& clock;
    const VirtualExecutor* previous;
    std::thread::id previousThread;
    ~Restore() {
      std::lock_guard lock(clock.mutex_);
      clock.running_ = previous;
      clock.runningThread_ = previousThread;
    }
  } restore{*this, previous, previousThread};
  entry.work();
  return true;
}

int VirtualClock::drain(std::uint64_t limit, const VirtualExecutor* except) {
  int count = 0;
  int atThisInstant = 0;
  std::uint64_t instant = monotonicNanos();
  while (runOne(limit, nullptr, except)) {
    ++count;
    const std::uint64_t time = monotonicNanos();
    atThisInstant = time == instant ? atThisInstant + 1 : 0;
    instant = time;
    if (atThisInstant > kMaxPiecesAtOneInstant) {
      throw std::runtime_error("VirtualClock: work keeps posting work for the same instant");
    }
  }
  return count;
}

void VirtualClock::advance(Seconds dt) {
  const std::uint64_t limit = detail::saturatingAdd(monotonicNanos(), detail::nanosFromSeconds(dt));
  drain(limit);
  std::lock_guard lock(mutex_);
  monotonic_ = std::max(monotonic_, limit);
}

void VirtualClock::advanceExcept(const std::string& blocked, Seconds dt) {
  const VirtualExecutor* except = &executorNamed(blocked);
  const std::uint64_t limit = detail::saturatingAdd(monotonicNanos(), detail::nanosFromSeconds(dt));
  drain(limit, except);
  std::lock_guard lock(mutex_);
  monotonic_ = std::max(monotonic_, limit);
}

int VirtualClock::runUntilIdle() { return drain(0); }

bool VirtualClock::step(const std::string& label) {
  const VirtualExecutor* executor = nullptr;
  {
    std::lock_guard lock(mutex_);
    auto it = executors_.find(label);
    if (it == executors_.end()) return false;
    executor = it->second.get();
  }
  return runOne(0, executor);
}

bool VirtualClock::stepExcept(const std::string& blocked) { return runOne(0, nullptr, &executorNamed(blocked)); }

void VirtualClock::elapse(Seconds dt) {
  std::lock_guard lock(mutex_);
  monotonic_ = detail::saturatingAdd(monotonic_, detail::nanosFromSeconds(dt));
}

void VirtualClock::setWallTime(double secondsSince1970) {
  std::lock_guard lock(mutex_);
  wallOffset_ = secondsSince1970 - static_cast<double>(monotonic_) / 1e9;
}

std::size_t VirtualClock::pending() const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(std::count_if(agenda_.begin(), agenda_.end(),
                                                [](const auto& item) { return !item.second.state->cancelled.load(); }));
}

Seconds VirtualClock::nextDue() const {
  std::lock_guard lock(mutex_);
  for (const auto& [key, entry] : agenda_) {
    if (entry.state->cancelled.load()) continue;
    return key.first > monotonic_ ? static_cast<double>(key.first - monotonic_) / 1e9 : 0.0;
  }
  return -1.0;
}

}  // namespace platform
