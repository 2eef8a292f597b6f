// Stopping the program attached to a host: by SIGTERM or SIGINT right after a switch,
// every stop ends with the status those signals ask for (0), gives the system its ⌘⇥
// back and leaves no message half written; a stopped host holds the stop up a second at
// most. Runs several programs at once, each on a home and host of its own.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "HostProcess.h"
#include "platform/CGEvent.h"

namespace {

/// Waits until `done` holds; false past a bound far beyond a loaded machine's delays
/// (many sanitized programs starting at once).
template <typename Done>
bool within(Done done, int seconds = 120) {
  return eventually(done, std::chrono::seconds(seconds));
}

/// The program's exit status once it has ended; -1 when it has not.
int ended(ProgramProcess& program) {
  int status = -1;
  if (!within([&] { return ::waitpid(program.pid, &status, WNOHANG) == program.pid; })) return -1;
  program.pid = -1;
  return status;
}

/// Switches as a user does: ⌘⇥, ⌘ held until the switcher shows on some display, then let
/// go. Pressed again once the program's tap is back when it lost a key to a time-out.
/// False when nothing switched.
bool switchApps(host::RemoteMac& mac, std::int32_t program) {
  const auto before = mac.windowServer->frontmostApplication();
  auto shows = [&] {
    for (const auto& w : mac.windowServer->windowList())
      if (w.ownerPID == program && w.layer == 101 && w.onScreen && w.alpha > 0) return true;
    return false;
  };
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (!holdCommandTab(mac, program, shows, std::chrono::seconds(120))) return false;
    const std::size_t lost = tapTimeouts(mac, program);
    auto lostOne = [&] { return tapTimeouts(mac, program) > lost; };
    mac.windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventFlagsChanged, kCommand, 0));
    if (within([&] { return mac.windowServer->frontmostApplication() != before || lostOne(); }) &&
        mac.windowServer->frontmostApplication() != before)
      return true;
    if (!tapsBack(mac, program, std::chrono::seconds(120))) return false;
  }
  return false;
}

/// A program started, switched with, and stopped by `signal`: what went wrong, or nothing.
std::string stopRightAfterASwitch(int signal) {
  ProgramOnHost stage;
  if (auto why = stage.start(); !why.empty()) return why;
  host::RemoteMac& mac = *stage.driver;
  ProgramProcess& program = *stage.program;
  const std::string log = stage.log();
  // The program in the world: the copy of this one's bundle that is not this one.
  const std::int32_t pid = stage.copyOtherThan();
  if (pid == 0) return "the program is no process of the world";
  if (!switchApps(mac, pid))
    return "nothing switched; the program's log:\n" + fileText(log) + "\nits output:\n" + fileText(program.output);

  ::kill(program.pid, signal);
  const int status = ended(program);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return "a stop by signal " + std::to_string(signal) + " ended with status " + std::to_string(status) + ": " +
           fileText(program.output);
  }
  if (!within([&] { return hotKeysOn(mac); })) return "⌘⇥ stayed off after a stop by signal " + std::to_string(signal);
  stage.driver.reset();
  stage.host->stop();
  stage.host->wait();
  // A frame cut short, or anything else the host could not read, is a line of its log.
  const std::string hostLog = stage.host->errors();
  if (hostLog.find("connection closed") != std::string::npos) return "the host read a broken message: " + hostLog;
  return "";
}

/// Stops per signal in a run: a few by default, as many as TRELLIQ_STOPS asks.
int stopsPerSignal() {
  const char* asked = std::getenv("TRELLIQ_STOPS");
  return asked && std::atoi(asked) > 0 ? std::atoi(asked) : 3;
}

}  // namespace

TEST(Stops, EveryStopBySigtermOrSigintRightAfterASwitchEndsCleanlyAndGivesTheSystemItsCommandTab) {
  const int perSignal = stopsPerSignal();
  constexpr int kAtOnce = 4;
  std::vector<int> signals;
  for (int i = 0; i < perSignal; ++i) signals.insert(signals.end(), {SIGTERM, SIGINT});
  int failed = 0;
  for (std::size_t first = 0; first < signals.size(); first += kAtOnce) {
    std::vector<std::future<std::string>> runs;
    for (std::size_t i = first; i < std::min(signals.size(), first + kAtOnce); ++i)
      runs.push_back(std::async(std::launch::async, stopRightAfterASwitch, signals[i]));
    for (auto& run : runs) {
      const std::string why = run.get();
      if (!why.empty()) {
        ++failed;
        ADD_FAILURE() << why;
      }
    }
  }
  EXPECT_EQ(failed, 0) << "of " << signals.size() << " stops";
}

TEST(Stops, AStoppedHostHoldsUpTheProgramsStopASecondAtMost) {
  ProgramOnHost stage;
  ASSERT_EQ(stage.start(), "");
  ProgramProcess& program = *stage.program;
  auto& driver = stage.driver;

  stage.host->stop(SIGSTOP);
  ::kill(program.pid, SIGTERM);
  const int status = ended(program);
  stage.host->stop(SIGCONT);
  ASSERT_TRUE(WIFEXITED(status)) << "the program did not end while its host was stopped";
  EXPECT_EQ(WEXITSTATUS(status), 0) << fileText(program.output);
  EXPECT_TRUE(within([&] { return hotKeysOn(*driver); })) << "⌘⇥ came back once the host went on";
}
