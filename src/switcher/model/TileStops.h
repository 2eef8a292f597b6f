#pragma once
// Pure queries over a display's tiles that the model's steppers share: which tile was
// used most recently, and where a tile's window stops are. They read only the tiles they
// are given, change nothing and keep no state; main thread like the model.

#include <optional>
#include <string>
#include <vector>

#include "workspace/WorkspaceTypes.h"

namespace trelliq {

class TileStops final {
 public:
  TileStops() = delete;

  /// The most recently used tile of the list that is neither `excluding` nor minimized;
  /// the earlier one on a tie; none when every key is 0.
  static std::optional<std::string> mostRecent(const std::vector<Cluster>& clusters,
                                               const std::optional<std::string>& excluding);
  /// `mostRecent` over pointers into a snapshot, answering the tile itself; null when none.
  static const Cluster* mostRecentOf(const std::vector<const Cluster*>& list,
                                     const std::optional<std::string>& excluding);
  /// A tile's window stops: every window index, or for a whole-Space tile its windows not
  /// minimized, else only the desktop (`SwitcherModel::desktopPick`).
  static std::vector<int> windowStops(const Cluster& cluster);
};

}  // namespace trelliq
