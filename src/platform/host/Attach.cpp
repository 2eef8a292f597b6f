#include "platform/host/Attach.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <variant>

#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/FoundationProcesses.h"
#include "platform/RealClock.h"
#include "platform/SystemPort.h"
#include "platform/Unicode.h"
#include "platform/WindowServerPort.h"
#include "platform/host/Channel.h"
#include "platform/host/Relaunch.h"
#include "platform/host/Remote.h"
#include "platform/sim/SimulatedMac.h"

extern char** environ;

namespace host {

std::string hostExecutable() {
  if (const char* chosen = std::getenv("TRELLIQ_SIMMAC"); chosen && *chosen) return chosen;
  const std::string path = ownExecutable();
  const auto slash = path.rfind('/');
  return (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/simmac";
}

std::optional<std::string> startHost(const std::string& executable, const std::string& home,
                                     const std::optional<std::string>& scenario, double lingerSeconds) {
  if (::access(executable.c_str(), X_OK) != 0) return "the world host " + executable + " is missing";
  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) return "cannot make a pipe";
  const std::string log = home + "/Library/Logs/simmac.log";
  platform::FileManager::createDirectory(home + "/Library/Logs");
  // Opened here, by the rules of every fixed file: a pipe at the path would hold the
  // child in open() for good, and a link there would put the log anywhere.
  const int logFD = platform::openPlainFile(log, O_WRONLY | O_CREAT | O_APPEND, 0600);
  if (logFD < 0) {
    const std::string why = errno == EINVAL ? "it is not a plain file" : std::strerror(errno);
    std::cerr << "trelliq: the world host's log " << platform::Unicode::oneLine(log) << " cannot be used (" << why
              << "); its messages are dropped\n";
  }
  const int devnull = ::open("/dev/null", O_RDWR | O_CLOEXEC);

  // Everything the child needs is made before the fork.
  std::vector<std::string> args = {executable, "--linger", std::to_string(lingerSeconds), "--ready-fd", "3"};
  if (logFD >= 0) {
    args.push_back("--log");
    args.push_back(log);
  }
  if (scenario) {
    args.push_back("--scenario");
    args.push_back(*scenario);
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> environment = {"TRELLIQ_HOME=" + home};
  for (char** e = environ; *e; ++e) {
    if (!std::string_view(*e).starts_with("TRELLIQ_HOME=")) environment.emplace_back(*e);
  }
  std::vector<char*> envp;
  for (auto& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);

  // Twice forked, in a session of its own: the host is nobody's child to reap, and a
  // Ctrl-C in the program's terminal does not reach it.
  const pid_t child = ::fork();
  if (child < 0) {
    for (int fd : {ready[0], ready[1], logFD, devnull}) {
      if (fd >= 0) ::close(fd);
    }
    return "cannot start the world host";
  }
  if (child == 0) {
    ::setsid();
    if (::fork() != 0) ::_exit(0);
    // dup2 clears close-on-exec on the copies.
    ::dup2(ready[1], 3);
    ::dup2(devnull, 0);
    ::dup2(devnull, 1);
    ::dup2(logFD >= 0 ? logFD : devnull, 2);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(ready[1]);
  if (logFD >= 0) ::close(logFD);
  if (devnull >= 0) ::close(devnull);
  int status = 0;
  ::waitpid(child, &status, 0);
  std::string said;
  char buffer[512];
  ssize_t n;
  while ((n = ::read(ready[0], buffer, sizeof(buffer))) > 0) said.append(buffer, static_cast<std::size_t>(n));
  ::close(ready[0]);
  while (!said.empty() && (said.back() == '\n' || said.back() == '\r')) said.pop_back();
  if (said == "ready") return std::nullopt;
  if (said.empty()) return "the world host " + executable + " ended before it served (see " + log + ")";
  return said;
}

ProgramAttachment::ProgramAttachment() = default;

ProgramAttachment::~ProgramAttachment() {
  // The clock's threads may be inside a call to the host (a capture): the connection ends
  // first, so such a call answers nothing at once, and those threads end before the ports
  // and the connection they use go.
  if (remote_ && remote_->connection) remote_->connection->close();
  if (clock_) clock_->shutdown();
  if (remote_) {
    platform::installWindowServer(nullptr);
    platform::installSystem(nullptr);
    remote_.reset();
  }
  if (clock_) platform::installClock(nullptr);
}

std::optional<std::string> ProgramAttachment::start(std::vector<std::string>& args) {
  std::optional<std::string> scenario;
  if (auto problem = sim::takeScenarioArgument(args, scenario)) return problem;
  std::string home;
  if (auto problem = sim::makeSimulatedHome(home)) return problem;
  if (scenario && !scenario->empty() && scenario->front() != '/') {
    // The host starts elsewhere; it needs the file by a path that does not depend on where.
    char here[4096];
    if (::getcwd(here, sizeof(here))) scenario = std::string(here) + "/" + *scenario;
  }

  const std::string socket = endpointFor(home).socket;
  bool refused = false;
  auto attached = RemoteMac::attach(socket, &refused);
  auto refusal = [&] {
    return "the simulated Mac of " + home + " does not serve this program: " + std::get<std::string>(attached);
  };
  if (refused) return refusal();
  if (std::holds_alternative<std::unique_ptr<RemoteMac>>(attached) && scenario) {
    return "a simulated Mac already runs for " + home + "; --scenario " + *scenario +
           " cannot change its desk (stop that one first, or use another TRELLIQ_HOME)";
  }
  if (!std::holds_alternative<std::unique_ptr<RemoteMac>>(attached)) {
    auto problem = startHost(hostExecutable(), home, scenario, kOnDemandLingerSeconds);
    // Another program may have started one for the same home a moment earlier: use it.
    if (problem && problem->find("already runs") == std::string::npos) return problem;
    startedHost_ = !problem;
    attached = RemoteMac::attach(socket, &refused);
    if (refused) return refusal();
    if (auto* error = std::get_if<std::string>(&attached)) return "cannot attach to the world host: " + *error;
  }
  remote_ = std::move(std::get<std::unique_ptr<RemoteMac>>(attached));
  // A program whose simulated Mac is gone cannot go on: say so and end, without waiting on
  // anything (every call answers at once from now on).
  remote_->connection->setLossHandler([](const std::string& why) {
    std::cerr << "trelliq: the simulated Mac went away (" << platform::Unicode::oneLine(why) << "); quitting"
              << std::endl;
    std::_Exit(3);
  });
  clock_ = std::make_unique<platform::RealClock>();
  // The program's threads reach its statics (pushes through the connection's threads,
  // queued work through the clock's): all of them end before any static is destroyed. The
  // connection goes first, so that work waiting on the host is answered at once; a thread
  // of it that does not end within the stop's patience is left to the end of the process,
  // which then destroys no static at all. Whoever asks second (a watch that finds the host
  // gone meanwhile) goes back to what it was doing; the first one ends the process.
  remote_->system->setExitHandler([connection = remote_->connection, clock = clock_.get()](int status) {
    // Only the main thread ends the program, between two pieces of its work: asked from
    // any other thread, the exit would destroy the statics that work still uses.
    if (!clock->main().isCurrent()) {
      clock->main().async([status] { platform::exitProgram(status); });
      return;
    }
    static std::atomic<bool> leaving{false};
    if (leaving.exchange(true)) return;
    const bool joined = connection->shutdownWithin(std::chrono::duration<double>(kStopPatience).count());
    clock->shutdown();
    if (!joined) {
      std::fflush(nullptr);
      std::_Exit(status);
    }
    std::exit(status);
  });
  platform::installClock(clock_.get());
  platform::installSystem(remote_->system.get());
  platform::installWindowServer(remote_->windowServer.get());
  return std::nullopt;
}

}  // namespace host
