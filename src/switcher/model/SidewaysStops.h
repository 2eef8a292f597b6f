#pragma once
// Where a sideways step lands: every place a display's panel offers (a tile, or one
// window or the desktop of a whole-Space tile) in the order they lie on the panel, and
// the one a step away from the selection. Pure; main thread like the model.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Geometry.h"
#include "switcher/model/PanelGeometry.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {

/// One place a sideways step can land on, with where it lies on the panel.
struct SidewaysStop {
  std::string cluster;
  /// The window index or `SwitcherModel::desktopPick` in a whole-Space tile; none: the tile.
  std::optional<int> pick;
  CGRect frame;
};

class SidewaysStops final {
 public:
  SidewaysStops() = delete;

  /// The stops of `clusters`, tile after tile: an ordinary tile is one stop; a whole-Space
  /// tile gives one per pick of `picks`, left to right as `tiles` places them (within a
  /// point of the same column, the higher first). A stop with no frame lies at the origin.
  static std::vector<SidewaysStop> along(const std::vector<Cluster>& clusters,
                                         const std::function<std::vector<int>(const Cluster&)>& picks,
                                         const TileFrames& tiles);
  /// The index `step` stops away from the selection, wrapping. The selection is the stop of
  /// `selected` with `pick` (only a whole-Space tile's pick counts), else its first stop;
  /// from outside the list a forward step lands on the first stop, a backward one on the
  /// last. None when there are no stops.
  static std::optional<std::size_t> next(const std::vector<SidewaysStop>& stops, const Cluster& selected,
                                         std::optional<int> pick, int step);
};

}  // namespace trelliq
