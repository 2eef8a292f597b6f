#include "app/NativeSwitcher.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

#include "platform/Clock.h"
#include "platform/FoundationProcesses.h"
#include "platform/OncePerSystem.h"
#include "workspace/UnpublishedFunctions.h"

namespace trelliq {

namespace {

// The stop signals' sources, made for one system; a new system's are made afresh after
// the old ones are cancelled, since their queue went with their system.
std::vector<std::shared_ptr<DispatchSourceSignal>> gSignalSources;
platform::SystemStamp gSourcesSystem;

// What a signal handler calls to turn the hot keys on: read without locks or allocation,
// so it is safe in signal context.
std::atomic<SLSSetSymbolicHotKeyEnabled_t*> gRestore{nullptr};
static_assert(std::atomic<SLSSetSymbolicHotKeyEnabled_t*>::is_always_lock_free);

// Set by a stop signal, cleared when the main queue has handled it. A second stop signal
// while it is still set means the main thread is stuck (in a blocking open, say): the
// process then ends from the handler itself.
std::atomic<bool> gStopPending{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// The catcher of the dispatch source under each stop signal, called after ours.
struct sigaction gForward[NSIG];

void restoreFromSignal() {
  if (auto* function = gRestore.load(std::memory_order_acquire)) {
    for (std::uint32_t key : NativeSwitcher::hotKeys) function(key, true);
  }
}

void stopRequested(int signal, siginfo_t* info, void* context) {
  const int saved = errno;
  // At once, in signal context: the main queue may never get to it.
  restoreFromSignal();
  // The bare system call: the C library's (or a sanitizer's) exit may take locks the stuck
  // thread holds.
  if (gStopPending.exchange(true)) ::syscall(SYS_exit_group, 0);
  const struct sigaction& next = gForward[signal];
  if (next.sa_flags & SA_SIGINFO) {
    if (next.sa_sigaction) next.sa_sigaction(signal, info, context);
  } else if (next.sa_handler != SIG_IGN && next.sa_handler != SIG_DFL && next.sa_handler) {
    next.sa_handler(signal);
  }
  errno = saved;
}

// Puts `stopRequested` in front of what the dispatch source installed for `signal`.
void chainStopHandler(int signal) {
  struct sigaction current {};
  if (::sigaction(signal, nullptr, &current) != 0) return;
  if ((current.sa_flags & SA_SIGINFO) && current.sa_sigaction == &stopRequested) return;
  gForward[signal] = current;
  struct sigaction ours {};
  ours.sa_sigaction = &stopRequested;
  sigemptyset(&ours.sa_mask);
  ours.sa_flags = SA_SIGINFO | SA_RESTART;
  ::sigaction(signal, &ours, nullptr);
}

}  // namespace

std::vector<int> NativeSwitcher::otherEndingSignals() {
  std::vector<int> signals{
      SIGQUIT,   SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGSYS, SIGIO,
#ifdef SIGSTKFLT
      SIGSTKFLT,
#endif
#ifdef SIGPWR
      SIGPWR,
#endif
  };
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) signals.push_back(signal);
  return signals;
}

SLSSetSymbolicHotKeyEnabled_t* NativeSwitcher::setEnabled() { return UnpublishedFunctions::setSymbolicHotKeyEnabled(); }

void NativeSwitcher::set(bool enabled) {
  auto* function = setEnabled();
  gRestore.store(function, std::memory_order_release);
  if (!function) return;
  for (std::uint32_t key : hotKeys) function(key, enabled);
}

void NativeSwitcher::crashed(int signal) {
  restoreFromSignal();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void NativeSwitcher::restoreOnExit() {
  const platform::SystemStamp system = platform::SystemStamp::now();
  if (gSourcesSystem == system && !gSignalSources.empty()) return;
  for (const auto& source : gSignalSources) source->cancel();
  gSignalSources.clear();
  gSourcesSystem = system;

  // Looked up now, so the signal handlers find it without any lookup.
  gRestore.store(setEnabled(), std::memory_order_release);
  gStopPending.store(false);
  for (int signal : crashSignals) std::signal(signal, &NativeSwitcher::crashed);
  // Every other signal that would end the process does so the same way, unless the
  // program was started with it ignored.
  for (int signal : otherEndingSignals()) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) &&
        current.sa_handler == SIG_DFL)
      std::signal(signal, &NativeSwitcher::crashed);
  }
  // A reader that went away, or the file-size limit, is an error of one write, never the
  // end of the program (and of a log line half written).
  for (int signal : ignoredSignals) std::signal(signal, SIG_IGN);
  for (int signal : terminationSignals) {
    std::signal(signal, SIG_IGN);
    auto source = DispatchSourceSignal::makeSignalSource(signal, platform::mainQueue());
    source->setEventHandler([] {
      gStopPending.store(false);
      set(true);
      platform::exitProgram(0);
    });
    source->resume();
    gSignalSources.push_back(std::move(source));
    // The hot keys come back in the signal handler itself, before the main queue (which
    // may be stuck) gets the work.
    chainStopHandler(signal);
  }
}

const std::vector<std::shared_ptr<DispatchSourceSignal>>& NativeSwitcher::signalSources() { return gSignalSources; }

}  // namespace trelliq
