#pragma once
// Hand-built snapshots for the tests of the snapshot's own operations: short builders
// that fill the fields the way a load would.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/AppKit.h"
#include "platform/AppKitWorkspace.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq::snapshots {

inline AppInfo app(std::int32_t pid, std::string name, bool accessory = false) {
  platform::RunningApplicationInfo info;
  info.pid = pid;
  info.localizedName = name;
  return AppInfo(pid, NSRunningApplication(info), std::move(name), nullptr, accessory);
}

inline WindowInfo window(std::int32_t pid, std::optional<std::uint32_t> number, bool minimized = false,
                         std::optional<CGRect> bounds = std::nullopt) {
  return WindowInfo(pid, number, nullptr, std::nullopt, minimized, false, bounds);
}

/// An app tile "<d>:<space>:<pid of the first app>".
inline Cluster tile(int d, std::int64_t space, std::vector<AppInfo> apps, std::vector<WindowInfo> windows,
                    std::optional<int> last = 0) {
  Cluster c;
  c.id = std::to_string(d) + ":" + std::to_string(space) + ":" + std::to_string(apps.front().id);
  c.space = space;
  c.apps = std::move(apps);
  c.windows = std::move(windows);
  c.lastWindow = c.windows.empty() ? std::nullopt : last;
  return c;
}

inline Cluster desktop(int d, std::int64_t space, int n, std::optional<std::string> named = std::nullopt) {
  return Cluster::desktop(d, space, "Desktop " + std::to_string(n), "desktop/uuid-" + std::to_string(space), named);
}

/// A screen tile "<d>:<space>:screen" stacking its windows in the given order.
inline Cluster screenTile(int d, std::int64_t space, int n, std::vector<AppInfo> apps,
                          std::vector<WindowInfo> windows) {
  Cluster c = desktop(d, space, n);
  c.id = std::to_string(d) + ":" + std::to_string(space) + ":screen";
  c.apps = std::move(apps);
  c.windows = std::move(windows);
  c.screen = true;
  c.lastWindow = 0;
  for (const WindowInfo& w : c.windows) {
    if (!w.minimized) c.stacking.push_back(w.id);
  }
  return c;
}

/// A full-screen tile "<d>:fullScreen:<first window's number>".
inline Cluster fullScreenTile(int d, std::int64_t space, AppInfo app, WindowInfo window) {
  Cluster c;
  c.id = std::to_string(d) + ":fullScreen:" + std::to_string(window.windowID.value_or(0));
  c.space = space;
  c.fullScreen = true;
  window.fullScreen = true;
  c.apps = {std::move(app)};
  c.windows = {std::move(window)};
  c.lastWindow = 0;
  if (c.windows.front().windowID) c.nameKey = "window/" + std::to_string(*c.windows.front().windowID);
  return c;
}

inline SpaceGroup space(std::int64_t id, std::vector<Cluster> clusters, bool current = false,
                        std::optional<Cluster> emptyStop = std::nullopt) {
  SpaceGroup g;
  g.id = id;
  g.label = clusters.empty() ? std::string() : clusters.front().name();
  g.current = current;
  g.clusters = std::move(clusters);
  g.emptyStop = std::move(emptyStop);
  return g;
}

inline SpaceGroup fullScreenSpace(Cluster tile) {
  SpaceGroup g = space(tile.space, {tile});
  g.fullScreen = true;
  return g;
}

inline NSScreen screen(std::uint32_t id = 1, CGRect frame = CGRect(0, 0, 1440, 900)) {
  return NSScreen(id, frame, frame, NSEdgeInsets{}, "Screen " + std::to_string(id), 1);
}

inline DisplayGroup display(std::string id, std::vector<SpaceGroup> spaces, std::optional<std::string> here = {},
                            NSScreen on = screen()) {
  return DisplayGroup{std::move(id), std::move(on), std::move(spaces), std::move(here)};
}

/// The window numbers of a tile, in order (0 for unnumbered ones).
inline std::vector<std::uint32_t> numbers(const Cluster& c) {
  std::vector<std::uint32_t> out;
  for (const WindowInfo& w : c.windows) out.push_back(w.windowID.value_or(0));
  return out;
}

/// The tile ids of every Space group of a display, group by group.
inline std::vector<std::string> tileIDs(const DisplayGroup& d) {
  std::vector<std::string> out;
  for (const Cluster& c : d.clusters()) out.push_back(c.id);
  return out;
}

}  // namespace trelliq::snapshots
