#pragma once
// A world host and copies of the program started as real processes for a test, on a home
// of the test's own. Every wait has a deadline far beyond any loaded machine's delay, so a
// process that hangs fails the test at once with a message instead of holding it up; a
// test's teardown stops every process it started (a host a program started on demand too)
// and removes its home.

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "platform/CGEvent.h"
#include "platform/WindowServerPort.h"
#include "platform/host/Channel.h"
#include "platform/host/Remote.h"
#include "support/Eventually.h"

/// How long a test waits for a process to do what it waits for before failing.
inline constexpr std::chrono::seconds kProcessDeadline{20};

/// Waits until `done` holds, checking again as the other side makes progress; false only
/// when it never does within the deadline.
template <typename Done>
bool eventually(Done done) {
  return eventually(done, kProcessDeadline);
}

/// The exit status of the child `pid` once it ended; nothing when it did not within the
/// deadline (it is then killed and reaped, and the test failed saying `what` hung).
inline std::optional<int> reap(pid_t pid, const std::string& what) {
  if (auto status = exitStatusWithin(pid, kProcessDeadline)) return status;
  ADD_FAILURE() << what << " did not end within " << kProcessDeadline.count() << " s; killed";
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return std::nullopt;
}

/// Stops the host that holds `home`'s lock, if one does (also one a program started on
/// demand, which is no child of the test), and waits until the kernel let go of its lock.
inline void stopHostOf(const std::string& home) {
  const int fd = ::open(host::endpointFor(home).lock.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  auto held = [&] { return ::flock(fd, LOCK_SH | LOCK_NB) != 0; };
  if (held()) {
    char text[32] = {};
    pid_t pid = 0;
    eventually([&] {  // a host that just took the lock writes its pid a moment later
      const ssize_t n = ::pread(fd, text, sizeof(text) - 1, 0);
      pid = n > 0 ? static_cast<pid_t>(std::atol(text)) : 0;
      return pid > 0 || !held();
    });
    if (pid > 0) ::kill(pid, SIGTERM);
    if (!eventually([&] { return !held(); })) {
      ADD_FAILURE() << "the host of " << home << " (pid " << pid << ") did not stop; killed";
      if (pid > 0) ::kill(pid, SIGKILL);
      eventually([&] { return !held(); });
    }
  }
  ::close(fd);
}

/// A home of the test's own: in $TRELLIQ_HOME when that is set, else in the temporary
/// folder ($TMPDIR). Its teardown stops its host and removes it.
struct Home {
  std::string path;
  Home() {
    const char* chosen = std::getenv("TRELLIQ_HOME");
    const std::filesystem::path base =
        chosen && *chosen ? std::filesystem::path(chosen) : std::filesystem::temp_directory_path();
    std::error_code ignored;
    std::filesystem::create_directories(base, ignored);
    std::string pattern = (base / "simmac-test-XXXXXX").string();
    if (::mkdtemp(pattern.data())) path = pattern;
    EXPECT_FALSE(path.empty()) << "cannot make a home in " << base;
  }
  ~Home() {
    if (path.empty()) return;
    stopHostOf(path);
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string socket() const { return host::endpointFor(path).socket; }
};

/// The environment of a child on `home`: the test's own, with the home (and `more`) set.
inline std::vector<std::string> childEnvironment(const std::string& home, std::vector<std::string> more = {}) {
  std::vector<std::string> environment = {"TRELLIQ_HOME=" + home, "QT_QPA_PLATFORM=offscreen"};
  environment.insert(environment.end(), more.begin(), more.end());
  for (char** e = environ; *e; ++e) {
    const std::string_view entry(*e);
    if (!entry.starts_with("TRELLIQ_") && !entry.starts_with("QT_QPA_PLATFORM=")) environment.emplace_back(*e);
  }
  return environment;
}

inline std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

/// What a host process starts under besides its arguments: a file-size limit, and a file
/// of the test's its standard error is appended to instead of a pipe the test reads.
struct HostLimits {
  std::optional<rlim_t> fileSize;
  std::string errorsTo;
};

/// One host process: started, its first line read ("ready" or why not), stopped and reaped.
struct HostProcess {
  pid_t pid = -1;
  std::string said;  // its ready line
  int stderrFD = -1;

  /// With `user`, the host runs as that user (the test must be able to switch to it).
  HostProcess(const std::string& home, std::vector<std::string> extra = {}, std::optional<uid_t> user = {},
              const HostLimits& limits = {}) {
    int ready[2], errors[2];
    EXPECT_EQ(::pipe2(ready, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(errors, O_CLOEXEC), 0);
    // Everything the child needs is made before the fork: the test process has threads.
    std::vector<std::string> args = {TRELLIQ_SIMMAC, "--ready-fd", std::to_string(ready[1])};
    args.insert(args.end(), extra.begin(), extra.end());
    auto argv = pointers(args);
    auto environment = childEnvironment(home);
    auto envp = pointers(environment);
    static const char kCannotSwitch[] = "cannot switch to that user\n";
    const int errorsTo =
        limits.errorsTo.empty() ? -1 : ::open(limits.errorsTo.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    pid = ::fork();
    if (pid == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // a test killed halfway leaves no host behind
      ::dup2(errorsTo >= 0 ? errorsTo : errors[1], 2);
      const rlimit fileSize{limits.fileSize.value_or(RLIM_INFINITY), limits.fileSize.value_or(RLIM_INFINITY)};
      if (limits.fileSize) ::setrlimit(RLIMIT_FSIZE, &fileSize);
      ::signal(SIGXFSZ, SIG_DFL);  // as a user's shell leaves it
      ::fcntl(ready[1], F_SETFD, 0);  // the one descriptor the host inherits
      if (user && (::setgroups(0, nullptr) != 0 || ::setgid(*user) != 0 || ::setuid(*user) != 0)) {
        [[maybe_unused]] auto n = ::write(ready[1], kCannotSwitch, sizeof(kCannotSwitch) - 1);
        ::_exit(126);
      }
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
    ::close(ready[1]);
    ::close(errors[1]);
    if (errorsTo >= 0) ::close(errorsTo);
    stderrFD = errors[0];
    said = readLine(ready[0]);
    ::close(ready[0]);
  }
  /// Its exit status once it ended (nothing, and the test failed, when it did not).
  std::optional<int> wait() {
    std::optional<int> status;
    if (pid > 0) status = reap(pid, "the host");
    pid = -1;
    return status;
  }
  /// Everything it wrote to standard error (it must have ended).
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

 private:
  /// What the child wrote to `fd` until it closed it, without the last newline; the test
  /// fails when it writes nothing and keeps it open past the deadline.
  static std::string readLine(int fd) {
    std::string text;
    const auto give_up = std::chrono::steady_clock::now() + kProcessDeadline;
    while (true) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(give_up - std::chrono::steady_clock::now());
      pollfd p{fd, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) == 0) {
        ADD_FAILURE() << "the host said nothing within " << kProcessDeadline.count() << " s";
        break;
      }
      char buffer[512];
      const ssize_t n = ::read(fd, buffer, sizeof(buffer));
      if (n <= 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
    }
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }
};

inline std::unique_ptr<host::RemoteMac> attach(const std::string& socket,
                                               host::AttachAs as = host::AttachAs::program) {
  auto attached = host::RemoteMac::attach(socket, nullptr, as);
  if (auto* problem = std::get_if<std::string>(&attached)) {
    ADD_FAILURE() << *problem;
    return nullptr;
  }
  return std::move(std::get<std::unique_ptr<host::RemoteMac>>(attached));
}

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
    auto argv = pointers(args);
    std::vector<std::string> more = {std::string("TRELLIQ_SIMMAC=") + TRELLIQ_SIMMAC};
    more.insert(more.end(), variables.begin(), variables.end());
    auto environment = childEnvironment(home, std::move(more));
    auto envp = pointers(environment);
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid = ::fork();
    if (pid == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      ::signal(SIGPIPE, SIG_DFL);  // as a user's shell leaves it
      ::dup2(out, 1);
      ::dup2(out, 2);
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
    ::close(out);
  }
  /// Its exit status once it ended (nothing, and the test failed, when it did not).
  std::optional<int> wait() {
    std::optional<int> status;
    if (pid > 0) status = reap(pid, "the program");
    pid = -1;
    return status;
  }
  /// Its exit status once it ends by itself; nothing when it is still running after a bound
  /// far beyond any loaded machine's delay (a hang, which the test then reports).
  std::optional<int> ended(std::chrono::seconds bound = std::chrono::seconds(120)) {
    auto status = exitStatusWithin(pid, bound);
    if (status) pid = -1;
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

/// A host of its own on a home of the test's own, with this test attached to it as a
/// program: where most host tests start.
struct AttachedHost {
  Home home;
  std::optional<HostProcess> host;
  std::unique_ptr<host::RemoteMac> mac;

  /// Starts the host (with `extra`) and attaches; fails the test when either cannot be had.
  void start(std::vector<std::string> extra = {}) {
    host.emplace(home.path, std::move(extra));
    ASSERT_EQ(host->said, "ready");
    mac = attach(home.socket());
    ASSERT_TRUE(mac);
  }
};

/// Whether both of the system's ⌘⇥ hot keys are `on`, as `mac` asks the host.
inline bool hotKeysAre(host::RemoteMac& mac, bool on) {
  return mac.connection->call("hotKeysEnabled") == nlohmann::json::array({on, on});
}
inline bool hotKeysOn(host::RemoteMac& mac) { return hotKeysAre(mac, true); }

/// The world pid of a process with the bundle of the program attached as `mac` that is
/// neither `mac` itself nor `other`; 0 when there is none.
inline std::int32_t copyBeside(host::RemoteMac& mac, std::int32_t other = 0) {
  const std::int32_t self = mac.windowServer->ownProcessIdentifier();
  const auto selfInfo = mac.windowServer->application(self);
  if (!selfInfo) return 0;
  for (const auto& app : mac.windowServer->runningApplications()) {
    if (app.pid != self && app.pid != other && app.bundleIdentifier == selfInfo->bundleIdentifier) return app.pid;
  }
  return 0;
}

/// The menu-bar program as a real process on a host of its own, and this test attached
/// beside it as a second program that acts as the user and looks on.
struct ProgramOnHost {
  /// Whether the test attaches to look on, or only watches the program's log.
  enum class Onlooker { attached, none };

  Home home;
  std::optional<HostProcess> host;
  std::optional<ProgramProcess> program;
  std::unique_ptr<host::RemoteMac> driver;

  /// Starts the host (with `hostArguments`) and the program (with `programArguments`),
  /// waits until the program has launched, then (unless told not to) attaches this test and
  /// waits until the program has taken ⌘⇥ from the system (a loaded machine starts its tap
  /// late), each within `bound`. What went wrong, or nothing: callable from any thread.
  std::string start(std::vector<std::string> hostArguments = {}, std::vector<std::string> programArguments = {},
                    Onlooker onlooker = Onlooker::attached, std::chrono::seconds bound = std::chrono::seconds(120)) {
    host.emplace(home.path, std::move(hostArguments));
    if (host->said != "ready") return "the host did not start: " + host->said;
    program.emplace(home.path, std::move(programArguments));
    if (!eventually([&] { return fileText(log()).find("launched") != std::string::npos; }, bound))
      return "the program did not launch: " + fileText(program->output);
    if (onlooker == Onlooker::none) return "";
    auto attached = host::RemoteMac::attach(home.socket());
    if (auto* problem = std::get_if<std::string>(&attached)) return "cannot attach: " + *problem;
    driver = std::move(std::get<std::unique_ptr<host::RemoteMac>>(attached));
    if (!eventually([&] { return !hotKeysOn(*driver); }, bound)) return "the program never took ⌘⇥: " + fileText(log());
    return "";
  }
  /// The program's log.
  std::string log() const { return home.path + "/Library/Logs/Trelliq.log"; }
  /// The process of the world with this program's bundle that is neither the driver nor
  /// `other`; 0 when there is none.
  std::int32_t copyOtherThan(std::int32_t other = 0) const { return copyBeside(*driver, other); }
};

inline constexpr CGKeyCode kCommand = 0x37, kTab = 0x30, kEscape = 0x35;

/// A key event as a keyboard posts it at the HID level.
inline CGEvent keyEvent(CGEventType type, CGKeyCode code, CGEventFlags flags) {
  CGEvent e;
  e.type = type;
  e.flags = flags;
  e.integerFields[kCGKeyboardEventKeycode] = code;
  return e;
}

/// A panel at the switcher's level (101) with `frame`, as a program asks the server for one.
inline platform::OwnWindowState panelAt(CGRect frame) {
  platform::OwnWindowState panel;
  panel.frame = frame;
  panel.level = 101;
  panel.title = "panel";
  return panel;
}

/// A tap at `where` for key downs, in front of the taps there or (`kCGTailAppendEventTap`)
/// behind them; a listen-only one hears what got past the taps before it.
inline platform::EventTapRequest keyDownTap(CGEventTapLocation where, CGEventTapPlacement placement,
                                            bool listenOnly) {
  platform::EventTapRequest r;
  r.location = where;
  r.placement = placement;
  r.listenOnly = listenOnly;
  r.mask = CGEventMaskBit(kCGEventKeyDown);
  return r;
}

/// How often the taps of the program of world pid `program` were disabled for answering
/// late (on a loaded machine a starting program's may be): each time, the key the tap held
/// went on without it, and so did every key until the program enabled its tap again.
inline std::size_t tapTimeouts(host::RemoteMac& mac, std::int32_t program) {
  std::size_t count = 0;
  if (const auto states = mac.connection->call("eventTapStates"); states && states->is_array())
    for (const auto& tap : *states)
      if (tap.value("pid", 0) == program) count += tap.value("timeouts", std::size_t{0});
  return count;
}

/// Whether every tap of the program of world pid `program` is enabled (a program enables
/// its tap again once it hears that the system disabled it); false while it has none.
inline bool tapsEnabled(host::RemoteMac& mac, std::int32_t program) {
  const auto states = mac.connection->call("eventTapStates");
  if (!states || !states->is_array()) return false;
  bool any = false;
  for (const auto& tap : *states) {
    if (tap.value("pid", 0) != program) continue;
    if (!tap.value("enabled", false)) return false;
    any = true;
  }
  return any;
}

/// After a key was lost to a tap time-out: waits until the taps of the program of world
/// pid `program` hear keys again, so keys pressed anew reach it. False when they never do
/// within `bound`.
inline bool tapsBack(host::RemoteMac& mac, std::int32_t program, std::chrono::seconds bound = kProcessDeadline) {
  return eventually([&] { return tapsEnabled(mac, program); }, bound);
}

/// Presses ⌘⇥ at the HID level as a user does and keeps ⌘ held until `shows` holds; when
/// a tap of the program of world pid `program` lost a key to a time-out meanwhile, the
/// session is ended and the keys pressed again once its tap is back. False when it never
/// showed within `bound`.
template <typename Shows>
bool holdCommandTab(host::RemoteMac& mac, std::int32_t program, Shows shows,
                    std::chrono::seconds bound = kProcessDeadline) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::size_t lost = tapTimeouts(mac, program);
    auto lostOne = [&] { return tapTimeouts(mac, program) > lost; };
    mac.windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventFlagsChanged, kCommand, kCGEventFlagMaskCommand));
    mac.windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventKeyDown, kTab, kCGEventFlagMaskCommand));
    mac.windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventKeyUp, kTab, kCGEventFlagMaskCommand));
    if (eventually([&] { return shows() || lostOne(); }, bound) && !lostOne()) return true;
    const bool back = lostOne() && tapsBack(mac, program, bound);
    // Esc first: a session the tap opened from a key it was shown too late ends without
    // switching.
    mac.windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventKeyDown, kEscape, kCGEventFlagMaskCommand));
    mac.windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventKeyUp, kEscape, kCGEventFlagMaskCommand));
    mac.windowServer->postEvent(kCGHIDEventTap, keyEvent(kCGEventFlagsChanged, kCommand, 0));
    if (!back) return false;
  }
  return false;
}
