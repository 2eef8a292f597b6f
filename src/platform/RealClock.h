#pragma once
// The running program's clock: wall and monotonic time from the system, the main
// queue on the Qt event loop of the main thread, and one real thread per named
// queue or run-loop thread.

#include <memory>

#include "platform/Clock.h"

namespace platform {

class RealClock : public Clock {
 public:
  RealClock();
  /// Shuts down (see shutdown()) and uninstalls this clock if it is the installed one.
  ~RealClock() override;

  /// system_clock seconds since 1970.
  double now() override;
  /// steady_clock nanoseconds.
  std::uint64_t monotonicNanos() override;
  /// Runs work on the thread of the QCoreApplication; posting works from any thread, and work
  /// posted before the application exists runs once it does. isCurrent() means "on that thread".
  Executor& main() override;
  /// Each label gets its own thread, named after the label (cut to 15 bytes). Queues and
  /// threads share one namespace of labels, and "main" is the main queue.
  Executor& queue(const std::string& label) override;
  Executor& thread(const std::string& name) override;
  /// Starts a thread named "background" for the task; it is joined once done or at shutdown.
  void background(Work task) override;

  /// Stops every thread the clock started: work already due still runs, delayed work is
  /// dropped, started background tasks are waited for. Afterwards every post is dropped (the
  /// handle reads as cancelled). Call it from a thread the clock did not start.
  void shutdown();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
