// Read-only views of a snapshot: every window, the shape the switcher compares between
// two looks at the window server, and the copy narrowed to one application.

#include <algorithm>

#include "workspace/WorkspaceTypes.h"

namespace trelliq {

namespace {

// True when some window of the tile can be seen: not minimized and its app not hidden.
bool hasVisibleWindow(const Cluster& c) {
  for (const WindowInfo& w : c.windows) {
    if (w.minimized) continue;
    const AppInfo* app = c.app(&w);
    if (!app || !app->app.isHidden()) return true;
  }
  return false;
}

}  // namespace

std::vector<WindowInfo> Workspace::windows() const {
  std::vector<WindowInfo> all;
  forEachWindow([&](const WindowInfo& w) { all.push_back(w); });
  return all;
}

std::vector<std::string> Workspace::shape() const {
  std::vector<std::string> lines;
  for (const DisplayGroup& display : displays) {
    for (const SpaceGroup& group : display.spaces) {
      for (const Cluster& c : group.clusters) {
        std::string line = c.id + " [";
        for (std::size_t i = 0; i < c.windows.size(); ++i) {
          const WindowInfo& w = c.windows[i];
          if (i > 0) line += ", ";
          line += '"' + std::to_string(w.windowID.value_or(0)) + (w.minimized ? "m" : "") + '"';
        }
        lines.push_back(line + "]");
      }
    }
  }
  for (const AppInfo& app : tray) lines.push_back(std::to_string(app.id));
  return lines;
}

Workspace Workspace::only(std::int32_t pid, bool desktops) const {
  Workspace narrowed = *this;
  if (desktops) {
    for (const DisplayGroup& display : displays) {
      for (const SpaceGroup& group : display.spaces) {
        if (group.fullScreen) continue;
        if (group.clusters.empty() || group.current ||
            std::none_of(group.clusters.begin(), group.clusters.end(), hasVisibleWindow)) {
          narrowed.appDesktops.insert(group.id);
        }
      }
    }
  }
  narrowed.removeWindows([pid](const WindowInfo& w) { return w.pid != pid; });
  for (DisplayGroup& display : narrowed.displays) {
    for (SpaceGroup& group : display.spaces) {
      group.emptyStop.reset();
      if (narrowed.appDesktops.contains(group.id)) continue;
      std::erase_if(group.clusters, [](const Cluster& c) { return c.isDesktop(); });
      for (Cluster& c : group.clusters) c.lastOnDesktop = false;
    }
    std::erase_if(display.spaces, [](const SpaceGroup& g) { return g.clusters.empty(); });
    if (display.here) {
      const std::vector<Cluster> tiles = display.clusters();
      if (std::none_of(tiles.begin(), tiles.end(), [&](const Cluster& c) { return c.id == *display.here; })) {
        display.here.reset();
      }
    }
  }
  std::erase_if(narrowed.displays, [](const DisplayGroup& d) { return d.spaces.empty(); });
  narrowed.tray.clear();
  return narrowed;
}

}  // namespace trelliq
