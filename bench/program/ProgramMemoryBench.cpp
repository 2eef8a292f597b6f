// The program's own peak resident size as a person leaves it running: the world host
// (simmac) and the program (trelliq) as real processes on a home of their own, and this
// benchmark attached beside them as one more program that presses the keys at the HID
// level as a keyboard does. The peak is the program's high-water mark (VmHWM of
// /proc/PID/status), so the world's windows and pictures, which live in the host, count
// nowhere. Each session is ⌘⇥ held until the panels show, three ⇥ steps 0.15 s apart,
// then Escape and ⌘ let go, and a wait until the panels are gone.
//
//   ProgramMemory/builtIn/<tiles>/<preview>   a hundred sessions on the built-in desk,
//                                             against 150 MB, every tile style and preview
//   ProgramMemory/large/<tiles>/fullScreen    a thousand sessions on the large desk (three
//                                             displays at scale 2, 1,600 windows), against
//                                             300 MB, with the full-screen preview
//
// Beside the peak: the program's size once launched ("fresh MB"), a second after the last
// session ("after MB"), the sessions whose panels never showed ("missed"), and what the
// largest resident size sampled every 10 ms was made of: the heaps' and mapped pictures'
// pages ("anon MB") and the shared surfaces' and captures' ("shmem MB").
// TRELLIQ_BENCH_SESSIONS=n runs n sessions instead, for a quick look; TRELLIQ_BENCH_SMAPS
// names a file to hold the program's /proc/PID/smaps at that largest sample;
// TRELLIQ_BENCH_PAUSE=s waits s seconds after each session, as a person would between two
// (the sessions otherwise follow each other at once, leaving the program no time to give
// memory back between them); TRELLIQ_BENCH_BIN
// names another folder holding simmac and trelliq, to measure another build.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <atomic>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "platform/CGEvent.h"
#include "platform/host/Channel.h"
#include "platform/host/Remote.h"
#include "platform/sim/Scenario.h"

namespace {

using nlohmann::json;
using namespace std::chrono_literals;

constexpr const char* kDomain = "app.ondrel.trelliq";
constexpr std::int32_t kPanelLayer = 101;
constexpr CGKeyCode kCommand = 0x37, kTab = 0x30, kEscape = 0x35;

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds cap) {
  const auto end = std::chrono::steady_clock::now() + cap;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(5ms);
  }
  return done();
}

std::string binDir() {
  const char* other = std::getenv("TRELLIQ_BENCH_BIN");
  return other ? other : TRELLIQ_BIN_DIR;
}

/// A field of /proc/PID/status in megabytes ("VmHWM", "VmRSS"); 0 when it cannot be read.
double statusMB(pid_t pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1)) / 1024;
  }
  return 0;
}

std::string fileText(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

/// The large desk of the in-process benchmarks as a scenario: three displays at scale 2,
/// eight Spaces each (the last full screen), 60 apps and 1,600 windows dealt round-robin
/// over the apps and the ordinary Spaces, every 17th minimized.
json largeDesk() {
  const double frames[3][4] = {{0, 0, 1512, 982}, {1512, 0, 2560, 1440}, {4072, 0, 1920, 1080}};
  // The same frames top-left on the first display.
  const double tops[3] = {0, -458, -98};
  json displays = json::array(), spaces = json::array(), apps = json::array(), windows = json::array();
  std::vector<std::pair<int, int>> ordinary;  // Space, display
  int next = 100;
  for (int d = 0; d < 3; ++d) {
    json list = json::array();
    const int first = next;
    for (int s = 0; s < 8; ++s, ++next) {
      list.push_back({{"id", next}, {"type", s == 7 ? "fullScreen" : "desktop"}});
      if (s != 7) ordinary.emplace_back(next, d);
    }
    displays.push_back({{"id", d + 1},
                        {"frame", {frames[d][0], frames[d][1], frames[d][2], frames[d][3]}},
                        {"scale", 2}});
    spaces.push_back({{"display", d + 1}, {"current", first}, {"spaces", list}});
  }
  for (int a = 0; a < 60; ++a)
    apps.push_back({{"pid", 1000 + a},
                    {"name", "App " + std::to_string(a)},
                    {"bundleIdentifier", "org.example.app" + std::to_string(a)}});
  for (int w = 0; w < 1600; ++w) {
    const auto& [space, d] = ordinary[static_cast<std::size_t>(w) % ordinary.size()];
    windows.push_back({{"app", 1000 + w % 60},
                       {"title", "Document " + std::to_string(w)},
                       {"frame", {frames[d][0] + 20 * (w % 20), tops[d] + 40 + 10 * (w % 30), 600, 400}},
                       {"spaces", {space}},
                       {"minimized", w % 17 == 0}});
  }
  return {{"osVersion", "15.3"},
          {"displays", displays},
          {"permissions", {{"screenCapture", true}, {"accessibility", true}}},
          {"spaces", spaces},
          {"apps", apps},
          {"frontmost", 1000},
          {"windows", windows}};
}

pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& environment, int keep,
            const std::string& output) {
  std::vector<std::string> a = args, e = environment;
  std::vector<char*> argv, envp;
  for (auto& s : a) argv.push_back(s.data());
  argv.push_back(nullptr);
  for (auto& s : e) envp.push_back(s.data());
  envp.push_back(nullptr);
  const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::dup2(out, 1);
    ::dup2(out, 2);
    if (keep >= 0) ::fcntl(keep, F_SETFD, 0);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(out);
  return pid;
}

void stop(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  int status = 0;
  if (!waitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 15s)) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
}

/// The host on `scenario`, the program, and this benchmark attached: ready() once the
/// program has taken ⌘⇥ from the system.
class Machine {
 public:
  explicit Machine(const json& scenario) {
    char folder[] = "/tmp/trelliq-memory-bench-XXXXXX";
    if (!::mkdtemp(folder)) return;
    home_ = folder;
    std::ofstream(home_ + "/scenario.json") << scenario.dump();
    std::vector<std::string> environment = {"TRELLIQ_HOME=" + home_, "QT_QPA_PLATFORM=offscreen"};
    for (char** e = environ; *e; ++e) {
      const std::string entry(*e);
      if (!entry.starts_with("TRELLIQ_") && !entry.starts_with("QT_QPA_PLATFORM=")) environment.push_back(entry);
    }
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) return;
    host_ = spawn({binDir() + "/simmac", "--scenario", home_ + "/scenario.json", "--ready-fd", std::to_string(ready[1])},
                  environment, ready[1], home_ + "/host.out");
    ::close(ready[1]);
    pollfd p{ready[0], POLLIN, 0};
    char said[64] = {};
    const bool up = ::poll(&p, 1, 60000) == 1 && ::read(ready[0], said, sizeof(said) - 1) > 0;
    ::close(ready[0]);
    if (!up || std::string(said).rfind("ready", 0) != 0) return;
    environment.push_back("TRELLIQ_SIMMAC=" + binDir() + "/simmac");
    program_ = spawn({binDir() + "/trelliq"}, environment, -1, home_ + "/program.out");
    const std::string log = home_ + "/Library/Logs/Trelliq.log";
    if (!waitFor([&] { return fileText(log).find("launched") != std::string::npos; }, 120s)) return;
    auto attached = host::RemoteMac::attach(host::endpointFor(home_).socket);
    if (auto* mac = std::get_if<std::unique_ptr<host::RemoteMac>>(&attached)) mac_ = std::move(*mac);
    if (!mac_) return;
    ready_ = waitFor([&] { return mac_->connection->call("hotKeysEnabled") == json::array({false, false}); }, 120s);
    std::this_thread::sleep_for(1s);  // what launching started settles
  }
  ~Machine() {
    stop(program_);
    mac_.reset();
    stop(host_);
    std::error_code ignored;
    if (!home_.empty()) std::filesystem::remove_all(home_, ignored);
  }
  bool ready() const { return ready_; }
  pid_t program() const { return program_; }

  /// One session; false when its panels never showed.
  bool session() {
    post(kCGEventFlagsChanged, kCommand, kCGEventFlagMaskCommand);
    press(kTab, kCGEventFlagMaskCommand);
    const bool shown = waitFor([&] { return panels(); }, 3s);
    for (int step = 0; step < 3; ++step) {
      press(kTab, kCGEventFlagMaskCommand);
      std::this_thread::sleep_for(150ms);
    }
    press(kEscape, kCGEventFlagMaskCommand);
    post(kCGEventFlagsChanged, kCommand, 0);
    waitFor([&] { return !panels(); }, 3s);
    return shown;
  }

 private:
  void post(CGEventType type, CGKeyCode code, CGEventFlags flags) {
    CGEvent e;
    e.type = type;
    e.flags = flags;
    e.integerFields[kCGKeyboardEventKeycode] = code;
    mac_->windowServer->postEvent(kCGHIDEventTap, e);
  }
  void press(CGKeyCode code, CGEventFlags flags) {
    post(kCGEventKeyDown, code, flags);
    post(kCGEventKeyUp, code, flags);
  }
  bool panels() {
    for (const auto& e : mac_->windowServer->windowList())
      if (e.layer == kPanelLayer && e.onScreen && e.alpha > 0) return true;
    return false;
  }

  std::string home_;
  pid_t host_ = -1, program_ = -1;
  std::unique_ptr<host::RemoteMac> mac_;
  bool ready_ = false;
};

const char* const kTiles[] = {"apps", "windows", "both"};
const char* const kPreviews[] = {"none", "thumbnail", "fullScreen"};

void run(benchmark::State& state, json scenario, int tiles, int preview, double budgetMB) {
  scenario["preferences"][kDomain] = {{"tiles", kTiles[tiles]}, {"preview", kPreviews[preview]}};
  const char* asked = std::getenv("TRELLIQ_BENCH_SESSIONS");
  const int count = asked ? std::atoi(asked) : static_cast<int>(state.range(0));
  const char* paused = std::getenv("TRELLIQ_BENCH_PAUSE");
  const double pause = paused ? std::atof(paused) : 0;
  double fresh = 0, peak = 0, after = 0, missed = 0, anon = 0, shmem = 0;
  for (auto _ : state) {
    Machine machine(scenario);
    if (!machine.ready()) {
      state.SkipWithError("the host or the program did not start");
      return;
    }
    fresh = statusMB(machine.program(), "VmRSS");
    std::atomic<bool> sampling{true};
    std::thread sampler([&] {
      double largest = 0;
      while (sampling) {
        const double rss = statusMB(machine.program(), "VmRSS");
        if (rss > largest) {
          largest = rss;
          anon = statusMB(machine.program(), "RssAnon");
          shmem = statusMB(machine.program(), "RssShmem");
          if (const char* to = std::getenv("TRELLIQ_BENCH_SMAPS"))
            std::ofstream(to) << fileText("/proc/" + std::to_string(machine.program()) + "/smaps");
        }
        std::this_thread::sleep_for(10ms);
      }
    });
    for (int i = 0; i < count; ++i) {
      missed += machine.session() ? 0 : 1;
      std::this_thread::sleep_for(std::chrono::duration<double>(pause));
    }
    sampling = false;
    sampler.join();
    std::this_thread::sleep_for(1s);  // the heaps' free pages go back 0.75 s after a session
    peak = statusMB(machine.program(), "VmHWM");
    after = statusMB(machine.program(), "VmRSS");
  }
  state.counters["fresh MB"] = fresh;
  state.counters["peak MB"] = peak;
  state.counters["after MB"] = after;
  state.counters["missed"] = missed;
  state.counters["anon MB"] = anon;
  state.counters["shmem MB"] = shmem;
  state.counters["of budget"] = peak / budgetMB;
}

void ProgramMemoryBuiltIn(benchmark::State& state) {
  run(state, json::parse(sim::defaultScenarioText()), static_cast<int>(state.range(1)),
      static_cast<int>(state.range(2)), 150);
}
// Named by the case: ProgramMemory/builtIn/<sessions>/<tiles: apps, windows, both>/<preview: none, thumbnail, fullScreen>.
BENCHMARK(ProgramMemoryBuiltIn)
    ->Name("ProgramMemory/builtIn")
    ->ArgNames({"", "tiles", "preview"})
    ->Apply([](benchmark::internal::Benchmark* b) {
      for (int tiles = 0; tiles < 3; ++tiles)
        for (int preview = 0; preview < 3; ++preview) b->Args({100, tiles, preview});
    })
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

void ProgramMemoryLarge(benchmark::State& state) {
  run(state, largeDesk(), static_cast<int>(state.range(1)), 2, 300);
}
// ProgramMemory/large/<sessions>/<tiles: apps, windows, both>, with the full-screen preview.
BENCHMARK(ProgramMemoryLarge)
    ->Name("ProgramMemory/large")
    ->ArgNames({"", "tiles"})
    ->Args({1000, 0})
    ->Args({1000, 1})
    ->Args({1000, 2})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
