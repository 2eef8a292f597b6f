// The per-tile decisions of a load, also used when a snapshot is edited: which window
// a tile preselects, how a tile becomes a picture of its whole Space, and which tile
// of a display is in front.

#include <algorithm>
#include <limits>
#include <unordered_map>

#include "workspace/Recency.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {

std::optional<int> Workspace::lastWindow(const std::vector<WindowInfo>& windows,
                                         const std::set<std::uint32_t>& focused) {
  if (windows.empty()) return std::nullopt;
  // The candidates are the shown windows, or every window when all are minimized; walked
  // in place, since every tile of every load asks.
  const bool anyShown = std::any_of(windows.begin(), windows.end(), [](const WindowInfo& w) { return !w.minimized; });
  const auto candidate = [&](std::size_t i) { return !anyShown || !windows[i].minimized; };
  Recency& recency = Recency::shared();
  std::uint64_t best = 0;
  std::optional<int> newest;
  for (std::size_t i = 0; i < windows.size(); ++i) {
    if (!candidate(i)) continue;
    const std::uint64_t stamp = recency.stamp(windows[i].windowID);
    if (stamp > best) {
      best = stamp;
      newest = static_cast<int>(i);
    }
  }
  if (newest) return newest;
  std::optional<int> first;
  for (std::size_t i = 0; i < windows.size(); ++i) {
    if (!candidate(i)) continue;
    if (!first) first = static_cast<int>(i);
    const auto& number = windows[i].windowID;
    if (number && focused.contains(*number)) return static_cast<int>(i);
  }
  return first;
}

Cluster Workspace::screenTile(Cluster tile, const std::map<std::uint32_t, int>& order, const std::string& desktopName) {
  std::optional<ValueID> chosen;
  if (tile.lastWindow && *tile.lastWindow >= 0 && static_cast<std::size_t>(*tile.lastWindow) < tile.windows.size())
    chosen = tile.windows[static_cast<std::size_t>(*tile.lastWindow)].id;
  const auto origin = [](const WindowInfo& w) { return w.bounds ? w.bounds->origin : CGPoint{}; };
  std::stable_sort(tile.windows.begin(), tile.windows.end(), [&](const WindowInfo& a, const WindowInfo& b) {
    if (a.minimized != b.minimized) return !a.minimized;
    const CGPoint pa = origin(a), pb = origin(b);
    if (pa.x != pb.x) return pa.x < pb.x;
    return pa.y < pb.y;
  });
  tile.lastWindow.reset();
  if (chosen) {
    for (std::size_t i = 0; i < tile.windows.size(); ++i) {
      if (tile.windows[i].id == *chosen) tile.lastWindow = static_cast<int>(i);
    }
  }
  // Back to front: the largest front-to-back index first; windows the list does not
  // hold count as furthest back.
  std::vector<std::pair<int, ValueID>> stack;
  for (const WindowInfo& w : tile.windows) {
    if (w.minimized) continue;
    const auto it = order.find(w.windowID.value_or(0));
    stack.emplace_back(it == order.end() ? std::numeric_limits<int>::max() : it->second, w.id);
  }
  std::stable_sort(stack.begin(), stack.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  tile.stacking.clear();
  for (const auto& entry : stack) tile.stacking.push_back(entry.second);
  tile.desktopName = desktopName;
  tile.screen = true;
  Recency& recency = Recency::shared();
  const std::uint64_t desktop = recency.desktopStamp(tile.space);
  tile.lastOnDesktop = desktop > 0 && std::all_of(tile.windows.begin(), tile.windows.end(), [&](const WindowInfo& w) {
                         return recency.stamp(w.windowID) < desktop;
                       });
  return tile;
}

std::optional<std::string> Workspace::topCluster(const DisplayGroup& display, const std::vector<std::uint32_t>& front) {
  std::vector<const Cluster*> tiles;
  for (const SpaceGroup& group : display.spaces) {
    if (!group.current) continue;
    for (const Cluster& c : group.clusters) tiles.push_back(&c);
  }
  if (tiles.empty()) return std::nullopt;

  const auto desktop = std::find_if(tiles.begin(), tiles.end(), [](const Cluster* c) { return c->isDesktop(); });
  if (desktop != tiles.end()) {
    const std::uint64_t used = (*desktop)->lastUsed();
    const bool newest = used > 0 && std::all_of(tiles.begin(), tiles.end(), [&](const Cluster* c) {
                          return c->isDesktop() || c->lastUsed() < used;
                        });
    if (newest) return (*desktop)->id;
  }

  // The first tile, in tile order, that holds each window number.
  std::unordered_map<std::uint32_t, const Cluster*> holder;
  for (const Cluster* c : tiles) {
    for (const WindowInfo& w : c->windows) {
      if (w.windowID) holder.emplace(*w.windowID, c);
    }
  }
  for (std::uint32_t number : front) {
    if (auto it = holder.find(number); it != holder.end()) return it->second->id;
  }
  for (const Cluster* c : tiles) {
    if (c->isDesktop() ||
        std::any_of(c->windows.begin(), c->windows.end(), [](const WindowInfo& w) { return !w.minimized; })) {
      return c->id;
    }
  }
  return tiles.front()->id;
}

}  // namespace trelliq
