#include "platform/Clock.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>

#include "platform/ClockInternals.h"
#include "platform/RealClock.h"

namespace platform {

void WorkItem::cancel() {
  if (state_) state_->cancelled.store(true, std::memory_order_release);
}

bool WorkItem::isCancelled() const { return state_ && state_->cancelled.load(std::memory_order_acquire); }

namespace detail {

std::uint64_t nanosFromSeconds(Seconds seconds) {
  // NaN and negative delays mean "now"; absurdly long ones saturate instead of wrapping.
  if (!(seconds > 0)) return 0;
  constexpr double kMax = static_cast<double>(std::numeric_limits<std::uint64_t>::max() / 2);
  const double nanos = std::ceil(seconds * 1e9);
  return nanos >= kMax ? static_cast<std::uint64_t>(kMax) : static_cast<std::uint64_t>(nanos);
}

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) {
  return a > std::numeric_limits<std::uint64_t>::max() - b ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

}  // namespace detail

// ---------------------------------------------------------------------------------------------
// Timer

namespace {
// A repeating timer with a zero or negative interval would spin its executor forever.
constexpr std::uint64_t kMinimumIntervalNanos = 100'000;
}  // namespace

struct Timer::State : std::enable_shared_from_this<Timer::State> {
  Clock* clock = nullptr;
  Executor* executor = nullptr;
  std::uint64_t startNanos = 0;
  std::uint64_t intervalNanos = 0;
  bool repeats = false;
  std::atomic<bool> valid{true};

  std::mutex mutex;
  Work work;            // cleared on invalidate so captures do not outlive the timer
  WorkItem pending;     // the next firing
  std::uint64_t k = 0;  // index of the next firing

  std::uint64_t dueOf(std::uint64_t index) const {
    if (index != 0 && intervalNanos > (std::numeric_limits<std::uint64_t>::max() - startNanos) / index) {
      return std::numeric_limits<std::uint64_t>::max();
    }
    return startNanos + index * intervalNanos;
  }

  // Caller holds `mutex`.
  void scheduleLocked() {
    auto self = shared_from_this();
    pending = executor->asyncAt(dueOf(k), [self] { self->fire(); });
  }

  void fire() {
    Work copy;
    {
      std::lock_guard lock(mutex);
      if (!valid.load()) return;
      copy = work;  // a copy, so invalidating from inside the work cannot destroy what is running
    }
    if (copy) copy();

    std::lock_guard lock(mutex);
    if (!valid.load()) return;
    if (!repeats) {
      valid.store(false);
      work = nullptr;
      pending = WorkItem();
      return;
    }
    // The next firing keeps to the start + k·interval grid. Firings that were missed while
    // this one ran late are skipped rather than fired in a burst.
    const std::uint64_t nowNanos = clock->monotonicNanos();
    std::uint64_t next = k + 1;
    if (nowNanos > startNanos) next = std::max(next, (nowNanos - startNanos) / intervalNanos + 1);
    k = next;
    scheduleLocked();
  }

  void invalidate() {
    Work dropped;
    {
      std::lock_guard lock(mutex);
      valid.store(false);
      pending.cancel();
      pending = WorkItem();
      dropped = std::move(work);
      work = nullptr;
    }
    // `dropped` is destroyed here, outside the lock, in case its captures touch the timer.
  }
};

void Timer::invalidate() {
  if (state_) state_->invalidate();
}

bool Timer::isValid() const { return state_ && state_->valid.load(); }

Timer Clock::scheduleTimer(Executor& executor, Seconds interval, bool repeats, Work work) {
  auto state = std::make_shared<Timer::State>();
  state->clock = this;
  state->executor = &executor;
  state->intervalNanos = detail::nanosFromSeconds(interval);
  if (repeats && state->intervalNanos < kMinimumIntervalNanos) state->intervalNanos = kMinimumIntervalNanos;
  state->repeats = repeats;
  state->work = std::move(work);
  state->startNanos = monotonicNanos();
  std::lock_guard lock(state->mutex);
  state->k = 1;
  state->scheduleLocked();
  return Timer(state);
}

// ---------------------------------------------------------------------------------------------
// The installed clock

namespace {
std::atomic<Clock*> gInstalled{nullptr};

Clock& fallbackClock() {
  static RealClock real;
  return real;
}
}  // namespace

Clock& clock() {
  if (Clock* installed = gInstalled.load(std::memory_order_acquire)) return *installed;
  return fallbackClock();
}

void installClock(Clock* clock) { gInstalled.store(clock, std::memory_order_release); }

namespace detail {
void forgetClock(Clock* clock) {
  Clock* expected = clock;
  gInstalled.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
}
}  // namespace detail

}  // namespace platform
