#include "platform/DispatchSource.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {
// Set by the catcher, cleared once the work it posted has run: constant-initialised and
// trivially destroyed, so a handler may touch it at any time.
constinit std::atomic<std::int64_t> gWorkPendingSince{0};
// Signal work posted and not yet done; the mark above is cleared when the last is done.
constinit std::atomic<int> gPendingWork{0};
static_assert(std::atomic<std::int64_t>::is_always_lock_free);

// The steady clock's time, read in a way that is safe in a signal handler.
std::int64_t steadyNanoseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}
}  // namespace

// Every source of the process, the catchers' pipe and the watcher thread. Never
// destroyed: a signal may arrive while the process exits.
struct SignalSources {
  std::mutex mutex;
  int pipe[2] = {-1, -1};
  bool watching = false;
  std::map<int, std::vector<std::shared_ptr<DispatchSourceSignal>>> sources;
  std::map<int, struct sigaction> previous;

  static SignalSources& shared() {
    static SignalSources* all = new SignalSources();
    return *all;
  }

  static void catcher(int signal) {
    const int saved = errno;
    std::int64_t none = 0;
    gWorkPendingSince.compare_exchange_strong(none, steadyNanoseconds());
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const auto written = ::write(shared().pipe[1], &byte, 1);
    errno = saved;
  }

  // Under the lock.
  void startWatching() {
    if (watching) return;
    if (::pipe(pipe) != 0) return;
    ::fcntl(pipe[1], F_SETFL, ::fcntl(pipe[1], F_GETFL) | O_NONBLOCK);
    ::fcntl(pipe[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(pipe[1], F_SETFD, FD_CLOEXEC);
    watching = true;
    std::thread([this] {
      unsigned char byte = 0;
      for (;;) {
        const auto got = ::read(pipe[0], &byte, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return;
        // Posting under the lock: a source cancelled meanwhile never reaches its queue.
        std::lock_guard lock(mutex);
        auto it = sources.find(byte);
        if (it != sources.end()) {
          for (const auto& source : it->second) {
            if (!source->handler_) continue;
            // Marked while its work waits, even when an earlier clearing raced the catcher.
            std::int64_t none = 0;
            gWorkPendingSince.compare_exchange_strong(none, steadyNanoseconds());
            gPendingWork.fetch_add(1);
            source->queue_->async([handler = source->handler_] {
              handler();
              if (gPendingWork.fetch_sub(1) == 1) gWorkPendingSince.store(0);
            });
          }
        }
        // A signal nobody handles leaves no work behind: the mark must not outlive it, or
        // every later wait would read it as a stop long pending.
        if (gPendingWork.load() == 0) gWorkPendingSince.store(0);
      }
    }).detach();
  }
};

std::int64_t DispatchSourceSignal::workPendingSince() { return gWorkPendingSince.load(); }

std::shared_ptr<DispatchSourceSignal> DispatchSourceSignal::makeSignalSource(int signal, platform::Executor& queue) {
  return std::make_shared<DispatchSourceSignal>(signal, queue);
}

void DispatchSourceSignal::setEventHandler(std::function<void()> handler) {
  std::lock_guard lock(SignalSources::shared().mutex);
  handler_ = std::move(handler);
}

void DispatchSourceSignal::resume() {
  SignalSources& all = SignalSources::shared();
  std::lock_guard lock(all.mutex);
  if (resumed_ || cancelled_ || signal_ <= 0 || signal_ >= 256) return;
  all.startWatching();
  if (!all.watching) return;
  resumed_ = true;
  auto& list = all.sources[signal_];
  if (list.empty()) {
    struct sigaction action {};
    action.sa_handler = &SignalSources::catcher;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    struct sigaction found {};
    if (::sigaction(signal_, &action, &found) == 0) all.previous[signal_] = found;
  }
  list.push_back(shared_from_this());
}

void DispatchSourceSignal::cancel() {
  SignalSources& all = SignalSources::shared();
  std::lock_guard lock(all.mutex);
  if (cancelled_) return;
  cancelled_ = true;
  if (!resumed_) return;
  auto& list = all.sources[signal_];
  std::erase_if(list, [this](const auto& source) { return source.get() == this; });
  if (list.empty()) {
    if (auto it = all.previous.find(signal_); it != all.previous.end()) {
      ::sigaction(signal_, &it->second, nullptr);
      all.previous.erase(it);
    }
  }
}

// ---- Timers ----

std::shared_ptr<DispatchSourceTimer> DispatchSourceTimer::makeTimerSource(platform::Executor& queue) {
  return std::make_shared<DispatchSourceTimer>(queue);
}

void DispatchSourceTimer::schedule(platform::Seconds deadline, platform::Seconds repeating, platform::Seconds leeway) {
  std::lock_guard lock(mutex_);
  deadline_ = deadline > 0 ? deadline : 0;
  interval_ = repeating > 0 ? repeating : 0;
}

void DispatchSourceTimer::setEventHandler(std::function<void()> handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

void DispatchSourceTimer::resume() {
  std::lock_guard lock(mutex_);
  if (resumed_ || cancelled_) return;
  resumed_ = true;
  const std::weak_ptr<DispatchSourceTimer> weak = weak_from_this();
  auto fireWeak = [weak] {
    if (auto self = weak.lock()) self->fire();
  };
  if (interval_ == 0) {
    first_ = queue_.asyncAfter(deadline_, fireWeak);
    return;
  }
  // The repeats count from the first firing, so they stay on deadline + k·interval.
  first_ = queue_.asyncAfter(deadline_, [weak, fireWeak] {
    auto self = weak.lock();
    if (!self) return;
    {
      std::lock_guard lock(self->mutex_);
      if (self->cancelled_) return;
      self->repeats_ = platform::clock().scheduleTimer(self->queue_, self->interval_, true, fireWeak);
    }
    self->fire();
  });
}

void DispatchSourceTimer::fire() {
  std::function<void()> handler;
  {
    std::lock_guard lock(mutex_);
    if (cancelled_) return;
    handler = handler_;
  }
  if (handler) handler();
}

void DispatchSourceTimer::cancel() {
  std::lock_guard lock(mutex_);
  cancelled_ = true;
  first_.cancel();
  repeats_.invalidate();
}

bool DispatchSourceTimer::isCancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}
