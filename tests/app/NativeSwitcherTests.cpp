#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ShellDesk.h"
#include "app/NativeSwitcher.h"
#include "platform/PrivateSymbols.h"

namespace {

using trelliq::NativeSwitcher;

// Stands in for the window server's hot-key switch and writes down each call.
struct RecordingHotKeys {
  static inline std::vector<std::pair<std::uint32_t, bool>> calls;
  static std::int32_t set(std::uint32_t key, bool enabled) {
    calls.emplace_back(key, enabled);
    return 0;
  }
};

// For crashing children: says on standard error, without locks, which key was turned on.
std::int32_t announce(std::uint32_t key, bool enabled) {
  if (enabled) {
    char line[] = "hot key 0 on\n";
    line[8] = static_cast<char>('0' + key % 10);
    [[maybe_unused]] auto written = ::write(2, line, sizeof line - 1);
  }
  return 0;
}

// Keeps the process's signal handling as it was before the test installed the program's.
class SavedSignals {
 public:
  SavedSignals() {
    for (int signal = 1; signal < NSIG; ++signal) sigaction(signal, nullptr, &saved_[signal]);
  }
  ~SavedSignals() {
    for (const auto& source : NativeSwitcher::signalSources()) source->cancel();
    for (int signal = 1; signal < NSIG; ++signal) {
      if (signal != SIGKILL && signal != SIGSTOP) sigaction(signal, &saved_[signal], nullptr);
    }
  }

 private:
  std::array<struct sigaction, NSIG> saved_{};
};

TEST(NativeSwitcherTest, TurnsBothSystemSwitcherKeysOffAndOnInOrder) {
  ShellDesk desk;
  ASSERT_TRUE(ShellDesk::hotKeysOn()) << "the system's switcher starts on";
  NativeSwitcher::set(false);
  EXPECT_TRUE(ShellDesk::hotKeysOff());
  NativeSwitcher::set(true);
  EXPECT_TRUE(ShellDesk::hotKeysOn());

  ShellDesk again;  // a new simulated Mac: the function is looked up afresh
  RecordingHotKeys::calls.clear();
  again.world.addFunction<SLSSetSymbolicHotKeyEnabled_t>(kSkyLightPath, "SLSSetSymbolicHotKeyEnabled",
                                                         &RecordingHotKeys::set);
  NativeSwitcher::set(false);
  NativeSwitcher::set(true);
  EXPECT_EQ(RecordingHotKeys::calls,
            (std::vector<std::pair<std::uint32_t, bool>>{{1, false}, {2, false}, {1, true}, {2, true}}));
}

TEST(NativeSwitcherTest, WithoutTheFunctionOrItsLibraryNothingHappens) {
  {
    ShellDesk desk;
    desk.world.removeSymbol(kSkyLightPath, "SLSSetSymbolicHotKeyEnabled");
    NativeSwitcher::set(false);
    EXPECT_TRUE(ShellDesk::hotKeysOn());
    EXPECT_EQ(NativeSwitcher::setEnabled(), nullptr);
  }
  {
    ShellDesk desk;
    desk.world.removeLibrary(kSkyLightPath);
    NativeSwitcher::set(false);
    EXPECT_TRUE(ShellDesk::hotKeysOn());
  }
  ShellDesk restored;
  EXPECT_NE(NativeSwitcher::setEnabled(), nullptr) << "a missing function is not remembered past its system";
}

TEST(NativeSwitcherTest, InstallsOneSourcePerTerminationSignalOnlyOnce) {
  SavedSignals saved;
  ShellDesk desk;
  NativeSwitcher::restoreOnExit();
  NativeSwitcher::restoreOnExit();
  std::vector<int> signals;
  for (const auto& source : NativeSwitcher::signalSources()) signals.push_back(source->signal());
  EXPECT_EQ(signals, (std::vector<int>{SIGTERM, SIGINT, SIGHUP}));

  struct sigaction crash {};
  sigaction(SIGSEGV, nullptr, &crash);
  EXPECT_NE(crash.sa_handler, SIG_DFL);

  // Cancelling every source gives back the disposition the program chose: ignore.
  for (const auto& source : NativeSwitcher::signalSources()) source->cancel();
  struct sigaction term {};
  sigaction(SIGTERM, nullptr, &term);
  EXPECT_EQ(term.sa_handler, SIG_IGN);
}

// Runs in a child: the program's handling in place, the hot keys off, then the crash.
void crashWith(int signal) {
  ShellDesk desk;
  desk.world.addFunction<SLSSetSymbolicHotKeyEnabled_t>(kSkyLightPath, "SLSSetSymbolicHotKeyEnabled", &announce);
  NativeSwitcher::restoreOnExit();
  std::raise(signal);
  // Not reached: the crash handler ends the process by the same signal.
  std::_Exit(3);
}

TEST(NativeSwitcherDeathTest, CrashesTurnTheHotKeysOnAndDieByTheSameSignal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (int signal : NativeSwitcher::crashSignals) {
    EXPECT_EXIT(crashWith(signal), testing::KilledBySignal(signal), "hot key 1 on.hot key 2 on") << signal;
  }
}

TEST(NativeSwitcherThreadsTest, StopSignalsTurnTheHotKeysOnAndExitWithZero) {
  SavedSignals saved;
  for (int signal : NativeSwitcher::terminationSignals) {
    ShellDesk desk;
    NativeSwitcher::restoreOnExit();
    NativeSwitcher::set(false);
    std::raise(signal);
    EXPECT_TRUE(ShellDesk::hotKeysOn()) << "turned on in the handler, before any queue runs: " << signal;
    NativeSwitcher::set(false);
    // The signal is also noted on another thread, which posts the exit to the main queue.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);  // a hang guard only
    while (desk.scene.clock.pending() == 0 && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    desk.scene.clock.runUntilIdle();
    EXPECT_TRUE(ShellDesk::hotKeysOn()) << signal;
    EXPECT_EQ(desk.processes.exits(), std::vector<int>{0}) << signal;
  }
}

// Turns a key on like `announce` and notes that it happened, for a thread to wait on.
std::atomic<int> gKeysTurnedOn{0};
std::int32_t announceAndCount(std::uint32_t key, bool enabled) {
  announce(key, enabled);
  if (enabled) gKeysTurnedOn.fetch_add(1);
  return 0;
}

// Runs in a child: the main thread stuck in an open() that never returns, while another
// thread sends the stop signal twice, the second time once the keys are back on.
void stopWhileTheMainThreadIsStuck(int signal) {
  ShellDesk desk;
  desk.world.addFunction<SLSSetSymbolicHotKeyEnabled_t>(kSkyLightPath, "SLSSetSymbolicHotKeyEnabled",
                                                        &announceAndCount);
  NativeSwitcher::restoreOnExit();
  NativeSwitcher::set(false);
  gKeysTurnedOn = 0;
  // Should the process hang after all, this ends it, by a signal the test does not expect.
  ::alarm(60);
  const std::string pipe = desk.scene.path("stuck");
  if (::mkfifo(pipe.c_str(), 0600) != 0) std::_Exit(3);
  std::thread([signal] {
    // Delivered to one of the other threads, the stuck one among them.
    sigset_t own;
    sigemptyset(&own);
    sigaddset(&own, signal);
    pthread_sigmask(SIG_BLOCK, &own, nullptr);
    ::kill(::getpid(), signal);
    while (gKeysTurnedOn.load() < 2) std::this_thread::yield();
    ::kill(::getpid(), signal);
  }).detach();
  // No writer ever comes: this open blocks for good.
  ::open(pipe.c_str(), O_RDONLY);
  std::_Exit(4);
}

TEST(NativeSwitcherDeathTest, StopSignalsTurnTheKeysOnAndEndTheProcessWhileTheMainThreadIsStuck) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (int signal : NativeSwitcher::terminationSignals) {
    EXPECT_EXIT(stopWhileTheMainThreadIsStuck(signal), testing::ExitedWithCode(0), "hot key 1 on.hot key 2 on")
        << signal;
  }
}

// Runs in a child: the program's handling in place, the hot keys off, then the signal;
// a signal that does not end the process lets it go on to say so and exit with 5.
void receive(int signal) {
  ShellDesk desk;
  desk.world.addFunction<SLSSetSymbolicHotKeyEnabled_t>(kSkyLightPath, "SLSSetSymbolicHotKeyEnabled", &announce);
  NativeSwitcher::restoreOnExit();
  std::raise(signal);
  int ends[2];
  if (::pipe(ends) != 0) std::_Exit(3);
  ::close(ends[0]);
  // Writing to a pipe nobody reads fails, and nothing more.
  const bool failed = ::write(ends[1], "x", 1) == -1 && errno == EPIPE;
  std::fprintf(stderr, "still running\n");
  std::_Exit(failed ? 5 : 6);
}

TEST(NativeSwitcherDeathTest, EverySignalThatWouldEndTheProcessTurnsTheKeysOnFirst) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::vector<int> others = NativeSwitcher::otherEndingSignals();
  // SIGPROF is among them too, but the death tests' children start with it ignored here,
  // and an ignored signal is rightly left ignored.
  EXPECT_NE(std::find(others.begin(), others.end(), SIGPROF), others.end());
  for (int signal : {SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGXCPU, SIGSYS, SIGRTMIN, SIGRTMAX}) {
    EXPECT_NE(std::find(others.begin(), others.end(), signal), others.end()) << signal;
    EXPECT_EXIT(receive(signal), testing::KilledBySignal(signal), "hot key 1 on.hot key 2 on") << signal;
  }
  for (int signal : NativeSwitcher::ignoredSignals) {
    EXPECT_EXIT(receive(signal), testing::ExitedWithCode(5), "still running") << signal;
  }
}

}  // namespace
