#pragma once
// Walking a display's tiles without copying them: the snapshot's own list of a
// display's tiles is a copy, too dear for a stepper that runs on every key press.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "workspace/WorkspaceTypes.h"

namespace trelliq::tiles {

/// Every tile of every Space group of the display, in order, as pointers into it.
inline std::vector<const Cluster*> of(const DisplayGroup& display) {
  std::vector<const Cluster*> all;
  for (const SpaceGroup& group : display.spaces) {
    for (const Cluster& c : group.clusters) all.push_back(&c);
  }
  return all;
}

/// The first tile of the display with that id; null when none has it.
inline const Cluster* find(const DisplayGroup& display, const std::string& id) {
  for (const SpaceGroup& group : display.spaces) {
    for (const Cluster& c : group.clusters) {
      if (c.id == id) return &c;
    }
  }
  return nullptr;
}

inline const Cluster* find(const DisplayGroup& display, const std::optional<std::string>& id) {
  return id ? find(display, *id) : nullptr;
}

inline std::size_t count(const DisplayGroup& display) {
  std::size_t n = 0;
  for (const SpaceGroup& group : display.spaces) n += group.clusters.size();
  return n;
}

/// Position of the first tile with that id in `list`; none when absent.
inline std::optional<std::size_t> indexOf(const std::vector<const Cluster*>& list,
                                          const std::optional<std::string>& id) {
  if (!id) return std::nullopt;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i]->id == *id) return i;
  }
  return std::nullopt;
}

/// (i + delta) wrapped into 0 ..< n; n must be positive.
inline std::size_t wrap(std::ptrdiff_t i, int delta, std::size_t n) {
  const auto m = static_cast<std::ptrdiff_t>(n);
  return static_cast<std::size_t>((((i + delta) % m) + m) % m);
}

/// `delta` steps on from position `i`, wrapped into 0 ..< n; from no position, the last
/// going back (delta < 1) and the first going forward. n must be positive.
inline std::size_t stepFrom(std::optional<std::size_t> i, int delta, std::size_t n) {
  return i ? wrap(static_cast<std::ptrdiff_t>(*i), delta, n) : (delta < 1 ? n - 1 : 0);
}

}  // namespace trelliq::tiles
