#include "switcher/model/SidewaysStops.h"

#include <cmath>
#include <utility>

namespace trelliq {
namespace {

/// Left to right; within 1 point of the same column, top first.
bool leftOf(const SidewaysStop& a, const SidewaysStop& b) {
  const double ax = a.frame.midX(), bx = b.frame.midX();
  if (std::abs(ax - bx) > 1.0) return ax < bx;
  return a.frame.midY() < b.frame.midY();
}

/// Stable and defined for any comparison (the column tolerance is not transitive, which
/// library sorts do not allow).
void insertionSort(std::vector<SidewaysStop>& stops) {
  for (std::size_t i = 1; i < stops.size(); ++i) {
    for (std::size_t j = i; j > 0 && leftOf(stops[j], stops[j - 1]); --j) std::swap(stops[j], stops[j - 1]);
  }
}

CGRect stopFrame(const TileFrames& tiles, const std::string& cluster, const std::optional<int>& pick) {
  if (pick) {
    for (const auto& [id, frame] : tiles) {
      if (id.kind() == TileID::Kind::window && id.clusterID() == cluster && id.index() == *pick) return frame;
    }
  }
  if (const CGRect* frame = tiles.find(TileID::cluster(cluster))) return *frame;
  return CGRect();
}

}  // namespace

std::vector<SidewaysStop> SidewaysStops::along(const std::vector<Cluster>& clusters,
                                               const std::function<std::vector<int>(const Cluster&)>& picks,
                                               const TileFrames& tiles) {
  std::vector<SidewaysStop> stops;
  for (const Cluster& cluster : clusters) {
    std::vector<SidewaysStop> own;
    if (cluster.screen) {
      for (int pick : picks(cluster)) own.push_back({cluster.id, pick, {}});
    } else {
      own.push_back({cluster.id, std::nullopt, {}});
    }
    for (SidewaysStop& stop : own) stop.frame = stopFrame(tiles, cluster.id, stop.pick);
    insertionSort(own);
    stops.insert(stops.end(), own.begin(), own.end());
  }
  return stops;
}

std::optional<std::size_t> SidewaysStops::next(const std::vector<SidewaysStop>& stops, const Cluster& selected,
                                               std::optional<int> pick, int step) {
  if (stops.empty()) return std::nullopt;
  std::optional<std::size_t> current;
  for (std::size_t i = 0; i < stops.size() && !current; ++i) {
    if (stops[i].cluster == selected.id && (!selected.screen || stops[i].pick == pick)) current = i;
  }
  for (std::size_t i = 0; i < stops.size() && !current; ++i) {
    if (stops[i].cluster == selected.id) current = i;
  }
  const long count = static_cast<long>(stops.size());
  if (!current) return static_cast<std::size_t>(step >= 1 ? 0 : count - 1);
  return static_cast<std::size_t>(((static_cast<long>(*current) + step) % count + count) % count);
}

}  // namespace trelliq
