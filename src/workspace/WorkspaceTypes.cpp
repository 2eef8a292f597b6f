#include "workspace/WorkspaceTypes.h"

#include <algorithm>
#include <atomic>

#include "workspace/Recency.h"
#include "workspace/TileIds.h"

namespace trelliq {

ValueID freshValueID() {
  static std::atomic<ValueID> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

AppInfo::AppInfo(const NSRunningApplication& running)
    : id(running.processIdentifier()),
      app(running),
      name(running.localizedName().value_or(running.bundleIdentifier().value_or("?"))),
      icon(running.icon() ? running.icon() : CGImage::empty()),
      accessory(running.activationPolicy() == NSApplicationActivationPolicyAccessory) {}

Cluster Cluster::desktop(int display, std::int64_t space, std::string name, std::optional<std::string> nameKey,
                         std::optional<std::string> named) {
  Cluster c;
  c.id = tileid::desktop(static_cast<std::size_t>(display), space);
  c.space = space;
  c.desktopName = std::move(name);
  c.nameKey = std::move(nameKey);
  c.named = std::move(named);
  return c;
}

const AppInfo* Cluster::app(const WindowInfo* window) const {
  if (apps.empty()) return nullptr;
  if (window) {
    for (const AppInfo& a : apps) {
      if (a.id == window->pid) return &a;
    }
  }
  return &apps.front();
}

std::string Cluster::appNames() const {
  std::string joined;
  for (std::size_t i = 0; i < apps.size(); ++i) {
    if (i > 0) joined += " & ";
    joined += apps[i].name;
  }
  return joined;
}

std::string Cluster::name() const {
  if (isDesktop()) return named.value_or(desktopName);
  if (fullScreen) return named.value_or(appNames());
  return appNames();
}

bool Cluster::hidden() const {
  return !apps.empty() && std::all_of(apps.begin(), apps.end(), [](const AppInfo& a) { return a.app.isHidden(); });
}

bool Cluster::accessory() const {
  return !apps.empty() && std::all_of(apps.begin(), apps.end(), [](const AppInfo& a) { return a.accessory; });
}

bool Cluster::minimized() const {
  if (apps.empty()) return false;
  return std::all_of(windows.begin(), windows.end(), [](const WindowInfo& w) { return w.minimized; });
}

std::uint64_t Cluster::lastUsed() const {
  Recency& recency = Recency::shared();
  if (isDesktop()) return recency.desktopStamp(space);
  std::uint64_t latest = 0;
  for (const WindowInfo& w : windows) latest = std::max(latest, recency.stamp(w.windowID));
  if (screen) latest = std::max(latest, recency.desktopStamp(space));
  return latest;
}

std::string SpaceGroup::key() const {
  if (fullScreen && !clusters.empty()) return clusters.front().id;
  return std::to_string(id);
}

std::vector<Cluster> DisplayGroup::clusters() const {
  std::vector<Cluster> all;
  for (const SpaceGroup& group : spaces) all.insert(all.end(), group.clusters.begin(), group.clusters.end());
  return all;
}

bool DisplayGroup::hasWindows() const {
  for (const SpaceGroup& group : spaces) {
    for (const Cluster& c : group.clusters) {
      if (!c.apps.empty()) return true;
    }
  }
  return false;
}

}  // namespace trelliq
