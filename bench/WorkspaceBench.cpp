// The cost of one workspace snapshot on a large desk (3 displays, 24 Spaces, 60 apps,
// 1,600 windows) and on a quarter of it, and, separately, the cost of the window-server
// questions such a load asks the simulated Mac (the stand-in's own share). The snapshot
// logic's share is the difference between the two.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "platform/Accessibility.h"
#include "platform/AppKitWorkspace.h"
#include "platform/CGWindow.h"
#include "support/Scene.h"
#include "workspace/DesktopFrames.h"
#include "workspace/Focus.h"
#include "workspace/Private.h"
#include "workspace/WorkspaceTypes.h"

namespace {

using trelliq::Private;
using trelliq::Workspace;

std::unique_ptr<Scene> gScene;

// A desk of `spacesPerDisplay` Spaces on each of three displays (the last one full
// screen), `apps` regular apps and `windows` windows dealt round-robin over the apps and
// the ordinary Spaces, each on its Space's display.
void buildDesk(int spacesPerDisplay, int apps, int windows) {
  gScene = std::make_unique<Scene>();
  trelliq::DesktopFrames::reset();
  sim::World& world = gScene->world;
  sim::WindowServer& server = gScene->windowServer;
  world.setScreenCaptureAllowed(true);
  world.setAccessibilityTrusted(true);
  world.setDisplays({sim::makeDisplay(1, CGRect(0, 0, 1512, 982), "Built-in"),
                     sim::makeDisplay(2, CGRect(1512, 0, 2560, 1440), "Wide"),
                     sim::makeDisplay(3, CGRect(4072, 0, 1920, 1080), "Side")});
  const std::uint32_t displays[] = {1, 2, 3};
  const CGRect frames[] = {CGRect(0, 0, 1512, 982), CGRect(1512, -458, 2560, 1440), CGRect(4072, -98, 1920, 1080)};
  std::vector<std::pair<std::uint64_t, int>> ordinary;  // Space, display index
  std::uint64_t next = 100;
  for (int d = 0; d < 3; ++d) {
    std::vector<sim::Space> list;
    for (int s = 0; s < spacesPerDisplay; ++s) {
      sim::Space space;
      space.id = next++;
      space.uuid = "SPACE-" + std::to_string(space.id);
      if (s == spacesPerDisplay - 1)
        space.type = sim::kSpaceTypeFullScreen;
      else
        ordinary.emplace_back(space.id, d);
      list.push_back(space);
    }
    server.setSpaces(displays[d], list, list.front().id);
  }
  std::vector<std::int32_t> pids;
  for (int a = 0; a < apps; ++a) {
    sim::App app;
    app.name = "App " + std::to_string(a);
    app.bundleIdentifier = "org.example.app" + std::to_string(a);
    app.launchDate = platform::now() - 3600 + a;
    pids.push_back(server.addApp(app));
  }
  for (int w = 0; w < windows; ++w) {
    const auto& [space, d] = ordinary[static_cast<std::size_t>(w) % ordinary.size()];
    const CGRect& f = frames[d];
    sim::Window window;
    window.pid = pids[static_cast<std::size_t>(w) % pids.size()];
    window.spaces = {space};
    window.title = "Document " + std::to_string(w);
    window.bounds = CGRect(f.origin.x + 20 * (w % 20), f.origin.y + 40 + 10 * (w % 30), 600, 400);
    window.minimized = w % 17 == 0;
    server.addWindow(window);
  }
}

void largeDesk(const benchmark::State&) { buildDesk(8, 60, 1600); }
void quarterDesk(const benchmark::State&) { buildDesk(2, 15, 400); }
void dropDesk(const benchmark::State&) {
  trelliq::DesktopFrames::reset();
  gScene.reset();
}

// The whole snapshot, as the switcher takes it when it opens.
void WorkspaceLoad(benchmark::State& state) {
  std::size_t windows = 0;
  for (auto _ : state) {
    const Workspace w = Workspace::load(trelliq::Settings::Desktops::whenEmpty, state.range(0) != 0);
    windows = w.windows().size();
    benchmark::DoNotOptimize(windows);
  }
  state.counters["windows in snapshot"] = static_cast<double>(windows);
}

// The questions a load puts to the simulated Mac, in the same numbers, with none of the
// snapshot's decisions: two window-list reads, the display description and Space sets,
// the running apps, per app its accessibility windows with their attributes and its
// focused window, and per listed window its Spaces and ordering state.
void StandInQueries(benchmark::State& state) {
  for (auto _ : state) {
    const auto list = CGWindowListCopyWindowInfo(kCGWindowListExcludeDesktopElements, kCGNullWindowID);
    const auto front = CGWindowListCopyWindowInfo(kCGWindowListOptionOnScreenOnly | kCGWindowListExcludeDesktopElements,
                                                  kCGNullWindowID);
    benchmark::DoNotOptimize(front);
    benchmark::DoNotOptimize(Private::displayLayout());
    benchmark::DoNotOptimize(Private::currentSpaces());
    benchmark::DoNotOptimize(Private::fullScreenSpaces());
    for (const NSRunningApplication& app : NSWorkspace::shared().runningApplications()) {
      const std::int32_t pid = app.processIdentifier();
      benchmark::DoNotOptimize(app.activationPolicy());
      const AXUIElementRef element = AXUIElementCreateApplication(pid);
      AXValue windows;
      AXUIElementCopyAttributeValue(element, kAXWindowsAttribute, &windows);
      for (const AXUIElementRef& window : windows.asElementArray().value_or(std::vector<AXUIElementRef>{})) {
        AXValue value;
        AXUIElementCopyAttributeValue(window, kAXSubroleAttribute, &value);
        AXUIElementCopyAttributeValue(window, kAXTitleAttribute, &value);
        AXUIElementCopyAttributeValue(window, kAXMinimizedAttribute, &value);
        benchmark::DoNotOptimize(Private::windowID(window));
      }
      benchmark::DoNotOptimize(trelliq::focusedWindowID(pid));
    }
    for (const platform::PlistValue& item : list.value_or(platform::PlistArray{})) {
      const auto number = platform::integerEntry(*item.asDictionary(), kCGWindowNumber);
      if (!number) continue;
      benchmark::DoNotOptimize(Private::spaces(static_cast<std::uint32_t>(*number)));
      benchmark::DoNotOptimize(Private::isOrderedIn(static_cast<std::uint32_t>(*number)));
    }
  }
}

BENCHMARK(WorkspaceLoad)
    ->Name("WorkspaceLoad/large")
    ->Arg(0)
    ->Arg(1)
    ->Setup(largeDesk)
    ->Teardown(dropDesk)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(WorkspaceLoad)
    ->Name("WorkspaceLoad/quarter")
    ->Arg(0)
    ->Arg(1)
    ->Setup(quarterDesk)
    ->Teardown(dropDesk)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(StandInQueries)
    ->Name("StandInQueries/large")
    ->Setup(largeDesk)
    ->Teardown(dropDesk)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(StandInQueries)
    ->Name("StandInQueries/quarter")
    ->Setup(quarterDesk)
    ->Teardown(dropDesk)
    ->Unit(benchmark::kMillisecond);

}  // namespace
