// In-place edits of a snapshot that keep it in the shape a fresh load would give:
// removing windows, and predicting where a window lands when it enters or leaves
// full screen before the window server has made or removed its Space.

#include <algorithm>

#include "settings/Settings.h"
#include "workspace/DesktopFrames.h"
#include "workspace/ScreenGeometry.h"
#include "workspace/SpaceNames.h"
#include "workspace/TileIds.h"
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

// Where the moved window will lie: the full-screen frame of its screen when entering;
// when leaving, its remembered frame, else the middle two thirds of its screen.
CGRect movedFrame(const NSScreen& screen, std::uint32_t window, bool on) {
  if (on) return DesktopFrames::fullScreenFrame(screen);
  if (std::optional<CGRect> remembered = DesktopFrames::frame(window)) return *remembered;
  const CGRect frame = ScreenGeometry::windowServerFrame(screen);
  return frame.insetBy(frame.width() / 6, frame.height() / 6);
}

// Takes the window out of its tile and gives it a provisional full-screen Space at the
// end of display `d`.
void enterFullScreen(Workspace& workspace, std::size_t d, const WindowInfo& old, const WindowInfo& moved,
                     const AppInfo& app, bool screenTiles) {
  const std::uint32_t window = *moved.windowID;
  DesktopFrames::freeze(old);
  const ValueID oldID = old.id;
  workspace.removeWindows([oldID](const WindowInfo& x) { return x.id == oldID; });
  // The display may have lost Space groups, but never the display itself.
  DisplayGroup& target = workspace.displays[d];
  Cluster fresh;
  fresh.id = tileid::fullScreen(d, window);
  fresh.space = -static_cast<std::int64_t>(window);
  fresh.fullScreen = true;
  fresh.apps = {app};
  fresh.windows = {moved};
  fresh.lastWindow = 0;
  fresh.nameKey = SpaceNames::key(window);
  if (auto it = workspace.names.find(*fresh.nameKey); it != workspace.names.end()) fresh.named = it->second;
  if (screenTiles) fresh = Workspace::screenTile(fresh, {{window, 0}}, fresh.appNames());
  SpaceGroup group;
  group.id = fresh.space;
  group.label = fresh.name();
  group.fullScreen = true;
  group.current = false;
  group.clusters = {std::move(fresh)};
  target.spaces.push_back(std::move(group));
}

// The ordinary Space nearest before the display's Space group `g`, else nearest after it.
std::optional<std::size_t> nearestOrdinarySpace(const DisplayGroup& display, std::size_t g) {
  for (std::size_t i = g; i-- > 0;) {
    if (!display.spaces[i].fullScreen) return i;
  }
  for (std::size_t i = g + 1; i < display.spaces.size(); ++i) {
    if (!display.spaces[i].fullScreen) return i;
  }
  return std::nullopt;
}

// Puts the window back into the Space's screen tile, or makes one of it in place of the
// Space's desktop. False when the Space has neither.
bool rejoinScreenTile(SpaceGroup& target, std::size_t display, const WindowInfo& moved, const AppInfo& app) {
  auto screenIt =
      std::find_if(target.clusters.begin(), target.clusters.end(), [](const Cluster& c) { return c.screen; });
  auto desktopIt =
      std::find_if(target.clusters.begin(), target.clusters.end(), [](const Cluster& c) { return c.isDesktop(); });
  if (screenIt != target.clusters.end()) {
    screenIt->windows.push_back(moved);
    screenIt->stacking.push_back(moved.id);
    screenIt->lastWindow = static_cast<int>(screenIt->windows.size() - 1);
    screenIt->lastOnDesktop = false;
    if (std::none_of(screenIt->apps.begin(), screenIt->apps.end(), [&](const AppInfo& a) { return a.id == app.id; })) {
      screenIt->apps.push_back(app);
    }
    return true;
  }
  if (desktopIt == target.clusters.end()) return false;
  Cluster tile;
  tile.id = tileid::screen(display, target.id);
  tile.space = target.id;
  tile.apps = {app};
  tile.windows = {moved};
  tile.lastWindow = 0;
  tile.nameKey = desktopIt->nameKey;
  tile.named = desktopIt->named;
  const std::string desktopName = desktopIt->desktopName;
  target.clusters = {Workspace::screenTile(tile, {{*moved.windowID, 0}}, desktopName)};
  return true;
}

// Puts the window into its app's tile on the Space, in window-number order, or gives the
// app a tile there; the Space's desktop tile goes when the desktops option shows it only
// while nothing is visible.
void rejoinAppTile(SpaceGroup& target, std::size_t display, const WindowInfo& moved, const AppInfo& app) {
  const std::uint32_t window = *moved.windowID;
  const std::string tileID = tileid::app(display, target.id, app.id);
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

// Moves the window from its full-screen Space at `at` into the nearest ordinary Space of
// its display. False, with nothing changed, when there is none or it cannot take the window.
bool leaveFullScreen(Workspace& workspace, const Position& at, const WindowInfo& old, const WindowInfo& moved,
                     const AppInfo& app, bool screenTiles) {
  DisplayGroup& display = workspace.displays[at.display];
  const std::optional<std::size_t> targetIndex = nearestOrdinarySpace(display, at.group);
  if (!targetIndex) return false;
  SpaceGroup target = display.spaces[*targetIndex];
  if (screenTiles) {
    if (!rejoinScreenTile(target, at.display, moved, app)) return false;
  } else {
    rejoinAppTile(target, at.display, moved, app);
  }
  display.spaces[*targetIndex] = std::move(target);
  const ValueID oldID = old.id;
  workspace.removeWindows([oldID](const WindowInfo& x) { return x.id == oldID; });
  return true;
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

bool Workspace::moveFullScreen(std::uint32_t window, FullScreen change, bool screenTiles) {
  const bool on = change == FullScreen::enter;
  const std::optional<Position> at = find(*this, window);
  if (!at) return false;
  const DisplayGroup& display = displays[at->display];
  const Cluster& cluster = display.spaces[at->group].clusters[at->cluster];
  const WindowInfo old = cluster.windows[at->window];
  const AppInfo* owner = cluster.app(&old);
  if (!owner) return false;
  const AppInfo app = *owner;
  const bool fromFullScreen = cluster.fullScreen;
  const WindowInfo moved(old.pid, old.windowID, old.element, old.title, false, on,
                         movedFrame(display.screen, window, on));
  if (on) {
    enterFullScreen(*this, at->display, old, moved, app, screenTiles);
    return true;
  }
  return fromFullScreen && leaveFullScreen(*this, *at, old, moved, app, screenTiles);
}

}  // namespace trelliq
