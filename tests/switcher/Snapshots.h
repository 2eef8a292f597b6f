#pragma once
// Small snapshot values for the switcher model's tests: windows, apps, the four kinds
// of tiles, Space groups and displays, built directly without loading anything.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/AppKit.h"
#include "platform/AppKitWorkspace.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq::test {

inline WindowInfo window(std::optional<std::uint32_t> number, std::int32_t pid = 100, bool minimized = false) {
  return WindowInfo(pid, number, nullptr, std::nullopt, minimized, false, std::nullopt);
}

struct AppFacts {
  std::int32_t pid = 100;
  std::string name = "App";
  std::optional<double> launched;
  bool accessory = false;
  std::optional<std::string> bundle;
};

inline AppInfo app(const AppFacts& facts) {
  platform::RunningApplicationInfo info;
  info.pid = facts.pid;
  info.localizedName = facts.name;
  info.bundleIdentifier = facts.bundle;
  info.launchDate = facts.launched;
  info.activationPolicy = facts.accessory ? platform::ActivationPolicy::accessory : platform::ActivationPolicy::regular;
  return AppInfo(facts.pid, NSRunningApplication(info), facts.name, nullptr, facts.accessory);
}

inline AppInfo app(std::int32_t pid, std::string name = "App") {
  AppFacts facts;
  facts.pid = pid;
  facts.name = std::move(name);
  return app(facts);
}

/// An app tile "<display>:<space>:<pid>".
inline Cluster appTile(int display, std::int64_t space, const AppInfo& owner, std::vector<WindowInfo> windows,
                       std::optional<int> lastWindow = std::nullopt) {
  Cluster c;
  c.id = std::to_string(display) + ":" + std::to_string(space) + ":" + std::to_string(owner.id);
  c.space = space;
  c.apps = {owner};
  c.windows = std::move(windows);
  c.lastWindow = lastWindow;
  return c;
}

/// A whole-Space tile "<display>:<space>:screen" of the given apps and windows.
inline Cluster screenTile(int display, std::int64_t space, std::vector<AppInfo> apps, std::vector<WindowInfo> windows,
                          std::optional<int> lastWindow = std::nullopt, bool lastOnDesktop = false) {
  Cluster c;
  c.id = std::to_string(display) + ":" + std::to_string(space) + ":screen";
  c.space = space;
  c.apps = std::move(apps);
  c.windows = std::move(windows);
  c.lastWindow = lastWindow;
  c.screen = true;
  c.lastOnDesktop = lastOnDesktop;
  c.desktopName = "Desktop " + std::to_string(space);
  c.nameKey = "desktop/uuid-" + std::to_string(space);
  return c;
}

inline Cluster desktopTile(int display, std::int64_t space) {
  return Cluster::desktop(display, space, "Desktop " + std::to_string(space), "desktop/uuid-" + std::to_string(space),
                          std::nullopt);
}

/// A full-screen tile "<display>:fullScreen:<first window number>".
inline Cluster fullScreenTile(int display, std::int64_t space, const AppInfo& owner, std::vector<WindowInfo> windows) {
  Cluster c;
  c.id = std::to_string(display) + ":fullScreen:" + std::to_string(windows.front().windowID.value_or(0));
  c.space = space;
  c.fullScreen = true;
  c.apps = {owner};
  c.windows = std::move(windows);
  c.lastWindow = 0;
  c.nameKey = "window/" + std::to_string(c.windows.front().windowID.value_or(0));
  return c;
}

inline SpaceGroup space(std::int64_t id, std::vector<Cluster> clusters, bool current = false) {
  SpaceGroup g;
  g.id = id;
  g.label = "Desktop " + std::to_string(id);
  g.current = current;
  g.clusters = std::move(clusters);
  return g;
}

inline NSScreen screen(std::uint32_t id, CGRect frame, std::optional<CGRect> visible = std::nullopt) {
  return NSScreen(id, frame, visible.value_or(frame), {}, "Screen " + std::to_string(id), 1);
}

inline DisplayGroup display(std::string id, std::vector<SpaceGroup> spaces, std::optional<std::string> here = {},
                            CGRect frame = CGRect(0, 0, 1920, 1080)) {
  DisplayGroup g{std::move(id), screen(1, frame), std::move(spaces), std::move(here)};
  return g;
}

inline Workspace workspace(std::vector<DisplayGroup> displays, std::vector<AppInfo> tray = {}) {
  Workspace w;
  w.displays = std::move(displays);
  w.tray = std::move(tray);
  return w;
}

}  // namespace trelliq::test
