#pragma once
// A world host started as a real process for a test, on a temporary home of its own.

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "platform/host/Channel.h"
#include "platform/host/Remote.h"


struct Home {
  std::string path;
  Home() {
    char pattern[] = "/tmp/simmac-test-XXXXXX";
    path = ::mkdtemp(pattern);
  }
  ~Home() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string socket() const { return host::endpointFor(path).socket; }
};

/// One host process: started, its first line read ("ready" or why not), stopped and reaped.
struct HostProcess {
  pid_t pid = -1;
  std::string said;  // its ready line
  int stderrFD = -1;

  HostProcess(const std::string& home, std::vector<std::string> extra = {}) {
    int ready[2], errors[2];
    EXPECT_EQ(::pipe(ready), 0);
    EXPECT_EQ(::pipe(errors), 0);
    // Everything the child needs is made before the fork: the test process has threads.
    std::vector<std::string> args = {TRELLIQ_SIMMAC, "--ready-fd", std::to_string(ready[1])};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = {"TRELLIQ_HOME=" + home, "QT_QPA_PLATFORM=offscreen"};
    for (char** e = environ; *e; ++e) {
      if (!std::string(*e).starts_with("TRELLIQ_HOME=")) environment.emplace_back(*e);
    }
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid = ::fork();
    if (pid == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // a test killed halfway leaves no host behind
      ::close(ready[0]);
      ::close(errors[0]);
      ::dup2(errors[1], 2);
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
    ::close(ready[1]);
    ::close(errors[1]);
    stderrFD = errors[0];
    char buffer[512];
    ssize_t n;
    while ((n = ::read(ready[0], buffer, sizeof(buffer))) > 0) said.append(buffer, static_cast<std::size_t>(n));
    ::close(ready[0]);
    while (!said.empty() && said.back() == '\n') said.pop_back();
  }
  /// Its exit status (waits for it to end).
  int wait() {
    int status = 0;
    if (pid > 0) ::waitpid(pid, &status, 0);
    pid = -1;
    return status;
  }
  /// Everything it wrote to standard error (waits for it to end first).
  std::string errors() {
    std::string text;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(stderrFD, buffer, sizeof(buffer))) > 0) text.append(buffer, static_cast<std::size_t>(n));
    return text;
  }
  void stop(int signal = SIGTERM) {
    if (pid > 0) ::kill(pid, signal);
  }
  ~HostProcess() {
    stop(SIGKILL);
    wait();
    // A sanitizer's report in the host fails the test that drove it there.
    const std::string rest = errors();
    EXPECT_EQ(rest.find("Sanitizer"), std::string::npos) << rest;
    if (stderrFD >= 0) ::close(stderrFD);
  }
};

inline std::unique_ptr<host::RemoteMac> attach(const std::string& socket) {
  auto attached = host::RemoteMac::attach(socket);
  if (auto* problem = std::get_if<std::string>(&attached)) {
    ADD_FAILURE() << *problem;
    return nullptr;
  }
  return std::move(std::get<std::unique_ptr<host::RemoteMac>>(attached));
}


/// Waits until `done` holds, checking again as the other side makes progress; false only
/// when it never does within a bound far beyond any loaded machine's delay.
template <typename Done>
bool eventually(Done done, std::chrono::seconds bound = std::chrono::seconds(20)) {
  const auto give_up = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

/// A copy of the program started as a real process on `home` (headless), its output kept
/// in a file of the home, with `variables` ("NAME=value") added to its environment.
/// Stopped with SIGTERM, as a user's Ctrl-C would, and reaped.
struct ProgramProcess {
  pid_t pid = -1;
  std::string output;  // the file its standard output and error go to

  ProgramProcess(const std::string& home, std::vector<std::string> extra = {},
                 std::vector<std::string> variables = {}, const std::string& executable = TRELLIQ_PROGRAM) {
    static std::atomic<int> started{0};
    output = home + "/program" + std::to_string(++started) + ".out";
    std::vector<std::string> args = {executable};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = {"TRELLIQ_HOME=" + home, "QT_QPA_PLATFORM=offscreen",
                                            std::string("TRELLIQ_SIMMAC=") + TRELLIQ_SIMMAC};
    environment.insert(environment.end(), variables.begin(), variables.end());
    for (char** e = environ; *e; ++e) {
      const std::string_view entry(*e);
      if (!entry.starts_with("TRELLIQ_") && !entry.starts_with("QT_QPA_PLATFORM=")) environment.emplace_back(*e);
    }
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid = ::fork();
    if (pid == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      ::dup2(out, 1);
      ::dup2(out, 2);
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
    ::close(out);
  }
  int wait() {
    int status = 0;
    if (pid > 0) ::waitpid(pid, &status, 0);
    pid = -1;
    return status;
  }
  /// Its exit status once it ends by itself; nothing when it is still running after a bound
  /// far beyond any loaded machine's delay (a hang, which the test then reports).
  std::optional<int> ended() {
    int status = 0;
    const bool done = eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, std::chrono::seconds(120));
    if (!done) return std::nullopt;
    pid = -1;
    return status;
  }
  void stop(int signal = SIGTERM) {
    if (pid > 0) ::kill(pid, signal);
  }
  ~ProgramProcess() {
    stop();
    wait();
  }
};

/// The text of a file (empty when it cannot be read).
inline std::string fileText(const std::string& path) {
  std::string text;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof(buffer))) > 0) text.append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  return text;
}
