#pragma once
// Time and the places where work runs. Every timed or queued piece of work in the
// program goes through the installed Clock: the main queue, named serial queues,
// threads with their own run loop (the "event tap"), background tasks and timers.
// Tests install a VirtualClock and drive it step by step; the running program
// installs a RealClock whose main queue is the Qt event loop.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

using Seconds = double;
using Work = std::function<void()>;

/// A handle on delayed work: cancelling it before it runs means it never runs.
/// Copies share the same work; a default handle refers to nothing.
class WorkItem {
 public:
  WorkItem() = default;
  void cancel();
  bool isCancelled() const;
  explicit operator bool() const { return state_ != nullptr; }

  struct State;
  explicit WorkItem(std::shared_ptr<State> state) : state_(std::move(state)) {}
  const std::shared_ptr<State>& state() const { return state_; }

 private:
  std::shared_ptr<State> state_;
};

/// A serial place where work runs one piece at a time, in the order it falls due
/// (ties in the order it was posted). Thread-safe to post to from anywhere.
class Executor {
 public:
  virtual ~Executor() = default;
  virtual const std::string& label() const = 0;
  /// Runs `work` as soon as possible, after what is already due.
  virtual void async(Work work) = 0;
  /// Runs `work` once `delay` seconds have passed; the handle cancels it.
  virtual WorkItem asyncAfter(Seconds delay, Work work) = 0;
  /// Runs `work` when the monotonic clock reaches `dueNanos`.
  virtual WorkItem asyncAt(std::uint64_t dueNanos, Work work) = 0;
  /// True while the calling code runs on this executor.
  virtual bool isCurrent() const = 0;
};

/// A repeating or one-shot timer on an executor. Repeats fire at start + k·interval,
/// so a late firing does not push later ones back. Invalidating stops it for good;
/// dropping the last handle does not.
class Timer {
 public:
  Timer() = default;
  void invalidate();
  bool isValid() const;

  struct State;
  explicit Timer(std::shared_ptr<State> state) : state_(std::move(state)) {}

 private:
  std::shared_ptr<State> state_;
};

class Clock {
 public:
  virtual ~Clock() = default;

  /// Wall-clock time, seconds since 1970 (what a Date holds). May jump.
  virtual double now() = 0;
  /// Monotonic time in nanoseconds; event time stamps use the same scale.
  virtual std::uint64_t monotonicNanos() = 0;

  /// The main queue: the model, the windows and every workspace query run here.
  virtual Executor& main() = 0;
  /// A named serial queue, made on first use and kept for the life of the clock.
  virtual Executor& queue(const std::string& label) = 0;
  /// A named thread with its own run loop (for the event tap), made on first use.
  virtual Executor& thread(const std::string& name) = 0;
  /// Starts a detached task that runs concurrently with everything else.
  virtual void background(Work task) = 0;

  /// Starts a timer on `executor` that first fires after `interval` seconds.
  Timer scheduleTimer(Executor& executor, Seconds interval, bool repeats, Work work);

  Seconds monotonicSeconds() { return static_cast<double>(monotonicNanos()) / 1e9; }
};

/// The clock the program uses. Installing one replaces the previous one; the
/// caller keeps ownership. Without an installed clock a RealClock is made on first use.
Clock& clock();
void installClock(Clock* clock);

/// Shorthands for the installed clock.
inline Executor& mainQueue() { return clock().main(); }
inline double now() { return clock().now(); }

}  // namespace platform
