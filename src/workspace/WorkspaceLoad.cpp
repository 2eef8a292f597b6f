// One synchronous snapshot of the screen state: which apps have which windows on which
// Space of which display, the tiles each Space shows, each display's front tile and the
// apps put in the tray.

#include <algorithm>
#include <limits>
#include <unordered_map>

#include "platform/AppKitWindows.h"
#include "platform/CGWindow.h"
#include "workspace/DesktopFrames.h"
#include "workspace/Focus.h"
#include "workspace/ScreenGeometry.h"
#include "workspace/SpaceNames.h"
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

// The Space of `matches` a display takes: its current one when it is a match, else the first.
std::int64_t pick(const std::vector<std::int64_t>& matches, const std::optional<std::int64_t>& current) {
  if (current && std::find(matches.begin(), matches.end(), *current) != matches.end()) return *current;
  return matches.front();
}

// The window's Spaces that the display has, in the window's order.
std::vector<std::int64_t> matching(const std::vector<std::int64_t>& spaces, const Private::DisplayLayout& layout) {
  std::vector<std::int64_t> matches;
  for (std::int64_t s : spaces) {
    if (std::any_of(layout.spaces.begin(), layout.spaces.end(), [s](const auto& l) { return l.id == s; })) {
      matches.push_back(s);
    }
  }
  return matches;
}

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
    const CGRect f = displays[i].screen.frame();
    const CGRect frame(f.minX(), primaryTop - f.maxY(), f.width(), f.height());
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
                                     const Layouts& displays, bool shared, double primaryTop, int fallback) {
  if (!shared) {
    for (std::size_t d = 0; d < displays.size(); ++d) {
      const std::vector<std::int64_t> matches = matching(spaces, displays[d]);
      if (!matches.empty()) return {static_cast<int>(d), pick(matches, displays[d].current)};
    }
  }
  const int d = displayUnder(bounds, displays, primaryTop, fallback);
  if (displays.empty()) return {d, 0};
  const Private::DisplayLayout& layout = displays[static_cast<std::size_t>(d)];
  const std::vector<std::int64_t> matches = matching(spaces, layout);
  if (!matches.empty()) return {d, pick(matches, layout.current)};
  if (layout.current) return {d, *layout.current};
  if (!layout.spaces.empty()) return {d, layout.spaces.front().id};
  return {d, 0};
}

// Windows without a number sort after every numbered one.
std::uint64_t sortNumber(const WindowInfo& w) { return w.windowID.value_or(0xFFFFFFFFu); }

// A tile of `apps` (indices into the loaded apps) holding their windows from `entries`.
Cluster makeTile(std::string id, std::int64_t space, bool fullScreen, const std::vector<std::size_t>& apps,
                 const std::vector<Entry>& entries, const std::vector<Loaded>& loaded,
                 const std::set<std::uint32_t>& focused) {
  Cluster c;
  c.id = std::move(id);
  c.space = space;
  c.fullScreen = fullScreen;
  for (std::size_t a : apps) c.apps.push_back(loaded[a].info);
  for (const Entry& e : entries) {
    if (std::find(apps.begin(), apps.end(), e.app) != apps.end()) c.windows.push_back(e.window);
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
  for (const platform::PlistValue& item : *list) {
    const platform::PlistDictionary* entry = item.asDictionary();
    if (!entry || platform::integerEntry(*entry, kCGWindowLayer) != 0) continue;
    const auto number = platform::integerEntry(*entry, kCGWindowNumber);
    if (!number || *number < 0 || *number > 0xFFFFFFFFll) continue;
    front.push_back(static_cast<std::uint32_t>(*number));
  }
  return front;
}

std::optional<std::uint32_t> ownWindowNumber(NSWindow* window) {
  if (!window) return std::nullopt;
  const std::int64_t number = window->windowNumber();
  if (number <= 0 || number > 0xFFFFFFFFll) return std::nullopt;
  return static_cast<std::uint32_t>(number);
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
  return placeOn(spaces, window.bounds, displays, shared, primaryTop, fallbackDisplay(displays));
}

Workspace Workspace::load(bool screenTiles) { return load(Settings::desktops(), screenTiles); }

Workspace Workspace::load(Settings::Desktops desktops, bool screenTiles) {
  // 1. The window list and the displays.
  const WindowSnapshot snapshot;
  const Private::Layout layout = Private::displayLayout();
  if (layout.displays.empty()) return Workspace{};
  const Layouts& displays = layout.displays;
  const double primaryTop = ScreenGeometry::primaryTop();
  const int fallback = fallbackDisplay(displays);
  const Settings::Desktops effective = screenTiles ? Settings::Desktops(Settings::Desktops::whenEmpty) : desktops;

  // 2. Apps, oldest launch first, with their windows and focused windows.
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

  const std::int32_t ownPID = NSProcessInfo::processInfo().processIdentifier();
  std::vector<Loaded> loaded;
  std::vector<std::vector<WindowInfo>> windowsOf;
  std::vector<AppInfo> tray;
  std::set<std::uint32_t> focused;
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
      if (!info.accessory && pid != ownPID) tray.push_back(std::move(info));
      continue;
    }
    if (pid == ownPID) {
      NSApplication& application = NSApp();
      std::optional<std::uint32_t> own = ownWindowNumber(application.keyWindow());
      if (!own) own = ownWindowNumber(application.mainWindow());
      if (own) focused.insert(*own);
    } else if (const auto number = focusedWindowID(pid)) {
      focused.insert(*number);
    }
    const bool hidden = app.isHidden();
    loaded.push_back(Loaded{std::move(info), hidden});
    windowsOf.push_back(std::move(windows));
  }

  // 3. Every window onto a Space of a display.
  std::vector<std::map<std::int64_t, std::vector<Entry>>> placed(displays.size());
  for (std::size_t a = 0; a < loaded.size(); ++a) {
    for (WindowInfo& window : windowsOf[a]) {
      DesktopFrames::note(window);
      static const std::vector<std::int64_t> nowhere;
      const std::vector<std::int64_t>& spaces = window.windowID ? snapshot.spaces(*window.windowID) : nowhere;
      const auto [d, space] = placeOn(spaces, window.bounds, displays, layout.shared, primaryTop, fallback);
      placed[static_cast<std::size_t>(d)][space].push_back(Entry{a, std::move(window)});
    }
  }

  // 5. The front windows, and the stores pruned to the windows that still exist. A list
  // that could not be read says nothing about which windows exist, so nothing is pruned.
  const std::optional<std::vector<std::uint32_t>> frontRead = frontWindows();
  static const std::vector<std::uint32_t> noFront;
  const std::vector<std::uint32_t>& front = frontRead ? *frontRead : noFront;
  if (frontRead && snapshot.listRead) {
    std::set<std::uint32_t> listed;
    for (const auto& [number, position] : snapshot.order) listed.insert(listed.end(), number);
    SpaceNames::forgetWindows(listed);
    DesktopFrames::forget(listed);
  }
  const std::map<std::string, std::string> names = SpaceNames::all();

  // 6-10. Spaces, their tiles, and each display's front tile.
  std::vector<DisplayGroup> groups;
  const std::vector<Entry> none;
  for (std::size_t d = 0; d < displays.size(); ++d) {
    const Private::DisplayLayout& display = displays[d];
    const std::string prefix = std::to_string(d) + ":";
    DisplayGroup group{display.id, display.screen, {}, std::nullopt};
    int desktopCount = 0;
    for (const Private::SpaceLayout& space : display.spaces) {
      if (!space.fullScreen) ++desktopCount;
      const std::string desktopName = "Desktop " + std::to_string(desktopCount);
      const std::string nameKey = SpaceNames::key(space.uuid);
      const std::optional<std::string> named = space.fullScreen ? std::nullopt : lookUp(names, nameKey);
      const auto found = placed[d].find(space.id);
      const std::vector<Entry>& entries = found == placed[d].end() ? none : found->second;
      const bool visible = std::any_of(entries.begin(), entries.end(),
                                       [&](const Entry& e) { return !loaded[e.app].hidden && !e.window.minimized; });

      std::optional<Cluster> desktopTile, emptyStop;
      const bool mayHaveDesktop =
          !space.fullScreen && !(effective == Settings::Desktops::firstWhenEmpty && desktopCount > 1);
      if (mayHaveDesktop) {
        const Cluster desktop = Cluster::desktop(static_cast<int>(d), space.id, desktopName, nameKey, named);
        if (!visible || effective == Settings::Desktops::always) desktopTile = desktop;
        if (!screenTiles) emptyStop = desktop;
      }
      if (entries.empty() && !desktopTile) continue;

      std::vector<std::size_t> apps;
      for (const Entry& e : entries) {
        if (std::find(apps.begin(), apps.end(), e.app) == apps.end()) apps.push_back(e.app);
      }
      const std::string spaceID = std::to_string(space.id);
      std::vector<Cluster> tiles;
      if (space.fullScreen) {
        std::uint32_t smallest = 0;
        bool any = false;
        for (const Entry& e : entries) {
          if (e.window.windowID && (!any || *e.window.windowID < smallest)) {
            smallest = *e.window.windowID;
            any = true;
          }
        }
        Cluster tile =
            makeTile(prefix + "fullScreen:" + std::to_string(smallest), space.id, true, apps, entries, loaded, focused);
        const auto shown =
            std::find_if(tile.windows.begin(), tile.windows.end(), [](const WindowInfo& w) { return !w.minimized; });
        if (shown != tile.windows.end() && shown->windowID) {
          tile.nameKey = SpaceNames::key(*shown->windowID);
          tile.named = lookUp(names, *tile.nameKey);
        }
        if (screenTiles) tile = screenTile(tile, snapshot.order, tile.appNames());
        tiles.push_back(std::move(tile));
      } else if (screenTiles && !apps.empty()) {
        Cluster tile = makeTile(prefix + spaceID + ":screen", space.id, false, apps, entries, loaded, focused);
        tile.nameKey = nameKey;
        tile.named = named;
        tiles.push_back(screenTile(tile, snapshot.order, desktopName));
      } else {
        if (desktopTile) tiles.push_back(*desktopTile);
        for (std::size_t a : apps) {
          tiles.push_back(makeTile(prefix + spaceID + ":" + std::to_string(loaded[a].info.id), space.id, false, {a},
                                   entries, loaded, focused));
        }
      }

      SpaceGroup spaceGroup;
      spaceGroup.id = space.id;
      spaceGroup.label = space.fullScreen ? tiles.front().name() : named.value_or(desktopName);
      spaceGroup.fullScreen = space.fullScreen;
      spaceGroup.current = display.current && *display.current == space.id;
      spaceGroup.clusters = std::move(tiles);
      spaceGroup.emptyStop = std::move(emptyStop);
      group.spaces.push_back(std::move(spaceGroup));
    }
    group.here = topCluster(group, front);
    groups.push_back(std::move(group));
  }

  // 11.
  return Workspace{std::move(groups), std::move(tray), names, {}};
}

}  // namespace trelliq
