#pragma once
// The snapshot of what the switcher shows: displays, their Spaces, the tiles of
// each Space with their apps and windows, and the running apps without a window.
// All plain values; copying a snapshot shares only the referenced system objects
// (running application, screen, accessibility element, icon). Main thread only.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/Accessibility.h"
#include "platform/AppKit.h"
#include "platform/AppKitWorkspace.h"
#include "platform/Geometry.h"
#include "platform/Image.h"
#include "settings/Settings.h"
#include "workspace/Private.h"

namespace trelliq {

/// Which way a window's full-screen change goes: into full screen or out of it.
enum class FullScreen { enter, leave };

/// An identifier made fresh for every constructed value (for the views); copies keep it.
using ValueID = std::uint64_t;
ValueID freshValueID();

/// One window of an application.
struct WindowInfo {
  ValueID id = freshValueID();
  std::int32_t pid = 0;
  std::optional<std::uint32_t> windowID;  // absent for a window known only by its element
  AXUIElementRef element;                 // null when unknown
  std::optional<std::string> title;
  bool minimized = false;
  bool fullScreen = false;
  std::optional<CGRect> bounds;  // global window-server coordinates, top-left origin

  WindowInfo() = default;
  WindowInfo(std::int32_t pid, std::optional<std::uint32_t> windowID, AXUIElementRef element,
             std::optional<std::string> title, bool minimized, bool fullScreen, std::optional<CGRect> bounds)
      : pid(pid),
        windowID(windowID),
        element(std::move(element)),
        title(std::move(title)),
        minimized(minimized),
        fullScreen(fullScreen),
        bounds(bounds) {}
};

/// One running application.
struct AppInfo {
  std::int32_t id = 0;  // process id
  NSRunningApplication app;
  std::string name;  // localized name, else bundle identifier, else "?"
  CGImageRef icon;   // an empty picture when the app has none
  bool accessory = false;

  explicit AppInfo(const NSRunningApplication& app);
  AppInfo(std::int32_t id, NSRunningApplication app, std::string name, CGImageRef icon, bool accessory)
      : id(id), app(std::move(app)), name(std::move(name)), icon(std::move(icon)), accessory(accessory) {}
};

/// One tile: an app's windows on one Space, a desktop, a screen tile picturing a
/// whole Space, or a full-screen Space.
struct Cluster {
  std::string id;
  std::int64_t space = 0;
  bool fullScreen = false;
  std::vector<AppInfo> apps;
  std::vector<WindowInfo> windows;
  std::optional<int> lastWindow;
  std::string desktopName;
  bool screen = false;
  std::vector<ValueID> stacking;  // ids of the non-minimized windows, back to front
  bool lastOnDesktop = false;
  std::optional<std::string> nameKey;
  std::optional<std::string> named;

  /// The desktop tile "<display>:<space>:desktop".
  static Cluster desktop(int display, std::int64_t space, std::string name, std::optional<std::string> nameKey,
                         std::optional<std::string> named);

  bool isDesktop() const { return apps.empty(); }
  const AppInfo* app() const { return apps.empty() ? nullptr : &apps.front(); }
  /// The app owning the window, else the first app; null without apps.
  const AppInfo* app(const WindowInfo* window) const;
  std::string appNames() const;
  std::string name() const;
  bool hidden() const;
  bool accessory() const;
  bool minimized() const;
  /// The recency key of the tile (larger is more recent, 0 never used).
  std::uint64_t lastUsed() const;
};

/// One Space of a display.
struct SpaceGroup {
  std::int64_t id = 0;
  std::string label;
  bool fullScreen = false;
  bool current = false;
  std::vector<Cluster> clusters;
  std::optional<Cluster> emptyStop;

  /// For a full-screen group with tiles, the first tile's id; otherwise the Space id in decimal.
  std::string key() const;
};

/// One display.
struct DisplayGroup {
  std::string id;
  NSScreen screen;
  std::vector<SpaceGroup> spaces;
  std::optional<std::string> here;

  /// Every tile of every Space group, in order (spare desktop tiles not included).
  std::vector<Cluster> clusters() const;
  bool hasWindows() const;
};

/// One snapshot of the screen state. `Workspace()` is the empty snapshot.
struct Workspace {
  std::vector<DisplayGroup> displays;
  std::vector<AppInfo> tray;
  std::map<std::string, std::string> names;
  std::set<std::int64_t> appDesktops;

  Workspace() = default;
  Workspace(std::vector<DisplayGroup> displays, std::vector<AppInfo> tray,
            std::map<std::string, std::string> names = {}, std::set<std::int64_t> appDesktops = {})
      : displays(std::move(displays)),
        tray(std::move(tray)),
        names(std::move(names)),
        appDesktops(std::move(appDesktops)) {}

  /// Every window of the snapshot, over all displays, Spaces and tiles (spare desktop
  /// tiles and the tray add nothing).
  std::vector<WindowInfo> windows() const;
  /// Calls `visit` with each window `windows` holds, in the same order, copying none.
  template <class Visit>
  void forEachWindow(Visit&& visit) const {
    for (const DisplayGroup& display : displays)
      for (const SpaceGroup& group : display.spaces)
        for (const Cluster& c : group.clusters)
          for (const WindowInfo& w : c.windows) visit(w);
  }

  /// One line per tile ("<tile id> [\"<number>[m]\", ...]", 0 for a window without a
  /// number, "m" when minimized), then one per tray app (its pid). Changes exactly when
  /// the tiles, their windows' numbers or minimized state, or the tray change.
  std::vector<std::string> shape() const;

  /// A copy narrowed to the windows of process `pid`. With `desktops`, the desktop tiles
  /// of current desktops and of desktops showing no visible window stay, and their Space
  /// ids join `appDesktops`; all other desktop tiles and spare tiles go. Empty Spaces and
  /// displays are dropped, the tray is emptied. `*this` is unchanged.
  Workspace only(std::int32_t pid, bool desktops) const;

  /// Removes every window `test` selects, then tidies the snapshot as a load would
  /// shape it: apps without windows leave their tile, empty tiles and Spaces go (an
  /// emptied screen tile stays as its Space's desktop), a Space left with nothing
  /// visible shows its spare desktop tile, and a front-tile id that is gone is cleared.
  void removeWindows(const std::function<bool(const WindowInfo&)>& test);

  /// Predicts the snapshot after window number `window` makes the full-screen `change`: it gets a provisional
  /// full-screen Space at the end of its display, or joins the nearest ordinary Space before (else after) its
  /// full-screen Space. Updates the remembered frames when entering. False, with nothing changed, when it cannot
  /// predict.
  bool moveFullScreen(std::uint32_t window, FullScreen change, bool screenTiles);

  /// One fresh snapshot of the screen state: displays in layout order, their Spaces with
  /// the tiles `desktops` and `screenTiles` ask for, each display's front tile, and the
  /// windowless regular apps oldest first. Notes every window's frame and prunes the
  /// remembered frames and window names to the windows still listed (not when the window
  /// list could not be read). The empty snapshot when there is no display layout. Main thread.
  static Workspace load(Settings::Desktops desktops, bool screenTiles);
  /// The same with the stored desktops option.
  static Workspace load(bool screenTiles);

  /// The display index and Space id a window belongs to: the first display (unless
  /// Spaces are shared) holding one of its Spaces, preferring the current Space; else the
  /// display under its frame, on a matching Space, else the current, first or 0.
  static std::pair<int, std::int64_t> place(const WindowInfo& window,
                                            const std::vector<Private::DisplayLayout>& displays, bool shared,
                                            double primaryTop);

  /// The index of the display whose screen overlaps `bounds` most (the first on a tie);
  /// the first screen's display when it overlaps none or `bounds` is absent; 0 without displays.
  static int display(const std::optional<CGRect>& bounds, const std::vector<Private::DisplayLayout>& displays,
                     double primaryTop);

  /// The window of a tile to preselect: among the windows not minimized (all when every
  /// one is), the most recently used, else the first focused one, else the first.
  /// Nothing without windows.
  static std::optional<int> lastWindow(const std::vector<WindowInfo>& windows, const std::set<std::uint32_t>& focused);

  /// `cluster` as a picture of its whole Space: windows not minimized first, each part
  /// left to right then top to bottom; `stacking` back to front by `order` (the
  /// front-to-back index, 0 in front); `desktopName` given; `screen` set; `lastOnDesktop`
  /// when the desktop was used after every window of the tile.
  static Cluster screenTile(Cluster cluster, const std::map<std::uint32_t, int>& order,
                            const std::string& desktopName);

  /// The id of the display's front tile among its current Spaces' tiles, given the
  /// numbers of the on-screen windows front to back; nothing when those Spaces have no tile.
  static std::optional<std::string> topCluster(const DisplayGroup& display, const std::vector<std::uint32_t>& front);
};

}  // namespace trelliq
