#include "support/LargeDesk.h"

#include <string>
#include <utility>
#include <vector>

#include "platform/Clock.h"
#include "platform/sim/AccessibilityServer.h"

std::vector<std::int32_t> buildLargeDesk(Scene& scene, LargeDeskSize size) {
  sim::World& world = scene.world;
  sim::WindowServer& server = scene.windowServer;
  world.setScreenCaptureAllowed(true);
  world.setAccessibilityTrusted(true);
  world.setDisplays({sim::makeDisplay(1, CGRect(0, 0, 1512, 982), "Built-in", size.scale),
                     sim::makeDisplay(2, CGRect(1512, 0, 2560, 1440), "Wide", size.scale),
                     sim::makeDisplay(3, CGRect(4072, 0, 1920, 1080), "Side", size.scale)});
  const std::uint32_t displays[] = {1, 2, 3};
  // The same frames in window-server coordinates (top-left origin).
  const CGRect frames[] = {CGRect(0, 0, 1512, 982), CGRect(1512, -458, 2560, 1440), CGRect(4072, -98, 1920, 1080)};
  std::vector<std::pair<std::uint64_t, int>> ordinary;  // Space, display index
  std::uint64_t next = 100;
  for (int d = 0; d < 3; ++d) {
    std::vector<sim::Space> list;
    for (int s = 0; s < size.spacesPerDisplay; ++s) {
      sim::Space space;
      space.id = next++;
      space.uuid = "SPACE-" + std::to_string(space.id);
      if (s == size.spacesPerDisplay - 1)
        space.type = sim::kSpaceTypeFullScreen;
      else
        ordinary.emplace_back(space.id, d);
      list.push_back(space);
    }
    server.setSpaces(displays[d], list, list.front().id);
  }
  std::vector<std::int32_t> pids;
  for (int a = 0; a < size.apps; ++a) {
    sim::App app;
    app.name = "App " + std::to_string(a);
    app.bundleIdentifier = "org.example.app" + std::to_string(a);
    app.launchDate = platform::now() - 3600 + a;
    pids.push_back(server.addApp(app));
  }
  for (int w = 0; w < size.windows; ++w) {
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
  return pids;
}

void keepCallLogs(Scene& scene, bool keep) {
  scene.windowServer.keepCallLog(keep);
  if (sim::AccessibilityServer* accessibility = sim::AccessibilityServer::active()) accessibility->keepCallLog(keep);
}
