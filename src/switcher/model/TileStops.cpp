#include "switcher/model/TileStops.h"

#include <cstdint>

#include "switcher/model/SwitcherModel.h"

namespace trelliq {

std::optional<std::string> TileStops::mostRecent(const std::vector<Cluster>& clusters,
                                                 const std::optional<std::string>& excluding) {
  std::vector<const Cluster*> list;
  for (const Cluster& c : clusters) list.push_back(&c);
  const Cluster* best = mostRecentOf(list, excluding);
  return best ? std::optional(best->id) : std::nullopt;
}

const Cluster* TileStops::mostRecentOf(const std::vector<const Cluster*>& list,
                                       const std::optional<std::string>& excluding) {
  const Cluster* best = nullptr;
  std::uint64_t bestKey = 0;
  for (const Cluster* c : list) {
    if ((excluding && c->id == *excluding) || c->minimized()) continue;
    const std::uint64_t key = c->lastUsed();
    if (key != 0 && key > bestKey) {
      best = c;
      bestKey = key;
    }
  }
  return best;
}

std::vector<int> TileStops::windowStops(const Cluster& c) {
  std::vector<int> stops;
  for (std::size_t i = 0; i < c.windows.size(); ++i) {
    if (!c.screen || !c.windows[i].minimized) stops.push_back(static_cast<int>(i));
  }
  if (c.screen && stops.empty()) stops.push_back(SwitcherModel::desktopPick);
  return stops;
}

}  // namespace trelliq
