#pragma once
// The system's own app switcher: its two symbolic hot keys (⌘⇥ and ⌘⇧⇥) are turned off
// while ours runs and on at every other time. Whatever way the process ends, the user
// must get the system's switcher back, so this also installs the signal handling that
// turns them on when the process crashes or is told to stop. A caseless namespace.

#include <array>
#include <csignal>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/DispatchSource.h"
#include "platform/PrivateSymbols.h"

namespace trelliq {

class NativeSwitcher final {
 public:
  NativeSwitcher() = delete;

  /// Symbolic hot key 1 (⌘⇥, next application) and 2 (⌘⇧⇥, previous application).
  static constexpr std::array<std::uint32_t, 2> hotKeys{1, 2};
  /// Handled by restoring the hot keys and dying by the same signal again.
  static constexpr std::array<int, 6> crashSignals{SIGSEGV, SIGBUS, SIGILL, SIGTRAP, SIGABRT, SIGFPE};
  /// Handled by restoring the hot keys at once, in the handler, then exiting with status 0
  /// on the main queue; a second one before the main queue got to the first ends the
  /// process from the handler with status 0.
  static constexpr std::array<int, 3> terminationSignals{SIGTERM, SIGINT, SIGHUP};
  /// Ignored: each only makes one write fail.
  static constexpr std::array<int, 2> ignoredSignals{SIGPIPE, SIGXFSZ};
  /// Every other signal whose default action ends the process (SIGQUIT, SIGUSR1, SIGALRM,
  /// the real-time signals…): handled like `crashSignals` when its disposition is the default.
  static std::vector<int> otherEndingSignals();

  /// Turns hot key 1, then 2, on or off; the window server's status is ignored. Does
  /// nothing when the private function is missing. Any thread; from a crash handler too,
  /// as the function is looked up before the handlers are installed.
  static void set(bool enabled);

  /// Installs the crash handler for `crashSignals` and `otherEndingSignals`, ignores
  /// `ignoredSignals`, and puts a signal source on the main queue for each of
  /// `terminationSignals` behind a handler that turns the hot keys on at once. Main thread,
  /// once per process: a second call for the same simulated Mac does nothing; one for a
  /// new one first cancels the sources of the old.
  static void restoreOnExit();

  /// "SLSSetSymbolicHotKeyEnabled" from the SkyLight library, looked up on first use and
  /// kept; null when missing. Any thread.
  static SLSSetSymbolicHotKeyEnabled_t* setEnabled();

  /// The live termination sources (main thread).
  static const std::vector<std::shared_ptr<DispatchSourceSignal>>& signalSources();

 private:
  static void crashed(int signal);
};

}  // namespace trelliq
