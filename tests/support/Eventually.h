#pragma once
// Waiting in tests of real threads and processes: for progress, with a deadline far beyond
// any loaded machine's delay, so a hang fails the test at once instead of holding it up.

#include <sys/types.h>
#include <sys/wait.h>

#include <chrono>
#include <optional>
#include <thread>

/// Waits until `done` holds, looking again every millisecond; false only when it never does
/// within `bound`.
template <typename Done, typename Rep, typename Period>
bool eventually(Done done, std::chrono::duration<Rep, Period> bound) {
  const auto giveUp = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() > giveUp) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

/// The exit status of the child `pid` once it ended (it is then reaped); nothing when it
/// is still running after `bound`.
template <typename Rep, typename Period>
std::optional<int> exitStatusWithin(pid_t pid, std::chrono::duration<Rep, Period> bound) {
  int status = 0;
  if (eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, bound)) return status;
  return std::nullopt;
}
