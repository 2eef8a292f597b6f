// The world host: one simulated Mac for every program on the same simulated home.
//
//   simmac [--scenario FILE] [--linger SECONDS] [--ready-fd FD] [--log FILE] [--tap-timeouts N,...]
//          [--late-tap-changes SECONDS] [--thread-starts N]
//
// It loads the scenario (the built-in desk without one), owns the world on the real
// clock and serves programs on the socket in $TRELLIQ_HOME until it is stopped (SIGINT or
// SIGTERM). With --linger, as when a program starts it on demand, it also ends once no
// program has been attached for that many seconds (at least ten before the first came). --ready-fd names a descriptor
// that gets "ready" (or the reason it cannot serve) once the socket listens, then is closed.
// --log names the file its lines go to (else standard error), cut as the program's log is.
// Two flags play a loaded machine for tests: with --tap-timeouts the listed events of each
// active tap (1: the first it is shown) time out at once; with --late-tap-changes a tap
// enabled or disabled changes that many seconds later. With --thread-starts the host starts
// that many threads once it serves (its programs' connections and lanes) and no more, as at
// a process limit.

#include <signal.h>
#include <unistd.h>

#include <QGuiApplication>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/host/Host.h"
#include "platform/host/HostLog.h"
#include "platform/sim/EventServer.h"
#include "platform/sim/SimulatedMac.h"
#include "platform/sim/World.h"

namespace {

void tell(int fd, const std::string& line) {
  if (fd < 0) return;
  const std::string text = line + "\n";
  [[maybe_unused]] auto n = ::write(fd, text.data(), text.size());
  ::close(fd);
}

// "1,3" as {1, 3}; nothing when any entry is not a positive count (no sign, nothing after it).
std::optional<std::set<std::uint64_t>> countsIn(const std::string& text) {
  std::set<std::uint64_t> counts;
  std::stringstream entries(text);
  for (std::string entry; std::getline(entries, entry, ',');) {
    std::uint64_t n = 0;
    const auto [end, error] = std::from_chars(entry.data(), entry.data() + entry.size(), n);
    if (entry.empty() || error != std::errc() || end != entry.data() + entry.size() || n == 0) return std::nullopt;
    counts.insert(n);
  }
  if (counts.empty()) return std::nullopt;
  return counts;
}

// "0.5" as 0.5 seconds; nothing for a negative, non-finite or malformed value.
std::optional<double> secondsIn(const std::string& text) {
  double seconds = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(seconds) ||
      seconds < 0) {
    return std::nullopt;
  }
  return seconds;
}

// The host's own arguments; `args` keeps what the simulated Mac takes.
struct HostOptions {
  std::vector<std::string> args;
  std::optional<double> linger;
  int readyFD = -1;
  std::set<std::uint64_t> tapTimeouts;
  double lateTapChanges = 0;
  std::optional<int> threadStarts;
};

// False, having said why, at an argument the host does not take.
bool readOptions(HostOptions& o) {
  for (std::size_t i = 0; i < o.args.size();) {
    const bool hasValue = i + 1 < o.args.size();
    const auto taken = [&] {
      const auto at = o.args.begin() + static_cast<std::ptrdiff_t>(i);
      o.args.erase(at, at + 2);
    };
    if (o.args[i] == "--linger" && hasValue) {
      o.linger = std::atof(o.args[i + 1].c_str());
      taken();
    } else if (o.args[i] == "--log" && hasValue) {
      host::setLogFile(o.args[i + 1]);
      taken();
    } else if (o.args[i] == "--ready-fd" && hasValue) {
      o.readyFD = std::atoi(o.args[i + 1].c_str());
      taken();
    } else if ((o.args[i] == "--tap-timeouts" || o.args[i] == "--late-tap-changes") && hasValue) {
      // A mistyped value would make a test play an unloaded machine and pass for the wrong reason.
      const auto counts = o.args[i] == "--tap-timeouts" ? countsIn(o.args[i + 1]) : std::nullopt;
      const auto seconds = o.args[i] == "--late-tap-changes" ? secondsIn(o.args[i + 1]) : std::nullopt;
      if (!counts && !seconds) {
        host::writeLogLine("bad value for " + o.args[i] + ": " + o.args[i + 1]);
        tell(o.readyFD, "usage");
        return false;
      }
      if (counts) o.tapTimeouts = *counts;
      if (seconds) o.lateTapChanges = *seconds;
      taken();
    } else if (o.args[i] == "--thread-starts" && hasValue) {
      const auto counts = countsIn(o.args[i + 1]);
      if (!counts || counts->size() != 1 || *counts->begin() > 1000) {
        host::writeLogLine("bad value for --thread-starts: " + o.args[i + 1]);
        tell(o.readyFD, "usage");
        return false;
      }
      o.threadStarts = static_cast<int>(*counts->begin());
      taken();
    } else if (o.args[i] == "--scenario") {
      i += 2;  // the simulated Mac takes it
    } else {
      host::writeLogLine("unknown argument " + o.args[i]);
      host::writeLogLine(
          "usage: simmac [--scenario FILE] [--linger SECONDS] [--ready-fd FD] [--log FILE] [--tap-timeouts N,...] "
          "[--late-tap-changes SECONDS] [--thread-starts N]");
      tell(o.readyFD, "usage");
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // A write past the file-size limit fails and loses its line instead of ending the host.
  signal(SIGXFSZ, SIG_IGN);
  HostOptions o;
  o.args.assign(argv + 1, argv + argc);
  if (!readOptions(o)) return 64;
  const int readyFD = o.readyFD;

  // Stop signals are taken by a thread of their own, so the host closes its socket and
  // lets its programs know instead of dying halfway.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  signal(SIGPIPE, SIG_IGN);

  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication application(argc, argv);  // window titles in pictures need fonts

  sim::SimulatedMac mac;
  if (auto problem = mac.start(o.args)) {
    host::writeLogLine("the simulated Mac could not start: " + *problem);
    tell(readyFD, *problem);
    return 2;
  }
  if (sim::EventServer* events = sim::EventServer::active()) {
    events->timeOutHolds(o.tapTimeouts);
    events->setLateTapChanges(o.lateTapChanges);
  }
  host::Host host(mac.world(), mac.windowServer());
  auto problem = host.listen(mac.world().home());
  if (!problem) problem = host.serve();
  if (problem) {
    host::writeLogLine(*problem);
    tell(readyFD, *problem);
    return 1;
  }
  if (o.threadStarts) host::failThreadStartsAfter(*o.threadStarts);
  host::writeLogLine("serving the simulated Mac of " + mac.world().home());
  tell(readyFD, "ready");

  // An idle host stops itself the same way a user stops it: one path out.
  std::thread idle;
  if (o.linger) {
    idle = std::thread([&host, seconds = *o.linger] {
      host.waitUntilIdle(seconds);
      ::kill(::getpid(), SIGTERM);
    });
  }
  std::thread stopper([&application, stops] {
    int signal = 0;
    sigwait(&stops, &signal);
    QMetaObject::invokeMethod(
        &application, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
  });
  application.exec();
  stopper.join();
  host.stop();
  if (idle.joinable()) idle.join();
  return 0;
}
