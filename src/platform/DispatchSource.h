#pragma once
// Dispatch sources: a timer that runs work on a queue, and a POSIX signal turned into
// work on a queue, outside signal context, the way the system's dispatch sources do.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/Clock.h"

class DispatchSourceSignal : public std::enable_shared_from_this<DispatchSourceSignal> {
 public:
  /// A suspended source for `signal` whose handler will run on `queue`. The queue must
  /// outlive the source or the source be cancelled first.
  static std::shared_ptr<DispatchSourceSignal> makeSignalSource(int signal, platform::Executor& queue);

  /// The work for each arrival (arrivals close together may be delivered once).
  void setEventHandler(std::function<void()> handler);
  /// Starts watching. Like the system's source it sees the signal even while the signal's
  /// disposition is to ignore it: the first source of a signal puts a catcher in place that
  /// only notes the arrival; a watcher thread then posts the handler to the queue.
  void resume();
  /// Stops for good. When the last source of a signal goes, the disposition found at its
  /// first resume is put back. Any thread.
  void cancel();
  int signal() const { return signal_; }

  /// When a signal whose source has work to post last arrived while none was waiting
  /// (steady-clock nanoseconds), until that work has run on its queue; 0 while none waits.
  /// Lets a thread that waits on something slow give way to the stop a signal asks for.
  /// Any thread.
  static std::int64_t workPendingSince();

  DispatchSourceSignal(int signal, platform::Executor& queue) : signal_(signal), queue_(&queue) {}

 private:
  friend struct SignalSources;
  const int signal_;
  platform::Executor* const queue_;
  std::function<void()> handler_;  // guarded by the sources' lock
  bool resumed_ = false;
  bool cancelled_ = false;
};

/// A timer on a serial queue: the first firing at the deadline, then every interval
/// (drift-free: the k-th repeat is due at deadline + k·interval). The leeway is accepted
/// for the system's sake and not applied.
class DispatchSourceTimer : public std::enable_shared_from_this<DispatchSourceTimer> {
 public:
  /// A suspended timer whose handler will run on `queue`.
  static std::shared_ptr<DispatchSourceTimer> makeTimerSource(platform::Executor& queue);

  /// Deadline in seconds from now (0: at once), repeat interval (0: once) and leeway.
  void schedule(platform::Seconds deadline, platform::Seconds repeating, platform::Seconds leeway = 0);
  void setEventHandler(std::function<void()> handler);
  /// Starts the schedule; only the first call counts. The firings hold the source weakly:
  /// one nobody keeps stops.
  void resume();
  /// Stops for good; a firing already under way finishes. Any thread.
  void cancel();
  bool isCancelled() const;

  explicit DispatchSourceTimer(platform::Executor& queue) : queue_(queue) {}

 private:
  void fire();

  platform::Executor& queue_;
  mutable std::mutex mutex_;
  std::function<void()> handler_;
  platform::Seconds deadline_ = 0;
  platform::Seconds interval_ = 0;
  bool resumed_ = false;
  bool cancelled_ = false;
  platform::WorkItem first_;
  platform::Timer repeats_;
};
