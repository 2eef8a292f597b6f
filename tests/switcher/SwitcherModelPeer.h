#pragma once
// The model's steps that only its own operations take, opened to the tests that check
// them alone.

#include <cstdint>
#include <utility>

#include "switcher/model/SwitcherModel.h"

namespace trelliq {

struct SwitcherModelPeer {
  /// `SwitcherModel::reload`: the snapshot swapped in, the tile holding `window` selected.
  static void reload(SwitcherModel& model, Workspace workspace, std::uint32_t window) {
    model.reload(std::move(workspace), window);
  }
  /// The window counts as moving into or out of full screen, as `moveFullScreen` marks it.
  static void markTransitioning(SwitcherModel& model, std::uint32_t window) { model.transitioning_.insert(window); }
};

}  // namespace trelliq
