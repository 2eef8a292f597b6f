// In-place edits of a snapshot that keep it in the shape a fresh load would give:
// removing windows, and predicting where a window lands when it enters or leaves
// full screen before the window server has made or removed its Space.

#include <algorithm>

#include "settings/Settings.h"
#include "workspace/DesktopFrames.h"
#include "workspace/ScreenGeometry.h"
#include "workspace/SpaceNames.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {

namespace {

// True when no window of the tile can be seen: its apps are all hidden or its windows
// all minimized.
bool showsNothing(const Cluster& c) { return c.hidden() || c.minimized(); }

// The tile after removing the windows `test` selects; nothing when the tile goes away.
std::optional<Cluster> without(Cluster c, const std::function<bool(const WindowInfo&)>& test) {
  if (c.apps.empty()) return c;
  std::optional<ValueID> preselected;
  if (c.lastWindow && *c.lastWindow >= 0 && static_cast<std::size_t>(*c.lastWindow) < c.windows.size()) {
    preselected = c.windows[static_cast<std::size_t>(*c.lastWindow)].id;
  }
  std::erase_if(c.windows, [&](const WindowInfo& w) { return test(w); });
  c.lastWindow.reset();
  if (preselected) {
    for (std::size_t i = 0; i < c.windows.size(); ++i) {
      if (c.windows[i].id == *preselected) c.lastWindow = static_cast<int>(i);
    }
  }
  std::erase_if(c.apps, [&](const AppInfo& app) {
    return std::none_of(c.windows.begin(), c.windows.end(), [&](const WindowInfo& w) { return w.pid == app.id; });
  });
  std::erase_if(c.stacking, [&](ValueID id) {
    return std::none_of(c.windows.begin(), c.windows.end(), [&](const WindowInfo& w) { return w.id == id; });
  });
  if (!c.windows.empty()) return c;
  if (c.screen && !c.fullScreen) {
    // The Space is empty now: its picture tile stays as the Space's desktop.
    c.screen = false;
    c.lastOnDesktop = false;
    return c;
  }
  return std::nullopt;
}

struct Position {
  std::size_t display, group, cluster, window;
};

// The first place the numbered window occurs, in display, group, tile and window order.
std::optional<Position> find(const Workspace& workspace, std::uint32_t window) {
  for (std::size_t d = 0; d < workspace.displays.size(); ++d) {
    const auto& spaces = workspace.displays[d].spaces;
    for (std::size_t g = 0; g < spaces.size(); ++g) {
      const auto& clusters = spaces[g].clusters;
      for (std::size_t k = 0; k < clusters.size(); ++k) {
        const auto& ws = clusters[k].windows;
        for (std::size_t w = 0; w < ws.size(); ++w) {
          if (ws[w].windowID == window) return Position{d, g, k, w};
        }
      }
    }
  }
  return std::nullopt;
}

bool hasTile(const DisplayGroup& display, const std::string& id) {
  for (const SpaceGroup& group : display.spaces) {
    for (const Cluster& c : group.clusters) {
      if (c.id == id) return true;
    }
  }
  return false;
}

}  // namespace

void Workspace::removeWindows(const std::function<bool(const WindowInfo&)>& test) {
  for (DisplayGroup& display : displays) {
    for (SpaceGroup& group : display.spaces) {
      std::vector<Cluster> kept;
      kept.reserve(group.clusters.size());
      for (Cluster& c : group.clusters) {
        if (std::optional<Cluster> left = without(std::move(c), test)) kept.push_back(std::move(*left));
      }
      if (group.emptyStop && std::none_of(kept.begin(), kept.end(), [](const Cluster& c) { return c.isDesktop(); }) &&
          std::all_of(kept.begin(), kept.end(), showsNothing)) {
        kept.insert(kept.begin(), *group.emptyStop);
      }
      group.clusters = std::move(kept);
    }
    std::erase_if(display.spaces, [](const SpaceGroup& g) { return g.clusters.empty(); });
    if (display.here && !hasTile(display, *display.here)) display.here.reset();
  }
}

bool Workspace::moveFullScreen(std::uint32_t window, bool on, bool screenTiles) {
  const std::optional<Position> at = find(*this, window);
  if (!at) return false;
  const std::size_t d = at->display, g = at->group;

  DisplayGroup& display = displays[d];
  const Cluster& cluster = display.spaces[g].clusters[at->cluster];
  const WindowInfo old = cluster.windows[at->window];
  const AppInfo* owner = cluster.app(&old);
  if (!owner) return false;
  const AppInfo app = *owner;
  const bool fromFullScreen = cluster.fullScreen;
  const int displayIndex = static_cast<int>(d);

  CGRect frame;
  if (on) {
    frame = DesktopFrames::fullScreenFrame(display.screen);
  } else if (std::optional<CGRect> remembered = DesktopFrames::frame(window)) {
    frame = *remembered;
  } else {
    const CGRect screen = ScreenGeometry::windowServerFrame(display.screen);
    frame = screen.insetBy(screen.width() / 6, screen.height() / 6);
  }
  WindowInfo moved(old.pid, old.windowID, old.element, old.title, false, on, frame);
  const ValueID oldID = old.id;
  const auto isOld = [oldID](const WindowInfo& x) { return x.id == oldID; };

  if (on) {
    DesktopFrames::freeze(old);
    removeWindows(isOld);
    // The display may have lost Space groups, but never the display itself.
    DisplayGroup& target = displays[d];
    Cluster fresh;
    fresh.id = std::to_string(displayIndex) + ":fullScreen:" + std::to_string(window);
    fresh.space = -static_cast<std::int64_t>(window);
    fresh.fullScreen = true;
    fresh.apps = {app};
    fresh.windows = {moved};
    fresh.lastWindow = 0;
    fresh.nameKey = SpaceNames::key(window);
    if (auto it = names.find(*fresh.nameKey); it != names.end()) fresh.named = it->second;
    if (screenTiles) fresh = screenTile(fresh, {{window, 0}}, fresh.appNames());
    SpaceGroup group;
    group.id = fresh.space;
    group.label = fresh.name();
    group.fullScreen = true;
    group.current = false;
    group.clusters = {std::move(fresh)};
    target.spaces.push_back(std::move(group));
    return true;
  }

  if (!fromFullScreen) return false;
  std::optional<std::size_t> targetIndex;
  for (std::size_t i = g; i-- > 0;) {
    if (!display.spaces[i].fullScreen) {
      targetIndex = i;
      break;
    }
  }
  if (!targetIndex) {
    for (std::size_t i = g + 1; i < display.spaces.size(); ++i) {
      if (!display.spaces[i].fullScreen) {
        targetIndex = i;
        break;
      }
    }
  }
  if (!targetIndex) return false;
  SpaceGroup target = display.spaces[*targetIndex];
  const std::string prefix = std::to_string(displayIndex) + ":" + std::to_string(target.id);

  if (screenTiles) {
    auto screenIt =
        std::find_if(target.clusters.begin(), target.clusters.end(), [](const Cluster& c) { return c.screen; });
    auto desktopIt =
        std::find_if(target.clusters.begin(), target.clusters.end(), [](const Cluster& c) { return c.isDesktop(); });
    if (screenIt != target.clusters.end()) {
      screenIt->windows.push_back(moved);
      screenIt->stacking.push_back(moved.id);
      screenIt->lastWindow = static_cast<int>(screenIt->windows.size() - 1);
      screenIt->lastOnDesktop = false;
      if (std::none_of(screenIt->apps.begin(), screenIt->apps.end(),
                       [&](const AppInfo& a) { return a.id == app.id; })) {
        screenIt->apps.push_back(app);
      }
    } else if (desktopIt != target.clusters.end()) {
      Cluster tile;
      tile.id = prefix + ":screen";
      tile.space = target.id;
      tile.apps = {app};
      tile.windows = {moved};
      tile.lastWindow = 0;
      tile.nameKey = desktopIt->nameKey;
      tile.named = desktopIt->named;
      const std::string desktopName = desktopIt->desktopName;
      target.clusters = {screenTile(tile, {{window, 0}}, desktopName)};
    } else {
      return false;
    }
  } else {
    const std::string tileID = prefix + ":" + std::to_string(app.id);
    auto tileIt =
        std::find_if(target.clusters.begin(), target.clusters.end(), [&](const Cluster& c) { return c.id == tileID; });
    if (tileIt != target.clusters.end()) {
      auto& ws = tileIt->windows;
      auto at =
          std::find_if(ws.begin(), ws.end(), [&](const WindowInfo& x) { return !x.windowID || *x.windowID > window; });
      const auto index = at - ws.begin();
      ws.insert(at, moved);
      tileIt->lastWindow = static_cast<int>(index);
    } else {
      Cluster tile;
      tile.id = tileID;
      tile.space = target.id;
      tile.apps = {app};
      tile.windows = {moved};
      tile.lastWindow = 0;
      target.clusters.push_back(std::move(tile));
    }
    if (Settings::desktops() != Settings::Desktops::always && !app.app.isHidden()) {
      std::erase_if(target.clusters, [](const Cluster& c) { return c.isDesktop(); });
    }
  }
  display.spaces[*targetIndex] = std::move(target);
  removeWindows(isOld);
  return true;
}

}  // namespace trelliq
