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
// (the largest over five seconds, under 60 MB), and what is left 30 s after they closed
// (under 20 MB), as the program keeps them: made on first use, kept when closed.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>

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

void OwnWindowsMemory(benchmark::State& state) {
  test::ensureWidgets();
  Scene scene{Scene::Start::defaultScenario};
  Settings::registerDefaults();
  double before = 0, open = 0, left = 0;
  for (auto _ : state) {
    test::paintFrames(scene, 1);
    before = residentMB();
    GuideWindow guide;
    PreferencesWindow preferences;
    PermissionsWindow permissions;
    guide.show();
    preferences.show();
    permissions.show();
    open = before;
    for (int i = 0; i < 5 * 60; ++i) {
      scene.clock.advance(1.0 / 60);
      platform::OwnWindowSurface::publishAll();
      open = std::max(open, residentMB());
    }
    guide.close();
    preferences.window()->close();
    permissions.close();
    test::paintFrames(scene, 30);
    left = residentMB();
  }
  state.counters["before MB"] = before;
  state.counters["added MB"] = open - before;
  state.counters["left MB"] = left - before;
  state.counters["of budget"] = std::max((open - before) / 60, (left - before) / 20);
}
BENCHMARK(OwnWindowsMemory)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace trelliq
