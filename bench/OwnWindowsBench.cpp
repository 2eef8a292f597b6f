// What one of the program's own windows costs while nothing is touched and its
// demonstration plays: a second of frames on the virtual clock (a paint pass of every own
// window each sixtieth of a second, as the event loop runs them), in the program's own
// process. The CPU column is the whole process's, the raster engine's helper threads
// included. Beside it, what the window published in that second: frames, and damaged
// pixels (what the host copies and the screen redraws).
//
//   OwnWindowIdle/Preferences   the form with its two tile-style demonstrations
//   OwnWindowIdle/Permissions   the welcome window with its live-preview demonstration
//   OwnWindowIdle/Guide         the guide with its first script playing
//
// And what they cost the program's memory (OwnWindowsMemory): the resident size the guide,
// Preferences and Permissions add while open together with their demonstrations playing
// (the largest over five seconds of frames at the display's pace, with the host reading
// each frame on a thread of its own as it shows them, under 60 MB), and what is left 30 s
// after they closed (under 20 MB), as the program keeps them: made on first use, kept when
// closed.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/views/PermissionsWindow.h"
#include "guide/GuideWindow.h"
#include "platform/OwnWindowSurface.h"
#include "platform/SharedSurface.h"
#include "platform/sim/WindowServer.h"
#include "preferences/PreferencesWindow.h"
#include "settings/Settings.h"
#include "support/Scene.h"
#include "support/WidgetsApp.h"

namespace trelliq {
namespace {

enum class Shown { preferences, permissions, guide };

void OwnWindowIdle(benchmark::State& state, Shown shown) {
  test::ensureWidgets();
  Scene scene{Scene::Start::defaultScenario};
  Settings::registerDefaults();
  std::unique_ptr<GuideWindow> guide;
  std::unique_ptr<PreferencesWindow> preferences;
  std::unique_ptr<PermissionsWindow> permissions;
  std::function<long()> number;
  switch (shown) {
    case Shown::preferences:
      preferences = std::make_unique<PreferencesWindow>();
      preferences->show();
      number = [&] { return preferences->window()->windowNumber(); };
      break;
    case Shown::permissions:
      permissions = std::make_unique<PermissionsWindow>();
      permissions->show();
      number = [&] { return permissions->window()->windowNumber(); };
      break;
    case Shown::guide:
      guide = std::make_unique<GuideWindow>();
      guide->show();
      number = [&] { return guide->window()->windowNumber(); };
      break;
  }
  test::paintFrames(scene, 2);  // opened, drawn whole, every kept picture made
  double frames = 0, pixels = 0;
  std::uint64_t last = 0;
  for (auto _ : state) {
    for (int i = 0; i < 60; ++i) {
      scene.clock.advance(1.0 / 60);
      platform::OwnWindowSurface::publishAll();
      state.PauseTiming();
      const auto surface = scene.windowServer.ownWindowSurface(static_cast<std::uint32_t>(number()));
      const std::uint64_t now = surface ? surface->sequence() : 0;
      if (surface && last != 0 && now != last) {
        ++frames;
        const auto damage = surface->damageSince(last);
        for (const QRect& r : damage ? *damage : QRegion(0, 0, surface->width(), surface->height()))
          pixels += static_cast<double>(r.width()) * r.height();
      }
      last = now;
      state.ResumeTiming();
    }
  }
  const auto seconds = static_cast<double>(state.iterations());
  state.counters["frames/s"] = frames / seconds;
  state.counters["damaged Mpx/s"] = pixels / seconds / 1e6;
}
BENCHMARK_CAPTURE(OwnWindowIdle, Preferences, Shown::preferences)
    ->MeasureProcessCPUTime()
    ->Iterations(6)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OwnWindowIdle, Permissions, Shown::permissions)
    ->MeasureProcessCPUTime()
    ->Iterations(6)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OwnWindowIdle, Guide, Shown::guide)->MeasureProcessCPUTime()->Iterations(6)->Unit(benchmark::kMillisecond);

// The process's resident size now, in MB.
double residentMB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1e6;
}

/// A field of /proc/self/status ("RssAnon", "RssShmem", "RssFile") in MB.
double statusMB(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string key = std::string(field) + ":";
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::stod(line.substr(key.size())) * 1024 / 1e6;
  return 0;
}

/// The host as it shows the windows: on a thread of its own, once a display refresh, it
/// reads each window's newest frame and goes over what changed since it last did (as its
/// composer copies that into the display's frame), holding the frame meanwhile, while
/// the program draws the next. What it reads stays in the surfaces: it keeps no copy.
class ShowingHost {
 public:
  ShowingHost(sim::WindowServer& server, std::vector<long> numbers)
      : server_(server), numbers_(std::move(numbers)), thread_([this] { run(); }) {}
  ~ShowingHost() {
    done_ = true;
    thread_.join();
    benchmark::DoNotOptimize(sum_);
  }

 private:
  void run() {
    std::map<long, std::uint64_t> seen;
    auto next = std::chrono::steady_clock::now();
    while (!done_) {
      for (long n : numbers_) {
        const auto surface = server_.ownWindowSurface(static_cast<std::uint32_t>(n));
        if (!surface) continue;
        const auto damage = surface->damageSince(seen[n]);
        surface->read([&](const QImage& frame, std::uint64_t sequence) {
          for (const QRect& r : damage ? *damage : QRegion(frame.rect()))
            for (int y = r.top(); y <= r.bottom(); ++y) {
              const auto* row = reinterpret_cast<const std::uint32_t*>(frame.constScanLine(y));
              for (int x = r.left(); x <= r.right(); ++x) sum_ += row[x];
            }
          seen[n] = sequence;
        });
      }
      next += std::chrono::microseconds(16667);
      std::this_thread::sleep_until(next);
    }
  }

  sim::WindowServer& server_;
  const std::vector<long> numbers_;
  std::atomic<bool> done_{false};
  std::uint64_t sum_ = 0;
  std::thread thread_;
};

// The three windows opened as the status menu opens them (each controller's show), then
// five seconds of frames at the display's pace, each drawn in a paint pass as the event
// loop runs them and shown by the host; closed, 30 s on the virtual clock. Beside the
// figures, what the resident size added while open was made of: the heaps' and private
// pictures' pages ("anon MB"), the shared surfaces' ("shmem MB"), libraries and fonts read
// for the first time ("file MB").
void OwnWindowsMemory(benchmark::State& state) {
  test::ensureWidgets();
  Scene scene{Scene::Start::defaultScenario};
  Settings::registerDefaults();
  double before = 0, open = 0, left = 0, anon = 0, shmem = 0, file = 0;
  for (auto _ : state) {
    test::paintFrames(scene, 1);
    before = residentMB();
    const double anon0 = statusMB("RssAnon"), shmem0 = statusMB("RssShmem"), file0 = statusMB("RssFile");
    GuideWindow guide;
    PreferencesWindow preferences;
    PermissionsWindow permissions;
    guide.show();
    preferences.show();
    permissions.show();
    open = before;
    {
      ShowingHost host(scene.windowServer, {guide.window()->windowNumber(), preferences.window()->windowNumber(),
                                            permissions.window()->windowNumber()});
      auto next = std::chrono::steady_clock::now();
      for (int i = 0; i < 5 * 60; ++i) {
        scene.clock.advance(1.0 / 60);
        platform::OwnWindowSurface::publishAll();
        if (const double now = residentMB(); now > open) {
          open = now;
          anon = statusMB("RssAnon") - anon0, shmem = statusMB("RssShmem") - shmem0, file = statusMB("RssFile") - file0;
        }
        next += std::chrono::microseconds(16667);
        std::this_thread::sleep_until(next);
      }
    }
    guide.close();
    preferences.window()->close();
    permissions.close();
    test::paintFrames(scene, 30);
    left = residentMB();
  }
  state.counters["before MB"] = before;
  state.counters["added MB"] = open - before;
  state.counters["anon MB"] = anon;
  state.counters["shmem MB"] = shmem;
  state.counters["file MB"] = file;
  state.counters["left MB"] = left - before;
  state.counters["of budget"] = std::max((open - before) / 60, (left - before) / 20);
}
BENCHMARK(OwnWindowsMemory)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace trelliq
