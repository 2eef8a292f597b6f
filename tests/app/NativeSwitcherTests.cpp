#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
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
    for (std::size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], nullptr, &saved_[i]);
  }
  ~SavedSignals() {
    for (const auto& source : NativeSwitcher::signalSources()) source->cancel();
    for (std::size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &saved_[i], nullptr);
  }

 private:
  static constexpr std::array<int, 9> kSignals{SIGSEGV, SIGBUS,  SIGILL, SIGTRAP, SIGABRT,
                                               SIGFPE,  SIGTERM, SIGINT, SIGHUP};
  std::array<struct sigaction, 9> saved_{};
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
    EXPECT_TRUE(ShellDesk::hotKeysOff()) << "never handled in signal context";
    // The signal is noted on another thread, which posts the work to the main queue.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);  // a hang guard only
    while (desk.scene.clock.pending() == 0 && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    desk.scene.clock.runUntilIdle();
    EXPECT_TRUE(ShellDesk::hotKeysOn()) << signal;
    EXPECT_EQ(desk.processes.exits(), std::vector<int>{0}) << signal;
  }
}

}  // namespace
