// One synchronous snapshot of the screen state: which apps have which windows on which
// Space of which display, the tiles each Space shows, each display's front tile and the
// apps put in the tray.

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "platform/AppKitWindows.h"
#include "platform/CGWindow.h"
#include "workspace/DesktopFrames.h"
#include "workspace/Focus.h"
#include "workspace/ListedRows.h"
#include "workspace/ScreenGeometry.h"
#include "workspace/SpaceNames.h"
#include "workspace/TileIds.h"
#include "workspace/WindowSnapshot.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {

namespace {

using Layouts = std::vector<Private::DisplayLayout>;

// One window placed on a Space, with the index of its app among the loaded apps.
struct Entry {
  std::size_t app;
  WindowInfo window;
};

// A loaded app: what the tiles need of it, read once per load.
struct Loaded {
  AppInfo info;
  bool hidden;
};

// Each display's Spaces by id, made once for all the windows placed: looking a window's
// Spaces up in every display's list made placing them all grow with windows times Spaces.
class DisplaySpaces {
 public:
  explicit DisplaySpaces(const Layouts& displays) {
    ids_.reserve(displays.size());
    for (const Private::DisplayLayout& layout : displays) {
      std::unordered_set<std::int64_t>& ids = ids_.emplace_back();
      for (const auto& space : layout.spaces) ids.insert(space.id);
    }
  }
  /// Of the window's Spaces that display `d` has, the display's current one when it is
  /// among them, else the first in the window's order; nothing when none is the display's.
  std::optional<std::int64_t> pick(const std::vector<std::int64_t>& spaces, std::size_t d,
                                   const std::optional<std::int64_t>& current) const {
    std::optional<std::int64_t> first;
    for (const std::int64_t s : spaces) {
      if (!ids_[d].count(s)) continue;
      if (current && s == *current) return s;
      if (!first) first = s;
    }
    return first;
  }

 private:
  std::vector<std::unordered_set<std::int64_t>> ids_;
};

// The index of the layout shown on the first screen, else 0.
int fallbackDisplay(const Layouts& displays) {
  const std::vector<NSScreen> screens = NSScreen::screens();
  if (screens.empty()) return 0;
  for (std::size_t i = 0; i < displays.size(); ++i) {
    if (displays[i].screen == screens.front()) return static_cast<int>(i);
  }
  return 0;
}

int displayUnder(const std::optional<CGRect>& bounds, const Layouts& displays, double primaryTop, int fallback) {
  if (displays.empty()) return 0;
  if (!bounds) return fallback;
  int best = -1;
  double bestArea = 0;
  for (std::size_t i = 0; i < displays.size(); ++i) {
    const CGRect frame = platform::flipRect(displays[i].screen.frame(), primaryTop);
    const CGRect overlap = frame.intersection(*bounds);
    if (overlap.isNull()) continue;
    const double area = overlap.width() * overlap.height();
    if (area > bestArea) {
      best = static_cast<int>(i);
      bestArea = area;
    }
  }
  return best >= 0 ? best : fallback;
}

std::pair<int, std::int64_t> placeOn(const std::vector<std::int64_t>& spaces, const std::optional<CGRect>& bounds,
                                     const Layouts& displays, const DisplaySpaces& spacesOf, bool shared,
                                     double primaryTop, int fallback) {
  if (!shared) {
    for (std::size_t d = 0; d < displays.size(); ++d) {
      if (const auto space = spacesOf.pick(spaces, d, displays[d].current)) return {static_cast<int>(d), *space};
    }
  }
  const int d = displayUnder(bounds, displays, primaryTop, fallback);
  if (displays.empty()) return {d, 0};
  const Private::DisplayLayout& layout = displays[static_cast<std::size_t>(d)];
  if (const auto space = spacesOf.pick(spaces, static_cast<std::size_t>(d), layout.current)) return {d, *space};
  if (layout.current) return {d, *layout.current};
  if (!layout.spaces.empty()) return {d, layout.spaces.front().id};
  return {d, 0};
}

// Windows without a number sort after every numbered one.
std::uint64_t sortNumber(const WindowInfo& w) { return w.windowID.value_or(0xFFFFFFFFu); }

// A tile of `apps` (indices into the loaded apps) holding their windows, moved out of
// `entries`: each window is in one tile of its Space.
Cluster makeTile(std::string id, std::int64_t space, bool fullScreen, const std::vector<std::size_t>& apps,
                 std::vector<Entry>& entries, const std::vector<Loaded>& loaded,
                 const std::set<std::uint32_t>& focused) {
  Cluster c;
  c.id = std::move(id);
  c.space = space;
  c.fullScreen = fullScreen;
  c.apps.reserve(apps.size());
  for (std::size_t a : apps) c.apps.push_back(loaded[a].info);
  c.windows.reserve(static_cast<std::size_t>(std::count_if(entries.begin(), entries.end(), [&](const Entry& e) {
    return std::find(apps.begin(), apps.end(), e.app) != apps.end();
  })));
  for (Entry& e : entries) {
    if (std::find(apps.begin(), apps.end(), e.app) != apps.end()) c.windows.push_back(std::move(e.window));
  }
  std::stable_sort(c.windows.begin(), c.windows.end(),
                   [](const WindowInfo& a, const WindowInfo& b) { return sortNumber(a) < sortNumber(b); });
  c.lastWindow = Workspace::lastWindow(c.windows, focused);
  return c;
}

std::optional<std::string> lookUp(const std::map<std::string, std::string>& names, const std::string& key) {
  const auto it = names.find(key);
  if (it == names.end()) return std::nullopt;
  return it->second;
}

// The numbers of the on-screen windows of layer 0, front to back; nothing when the
// window list could not be read.
std::optional<std::vector<std::uint32_t>> frontWindows() {
  const auto list = CGWindowListCopyWindowInfo(kCGWindowListOptionOnScreenOnly | kCGWindowListExcludeDesktopElements,
                                               kCGNullWindowID);
  if (!list) return std::nullopt;
  std::vector<std::uint32_t> front;
  front.reserve(list->size());
  // The snapshot's list read these same dictionaries a moment ago: their rows are kept.
  for (const entries::Row& row : ListedRows::of(*list, entries::kLargeSide, false)) {
    if (row.layer == 0 && row.number) front.push_back(*row.number);
  }
  return front;
}

std::optional<std::uint32_t> ownWindowNumber(NSWindow* window) {
  if (!window) return std::nullopt;
  const std::int64_t number = window->windowNumber();
  if (number <= 0 || number > 0xFFFFFFFFll) return std::nullopt;
  return static_cast<std::uint32_t>(number);
}

// The running apps that may own windows (regular and accessory ones still running),
// oldest launch first.
std::vector<NSRunningApplication> runningApps() {
  std::vector<NSRunningApplication> running;
  for (const NSRunningApplication& app : NSWorkspace::shared().runningApplications()) {
    const NSApplicationActivationPolicy policy = app.activationPolicy();
    if (policy != NSApplicationActivationPolicyRegular && policy != NSApplicationActivationPolicyAccessory) continue;
    if (app.isTerminated()) continue;
    running.push_back(app);
  }
  std::stable_sort(running.begin(), running.end(), [](const NSRunningApplication& a, const NSRunningApplication& b) {
    const double distantPast = -std::numeric_limits<double>::infinity();
    return a.launchDate().value_or(distantPast) < b.launchDate().value_or(distantPast);
  });
  return running;
}

// The window the app has focused; for the program itself, its key window, else its main one.
std::optional<std::uint32_t> focusedWindow(std::int32_t pid, std::int32_t ownPID) {
  if (pid != ownPID) return focusedWindowID(pid);
  NSApplication& application = NSApp();
  std::optional<std::uint32_t> own = ownWindowNumber(application.keyWindow());
  if (!own) own = ownWindowNumber(application.mainWindow());
  return own;
}

// The apps with windows, each beside its windows, the windowless regular apps for the
// tray and the windows the apps have focused.
struct Apps {
  std::vector<Loaded> loaded;
  std::vector<std::vector<WindowInfo>> windowsOf;  // one list per loaded app
  std::vector<AppInfo> tray;
  std::set<std::uint32_t> focused;
};

Apps loadApps(const WindowSnapshot& snapshot) {
  const std::vector<NSRunningApplication> running = runningApps();
  const std::int32_t ownPID = NSProcessInfo::processInfo().processIdentifier();
  Apps apps;
  for (const NSRunningApplication& app : running) {
    AppInfo info(app);
    const std::int32_t pid = info.id;
    std::vector<WindowInfo> windows;
    if (pid == ownPID) {
      windows = snapshot.ownWindows();
    } else if (info.accessory) {
      if (snapshot.mayHaveWindows(pid)) windows = snapshot.windows(app, true);
    } else {
      windows = snapshot.windows(app, false);
    }
    if (windows.empty()) {
      if (!info.accessory && pid != ownPID) apps.tray.push_back(std::move(info));
      continue;
    }
    if (const auto focused = focusedWindow(pid, ownPID)) apps.focused.insert(*focused);
    const bool hidden = app.isHidden();
    apps.loaded.push_back(Loaded{std::move(info), hidden});
    apps.windowsOf.push_back(std::move(windows));
  }
  return apps;
}

// Per display, the windows of each of its Spaces, in the apps' order.
using Placed = std::vector<std::map<std::int64_t, std::vector<Entry>>>;

// Puts every window onto a Space of a display, noting its frame on the way.
Placed placeWindows(std::vector<std::vector<WindowInfo>>& windowsOf, const WindowSnapshot& snapshot,
                    const Private::Layout& layout, double primaryTop, int fallback) {
  const Layouts& displays = layout.displays;
  Placed placed(displays.size());
  const DisplaySpaces spacesOf(displays);
  for (std::size_t a = 0; a < windowsOf.size(); ++a) {
    for (WindowInfo& window : windowsOf[a]) {
      DesktopFrames::note(window);
      static const std::vector<std::int64_t> nowhere;
      const std::vector<std::int64_t>& spaces = window.windowID ? snapshot.spaces(*window.windowID) : nowhere;
      const auto [d, space] = placeOn(spaces, window.bounds, displays, spacesOf, layout.shared, primaryTop, fallback);
      placed[static_cast<std::size_t>(d)][space].push_back(Entry{a, std::move(window)});
    }
  }
  return placed;
}

// The numbers of the front windows (none when unreadable), after pruning the remembered
// frames and window names to the windows still listed. A list that could not be read
// says nothing about which windows exist, so then nothing is pruned.
std::vector<std::uint32_t> readFront(const WindowSnapshot& snapshot) {
  std::optional<std::vector<std::uint32_t>> front = frontWindows();
  if (!front) return {};
  if (snapshot.listRead()) {
    std::vector<std::uint32_t> listed;  // sorted, as the order is kept
    listed.reserve(snapshot.order().size());
    for (const auto& [number, position] : snapshot.order()) listed.push_back(number);
    SpaceNames::forgetWindows(listed);
    DesktopFrames::forget(listed);
  }
  return std::move(*front);
}

// What every Space's tiles are made of, gathered once per load.
struct TileSources {
  const WindowSnapshot& snapshot;
  const std::vector<Loaded>& loaded;
  const std::set<std::uint32_t>& focused;
  const std::map<std::string, std::string>& names;
  Settings::Desktops desktops;  // as they apply to this load
  bool screenTiles;
};

// One Space as the load sees it: where it is, how it is called and the windows on it.
struct SpaceAt {
  std::size_t display;  // the display's index, the start of its tiles' ids
  const Private::SpaceLayout& space;
  std::string desktopName;  // "Desktop N", N counting the display's ordinary Spaces
  std::string nameKey;
  std::optional<std::string> named;  // the name the user gave it (never for a full-screen Space)
  std::vector<Entry>& entries;       // each window taken by the tile it goes to
};

// The loaded apps with a window on the Space, in the order their windows were placed.
std::vector<std::size_t> appsOn(const std::vector<Entry>& entries) {
  std::vector<std::size_t> apps;
  for (const Entry& e : entries) {
    if (std::find(apps.begin(), apps.end(), e.app) == apps.end()) apps.push_back(e.app);
  }
  return apps;
}

// A full-screen Space's one tile, named after its window shown first, known by its
// smallest window number.
Cluster fullScreenTile(const SpaceAt& at, const std::vector<std::size_t>& apps, const TileSources& from) {
  std::uint32_t smallest = 0;
  bool any = false;
  for (const Entry& e : at.entries) {
    if (e.window.windowID && (!any || *e.window.windowID < smallest)) {
      smallest = *e.window.windowID;
      any = true;
    }
  }
  Cluster tile = makeTile(tileid::fullScreen(at.display, smallest), at.space.id, true, apps, at.entries, from.loaded,
                          from.focused);
  const auto shown =
      std::find_if(tile.windows.begin(), tile.windows.end(), [](const WindowInfo& w) { return !w.minimized; });
  if (shown != tile.windows.end() && shown->windowID) {
    tile.nameKey = SpaceNames::key(*shown->windowID);
    tile.named = lookUp(from.names, *tile.nameKey);
  }
  if (from.screenTiles) {
    const std::string names = tile.appNames();
    tile = Workspace::screenTile(std::move(tile), from.snapshot.order(), names);
  }
  return tile;
}

// The Space's tiles: its full-screen tile, its screen tile, or its desktop tile (when it
// shows one) followed by one tile per app.
std::vector<Cluster> spaceTiles(const SpaceAt& at, const std::optional<Cluster>& desktopTile, const TileSources& from) {
  const std::vector<std::size_t> apps = appsOn(at.entries);
  std::vector<Cluster> tiles;
  if (at.space.fullScreen) {
    tiles.push_back(fullScreenTile(at, apps, from));
  } else if (from.screenTiles && !apps.empty()) {
    Cluster tile = makeTile(tileid::screen(at.display, at.space.id), at.space.id, false, apps, at.entries, from.loaded,
                            from.focused);
    tile.nameKey = at.nameKey;
    tile.named = at.named;
    tiles.push_back(Workspace::screenTile(std::move(tile), from.snapshot.order(), at.desktopName));
  } else {
    if (desktopTile) tiles.push_back(*desktopTile);
    for (std::size_t a : apps) {
      tiles.push_back(makeTile(tileid::app(at.display, at.space.id, from.loaded[a].info.id), at.space.id, false, {a},
                               at.entries, from.loaded, from.focused));
    }
  }
  return tiles;
}

// The Space with its tiles and its spare desktop stop; nothing when it shows no tile.
std::optional<SpaceGroup> spaceGroup(std::size_t d, const SpaceAt& at, int desktopCount,
                                     const std::optional<std::int64_t>& current, const TileSources& from) {
  const bool visible = std::any_of(at.entries.begin(), at.entries.end(),
                                   [&](const Entry& e) { return !from.loaded[e.app].hidden && !e.window.minimized; });
  std::optional<Cluster> desktopTile, emptyStop;
  const bool mayHaveDesktop =
      !at.space.fullScreen && !(from.desktops == Settings::Desktops::firstWhenEmpty && desktopCount > 1);
  if (mayHaveDesktop) {
    const Cluster desktop = Cluster::desktop(static_cast<int>(d), at.space.id, at.desktopName, at.nameKey, at.named);
    if (!visible || from.desktops == Settings::Desktops::always) desktopTile = desktop;
    if (!from.screenTiles) emptyStop = desktop;
  }
  if (at.entries.empty() && !desktopTile) return std::nullopt;

  std::vector<Cluster> tiles = spaceTiles(at, desktopTile, from);
  SpaceGroup group;
  group.id = at.space.id;
  group.label = at.space.fullScreen ? tiles.front().name() : at.named.value_or(at.desktopName);
  group.fullScreen = at.space.fullScreen;
  group.current = current && *current == at.space.id;
  group.clusters = std::move(tiles);
  group.emptyStop = std::move(emptyStop);
  return group;
}

// One display's Spaces that show tiles, in the window server's order, and its front tile.
DisplayGroup displayGroup(std::size_t d, const Private::DisplayLayout& display,
                          std::map<std::int64_t, std::vector<Entry>>& placed, const TileSources& from,
                          const std::vector<std::uint32_t>& front) {
  std::vector<Entry> none;
  DisplayGroup group{display.id, display.screen, {}, std::nullopt};
  int desktopCount = 0;
  for (const Private::SpaceLayout& space : display.spaces) {
    if (!space.fullScreen) ++desktopCount;
    const std::string nameKey = SpaceNames::key(space.uuid);
    const auto found = placed.find(space.id);
    const SpaceAt at{d,
                     space,
                     "Desktop " + std::to_string(desktopCount),
                     nameKey,
                     space.fullScreen ? std::nullopt : lookUp(from.names, nameKey),
                     found == placed.end() ? none : found->second};
    if (std::optional<SpaceGroup> shown = spaceGroup(d, at, desktopCount, display.current, from)) {
      group.spaces.push_back(std::move(*shown));
    }
  }
  group.here = Workspace::topCluster(group, front);
  return group;
}

}  // namespace

int Workspace::display(const std::optional<CGRect>& bounds, const std::vector<Private::DisplayLayout>& displays,
                       double primaryTop) {
  if (displays.empty()) return 0;
  return displayUnder(bounds, displays, primaryTop, fallbackDisplay(displays));
}

std::pair<int, std::int64_t> Workspace::place(const WindowInfo& window,
                                              const std::vector<Private::DisplayLayout>& displays, bool shared,
                                              double primaryTop) {
  const std::vector<std::int64_t> spaces =
      window.windowID ? Private::spaces(*window.windowID) : std::vector<std::int64_t>{};
  return placeOn(spaces, window.bounds, displays, DisplaySpaces(displays), shared, primaryTop,
                 fallbackDisplay(displays));
}

Workspace Workspace::load(bool screenTiles) { return load(Settings::desktops(), screenTiles); }

Workspace Workspace::load(Settings::Desktops desktops, bool screenTiles) {
  const WindowSnapshot snapshot;
  const Private::Layout layout = Private::displayLayout();
  if (layout.displays.empty()) return Workspace{};
  const double primaryTop = ScreenGeometry::primaryTop();
  const int fallback = fallbackDisplay(layout.displays);

  Apps apps = loadApps(snapshot);
  Placed placed = placeWindows(apps.windowsOf, snapshot, layout, primaryTop, fallback);
  const std::vector<std::uint32_t> front = readFront(snapshot);
  const std::map<std::string, std::string> names = SpaceNames::all();

  const TileSources from{snapshot,
                         apps.loaded,
                         apps.focused,
                         names,
                         screenTiles ? Settings::Desktops(Settings::Desktops::whenEmpty) : desktops,
                         screenTiles};
  std::vector<DisplayGroup> groups;
  for (std::size_t d = 0; d < layout.displays.size(); ++d) {
    groups.push_back(displayGroup(d, layout.displays[d], placed[d], from, front));
  }
  return Workspace{std::move(groups), std::move(apps.tray), names, {}};
}

}  // namespace trelliq
